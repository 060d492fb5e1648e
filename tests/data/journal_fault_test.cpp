// The journal under disk faults made on purpose: what must reach stable
// storage in what order, and a journal that heals by itself once the disk
// takes data again, with no item missing.
#include "io_faults.h"
#include "journal_support.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

namespace {

using Call = platform::file_io::Call;

// Every item of the one journal in the state folder, in order.
std::vector<QByteArray> JournalData(JournalSummary* summary = nullptr)
{
    std::vector<QByteArray> data;
    const QStringList names = JournalNames();
    if (names.size() != 1)
        return data;
    const JournalSummary read = ReadBytes(FileBytes(StateFolder() + QLatin1Char('/') + names[0]), nullptr, &data);
    if (summary)
        *summary = read;
    return data;
}

QByteArray Payload(int i)
{
    return QByteArray::number(i).rightJustified(6, '0') + QByteArray(40 + i % 50, char('a' + i % 26));
}

TEST(JournalFaults, TheHeaderIsOnDiskBeforeTheNameAndTheNameBeforeAnyItemCounts)
{
    IoFaults io;
    JournalModel model;
    CCaptureJournal journal(model.Source(), StateFolder());
    journal.SetFollowing(true);
    model.Add("first");
    journal.Flush();

    // The order of what the writer asked of the disk.
    const std::vector<IoFaults::Request> calls = io.Calls();
    auto at = [&](auto match) {
        for (size_t i = 0; i < calls.size(); ++i)
            if (match(calls[i]))
                return int(i);
        return -1;
    };
    const int rename = at([](const IoFaults::Request& r) { return r.call == Call::Rename; });
    const int headerSync = at([](const IoFaults::Request& r) { return r.call == Call::Fdatasync || r.call == Call::Fsync; });
    const int folderSync = at([](const IoFaults::Request& r) { return r.call == Call::SyncFolder; });
    ASSERT_GE(rename, 0);
    ASSERT_GE(headerSync, 0) << "the header is never flushed";
    EXPECT_LT(headerSync, rename) << "renamed before its header was on disk";
    ASSERT_GE(folderSync, 0) << "the folder's entries are never flushed";
    EXPECT_GT(folderSync, rename);
    EXPECT_EQ(QString::fromStdString(calls[size_t(folderSync)].path), StateFolder());
}

TEST(JournalFaults, APartFileLeftByACrashIsReadAsAJournalNotDeleted)
{
    // A journal whose rename never reached the disk: its header and items
    // are there under the temporary name.
    {
        JournalModel model;
        CCaptureJournal journal(model.Source(), StateFolder());
        model.Add("kept");
        model.Add("also kept");
        journal.Flush();
        const QString path = journal.Path();
        ASSERT_TRUE(QFile::rename(path, path.chopped(9) + QStringLiteral(".part")));
    }
    const QStringList parts = QDir(StateFolder()).entryList({QStringLiteral("*.part")}, QDir::Files);
    ASSERT_EQ(parts.size(), 1);
    // Old enough to be nobody's journal in the making.
    const QByteArray part = QFile::encodeName(StateFolder() + QLatin1Char('/') + parts[0]);
    const utimbuf old{::time(nullptr) - 3600, ::time(nullptr) - 3600};
    ASSERT_EQ(::utime(part.constData(), &old), 0);

    std::vector<AbandonedJournal> found = ClaimAbandonedJournals(StateFolder());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].summary.items, 2);
    std::vector<QByteArray> data;
    found[0].Read([&](const JournalItem& item) {
        data.emplace_back(reinterpret_cast<const char*>(item.data), item.length);
    });
    EXPECT_EQ(data, (std::vector<QByteArray>{"kept", "also kept"}));
}

// One way a disk can refuse data, and the call it breaks.
struct DiskFault {
    const char* name;
    Call call;
    int error;
    std::size_t shortWrite;
};

TEST(JournalFaults, AJournalThatCannotBeWrittenCatchesUpOnceTheDiskTakesDataAgain)
{
    const DiskFault faults[] = {
        {"full disk on write", Call::Write, ENOSPC, 0},
        {"quota on write", Call::Write, EDQUOT, 0},
        {"short write, then a full disk", Call::Write, ENOSPC, 7},
        {"I/O error on flush", Call::Fdatasync, EIO, 0},
    };
    for (const DiskFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        QDir(StateFolder()).removeRecursively();
        IoFaults io;
        JournalModel model;
        Reports reports;
        std::vector<QByteArray> sent;
        {
            CCaptureJournal journal(model.Source(), StateFolder());
            journal.SetProblemHandler(reports.Handler());
            journal.SetFollowing(true);
            auto add = [&](int n) {
                for (int i = 0; i < n; ++i) {
                    sent.push_back(Payload(int(sent.size())));
                    model.Add(sent.back());
                }
                journal.Flush();
            };
            add(20);
            io.Fail(fault.call, fault.error, fault.shortWrite);
            for (int round = 0; round < 5; ++round)
                add(30);
            ASSERT_EQ(reports.All().size(), 1) << reports.All().join('|').toStdString();
            EXPECT_TRUE(reports.All()[0].contains(QString::fromLocal8Bit(std::strerror(fault.error))))
                << reports.All()[0].toStdString();

            // The disk takes data again: with no Flush, no new item and no
            // new capture, the journal catches up by itself.
            io.Heal();
            ASSERT_TRUE(testing_support::WaitUntil([&] { return JournalData().size() == sent.size(); }, 30000))
                << JournalData().size() << " of " << sent.size();
            ASSERT_TRUE(testing_support::WaitUntil([&] { return reports.All().size() == 2; }, 30000));
            EXPECT_TRUE(reports.All()[1].isEmpty());
            add(10);
        }
        JournalSummary summary;
        EXPECT_EQ(JournalData(&summary), sent);
        EXPECT_EQ(summary.state, JournalState::Whole);
    }
}

} // namespace
