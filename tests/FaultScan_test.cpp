// One run of the whole program over a crowd of targets: healthy agents,
// agents misbehaving in every way the test agent knows, dead addresses and
// names that never resolve. Each file must hold exactly what its agent
// answered before it misbehaved, and the run must end within its bound.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "tests/ProgramFixture_test.h"
#include "tests/TestAgent.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using CValues = std::map<std::string, std::string>;

// The device every agent serves, and the value text each record must have
// in a result file.
std::string DeviceRecords() {
  std::string strRecords =
      "1.3.6.1.2.1.1.1.0|4|fault scan device\n"
      "1.3.6.1.2.1.1.2.0|6|1.3.6.1.4.1.8072.3.2.10\n"
      "1.3.6.1.2.1.1.3.0|67|4242\n"
      "1.3.6.1.2.1.1.5.0|4|router <&>\n"
      "1.3.6.1.2.1.2.2.1.6.1|4x|001a2b3c4d5e\n";
  for (int i = 1; i <= 15; ++i)
    strRecords += "1.3.6.1.2.1.2.2.1.10." + std::to_string(i) + "|65|" + std::to_string(i * 4000000) + "\n";
  return strRecords + "1.3.6.1.4.1.8072.1.1.0|2|-7\n";
}

CValues Reference() {
  CValues mapValues{{"1.3.6.1.2.1.1.1.0", "fault scan device"},
                    {"1.3.6.1.2.1.1.2.0", "1.3.6.1.4.1.8072.3.2.10"},
                    {"1.3.6.1.2.1.1.3.0", "4242"},
                    {"1.3.6.1.2.1.1.5.0", "router <&>"},
                    {"1.3.6.1.2.1.2.2.1.6.1", "ABorPE1e\n"},
                    {"1.3.6.1.4.1.8072.1.1.0", "-7"}};
  for (int i = 1; i <= 15; ++i)
    mapValues["1.3.6.1.2.1.2.2.1.10." + std::to_string(i)] = std::to_string(i * 4000000);
  return mapValues;
}

// The first nCount entries of the reference in OID order.
CValues FirstOf(int nCount) {
  std::vector<std::pair<std::vector<uint32_t>, std::pair<std::string, std::string>>> arrSorted;
  for (const auto& [strOid, strValue] : Reference()) {
    std::vector<uint32_t> ids;
    for (size_t nPos = 0; nPos <= strOid.size();) {
      const size_t nDot = std::min(strOid.find('.', nPos), strOid.size());
      ids.push_back(static_cast<uint32_t>(std::stoul(strOid.substr(nPos, nDot - nPos))));
      nPos = nDot + 1;
    }
    arrSorted.push_back({ids, {strOid, strValue}});
  }
  std::sort(arrSorted.begin(), arrSorted.end());
  CValues mapValues;
  for (int i = 0; i < nCount; ++i) mapValues.insert(arrSorted[static_cast<size_t>(i)].second);
  return mapValues;
}

struct CKind {
  const char* szName;
  CTestAgent::CMisbehaviour misbehaviour;
  CValues expected;  // what the file must hold
};

// The parameter is the window: with several requests in flight each file
// holds at least what a walk of one request at a time stores (an agent
// that falls silent after N requests is the exception: the window spends
// those N answers on several lanes).
class FaultScanTest : public ProgramFixture, public ::testing::WithParamInterface<int> {};

TEST_P(FaultScanTest, EveryTargetGetsWhatItsAgentAnswered) {
  SKIP_SEVERAL_AGENT_ADDRESSES_UNDER_WINE();
  constexpr int c_nHealthy = 150;
  constexpr int c_nPerKind = 5;
  constexpr int c_nDead = 10;
  CValues withoutUnreadable = Reference();
  withoutUnreadable.erase("1.3.6.1.2.1.2.2.1.10.3");
  const CValues full = Reference();
  const std::vector<CKind> arrKinds = {
      {"silent after six answers", {.nSilentAfter = 6}, FirstOf(6)},
      {"error answers", {.setErrorRequests = {2, 5, 9}}, full},
      {"repeats the OID asked for", {.bRepeatOid = true},
       {{"1.3.6.1.2.1.1.1.0", "fault scan device"}, {"1.3.6.1.2.1.1.3.0", "4242"}}},
      // Forward once, then back to the first record each time: the walk
      // ends on the error budget, the supplement adds sysUpTime.0.
      {"goes backwards", {.bGoBackwards = true}, FirstOf(3)},
      {"garbage first", {.bGarbageFirst = true}, full},
      {"wrong request-id first", {.bWrongIdFirst = true}, full},
      {"wrong community first", {.bWrongCommunityFirst = true}, full},
      {"other port first", {.bOtherPortFirst = true}, full},
      {"slow", {.nDelayMs = 40}, full},
      {"longer encodings", {.bNonMinimal = true}, full},
      {"an unreadable value", {.setUnreadable = {"1.3.6.1.2.1.2.2.1.10.3"}}, withoutUnreadable},
  };

  // One agent for the healthy targets, one for each misbehaving target (an
  // agent counts the requests of all its addresses together), all on one
  // port (the setting is one for all targets).
  std::vector<std::string> arrTargets;
  std::vector<std::string> arrHealthy;
  for (int i = 1; i <= c_nHealthy; ++i) arrHealthy.push_back("127.0.2." + std::to_string(i));
  std::vector<std::unique_ptr<CTestAgent>> arrAgents;
  std::string strErr;
  arrAgents.push_back(std::make_unique<CTestAgent>());
  ASSERT_TRUE(arrAgents[0]->LoadSnmprec(DeviceRecords(), &strErr)) << strErr;
  ASSERT_TRUE(arrAgents[0]->Start(arrHealthy));
  const uint16_t uPort = arrAgents[0]->Port();
  std::map<std::string, size_t> mapKindOf;  // misbehaving target -> index in arrKinds
  for (size_t k = 0; k < arrKinds.size(); ++k) {
    for (int i = 1; i <= c_nPerKind; ++i) {
      const std::string strAddress = "127.0.3." + std::to_string(k * c_nPerKind + static_cast<size_t>(i));
      mapKindOf[strAddress] = k;
      auto pAgent = std::make_unique<CTestAgent>();
      ASSERT_TRUE(pAgent->LoadSnmprec(DeviceRecords(), &strErr)) << strErr;
      pAgent->SetMisbehaviour(arrKinds[k].misbehaviour);
      ASSERT_TRUE(pAgent->Start({strAddress}, uPort)) << arrKinds[k].szName;
      arrAgents.push_back(std::move(pAgent));
    }
  }
  // Interleaved, so that every kind is spread over the list.
  auto itOdd = mapKindOf.begin();
  for (int i = 0; i < c_nHealthy; ++i) {
    arrTargets.push_back(arrHealthy[static_cast<size_t>(i)]);
    if (i % 2 == 0 && itOdd != mapKindOf.end()) arrTargets.push_back((itOdd++)->first);
  }
  for (; itOdd != mapKindOf.end(); ++itOdd) arrTargets.push_back(itOdd->first);
  for (int i = 1; i <= c_nDead; ++i) arrTargets.push_back("127.0.4." + std::to_string(i));
  for (const char* szName : {"a.invalid", "no-such-host.invalid", "x.y.invalid", "invalid", "z.invalid."})
    arrTargets.push_back(szName);
  ASSERT_GE(arrTargets.size(), 200u + c_nDead);

  // Under wine 220 threads of one process and the agents' own processes
  // share the machine's cores with one wineserver: answers may take longer
  // than 300 ms there, and when two such scans run at once (CTest runs two
  // tests at a time) seconds now and then, so wine gets four tries of 3 s.
  // So they may with a window, which sends more at once, and under a
  // sanitizer, whose two scans at once share the log's lock.
  WriteConfig(uPort, c_bWindows ? 3000 : (GetParam() > 1 || c_bSanitizer) ? 1500 : 300, c_bWindows ? 3 : 1, 1,
              "Window=" + std::to_string(GetParam()) + "\n");
  // Bound: the slowest target (dead: two walks of two tries) is about 1.2 s
  // (24 s under wine, four tries); the rest run beside it. A minute leaves
  // room for sanitizers; under wine, where a run of 220 threads beside
  // another test now and then takes over 100 s, three (the test's limit
  // there covers both runs).
  CProcessResult result = RunProcess(m_strExe, arrTargets, c_bWindows ? 180 : 60);
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 0);
  // Every worker's last log line made it to the file.
  const auto arrLines = LogLines();
  EXPECT_EQ(std::count_if(arrLines.begin(), arrLines.end(),
                          [](const std::string& strLine) { return strLine.ends_with("|end"); }),
            static_cast<long>(arrTargets.size()));

  const auto fileOf = [&](const std::string& strTarget) {
    const CRecords arrRecords = ReadXml(strTarget + ".xml");
    return CValues(arrRecords.begin(), arrRecords.end());
  };
  const std::string strHealthyBytes = ReadAll(Path(arrHealthy[0] + ".xml"));
  // nOutputs: the targets that write a file (one that answers nothing keeps
  // an earlier one).
  const auto CheckFiles = [&](size_t nOutputs) {
    for (const std::string& strTarget : arrHealthy) {
      EXPECT_EQ(fileOf(strTarget), full) << strTarget;
      EXPECT_EQ(ReadAll(Path(strTarget + ".xml")), strHealthyBytes) << strTarget << ": same map, same file";
    }
    for (const auto& [strTarget, k] : mapKindOf) {
      if (GetParam() == 1) {
        EXPECT_EQ(fileOf(strTarget), arrKinds[k].expected) << strTarget << ": " << arrKinds[k].szName;
      } else if (arrKinds[k].misbehaviour.nSilentAfter < 0) {
        const CValues values = fileOf(strTarget);
        for (const auto& entry : arrKinds[k].expected)
          EXPECT_THAT(values, ::testing::Contains(entry)) << strTarget << ": " << arrKinds[k].szName;
      }
    }
    for (int i = 1; i <= c_nDead; ++i) {
      const std::string strTarget = "127.0.4." + std::to_string(i);
      EXPECT_THAT(fileOf(strTarget), IsEmpty());
      EXPECT_THAT(Lines(result.strOutput, "target[" + strTarget + "]error:"),
                  ElementsAre("target[" + strTarget + "]error:40", "target[" + strTarget + "]error:40"));
    }
    for (const char* szName : {"a.invalid", "no-such-host.invalid", "x.y.invalid", "invalid", "z.invalid."}) {
      const std::string strTarget = szName;
      EXPECT_THAT(fileOf(strTarget), IsEmpty());
      EXPECT_THAT(Lines(result.strOutput, "target[" + strTarget + "]error:"),
                  ElementsAre("target[" + strTarget + "]error:50", "target[" + strTarget + "]error:50"));
    }
    EXPECT_EQ(Lines(result.strOutput, "output: ").size(), nOutputs);
  };
  {
    SCOPED_TRACE("a first scan");
    CheckFiles(arrTargets.size());
  }
  if (GetParam() == 1) return;

  // A second scan with a window starts its lanes from each target's earlier
  // file: the files must come out the same whatever that file holds. In
  // turn: the target's own, another device's (none of its OIDs is this
  // device's), a damaged one (cut in the middle of an element, then bytes
  // that are no XML) and an empty one. A target that answers nothing keeps
  // its earlier file: the dead, the unresolvable and the silent ones are
  // left out.
  std::string strForeign = strHealthyBytes;
  for (const auto& [strFrom, strTo] : {std::pair{"1.3.6.1.2.1.1.", "1.3.6.1.2.1.25.1."},
                                       std::pair{"1.3.6.1.2.1.2.2.1.10.", "1.3.6.1.2.1.2.2.1.16.9"},
                                       std::pair{"1.3.6.1.4.1.8072.", "1.3.6.1.4.1.9.9"}}) {
    for (size_t nAt = 0; (nAt = strForeign.find(strFrom, nAt)) != std::string::npos; nAt += std::strlen(strTo))
      strForeign.replace(nAt, std::strlen(strFrom), strTo);
  }
  ASSERT_NE(strForeign, strHealthyBytes);
  const std::string strDamaged = strHealthyBytes.substr(0, strHealthyBytes.size() / 2) + "\x01\xff<<OID>1.3.6.1.2";
  for (size_t i = 0; i < arrTargets.size(); ++i) {
    const std::string& strTarget = arrTargets[i];
    if (!strTarget.starts_with("127.0.2.") && !strTarget.starts_with("127.0.3.")) continue;
    if (mapKindOf.contains(strTarget) && arrKinds[mapKindOf[strTarget]].misbehaviour.nSilentAfter >= 0) continue;
    if (i % 4 == 1) m_dir.WriteFile(strTarget + ".xml", strForeign);
    if (i % 4 == 2) m_dir.WriteFile(strTarget + ".xml", strDamaged);
    if (i % 4 == 3) m_dir.WriteFile(strTarget + ".xml", "");
  }
  result = RunProcess(m_strExe, arrTargets, c_bWindows ? 180 : 60);
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.nExitCode, 0);
  SCOPED_TRACE("a second scan, from earlier files");
  CheckFiles(arrHealthy.size() + mapKindOf.size() - c_nPerKind);
}

INSTANTIATE_TEST_SUITE_P(Windows, FaultScanTest, ::testing::Values(1, 8));

}  // namespace
