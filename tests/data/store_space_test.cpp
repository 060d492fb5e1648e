// Where the capture's journal lives (the folder the settings choose) and
// when its file system counts as running out of room.
#include "data/store_space.h"
#include "journal_support.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

constexpr uint64_t kGiB = uint64_t(1) << 30;

using testing_support::SetStoreFolder;

} // namespace

TEST(StoreSpace, LowIsUnderOneGibibyteOrUnderFivePercentFree)
{
    struct Case {
        uint64_t free, total;
        bool low;
    };
    const Case cases[] = {
        {kGiB - 1, 4 * kGiB, true},            // under 1 GiB though a quarter is free
        {kGiB, 4 * kGiB, false},
        {10 * kGiB, 1000 * kGiB, true},        // 1%: many gibibytes, yet under 5%
        {50 * kGiB, 1000 * kGiB, false},       // exactly 5%
        {49 * kGiB, 1000 * kGiB, true},
        {uint64_t(1) << 62, UINT64_MAX, false}, // a huge file system does not overflow the share
        {0, 0, true},                           // nothing known to be free
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.free << " of " << c.total);
        EXPECT_EQ(IsStoreSpaceLow(c.free, c.total), c.low);
    }
}

TEST(StoreSpace, TheChosenFolderHoldsTheJournalAndARelativeOneIsIgnored)
{
    const QString fallback = StateFolder();
    EXPECT_EQ(JournalFolder(), fallback);

    SetStoreFolder(QStringLiteral("relative/journals"));
    EXPECT_EQ(JournalFolder(), fallback);

    const QString chosen = testing_support::TestDir() + QStringLiteral("/chosen/journals");
    SetStoreFolder(chosen + QStringLiteral("/"));
    EXPECT_EQ(JournalFolder(), chosen);

    // A journal made without a folder of its own goes there, made on demand.
    JournalModel model;
    CCaptureJournal journal(model.Source());
    model.Add("kept in the chosen folder");
    journal.Flush();
    EXPECT_EQ(QFileInfo(journal.Path()).path(), chosen);
    EXPECT_EQ(JournalNames(chosen).size(), 1);
    EXPECT_TRUE(JournalNames(fallback).isEmpty());
}
