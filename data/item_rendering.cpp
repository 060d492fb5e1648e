#include "data/item_rendering.h"

#include <QStringDecoder>
#include <cstring>

namespace {

bool IsAscii(const uint8_t* data, int length)
{
    // Eight bytes at a time: a top bit anywhere among them is non-ASCII.
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < length; ++i)
        if (data[i] & 0x80)
            return false;
    return true;
}

} // namespace

int ChunkTextLength(const uint8_t* data, int length)
{
    const void* zero = length > 0 ? std::memchr(data, 0, size_t(length)) : nullptr;
    return zero ? int(static_cast<const uint8_t*>(zero) - data) : length;
}

QString ChunkAsText(const uint8_t* data, int length)
{
    // A chunk is decoded on its own, and its first bytes are what the device
    // sent, not a byte-order mark announcing the encoding: a leading EF BB BF
    // stays in the text.
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(data, ChunkTextLength(data, length)));
}

void AppendItemEntry(QString& out, const CDataItem& item)
{
    out += kEntryPrefix;
    if (item.GetKind() == 1) {
        AppendHexString(out, item.GetData(), item.GetLength());
        return;
    }
    // Decoded straight into `out`, as ChunkAsText decodes: no string of its
    // own per item (Find renders every item it scans).
    const QByteArrayView bytes(item.GetData(), ChunkTextLength(item.GetData(), item.GetLength()));
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const qsizetype start = out.size();
    out.resize(start + decoder.requiredSpace(bytes.size()));
    const QChar* end = decoder.appendToBuffer(out.data() + start, bytes);
    out.truncate(end - out.constData());
}

void AppendItemEntryUtf8(QByteArray& out, const CDataItem& item)
{
    const int length = item.GetKind() == 1 ? item.GetLength() : ChunkTextLength(item.GetData(), item.GetLength());
    if (item.GetKind() == 1) {
        out += kEntryPrefixUtf8;
        AppendHexBytes(out, item.GetData(), length);
    } else if (IsAscii(item.GetData(), length)) {
        out += kEntryPrefixUtf8;
        out.append(reinterpret_cast<const char*>(item.GetData()), length);
    } else {
        QString text;
        AppendItemEntry(text, item);
        out += text.toUtf8();
    }
}
