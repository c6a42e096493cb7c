// Round trips per second of our GET-NEXT chain, beside net-snmp's snmpwalk
// on the same agent in the same run: against the test agent serving a
// recorded device, and against Debian's snmpd. Prints figures; asserts
// nothing.
//
//   walkrate_bench SNMPREC_FILE[.gz] [SNMPD_DIR]
//
// SNMPD_DIR is a directory prepared by tests/snmpd-agent start (its port
// file names the agent's port); without it only the test agent is used.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "snmp/SnmpOid.h"
#include "snmp/SnmpSession.h"
#include "tests/TestAgent.h"

namespace {

using CClock = std::chrono::steady_clock;
constexpr double c_dMinSeconds = 1.0;  // each measurement runs whole walks for at least this

// One whole walk with GET-NEXT from .1.3; the number of round trips.
long WalkOnce(uint16_t uPort) {
  LPSNMP_MGR_SESSION pSession = SnmpMgrOpen("127.0.0.1", "qzvtrk", 2000, 1, uPort);
  if (pSession == nullptr) return 0;
  SnmpVarBindList bindings(1);
  (void)SnmpMgrStrToOid(".1.3", &bindings[0].name);
  int32_t nStatus = 0;
  int32_t nIndex = 0;
  long nTrips = 0;
  while (SnmpMgrRequest(pSession, SNMP_PDU_GETNEXT, &bindings, &nStatus, &nIndex)) {
    ++nTrips;
    if (nStatus != 0) break;
  }
  SnmpMgrClose(pSession);
  return nTrips;
}

// snmpwalk -v1 of the same agent; the number of round trips (objects + the
// final noSuchName).
long SnmpwalkOnce(uint16_t uPort, const std::string& strEnv) {
  const std::string strCommand = strEnv + " snmpwalk -v1 -c qzvtrk -On -m '' -t 2 -r 1 127.0.0.1:" +
                                 std::to_string(uPort) + " .1.3 2>/dev/null";
  FILE* pPipe = popen(strCommand.c_str(), "r");
  if (pPipe == nullptr) return 0;
  long nLines = 0;
  char szLine[8192];
  while (std::fgets(szLine, sizeof szLine, pPipe) != nullptr) {
    if (szLine[0] == '.') ++nLines;
  }
  pclose(pPipe);
  return nLines + 1;
}

template <typename F>
double RoundTripsPerSecond(F walk, long* pnPerWalk) {
  long nTrips = 0;
  const auto start = CClock::now();
  double dSeconds = 0;
  do {
    *pnPerWalk = walk();
    if (*pnPerWalk <= 1) return 0;
    nTrips += *pnPerWalk;
    dSeconds = std::chrono::duration<double>(CClock::now() - start).count();
  } while (dSeconds < c_dMinSeconds);
  return static_cast<double>(nTrips) / dSeconds;
}

void Compare(const char* szAgent, uint16_t uPort, const std::string& strEnv) {
  long nOurs = 0;
  long nTheirs = 0;
  const double dOurs = RoundTripsPerSecond([&] { return WalkOnce(uPort); }, &nOurs);
  const double dTheirs = RoundTripsPerSecond([&] { return SnmpwalkOnce(uPort, strEnv); }, &nTheirs);
  std::printf("%-12s %8ld OIDs  ours %9.0f round trips/s  snmpwalk %9.0f round trips/s  ratio %.2f\n",
              szAgent, nOurs - 1, dOurs, dTheirs, dTheirs > 0 ? dOurs / dTheirs : 0.0);
}

std::string ReadMaybeGzipped(const std::string& strPath) {
  std::string strText;
  if (strPath.ends_with(".gz")) {
    FILE* pPipe = popen(("gzip -dc '" + strPath + "'").c_str(), "r");
    if (pPipe == nullptr) return strText;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pPipe)) > 0;) strText.append(buffer, n);
    pclose(pPipe);
    return strText;
  }
  std::ifstream in(strPath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SNMPREC_FILE[.gz] [SNMPD_DIR]\n", argv[0]);
    return 2;
  }
  CTestAgent agent;
  std::string strErr;
  if (!agent.LoadSnmprec(ReadMaybeGzipped(argv[1]), &strErr) || !agent.Start()) {
    std::fprintf(stderr, "test agent: %s\n", strErr.c_str());
    return 1;
  }
  Compare("test agent", agent.Port(), "");
  agent.Stop();
  if (argc >= 3) {
    const std::string strDir = argv[2];
    std::ifstream portFile(strDir + "/port");
    int nPort = 0;
    if (!(portFile >> nPort)) {
      std::fprintf(stderr, "no snmpd port in %s\n", strDir.c_str());
      return 1;
    }
    Compare("snmpd", static_cast<uint16_t>(nPort),
            "SNMP_PERSISTENT_DIR=" + strDir + "/persist SNMPCONFPATH=" + strDir);
  }
  return 0;
}
