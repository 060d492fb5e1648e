#pragma once
// The capture journal's file layout (docs/journal-format.md describes it for
// people who want to read journals with their own tools).
//
//   file    = magic (8 bytes "VNTRLJNL") version (u32) record*
//   record  = size (u32) type (u8) payload (size bytes) crc (u32)
//
// All integers are little-endian. The crc is zlib's crc32 of the record's
// size, type and payload. A journal is a series of segment files; each
// starts with a segment record (where it stands in the series) and the
// capture header, then the saved mark so far; after them come item records
// and, after a Save, saved marks. Version 1 journals are one file without
// the segment record, and are still read.
#include "data/crc32.h"

#include <QByteArray>
#include <cstdint>
#include <cstring>

namespace journal {

inline constexpr char kMagic[8] = {'V', 'N', 'T', 'R', 'L', 'J', 'N', 'L'};
inline constexpr uint32_t kVersion = 2;
inline constexpr uint32_t kVersionOneFile = 1;
inline constexpr size_t kFileHeaderSize = sizeof kMagic + 4;
inline constexpr size_t kRecordHeadSize = 5;  // size and type
inline constexpr size_t kRecordCrcSize = 4;
// No record is larger: a chunk is at most a few kilobytes and the text
// before the first entry a few lines. A larger size is damage.
inline constexpr uint32_t kMaxPayload = 16u << 20;

enum RecordType : uint8_t {
    // start time (i64 µs), line settings (28 bytes), port name (u16 length,
    // UTF-8), text before the first entry (u32 length, UTF-8)
    kCaptureHeader = 'H',
    // time stamp (i64 µs), kind (i32), name (u16 length, UTF-8), the bytes
    // (the rest of the payload)
    kItem = 'I',
    // the number of items (u64), counted from the first, that a Save wrote
    kSaved = 'S',
    // the segment's number in the series (u32, from 1), the capture's index
    // of its first item (u64) and the recorded bytes before it (u64)
    kSegment = 'G',
};
inline constexpr size_t kSegmentSize = 4 + 8 + 8;
inline constexpr size_t kItemFixedSize = 8 + 4 + 2;

inline void PutU16(QByteArray& out, uint16_t v)
{
    const char b[2] = {char(v), char(v >> 8)};
    out.append(b, 2);
}
inline void PutU32(QByteArray& out, uint32_t v)
{
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.append(b, 4);
}
inline void PutU64(QByteArray& out, uint64_t v)
{
    PutU32(out, uint32_t(v));
    PutU32(out, uint32_t(v >> 32));
}
inline void StoreU32(char* at, uint32_t v)
{
    at[0] = char(v);
    at[1] = char(v >> 8);
    at[2] = char(v >> 16);
    at[3] = char(v >> 24);
}
inline uint16_t GetU16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p)
{
    return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}

inline uint32_t Crc(const void* data, size_t length)
{
    return Crc32(0, static_cast<const uint8_t*>(data), length);
}

// Starts a record of `type` at the end of `out`; returns where it begins.
inline qsizetype BeginRecord(QByteArray& out, RecordType type)
{
    const qsizetype start = out.size();
    PutU32(out, 0);
    out.append(char(type));
    return start;
}

// Sets the size of the record that begins at `start` and reserves its crc;
// the crc itself is filled in by SealRecord, which may run later (outside
// the capture lock).
inline void EndRecord(QByteArray& out, qsizetype start)
{
    StoreU32(out.data() + start, uint32_t(out.size() - start - qsizetype(kRecordHeadSize)));
    PutU32(out, 0);
}

inline void SealRecord(QByteArray& out, qsizetype start)
{
    char* record = out.data() + start;
    const size_t covered = kRecordHeadSize + GetU32(reinterpret_cast<const uint8_t*>(record));
    StoreU32(record + covered, Crc(record, covered));
}

inline QByteArray FileHeader()
{
    QByteArray out(kMagic, sizeof kMagic);
    PutU32(out, kVersion);
    return out;
}

} // namespace journal
