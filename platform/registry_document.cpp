#include "platform/registry_document.h"

#include <QStringDecoder>
#include <QStringList>

namespace platform {

namespace {

constexpr uint32_t kTypeSz = 1;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
const char kHeader[] = "Windows Registry Editor Version 5.00";

QString decodeFile(const QByteArray& bytes)
{
    // Files saved by hand may be UTF-16 with a byte-order mark; ours are UTF-8.
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE)(bytes.mid(2));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return QString::fromUtf8(bytes);
}

// Reads a quoted string starting at text[pos] == '"', undoing \\ and \" escapes.
// On success pos is left after the closing quote.
bool readQuoted(const QString& text, int& pos, QString& out)
{
    if (pos >= text.size() || text[pos] != u'"')
        return false;
    out.clear();
    for (int i = pos + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (c == u'"') {
            pos = i + 1;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

QString quote(const QString& text)
{
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + escaped + u'"';
}

bool parseHexBytes(QStringView list, QByteArray& out)
{
    out.clear();
    list = list.trimmed();
    if (list.isEmpty())
        return true;
    for (QStringView item : list.split(u',')) {
        item = item.trimmed();
        bool ok = false;
        const uint byte = item.toUInt(&ok, 16);
        if (!ok || item.size() > 2 || byte > 0xFF)
            return false;
        if (out.size() >= RegistryDocument::kMaxValueSize)
            return false;
        out.append(char(byte));
    }
    return true;
}

// Parses the part after '=' into a type and bytes.
bool parseData(const QString& text, RegistryValue& value)
{
    if (text.startsWith(u'"')) {
        int pos = 0;
        QString str;
        if (!readQuoted(text, pos, str) || !text.mid(pos).trimmed().isEmpty())
            return false;
        value.type = kTypeSz;
        value.data = QByteArray(reinterpret_cast<const char*>(str.utf16()), str.size() * 2);
        value.data.append(2, '\0');
        return true;
    }
    if (text.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = text.mid(6).trimmed();
        bool ok = false;
        const uint n = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 8)
            return false;
        value.type = kTypeDword;
        value.data.resize(4);
        for (int i = 0; i < 4; ++i)
            value.data[i] = char((n >> (8 * i)) & 0xFF);
        return true;
    }
    if (text.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive)) {
        value.type = kTypeBinary;
        return parseHexBytes(QStringView(text).mid(4), value.data);
    }
    if (text.startsWith(QLatin1String("hex("), Qt::CaseInsensitive)) {
        const int close = text.indexOf(QLatin1String("):"));
        if (close < 0)
            return false;
        bool ok = false;
        value.type = text.mid(4, close - 4).toUInt(&ok, 16);
        return ok && parseHexBytes(QStringView(text).mid(close + 2), value.data);
    }
    return false;
}

} // namespace

RegistryDocument RegistryDocument::parse(const QByteArray& fileContent, int* skippedLines)
{
    RegistryDocument doc;
    int skipped = 0;
    if (skippedLines)
        *skippedLines = 0;
    if (fileContent.size() > kMaxFileSize)
        return doc;
    const QString text = decodeFile(fileContent);
    RegistryKeyEntry* current = nullptr;
    QString pending;  // a line continued with a trailing backslash
    for (QStringView raw : QStringView(text).split(u'\n')) {
        QString line = raw.toString();
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.endsWith(u'\\') && !line.trimmed().startsWith(u'[')) {
            pending += line.left(line.size() - 1).trimmed();
            continue;
        }
        pending += pending.isEmpty() ? line : line.trimmed();
        skipped += doc.parseLine(pending, current) ? 0 : 1;
        pending.clear();
    }
    if (!pending.isEmpty())
        skipped += doc.parseLine(pending, current) ? 0 : 1;
    if (skippedLines)
        *skippedLines = skipped;
    return doc;
}

bool RegistryDocument::parseLine(const QString& rawLine, RegistryKeyEntry*& current)
{
    const QString line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith(u';') || line == QLatin1String(kHeader))
        return true;
    if (line.startsWith(u'[')) {
        current = nullptr;
        if (line.startsWith(QLatin1String("[-")))
            return true;  // a deletion request: what follows belongs to no key
        const QString path = line.endsWith(u']') ? line.mid(1, line.size() - 2).trimmed() : QString();
        if (path.isEmpty())
            return false;
        current = &ensureKey(path);
        return true;
    }
    if (!current)
        return false;
    RegistryValue value;
    int pos = 0;
    if (line.startsWith(u'@')) {
        pos = 1;
    } else if (!readQuoted(line, pos, value.name)) {
        return false;
    }
    const int eq = line.indexOf(u'=', pos);
    if (eq < 0 || !line.mid(pos, eq - pos).trimmed().isEmpty())
        return false;
    if (!parseData(line.mid(eq + 1).trimmed(), value))
        return false;
    setValue(*current, value);
    return true;
}

QByteArray RegistryDocument::serialize() const
{
    QString out = QLatin1String(kHeader) + QLatin1String("\n\n");
    for (const RegistryKeyEntry& key : m_keys) {
        out += u'[' + key.path + QLatin1String("]\n");
        for (const RegistryValue& value : key.values) {
            out += value.name.isEmpty() ? QStringLiteral("@") : quote(value.name);
            out += QStringLiteral("=hex(%1):").arg(value.type, 0, 16);
            QString bytes;
            bytes.reserve(value.data.size() * 3);
            for (int i = 0; i < value.data.size(); ++i) {
                if (i)
                    bytes += u',';
                bytes += QStringLiteral("%1").arg(uchar(value.data[i]), 2, 16, QLatin1Char('0'));
            }
            out += bytes + u'\n';
        }
        out += u'\n';
    }
    return out.toUtf8();
}

RegistryKeyEntry* RegistryDocument::findKey(const QString& path)
{
    const auto found = m_keyIndex.constFind(path.toLower());
    return found == m_keyIndex.cend() ? nullptr : &m_keys[*found];
}

RegistryKeyEntry& RegistryDocument::ensureKey(const QString& path)
{
    if (RegistryKeyEntry* key = findKey(path))
        return *key;
    m_keyIndex.insert(path.toLower(), m_keys.size());
    m_keys.append(RegistryKeyEntry{path, {}, {}});
    return m_keys.last();
}

const RegistryValue* RegistryDocument::findValue(const RegistryKeyEntry& key, const QString& name)
{
    const auto found = key.valueIndex.constFind(name.toLower());
    return found == key.valueIndex.cend() ? nullptr : &key.values[*found];
}

void RegistryDocument::setValue(RegistryKeyEntry& key, const RegistryValue& value)
{
    const QString name = value.name.toLower();
    const auto found = key.valueIndex.constFind(name);
    if (found != key.valueIndex.cend()) {
        key.values[*found] = value;
        return;
    }
    key.valueIndex.insert(name, key.values.size());
    key.values.append(value);
}

} // namespace platform
