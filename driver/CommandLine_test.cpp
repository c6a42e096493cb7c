#include "driver/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "settings/Settings.h"
#include "tests/TestSupport.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Runs ParseCommandLine on "mibscan" followed by arrArgs, from the
// settings' initial values.
class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    g_bSystemMib = true;
    g_strStartOid.clear();
  }
  std::vector<std::string> Parse(std::vector<const char*> arrArgs) {
    arrArgs.insert(arrArgs.begin(), "/opt/mibscan/mibscan");
    std::vector<std::string> arrTargets;
    ParseCommandLine(static_cast<int>(arrArgs.size()), arrArgs.data(), &arrTargets);
    return arrTargets;
  }
};

TEST_F(CommandLineTest, NoArgumentsIsAnEmptyPlainList) {
  EXPECT_THAT(Parse({}), IsEmpty());
  EXPECT_TRUE(g_bSystemMib);
  EXPECT_EQ(g_strStartOid, "");
}

TEST_F(CommandLineTest, EmptyArgumentVectorIsAnEmptyPlainList) {
  std::vector<std::string> arrTargets;
  ParseCommandLine(0, nullptr, &arrTargets);
  EXPECT_THAT(arrTargets, IsEmpty());
  EXPECT_TRUE(g_bSystemMib);
}

TEST_F(CommandLineTest, OneArgumentIsTrimmedAndLeavesTheSystemGroup) {
  EXPECT_THAT(Parse({" 192.0.2.1 "}), ElementsAre("192.0.2.1"));
  EXPECT_FALSE(g_bSystemMib);
}

TEST_F(CommandLineTest, ListSkipsEmptyRunsBetweenCommas) {
  EXPECT_THAT(Parse({",a,, b ,"}), ElementsAre("a", "b"));
  EXPECT_FALSE(g_bSystemMib);
}

TEST_F(CommandLineTest, ListKeepsAWhiteSpacePieceAsAnEmptyTarget) {
  EXPECT_THAT(Parse({"a, ,b"}), ElementsAre("a", "", "b"));
  EXPECT_THAT(Parse({"a,\t\r\n,b"}), ElementsAre("a", "", "b"));
}

TEST_F(CommandLineTest, ListOfCommasOnlyHasNoTarget) {
  EXPECT_THAT(Parse({",,,"}), IsEmpty());
  EXPECT_FALSE(g_bSystemMib);
}

TEST_F(CommandLineTest, EmptySingleArgumentIsOneEmptyTarget) {
  EXPECT_THAT(Parse({""}), ElementsAre(""));
  EXPECT_THAT(Parse({"   "}), ElementsAre(""));
  EXPECT_FALSE(g_bSystemMib);
}

TEST_F(CommandLineTest, TwoArgumentsAreNotSplitAtCommas) {
  EXPECT_THAT(Parse({"a,b", " c "}), ElementsAre("a,b", "c"));
  EXPECT_TRUE(g_bSystemMib);
}

TEST_F(CommandLineTest, OidFormInCapitalsKeepsTheOidByteForByte) {
  EXPECT_THAT(Parse({"OID", " 1.3.6.1.2.1.1.5.0", " router1 "}), ElementsAre("router1"));
  EXPECT_EQ(g_strStartOid, " 1.3.6.1.2.1.1.5.0");
  EXPECT_TRUE(g_bSystemMib);
}

TEST_F(CommandLineTest, OidFormWithAnEmptyOid) {
  EXPECT_THAT(Parse({"oid", "", "host"}), ElementsAre("host"));
  EXPECT_EQ(g_strStartOid, "");
  EXPECT_TRUE(g_bSystemMib);
}

TEST_F(CommandLineTest, OidFormDoesNotSplitItsTarget) {
  EXPECT_THAT(Parse({"oId", "sysName.0", "a,b"}), ElementsAre("a,b"));
}

TEST_F(CommandLineTest, OidWordOutsideThreeArgumentsIsATarget) {
  EXPECT_THAT(Parse({"oid", "host"}), ElementsAre("oid", "host"));
  EXPECT_THAT(Parse({"oid", "1.3", "h1", "h2"}), ElementsAre("oid", "1.3", "h1", "h2"));
  EXPECT_EQ(g_strStartOid, "");
}

TEST_F(CommandLineTest, LongerWordThanOidIsAPlainTarget) {
  EXPECT_THAT(Parse({"oids", "1.3", "host"}), ElementsAre("oids", "1.3", "host"));
  EXPECT_EQ(g_strStartOid, "");
}

TEST_F(CommandLineTest, DuplicateTargetsStay) {
  EXPECT_THAT(Parse({"h", "h"}), ElementsAre("h", "h"));
  EXPECT_THAT(Parse({"h,h"}), ElementsAre("h", "h"));
}

TEST_F(CommandLineTest, ListKeepsDoubleByteCharactersWhole) {
  CScopedLocale locale("ja_JP.SJIS");
  if (!locale.IsActive()) GTEST_SKIP() << "ja_JP.SJIS test locale not built";
  // "\x95\x5C" and "\x83\x7C" are single characters in Shift_JIS.
  EXPECT_THAT(Parse({"\x95\x5C,\x83\x7C "}), ElementsAre("\x95\x5C", "\x83\x7C"));
}

}  // namespace
