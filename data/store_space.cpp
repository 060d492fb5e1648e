#include "data/store_space.h"

#include "platform/disk_space.h"

#include <QDir>
#include <QLocale>

namespace {

constexpr uint64_t kLowFreeBytes = uint64_t(1) << 30;
constexpr uint64_t kLowFreePercent = 5;

} // namespace

bool IsStoreSpaceLow(uint64_t freeBytes, uint64_t totalBytes)
{
    // In this order, so a huge file system cannot overflow the percentage.
    return freeBytes < kLowFreeBytes || freeBytes < totalBytes / 100 * kLowFreePercent;
}

QString StoreSpaceWarning(const QString& folder)
{
    platform::DiskSpace space;
    if (platform::diskSpaceAt(folder, space) != 0 || !IsStoreSpaceLow(space.freeBytes, space.totalBytes))
        return {};
    return QStringLiteral("Low disk space: %1 free for the journal in %2")
        .arg(QLocale().formattedDataSize(qint64(space.freeBytes)), QDir::toNativeSeparators(folder));
}
