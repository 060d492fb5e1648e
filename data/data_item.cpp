#include "data/data_item.h"

#include <cstring>
#include <utility>

namespace {
const QString kNoName = QStringLiteral("NoName");
}

CDataItem::CDataItem() : m_nTimeMicros(CTime::GetCurrentMicros()), m_nKind(0), m_strName(kNoName) {}

CDataItem::CDataItem(const uint8_t* data, int length) : m_nKind(1), m_strName(kNoName)
{
    SetData(data, length);
}

CDataItem::CDataItem(const CDataItem& other) : m_nKind(other.m_nKind), m_strName(other.m_strName)
{
    SetData(other.m_pData, other.m_nLength);
}

// Moving hands the buffer and the name over; the source is left empty.
CDataItem::CDataItem(CDataItem&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)),
      m_nLength(std::exchange(other.m_nLength, 0)),
      m_nTimeMicros(other.m_nTimeMicros),
      m_nKind(other.m_nKind),
      m_strName(std::move(other.m_strName))
{
}

CDataItem& CDataItem::operator=(const CDataItem& other)
{
    if (this != &other) {
        SetData(other.m_pData, other.m_nLength);
        m_strName = other.m_strName;
        m_nKind = other.m_nKind;
    }
    return *this;
}

CDataItem::~CDataItem()
{
    delete[] m_pData;
}

void CDataItem::SetData(const uint8_t* data, int length)
{
    if (length < 0)
        length = 0;
    // Allocate before freeing: if the allocation throws, the item keeps its
    // old bytes and stays safe to destroy.
    uint8_t* copy = length ? new uint8_t[size_t(length)] : nullptr;
    if (length)
        std::memcpy(copy, data, size_t(length));
    delete[] m_pData;
    m_pData = copy;
    m_nLength = length;
    m_nTimeMicros = CTime::GetCurrentMicros();
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
    AppendHexString(text, m_pData, m_nLength);
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

QString GetKindName(int kind)
{
    switch (kind) {
    case 0: return QStringLiteral("String");
    case 1: return QStringLiteral("Hex");
    case 2: return QStringLiteral("Str&Symbol");
    default: return QStringLiteral("Unknown");
    }
}
