#include "util/TextStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(TextStoreTest, TextsStayWhereTheyWereAddedAcrossBlocks) {
  CTextStore store;
  std::vector<std::pair<std::string, std::string_view>> arrAdded;
  // Enough to fill several blocks, with a text longer than a block among
  // them: each must still read as it was added.
  for (size_t i = 0; i < 30000; ++i) {
    std::string strText = "line " + std::to_string(i) + std::string(i % 400, static_cast<char>('a' + i % 26));
    if (i == 12345) strText.assign(CTextStore::c_nBlock + 17, 'z');
    arrAdded.emplace_back(strText, store.Add(strText));
  }
  for (const auto& [strText, view] : arrAdded) ASSERT_EQ(view, strText);
  EXPECT_GE(store.Capacity(), 30000u * 5 + CTextStore::c_nBlock);
  EXPECT_LT(store.Capacity(), 8 * CTextStore::c_nBlock);
  EXPECT_TRUE(store.Add("").empty());
}
