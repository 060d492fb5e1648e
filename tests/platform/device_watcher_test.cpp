// The device watcher on real folders: what appears in a watched folder, or
// in one that did not exist yet, is reported; a stopped watcher keeps no
// descriptor and reports nothing.
#include "platform/device_watcher.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

using platform::DeviceWatcher;
using testing_support::TestDir;
using testing_support::WaitUntil;

namespace {

int InotifyDescriptors()
{
    int count = 0;
    for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System)) {
        char target[256] = {};
        const QByteArray path = "/proc/self/fd/" + fd.toLatin1();
        if (::readlink(path.constData(), target, sizeof target - 1) > 0 && std::strstr(target, "inotify"))
            ++count;
    }
    return count;
}

// Lets queued events arrive, then forgets what was reported so far.
void Settle(QSignalSpy& spy)
{
    WaitUntil([] { return false; }, 50);
    spy.clear();
}

TEST(DeviceWatcher, ReportsANodeALinkRenamedIntoPlaceAndAPermissionChange)
{
    const QString dev = TestDir() + QStringLiteral("/dev");
    ASSERT_TRUE(QDir().mkpath(dev));
    DeviceWatcher watcher;
    QSignalSpy changed(&watcher, &DeviceWatcher::Changed);
    watcher.Start({dev});
    EXPECT_TRUE(watcher.IsWatching());
    EXPECT_FALSE(watcher.IsPolling());

    QFile node(dev + QStringLiteral("/ttyUSB0"));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));

    // What `ln -sf` and udev do: a new link renamed over the old one.
    Settle(changed);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), dev + QStringLiteral("/.tmp-link")));
    ASSERT_EQ(::rename(QFile::encodeName(dev + QStringLiteral("/.tmp-link")).constData(),
                       QFile::encodeName(dev + QStringLiteral("/port")).constData()),
              0);
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));

    // udev gives a new node its group and mode a moment after it appears.
    Settle(changed);
    ASSERT_TRUE(node.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup));
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));
}

TEST(DeviceWatcher, AFolderThatAppearsLaterIsWatchedOnceItIsThere)
{
    // /dev/serial/by-id exists only while some USB serial device is plugged in.
    const QString dev = TestDir() + QStringLiteral("/dev");
    const QString byId = dev + QStringLiteral("/serial/by-id");
    ASSERT_TRUE(QDir().mkpath(dev));
    DeviceWatcher watcher;
    QSignalSpy changed(&watcher, &DeviceWatcher::Changed);
    watcher.Start({byId});
    EXPECT_FALSE(watcher.IsPolling());

    ASSERT_TRUE(QDir().mkpath(byId));
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));
    Settle(changed);
    ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB0"), byId + QStringLiteral("/usb-Acme_Logger-if00")));
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));

    // Gone and made again: still watched.
    ASSERT_TRUE(QDir(dev + QStringLiteral("/serial")).removeRecursively());
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));
    ASSERT_TRUE(QDir().mkpath(byId));
    WaitUntil([&] { return false; }, 50);
    Settle(changed);
    ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB1"), byId + QStringLiteral("/usb-Acme_Logger-if00")));
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));
    EXPECT_FALSE(watcher.IsPolling());
}

TEST(DeviceWatcher, StoppingReleasesTheDescriptorAndEndsTheReports)
{
    const QString dev = TestDir() + QStringLiteral("/dev");
    ASSERT_TRUE(QDir().mkpath(dev));
    const int before = InotifyDescriptors();
    DeviceWatcher watcher;
    QSignalSpy changed(&watcher, &DeviceWatcher::Changed);
    for (int i = 0; i < 20; ++i) {
        watcher.Start({dev, dev + QStringLiteral("/serial/by-id")});
        watcher.Start({dev});  // a restart replaces the watch, it does not add one
        watcher.Stop();
    }
    EXPECT_FALSE(watcher.IsWatching());
    EXPECT_EQ(InotifyDescriptors(), before);

    QFile node(dev + QStringLiteral("/ttyACM0"));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(changed.count(), 0);
}

TEST(DeviceWatcher, WithoutEventsItChecksOnceASecond)
{
    // Where inotify is not available (no descriptors left, a file system
    // without it) the timer stands in.
    const QString dev = TestDir() + QStringLiteral("/dev");
    ASSERT_TRUE(QDir().mkpath(dev));
    const int before = InotifyDescriptors();
    DeviceWatcher watcher(nullptr, DeviceWatcher::Method::Timer);
    QSignalSpy changed(&watcher, &DeviceWatcher::Changed);
    watcher.Start({dev});
    EXPECT_TRUE(watcher.IsPolling());
    EXPECT_EQ(InotifyDescriptors(), before);
    EXPECT_TRUE(WaitUntil([&] { return changed.count() > 0; }));
    watcher.Stop();
    EXPECT_FALSE(watcher.IsPolling());
}

} // namespace
