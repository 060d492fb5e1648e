// What recorded items cost in memory and in time: chunks go into a real item
// list the way the receive thread records them (an item built from the
// bytes, its kind and its per-second name set, added under a lock), and the
// resident size of the process is read before, at the peak and after.
// Then the output area's index over chunks of 16 bytes and of 1 KiB: its
// bytes per item, as it reports them and as the resident size grows, and the
// time of one lookup by offset and by line at random places.
// Prints figures; checks nothing. Uses only the public interfaces.
//
//   item_memory_bench [items]   (default 10000000 items of 1 to 16 bytes;
//                                the other runs scale with it)
#include "data/data_item.h"
#include "data/data_item_array.h"
#include "data/output_text_index.h"
#include "platform/ctime.h"

#include <QString>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <mutex>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

int64_t ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return int64_t(resident) * sysconf(_SC_PAGESIZE);
}

int64_t PeakResidentBytes()
{
    int64_t kib = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "VmHWM:", 6) == 0)
                kib = std::atoll(line + 6);
        std::fclose(f);
    }
    return kib * 1024;
}

// Starts a measurement: freed memory handed back and the peak set to now.
int64_t StartMeasuring()
{
    malloc_trim(0);
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    return ResidentBytes();
}

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The receive thread's name for the current second, made once a second.
QString CurrentName()
{
    static int64_t s_second = INT64_MIN;
    static QString s_name;
    const CTime now = CTime::GetCurrentTime();
    if (now.GetTime() != s_second) {
        s_second = now.GetTime();
        const std::tm local = now.GetLocalTm();
        s_name = QString::asprintf("%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
    }
    return s_name;
}

struct Figures {
    int64_t items = 0;
    int64_t bytes = 0;        // captured bytes
    int64_t resting = 0;      // growth of the resident size once recorded
    int64_t peak = 0;         // growth of the peak resident size while recording
    int64_t afterClear = 0;   // growth left once the list was cleared
    double cpuSeconds = 0;    // recording, on this thread
    double clearMs = 0;       // RemoveAll, wall time

    double RestPerItem() const { return double(resting) / double(items); }
    double RestPerByte() const { return double(resting) / double(bytes); }
    double PeakPerByte() const { return double(peak) / double(bytes); }
    double OverBytesPerItem() const { return double(resting - bytes) / double(items); }
    double ChunksPerSecond() const { return double(items) / cpuSeconds; }
};

// Records `count` chunks, chunk i being `lengthOf(i)` bytes long.
template <typename LengthOf>
Figures Record(int64_t count, LengthOf lengthOf)
{
    std::vector<uint8_t> source(1024);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = uint8_t(i * 7 + 3);
    std::mutex captureLock;
    Figures f;
    f.items = count;
    {
        CDataItemArray list;
        const int64_t before = StartMeasuring();
        const double cpu = ThreadCpuSeconds();
        for (int64_t i = 0; i < count; ++i) {
            const int length = lengthOf(i);
            std::lock_guard lock(captureLock);
            CDataItem item(source.data() + (i % 7), length);
            item.SetKind(1);
            item.SetName(CurrentName());
            list.Add(item);
            f.bytes += length;
        }
        f.cpuSeconds = ThreadCpuSeconds() - cpu;
        f.resting = ResidentBytes() - before;
        f.peak = PeakResidentBytes() - before;
        const auto start = std::chrono::steady_clock::now();
        list.RemoveAll();
        f.clearMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        f.afterClear = ResidentBytes() - before;
    }
    return f;
}

void PrintMemory(const char* name, const Figures& f)
{
    std::printf("%-22s %9lld items  rest %6.1f B/item (%6.1f over its bytes)  %5.2f B/B  peak %5.2f B/B"
                "  left after RemoveAll %7.1f MiB (RemoveAll %.0f ms)\n",
                name, (long long)f.items, f.RestPerItem(), f.OverBytesPerItem(), f.RestPerByte(), f.PeakPerByte(),
                double(f.afterClear) / (1 << 20), f.clearMs);
}

struct IndexFigures {
    int64_t items = 0;
    double reportedPerItem = 0;  // MemoryBytes() per item
    double residentPerItem = 0;  // growth of the resident size per item
    double offsetNs = 0;         // one SegmentAtOffset
    double lineNs = 0;           // one SegmentAtLine
};

// Indexes `count` copies of `chunk` as text, then looks up random offsets and lines.
IndexFigures IndexChunks(int64_t count, const QByteArray& chunk)
{
    IndexFigures f;
    f.items = count;
    CDataItem item(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
    item.SetKind(0);
    const int64_t before = StartMeasuring();
    COutputTextIndex index;
    index.Reset(1, QString());
    for (int64_t i = 0; i < count; ++i)
        index.Append(item);
    f.residentPerItem = double(ResidentBytes() - before) / double(count);
    f.reportedPerItem = double(index.MemoryBytes()) / double(count);

    constexpr int kLookups = 1 << 21;
    std::mt19937_64 random(7);
    std::vector<qint64> offsets(kLookups), lines(kLookups);
    for (int i = 0; i < kLookups; ++i) {
        offsets[size_t(i)] = qint64(random() % uint64_t(index.TotalChars()));
        lines[size_t(i)] = qint64(random() % uint64_t(index.LineCount()));
    }
    qint64 sum = 0;  // keeps the lookups from being optimized away
    auto start = std::chrono::steady_clock::now();
    for (qint64 offset : offsets)
        sum += index.SegmentAtOffset(offset);
    f.offsetNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kLookups;
    start = std::chrono::steady_clock::now();
    for (qint64 line : lines)
        sum += index.SegmentAtLine(line);
    f.lineNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kLookups;
    if (sum == -1)
        std::printf("?\n");
    return f;
}

void PrintIndex(const char* name, const IndexFigures& f)
{
    std::printf("index, %-13s %9lld items  %5.2f B/item reported, %5.2f B/item resident"
                "  SegmentAtOffset %5.0f ns  SegmentAtLine %5.0f ns\n",
                name, (long long)f.items, f.reportedPerItem, f.residentPerItem, f.offsetNs, f.lineNs);
}

} // namespace

int main(int argc, char** argv)
{
    const int64_t items = argc > 1 ? std::max<int64_t>(1000, std::atoll(argv[1])) : 10'000'000;
    std::printf("sizeof(CDataItem) = %zu\n", sizeof(CDataItem));

    const Figures mixed = Record(items, [](int64_t i) { return int(1 + i % 16); });
    PrintMemory("1 to 16 B chunks", mixed);
    const Figures small = Record(items / 2, [](int64_t) { return 16; });
    PrintMemory("16 B chunks", small);
    const Figures large = Record(std::max<int64_t>(1000, items / 50), [](int64_t) { return 1024; });
    PrintMemory("1 KiB chunks", large);
    std::printf("recorded chunks per second of one core: 16 B %.3g, 1 KiB %.3g, 1 to 16 B %.3g\n",
                small.ChunksPerSecond(), large.ChunksPerSecond(), mixed.ChunksPerSecond());

    // The cost at rest of one chunk length at a time: where short chunks stop
    // fitting inside the item.
    std::printf("resting bytes per item over its bytes, by chunk length:");
    for (int length : {1, 8, 16, 17, 19, 20, 24, 32, 64, 256}) {
        const Figures f = Record(std::max<int64_t>(1000, items / 50), [length](int64_t) { return length; });
        std::printf("  %d: %.1f", length, f.OverBytesPerItem());
    }
    std::printf("\n");

    // The output area's index: a short line per chunk, and 1 KiB of 80-character lines.
    QByteArray kibChunk;
    while (kibChunk.size() < 1024)
        kibChunk += QByteArray(78, 'x') + "\r\n";
    kibChunk.truncate(1024);
    PrintIndex("16 B chunks", IndexChunks(items, QByteArray("sensor=12 t=21\r\n")));
    PrintIndex("1 KiB chunks", IndexChunks(std::max<int64_t>(1000, items / 20), kibChunk));
    std::printf("(B/B = bytes of resident memory per captured byte; peak = growth of the peak while recording)\n");
    return 0;
}
