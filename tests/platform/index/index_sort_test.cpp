// The external sort of the tag builds: runs kept in memory while the budget allows,
// written to run files beyond it, and one merged order either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/index/index_test_support.h"
#include "platform/table/index_sort.h"

namespace zuv::table {
namespace {

// Every key of one byte over the letters the collation moves (Polish ones among them);
// ties keep record order.
void expect_sorted_whatever_the_budget(std::size_t budget, bool some_on_disk) {
  const std::string dir = testing::scratch_dir("key_sort");
  const std::string letters = "aAz\xA5\x86\xA4\x88 0Zb";  // ą ć Ą ł among them
  std::mt19937 random(5);
  const std::uint32_t n = 1300000;  // more than one buffer of one-byte keys holds
  std::vector<std::pair<std::string, std::uint32_t>> expected;
  {
    KeySorter sorter(KeyType::Character, 1, budget, dir);
    for (std::uint32_t r = 1; r <= n; ++r) {
      const std::string key(1, letters[random() % letters.size()]);
      sorter.add(key, r);
      if (r % 1000 == 0) expected.push_back({key, r});
    }
    sorter.finish();
    EXPECT_GE(sorter.runs(), 2u);
    EXPECT_EQ(sorter.runs_on_disk() > 0, some_on_disk);
    std::string key, previous;
    std::uint32_t recno = 0, previous_recno = 0, count = 0;
    std::size_t sampled = 0;
    while (sorter.next(key, recno)) {
      if (count++ > 0) {
        const int c = compare_keys(KeyType::Character, previous, key);
        ASSERT_TRUE(c < 0 || (c == 0 && previous_recno < recno)) << count;
      }
      if (recno % 1000 == 0) {
        ++sampled;
        EXPECT_EQ(key, std::find_if(expected.begin(), expected.end(), [&](auto& e) { return e.second == recno; })->first);
      }
      previous = key, previous_recno = recno;
    }
    EXPECT_EQ(count, n);
    EXPECT_EQ(sampled, expected.size());
  }
  // The run files go with the sorter.
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().rfind("zuvsort_", 0), std::string::npos) << entry.path();
}

// The sorter gives back every pair of want, in collation order, ties by record number.
void expect_in_collation_order(KeySorter& sorter, std::vector<std::pair<std::string, std::uint32_t>> want) {
  std::sort(want.begin(), want.end(), [](const auto& a, const auto& b) {
    const int c = compare_keys(KeyType::Character, a.first, b.first);
    return c < 0 || (c == 0 && a.second < b.second);
  });
  std::string key;
  std::uint32_t recno = 0;
  std::size_t i = 0;
  while (sorter.next(key, recno)) {
    ASSERT_LT(i, want.size());
    ASSERT_EQ(key, want[i].first) << i;
    ASSERT_EQ(recno, want[i].second) << i;
    ++i;
  }
  EXPECT_EQ(i, want.size());
}

TEST(KeySort, RunsStayInMemoryWithinTheBudgetAndGoToFilesBeyondIt) {
  {
    SCOPED_TRACE("every run in memory");
    expect_sorted_whatever_the_budget(std::size_t(16) << 20, false);
  }
  {
    SCOPED_TRACE("the first runs in memory, the rest in files");
    expect_sorted_whatever_the_budget(std::size_t(8) << 20, true);
  }
}

// Long keys that agree in their first 16 bytes and more, and short ones with few
// distinct bytes: the order must be the collation's, ties by record number, the same
// whether a buffer holds them all or several runs are merged.
TEST(KeySort, KeysSharingLongStretchesComeOutInCollationOrder) {
  const std::string dir = testing::scratch_dir("key_sort_long");
  const std::string letters = "0a\xA5" "A \x88" "Z";
  for (int length : {3, 12, 30}) {
    for (std::size_t budget : {std::size_t(64) << 20, std::size_t(1) << 20}) {
      std::mt19937 random(static_cast<unsigned>(length));
      std::vector<std::pair<std::string, std::uint32_t>> want;
      KeySorter sorter(KeyType::Character, length, budget, dir);
      sorter.expect(150000);
      for (std::uint32_t r = 1; r <= 150000; ++r) {
        std::string key(std::size_t(length), '0');
        for (int i = std::max(0, length - 4); i < length; ++i) key[std::size_t(i)] = letters[random() % letters.size()];
        if (length > 20 && r % 3 == 0) key[5] = '\xA5';
        sorter.add(key, r);
        want.push_back({key, r});
      }
      sorter.finish();
      EXPECT_EQ(sorter.runs() > 1, budget < (std::size_t(2) << 20)) << length;
      SCOPED_TRACE("length " + std::to_string(length));
      expect_in_collation_order(sorter, std::move(want));
    }
  }
}

// Short keys sorted in their slots: added in record order they take the passes that
// keep ties as they came; added out of order (a caller's own numbering), ties must still
// come out by record number; keys that differ in more bits than the passes take (twelve
// bytes of any letter) are sorted the other way, to the same order.
TEST(KeySort, ShortKeysComeOutByKeyThenRecordWhateverOrderTheyCameIn) {
  const std::string dir = testing::scratch_dir("key_sort_short");
  const std::string letters = "0a\xA5" "A \x88" "Zz9";
  for (int kind = 0; kind < 3; ++kind) {
    const bool ascending = kind != 1, wide = kind == 2;
    std::mt19937 random(unsigned(3 + kind));
    std::vector<std::uint32_t> recnos(200000);
    for (std::uint32_t i = 0; i < recnos.size(); ++i) recnos[i] = i + 1;
    if (!ascending) std::shuffle(recnos.begin(), recnos.end(), random);
    KeySorter sorter(KeyType::Character, wide ? 12 : 6, std::size_t(64) << 20, dir);
    std::vector<std::pair<std::string, std::uint32_t>> want;
    for (std::uint32_t r : recnos) {
      std::string key;
      if (wide) {
        for (int i = 0; i < 12; ++i) key += letters[random() % letters.size()];
      } else {
        key = "00" + std::to_string(random() % 3000);
        key.resize(6, ' ');
      }
      sorter.add(key, r);
      want.push_back({key, r});
    }
    SCOPED_TRACE(wide ? "differing in many bits" : ascending ? "in record order" : "out of order");
    expect_in_collation_order(sorter, std::move(want));
  }
}

}  // namespace
}  // namespace zuv::table
