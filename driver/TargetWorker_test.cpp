#include "driver/TargetWorker.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdio>

#include "settings/Settings.h"
#include "platform/FileOps.h"
#include "log/LogFixture_test.h"
#include "mib/MIB.h"
#include "platform/Thread.h"
#include "tests/TestAgent.h"
#include "tests/TestSupport.h"

namespace {

// A worker's deepest path on half the stack that workers get: name
// resolution through the system's resolver, a long walk of a recorded
// device with every kind of value, text checked and cut in a multibyte code
// set, Base64, direct logging with rotation, and the result file. A stack
// too small ends the test process.
class TargetWorkerStackTest : public LogFixture {};

TEST_F(TargetWorkerStackTest, DeepestPathFitsHalfTheWorkerStack) {
  std::string strRecords = RecordedLinuxWalk();
  ASSERT_FALSE(strRecords.empty()) << "snmpsim's recordings are not installed";
  // Shift_JIS text: one long enough to be cut, one that is not Shift_JIS.
  std::string strLongText;
  for (int i = 0; i < 200; ++i) strLongText += "93fa";
  strRecords += "1.3.6.1.2.1.1.9.1.3.90|4x|" + strLongText + "\n1.3.6.1.2.1.1.9.1.3.91|4x|616293\n";
  CTestAgent agent;
  std::string strErr;
  ASSERT_TRUE(agent.LoadSnmprec(strRecords, &strErr)) << strErr;
  ASSERT_TRUE(agent.Start());
  CWalkPlan plan;
  plan.place.strDir = m_dir.Path().string();
  auto pSettings = std::make_shared<CTargetSettings>();
  pSettings->strCommunity = "qzvtrk";
  pSettings->strCharset = "SHIFT_JIS";
  pSettings->nTimeout = 2000;
  pSettings->nRetry = 1;
  pSettings->nPort = agent.Port();
  g_bLogDirect = true;

  CMIB mib("localhost", pSettings);
  CTargetWork work{&mib, &plan};
  CThread thread(TargetThreadProc, &work);
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(thread.Start(c_nWorkerStackBytes / 2));
  thread.Join();
  const std::string strConsole = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(strConsole.find("output: " + JoinPath(plan.place.strDir, "localhost.xml")), std::string::npos) << strConsole;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((m_dir.Path() / "localhost.xml").c_str()));
  const auto records = doc.child("RESULTS").children("RESULT");
  EXPECT_GT(std::distance(records.begin(), records.end()), 1000) << strConsole;
  EXPECT_TRUE(mib.m_result.mapResults.IsEmpty()) << "results freed once written";
}

}  // namespace
