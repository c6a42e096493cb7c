#include "util/TypedEntries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::string KeyOf(const std::vector<uint32_t>& arrArcs) {
  std::string strKey;
  AppendSortableName(&strKey, arrArcs.data(), arrArcs.size());
  return strKey;
}

std::string Record(const std::vector<uint32_t>& arrArcs, uint8_t tag, std::string_view payload) {
  std::string strRecord;
  CTypedEntries::MakeRecord(&strRecord, KeyOf(arrArcs), tag, payload);
  return strRecord;
}

// Keys sort as their OIDs do, and give their text back, across the arcs
// where an arc's key changes length.
TEST(TypedEntriesTest, NameKeysSortAsTheirOidsAndGiveTheirTextBack) {
  const uint32_t arrEdges[] = {0, 1, 2, 127, 128, 255, 256, 65535, 65536, 16777215, 16777216, 2147483648u, 4294967295u};
  std::mt19937 random(7);
  std::vector<std::vector<uint32_t>> arrOids;
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint32_t> arrArcs(1 + random() % 6);
    for (uint32_t& uArc : arrArcs) uArc = arrEdges[random() % std::size(arrEdges)];
    arrOids.push_back(arrArcs);
  }
  for (size_t i = 0; i + 1 < arrOids.size(); ++i) {
    const auto& a = arrOids[i];
    const auto& b = arrOids[i + 1];
    EXPECT_EQ(a < b, KeyOf(a) < KeyOf(b)) << i;
    EXPECT_EQ(a == b, KeyOf(a) == KeyOf(b)) << i;
  }
  EXPECT_EQ(NameKeyText(KeyOf({1, 3, 6, 1, 4294967295u, 128, 0, 65536})), "1.3.6.1.4294967295.128.0.65536");
  EXPECT_EQ(NameKeyText(KeyOf({})), "");
}

TEST(TypedEntriesTest, SortPutsNamesInOrderAndEachNameGivesItsLastRecordOnce) {
  CTypedEntries typed;
  typed.AddRecord(Record({1, 3, 6, 1, 2, 1, 1, 5, 0}, 4, "first"));
  typed.AddRecord(Record({1, 3, 6, 1, 2, 1, 1, 3, 0}, 67, "100"));
  typed.AddRecord(Record({1, 3, 6, 1, 2, 1, 1, 5, 0}, 4, "second"));
  typed.AddRecord(Record({1, 3, 6, 1, 2, 1, 1, 200}, 2, "-1"));
  // A record larger than a block of its own.
  const std::string strLarge(300 * 1024, 'x');
  typed.AddRecord(Record({1, 3, 6, 1, 2, 1, 1, 1, 0}, 4, strLarge));
  typed.Sort();
  std::vector<std::string> arrSeen;
  typed.ForEach([&](std::string_view key, uint8_t tag, std::string_view payload) {
    arrSeen.push_back(NameKeyText(key) + "|" + std::to_string(tag) + "|" +
                      std::string(payload.size() > 10 ? "large" : payload));
  });
  EXPECT_EQ(arrSeen, (std::vector<std::string>{"1.3.6.1.2.1.1.1.0|4|large", "1.3.6.1.2.1.1.3.0|67|100",
                                               "1.3.6.1.2.1.1.5.0|4|second", "1.3.6.1.2.1.1.200|2|-1"}));
  CTypedEntries moved(std::move(typed));
  EXPECT_EQ(moved.GetRecordCount(), 5u);
  EXPECT_TRUE(typed.IsEmpty());
  moved.Clear();
  EXPECT_EQ(moved.HeldBytes(), 0u);
}

}  // namespace
