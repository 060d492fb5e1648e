#pragma once
// How a recorded item appears in the output area and in a Serial Log file:
// "\r\nRec :" followed by the item's hexadecimal text when it was recorded
// under the Hex show format (kind 1), else by its bytes as text.
#include "data/data_item.h"

#include <QString>

inline const QString kEntryPrefix = QStringLiteral("\r\nRec :");
inline constexpr char kEntryPrefixUtf8[] = "\r\nRec :";

// The bytes up to the first zero byte (all of them when there is none),
// decoded in the system's 8-bit encoding; bytes that are not valid text
// become replacement characters, and a leading byte-order mark is kept.
QString ChunkAsText(const uint8_t* data, int length);

// How many of the bytes ChunkAsText decodes: those before the first zero.
int ChunkTextLength(const uint8_t* data, int length);

// Appends the item's entry, prefix included.
void AppendItemEntry(QString& out, const CDataItem& item);
// The same entry in UTF-8, appended to `out`. Text that is plain ASCII,
// which most instruments send, is copied as it is: decoding it and encoding
// it again would give the same bytes.
void AppendItemEntryUtf8(QByteArray& out, const CDataItem& item);
