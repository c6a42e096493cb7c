// The result file under a file size limit and when the process is killed
// while writing it: Linux's per-process limits and signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "platform/FileOps.h"
#include "result/ResultFile.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The names in dir.
std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> setNames;
  for (const auto& entry : fs::directory_iterator(dir)) setNames.insert(entry.path().filename().string());
  return setNames;
}

// A map of nEntries route-table records, about 50 bytes of file each.
void FillMap(CMapStringToString* pMap, int nEntries) {
  for (int i = 0; i < nEntries; ++i) (*pMap)["1.3.6.1.2.1.4.21.1.7.10.0." + std::to_string(i)] = std::to_string(i);
}

class ResultFilePosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_place.strDir = m_dir.Path().string();
    CMapStringToString mapFirst;
    mapFirst["1.1"] = "first run";
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(WriteResultFile(m_place, "h", mapFirst));
    (void)::testing::internal::GetCapturedStdout();
    m_strPrevious = ReadAll(m_dir.Path() / "h.xml");
  }
  CTempDir m_dir;
  CResultPlace m_place;
  std::string m_strPrevious;
};

TEST_F(ResultFilePosixTest, SizeLimitMidFileKeepsThePreviousResult) {
  CMapStringToString map;
  FillMap(&map, 20000);  // about 1 MB, past the limit after some buffers went out
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{200 * 1024, previous.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  ::testing::internal::CaptureStdout();
  const bool bWritten = WriteResultFile(m_place, "h", map);
  const std::string strConsole = ::testing::internal::GetCapturedStdout();
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(bWritten);
  EXPECT_EQ(strConsole, "output error\n");
  EXPECT_EQ(ReadAll(m_dir.Path() / "h.xml"), m_strPrevious);
  EXPECT_EQ(Names(m_dir.Path()), std::set<std::string>{"h.xml"});
}

// Killed while the records go out: the previous file stays whole; only the
// hidden temporary file of the killed process is left beside it.
TEST_F(ResultFilePosixTest, KillMidFileKeepsThePreviousResult) {
  CMapStringToString map;
  FillMap(&map, 400000);  // about 20 MB: long enough to be caught writing
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    (void)WriteResultFile(m_place, "h", map);
    _exit(0);
  }
  // Kill it once a part of the file is out.
  bool bCaught = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!bCaught && std::chrono::steady_clock::now() < deadline) {
    for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
      std::error_code error;
      if (entry.path().extension() == ".tmp" && fs::file_size(entry.path(), error) >= 64 * 1024) bCaught = true;
    }
    if (!bCaught) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, SIGKILL);
  int nStatus = 0;
  ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
  ASSERT_TRUE(bCaught) << "the writer was never seen writing";
  ASSERT_TRUE(WIFSIGNALED(nStatus)) << "the writer ended before it was killed";
  EXPECT_EQ(ReadAll(m_dir.Path() / "h.xml"), m_strPrevious);
}

}  // namespace
