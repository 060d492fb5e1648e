#include "data/jsonl_format.h"

#include "data/item_rendering.h"
#include "data/item_time_format.h"

#include <QUuid>

QString NewJsonLinesRunId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void AppendJsonString(QByteArray& out, QStringView text)
{
    static const char kDigits[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    out.reserve(out.size() + utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (u) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7F) {
                out += "\\u00";
                out += kDigits[u >> 4];
                out += kDigits[u & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void AppendJsonLine(QByteArray& out, const CDataItem& item, int64_t seq, const JsonLinesRun& run)
{
    QString text;
    if (item.GetKind() == 1)
        AppendHexString(text, item.GetData(), item.GetLength());
    else
        text = ChunkAsText(item.GetData(), item.GetLength());

    out += "{\"time\":\"";
    AppendIsoLocalMicros(out, item.GetTimeMicros());
    out += "\",\"run\":";
    AppendJsonString(out, run.run);
    out += ",\"seq\":";
    out += QByteArray::number(qlonglong(seq));
    out += ",\"port\":";
    AppendJsonString(out, run.port);
    out += ",\"device\":";
    if (run.device.isEmpty())
        out += "null";
    else
        AppendJsonString(out, run.device);
    out += ",\"kind\":";
    AppendJsonString(out, GetKindName(item.GetKind()));
    out += ",\"length\":";
    out += QByteArray::number(item.GetLength());
    out += ",\"text\":";
    AppendJsonString(out, text);
    out += ",\"base64\":\"";
    out += QByteArray::fromRawData(reinterpret_cast<const char*>(item.GetData()), item.GetLength()).toBase64();
    out += "\"}\n";
}
