#include "upgrade/backup_archive.h"

#include "lib/files.h"
#include "platform/base/discard.h"
#include "platform/os/files.h"
#include "platform/os/path.h"
#include "upgrade/zip_archive.h"

namespace zuv::upgrade {

const std::vector<std::string>& kit_masks() {
  static const std::vector<std::string> masks = {
      ".\\*.DBF",          ".\\czytaj.to\\*.*", ".\\VISTREL\\*.*", ".\\MASK\\*.*",     ".\\*.DLL",
      ".\\zuv.exe",        ".\\un_zuv.exe",     ".\\setup2.exe",   ".\\7z.exe",        ".\\openssl.exe",
      ".\\msxsl.exe",      ".\\PUBLIC\\*.*",    ".\\STR\\*.*",     ".\\TXT\\*.*",      ".\\W001\\*.*",
      ".\\XML\\*.*",       ".\\ksef\\*.*",      ".\\ksef\\en\\*.*", ".\\ksef\\pl\\*.*",
      ".\\ksef\\runtimes\\win\\lib\\net6.0\\*.*", ".\\ksef\\runtimes\\win\\lib\\net9.0\\*.*",
      ".\\ksef\\runtimes\\win-arm64\\native\\*.*", ".\\ksef\\runtimes\\win-x64\\native\\*.*",
      ".\\ksef\\runtimes\\win-x86\\native\\*.*"};
  return masks;
}

std::string kit_archive_name(const std::string& database_dir, const std::string& wersja_p) {
  return database_dir + "install\\" + wersja_p + ".zip";
}

void PAKUJ_DO_ZIPA(const UpgradeEnv& env, const std::string& database_dir) {
  const std::string archive = kit_archive_name(database_dir, env.wersja_p);
  if (os::file_exists(std::string_view(archive))) return;
  base::let_go(lib::MKDIR(database_dir + "install"), "the archive's creation fails when the directory is missing");
  base::let_go(lib::DEL_KAT(database_dir + "install\\", "*.*"), "older kit archives left in place take only room");
  MAKEZIP(env, archive, kit_masks());
}

bool MAKEZIP(const UpgradeEnv& env, const std::string& archive, const std::vector<std::string>& masks,
             const std::string& comment_suffix) {
  // The files, each under its path as written: the mask's directory part + the name.
  struct Item {
    std::string path, written;
  };
  std::vector<Item> files;
  for (const std::string& mask : masks) {
    const std::string dir(os::directory_part(mask));
    std::string real_dir = dir;
    if (real_dir.rfind(".\\", 0) == 0) real_dir = env.release_dir + real_dir.substr(2);
    for (const os::DirEntry& e : os::list_directory(real_dir + std::string(os::file_name_part(mask)), "HS"))
      files.push_back({real_dir + e.name, dir + e.name});
  }
  if (files.empty()) return false;

  ZipWriter zip;
  if (!zip.open(archive)) {
    zip.close();
    return false;
  }
  env.progress_restart(static_cast<double>(files.size()), "Przygotowanie pliku ZIP...");
  int status = kZipOk;
  for (const Item& f : files) {
    env.progress();
    status = zip.addfile(f.path, f.written);
    if (status != kZipOk) break;
  }
  bool saved = status == kZipOk && zip.save("ZUV" + comment_suffix);
  zip.close();
  return saved;
}

bool ZIPBLEDY(const std::string& archive) {
  return repair_zip(archive, std::string("ZUV") + kDefaultCommentSuffix).has_value();
}

std::optional<std::string> archive_comment(const std::string& archive) {
  if (!os::file_exists(std::string_view(archive))) return std::nullopt;
  if (auto contents = read_zip(archive)) return contents->comment;
  if (!ZIPBLEDY(archive)) return std::nullopt;
  if (auto contents = read_zip(archive)) return contents->comment;
  return std::nullopt;
}

}  // namespace zuv::upgrade
