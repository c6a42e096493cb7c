#include "platform/MapStringToString.h"

#include <gtest/gtest.h>

#include <string>
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

}  // namespace
