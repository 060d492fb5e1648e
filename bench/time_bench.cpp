// What the times cost. Prints figures; checks nothing.
//  1. A steady 1 MB/s (1 KiB writes of 80-character lines) into a
//     pseudo-terminal with the main window shown (offscreen), the time
//     column off and on (time of day), alternated with the shared `cat`
//     baseline: the program's share of one core for each, and the median
//     ratios (on to off, each to cat).
//  2. A large capture (default 1 GiB in 1 KiB chunks, one a millisecond,
//     the clock set back a minute half-way) put straight into the item
//     list: the latency of Go to Time, from the typed text to the view
//     scrolled and repainted, for random moments in all three forms.
// Options: --seconds N (each steady run), --pairs N, --mib N.
//
// Runs on its own registry file and device tree, never on a real port.
#include "app/go_to_time.h"
#include "app/monitor_dlg.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/time_column.h"
#include "bench/bench_environment.h"
#include "bench/bench_feeder.h"
#include "data/item_time_format.h"
#include "platform/device_map.h"
#include <QDir>
#include "platform/pseudo_terminal.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kPortNumber = 9;

using bench::CpuSeconds;
using bench::Now;

// The program's CPU seconds (the feeder's own left out) for `total` bytes at 1 MB/s.
double SteadyRun(CMonitorDlg& dlg, bench::BenchTerminal& pty, const QByteArray& pattern, qint64 total)
{
    dlg.OnClearOutput();
    QCoreApplication::processEvents();
    dlg.OnBegin();
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return 0;
    }
    // The line settles and is purged before the capture records.
    while (!dlg.Engine().IsListening())
        QThread::msleep(5);
    // A process of its own: its time is nobody's.
    bench::Feeder feeder(pty.Master(), pattern, total, bench::FeedPace{1'000'000, 1024});
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const double start = Now();
    feeder.Go();
    int counted = 0;
    qint64 sum = 0;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        for (; counted < dlg.Engine().m_items.GetSize(); ++counted)
            sum += dlg.Engine().m_items.GetAt(counted).GetLength();
        if (sum >= total || Now() - start > 600)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    feeder.Wait();
    dlg.OnStop();
    return cpu;
}

using bench::Median;

qint64 Option(const QStringList& args, const QString& name, qint64 fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toLongLong() : fallback;
}

void Steady(const QByteArray& pattern, double seconds, int pairs, const QString& folder)
{
    bench::BenchTerminal pty;
    if (!pty.Open())
        return;
    platform::setRuntimePortOverride(kPortNumber, pty.Slave());
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    QCoreApplication::processEvents();
    const qint64 total = qint64(seconds * 1e6);
    std::vector<double> cats, off, on, onToOff, offToCat, onToCat;
    for (int i = 0; i < pairs; ++i) {
        cats.push_back(bench::RunCat(pty, pattern, total, bench::FeedPace{1'000'000, 1024}, folder).cpuSeconds);
        dlg.OutputMenu()->ModeAction(TimeColumnMode::Off)->trigger();
        off.push_back(SteadyRun(dlg, pty, pattern, total));
        dlg.OutputMenu()->ModeAction(TimeColumnMode::TimeOfDay)->trigger();
        on.push_back(SteadyRun(dlg, pty, pattern, total));
        onToOff.push_back(off.back() > 0 ? on.back() / off.back() : 0);
        offToCat.push_back(cats.back() > 0 ? off.back() / cats.back() : 0);
        onToCat.push_back(cats.back() > 0 ? on.back() / cats.back() : 0);
        std::printf("  pair %d: cat %.3f s, column off %.3f s, on %.3f s\n", i + 1, cats.back(), off.back(), on.back());
    }
    std::printf("steady 1 MB/s, %d runs of %.0f s each: cat %.1f%% of a core, column off %.1f%%, on %.1f%% "
                "(medians); median ratios on/off %.2f, off/cat %.2f, on/cat %.2f\n",
                pairs, seconds, 100 * Median(cats) / seconds, 100 * Median(off) / seconds, 100 * Median(on) / seconds,
                Median(onToOff), Median(offToCat), Median(onToCat));
    dlg.DestroyWindow();
}

void GoToTimeLatency(const QByteArray& pattern, qint64 bytes)
{
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    dlg.OutputMenu()->ModeAction(TimeColumnMode::TimeOfDay)->trigger();
    const int64_t start = int64_t(1'796'724'000) * 1'000'000;
    const qint64 items = bytes / 1024;
    const double fillStart = Now();
    for (qint64 i = 0; i < items; ++i) {
        CDataItem item(reinterpret_cast<const uint8_t*>(pattern.constData() + (i * 1024) % (pattern.size() - 1024)),
                       1024);
        item.SetKind(0);
        // One a millisecond; the clock set back a minute half-way.
        const int64_t micros = start + i * 1000 - (i >= items / 2 ? int64_t(60) * 1'000'000 : 0);
        std::lock_guard lock(dlg.Engine().m_csCapture);
        dlg.Engine().m_items.ElementAt(dlg.Engine().m_items.Add(item)).SetTimeMicros(micros);
    }
    dlg.RefreshOutput();
    QCoreApplication::processEvents();
    std::printf("large capture: %lld MiB in %lld items, indexed in %.1f s\n", bytes / kMiB, items, Now() - fillStart);

    QRandomGenerator random(21);
    const double span = double(items) / 1000 - 60;  // seconds, up to the last item's time
    struct Form {
        const char* name;
        std::vector<double> ms;
    } forms[] = {{"offset", {}}, {"time of day", {}}, {"date and time", {}}};
    for (int round = 0; round < 300; ++round) {
        const int form = round % 3;
        const int64_t at = start + int64_t(random.bounded(span) * 1e6);
        QString text;
        if (form == 0)
            text = QStringLiteral("+%1s").arg(double(at - start) / 1e6, 0, 'f', 3);
        else if (form == 1)
            text = FormatItemTime(TimeColumnMode::TimeOfDay, at, start, start);
        else
            text = FormatIsoLocalMicros(at);
        const double t0 = Now();
        dlg.GoToTime()->GoTo(text);
        dlg.m_editOutput->viewport()->repaint();
        dlg.TimeColumn()->repaint();
        forms[form].ms.push_back((Now() - t0) * 1000);
    }
    for (const Form& form : forms) {
        std::vector<double> ms = form.ms;
        std::sort(ms.begin(), ms.end());
        std::printf("go to time (%s), %zu moments: median %.2f ms, worst %.2f ms\n", form.name, ms.size(), Median(ms),
                    ms.back());
    }
    dlg.DestroyWindow();
}

} // namespace

int main(int argc, char** argv)
{
    const BenchEnvironment environment;
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    const QStringList args = QCoreApplication::arguments();
    const double seconds = double(Option(args, QStringLiteral("--seconds"), 10));
    const int pairs = int(Option(args, QStringLiteral("--pairs"), 3));
    const qint64 mib = Option(args, QStringLiteral("--mib"), 1024);
    const QByteArray pattern = bench::LogLines();
    // The baseline writes where the program's journal goes.
    const QString folder = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    QDir().mkpath(folder);
    if (seconds > 0 && pairs > 0)
        Steady(pattern, seconds, pairs, folder);
    if (mib > 0)
        GoToTimeLatency(pattern, mib * kMiB);
    std::printf("(MB = MiB; the feeder is a process of its own)\n");
    return 0;
}
