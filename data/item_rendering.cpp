#include "data/item_rendering.h"

#include <QStringDecoder>
#include <cstring>

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
