// The process's open-file limit: every running target holds a socket, and
// writing a result file takes two descriptors more for a moment.
#ifndef MIBSCAN_PLATFORM_DESCRIPTORS_H_
#define MIBSCAN_PLATFORM_DESCRIPTORS_H_

#include <cstddef>
#include <functional>

// Raises the soft open-file limit to the hard one.
void RaiseDescriptorLimit();

// How many descriptors the process may have open at once; SIZE_MAX when
// there is no limit.
[[nodiscard]] size_t DescriptorLimit();

// Calls fnOpen (which makes a descriptor, or -1 with errno set) until it
// succeeds, fails for another reason than a lack of descriptors (for this
// process or the whole system), or has been tried c_nDescriptorTries times
// 10 ms apart: other targets are about to close theirs.
constexpr int c_nDescriptorTries = 500;  // 5 s in all
[[nodiscard]] int OpenWaitingForDescriptors(const std::function<int()>& fnOpen);

#endif  // MIBSCAN_PLATFORM_DESCRIPTORS_H_
