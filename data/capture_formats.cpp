#include "data/capture_formats.h"

#include "data/item_rendering.h"

void AppendSendDataLine(QString& out, const CDataItem& item)
{
    out += QLatin1Char('"');
    out += item.GetName();
    out += QLatin1String("\",");
    out += GetKindName(item.GetKind());
    out += QLatin1String(",\"");
    AppendHexString(out, item.GetData(), item.GetLength());
    out += QLatin1String("\"\n");
}

QByteArray FormatItem(CaptureFormat format, const CDataItem& item)
{
    QString text;
    if (format == CaptureFormat::SendData)
        AppendSendDataLine(text, item);
    else
        AppendItemEntry(text, item);
    return text.toUtf8();
}

QByteArray FormatPrefix(CaptureFormat format, const QString& outputPrefix)
{
    return format == CaptureFormat::SerialLog ? outputPrefix.toUtf8() : QByteArray();
}
