// The list of present ports, built from real pseudo-terminals behind Ports
// overrides and links in the test's own device tree.
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"
#include "settings/enumerate_ports.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

using testing_support::SetPortOverride;

namespace {

QStringList enumerate()
{
    QStringList ports{QStringLiteral("stale entry")};
    const int count = EnumeratePorts(ports);
    EXPECT_EQ(count, ports.size());
    return ports;
}

void linkDevice(const QString& target, const QString& name)
{
    const QString link = platform::deviceRoot() + "/dev/" + name;
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_TRUE(QFile::link(target, link));
}

} // namespace

TEST(EnumeratePorts, AnEmptyDeviceTreeHasNoPorts)
{
    EXPECT_EQ(enumerate(), QStringList());
}

TEST(EnumeratePorts, ListsPresentPortsInAscendingOrderWithoutColons)
{
    platform::PseudoTerminal com1, com10, com200, defaultUsb, emptySlot;
    for (auto* pty : {&com1, &com10, &com200, &defaultUsb, &emptySlot})
        ASSERT_TRUE(pty->Open());
    // Written out of order on purpose.
    SetPortOverride(200, com200.SlavePath());
    SetPortOverride(10, com10.SlavePath());
    SetPortOverride(1, com1.SlavePath());
    // The port vanished since it was configured. Not a closed terminal's
    // path: the next terminal opened anywhere on the machine may take it.
    SetPortOverride(7, platform::deviceRoot() + "/dev/pts/vanished");
    linkDevice(defaultUsb.SlavePath(), "ttyUSB2");  // COM35 by default
    linkDevice(emptySlot.SlavePath(), "ttyS3");     // COM4, a UART slot with nothing behind it
    QDir().mkpath(platform::deviceRoot() + "/sys/class/tty/ttyS3");
    QFile type(platform::deviceRoot() + "/sys/class/tty/ttyS3/type");
    ASSERT_TRUE(type.open(QIODevice::WriteOnly));
    type.write("0\n");
    type.close();

    EXPECT_EQ(enumerate(), QStringList({"COM1", "COM10", "COM35", "COM200"}));
}

TEST(EnumeratePorts, APortHeldByAnotherProgramIsListedAndNoPortIsOpened)
{
    platform::PseudoTerminal busy, idle;
    ASSERT_TRUE(busy.Open());
    ASSERT_TRUE(idle.Open());
    SetPortOverride(3, busy.SlavePath());
    SetPortOverride(4, idle.SlavePath());

    // Another program holds COM3 the way serial tools do.
    const int holder = ::open(QFile::encodeName(busy.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    // Opening a terminal raises DTR: the probe must not open either device.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(busy.SlavePath()).constData(), IN_OPEN), 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(idle.SlavePath()).constData(), IN_OPEN), 0);

    EXPECT_EQ(enumerate(), QStringList({"COM3", "COM4"}));

    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "a port device was opened by the probe";
    ::close(watch);
    ::close(holder);
}
