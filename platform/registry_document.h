#pragma once
// The registry file's content in memory: keys in file order, each with its
// values in file order. Parsing is forgiving (a bad line is skipped, never
// fatal); writing produces the registry editor's text export format.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <cstdint>

namespace platform {

struct RegistryValue {
    QString name;          // empty for the key's default value
    uint32_t type = 0;     // REG_SZ, REG_DWORD, ... kept exactly as stored
    QByteArray data;       // the raw bytes, any size
};

struct RegistryKeyEntry {
    QString path;          // e.g. HKEY_CURRENT_USER\Software\Kerbix\Vantrel
    QVector<RegistryValue> values;
    QHash<QString, qsizetype> valueIndex;  // lower-case name -> position in values
};

class RegistryDocument {
public:
    // Files larger than this are not parsed at all: a settings file is a few
    // kilobytes, and a huge one is damage, not settings.
    static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;
    // A single value larger than this is dropped.
    static constexpr int kMaxValueSize = 1024 * 1024;

    // `skippedLines`, when given, counts the lines that could not be read.
    static RegistryDocument parse(const QByteArray& fileContent, int* skippedLines = nullptr);
    QByteArray serialize() const;

    RegistryKeyEntry* findKey(const QString& path);
    RegistryKeyEntry& ensureKey(const QString& path);
    const QVector<RegistryKeyEntry>& keys() const { return m_keys; }

    static const RegistryValue* findValue(const RegistryKeyEntry& key, const QString& name);
    static void setValue(RegistryKeyEntry& key, const RegistryValue& value);

private:
    // False for a line that could not be read.
    bool parseLine(const QString& line, RegistryKeyEntry*& current);
    QVector<RegistryKeyEntry> m_keys;
    QHash<QString, qsizetype> m_keyIndex;  // lower-case path -> position in m_keys
};

} // namespace platform
