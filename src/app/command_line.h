// The installer's command line: three parameters (program version, database version,
// year) and the choice of front end.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zuv::app {

struct CommandLine {
  std::vector<std::string> params;  // exactly three when ok
  std::string ui;                   // "gui", "console" or "script:FILE"
  std::string demo;                 // one dialog for screenshots; empty normally
  // The headless database upgrade: the database and program directories as given
  // (Windows or native form); plan: show what would run and change nothing.
  std::string upgrade_db;
  std::string program_dir;
  bool plan = false;
  int workers = 1;  // --workers N: firms upgraded at once
  bool headless() const { return !upgrade_db.empty() || !undo_db.empty(); }
  // --undo-db DBDIR --program PROGDIR: put back the database and program as they were
  // before this release's installation; with forget_undo, drop what it kept instead.
  std::string undo_db;
  bool forget_undo = false;
  bool undoing() const { return !undo_db.empty(); }
  // --no-undo: this run keeps nothing for an undo.
  bool no_undo = false;
  // The unattended run: --silent --upgrade PROGDIR or --silent --install PROGDIR DBDIR,
  // with --log FILE.
  bool silent = false;
  std::string silent_flow;                // "upgrade" or "install"
  std::vector<std::string> silent_dirs;   // PROGDIR [DBDIR]
  std::string log;                        // "" when none
  // A database under a Samba share (Linux): the share's credentials file, or the
  // administrator's word that the share is closed.
  std::string smb_credentials;
  // --db-path WINPATH: the database as the workstations name it, for baza.dbf.
  std::string db_path;
  bool no_samba_check = false;
};

// The front end chosen when --ui is not given.
std::string default_ui();

// nullopt when the line is unusable; *error then says why, in Polish.
std::optional<CommandLine> parse_command_line(const std::vector<std::string>& args,
                                              std::string* error);

std::string usage_text();

}  // namespace zuv::app
