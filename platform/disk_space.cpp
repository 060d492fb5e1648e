#include "platform/disk_space.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/statvfs.h>

namespace platform {

int diskSpaceAt(const QString& folder, DiskSpace& space)
{
    // The journal's folder is made with its first journal: until then the
    // space it will have is that of the folder it will be made in.
    QString path = QDir::cleanPath(folder);
    while (!QFileInfo::exists(path) && path != QDir::rootPath() && !path.isEmpty())
        path = QFileInfo(path).path();
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return errno;
    space.freeBytes = uint64_t(info.f_bavail) * info.f_frsize;
    space.totalBytes = uint64_t(info.f_blocks) * info.f_frsize;
    return 0;
}

} // namespace platform
