#include "data/item_rendering.h"

#include <cstring>

QString ChunkAsText(const uint8_t* data, int length)
{
    const void* zero = length > 0 ? std::memchr(data, 0, size_t(length)) : nullptr;
    const int shown = zero ? int(static_cast<const uint8_t*>(zero) - data) : length;
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(data), shown);
}

void AppendItemEntry(QString& out, const CDataItem& item)
{
    out += kEntryPrefix;
    if (item.GetKind() == 1)
        AppendHexString(out, item.GetData(), item.GetLength());
    else
        out += ChunkAsText(item.GetData(), item.GetLength());
}
