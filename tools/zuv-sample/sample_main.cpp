// zuv-sample: writes a sample release, the program directory of the previous version
// and a database of an older version, the same bytes for the same seed. Exit codes:
// 0 written, 1 writing failed (what was written is removed), 2 bad arguments.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <regex>

#include "platform/os/args.h"
#include "platform/os/path.h"
#include "platform/table/engine_setup.h"
#include "sample.h"
#include "platform/error/error.h"
#include "writer.h"

using namespace zuv;

namespace {

// The Windows text of a native directory, ending in a backslash (what "baza.dbf"
// records and the installer reads back).
std::string windows_directory(const std::filesystem::path& native) {
  std::string text = native.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  if (text.empty() || text.back() != '\\') text += '\\';
  return text;
}

std::string check(const sample::Options& o) {
  static const std::regex kVersion("^[0-9]{3}\\.[0-9]{2}\\.[0-9]{3}$");
  if (o.firms < 1 || o.firms > 9000) return "liczba firm musi leżeć między 1 a 9000";
  if (o.records < 20 || o.records > 10000000) return "liczba rekordów musi leżeć między 20 a 10 000 000";
  if (!std::regex_match(o.db_version, kVersion)) return "wersja bazy ma postać 022.01.050";
  if (o.db_version >= sample::kDatabaseVersion)
    return std::string("wersja bazy musi być niższa od wersji wydania ") + sample::kDatabaseVersion;
  if (o.old_firms < 0 || o.broken_firms < 0) return "liczby firm nie mogą być ujemne";
  if (o.old_firms > o.firms - 1) return "starych firm może być najwyżej o jedną mniej niż wszystkich";
  if (o.broken_firms > o.firms) return "uszkodzonych firm nie może być więcej niż wszystkich";
  if (!o.db_path.empty() && o.db_path.size() > 60) return "ścieżka bazy (--db-path) może mieć najwyżej 60 znaków";
  return "";
}

int write_all(sample::Options& o) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path out = fs::absolute(os::native_path(o.out), ec);
  if (ec) {
    std::cerr << "zuv-sample: błędny katalog: " << o.out << "\n";
    return 2;
  }
  if (fs::exists(out, ec) && (!fs::is_directory(out, ec) || !fs::is_empty(out, ec))) {
    std::cerr << "zuv-sample: katalog " << o.out << " istnieje i nie jest pusty; wskaż nowy lub pusty katalog\n";
    return 2;
  }
  std::string root = windows_directory(out);
  std::string database = o.db_path.empty() ? root + "baza\\" : o.db_path;
  if (database.back() != '\\') database += '\\';
  if (database.size() > 60) {
    std::cerr << "zuv-sample: ścieżka bazy " << database
              << " ma więcej niż 60 znaków (pole PATH pliku baza.dbf); podaj krótszą przez --db-path\n";
    return 2;
  }

  const char* const kParts[] = {"release", "program", "baza"};
  try {
    table::WorkAreas areas;
    table::DBESYS(areas, [](const std::string& m) { std::cerr << "zuv-sample: " << m << "\n"; });
    table::STARTINIT(areas);
    sample::write_release(o, root + "release\\", areas);
    sample::write_program(o, root + "program\\", database);
    std::vector<sample::FirmPlan> firms = sample::plan_firms(o);
    std::string base = root + "baza\\";
    sample::write_database_shared(o, base, firms, areas);
    std::string first;
    for (const auto& f : firms) {
      if (f.deleted) continue;
      std::string dir = base + "firma" + std::to_string(f.number) + "\\";
      sample::write_firm(o, f, dir, areas, first);
      if (first.empty()) first = dir;
    }
  } catch (const std::exception& e) {
    std::string what = e.what();
    if (const auto* b = dynamic_cast<const Break*>(&e); b && !b->record.fileName.empty())
      what += " (" + b->record.fileName + ")";
    std::cerr << "zuv-sample: " << what << "\n";
    for (const char* part : kParts) fs::remove_all(out / part, ec);
    std::cerr << "zuv-sample: nic nie zapisano\n";
    return 1;
  }
  std::cout << "Zapisano w " << out.string() << ": release (wydanie " << sample::kProgramVersion
            << "), program (wersja " << sample::kInstalledVersion << "), baza (wersja " << o.db_version << ", "
            << o.firms << " firm po " << o.records << " rekordów)\n";
  std::cout << "Aktualizacja: cd " << (out / "release").string() << " && zuvinst " << sample::kProgramVersion << " "
            << sample::kDatabaseVersion << " " << sample::kYear << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = os::utf8_args(argc, argv);
  sample::Options o;
  CLI::App app{"zuv-sample: przykładowe wydanie, zainstalowany program i baza danych starszej wersji"};
  app.add_option("--out", o.out, "katalog wynikowy (nowy lub pusty)")->required();
  app.add_option("--firms", o.firms, "liczba firm (domyślnie 5)");
  app.add_option("--records", o.records, "rekordów w każdej dużej tabeli firmy (domyślnie 2000)");
  app.add_option("--db-version", o.db_version, "wersja bazy, np. 022.01.050 (domyślna)");
  app.add_option("--seed", o.seed, "ziarno generatora (domyślnie 1)");
  app.add_option("--old-firms", o.old_firms, "firm starszych niż 014.01.015 (domyślnie 1)");
  app.add_option("--broken-firms", o.broken_firms, "firm z uszkodzoną tabelą (domyślnie 0)");
  app.add_option("--db-path", o.db_path, "ścieżka bazy zapisana w program\\baza.dbf (domyślnie katalog baza)");
  std::vector<const char*> argv_utf8;
  for (const auto& a : args) argv_utf8.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv_utf8.size()), argv_utf8.data());
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  if (std::string problem = check(o); !problem.empty()) {
    std::cerr << "zuv-sample: " << problem << "\n";
    return 2;
  }
  set_program_handler([](ErrorRecord&) { return HandlerAnswer::Break; });
  return write_all(o);
}
