// Index orders of a table: tags of compound files and single-key files, as the
// table's Order hook sees them, plus the operations around them (ORDCREATE,
// ORDLISTADD, relations between work areas).
//
// Paths are Windows path texts, as Table takes them. Failures are raised as error
// records (platform/error/error.h) and answered with false.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/table/cdx.h"
#include "platform/table/index_build.h"
#include "platform/table/keyexpr.h"
#include "platform/table/ntx.h"
#include "platform/table/open_order.h"
#include "platform/table/table.h"

namespace zuv::table {

class WorkAreas;

// Fields of a table (and, through alias->field, of the other work areas) for key
// expressions, read from a record image.
class TableFields : public FieldResolver {
 public:
  TableFields(Table& table, WorkAreas* areas = nullptr) : table_(table), areas_(areas) {}
  std::optional<FieldRef> resolve(std::string_view alias, std::string_view field) const override;
  // Field bytes from record (the table's own) or the other tables' current records.
  std::string_view bytes(int slot, const uint8_t* record) const;

 private:
  Table& table_;
  WorkAreas* areas_;
  mutable std::vector<Table*> others_;
};

// A compound file opened once per process and shared by every work area using it.
std::shared_ptr<cdx::CdxFile> open_shared_cdx(const std::string& os_path, bool writable,
                                             os::Share share = os::Share::Shared);

class CdxOrder : public Order {
 public:
  CdxOrder(Table& table, std::shared_ptr<cdx::CdxFile> file, const std::string& tag);
  std::string name() const override { return name_; }
  const KeyExpression& expression() const { return *expr_; }
  std::shared_ptr<cdx::CdxFile> file() const { return file_; }

  bool on_append(Table& table, std::uint32_t recno, const std::uint8_t* record) override;
  bool on_replace(Table& table, std::uint32_t recno, const std::uint8_t* before, const std::uint8_t* after) override;
  bool on_remove(Table& table, std::uint32_t recno, const std::uint8_t* record) override;
  bool rebuild(Table& table) override;
  bool flush() override;
  std::uint32_t first(Table& table) override;
  std::uint32_t last(Table& table) override;
  std::uint32_t next(Table& table, std::uint32_t recno) override;
  std::uint32_t prev(Table& table, std::uint32_t recno) override;
  std::uint32_t seek(Table& table, const Value& key, bool soft, bool last, bool& found) override;

  // The key bytes of a record image.
  std::string key_of(const std::uint8_t* record) const;

 private:
  cdx::Tag& tag();
  bool descending();
  bool step(Table& table, std::uint32_t recno, bool forward, std::uint32_t& out);
  static bool counted(Table& table, cdx::Tag& t, cdx::Cursor& c, bool ok, bool up);

  std::shared_ptr<cdx::CdxFile> file_;
  std::string name_;
  std::unique_ptr<TableFields> fields_;
  std::unique_ptr<KeyExpression> expr_;
  cdx::Cursor cursor_;
  uint64_t cursor_gen_ = 0;
  bool shared_ = false;
};

class NtxOrder : public Order {
 public:
  NtxOrder(Table& table, std::unique_ptr<ntx::NtxFile> file, const std::string& name);
  std::string name() const override { return name_; }

  bool on_append(Table& table, std::uint32_t recno, const std::uint8_t* record) override;
  bool on_replace(Table& table, std::uint32_t recno, const std::uint8_t* before, const std::uint8_t* after) override;
  bool on_remove(Table& table, std::uint32_t recno, const std::uint8_t* record) override;
  bool rebuild(Table& table) override;
  bool flush() override;
  std::uint32_t first(Table& table) override;
  std::uint32_t last(Table& table) override;
  std::uint32_t next(Table& table, std::uint32_t recno) override;
  std::uint32_t prev(Table& table, std::uint32_t recno) override;
  std::uint32_t seek(Table& table, const Value& key, bool soft, bool last, bool& found) override;

 private:
  std::string key_of(const std::uint8_t* record) const;
  std::unique_ptr<ntx::NtxFile> file_;
  std::string name_;
  std::unique_ptr<TableFields> fields_;
  std::unique_ptr<KeyExpression> expr_;
  ntx::NtxFile::Cursor cursor_;
};

// ORDLISTADD: every tag of a compound file (in creation order), or one single-key
// file, joins the table's order list. The first order added to an empty list takes
// the focus.
bool ORDLISTADD(Table& table, const std::string& index_path);
// ORDCREATE: builds tag (key expression) in the compound file (created when missing;
// a tag of the same name is replaced) or a single-key file (".ntx"), adds it to the
// table's order list and gives it the focus.
bool ORDCREATE(Table& table, const std::string& index_path, const std::string& tag, const std::string& expression,
               const BuildOptions& options = {});
// ORDCREATE of each tag in turn into one compound file, from one pass over the records.
bool ORDCREATE(Table& table, const std::string& index_path, const std::vector<TagSpec>& tags,
               const BuildOptions& options = {});

// Opens the compound index of the table's own name (".cdx" beside the ".dbf") when it
// exists, so that every write keeps its tags current; true when there is none.
bool attach_structural_index(Table& table);

// Relations: a child area follows its parent by a seek of the parent's key
// expression value in the child's controlling order.
class Relations {
 public:
  explicit Relations(WorkAreas& areas) : areas_(areas) {}
  Relations(const Relations&) = delete;
  Relations& operator=(const Relations&) = delete;
  // DBSETRELATION from the parent alias to the child alias; false after a raised error
  // (unknown alias, wrong expression).
  bool set(const std::string& parent, const std::string& child, const std::string& expression);
  // DBCLEARRELATION: every relation of the parent.
  void clear(const std::string& parent);
  // Positions every child of parent on the record matching the parent's current one
  // (eof when none matches); runs by itself after every move of the parent.
  void sync(const std::string& parent);

 private:
  struct Relation {
    std::string parent, child;
    std::unique_ptr<TableFields> fields;
    std::unique_ptr<KeyExpression> expr;
  };
  WorkAreas& areas_;
  std::vector<Relation> relations_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Answers the Value that a key expression gives for a table's current record.
Value expression_value(const KeyExpression& expr, const TableFields& fields, const std::uint8_t* record);

}  // namespace zuv::table
