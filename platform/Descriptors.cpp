#include "platform/Descriptors.h"

#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    (void)setrlimit(RLIMIT_NOFILE, &limit);
  }
}

size_t DescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > SIZE_MAX)
    return SIZE_MAX;
  return static_cast<size_t>(limit.rlim_cur);
}

int OpenWaitingForDescriptors(const std::function<int()>& fnOpen) {
  for (int nTry = 1;; ++nTry) {
    const int nFd = fnOpen();
    if (nFd >= 0 || (errno != EMFILE && errno != ENFILE) || nTry >= c_nDescriptorTries) return nFd;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
