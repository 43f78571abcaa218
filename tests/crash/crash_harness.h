// The crash harness: a headless upgrade run in a child process, ended at a chosen file
// operation (or killed from outside), run again to its end, and the database then
// compared with a clean run's. Only the one test program of this directory includes it.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/headless_upgrade.h"
#include "platform/error/error.h"
#include "platform/os/fault.h"
#include "platform/os/power_cut.h"
#include "platform/table/csv_text.h"
#include "platform/table/engine_setup.h"
#include "platform/table/order.h"
#include "platform/table/table.h"
#include "platform/table/work_areas.h"
#include "support/table_support.h"

namespace zuv::crash {

namespace fs = std::filesystem;

// A sample as zuv-sample writes it: the release, the installed program and its database.
struct Sample {
  fs::path root;
  std::vector<std::string> params;  // program version, database version, year
  // The release is only read (its error log aside, which every run deletes first), so
  // working copies share the sample's.
  fs::path shared_release;
  fs::path release() const { return shared_release.empty() ? root / "release" : shared_release; }
  fs::path program() const { return root / "program"; }
  fs::path database() const { return root / "baza"; }
};

inline std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// What differs legitimately between two runs of the same upgrade, and so stays out of
// the comparison:
// - the workstation's duration records in str\nazwy.dbf (measured times, the basis of
//   the next time estimate): only its records' workstation names are compared;
// - the release directory, where the upgrade writes only its error log, which the next
//   run deletes anyway.
// The reports are compared with their clock times blanked (see mask_clock).
inline bool speed_table(const std::string& rel) { return lower(rel) == "baza/str/nazwy.dbf"; }

// A report line's clock readings (dd:dd or dd:dd:dd and dates yyyy.mm.dd / yyyy-mm-dd)
// blanked: the reports name when they were written, which no two runs share.
inline std::string mask_clock(std::string text) {
  auto digit = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  for (size_t i = 0; i + 4 < text.size(); ++i) {
    if (digit(i) && digit(i + 1) && text[i + 2] == ':' && digit(i + 3) && digit(i + 4)) {
      for (size_t j = i; j < i + 5; ++j) text[j] = '#';
      if (i + 7 < text.size() && text[i + 5] == ':' && digit(i + 6) && digit(i + 7))
        for (size_t j = i + 5; j < i + 8; ++j) text[j] = '#';
    } else if (i + 9 < text.size() && digit(i) && digit(i + 1) && digit(i + 2) && digit(i + 3) &&
               (text[i + 4] == '.' || text[i + 4] == '-') && digit(i + 5) && digit(i + 6) && text[i + 7] == text[i + 4] &&
               digit(i + 8) && digit(i + 9)) {
      for (size_t j = i; j < i + 10; ++j) text[j] = '#';
    }
  }
  return text;
}

// One open table for reading, every record shown; nullptr after a raised error.
inline std::unique_ptr<table::Table> open_for_dump(const fs::path& dbf) {
  return zuv::testing::open_for_reading(dbf.string());
}

inline const table::Settings& deleted_shown() {
  static table::Settings s = [] {
    table::Settings t;
    t.deleted_hidden = false;
    return t;
  }();
  return s;
}

// A table as text: its layout and header flags, then every record (deleted ones with
// their mark) in record order, speed fields left out.
inline std::string dump_table(const fs::path& dbf, const std::string& rel) {
  auto t = open_for_dump(dbf);
  if (!t) return "nieczytelna tabela\n";
  t->set_settings(&deleted_shown());
  std::string out = "flags " + std::to_string(t->table_flags()) + "\n";
  for (const auto& f : t->structure())
    out += f.name + ":" + f.type + ":" + std::to_string(f.length) + ":" + std::to_string(f.decimals) + "\n";
  const bool masked = speed_table(rel);
  const std::uint32_t n = t->record_count();
  for (std::uint32_t r = 1; r <= n; ++r) {
    t->go_to(r);
    if (!masked) {
      out += table::csv_record(*t);
      continue;
    }
    out += std::to_string(r) + (t->deleted() ? " *" : "") + " " + t->get("NAZWA").text + "\n";
  }
  return out;
}

// Every tag of an index file in its key order: name, expression, and the record
// numbers the tag walks (deleted records included).
inline std::string dump_index(const fs::path& dbf, const fs::path& index) {
  auto t = open_for_dump(dbf);
  if (!t) return "nieczytelna tabela indeksu\n";
  t->set_settings(&deleted_shown());
  if (!table::ORDLISTADD(*t, index.string())) return "nieczytelny indeks\n";
  std::string out;
  for (int i = 1; i <= t->order_count(); ++i) {
    table::Order* o = t->order(i);
    out += "tag " + o->name();
    if (auto* c = dynamic_cast<table::CdxOrder*>(o)) out += " " + c->expression().text();
    out += ":";
    t->set_order_focus(i);
    std::uint32_t walked = 0;
    for (t->go_top(); !t->eof() && walked <= t->record_count(); t->skip()) {
      out += " " + std::to_string(t->recno());
      ++walked;
    }
    out += "\n";
  }
  return out;
}

// The tree below root as text per file (paths relative to root, '/' separated):
// tables and their indexes logically, memo files through their tables, every other
// file by its bytes (reports with their clock times blanked).
// A result's files, the form a dump starts from.
struct Tree {
  std::map<std::string, std::string> bytes;  // every file's bytes
  std::map<std::string, std::string> dump;   // every file as dump_tree gives it
};

// The undo areas hold what the run kept for an undo; the undo itself checks them.
inline bool undo_area(const std::string& rel) {
  const std::string l = lower(rel);
  return l.rfind("baza/cofnij/", 0) == 0 || l.rfind("program/cofnij/", 0) == 0;
}

// The trees below root exactly: every file's bytes, every directory (as "name/").
inline std::map<std::string, std::string> raw_tree(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (const char* d : {"baza", "program"}) {
    if (!fs::exists(root / d)) continue;
    for (auto& e : fs::recursive_directory_iterator(root / d)) {
      const std::string rel = fs::relative(e.path(), root).generic_string();
      out[e.is_directory() ? rel + "/" : rel] = e.is_directory() ? "" : read_bytes(e.path());
    }
  }
  return out;
}

// The first path where two raw trees differ, "" when they agree.
inline std::string raw_difference(const std::map<std::string, std::string>& want,
                                  const std::map<std::string, std::string>& got) {
  for (const auto& [rel, bytes] : want) {
    auto it = got.find(rel);
    if (it == got.end()) return "missing " + rel;
    if (it->second != bytes) return "differs " + rel;
  }
  for (const auto& [rel, bytes] : got)
    if (!want.count(rel)) return "extra " + rel;
  return "";
}

// With a reference, a file whose bytes equal the reference's takes the reference's dump
// unread: an index's walk depends only on its own bytes, a table's records only on its.
inline std::map<std::string, std::string> dump_tree(const fs::path& root, const std::vector<std::string>& dirs,
                                                    const Tree* reference = nullptr, Tree* keep = nullptr) {
  // The engine's refusals become this dump's text, not a dialog or an exit.
  ScopedHandler breaks([](ErrorRecord&) { return HandlerAnswer::Break; });
  std::map<std::string, std::string> out;
  for (const auto& d : dirs) {
    if (!fs::exists(root / d)) continue;
    for (auto& e : fs::recursive_directory_iterator(root / d)) {
      if (!e.is_regular_file()) continue;
      const std::string rel = fs::relative(e.path(), root).generic_string();
      if (undo_area(rel)) continue;
      if (reference || keep) {
        std::string bytes = read_bytes(e.path());
        if (reference) {
          auto same = reference->bytes.find(rel);
          if (same != reference->bytes.end() && same->second == bytes) {
            out[rel] = reference->dump.at(rel);
            continue;
          }
        }
        if (keep) keep->bytes[rel] = std::move(bytes);
      }
      const std::string ext = lower(e.path().extension().string());
      fs::path dbf = e.path();
      dbf.replace_extension(ext == ".dbf" ? e.path().extension() : fs::path(".dbf"));
      if (!fs::exists(dbf)) {
        dbf.replace_extension(".DBF");
        if (!fs::exists(dbf)) dbf.clear();
      }
      try {
        if (ext == ".dbf") {
          out[rel] = dump_table(e.path(), rel);
        } else if ((ext == ".cdx" || ext == ".ntx") && !dbf.empty()) {
          out[rel] = dump_index(dbf, e.path());
        } else if (ext == ".fpt" && !dbf.empty()) {
          out[rel] = "";  // its memos are in the table's dump
        } else if (ext == ".txt" || ext == ".log") {
          out[rel] = mask_clock(read_bytes(e.path()));
        } else {
          out[rel] = read_bytes(e.path());
        }
      } catch (const Break& b) {
        out[rel] = "błąd odczytu: " + b.record.description + "\n";
      }
    }
  }
  return out;
}

// The first difference of two dumps, for a report line; "" when they agree.
inline std::string first_difference(const std::map<std::string, std::string>& want,
                                    const std::map<std::string, std::string>& got, int* files = nullptr) {
  std::string first;
  int n = 0;
  // ZUV_CRASH_DIFFS=1 prints every difference, not the first alone.
  static const bool every = std::getenv("ZUV_CRASH_DIFFS") != nullptr;
  auto note = [&](const std::string& text) {
    if (first.empty()) first = text;
    if (every) std::fprintf(stderr, "    %s\n", text.c_str());
    ++n;
  };
  for (const auto& [rel, text] : want) {
    auto it = got.find(rel);
    if (it == got.end()) {
      note(rel + ": brak pliku");
      continue;
    }
    if (it->second == text) continue;
    std::istringstream a(text), b(it->second);
    std::string la, lb;
    int line = 0;
    while (true) {
      ++line;
      bool ea = !std::getline(a, la), eb = !std::getline(b, lb);
      if (ea && eb) break;
      if (ea != eb || la != lb) {
        auto cut = [](const std::string& s) { return s.size() > 120 ? s.substr(0, 120) + "..." : s; };
        note(rel + ": wiersz " + std::to_string(line) + ": czysty [" + (ea ? "<koniec>" : cut(la)) + "] po awarii [" +
             (eb ? "<koniec>" : cut(lb)) + "]");
        break;
      }
    }
  }
  for (const auto& [rel, text] : got)
    if (!want.count(rel)) note(rel + ": plik nadmiarowy");
  if (files) *files = n;
  return first;
}

// The directories the upgrade may write.
inline const std::vector<std::string>& compared_dirs() {
  static const std::vector<std::string> d = {"baza", "program"};
  return d;
}

inline void copy_sample(const Sample& from, const fs::path& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
  fs::create_directories(to);
  for (const char* d : {"program", "baza"}) {
    fs::copy(from.root / d, to / d, fs::copy_options::recursive);
    // With their times, as a copy of the disk would: the undo's fingerprint holds them.
    for (auto& e : fs::recursive_directory_iterator(from.root / d))
      if (e.is_regular_file())
        fs::last_write_time(to / fs::relative(e.path(), from.root), e.last_write_time(), ec);
  }
}

// The child's work: the headless upgrade as the program's command runs it, from the
// release directory, its output to files beside the sample.
// With a power-cut plan, the count is of its syncs and renames; with sync_fault_at, the
// run's sync of that number fails as a disk's would, and the count is of its syncs.
[[noreturn]] inline void child_upgrade(const Sample& s, int kill_at, int count_fd, int workers,
                                       std::atomic<int>* reached = nullptr,
                                       const os::power_cut::Plan* plan = nullptr, int sync_fault_at = 0,
                                       const char* mode = "--upgrade-db") {
  ::chdir(s.release().c_str());
  int out = ::open((s.root / "upgrade.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  std::string error;
  auto cl = app::parse_command_line({"zuvinst", s.params.at(0), s.params.at(1), s.params.at(2), mode,
                                     s.database().string(), "--program", s.program().string(), "--workers",
                                     std::to_string(workers)},
                                    &error);
  if (!cl) std::_Exit(40);
  static table::WorkAreas areas;
  table::DBESYS(areas, [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
  table::STARTINIT(areas);
  if (count_fd >= 0 || reached) os::fault::start_counting();
  if (kill_at > 0) os::fault::arm_kill(kill_at);
  os::fault::publish_reached(reached);
  if (plan) os::power_cut::start(*plan);
  if (sync_fault_at > 0) os::fault::arm(os::fault::Op::Sync, sync_fault_at, 1005);  // EIO
  std::ostringstream o, e;
  int rc = app::run_headless_upgrade(*cl, app::release_steps(), areas, o, e);
  areas.close_all();
  std::fprintf(stdout, "%s%s", o.str().c_str(), e.str().c_str());
  if (count_fd >= 0) {
    int n = plan ? os::power_cut::points() : sync_fault_at < 0 ? os::fault::counted(os::fault::Op::Sync) : 0;
    if (!plan && sync_fault_at >= 0)
      for (auto op : {os::fault::Op::Create, os::fault::Op::Write, os::fault::Op::Rename, os::fault::Op::Delete,
                      os::fault::Op::Copy})
        n += os::fault::counted(op);
    ::write(count_fd, &n, sizeof n);
  }
  std::fflush(nullptr);
  std::_Exit(rc);
}

struct ChildResult {
  int exit_code = -1;  // -1: ended by a signal
  int operations = 0;  // with counting
  double seconds = 0;
  int reached = 0;     // killed from outside: the file operations it had begun
};

// Whether the child has ended, leaving it to be reaped.
inline bool child_ended(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

// Called in the parent while the child runs: a thread of the test alive across the fork
// could hold the allocator's lock there, and the child would wait on it forever.
using Watch = std::function<void(pid_t child)>;

// Runs the upgrade on the sample in a child process: to its end, ended before file
// operation kill_at, or killed with SIGKILL after kill_after_s seconds (when > 0).
inline ChildResult run_upgrade(const Sample& s, int kill_at = 0, bool count = false, double kill_after_s = 0,
                               int workers = 1, const os::power_cut::Plan* plan = nullptr, int sync_fault_at = 0,
                               const Watch& watch = nullptr, const char* mode = "--upgrade-db") {
  int fds[2] = {-1, -1};
  if (count && ::pipe(fds) != 0) return {};
  // A run killed from outside counts its operations where the parent can read them.
  std::atomic<int>* reached = nullptr;
  if (kill_after_s > 0) {
    void* shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared != MAP_FAILED) reached = new (shared) std::atomic<int>(0);
  }
  std::fflush(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    if (count) ::close(fds[0]);
    child_upgrade(s, kill_at, count ? fds[1] : -1, workers, reached, plan, sync_fault_at, mode);
  }
  if (count) ::close(fds[1]);
  if (kill_after_s > 0) {
    std::this_thread::sleep_for(std::chrono::duration<double>(kill_after_s));
    ::kill(pid, SIGKILL);
  }
  if (watch) watch(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ChildResult r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (reached) {
    r.reached = reached->load();
    ::munmap(reached, sizeof(std::atomic<int>));
  }
  if (count) {
    if (::read(fds[0], &r.operations, sizeof r.operations) != sizeof r.operations) r.operations = 0;
    ::close(fds[0]);
  }
  return r;
}

// The undo of the release's installation, run as run_upgrade runs the upgrade.
inline ChildResult run_undo(const Sample& s, int kill_at = 0, bool count = false,
                            const os::power_cut::Plan* plan = nullptr) {
  return run_upgrade(s, kill_at, count, 0, 1, plan, 0, nullptr, "--undo-db");
}

// Where a killed run stood, for the report: the database's flag, each firm's version,
// and the file written last.
// A field of a one-record table without its trailing blanks, "?" when unreadable.
inline std::string first_record_field(const fs::path& dbf, const char* name) {
  ScopedHandler breaks([](ErrorRecord&) { return HandlerAnswer::Break; });
  try {
    auto t = open_for_dump(dbf);
    if (!t || !t->go_to(1)) return "?";
    std::string v = t->get(name).text;
    return v.substr(0, v.find_last_not_of(' ') + 1);
  } catch (const Break&) {
    return "?";
  }
}

// Whether the database's version record says this upgrade (to the release's version) finished.
inline bool marked_finished(const Sample& s) {
  return first_record_field(s.database() / "wersja.dbf", "ok") == "T" &&
         first_record_field(s.database() / "wersja.dbf", "baza") == s.params.at(1);
}

inline std::string where_killed(const Sample& s) {
  const auto& field = first_record_field;
  std::string out = "ok=" + field(s.database() / "wersja.dbf", "ok");
  std::vector<std::pair<int, fs::path>> firms;
  for (auto& e : fs::directory_iterator(s.database())) {
    std::string name = lower(e.path().filename().string());
    if (e.is_directory() && name.rfind("firma", 0) == 0 && name.size() > 5)
      firms.push_back({std::atoi(name.c_str() + 5), e.path()});
  }
  std::sort(firms.begin(), firms.end());
  for (const auto& [n, p] : firms) out += " f" + std::to_string(n) + "=" + field(p / "wersja.dbf", "baza");
  fs::path newest;
  auto when = fs::file_time_type::min();
  for (const char* d : {"baza", "program"})
    for (auto& e : fs::recursive_directory_iterator(s.root / d))
      if (e.is_regular_file() && e.last_write_time() >= when) {
        when = e.last_write_time();
        newest = e.path();
      }
  out += " ostatni zapis: " + fs::relative(newest, s.root).generic_string();
  return out;
}

}  // namespace zuv::crash
#endif
