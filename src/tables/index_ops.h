// The order operations the helpers of this directory need from the index engine, on
// one open table: ORDLISTADD, ORDSETFOCUS, ORDCREATE, ORDLISTREBUILD, and the relations
// that the work-area set keeps (platform/table/area_relations.h).
// Each raises an error record on failure (the caller's trap decides) and answers
// false then.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/table/table.h"
#include "platform/table/work_areas.h"

namespace zuv::tables {

using OrderArg = std::variant<std::string, int>;

// Opens a compound index file on the table; its tags join the order list.
bool order_list_add(table::Table& table, const std::string& index_file);
bool order_set_focus(table::Table& table, const OrderArg& order);
// Creates tag with key expression in index_file: a compound file (".cdx", created
// when missing, a tag of the same name replaced) or a single-key file (any other
// extension, written anew). The new order joins the table's list and takes the focus.
bool order_create(table::Table& table, const std::string& index_file, const std::string& tag,
                  const std::string& expression);
// The same, for an expression that may read other open tables ("test->a"). Without
// sync_tag a compound file's new tag reaches the disk when the file is closed (for a
// caller filling a new file with all its tags).
bool order_create(table::Table& table, table::WorkAreas* areas, const std::string& index_file,
                  const std::string& tag, const std::string& expression, bool sync_tag = true);
// Creates several tags of one compound file from one pass over the records, as
// order_create of each in turn would; false, with nothing to say which were made, when
// any cannot be (then order_create of each tells more). Expressions reading other
// tables are not for it.
bool order_create_tags(table::Table& table, const std::string& index_file,
                       const std::vector<std::pair<std::string, std::string>>& tags, bool sync_tag = true);
// Rebuilds every open order of the table.
bool order_list_rebuild(table::Table& table);
// Relates child to parent: moving parent positions child by seeking expression's value
// (evaluated on parent) in child's controlling order.
bool set_relation(table::WorkAreas& areas, const std::string& parent, const std::string& child,
                  const std::string& expression);
// Positions the children of parent after parent moved.
void sync_relations(table::WorkAreas& areas, const std::string& parent);
void clear_relations(table::WorkAreas& areas, const std::string& parent);

}  // namespace zuv::tables
