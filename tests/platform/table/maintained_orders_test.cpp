// The hook for open orders: a simple in-memory order over one text field stands in
// for an index, so that what the table promises its orders is checked on its own.
#include <gtest/gtest.h>

#include <set>

#include "platform/table/collation.h"
#include "platform/table/table.h"
#include "support/table_support.h"

namespace zuv::table {
namespace {

struct ByCollation {
  bool operator()(const std::pair<std::string, std::uint32_t>& a, const std::pair<std::string, std::uint32_t>& b) const {
    int c = collate_compare(a.first, b.first);
    return c != 0 ? c < 0 : a.second < b.second;
  }
};

class TextOrder : public Order {
 public:
  explicit TextOrder(int field) : field_(field) {}
  std::string name() const override { return "naz"; }
  bool on_append(Table& t, std::uint32_t recno, const std::uint8_t* record) override {
    EXPECT_EQ(t.recno(), recno);
    keys_.insert({t.value_in(field_, record).text, recno});
    ++appends;
    return true;
  }
  bool on_replace(Table& t, std::uint32_t recno, const std::uint8_t* before, const std::uint8_t* after) override {
    keys_.erase({t.value_in(field_, before).text, recno});
    keys_.insert({t.value_in(field_, after).text, recno});
    ++replaces;
    return true;
  }
  bool on_remove(Table& t, std::uint32_t recno, const std::uint8_t* record) override {
    keys_.erase({t.value_in(field_, record).text, recno});
    ++removes;
    return true;
  }
  bool rebuild(Table& t) override {
    keys_.clear();
    ++rebuilds;
    for (std::uint32_t r = 1; r <= t.record_count(); ++r) {
      t.go_to(r);
      keys_.insert({t.get(field_).text, r});
    }
    return true;
  }
  std::uint32_t first(Table&) override { return keys_.empty() ? 0 : keys_.begin()->second; }
  std::uint32_t last(Table&) override { return keys_.empty() ? 0 : keys_.rbegin()->second; }
  std::uint32_t next(Table& t, std::uint32_t recno) override {
    auto it = keys_.find({t.get(field_).text, recno});
    if (it == keys_.end() || ++it == keys_.end()) return 0;
    return it->second;
  }
  std::uint32_t prev(Table& t, std::uint32_t recno) override {
    auto it = keys_.find({t.get(field_).text, recno});
    if (it == keys_.end() || it == keys_.begin()) return 0;
    return (--it)->second;
  }
  std::uint32_t seek(Table&, const Value& key, bool soft, bool, bool& found) override {
    auto it = keys_.lower_bound({key.text, 0});
    found = it != keys_.end() && it->first.compare(0, key.text.size(), key.text) == 0;
    if (found || (soft && it != keys_.end())) return it->second;
    return 0;
  }
  bool matches(Table& t, const Value& key) override { return t.get(field_).text.compare(0, key.text.size(), key.text) == 0; }
  int appends = 0, replaces = 0, rebuilds = 0, removes = 0;
  std::size_t size() const { return keys_.size(); }

 private:
  int field_;
  std::set<std::pair<std::string, std::uint32_t>, ByCollation> keys_;
};

TEST(MaintainedOrders, NavigationFollowsTheFocusedOrderAndItsUpdates) {
  zuv::testing::TableTempDir dir;
  std::string path = dir.file("o.dbf");
  ASSERT_TRUE(Table::create(path, {{"NAZWA", 'C', 6, 0}}));
  OpenOptions opts;
  opts.path = path;
  auto t = Table::open(opts);
  auto owned = std::make_unique<TextOrder>(0);
  TextOrder* order = owned.get();
  t->add_order(std::move(owned));
  for (const char* s : {"delta", "alfa", "echo", "charli", "bravo"}) {
    EXPECT_TRUE(t->append());
    EXPECT_TRUE(t->put(0, Value::of_text(s)));
  }
  EXPECT_TRUE(t->commit());
  EXPECT_EQ(order->appends, 5);
  EXPECT_EQ(order->replaces, 0);
  ASSERT_TRUE(t->set_order_focus("NAZ"));
  auto walk = [&]() {
    std::string seen;
    for (t->go_top(); !t->eof(); t->skip(1)) seen += std::to_string(t->recno());
    return seen;
  };
  EXPECT_EQ(walk(), "25413");
  t->go_bottom();
  EXPECT_EQ(t->recno(), 3u);
  t->skip(-2);
  EXPECT_EQ(t->recno(), 4u);

  // A changed key and a deletion reach the order when the record is stored.
  t->go_to(3);
  EXPECT_TRUE(t->put(0, Value::of_text("aaaa")));
  t->go_to(4);
  EXPECT_TRUE(t->remove());
  t->go_top();
  EXPECT_EQ(order->replaces, 2);
  EXPECT_EQ(walk(), "3251");  // 4 is deleted and hidden

  EXPECT_TRUE(t->seek(Value::of_text("bra")));
  EXPECT_EQ(t->recno(), 5u);
  EXPECT_FALSE(t->seek(Value::of_text("bz")));  // soft: the next greater key
  EXPECT_EQ(t->recno(), 1u);                    // charli (4) is deleted and hidden
  EXPECT_FALSE(t->seek(Value::of_text("ch")));  // lands on 4, steps to 1, no match
  EXPECT_EQ(t->recno(), 1u);
  EXPECT_TRUE(t->seek(Value::of_text("de")));
  EXPECT_FALSE(t->seek(Value::of_text("zz")));
  EXPECT_TRUE(t->eof());
  EXPECT_FALSE(t->seek(Value::of_text("bz"), false));
  EXPECT_TRUE(t->eof());

  ASSERT_TRUE(t->pack());
  EXPECT_EQ(order->rebuilds, 1);
  EXPECT_EQ(walk(), "3241");
  t->set_order_focus(0);
  EXPECT_EQ(walk(), "1234");
}

}  // namespace
}  // namespace zuv::table
