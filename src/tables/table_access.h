// The small helpers every routine that reads or writes a table goes through: open
// exclusively with retries (OTWORZ), open shared once (S_OTWORZ), one guarded
// exclusive open (USEEX), close (ZAMKNIJ, CLOSEALL), lock and append with retries
// (REK_LOCK, REK_ADD) and the operator's Esc check (NIC). None of them raises an error
// or shows anything: a missing, damaged or held table makes them answer false.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/table/work_areas.h"

namespace zuv::tables {

// The tag to make current after opening: a tag name or a 1-based tag number.
using OrderArg = std::variant<std::string, int>;

// Asks whether the operator wants to stop a wait: takes the next waiting event (a
// wait of one hundredth of a second), answers true for Esc and lets every other event
// go to its control. The front ends supply it; tests supply a scripted one.
class OperatorInterrupt {
 public:
  virtual ~OperatorInterrupt() = default;
  virtual bool NIC() = 0;
  // TONE: frequency in hertz, duration in the platform's tone unit.
  virtual void TONE(int frequency, double duration) {
    (void)frequency;
    (void)duration;
  }
};

// The running front end's interrupt check and tone, installed by the program at
// start-up (the tables do not know the front ends). Without one, NIC answers false and
// tones are silent. The installed object must outlive its use.
void set_operator_interrupt(OperatorInterrupt* interrupt);
OperatorInterrupt* operator_interrupt();
// The operator's interrupt check: true when Esc was pressed.
bool NIC();

// Pauses of the retry loops, in hundredths of a second. Tests replace them so that a
// run of 500 attempts takes no wall time; the replacement ends with the scope.
using PauseFn = std::function<void(int hundredths)>;
void SLEEP(int hundredths);
class ScopedPauses {
 public:
  explicit ScopedPauses(PauseFn fn);
  ~ScopedPauses();
  ScopedPauses(const ScopedPauses&) = delete;
  ScopedPauses& operator=(const ScopedPauses&) = delete;

 private:
  PauseFn previous_;
};

// A data file this short cannot even hold a header and one field descriptor's worth
// of table; it is refused before the engine sees it.
constexpr std::uint64_t kMinimumTableBytes = 67;

// The table's files from directory + name: the name is cut at its first '.'.
struct TableFiles {
  std::string data;   // directory + name + ".dbf"
  std::string index;  // directory + name + ".cdx", or "" when no order was asked for
};
TableFiles table_files(std::string_view directory, std::string_view name, bool with_index);

// Opens directory + name exclusively under alias (up to 6 tries), adds the compound
// index and focuses order when one is given, and leaves the table selected at its
// first record. An alias already in use is selected and positioned at its top; the
// file is then not opened again.
bool OTWORZ(table::WorkAreas& areas, std::string_view directory, std::string_view name, std::string_view alias,
            const std::optional<OrderArg>& order = std::nullopt);
// The same, opened shared, in one attempt; an alias already in use is selected and
// left where it was.
bool S_OTWORZ(table::WorkAreas& areas, std::string_view directory, std::string_view name, std::string_view alias,
              const std::optional<OrderArg>& order = std::nullopt);
// One exclusive open of the data file (full name) under alias; selects it.
bool USEEX(table::WorkAreas& areas, std::string_view data_file, std::string_view alias);

// Clears the filter and the order list and closes the area; nothing when the alias
// is empty or not in use. The area goes in any case; false when what closing writes
// (the current record, the indexes brought to the disk) failed.
bool ZAMKNIJ(table::WorkAreas& areas, std::string_view alias);
// Closes every area except the installer's own bookkeeping tables INS and SEM.
void CLOSEALL(table::WorkAreas& areas);

// Locks the current record of the selected area: 10 attempts by default, otherwise
// the given number clamped to 1..20, 50 ms apart.
bool REK_LOCK(table::WorkAreas& areas, std::optional<int> attempts = std::nullopt);
// Appends a record to the selected area (locked by the append): 500 attempts by
// default. The first failure beeps; after each later one the operator may stop the
// wait with Esc. Both go through interrupt when given, else the installed one.
bool REK_ADD(table::WorkAreas& areas, std::optional<int> attempts = std::nullopt,
             OperatorInterrupt* interrupt = nullptr);

// Runs body with every runtime error turned into a jump out of it: answers false when
// one occurred, else body's answer. The handler in force before is back afterwards.
bool guarded(const std::function<bool()>& body);

}  // namespace zuv::tables
