#include "platform/registry.h"

#include "platform/registry_document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

struct RegistryKey {
    QString path;           // the full key path inside the file
    RegistryDocument file;  // the file as read when the key was opened
};

namespace {

const QString kRoot = QStringLiteral("HKEY_CURRENT_USER");

// The file as read, and whether it held something that could not be read at
// all (it could not be opened, was too large, or had no readable key).
struct FileContent {
    RegistryDocument doc;
    bool damaged = false;
};

FileContent readDocument()
{
    QFile file(registryFilePath());
    if (!file.exists())
        return {};
    if (file.size() > RegistryDocument::kMaxFileSize || !file.open(QIODevice::ReadOnly))
        return {{}, true};
    int skipped = 0;
    // As much as the file holds (one more byte tells a file that grew past
    // the limit), not the limit itself: the file is read at every lookup
    // of a port, and a buffer of the limit's size each time would cost that
    // much memory for nothing.
    const qint64 most = std::min<qint64>(file.size(), RegistryDocument::kMaxFileSize) + 1;
    FileContent content{RegistryDocument::parse(file.read(most), &skipped), false};
    content.damaged = content.doc.keys().isEmpty() && skipped > 0;
    return content;
}

// Replaces the file atomically. A file that could not be read is first moved
// aside to "<name>.bad", so what a person had in it is never lost.
long writeDocument(const FileContent& content)
{
    const QString path = registryFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return errno ? errno : EACCES;
    if (content.damaged) {
        const QString aside = path + QStringLiteral(".bad");
        QFile::remove(aside);
        if (!QFile::rename(path, aside))
            return errno ? errno : EACCES;
    }
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return errno ? errno : EACCES;
    const QByteArray bytes = content.doc.serialize();
    // Flushed and checked before the commit: a commit alone takes a failed
    // last write (a full disk) for success and puts an empty file in place.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        const int error = errno ? errno : EIO;
        file.cancelWriting();
        return error;
    }
    return kRegSuccess;
}

} // namespace

QString registryFilePath()
{
    const QByteArray overridePath = qgetenv("VANTREL_REGISTRY");
    if (!overridePath.isEmpty())
        return QString::fromLocal8Bit(overridePath);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/vantrel/registry.reg");
}

long RegCreateKey(const QString& subKey, HKEY* result)
{
    *result = nullptr;
    const QString path = kRoot + u'\\' + subKey;
    FileContent content = readDocument();
    if (!content.doc.findKey(path)) {
        content.doc.ensureKey(path);
        if (const long error = writeDocument(content))
            return error;
    }
    *result = new RegistryKey{path, std::move(content.doc)};
    return kRegSuccess;
}

long RegOpenKey(const QString& subKey, HKEY* result)
{
    *result = nullptr;
    const QString path = kRoot + u'\\' + subKey;
    RegistryDocument doc = readDocument().doc;
    if (!doc.findKey(path))
        return kRegNotFound;
    *result = new RegistryKey{path, std::move(doc)};
    return kRegSuccess;
}

long RegQueryValue(HKEY key, const QString& name, uint32_t* type, void* data, uint32_t* size)
{
    if (!key || !size)
        return EINVAL;
    const RegistryKeyEntry* entry = key->file.findKey(key->path);
    const RegistryValue* value = entry ? RegistryDocument::findValue(*entry, name) : nullptr;
    if (!value)
        return kRegNotFound;
    const uint32_t stored = uint32_t(value->data.size());
    if (type)
        *type = value->type;
    if (stored > *size) {
        *size = stored;
        return kRegMoreData;
    }
    if (stored)
        std::memcpy(data, value->data.constData(), stored);
    *size = stored;
    return kRegSuccess;
}

long RegSetValue(HKEY key, const QString& name, uint32_t type, const void* data, uint32_t size)
{
    if (!key)
        return EINVAL;
    // Start from the file as it is now, so changes made to other keys since
    // this key was opened are kept.
    FileContent content = readDocument();
    RegistryValue value{name, type, QByteArray(static_cast<const char*>(data), int(size))};
    RegistryDocument::setValue(content.doc.ensureKey(key->path), value);
    if (const long error = writeDocument(content))
        return error;
    key->file = std::move(content.doc);
    return kRegSuccess;
}

long RegCloseKey(HKEY key)
{
    delete key;
    return kRegSuccess;
}

} // namespace platform
