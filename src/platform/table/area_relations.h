// The relations of one work-area set (DBSETRELATION, DBCLEARRELATION), kept with the
// set so that they end with it. The engine's relation object (order.h) holds the
// tables it joins; a table closed, or an alias opened anew, since makes its relation
// stale, so every use first drops the stale ones and sets the live ones up again.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zuv::table {

class Relations;
class Table;
class WorkAreas;

class AreaRelations {
 public:
  explicit AreaRelations(WorkAreas& areas);
  ~AreaRelations();
  AreaRelations(const AreaRelations&) = delete;
  AreaRelations& operator=(const AreaRelations&) = delete;

  // Relates child to parent: moving parent positions child by seeking expression's
  // value (evaluated on parent) in child's controlling order. False after a raised
  // error (unknown alias, wrong expression).
  bool set(const std::string& parent, const std::string& child, const std::string& expression);
  // Positions the children of parent after parent moved.
  void sync(const std::string& parent);
  // Every relation of parent ends.
  void clear(const std::string& parent);

 private:
  struct Record {
    std::string parent, child, expression;
    const Table* parent_table;
    const Table* child_table;
  };
  Relations& live();

  WorkAreas& areas_;
  std::unique_ptr<Relations> engine_;
  std::vector<Record> records_;
};

}  // namespace zuv::table
