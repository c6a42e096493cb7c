// Time and peak memory of writing one result file of 100 000 entries, the
// size of a large device's walk. Prints figures; asserts nothing.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "settings/Settings.h"
#include "mib/MIB.h"
#include "result/ResultFile.h"

namespace {

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main() {
  constexpr int c_nEntries = 100000;
  const auto dir = std::filesystem::temp_directory_path() / ("mibscan-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const CResultPlace place{dir.string(), ""};

  const long nRssStart = PeakRssKiB();
  CMIB mib("192.0.2.1");
  for (int i = 0; i < c_nEntries; ++i) {
    // An interface table's worth of counters and descriptions.
    const std::string strOid = "1.3.6.1.2.1.2.2.1." + std::to_string(i % 22 + 1) + "." + std::to_string(i / 22 + 1);
    mib.m_result.mapResults[strOid] = (i % 3 == 0) ? "GigabitEthernet0/" + std::to_string(i) : std::to_string(i * 7919u);
  }
  const long nRssFilled = PeakRssKiB();
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pSaved = std::freopen("/dev/null", "w", stdout);  // keep the "output:" line out of the figures
  const bool bWritten = WriteResultFile(place, mib.m_strTarget, mib.m_result.mapResults);
  const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  (void)pSaved;
  const auto nBytes = std::filesystem::file_size(dir / "192.0.2.1.xml");
  std::fprintf(stderr,
               "SaveXml, %d entries: %s in %.3f s (%.0f entries/s), file %.1f MiB;\n"
               "peak RSS %ld KiB at start, %ld KiB with the map filled, %ld KiB after the save "
               "(+%ld KiB while writing)\n",
               c_nEntries, bWritten ? "written" : "NOT written", dSeconds, c_nEntries / dSeconds,
               static_cast<double>(nBytes) / (1 << 20), nRssStart, nRssFilled, PeakRssKiB(),
               PeakRssKiB() - nRssFilled);
  std::filesystem::remove_all(dir);
  return bWritten ? 0 : 1;
}
