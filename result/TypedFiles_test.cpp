#include "result/TypedFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/FileOps.h"
#include "result/ResultFile.h"
#include "tests/TestSupport.h"

namespace {

std::string Key(std::initializer_list<uint32_t> arcs) {
  std::string strKey;
  const std::vector<uint32_t> arrArcs(arcs);
  AppendSortableName(&strKey, arrArcs.data(), arrArcs.size());
  return strKey;
}

std::string SnmprecLine(uint8_t tag, std::string_view payload) {
  std::string strLine;
  AppendSnmprecLine(&strLine, Key({1, 3, 6, 1, 2, 1, 1, 4, 0}), tag, payload);
  return strLine;
}

std::string WalkValue(uint8_t tag, std::string_view payload) {
  std::string strValue;
  AppendWalkValue(&strValue, tag, payload);
  return strValue;
}

// What snmpsim must read back as it came (the round trip in
// tests/typed-formats serves every case a recording has).
TEST(TypedFilesTest, SnmprecWritesTextOnlyWhereSnmpsimReadsItBackUnchanged) {
  const std::string strPrefix = "1.3.6.1.2.1.1.4.0|";
  EXPECT_EQ(SnmprecLine(0x04, "Root <root@host> a|b"), strPrefix + "4|Root <root@host> a|b\n");
  EXPECT_EQ(SnmprecLine(0x04, ""), strPrefix + "4|\n");
  // snmpsim strips each line: a blank at either end goes as hexadecimal,
  // as does any byte outside printable ASCII.
  EXPECT_EQ(SnmprecLine(0x04, " a"), strPrefix + "4x|2061\n");
  EXPECT_EQ(SnmprecLine(0x04, "a "), strPrefix + "4x|6120\n");
  EXPECT_EQ(SnmprecLine(0x04, "a\nb"), strPrefix + "4x|610a62\n");
  EXPECT_EQ(SnmprecLine(0x04, std::string("\0\xff", 2)), strPrefix + "4x|00ff\n");
  EXPECT_EQ(SnmprecLine(0x40, std::string("\x0a\x00\x00\x01", 4)), strPrefix + "64x|0a000001\n");
  EXPECT_EQ(SnmprecLine(0x44, "\x9f\x78\x04\x3e\xeb\x85\x1f"), strPrefix + "68x|9f78043eeb851f\n");
  EXPECT_EQ(SnmprecLine(0x02, "-5"), strPrefix + "2|-5\n");
  EXPECT_EQ(SnmprecLine(0x05, ""), strPrefix + "5|\n");
  EXPECT_EQ(SnmprecLine(0x06, "0.0"), strPrefix + "6|0.0\n");
  EXPECT_EQ(SnmprecLine(0x46, "18446744073709551615"), strPrefix + "70|18446744073709551615\n");
  // snmpsim has no UInteger32: Gauge32 holds the same numbers.
  EXPECT_EQ(SnmprecLine(0x47, "7"), strPrefix + "66|7\n");
  // The exception values are no objects; a type snmpsim cannot serve is
  // left out rather than written as another.
  EXPECT_EQ(SnmprecLine(0x80, ""), "");
  EXPECT_EQ(SnmprecLine(0x81, ""), "");
  EXPECT_EQ(SnmprecLine(0x45, "\x01"), "");
}

// The values no recording holds, as net-snmp prints them.
TEST(TypedFilesTest, WalkTextOfValuesNoRecordingHolds) {
  EXPECT_EQ(WalkValue(0x47, "7"), "UInteger32: 7");
  EXPECT_EQ(WalkValue(0x45, std::string("\x47\x00", 2)), "NsapAddress: 47 00 ");
  EXPECT_EQ(WalkValue(0x80, ""), "No Such Object available on this agent at this OID");
  EXPECT_EQ(WalkValue(0x81, ""), "No Such Instance currently exists at this OID");
  EXPECT_EQ(WalkValue(0x05, ""), "NULL");
  EXPECT_EQ(WalkValue(0x44, ""), "OPAQUE: ");
  // A wrapped float whose length is wrong is an Opaque of bytes.
  EXPECT_EQ(WalkValue(0x44, "\x9f\x78\x03\x01\x02\x03"), "OPAQUE: 9F 78 03 01 02 03 ");
  EXPECT_EQ(WalkValue(0x44, std::string("\x9f\x7a\x08\x80\x00\x00\x00\x00\x00\x00\x00", 11)),
            "Opaque: Int64: -9223372036854775808");
  EXPECT_EQ(WalkValue(0x44, std::string("\x9f\x7a\x02\xff\x00", 5)), "Opaque: Int64: -256");
  // Sixteen bytes a line, the last line as long as what is left.
  std::string strOneLine = "Hex-STRING: ";
  for (int i = 0; i < 16; ++i) strOneLine += "01 ";
  EXPECT_EQ(WalkValue(0x04, std::string(16, '\x01')), strOneLine);
  std::string strTwoLines = "Hex-STRING: ";
  for (int i = 0; i < 16; ++i) strTwoLines += "02 ";
  strTwoLines += "\n02 ";
  EXPECT_EQ(WalkValue(0x04, std::string(17, '\x02')), strTwoLines);
}

TEST(TypedFilesTest, WalkTextEndsAsSnmpwalkEndsAtTheEndOfTheMib) {
  std::string strEnd;
  AppendWalkEnd(&strEnd, EWalkEnd::EndOfMib, Key({1, 3}));
  EXPECT_EQ(strEnd, "End of MIB\n");
  strEnd.clear();
  AppendWalkEnd(&strEnd, EWalkEnd::EndOfMibView, Key({1, 3, 6, 1, 4294967295u}));
  EXPECT_EQ(strEnd, ".1.3.6.1.4294967295 = No more variables left in this MIB View (It is past the end of the MIB tree)\n");
  strEnd.clear();
  AppendWalkEnd(&strEnd, EWalkEnd::EndOfMibView, "");
  AppendWalkEnd(&strEnd, EWalkEnd::None, Key({1, 3}));
  EXPECT_EQ(strEnd, "");
}

TEST(TypedFilesTest, FilesHoldEachNameOnceInOrderWithTheWalksEnd) {
  CTempDir dir;
  CTypedEntries typed;
  std::string strRecord;
  CTypedEntries::MakeRecord(&strRecord, Key({1, 3, 6, 1, 2, 1, 1, 5, 0}), 0x04, "old name");
  typed.AddRecord(strRecord);
  CTypedEntries::MakeRecord(&strRecord, Key({1, 3, 6, 1, 2, 1, 1, 3, 0}), 0x43, "42");
  typed.AddRecord(strRecord);
  CTypedEntries::MakeRecord(&strRecord, Key({1, 3, 6, 1, 2, 1, 1, 5, 0}), 0x04, "new name");
  typed.AddRecord(strRecord);
  typed.SetWalkEnd(EWalkEnd::EndOfMibView);
  typed.Sort();
  CResultPlace place;
  place.strDir = dir.Path().string();
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(WriteTypedResultFiles(place, "::1", typed, c_uFormatSnmprec | c_uFormatWalk | c_uFormatXml),
            c_uFormatSnmprec | c_uFormatWalk);
  const std::string strConsole = ::testing::internal::GetCapturedStdout();
  const auto read = [&](const char* szName) {
    std::ifstream file(dir.Path() / szName, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  };
  EXPECT_EQ(read("--1.snmprec"), "1.3.6.1.2.1.1.3.0|67|42\n1.3.6.1.2.1.1.5.0|4|new name\n");
  EXPECT_EQ(read("--1.walk"),
            ".1.3.6.1.2.1.1.3.0 = 42\n.1.3.6.1.2.1.1.5.0 = STRING: \"new name\"\n"
            ".1.3.6.1.2.1.1.5.0 = No more variables left in this MIB View (It is past the end of the MIB tree)\n");
  EXPECT_EQ(strConsole, "output: " + JoinPath(place.strDir, "--1.snmprec") + "\noutput: " +
                            JoinPath(place.strDir, "--1.walk") + "\n");
  // A folder that is not there: nothing written, and said so.
  place.strDir = (dir.Path() / "missing").string();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(WriteTypedResultFiles(place, "::1", typed, c_uFormatWalk), 0u);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "output error\n");
}

}  // namespace
