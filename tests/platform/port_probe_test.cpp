// The presence check of a port's device, against real pseudo-terminals and a
// hand-made sysfs tree under the test's device root.
#include "platform/device_map.h"
#include "platform/port_probe.h"
#include "platform/pseudo_terminal.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using platform::isPortPresent;

namespace {

QString root()
{
    return platform::deviceRoot();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

void makeLink(const QString& target, const QString& link)
{
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_TRUE(QFile::link(target, link)) << link.toStdString();
}

QString majorMinor(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QStringLiteral("%1:%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev));
}

struct ProbeTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(pty.Open()); }
    platform::PseudoTerminal pty;
};

} // namespace

TEST_F(ProbeTest, ThingsThatAreNoPortAreAbsentWithTheirErrorCode)
{
    int error = 0;
    EXPECT_FALSE(isPortPresent(QString(), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(isPortPresent(root() + "/dev/ttyS0", &error));
    EXPECT_EQ(error, ENOENT);

    makeLink(root() + "/dev/nothing-here", root() + "/dev/ttyUSB0");  // dangling link: an unplugged adapter
    EXPECT_FALSE(isPortPresent(root() + "/dev/ttyUSB0", &error));
    EXPECT_EQ(error, ENOENT);

    writeFile(root() + "/dev/ttyS1", "not a device");
    EXPECT_FALSE(isPortPresent(root() + "/dev/ttyS1", &error));
    EXPECT_EQ(error, ENODEV);
    EXPECT_FALSE(isPortPresent(root() + "/dev", &error));
    EXPECT_EQ(error, ENODEV);
}

TEST_F(ProbeTest, ACharacterDeviceWithoutSysfsEntryIsPresentDirectlyAndThroughLinks)
{
    EXPECT_TRUE(isPortPresent(pty.SlavePath()));
    makeLink(pty.SlavePath(), root() + "/dev/ttyS4");
    makeLink(root() + "/dev/ttyS4", root() + "/dev/serial/by-id/usb-Test_Adapter-if00");
    EXPECT_TRUE(isPortPresent(root() + "/dev/ttyS4"));
    EXPECT_TRUE(isPortPresent(root() + "/dev/serial/by-id/usb-Test_Adapter-if00"));
}

TEST_F(ProbeTest, AnEmptyLegacyUartSlotIsAbsentAndARealOneIsPresent)
{
    const QString device = root() + "/dev/ttyS3";
    makeLink(pty.SlavePath(), device);

    writeFile(root() + "/sys/class/tty/ttyS3/type", "0\n");
    int error = 0;
    EXPECT_FALSE(isPortPresent(device, &error));
    EXPECT_EQ(error, ENODEV);

    writeFile(root() + "/sys/class/tty/ttyS3/type", "4\n");  // a 16550A
    EXPECT_TRUE(isPortPresent(device));

    // The entry found by device number says so too.
    writeFile(root() + "/sys/dev/char/" + majorMinor(pty.SlavePath()) + "/type", "0\n");
    EXPECT_FALSE(isPortPresent(pty.SlavePath()));
    EXPECT_FALSE(isPortPresent(device));
}

TEST_F(ProbeTest, SysfsEntriesOfOtherDevicesOrSubsystemsDecideCorrectly)
{
    const QString device = root() + "/dev/ttyS5";
    makeLink(pty.SlavePath(), device);

    // A class entry that names another device number does not speak for this one.
    writeFile(root() + "/sys/class/tty/ttyS5/type", "0\n");
    writeFile(root() + "/sys/class/tty/ttyS5/dev", "4:69\n");
    EXPECT_TRUE(isPortPresent(device));
    writeFile(root() + "/sys/class/tty/ttyS5/dev", majorMinor(pty.SlavePath()).toLatin1() + "\n");
    EXPECT_FALSE(isPortPresent(device));

    // A character device of another subsystem (say /dev/null behind an override) is no port.
    const QString entry = root() + "/sys/dev/char/" + majorMinor(pty.SlavePath());
    QDir().mkpath(root() + "/sys/class/mem");
    QDir().mkpath(entry);
    makeLink(root() + "/sys/class/mem", entry + "/subsystem");
    EXPECT_FALSE(isPortPresent(pty.SlavePath()));
    QFile::remove(entry + "/subsystem");
    QDir().mkpath(root() + "/sys/class/tty");
    makeLink(root() + "/sys/class/tty", entry + "/subsystem");
    EXPECT_TRUE(isPortPresent(pty.SlavePath()));
}
