#include "platform/port_probe.h"

#include "platform/device_map.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {

enum class Verdict { Unknown, Port, NotPort };

// The first line of a small sysfs attribute, or a null string when it cannot
// be read.
QString readAttribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readLine(64)).trimmed();
}

// What one sysfs device folder says about the device.
Verdict judgeEntry(const QString& folder)
{
    const QFileInfo subsystem(folder + QStringLiteral("/subsystem"));
    if (subsystem.isSymLink() && QFileInfo(subsystem.symLinkTarget()).fileName() != QLatin1String("tty"))
        return Verdict::NotPort;
    // A serial core port reports its UART type; 0 is an empty legacy slot.
    const QString type = readAttribute(folder + QStringLiteral("/type"));
    bool isNumber = false;
    if (type.toInt(&isNumber) == 0 && isNumber)
        return Verdict::NotPort;
    return Verdict::Port;
}

// /sys/class/tty/<name> speaks for the device only when it names the same
// device number (or, in a hand-made tree, names none).
bool classEntryMatches(const QString& folder, const QString& majorMinor)
{
    if (!QFileInfo(folder).isDir())
        return false;
    const QString dev = readAttribute(folder + QStringLiteral("/dev"));
    return dev.isNull() || dev == majorMinor;
}

} // namespace

bool isPortPresent(const QString& devicePath, int* error)
{
    auto fail = [error](int code) {
        if (error)
            *error = code;
        return false;
    };
    if (devicePath.isEmpty())
        return fail(ENOENT);

    struct stat info {};
    if (::stat(QFile::encodeName(devicePath).constData(), &info) != 0)
        return fail(errno);
    if (!S_ISCHR(info.st_mode))
        return fail(ENODEV);

    const QString sys = deviceRoot() + QStringLiteral("/sys");
    const QString majorMinor = QStringLiteral("%1:%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev));

    Verdict verdict = Verdict::Unknown;
    const QString byNumber = sys + QStringLiteral("/dev/char/") + majorMinor;
    if (QFileInfo(byNumber).isDir())
        verdict = judgeEntry(byNumber);

    // The kernel's name of the device (the link's target), then the name the
    // path itself gives it (a default path such as /dev/ttyS3).
    const QString names[] = {QFileInfo(QFileInfo(devicePath).canonicalFilePath()).fileName(),
                             QFileInfo(devicePath).fileName()};
    for (const QString& name : names) {
        if (verdict == Verdict::NotPort)
            break;
        const QString folder = sys + QStringLiteral("/class/tty/") + name;
        if (!name.isEmpty() && classEntryMatches(folder, majorMinor))
            verdict = judgeEntry(folder);
    }
    if (verdict == Verdict::NotPort)
        return fail(ENODEV);
    return true;
}

} // namespace platform
