#pragma once
// Whether the file system that holds the capture's journal is running out
// of room, and the warning the window shows then.
#include <QString>
#include <cstdint>

// Low: less than 1 GiB free, or less than 5% of the file system.
bool IsStoreSpaceLow(uint64_t freeBytes, uint64_t totalBytes);

// The warning for the journal's folder `folder`, or an empty text while it
// has room (or its space cannot be learnt).
QString StoreSpaceWarning(const QString& folder);
