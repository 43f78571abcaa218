// The hook through which a table keeps its open orders (index tags) current. A Table
// owns a list of orders; each one is told about every record it stores and may drive
// the table's navigation when it has the focus.
//
// An order is called before the record is written, with the table positioned on it
// and Table::record_buffer() holding the new image. Deletion and recall arrive as a
// replace whose buffers differ in byte 0. Every call is all or nothing within its
// order: a failure is reported by raising an error record (or the handler's Break)
// and answering false, the order as before the call; the table then takes back what
// the other orders did for the record and does not write it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/table/value.h"

namespace zuv::table {

class Table;

class Order {
 public:
  virtual ~Order() = default;

  // The tag name, as ORDSETFOCUS finds it (compared case-insensitively).
  virtual std::string name() const = 0;

  // Maintenance: a new record, a changed record (before and after images, each
  // record_length() bytes), and a full rebuild after pack, zap or reindex.
  virtual bool on_append(Table& table, std::uint32_t recno, const std::uint8_t* record) = 0;
  virtual bool on_replace(Table& table, std::uint32_t recno, const std::uint8_t* before,
                          const std::uint8_t* after) = 0;
  // The key of a record leaves (a record write taken back).
  virtual bool on_remove(Table& table, std::uint32_t recno, const std::uint8_t* record) = 0;
  virtual bool rebuild(Table& table) = 0;
  // Everything the order holds in memory goes to its file (commit and close).
  virtual bool flush() { return true; }

  // Navigation in key order; each answers a record number, or 0 when there is none.
  // next and prev are called with the table positioned on recno.
  virtual std::uint32_t first(Table& table) = 0;
  virtual std::uint32_t last(Table& table) = 0;
  virtual std::uint32_t next(Table& table, std::uint32_t recno) = 0;
  virtual std::uint32_t prev(Table& table, std::uint32_t recno) = 0;
  // The first record whose key equals key (found = true); otherwise, when soft, the
  // record with the next greater key, else 0. last: the last equal key instead.
  // The table then steps over records hidden by the deleted-records setting, asking
  // matches() whether the record it stops on still carries the key.
  virtual std::uint32_t seek(Table& table, const Value& key, bool soft, bool last, bool& found) = 0;
  // Whether the current record's key equals key under the seek's rules.
  virtual bool matches(Table& table, const Value& key) {
    (void)table;
    (void)key;
    return false;
  }
};

}  // namespace zuv::table
