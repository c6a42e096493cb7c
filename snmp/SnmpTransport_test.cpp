#include "snmp/SnmpTransport.h"

#include <gtest/gtest.h>

#include <chrono>

#include "snmp/LastError.h"
#include "tests/TestAgent.h"

namespace {

// A transport's agent that never answers.
class SnmpTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string strErr;
    ASSERT_TRUE(m_agent.LoadSnmprec("1.3.6.1.2.1.1.5.0|4|x\n", &strErr)) << strErr;
    m_agent.SetMisbehaviour({.nSilentAfter = 0});
    ASSERT_TRUE(m_agent.Start());
    int nError = 0;
    ASSERT_EQ(ResolveAgentAddress("127.0.0.1", false, true, m_agent.Port(), &m_address, &nError), EResolve::Found);
  }
  CTestAgent m_agent;
  SAgentAddress m_address;
};

// The window of requests in flight against an agent that never answers:
// each request is one record, found by its id, and its tries end in the
// order of their deadlines, re-sends included, each with its caller's tag.
TEST_F(SnmpTransportTest, RequestsExpireInTheOrderOfTheirDeadlinesWithTheirTags) {
  CSnmpTransport transport(200);
  ASSERT_TRUE(transport.Connect(m_address));

  int nFirst = 0;
  int nSecond = 0;
  int nThird = 0;
  ASSERT_NE(transport.Send(7, "first", 2, &nFirst), nullptr);    // sent again once
  ASSERT_NE(transport.Send(8, "second", 1, &nSecond), nullptr);  // one try
  CSnmpTransport::CRequest* pThird = transport.Send(9, "third", 1, &nThird);
  ASSERT_NE(pThird, nullptr);
  pThird->bMayResync = false;
  EXPECT_EQ(transport.PendingCount(), 3u);
  ASSERT_EQ(transport.Find(9), pThird);
  EXPECT_EQ(transport.Find(9)->pTag, &nThird);
  EXPECT_TRUE(transport.IsPending(8));
  EXPECT_EQ(transport.Find(10), nullptr);
  // Sent again with fresh tries, the third keeps its record, and its
  // deadline moves behind the second's.
  ASSERT_TRUE(transport.SendAgain(9, "third again", 2));
  EXPECT_EQ(transport.Find(9), pThird);
  EXPECT_FALSE(pThird->bMayResync);
  EXPECT_FALSE(transport.SendAgain(10, "never sent", 1));

  std::vector<std::pair<int32_t, void*>> arrExpired;
  for (int i = 0; i < 3; ++i) {
    std::string_view datagram;
    int32_t nId = 0;
    void* pTag = nullptr;
    ASSERT_EQ(transport.Wait(&datagram, &nId, &pTag), CSnmpTransport::EEvent::Expired);
    EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
    EXPECT_FALSE(transport.IsPending(nId));
    arrExpired.emplace_back(nId, pTag);
  }
  // 7 at 200 ms goes again (to 400 ms); 8 ends at 200 ms; 9, sent again
  // at once, ends its first fresh try at 200 ms and its second at 400 ms.
  EXPECT_EQ(arrExpired, (std::vector<std::pair<int32_t, void*>>{{8, &nSecond}, {7, &nFirst}, {9, &nThird}}));
  EXPECT_EQ(transport.Resends(), 2);
  EXPECT_EQ(transport.PendingCount(), 0u);
  std::string_view datagram;
  int32_t nId = 0;
  EXPECT_EQ(transport.Wait(&datagram, &nId), CSnmpTransport::EEvent::Failed) << "nothing is pending";
}

// A wake before every try's deadline ends the wait and nothing else: the
// request stays in flight with its try, and still expires after it; a
// wake already past ends the wait at once, one after the deadline does not
// come first.
TEST_F(SnmpTransportTest, AWakeEndsTheWaitButNoTry) {
  CSnmpTransport transport(300);
  ASSERT_TRUE(transport.Connect(m_address));
  ASSERT_NE(transport.Send(5, "x", 1), nullptr);
  std::string_view datagram;
  int32_t nId = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(transport.Wait(&datagram, &nId, nullptr, start + std::chrono::milliseconds(5)),
            CSnmpTransport::EEvent::Woken);
  EXPECT_EQ(transport.Wait(&datagram, &nId, nullptr, start - std::chrono::seconds(1)), CSnmpTransport::EEvent::Woken);
  EXPECT_TRUE(transport.IsPending(5));
  EXPECT_EQ(transport.Resends(), 0);
  EXPECT_EQ(transport.Wait(&datagram, &nId, nullptr, start + std::chrono::seconds(60)),
            CSnmpTransport::EEvent::Expired);
  EXPECT_EQ(nId, 5);
  EXPECT_EQ(GetLastError(), SNMP_MGMTAPI_TIMEOUT);
}

// Forgotten requests leave nothing to wait for, whatever their deadlines.
TEST_F(SnmpTransportTest, ForgottenRequestsNeverExpire) {
  CSnmpTransport transport(100);
  ASSERT_TRUE(transport.Connect(m_address));
  for (int32_t nId = 1; nId <= 5; ++nId) ASSERT_NE(transport.Send(nId, "x", 1), nullptr);
  transport.Forget(1);
  transport.Forget(3);
  std::string_view datagram;
  int32_t nId = 0;
  ASSERT_EQ(transport.Wait(&datagram, &nId), CSnmpTransport::EEvent::Expired);
  EXPECT_EQ(nId, 2);
  transport.ForgetAll();
  EXPECT_EQ(transport.PendingCount(), 0u);
  EXPECT_EQ(transport.Wait(&datagram, &nId), CSnmpTransport::EEvent::Failed);
}

// Expired requests stay awaited, so that a late answer is told from a
// stranger's: each is taken late once, and only the last 256 are kept.
TEST_F(SnmpTransportTest, ExpiredRequestsAreAwaitedLateOnce) {
  CSnmpTransport transport(1);
  ASSERT_TRUE(transport.Connect(m_address));
  for (int32_t nId = 1; nId <= 258; ++nId) ASSERT_NE(transport.Send(nId, "x", 1), nullptr);
  std::string_view datagram;
  for (int32_t nId = 0; transport.PendingCount() > 0;)
    ASSERT_EQ(transport.Wait(&datagram, &nId), CSnmpTransport::EEvent::Expired);
  EXPECT_FALSE(transport.IsPending(258));
  EXPECT_TRUE(transport.IsAwaited(258));
  EXPECT_TRUE(transport.TakeLate(258));
  EXPECT_FALSE(transport.TakeLate(258)) << "once";
  EXPECT_FALSE(transport.IsAwaited(258));
  EXPECT_TRUE(transport.IsAwaited(3));
  EXPECT_FALSE(transport.IsAwaited(2)) << "the oldest are forgotten";
  EXPECT_FALSE(transport.IsAwaited(259)) << "never sent";
}

}  // namespace
