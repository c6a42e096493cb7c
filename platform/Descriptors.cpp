#include "platform/Descriptors.h"

#include <cerrno>
#include <chrono>
#include <thread>

int OpenWaitingForDescriptors(const std::function<int()>& fnOpen) {
  for (int nTry = 1;; ++nTry) {
    const int nFd = fnOpen();
    if (nFd >= 0 || (errno != EMFILE && errno != ENFILE) || nTry >= c_nDescriptorTries) return nFd;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
