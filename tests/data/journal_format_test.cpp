// The journal written by the writer and read back: what goes in comes out,
// a journal cut off anywhere gives every whole record before the cut, and
// damaged or hostile files never crash the reader and are moved aside.
#include "journal_support.h"

#include "data/journal_format.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(JournalFormat, ItemsGoInAndEqualRecordsComeOutAcrossManyBatches)
{
    JournalModel model;
    CCaptureJournal journal(model.Source(), StateFolder());
    PortSettings line{};
    line.BaudRate = 115200;
    line.ByteSize = 7;
    line.Parity = EVENPARITY;
    journal.SetLine(QStringLiteral("COM5"), line, 1'700'000'000'000'000);
    journal.SetFollowing(true);

    QRandomGenerator random(7);
    QVector<QByteArray> sent;
    const QStringList names = {QStringLiteral("00:00:00"), QStringLiteral("23:59:59"), QStringLiteral("NoName"),
                               QStringLiteral("h\u00e9\u20ac")};
    // More items than one visit takes, in bursts, some while the writer works.
    for (int burst = 0; burst < 12; ++burst) {
        for (int i = 0; i < 1000; ++i) {
            QByteArray bytes(int(random.bounded(0, 1025)), Qt::Uninitialized);
            for (char& c : bytes)
                c = char(random.bounded(256));
            model.Add(bytes, int(random.bounded(-1, 4)), names[sent.size() % names.size()],
                      1'700'000'000'000'000 + sent.size() * 1001);
            sent.append(bytes);
        }
        if (burst % 3 == 0)
            journal.Flush();
    }
    journal.Flush();

    ASSERT_EQ(JournalNames().size(), 1);
    std::vector<JournalItem> items;
    std::vector<QByteArray> data;
    const QByteArray file = FileBytes(journal.Path());
    const JournalSummary summary = ReadBytes(file, &items, &data);
    EXPECT_EQ(summary.state, JournalState::Whole);
    EXPECT_EQ(summary.header.prefix, model.prefix);
    EXPECT_EQ(summary.header.portName, QStringLiteral("COM5"));
    EXPECT_EQ(summary.header.line.BaudRate, 115200u);
    EXPECT_EQ(summary.header.line.Parity, EVENPARITY);
    EXPECT_EQ(summary.header.startMicros, 1'700'000'000'000'000);
    EXPECT_EQ(summary.goodEnd, file.size());
    ASSERT_EQ(summary.items, sent.size());
    ASSERT_EQ(int(items.size()), sent.size());
    for (int i = 0; i < sent.size(); ++i) {
        const CDataItem& original = model.items.GetAt(i);
        ASSERT_EQ(data[size_t(i)], sent[i]) << i;
        EXPECT_EQ(items[size_t(i)].kind, original.GetKind()) << i;
        EXPECT_EQ(items[size_t(i)].name, original.GetName()) << i;
        EXPECT_EQ(items[size_t(i)].timeMicros, original.GetTimeMicros()) << i;
    }
    EXPECT_GT(journal.GetStats().maxItemsBehind, 0);
}

// A journal of `count` items written by the writer; its bytes.
QByteArray WrittenJournal(int count, bool saveAll = false)
{
    JournalModel model;
    CCaptureJournal journal(model.Source(), StateFolder());
    for (int i = 0; i < count; ++i)
        model.Add(QByteArray(i % 40, char('a' + i % 26)), i % 3,
                  QStringLiteral("10:00:%1").arg(i % 60, 2, 10, QChar(u'0')), 1000 + i);
    journal.Flush();
    if (saveAll) {
        journal.MarkSaved(model.captureId, count);
        journal.Flush();
    }
    const QByteArray bytes = FileBytes(journal.Path());
    journal.End();
    return bytes;
}

TEST(JournalFormat, ACutAtEveryOffsetOfTheLastRecordKeepsEveryWholeRecordBeforeIt)
{
    const QByteArray whole = WrittenJournal(20);
    const JournalSummary full = ReadBytes(whole);
    ASSERT_EQ(full.items, 20);
    // The last record begins where 19 items end.
    QByteArray nineteen = WrittenJournal(19);
    const qsizetype lastStart = ReadBytes(nineteen).goodEnd;
    ASSERT_EQ(whole.left(lastStart), nineteen);
    for (qsizetype cut = lastStart; cut < whole.size(); ++cut) {
        std::vector<QByteArray> data;
        const JournalSummary summary = ReadBytes(whole.left(cut), nullptr, &data);
        ASSERT_EQ(summary.items, 19) << cut;
        EXPECT_EQ(summary.state, cut == lastStart ? JournalState::Whole : JournalState::CutOff) << cut;
        EXPECT_EQ(summary.goodEnd, lastStart) << cut;
        EXPECT_EQ(data.back(), QByteArray(18, char('a' + 18))) << cut;
    }
    // Cut inside the file header or the capture header: nothing to give back.
    for (qsizetype cut : {qsizetype(0), qsizetype(5), qsizetype(journal::kFileHeaderSize + 3)})
        EXPECT_EQ(ReadBytes(whole.left(cut)).state, JournalState::NotAJournal) << cut;
}

TEST(JournalFormat, ASaveMarkEndsTheOfferAndClearOutputRemovesTheJournal)
{
    JournalModel model;
    CCaptureJournal journal(model.Source(), StateFolder());
    model.Add("one");
    model.Add("two");
    journal.Flush();
    const QString first = journal.Path();
    ASSERT_TRUE(QFile::exists(first));

    journal.MarkSaved(model.captureId, 1);
    journal.Flush();
    JournalSummary summary = ReadBytes(FileBytes(first));
    EXPECT_EQ(summary.saved, 1);
    EXPECT_TRUE(summary.Restorable());
    journal.MarkSaved(model.captureId, 2);
    journal.Flush();
    summary = ReadBytes(FileBytes(first));
    EXPECT_EQ(summary.saved, 2);
    EXPECT_FALSE(summary.Restorable());

    // Clear Output: the journal goes, and the next item starts a new one
    // with the text as it is now.
    model.Clear();
    journal.Wake();
    journal.Flush();
    EXPECT_FALSE(QFile::exists(first));
    EXPECT_TRUE(JournalNames().isEmpty());
    model.Add("three");
    journal.Flush();
    ASSERT_EQ(JournalNames().size(), 1);
    summary = ReadBytes(FileBytes(journal.Path()));
    EXPECT_EQ(summary.items, 1);
    EXPECT_EQ(summary.saved, 0);
    EXPECT_EQ(summary.header.prefix, QString());

    // The capture is over for good: nothing is left behind.
    journal.End();
    EXPECT_TRUE(QDir(StateFolder()).entryList(QDir::Files).isEmpty());
}

TEST(JournalFormat, AJournalHeldByARunningProgramIsNeverTouched)
{
    JournalModel model;
    auto journal = std::make_unique<CCaptureJournal>(model.Source(), StateFolder());
    model.Add("mine");
    journal->Flush();
    const QString path = journal->Path();
    const QByteArray before = FileBytes(path);

    // Another program looking for abandoned journals finds none, and the
    // journal is as it was.
    EXPECT_TRUE(ClaimAbandonedJournals(StateFolder()).empty());
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_FALSE(CJournalFile::Claim(path).IsOpen());

    // Once its program is gone without ending the capture, it is offered.
    journal.reset();
    std::vector<AbandonedJournal> found = ClaimAbandonedJournals(StateFolder());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Path(), path);
    EXPECT_EQ(found[0].summary.items, 1);
    EXPECT_EQ(FileBytes(path), before);
}

TEST(JournalFormat, AJournalWrittenFromTheDocumentedLayoutByAnotherToolReadsBack)
{
    // The fuzzing seeds were written by a separate script from
    // docs/journal-format.md alone.
    const QString seeds = QStringLiteral(VANTREL_SOURCE_DIR "/fuzz/corpus/journal_reader/");
    std::vector<JournalItem> items;
    std::vector<QByteArray> data;
    const QByteArray bytes = FileBytes(seeds + QStringLiteral("two_items_and_empty.vjournal"));
    ASSERT_FALSE(bytes.isEmpty());
    const JournalSummary summary = ReadBytes(bytes, &items, &data);
    EXPECT_EQ(summary.state, JournalState::Whole);
    EXPECT_EQ(summary.header.portName, QStringLiteral("COM5"));
    EXPECT_EQ(summary.header.line.BaudRate, 9600u);
    EXPECT_EQ(summary.header.prefix, QStringLiteral("Welcome to Vantrel \r\n Ver 0.4"));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(data[0], QByteArray("$GPGGA,1*00\r\n"));
    EXPECT_EQ(items[1].kind, 1);
    EXPECT_EQ(data[1], QByteArray("\x00\xab\x0a", 3));
    EXPECT_EQ(items[2].name, QStringLiteral("08:15:01"));
    EXPECT_EQ(items[2].length, 0);
    EXPECT_EQ(items[0].timeMicros, 1765000000100000);

    EXPECT_EQ(ReadBytes(FileBytes(seeds + QStringLiteral("saved.vjournal"))).saved, 2);
    EXPECT_EQ(ReadBytes(FileBytes(seeds + QStringLiteral("cut_off.vjournal"))).state, JournalState::CutOff);
    // A record of a type from a later version is passed over.
    const JournalSummary later = ReadBytes(FileBytes(seeds + QStringLiteral("unknown_record.vjournal")), &items);
    EXPECT_EQ(later.state, JournalState::Whole);
    EXPECT_EQ(later.items, 1);
    EXPECT_EQ(items.back().name, QStringLiteral("h\u00e9"));

    // A later segment of a series: where it stands, and numbers that go on
    // from its first item.
    items.clear();
    const JournalSummary segment = ReadBytes(FileBytes(seeds + QStringLiteral("segment_three.vjournal")), &items);
    EXPECT_EQ(segment.state, JournalState::Whole);
    EXPECT_EQ(segment.version, 2u);
    EXPECT_EQ(segment.segment, 3u);
    EXPECT_EQ(segment.firstItem, 40);
    EXPECT_EQ(segment.bytesBefore, 4096);
    EXPECT_EQ(segment.header.portName, QStringLiteral("COM7"));
    EXPECT_EQ(segment.header.line.BaudRate, 115200u);
    EXPECT_EQ(segment.saved, 41);
    EXPECT_TRUE(segment.Restorable());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].number, 40);
    EXPECT_EQ(items[1].number, 41);
    EXPECT_EQ(items[1].kind, 1);

    // A segment record whose first item is negative: not a journal, and
    // nothing of the rejected record stays in the summary.
    const JournalSummary rejected = ReadBytes(FileBytes(seeds + QStringLiteral("rejected_segment_record.vjournal")));
    EXPECT_EQ(rejected.state, JournalState::NotAJournal);
    EXPECT_EQ(rejected.segment, 0u);
    EXPECT_EQ(rejected.firstItem, 0);
    EXPECT_EQ(rejected.EndItem(), 0);
}

} // namespace
