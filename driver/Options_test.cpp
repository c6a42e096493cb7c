#include "driver/Options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "settings/Settings.h"
#include "tests/TestSupport.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    g_bSystemMib = true;
    g_strStartOid.clear();
  }
  // ParseOptions on "mibscan" followed by arrArgs.
  bool Parse(std::vector<const char*> arrArgs) {
    arrArgs.insert(arrArgs.begin(), "mibscan");
    m_options = COptions{};
    m_arrTargets.clear();
    m_strWhy.clear();
    return ParseOptions(static_cast<int>(arrArgs.size()), arrArgs.data(), &m_options, &m_arrTargets, &m_strWhy);
  }
  // MakeTargetList of the files and arguments.
  bool List(const std::vector<std::string>& arrFiles, const std::vector<std::string>& arrArgs) {
    m_arrTargets.clear();
    m_strWhy.clear();
    return MakeTargetList(arrFiles, arrArgs, &m_arrTargets, &m_strWhy);
  }
  COptions m_options;
  std::vector<std::string> m_arrTargets;
  std::string m_strWhy;
  CTempDir m_dir;
};

// Without options, and after --config and --out-dir alone, the arguments
// keep their described forms.
TEST_F(OptionsTest, DescribedFormsStayAfterPlaceOptions) {
  ASSERT_TRUE(Parse({"a,b"}));
  EXPECT_THAT(m_arrTargets, ElementsAre("a", "b"));
  EXPECT_FALSE(g_bSystemMib);
  TearDown();
  ASSERT_TRUE(Parse({"--config", "/etc/m.ini", "-o", "out", "oid", "1.3.6.1.2.1.1.5.0", "h"}));
  EXPECT_THAT(m_arrTargets, ElementsAre("h"));
  EXPECT_EQ(g_strStartOid, "1.3.6.1.2.1.1.5.0");
  EXPECT_EQ(m_options.strConfigPath, "/etc/m.ini");
  EXPECT_EQ(m_options.strOutDir, "out");
  TearDown();
  ASSERT_TRUE(Parse({"--out-dir=out", "--", "-x", "y"}));
  EXPECT_THAT(m_arrTargets, ElementsAre("-x", "y")) << "after --, the plain form";
  EXPECT_TRUE(g_bSystemMib);
}

// With -f or --oid every argument is a target of its own, trimmed.
TEST_F(OptionsTest, TargetsFileAndOidMakeEveryArgumentATarget) {
  ASSERT_TRUE(Parse({"-f", "list.txt", "--targets=more.txt", " a,b "}));
  EXPECT_THAT(m_options.arrTargetFiles, ElementsAre("list.txt", "more.txt"));
  EXPECT_THAT(m_arrTargets, ElementsAre("a,b"));
  EXPECT_TRUE(g_bSystemMib) << "the plain form's walk, whatever the number of targets";
  ASSERT_TRUE(Parse({"--oid", "system.sysName.0", "t1", "t2"}));
  EXPECT_THAT(m_arrTargets, ElementsAre("t1", "t2"));
  EXPECT_EQ(g_strStartOid, "system.sysName.0");
  ASSERT_TRUE(Parse({"--oid", "1.3.6.1.2.1.1.5.0"}));
  EXPECT_THAT(m_arrTargets, IsEmpty());
}

TEST_F(OptionsTest, HelpVersionAndRefusals) {
  ASSERT_TRUE(Parse({"-h"}));
  EXPECT_TRUE(m_options.bHelp);
  EXPECT_THAT(m_arrTargets, IsEmpty()) << "no --help.xml, no -h.xml";
  ASSERT_TRUE(Parse({"--version"}));
  EXPECT_TRUE(m_options.bVersion);
  EXPECT_THAT(UsageText(), HasSubstr("--out-dir DIR"));
  for (const auto& arrArgs : std::vector<std::vector<const char*>>{
           {"--halp"}, {"-"}, {"-x", "h"}, {"-f"}, {"--oid"}, {"--config"}, {"-o"}, {"--help=yes"}, {"-c", "public", "h"}}) {
    EXPECT_FALSE(Parse(arrArgs)) << arrArgs[0];
    EXPECT_FALSE(m_strWhy.empty());
  }
  EXPECT_FALSE(Parse({"--what", "h"}));
  EXPECT_THAT(m_strWhy, HasSubstr("--what"));
  ASSERT_TRUE(Parse({"--format", "walk,XML", "h.invalid"}));
  EXPECT_EQ(m_options.uFormats, c_uFormatWalk | c_uFormatXml);
  ASSERT_TRUE(Parse({"--format=snmprec", "h.invalid"}));
  EXPECT_EQ(m_options.uFormats, c_uFormatSnmprec);
  for (const char* szList : {"", "xml,", "csv", "xml;walk"}) {
    EXPECT_FALSE(Parse({"--format", szList, "h.invalid"})) << szList;
    EXPECT_THAT(m_strWhy, HasSubstr("(xml, snmprec, walk)")) << szList;
  }
}

// Files first, in order, then the command line; blocks written out;
// blank lines and comments skipped; refusals name the file and line.
TEST_F(OptionsTest, TargetListFromFilesAndBlocks) {
  const std::string strFile = m_dir.WriteFile("t.txt", "# routers\n  r1.example.invalid \r\n\n127.1.0.0/31\n#x\n");
  const std::string strFile2 = m_dir.WriteFile("u.txt", "::1\n2001:db8::fe/127\n");
  ASSERT_TRUE(List({strFile, strFile2}, {"127.0.0.1-2", "h.invalid"})) << m_strWhy;
  EXPECT_THAT(m_arrTargets, ElementsAre("r1.example.invalid", "127.1.0.0", "127.1.0.1", "::1", "2001:db8::fe",
                                        "2001:db8::ff", "127.0.0.1", "127.0.0.2", "h.invalid"));
  ASSERT_TRUE(List({}, {"", "localhost"}));
  EXPECT_THAT(m_arrTargets, ElementsAre("", "localhost")) << "an empty target stays what it was";

  const std::string strBad = m_dir.WriteFile("bad.txt", "127.0.0.1\n\n127.0.0.0/33\n");
  EXPECT_FALSE(List({strBad}, {}));
  EXPECT_EQ(m_strWhy, strBad + ":3: not an address block: 127.0.0.0/33");
  // A NUL would cut the name short for the resolver: the line is refused.
  const std::string strNul = m_dir.WriteFile("zero-byte.txt", std::string("127.0.0.1\na\0b.invalid\n", 22));
  EXPECT_FALSE(List({strNul}, {}));
  EXPECT_EQ(m_strWhy, strNul + ":2: a target holds a NUL character");
  EXPECT_FALSE(List({(m_dir.Path() / "absent.txt").string()}, {}));
  EXPECT_THAT(m_strWhy, HasSubstr("absent.txt"));
  for (const char* szRefused : {"1.5.0", "10.1", "1.2.3.256", "127.0.0.5-1", "a/b", "2001:db8::/111"}) {
    EXPECT_FALSE(List({}, {"127.0.0.1", szRefused})) << szRefused;
    EXPECT_THAT(m_strWhy, HasSubstr(szRefused));
  }
  EXPECT_TRUE(List({}, {"2001:db8::/112"}));
  EXPECT_EQ(m_arrTargets.size(), 65536u);
}

TEST_F(OptionsTest, MoreThanAMillionTargetsAreRefused) {
  EXPECT_FALSE(List({}, {"10.0.0.0/8"}));
  EXPECT_THAT(m_strWhy, HasSubstr("more than 1000000 targets"));
  EXPECT_FALSE(List({}, {"0.0.0.0/0"}));
  // Exactly the limit is taken; one more is not.
  std::vector<std::string> arrArgs(15, "10.0.0.0/16");
  arrArgs.push_back("10.1.0.0/18");
  arrArgs.push_back("10.2.0.0/23");
  arrArgs.push_back("10.3.0.0/26");
  ASSERT_TRUE(List({}, arrArgs)) << m_strWhy;  // 15 * 65536 + 16384 + 512 + 64
  EXPECT_EQ(m_arrTargets.size(), c_nMaxTargets);
  arrArgs.push_back("h1.invalid");
  EXPECT_FALSE(List({}, arrArgs));
}

}  // namespace
