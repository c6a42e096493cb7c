#include "log/LogThread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "log/LogFixture_test.h"

namespace {

class LogThreadTest : public LogFixture {
 protected:
  void TearDown() override {
    if (g_pLogThread != nullptr) StopLogThread();
    LogFixture::TearDown();
  }
  size_t LockedQueueSize() {
    EXPECT_TRUE(g_pLogMutex->Lock());
    const size_t nSize = g_LogQueue.Size();
    g_pLogMutex->Unlock();
    return nSize;
  }
};

TEST_F(LogThreadTest, BacklogLeavesInBatchesOfTwoHundred) {
  for (int i = 0; i < 450; ++i) WriteLog("e%d", i);
  StartLogThread();
  // Each batch leaves the queue under the lock, so the queue is only ever
  // seen at 450, 250, 50 or 0 entries.
  std::set<size_t> setSeen;
  for (size_t nSize = LockedQueueSize(); nSize > 0; nSize = LockedQueueSize()) {
    setSeen.insert(nSize);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (size_t nSize : setSeen) EXPECT_TRUE(nSize == 450 || nSize == 250 || nSize == 50) << nSize;
  StopLogThread();
  const auto arrLines = ReadLines(LivePath());
  ASSERT_EQ(arrLines.size(), 450u);
  for (int i = 0; i < 450; ++i) EXPECT_EQ(TextOf(arrLines[i]), "e" + std::to_string(i));
}

TEST_F(LogThreadTest, ManyThreadsLoseNoLineAndKeepTheirOrder) {
  constexpr int c_nThreads = 64;
  constexpr int c_nPerThread = 300;
  StartLogThread();
  std::vector<std::thread> threads;
  for (int t = 0; t < c_nThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < c_nPerThread; ++i) WriteLog("t%d|%d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  StopLogThread();  // the final drain writes what the thread had not yet
  EXPECT_TRUE(g_LogQueue.IsEmpty());
  EXPECT_EQ(g_pLogThread, nullptr);
  std::vector<int> arrNext(c_nThreads, 0);
  size_t nLines = 0;
  for (const auto& strLine : AllLogLines()) {  // ~560 KiB: rotated at least once
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(TextOf(strLine).c_str(), "t%d|%d", &t, &i), 2) << strLine;
    ASSERT_TRUE(t >= 0 && t < c_nThreads);
    EXPECT_EQ(i, arrNext[t]) << "thread " << t << " out of order";
    arrNext[t] = i + 1;
    ++nLines;
  }
  EXPECT_EQ(nLines, static_cast<size_t>(c_nThreads * c_nPerThread));
}

// Threads that log far faster than one batch a cycle: the logger drains
// without pausing while a backlog remains, and the writers wait for room,
// so the queue stays near its bound; no line is lost.
TEST_F(LogThreadTest, FastWritersKeepTheQueueBounded) {
  constexpr int c_nThreads = 4;
  constexpr int c_nPerThread = 25000;
  StartLogThread();
  std::atomic<bool> bDone{false};
  size_t nMost = 0;
  std::thread sampler([&] {
    while (!bDone.load()) nMost = std::max(nMost, g_LogQueue.Count());
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < c_nThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < c_nPerThread; ++i) WriteLog("t%d|%d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  bDone = true;
  sampler.join();
  StopLogThread();
  // Bounded: a writer whose wait ran out (a slow sanitizer build) may push
  // past the bound for a moment, but nowhere near the 100,000 lines written.
  EXPECT_LE(nMost, 2 * c_nMaxQueuedLines);
  EXPECT_EQ(AllLogLines().size(), static_cast<size_t>(c_nThreads * c_nPerThread));
}

TEST_F(LogThreadTest, FinalDrainWritesWhatTheThreadLeft) {
  g_strLogDir = (m_dir.Path() / "log").string();
  StartLogThread();
  StopLogThread();
  EXPECT_TRUE(std::filesystem::is_directory(g_strLogDir));  // made by the thread
  EXPECT_FALSE(std::filesystem::exists(g_strLogDir + "/log.txt"));
  for (int i = 0; i < 250; ++i) WriteLog("late%d", i);
  StopLogThread();  // no thread any more: the drain alone
  const auto arrLines = ReadLines(g_strLogDir + "/log.txt");
  ASSERT_EQ(arrLines.size(), 250u);
  EXPECT_EQ(TextOf(arrLines[249]), "late249");
}

TEST_F(LogThreadTest, LoggingOffNeverTouchesTheFile) {
  g_bLog = false;
  StartLogThread();
  WriteLog("%s|start", "host");
  StopLogThread();
  EXPECT_FALSE(std::filesystem::exists(LivePath()));
}

}  // namespace
