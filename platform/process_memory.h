#pragma once
// The process's memory and the system's: how much the system can give, and
// how freed memory is kept.
#include <cstddef>
#include <cstdint>

namespace platform {

// The kernel's estimate of the memory available to new allocations
// (MemAvailable), in bytes: 0, or the errno of the failure (ENODATA when
// the kernel gives no estimate).
int availableMemory(uint64_t& bytes);

// Freed memory stays with the process for its next allocations, up to a few
// MiB, instead of going back to the system at once: a capture's steady state,
// which frees each batch it formats and allocates the next, then touches no
// new page. False when the allocator refuses the setting.
bool keepFreedMemoryForReuse();

// The pages under [bytes, bytes + length) are made present and writable now,
// in one call, instead of one fault per page at first write: for memory a
// reader is about to fill at full speed. Pages only partly in the range are
// left alone. 0, or the errno of the failure (EINVAL on kernels before 5.14,
// where the pages simply fault in as they are written).
int prefaultForWriting(void* bytes, size_t length);

} // namespace platform
