#include "data/capture_formats.h"

#include "data/item_rendering.h"
#include "data/timed_log_format.h"

namespace {

// A name or a kind name in UTF-8 without a string of its own: they are
// ASCII, and only something else goes through the encoder.
void AppendUtf8(QByteArray& out, const QString& text)
{
    const qsizetype start = out.size();
    out.resize(start + text.size());
    char* p = out.data() + start;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            out.truncate(start);
            out += text.toUtf8();
            return;
        }
        *p++ = char(c.unicode());
    }
}

} // namespace

void AppendSendDataLine(QByteArray& out, const CDataItem& item)
{
    out += '"';
    AppendUtf8(out, item.GetName());
    out += "\",";
    AppendUtf8(out, GetKindName(item.GetKind()));
    out += ",\"";
    AppendHexBytes(out, item.GetData(), item.GetLength());
    out += "\"\n";
}

void AppendFormattedItem(QByteArray& out, CaptureFormat format, const CDataItem& item)
{
    switch (format) {
    case CaptureFormat::SendData: AppendSendDataLine(out, item); break;
    case CaptureFormat::TimedLog: AppendTimedLogEntry(out, item); break;
    case CaptureFormat::SerialLog: AppendItemEntryUtf8(out, item); break;
    }
}

QByteArray FormatItem(CaptureFormat format, const CDataItem& item)
{
    QByteArray bytes;
    AppendFormattedItem(bytes, format, item);
    return bytes;
}

QByteArray FormatPrefix(CaptureFormat format, const QString& outputPrefix)
{
    return format == CaptureFormat::SendData ? QByteArray() : outputPrefix.toUtf8();
}
