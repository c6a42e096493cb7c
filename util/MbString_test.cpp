#include "util/MbString.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace {

// In Shift_JIS "\x95\x5C" is one character whose trail byte is a backslash
// and "\x83\x7C" one whose trail byte is "|".
constexpr char c_szSjisBackslashTrail[] = "\x95\x5C";

TEST(MbStringTest, TrimRemovesOnlyTheSixWhiteSpaceBytes) {
  EXPECT_EQ(MbTrim(" \t\n\v\f\rhost \t\n\v\f\r"), "host");
  EXPECT_EQ(MbTrim("  a b  "), "a b");
  EXPECT_EQ(MbTrim(" \t "), "");
  EXPECT_EQ(MbTrim(""), "");
  // A non-breaking space (UTF-8 and Latin-1) and other control bytes stay.
  EXPECT_EQ(MbTrim("\xC2\xA0x\x01"), "\xC2\xA0x\x01");
}

TEST(MbStringTest, FindSkipsTrailBytesOfDoubleByteCharacters) {
  CScopedLocale locale("ja_JP.SJIS");
  if (!locale.IsActive()) GTEST_SKIP() << "ja_JP.SJIS test locale not built";
  const std::string strDir = std::string("C:\\a") + c_szSjisBackslashTrail;  // C:\a + one char
  EXPECT_EQ(MbReverseFind(strDir, '\\'), 2u);
  EXPECT_EQ(MbFind(std::string(c_szSjisBackslashTrail) + "\\", '\\'), 2u);
  EXPECT_EQ(MbFind("x\x83\x7C", '|'), std::string_view::npos);
  // The same bytes in the C locale are two characters each.
  CScopedLocale plain("C");
  EXPECT_EQ(MbReverseFind(strDir, '\\'), 5u);
}

TEST(MbStringTest, TrimKeepsADoubleByteCharacterWhole) {
  CScopedLocale locale("ja_JP.SJIS");
  if (!locale.IsActive()) GTEST_SKIP() << "ja_JP.SJIS test locale not built";
  EXPECT_EQ(MbTrim(" \x95\x5C "), "\x95\x5C");
}

TEST(MbStringTest, FindWalksInvalidBytesOneAtATime) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  // A lone lead byte, a truncated sequence at the end, and a real comma.
  EXPECT_EQ(MbFind("\xE3,", ','), 1u);
  EXPECT_EQ(MbReverseFind("a,\xE3\x81", ','), 1u);
  EXPECT_EQ(MbFind("\xE3\x81\x82,", ','), 3u);
}

TEST(MbStringTest, TruncateNeverCutsACharacterInTwo) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  EXPECT_EQ(MbTruncate("abcdef", 4), "abcd");
  EXPECT_EQ(MbTruncate("ab", 4), "ab");
  EXPECT_EQ(MbTruncate("a\xE3\x81\x82", 3), "a");  // "a" + one 3-byte character
  EXPECT_EQ(MbTruncate("a\xE3\x81\x82", 4), "a\xE3\x81\x82");
}

TEST(MbStringTest, EqualsNoCaseComparesWholeStrings) {
  EXPECT_TRUE(EqualsNoCase("OiD", "oid"));
  EXPECT_FALSE(EqualsNoCase("oids", "oid"));
  EXPECT_FALSE(EqualsNoCase("oi", "oid"));
  EXPECT_FALSE(EqualsNoCase("o d", "oid"));
}

}  // namespace
