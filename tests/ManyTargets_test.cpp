// Thousands of targets in one run of the whole program, with fewer threads
// or descriptors than targets: the driver waits for running workers to end
// instead of dropping targets, so every target gets its file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "tests/ProgramFixture_test.h"
#include "tests/TestAgent.h"

namespace {

using ::testing::IsEmpty;

// The user mibscan runs as under a thread limit: one of this test process
// alone. RLIMIT_NPROC counts every process and thread of the user on the
// whole machine, so with "nobody" the limit of one test would also count
// the threads of the other test here running beside it, or of a daemon.
int64_t UserOfThisTestOnly() { return 0x40000000 + static_cast<int64_t>(getpid()); }

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
// runs as another user (UserOfThisTestOnly).
TEST_F(ManyTargetsTest, RefusedThreadsWaitInsteadOfDropping) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the test agent in this process is too slow under ThreadSanitizer for 4,750 agents";
#endif
  if (geteuid() != 0) GTEST_SKIP() << "running mibscan as another user needs root";
  std::filesystem::permissions(m_dir.Path(), std::filesystem::perms::all);  // that user writes there
  const std::vector<std::string> arrTargets = StartTargets(4750, 250);
  WriteConfig(m_agent.Port(), 1000, 1);
  const CProcessResult result =
      RunProcess(m_strExe, arrTargets, {.nTimeoutSeconds = 240, .nUser = UserOfThisTestOnly(), .uProcesses = 200});
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

// Under an address-space limit too small for every target, memory runs
// out in every part of the scan (the walks, the log queue, the result
// files, the threads' stacks), with the log on and with progress: the
// process never dies of it nor hangs on a lock; every target ends with a
// line that says how, and every file written is whole.
TEST_F(ManyTargetsTest, MemoryRunningOutEndsTargetsNotTheScan) {
  if (c_bSanitizer) GTEST_SKIP() << "a sanitizer's shadow memory does not fit under an address-space limit";
  std::string strRecords;
  for (int i = 1; i <= 400; ++i)
    strRecords += "1.3.6.1.2.1.2.2.1.2." + std::to_string(i) + "|4|interface number " + std::to_string(i) + "\n";
  std::vector<std::string> arrTargets;
  for (int i = 1; i <= 100; ++i) arrTargets.push_back("127.0.20." + std::to_string(i));
  std::string strErr;
  ASSERT_TRUE(m_agent.LoadSnmprec(std::string(c_szSmallDevice) + strRecords, &strErr)) << strErr;
  ASSERT_TRUE(m_agent.Start(arrTargets));
  WriteConfig(m_agent.Port(), 1000, 1, 1);
  for (const uint64_t uMiB : {24, 32, 44, 60}) {
    for (const bool bProgress : {false, true}) {
      SCOPED_TRACE(std::to_string(uMiB) + " MiB" + (bProgress ? ", --progress" : ""));
      std::vector<std::string> arrArgs = arrTargets;
      if (bProgress) arrArgs.insert(arrArgs.begin(), "--progress");
      const CProcessResult result =
          RunProcess(m_strExe, arrArgs, {.nTimeoutSeconds = 120, .uAddressSpace = uMiB << 20});
      EXPECT_FALSE(result.bTimedOut);
      EXPECT_EQ(result.nSignal, 0);
      EXPECT_EQ(result.nExitCode, 0);
      // Each target's last word: its file, or why it has none.
      const auto arrTargetLines = Lines(result.strOutput, "target[");
      const auto nThreadErrors = std::count_if(arrTargetLines.begin(), arrTargetLines.end(), [](const std::string& strLine) {
        return strLine.ends_with("]thread error");
      });
      EXPECT_EQ(Lines(result.strOutput, "output").size() + static_cast<size_t>(nThreadErrors), arrTargets.size());
      // Every file written is a whole document.
      for (const std::string& strLine : Lines(result.strOutput, "output: "))
        (void)ReadXml(std::filesystem::path(strLine.substr(8)).filename().string());
    }
  }
}

// The system refuses every thread but the logger's: with --progress, no
// progress line and every target's "thread error", as without it; no
// crash.
TEST_F(ManyTargetsTest, RefusedProgressThreadCostsOnlyTheProgress) {
  if (c_bSanitizer) GTEST_SKIP() << "a sanitizer's runtime does not start with two threads of a user";
  if (geteuid() != 0) GTEST_SKIP() << "running mibscan as another user needs root";
  std::filesystem::permissions(m_dir.Path(), std::filesystem::perms::all);  // that user writes there
  WriteConfig(9, 100, 0);
  for (const bool bProgress : {false, true}) {
    std::vector<std::string> arrArgs{"--strict", "127.0.0.1", "127.0.0.2"};
    if (bProgress) arrArgs.insert(arrArgs.begin(), "--progress");
    const CProcessResult result =
        RunProcess(m_strExe, arrArgs, {.nTimeoutSeconds = 60, .nUser = UserOfThisTestOnly(), .uProcesses = 2});
    EXPECT_EQ(result.nSignal, 0) << bProgress;
    EXPECT_EQ(result.nExitCode, 4) << bProgress;
    EXPECT_EQ(Lines(result.strOutput, "target[").size(), 2u) << bProgress;
    EXPECT_EQ(Lines(result.strOutput, "target[127.0.0.1]thread error").size(), 1u) << bProgress;
  }
}

}  // namespace
