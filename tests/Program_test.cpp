// The whole program, run as a process against the test agent on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include "tests/ProgramFixture_test.h"
#include "tests/TestAgent.h"
#include "tests/UdpRelay.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr char c_szDevice[] =
    "1.3.6.1.2.1.1.1.0|4|test device\n"
    "1.3.6.1.2.1.1.2.0|6|1.3.6.1.4.1.8072.3.2.10\n"
    "1.3.6.1.2.1.1.3.0|67|4242\n"
    "1.3.6.1.2.1.1.5.0|4|router1\n"
    "1.3.6.1.2.1.2.2.1.2.1|4|lo\n"
    "1.3.6.1.2.1.2.2.1.6.1|4x|001a2b3c4d5e\n"
    "1.3.6.1.4.1.8072.1.1.0|2|7\n"
    "1.3.6.1.4.1.8072.1.2.0|4|enterprise\n";

class ProgramTest : public ProgramFixture {
 protected:
  void StartAgent(const std::vector<std::string>& arrAddresses, const std::string& strRecords = c_szDevice,
                  const CTestAgent::CMisbehaviour& misbehaviour = {}) {
    std::string strErr;
    ASSERT_TRUE(m_agent.LoadSnmprec(strRecords, &strErr)) << strErr;
    m_agent.SetMisbehaviour(misbehaviour);
    ASSERT_TRUE(m_agent.Start(arrAddresses));
  }
  static std::set<std::string> Oids(const CRecords& arrRecords) {
    std::set<std::string> setOids;
    for (const auto& record : arrRecords) setOids.insert(record.first);
    return setOids;
  }
  // Walks the whole MIB of the agent at 127.0.0.1 with strKeys and
  // Window=256 through a relay that holds each datagram 25 ms each way,
  // or with Window=1 directly (bAlone: one request at a time at 50 ms
  // would take long). The requests the agent received.
  // The OIDs the requests named in *pArrRequested, when given.
  int WalkFarAway(bool bAlone, const std::string& strKeys, std::vector<std::string>* pArrRequested = nullptr) {
    CUdpRelay relay(m_agent.Port(), 25);
    if (pArrRequested != nullptr) relay.SetRecordRequests();
    EXPECT_TRUE(relay.Start());
    WriteConfig(bAlone ? m_agent.Port() : relay.Port(), 2000, 1, 1,
                strKeys + (bAlone ? "Window=1\n" : "Window=256\n"));
    const int nRequestsBefore = m_agent.RequestCount();
    Run({"oid", "", "127.0.0.1"});
    if (pArrRequested != nullptr) {
      relay.Stop();
      *pArrRequested = relay.RequestedOids();
    }
    return m_agent.RequestCount() - nRequestsBefore;
  }
  CTestAgent m_agent;
};

TEST_F(ProgramTest, PlainFormWalksFromTheSystemGroupOnce) {
  SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE();
  StartAgent({"127.0.0.1", "127.0.0.3"});
  WriteConfig(m_agent.Port());
  const CProcessResult result = Run({"127.0.0.1", " 127.0.0.3 "});
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]start:"),
              ElementsAre("target[127.0.0.1]start:system.sysDescr.0"));
  EXPECT_THAT(Lines(result.strOutput, "output"),
              UnorderedElementsAre("output: " + Path("127.0.0.1.xml"), "output: " + Path("127.0.0.3.xml")));
  for (const char* szFile : {"127.0.0.1.xml", "127.0.0.3.xml"}) {
    const CRecords arrRecords = ReadXml(szFile);
    EXPECT_EQ(arrRecords.size(), 8u) << "the walk goes on past the system group";
    std::map<std::string, std::string> mapValues(arrRecords.begin(), arrRecords.end());
    EXPECT_EQ(mapValues["1.3.6.1.2.1.1.3.0"], "4242");
    EXPECT_EQ(mapValues["1.3.6.1.2.1.2.2.1.6.1"], "ABorPE1e\n") << "binary: Base64 (CR LF read as LF)";
    EXPECT_EQ(mapValues["1.3.6.1.2.1.1.2.0"], "1.3.6.1.4.1.8072.3.2.10");
  }
  EXPECT_FALSE(std::filesystem::exists(Path("log/log.txt"))) << "Log=0";
}

TEST_F(ProgramTest, PlainFormWalksAgainFromSysUpTimeWhenTheFirstWalkMissedIt) {
  // The agent has no sysUpTime.0: after the first walk the worker walks
  // again from there, adding to the same map.
  std::string strRecords = c_szDevice;
  strRecords.erase(strRecords.find("1.3.6.1.2.1.1.3.0"), std::string("1.3.6.1.2.1.1.3.0|67|4242\n").size());
  StartAgent({"127.0.0.1"}, strRecords);
  WriteConfig(m_agent.Port());
  const CProcessResult result = Run({"oid", "", "127.0.0.1"});  // Plain, one target
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]start:"),
              ElementsAre("target[127.0.0.1]start:system.sysDescr.0",
                          "target[127.0.0.1]start:system.sysUpTime.0"));
  EXPECT_EQ(ReadXml("127.0.0.1.xml").size(), 7u);
}

TEST_F(ProgramTest, ListFormWalksTheEnterprisesOfEveryTarget) {
  SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE();
  StartAgent({"127.0.0.1", "127.0.0.3", "127.0.0.4"});
  WriteConfig(m_agent.Port(), 1000, 1, 1);
  const CProcessResult result = Run({",127.0.0.1,, 127.0.0.3 ,127.0.0.4"});
  EXPECT_EQ(Lines(result.strOutput, "output: ").size(), 3u);
  for (const char* szTarget : {"127.0.0.1", "127.0.0.3", "127.0.0.4"}) {
    EXPECT_THAT(Lines(result.strOutput, std::string("target[") + szTarget + "]start:"),
                ElementsAre(std::string("target[") + szTarget + "]start:.1.3.6.1.4.1"));
    EXPECT_THAT(Oids(ReadXml(std::string(szTarget) + ".xml")),
                ElementsAre("1.3.6.1.4.1.8072.1.1.0", "1.3.6.1.4.1.8072.1.2.0"));
  }
  // Queued logging with three targets: each target's lines in order.
  std::vector<std::string> arrTexts;
  for (const auto& strLine : LogLines()) {
    if (strLine.find("|-|127.0.0.3|") != std::string::npos) arrTexts.push_back(strLine.substr(strLine.find("|-|") + 3));
  }
  ASSERT_GE(arrTexts.size(), 4u);
  EXPECT_EQ(arrTexts.front(), "127.0.0.3|start");
  EXPECT_EQ(arrTexts.back(), "127.0.0.3|end");
}

TEST_F(ProgramTest, OidFormGetsOneObjectIntoASuffixedFile) {
  StartAgent({"127.0.0.1"});
  WriteConfig(m_agent.Port());
  const CProcessResult result = Run({"OID", "system.sysName.0", "127.0.0.1"});
  EXPECT_EQ(m_agent.RequestCount(), 1);
  const std::string strFile = "127.0.0.1_[system.sysName.0].xml";
  EXPECT_THAT(Lines(result.strOutput, "output"), ElementsAre("output: " + Path(strFile)));
  EXPECT_THAT(ReadXml(strFile), ElementsAre(std::pair<std::string, std::string>("1.3.6.1.2.1.1.5.0", "router1")));
}

// Text whose bytes are not characters of the code set comes back as
// Base64 of the very bytes; text that is comes back as text.
TEST_F(ProgramTest, TextOutsideTheCodeSetIsKeptAsBase64) {
  StartAgent({"127.0.0.1"}, "1.3.6.1.2.1.2.2.1.2.1|4x|636166c3a9\n"      // "cafe" in UTF-8
                            "1.3.6.1.2.1.2.2.1.2.2|4x|636166e9\n"        // ... in Latin-1
                            "1.3.6.1.2.1.2.2.1.6.1|4x|863942ac6751\n");  // a MAC address
  for (const char* szCharset : {"UTF-8", "ISO-8859-1"}) {
    SCOPED_TRACE(szCharset);
    WriteConfig(m_agent.Port(), 1000, 1, 0, std::string("Charset=") + szCharset + "\n");
    Run({"oid", "", "127.0.0.1"});
    const CRecords arrRecords = ReadXml("127.0.0.1.xml");
    std::map<std::string, std::string> mapValues(arrRecords.begin(), arrRecords.end());
    if (std::string(szCharset) == "UTF-8") {
      EXPECT_EQ(mapValues["1.3.6.1.2.1.2.2.1.2.1"], "caf\xC3\xA9");
      EXPECT_EQ(DecodeBase64(mapValues["1.3.6.1.2.1.2.2.1.2.2"]), "caf\xE9");
      EXPECT_EQ(DecodeBase64(mapValues["1.3.6.1.2.1.2.2.1.6.1"]), "\x86\x39\x42\xAC\x67\x51");
    } else {
      // Every byte is a Latin-1 character.
      EXPECT_EQ(mapValues["1.3.6.1.2.1.2.2.1.2.1"], "caf\xC3\x83\xC2\xA9");
      EXPECT_EQ(mapValues["1.3.6.1.2.1.2.2.1.2.2"], "caf\xC3\xA9");
      EXPECT_EQ(mapValues["1.3.6.1.2.1.2.2.1.6.1"], "\xC2\x86" "9B\xC2\xAC" "gQ");
    }
  }
}

// Lowercase hexadecimal of bytes, as .snmprec writes a value ("4x").
std::string Hex(std::string_view bytes) {
  std::string strHex;
  for (char ch : bytes) {
    static constexpr char c_szDigits[] = "0123456789abcdef";
    strHex += c_szDigits[static_cast<unsigned char>(ch) >> 4];
    strHex += c_szDigits[static_cast<unsigned char>(ch) & 0x0F];
  }
  return strHex;
}

// Octet strings with a NUL before their last byte (MAC addresses, bitmaps,
// runs of zeros) come back as Base64 of every byte, and text with CR LF
// inside comes back byte for byte through a parser, with SNMPv1 and v2c.
TEST_F(ProgramTest, EveryByteOfAnOctetStringComesBack) {
  const std::string strDescr = "Switch Software\r\nTechnical Support: none\r\n\rCompiled\r";
  const std::string strBitmap = std::string(16, '\xFF') + std::string(112, '\0');
  const std::map<std::string, std::string> mapBinary = {
      {"1.3.6.1.2.1.2.2.1.6.2", std::string("\xD6\xCD\0\\\xE4\xBB", 6)},              // ifPhysAddress
      {"1.3.6.1.2.1.2.2.1.6.3", std::string("\0\x50\x56\xAB\xCD\xEF", 6)},             // an OUI 00:50:56
      {"1.3.6.1.2.1.3.1.1.2.2.1.192.168.0.1", std::string("\xD6\xCD\0\\\xE4\xBB", 6)},  // atPhysAddress
      {"1.3.6.1.4.1.9999.1.0", std::string("ab\0cd", 5)},
      {"1.3.6.1.4.1.9999.2.0", std::string(2, '\0')},
      {"1.3.6.1.4.1.9999.5.0", strBitmap},
      {"1.3.6.1.4.1.9999.6.0", std::string(129, '\0')},
  };
  std::string strRecords = "1.3.6.1.2.1.1.1.0|4x|" + Hex(strDescr) + "\n";
  for (const auto& [strOid, strBytes] : mapBinary) strRecords += strOid + "|4x|" + Hex(strBytes) + "\n";
  strRecords +=
      "1.3.6.1.2.1.4.22.1.2.2.192.168.0.1|4x|005056abcdef\n"
      "1.3.6.1.4.1.9999.3.0|4x|00\n"
      "1.3.6.1.4.1.9999.4.0|4x|7075626c696300\n";
  StartAgent({"127.0.0.1"}, strRecords);
  for (const char* szVersion : {"Version=1\n", "Version=2\n"}) {
    SCOPED_TRACE(szVersion);
    WriteConfig(m_agent.Port(), 1000, 1, 0, szVersion);
    Run({"oid", "", "127.0.0.1"});
    EXPECT_EQ(ReadAll(Path("127.0.0.1.xml")).find("invalid length"), std::string::npos);
    const CRecords arrRecords = ReadXml("127.0.0.1.xml");
    std::map<std::string, std::string> mapValues(arrRecords.begin(), arrRecords.end());
    EXPECT_EQ(mapValues["1.3.6.1.2.1.1.1.0"], strDescr) << "CRs are data";
    for (const auto& [strOid, strBytes] : mapBinary) {
      EXPECT_EQ(DecodeBase64(mapValues[strOid]), strBytes) << strOid;
      EXPECT_EQ(mapValues[strOid].back(), '\n') << strOid << ": Base64 lines";
    }
    EXPECT_EQ(mapValues["1.3.6.1.2.1.4.22.1.2.2.192.168.0.1"], "00:50:56:ab:cd:ef");
    EXPECT_EQ(mapValues["1.3.6.1.4.1.9999.3.0"], "") << "a single NUL";
    EXPECT_EQ(mapValues["1.3.6.1.4.1.9999.4.0"], "public") << "a NUL at the end";
  }
}

// A real 16-port switch, recorded: every octet string comes back whole,
// its 202 values with a NUL inside as Base64 of the exact bytes, its text
// with CR LF byte for byte.
TEST_F(ProgramTest, RecordedSwitchLosesNoByte) {
  const std::string strRecords = RecordedSwitch();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  StartAgent({"127.0.0.1"}, strRecords);
  WriteConfig(m_agent.Port(), 2000, 1, 0, "Version=2\nMaxRepetitions=50\nCharset=UTF-8\n");
  Run({"oid", "", "127.0.0.1"});
  EXPECT_EQ(ReadAll(Path("127.0.0.1.xml")).find("invalid length"), std::string::npos);
  const CRecords arrRecords = ReadXml("127.0.0.1.xml");
  const std::map<std::string, std::string> mapValues(arrRecords.begin(), arrRecords.end());
  EXPECT_EQ(mapValues.size(), m_agent.RecordCount());
  size_t nNulInText = 0;
  size_t nCrText = 0;
  std::istringstream lines(strRecords);
  for (std::string strLine; std::getline(lines, strLine);) {
    const size_t nBar = strLine.find('|');
    const size_t nBar2 = strLine.find('|', nBar + 1);
    const std::string strOid = strLine.substr(0, nBar);
    const std::string strTag = strLine.substr(nBar + 1, nBar2 - nBar - 1);
    if ((strTag != "4" && strTag != "4x") || strOid.starts_with("1.3.6.1.2.1.4.22.1.2.")) continue;
    std::string strBytes = strLine.substr(nBar2 + 1);
    if (strTag == "4x") {
      std::string strHex = std::move(strBytes);
      strBytes.clear();
      for (size_t i = 0; i + 1 < strHex.size(); i += 2)
        strBytes += static_cast<char>(std::stoi(strHex.substr(i, 2), nullptr, 16));
    }
    const auto it = mapValues.find(strOid);
    ASSERT_NE(it, mapValues.end()) << strOid;
    const size_t nNul = strBytes.find('\0');
    if (nNul != std::string::npos && nNul + 1 < strBytes.size()) {
      // Bytes that would all be text but for that NUL.
      nNulInText += std::all_of(strBytes.begin(), strBytes.end(), [](char ch) {
        return static_cast<unsigned char>(ch) >= 0x20 || ch == '\0' || ch == '\n' || ch == '\r';
      });
      EXPECT_EQ(DecodeBase64(it->second), strBytes) << strOid;
      continue;
    }
    std::string strText = strBytes.substr(0, nNul);
    if (it->second == strText.substr(0, 256)) {
      nCrText += strText.find('\r') != std::string::npos ? 1 : 0;
    } else {
      EXPECT_EQ(DecodeBase64(it->second), strBytes) << strOid;
    }
  }
  EXPECT_EQ(nNulInText, 202u) << "ARP entries, VLAN bitmaps, engine IDs, runs of zeros";
  EXPECT_EQ(nCrText, 4u) << "sysDescr.0 and three more texts with CR LF, read back whole";
}

// Several requests in flight walk in lanes, and the file is the one a
// walk of one request at a time writes, byte for byte: the recorded
// Linux host (SNMPv1 and SNMPv2c) and switch (SNMPv2c), windows of 1, 2
// and 16, and 16 with the keys for the field (AdaptiveTimeout,
// AnyReplyAddress), which a well-behaved agent never notices; and so are
// the typed files, with the lanes cut at the OIDs of an earlier file of the
// device, of another device, or of a corrupt one.
TEST_F(ProgramTest, WindowsWriteTheSameFile) {
  for (const char* szRecording : {"linux", "switch"}) {
    const std::string strRecords = std::string(szRecording) == "linux" ? RecordedLinuxWalk() : RecordedSwitch();
    if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
    CTestAgent agent;
    std::string strErr;
    ASSERT_TRUE(agent.LoadSnmprec(strRecords, &strErr)) << strErr;
    ASSERT_TRUE(agent.Start());
    for (const char* szVersion : {"Version=1\n", "Version=2\nMaxRepetitions=10\n"}) {
      // SNMPv1 asks for one object at a time: the switch's 51,008 take too
      // long for the test under sanitizers and wine.
      if (std::string(szRecording) == "switch" && std::string(szVersion) == "Version=1\n") continue;
      std::string strFirst;
      std::string strFirstTyped;
      std::string strFirstConsole;
      int nFirstRequests = 0;
      // Under sanitizers and wine each walk of the switch takes 15 s or
      // more: there it is walked alone, as a first scan and after another
      // device's file; the Linux host takes every case.
      const bool bFewer = std::string(szRecording) == "switch" && (c_bSanitizer || c_bWindows);
      // Each walk with a window finds the file of the walk before and
      // starts with lanes cut at its OIDs, but for the one marked as a
      // first scan, whose file is removed: its lanes come from the MIB's
      // groups.
      for (const char* szWindow : {"Window=1\n", "Window=2\n", "Window=16\n", "Window=16\n; a first scan\n",
                                   "Window=16\nAdaptiveTimeout=1\nAnyReplyAddress=1\n"}) {
        SCOPED_TRACE(std::string(szRecording) + " " + szVersion + szWindow);
        const bool bFirst = std::string(szWindow) == "Window=1\n";
        if (bFewer && !bFirst && std::string_view(szWindow).find("first scan") == std::string_view::npos) continue;
        if (std::string_view(szWindow).find("first scan") != std::string_view::npos) {
          for (const char* szFile : {"127.0.0.1.xml", "127.0.0.1.snmprec", "127.0.0.1.walk"})
            std::filesystem::remove(Path(szFile));
        }
        // The typed files too: lanes keep each object's type and bytes
        // in their pending entries.
        WriteConfig(agent.Port(), 2000, 1, 0, std::string(szVersion) + szWindow + "Format=xml,snmprec,walk\n");
        const int nRequestsBefore = agent.RequestCount();
        const CProcessResult result = Run({"oid", "", "127.0.0.1"});
        const int nRequests = agent.RequestCount() - nRequestsBefore;
        const std::string strFile = ReadAll(Path("127.0.0.1.xml"));
        const std::string strTyped = ReadAll(Path("127.0.0.1.snmprec")) + ReadAll(Path("127.0.0.1.walk"));
        if (bFirst) {
          strFirst = strFile;
          strFirstTyped = strTyped;
          strFirstConsole = result.strOutput;
          nFirstRequests = nRequests;
          EXPECT_GT(ReadXml("127.0.0.1.xml").size(), 900u);
          EXPECT_GT(strTyped.size(), strFile.size() / 2);
        } else {
          EXPECT_TRUE(strFile == strFirst) << "the file differs from Window=1's";
          EXPECT_TRUE(strTyped == strFirstTyped) << "the typed files differ from Window=1's";
          EXPECT_EQ(result.strOutput, strFirstConsole);
          // Lanes cost a request or so each where they meet: a walk that
          // splits where nothing is, or cuts one lane ever shorter, pays
          // for it in requests the agent must answer.
          EXPECT_LE(nRequests, nFirstRequests * 8 / 5) << nFirstRequests << " requests with Window=1";
        }
      }
      // A file of another device, or a corrupt one, costs requests, never
      // entries.
      const std::string strOther = std::string(szRecording) == "linux" ? RecordedSwitch() : RecordedLinuxWalk();
      std::string strOtherFile = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<RESULTS>\n";
      std::istringstream otherLines(strOther);
      for (std::string strLine; std::getline(otherLines, strLine);)
        strOtherFile += "\t<RESULT>\n\t\t<OID>" + strLine.substr(0, strLine.find('|')) + "</OID>\n\t\t<VALUE>x</VALUE>\n\t</RESULT>\n";
      strOtherFile += "</RESULTS>\n";
      const std::string strCorrupt = strFirst.substr(0, strFirst.size() / 3) +
                                     "<OID>1.3.6.1.2.1.2.2.1.10.99999999999</OID><OID>2.99.1</OID>" + std::string(1, '\0') + "\xff" +
                                     "<OID>system</OID><OID>1..3</OID><OID>0.40.1</OID><OID>1.3.6.1.2.1.25.4.2.1.2.4294967295</OID>"
                                     "<OID>" + std::string(5000, '1') + "</OID><OID>1.3.6";
      for (const std::string* pPrevious : std::initializer_list<const std::string*>{&strOtherFile, &strCorrupt}) {
        if (bFewer && pPrevious == &strCorrupt) continue;
        SCOPED_TRACE(std::string(szRecording) + " " + szVersion + (pPrevious == &strCorrupt ? "corrupt" : "another device's") +
                     " file before");
        m_dir.WriteFile("127.0.0.1.xml", *pPrevious);
        WriteConfig(agent.Port(), 2000, 1, 1, std::string(szVersion) + "Window=16\nFormat=xml,snmprec,walk\n");
        const CProcessResult result = Run({"oid", "", "127.0.0.1"});
        EXPECT_TRUE(ReadAll(Path("127.0.0.1.xml")) == strFirst) << "the file differs from Window=1's";
        EXPECT_TRUE(ReadAll(Path("127.0.0.1.snmprec")) + ReadAll(Path("127.0.0.1.walk")) == strFirstTyped);
        EXPECT_EQ(result.strOutput, strFirstConsole);
        const std::vector<std::string> arrLog = LogLines();
        EXPECT_TRUE(std::any_of(arrLog.begin(), arrLog.end(), [](const std::string& strLine) {
          return strLine.find("|lanes from an earlier scan: ") != std::string::npos;
        }));
      }
    }
  }
}

// Listed subtrees, exclusions (a column, a group, a table) and a cap,
// walked one request at a time and in lanes: exactly the recording's
// objects that the keys ask for, in the same bytes whatever the window;
// with MaxObjects the first ones in the walk's order.
TEST_F(ProgramTest, ScopedWalksWriteTheSameFileInLanes) {
  const std::string strRecords = RecordedLinuxWalk();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(strRecords, &strErr)) << strErr;
  ASSERT_TRUE(agent.Start());
  const std::vector<std::string> arrListed{"1.3.6.1.2.1.25", "1.3.6.1.2.1.4", "1.3.6.1.2.1.2"};
  const std::vector<std::string> arrExcluded{"1.3.6.1.2.1.25.4.2.1.5", "1.3.6.1.2.1.25.5", "1.3.6.1.2.1.4.24"};
  const auto fnInside = [](const std::string& strOid, const std::vector<std::string>& arrRoots) {
    return std::any_of(arrRoots.begin(), arrRoots.end(), [&](const std::string& strRoot) {
      return strOid == strRoot || strOid.starts_with(strRoot + ".");
    });
  };
  // In the walk's order: the subtrees as listed, each in OID order (as the
  // recording is).
  std::vector<std::string> arrExpected;
  for (const std::string& strRoot : arrListed) {
    std::istringstream lines(strRecords);
    for (std::string strLine; std::getline(lines, strLine);) {
      const std::string strOid = strLine.substr(0, strLine.find('|'));
      if (fnInside(strOid, {strRoot}) && !fnInside(strOid, arrExcluded)) arrExpected.push_back(strOid);
    }
  }
  ASSERT_GT(arrExpected.size(), 1000u);
  const std::string strScope = "Walk=.1.3.6.1.2.1.25, ip, interfaces\n"
                               "Exclude=.1.3.6.1.2.1.25.4.2.1.5, .1.3.6.1.2.1.25.5, ip.24\n";
  for (const char* szCap : {"", "MaxObjects=1000\n"}) {
    for (const char* szVersion : {"Version=1\n", "Version=2\nMaxRepetitions=10\n"}) {
      std::string strFirst;
      for (const char* szWindow : {"Window=1\n", "Window=2\n", "Window=16\n"}) {
        SCOPED_TRACE(std::string(szCap) + szVersion + szWindow);
        WriteConfig(agent.Port(), 2000, 1, 0, strScope + szCap + szVersion + szWindow);
        const CProcessResult result = Run({"oid", "", "127.0.0.1"});
        const std::string strFile = ReadAll(Path("127.0.0.1.xml"));
        if (strFirst.empty()) {
          strFirst = strFile;
          std::vector<std::string> arrStored;
          for (const auto& record : ReadXml("127.0.0.1.xml")) arrStored.push_back(record.first);
          std::vector<std::string> arrWanted = arrExpected;
          if (*szCap != '\0') {
            arrWanted.resize(1000);
          } else {
            arrWanted.push_back("1.3.6.1.2.1.1.3.0");  // the supplement: no subtree listed holds it
          }
          std::sort(arrStored.begin(), arrStored.end());
          std::sort(arrWanted.begin(), arrWanted.end());
          EXPECT_EQ(arrStored, arrWanted);
        } else {
          EXPECT_TRUE(strFile == strFirst) << "the file differs from Window=1's";
        }
        const std::vector<std::string> arrErrors = Lines(result.strOutput, "target[127.0.0.1]error:");
        ASSERT_FALSE(arrErrors.empty());
        EXPECT_EQ(arrErrors.back(), *szCap != '\0' ? "target[127.0.0.1]error:66" : "target[127.0.0.1]error:0");
      }
    }
  }
}

// Through a relay that adds 5 ms each way and drops what overflows a
// queue of 4, a walk with 16 requests in flight stores what a walk of one
// request at a time stores, byte for byte: dropped requests are re-sent,
// and the window shrinks at each re-send (at 16 and at 64 requests).
TEST_F(ProgramTest, WindowThroughABusyRelayLosesNothing) {
  const std::string strRecords = RecordedLinuxWalk();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  StartAgent({"127.0.0.1"}, strRecords);
  std::string strExpected;
  for (const int nWindow : {1, 16, 64}) {
    SCOPED_TRACE(nWindow);
    CUdpRelay relay(m_agent.Port(), 5, nWindow == 1 ? 0 : 4);
    ASSERT_TRUE(relay.Start());
    WriteConfig(relay.Port(), 300, 3, 0, "Version=2\nMaxRepetitions=10\nWindow=" + std::to_string(nWindow) + "\n");
    Run({"oid", "", "127.0.0.1"});
    const std::string strFile = ReadAll(Path("127.0.0.1.xml"));
    if (nWindow == 1) {
      strExpected = strFile;
      EXPECT_EQ(ReadXml("127.0.0.1.xml").size(), m_agent.RecordCount());
    } else {
      EXPECT_TRUE(strFile == strExpected) << "the file differs from Window=1's";
      EXPECT_GT(relay.Dropped(), 0) << "the queue overflowed";
      // Each re-send halves the window, so few requests overflow the queue
      // (about one in ten; under a sanitizer, whose agent is slower, now
      // and then one in five); a window that kept its size would lose one
      // in three at 64.
      EXPECT_LT(relay.Dropped(), relay.Forwarded() / (c_bSanitizer ? 4 : 5)) << "the window did not shrink";
    }
  }
}

// 50 ms away (the relay holds each datagram 25 ms each way), a walk with
// a wide window opens with its first window spread over the first round
// trip and, given its own earlier file, a lane for each two requests'
// worth of its objects: more than the 15 for each 10 ms a near walk cuts.
// Neither that nor a first scan's cuts at each answer and ahead in long
// columns cost the agent much: it answers not many more requests than for
// Window=1. A file of another device costs requests, never entries.
TEST_F(ProgramTest, AFarWalkStartsWideAndWritesTheSameFile) {
  const std::string strRecords = RecordedLinuxWalk();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  StartAgent({"127.0.0.1"}, strRecords);
  std::string strOtherFile = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<RESULTS>\n";
  std::istringstream otherLines(RecordedSwitch());
  for (std::string strLine; std::getline(otherLines, strLine);)
    strOtherFile += "\t<RESULT>\n\t\t<OID>" + strLine.substr(0, strLine.find('|')) + "</OID>\n\t\t<VALUE>x</VALUE>\n\t</RESULT>\n";
  strOtherFile += "</RESULTS>\n";
  for (const char* szVersion : {"Version=1\n", "Version=2\nMaxRepetitions=10\n"}) {
    SCOPED_TRACE(szVersion);
    std::string strExpected;
    int nFirstRequests = 0;
    for (const char* szScan : {"Window=1", "first", "second", "another device's file"}) {
      SCOPED_TRACE(szScan);
      const std::string strScan = szScan;
      if (strScan == "first") std::filesystem::remove(Path("127.0.0.1.xml"));
      if (strScan == "another device's file") m_dir.WriteFile("127.0.0.1.xml", strOtherFile);
      std::filesystem::remove_all(Path("log"));
      const bool bAlone = strScan == "Window=1";
      const int nRequests = WalkFarAway(bAlone, szVersion);
      const std::string strFile = ReadAll(Path("127.0.0.1.xml"));
      if (bAlone) {
        strExpected = strFile;
        nFirstRequests = nRequests;
        EXPECT_EQ(ReadXml("127.0.0.1.xml").size(), m_agent.RecordCount());
        continue;
      }
      EXPECT_TRUE(strFile == strExpected) << "the file differs from Window=1's";
      if (strScan == "another device's file") continue;
      // A first scan's lanes split as they answer, and each lane's last
      // request looks past its end: with GET-NEXT that doubles the
      // requests (as near with a window this wide), with GETBULK less
      // (835 against 390 here).
      if (strScan == "first" && std::string(szVersion) == "Version=1\n") continue;
      EXPECT_LE(nRequests, nFirstRequests * (strScan == "first" ? 5.0 / 2 : 8.0 / 5)) << nFirstRequests << " requests with Window=1";
      if (strScan != "second") continue;
      int nLanes = 0;
      for (const std::string& strLine : LogLines()) {
        const size_t nAt = strLine.find("|lanes from an earlier scan: ");
        if (nAt != std::string::npos) nLanes = std::stoi(strLine.substr(nAt + 29));
      }
      EXPECT_GT(nLanes, 5 * 15 + 1);
      // Cut at a sample of the earlier file dense enough to give each lane
      // its two GETBULKs' worth, nearly every lane ends with its second
      // answer: one cut among too few sampled OIDs holds up to twice its
      // share, and a third request, a round trip more, at the walk's end.
      if (std::string(szVersion) != "Version=1\n") {
        EXPECT_LE(nRequests, nLanes * 9 / 4 + 10) << nLanes << " lanes";
      }
    }
  }
}

// 50 ms away, a first scan cuts long dense columns ahead of their answers
// and starts a table's next columns at once: pieces past a column's end,
// across a hole in its index, of columns that are not there, or in the
// middle of an excluded subtree cost requests, never entries, and the
// file is the one Window=1 writes.
TEST_F(ProgramTest, AFarFirstScanCutsLongColumnsAheadAndWritesTheSameFile) {
  std::string strRecords = "1.3.6.1.2.1.1.1.0|4|dense tables\n1.3.6.1.2.1.1.3.0|67|77\n";
  // Five columns of 700 rows, 1 to 300 and 4000 to 4399; column 4 missing.
  for (int nColumn : {1, 2, 3, 5, 6}) {
    for (int nRow = 1; nRow <= 4399; nRow = nRow == 300 ? 4000 : nRow + 1)
      strRecords += "1.3.6.1.2.1.25.6.3.1." + std::to_string(nColumn) + "." + std::to_string(nRow) + "|2|" +
                    std::to_string(nRow * nColumn) + "\n";
  }
  // A column of 30 rows, then one of 200 rows two apart.
  for (int nRow = 1; nRow <= 30; ++nRow) strRecords += "1.3.6.1.4.1.2021.2.1.1." + std::to_string(nRow) + "|2|1\n";
  for (int nRow = 2; nRow <= 400; nRow += 2)
    strRecords += "1.3.6.1.4.1.2021.2.1.2." + std::to_string(nRow) + "|4|row " + std::to_string(nRow) + "\n";
  strRecords += "1.3.6.1.4.1.8072.1.1.0|2|7\n";
  StartAgent({"127.0.0.1"}, strRecords);
  for (const char* szExclude : {"", "Exclude=1.3.6.1.2.1.25.6.3.1.2.100\n"}) {
    SCOPED_TRACE(szExclude);
    std::string strExpected;
    int nAloneRequests = 0;
    for (const bool bAlone : {true, false}) {
      std::filesystem::remove(Path("127.0.0.1.xml"));
      const int nRequests = WalkFarAway(bAlone, std::string("Version=2\nMaxRepetitions=25\n") + szExclude);
      const std::string strFile = ReadAll(Path("127.0.0.1.xml"));
      if (bAlone) {
        strExpected = strFile;
        nAloneRequests = nRequests;
        EXPECT_GT(ReadXml("127.0.0.1.xml").size(), 3000U);
        continue;
      }
      EXPECT_TRUE(strFile == strExpected) << "the file differs from Window=1's";
      // Each piece ends at an instance the agent holds: its lane ends
      // with that object, not with a request past it (230 requests here
      // when it asked again).
      EXPECT_LE(nRequests, nAloneRequests * 3 / 2) << nAloneRequests << " requests with Window=1";
    }
  }
}

// 50 ms away, a first scan learns that a table's columns share an index
// of many arcs (an OID here, of several lengths, as a MIB module table's)
// and cuts each column where another's cuts held objects and where OIDs
// of each length begin their registration subtrees, and cuts a table of
// many columns and few rows along its columns. Columns that only
// seem to share their rows (the same first row, the rest apart), a column
// that is not there and a wide table's end cost requests, never entries.
TEST_F(ProgramTest, AFarFirstScanSharesCutsAcrossColumnsAndWritesTheSameFile) {
  std::string strRecords = "1.3.6.1.2.1.1.1.0|4|deep indexes\n1.3.6.1.2.1.1.3.0|67|77\n";
  // Many columns of two rows each.
  for (int nColumn = 3; nColumn <= 46; ++nColumn) {
    for (int nRow = 1; nRow <= 2; ++nRow)
      strRecords += "1.3.6.1.2.1.4.31.1.1." + std::to_string(nColumn) + "." + std::to_string(nRow) + "|65|" +
                    std::to_string(nColumn * nRow) + "\n";
  }
  // The same rows in columns 4 to 6 (and no column 7): a context of
  // length 0, an OID of 8 to 12 arcs, a priority.
  std::vector<std::string> arrIndexes;
  for (int nGroup = 1; nGroup <= 60; ++nGroup) {
    for (int nLength = 8; nLength <= 12; ++nLength) {
      std::string strOid = "1.3.6.1.2.1." + std::to_string(nGroup);
      for (int nArc = 7; nArc < nLength; ++nArc) strOid += "." + std::to_string(nArc == nLength - 1 ? nGroup % 7 + 1 : 1);
      arrIndexes.push_back("0." + std::to_string(nLength) + "." + strOid + ".127");
    }
  }
  for (int nColumn = 4; nColumn <= 6; ++nColumn) {
    for (const std::string& strIndex : arrIndexes)
      strRecords += "1.3.6.1.4.1.8072.1.2.1.1." + std::to_string(nColumn) + "." + strIndex + "|2|" + std::to_string(nColumn) + "\n";
  }
  // Two columns with the same first row, and then rows apart.
  for (int nColumn = 2; nColumn <= 3; ++nColumn) {
    strRecords += "1.3.6.1.4.1.8072.1.3.1.1." + std::to_string(nColumn) + ".0.9.1.3.6.1.2.1.1.1.0|2|1\n";
    for (int nRow = 1; nRow <= 120; ++nRow)
      strRecords += "1.3.6.1.4.1.8072.1.3.1.1." + std::to_string(nColumn) + ".0." + std::to_string(8 + nColumn) +
                    ".1.3.6.1.4.1." + std::to_string(nRow * nColumn) + ".1.2.3|2|" + std::to_string(nRow) + "\n";
  }
  StartAgent({"127.0.0.1"}, strRecords);
  std::string strExpected;
  int nAloneRequests = 0;
  std::vector<std::string> arrRequested;
  for (const bool bAlone : {true, false}) {
    std::filesystem::remove(Path("127.0.0.1.xml"));
    const int nRequests = WalkFarAway(bAlone, "Version=2\nMaxRepetitions=25\n", &arrRequested);
    const std::string strFile = ReadAll(Path("127.0.0.1.xml"));
    if (bAlone) {
      strExpected = strFile;
      nAloneRequests = nRequests;
      EXPECT_EQ(ReadXml("127.0.0.1.xml").size(), m_agent.RecordCount());
      continue;
    }
    // Each column of the OID index is cut at mib-2 under its OIDs'
    // lengths: column 4 where it was met, 5 and 6 first as guesses (from
    // column 4's answers) and then where they showed rows. The guesses of
    // columns 7 and 8, which are not there, cost a request a length at
    // most, not a cut at each registration subtree; and the registration
    // tree's empty places next to its subtrees are not cut at all.
    std::set<std::string> setCutColumns;
    int nPastTheTable = 0;
    const std::string strTable = "1.3.6.1.4.1.8072.1.2.1.1.";
    const auto endsWith = [](const std::string& strOid, const std::string& strEnd) {
      return strOid.size() > strEnd.size() && strOid.compare(strOid.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
    };
    for (const std::string& strOid : arrRequested) {
      if (strOid.rfind(strTable, 0) != 0) continue;
      const std::string strColumn = strOid.substr(strTable.size(), strOid.find('.', strTable.size()) - strTable.size());
      if (strColumn == "7" || strColumn == "8") ++nPastTheTable;
      if (endsWith(strOid, ".1.3.6.1.2.1")) setCutColumns.insert(strColumn);
      EXPECT_FALSE(endsWith(strOid, ".1.3.6.1.2.2") || endsWith(strOid, ".1.3.6.1.3") || endsWith(strOid, ".1.3.7")) << strOid;
      // Past the subtrees a met column is cut at mib-2's groups at most,
      // not at each OID's siblings and the rest of its index: a request
      // begins at a row (its priority last) or at most a group deep.
      const size_t nIndexOid = strOid.find(".1.3.6.1.", strTable.size());
      if (strColumn >= "4" && strColumn <= "6" && nIndexOid != std::string::npos && !endsWith(strOid, ".127")) {
        EXPECT_LE(std::count(strOid.begin() + static_cast<std::ptrdiff_t>(nIndexOid), strOid.end(), '.'), 7) << strOid;
      }
    }
    EXPECT_THAT(setCutColumns, ElementsAre("4", "5", "6"));
    EXPECT_LE(nPastTheTable, 12);
    EXPECT_TRUE(strFile == strExpected) << "the file differs from Window=1's";
    // So few objects (some 50 requests' worth) take many more requests at
    // distance, each guessed cut one at least (190 against 51): enough to
    // catch cuts that do not stop.
    EXPECT_LE(nRequests, nAloneRequests * 5) << nAloneRequests << " requests with Window=1";
  }
}

// 50 ms away, a second scan of a small device cuts it into lanes of one
// GETBULK's worth, each ending with its first answer: a request or two
// more than the lanes, where lanes of a few objects each (as many as a
// near walk cuts for that path) cost one request apiece.
TEST_F(ProgramTest, AFarSecondScanOfASmallDeviceTakesALaneARequest) {
  std::string strRecords = "1.3.6.1.2.1.1.1.0|4|small\n1.3.6.1.2.1.1.3.0|67|77\n";
  for (int nRow = 1; nRow <= 300; ++nRow)
    strRecords += "1.3.6.1.2.1.2.2.1.10." + std::to_string(nRow) + "|65|" + std::to_string(nRow) + "\n";
  StartAgent({"127.0.0.1"}, strRecords);
  const std::string strKeys = "Version=2\nMaxRepetitions=25\n";
  (void)WalkFarAway(true, strKeys);
  const std::string strExpected = ReadAll(Path("127.0.0.1.xml"));
  const int nRequests = WalkFarAway(false, strKeys);
  EXPECT_TRUE(ReadAll(Path("127.0.0.1.xml")) == strExpected) << "the file differs from Window=1's";
  // 302 objects, 19 a lane: the first GET and 17 lanes.
  EXPECT_LE(nRequests, 20);
}

// A path that loses every answer over 1,400 bytes (their fragments):
// GETBULKs of 50 repetitions are asked again smaller, one request at a time
// and in lanes, and the file is the one a direct walk of 10 writes.
TEST_F(ProgramTest, LargeAnswersLostOnThePathLoseNothing) {
  const std::string strRecords = RecordedLinuxWalk();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  StartAgent({"127.0.0.1"}, strRecords);
  WriteConfig(m_agent.Port(), 300, 1, 0, "Version=2\nMaxRepetitions=10\n");
  Run({"oid", "", "127.0.0.1"});
  const std::string strExpected = ReadAll(Path("127.0.0.1.xml"));
  EXPECT_EQ(ReadXml("127.0.0.1.xml").size(), m_agent.RecordCount());
  for (const int nWindow : {1, 16}) {
    SCOPED_TRACE(nWindow);
    CUdpRelay relay(m_agent.Port(), 0);
    relay.SetMaxAnswerBytes(1400);
    ASSERT_TRUE(relay.Start());
    WriteConfig(relay.Port(), 300, 1, 0, "Version=2\nMaxRepetitions=50\nWindow=" + std::to_string(nWindow) + "\n");
    const CProcessResult result = Run({"oid", "", "127.0.0.1"});
    EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]error:"), ElementsAre("target[127.0.0.1]error:0"));
    EXPECT_TRUE(ReadAll(Path("127.0.0.1.xml")) == strExpected) << "the file differs from the direct walk's";
    EXPECT_GT(relay.DroppedAnswers(), 0) << "no answer was too large";
  }
}

TEST_F(ProgramTest, StartOidThatDoesNotParseIsReported) {
  StartAgent({"127.0.0.1"});
  WriteConfig(m_agent.Port());
  const CProcessResult result = Run({"oid", "system.noSuchName.0", "127.0.0.1"});
  EXPECT_EQ(m_agent.RequestCount(), 0);
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]"),
              ElementsAre("target[127.0.0.1]start:system.noSuchName.0", "target[127.0.0.1]wsaerror:0",
                          "target[127.0.0.1]error:53"));
  EXPECT_THAT(ReadXml("127.0.0.1_[system.noSuchName.0].xml"), IsEmpty());
}

TEST_F(ProgramTest, SilentTargetGetsTwoWalksAndAnEmptyFile) {
  StartAgent({"127.0.0.1"}, c_szDevice, {.nSilentAfter = 0});
  WriteConfig(m_agent.Port(), 100, 1);
  const CProcessResult result = Run({"127.0.0.1", "127.0.0.9"});  // 127.0.0.9: nobody listens
  EXPECT_EQ(m_agent.RequestCount(), 2 * (1 + 1)) << "two walks, each a GET tried twice";
  for (const char* szTarget : {"127.0.0.1", "127.0.0.9"}) {
    EXPECT_EQ(Lines(result.strOutput, std::string("target[") + szTarget + "]start:").size(), 2u);
    EXPECT_THAT(Lines(result.strOutput, std::string("target[") + szTarget + "]error:"),
                ElementsAre(std::string("target[") + szTarget + "]error:40",
                            std::string("target[") + szTarget + "]error:40"));
    EXPECT_THAT(ReadXml(std::string(szTarget) + ".xml"), IsEmpty());
  }
}

// A target whose walks learnt nothing (silent, a name that does not
// resolve, refused before any entry) keeps its earlier file byte for byte
// and says so; one that answered writes its new file; with no earlier
// file, the empty document is written as before.
TEST_F(ProgramTest, TargetThatLearntNothingKeepsItsEarlierFile) {
  StartAgent({"127.0.0.1"}, c_szDevice, {.nSilentAfter = 0});
  CTestAgent refusing;
  std::string strErr;
  ASSERT_TRUE(refusing.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  std::set<int> setAll;
  for (int i = 1; i <= 40; ++i) setAll.insert(i);
  refusing.SetMisbehaviour({.setErrorRequests = setAll, .nErrorStatus = 6 /* noAccess */});
  ASSERT_TRUE(refusing.Start({"127.0.0.2"}));
  CTestAgent answering;
  ASSERT_TRUE(answering.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  ASSERT_TRUE(answering.Start({"127.0.0.1"}));
  WriteConfig(m_agent.Port(), 100, 0, 0,
              "[Target 127.0.0.2]\nPort=" + std::to_string(refusing.Port()) +
                  "\n[Target localhost]\nPort=" + std::to_string(answering.Port()) + "\n");
  const std::string strEarlier = "<?xml version=\"1.0\"?>\n<RESULTS><!-- yesterday's --></RESULTS>\n";
  for (const char* szName : {"127.0.0.1.xml", "127.0.0.2.xml", "gone.invalid.xml", "localhost.xml"})
    m_dir.WriteFile(szName, strEarlier);
  const CProcessResult result = Run({"127.0.0.1", "127.0.0.2", "gone.invalid", "localhost", "127.0.0.9"});
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.2]error:"), Contains("target[127.0.0.2]error:64"));
  EXPECT_THAT(Lines(result.strOutput, "output"),
              UnorderedElementsAre("output kept: " + Path("127.0.0.1.xml") + " (no answer)",
                                   "output kept: " + Path("127.0.0.2.xml") + " (no answer)",
                                   "output kept: " + Path("gone.invalid.xml") + " (no answer)",
                                   "output: " + Path("localhost.xml"), "output: " + Path("127.0.0.9.xml")));
  for (const char* szName : {"127.0.0.1.xml", "127.0.0.2.xml", "gone.invalid.xml"})
    EXPECT_TRUE(ReadAll(Path(szName)) == strEarlier) << szName << ", byte for byte";
  EXPECT_EQ(ReadXml("localhost.xml").size(), 8u);
  EXPECT_THAT(ReadXml("127.0.0.9.xml"), IsEmpty()) << "no earlier file: the empty document";
}

// Every format asked for has its file, each kept or written on its own;
// the XML file is the same byte for byte with the typed formats or
// without them.
TEST_F(ProgramTest, EachFormatKeepsOrWritesItsOwnFile) {
  StartAgent({"127.0.0.1"}, c_szDevice, {.nSilentAfter = 0});
  CTestAgent answering;
  std::string strErr;
  ASSERT_TRUE(answering.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  ASSERT_TRUE(answering.Start({"127.0.0.1"}));
  WriteConfig(m_agent.Port(), 100, 0, 0, "[Target localhost]\nPort=" + std::to_string(answering.Port()) + "\n");
  ASSERT_THAT(Lines(Run({"127.0.0.9.invalid", "localhost"}).strOutput, "output: "),
              Contains("output: " + Path("localhost.xml")));
  const std::string strXmlAlone = ReadAll(Path("localhost.xml"));
  for (const char* szName : {"127.0.0.1.xml", "127.0.0.1.walk"}) m_dir.WriteFile(szName, "yesterday's\n");
  const CProcessResult result = Run({"--format", "walk,xml,snmprec", "127.0.0.1", "localhost"});
  EXPECT_THAT(Lines(result.strOutput, "output"),
              UnorderedElementsAre("output kept: " + Path("127.0.0.1.xml") + " (no answer)",
                                   "output: " + Path("127.0.0.1.snmprec"),
                                   "output kept: " + Path("127.0.0.1.walk") + " (no answer)",
                                   "output: " + Path("localhost.xml"), "output: " + Path("localhost.snmprec"),
                                   "output: " + Path("localhost.walk")));
  EXPECT_TRUE(ReadAll(Path("127.0.0.1.walk")) == "yesterday's\n");
  EXPECT_EQ(ReadAll(Path("127.0.0.1.snmprec")), "") << "no earlier file: an empty one";
  EXPECT_TRUE(ReadAll(Path("localhost.xml")) == strXmlAlone) << "the XML file as without the typed formats";
  const std::vector<std::string> arrSnmprec = Lines(ReadAll(Path("localhost.snmprec")), "");
  EXPECT_EQ(arrSnmprec.size(), ReadXml("localhost.xml").size());
  EXPECT_THAT(ReadAll(Path("localhost.walk")), ::testing::StartsWith(".1.3.6.1.2.1.1.1.0 = STRING: "));
  // The key works as the option does; the option wins over it.
  WriteConfig(answering.Port(), 100, 0, 0, "Format=snmprec\n");
  EXPECT_THAT(Lines(Run({"127.0.0.1", "localhost"}).strOutput, "output"),
              UnorderedElementsAre("output: " + Path("127.0.0.1.snmprec"), "output: " + Path("localhost.snmprec")));
  EXPECT_THAT(Lines(Run({"--format", "walk", "127.0.0.1", "localhost"}).strOutput, "output"),
              UnorderedElementsAre("output: " + Path("127.0.0.1.walk"), "output: " + Path("localhost.walk")));
}

TEST_F(ProgramTest, NoArgumentsMakesTheLogDirectoryAndNothingElse) {
  WriteConfig(161, 100, 0, 1);
  const CProcessResult result = Run({});
  EXPECT_EQ(result.strOutput, "");
  EXPECT_TRUE(std::filesystem::is_directory(Path("log")));
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
    EXPECT_NE(entry.path().extension(), ".xml") << entry.path();
}

TEST_F(ProgramTest, SameTargetTwiceIsWalkedTwiceIntoOneSoundFile) {
  StartAgent({"127.0.0.1"});
  WriteConfig(m_agent.Port());
  const CProcessResult result = Run({"127.0.0.1", "127.0.0.1"});
  EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]start:").size(), 2u);
  const auto arrOutputs = Lines(result.strOutput, "output");
  ASSERT_EQ(arrOutputs.size(), 2u);
  EXPECT_THAT(arrOutputs, ::testing::Contains("output: " + Path("127.0.0.1.xml")));
  EXPECT_EQ(ReadXml("127.0.0.1.xml").size(), 8u);
}

TEST_F(ProgramTest, SlowEarlyTargetStillGetsACompleteFile) {
  SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE();
  std::string strRecords;
  for (int i = 1; i <= 60; ++i) strRecords += "1.3.6.1.2.1.2.2.1.10." + std::to_string(i) + "|65|" + std::to_string(i * 1000) + "\n";
  strRecords = std::string(c_szDevice) + strRecords;
  StartAgent({"127.0.0.1"}, strRecords, {.nDelayMs = 5});
  CTestAgent fast;
  std::string strErr;
  ASSERT_TRUE(fast.LoadSnmprec(c_szDevice, &strErr));
  ASSERT_TRUE(fast.Start({"127.0.0.3"}, m_agent.Port()));
  WriteConfig(m_agent.Port());
  const CProcessResult result = Run({"127.0.0.1", "127.0.0.3"});
  // The fast target's output line comes first, the slow one's later.
  const auto arrOutputs = Lines(result.strOutput, "output");
  ASSERT_EQ(arrOutputs.size(), 2u);
  EXPECT_EQ(arrOutputs[0], "output: " + Path("127.0.0.3.xml"));
  const CRecords arrSlow = ReadXml("127.0.0.1.xml");
  EXPECT_EQ(arrSlow.size(), 68u);
  EXPECT_EQ(Oids(arrSlow).size(), arrSlow.size()) << "no OID twice";
  EXPECT_EQ(ReadXml("127.0.0.3.xml").size(), 8u);
}

// One target logs directly, one line per write: every rotated file went
// past 262144 bytes with its last line, and not before.
TEST_F(ProgramTest, LogRotatesAtTheFirstWritePastTheThreshold) {
  const std::string strRecords = RecordedLinuxWalk();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  StartAgent({"127.0.0.1"}, strRecords);
  WriteConfig(m_agent.Port(), 1000, 1, 1);
  for (int nRun = 0; nRun < 3; ++nRun) Run({"127.0.0.1"});  // the log grows across runs
  size_t nRotated = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Path("log"))) {
    const std::string strName = entry.path().filename().string();
    if (strName == "log.txt") continue;
    ++nRotated;
    const std::string strText = ReadAll(entry.path());
    ASSERT_FALSE(strText.empty());
    const size_t nLastLine = strText.size() - strText.rfind('\n', strText.size() - 2) - 1;
    EXPECT_GT(strText.size(), 262144u) << strName;
    EXPECT_LE(strText.size() - nLastLine, 262144u) << strName << ": rotated one write late";
  }
  EXPECT_GE(nRotated, 1u);
  EXPECT_LE(std::filesystem::file_size(Path("log/log.txt")), 262144u);
}

// A long walk with logging on: log.txt rotates, and across the live and
// rotated files every stored binding has its log line.
TEST_F(ProgramTest, LogRotatesWithoutLosingALine) {
  SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE();
  const std::string strRecords = RecordedLinuxWalk();
  if (strRecords.empty()) GTEST_SKIP() << "snmpsim is not installed";
  StartAgent({"127.0.0.1", "127.0.0.3"}, strRecords);
  WriteConfig(m_agent.Port(), 1000, 1, 1);
  Run({"127.0.0.1", "127.0.0.3"});

  size_t nRotated = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Path("log")))
    nRotated += entry.path().filename().string().ends_with("_log.txt") ? 1 : 0;
  EXPECT_GE(nRotated, 1u);
  const auto arrLines = LogLines();
  for (const char* szTarget : {"127.0.0.1", "127.0.0.3"}) {
    const CRecords arrRecords = ReadXml(std::string(szTarget) + ".xml");
    EXPECT_EQ(arrRecords.size(), m_agent.RecordCount());
    std::set<std::string> setLogged;
    size_t nStarts = 0;
    size_t nEnds = 0;
    const std::string strMarker = std::string("|-|") + szTarget + "|";
    for (const auto& strLine : arrLines) {
      const size_t nAt = strLine.find(strMarker);
      if (nAt == std::string::npos) continue;
      const std::string strText = strLine.substr(nAt + strMarker.size());
      nStarts += strText == "start" ? 1 : 0;
      nEnds += strText == "end" ? 1 : 0;
      const size_t nComma = strText.rfind(',');
      if (strText.starts_with("1.") && nComma != std::string::npos) setLogged.insert(strText.substr(0, nComma));
    }
    EXPECT_EQ(setLogged, Oids(arrRecords)) << szTarget;
    EXPECT_EQ(nStarts, 1u);
    EXPECT_EQ(nEnds, 1u);
  }
}

// Records 1.3.6.1.2.1.2.2.1.10.1 to .N, Counter32 values 1000 times the index.
std::string Counters(int nCount) {
  std::string strRecords;
  for (int i = 1; i <= nCount; ++i)
    strRecords += "1.3.6.1.2.1.2.2.1.10." + std::to_string(i) + "|65|" + std::to_string(i * 1000) + "\n";
  return strRecords;
}

// Interrupted in mid-walk (the agent needs 1.5 s and more per walk): every
// target still gets its file with what was read, nothing is asked after
// the signal, the log is written whole, and the exit status tells which
// signal it was.
// The parameter: the signal, and the window (several requests in flight
// stop as one does).
class InterruptTest : public ProgramTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(InterruptTest, InterruptedScanKeepsWhatWasRead) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "signals are Linux's (Windows: a console control event, not sent here)";
  const int nSignal = GetParam().first;
  // No sysUpTime.0: an uninterrupted worker would walk again from there.
  // A window walks the 100 objects of one request at a time within the
  // 600 ms: it gets 2,000.
  const int nObjects = GetParam().second == 1 ? 100 : 2000;
  StartAgent({"127.0.0.1", "127.0.0.3"}, "1.3.6.1.2.1.1.1.0|4|test device\n" + Counters(nObjects),
             {.nDelayMs = 15});
  WriteConfig(m_agent.Port(), 1000, 1, 1, "Window=" + std::to_string(GetParam().second) + "\n");
  const CProcessResult result = RunProcess(m_strExe, {"127.0.0.1", "127.0.0.3"},
                                              {.nTimeoutSeconds = 60, .arrSignals = {{600, nSignal}}});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 128 + nSignal);
  const int nRequests = m_agent.RequestCount();
  EXPECT_LT(nRequests, 2 * (nObjects + 1)) << "the walks stopped early";
  const auto arrLines = LogLines();
  for (const char* szTarget : {"127.0.0.1", "127.0.0.3"}) {
    SCOPED_TRACE(szTarget);
    const std::string strPrefix = std::string("target[") + szTarget + "]";
    EXPECT_THAT(Lines(result.strOutput, strPrefix + "start:"), ElementsAre(strPrefix + "start:system.sysDescr.0"))
        << "no supplement after the interruption";
    EXPECT_THAT(Lines(result.strOutput, strPrefix + "error:"), ElementsAre(strPrefix + "error:54"));
    const CRecords arrRecords = ReadXml(std::string(szTarget) + ".xml");
    EXPECT_GT(arrRecords.size(), 1u);
    EXPECT_LT(arrRecords.size(), static_cast<size_t>(nObjects + 1));
    for (const auto& [strOid, strValue] : arrRecords) {
      if (strOid == "1.3.6.1.2.1.1.1.0") continue;
      const std::string strIndex = strOid.substr(strOid.rfind('.') + 1);
      EXPECT_EQ(strValue, std::to_string(std::stoi(strIndex) * 1000)) << strOid;
    }
    // The whole log: one line per stored binding, and the worker's last line.
    std::set<std::string> setLogged;
    bool bEnd = false;
    const std::string strMarker = std::string("|-|") + szTarget + "|";
    for (const auto& strLine : arrLines) {
      const size_t nAt = strLine.find(strMarker);
      if (nAt == std::string::npos) continue;
      const std::string strText = strLine.substr(nAt + strMarker.size());
      bEnd = bEnd || strText == "end";
      const size_t nComma = strText.rfind(',');
      if (strText.starts_with("1.") && nComma != std::string::npos) setLogged.insert(strText.substr(0, nComma));
    }
    EXPECT_EQ(setLogged, Oids(arrRecords));
    EXPECT_TRUE(bEnd);
  }
}

// An interrupted scan keeps the complete file of an earlier scan for a
// target whose walk it cut short, byte for byte, and says so; a target
// whose walk finished before the interruption writes its new file.
TEST_F(ProgramTest, InterruptionKeepsTheEarlierCompleteFile) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "signals are Linux's (Windows: a console control event, not sent here)";
  StartAgent({"127.0.0.1"}, "1.3.6.1.2.1.1.1.0|4|slow device\n" + Counters(2000), {.nDelayMs = 15});
  CTestAgent fast;
  std::string strErr;
  ASSERT_TRUE(fast.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  ASSERT_TRUE(fast.Start({"127.0.0.3"}));
  WriteConfig(m_agent.Port(), 1000, 1, 0, "[Target 127.0.0.3]\nPort=" + std::to_string(fast.Port()) + "\n");
  const std::string strEarlier = "<?xml version=\"1.0\"?>\n<RESULTS><!-- last night's --></RESULTS>\n";
  m_dir.WriteFile("127.0.0.1.xml", strEarlier);
  m_dir.WriteFile("127.0.0.3.xml", strEarlier);
  const CProcessResult result = RunProcess(m_strExe, {"127.0.0.1", "127.0.0.3"},
                                           {.nTimeoutSeconds = 60, .arrSignals = {{600, SIGINT}}});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 128 + SIGINT);
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]error:"), ElementsAre("target[127.0.0.1]error:54"));
  EXPECT_THAT(Lines(result.strOutput, "output"),
              UnorderedElementsAre("output kept: " + Path("127.0.0.1.xml") + " (interrupted)",
                                   "output: " + Path("127.0.0.3.xml")));
  EXPECT_TRUE(ReadAll(Path("127.0.0.1.xml")) == strEarlier) << "the earlier file, byte for byte";
  EXPECT_EQ(ReadXml("127.0.0.3.xml").size(), 8u) << "the finished walk's new file";
}

// An interruption that comes as the system walk ends (before its last
// answer, which it still takes), when the sysUpTime walk has yet to start:
// no further walk starts, and the target's earlier complete file is kept.
TEST_F(ProgramTest, InterruptionBetweenTheTwoWalksKeepsTheEarlierFile) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "signals are Linux's (Windows: a console control event, not sent here)";
  // No sysUpTime.0: the worker would walk again from there. Seven
  // records, then eleven noSuchName answers: the 18th request is the
  // system walk's last.
  std::string strRecords = c_szDevice;
  strRecords.erase(strRecords.find("1.3.6.1.2.1.1.3.0"), std::string("1.3.6.1.2.1.1.3.0|67|4242\n").size());
  const std::string strPidFile = Path("mibscan.pid");
  StartAgent({"127.0.0.1"}, strRecords, {.nInterruptBeforeAnswer = 18, .strInterruptPidFile = strPidFile});
  WriteConfig(m_agent.Port(), 1000, 1);
  const std::string strEarlier = "<?xml version=\"1.0\"?>\n<RESULTS><!-- last night's --></RESULTS>\n";
  m_dir.WriteFile("127.0.0.1.xml", strEarlier);
  const CProcessResult result = RunProcess(
      "/bin/sh", {"-c", "echo $$ > '" + strPidFile + "'; exec '" + m_strExe + "' 127.0.0.1 127.0.0.3"}, 60);
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 128 + SIGINT);
  EXPECT_EQ(m_agent.RequestCount(), 18);
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]start:"),
              ElementsAre("target[127.0.0.1]start:system.sysDescr.0"));
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]error:"), ElementsAre("target[127.0.0.1]error:0"));
  EXPECT_THAT(Lines(result.strOutput, "output kept: "),
              Contains("output kept: " + Path("127.0.0.1.xml") + " (interrupted)"));
  EXPECT_TRUE(ReadAll(Path("127.0.0.1.xml")) == strEarlier) << "the earlier file, byte for byte";
}

// SIGHUP is 1 on Linux; Windows has no such signal.
INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(std::pair(SIGINT, 1), std::pair(SIGTERM, 1), std::pair(1, 1),
                                           std::pair(SIGINT, 16)));

TEST_F(ProgramTest, SecondInterruptEndsTheProcessAtOnce) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "signals are Linux's (Windows: a console control event, not sent here)";
  StartAgent({"127.0.0.1"}, c_szDevice, {.nSilentAfter = 0});
  WriteConfig(m_agent.Port(), 20000, 3);  // each walk would wait a minute and more
  const CProcessResult result =
      RunProcess(m_strExe, {"127.0.0.1", "127.0.0.3"},
                 {.nTimeoutSeconds = 60, .arrSignals = {{300, SIGINT}, {1800, SIGINT}}});
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nSignal, SIGINT) << "ended by the second signal, not by the first";
}

// GNU timeout signals mibscan and then its whole process group: the two
// signals that come together are one interruption, which ends the scan in
// order (error:54, the earlier file kept, the summary written), as a single
// kill -INT does.
TEST_F(ProgramTest, TimeoutsDoubleSignalEndsTheScanInOrder) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "signals are Linux's (Windows: a console control event, not sent here)";
  StartAgent({"127.0.0.1"}, c_szDevice, {.nSilentAfter = 0});
  WriteConfig(m_agent.Port(), 2000, 10, 1);  // each walk would wait 22 s
  const std::string strEarlier = "<?xml version=\"1.0\"?>\n<RESULTS><!-- last night's --></RESULTS>\n";
  m_dir.WriteFile("127.0.0.1.xml", strEarlier);
  const std::string strErr = Path("stderr.txt");
  const CProcessResult result = RunProcess(
      "/bin/sh", {"-c", "timeout --signal=INT 1 '" + m_strExe + "' --progress 127.0.0.1 2>'" + strErr + "'; echo status $?"},
      60);
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_THAT(Lines(result.strOutput, "status "), ElementsAre("status 124"));
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.1]error:"), ElementsAre("target[127.0.0.1]error:54"));
  EXPECT_THAT(Lines(result.strOutput, "output"), ElementsAre("output kept: " + Path("127.0.0.1.xml") + " (interrupted)"));
  EXPECT_TRUE(ReadAll(Path("127.0.0.1.xml")) == strEarlier);
  EXPECT_THAT(ReadAll(strErr), ::testing::HasSubstr("1 targets in "));
  const auto arrLines = LogLines();
  EXPECT_TRUE(std::any_of(arrLines.begin(), arrLines.end(),
                          [](const std::string& strLine) { return strLine.ends_with("|127.0.0.1|end"); }))
      << "the whole log";
}

// Another process that holds the log's lock and keeps it (another user's
// scan that hangs, anybody's flock) costs one bounded wait: the scan runs,
// logs, and ends in order on the first signal.
TEST_F(ProgramTest, LogLockKeptElsewhereStallsNothing) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "the lock file and signals are Linux's";
  StartAgent({"127.0.0.1", "127.0.0.3"});
  CTestAgent silent;
  std::string strErr;
  ASSERT_TRUE(silent.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  silent.SetMisbehaviour({.nSilentAfter = 0});
  ASSERT_TRUE(silent.Start({"127.0.0.4"}));
  WriteConfig(m_agent.Port(), 1000, 1, 1, "[Target 127.0.0.4]\nPort=" + std::to_string(silent.Port()) +
                                              "\nTimeout=2000\nRetry=10\n");
  CTempDir runtime;
  std::filesystem::permissions(runtime.Path(), std::filesystem::perms::owner_all);
  const char* szSaved = std::getenv("XDG_RUNTIME_DIR");
  const std::string strSaved = szSaved != nullptr ? szSaved : "";
  SetEnvironment("XDG_RUNTIME_DIR", runtime.Path().string().c_str());
  const CForeignWriterLock held(runtime.WriteFile("mibscan-log.lock", ""));
  ASSERT_TRUE(held.IsHeld());
  const CProcessResult result = RunProcess(m_strExe, {"127.0.0.1", "127.0.0.3", "127.0.0.4"},
                                           {.nTimeoutSeconds = 60, .arrSignals = {{5000, SIGINT}}});
  SetEnvironment("XDG_RUNTIME_DIR", strSaved.empty() ? nullptr : strSaved.c_str());
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 128 + SIGINT);
  EXPECT_THAT(Lines(result.strOutput, "target[127.0.0.4]error:"), ElementsAre("target[127.0.0.4]error:54"));
  for (const char* szTarget : {"127.0.0.1", "127.0.0.3"}) EXPECT_EQ(ReadXml(std::string(szTarget) + ".xml").size(), 8u);
  const auto arrLines = LogLines();
  EXPECT_EQ(std::count_if(arrLines.begin(), arrLines.end(),
                          [](const std::string& strLine) { return strLine.ends_with("|end"); }),
            3);
}

// "mibscan a b | head -1": the console goes away after one line; the scan
// still writes both files and the log.
TEST_F(ProgramTest, ClosedConsoleCostsNoData) {
  if (!c_bLinuxProcesses) GTEST_SKIP() << "needs a Linux shell pipeline";
  StartAgent({"127.0.0.1", "127.0.0.3"}, std::string(c_szDevice) + Counters(50), {.nDelayMs = 1});
  WriteConfig(m_agent.Port(), 1000, 1, 1);
  const CProcessResult result =
      RunProcess("/bin/sh", {"-c", "'" + m_strExe + "' 127.0.0.1 127.0.0.3 | head -1"}, 60);
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(Lines(result.strOutput, "target[").size(), 1u);
  for (const char* szTarget : {"127.0.0.1", "127.0.0.3"})
    EXPECT_EQ(ReadXml(std::string(szTarget) + ".xml").size(), 58u) << szTarget;
  const auto arrLines = LogLines();
  EXPECT_EQ(std::count_if(arrLines.begin(), arrLines.end(),
                          [](const std::string& strLine) { return strLine.ends_with("|end"); }),
            2);
}

}  // namespace
