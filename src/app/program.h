// The program-wide values of the installer and the services that start-up calls out
// to. Services default to harmless stand-ins so the shell runs on its own; the real
// process list, registry and table engine are wired in by the program's entry.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zuv::ui {
class Dialogs;
}

namespace zuv::app {

struct Program {
  std::string wersja_p;  // program version the release carries, "25.01.050"
  std::string wersja_b;  // database version it needs, "026.01.016"
  std::string roczek;    // the year it serves
  std::string cPulpit;   // desktop folder ending in "\", or "" (none or not writable)
  std::string cMenu;     // Start-menu "Programs" folder ending in "\", or ""
  std::string cProgram;  // program directory recorded for roczek, or ""
  std::string cBaza;     // database directory recorded for roczek, or ""
  std::string nazwa_sieciowa;
  int fh8 = 8, fh9 = 9, fh11 = 11, fh12 = 12;
  int h_org = 370;
};

// The registry reads of start-up. Texts come back as UTF-8 (the reader converts from
// the ANSI code page); a key that cannot be opened is nullopt, a missing value nullopt.
class StartupRegistry {
 public:
  virtual ~StartupRegistry() = default;
  struct ShellFolders {
    std::optional<std::string> desktop, programs;
  };
  struct InstallRecord {
    std::optional<std::string> program, baza;
  };
  // "HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
  virtual std::optional<ShellFolders> shell_folders() { return std::nullopt; }
  // "HKEY_CURRENT_USER\Software\Trevanor\Zuv\" + year, moved down into the subkey named
  // after the year when there is one.
  virtual std::optional<InstallRecord> install_record(const std::string& /*year*/) {
    return std::nullopt;
  }
};

using Flow = std::function<void(Program&, ui::Dialogs&)>;

struct Services {
  std::function<bool()> is_zuv_running = [] { return false; };  // IS_ZUV_RUN
  std::function<void()> startinit = [] {};                       // STARTINIT
  StartupRegistry* registry = nullptr;
  std::function<std::string(const std::string&)> getenv;  // empty: the process environment
  // Deletes a file given as a Windows path text; empty: a plain delete.
  std::function<void(const std::string&)> del_file;
  Flow upgrade;        // UPGRADE; empty: "not yet available"
  Flow first_install;  // PIERWSZA_INSTALACJA; empty: "not yet available"
  Flow undo;           // the undo of this release's installation (the console offers it)
};

// The exit routine (APPEXIT) is a list: the table engine registers "commit and close
// every work area" here, and every way out of the program runs the list exactly once.
class ExitRoutines {
 public:
  static ExitRoutines& instance();
  void add(std::function<void()> routine);
  // Runs every routine once, newest first; an error in one does not stop the others.
  void run();
  bool has_run() const { return ran_; }
  void reset_for_tests();

 private:
  std::vector<std::function<void()>> routines_;
  bool ran_ = false;
};

void APPEXIT();
void APPSYS();

// Runs APPEXIT when it goes out of scope, so no exit path misses it.
struct ExitGuard {
  ExitGuard() = default;
  ~ExitGuard() { APPEXIT(); }
  ExitGuard(const ExitGuard&) = delete;
  ExitGuard& operator=(const ExitGuard&) = delete;
};

enum class MainResult { Closed, Quit };

// Start-up steps 1-13 and the main window's loop. Quit: the operator refused to wait
// for the ZUV program (the _QUIT path).
MainResult MAIN(Program& p, const std::vector<std::string>& params, ui::Dialogs& dialogs,
                Services& services);

// Steps 1-12: the values, the wait for the ZUV program, the folders and the record.
// false: the operator refused to wait (the _QUIT path).
bool start_up(Program& p, const std::vector<std::string>& params, ui::Dialogs& dialogs, Services& services);

// Steps 7-12 on their own: the operator's folders and the installation record.
void read_folders(Program& p, Services& services);

}  // namespace zuv::app
