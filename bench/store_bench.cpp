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
//    resident memory of this process before and after; then the same for a
//    journal of 16-byte chunks, with the indexes' bytes per captured byte.
//
// 3. With `window`: the real window captures a pseudo-terminal fed as fast
//    as it drains (8 GiB unless told, read in 1 KiB chunks): every GiB its
//    resident memory, the state folder and what its indexes take per item
//    (the item list's and the output area's); then the output area scrolled
//    to a few places across the capture and a Find over all of it, with the
//    resident memory after each. The journal goes to a state folder beside
//    the build and is removed at the end.
//
//   store_bench [seconds at 1 MB/s, default 120] [journal MiB, default 1024] [MiB of 16-byte chunks, default 64]
//   store_bench window [GiB, default 8]
//
// Runs the built program next to this one (or $VANTREL_BINARY) on its own
// registry file, device tree and state folder, never on a real port.
#include "app/monitor_dlg.h"
#include "app/output_view.h"
#include "bench/bench_environment.h"
#include "bench/bench_headless.h"
#include "capture/capture_engine.h"
#include "data/capture_journal.h"
#include "data/capture_search.h"
#include "data/journal_file.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <poll.h>
#include <thread>
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

void JournalRestore(const QString& state, qint64 mib, int chunkBytes)
{
    std::printf("a journal of %lld MiB in %d-byte chunks:\n", static_cast<long long>(mib), chunkBytes);
    {
        // Written by the journal's own writer, from a list filled outside it.
        std::mutex lock;
        CDataItemArray items;
        uint64_t captureId = 1;
        const QString prefix = QStringLiteral("Welcome");
        CCaptureJournal journal({lock, items, captureId, prefix}, state);
        journal.SetLine(QStringLiteral("COM5"), PortSettings{}, 0);
        const QByteArray chunk = bench::LogLines(chunkBytes);
        for (qint64 i = 0; i < mib * bench::kMiB / chunkBytes; ++i) {
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
    const double indexBytes = double(listBytes) + double(engine.OutputIndex().MemoryBytes());
    std::printf("  the output area indexed in %.3f s (%.0f MB/s of items read back); per item: list %.2f bytes, "
                "output index %.2f bytes (%.2f bytes of index per captured byte); RSS %.0f MiB\n",
                indexed, double(read.bytes) / 1e6 / std::max(indexed, 1e-9), double(listBytes) / items,
                double(engine.OutputIndex().MemoryBytes()) / items, indexBytes / double(std::max<qint64>(1, read.bytes)),
                double(bench::ProcessRssBytes(self)) / bench::kMiB);
    engine.EndJournal();
}

// Runs the window's event loop for `seconds`, or until `done` says so.
void RunEvents(double seconds, const std::function<bool()>& done = {})
{
    const double until = bench::Now() + seconds;
    while (bench::Now() < until && !(done && done()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct WindowFigures {
    qint64 items = 0;
    qint64 inMemory = 0;
    double listPerItem = 0;
    double indexPerItem = 0;
};

WindowFigures Indexes(CMonitorDlg& dlg)
{
    CCaptureEngine& engine = dlg.Engine();
    WindowFigures f;
    qint64 listBytes = 0;
    {
        std::lock_guard lock(engine.m_csCapture);
        f.items = engine.m_items.GetSize();
        f.inMemory = engine.m_items.GetSize() - engine.m_items.GetFirst();
        listBytes = engine.m_items.SpilledIndexBytes() + qint64(engine.m_items.GetCapacity()) * qint64(sizeof(CDataItem));
    }
    const double items = double(std::max<qint64>(1, f.items));
    f.listPerItem = double(listBytes) / items;
    f.indexPerItem = double(engine.OutputIndex().MemoryBytes()) / items;
    return f;
}

// Bytes this process has had fetched from storage (not from the page cache).
qint64 StorageReadBytes()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("read_bytes:"))
            return line.mid(11).trimmed().toLongLong();
    return 0;
}

// Counts `pattern` over the whole output area through the find bar's worker.
void FindEverywhere(CMonitorDlg& dlg, const QString& pattern, qint64 recorded)
{
    CCaptureSearch search(dlg.OutputText());
    QEventLoop loop;
    qint64 count = -1;
    QObject::connect(&search, &CCaptureSearch::countChanged, &loop, [&](qint64 n, bool complete) {
        if (complete) {
            count = n;
            loop.quit();
        }
    });
    QTimer::singleShot(1800 * 1000, &loop, &QEventLoop::quit);
    const qint64 fetchedBefore = StorageReadBytes();
    const double start = bench::Now();
    search.SetPattern(pattern, Qt::CaseSensitive);
    loop.exec();
    const double seconds = bench::Now() - start;
    std::printf("  Find \"%s\": %lld matches in %.1f s, %.0f MB/s of recorded text, %.0f MiB of it from the "
                "disk (the rest from the page cache); RSS %.1f MiB\n",
                qPrintable(pattern), static_cast<long long>(count), seconds, double(recorded) / bench::kMiB / seconds,
                double(StorageReadBytes() - fetchedBefore) / bench::kMiB,
                double(bench::ProcessRssBytes(QCoreApplication::applicationPid())) / bench::kMiB);
}

int WindowCapture(int argc, char** argv, qint64 gib)
{
    // The journal beside the build, not in /tmp, which may be a tmpfs.
    QTemporaryDir stateHome(QDir::currentPath() + QStringLiteral("/store_bench-XXXXXX"));
    const BenchEnvironment environment(stateHome.path().toLocal8Bit());
    const QString state = stateHome.path() + QStringLiteral("/vantrel");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    std::signal(SIGPIPE, SIG_IGN);
    const qint64 self = QCoreApplication::applicationPid();
    auto rssMiB = [&] { return double(bench::ProcessRssBytes(self)) / bench::kMiB; };

    constexpr int kPort = 7;
    platform::PseudoTerminal pty;
    if (!pty.Open())
        return 1;
    platform::setRuntimePortOverride(kPort, pty.SlavePath());
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPort);
    RunEvents(0.2);
    std::printf("the window, %lld GiB fed as fast as it drains: RSS at start %.1f MiB\n",
                static_cast<long long>(gib), rssMiB());
    dlg.OnBegin();
    RunEvents(10, [&] { return !dlg.Engine().Port() || dlg.Engine().IsListening(); });
    if (!dlg.Engine().IsListening()) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }
    std::printf("  %5s %8s %10s %12s %12s %10s %12s %12s\n", "GiB", "seconds", "RSS MiB", "state MiB", "items",
                "in memory", "list B/item", "index B/item");
    const qint64 total = gib << 30;
    std::atomic<qint64> written{0};
    std::atomic<bool> stop{false};
    std::thread feeder([&] { bench::FeedInProcess(pty.MasterFd(), bench::LogLines(), total, &written, &stop); });
    const double start = bench::Now();
    for (qint64 mark = 1; mark <= gib; ++mark) {
        RunEvents(3600, [&] { return written >= (mark << 30); });
        if (mark == gib) {
            // Every byte in the list, indexed, and on disk.
            dlg.Engine().Journal().Flush();
            RunEvents(2);
            dlg.RefreshOutput();
        }
        const WindowFigures f = Indexes(dlg);
        std::printf("  %5lld %8.1f %10.1f %12.1f %12lld %10lld %12.2f %12.2f\n", static_cast<long long>(mark),
                    bench::Now() - start, rssMiB(), double(FolderBytes(state)) / bench::kMiB,
                    static_cast<long long>(f.items), static_cast<long long>(f.inMemory), f.listPerItem, f.indexPerItem);
        std::fflush(stdout);
    }
    stop = true;
    feeder.join();

    // A few places across the capture, painted.
    const qint64 chars = dlg.Engine().OutputIndex().TotalChars();
    for (const double at : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        dlg.m_editOutput->ShowAtTop(std::min<qint64>(chars - 1, qint64(at * double(chars))));
        dlg.m_editOutput->viewport()->repaint();
        RunEvents(0.3);
        std::printf("  scrolled to %3.0f%% of the text: RSS %.1f MiB\n", at * 100, rssMiB());
    }
    // The first scan may read from the disk what the page cache let go; the
    // second shows the rate from the cache.
    FindEverywhere(dlg, QStringLiteral("no such text"), written);
    FindEverywhere(dlg, QStringLiteral("no such text"), written);
    FindEverywhere(dlg, QStringLiteral("RH=45%"), written);
    std::printf("  RSS at the end %.1f MiB\n", rssMiB());
    std::fflush(stdout);

    dlg.OnStop();
    dlg.OnClearOutput();  // removes the journal
    dlg.DestroyWindow();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "window") {
        Q_INIT_RESOURCE(resources);
        return WindowCapture(argc, argv, argc > 2 ? std::max(1LL, std::atoll(argv[2])) : 8);
    }
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
    const qint64 journalMiB = argc > 2 ? std::atoll(argv[2]) : 1024;
    const qint64 smallMiB = argc > 3 ? std::atoll(argv[3]) : 64;
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
        JournalRestore(state, journalMiB, 1024);
    // The small chunks of a slow line: what the indexes cost per byte.
    if (smallMiB > 0)
        JournalRestore(state, smallMiB, 16);
    return 0;
}
