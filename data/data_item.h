#pragma once
// One recorded chunk: its own copy of the bytes, a presentation kind, a name
// (the time of day of its reception) and the time its bytes were last set.
//
// A long capture holds millions of items, most of them a few bytes long, so
// an item takes 40 bytes: a chunk of up to kInlineBytes bytes lives inside
// the item, a longer one in a heap block that the item owns alone (or, for a
// chunk just recorded, in the item list's chunk ring), and the
// name is one pointer to a string that the items of the same second share.
// Items can be moved bitwise (the item list does so when it grows).
#include "platform/ctime.h"

#include <QByteArray>
#include <QExplicitlySharedDataPointer>
#include <QString>
#include <cstdint>
#include <cstring>

struct CDataItemName;

class CDataItem final {
public:
    // Chunks of up to this many bytes are kept inside the item: what is left
    // of 40 bytes after the time stamp, the name, the kind and the length.
    static constexpr int kInlineBytes = 19;

    CDataItem();
    CDataItem(const uint8_t* data, int length);
    CDataItem(const CDataItem& other);
    CDataItem(CDataItem&& other) noexcept;
    CDataItem& operator=(const CDataItem& other);
    ~CDataItem();

    // Replaces the bytes with a copy of `data` and stamps the time.
    void SetData(const uint8_t* data, int length);
    // Takes `bytes`, which the item list owns and frees itself (its chunk
    // ring), as the item's bytes without a copy, and stamps the time. Only
    // for an item that has no bytes yet and stays in that list; a copy of
    // the item has bytes of its own.
    void SetBytesOwnedByList(const uint8_t* bytes, int length);
    bool BytesOwnedByList() const { return m_nInline == kInList; }

    QString GetName() const;
    // Consecutive items given equal names share one string.
    void SetName(const QString& name);
    int GetKind() const { return m_nKind; }
    void SetKind(int kind) { m_nKind = kind; }

    // The bytes, or null when there are none. Short chunks live inside the
    // item and move with it: a pointer into an item of the list holds only
    // until the list next grows, that is while the capture lock is held.
    const uint8_t* GetData() const
    {
        if (m_nInline >= kInList)
            return HeapData();
        return m_nInline ? m_bytes : nullptr;
    }
    int GetLength() const { return m_nInline >= kInList ? HeapLength() : m_nInline; }
    CTime GetTimeStamp() const;
    // The same moment in microseconds since the epoch. A restored item gets
    // the time stamp it was recorded with.
    int64_t GetTimeMicros() const { return m_nTimeMicros; }
    void SetTimeMicros(int64_t micros) { m_nTimeMicros = micros; }

    // Two lower-case hexadecimal digits and a blank for every byte.
    QString GetHexString() const;

private:
    // m_nInline when the bytes are in a heap block of the item's own, or in
    // the list's memory; m_bytes then holds their address followed by their
    // length.
    static constexpr uint8_t kOnHeap = 0xFF;
    static constexpr uint8_t kInList = 0xFE;
    static constexpr size_t kHeapLengthAt = sizeof(uint8_t*);

    uint8_t* HeapData() const
    {
        uint8_t* block;
        std::memcpy(&block, m_bytes, sizeof block);
        return block;
    }
    int32_t HeapLength() const
    {
        int32_t length;
        std::memcpy(&length, m_bytes + kHeapLengthAt, sizeof length);
        return length;
    }

    int64_t m_nTimeMicros = 0;
    QExplicitlySharedDataPointer<CDataItemName> m_name;  // none: "NoName"
    alignas(8) uint8_t m_bytes[kInlineBytes];
    uint8_t m_nInline = 0;  // the number of bytes in m_bytes, kOnHeap or kInList
    int32_t m_nKind = 0;
};

// "String" 0, "Hex" 1, "Str&Symbol" 2, "Unknown" for every other kind.
QString GetKindName(int kind);

// Appends the hexadecimal text of `length` bytes to `out`.
void AppendHexString(QString& out, const uint8_t* data, int length);
// The same text in bytes.
void AppendHexBytes(QByteArray& out, const uint8_t* data, int length);
