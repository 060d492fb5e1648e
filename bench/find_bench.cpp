// How fast Find scans the whole capture: a synthetic capture in the real item
// list (1 KiB chunks of log lines of about 80 characters, then a hex
// capture), indexed as the output area indexes it, searched through the same
// text source and search worker the find bar uses. For each pattern it prints
// the MB of captured text scanned per second until the count was complete,
// and how long the last match took to be found from the start.
//
// With `disk`, the text capture is written through the real journal into
// segment files beside the build (not /tmp, which may be a tmpfs) and its
// items are given back to the journal as the engine does once they are on
// disk, so Find reads every item back from the segments (from the page
// cache: the journal has just written them).
//
//   find_bench [MiB of text, default 256] [MiB of hex, default 64]
//   find_bench disk [MiB of text, default 1024]
#include "data/capture_journal.h"
#include "data/capture_search.h"
#include "data/data_item_array.h"
#include "data/output_text_index.h"
#include "data/output_text_source.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <limits>
#include <mutex>
#include <random>
#include <sys/resource.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kChunk = 1024;

struct Capture {
    std::mutex lock;
    QString prefix = QStringLiteral("Welcome to Vantrel \r\n Ver 0.4");
    CDataItemArray items;
    uint64_t captureId = 1;
    COutputTextIndex index;
    COutputTextSource source{lock, prefix, items, captureId, index};
    qint64 bytes = 0;
    qint64 added = 0;

    std::unique_ptr<CCaptureJournal> journal;

    Capture() { index.Reset(captureId, prefix); }
    // Every item also goes to a journal in `folder`, which takes the items'
    // memory once they are on disk, as the engine's does.
    explicit Capture(const QString& folder) : Capture()
    {
        journal = std::make_unique<CCaptureJournal>(CCaptureJournal::Source{lock, items, captureId, prefix}, folder);
        journal->SetLine(QStringLiteral("COM5"), PortSettings{}, 0);
        journal->SetSpillHandler([this](uint64_t id, int64_t first, const std::vector<uint32_t>& offsets,
                                        const std::shared_ptr<const CJournalSegmentReader>& segment) {
            std::lock_guard guard(lock);
            const int64_t skip = items.GetFirst() - first;
            if (id == captureId && skip >= 0 && skip < int64_t(offsets.size()))
                items.Spill(first + int64_t(offsets.size()), segment, offsets.data() + skip);
        });
    }
    void Add(const QByteArray& chunk, int kind)
    {
        CDataItem item(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
        item.SetKind(kind);
        if (journal) {
            // A new name every 1024 items, as a second of a fast line has.
            const qint64 second = added / 1024;
            item.SetName(QStringLiteral("%1:%2:%3")
                             .arg(second / 3600 % 24, 2, 10, QLatin1Char('0'))
                             .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(second % 60, 2, 10, QLatin1Char('0')));
        }
        std::lock_guard guard(lock);
        index.Append(items.GetAt(items.Add(item)));
        bytes += chunk.size();
        if (journal && ++added % 4096 == 0)
            journal->Wake();
    }
    // Waits until the journal has every item on disk and the list none in
    // memory.
    void Settle()
    {
        if (!journal)
            return;
        journal->Wake();
        journal->Flush();
        std::lock_guard guard(lock);
        std::printf("  %lld of %lld items on disk only, %d segments, %.1f MiB\n",
                    static_cast<long long>(items.GetFirst() - items.GetKept()),
                    static_cast<long long>(items.GetSize()), journal->SegmentCount(),
                    double(journal->SizeOnDisk()) / kMiB);
    }
};

// Lines like a sensor's: a time, a level, a few fields; a rare error line.
void FillWithLogLines(Capture& capture, qint64 total, int kind)
{
    std::mt19937 random(42);
    static const char* const kLevels[] = {"INFO", "DEBUG", "WARN", "INFO"};
    QByteArray stream;
    stream.reserve(int(total / 64 + 2 * kChunk));
    qint64 produced = 0;
    while (produced < total) {
        char line[160];
        const unsigned r = random();
        const int n = std::snprintf(line, sizeof line,
                                    "%02u:%02u:%02u.%03u %-5s sensor=%u temp=%u.%u hum=%u%% vbat=3.%03u seq=%u%s\r\n",
                                    r % 24, r / 24 % 60, r / 1440 % 60, r % 1000, kLevels[r % 4], r % 16, 20 + r % 10,
                                    r % 10, 40 + r % 30, r % 1000, unsigned(random()),
                                    r % 5000 == 0 ? " ERROR checksum mismatch" : "");
        stream.append(line, n);
        while (stream.size() >= kChunk) {
            capture.Add(stream.left(kChunk), kind);
            stream.remove(0, kChunk);
            produced += kChunk;
        }
    }
}

// Processor time of the whole process: the worker's scan, and the event loop
// that waits for it.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

void Measure(Capture& capture, const char* label, const QString& pattern, Qt::CaseSensitivity cs)
{
    CCaptureSearch search(capture.source);
    QEventLoop loop;
    qint64 count = -1;
    double countSeconds = 0;
    double lastSeconds = 0;
    QElapsedTimer timer;
    bool waitingForMatch = false;
    QObject::connect(&search, &CCaptureSearch::countChanged, &loop, [&](qint64 n, bool complete) {
        if (complete && !waitingForMatch) {
            count = n;
            countSeconds = Seconds(timer);
            loop.quit();
        }
    });
    QObject::connect(&search, &CCaptureSearch::matchFound, &loop, [&] {
        lastSeconds = Seconds(timer);
        loop.quit();
    });
    QObject::connect(&search, &CCaptureSearch::matchNotFound, &loop, [&] {
        lastSeconds = Seconds(timer);
        loop.quit();
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);

    const double cpuBefore = CpuSeconds();
    timer.start();
    search.SetPattern(pattern, cs);
    loop.exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double mbPerSecond = double(capture.bytes) / kMiB / countSeconds;

    // The last match, asked for while nothing is known yet (a new pattern).
    search.SetPattern(pattern + QStringLiteral(" "), cs);
    search.SetPattern(pattern, cs);
    waitingForMatch = true;
    timer.start();
    search.FindPrevious(std::numeric_limits<qint64>::max());
    loop.exec();
    const double mChars = double(capture.index.TotalChars()) / kMiB;
    std::printf("%-26s %9lld matches %7.1f MB/s %7.1f Mchar/s (%.3f s; per cpu s %7.1f MB %7.1f Mchar)"
                "  last match after %.3f s\n",
                label, static_cast<long long>(count), mbPerSecond, mChars / countSeconds, countSeconds,
                double(capture.bytes) / kMiB / cpu, mChars / cpu, lastSeconds);
}

void FindOnDisk(qint64 textMiB)
{
    QTemporaryDir folder(QDir::currentPath() + QStringLiteral("/find_bench-XXXXXX"));
    Capture text(folder.path());
    FillWithLogLines(text, textMiB * kMiB, 0);
    std::printf("text capture on disk: %lld MiB in %lld items of %d bytes\n", static_cast<long long>(textMiB),
                static_cast<long long>(text.items.GetSize()), kChunk);
    text.Settle();
    Measure(text, "\"checksum\"", QStringLiteral("checksum"), Qt::CaseSensitive);
    Measure(text, "\"CHECKSUM\" any case", QStringLiteral("CHECKSUM"), Qt::CaseInsensitive);
    Measure(text, "\"no such text\"", QStringLiteral("no such text"), Qt::CaseSensitive);
    Measure(text, "\"WARN\" (common)", QStringLiteral("WARN"), Qt::CaseSensitive);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "disk") {
        FindOnDisk(argc > 2 ? QByteArray(argv[2]).toLongLong() : 1024);
        return 0;
    }
    const qint64 textMiB = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    const qint64 hexMiB = argc > 2 ? QByteArray(argv[2]).toLongLong() : 64;

    {
        Capture text;
        FillWithLogLines(text, textMiB * kMiB, 0);
        std::printf("text capture: %lld MiB in %lld items of %d bytes\n", static_cast<long long>(textMiB),
                    static_cast<long long>(text.items.GetSize()), kChunk);
        Measure(text, "\"checksum\"", QStringLiteral("checksum"), Qt::CaseSensitive);
        Measure(text, "\"CHECKSUM\" any case", QStringLiteral("CHECKSUM"), Qt::CaseInsensitive);
        Measure(text, "\"no such text\"", QStringLiteral("no such text"), Qt::CaseSensitive);
        Measure(text, "\"WARN\" (common)", QStringLiteral("WARN"), Qt::CaseSensitive);
        Measure(text, "\"e\" any case (everywhere)", QStringLiteral("e"), Qt::CaseInsensitive);
    }
    {
        Capture hex;
        FillWithLogLines(hex, hexMiB * kMiB, 1);
        std::printf("hex capture: %lld MiB in %lld items (three characters a byte)\n", static_cast<long long>(hexMiB),
                    static_cast<long long>(hex.items.GetSize()));
        Measure(hex, "\"0d 0a\" any case", QStringLiteral("0D 0A"), Qt::CaseInsensitive);
    }
    std::printf("(MB = MiB of captured bytes, Mchar = Mi characters of the output area's text, scanned per\n"
                " second until the count was complete; per cpu s: per second of processor time, steadier on a\n"
                " busy machine)\n");
    return 0;
}
