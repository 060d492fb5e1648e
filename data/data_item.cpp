#include "data/data_item.h"

#include <QSharedData>
#include <array>
#include <cstring>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <new>
#include <type_traits>
#include <utility>

// A name that items share; it never changes once made.
struct CDataItemName : QSharedData {
    explicit CDataItemName(const QString& name) : text(name) {}
    const QString text;
};

static_assert(sizeof(CDataItem) == 40, "an item is one time stamp, one pointer, its kind and 20 bytes");
static_assert(std::is_nothrow_move_constructible_v<CDataItem>);

namespace {
const QString kNoName = QStringLiteral("NoName");

// Whether `block` can take `length` bytes without wasting more than half of
// itself (an item of the list keeps its block as long as it lives).
bool FitsBlock(uint8_t* block, int length)
{
#if defined(__GLIBC__)
    const size_t usable = malloc_usable_size(block);
    return size_t(length) <= usable && size_t(length) * 2 >= usable;
#else
    (void)block;
    (void)length;
    return false;
#endif
}
} // namespace

CDataItem::CDataItem() : m_nTimeMicros(CTime::GetCurrentMicros()), m_nKind(0) {}

CDataItem::CDataItem(const uint8_t* data, int length) : m_nKind(1)
{
    SetData(data, length);
}

CDataItem::CDataItem(const CDataItem& other) : m_name(other.m_name), m_nKind(other.m_nKind)
{
    SetData(other.GetData(), other.GetLength());
}

// Moving hands the bytes and the name over; the source is left empty.
CDataItem::CDataItem(CDataItem&& other) noexcept
    : m_nTimeMicros(other.m_nTimeMicros),
      m_name(std::move(other.m_name)),
      m_nInline(std::exchange(other.m_nInline, 0)),
      m_nKind(other.m_nKind)
{
    std::memcpy(m_bytes, other.m_bytes, sizeof m_bytes);
}

CDataItem& CDataItem::operator=(const CDataItem& other)
{
    if (this != &other) {
        SetData(other.GetData(), other.GetLength());
        m_name = other.m_name;
        m_nKind = other.m_nKind;
    }
    return *this;
}

CDataItem::~CDataItem()
{
    if (m_nInline == kOnHeap)
        std::free(HeapData());
}

void CDataItem::SetData(const uint8_t* data, int length)
{
    if (length < 0 || !data)
        length = 0;
    // Allocate and copy before anything is released: if the allocation
    // throws, the item keeps its old bytes and stays safe to destroy; and
    // `data` may point into this item's own bytes.
    uint8_t* block = nullptr;
    if (length > kInlineBytes && m_nInline == kOnHeap && FitsBlock(HeapData(), length)) {
        // The item that reads item after item back from the journal keeps
        // its block: no allocation per item.
        std::memmove(HeapData(), data, size_t(length));
        const int32_t heapLength = length;
        std::memcpy(m_bytes + kHeapLengthAt, &heapLength, sizeof heapLength);
        m_nTimeMicros = CTime::GetCurrentMicros();
        return;
    }
    if (length > kInlineBytes) {
        block = static_cast<uint8_t*>(std::malloc(size_t(length)));
        if (!block)
            throw std::bad_alloc();
        std::memcpy(block, data, size_t(length));
    }
    uint8_t* old = m_nInline == kOnHeap ? HeapData() : nullptr;
    if (block) {
        const int32_t heapLength = length;
        std::memcpy(m_bytes, &block, sizeof block);
        std::memcpy(m_bytes + kHeapLengthAt, &heapLength, sizeof heapLength);
        m_nInline = kOnHeap;
    } else {
        if (length)
            std::memmove(m_bytes, data, size_t(length));
        m_nInline = uint8_t(length);
    }
    std::free(old);
    m_nTimeMicros = CTime::GetCurrentMicros();
}

void CDataItem::SetBytesOwnedByList(const uint8_t* bytes, int length)
{
    const int32_t heapLength = length;
    std::memcpy(m_bytes, &bytes, sizeof bytes);
    std::memcpy(m_bytes + kHeapLengthAt, &heapLength, sizeof heapLength);
    m_nInline = kInList;
    m_nTimeMicros = CTime::GetCurrentMicros();
}

QString CDataItem::GetName() const
{
    return m_name ? m_name->text : kNoName;
}

void CDataItem::SetName(const QString& name)
{
    // Chunks of the same second are named one after another with the same
    // text: they share the name last made on this thread, so a flood of
    // small chunks costs one name per second and not one per chunk.
    thread_local QExplicitlySharedDataPointer<CDataItemName> s_last;
    if (!s_last || s_last->text != name)
        s_last = new CDataItemName(name);
    m_name = s_last;
}

CTime CDataItem::GetTimeStamp() const
{
    // Whole seconds, rounded down also before the epoch.
    const int64_t micros = m_nTimeMicros;
    return CTime(micros / 1'000'000 - (micros % 1'000'000 < 0 ? 1 : 0));
}

QString CDataItem::GetHexString() const
{
    QString text;
    AppendHexString(text, GetData(), GetLength());
    return text;
}

void AppendHexString(QString& out, const uint8_t* data, int length)
{
    static const char16_t digits[] = u"0123456789abcdef";
    const qsizetype start = out.size();
    out.resize(start + qsizetype(length) * 3);
    QChar* p = out.data() + start;
    for (int i = 0; i < length; ++i) {
        *p++ = QChar(digits[data[i] >> 4]);
        *p++ = QChar(digits[data[i] & 0x0F]);
        *p++ = QChar(u' ');
    }
}

void AppendHexBytes(QByteArray& out, const uint8_t* data, int length)
{
    // Each byte's "hh " with one byte to spare, stored in a single move: the
    // files of a long capture hold three characters for every byte received.
    static const auto kTriples = [] {
        static const char kDigits[] = "0123456789abcdef";
        std::array<std::array<char, 4>, 256> triples{};
        for (size_t b = 0; b < triples.size(); ++b)
            triples[b] = {kDigits[b >> 4], kDigits[b & 0x0F], ' ', ' '};
        return triples;
    }();
    if (length <= 0)
        return;
    const qsizetype start = out.size();
    // The last byte's spare character lands past the end and is cut off.
    out.resize(start + qsizetype(length) * 3 + 1);
    char* p = out.data() + start;
    for (int i = 0; i < length; ++i, p += 3)
        std::memcpy(p, kTriples[data[i]].data(), 4);
    out.truncate(start + qsizetype(length) * 3);
}

QString GetKindName(int kind)
{
    switch (kind) {
    case 0: return QStringLiteral("String");
    case 1: return QStringLiteral("Hex");
    case 2: return QStringLiteral("Str&Symbol");
    default: return QStringLiteral("Unknown");
    }
}
