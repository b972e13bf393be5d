#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "kernel/DelItemRegistry.h"
#include "tests/support/TestSupport.h"

namespace kestrel {
namespace {

std::u16string PathOf(const DelItem& item) {
  return std::u16string(reinterpret_cast<const char16_t*>(item.path));
}

TEST(DelItemRegistry, CopiesWholeRecordsInCreationOrder) {
  DelItemRegistry r;
  ASSERT_TRUE(r.Append(u"C:\\Deleted\\a.txt", 16, 0, 5, 123));
  ASSERT_TRUE(r.Append(u"C:\\Deleted\\b.txt", 17, 1, 5000000000ull, 456));
  ASSERT_EQ(r.Count(), 2u);
  DelItem item;
  std::memset(&item, 0xAB, sizeof item);
  ASSERT_TRUE(r.CopyOut(1, &item));
  EXPECT_EQ(PathOf(item), u"C:\\Deleted\\b.txt");
  EXPECT_EQ(item.idLow, 17u);
  EXPECT_EQ(item.idHigh, 1u);
  EXPECT_EQ(item.size, 5000000000ull);
  EXPECT_EQ(item.modified, 456u);
  // The whole path field is cleared behind the terminator: no stale bytes.
  for (size_t i = PathOf(item).size(); i < 1024; ++i) ASSERT_EQ(item.path[i], 0) << i;
  EXPECT_FALSE(r.CopyOut(2, &item));
  EXPECT_FALSE(r.CopyOut(0, nullptr));
}

TEST(DelItemRegistry, FirstItemWithAnIdWins) {
  DelItemRegistry r;
  r.Append(u"first", 7, 0, 1, 0);
  r.Append(u"second", 7, 0, 2, 0);
  r.Append(u"other high half", 7, 1, 3, 0);
  DelItem item;
  ASSERT_TRUE(r.FindById(7, 0, &item));
  EXPECT_EQ(PathOf(item), u"first");
  ASSERT_TRUE(r.FindById(7, 1, &item));
  EXPECT_EQ(PathOf(item), u"other high half");
  std::memset(&item, 0x5A, sizeof item);
  EXPECT_FALSE(r.FindById(8, 0, &item));
  EXPECT_EQ(item.idLow, 0x5A5A5A5Au) << "a miss leaves the buffer untouched";
}

// The id index is built on look-up: items appended after a look-up are
// still found, and an earlier item keeps its id against a later one.
TEST(DelItemRegistry, LookUpsBetweenAppendsSeeLaterItems) {
  DelItemRegistry r;
  DelItem item;
  r.Append(u"a", 1, 0, 1, 0);
  ASSERT_TRUE(r.FindById(1, 0, &item));
  EXPECT_FALSE(r.FindById(2, 0, &item));
  r.Append(u"b", 2, 0, 2, 0);
  r.Append(u"a again", 1, 0, 3, 0);
  ASSERT_TRUE(r.FindById(2, 0, &item));
  EXPECT_EQ(PathOf(item), u"b");
  ASSERT_TRUE(r.FindById(1, 0, &item));
  EXPECT_EQ(PathOf(item), u"a");
  r.Clear();
  r.Append(u"new", 1, 0, 4, 0);
  ASSERT_TRUE(r.FindById(1, 0, &item));
  EXPECT_EQ(PathOf(item), u"new") << "the index does not outlive Clear";
}

// Ascending ids (an MFT walk) are looked up without the map, in any order.
TEST(DelItemRegistry, AscendingIdsAreFoundInAnyOrder) {
  DelItemRegistry r;
  r.Append(u"ten", 10, 0, 1, 0);
  r.Append(u"twenty", 20, 0, 2, 0);
  r.Append(u"high", 5, 1, 3, 0);
  DelItem item;
  for (auto [low, high, path] : {std::tuple{5u, 1u, u"high"}, {10u, 0u, u"ten"}, {20u, 0u, u"twenty"},
                                 {20u, 0u, u"twenty"}, {10u, 0u, u"ten"}}) {
    ASSERT_TRUE(r.FindById(low, high, &item)) << low;
    EXPECT_EQ(PathOf(item), path);
  }
  EXPECT_FALSE(r.FindById(15, 0, &item));
  EXPECT_FALSE(r.FindById(6, 1, &item));
}

TEST(DelItemRegistry, PathsAreCutAt1023UnitsAndTerminated) {
  DelItemRegistry r;
  std::u16string exact(1023, u'x');
  std::u16string longer(1500, u'y');
  r.Append(exact, 1, 0, 0, 0);
  r.Append(longer, 2, 0, 0, 0);
  DelItem item;
  ASSERT_TRUE(r.CopyOut(0, &item));
  EXPECT_EQ(PathOf(item).size(), 1023u);
  EXPECT_EQ(item.path[1023], 0);
  ASSERT_TRUE(r.CopyOut(1, &item));
  EXPECT_EQ(PathOf(item).size(), 1023u);
}

TEST(DelItemRegistry, ClearForgetsItemsAndIds) {
  DelItemRegistry r;
  r.Append(u"a", 1, 0, 0, 0);
  r.Clear();
  DelItem item;
  EXPECT_EQ(r.Count(), 0u);
  EXPECT_FALSE(r.FindById(1, 0, &item));
  r.Append(u"b", 1, 0, 0, 0);
  ASSERT_TRUE(r.FindById(1, 0, &item));
  EXPECT_EQ(PathOf(item), u"b");
}

// Many items of every path length, the longest included, fill several
// storage blocks: each still copies out whole (exact path, cleared tail,
// its own numbers), in order and by id, also after a clear and a refill.
TEST(DelItemRegistry, ItemsAcrossManyBlocksCopyOutWhole) {
  DelItemRegistry r;
  auto pathFor = [](size_t i) {
    std::u16string p(i * 37 % 1024, u'a');  // lengths 0..1023, in no order
    for (size_t k = 0; k < p.size(); ++k) p[k] = static_cast<char16_t>(u'a' + (i + k) % 26);
    return p;
  };
  for (int round = 0; round < 2; ++round) {
    const size_t n = 10000 + 3 * round;
    for (size_t i = 0; i < n; ++i)
      ASSERT_TRUE(r.Append(pathFor(i), static_cast<uint32_t>(i), round, i * 3, i * 5));
    ASSERT_EQ(r.Count(), n);
    DelItem item;
    for (size_t i = 0; i < n; i += (i < 5000 ? 1 : 7)) {
      std::memset(&item, 0xAB, sizeof item);
      ASSERT_TRUE(r.CopyOut(i, &item));
      ASSERT_EQ(PathOf(item), pathFor(i)) << i;
      for (size_t k = pathFor(i).size(); k < 1024; ++k) ASSERT_EQ(item.path[k], 0) << i;
      ASSERT_EQ(item.idLow, i);
      ASSERT_EQ(item.size, i * 3);
      ASSERT_EQ(item.modified, i * 5);
    }
    ASSERT_TRUE(r.FindById(9999, round, &item));
    EXPECT_EQ(PathOf(item), pathFor(9999));
    EXPECT_FALSE(r.CopyOut(n, &item));
    r.Clear();
    EXPECT_EQ(r.Count(), 0u);
  }
}

}  // namespace
}  // namespace kestrel
