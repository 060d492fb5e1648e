#pragma once
// How much memory the system can give a program now without swapping.
#include <cstdint>

namespace platform {

// The kernel's estimate of the memory available to new allocations
// (MemAvailable), in bytes: 0, or the errno of the failure (ENODATA when
// the kernel gives no estimate).
int availableMemory(uint64_t& bytes);

} // namespace platform
