// The scan's record (--report) of a fleet with one target per outcome:
// the real snmpd and test agents that answer, stay silent, refuse, spend
// the error budget, loop, restart while walked, and a target whose result
// file cannot be written; then a scan that is interrupted. scan.json is
// read back with a JSON parser and checked against what each agent did.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "snmp/UsmCrypto.h"
#include "tests/ProgramFixture_test.h"
#include "tests/TestAgent.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using CJson = nlohmann::json;

constexpr char c_szDevice[] =
    "1.3.6.1.2.1.1.1.0|4|fleet device\n"
    "1.3.6.1.2.1.1.3.0|67|4242\n"
    "1.3.6.1.2.1.1.5.0|4|name\n";

std::string Sha256Of(const std::string& strPath) {
  CSha256 digest;
  digest.Write(ReadAll(strPath));
  return digest.HexDigest();
}

// Compares dotted OIDs arc by arc.
bool OidLess(const std::string& a, const std::string& b) {
  std::vector<unsigned long> arrA, arrB;
  for (const auto& [strText, pArcs] : {std::pair{&a, &arrA}, std::pair{&b, &arrB}}) {
    std::istringstream in(*strText);
    for (std::string strArc; std::getline(in, strArc, '.');) pArcs->push_back(std::stoul(strArc));
  }
  return arrA < arrB;
}

class ScanReportTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    if (!c_bLinuxProcesses) GTEST_SKIP() << "the fleet uses the Linux snmpd and signals";
    const char* szDir = std::getenv("MIBSCAN_SNMPD_DIR");
    if (szDir == nullptr) GTEST_SKIP() << "run through ctest: the snmpd fixture sets MIBSCAN_SNMPD_DIR";
    std::ifstream portFile(std::string(szDir) + "/port");
    ASSERT_TRUE(portFile >> m_nSnmpdPort) << "snmpd fixture did not start";
    std::filesystem::create_directory(m_dir.Path() / "out");
  }
  // Starts agent on strAddress with the device and misbehaviour.
  static void Start(CTestAgent* pAgent, const std::string& strAddress, const CTestAgent::CMisbehaviour& misbehaviour,
                    const std::string& strRecords = c_szDevice) {
    std::string strErr;
    ASSERT_TRUE(pAgent->LoadSnmprec(strRecords, &strErr)) << strErr;
    pAgent->SetMisbehaviour(misbehaviour);
    ASSERT_TRUE(pAgent->Start({strAddress}));
  }
  std::string Out(const std::string& strName) const { return (m_dir.Path() / "out" / strName).string(); }
  CJson ReadJson() const {
    const std::string strText = ReadAll(Out("scan.json"));
    CJson json = CJson::parse(strText, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << strText.substr(0, 2000);
    return json;
  }
  // The checks every target's record passes, whatever became of it: the
  // figures agree with one another and the files with the disk.
  void ExpectConsistent(const CJson& target) const {
    SCOPED_TRACE(target.dump());
    for (const char* szKey : {"target", "address", "section", "sections", "version", "security_level", "outcome",
                              "code", "reason", "complete", "objects", "requests", "resends", "timeouts",
                              "answers_dropped", "bytes_received", "seconds", "round_trip_ms", "repetitions",
                              "window", "sys_up_time", "restarted", "first_oid", "last_oid", "files"})
      EXPECT_TRUE(target.contains(szKey)) << szKey;
    EXPECT_GE(target["seconds"].get<double>(), 0.0);
    EXPECT_LE(target["timeouts"].get<uint64_t>(), target["requests"].get<uint64_t>());
    const CJson& trips = target["round_trip_ms"];
    if (!trips.is_null()) {
      EXPECT_LE(trips["min"].get<double>(), trips["median"].get<double>());
      EXPECT_LE(trips["median"].get<double>(), trips["p95"].get<double>());
      EXPECT_LE(trips["p95"].get<double>(), trips["max"].get<double>());
      EXPECT_GT(trips["count"].get<uint64_t>(), 0u);
      EXPECT_GT(target["bytes_received"].get<uint64_t>(), 0u);
    }
    const CJson& dropped = target["answers_dropped"];
    EXPECT_EQ(dropped["total"].get<uint64_t>(), dropped["late"].get<uint64_t>() + dropped["other"].get<uint64_t>());
    for (const CJson& file : target["files"]) {
      if (file["state"] == "not written") {
        EXPECT_TRUE(file["size"].is_null());
        EXPECT_TRUE(file["sha256"].is_null());
        EXPECT_FALSE(file["why"].is_null());
        continue;
      }
      const std::string strPath = file["path"].get<std::string>();
      EXPECT_EQ(std::filesystem::path(strPath).filename().string(), file["name"].get<std::string>());
      EXPECT_EQ(std::filesystem::file_size(strPath), file["size"].get<uint64_t>()) << strPath;
      EXPECT_EQ(Sha256Of(strPath), file["sha256"].get<std::string>()) << strPath;
    }
    // Nothing secret: the communities and the SNMPv3 user's settings.
    const std::string strText = target.dump();
    EXPECT_THAT(strText, ::testing::Not(HasSubstr("qzvtrk")));
    EXPECT_THAT(strText, ::testing::Not(HasSubstr("sekrit")));
  }
  // The objects of an XML result file, least and greatest OID.
  std::pair<std::string, std::string> OidRange(const std::string& strName, size_t* pnObjects) const {
    std::vector<std::string> arrOids;
    for (const auto& record : ReadXml("out/" + strName)) arrOids.push_back(record.first);
    *pnObjects = arrOids.size();
    if (arrOids.empty()) return {};
    return {*std::min_element(arrOids.begin(), arrOids.end(), OidLess),
            *std::max_element(arrOids.begin(), arrOids.end(), OidLess)};
  }

  int m_nSnmpdPort = 0;
};

TEST_F(ScanReportTest, EveryOutcomeOfAFleetIsRecordedAsItHappened) {
  CTestAgent answering, silent, refusing, erring, looping, restarting, unwritable;
  std::set<int> setErrors;
  for (int i = 2; i <= 80; ++i) setErrors.insert(i);
  Start(&answering, "127.0.0.2", {});
  Start(&silent, "127.0.0.3", {.nSilentAfter = 0});
  Start(&refusing, "127.0.0.4", {.setErrorRequests = setErrors, .nErrorStatus = SNMP_ERRORSTATUS_GENERR});
  Start(&erring, "127.0.0.5", {.setErrorRequests = setErrors, .nErrorStatus = SNMP_ERRORSTATUS_NOSUCHNAME});
  Start(&looping, "127.0.0.6", {.bRepeatOid = true});
  // SNMPv3: discovery, the GET, one GETBULK that reaches the end; then a
  // discovery and the GET of sysUpTime.0 after the walk, from request 4.
  Start(&restarting, "127.0.0.7", {.nRestartAtRequest = 4});
  Start(&unwritable, "127.0.0.8", {});
  std::filesystem::create_directory(m_dir.Path() / "out" / "127.0.0.8.xml");
  const auto Section = [](const char* szPattern, const CTestAgent& agent, const std::string& strMore = "") {
    return std::string("[Target ") + szPattern + "]\nPort=" + std::to_string(agent.Port()) + "\n" + strMore;
  };
  // A second each try: no answer is lost to a loaded machine (the
  // restarted agent counts its requests); the silent one waits less.
  WriteConfig(m_nSnmpdPort, 1000, 1, 0,
              "Version=1\n[Target 127.0.0.1]\nVersion=2\nWindow=4\n" +
                  Section("127.0.0.2", answering, "Format=xml,snmprec\n") +
                  Section("127.0.0.3", silent, "Timeout=300\n") +
                  Section("127.0.0.4", refusing) + Section("127.0.0.5", erring, "Version=2\nMaxRepetitions=0\n") +
                  Section("127.0.0.6", looping) +
                  Section("127.0.0.7", restarting, "Version=3\nUser=fleetuser\n") + Section("127.0.0.8", unwritable) +
                  "[Target 127.0.0.*]\nCommunity=qzvtrk\nContext=sekrit\n");
  const std::vector<std::string> arrTargets{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4",
                                            "127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8"};
  std::vector<std::string> arrArgs{"-o", (m_dir.Path() / "out").string(), "--report"};
  arrArgs.insert(arrArgs.end(), arrTargets.begin(), arrTargets.end());
  const CProcessResult result = Run(arrArgs);

  const CJson json = ReadJson();
  ASSERT_TRUE(json.contains("run") && json.contains("targets"));
  const CJson& run = json["run"];
  const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  EXPECT_TRUE(std::regex_match(run["start"].get<std::string>(), utc)) << run["start"];
  EXPECT_TRUE(std::regex_match(run["end"].get<std::string>(), utc)) << run["end"];
  EXPECT_LE(run["start"].get<std::string>(), run["end"].get<std::string>());
  EXPECT_FALSE(run["version"].get<std::string>().empty());
  EXPECT_FALSE(run["host"].get<std::string>().empty());
  EXPECT_EQ(arrArgs, run["arguments"].get<std::vector<std::string>>());
  EXPECT_EQ(8u, run["targets"].get<uint64_t>());
  EXPECT_EQ(5u, run["answered"].get<uint64_t>());  // complete x3, error budget, loop guard
  EXPECT_EQ(3u, run["failed"].get<uint64_t>());
  EXPECT_EQ(7u, run["files_written"].get<uint64_t>());  // all but 127.0.0.8
  EXPECT_EQ(4u, run["complete"].get<uint64_t>());  // walks that reached the end, 127.0.0.8 too
  EXPECT_EQ((CJson{{"complete", 3}, {"no answer", 1}, {"refused", 1}, {"error budget", 1}, {"loop guard", 1},
                   {"output error", 1}}),
            run["outcomes"]);

  const CJson& targets = json["targets"];
  ASSERT_EQ(8u, targets.size());
  std::map<std::string, CJson> mapTarget;
  for (size_t i = 0; i < targets.size(); ++i) {
    EXPECT_EQ(arrTargets[i], targets[i]["target"]) << "in target order";
    ExpectConsistent(targets[i]);
    mapTarget[arrTargets[i]] = targets[i];
  }
  uint64_t nObjectsSum = 0;
  for (const CJson& target : targets) nObjectsSum += target["objects"].get<uint64_t>();
  EXPECT_EQ(nObjectsSum, run["objects"].get<uint64_t>());

  {  // The real snmpd: everything as its file says.
    const CJson& target = mapTarget["127.0.0.1"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("127.0.0.1:" + std::to_string(m_nSnmpdPort), target["address"]);
    EXPECT_EQ("127.0.0.1", target["section"]);
    EXPECT_EQ((CJson{"127.0.0.1", "127.0.0.*"}), target["sections"]);
    EXPECT_EQ("2c", target["version"]);
    EXPECT_EQ("community", target["security_level"]);
    EXPECT_EQ("complete", target["outcome"]);
    EXPECT_EQ(0, target["code"]);
    EXPECT_EQ("answered", target["reason"]);
    EXPECT_EQ(true, target["complete"]);
    size_t nObjects = 0;
    const auto [strFirst, strLast] = OidRange("127.0.0.1.xml", &nObjects);
    EXPECT_GT(nObjects, 50u);
    EXPECT_EQ(nObjects, target["objects"].get<uint64_t>());
    EXPECT_EQ(strFirst, target["first_oid"]);
    EXPECT_EQ(strLast, target["last_oid"]);
    // A GETBULK of 10 brings 10 objects at most.
    EXPECT_GE(target["requests"].get<uint64_t>(), nObjects / 10);
    EXPECT_EQ(0u, target["timeouts"].get<uint64_t>());
    EXPECT_EQ((CJson{{"start", 10}, {"end", 10}}), target["repetitions"]);
    EXPECT_EQ(4, target["window"]["start"]);
    EXPECT_LE(target["window"]["end"].get<int>(), 4);
    const CJson& upTime = target["sys_up_time"];
    ASSERT_TRUE(upTime["first"].is_number() && upTime["after"].is_number()) << upTime;
    EXPECT_GE(upTime["after"].get<uint64_t>(), upTime["first"].get<uint64_t>());
    EXPECT_EQ(false, target["restarted"]);
    ASSERT_EQ(1u, target["files"].size());
    EXPECT_EQ("xml", target["files"][0]["format"]);
    EXPECT_EQ("written", target["files"][0]["state"]);
    EXPECT_EQ(Out("127.0.0.1.xml"), target["files"][0]["path"]);
  }
  {  // A test agent, SNMPv1, two formats.
    const CJson& target = mapTarget["127.0.0.2"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("127.0.0.2:" + std::to_string(answering.Port()), target["address"]);
    EXPECT_EQ("1", target["version"]);
    EXPECT_EQ("complete", target["outcome"]);
    EXPECT_EQ(3, target["objects"]);
    EXPECT_EQ("1.3.6.1.2.1.1.1.0", target["first_oid"]);
    EXPECT_EQ("1.3.6.1.2.1.1.5.0", target["last_oid"]);
    // GET, three GET-NEXTs, eleven noSuchName answers at the end, the
    // sysUpTime.0 after the walk (apart).
    EXPECT_EQ(answering.RequestCount(), static_cast<int>(target["requests"].get<uint64_t>()) + 1);
    EXPECT_EQ(4242, target["sys_up_time"]["first"]);
    EXPECT_EQ(4242, target["sys_up_time"]["after"]);
    EXPECT_EQ((CJson{{"start", 0}, {"end", 0}}), target["repetitions"]);
    ASSERT_EQ(2u, target["files"].size());
    EXPECT_EQ("xml", target["files"][0]["format"]);
    EXPECT_EQ("snmprec", target["files"][1]["format"]);
    EXPECT_EQ("written", target["files"][1]["state"]);
  }
  {  // Silent: two walks of two tries each.
    const CJson& target = mapTarget["127.0.0.3"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("no answer", target["outcome"]);
    EXPECT_EQ(40, target["code"]);
    EXPECT_EQ("no answer (40)", target["reason"]);
    EXPECT_EQ(false, target["complete"]);
    EXPECT_EQ(0, target["objects"]);
    EXPECT_EQ(2, target["requests"]);
    EXPECT_EQ(2, target["resends"]);
    EXPECT_EQ(2, target["timeouts"]);
    EXPECT_EQ(0, target["bytes_received"]);
    EXPECT_TRUE(target["round_trip_ms"].is_null());
    EXPECT_TRUE(target["first_oid"].is_null());
    EXPECT_TRUE(target["sys_up_time"]["first"].is_null());
    EXPECT_TRUE(target["sys_up_time"]["after"].is_null());
    EXPECT_GE(target["seconds"].get<double>(), 1.1);  // 4 x 300 ms
  }
  {  // Refused: genErr to every GET-NEXT.
    const CJson& target = mapTarget["127.0.0.4"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("refused", target["outcome"]);
    EXPECT_EQ(64, target["code"]);
    EXPECT_EQ(1, target["objects"]);  // sysDescr.0, from the first GET
  }
  {  // noSuchName errors in SNMPv2c: the error budget, code 0.
    const CJson& target = mapTarget["127.0.0.5"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("error budget", target["outcome"]);
    EXPECT_EQ(0, target["code"]);
    EXPECT_EQ(false, target["complete"]);
    EXPECT_EQ("2c", target["version"]);
  }
  {  // Answers that repeat the OID asked for.
    const CJson& target = mapTarget["127.0.0.6"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("loop guard", target["outcome"]);
    EXPECT_EQ(0, target["code"]);
    EXPECT_EQ(false, target["complete"]);
  }
  {  // SNMPv3, restarted between the walk and the GET after it.
    const CJson& target = mapTarget["127.0.0.7"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("3", target["version"]);
    EXPECT_EQ("noAuthNoPriv", target["security_level"]);
    EXPECT_EQ("complete", target["outcome"]);
    EXPECT_EQ(4242, target["sys_up_time"]["first"]);
    EXPECT_EQ(7, target["sys_up_time"]["after"]);
    EXPECT_EQ(true, target["restarted"]);
  }
  {  // The result file's name is taken by a directory.
    const CJson& target = mapTarget["127.0.0.8"];
    SCOPED_TRACE(target.dump());
    EXPECT_EQ("output error", target["outcome"]);
    EXPECT_EQ(0, target["code"]);
    EXPECT_EQ(true, target["complete"]) << "the walk reached the end; its file is what failed";
    EXPECT_EQ("not written", target["files"][0]["state"]);
    EXPECT_EQ("output error", target["files"][0]["why"]);
  }
  for (const auto& [strTarget, target] : mapTarget) {
    if (strTarget != "127.0.0.7") {
      EXPECT_EQ(false, target["restarted"]) << strTarget;
    }
  }

  // failed.txt: the targets to try again, ready for -f.
  EXPECT_EQ("127.0.0.3\n127.0.0.4\n127.0.0.8\n", ReadAll(Out("failed.txt")));
  // The page names every target.
  const std::string strPage = ReadAll(Out("scan.html"));
  for (const std::string& strTarget : arrTargets) EXPECT_THAT(strPage, HasSubstr("\"" + strTarget + "\""));
  EXPECT_THAT(result.strOutput, ::testing::Not(HasSubstr("scan.json")));
}

// Without --report (or Report=1) the scan writes what it always wrote:
// the same files, byte for byte, and the same console lines.
TEST_F(ScanReportTest, WithoutTheOptionNothingChanges) {
  CTestAgent agent, silent;
  Start(&agent, "127.0.0.2", {});
  Start(&silent, "127.0.0.3", {.nSilentAfter = 0});
  WriteConfig(agent.Port(), 1000, 1, 0,
              "Format=xml,walk\n[Target 127.0.0.3]\nTimeout=200\nRetry=0\nPort=" + std::to_string(silent.Port()) + "\n");
  const auto scan = [&](const std::string& strDir, bool bReport) {
    std::filesystem::create_directory(m_dir.Path() / strDir);
    std::vector<std::string> arrArgs{"-o", (m_dir.Path() / strDir).string()};
    if (bReport) arrArgs.push_back("--report");
    arrArgs.insert(arrArgs.end(), {"127.0.0.2", "127.0.0.3"});
    std::vector<std::string> arrLines;
    std::istringstream output(Run(arrArgs).strOutput);
    for (std::string strLine; std::getline(output, strLine);) {
      const size_t nAt = strLine.find((m_dir.Path() / strDir).string());
      if (nAt != std::string::npos) strLine.replace(nAt, (m_dir.Path() / strDir).string().size(), "DIR");
      arrLines.push_back(strLine);
    }
    std::sort(arrLines.begin(), arrLines.end());  // the targets' lines interleave as they come
    return arrLines;
  };
  const auto arrPlain = scan("plain", false);
  const auto arrReport = scan("report", true);
  EXPECT_EQ(arrPlain, arrReport);
  std::set<std::string> setPlain, setReport;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path() / "plain"))
    setPlain.insert(entry.path().filename().string());
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path() / "report"))
    setReport.insert(entry.path().filename().string());
  EXPECT_EQ((std::set<std::string>{"127.0.0.2.walk", "127.0.0.2.xml", "127.0.0.3.walk", "127.0.0.3.xml"}), setPlain);
  for (const std::string& strName : setPlain) {
    EXPECT_TRUE(ReadAll((m_dir.Path() / "plain" / strName).string()) ==
                ReadAll((m_dir.Path() / "report" / strName).string()))
        << strName;
  }
  EXPECT_EQ(setPlain.size() + 3, setReport.size()) << "scan.json, failed.txt and scan.html besides";
}

TEST_F(ScanReportTest, AnInterruptedScanStillWritesItsRecordWithItsTargetsMarked) {
  std::string strRecords = c_szDevice;
  strRecords.erase(strRecords.find("1.3.6.1.2.1.1.3.0"), std::string("1.3.6.1.2.1.1.3.0|67|4242\n").size());
  const std::string strPidFile = Path("mibscan.pid");
  CTestAgent agent, silent;
  Start(&agent, "127.0.0.1", {.nInterruptBeforeAnswer = 3, .strInterruptPidFile = strPidFile}, strRecords);
  Start(&silent, "127.0.0.3", {.nSilentAfter = 0});
  WriteConfig(agent.Port(), 1000, 1, 0, "[Target 127.0.0.3]\nPort=" + std::to_string(silent.Port()) + "\n");
  const std::string strEarlier = "<?xml version=\"1.0\"?>\n<RESULTS><!-- last night's --></RESULTS>\n";
  {
    std::ofstream(Out("127.0.0.1.xml"), std::ios::binary) << strEarlier;
  }
  const CProcessResult result =
      RunProcess("/bin/sh",
                 {"-c", "echo $$ > '" + strPidFile + "'; exec '" + m_strExe + "' --report -o '" +
                            (m_dir.Path() / "out").string() + "' 127.0.0.1 127.0.0.3"},
                 60);
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 128 + SIGINT);
  const CJson json = ReadJson();
  ASSERT_EQ(2u, json["targets"].size());
  EXPECT_EQ((CJson{{"interrupted", 2}}), json["run"]["outcomes"]);
  const CJson& cut = json["targets"][0];
  ExpectConsistent(cut);
  EXPECT_EQ("interrupted", cut["outcome"]);
  EXPECT_EQ(54, cut["code"]);
  EXPECT_EQ(false, cut["complete"]);
  EXPECT_GE(cut["objects"].get<int>(), 1) << "the walk read sysDescr.0 before it was cut";
  EXPECT_EQ("kept", cut["files"][0]["state"]);
  EXPECT_EQ("interrupted", cut["files"][0]["why"]);
  EXPECT_EQ(strEarlier.size(), cut["files"][0]["size"].get<size_t>());
  const CJson& unanswered = json["targets"][1];
  ExpectConsistent(unanswered);
  EXPECT_EQ("interrupted", unanswered["outcome"]);
  EXPECT_EQ("127.0.0.1\n127.0.0.3\n", ReadAll(Out("failed.txt")));
}

}  // namespace
