#include "platform/process_memory.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

int availableMemory(uint64_t& bytes)
{
    std::FILE* info = std::fopen("/proc/meminfo", "re");
    if (!info)
        return errno;
    char line[256];
    int result = ENODATA;
    while (std::fgets(line, sizeof line, info)) {
        uint64_t kib = 0;
        if (std::sscanf(line, "MemAvailable: %" SCNu64 " kB", &kib) == 1) {
            bytes = kib * 1024;
            result = 0;
            break;
        }
    }
    std::fclose(info);
    return result;
}

bool keepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // Fixed thresholds instead of the adaptive ones, which give the top of
    // the heap back whenever 128 KiB or more of it is free.
    constexpr int kKeptBytes = 16 << 20;
    constexpr int kMappedFromBytes = 4 << 20;
    return mallopt(M_TRIM_THRESHOLD, kKeptBytes) == 1 && mallopt(M_MMAP_THRESHOLD, kMappedFromBytes) == 1;
#else
    return true;
#endif
}

int prefaultForWriting(void* bytes, size_t length)
{
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (uintptr_t(bytes) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(bytes) + length) & ~(page - 1);
    if (end <= begin)
        return 0;
    return ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0 ? 0 : errno;
}

} // namespace platform
