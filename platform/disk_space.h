#pragma once
// The free and total space of the file system that holds a folder.
#include <QString>
#include <cstdint>

namespace platform {

struct DiskSpace {
    uint64_t freeBytes = 0;   // what an unprivileged program may still write
    uint64_t totalBytes = 0;
};

// The space of the file system holding `folder`, or of its nearest existing
// parent while the folder is not made yet. 0, or the errno of the failure.
int diskSpaceAt(const QString& folder, DiskSpace& space);

} // namespace platform
