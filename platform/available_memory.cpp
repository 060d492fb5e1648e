#include "platform/available_memory.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

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

} // namespace platform
