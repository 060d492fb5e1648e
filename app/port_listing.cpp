#include "app/port_listing.h"

#include "platform/device_map.h"
#include "settings/enumerate_ports.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The by-id link whose target is the same device as `devicePath`.
QString stableLinkFor(const QString& canonicalDevice)
{
    const QDir byId(platform::deviceRoot() + QStringLiteral("/dev/serial/by-id"));
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links)
        if (link.isSymLink() && link.canonicalFilePath() == canonicalDevice)
            return link.filePath();
    return {};
}

// /sys/class/tty/<name>/device/driver names the driver by its link. The
// kernel's name is the link target's, or else the one the path gives.
QString driverFor(const QString& canonicalDevice, const QString& devicePath)
{
    for (const QString& path : {canonicalDevice, devicePath}) {
        const QFileInfo driver(platform::deviceRoot() + QStringLiteral("/sys/class/tty/") + QFileInfo(path).fileName() +
                               QStringLiteral("/device/driver"));
        if (driver.exists())
            return QFileInfo(driver.canonicalFilePath()).fileName();
    }
    return {};
}

} // namespace

QVector<PresentPort> ListPresentPorts()
{
    QStringList names;
    EnumeratePorts(names);
    QVector<PresentPort> ports;
    for (const QString& name : names) {
        PresentPort port;
        port.portName = name;
        port.devicePath = platform::devicePathForPort(name);
        const QString canonical = QFileInfo(port.devicePath).canonicalFilePath();
        port.stableLink = stableLinkFor(canonical);
        port.driver = driverFor(canonical, port.devicePath);
        ports.append(port);
    }
    return ports;
}

QString FormatPortList(const QVector<PresentPort>& ports)
{
    auto orDash = [](const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    QString out;
    for (const PresentPort& port : ports)
        out += QStringLiteral("%1\t%2\t%3\t%4\n")
                   .arg(port.portName, port.devicePath, orDash(port.stableLink), orDash(port.driver));
    return out;
}
