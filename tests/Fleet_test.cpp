// A fleet in one run: options, target files, address blocks, settings per
// device group, and the command lines that are refused before anything is
// sent or written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <map>

#include "tests/ProgramFixture_test.h"
#include "tests/TestAgent.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

constexpr char c_szDevice[] =
    "1.3.6.1.2.1.1.1.0|4|fleet device\n"
    "1.3.6.1.2.1.1.3.0|67|4242\n"
    "1.3.6.1.2.1.1.5.0|4|name\n";

class FleetTest : public ProgramFixture {
 protected:
  // Runs the program with its standard error joined to its output (Linux:
  // through a shell), inside a network namespace of its own when
  // bNoNetwork: there no name can reach a resolver and no datagram a host.
  CProcessResult RunJoined(const std::vector<std::string>& arrArgs, bool bNoNetwork = false) const {
    if (!c_bLinuxProcesses) return RunProcess(m_strExe, arrArgs, 120);
    std::vector<std::string> arrShell{"-c", "exec \"$0\" \"$@\" 2>&1", m_strExe};
    arrShell.insert(arrShell.end(), arrArgs.begin(), arrArgs.end());
    if (!bNoNetwork) return RunProcess("/bin/sh", arrShell, 120);
    arrShell.insert(arrShell.begin(), {"-rn", "/bin/sh"});
    return RunProcess("/usr/bin/unshare", arrShell, 120);
  }
  // The names in the program's directory other than itself and config.ini.
  std::vector<std::string> Written() const {
    std::vector<std::string> arrNames;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
      const std::string strName = entry.path().filename().string();
      if (entry.path().string() != m_strExe && strName != "config.ini") arrNames.push_back(strName);
    }
    return arrNames;
  }
  // An agent at 127.0.0.1 that answers and one at 127.0.0.3 that never
  // does, each serving the device, and a config.ini that reaches both.
  void StartAnsweringAndSilent(CTestAgent* pAgent, CTestAgent* pSilent, int nTimeout, int nRetry) const {
    std::string strErr;
    ASSERT_TRUE(pAgent->LoadSnmprec(c_szDevice, &strErr)) << strErr;
    ASSERT_TRUE(pSilent->LoadSnmprec(c_szDevice, &strErr)) << strErr;
    pSilent->SetMisbehaviour({.nSilentAfter = 0});
    ASSERT_TRUE(pAgent->Start());
    ASSERT_TRUE(pSilent->Start({"127.0.0.3"}));
    WriteConfig(pAgent->Port(), nTimeout, nRetry, 0,
                "[Target 127.0.0.3]\nPort=" + std::to_string(pSilent->Port()) + "\n");
  }
  static bool CanUnshareNetwork() {
    return c_bLinuxProcesses && RunProcess("/usr/bin/unshare", {"-rn", "/bin/true"}, 30).nExitCode == 0;
  }
};

// Each refused command line: status 2, why on standard error, nothing
// sent to the agent, no file and no log line written.
TEST_F(FleetTest, RefusedCommandLinesSendAndWriteNothing) {
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  ASSERT_TRUE(agent.Start());
  WriteConfig(agent.Port(), 300, 0, 1);
  CTempDir listDir;
  const std::string strAbsent = (listDir.Path() / "absent-list.txt").string();
  const std::string strBadList = listDir.WriteFile("bad-list.txt", "127.0.0.1\n# a comment\n127.0.0.1/33\n");
  struct {
    std::vector<std::string> arrArgs;
    const char* szWhy;
  } const rows[] = {
      {{"127.0.0.1", "10.1"}, "10.1"},
      {{"127.0.0.1,1.5.0"}, "1.5.0"},
      {{"127.0.0.0/33", "127.0.0.1"}, "127.0.0.0/33"},
      {{"127.0.0.9-2"}, "127.0.0.9-2"},
      {{"-f", strAbsent, "127.0.0.1"}, "absent-list.txt"},
      {{"-f", strBadList}, "bad-list.txt:3: "},
      {{"--config", Path("absent.ini"), "127.0.0.1"}, "absent.ini"},
      {{"-o", Path("no-such-dir"), "127.0.0.1"}, "no-such-dir"},
      {{"--oid"}, "--oid"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arrArgs[0]);
    const CProcessResult result = RunJoined(row.arrArgs);
    EXPECT_EQ(result.nExitCode, 2);
    if (c_bLinuxProcesses) {
      EXPECT_THAT(result.strOutput, StartsWith("mibscan: "));
      EXPECT_THAT(result.strOutput, HasSubstr(row.szWhy));
    }
  }
  EXPECT_EQ(agent.RequestCount(), 0);
  EXPECT_THAT(Written(), ::testing::IsEmpty()) << "no result file, no log directory";
}

// What the program would once have taken for host names: an option it
// does not know, the "oid" word among several targets, a path. Tried with
// no network at all.
TEST_F(FleetTest, OptionsAndNumbersAreNeverLookedUp) {
  if (!CanUnshareNetwork()) GTEST_SKIP() << "no network namespace to try names in (unshare -rn)";
  WriteConfig(161, 300, 0, 1);
  for (const auto& arrArgs : std::vector<std::vector<std::string>>{
           {"oid", "1.5.0", "t1.invalid", "t2.invalid"}, {"--halp"}, {"-c", "public", "h.invalid"}, {"1.5.0"}}) {
    SCOPED_TRACE(arrArgs[0]);
    const CProcessResult result = RunJoined(arrArgs, true);
    EXPECT_EQ(result.nExitCode, 2);
    EXPECT_THAT(result.strOutput, StartsWith("mibscan: "));
  }
  EXPECT_THAT(Written(), ::testing::IsEmpty());
}

// A misspelled key and a word for a number: a warning each on standard
// error, nothing on standard output.
TEST_F(FleetTest, ConfigWarningsGoToStandardError) {
  m_dir.WriteFile("config.ini", "[Config]\nComunity=public\nVersion=v2c\n");
  const CProcessResult quiet = Run({});
  EXPECT_EQ(quiet.strOutput, "");
  if (!c_bLinuxProcesses) return;  // standard error is not caught there
  const CProcessResult joined = RunJoined({});
  EXPECT_EQ(joined.strOutput, "mibscan: warning: " + Path("config.ini") +
                                  ": [Config] unknown key Comunity (did you mean Community?)\n"
                                  "mibscan: warning: " + Path("config.ini") +
                                  ": [Config] Version=v2c is not a number (read as 0)\n");
}

TEST_F(FleetTest, HelpAndVersionWriteNothing) {
  WriteConfig(161);
  for (const char* szHelp : {"-h", "--help"}) {
    const CProcessResult result = Run({szHelp});
    EXPECT_THAT(result.strOutput, HasSubstr("--targets FILE"));
  }
  const CProcessResult version = Run({"--version"});
  EXPECT_THAT(version.strOutput, StartsWith("mibscan 1."));
  EXPECT_THAT(Written(), ::testing::IsEmpty()) << "no --help.xml, no -h.xml, no log";
}

// Two device groups with their own community and port, by [Target]
// sections; a targets file with a block; config.ini and the results in
// other directories than the program's.
TEST_F(FleetTest, GroupsFilesAndPlaces) {
  CTestAgent alpha;
  CTestAgent beta;
  std::string strErr;
  ASSERT_TRUE(alpha.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  ASSERT_TRUE(beta.LoadSnmprec(std::string(c_szDevice) + "1.3.6.1.2.1.1.6.0|4|beta only\n", &strErr)) << strErr;
  alpha.SetCommunity("alpha-community");
  beta.SetCommunity("beta-community");
  ASSERT_TRUE(alpha.Start());
  ASSERT_TRUE(beta.Start());
  CTempDir settingsDir;
  CTempDir outDir;
  const std::string strConfig = settingsDir.WriteFile(
      "fleet.ini", "[Target LOCALHOST]\nCommunity=beta-community\nPort=" + std::to_string(beta.Port()) +
                       "\n[Config]\nCommunity=nobody\nTimeout=300\nRetry=0\nPort=" + std::to_string(alpha.Port()) +
                       "\n[Target 127.0.0.0/8]\nCommunity=alpha-community\n");
  const std::string strList = settingsDir.WriteFile("targets.txt", "# the group\nlocalhost\n\n127.0.0.1-1\n");
  const CProcessResult result = Run({"--config", strConfig, "-o", outDir.Path().string(), "-f", strList});
  const auto outPath = [&](const char* szName) { return (outDir.Path() / szName).string(); };
  EXPECT_THAT(Lines(result.strOutput, "output"),
              UnorderedElementsAre("output: " + outPath("localhost.xml"), "output: " + outPath("127.0.0.1.xml")));
  for (const auto& [szFile, nRecords] : {std::pair("localhost.xml", 4u), std::pair("127.0.0.1.xml", 3u)}) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(outPath(szFile).c_str())) << szFile;
    const auto records = doc.child("RESULTS").children("RESULT");
    EXPECT_EQ(static_cast<size_t>(std::distance(records.begin(), records.end())), nRecords) << szFile;
  }
  EXPECT_THAT(Written(), ElementsAre("log")) << "results go to the output directory only";
}

// --strict: 0 when every target answered and wrote its file, 3 when some
// failed, 4 when none answered; without it, 0. Standard error holds no
// progress and no summary unless --progress asks (it is no terminal here);
// with it, the summary names the failed target.
TEST_F(FleetTest, StrictStatusAndSummary) {
  CTestAgent agent;
  CTestAgent silent;
  ASSERT_NO_FATAL_FAILURE(StartAnsweringAndSilent(&agent, &silent, 100, 0));
  struct {
    std::vector<std::string> arrArgs;
    int nStatus;
  } const rows[] = {{{"--strict", "127.0.0.1", "localhost"}, 0},
                    {{"--strict", "127.0.0.1", "127.0.0.3"}, 3},
                    {{"--strict", "--", "127.0.0.3", "127.0.0.3"}, 4},
                    {{"127.0.0.3", "127.0.0.3"}, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arrArgs[1]);
    const CProcessResult result = RunJoined(row.arrArgs);
    EXPECT_EQ(result.nExitCode, row.nStatus);
    if (c_bLinuxProcesses) {
      EXPECT_EQ(result.strOutput.find("targets"), std::string::npos) << "no progress, no summary";
    }
  }
  if (!c_bLinuxProcesses) return;  // standard error is not caught there
  // No earlier file for the silent target: it writes the empty document
  // (with one, it would keep that one, and write none).
  std::filesystem::remove(Path("127.0.0.3.xml"));
  const CProcessResult result = RunJoined({"--progress", "127.0.0.1", "127.0.0.3"});
  EXPECT_THAT(result.strOutput, HasSubstr("\n2 targets in "));
  EXPECT_THAT(result.strOutput, HasSubstr(": 1 answered, 1 no answer, 0 failed; 3 objects; 2 files written, 0 not written\n"
                                          "  127.0.0.3: no answer (40)\n"));
}

// A walk that dropped one value it could not decode (code 52) still
// answered: --strict's status is 0, and the summary counts it answered.
// A single GET of a value that cannot be decoded ends its walk with that
// code.
TEST_F(FleetTest, OneUndecodableValueStillAnswers) {
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  agent.SetMisbehaviour({.setUnreadable = {"1.3.6.1.2.1.1.5.0"}});
  ASSERT_TRUE(agent.Start());
  WriteConfig(agent.Port(), 300, 0);
  const CProcessResult result =
      RunJoined({"--strict", "--progress", "--oid", "system.sysName.0", "127.0.0.1", "localhost"});
  EXPECT_EQ(result.nExitCode, 0);
  EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]error:52").size(), 1u) << result.strOutput;
  if (!c_bLinuxProcesses) return;  // standard error is not caught there
  EXPECT_THAT(result.strOutput, HasSubstr(": 2 answered, 0 no answer, 0 failed;"));
}

// Under a pseudo-terminal the status line is drawn on standard error,
// redrawn in place and taken away at the end, the console lines never run
// into it, and the summary follows.
TEST_F(FleetTest, StatusLineOnATerminal) {
  if (!c_bLinuxProcesses || RunProcess("/usr/bin/script", {"-qec", "true", "/dev/null"}, 30).nExitCode != 0)
    GTEST_SKIP() << "no pseudo-terminal to run in (script(1); wine cannot drive one)";
  CTestAgent agent;
  CTestAgent silent;
  // The silent target takes two walks of two tries of 400 ms.
  ASSERT_NO_FATAL_FAILURE(StartAnsweringAndSilent(&agent, &silent, 400, 1));
  const CProcessResult result =
      RunProcess("/usr/bin/script", {"-qec", "'" + m_strExe + "' 127.0.0.1 127.0.0.3", "/dev/null"}, 60);
  const std::string& strOut = result.strOutput;
  const size_t nStatus = strOut.find("\r2/2 targets");
  EXPECT_NE(strOut.find("/2 targets, "), std::string::npos) << strOut;
  EXPECT_NE(strOut.find(" objects/s, ETA "), std::string::npos) << strOut;
  // Every console line starts a line of its own.
  for (const char* szLine : {"target[127.0.0.1]start:", "target[127.0.0.3]error:40", "output: "}) {
    const size_t nAt = strOut.find(szLine);
    ASSERT_NE(nAt, std::string::npos) << szLine;
    EXPECT_TRUE(nAt == 0 || strOut[nAt - 1] == '\n' || strOut[nAt - 1] == '\r') << szLine;
  }
  // Taken away: blanks over the last status line, then the summary.
  const size_t nSummary = strOut.find("2 targets in ");
  ASSERT_NE(nSummary, std::string::npos) << strOut;
  EXPECT_EQ(strOut.substr(nSummary - 2, 2), " \r") << "the status line blanked before the summary";
  EXPECT_LT(nStatus == std::string::npos ? 0 : nStatus, nSummary);
  EXPECT_NE(strOut.find("  127.0.0.3: no answer (40)"), std::string::npos);
}

// A targets file scans exactly as the same targets on the command line:
// the same files, byte for byte, and the same console lines. One live
// target, the others addresses where nothing listens.
TEST_F(FleetTest, TargetsFileScansAsTheCommandLine) {
  // Wine starts threads slowly: fewer targets there.
  const int nTargets = c_bLinuxProcesses ? 5000 : 200;
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(c_szDevice, &strErr)) << strErr;
  ASSERT_TRUE(agent.Start());
  // The dead addresses cost their 50 ms each; the live target, which a
  // machine busy with thousands of threads (a sanitizer's) may answer
  // later than that, has time for every answer.
  WriteConfig(agent.Port(), 50, 0, 0, "[Target 127.0.0.1]\nTimeout=2000\nRetry=1\n");
  std::vector<std::string> arrTargets{"127.0.0.1"};
  std::string strList = "# fleet\n127.0.0.1\n";
  for (int i = 1; i < nTargets; ++i) {
    arrTargets.push_back("127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    strList += arrTargets.back() + "\n";
  }
  CTempDir listDir;
  CTempDir fromFile;
  CTempDir fromArgs;
  const CProcessResult byFile = Run({"-o", fromFile.Path().string(), "-f", listDir.WriteFile("list.txt", strList)});
  std::vector<std::string> arrArgs{"-o", fromArgs.Path().string()};
  arrArgs.insert(arrArgs.end(), arrTargets.begin(), arrTargets.end());
  const CProcessResult byArgs = Run(arrArgs);

  const auto files = [](const std::filesystem::path& dir) {
    std::map<std::string, std::string> mapFiles;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      mapFiles[entry.path().filename().string()] = ReadAll(entry.path());
    return mapFiles;
  };
  std::map<std::string, std::string> mapFile = files(fromFile.Path());
  const std::map<std::string, std::string> mapArgs = files(fromArgs.Path());
  EXPECT_EQ(mapFile.size(), static_cast<size_t>(nTargets));
  EXPECT_TRUE(mapFile == mapArgs) << "the same files, byte for byte";
  EXPECT_GT(mapFile["127.0.0.1.xml"].size(), 200u) << "the live target's file holds its walk";
  auto sortedLines = [](const CProcessResult& result, const std::string& strDir) {
    std::vector<std::string> arrLines = Lines(result.strOutput, "");
    for (std::string& strLine : arrLines) {
      const size_t nDir = strLine.find(strDir);
      if (nDir != std::string::npos) strLine.replace(nDir, strDir.size(), "DIR");
    }
    std::sort(arrLines.begin(), arrLines.end());
    return arrLines;
  };
  EXPECT_EQ(sortedLines(byFile, fromFile.Path().string()), sortedLines(byArgs, fromArgs.Path().string()));
}

}  // namespace

// Communities named by "env:" and "file:" reach the agent; one that
// cannot be had refuses the scan before anything is sent or written, and
// the refusal names the key and the variable, never a secret.
TEST_F(FleetTest, SecretsOutsideTheConfigReachTheAgentOrRefuseTheScan) {
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(std::string(c_szDevice) + "1.3.6.1.4.1.8072.1.0|4|enterprise\n", &strErr)) << strErr;
  agent.SetCommunity("kept,elsewhere");
  ASSERT_TRUE(agent.Start());
  const std::string strPort = "Port=" + std::to_string(agent.Port()) + "\nTimeout=300\nRetry=0\n";
  CTempDir secrets;
  const std::string strFile = secrets.WriteFile("community", "kept,elsewhere\n");

  m_dir.WriteFile("config.ini", "[Config]\n" + strPort + "Community=env:MIBSCAN_TEST_ABSENT\nAuthPassword=s3cret-pass\n");
  const CProcessResult refused = RunJoined({"127.0.0.1"});
  EXPECT_EQ(refused.nExitCode, 2);
  if (c_bLinuxProcesses) {
    EXPECT_EQ(refused.strOutput, "mibscan: " + Path("config.ini") +
                                     ": [Config] Community: the environment variable MIBSCAN_TEST_ABSENT is not set\n");
  }
  EXPECT_EQ(agent.RequestCount(), 0);
  EXPECT_THAT(Written(), ::testing::IsEmpty()) << "no result file, no log directory";

  SetEnvironment("MIBSCAN_TEST_COMMUNITY", "kept,elsewhere");
  for (const std::string& strCommunity : {std::string("env:MIBSCAN_TEST_COMMUNITY"), "file:" + strFile}) {
    SCOPED_TRACE(strCommunity);
    m_dir.WriteFile("config.ini", "[Config]\n" + strPort + "Log=1\n[Target 127.0.0.1]\nCommunity=" + strCommunity + "\n");
    const CProcessResult result = Run({"127.0.0.1"});
    // One target: the walk of the enterprises.
    EXPECT_THAT(ReadXml("127.0.0.1.xml"), ElementsAre(std::pair<std::string, std::string>("1.3.6.1.4.1.8072.1.0", "enterprise")))
        << result.strOutput;
    for (const std::string& strLine : LogLines()) EXPECT_THAT(strLine, ::testing::Not(HasSubstr("elsewhere")));
    EXPECT_THAT(result.strOutput, ::testing::Not(HasSubstr("elsewhere")));
    std::filesystem::remove(Path("127.0.0.1.xml"));
  }
  SetEnvironment("MIBSCAN_TEST_COMMUNITY", nullptr);
}

// One group lists three communities (the second holding a comma, the
// third named by "env:"); three agents each take one of them. Each target's
// file is complete, its console line names the entry that answered, and a
// wrong community costs one try, not the session's every try.
TEST_F(FleetTest, CredentialListsFindEachAgentsCommunity) {
  const char* const c_arrCommunities[] = {"first", "sec,ond", "third"};
  const char* const c_arrAddresses[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};
  CTestAgent agents[3];
  std::string strErr;
  std::string strSections;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(agents[i].LoadSnmprec(c_szDevice, &strErr)) << strErr;
    agents[i].SetCommunity(c_arrCommunities[i]);
    ASSERT_TRUE(agents[i].Start({c_arrAddresses[i]}));
    strSections += std::string("[Target ") + c_arrAddresses[i] + "]\nPort=" + std::to_string(agents[i].Port()) + "\n";
  }
  SetEnvironment("MIBSCAN_TEST_THIRD", "third");
  m_dir.WriteFile("config.ini", "[Config]\nTimeout=300\nRetry=2\nLog=1\nCommunity=first\nCommunity2=sec,ond\n"
                                "Community3=env:MIBSCAN_TEST_THIRD\n" + strSections);
  const CProcessResult result = Run({"127.0.0.1", "127.0.0.2", "127.0.0.3"});
  SetEnvironment("MIBSCAN_TEST_THIRD", nullptr);
  for (int i = 0; i < 3; ++i) {
    const std::string strTarget = c_arrAddresses[i];
    SCOPED_TRACE(strTarget);
    EXPECT_THAT(ReadXml(strTarget + ".xml"),
                UnorderedElementsAre(std::pair<std::string, std::string>("1.3.6.1.2.1.1.1.0", "fleet device"),
                            std::pair<std::string, std::string>("1.3.6.1.2.1.1.3.0", "4242"),
                            std::pair<std::string, std::string>("1.3.6.1.2.1.1.5.0", "name")));
    EXPECT_EQ(Lines(result.strOutput, "target[" + strTarget + "]credential:"),
              std::vector<std::string>{"target[" + strTarget + "]credential:" + std::to_string(i + 1)});
    EXPECT_EQ(Lines(result.strOutput, "target[" + strTarget + "]error:"),
              std::vector<std::string>{"target[" + strTarget + "]error:0"});
    const std::vector<std::string> arrLog = LogLines();
    EXPECT_EQ(std::count_if(arrLog.begin(), arrLog.end(),
                            [&](const std::string& strLine) {
                              return strLine.ends_with(strTarget + "|credential " + std::to_string(i + 1) + " answered");
                            }),
              1);
    for (const std::string& strLine : arrLog) EXPECT_THAT(strLine, ::testing::Not(HasSubstr("sec,ond")));
    // The same walk, after one silent try of each entry before the right one.
    EXPECT_EQ(agents[i].RequestCount(), agents[0].RequestCount() + i);
  }
  EXPECT_THAT(result.strOutput, ::testing::Not(HasSubstr("sec,ond")));
}
