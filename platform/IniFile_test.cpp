#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace {

TEST(ParseProfileIntTest, ReadsLikeTheWindowsProfileFunctions) {
  struct {
    const char* szText;
    int nExpected;
    const char* szReason;
  } const rows[] = {
      {"500", 500, "plain decimal"},
      {"", 7, "empty value gives the default"},
      {"abc", 0, "no digits is zero, not the default"},
      {"12abc", 12, "reading stops at the first non-digit"},
      {"-250", -250, "negative numbers are taken as they are"},
      {"+3", 3, "a plus sign is allowed"},
      {"  42", 42, "leading blanks are skipped"},
      {"0x10", 16, "hexadecimal after 0x"},
      {"0o17", 15, "octal after 0o"},
      {"0b101", 5, "binary after 0b"},
      {"-0x10", -16, "a sign before the prefix"},
      {"0X10", 0, "an upper-case prefix is no prefix: reading stops at the X"},
      {"0x1g", 1, "reading stops at the first digit outside the base"},
      {"019", 19, "a leading zero alone is still decimal"},
      {"1.5", 1, "no fractions"},
      {"-", 0, "a sign alone is zero"},
      {"4294967297", 1, "past 32 bits the value wraps"},
      {"2147483648", -2147483647 - 1, "wraps into the negative range"},
  };
  // The same values read from a file: on Windows by the profile functions
  // themselves, so both systems are held to their reading.
  CTempDir dir;
  std::string strIni = "[S]\n";
  for (size_t i = 0; i < std::size(rows); ++i) strIni += "K" + std::to_string(i) + "=" + rows[i].szText + "\n";
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile("t.ini", strIni)));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].szReason);
    EXPECT_EQ(ParseProfileInt(rows[i].szText, 7), rows[i].nExpected) << '"' << rows[i].szText << '"';
    EXPECT_EQ(ini.GetInt("S", ("K" + std::to_string(i)).c_str(), 7), rows[i].nExpected)
        << "from the file: \"" << rows[i].szText << '"';
  }
}

TEST(CIniFileTest, MissingFileGivesEveryDefault) {
  CTempDir dir;
  CIniFile ini;
  EXPECT_FALSE(ini.Load((dir.Path() / "absent.ini").string()));
  EXPECT_EQ(ini.GetInt("Config", "Timeout", 500), 500);
  EXPECT_EQ(ini.GetString("Config", "Community", "def", 1023), "def");
}

TEST(CIniFileTest, NamesCompareWithoutRegardToCase) {
  CTempDir dir;
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile("a.ini", "[CONFIG]\ntimeOUT = 900\n")));
  EXPECT_EQ(ini.GetInt("Config", "Timeout", 500), 900);
}

TEST(CIniFileTest, KeysOfAnotherSectionAreNotSeen) {
  CTempDir dir;
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile("a.ini", "[Other]\nTimeout=900\nCommunity=x\n")));
  EXPECT_EQ(ini.GetInt("Config", "Timeout", 500), 500);
  EXPECT_EQ(ini.GetString("Config", "Community", "def", 1023), "def");
}

TEST(CIniFileTest, EmptyStringValueIsNotTheDefault) {
  CTempDir dir;
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile("a.ini", "[Config]\nCommunity=\nRetry=\n")));
  EXPECT_EQ(ini.GetString("Config", "Community", "def", 1023), "");
  EXPECT_EQ(ini.GetInt("Config", "Retry", 3), 3);  // as GetPrivateProfileInt does
}

TEST(CIniFileTest, ValuesLoseBlanksAndOnePairOfQuotes) {
  CTempDir dir;
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile(
      "a.ini", "[Config]\nA =  two words  \nB=\"quoted \"\nC='x'\nD=\"half\nE=a;b\n")));
  EXPECT_EQ(ini.GetString("Config", "A", "", 1023), "two words");
  EXPECT_EQ(ini.GetString("Config", "B", "", 1023), "quoted ");
  EXPECT_EQ(ini.GetString("Config", "C", "", 1023), "x");
  EXPECT_EQ(ini.GetString("Config", "D", "", 1023), "\"half");
  EXPECT_EQ(ini.GetString("Config", "E", "", 1023), "a;b");  // no comment mid-line
}

// Sections in file order, a section written twice once; a key set to
// nothing is set.
TEST(CIniFileTest, SectionsInFileOrderAndKeysThatAreSet) {
  CTempDir dir;
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile(
      "a.ini", "[Target b*]\nPort=1\n[Config]\nCommunity=\n[Target 10.0.0.0/8]\n[Target b*]\nRetry=2\n")));
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Target b*", "Config", "Target 10.0.0.0/8"}));
  EXPECT_TRUE(ini.HasKey("Config", "community"));
  EXPECT_FALSE(ini.HasKey("Config", "Port"));
  EXPECT_TRUE(ini.HasKey("Target b*", "Port"));
  EXPECT_FALSE(ini.HasKey("Target 10.0.0.0/8", "Port"));
  CIniFile missing;
  EXPECT_FALSE(missing.Load((dir.Path() / "absent.ini").string()));
  EXPECT_TRUE(missing.SectionNames().empty());
  EXPECT_FALSE(missing.HasKey("Config", "Port"));
}

TEST(CIniFileTest, FirstOfTwoEqualKeysCounts) {
  CTempDir dir;
  CIniFile ini;
  ASSERT_TRUE(ini.Load(dir.WriteFile("a.ini", "[Config]\nRetry=1\nretry=2\n")));
  EXPECT_EQ(ini.GetInt("Config", "Retry", 3), 1);
}

TEST(CIniFileTest, LongValueIsReadWholeThenCut) {
  CTempDir dir;
  CIniFile ini;
  const std::string strLong(1500, 'c');
  ASSERT_TRUE(ini.Load(dir.WriteFile("a.ini", "[Config]\r\nCommunity=" + strLong + "\r\n")));
  EXPECT_EQ(ini.GetString("Config", "Community", "", 1023), strLong.substr(0, 1023));
  EXPECT_EQ(ini.GetString("Config", "Community", "", 2000), strLong);
}

}  // namespace
