#include "data/capture_search.h"
#include "data/data_item_array.h"
#include "data/item_rendering.h"
#include "data/output_text_index.h"
#include "data/output_text_source.h"
#include "test_support.h"

#include <QList>
#include <QTest>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <random>

namespace {

using testing_support::WaitUntil;

// The capture's model as the main window keeps it: the item list, the text
// before the first item, the capture id and the output area's index, all
// guarded by one lock.
struct Capture {
    std::mutex lock;
    QString prefix = QStringLiteral("Welcome to Vantrel \r\n Ver 0.4");
    CDataItemArray items;
    uint64_t captureId = 1;
    COutputTextIndex index;
    COutputTextSource source{lock, prefix, items, captureId, index};

    Capture() { index.Reset(captureId, prefix); }

    void Add(const QByteArray& bytes, int kind = 0)
    {
        CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        item.SetKind(kind);
        std::lock_guard guard(lock);
        index.Append(items.GetAt(items.Add(item)));
    }
    void Clear()
    {
        std::lock_guard guard(lock);
        items.RemoveAll();
        prefix.clear();
        index.Reset(++captureId, prefix);
    }
    // The whole text, as Save writes it.
    QString Text()
    {
        std::lock_guard guard(lock);
        QString text = prefix;
        for (int i = 0; i < items.GetSize(); ++i)
            AppendItemEntry(text, items.GetAt(i));
        return text;
    }
};

// Every place a match starts, overlapping ones included.
QList<qint64> matchesIn(const QString& text, const QString& pattern, Qt::CaseSensitivity cs)
{
    QList<qint64> starts;
    for (qsizetype at = text.indexOf(pattern, 0, cs); at >= 0; at = text.indexOf(pattern, at + 1, cs))
        starts << at;
    return starts;
}

// What the search reports, gathered on the user-interface thread.
struct Results {
    qint64 count = -1;
    bool complete = false;
    int restarts = 0;
    qint64 start = -2;  // -1 after "not found"
    qint64 length = 0;
    qint64 number = 0;
    int answers = 0;
    QList<qint64> counts;  // every count shown, in order

    explicit Results(CCaptureSearch& search)
    {
        QObject::connect(&search, &CCaptureSearch::countChanged, [this](qint64 n, bool done) {
            count = n;
            complete = done;
            counts << n;
        });
        QObject::connect(&search, &CCaptureSearch::matchFound, [this](qint64 at, qint64 len, qint64 nth) {
            start = at;
            length = len;
            number = nth;
            ++answers;
        });
        QObject::connect(&search, &CCaptureSearch::matchNotFound, [this] {
            start = -1;
            number = 0;
            ++answers;
        });
        QObject::connect(&search, &CCaptureSearch::textRestarted, [this] { ++restarts; });
    }
    bool CountIs(qint64 n) { return WaitUntil([&] { return complete && count == n; }, 20000); }
    // Waits for the answer to the request just made.
    bool Answered()
    {
        const int before = answers;
        return WaitUntil([&] { return answers > before; }, 20000);
    }
};

// Random text from a small alphabet, so that a short pattern turns up often,
// in items from one byte to a full chunk, many times a piece of the scan.
void fillRandomly(Capture& capture, qint64 totalBytes, unsigned seed)
{
    std::mt19937 random(seed);
    const char alphabet[] = "abAB\r\n";
    qint64 written = 0;
    while (written < totalBytes) {
        QByteArray chunk(int(1 + random() % 1024), Qt::Uninitialized);
        for (char& c : chunk)
            c = alphabet[random() % 6];
        capture.Add(chunk);
        written += chunk.size();
    }
}

TEST(CaptureSearch, FindsEveryMatchAcrossItemsAndPiecesForwardAndBackward)
{
    // Every chunk starts with "x" and ends with "z", so the pattern below
    // crosses every boundary between two items, and so every boundary
    // between two pieces of the scan.
    Capture capture;
    std::mt19937 random(5);
    for (int i = 0; i < 800; ++i) {
        QByteArray chunk = "x" + QByteArray(int(random() % 1200), 'b') + "z";
        if (i % 7 == 0)
            chunk.insert(int(random() % chunk.size()), "z\r\nRec :x");  // and inside a few items
        capture.Add(chunk);
    }
    const QString text = capture.Text();
    for (Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        const QString pattern = cs == Qt::CaseSensitive ? QStringLiteral("z\r\nRec :x") : QStringLiteral("Z\r\nrEC :X");
        const QList<qint64> expected = matchesIn(text, pattern, cs);
        ASSERT_GT(expected.size(), 800);

        CCaptureSearch search(capture.source);
        Results results(search);
        search.SetPattern(pattern, cs);
        search.FindPrevious(std::numeric_limits<qint64>::max());  // the last, before the count is known
        ASSERT_TRUE(results.Answered());
        EXPECT_EQ(results.start, expected.back());
        EXPECT_EQ(results.number, expected.size());
        ASSERT_TRUE(results.CountIs(expected.size())) << results.count;

        qint64 at = -1;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            search.FindNext(at);
            ASSERT_TRUE(results.Answered());
            ASSERT_EQ(results.start, expected[i]) << i;
            ASSERT_EQ(results.number, i + 1);
            ASSERT_EQ(results.length, pattern.size());
            at = results.start;
        }
        search.FindNext(at);  // past the last: round to the first
        ASSERT_TRUE(results.Answered());
        EXPECT_EQ(results.start, expected.front());
        EXPECT_EQ(results.number, 1);
        at = results.start;
        for (qsizetype i = expected.size() - 1; i >= expected.size() - 30; --i) {
            search.FindPrevious(at);  // before the first: round to the last
            ASSERT_TRUE(results.Answered());
            ASSERT_EQ(results.start, expected[i]) << i;
            ASSERT_EQ(results.number, i + 1);
            at = results.start;
        }
    }

    fillRandomly(capture, 600 * 1024, 7);
    const QString more = capture.Text();
    // A common pattern, counted through many pieces of the scan.
    CCaptureSearch search(capture.source);
    Results results(search);
    search.SetPattern(QStringLiteral("ab"), Qt::CaseInsensitive);
    EXPECT_TRUE(results.CountIs(matchesIn(more, QStringLiteral("ab"), Qt::CaseInsensitive).size()));
    search.FindPrevious(std::numeric_limits<qint64>::max());
    ASSERT_TRUE(results.Answered());
    EXPECT_EQ(results.start, more.lastIndexOf(QStringLiteral("ab"), -1, Qt::CaseInsensitive));
}

TEST(CaptureSearch, MatchesTextAndHexAsShownWithOrWithoutCase)
{
    Capture capture;
    capture.Add("temp=21 ERROR sensor");
    capture.Add("2 ok\r\n");
    capture.Add(QByteArray("\x0d\x0a\xff", 3), 1);  // shown as "0d 0a ff "
    capture.Add("Error: Überlauf\n");
    capture.Add("error überlauf");

    CCaptureSearch search(capture.source);
    Results results(search);
    const struct {
        QString pattern;
        Qt::CaseSensitivity cs;
        qint64 count;
    } cases[] = {
        {QStringLiteral("Error"), Qt::CaseSensitive, 1},
        {QStringLiteral("ERROR"), Qt::CaseInsensitive, 3},
        {QStringLiteral("überlauf"), Qt::CaseInsensitive, 2},
        {QStringLiteral("überlauf"), Qt::CaseSensitive, 1},
        {QStringLiteral("0D 0A FF"), Qt::CaseInsensitive, 1},
        {QStringLiteral("0D 0A FF"), Qt::CaseSensitive, 0},
        {QStringLiteral("sensor\r\nRec :2 ok"), Qt::CaseSensitive, 1},
        {QStringLiteral("0.4\r\nRec :temp"), Qt::CaseSensitive, 1},  // from the welcome text into the first item
        {QStringLiteral("R"), Qt::CaseSensitive, 8},
    };
    for (const auto& c : cases) {
        search.SetPattern(c.pattern, c.cs);
        search.FindNext(-1);
        ASSERT_TRUE(results.CountIs(c.count)) << c.pattern.toStdString() << " " << results.count;
        ASSERT_TRUE(WaitUntil([&] { return results.answers > 0; }));
        EXPECT_EQ(results.start, c.count ? matchesIn(capture.Text(), c.pattern, c.cs).front() : -1)
            << c.pattern.toStdString();
        results.answers = 0;
    }
}

TEST(CaptureSearch, NewTextExtendsTheCountAndClearOutputStartsOver)
{
    Capture capture;
    capture.Add("alarm one");
    CCaptureSearch search(capture.source);
    Results results(search);
    search.SetPattern(QStringLiteral("alarm"), Qt::CaseSensitive);
    ASSERT_TRUE(results.CountIs(1));

    // The entry's prefix lies between two chunks: no match across it.
    capture.Add("second al");
    capture.Add("arm; third alarm");
    search.TextChanged();
    ASSERT_TRUE(results.CountIs(2));
    search.FindPrevious(std::numeric_limits<qint64>::max());
    ASSERT_TRUE(results.Answered());
    EXPECT_EQ(results.start, capture.Text().lastIndexOf(QStringLiteral("alarm")));
    EXPECT_EQ(results.number, 2);

    // Text recorded while a long scan runs is counted before the count is
    // called complete.
    fillRandomly(capture, 4 * 1024 * 1024, 11);
    search.SetPattern(QStringLiteral("alarm"), Qt::CaseSensitive);
    capture.Add("late alarm");
    search.TextChanged();
    ASSERT_TRUE(results.CountIs(3));

    capture.Clear();
    capture.Add("no match here");
    search.TextChanged();
    ASSERT_TRUE(WaitUntil([&] { return results.restarts == 1 && results.complete && results.count == 0; }));
    search.FindNext(-1);
    ASSERT_TRUE(results.Answered());
    EXPECT_EQ(results.start, -1);
}

TEST(CaptureSearch, TypingDropsTheScanUnderWayAndItsAnswers)
{
    Capture capture;
    fillRandomly(capture, 8 * 1024 * 1024, 3);
    capture.Add("needle");
    CCaptureSearch search(capture.source);
    Results results(search);

    // "a" is everywhere; its count and its match are overtaken by "needle".
    search.SetPattern(QStringLiteral("a"), Qt::CaseSensitive);
    search.FindNext(-1);
    search.SetPattern(QStringLiteral("needle"), Qt::CaseSensitive);
    results.counts.clear();
    results.answers = 0;
    search.FindNext(-1);
    ASSERT_TRUE(results.CountIs(1));
    ASSERT_TRUE(WaitUntil([&] { return results.answers > 0; }));
    EXPECT_EQ(results.answers, 1);
    EXPECT_EQ(results.length, 6);
    EXPECT_EQ(results.start, capture.Text().indexOf(QStringLiteral("needle")));
    for (qint64 shown : results.counts)
        EXPECT_LE(shown, 1);

    // An empty pattern stops the search without an answer.
    search.SetPattern(QString(), Qt::CaseSensitive);
    search.FindNext(-1);
    QTest::qWait(50);
    EXPECT_EQ(results.answers, 1);
}

} // namespace
