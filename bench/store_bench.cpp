// What a long capture costs in memory and on disk, and how quickly a large
// journal comes back. Prints figures; checks nothing.
//
// 1. `vantrel --capture` with both files at a steady 1 MB/s in 1 KiB writes:
//    its resident memory and the state folder (the journal) against the
//    bytes recorded, sampled every few seconds, and the slope of each over
//    the second half of the run (bytes per recorded MB: 0 for a bounded run).
// 2. A journal of 1 KiB chunks (1 GiB unless told): the time to the restore
//    offer (claiming the journal and reading what it says), the time to
//    restore it (one pass that checks every record), its segments, and the
//    resident memory of this process before and after.
//
//   store_bench [seconds at 1 MB/s, default 120] [journal MiB, default 1024]
//
// Runs the built program next to this one (or $VANTREL_BINARY) on its own
// registry file, device tree and state folder, never on a real port.
#include "bench/bench_headless.h"
#include "capture/capture_engine.h"
#include "data/capture_journal.h"
#include "data/journal_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kSteadyRate = 1000 * 1000;
constexpr int kSteadyWrite = 1024;

qint64 FolderBytes(const QString& folder)
{
    qint64 bytes = 0;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        bytes += info.size();
    return bytes;
}

// The slope of y over x by least squares.
double Slope(const std::vector<double>& x, const std::vector<double>& y)
{
    const size_t n = x.size();
    if (n < 2)
        return 0;
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= double(n);
    my /= double(n);
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < n; ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    return sxx > 0 ? sxy / sxx : 0;
}

void HeadlessRetention(const QString& binary, const QString& folder, const QString& state, int seconds)
{
    bench::BenchTerminal pty;
    if (!pty.Open())
        return;
    bench::HeadlessCapture capture(binary, folder, pty);
    const qint64 pid = capture.process.processId();
    bench::Feeder feeder(pty.Master(), bench::LogLines(), kSteadyRate * seconds,
                         bench::FeedPace{kSteadyRate, kSteadyWrite});
    std::printf("headless, --log and --send-data, steady 1 MB/s for %d s:\n", seconds);
    std::printf("  %10s %12s %12s %14s\n", "seconds", "recorded MB", "RSS MiB", "state KiB");
    std::vector<double> recorded, rss, onDisk;
    const double start = bench::Now();
    feeder.Go();
    const int step = std::max(1, seconds / 20);
    for (int t = step; t <= seconds; t += step) {
        while (bench::Now() - start < t)
            QThread::msleep(50);
        const double mb = double(capture.LogBytes()) / 1e6;
        const qint64 resident = bench::ProcessRssBytes(pid);
        const qint64 journal = FolderBytes(state);
        std::printf("  %10d %12.1f %12.1f %14.1f\n", t, mb, double(resident) / bench::kMiB, double(journal) / 1024);
        std::fflush(stdout);
        if (t > seconds / 2) {
            recorded.push_back(mb);
            rss.push_back(double(resident));
            onDisk.push_back(double(journal));
        }
    }
    feeder.Wait();
    std::printf("  slope over the second half: RSS %.0f bytes and state folder %.0f bytes per recorded MB\n",
                Slope(recorded, rss), Slope(recorded, onDisk));
    capture.Stop();
}

void JournalRestore(const QString& state, qint64 mib)
{
    std::printf("a journal of %lld MiB in 1 KiB chunks:\n", static_cast<long long>(mib));
    {
        // Written by the journal's own writer, from a list filled outside it.
        std::mutex lock;
        CDataItemArray items;
        uint64_t captureId = 1;
        const QString prefix = QStringLiteral("Welcome");
        CCaptureJournal journal({lock, items, captureId, prefix}, state);
        journal.SetLine(QStringLiteral("COM5"), PortSettings{}, 0);
        const QByteArray chunk = bench::LogLines(1024);
        for (qint64 i = 0; i < mib * 1024; ++i) {
            CDataItem item(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
            item.SetName(QStringLiteral("12:00:00"));
            std::lock_guard guard(lock);
            items.Add(std::move(item));
            if (i % 4096 == 0)
                journal.Wake();
        }
        journal.Wake();
        journal.Flush();
        std::printf("  written: %d segments, %.1f MiB on disk\n", journal.SegmentCount(),
                    double(journal.SizeOnDisk()) / bench::kMiB);
    }
    // From the page cache, as at a start soon after the end: the cold case
    // depends on the disk alone.
    const qint64 self = QCoreApplication::applicationPid();
    const double offerStart = bench::Now();
    std::vector<AbandonedJournal> found = ClaimAbandonedJournals(state);
    const double offered = bench::Now() - offerStart;
    if (found.empty()) {
        std::printf("  nothing offered\n");
        return;
    }
    std::printf("  offer: %.3f s (%lld items, %lld bytes)\n", offered, static_cast<long long>(found[0].summary.items),
                static_cast<long long>(found[0].summary.bytes));
    const qint64 rssBefore = bench::ProcessRssBytes(self);
    CCaptureEngine engine;
    const double restoreStart = bench::Now();
    const JournalSummary read = engine.RestoreJournal(found[0]);
    const double restored = bench::Now() - restoreStart;
    std::printf("  restore: %.3f s, %lld items, every record checked; RSS %.0f MiB before, %.0f MiB after\n", restored,
                static_cast<long long>(read.items), double(rssBefore) / bench::kMiB,
                double(bench::ProcessRssBytes(self)) / bench::kMiB);
    // What the window then keeps per item: where each one is on disk, and
    // the output area's index over the text read back from there.
    const double indexStart = bench::Now();
    engine.CatchUpOutputIndex(-1);
    const double indexed = bench::Now() - indexStart;
    int64_t listBytes = 0;
    {
        std::lock_guard lock(engine.m_csCapture);
        listBytes = engine.m_items.SpilledIndexBytes();
    }
    const double items = double(std::max<int64_t>(1, read.items));
    std::printf("  the output area indexed in %.3f s (%.0f MB/s of items read back); per item: list %.2f bytes, "
                "output index %.2f bytes; RSS %.0f MiB\n",
                indexed, double(read.bytes) / 1e6 / std::max(indexed, 1e-9), double(listBytes) / items,
                double(engine.OutputIndex().MemoryBytes()) / items, double(bench::ProcessRssBytes(self)) / bench::kMiB);
    engine.EndJournal();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
    const qint64 journalMiB = argc > 2 ? std::atoll(argv[2]) : 1024;
    QString binary = QString::fromLocal8Bit(qgetenv("VANTREL_BINARY"));
    if (binary.isEmpty())
        binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../vantrel");

    // Beside the build, not in /tmp, which may be a tmpfs.
    QTemporaryDir folder(QDir::currentPath() + QStringLiteral("/store_bench-XXXXXX"));
    const QString state = folder.path() + QStringLiteral("/state/vantrel");
    QDir().mkpath(state);
    qputenv("XDG_STATE_HOME", (folder.path() + QStringLiteral("/state")).toLocal8Bit());
    qputenv("VANTREL_REGISTRY", (folder.path() + QStringLiteral("/registry.reg")).toLocal8Bit());
    qputenv("VANTREL_DEVICE_ROOT", (folder.path() + QStringLiteral("/devroot")).toLocal8Bit());
    QDir(folder.path()).mkpath(QStringLiteral("devroot/dev"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qunsetenv(name);
    std::signal(SIGPIPE, SIG_IGN);

    if (seconds > 0)
        HeadlessRetention(binary, folder.path(), state, seconds);
    if (journalMiB > 0)
        JournalRestore(state, journalMiB);
    return 0;
}
