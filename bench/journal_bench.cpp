// The capture with its journal on disk: how fast a capture with the window
// shown (offscreen) drains a pseudo-terminal fed as fast as it accepts,
// compared with `cat` on the same terminal, in text and in hex; how late the
// user-interface thread gets (each run alternated with the shared `cat`
// baseline, median ratio of 3 pairs); how far the journal falls behind the item list
// (items and milliseconds, worst case); what the journal's writer thread
// costs in processor time and the longest it kept the capture lock; and how
// long the journal takes to catch up after Stop. Prints figures; checks nothing.
//
// Runs on its own registry file, device tree and journal folder, never on a
// real port. JOURNAL_BENCH_MIB sets the size of each flood (default 64).
#include "app/monitor_dlg.h"
#include "bench/bench_environment.h"
#include "bench/bench_feeder.h"
#include "bench/ui_lateness.h"
#include "data/capture_journal.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_port.h"

#include <QThread>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using bench::kMiB;
constexpr int kPortNumber = 9;

using bench::BenchTerminal;
using bench::Now;

qint64 RecordedBytes(CMonitorDlg& dlg, int& counted, qint64& sum)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    for (; counted < dlg.Engine().m_items.GetSize(); ++counted)
        sum += dlg.Engine().m_items.GetAt(counted).GetLength();
    return sum;
}

// One flood with the window and its journal: the drain rate in MiB/s.
double Capture(const char* name, BenchTerminal& pty, const QByteArray& pattern, qint64 total, int showFormat)
{
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    dlg.Engine().m_nShowFormat = showFormat;
    QCoreApplication::processEvents();

    dlg.OnBegin();

    // The receive thread settles and purges the line before it records.

    while (dlg.Engine().Port() && !dlg.Engine().IsListening())

        QThread::msleep(1);
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return 0;
    }
    bench::Feeder feeder(pty.Master(), pattern, total, bench::FeedPace{});
    const double start = Now();
    feeder.Go();

    bench::UiLateness lateness;
    lateness.Start();
    int counted = 0;
    qint64 sum = 0;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (RecordedBytes(dlg, counted, sum) >= total || Now() - start > 600)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    check.stop();
    const double end = Now();
    feeder.Wait();
    lateness.Stop();
    dlg.OnStop();
    // After Stop the journal takes what it has not taken yet at once.
    const double flushStart = Now();
    dlg.Engine().Journal().Flush();
    const double catchUp = Now() - flushStart;

    const CCaptureJournal::Stats stats = dlg.Engine().Journal().GetStats();
    const qint64 journalBytes = QFileInfo(dlg.Engine().Journal().Path()).size();
    const double rate = double(sum) / kMiB / (end - start);
    std::printf("    %-20s drain %7.1f MB/s  ui late %5.1f ms  journal behind at most %lld items / "
                "%.1f ms  writer cpu %.2f s (%.1f%% of the capture)  lock held at most %.2f ms  catch-up after Stop %.1f ms  "
                "journal %.1f MB\n",
                name, rate, lateness.WorstMs(), qlonglong(stats.maxItemsBehind),
                double(stats.maxMicrosBehind) / 1000, double(stats.cpuNanos) / 1e9,
                100.0 * double(stats.cpuNanos) / 1e9 / (end - start), double(stats.maxLockMicros) / 1000, catchUp * 1000,
                double(journalBytes) / kMiB);
    // Discarded, so the folder is empty for the next run.
    dlg.Engine().Journal().End();
    return rate;
}

} // namespace

int main(int argc, char** argv)
{
    // The journals go to the temporary folder's disk, as a user's would go
    // to the home folder's. JOURNAL_BENCH_STATE puts them elsewhere.
    const BenchEnvironment environment(qgetenv("JOURNAL_BENCH_STATE"));
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));

    const qint64 mib = qEnvironmentVariableIntValue("JOURNAL_BENCH_MIB") > 0
                           ? qEnvironmentVariableIntValue("JOURNAL_BENCH_MIB")
                           : 64;
    const qint64 total = mib * kMiB;
    const QByteArray pattern = bench::LogLines();
    BenchTerminal pty;
    if (!pty.Open())
        return 1;
    platform::setRuntimePortOverride(kPortNumber, pty.Slave());
    // The baseline writes where the journal goes.
    const QString journalFolder = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    QDir().mkpath(journalFolder);
    std::printf("floods of %lld MiB, MiB/s\n", qlonglong(mib));
    for (const int showFormat : {0, 1}) {
        const char* name = showFormat ? "hex, journal on" : "text, journal on";
        bench::AlternatePairs(
            name, "MiB/s",
            [&] { return bench::RunCat(pty, pattern, total, bench::FeedPace{}, journalFolder).mibPerSecond; },
            [&] { return Capture(name, pty, pattern, total, showFormat); });
    }
    std::printf("(MB = MiB; the journal is written to %s)\n", qgetenv("XDG_STATE_HOME").constData());
    return 0;
}
