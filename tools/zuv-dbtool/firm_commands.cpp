// The firm commands of zuv-dbtool: rebuild every index of a firm directory
// (reindex-firm) and run the disk self-test in a directory (disk-test).
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "platform/os/files.h"
#include "platform/table/engine_setup.h"
#include "platform/table/work_areas.h"
#include "tables/catalogue.h"
#include "tables/selftest.h"

namespace zuv::dbtool {
namespace {

// The directory as the helpers take it (ending in a separator), or "" with a message
// when it is missing or not a directory.
std::string usable_directory(const std::string& given) {
  std::string dir = given;
  if (dir.empty()) {
    std::cerr << "zuv-dbtool: nie podano katalogu\n";
    return "";
  }
  if (!os::directory_exists(dir)) {
    std::cerr << "zuv-dbtool: " << (os::file_exists(dir) ? "to nie jest katalog: " : "brak katalogu: ")
              << given << "\n";
    return "";
  }
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

void prepare(table::WorkAreas& areas) {
  table::DBESYS(areas, [](const std::string& m) { std::cerr << "zuv-dbtool: " << m << "\n"; });
  table::STARTINIT(areas);
}

int reindex_firm(const std::string& given) {
  std::string dir = usable_directory(given);
  if (dir.empty()) return 2;
  table::WorkAreas areas;
  prepare(areas);
  tables::FirmIndexReport report = tables::INDEKSUJ(areas, dir);
  int built = 0, failed = 0, skipped = 0;
  for (const auto& item : report.items) {
    std::string data = dir + item.name + ".dbf";
    switch (item.result) {
      case -2:
        if (item.existed)
          std::cout << (os::file_exists(dir + item.name) ? "nie usunięto " : "usunięto    ")
                    << item.name << "\n";
        break;
      case -1:
        ++skipped;
        std::cout << "pominięto   " << item.name << " (brak tabeli warunkowej)\n";
        break;
      case tables::kIndexBuilt:
        ++built;
        std::cout << "zbudowano   " << item.name << "\n";
        break;
      default:
        if (item.result == tables::kIndexNotBuilt && !os::file_exists(data)) {
          ++skipped;
          std::cout << "pominięto   " << item.name << " (brak tabeli)\n";
        } else {
          ++failed;
          std::cout << "BŁĄD        " << item.name
                    << (item.result == tables::kIndexNotDeleted ? " (nie można usunąć starego indeksu)"
                                                                : " (nie można otworzyć tabeli lub utworzyć znacznika)")
                    << "\n";
        }
    }
  }
  std::cout << "ntx.dbf     " << (report.status_marked ? "oznaczono" : "nie oznaczono") << "\n";
  std::cout << "zbudowano " << built << ", pominięto " << skipped << ", błędów " << failed << "\n";
  return failed ? 1 : 0;
}

int disk_test(const std::string& given) {
  std::string dir = usable_directory(given);
  if (dir.empty()) return 2;
  table::WorkAreas areas;
  prepare(areas);
  int step = tables::TEST_ZUV(areas, dir, "Test");
  std::cout << step << "\n";
  return step == 0 ? 0 : 1;
}

}  // namespace

// Adds "reindex-firm DIR" and "disk-test DIR" to app; the answer runs the one chosen
// and gives its exit code, or -1 when neither was.
std::function<int()> register_firm_commands(CLI::App& app) {
  auto directory = std::make_shared<std::string>();
  CLI::App* reindex = app.add_subcommand("reindex-firm", "przebuduj wszystkie indeksy katalogu firmy");
  reindex->add_option("dir", *directory, "katalog firmy")->required();
  CLI::App* disk = app.add_subcommand("disk-test", "test dostępu do dysku w katalogu (numer kroku błędu, 0 gdy dobrze)");
  disk->add_option("dir", *directory, "katalog")->required();
  return [=] {
    if (*reindex) return reindex_firm(*directory);
    if (*disk) return disk_test(*directory);
    return -1;
  };
}

}  // namespace zuv::dbtool
