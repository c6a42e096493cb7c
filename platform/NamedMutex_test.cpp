#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::string UniqueName(const char* szTest) {
  return std::string("mibscan-test-") + szTest + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

TEST(CNamedMutexTest, ExcludesThreadsOfOneProcess) {
  CNamedMutex mutex(UniqueName("threads"));
  ASSERT_TRUE(mutex.IsShared());
  long nCounter = 0;  // unsynchronised but for the lock under test
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(mutex.Lock());
        ++nCounter;
        mutex.Unlock();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(nCounter, 80000);
}

}  // namespace
