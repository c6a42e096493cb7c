#include "util/MapStringToString.h"

#include <gtest/gtest.h>

#include <array>
#include <forward_list>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::vector<std::string> Keys(const CMapStringToString& map) {
  std::vector<std::string> arrKeys;
  map.ForEach([&](const std::string& strKey, const std::string&) { arrKeys.push_back(strKey); });
  return arrKeys;
}

TEST(CMapStringToStringTest, HashesAsTheStrideHash) {
  EXPECT_EQ(CMapStringToString::HashKey("1.3.6.1.2.1.1.1.0"), 673361205u);
  EXPECT_EQ(CMapStringToString::HashKey("1.3.6.1.2.1.1.3.0"), 639805935u);
  EXPECT_EQ(CMapStringToString::HashKey(""), 2166136261u);
  EXPECT_EQ(CMapStringToString::HashKey("a"), 84696446u);
  // Bytes above 0x7F count as negative: sign-extended, not zero-extended.
  EXPECT_EQ(CMapStringToString::HashKey("\xE9t\xE9"), 947716075u);
}

TEST(CMapStringToStringTest, IteratesByBucketNewestFirst) {
  CMapStringToString map;
  for (const char* szKey :
       {"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.4.0",
        "1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.7.0", "1.3.6.1.2.1.2.1.0", "a",
        "\xE9t\xE9", "1.3.6.1.2.1.1.3"})
    map[szKey] = szKey;
  // Buckets 0, 1, 3, 4, 5, 6 (two keys, the newer first), 7, 11, 15, 16.
  EXPECT_EQ(Keys(map), (std::vector<std::string>{
                           "1.3.6.1.2.1.2.1.0", "1.3.6.1.2.1.1.4.0", "1.3.6.1.2.1.1.7.0",
                           "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.3",
                           "1.3.6.1.2.1.1.2.0", "\xE9t\xE9", "1.3.6.1.2.1.1.1.0", "a",
                           "1.3.6.1.2.1.1.5.0"}));
}

TEST(CMapStringToStringTest, StoringAgainReplacesTheValueInPlace) {
  CMapStringToString map;
  map["1.3.6.1.2.1.1.2.0"] = "first";
  map["1.3.6.1.2.1.1.3"] = "other";
  map["1.3.6.1.2.1.1.2.0"] = "second";
  EXPECT_EQ(map.GetCount(), 2u);
  std::string strValue;
  ASSERT_TRUE(map.Lookup("1.3.6.1.2.1.1.2.0", &strValue));
  EXPECT_EQ(strValue, "second");
  EXPECT_EQ(Keys(map), (std::vector<std::string>{"1.3.6.1.2.1.1.3", "1.3.6.1.2.1.1.2.0"}));
}

TEST(CMapStringToStringTest, LookupIsExact) {
  CMapStringToString map;
  map[".1.3.6.1.2.1.1.3.0"] = "dotted";
  map["1.3.6.1.2.1.1.3"] = "short";
  std::string strValue = "unchanged";
  EXPECT_FALSE(map.Lookup("1.3.6.1.2.1.1.3.0", &strValue));
  EXPECT_EQ(strValue, "unchanged");
  map[""] = "";
  EXPECT_TRUE(map.Lookup("", &strValue));
  EXPECT_EQ(map.GetCount(), 3u);
}

TEST(CMapStringToStringTest, ManyKeysKeepTheirOrderAndValues) {
  CMapStringToString map;
  for (int i = 0; i < 20000; ++i) map["1.3.6.1.2.1.2.2.1.10." + std::to_string(i)] = std::to_string(i);
  EXPECT_EQ(map.GetCount(), 20000u);
  uint32_t uLastBucket = 0;
  size_t nVisited = 0;
  map.ForEach([&](const std::string& strKey, const std::string& strValue) {
    const uint32_t uBucket = CMapStringToString::HashKey(strKey) % CMapStringToString::c_nBuckets;
    EXPECT_GE(uBucket, uLastBucket);
    uLastBucket = uBucket;
    EXPECT_EQ(strKey.substr(strKey.rfind('.') + 1), strValue);
    ++nVisited;
  });
  EXPECT_EQ(nVisited, 20000u);
}

// The map as it was first built, one list node and two strings per entry:
// the model the packed map must match in every order and value.
class CListMap {
 public:
  void Set(const std::string& strKey, const std::string& strValue) {
    const auto it = m_index.find(strKey);
    if (it != m_index.end()) {
      it->second->second = strValue;
      return;
    }
    auto& bucket = m_buckets[CMapStringToString::HashKey(strKey) % CMapStringToString::c_nBuckets];
    m_index.emplace(strKey, &bucket.emplace_front(strKey, strValue));
  }
  std::vector<std::pair<std::string, std::string>> Entries() const {
    std::vector<std::pair<std::string, std::string>> arrEntries;
    for (const auto& bucket : m_buckets) arrEntries.insert(arrEntries.end(), bucket.begin(), bucket.end());
    return arrEntries;
  }

 private:
  std::array<std::forward_list<std::pair<std::string, std::string>>, CMapStringToString::c_nBuckets> m_buckets;
  std::unordered_map<std::string, std::pair<std::string, std::string>*> m_index;
};

std::vector<std::pair<std::string, std::string>> Entries(const CMapStringToString& map) {
  std::vector<std::pair<std::string, std::string>> arrEntries;
  map.ForEach([&](const std::string& strKey, const std::string& strValue) { arrEntries.emplace_back(strKey, strValue); });
  return arrEntries;
}

// Random keys and values of every length class (empty, one length byte, two,
// three; longer than a text block), stored again longer, shorter, empty;
// then everything removed and stored anew.
TEST(CMapStringToStringTest, MatchesTheListMapInOrderAndValues) {
  std::mt19937 random(20261207);
  const auto text = [&](size_t nMax) {
    std::string strText(std::uniform_int_distribution<size_t>(0, nMax)(random), '\0');
    for (char& ch : strText) ch = static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random));
    return strText;
  };
  for (int nRound = 0; nRound < 2; ++nRound) {
    CMapStringToString map;
    CListMap model;
    std::vector<std::string> arrKeys;
    for (int i = 0; i < 30000; ++i) {
      const int nKind = std::uniform_int_distribution<int>(0, 99)(random);
      std::string strKey = nKind < 25 && !arrKeys.empty()
                               ? arrKeys[std::uniform_int_distribution<size_t>(0, arrKeys.size() - 1)(random)]
                               : "1.3.6.1." + std::to_string(i % 97) + "." + text(nKind < 27 ? 300 : 12);
      // Two texts longer than a block of the arena.
      const std::string strValue = i == 100 || i == 20000 ? text(2u << 20) : nKind == 99 ? text(20000) : text(40);
      map[strKey] = strValue;
      model.Set(strKey, strValue);
      arrKeys.push_back(std::move(strKey));
      if (i % 7919 == 0) {
        ASSERT_EQ(Entries(map), model.Entries()) << "after " << i;
      }
    }
    ASSERT_EQ(Entries(map), model.Entries());
    for (const auto& [strKey, strValue] : model.Entries()) {
      std::string strFound;
      ASSERT_TRUE(map.Lookup(strKey, &strFound));
      ASSERT_EQ(strFound, strValue);
    }
    EXPECT_EQ(map.GetCount(), model.Entries().size());
    map.RemoveAll();
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(map.HeldBytes(), 0u);
    std::string strFound;
    EXPECT_FALSE(map.Lookup(arrKeys.front(), &strFound));
    map["1.1"] = "again";
    EXPECT_EQ(Entries(map), (std::vector<std::pair<std::string, std::string>>{{"1.1", "again"}}));
  }
}

// What a large device's walk costs in the map: a route table's OIDs and
// values take little more than their own bytes; an empty map, nothing.
TEST(CMapStringToStringTest, EntriesCostLittleMoreThanTheirTexts) {
  CMapStringToString map;
  EXPECT_EQ(map.HeldBytes(), 0u);
  size_t nTextBytes = 0;
  constexpr int c_nEntries = 200000;
  for (int i = 0; i < c_nEntries; ++i) {
    const std::string strKey = "1.3.6.1.2.1.4.21.1." + std::to_string(i % 10 + 1) + ".10." + std::to_string(i / 65536) +
                               "." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
    const std::string strValue = std::to_string(i * 7919u);
    map[strKey] = strValue;
    nTextBytes += strKey.size() + strValue.size();
  }
  const double dOverhead = static_cast<double>(map.HeldBytes() - nTextBytes) / c_nEntries;
  EXPECT_LT(dOverhead, 40.0) << "bytes per entry beyond its texts";
}

// A walk hands its map on by moving it: the entries, their order and
// their lookup go with it, and the map left behind is empty and usable.
TEST(CMapStringToStringTest, MovingTakesEveryEntryAndLeavesAnEmptyMap) {
  CMapStringToString map;
  for (int i = 0; i < 1000; ++i) map["1.3.6.1." + std::to_string(i)] = std::to_string(i);
  std::vector<std::string> arrOrder;
  map.ForEach([&](const std::string& strKey, const std::string&) { arrOrder.push_back(strKey); });
  CMapStringToString moved(std::move(map));
  EXPECT_TRUE(map.IsEmpty());  // NOLINT(bugprone-use-after-move): an empty map is the promise
  std::string strValue;
  EXPECT_FALSE(map.Lookup("1.3.6.1.5", &strValue));
  map["1.1"] = "again";
  EXPECT_EQ(map.GetCount(), 1u);
  std::vector<std::string> arrMovedOrder;
  moved.ForEach([&](const std::string& strKey, const std::string&) { arrMovedOrder.push_back(strKey); });
  EXPECT_EQ(arrMovedOrder, arrOrder);
  ASSERT_TRUE(moved.Lookup("1.3.6.1.5", &strValue));
  EXPECT_EQ(strValue, "5");
  moved = std::move(map);
  EXPECT_EQ(moved.GetCount(), 1u);
  ASSERT_TRUE(moved.Lookup("1.1", &strValue));
  EXPECT_EQ(strValue, "again");
}

}  // namespace
