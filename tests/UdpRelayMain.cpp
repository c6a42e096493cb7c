// udprelay AGENT_PORT DELAY_MS [QUEUE [MAX_ANSWER_BYTES]]: the test relay
// (UdpRelay.h) as a program of its own, for benchmarks. Prints the port it listens on, then
// relays until SIGTERM or SIGINT, and then prints to standard error how
// many requests it forwarded and dropped.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/UdpRelay.h"

namespace {

volatile sig_atomic_t g_bStop = 0;

void OnSignal(int) { g_bStop = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: udprelay AGENT_PORT DELAY_MS [QUEUE [MAX_ANSWER_BYTES]]\n");
    return 2;
  }
  CUdpRelay relay(static_cast<uint16_t>(std::atoi(argv[1])), std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 0);
  if (argc > 4) relay.SetMaxAnswerBytes(static_cast<size_t>(std::atoi(argv[4])));
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
  std::fprintf(stderr, "udprelay: %d requests forwarded, %d dropped, %d answers dropped for their length\n",
               relay.Forwarded(), relay.Dropped(), relay.DroppedAnswers());
  return 0;
}
