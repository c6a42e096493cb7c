// The named mutex of Windows: a holder that ends without letting go.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/NamedMutex.h"

namespace {

// A thread that ends while it holds the mutex abandons it; the next waiter
// gets it (WAIT_ABANDONED), as it would after a holder process was killed.
TEST(CNamedMutexWindowsTest, MutexAbandonedByItsHolderIsTakenByTheNext) {
  const std::string strName =
      "mibscan-test-abandoned-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  CNamedMutex holderSide(strName);
  CNamedMutex waiterSide(strName);
  ASSERT_TRUE(holderSide.IsShared());
  std::thread holder([&] { ASSERT_TRUE(holderSide.Lock()); });
  holder.join();  // ended holding the mutex
  EXPECT_TRUE(waiterSide.Lock());
  waiterSide.Unlock();
}

}  // namespace
