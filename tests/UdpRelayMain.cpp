// udprelay AGENT_PORT DELAY_MS [QUEUE]: the test relay (UdpRelay.h) as a
// program of its own, for benchmarks. Prints the port it listens on, then
// relays until it is stopped by a signal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/UdpRelay.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: udprelay AGENT_PORT DELAY_MS [QUEUE]\n");
    return 2;
  }
  CUdpRelay relay(static_cast<uint16_t>(std::atoi(argv[1])), std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 0);
  if (!relay.Start()) {
    std::fprintf(stderr, "udprelay: cannot listen\n");
    return 1;
  }
  std::printf("%u\n", static_cast<unsigned>(relay.Port()));
  std::fflush(stdout);
  while (true) pause();
}
