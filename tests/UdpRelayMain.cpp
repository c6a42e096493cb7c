// udprelay AGENT_PORT DELAY_MS [QUEUE [MAX_ANSWER_BYTES]] [OPTION...]: the
// test relay (UdpRelay.h) as a program of its own, for benchmarks. Options:
// --answer-delay MIN-MAX (ms, each answer, drawn at random), --other-port
// (answers from another port), --silent-above N (GETBULKs of more
// repetitions dropped), --out-of-order-above N. Prints the port it listens on, then
// relays until SIGTERM or SIGINT, and then prints to standard error how
// many requests it forwarded and dropped.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/UdpRelay.h"

namespace {

volatile sig_atomic_t g_bStop = 0;

void OnSignal(int) { g_bStop = 1; }

}  // namespace

int main(int argc, char** argv) {
  const char* szUsage =
      "usage: udprelay AGENT_PORT DELAY_MS [QUEUE [MAX_ANSWER_BYTES]] [--answer-delay MIN-MAX] [--other-port] "
      "[--silent-above N] [--out-of-order-above N]\n";
  int nPositional = 1;
  while (nPositional < argc && std::strncmp(argv[nPositional], "--", 2) != 0) ++nPositional;
  if (nPositional < 3) {
    std::fputs(szUsage, stderr);
    return 2;
  }
  CUdpRelay relay(static_cast<uint16_t>(std::atoi(argv[1])), std::atoi(argv[2]),
                  nPositional > 3 ? std::atoi(argv[3]) : 0);
  if (nPositional > 4) relay.SetMaxAnswerBytes(static_cast<size_t>(std::atoi(argv[4])));
  for (int i = nPositional; i < argc; ++i) {
    const std::string strOption = argv[i];
    const bool bValue = i + 1 < argc;
    if (strOption == "--other-port") {
      relay.SetAnswerFromOtherPort();
    } else if (strOption == "--answer-delay" && bValue) {
      const std::string strRange = argv[++i];
      const size_t nDash = strRange.find('-');
      relay.SetAnswerDelay(std::atoi(strRange.c_str()),
                           nDash == std::string::npos ? 0 : std::atoi(strRange.c_str() + nDash + 1));
    } else if (strOption == "--silent-above" && bValue) {
      relay.SetSilentAboveRepetitions(std::atoi(argv[++i]));
    } else if (strOption == "--out-of-order-above" && bValue) {
      relay.SetOutOfOrderAbove(std::atoi(argv[++i]));
    } else {
      std::fputs(szUsage, stderr);
      return 2;
    }
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  if (!relay.Start()) {
    std::fprintf(stderr, "udprelay: cannot listen\n");
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(relay.Port()));
  std::fflush(stdout);
  while (g_bStop == 0) usleep(100000);  // a signal cuts the sleep short
  relay.Stop();
  std::fprintf(stderr,
               "udprelay: %d requests forwarded, %d dropped, %d answers dropped for their length, "
               "%d bulks dropped for their repetitions, %d answers put out of order\n",
               relay.Forwarded(), relay.Dropped(), relay.DroppedAnswers(), relay.DroppedBulks(), relay.Reordered());
  return 0;
}
