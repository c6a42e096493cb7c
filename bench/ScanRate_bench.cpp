// mibscan as a whole, beside net-snmp's snmpwalk, in one run:
//  1. a full walk of one real agent (snmpd): wall and CPU time per OID;
//  2. 100 and 1000 test-agent targets on distinct loopback addresses,
//     scanned at once by mibscan, against snmpwalk over the same targets
//     one after another; with peak memory.
// Prints figures; asserts nothing.
//
//   scanrate_bench MIBSCAN_EXECUTABLE SNMPD_DIR
#include <algorithm>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/Process.h"
#include "tests/TestAgent.h"
#include "tests/TestSupport.h"

namespace {

struct CFigures {
  double dWall = 0;
  double dCpu = 0;
  int64_t nPeakKiB = 0;
  size_t nOids = 0;
};

// mibscan in a scratch directory with its own config.ini.
CFigures RunMibscan(const std::string& strExe, int nPort, const std::vector<std::string>& arrTargets) {
  CTempDir dir;
  const std::string strCopy = (dir.Path() / "mibscan").string();
  std::filesystem::copy_file(strExe, strCopy);
  dir.WriteFile("config.ini", "[Config]\nCommunity=qzvtrk\nTimeout=2000\nRetry=1\nPort=" + std::to_string(nPort) + "\n");
  const CProcessResult result = RunProcess(strCopy, arrTargets, 600);
  CFigures figures{result.dSeconds, result.dCpuSeconds, result.nPeakKiB, 0};
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    if (entry.path().extension() != ".xml") continue;
    std::ifstream in(entry.path());
    for (std::string strLine; std::getline(in, strLine);)
      figures.nOids += strLine.find("<OID>") != std::string::npos ? 1 : 0;
  }
  return figures;
}

// snmpwalk -v1 of .1.3 for each target in turn.
CFigures RunSnmpwalks(const std::string& strEnvDir, int nPort, const std::vector<std::string>& arrTargets) {
  CFigures figures;
  if (!strEnvDir.empty()) {
    setenv("SNMP_PERSISTENT_DIR", (strEnvDir + "/persist").c_str(), 1);
    setenv("SNMPCONFPATH", strEnvDir.c_str(), 1);
  }
  for (const std::string& strTarget : arrTargets) {
    const CProcessResult result = RunProcess(
        "/usr/bin/snmpwalk", {"-v1", "-c", "qzvtrk", "-On", "-m", "", "-t", "2", "-r", "1",
                              strTarget + ":" + std::to_string(nPort), ".1.3"}, 600);
    figures.dWall += result.dSeconds;
    figures.dCpu += result.dCpuSeconds;
    figures.nPeakKiB = std::max(figures.nPeakKiB, result.nPeakKiB);
    for (char ch : result.strOutput) figures.nOids += ch == '\n' ? 1 : 0;
  }
  return figures;
}

void Print(const char* szWhat, const CFigures& ours, const CFigures& theirs) {
  std::printf("%-34s mibscan %8.3f s wall %8.3f s CPU %7ld KiB peak %8zu OIDs\n", szWhat, ours.dWall, ours.dCpu,
              ours.nPeakKiB, ours.nOids);
  std::printf("%-34s snmpwalk%8.3f s wall %8.3f s CPU %7ld KiB peak %8zu OIDs\n", "", theirs.dWall,
              theirs.dCpu, theirs.nPeakKiB, theirs.nOids);
  const double dOursOids = static_cast<double>(std::max<size_t>(ours.nOids, 1));
  const double dTheirOids = static_cast<double>(std::max<size_t>(theirs.nOids, 1));
  std::printf("%-34s per OID: wall %.2f x, CPU %.2f x faster than snmpwalk\n", "",
              (theirs.dWall / dTheirOids) / (ours.dWall / dOursOids),
              (theirs.dCpu / dTheirOids) / std::max(ours.dCpu / dOursOids, 1e-9));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s MIBSCAN_EXECUTABLE SNMPD_DIR\n", argv[0]);
    return 2;
  }
  const std::string strExe = argv[1];
  const std::string strSnmpdDir = argv[2];
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);  // the agent below serves a thousand sockets

  int nSnmpdPort = 0;
  std::ifstream(strSnmpdDir + "/port") >> nSnmpdPort;
  if (nSnmpdPort > 0) {
    // "oid" with an empty OID: the Plain form with one target.
    const CFigures ours = RunMibscan(strExe, nSnmpdPort, {"oid", "", "127.0.0.1"});
    const CFigures theirs = RunSnmpwalks(strSnmpdDir, nSnmpdPort, {"127.0.0.1"});
    Print("snmpd, one full walk", ours, theirs);
  }

  // A device of about 200 objects: the system group and an interface table.
  CTestAgent agent;
  std::string strRecords = "1.3.6.1.2.1.1.1.0|4|bench device\n1.3.6.1.2.1.1.3.0|67|4242\n1.3.6.1.2.1.1.5.0|4|bench\n";
  for (int nColumn = 1; nColumn <= 10; ++nColumn) {
    for (int nIf = 1; nIf <= 20; ++nIf)
      strRecords += "1.3.6.1.2.1.2.2.1." + std::to_string(nColumn) + "." + std::to_string(nIf) + "|65|" +
                    std::to_string(nColumn * 1000 + nIf) + "\n";
  }
  std::string strErr;
  std::vector<std::string> arrAddresses;
  for (int i = 0; i < 1000; ++i) arrAddresses.push_back("127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250));
  if (!agent.LoadSnmprec(strRecords, &strErr) || !agent.Start(arrAddresses)) {
    std::fprintf(stderr, "test agent did not start: %s\n", strErr.c_str());
    return 1;
  }
  for (size_t nTargets : {100u, 1000u}) {
    const std::vector<std::string> arrTargets(arrAddresses.begin(), arrAddresses.begin() + static_cast<long>(nTargets));
    const CFigures ours = RunMibscan(strExe, agent.Port(), arrTargets);
    const CFigures theirs = RunSnmpwalks("", agent.Port(), arrTargets);
    const std::string strWhat = "test agent, " + std::to_string(nTargets) + " targets";
    Print(strWhat.c_str(), ours, theirs);
  }
  // The same 1000 targets with and without --progress, in turns, five
  // runs each: the medians, so that the progress thread's cost stands
  // beside the noise (the spread of the runs).
  std::vector<std::string> arrWith{"--progress"};
  arrWith.insert(arrWith.end(), arrAddresses.begin(), arrAddresses.end());
  std::vector<double> arrWallWithout;
  std::vector<double> arrWallWith;
  std::vector<double> arrCpuWithout;
  std::vector<double> arrCpuWith;
  for (int nRun = 0; nRun < 5; ++nRun) {
    const CFigures without = RunMibscan(strExe, agent.Port(), arrAddresses);
    const CFigures with = RunMibscan(strExe, agent.Port(), arrWith);
    arrWallWithout.push_back(without.dWall);
    arrCpuWithout.push_back(without.dCpu);
    arrWallWith.push_back(with.dWall);
    arrCpuWith.push_back(with.dCpu);
  }
  const auto spread = [](std::vector<double> arrValues) {
    std::sort(arrValues.begin(), arrValues.end());
    char szText[80];
    std::snprintf(szText, sizeof szText, "median %.3f s (%.3f to %.3f)", arrValues[2], arrValues.front(),
                  arrValues.back());
    return std::string(szText);
  };
  std::printf("%-34s without --progress: wall %s, CPU %s\n", "test agent, 1000 targets",
              spread(arrWallWithout).c_str(), spread(arrCpuWithout).c_str());
  std::printf("%-34s with --progress:    wall %s, CPU %s\n", "", spread(arrWallWith).c_str(),
              spread(arrCpuWith).c_str());
  return 0;
}
