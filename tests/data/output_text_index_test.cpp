#include "data/data_item_array.h"
#include "data/item_rendering.h"
#include "data/output_text_index.h"
#include "data/output_text_source.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A capture as the main window holds it: the text before the entries, the
// item list and the index over both.
struct Capture {
    std::mutex lock;
    QString prefix;
    CDataItemArray items;
    uint64_t captureId = 1;
    COutputTextIndex index;
    COutputTextSource source{lock, prefix, items, captureId, index};

    explicit Capture(const QString& text) : prefix(text) { index.Reset(captureId, prefix); }
    void Add(const QByteArray& bytes, int kind)
    {
        CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        item.SetKind(kind);
        std::lock_guard guard(lock);
        index.Append(items.GetAt(items.Add(item)));
    }
    // The text as Save writes it, rendered in one piece.
    QString Expected() const
    {
        QString text = prefix;
        for (int i = 0; i < items.GetSize(); ++i)
            AppendItemEntry(text, items.GetAt(i));
        return text;
    }
};

// Where each line of `text` starts: after "\r\n", a lone "\r" or a lone "\n".
std::vector<qint64> LineStarts(const QString& text)
{
    std::vector<qint64> starts{0};
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        if (text[i] == u'\r' || text[i] == u'\n')
            starts.push_back(i + 1);
    }
    return starts;
}

// Checks every line start and every offset of the capture against the text.
void ExpectIndexMatches(Capture& c)
{
    const QString expected = c.Expected();
    OutputTextPiece whole;
    ASSERT_TRUE(c.source.ReadPiece(c.captureId, -1, c.items.GetSize() + 1, whole));
    EXPECT_EQ(whole.start, 0);
    ASSERT_EQ(whole.text, expected);
    EXPECT_EQ(c.index.TotalChars(), expected.size());

    const std::vector<qint64> starts = LineStarts(expected);
    ASSERT_EQ(c.index.LineCount(), qint64(starts.size()));
    for (qint64 line = 0; line < qint64(starts.size()); ++line) {
        const int s = c.index.SegmentAtLine(line);
        if (s == c.index.ItemCount()) {
            EXPECT_EQ(starts[size_t(line)], expected.size()) << line;
            continue;
        }
        OutputTextPiece segment;
        ASSERT_TRUE(c.source.ReadPiece(c.captureId, s, 1, segment));
        const std::vector<int> local = COutputTextIndex::LineStartsIn(segment.text, c.index.LinesIn(s));
        const qint64 k = line - c.index.LinesBefore(s);
        ASSERT_TRUE(k >= 0 && k < qint64(local.size())) << line;
        EXPECT_EQ(segment.start + local[size_t(k)], starts[size_t(line)]) << "line " << line;
    }
    for (qint64 offset = 0; offset < expected.size(); ++offset) {
        const int s = c.index.SegmentAtOffset(offset);
        ASSERT_LE(c.index.SegmentStart(s), offset);
        ASSERT_GT(c.index.SegmentStart(s + 1), offset);
        ASSERT_EQ(c.source.ItemAtOffset(c.captureId, offset), s);
    }
}

TEST(OutputTextIndex, EveryLineEndFormAndSplitLineEndsGiveTheLinesOfTheSavedText)
{
    for (const QString& prefix : {QStringLiteral("Welcome to Vantrel \r\n Ver 0.4"), QString(), QStringLiteral("a\r"),
                                  QStringLiteral("\n"), QStringLiteral("\r\n")}) {
        Capture c(prefix);
        for (const char* chunk : {"a\r\nb", "c\r", "\nd", "e\n", "\r", "\n", "\r\n", "\n\r", "", "x\r\r\n\n", "h\xC3\xA9\r",
                                  "\xFF\xC3\r\n\xE2\x82", "z\0\r\nhidden"}) {
            c.Add(QByteArray(chunk, chunk[0] == 'z' ? 11 : qsizetype(strlen(chunk))), 0);
        }
        c.Add(QByteArray("\r\n\r\n", 4), 1);  // hexadecimal: no line ends of its own
        c.Add(QByteArray(), 1);
        c.Add("tail\r", 2);
        ExpectIndexMatches(c);
    }
}

TEST(OutputTextIndex, RandomCapturesOfLineEndsAndBytesThatAreNotText)
{
    const char alphabet[] = {'a', '\r', '\n', '\r', '\n', char(0xC3), char(0xA9), char(0xEF), char(0xBB), char(0xBF), char(0x80), 0};
    QRandomGenerator random(12);
    for (int round = 0; round < 20; ++round) {
        Capture c(round % 2 ? QStringLiteral("x\r") : QString());
        for (int i = 0; i < 40; ++i) {
            QByteArray chunk;
            for (int n = random.bounded(12); n > 0; --n)
                chunk += alphabet[random.bounded(int(sizeof(alphabet)))];
            c.Add(chunk, random.bounded(4) == 0 ? 1 : 0);
        }
        ExpectIndexMatches(c);
        if (testing::Test::HasFailure())
            return;
    }
}

TEST(OutputTextIndex, ALeadingByteOrderMarkIsKeptAndCounted)
{
    Capture c{QString()};
    c.Add("\xEF\xBB\xBFhello", 0);
    c.Add("\xEF\xBB\xBF", 0);
    EXPECT_EQ(c.Expected(), QStringLiteral("\r\nRec :\uFEFFhello\r\nRec :\uFEFF"));
    ExpectIndexMatches(c);
}

TEST(OutputTextSource, ReadsFailOnceTheCaptureWasClearedAndStopAtTheIndexedItems)
{
    Capture c(QStringLiteral("pre"));
    c.Add("one", 0);
    c.Add("two", 0);
    {
        // Recorded but not indexed yet: not part of the text.
        CDataItem item(reinterpret_cast<const uint8_t*>("three"), 5);
        std::lock_guard guard(c.lock);
        c.items.Add(item);
    }
    const COutputTextSource::Extent extent = c.source.CurrentExtent();
    EXPECT_EQ(extent.items, 2);
    EXPECT_EQ(extent.chars, 3 + 2 * 10);
    OutputTextPiece piece;
    ASSERT_TRUE(c.source.ReadPiece(c.captureId, 1, 5, piece));
    EXPECT_EQ(piece.start, 13);
    EXPECT_EQ(piece.text, QStringLiteral("\r\nRec :two"));
    ASSERT_TRUE(c.source.ReadPiece(c.captureId, 2, 1, piece));
    EXPECT_EQ(piece.text, QString());
    EXPECT_EQ(c.source.ItemTextStart(c.captureId, 2), 23);
    EXPECT_EQ(c.source.ItemTextStart(c.captureId, 3), -1);

    {
        std::lock_guard guard(c.lock);
        c.items.RemoveAll();
        c.prefix.clear();
        ++c.captureId;
    }
    EXPECT_FALSE(c.source.ReadPiece(c.captureId - 1, -1, 2, piece));
    EXPECT_FALSE(c.source.ReadPiece(c.captureId, -1, 2, piece));  // the index has not started over yet
    EXPECT_TRUE(piece.text.isEmpty());
    EXPECT_EQ(c.source.ItemTextStart(c.captureId, 0), -1);
}

TEST(OutputTextSource, AReaderOnAnotherThreadSeesWholeEntriesWhileItemsArrive)
{
    Capture c{QString()};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        OutputTextPiece piece;
        while (!stop) {
            const COutputTextSource::Extent extent = c.source.CurrentExtent();
            if (extent.items == 0)
                continue;
            ASSERT_TRUE(c.source.ReadPiece(extent.captureId, extent.items - 1, 1, piece));
            ASSERT_EQ(piece.text, QStringLiteral("\r\nRec :") + QString::number(extent.items - 1));
            ASSERT_EQ(piece.start + piece.text.size(), c.source.ItemTextStart(extent.captureId, extent.items));
        }
    });
    for (int i = 0; i < 3000; ++i)
        c.Add(QByteArray::number(i), 0);
    stop = true;
    reader.join();
}

TEST(OutputTextIndex, ItsMemoryStaysFarBelowTheTextItIndexes)
{
    // Chunks of 1 KiB in lines of 80 characters, the common case.
    QByteArray chunk;
    while (chunk.size() < 1024)
        chunk += QByteArray(78, 'x') + "\r\n";
    chunk.truncate(1024);
    Capture c{QString()};
    qint64 bytes = 0;
    for (int i = 0; i < 40000; ++i) {
        c.Add(chunk, 0);
        bytes += chunk.size();
    }
    EXPECT_LE(double(c.index.MemoryBytes()) / double(bytes), 0.05);
    EXPECT_EQ(c.index.LineCount(), 1 + 40000 + 40000 * qint64(chunk.count('\n')));
}

} // namespace
