#include "platform/device_map.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(DeviceMap, ComNamesMapToTheDefaultDeviceRanges)
{
    const QString root = deviceRoot();
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM1")), root + QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("com32:")), root + QStringLiteral("/dev/ttyS31"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM33")), root + QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM65:")), root + QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM128")), root + QStringLiteral("/dev/ttyAMA31"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM160")), root + QStringLiteral("/dev/rfcomm31"));
    for (const char* none : {"COM161", "COM256", "COM0", "COM257", "COM01", "", ":", "COM1::", "LPT1"})
        EXPECT_EQ(devicePathForPort(QString::fromLatin1(none)), QString()) << none;
}

TEST(DeviceMap, OverridesWinAndRuntimeOverridesWinOverThem)
{
    testing_support::SetPortOverride(3, QStringLiteral("/dev/serial/by-id/usb-gps"));
    testing_support::SetPortOverride(200, QStringLiteral("/dev/pts/77"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM3:")), QStringLiteral("/dev/serial/by-id/usb-gps"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM200")), QStringLiteral("/dev/pts/77"));
    setRuntimePortOverride(3, QStringLiteral("/dev/pts/9"));
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM3")), QStringLiteral("/dev/pts/9"));

    const QVector<QString> all = devicePathsForAllPorts();
    ASSERT_EQ(all.size(), kMaxPortNumber + 1);
    EXPECT_EQ(all[3], QStringLiteral("/dev/pts/9"));
    EXPECT_EQ(all[200], QStringLiteral("/dev/pts/77"));
    EXPECT_EQ(all[2], deviceRoot() + QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(all[201], QString());
}

TEST(DeviceMap, ALongOverrideIsReadWhole)
{
    // Paths may be up to 4095 bytes; an override must never fall back to
    // the default device (for COM1, the machine's console) for being long.
    const QString path = QStringLiteral("/dev/serial/by-path/") + QString(3000, u'p');
    testing_support::SetPortOverride(1, path);
    EXPECT_EQ(devicePathForPort(QStringLiteral("COM1")), path);
    EXPECT_EQ(devicePathsForAllPorts()[1], path);
}

} // namespace
