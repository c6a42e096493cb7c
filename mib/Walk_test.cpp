#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/FileOps.h"
#include "log/LogFixture_test.h"
#include "mib/MIB.h"
#include "mib/WalkTarget_test.h"
#include "result/ResultFile.h"
#include "result/TypedFiles.h"
#include "result/WholeDocument_test.h"
#include "result/XmlDoc.h"
#include "platform/Interrupt.h"
#include "snmp/LastError.h"
#include "tests/TestAgent.h"
#include "tests/TestSupport.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char c_szRecords[] =
    "1.3.6.1.2.1.1.1.0|4|test device\n"
    "1.3.6.1.2.1.1.2.0|6|1.3.6.1.4.1.8072.3.2.10\n"
    "1.3.6.1.2.1.1.3.0|67|233425120\n"
    "1.3.6.1.2.1.1.5.0|4|tt\n"
    "1.3.6.1.2.1.2.1.0|2|2\n";

// Walks against the test agent on loopback, in direct log mode so every
// log line is in the file when the walk returns.
class WalkTest : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    g_bLogDirect = true;
    m_pSettings->strCommunity = "qzvtrk";
    m_pSettings->nTimeout = 100;
    m_pSettings->nRetry = 0;
  }
  void StartAgent(const std::string& strRecords = c_szRecords,
                  const CTestAgent::CMisbehaviour& misbehaviour = {}) {
    std::string strErr;
    ASSERT_TRUE(m_agent.LoadSnmprec(strRecords, &strErr)) << strErr;
    m_agent.SetMisbehaviour(misbehaviour);
    ASSERT_TRUE(m_agent.Start());
    m_pSettings->nPort = m_agent.Port();
  }
  // Runs one walk and keeps what it printed.
  int Walk(const char* szStartOid, bool bContinue) {
    ::testing::internal::CaptureStdout();
    const int nResult = WalkTarget(&m_mib, szStartOid, bContinue);
    std::fflush(stdout);
    m_strConsole = ::testing::internal::GetCapturedStdout();
    return nResult;
  }
  // The log texts, without their time and code fields.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> arrTexts;
    for (const auto& strLine : ReadLines(LivePath())) arrTexts.push_back(TextOf(strLine));
    return arrTexts;
  }
  std::vector<std::string> Keys() const {
    std::vector<std::string> arrKeys;
    m_mib.m_result.mapResults.ForEach([&](const std::string& strKey, const std::string&) { arrKeys.push_back(strKey); });
    std::sort(arrKeys.begin(), arrKeys.end());
    return arrKeys;
  }
  CTestAgent m_agent;
  // The walk's settings: the walks read them as they are when they run.
  std::shared_ptr<CTargetSettings> m_pSettings = std::make_shared<CTargetSettings>();
  CMIB m_mib{"127.0.0.1", m_pSettings};
  std::string m_strConsole;
};

TEST_F(WalkTest, SingleGetStoresOneEntryAndLogsEveryStep) {
  StartAgent();
  EXPECT_EQ(Walk("system.sysUpTime.0", false), 0);
  EXPECT_EQ(m_agent.RequestCount(), 1);
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.3.0"));
  std::string strValue;
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.1.3.0", &strValue));
  EXPECT_EQ(strValue, "233425120");
  EXPECT_THAT(LogTexts(),
              ElementsAre("127.0.0.1|scan start: system.sysUpTime.0", "127.0.0.1|SnmpMgrStrToOid",
                          "127.0.0.1|SnmpUtilMemAlloc", "127.0.0.1|SnmpUtilMemAlloc",
                          "127.0.0.1|SnmpUtilMemReAlloc", "127.0.0.1|SnmpMgrOpen",
                          "127.0.0.1|SnmpMgrRequest", "127.0.0.1|1.3.6.1.2.1.1.3.0,67",
                          "127.0.0.1|0,0", "127.0.0.1|GetLastError:0",
                          "127.0.0.1|SnmpUtilVarBindListFree", "127.0.0.1|SnmpUtilMemFree",
                          "127.0.0.1|SnmpMgrClose", "127.0.0.1|scan end"));
  EXPECT_EQ(m_strConsole,
            "target[127.0.0.1]start:system.sysUpTime.0\n"
            "target[127.0.0.1]wsaerror:0\n"
            "target[127.0.0.1]error:0\n");
}

TEST_F(WalkTest, SingleGetOfANonInstanceStoresNothing) {
  StartAgent();
  EXPECT_EQ(Walk("system", false), 1);
  EXPECT_EQ(m_agent.RequestCount(), 1);
  EXPECT_TRUE(m_mib.m_result.mapResults.IsEmpty());
  EXPECT_THAT(LogTexts(), Contains("127.0.0.1|2,1"));
}

TEST_F(WalkTest, ContinuingWalkReadsEverythingFromTheStart) {
  StartAgent();
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0",
                                  "1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.2.1.0"));
  // Five answers, then eleven noSuchName answers past the end.
  EXPECT_EQ(m_agent.RequestCount(), 5 + 11);
  std::string strValue;
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.1.2.0", &strValue));
  EXPECT_EQ(strValue, "1.3.6.1.4.1.8072.3.2.10");
}

TEST_F(WalkTest, WalkOfAnEmptyTreeEndsAfterElevenErrors) {
  StartAgent();
  EXPECT_EQ(Walk(".1.3.6.1.4.1", true), 1);
  EXPECT_EQ(m_agent.RequestCount(), 11);
  EXPECT_TRUE(m_mib.m_result.mapResults.IsEmpty());
  EXPECT_THAT(LogTexts(), Contains("127.0.0.1|2,1"));
}

TEST_F(WalkTest, SilenceInMidWalkKeepsWhatWasRead) {
  StartAgent(c_szRecords, {.nSilentAfter = 3});
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0"));
  EXPECT_EQ(m_strConsole,
            "target[127.0.0.1]start:system.sysDescr.0\n"
            "target[127.0.0.1]wsaerror:0\n"
            "target[127.0.0.1]error:40\n");
  EXPECT_THAT(LogTexts(), Contains("127.0.0.1|GetLastError:40"));
}

// The figures a walk hands back count its requests (not their re-sends),
// its re-sends and its requests that no try got an answer to, summed over
// the target's walks.
TEST_F(WalkTest, FiguresCountRequestsResendsAndTimeOuts) {
  m_pSettings->nRetry = 1;
  StartAgent(c_szRecords, {.nSilentAfter = 3});
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  const CWalkFigures& figures = m_mib.m_result.figures;
  EXPECT_EQ(figures.nRequests, 4u);
  EXPECT_EQ(figures.nResends, 1u);
  EXPECT_EQ(figures.nTimeouts, 1u);
  EXPECT_EQ(m_mib.m_result.uEnd, SNMP_MGMTAPI_TIMEOUT);
  EXPECT_EQ(Walk("system.sysName.0", false), 1);
  EXPECT_EQ(figures.nRequests, 5u);
  EXPECT_EQ(figures.nResends, 2u);
  EXPECT_EQ(figures.nTimeouts, 2u);
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 3u) << "the second walk kept the first one's entries";
  EXPECT_EQ(m_agent.RequestCount(), 3 + 2 + 2);
}

// In lanes, every request the agent received was counted once.
TEST_F(WalkTest, FiguresOfLanesCountEveryRequest) {
  std::string strRecords;
  for (int i = 1; i <= 300; ++i) strRecords += "1.3.6.1.2.1.2.2.1.1." + std::to_string(i) + "|2|" + std::to_string(i) + "\n";
  StartAgent(strRecords);
  m_pSettings->nVersion = 2;
  m_pSettings->nMaxRepetitions = 5;
  m_pSettings->nWindow = 8;
  m_pSettings->nTimeout = 5000;  // no re-send, however loaded the machine
  EXPECT_EQ(Walk("interfaces.ifTable.ifEntry.ifIndex.1", true), 0);
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 300u);
  const CWalkFigures& figures = m_mib.m_result.figures;
  EXPECT_EQ(figures.nRequests, static_cast<uint64_t>(m_agent.RequestCount()));
  EXPECT_GT(figures.nRequests, 300u / 5);
  EXPECT_EQ(figures.nResends, 0u);
  EXPECT_EQ(figures.nTimeouts, 0u);
}

// AdaptiveTimeout=1: once answers came, a try waits what their round trips
// show (here the floor, on loopback), not the Timeout setting; before the
// first answer every try waits Timeout, so a dead agent costs what it
// always did.
TEST_F(WalkTest, AdaptiveTimeoutWaitsTheRoundTripOnceItIsKnown) {
  m_pSettings->bAdaptiveTimeout = true;
  m_pSettings->nTimeout = 5000;
  m_pSettings->nRetry = 1;
  StartAgent(c_szRecords, {.nSilentAfter = 3});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0"));
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:40\n"));
  EXPECT_GE(m_mib.m_result.figures.nResends, 1u);
  EXPECT_LT(elapsed, std::chrono::milliseconds(5000)) << "the silent request's tries waited the round trip";
}

TEST_F(WalkTest, AdaptiveTimeoutWaitsTheTimeoutForADeadAgent) {
  m_pSettings->bAdaptiveTimeout = true;
  m_pSettings->nTimeout = 150;
  m_pSettings->nRetry = 1;
  StartAgent(c_szRecords, {.nSilentAfter = 0});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Walk("system.sysDescr.0", true), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 150));
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:40\n"));
  EXPECT_EQ(m_agent.RequestCount(), 2);
}

TEST_F(WalkTest, EleventhErrorEndsTheWalkWhereverItComes) {
  std::string strRecords;
  for (int i = 1; i <= 40; ++i) strRecords += "1.3.6.1.2.1.2.2.1.1." + std::to_string(i) + "|2|" + std::to_string(i) + "\n";
  // Errors at every second request from the second on: the eleventh is request 22.
  CTestAgent::CMisbehaviour misbehaviour;
  for (int n = 2; n <= 40; n += 2) misbehaviour.setErrorRequests.insert(n);
  StartAgent(strRecords, misbehaviour);
  EXPECT_EQ(Walk("interfaces.ifTable.ifEntry.ifIndex.1", true), 0);
  EXPECT_EQ(m_agent.RequestCount(), 22);
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 11u);
  EXPECT_THAT(LogTexts(), Contains("127.0.0.1|5,1"));
}

TEST_F(WalkTest, RepeatedOidAddsNothingAndStillEnds) {
  StartAgent(c_szRecords, {.bRepeatOid = true});
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.1.0"));
  EXPECT_EQ(m_agent.RequestCount(), 1 + 11);
  const auto arrTexts = LogTexts();
  EXPECT_EQ(std::count(arrTexts.begin(), arrTexts.end(), "127.0.0.1|1.3.6.1.2.1.1.1.0,4"), 1);
}

TEST_F(WalkTest, LongerEncodingsAndAnUnreadableValueCostOnlyThatBinding) {
  // Every answer in long forms; the value of sysUpTime.0 cannot be read.
  StartAgent(std::string(c_szRecords) + "1.3.6.1.2.1.2.2.1.10.1|65|4294967295\n"
                                        "1.3.6.1.2.1.31.1.1.1.6.1|70|18446744073709551615\n"
                                        "1.3.6.1.2.1.99.0|2|-2147483648\n",
             {.bNonMinimal = true, .setUnreadable = {"1.3.6.1.2.1.1.3.0"}});
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.5.0",
                                  "1.3.6.1.2.1.2.1.0", "1.3.6.1.2.1.2.2.1.10.1",
                                  "1.3.6.1.2.1.31.1.1.1.6.1", "1.3.6.1.2.1.99.0"));
  // Eight answers and the eleven noSuchName answers past the end: the
  // unreadable value neither stopped the walk nor cost a retry.
  EXPECT_EQ(m_agent.RequestCount(), 8 + 11);
  std::string strValue;
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.31.1.1.1.6.1", &strValue));
  EXPECT_EQ(strValue, "18446744073709551615");
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.99.0", &strValue));
  EXPECT_EQ(strValue, "-2147483648");
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.2.2.1.10.1", &strValue));
  EXPECT_EQ(strValue, "4294967295");
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
  const auto arrTexts = LogTexts();
  const auto itBad = std::find(arrTexts.begin(), arrTexts.end(), "127.0.0.1|1.3.6.1.2.1.1.3.0,2");
  ASSERT_NE(itBad, arrTexts.end());
  EXPECT_EQ(*std::next(itBad), "127.0.0.1|catch1:52");
}

TEST_F(WalkTest, SingleGetOfAnUnreadableValueStoresNothing) {
  StartAgent(c_szRecords, {.setUnreadable = {"1.3.6.1.2.1.1.5.0"}});
  EXPECT_EQ(Walk("system.sysName.0", false), 1);
  EXPECT_TRUE(m_mib.m_result.mapResults.IsEmpty());
  EXPECT_EQ(m_agent.RequestCount(), 1);
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:52\n"));
}

TEST_F(WalkTest, AgentGoingBackwardsEnds) {
  StartAgent(c_szRecords, {.bGoBackwards = true});
  Walk("system.sysDescr.0", true);
  EXPECT_LE(m_agent.RequestCount(), 40);
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 2u);
}

// The versions and windows a hostile agent is walked with: SNMPv1 with
// GET-NEXT, SNMPv2c and SNMPv3 (noAuthNoPriv) with GETBULK.
struct SHostileWalk {
  int nVersion;
  int nWindow;
};
constexpr SHostileWalk c_aHostileWalks[] = {{1, 1}, {1, 16}, {2, 1}, {2, 16}, {3, 1}, {3, 16}};

void SetHostileWalk(CTargetSettings* pSettings, const SHostileWalk& walk) {
  pSettings->nVersion = walk.nVersion;
  pSettings->nWindow = walk.nWindow;
  pSettings->nMaxRepetitions = 10;
  pSettings->v3Security = CSnmpV3Security{};
  pSettings->v3Security.strUser = "hostile";
}

// What one walk of a fresh agent did.
struct SAgentWalk {
  int nResult = -1;
  int nRequests = 0;      // datagrams the agent received
  size_t nEntries = 0;    // entries stored
  uint64_t nCounted = 0;  // objects the progress count grew by
  std::string strConsole;
};

// One walk from sysDescr.0, with pSettings, of a fresh agent serving
// strRecords and misbehaving as misbehaviour says.
SAgentWalk WalkFreshAgent(const std::shared_ptr<CTargetSettings>& pSettings, const std::string& strRecords,
                          const CTestAgent::CMisbehaviour& misbehaviour) {
  SAgentWalk walk;
  CTestAgent agent;
  std::string strErr;
  agent.SetMisbehaviour(misbehaviour);
  if (!agent.LoadSnmprec(strRecords, &strErr) || !agent.Start()) {
    ADD_FAILURE() << "the agent did not start " << strErr;
    return walk;
  }
  pSettings->nPort = agent.Port();
  CMIB mib("127.0.0.1", pSettings);
  std::atomic<uint64_t> nStored{0};
  ::testing::internal::CaptureStdout();
  walk.nResult = WalkTarget(&mib, "system.sysDescr.0", true, &nStored);
  walk.strConsole = ::testing::internal::GetCapturedStdout();
  walk.nRequests = agent.RequestCount();
  walk.nEntries = mib.m_result.mapResults.GetCount();
  walk.nCounted = nStored.load();
  return walk;
}

// A multi-homed device that answers from another of its addresses: no
// answer is taken without AnyReplyAddress=1; with it the walk stores
// everything, in every version and with lanes, and the stray datagrams
// from that address (wrong request-id or community, garbage) are dropped.
TEST_F(WalkTest, AnswersFromAnotherAddressTakenWithTheKeyOnly) {
  for (const SHostileWalk& hostile : c_aHostileWalks) {
    SCOPED_TRACE("version " + std::to_string(hostile.nVersion) + ", window " + std::to_string(hostile.nWindow));
    SetHostileWalk(m_pSettings.get(), hostile);
    const CTestAgent::CMisbehaviour misbehaviour{
        .bGarbageFirst = true, .bWrongIdFirst = true, .bWrongCommunityFirst = true, .bOnlyFromOtherPort = true};
    m_pSettings->bAnyReplyAddress = false;
    const SAgentWalk refused = WalkFreshAgent(m_pSettings, c_szRecords, misbehaviour);
    EXPECT_EQ(refused.nEntries, 0u);
    EXPECT_THAT(refused.strConsole, HasSubstr("target[127.0.0.1]error:40\n"));
    m_pSettings->bAnyReplyAddress = true;
    const SAgentWalk taken = WalkFreshAgent(m_pSettings, c_szRecords, misbehaviour);
    EXPECT_EQ(taken.nEntries, 5u);
    EXPECT_THAT(taken.strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
  }
}

// An answer whose last binding goes back before its first one does not
// advance, wherever the next request starts: the walk ends on its error
// budget, and the progress count holds each object once.
TEST_F(WalkTest, AnswerGoingBackAtItsEndEnds) {
  for (const SHostileWalk& hostile : c_aHostileWalks) {
    SCOPED_TRACE("version " + std::to_string(hostile.nVersion) + ", window " + std::to_string(hostile.nWindow));
    SetHostileWalk(m_pSettings.get(), hostile);
    // Each answer is [the next record, the first record].
    const SAgentWalk walk = WalkFreshAgent(m_pSettings, c_szRecords, {.nBulkRepetitions = 1, .bLastGoesBack = true});
    // The GET (and SNMPv3's discovery), then eleven answers that do not
    // advance; lanes each spend at most the budget.
    EXPECT_LE(walk.nRequests, hostile.nWindow == 1 ? 2 + 11 : 200);
    EXPECT_GE(walk.nEntries, 1u);
    EXPECT_EQ(walk.nCounted, walk.nEntries);
  }
}

// A scripted agent answering with random OIDs (forward, backward,
// repeated, outside its records, in random bulks): every walk ends within
// its error budget, in a bounded number of requests, in every version and
// window, and each object it stores is counted once.
TEST_F(WalkTest, RandomAnswersEndEveryWalk) {
  for (const SHostileWalk& hostile : c_aHostileWalks) {
    for (uint32_t uSeed = 1; uSeed <= 12; ++uSeed) {
      SCOPED_TRACE("version " + std::to_string(hostile.nVersion) + ", window " + std::to_string(hostile.nWindow) +
                   ", seed " + std::to_string(uSeed));
      SetHostileWalk(m_pSettings.get(), hostile);
      const SAgentWalk walk = WalkFreshAgent(m_pSettings, c_szRecords, {.uRandomSeed = uSeed});
      EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:"));
      EXPECT_GE(walk.nEntries, 1u) << "the first GET is answered as asked";
      EXPECT_LE(walk.nRequests, hostile.nWindow == 1 ? 400 : 4000);
      EXPECT_EQ(walk.nCounted, walk.nEntries);
    }
  }
}

// A walk that cannot start still ends with its two console lines, so the
// failure shows where the operator looks.
TEST_F(WalkTest, UnresolvableTargetPrintsItsErrorLines) {
  CMIB mib("agent.invalid");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(WalkTarget(&mib, "system.sysDescr.0", true), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "target[agent.invalid]start:system.sysDescr.0\n"
            "target[agent.invalid]wsaerror:0\n"
            "target[agent.invalid]error:50\n");
  EXPECT_EQ(LogTexts().back(), "agent.invalid|error:50");
}

TEST_F(WalkTest, UnknownStartNameEndsAfterTheConversion) {
  StartAgent();
  EXPECT_EQ(Walk("system.noSuchObject.0", true), 1);
  EXPECT_EQ(m_agent.RequestCount(), 0);
  EXPECT_THAT(LogTexts(), ElementsAre("127.0.0.1|scan start: system.noSuchObject.0",
                                      "127.0.0.1|SnmpMgrStrToOid", "127.0.0.1|error:53"));
  EXPECT_EQ(m_strConsole,
            "target[127.0.0.1]start:system.noSuchObject.0\n"
            "target[127.0.0.1]wsaerror:0\n"
            "target[127.0.0.1]error:53\n");
}

// Interrupted in mid-walk: the answer awaited is still taken, no request
// follows it, and what was read stays. The interruption comes once the
// agent holds the second request (each answer waits 500 ms), however slow
// the machine is to get there.
TEST_F(WalkTest, InterruptionEndsTheWalkAfterTheRequestUnderWay) {
  StartAgent(c_szRecords, {.nDelayMs = 500});
  m_pSettings->nTimeout = 2000;
  std::thread interrupter([this] {
    (void)m_agent.RequestCountOnceAtLeast(2);
    RequestInterrupt(SIGINT);
  });
  const int nResult = Walk("system.sysDescr.0", true);
  interrupter.join();
  ClearInterrupt();
  EXPECT_EQ(nResult, 0);
  EXPECT_EQ(m_agent.RequestCount(), 2) << "the GET, and the GET-NEXT under way";
  EXPECT_THAT(Keys(), ElementsAre("1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0"));
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:54\n"));
}

TEST_F(WalkTest, LoggingOffStillPrintsTheConsoleLines) {
  g_bLog = false;
  StartAgent();
  EXPECT_EQ(Walk("system.sysName.0", false), 0);
  EXPECT_FALSE(std::filesystem::exists(LivePath()));
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
}

TEST_F(WalkTest, SecondWalkAddsAndReplaces) {
  StartAgent();
  m_mib.m_result.mapResults["1.3.6.1.2.1.1.5.0"] = "old";
  m_mib.m_result.mapResults["1.3.6.1.2.1.9.9.0"] = "kept";
  EXPECT_EQ(Walk("system.sysName.0", false), 0);
  EXPECT_EQ(Walk("system.sysUpTime.0", false), 0);
  std::string strValue;
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.1.5.0", &strValue));
  EXPECT_EQ(strValue, "tt");
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.9.9.0", &strValue));
  EXPECT_EQ(strValue, "kept");
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 3u);
}

TEST_F(WalkTest, SaveXmlWritesTheWalkedEntries) {
  StartAgent();
  const CResultPlace place{m_dir.Path().string(), ""};
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(WriteResultFile(place, m_mib.m_strTarget, m_mib.m_result.mapResults, m_mib.m_result.setCrTextKeys));
  const std::string strPath = JoinPath(place.strDir, "127.0.0.1.xml");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "output: " + strPath + "\n");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(strPath.c_str()));
  std::vector<std::string> arrOids;
  for (pugi::xml_node record : doc.child("RESULTS").children("RESULT"))
    arrOids.push_back(record.child_value("OID"));
  std::vector<std::string> arrMapOrder;
  m_mib.m_result.mapResults.ForEach([&](const std::string& strKey, const std::string&) { arrMapOrder.push_back(strKey); });
  EXPECT_EQ(arrOids, arrMapOrder);
  EXPECT_EQ(arrOids.size(), 5u);
}

// SNMPv2c walks: the same steps, with GETBULK and the v2 exceptions.
class Version2WalkTest : public WalkTest {
 protected:
  void SetUp() override {
    WalkTest::SetUp();
    m_pSettings->nVersion = 2;
  }
  // The five records, then the ifIndex column of nInterfaces rows.
  static std::string WithInterfaces(int nInterfaces) {
    std::string strRecords = c_szRecords;
    for (int i = 1; i <= nInterfaces; ++i)
      strRecords += "1.3.6.1.2.1.2.2.1.1." + std::to_string(i) + "|2|" + std::to_string(i) + "\n";
    return strRecords;
  }
  std::vector<std::string> AllKeys() const {
    return {"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.5.0",
            "1.3.6.1.2.1.2.1.0"};
  }
};

TEST_F(Version2WalkTest, BulkWalkEndsAtTheEndOfTheView) {
  m_pSettings->nMaxRepetitions = 10;
  StartAgent();
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_EQ(Keys(), AllKeys());
  // The GET, then one GETBULK answered with the four records that follow
  // and endOfMibView: no request after it, no error-budget tail.
  EXPECT_EQ(m_agent.RequestCount(), 2);
  const auto arrTexts = LogTexts();
  EXPECT_THAT(arrTexts, Contains("127.0.0.1|0,0"));
  EXPECT_THAT(arrTexts, Not(Contains(HasSubstr(",130"))));
  EXPECT_THAT(m_strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
}

TEST_F(Version2WalkTest, GetNextWalkEndsAtTheEndOfTheView) {
  m_pSettings->nMaxRepetitions = 0;
  StartAgent();
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_EQ(Keys(), AllKeys());
  EXPECT_EQ(m_agent.RequestCount(), 1 + 4 + 1);
}

TEST_F(Version2WalkTest, SmallRepetitionsTakeSeveralRequests) {
  m_pSettings->nMaxRepetitions = 2;
  StartAgent();
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_EQ(Keys(), AllKeys());
  // GET; 2 records; 2 records; endOfMibView.
  EXPECT_EQ(m_agent.RequestCount(), 4);
}

// tooBig: the repetitions halve, down to one binding an answer, without
// counting against the error budget (a budget spent would end the walk
// short of the records), and the smaller number holds from then on.
TEST_F(Version2WalkTest, TooBigAsksForFewerWithoutCounting) {
  struct {
    int32_t nRepetitions;
    int nMaxBindings;
    int nRequests;
  } const rows[] = {
      {10, 3, 1 + 2 + 13},  // GET; 10 and 5 refused; then 2 at a time: 24 records and the end
      {8, 1, 1 + 3 + 25},   // GET; 8, 4 and 2 refused; then one at a time
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.nMaxBindings);
    m_pSettings->nMaxRepetitions = row.nRepetitions;
    const SAgentWalk walk = WalkFreshAgent(m_pSettings, WithInterfaces(20), {.nMaxBindings = row.nMaxBindings});
    EXPECT_EQ(walk.nResult, 0);
    EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
    EXPECT_EQ(walk.nEntries, 25u);
    EXPECT_EQ(walk.nRequests, row.nRequests);
  }
}

// A path that loses large answers: a GETBULK unanswered for one try is
// asked again with half as many repetitions, and the smaller number holds
// in every lane; the walk stores what a walk of small requests stores.
TEST_F(Version2WalkTest, SilenceToLargeBulksAsksForFewer) {
  m_pSettings->nMaxRepetitions = 50;
  for (const int nWindow : {1, 8}) {
    SCOPED_TRACE("window " + std::to_string(nWindow));
    m_pSettings->nWindow = nWindow;
    const SAgentWalk walk = WalkFreshAgent(m_pSettings, WithInterfaces(20), {.nSilentAboveRepetitions = 12});
    EXPECT_EQ(walk.nResult, 0);
    EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
    EXPECT_EQ(walk.nEntries, 25u);
    // GET; 50 and 25 lost; then 12 at a time: 24 records and the end.
    if (nWindow == 1) {
      EXPECT_EQ(walk.nRequests, 1 + 2 + 3);
    }
    EXPECT_LE(walk.nRequests, 40);
  }
}

// An agent slower than Timeout, not silent: the first size probes go
// unanswered, but the answer of one comes late; the repetitions go back
// to MaxRepetitions, and from then on requests wait for every try.
TEST_F(Version2WalkTest, LateAnswersGiveTheRepetitionsBack) {
  m_pSettings->nMaxRepetitions = 50;
  m_pSettings->nTimeout = 100;
  m_pSettings->nRetry = 2;
  for (const int nWindow : {1, 8}) {
    SCOPED_TRACE("window " + std::to_string(nWindow));
    m_pSettings->nWindow = nWindow;
    const SAgentWalk walk = WalkFreshAgent(m_pSettings, WithInterfaces(120), {.nDelayMs = 150});
    EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
    EXPECT_EQ(walk.nEntries, 125u);
    const auto arrTexts = LogTexts();
    EXPECT_EQ(std::count(arrTexts.begin(), arrTexts.end(), "127.0.0.1|late answers, not lost ones: repetitions 50"),
              nWindow == 1 ? 1 : 2);
    // GET (two tries), probes of 50 and 25, then 50 at a time with two
    // tries each: 125 records and the end in three.
    if (nWindow == 1) {
      EXPECT_LE(walk.nRequests, 2 + 2 + 2 * 3 + 2);
    }
  }
}

// A busy agent that serves one request at a time, 25 ms each: one request
// at a time is answered within its first try, but 16 together wait longer
// than all their tries. The window must still store what Window=1 stores:
// a request that went unanswered while others were in flight is asked
// again in a smaller window, and only one that was alone ends the walk.
TEST_F(Version2WalkTest, WindowStoresWhatOneRequestAtATimeStoresOfABusyAgent) {
  m_pSettings->nMaxRepetitions = 1;
  m_pSettings->nTimeout = 60;
  m_pSettings->nRetry = 0;
  for (const int nWindow : {1, 16}) {
    SCOPED_TRACE("window " + std::to_string(nWindow));
    m_pSettings->nWindow = nWindow;
    // The five records, then eight columns of 12 rows.
    std::string strRecords = c_szRecords;
    for (int nColumn = 1; nColumn <= 8; ++nColumn) {
      for (int nRow = 1; nRow <= 12; ++nRow)
        strRecords += "1.3.6.1.2.1.2.2.1." + std::to_string(nColumn) + "." + std::to_string(nRow) + "|2|7\n";
    }
    const SAgentWalk walk = WalkFreshAgent(m_pSettings, strRecords, {.nServiceMs = 25});
    EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
    EXPECT_EQ(walk.nEntries, 5u + 8 * 12);
  }
}

// Silent to every GETBULK: one try at each halving, then every try of one
// repetition, and the walk ends as a silent agent's does.
TEST_F(Version2WalkTest, SilenceToEveryBulkEndsAsSilence) {
  m_pSettings->nMaxRepetitions = 50;
  m_pSettings->nRetry = 1;
  for (const int nWindow : {1, 8}) {
    SCOPED_TRACE("window " + std::to_string(nWindow));
    m_pSettings->nWindow = nWindow;
    const SAgentWalk walk = WalkFreshAgent(m_pSettings, WithInterfaces(20), {.nSilentAboveRepetitions = 0});
    EXPECT_EQ(walk.nResult, 0) << "the GET stored sysDescr.0";
    EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:40\n"));
    EXPECT_EQ(walk.nEntries, 1u);
    // GET; 50, 25, 12, 6 and 3 once each; 1 with both tries. Lanes: two of
    // them, each asking at one repetition with both tries at the end.
    if (nWindow == 1) {
      EXPECT_EQ(walk.nRequests, 1 + 5 + 2);
    }
    EXPECT_LE(walk.nRequests, 1 + 2 * (6 + 2));
  }
}

// GETBULK answers that go wrong above 7 bindings (the rest start over from
// the first): each is cut where it goes back, and the walk goes on with
// fewer repetitions, in every lane, storing everything without spending
// its error budget.
TEST_F(Version2WalkTest, BulkAnswersOutOfOrderAboveSomeRepetitionsAreCut) {
  m_pSettings->nMaxRepetitions = 50;
  for (const int nVersion : {2, 3}) {
    for (const int nWindow : {1, 8}) {
      SCOPED_TRACE("version " + std::to_string(nVersion) + ", window " + std::to_string(nWindow));
      m_pSettings->nVersion = nVersion;
      m_pSettings->v3Security.strUser = "walker";
      m_pSettings->nWindow = nWindow;
      const SAgentWalk walk = WalkFreshAgent(m_pSettings, WithInterfaces(100), {.nOutOfOrderAbove = 7});
      EXPECT_THAT(walk.strConsole, HasSubstr("target[127.0.0.1]error:0\n"));
      EXPECT_EQ(walk.nEntries, 105u);
      EXPECT_EQ(walk.nCounted, walk.nEntries);
      // 50 cut at 7, and 7 from then on: about 105 / 7 requests.
      if (nWindow == 1) {
        EXPECT_LE(walk.nRequests, 2 + 105 / 7 + 2);
      }
    }
  }
}

TEST_F(Version2WalkTest, AgentThatIgnoresMaxRepetitions) {
  m_pSettings->nMaxRepetitions = 10;
  StartAgent(c_szRecords, {.nBulkRepetitions = 1});
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_EQ(Keys(), AllKeys());
  EXPECT_EQ(m_agent.RequestCount(), 1 + 4 + 1);
}

TEST_F(Version2WalkTest, AgentAnsweringWithVersion1ErrorsEndsOnTheErrorBudget) {
  m_pSettings->nMaxRepetitions = 10;
  StartAgent(c_szRecords, {.bVersion1Errors = true});
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_EQ(Keys(), AllKeys());
  // One object per answer, then eleven noSuchName answers.
  EXPECT_EQ(m_agent.RequestCount(), 5 + 11);
  EXPECT_THAT(LogTexts(), Contains("127.0.0.1|2,1"));
}

// An error answer without bindings (RFC 3416's tooBig has none) is asked
// again for the same OID, and counts with the errors, in every version and
// with GET-NEXT and GETBULK alike.
TEST_F(WalkTest, ErrorAnswerWithoutBindingsIsAskedAgainForTheSameOid) {
  struct {
    int nVersion;
    int nRepetitions;
    int32_t nErrorStatus;
  } const rows[] = {{1, 0, SNMP_ERRORSTATUS_TOOBIG},
                    {2, 0, SNMP_ERRORSTATUS_TOOBIG},
                    {2, 1, SNMP_ERRORSTATUS_TOOBIG},  // no fewer to ask for: it counts
                    {2, 10, SNMP_ERRORSTATUS_GENERR}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.nVersion) + "/" + std::to_string(row.nRepetitions));
    m_pSettings->nVersion = row.nVersion;
    m_pSettings->nMaxRepetitions = row.nRepetitions;
    CMIB mib("127.0.0.1", m_pSettings);
    StartAgent(c_szRecords,
               {.setErrorRequests = {2, 3}, .nErrorStatus = row.nErrorStatus, .bErrorsWithoutBindings = true});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(WalkTarget(&mib, "system.sysDescr.0", true), 0);
    ::testing::internal::GetCapturedStdout();
    std::vector<std::string> arrKeys;
    mib.m_result.mapResults.ForEach([&](const std::string& strKey, const std::string&) { arrKeys.push_back(strKey); });
    EXPECT_EQ(arrKeys.size(), 5u) << "the walk goes on after both error answers";
    m_agent.Stop();
  }
}

// A walk the agent refuses to the end (an error status other than
// noSuchName, until the error budget is spent) ends with code 64, in every
// version and with several requests in flight; what it stored stays. A
// walk that meets SNMPv1's end (noSuchName) ends with 0.
TEST_F(WalkTest, RefusedWalkEndsWithItsOwnCode) {
  struct {
    int nVersion;
    int nWindow;
    int32_t nErrorStatus;
    const char* szEnd;
  } const rows[] = {{1, 1, SNMP_ERRORSTATUS_GENERR, "error:64"},
                    {2, 1, 6 /* noAccess */, "error:64"},
                    {2, 8, 16 /* authorizationError */, "error:64"},
                    {1, 8, SNMP_ERRORSTATUS_GENERR, "error:64"},
                    {1, 1, SNMP_ERRORSTATUS_NOSUCHNAME, "error:0"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.nVersion) + "/" + std::to_string(row.nWindow) + "/" +
                 std::to_string(row.nErrorStatus));
    m_pSettings->nVersion = row.nVersion;
    m_pSettings->nWindow = row.nWindow;
    std::set<int> setRefused;
    for (int i = 2; i <= 60; ++i) setRefused.insert(i);  // all but the first GET
    CMIB mib("127.0.0.1", m_pSettings);
    StartAgent(c_szRecords, {.setErrorRequests = setRefused, .nErrorStatus = row.nErrorStatus});
    ::testing::internal::CaptureStdout();
    WalkTarget(&mib, "system.sysDescr.0", true);
    const std::string strConsole = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(strConsole, HasSubstr(std::string("target[127.0.0.1]") + row.szEnd + "\n"));
    EXPECT_GE(mib.m_result.mapResults.GetCount(), 1u) << "what was read before stays";
    m_agent.Stop();
  }
  m_pSettings->nWindow = 1;
  m_pSettings->nVersion = 1;
}

// An endOfMibView ends the walk whatever name it comes under: no entry
// for it, no log line of it.
TEST_F(Version2WalkTest, EndOfViewUnderAnotherNameEndsTheWalk) {
  for (const int nRepetitions : {0, 10}) {
    SCOPED_TRACE(nRepetitions);
    m_pSettings->nMaxRepetitions = nRepetitions;
    CMIB mib("127.0.0.1", m_pSettings);
    StartAgent(c_szRecords, {.bEndOfViewElsewhere = true});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(WalkTarget(&mib, "system.sysDescr.0", true), 0);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(mib.m_result.mapResults.GetCount(), 5u);
    std::string strValue;
    EXPECT_FALSE(mib.m_result.mapResults.Lookup("1.3.6.1.2.1.2.1.0.0", &strValue)) << "no Type.130 entry";
    EXPECT_THAT(LogTexts(), Not(Contains(HasSubstr(",130"))));
    m_agent.Stop();
  }
}

TEST_F(Version2WalkTest, GetOfAMissingInstanceStoresTheException) {
  StartAgent();
  EXPECT_EQ(Walk("system.sysContact.0", false), 0);
  EXPECT_EQ(Walk(".1.3.6.1.2.1.1.5.1", false), 0);
  std::string strValue;
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.1.4.0", &strValue));
  EXPECT_EQ(strValue, "Type.128") << "noSuchObject: nothing below system.sysContact";
  ASSERT_TRUE(m_mib.m_result.mapResults.Lookup("1.3.6.1.2.1.1.5.1", &strValue));
  EXPECT_EQ(strValue, "Type.129") << "noSuchInstance: sysName has instance 0 only";
  EXPECT_EQ(m_agent.RequestCount(), 2);
}

// Walks whose result file is compared, byte for byte, with the one saved
// from a whole document built from the same map.
class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pSettings->strCommunity = "qzvtrk";
    m_pSettings->nTimeout = 2000;
    m_pSettings->nRetry = 1;
    m_pSettings->nVersion = 2;
    m_pSettings->nMaxRepetitions = 25;
  }
  // Walks pMib from sysDescr.0, then writes its file and the reference;
  // the file's text.
  std::string WalkAndCompare(CMIB* pMib) {
    ::testing::internal::CaptureStdout();
    WalkTarget(pMib, "system.sysDescr.0", true);
    EXPECT_TRUE(WriteResultFile({m_dir.Path().string(), ""}, pMib->m_strTarget, pMib->m_result.mapResults,
                                pMib->m_result.setCrTextKeys, m_pSettings->strCharset));
    (void)::testing::internal::GetCapturedStdout();
    const std::string strReference = (m_dir.Path() / "reference.xml").string();
    EXPECT_TRUE(WriteWholeDocument(strReference, pMib->m_result.mapResults, pMib->m_result.setCrTextKeys, m_pSettings->strCharset));
    const std::string strFile = ReadAll(m_dir.Path() / (pMib->m_strTarget + ".xml"));
    EXPECT_TRUE(strFile == ReadAll(strReference)) << "the file differs from the whole document's";
    return strFile;
  }
  CTempDir m_dir;
  std::shared_ptr<CTargetSettings> m_pSettings = std::make_shared<CTargetSettings>();
};

// Debian's snmpsim recordings of real devices, walked one request at a
// time and with lanes (whose entries wait, packed, for the lanes before).
TEST_F(WriterTest, RecordingsWriteWhatTheWholeDocumentWrites) {
  int nWalked = 0;
  for (const char* szRecording : {"recorded/linux-full-walk.snmprec.gz", "recorded/winxp-full-walk.snmprec.gz",
                                  "cisco_16_switch.snmprec.gz",
                                  "mib2dev/host-resources-mib.snmprec", "recorded/udp-endpoint-table-walk.snmprec"}) {
    const std::string strRecords = SnmpsimRecording(szRecording);
    if (strRecords.empty()) continue;
    SCOPED_TRACE(szRecording);
    CTestAgent agent;
    std::string strErr;
    ASSERT_TRUE(agent.LoadSnmprec(strRecords, &strErr)) << strErr;
    ASSERT_TRUE(agent.Start());
    m_pSettings->nPort = agent.Port();
    std::string strFirst;
    for (const int nWindow : {1, 8}) {
      m_pSettings->nWindow = nWindow;
      CMIB mib("127.0.0.1", m_pSettings);
      const std::string strFile = WalkAndCompare(&mib);
      if (nWindow == 1) strFirst = strFile;
      EXPECT_TRUE(strFile == strFirst) << "Window=" << nWindow << " differs from Window=1";
      EXPECT_GT(mib.m_result.mapResults.GetCount(), 0u);
    }
    ++nWalked;
  }
  if (nWalked == 0) GTEST_SKIP() << "snmpsim is not installed";
}

// An agent that answers a second walk with other values for the same
// OIDs: longer, shorter, empty, a CR text that becomes plain, and back.
TEST_F(WriterTest, ValuesStoredAgainAreWrittenAsTheWholeDocumentWritesThem) {
  const std::string strFirst =
      "1.3.6.1.2.1.1.1.0|4|first description\n"
      "1.3.6.1.2.1.1.3.0|67|100\n"
      "1.3.6.1.2.1.1.4.0|4x|6c696e65310d0a6c696e6532\n"  // a text with CR LF
      "1.3.6.1.2.1.1.5.0|4|name\n"
      "1.3.6.1.2.1.1.6.0|4|\n"
      "1.3.6.1.2.1.1.7.0|4x|0102030405\n";
  const std::string strSecond =
      "1.3.6.1.2.1.1.1.0|4|a much longer description of the same device, stored over the first\n"
      "1.3.6.1.2.1.1.3.0|67|200\n"
      "1.3.6.1.2.1.1.4.0|4|plain now\n"
      "1.3.6.1.2.1.1.5.0|4|\n"
      "1.3.6.1.2.1.1.6.0|4x|610d62\n"  // now a CR text
      "1.3.6.1.2.1.1.7.0|4|<&>\n";
  CMIB mib("127.0.0.1", m_pSettings);
  uint16_t uPort = 0;
  for (const std::string* pstrRecords : {&strFirst, &strSecond}) {
    CTestAgent agent;
    std::string strErr;
    ASSERT_TRUE(agent.LoadSnmprec(*pstrRecords, &strErr)) << strErr;
    ASSERT_TRUE(agent.Start({"127.0.0.1"}, uPort));
    uPort = agent.Port();
    m_pSettings->nPort = uPort;
    WalkAndCompare(&mib);
  }
  EXPECT_EQ(mib.m_result.mapResults.GetCount(), 6u);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((m_dir.Path() / "127.0.0.1.xml").c_str()));
  std::map<std::string, std::string> mapBack;
  for (pugi::xml_node record : doc.child("RESULTS").children("RESULT"))
    mapBack[record.child_value("OID")] = record.child_value("VALUE");
  EXPECT_EQ(mapBack["1.3.6.1.2.1.1.1.0"], "a much longer description of the same device, stored over the first");
  EXPECT_EQ(mapBack["1.3.6.1.2.1.1.3.0"], "200");
  EXPECT_EQ(mapBack["1.3.6.1.2.1.1.4.0"], "plain now");
  EXPECT_EQ(mapBack["1.3.6.1.2.1.1.5.0"], "");
  EXPECT_EQ(mapBack["1.3.6.1.2.1.1.6.0"], "a\rb") << "a CR text, byte for byte";
  EXPECT_EQ(mapBack["1.3.6.1.2.1.1.7.0"], "<&>");
}

}  // namespace

namespace {

// The walk text of a walk's typed entries (sorted here).
std::string WalkTextOf(CWalkResult* pResult) {
  pResult->typed.Sort();
  std::string strText;
  std::string_view lastKey;
  pResult->typed.ForEach([&](std::string_view key, uint8_t tag, std::string_view payload) {
    AppendWalkLine(&strText, key, tag, payload);
    lastKey = key;
  });
  AppendWalkEnd(&strText, pResult->typed.WalkEnd(), lastKey);
  return strText;
}

}  // namespace

// The typed entries: kept only when a typed file is asked for; one record
// per object, in name order, whatever the window (lanes keep theirs in
// their pending entries); the end as snmpwalk shows it; a continuing
// walk's first GET leaves its exception out, a single GET keeps it.
TEST_F(WalkTest, TypedEntriesHoldEachObjectWhateverTheWindow) {
  std::string strRecords = c_szRecords;
  std::string strExpected =
      ".1.3.6.1.2.1.1.1.0 = STRING: \"test device\"\n.1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.8072.3.2.10\n"
      ".1.3.6.1.2.1.1.3.0 = 233425120\n.1.3.6.1.2.1.1.5.0 = STRING: \"tt\"\n.1.3.6.1.2.1.2.1.0 = INTEGER: 2\n";
  for (int nRow = 1; nRow <= 120; ++nRow) {
    const std::string strRow = std::to_string(nRow);
    strRecords += "1.3.6.1.2.1.2.2.1.10." + strRow + "|65|" + strRow + "\n";
    strExpected += ".1.3.6.1.2.1.2.2.1.10." + strRow + " = Counter32: " + strRow + "\n";
  }
  for (int nRow = 1; nRow <= 120; ++nRow) {
    const std::string strRow = std::to_string(nRow);
    strRecords += "1.3.6.1.2.1.2.2.1.16." + strRow + "|4x|00ff" + (nRow % 2 == 0 ? "0a" : "") + "\n";
    strExpected += ".1.3.6.1.2.1.2.2.1.16." + strRow + " = Hex-STRING: 00 FF " + (nRow % 2 == 0 ? "0A " : "") + "\n";
  }
  StartAgent(strRecords);
  m_pSettings->nTimeout = 1000;
  m_pSettings->nVersion = 1;
  EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
  EXPECT_TRUE(m_mib.m_result.typed.IsEmpty()) << "not asked for";

  m_pSettings->uFormats = c_uFormatXml | c_uFormatWalk;
  for (const int nVersion : {1, 2}) {
    for (const int nWindow : {1, 4}) {
      SCOPED_TRACE("version " + std::to_string(nVersion) + ", window " + std::to_string(nWindow));
      m_pSettings->nVersion = nVersion;
      m_pSettings->nWindow = nWindow;
      m_pSettings->nMaxRepetitions = 7;
      m_mib.m_result = CWalkResult();
      EXPECT_EQ(Walk("system.sysDescr.0", true), 0);
      EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 245u);
      EXPECT_EQ(WalkTextOf(&m_mib.m_result),
                strExpected + (nVersion == 1 ? std::string("End of MIB\n")
                                             : ".1.3.6.1.2.1.2.2.1.16.120 = No more variables left in this MIB View "
                                               "(It is past the end of the MIB tree)\n"));
    }
  }

  m_pSettings->nWindow = 1;
  m_mib.m_result = CWalkResult();
  EXPECT_EQ(Walk(".1.3.6.1.2.1.2.2.1.16.120", true), 0);
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 1u);
  EXPECT_EQ(WalkTextOf(&m_mib.m_result),
            ".1.3.6.1.2.1.2.2.1.16.120 = Hex-STRING: 00 FF 0A \n"
            ".1.3.6.1.2.1.2.2.1.16.120 = No more variables left in this MIB View (It is past the end of the MIB tree)\n");
  m_mib.m_result = CWalkResult();
  EXPECT_EQ(Walk(".1.3.6.1.2.1.1.4.0", true), 0);
  EXPECT_EQ(m_mib.m_result.mapResults.GetCount(), 243u) << "the map keeps the exception, as it always did";
  EXPECT_EQ(WalkTextOf(&m_mib.m_result).substr(0, 40), ".1.3.6.1.2.1.1.5.0 = STRING: \"tt\"\n.1.3.6");
  m_mib.m_result = CWalkResult();
  (void)Walk(".1.3.6.1.2.1.1.4.0", false);
  EXPECT_THAT(WalkTextOf(&m_mib.m_result), ::testing::StartsWith(".1.3.6.1.2.1.1.4.0 = No Such "));
}
