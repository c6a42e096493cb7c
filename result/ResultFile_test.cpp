#include "result/ResultFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "result/WholeDocument_test.h"
#include "result/XmlDoc.h"
#include "platform/FileOps.h"
#include "tests/Process.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strBase = (m_dir.Path() / "scan").string();
    fs::create_directory(m_strBase);
    m_place.strDir = m_strBase;
  }
  bool Write(const std::string& strTarget) {
    ::testing::internal::CaptureStdout();
    const bool bWritten = WriteResultFile(m_place, strTarget, m_map, m_setCrTextKeys, m_strCharset);
    std::fflush(stdout);
    m_strConsole = ::testing::internal::GetCapturedStdout();
    return bWritten;
  }
  // (OID, VALUE) of every RESULT, in file order, read back with pugixml;
  // the file also passes libxml2's xmllint.
  std::vector<std::pair<std::string, std::string>> ReadBack(const std::string& strPath) {
    std::vector<std::pair<std::string, std::string>> arrRecords;
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_file(strPath.c_str());
    EXPECT_TRUE(result) << result.description();
    EXPECT_EQ(std::distance(doc.children().begin(), doc.children().end()), 1);
    for (pugi::xml_node record : doc.child("RESULTS").children()) {
      EXPECT_STREQ(record.name(), "RESULT");
      arrRecords.emplace_back(record.child_value("OID"), record.child_value("VALUE"));
    }
    EXPECT_EQ(RunProcess("/usr/bin/xmllint", {"--noout", strPath}, 60).nExitCode, 0) << strPath;
    return arrRecords;
  }

  CTempDir m_dir;
  std::string m_strBase;
  CResultPlace m_place;
  CMapStringToString m_map;
  std::unordered_set<std::string> m_setCrTextKeys;
  std::string m_strCharset;  // empty: the locale's
  std::string m_strConsole;
};

TEST_F(ResultFileTest, EmptyStoreGivesAnEmptyRoot) {
  ASSERT_TRUE(Write("10.1.2.3"));
  const std::string strPath = JoinPath(m_strBase, "10.1.2.3.xml");
  EXPECT_EQ(m_strConsole, "output: " + strPath + "\n");
  EXPECT_EQ(ReadAll(strPath), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RESULTS />\n");
  EXPECT_TRUE(ReadBack(strPath).empty());
}

TEST_F(ResultFileTest, FileNamesCarryTheStartOid) {
  std::string strPath;
  ASSERT_TRUE(MakeResultPath("/scan", "10.1.2.3", "", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "10.1.2.3.xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "10.1.2.3", "1.3.6.1.2.1.2", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "10.1.2.3_[1.3.6.1.2.1.2].xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "10.1.2.3", "system.sysName.0", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "10.1.2.3_[system.sysName.0].xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "", "", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", ".xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "", "1.3", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "_[1.3].xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "..", "", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "...xml")) << "a name, not a way out";

  m_place.strStartOid = "system.sysName.0";
  ASSERT_TRUE(Write("10.1.2.3"));
  EXPECT_TRUE(fs::exists(m_strBase + "/10.1.2.3_[system.sysName.0].xml"));
}

TEST_F(ResultFileTest, Ipv6AddressesAreWrittenAsWindowsWritesThem) {
  std::string strPath;
  ASSERT_TRUE(MakeResultPath("/scan", "::1", "", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "--1.xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "fe80::1%2", "system.sysName.0", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "fe80--1s2_[system.sysName.0].xml"));
  ASSERT_TRUE(MakeResultPath("/scan", "fe80::1%eth0", "", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "fe80--1seth0.xml"));
  // Only addresses: other names with ":" or "%" keep them, or are refused.
  EXPECT_FALSE(MakeResultPath("/scan", "host:161", "", &strPath));
  EXPECT_FALSE(MakeResultPath("/scan", "::1/64", "", &strPath)) << "not an address";
  ASSERT_TRUE(MakeResultPath("/scan", "50%", "", &strPath));
  EXPECT_EQ(strPath, JoinPath("/scan", "50%.xml"));
  EXPECT_FALSE(MakeResultPath("/scan", "::1", "a*b", &strPath));
}

TEST_F(ResultFileTest, NamesThatCannotBeFilesWriteNothing) {
  m_map["1.3.6.1.2.1.1.5.0"] = "x";
  for (const char* szTarget : {"../evil", "a/b", "a*b", "a?b", "a\\b", "a:b", "a|b", "a\"b",
                               "a<b", "a>b", "a\nb", "a\tb"}) {
    EXPECT_FALSE(Write(szTarget)) << szTarget;
    EXPECT_EQ(m_strConsole, "output error\n");
  }
  for (const char* szOid : {"*", "?", "../../x", "1/3"}) {
    m_place.strStartOid = szOid;
    EXPECT_FALSE(Write("10.1.2.3")) << szOid;
    EXPECT_EQ(m_strConsole, "output error\n");
  }
  EXPECT_TRUE(fs::is_empty(m_strBase));
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1);
}

TEST_F(ResultFileTest, RecordsFollowTheMapOrderOncePerKey) {
  m_map["1.3.6.1.2.1.1.1.0"] = "descr";
  m_map["1.3.6.1.2.1.1.3.0"] = "first";
  m_map["1.3.6.1.2.1.1.5.0"] = "name";
  m_map["1.3.6.1.2.1.1.3.0"] = "last";  // stored again by a second walk
  ASSERT_TRUE(Write("h"));
  // Buckets: 1.3.0 in 4, 1.1.0 in 11, 1.5.0 in 16.
  EXPECT_THAT(ReadBack(m_strBase + "/h.xml"),
              ElementsAre(std::pair<std::string, std::string>("1.3.6.1.2.1.1.3.0", "last"),
                          std::pair<std::string, std::string>("1.3.6.1.2.1.1.1.0", "descr"),
                          std::pair<std::string, std::string>("1.3.6.1.2.1.1.5.0", "name")));
}

TEST_F(ResultFileTest, ValuesReadBackUnchanged) {
  m_map["1.1"] = "a<b>&c";
  m_map["1.2"] = "QUJD\r\nREVG\r\n";  // Base64 lines
  m_map["1.3"] = "";
  m_map["1.4"] = "text\r\nof an agent\r";  // CRs that are data
  m_setCrTextKeys.insert("1.4");
  ASSERT_TRUE(Write("h"));
  const auto arrRecords = ReadBack(m_strBase + "/h.xml");
  std::map<std::string, std::string> mapBack(arrRecords.begin(), arrRecords.end());
  EXPECT_EQ(mapBack["1.1"], "a<b>&c");
  EXPECT_EQ(mapBack["1.2"], "QUJD\nREVG\n") << "Base64: CR LF reads back as LF";
  EXPECT_EQ(mapBack["1.3"], "");
  EXPECT_EQ(mapBack["1.4"], "text\r\nof an agent\r") << "text: byte for byte";
  EXPECT_NE(ReadAll(m_strBase + "/h.xml").find("<VALUE>QUJD\r\nREVG\r\n</VALUE>"), std::string::npos);
}

TEST_F(ResultFileTest, ExistingFileIsReplaced) {
  std::ofstream(m_strBase + "/h.xml") << std::string(5000, 'x');
  m_map["1.1"] = "v";
  ASSERT_TRUE(Write("h"));
  EXPECT_EQ(ReadBack(m_strBase + "/h.xml").size(), 1u);
  EXPECT_LT(fs::file_size(m_strBase + "/h.xml"), 200u);
}

// A full disk, part way through the file (the records go out in 64 KiB
// pieces): "output error", and the previous result stays whole.
TEST_F(ResultFileTest, FullDiskKeepsThePreviousResult) {
  CSmallTmpfs disk(64 * 1024);
  if (!disk.IsMounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  m_place.strDir = disk.Path().string();
  m_map["1.1"] = "first run";
  ASSERT_TRUE(Write("h"));
  const std::string strPrevious = ReadAll(disk.Path() / "h.xml");
  for (int i = 0; i < 2000; ++i) m_map["1.2." + std::to_string(i)] = std::string(100, 'v');
  EXPECT_FALSE(Write("h"));
  EXPECT_EQ(m_strConsole, "output error\n");
  EXPECT_EQ(ReadAll(disk.Path() / "h.xml"), strPrevious);
  size_t nFiles = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(disk.Path())) ++nFiles;
  EXPECT_EQ(nFiles, 1u) << "no temporary file left";
}

TEST_F(ResultFileTest, MissingBaseDirectoryIsAnOutputError) {
  m_place.strDir = m_strBase + "/absent";
  EXPECT_FALSE(Write("h"));
  EXPECT_EQ(m_strConsole, "output error\n");
  EXPECT_FALSE(fs::exists(m_place.strDir));
}

TEST_F(ResultFileTest, LatinOneBytesArriveAsUtf8) {
  CScopedLocale locale("en_US.ISO-8859-1");
  if (!locale.IsActive()) GTEST_SKIP() << "en_US.ISO-8859-1 test locale not built";
  m_map["1.1"] = "caf\xE9";
  ASSERT_TRUE(Write("h"));
  EXPECT_NE(ReadAll(m_strBase + "/h.xml").find("caf\xC3\xA9"), std::string::npos);
}

// The walk keeps such values as Base64; text that reaches the writer anyway
// still gives a well-formed file.
TEST_F(ResultFileTest, InvalidUtf8ThatReachesTheWriterBecomesReplacementCharacters) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  m_map["1.1"] = "bad\xFF\xFE";
  ASSERT_TRUE(Write("h"));
  EXPECT_EQ(ReadBack(m_strBase + "/h.xml")[0].second, "bad\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST_F(ResultFileTest, CharsetSettingReadsShiftJis) {
  CScopedLocale locale("C.UTF-8");
  if (!locale.IsActive()) GTEST_SKIP() << "no UTF-8 locale (msvcrt, the C runtime on Windows, has none)";
  m_strCharset = "SHIFT_JIS";
  m_map["1.1"] = "\x93\xFA\x96\x7B";
  ASSERT_TRUE(Write("h"));
  EXPECT_EQ(ReadBack(m_strBase + "/h.xml")[0].second, "\xE6\x97\xA5\xE6\x9C\xAC");
}

// The file written one record at a time equals, byte for byte, the one
// saved from a whole document built first.
TEST_F(ResultFileTest, RecordByRecordEqualsTheWholeDocument) {
  const auto expectSameFile = [&](const std::string& strCase) {
    ASSERT_TRUE(Write("h")) << strCase;
    const std::string strReference = (m_dir.Path() / "reference.xml").string();
    ASSERT_TRUE(WriteWholeDocument(strReference, m_map, m_setCrTextKeys, m_strCharset)) << strCase;
    EXPECT_EQ(ReadAll(m_strBase + "/h.xml"), ReadAll(strReference)) << strCase;
  };
  expectSameFile("no entries");

  // Every byte, in values and in keys; CRs as data and as line ends.
  std::string strEveryByte;
  for (int ch = 1; ch < 0x80; ++ch) strEveryByte += static_cast<char>(ch);
  m_map["1.1"] = strEveryByte;
  m_map[strEveryByte] = "key of every byte";
  m_map["1.2"] = "<RESULT>&amp;</RESULT> \"quoted\" 'single' ]]> <!-- -->";
  m_map["1.3"] = "text\r\nof an agent\r";
  m_setCrTextKeys.insert("1.3");
  m_map["1.4"] = "QUJD\r\nREVG\r\n";  // Base64 lines
  m_map["1.5"] = "";
  m_map["1.6"] = std::string("before\0after", 12);  // nothing after a NUL is written
  // A text cut at 256 bytes between characters: 85 three-byte ones and one byte.
  std::string strCut = "x";
  for (int i = 0; i < 85; ++i) strCut += "\xE2\x82\xAC";
  m_map["1.7"] = strCut;
  m_map[""] = "empty key";
  expectSameFile("escaping");

  // Values stored again: longer, shorter, empty; and enough records to
  // cross the writer's buffer many times.
  m_map["1.1"] = "shorter";
  m_map["1.5"] = std::string(300, 'L');
  m_map["1.7"] = "";
  for (int i = 0; i < 20000; ++i) m_map["1.3.6.1.2.1.4.21.1.1.10.0." + std::to_string(i)] = std::to_string(i * 7919);
  expectSameFile("replaced values, many records");

  m_map.RemoveAll();
  m_setCrTextKeys.clear();
  m_strCharset = "ISO-8859-1";
  m_map["1.1"] = "caf\xE9 \xA9";
  expectSameFile("another code set");
}

}  // namespace

// The OIDs of an earlier file, sampled for the walk's first lanes: every
// one of a small file, a bounded sample of a large one (its texts spread
// over the whole file, tags across the reader's blocks included), and of a
// hostile file only what its OID elements hold, none too long.
TEST_F(ResultFileTest, EarlierOidsAreSampledFromWhateverTheFileHolds) {
  EXPECT_TRUE(SampleEarlierOids(m_place, "127.0.0.1", 16, 1 << 20).empty()) << "no file";
  for (int i = 0; i < 3; ++i) m_map[std::string("1.3.6.1.2.1.1.") + std::to_string(i + 1) + ".0"] = "v";
  ASSERT_TRUE(Write("127.0.0.1"));
  std::vector<std::string> arrSmall = SampleEarlierOids(m_place, "127.0.0.1", 16, 1 << 20);
  std::sort(arrSmall.begin(), arrSmall.end());
  EXPECT_EQ(arrSmall, (std::vector<std::string>{"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0"}));

  m_map.RemoveAll();
  for (int i = 0; i < 50000; ++i) m_map[std::string("1.3.6.1.2.1.2.2.1.10.") + std::to_string(i)] = "counter";
  ASSERT_TRUE(Write("big"));
  const std::vector<std::string> arrBig = SampleEarlierOids(m_place, "big", 100, size_t{1} << 30);
  ASSERT_EQ(arrBig.size(), 100u);
  size_t nLow = 0;
  for (const std::string& strOid : arrBig) {
    ASSERT_TRUE(strOid.starts_with("1.3.6.1.2.1.2.2.1.10.")) << strOid;
    nLow += std::stoi(strOid.substr(21)) < 25000 ? 1 : 0;
  }
  EXPECT_GT(nLow, 25u) << "spread over the file";
  EXPECT_LT(nLow, 75u) << "spread over the file";
  EXPECT_LE(SampleEarlierOids(m_place, "big", 100, 4096).size(), 100u) << "the first bytes only";

  const std::string strPath = (fs::path(m_strBase) / "hostile.xml").string();
  std::ofstream(strPath, std::ios::binary) << "<OID>1.3</OID>junk<OID>" << std::string(70000, '9') << "</OID><OID>x"
                                           << std::string(1, '\0') << "</OID><OI" << "D>2.5</OID><OID>1.3.6";
  std::vector<std::string> arrHostile = SampleEarlierOids(m_place, "hostile", 16, 1 << 20);
  EXPECT_EQ(arrHostile, (std::vector<std::string>{"1.3", std::string("x") + '\0', "2.5"}));
}
