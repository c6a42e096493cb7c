// A test agent in a Linux process of its own, for the tests of the Windows
// build (they run under wine, which cannot serve two loopback addresses on
// one port).
//
//   agenthost DIR
//
// Reads DIR/agent.conf (CTestAgent::Settings) and DIR/records.snmprec, serves them,
// and writes DIR/port (0 when it could not start). Keeps DIR/count at the
// number of requests received until DIR/stop appears, then writes
// DIR/stopped and ends; it ends by itself after ten minutes in any case.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestAgent.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Writes the file whole under its name (a reader never sees half of it).
void WriteText(const fs::path& path, const std::string& strText) {
  const fs::path temp = path.string() + ".tmp";
  std::ofstream(temp, std::ios::binary) << strText;
  std::error_code ec;
  fs::rename(temp, path, ec);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: agenthost DIR\n");
    return 2;
  }
  const fs::path dir = argv[1];
  CTestAgent agent;
  std::vector<std::string> arrAddresses;
  uint16_t uPort = 0;
  std::string strErr;
  const bool bStarted = agent.LoadSettings(ReadAll(dir / "agent.conf"), &arrAddresses, &uPort) &&
                        agent.LoadSnmprec(ReadAll(dir / "records.snmprec"), &strErr) &&
                        agent.Start(arrAddresses, uPort);
  WriteText(dir / "count", "0\n");
  WriteText(dir / "port", std::to_string(bStarted ? agent.Port() : 0) + "\n");
  if (!bStarted) return 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  int nWritten = 0;
  std::error_code ec;
  while (!fs::exists(dir / "stop", ec) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int nCount = agent.RequestCountNow();
    if (nCount != nWritten) WriteText(dir / "count", std::to_string(nWritten = nCount) + "\n");
  }
  agent.Stop();
  WriteText(dir / "count", std::to_string(agent.RequestCountNow()) + "\n");
  WriteText(dir / "stopped", "");
  return 0;
}
