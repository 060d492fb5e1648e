// A journal that cannot be written: the capture goes on in memory, the
// problem is reported once with its reason, and what reached the disk before
// it stays readable.
#include "journal_support.h"
#include "small_disk.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(JournalFailure, AFolderThatCannotBeCreatedIsReportedOnceAndTheCaptureGoesOn)
{
    // A plain file where the state folder's parent should be: even root
    // cannot create a folder under it.
    const QString blocker = testing_support::TestDir() + QStringLiteral("/blocker");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    JournalModel model;
    Reports reports;
    CCaptureJournal journal(model.Source(), blocker + QStringLiteral("/vantrel"));
    journal.SetProblemHandler(reports.Handler());
    journal.SetFollowing(true);
    for (int i = 0; i < 50; ++i) {
        model.Add(QByteArray(100, 'x'));
        if (i % 10 == 0)
            journal.Flush();
    }
    journal.Flush();
    ASSERT_EQ(reports.All().size(), 1) << reports.All().join('|').toStdString();
    EXPECT_TRUE(reports.All()[0].contains(QStringLiteral("cannot be created"))) << reports.All()[0].toStdString();
    EXPECT_EQ(model.items.GetSize(), 50);
    EXPECT_TRUE(journal.Path().isEmpty());

    // A new capture tries again; the problem still stands and is already
    // shown, so it is not reported again.
    model.Clear();
    model.Add("again");
    journal.Flush();
    EXPECT_EQ(reports.All().size(), 1);
}

TEST(JournalFailure, AFullDiskIsReportedOnceAndWhatWasWrittenStaysReadable)
{
    const QString mountPoint = testing_support::TestDir() + QStringLiteral("/small");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    const SmallDisk disk(mountPoint);
    if (!disk.Mounted())
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";

    JournalModel model;
    Reports reports;
    {
        CCaptureJournal journal(model.Source(), mountPoint + QStringLiteral("/vantrel"));
        journal.SetProblemHandler(reports.Handler());
        journal.SetFollowing(true);
        for (int i = 0; i < 300; ++i) {
            model.Add(QByteArray(1000, char('0' + i % 10)));
            if (i % 20 == 0)
                journal.Flush();
        }
        journal.Flush();
        ASSERT_EQ(reports.All().size(), 1) << reports.All().join('|').toStdString();
        EXPECT_TRUE(reports.All()[0].contains(QStringLiteral("No space left"))) << reports.All()[0].toStdString();
        EXPECT_EQ(model.items.GetSize(), 300);
    }
    // What reached the disk is a journal cut short, with whole items in it.
    const QStringList names = JournalNames(mountPoint + QStringLiteral("/vantrel"));
    ASSERT_EQ(names.size(), 1);
    std::vector<QByteArray> data;
    const JournalSummary summary =
        ReadBytes(FileBytes(mountPoint + QStringLiteral("/vantrel/") + names[0]), nullptr, &data);
    EXPECT_NE(summary.state, JournalState::NotAJournal);
    EXPECT_GT(summary.items, 10);
    EXPECT_LT(summary.items, 300);
    for (size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], QByteArray(1000, char('0' + i % 10))) << i;
}

TEST(JournalFailure, AJournalFileRemovedUnderTheWriterIsReportedOnce)
{
    JournalModel model;
    Reports reports;
    CCaptureJournal journal(model.Source(), StateFolder());
    journal.SetProblemHandler(reports.Handler());
    journal.SetFollowing(true);
    model.Add("first");
    journal.Flush();
    ASSERT_TRUE(QFile::remove(journal.Path()));
    for (int i = 0; i < 5; ++i) {
        model.Add("more");
        journal.Flush();
    }
    ASSERT_EQ(reports.All().size(), 1) << reports.All().join('|').toStdString();
    EXPECT_TRUE(reports.All()[0].contains(QStringLiteral("was removed"))) << reports.All()[0].toStdString();

    // The next capture is protected again, and says so.
    model.Clear();
    model.Add("fresh");
    journal.Flush();
    EXPECT_EQ(reports.All().size(), 2);
    EXPECT_TRUE(reports.All().last().isEmpty());
    EXPECT_EQ(JournalNames().size(), 1);
}

} // namespace
