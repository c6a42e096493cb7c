// The process's open-file limit: every running target holds a socket, and
// writing a result file takes two descriptors more for a moment.
#ifndef MIBSCAN_PLATFORM_DESCRIPTORS_H_
#define MIBSCAN_PLATFORM_DESCRIPTORS_H_

#include <cstddef>

// Raises the soft open-file limit to the hard one.
void RaiseDescriptorLimit();

// How many descriptors the process may have open at once; SIZE_MAX when
// there is no limit.
[[nodiscard]] size_t DescriptorLimit();

// True when errno says that no descriptor was to be had (for this process
// or the whole system): a later try may succeed once others are closed.
[[nodiscard]] bool IsOutOfDescriptors(int nErrno);

// Waits a moment before such a later try.
void PauseForDescriptors();

#endif  // MIBSCAN_PLATFORM_DESCRIPTORS_H_
