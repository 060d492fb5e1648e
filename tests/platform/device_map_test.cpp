#include "platform/device_map.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
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

// A device tree under the test's device root: /dev/null and /dev/zero
// stand in for two different devices, reached through kernel names.
class DeviceTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        dev = deviceRoot() + QStringLiteral("/dev");
        ASSERT_TRUE(QDir().mkpath(dev + QStringLiteral("/serial/by-id")));
        ASSERT_TRUE(QDir().mkpath(dev + QStringLiteral("/serial/by-path")));
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), dev + QStringLiteral("/ttyUSB0")));
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dev + QStringLiteral("/ttyUSB1")));
    }
    void Link(const QString& folder, const QString& name, const QString& target)
    {
        ASSERT_TRUE(QFile::link(target, dev + u'/' + folder + u'/' + name));
    }
    QString dev;
};

TEST_F(DeviceTree, AKernelNameIsFollowedByItsByIdLinkBeforeItsByPathLink)
{
    Link(QStringLiteral("serial/by-path"), QStringLiteral("pci-0000:00:14.0-usb-0:2:1.0-port0"),
         QStringLiteral("../../ttyUSB0"));
    EXPECT_EQ(stableLinkFor(dev + QStringLiteral("/ttyUSB0")),
              dev + QStringLiteral("/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"));

    // Another device's link is no match; the one that leads to this node is.
    Link(QStringLiteral("serial/by-id"), QStringLiteral("usb-Acme_Other_0002-if00-port0"), QStringLiteral("../../ttyUSB1"));
    Link(QStringLiteral("serial/by-id"), QStringLiteral("usb-Acme_Logger_0001-if00-port0"), QStringLiteral("../../ttyUSB0"));
    EXPECT_EQ(stableLinkFor(dev + QStringLiteral("/ttyUSB0")),
              dev + QStringLiteral("/serial/by-id/usb-Acme_Logger_0001-if00-port0"));
    EXPECT_EQ(stableLinkFor(dev + QStringLiteral("/ttyUSB1")),
              dev + QStringLiteral("/serial/by-id/usb-Acme_Other_0002-if00-port0"));
}

TEST_F(DeviceTree, AStableLinkIsItsOwnStableNameAndAnAbsentDeviceHasNone)
{
    const QString byId = dev + QStringLiteral("/serial/by-id/usb-Acme_Logger_0001-if00-port0");
    EXPECT_EQ(stableLinkFor(byId), byId);  // even while its device is away
    EXPECT_EQ(stableLinkFor(dev + QStringLiteral("/ttyUSB0")), QString());  // no link leads to it
    EXPECT_EQ(stableLinkFor(dev + QStringLiteral("/ttyUSB7")), QString());  // not there
    EXPECT_EQ(stableLinkFor(QString()), QString());
    // A dangling link in the folder is passed over.
    Link(QStringLiteral("serial/by-id"), QStringLiteral("usb-Gone-if00"), QStringLiteral("../../ttyUSB9"));
    EXPECT_EQ(stableLinkFor(dev + QStringLiteral("/ttyUSB1")), QString());
    EXPECT_EQ(deviceFolders(), QStringList({dev, dev + QStringLiteral("/serial/by-id"),
                                            dev + QStringLiteral("/serial/by-path")}));
}

} // namespace
