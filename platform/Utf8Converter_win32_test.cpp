// The Windows converter's names of code pages.
#include <gtest/gtest.h>

#include "platform/Utf8Converter.h"

namespace {

TEST(CUtf8ConverterWindowsTest, CodePagesGoByNumberAndByCommonName) {
  for (const char* szName : {"932", "CP932", "cp932", "Shift_JIS", "SJIS", "MS_KANJI"}) {
    CUtf8Converter converter(szName);
    EXPECT_EQ(converter.Charset(), szName);
    EXPECT_EQ(converter.ToUtf8("\x93\xFA\x96\x7B"), "\xE6\x97\xA5\xE6\x9C\xAC") << szName;  // "Nihon"
  }
  for (const char* szName : {"1252", "windows-1252", "CP1252"})
    EXPECT_EQ(CUtf8Converter(szName).ToUtf8("\x80"), "\xE2\x82\xAC") << szName;  // the euro sign
  EXPECT_EQ(CUtf8Converter("ISO-8859-15").ToUtf8("\xA4"), "\xE2\x82\xAC");
  EXPECT_EQ(CUtf8Converter("ISO-8859-1").ToUtf8("\xA4"), "\xC2\xA4");
  EXPECT_EQ(CUtf8Converter("utf-8").Charset(), "UTF-8");
}

TEST(CUtf8ConverterWindowsTest, NamesOfNoCodePageFallBackToTheLocale) {
  // UTF-16 is no code set of narrow text; 99999 and ISO-8859-17 do not exist.
  const std::string strLocales = CUtf8Converter("").Charset();
  for (const char* szName : {"UTF-16LE", "99999", "ISO-8859-17", "CP", "WINDOWS-"})
    EXPECT_EQ(CUtf8Converter(szName).Charset(), strLocales) << szName;
}

TEST(CUtf8ConverterWindowsTest, DoubleByteTextIsCutBetweenCharacters) {
  CUtf8Converter sjis("932");
  // "Nihon" is two double-byte characters: a cut after 3 bytes keeps one.
  EXPECT_EQ(sjis.CharBoundary("\x93\xFA\x96\x7B", 3), 2u);
  EXPECT_EQ(sjis.CharBoundary("a\x93\xFA\x96\x7B", 3), 3u);
  EXPECT_FALSE(sjis.IsValidText("ab\x93")) << "a lead byte cut off at the end";
}

}  // namespace
