// Thousands of targets in one run of the whole program, with fewer threads
// or descriptors than targets: the driver waits for running workers to end
// instead of dropping targets, so every target gets its file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <map>

#include "tests/ProgramFixture_test.h"
#include "tests/TestAgent.h"

namespace {

using ::testing::IsEmpty;

constexpr char c_szSmallDevice[] =
    "1.3.6.1.2.1.1.1.0|4|small device\n"
    "1.3.6.1.2.1.1.3.0|67|4242\n"
    "1.3.6.1.2.1.1.5.0|4|small\n";

class ManyTargetsTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    // The agent below holds a socket per address.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  // nLive live targets on the agent (each answer 10 ms late, so that many
  // of them run at once), then nDead addresses where nothing listens.
  std::vector<std::string> StartTargets(int nLive, int nDead) {
    std::vector<std::string> arrLive;
    for (int i = 0; i < nLive; ++i)
      arrLive.push_back("127.0." + std::to_string(10 + i / 250) + "." + std::to_string(1 + i % 250));
    std::string strErr;
    EXPECT_TRUE(m_agent.LoadSnmprec(c_szSmallDevice, &strErr)) << strErr;
    m_agent.SetMisbehaviour({.nDelayMs = 10});
    EXPECT_TRUE(m_agent.Start(arrLive));
    std::vector<std::string> arrTargets = arrLive;
    for (int i = 0; i < nDead; ++i)
      arrTargets.push_back("127.0." + std::to_string(100 + i / 250) + "." + std::to_string(1 + i % 250));
    m_nLive = nLive;
    return arrTargets;
  }
  // Every target has its file: the live ones with the device, the dead
  // ones empty; no target was dropped.
  void ExpectEveryFile(const CProcessResult& result, const std::vector<std::string>& arrTargets) {
    EXPECT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.nExitCode, 0);
    EXPECT_THAT(Lines(result.strOutput, "target["), ::testing::Not(::testing::Contains(::testing::HasSubstr("thread error"))));
    EXPECT_EQ(Lines(result.strOutput, "output: ").size(), arrTargets.size());
    using CValues = std::map<std::string, std::string>;
    const CValues device{{"1.3.6.1.2.1.1.1.0", "small device"},
                         {"1.3.6.1.2.1.1.3.0", "4242"},
                         {"1.3.6.1.2.1.1.5.0", "small"}};
    for (size_t i = 0; i < arrTargets.size(); ++i) {
      const CRecords arrRecords = ReadXml(arrTargets[i] + ".xml");
      if (static_cast<int>(i) < m_nLive) {
        EXPECT_EQ(CValues(arrRecords.begin(), arrRecords.end()), device) << arrTargets[i];
      } else {
        EXPECT_THAT(arrRecords, IsEmpty()) << arrTargets[i];
      }
    }
  }

  CTestAgent m_agent;
  int m_nLive = 0;
};

// 5,000 targets, and the system allows 200 threads: it refuses threads
// again and again, and each refused target waits for a running one to end.
// RLIMIT_NPROC binds only a user without root's capabilities, so mibscan
// runs as "nobody".
TEST_F(ManyTargetsTest, RefusedThreadsWaitInsteadOfDropping) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the test agent in this process is too slow under ThreadSanitizer for 4,750 agents";
#endif
  if (geteuid() != 0) GTEST_SKIP() << "running mibscan as another user needs root";
  std::filesystem::permissions(m_dir.Path(), std::filesystem::perms::all);  // nobody writes there
  const std::vector<std::string> arrTargets = StartTargets(4750, 250);
  WriteConfig(m_agent.Port(), 1000, 1);
  const CProcessResult result =
      RunProcess(m_strExe, arrTargets, {.nTimeoutSeconds = 240, .nUser = 65534, .uProcesses = 200});
  ExpectEveryFile(result, arrTargets);
}

// Fewer descriptors than targets: no more workers run than there are
// sockets for, and none fails for want of one.
TEST_F(ManyTargetsTest, FewDescriptorsLimitTheRunningWorkers) {
  const std::vector<std::string> arrTargets = StartTargets(400, 100);
  WriteConfig(m_agent.Port(), 300, 0);
  // 64 descriptors, soft and hard: mibscan cannot raise it.
  const CProcessResult result = RunProcess(m_strExe, arrTargets, {.nTimeoutSeconds = 240, .uDescriptors = 64});
  ExpectEveryFile(result, arrTargets);
  EXPECT_THAT(Lines(result.strOutput, "target["), ::testing::Not(::testing::Contains(::testing::HasSubstr("error:51"))));
}

}  // namespace
