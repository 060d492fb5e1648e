#include "data/data_item_array.h"
#include "data/item_rendering.h"
#include "data/output_text_index.h"
#include "data/output_text_source.h"

#include <QRandomGenerator>
#include <algorithm>
#include <functional>
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

// A plain model of the index: for every segment where it starts and how many
// lines start before it, from each entry's rendered text.
struct ReferenceIndex {
    std::vector<qint64> starts{0};  // segments -1 .. the end
    std::vector<qint64> linesBefore{0};
    qint64 chars = 0;
    qint64 lineStarts = 0;
    bool lineStartPending = true;  // the next character starts a line
    bool afterCR = false;

    // Adds a segment of `text` followed by `plainChars` characters that are no line end.
    void AddSegment(const QString& text, qint64 plainChars = 0)
    {
        for (const QChar c : text) {
            if (lineStartPending && !(afterCR && c == u'\n')) {
                ++lineStarts;
                lineStartPending = false;
            }
            afterCR = c == u'\r';
            if (c == u'\r' || c == u'\n')
                lineStartPending = true;
        }
        if (plainChars > 0) {
            lineStarts += lineStartPending ? 1 : 0;
            lineStartPending = afterCR = false;
        }
        chars += text.size() + plainChars;
        starts.push_back(chars);
        linesBefore.push_back(lineStarts);
    }
    qint64 Items() const { return qint64(starts.size()) - 2; }
    qint64 SegmentAtOffset(qint64 offset) const
    {
        if (offset >= chars)
            return Items();
        return std::upper_bound(starts.begin(), starts.end(), std::max<qint64>(offset, 0)) - starts.begin() - 2;
    }
    qint64 SegmentAtLine(qint64 line) const
    {
        if (line >= lineStarts)
            return Items();
        const auto after = std::upper_bound(linesBefore.begin(), linesBefore.end(), std::max<qint64>(line, 0));
        return after - linesBefore.begin() - 2;
    }
};

// Feeds the same items to an index and to the reference.
struct IndexAndReference {
    COutputTextIndex& index;
    ReferenceIndex reference;

    IndexAndReference(COutputTextIndex& index, uint64_t captureId, const QString& prefix) : index(index)
    {
        index.Reset(captureId, prefix);
        reference.AddSegment(prefix);
    }
    void Add(const QByteArray& bytes, int kind)
    {
        CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
        item.SetKind(kind);
        index.Append(item);
        QString entry;
        AppendItemEntry(entry, item);
        reference.AddSegment(entry);
    }
    // A hexadecimal item too long to render here: its text is three
    // characters per byte and holds no line end.
    void AddLongHex(const CDataItem& item)
    {
        index.Append(item);
        reference.AddSegment(kEntryPrefix, 3 * qint64(item.GetLength()));
    }
};

// Bytes and line ends at random, in lengths from none to a few KiB.
QByteArray RandomChunk(QRandomGenerator& random)
{
    static const char alphabet[] = {'a', 'b', '\r', '\n', char(0xC3), char(0xA9), char(0xE2), char(0x82), char(0xFF),
                                    0};
    static const char* const lineEnds[] = {"\r", "\n", "\r\n", "\n\r", "\r\r", "x\r", "\ny"};
    switch (random.bounded(6)) {
    case 0: return QByteArray();
    case 1: return QByteArray(lineEnds[random.bounded(int(std::size(lineEnds)))]);
    default: {
        QByteArray chunk;
        const int length = random.bounded(8) == 0 ? random.bounded(4096) : random.bounded(40);
        for (int n = 0; n < length; ++n)
            chunk += random.bounded(4) ? 'a' : alphabet[random.bounded(int(sizeof(alphabet)))];
        return chunk;
    }
    }
}

// Every accessor for every segment, and both searches on and next to every
// segment's start and at the ends of the text, against the reference.
void ExpectIndexEqualsReference(const COutputTextIndex& index, const ReferenceIndex& reference, const char* name)
{
    SCOPED_TRACE(name);
    const qint64 items = reference.Items();
    ASSERT_EQ(index.ItemCount(), items);
    ASSERT_EQ(index.TotalChars(), reference.chars);
    ASSERT_EQ(index.LineCount(), reference.lineStarts + (reference.lineStartPending ? 1 : 0));
    for (qint64 s = -1; s <= items; ++s) {
        ASSERT_EQ(index.SegmentStart(s), reference.starts[size_t(s + 1)]) << "segment " << s;
        ASSERT_EQ(index.LinesBefore(s), reference.linesBefore[size_t(s + 1)]) << "segment " << s;
        if (s < items) {
            const qint64 linesIn = reference.linesBefore[size_t(s + 2)] - reference.linesBefore[size_t(s + 1)];
            ASSERT_EQ(index.LinesIn(s), linesIn) << "segment " << s;
        }
    }
    std::vector<qint64> offsets{-1, reference.chars + 1}, lines{-1, reference.lineStarts + 1, index.LineCount()};
    for (qint64 s = -1; s <= items; ++s) {
        for (qint64 d : {-1, 0, 1}) {
            offsets.push_back(reference.starts[size_t(s + 1)] + d);
            lines.push_back(reference.linesBefore[size_t(s + 1)] + d);
        }
    }
    for (qint64 offset : offsets)
        ASSERT_EQ(index.SegmentAtOffset(offset), reference.SegmentAtOffset(offset)) << "offset " << offset;
    for (qint64 line : lines)
        ASSERT_EQ(index.SegmentAtLine(line), reference.SegmentAtLine(line)) << "line " << line;
}

constexpr qint64 kTwoTo32 = qint64(1) << 32;
constexpr int kLongHexBytes = 32 << 20;

// Long hexadecimal items until the text is exactly `target` characters long,
// the last two entries sized to land on it.
void GrowTextTo(IndexAndReference& capture, const CDataItem& longHex, qint64 target)
{
    const qint64 longEntry = kEntryPrefix.size() + 3 * qint64(longHex.GetLength());
    const qint64 shortEntries = 2 * kEntryPrefix.size();
    while (capture.reference.chars + longEntry + shortEntries <= target)
        capture.AddLongHex(longHex);
    const qint64 left = target - capture.reference.chars - shortEntries;
    ASSERT_GE(left, 0);
    const QByteArray bytes(int(left / 3), '\x5a');
    CDataItem fitted(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    fitted.SetKind(1);
    capture.AddLongHex(fitted);
    capture.Add(QByteArray(int(left % 3), 'x'), 0);
    ASSERT_EQ(capture.reference.chars, target);
}

TEST(OutputTextIndex, EveryAccessorAndSearchMatchesAPlainIndexOverManyItemsOfEveryLength)
{
    const QByteArray longBytes(kLongHexBytes, '\x3c');
    CDataItem longHex(reinterpret_cast<const uint8_t*>(longBytes.constData()), kLongHexBytes);
    longHex.SetKind(1);

    struct Case {
        const char* name;
        QString prefix;
        std::function<void(IndexAndReference&)> fill;
    };
    const Case cases[] = {
        {"nothing but the text before the items", QStringLiteral("Welcome\r\n"), [](IndexAndReference&) {}},
        {"random chunks over several pages", QStringLiteral("x\r"),
         [](IndexAndReference& c) {
             QRandomGenerator random(5);
             for (int i = 0; i < 40000; ++i)
                 c.Add(RandomChunk(random), random.bounded(5) == 0 ? 1 : 0);
         }},
        {"empty items and lone line ends", QString(),
         [](IndexAndReference& c) {
             for (int i = 0; i < 3000; ++i)
                 c.Add(QByteArray(i % 3 == 0 ? "" : i % 3 == 1 ? "\r" : "\n"), i % 7 == 0 ? 1 : 0);
         }},
        {"a text exactly 2^32 - 1 characters long, then longer", QString(),
         [&](IndexAndReference& c) {
             GrowTextTo(c, longHex, kTwoTo32 - 1);
             for (int i = 0; i < 100; ++i)
                 c.Add("a\r", 0);
         }},
        {"a text exactly 2^32 characters long, then longer", QString(),
         [&](IndexAndReference& c) {
             GrowTextTo(c, longHex, kTwoTo32);
             c.AddLongHex(longHex);
             for (int i = 0; i < 100; ++i)
                 c.Add("\nb", 0);
         }},
        {"long items among short ones, far past 2^32", QStringLiteral("\r\n"),
         [&](IndexAndReference& c) {
             QRandomGenerator random(9);
             for (int i = 0; i < 20000; ++i) {
                 if (i % 100 == 37 || (i > 15000 && i < 15400 && i % 5) || (i >= 17000 && i < 17200))
                     c.AddLongHex(longHex);
                 else
                     c.Add(RandomChunk(random), 0);
             }
         }},
    };
    COutputTextIndex index;
    uint64_t captureId = 0;
    for (const Case& test : cases) {
        IndexAndReference capture(index, ++captureId, test.prefix);
        test.fill(capture);
        EXPECT_EQ(index.CaptureId(), captureId);
        ExpectIndexEqualsReference(index, capture.reference, test.name);
    }
}

TEST(OutputTextIndex, ItTakesAtMostEightAndAHalfBytesPerItem)
{
    COutputTextIndex index;
    index.Reset(1, QString());
    CDataItem item(reinterpret_cast<const uint8_t*>("ok\r\n"), 4);
    item.SetKind(0);
    for (int i = 0; i < (1 << 20); ++i)
        index.Append(item);
    EXPECT_LE(double(index.MemoryBytes()) / double(index.ItemCount()), 8.5);
    EXPECT_EQ(index.SegmentStart(index.ItemCount()), qint64(1 << 20) * (kEntryPrefix.size() + 4));
}

} // namespace
