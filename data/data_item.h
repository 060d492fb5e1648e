#pragma once
// One recorded chunk: its own copy of the bytes, a presentation kind, a name
// (the time of day of its reception) and the time its bytes were last set.
#include "platform/ctime.h"

#include <QString>
#include <cstdint>

class CDataItem {
public:
    CDataItem();
    CDataItem(const uint8_t* data, int length);
    CDataItem(const CDataItem& other);
    CDataItem(CDataItem&& other) noexcept;
    CDataItem& operator=(const CDataItem& other);
    virtual ~CDataItem();

    // Replaces the bytes with a copy of `data` and stamps the time.
    void SetData(const uint8_t* data, int length);

    QString GetName() const { return m_strName; }
    void SetName(const QString& name) { m_strName = name; }
    int GetKind() const { return m_nKind; }
    void SetKind(int kind) { m_nKind = kind; }

    const uint8_t* GetData() const { return m_pData; }
    int GetLength() const { return m_nLength; }
    CTime GetTimeStamp() const;
    // The same moment in microseconds since the epoch. A restored item gets
    // the time stamp it was recorded with.
    int64_t GetTimeMicros() const { return m_nTimeMicros; }
    void SetTimeMicros(int64_t micros) { m_nTimeMicros = micros; }

    // Two lower-case hexadecimal digits and a blank for every byte.
    QString GetHexString() const;

private:
    uint8_t* m_pData = nullptr;
    int32_t m_nLength = 0;
    int64_t m_nTimeMicros = 0;
    int32_t m_nKind = 0;
    QString m_strName;
};

// "String" 0, "Hex" 1, "Str&Symbol" 2, "Unknown" for every other kind.
QString GetKindName(int kind);

// Appends the hexadecimal text of `length` bytes to `out`.
void AppendHexString(QString& out, const uint8_t* data, int length);
