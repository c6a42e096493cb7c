#include "platform/Utf8Converter.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace {

constexpr char c_szFffd[] = "\xEF\xBF\xBD";

TEST(CUtf8ConverterTest, ReadsTheNamedCodeSet) {
  CUtf8Converter latin1("ISO-8859-1");
  EXPECT_EQ(latin1.Charset(), "ISO-8859-1");
  EXPECT_EQ(latin1.ToUtf8("caf\xE9"), "caf\xC3\xA9");
  CUtf8Converter sjis("SHIFT_JIS");
  EXPECT_EQ(sjis.ToUtf8("\x93\xFA\x96\x7B OK"), "\xE6\x97\xA5\xE6\x9C\xAC OK");  // "Nihon OK"
  EXPECT_EQ(sjis.ToUtf8("ab\x93"), std::string("ab") + c_szFffd) << "lead byte cut off at the end";
}

TEST(CUtf8ConverterTest, UnknownCodeSetFallsBackToTheLocale) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  CUtf8Converter converter("NO-SUCH-CHARSET");
  EXPECT_EQ(converter.Charset(), "UTF-8");
  EXPECT_EQ(converter.ToUtf8("\xC3\xA9"), "\xC3\xA9");
}

TEST(CUtf8ConverterTest, InvalidUtf8BecomesReplacementCharacters) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  CUtf8Converter converter;
  EXPECT_EQ(converter.ToUtf8("a\xFF" "b"), std::string("a") + c_szFffd + "b");
  EXPECT_EQ(converter.ToUtf8("\xC0\xAF"), std::string(c_szFffd) + c_szFffd) << "overlong";
  EXPECT_EQ(converter.ToUtf8("\xED\xA0\x80"), std::string(c_szFffd) + c_szFffd + c_szFffd)
      << "surrogate";
  EXPECT_EQ(converter.ToUtf8("\xE6\x97"), std::string(c_szFffd) + c_szFffd) << "cut off";
  EXPECT_EQ(converter.ToUtf8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80") << "outside the BMP";
}

TEST(CUtf8ConverterTest, CharactersXmlForbidsBecomeReplacementCharacters) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  CUtf8Converter converter;
  EXPECT_EQ(converter.ToUtf8("a\x01" "b"), std::string("a") + c_szFffd + "b");
  EXPECT_EQ(converter.ToUtf8("\t\r\n"), "\t\r\n");
  EXPECT_EQ(converter.ToUtf8("\xEF\xBF\xBE"), c_szFffd) << "U+FFFE";
  CUtf8Converter latin1("ISO-8859-1");
  EXPECT_EQ(latin1.ToUtf8("\x7F\x85"), "\x7F\xC2\x85") << "DEL and NEL are XML characters";
  EXPECT_EQ(latin1.ToUtf8("\x0B\xE9"), std::string(c_szFffd) + "\xC3\xA9");
}

TEST(CUtf8ConverterTest, PlainCLocaleReadsUtf8) {
  CScopedLocale locale("C");
  CUtf8Converter converter;
  EXPECT_EQ(converter.Charset(), "UTF-8");
  EXPECT_EQ(converter.ToUtf8("1.3.6.1"), "1.3.6.1");
  EXPECT_EQ(converter.ToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_TRUE(converter.IsValidText("caf\xC3\xA9"));
  EXPECT_FALSE(converter.IsValidText("caf\xE9"));
  EXPECT_EQ(converter.ToUtf8("caf\xE9"), std::string("caf") + c_szFffd) << "the safety net";
}

TEST(CUtf8ConverterTest, StatefulCodeSetsAreCheckedWhole) {
  CUtf8Converter jis("ISO-2022-JP");
  if (jis.Charset() != "ISO-2022-JP") GTEST_SKIP() << "no ISO-2022-JP code page here (wine has none)";
  EXPECT_TRUE(jis.IsValidText("\x1B$B;z\x1B(B ok"));
  EXPECT_FALSE(jis.IsValidText("\x1B$B;")) << "a character cut in half";
}

}  // namespace
