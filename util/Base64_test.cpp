#include "util/Base64.h"

#include <gtest/gtest.h>

namespace {

TEST(Base64LinesTest, EncodesTheRfcVectorsOnCrLfLines) {
  EXPECT_EQ(Base64Lines(""), "");
  EXPECT_EQ(Base64Lines("f"), "Zg==\r\n");
  EXPECT_EQ(Base64Lines("fo"), "Zm8=\r\n");
  EXPECT_EQ(Base64Lines("foo"), "Zm9v\r\n");
  EXPECT_EQ(Base64Lines("foobar"), "Zm9vYmFy\r\n");
  EXPECT_EQ(Base64Lines(std::string("\x00\xff\xfe", 3)), "AP/+\r\n");
}

TEST(Base64LinesTest, BreaksLinesAfterSixtyFourCharacters) {
  EXPECT_EQ(Base64Lines(std::string(48, '\0')), std::string(64, 'A') + "\r\n");
  EXPECT_EQ(Base64Lines(std::string(49, '\0')), std::string(64, 'A') + "\r\nAA==\r\n");
  // 300 bytes: 400 characters, six full lines and one of 16.
  const std::string strText = Base64Lines(std::string(300, '\x01'));
  EXPECT_EQ(strText.size(), 400u + 7 * 2);
  size_t nLines = 0;
  for (size_t nPos = 0; nPos < strText.size(); ++nLines) {
    const size_t nEnd = strText.find("\r\n", nPos);
    ASSERT_NE(nEnd, std::string::npos);
    EXPECT_EQ(nEnd - nPos, nLines < 6 ? 64u : 16u);
    nPos = nEnd + 2;
  }
  EXPECT_EQ(nLines, 7u);
}

}  // namespace
