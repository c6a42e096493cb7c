#include "platform/Descriptors.h"

#include <cstdint>

// Windows has no per-process limit on handles or sockets to raise; the
// system's memory is the only bound.
void RaiseDescriptorLimit() {}

size_t DescriptorLimit() { return SIZE_MAX; }
