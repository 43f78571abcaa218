// The hidden commands of zuv-dbtool that leave what the upgrade's recovery reads after
// a cut: an archive as the upgrade packs its kit (zip), a firm step's marker with its
// copies as a step cut off midway leaves them (cut-step), and the driver's note of an
// unfinished run (run-note). Tests and fuzzing seeds start from them.
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "upgrade/recovery.h"
#include "upgrade/run_note.h"
#include "upgrade/zip_archive.h"

namespace zuv::dbtool {
namespace {

struct Args {
  std::string target, step, version, release, comment;
  std::vector<std::string> files;
  std::vector<long long> finished;
};

std::string as_directory(std::string dir) {
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

int make_zip(const Args& a) {
  upgrade::ZipWriter zip;
  if (!zip.open(a.target)) {
    std::cerr << "zuv-dbtool: nie mogę utworzyć archiwum " << a.target << "\n";
    return 1;
  }
  for (const std::string& f : a.files) {
    if (int rc = zip.addfile(f, std::string(os::file_name_part(f))); rc != upgrade::kZipOk) {
      std::cerr << "zuv-dbtool: nie mogę dodać pliku " << f << ": " << upgrade::zip_status_text(rc) << "\n";
      return 1;
    }
  }
  if (!zip.save(a.comment)) {
    std::cerr << "zuv-dbtool: nie mogę zapisać archiwum " << a.target << "\n";
    return 1;
  }
  return 0;
}

// Each named file of the firm gains a byte under the step's guard; the step is never
// released, as if the process had died there.
int cut_step(const Args& a) {
  const std::string firm = as_directory(a.target);
  upgrade::guard_step(firm, a.step, a.version);
  for (const std::string& name : a.files) {
    os::FileHandle f;
    std::uint64_t size = 0;
    const std::string path = os::native_path(firm + name);
    int rc = f.open(path, os::Access::ReadWrite, os::Share::Exclusive);
    if (rc == os::oscode::kFileNotFound) rc = f.create(path, os::Share::Exclusive);
    if (!rc) rc = f.size(size);
    if (!rc) rc = f.write_at(size, "x", 1);
    if (rc) {
      std::cerr << "zuv-dbtool: nie mogę zmienić pliku " << path << " [kod systemu " << rc << "]\n";
      return 1;
    }
  }
  return 0;
}

int run_note(const Args& a) {
  const std::string db = as_directory(a.target);
  upgrade::RunNote note = upgrade::note_run_start(db, a.version, a.release, false);
  for (long long nr : a.finished)
    if (!upgrade::note_firm_finished(db, note, nr)) {
      std::cerr << "zuv-dbtool: nie mogę zapisać notatki przebiegu w " << db << "\n";
      return 1;
    }
  return 0;
}

}  // namespace

// Adds the hidden "zip", "cut-step" and "run-note" to app; the answer runs the one
// chosen and gives its exit code, or -1 when none was.
std::function<int()> register_recovery_commands(CLI::App& app) {
  auto a = std::make_shared<Args>();
  CLI::App* zip = app.add_subcommand("zip", "spakuj pliki do archiwum ZIP z komentarzem");
  zip->group("");
  zip->add_option("archive", a->target)->required();
  zip->add_option("files", a->files)->required();
  zip->add_option("--comment", a->comment, "komentarz archiwum");
  CLI::App* cut = app.add_subcommand("cut-step", "zostaw znacznik kroku przerwanego po zmianie plików firmy");
  cut->group("");
  cut->add_option("dir", a->target, "katalog firmy")->required();
  cut->add_option("step", a->step, "nazwa kroku")->required();
  cut->add_option("files", a->files, "pliki firmy zmieniane przez krok");
  cut->add_option("--version", a->version, "wersja firmy przed krokiem");
  CLI::App* note = app.add_subcommand("run-note", "zostaw notatkę nieukończonego przebiegu bazy");
  note->group("");
  note->add_option("dir", a->target, "katalog bazy")->required();
  note->add_option("version", a->version, "wersja bazy")->required();
  note->add_option("release", a->release, "wersja wydania")->required();
  note->add_option("--finished", a->finished, "numery firm przeprowadzonych do końca");
  return [=] {
    if (*zip) return make_zip(*a);
    if (*cut) return cut_step(*a);
    if (*note) return run_note(*a);
    return -1;
  };
}

}  // namespace zuv::dbtool
