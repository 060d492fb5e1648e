// Save and the settings file on a real file system that is full: the
// failure is said, the file that was there stays as it was, nothing of the
// capture or the settings is lost, and the next try after space returns
// works.
#include "app/monitor_dlg.h"
#include "app/save_capture.h"
#include "platform/registry.h"
#include "platform/save_file_dialog.h"
#include "small_disk.h"
#include "test_support.h"

#include <QLabel>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using testing_support::FileBytes;

TEST(FullDisk, ASaveThatDoesNotFitLeavesTheOldFileAndTheCaptureUnsaved)
{
    SmallDisk disk(testing_support::TestDir() + QStringLiteral("/small"));
    if (!disk.Mounted())
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
    const QString target = disk.Path() + QStringLiteral("/capture.sds");
    const QByteArray before = "\"08:00:00\",Hex,\"41 \"\n";
    // A capture larger than a write buffer, and one that fits in one.
    for (const int bytes : {300000, 40}) {
        SCOPED_TRACE(bytes);
        {
            QFile old(target);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        CMonitorDlg dlg;
        const QByteArray chunk(bytes / 10, 'x');
        for (int i = 0; i < 10; ++i) {
            CDataItem item(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
            item.SetName(QStringLiteral("08:15:00"));
            std::lock_guard lock(dlg.Engine().m_csCapture);
            dlg.Engine().m_items.Add(item);
        }
        disk.Fill();
        {
            testing_support::CapturedMessages messages;
            dlg.SaveTo(SaveFileAnswer{true, target, kSendDataFilterIndex});
            ASSERT_EQ(messages.Count(), 1);
            EXPECT_TRUE(messages.Last().text.contains(target)) << messages.Last().text.toStdString();
        }
        EXPECT_EQ(FileBytes(target), before);
        EXPECT_EQ(dlg.UnsavedItems(), 10);
        EXPECT_EQ(QDir(disk.Path()).entryList(QDir::Files), QStringList({"capture.sds", "filler"}));
        disk.Free();
    }

    // With room again the next Save works.
    CMonitorDlg dlg;
    CDataItem item(reinterpret_cast<const uint8_t*>("AB"), 2);
    item.SetName(QStringLiteral("08:15:00"));
    {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        dlg.Engine().m_items.Add(item);
    }
    dlg.SaveTo(SaveFileAnswer{true, target, kSendDataFilterIndex});
    EXPECT_EQ(FileBytes(target), QByteArray("\"08:15:00\",Hex,\"41 42 \"\n"));
    EXPECT_EQ(dlg.UnsavedItems(), 0);
}

TEST(FullDisk, ASettingThatCannotBeWrittenIsAnErrorAndTheFileKeepsItsSettings)
{
    SmallDisk disk(testing_support::TestDir() + QStringLiteral("/small"));
    if (!disk.Mounted())
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
    qputenv("VANTREL_REGISTRY", QFile::encodeName(disk.Path() + QStringLiteral("/registry.reg")));
    using namespace platform;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(QStringLiteral("Software\\Kerbix\\Vantrel"), &key), kRegSuccess);
    const uint32_t baud = 9600;
    ASSERT_EQ(RegSetValue(key, QStringLiteral("Baud"), REG_DWORD, &baud, 4), kRegSuccess);
    const QByteArray before = FileBytes(registryFilePath());

    disk.Fill();
    const uint32_t faster = 115200;
    EXPECT_NE(RegSetValue(key, QStringLiteral("Baud"), REG_DWORD, &faster, 4), kRegSuccess);
    EXPECT_EQ(FileBytes(registryFilePath()), before);
    uint32_t read = 0, size = 4;
    EXPECT_EQ(RegQueryValue(key, QStringLiteral("Baud"), nullptr, &read, &size), kRegSuccess);
    EXPECT_EQ(read, baud);

    disk.Free();
    EXPECT_EQ(RegSetValue(key, QStringLiteral("Baud"), REG_DWORD, &faster, 4), kRegSuccess);
    EXPECT_EQ(RegQueryValue(key, QStringLiteral("Baud"), nullptr, &read, &size), kRegSuccess);
    EXPECT_EQ(read, faster);
    RegCloseKey(key);
}

} // namespace

namespace {

TEST(FullDisk, TheStatusLineWarnsWhileTheJournalsDiskIsLowOnSpace)
{
    SmallDisk disk(testing_support::TestDir() + QStringLiteral("/small"));
    if (!disk.Mounted())
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
    const auto status = [](CMonitorDlg& dlg) {
        const QLabel* line = dlg.findChild<QLabel*>(QStringLiteral("statusLine"));
        return line ? line->text() : QStringLiteral("(no status line)");
    };
    {
        // The default folder, on the test's own file system.
        CMonitorDlg dlg;
        dlg.OnInitDialog();
        EXPECT_FALSE(status(dlg).contains(QStringLiteral("Low disk space"))) << status(dlg).toStdString();
    }
    // A folder not made yet, on a file system of 64 KiB.
    const QString folder = disk.Path() + QStringLiteral("/journals");
    testing_support::SetStoreFolder(folder);
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    EXPECT_TRUE(status(dlg).contains(QStringLiteral("Low disk space"))) << status(dlg).toStdString();
    EXPECT_TRUE(status(dlg).contains(folder)) << status(dlg).toStdString();
}

} // namespace
