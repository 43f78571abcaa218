// One open DBF table with its memo file and its open orders.
//
// Records are addressed 1..record_count(). The current record lives in a buffer; field
// puts change the buffer, and the buffer is stored when the table moves, commits or
// closes (then the orders hear of it). Exclusively opened tables keep a small window
// of records in memory and write it back in runs; shared tables write every stored
// record straight to the OS, so another process sees it at once. The header's record
// count and date of last update are written on commit and close.
//
// Failures are raised as error records (platform/error/error.h) whose answer decides: retry runs
// the operation again, default makes it return its failure result, break throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/os/file_handle.h"
#include "platform/table/field.h"
#include "platform/table/open_order.h"
#include "platform/table/settings.h"
#include "platform/table/value.h"

namespace zuv::table {

class MemoFile;
struct MemoFault;

// Where a memo file ended before a record write, to take its new blocks back.
struct MemoMark {
  bool valid = false;
  std::uint64_t size = 0;
  std::uint32_t next_free = 0;
};

// Generic codes of this engine besides those of platform/error/error.h.
namespace tablecode {
constexpr int kDataType = 33;   // a value of the wrong type for its field
constexpr int kNotExclusive = 46;  // pack and zap need the table for oneself
constexpr int kReadOnly = 47;   // a write to a table opened read-only
constexpr int kAliasInUse = 24;
constexpr int kNoEngine = 48;
}  // namespace tablecode

// Byte-range lock places (the FoxPro convention): a record at kLockBase - recno, the
// header (append and memo allocation) at kLockBase; one byte each.
constexpr std::uint64_t kLockBase = 0x7FFFFFFEu;

struct OpenOptions {
  std::string path;            // Windows path text; ".dbf" is added when no extension
  std::string engine = "FOXCDX";
  bool shared = false;
  bool read_only = false;
};

class Table {
 public:
  // Opens a table. Answers nullptr when it failed and the handler chose the default.
  static std::unique_ptr<Table> open(const OpenOptions& options);
  // Opens a table held in memory (a DBF image and a memo image); never writes. For
  // readers of untrusted data such as the fuzzer.
  static std::unique_ptr<Table> open_image(std::string dbf, std::string memo, const std::string& name = "image.dbf");
  // Creates a FoxPro 2 table (0x03, or 0xF5 with an FPT memo file when a memo field
  // exists), replacing an existing one that nobody holds. false after a raised error.
  [[nodiscard]] static bool create(const std::string& path, const Structure& structure, const std::string& engine = "FOXCDX");

  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Stores the current record, writes the header, closes the files. Idempotent.
  void close();

  // --- Structure
  const std::vector<FieldDescriptor>& fields() const { return fields_; }
  int field_count() const { return static_cast<int>(fields_.size()); }
  // 0-based index of a field by name (case-insensitive), -1 when absent.
  int field_index(std::string_view name) const;
  Structure structure() const;
  std::uint8_t version() const { return version_; }
  std::uint32_t header_length() const { return header_length_; }
  std::uint32_t record_length() const { return record_length_; }
  const std::string& path() const { return path_; }  // as the caller gave it
  const std::string& engine() const { return engine_; }
  bool is_shared() const { return shared_; }
  bool is_read_only() const { return read_only_; }
  bool has_memo() const { return memo_ != nullptr; }
  // Byte 28 of the header: 0x01 when a structural compound index belongs to the table.
  std::uint8_t table_flags() const { return table_flags_; }
  [[nodiscard]] bool set_table_flags(std::uint8_t flags);

  void set_settings(const Settings* settings) { settings_ = settings; }
  const Settings& settings() const { return *settings_; }

  // --- Navigation. With an order in focus, top/bottom/skip follow its key order.
  std::uint32_t record_count();  // LASTREC; re-read from the file when shared
  std::uint32_t recno() const { return recno_; }
  bool eof() const { return eof_; }
  bool bof() const { return bof_; }
  bool go_to(std::uint32_t recno);  // beyond the last record: eof on a blank record
  void go_top();
  void go_bottom();
  void skip(long count = 1);

  // --- Records and fields (fields by 0-based index or by name)
  const std::uint8_t* record_buffer() const { return buffer_.data(); }
  Value get(int field) const;
  Value get(std::string_view name) const;
  // Into out, reusing its text storage (the fast path of a scan).
  void read(int field, Value& out) const;
  // A field's value from any record image (an order computing keys); memo fields
  // read their text from the memo file.
  Value value_in(int field, const std::uint8_t* record) const;
  [[nodiscard]] bool put(int field, const Value& value);
  [[nodiscard]] bool put(std::string_view name, const Value& value);
  // The field's bytes as another record holds them (a field of the same form, see
  // FieldDescriptor::carries_bytes_to): a copy between tables without decoding. With
  // fields > 1, that many fields lying side by side from field on, in one block.
  [[nodiscard]] bool put_bytes(int field, const std::uint8_t* bytes, int fields = 1);
  bool deleted() const { return !buffer_.empty() && buffer_[0] == '*'; }
  [[nodiscard]] bool remove();  // DBDELETE
  [[nodiscard]] bool recall();
  // DBAPPEND: a blank record at the end becomes current (and, when shared, locked
  // with every other lock released). net_error() tells whether the last append failed.
  [[nodiscard]] bool append();
  bool net_error() const { return net_error_; }

  // --- Locks (shared tables; an exclusive table holds everything)
  bool rlock(std::uint32_t recno = 0);  // 0: the current record
  void unlock(std::uint32_t recno = 0);  // 0: every record lock
  bool is_locked(std::uint32_t recno) const;

  [[nodiscard]] bool commit();    // stores the record, the window, the header, the orders
  void rollback();  // forgets the current record's changes not yet stored

  // From the current record (or the top when from_top) to the first record for which
  // condition holds; false (and eof) when none does.
  bool locate(const std::function<bool(Table&)>& condition, bool from_top = true);
  // Calls action on every visible record from the top (or only those matching
  // condition); action may answer false to stop.
  void eval(const std::function<bool(Table&)>& action, const std::function<bool(Table&)>& condition = {});

  // DBSETFILTER / DBCLEARFILTER: records failing the condition are passed over like
  // hidden deleted ones.
  void set_filter(std::function<bool(const Table&)> condition) { filter_ = std::move(condition); }
  void clear_filter() { filter_ = nullptr; }
  bool has_filter() const { return static_cast<bool>(filter_); }
  // Called after every move of the record pointer (relations keep children in step).
  void set_move_listener(std::function<void()> listener) { move_listener_ = std::move(listener); }

  // Removes the records marked deleted (a new file swapped in) / every record.
  // Both need the table opened exclusively and rebuild the orders afterwards.
  [[nodiscard]] bool pack();
  [[nodiscard]] bool zap();

  // --- Orders
  void add_order(std::unique_ptr<Order> order);
  int order_count() const { return static_cast<int>(orders_.size()); }
  Order* order(int n) const;  // 1-based
  // 1-based; 0 leaves the natural record order. Answers false for an unknown number.
  bool set_order_focus(int n);
  bool set_order_focus(std::string_view name);
  int order_focus() const { return focus_; }
  Order* controlling_order() const { return order(focus_); }
  void clear_orders();
  bool rebuild_orders();
  // Key search through the controlling order; soft defaults to the settings.
  bool seek(const Value& key);
  bool seek(const Value& key, bool soft, bool last = false);
  bool found() const { return found_; }

  // --- Encoding helpers for orders and tools
  // A number rounded to dec places as the field holds it ("%*.*f" of printf):
  // answers the length written, more than width when it does not fit.
  static int format_number(double value, int width, int dec, char* out);

  // A value written into one field of a record image, as put() would write it; false
  // (and an error raised) when it does not fit or has the wrong type.
  bool encode(int field, const Value& value, std::uint8_t* record);

 private:
  Table() = default;
  struct Window;

  bool load_header(std::uint64_t file_size);
  bool read_record(std::uint32_t recno, std::uint8_t* out);
  bool store_current();  // the orders, the memos, the buffer to the window or the file
  bool write_current();
  void take_back(std::size_t keyed, bool appended);
  void forget_append();
  bool flush_window();
  void drop_window();
  bool write_header();
  bool refresh_count();
  bool position(std::uint32_t recno);
  void skip_hidden_forward();
  void skip_hidden_backward();
  bool is_hidden() const;
  std::uint32_t next_in_order(std::uint32_t recno, bool forward);
  bool writable_or_raise(const char* operation);
  bool raise(int gen_code, int os_code, const std::string& description, const char* operation,
             bool can_retry = false, const std::string& file = {});
  bool raise_memo(const MemoFault& fault, const std::string& description, const char* operation,
                  bool can_retry = false);
  bool put_memo(int field, const Value& value);
  void read_other(int field, Value& out) const;
  enum class FieldNaming { Name, Number, None };
  bool refuse_put(int gen_code, const char* what, int field, FieldNaming naming = FieldNaming::Name);
  bool memo_of(int field, const std::uint8_t* record, std::string& out) const;
  bool write_pending_memos();
  void before_change();

  std::string path_;
  std::string os_path_;
  std::string memo_os_path_;
  std::string engine_;
  bool shared_ = false;
  bool read_only_ = false;
  os::FileHandle file_;
  std::string image_;  // the whole DBF when opened from memory
  bool from_image_ = false;
  std::unique_ptr<MemoFile> memo_;
  MemoMark memo_mark_;  // the memo file before the record write in progress

  std::uint8_t version_ = 0x03;
  std::uint8_t table_flags_ = 0;
  std::uint32_t header_length_ = 0;
  std::uint32_t record_length_ = 0;
  std::uint32_t count_ = 0;           // records known to exist (in the file or the window)
  std::uint32_t count_in_header_ = 0; // as last written to / read from the header
  bool header_dirty_ = false;
  std::vector<FieldDescriptor> fields_;
  // Field numbers by name in capitals (the first of equal names): steps look fields up
  // by name for every record, and the KSeF buffers have over two hundred.
  std::unordered_map<std::string, int> field_by_name_;

  std::vector<std::uint8_t> buffer_;    // current record
  // A new record: spaces, and zeros where FieldDescriptor::blank_is_zero and in the
  // null flags.
  std::vector<std::uint8_t> blank_;
  std::vector<std::uint8_t> original_;  // current record as stored
  std::vector<std::string> pending_memo_;
  std::vector<bool> memo_pending_;
  std::vector<int> memo_fields_;  // the fields whose text lives in the memo file
  bool any_memo_pending_ = false;
  bool dirty_ = false;
  bool appended_ = false;
  std::uint32_t recno_ = 0;
  bool eof_ = true;
  bool bof_ = true;
  bool net_error_ = false;
  bool found_ = false;

  std::unique_ptr<Window> window_;
  std::vector<std::uint32_t> locks_;

  std::vector<std::unique_ptr<Order>> orders_;
  int focus_ = 0;

  const Settings* settings_ = nullptr;
  std::function<bool(const Table&)> filter_;
  std::function<void()> move_listener_;
  struct MoveNotice;
};

}  // namespace zuv::table
