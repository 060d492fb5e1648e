#include "platform/device_map.h"

#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QVector>

#include <sys/stat.h>

namespace platform {

const QString kPortsKey = QStringLiteral("Software\\Kerbix\\Vantrel\\Ports");

namespace {

QMutex s_runtimeMutex;
QHash<int, QString> s_runtimeOverrides;

struct DefaultRange {
    int first;
    const char* device;
};
const DefaultRange kDefaults[] = {
    {1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}, {97, "/dev/ttyAMA"}, {129, "/dev/rfcomm"},
};

QString defaultPath(int number)
{
    for (const DefaultRange& range : kDefaults)
        if (number >= range.first && number < range.first + 32)
            return deviceRoot() + QLatin1String(range.device) + QString::number(number - range.first);
    return {};
}

// A REG_SZ value: UTF-16LE up to the first null, however long.
QString readString(HKEY key, const QString& name)
{
    uint32_t size = 0;
    if (RegQueryValue(key, name, nullptr, nullptr, &size) != kRegMoreData)
        return {};
    QVector<char16_t> buffer(qsizetype(size / 2 + 2), u'\0');  // room for a null after an odd size
    if (RegQueryValue(key, name, nullptr, buffer.data(), &size) != kRegSuccess)
        return {};
    return QString::fromUtf16(buffer.constData()).trimmed();
}

// The character device `path` leads to (links followed), or 0.
dev_t characterDevice(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return 0;
    return info.st_rdev;
}

QString byIdFolder()
{
    return deviceRoot() + QStringLiteral("/dev/serial/by-id");
}

QString byPathFolder()
{
    return deviceRoot() + QStringLiteral("/dev/serial/by-path");
}

} // namespace

QString deviceRoot()
{
    return QString::fromLocal8Bit(qgetenv("VANTREL_DEVICE_ROOT"));
}

int portNumber(const QString& portName)
{
    static const QRegularExpression pattern(QStringLiteral("^COM([1-9][0-9]{0,2}):?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(portName);
    if (!match.hasMatch())
        return 0;
    const int number = match.captured(1).toInt();
    return number <= kMaxPortNumber ? number : 0;
}

QVector<QString> devicePathsForAllPorts()
{
    QVector<QString> paths(kMaxPortNumber + 1);
    HKEY key = nullptr;
    const bool haveOverrides = RegOpenKey(kPortsKey, &key) == kRegSuccess;
    QMutexLocker lock(&s_runtimeMutex);
    for (int n = 1; n <= kMaxPortNumber; ++n) {
        QString path = s_runtimeOverrides.value(n);
        if (path.isEmpty() && haveOverrides)
            path = readString(key, QStringLiteral("COM%1").arg(n));
        paths[n] = path.isEmpty() ? defaultPath(n) : path;
    }
    if (haveOverrides)
        RegCloseKey(key);
    return paths;
}

QString devicePathForPort(const QString& portName)
{
    const int number = portNumber(portName);
    return number ? devicePathsForAllPorts()[number] : QString();
}

QString stableLinkFor(const QString& devicePath)
{
    if (devicePath.isEmpty())
        return {};
    const QString folder = QDir::cleanPath(QFileInfo(devicePath).absolutePath());
    const QStringList stableFolders{byIdFolder(), byPathFolder()};
    for (const QString& stable : stableFolders)
        if (folder == QDir::cleanPath(stable))
            return devicePath;
    const dev_t device = characterDevice(devicePath);
    if (device == 0)
        return {};
    // By id first: it names the device itself, by path only the socket it
    // is plugged into.
    for (const QString& stable : stableFolders) {
        const QStringList links = QDir(stable).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString& link : links) {
            const QString path = stable + u'/' + link;
            if (QFileInfo(path).isSymLink() && characterDevice(path) == device)
                return path;
        }
    }
    return {};
}

QStringList deviceFolders()
{
    return {deviceRoot() + QStringLiteral("/dev"), byIdFolder(), byPathFolder()};
}

void setRuntimePortOverride(int number, const QString& devicePath)
{
    QMutexLocker lock(&s_runtimeMutex);
    s_runtimeOverrides.insert(number, devicePath);
}

void clearRuntimePortOverrides()
{
    QMutexLocker lock(&s_runtimeMutex);
    s_runtimeOverrides.clear();
}

} // namespace platform
