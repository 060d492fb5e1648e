#include "platform/registry.h"

#include "platform/registry_document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

namespace platform {

struct RegistryKey {
    QString path;           // the full key path inside the file
    RegistryDocument file;  // the file as read when the key was opened
};

namespace {

const QString kRoot = QStringLiteral("HKEY_CURRENT_USER");

RegistryDocument readDocument()
{
    QFile file(registryFilePath());
    if (file.size() > RegistryDocument::kMaxFileSize || !file.open(QIODevice::ReadOnly))
        return {};
    return RegistryDocument::parse(file.read(RegistryDocument::kMaxFileSize + 1));
}

long writeDocument(const RegistryDocument& doc)
{
    const QString path = registryFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return errno ? errno : EACCES;
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return errno ? errno : EACCES;
    const QByteArray bytes = doc.serialize();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return errno ? errno : EIO;
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
    RegistryDocument doc = readDocument();
    if (!doc.findKey(path)) {
        doc.ensureKey(path);
        if (const long error = writeDocument(doc))
            return error;
    }
    *result = new RegistryKey{path, std::move(doc)};
    return kRegSuccess;
}

long RegOpenKey(const QString& subKey, HKEY* result)
{
    *result = nullptr;
    const QString path = kRoot + u'\\' + subKey;
    RegistryDocument doc = readDocument();
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
    RegistryDocument doc = readDocument();
    RegistryValue value{name, type, QByteArray(static_cast<const char*>(data), int(size))};
    RegistryDocument::setValue(doc.ensureKey(key->path), value);
    if (const long error = writeDocument(doc))
        return error;
    key->file = std::move(doc);
    return kRegSuccess;
}

long RegCloseKey(HKEY key)
{
    delete key;
    return kRegSuccess;
}

} // namespace platform
