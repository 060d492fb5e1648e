// The journal as a series of segment files: a capture recorded through a
// pseudo-terminal comes back from them byte for byte after a restart, across
// every segment boundary, and goes on in them; a journal of the first
// version (one file) is restored and goes on in segments after it.
#include "capture/capture_engine.h"
#include "data/capture_journal.h"
#include "data/journal_file.h"
#include "journal_support.h"
#include "platform/pseudo_terminal.h"
#include "test_support.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

struct Item {
    QByteArray data;
    QString name;
    int kind = 0;
    int64_t micros = 0;
    bool operator==(const Item&) const = default;
};

std::vector<Item> ItemsOf(CCaptureEngine& engine)
{
    std::lock_guard lock(engine.m_csCapture);
    std::vector<Item> items;
    for (int64_t i = 0; i < engine.m_items.GetSize(); ++i) {
        const CDataItem& item = engine.m_items.GetAt(i);
        items.push_back({QByteArray(reinterpret_cast<const char*>(item.GetData()), item.GetLength()), item.GetName(),
                         item.GetKind(), item.GetTimeMicros()});
    }
    return items;
}

QByteArray BytesOf(const std::vector<Item>& items)
{
    QByteArray bytes;
    for (const Item& item : items)
        bytes += item.data;
    return bytes;
}

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20261208);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// Sends `bytes` from the far end and waits until the engine holds them all.
void Record(CCaptureEngine& engine, platform::PseudoTerminal& far, const QByteArray& bytes, qsizetype before)
{
    for (qsizetype at = 0; at < bytes.size(); at += 4096)
        ASSERT_TRUE(far.WriteAll(bytes.mid(at, 4096)));
    ASSERT_TRUE(testing_support::WaitUntil([&] { return BytesOf(ItemsOf(engine)).size() >= before + bytes.size(); }));
}

std::vector<AbandonedJournal> Claim()
{
    return ClaimAbandonedJournals(JournalFolder());
}

TEST(JournalSegments, ACaptureComesBackByteExactAcrossEverySegmentAndGoesOnInThem)
{
    platform::PseudoTerminal far;
    ASSERT_TRUE(far.Open());
    testing_support::SetPortOverride(5, far.SlavePath());
    const QByteArray first = RandomBytes(600 * 1024);
    std::vector<Item> recorded;
    {
        CCaptureEngine engine;
        engine.m_strPortName = QStringLiteral("COM5");
        engine.Journal().SetSegmentBytes(64 * 1024);
        ASSERT_TRUE(engine.OpenPort());
        ASSERT_TRUE(testing_support::WaitUntil([&] { return engine.IsListening(); }));
        Record(engine, far, first, 0);
        engine.ClosePort();
        engine.Journal().Flush();
        EXPECT_GE(engine.Journal().SegmentCount(), 6);
        {
            // Once on disk, no item's bytes are kept in memory.
            std::lock_guard lock(engine.m_csCapture);
            EXPECT_EQ(engine.m_items.GetFirst(), engine.m_items.GetSize());
        }
        recorded = ItemsOf(engine);
    }  // the program ends without a Save: the journal stays
    ASSERT_EQ(BytesOf(recorded), first);

    std::vector<AbandonedJournal> found = Claim();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_GE(found[0].files.size(), 6u);
    // The offer reads the first segment's head and the last segment only,
    // and still says what the whole journal holds.
    EXPECT_EQ(found[0].summary.items, int64_t(recorded.size()));
    EXPECT_EQ(found[0].summary.bytes, first.size());
    EXPECT_EQ(found[0].summary.header.portName, QStringLiteral("COM5"));

    auto engine = std::make_unique<CCaptureEngine>();
    int64_t lastDone = 0, lastTotal = -1;
    const JournalSummary read = engine->RestoreJournal(found[0], [&](int64_t done, int64_t total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    });
    EXPECT_EQ(read.state, JournalState::Whole);
    EXPECT_EQ(lastDone, lastTotal);
    {
        // Restored without reading the bytes into memory.
        std::lock_guard lock(engine->m_csCapture);
        EXPECT_EQ(engine->m_items.GetFirst(), engine->m_items.GetSize());
    }
    const std::vector<Item> back = ItemsOf(*engine);
    ASSERT_EQ(back.size(), recorded.size());
    for (size_t i = 0; i < back.size(); ++i) {
        ASSERT_EQ(back[i].data, recorded[i].data) << i;
        ASSERT_EQ(back[i].name, recorded[i].name) << i;
        ASSERT_EQ(back[i].kind, recorded[i].kind) << i;
        ASSERT_EQ(back[i].micros, recorded[i].micros) << i;
    }

    // The restored capture goes on: new items follow in new segments, and
    // the next start gives back both parts as one capture.
    const QByteArray second = RandomBytes(100 * 1024).toHex();
    engine->Journal().SetSegmentBytes(64 * 1024);
    engine->m_strPortName = QStringLiteral("COM5");
    ASSERT_TRUE(engine->OpenPort());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return engine->IsListening(); }));
    Record(*engine, far, second, first.size());
    engine->ClosePort();
    engine->Journal().Flush();
    recorded = ItemsOf(*engine);
    EXPECT_TRUE(Claim().empty()) << "a journal that a running program holds was claimed";
    engine.reset();

    found = Claim();
    ASSERT_EQ(found.size(), 1u);
    CCaptureEngine later;
    ASSERT_EQ(later.RestoreJournal(found[0]).state, JournalState::Whole);
    EXPECT_EQ(BytesOf(ItemsOf(later)), first + second);
    EXPECT_EQ(ItemsOf(later), recorded);
}

// How the reading of a series treats segments that do not hang together:
// the items before the fault come back and the files are kept aside.
TEST(JournalSegments, ASeriesWithAMissingOrForeignSegmentGivesBackItsItemsBeforeIt)
{
    struct Case {
        const char* name;
        std::function<void(const QStringList& paths)> spoil;
    };
    const Case cases[] = {
        {"a middle segment is gone", [](const QStringList& paths) { QFile::remove(paths[1]); }},
        {"a middle segment is cut short",
         [](const QStringList& paths) {
             QFile file(paths[1]);
             ASSERT_TRUE(file.open(QIODevice::ReadWrite));
             ASSERT_TRUE(file.resize(file.size() - 3));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JournalModel model;
        QStringList paths;
        int64_t perSegment = 0;
        {
            CCaptureJournal journal(model.Source(), JournalFolder());
            journal.SetSegmentBytes(64 * 1024);
            for (int i = 0; i < 300; ++i)
                model.Add(QByteArray(1000, char('a' + i % 26)));
            journal.Wake();
            journal.Flush();
            ASSERT_GE(journal.SegmentCount(), 3);
            paths = QDir(JournalFolder()).entryList({QStringLiteral("*.vjournal")}, QDir::Files, QDir::Name);
            for (QString& path : paths)
                path = JournalFolder() + QLatin1Char('/') + path;
            perSegment = ReadBytes(FileBytes(paths[0])).items;
        }
        c.spoil(paths);
        std::vector<AbandonedJournal> found = Claim();
        ASSERT_EQ(found.size(), 1u);
        CCaptureEngine engine;
        const JournalSummary read = engine.RestoreJournal(found[0]);
        EXPECT_EQ(read.state, JournalState::Damaged);
        // The first segment's items at least; never any item out of place.
        const std::vector<Item> items = ItemsOf(engine);
        EXPECT_GE(int64_t(items.size()), perSegment);
        EXPECT_LT(int64_t(items.size()), 300);
        for (size_t i = 0; i < items.size(); ++i)
            ASSERT_EQ(items[i].data, QByteArray(1000, char('a' + i % 26))) << i;
        // The spoiled series is kept aside for a person; the good items are
        // in a new journal.
        EXPECT_FALSE(QDir(JournalFolder()).entryList({QStringLiteral("*.damaged")}, QDir::Files).isEmpty());
        engine.EndJournal();
        for (const QString& aside : QDir(JournalFolder()).entryList({QStringLiteral("*.damaged")}, QDir::Files))
            QFile::remove(JournalFolder() + QLatin1Char('/') + aside);
    }
}

TEST(JournalSegments, AOneFileJournalOfTheFirstVersionIsRestoredAndGoesOnInSegments)
{
    // Written by a separate script from the format's description alone.
    const QString seed = QStringLiteral(VANTREL_SOURCE_DIR "/fuzz/corpus/journal_reader/two_items_and_empty.vjournal");
    ASSERT_TRUE(QDir().mkpath(JournalFolder()));
    const QString v1 = JournalFolder() + QStringLiteral("/capture-20251206-081500-4242-1.vjournal");
    ASSERT_TRUE(QFile::copy(seed, v1));
    QFile::setPermissions(v1, QFile::ReadOwner | QFile::WriteOwner);

    std::vector<AbandonedJournal> found = Claim();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].summary.version, 1u);
    auto engine = std::make_unique<CCaptureEngine>();
    ASSERT_EQ(engine->RestoreJournal(found[0]).state, JournalState::Whole);
    std::vector<Item> items = ItemsOf(*engine);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].data, QByteArray("$GPGGA,1*00\r\n"));
    EXPECT_EQ(items[1].data, QByteArray("\x00\xab\x0a", 3));
    EXPECT_EQ(engine->m_strOutput, QStringLiteral("Welcome to Vantrel \r\n Ver 0.4"));

    // New items after it, enough for several segments.
    engine->Journal().SetSegmentBytes(64 * 1024);
    {
        std::lock_guard lock(engine->m_csCapture);
        for (int i = 0; i < 200; ++i) {
            const QByteArray bytes(1000, char('A' + i % 26));
            CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
            item.SetName(QStringLiteral("09:00:00"));
            engine->m_items.Add(item);
        }
    }
    engine->Journal().Wake();
    engine->Journal().Flush();
    EXPECT_GE(engine->Journal().SegmentCount(), 3);
    items = ItemsOf(*engine);
    engine.reset();

    found = Claim();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].files.front().Path(), v1);
    EXPECT_EQ(found[0].Read({}).items, 203);
    CCaptureEngine later;
    ASSERT_EQ(later.RestoreJournal(found[0]).state, JournalState::Whole);
    EXPECT_EQ(ItemsOf(later), items);
}

// The format's description is enough to read what the program writes: a
// reader written from it alone (in another language) agrees with the items.
TEST(JournalSegments, AReaderWrittenFromTheDescriptionAloneReadsTheSegments)
{
    JournalModel model;
    QCryptographicHash digest(QCryptographicHash::Sha256);
    qint64 bytes = 0;
    int segments = 0;
    {
        CCaptureJournal journal(model.Source(), JournalFolder());
        journal.SetSegmentBytes(64 * 1024);
        QRandomGenerator generator(7);
        for (int i = 0; i < 400; ++i) {
            QByteArray chunk = RandomBytes(int(generator.bounded(1025)));
            chunk.prepend(char(i));
            model.Add(chunk, i % 3, QStringLiteral("10:00:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
            digest.addData(chunk);
            bytes += chunk.size();
        }
        journal.Wake();
        journal.Flush();
        journal.MarkSaved(model.captureId, 123);
        journal.Flush();
        segments = journal.SegmentCount();
    }
    ASSERT_GE(segments, 3);
    QProcess reader;
    reader.start(QStringLiteral("python3"),
                 {QStringLiteral(VANTREL_SOURCE_DIR "/tests/data/journal_from_description.py"), JournalFolder()});
    ASSERT_TRUE(reader.waitForFinished(30000));
    ASSERT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    const QList<QByteArray> fields = reader.readAllStandardOutput().trimmed().split(' ');
    ASSERT_EQ(fields.size(), 6) << fields.join(' ').toStdString();
    EXPECT_EQ(fields[1].toInt(), segments);
    EXPECT_EQ(fields[2].toInt(), 400);
    EXPECT_EQ(fields[3].toLongLong(), bytes);
    EXPECT_EQ(fields[4].toInt(), 123);
    EXPECT_EQ(fields[5], digest.result().toHex());
}

} // namespace
