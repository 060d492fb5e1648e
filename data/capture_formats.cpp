#include "data/capture_formats.h"

#include "data/item_rendering.h"
#include "data/timed_log_format.h"

namespace {

// "%.2x " for every byte, written straight into the line: the bulk of a
// Send Data file, so it is made without an intermediate string.
void AppendHexBytes(QByteArray& out, const uint8_t* data, int length)
{
    static const char kDigits[] = "0123456789abcdef";
    const qsizetype at = out.size();
    out.resize(at + qsizetype(length) * 3);
    char* p = out.data() + at;
    for (int i = 0; i < length; ++i) {
        *p++ = kDigits[data[i] >> 4];
        *p++ = kDigits[data[i] & 0xF];
        *p++ = ' ';
    }
}

} // namespace

void AppendSendDataLine(QByteArray& out, const CDataItem& item)
{
    out += '"';
    out += item.GetName().toUtf8();
    out += "\",";
    out += GetKindName(item.GetKind()).toUtf8();
    out += ",\"";
    AppendHexBytes(out, item.GetData(), item.GetLength());
    out += "\"\n";
}

QByteArray FormatItem(CaptureFormat format, const CDataItem& item)
{
    if (format == CaptureFormat::SendData) {
        QByteArray line;
        AppendSendDataLine(line, item);
        return line;
    }
    if (format == CaptureFormat::TimedLog)
        return TimedLogEntry(item);
    QString text;
    AppendItemEntry(text, item);
    return text.toUtf8();
}

QByteArray FormatPrefix(CaptureFormat format, const QString& outputPrefix)
{
    return format == CaptureFormat::SendData ? QByteArray() : outputPrefix.toUtf8();
}
