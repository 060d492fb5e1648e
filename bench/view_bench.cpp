// What the output area costs. Prints figures; checks nothing.
//  0. A steady line (100 lines a second) and a steady 1 MB/s through a
//     pseudo-terminal with the main window shown (offscreen), the time
//     column off and on: what Qt asks the output area, the time column, the
//     status line and the scroll bar to paint, in paint events and pixels a
//     second, and the program's CPU time (receive thread and journal included).
//  1. A steady 1 MB/s (1 KiB writes) into a pseudo-terminal with the main
//     window shown (offscreen): the program's CPU time as a multiple of the
//     shared `cat` baseline's, alternated with it, median of the pairs.
//  2. A flood, alternating the baseline and the program, text and hex: the
//     median ratio of their drain rates, fed in 64 KiB writes.
//  3. A large capture (default 1 GiB of text in 1 KiB chunks of 80-character
//     lines, and 256 MiB in hex) put straight into the item list while more
//     keeps arriving: how late the user-interface thread gets while the view
//     scrolls in page steps and jumps to random places, and the view's own
//     memory per captured byte.
// Options: --paint-seconds N (each paint run), --seconds N (steady run),
// --pairs N (flood pairs), --text-mib N, --hex-mib N, --pages N (page steps
// per run; 0 = start to end). A section given 0 is left out.
//
// Runs on its own registry file and device tree, never on a real port.
#include "app/monitor_dlg.h"
#include "bench/bench_environment.h"
#include "bench/bench_feeder.h"
#include "bench/ui_lateness.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/time_column.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"

#include <QThread>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>
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

qint64 Recorded(CMonitorDlg& dlg, int& counted, qint64& sum)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    for (; counted < dlg.Engine().m_items.GetSize(); ++counted)
        sum += dlg.Engine().m_items.GetAt(counted).GetLength();
    return sum;
}

struct Run {
    double rate = 0;  // MB/s
    double cpu = 0;   // seconds, without the feeder
};

// The program capturing `total` bytes fed through the terminal.
Run RunProgram(CMonitorDlg& dlg, bench::BenchTerminal& pty, const QByteArray& pattern, qint64 total, int showFormat,
               int block, double perSecond = 0)
{
    Run run;
    dlg.OnClearOutput();
    dlg.Engine().m_nShowFormat = showFormat;
    QCoreApplication::processEvents();
    dlg.OnBegin();
    // The receive thread settles and purges the line before it records.
    while (dlg.Engine().Port() && !dlg.Engine().IsListening())
        QThread::msleep(1);
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return run;
    }
    // A process of its own: its time is nobody's.
    bench::Feeder feeder(pty.Master(), pattern, total, bench::FeedPace{qint64(perSecond), block});
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const double start = Now();
    feeder.Go();
    int counted = 0;
    qint64 sum = 0;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (Recorded(dlg, counted, sum) >= total || Now() - start > 600)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    const double end = Now();
    run.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    feeder.Wait();
    dlg.OnStop();
    run.rate = double(sum) / kMiB / (end - start);
    return run;
}

// Adds items straight to the list, `bytes` of them, in 1 KiB chunks.
void AddItems(CMonitorDlg& dlg, const QByteArray& pattern, qint64 bytes, int kind, const std::atomic<bool>* stop = nullptr)
{
    for (qint64 done = 0; done < bytes && !(stop && *stop); done += 1024) {
        CDataItem item(reinterpret_cast<const uint8_t*>(pattern.constData() + done % (pattern.size() - 1024)), 1024);
        item.SetKind(kind);
        std::lock_guard lock(dlg.Engine().m_csCapture);
        dlg.Engine().m_items.Add(item);
    }
    dlg.NotifyOutputChanged();
}

// Counts what Qt asks a widget to paint.
class PaintMeter : public QObject {
public:
    explicit PaintMeter(QWidget* widget) { widget->installEventFilter(this); }
    qint64 events = 0;
    qint64 pixels = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++events;
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region())
                pixels += qint64(rect.width()) * rect.height();
        }
        return false;
    }
};

// Feeds `perSecond` bytes a second in writes of `writeSize` for `seconds`
// into a window that follows the end of a capture that already fills it,
// and prints what each part of it painted a second.
void MeasurePaints(CMonitorDlg& dlg, bench::BenchTerminal& pty, const QByteArray& pattern, const char* name,
                   qint64 perSecond, int writeSize, double seconds, bool times)
{
    dlg.OutputMenu()->ModeAction(times ? TimeColumnMode::TimeOfDay : TimeColumnMode::Off)->trigger();
    dlg.OnClearOutput();
    dlg.Engine().m_nShowFormat = 0;
    AddItems(dlg, pattern, 64 * 1024, 0);
    dlg.RefreshOutput();
    dlg.OnBegin();
    while (dlg.Engine().Port() && !dlg.Engine().IsListening())
        QThread::msleep(1);
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return;
    }
    QCoreApplication::processEvents();
    int counted = 0;
    qint64 sum = 0;
    const qint64 before = Recorded(dlg, counted, sum);
    const qint64 total = qint64(double(perSecond) * seconds);
    PaintMeter view(dlg.m_editOutput->viewport());
    PaintMeter column(dlg.TimeColumn());
    PaintMeter status(dlg.findChild<QLabel*>(QStringLiteral("statusLine")));
    PaintMeter bar(dlg.m_editOutput->verticalScrollBar());
    bench::Feeder feeder(pty.Master(), pattern, total, bench::FeedPace{perSecond, writeSize});
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const double start = Now();
    feeder.Go();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (Recorded(dlg, counted, sum) - before >= total || Now() - start > 10 * seconds + 60)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    const double end = Now();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    feeder.Wait();
    dlg.OnStop();
    const double span = end - start;
    auto rate = [span](const PaintMeter& m) { return std::pair{double(m.events) / span, double(m.pixels) / span / 1000}; };
    const auto [v, vp] = rate(view);
    const auto [c, cp] = rate(column);
    const auto [t, tp] = rate(status);
    const auto [b, bp] = rate(bar);
    std::printf("%-24s times %-3s: view %5.1f/s %8.0f kpx/s; time column %5.1f/s %7.0f kpx/s;"
                " status %4.1f/s %5.0f kpx/s; scroll bar %5.1f/s %5.0f kpx/s; cpu %4.1f%% (viewport %dx%d)\n",
                name, times ? "on" : "off", v, vp, c, cp, t, tp, b, bp, 100 * cpu / span,
                dlg.m_editOutput->viewport()->width(), dlg.m_editOutput->viewport()->height());
    std::fflush(stdout);
}

void Key(QWidget* view, int key, Qt::KeyboardModifiers modifiers = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(view, &press);
}

// Scrolls a large capture while more floods in, timing the user-interface thread.
void ScrollLargeCapture(const char* name, const QByteArray& pattern, qint64 bytes, int kind, int pages)
{
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    QCoreApplication::processEvents();
    const double fill = Now();
    AddItems(dlg, pattern, bytes, kind);
    dlg.RefreshOutput();
    const double indexed = Now() - fill;
    COutputView* view = dlg.m_editOutput;

    // More keeps arriving at about 4 MB/s through the usual notification.
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        while (!stop) {
            AddItems(dlg, pattern, 64 * 1024, kind, &stop);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    bench::UiLateness lateness;
    lateness.Start();

    // Each step is one event, handled and painted as a person's key press is.
    double worstStep = 0;
    double firstStep = 0;
    int steps = 0;
    auto step = [&](const std::function<void()>& action) {
        const double t = Now();
        action();
        view->viewport()->repaint();
        // The first paint loads the font's glyphs; it is reported apart.
        (steps == 0 ? firstStep : worstStep) = std::max(steps == 0 ? firstStep : worstStep, Now() - t);
        ++steps;
        QCoreApplication::processEvents();
    };
    step([&] { Key(view, Qt::Key_Home, Qt::ControlModifier); });
    const double scrollStart = Now();
    const qint64 lines = view->Layout().LineCount();
    while (view->VisibleEnd() < view->TextLength() - 1 && (pages == 0 || steps < pages))
        step([&] { Key(view, Qt::Key_PageDown); });
    const int pageSteps = steps;
    const double pageSeconds = Now() - scrollStart;
    QRandomGenerator random(7);
    for (int i = 0; i < 500; ++i)
        step([&] { view->verticalScrollBar()->setValue(random.bounded(view->verticalScrollBar()->maximum() + 1)); });
    stop = true;
    flood.join();
    dlg.RefreshOutput();
    lateness.Stop();

    qint64 captured = 0;
    {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        for (int64_t i = 0; i < dlg.Engine().m_items.GetSize(); ++i)
            captured += dlg.Engine().m_items.GetAt(i).GetLength();
    }
    const qint64 indexBytes = dlg.OutputText().IndexMemoryBytes();
    std::printf("%-5s %6lld MiB, %9lld lines: indexed in %.2f s; %d page steps in %.2f s, 500 jumps;"
                " first step %.1f ms, worst step after it %.1f ms, ui late %.1f ms; index %.4f B per captured byte\n",
                name, captured / kMiB, lines, indexed, pageSteps, pageSeconds, firstStep * 1000, worstStep * 1000, lateness.WorstMs(),
                double(indexBytes) / double(qMax<qint64>(1, captured)));
    dlg.DestroyWindow();
}

qint64 Option(const QStringList& args, const QString& name, qint64 fallback)
{
    const int at = int(args.indexOf(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toLongLong() : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const BenchEnvironment environment;
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    const QStringList args = QCoreApplication::arguments();
    const double paintSeconds = double(Option(args, QStringLiteral("--paint-seconds"), 10));
    const double seconds = double(Option(args, QStringLiteral("--seconds"), 20));
    const int pairs = int(Option(args, QStringLiteral("--pairs"), 3));
    const qint64 textMiB = Option(args, QStringLiteral("--text-mib"), 1024);
    const qint64 hexMiB = Option(args, QStringLiteral("--hex-mib"), 256);
    const int pages = int(Option(args, QStringLiteral("--pages"), 0));
    const QByteArray pattern = bench::LogLines();

    {
        bench::BenchTerminal pty;
        if (!pty.Open())
            return 1;
        platform::setRuntimePortOverride(kPortNumber, pty.Slave());
        CMonitorDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
        QCoreApplication::processEvents();
        // The baseline writes where the program's journal goes.
        const QString folder = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
        QDir().mkpath(folder);

        // 0. What a steady capture paints.
        if (paintSeconds > 0) {
            std::printf("paints, %.0f s each:\n", paintSeconds);
            for (bool times : {false, true}) {
                MeasurePaints(dlg, pty, pattern, "100 lines/s (80 B each)", 100 * 80, 80, paintSeconds, times);
                MeasurePaints(dlg, pty, pattern, "1 MB/s (1 KiB writes)", 1'000'000, 1024, paintSeconds, times);
            }
            dlg.OutputMenu()->ModeAction(TimeColumnMode::Off)->trigger();
        }

        // 1. Steady 1 MB/s in 1 KiB writes: CPU seconds.
        const qint64 steadyBytes = qint64(seconds * 1e6);
        const bench::FeedPace steadyPace{1'000'000, 1024};
        if (seconds > 0) {
            std::printf("steady 1 MB/s, %.0f s, cpu seconds:\n", seconds);
            bench::AlternatePairs(
                "steady", "s", [&] { return bench::RunCat(pty, pattern, steadyBytes, steadyPace, folder).cpuSeconds; },
                [&] { return RunProgram(dlg, pty, pattern, steadyBytes, 0, 1024, 1e6).cpu; }, pairs);
        }

        // 2. Flood.
        const qint64 floodBytes = 64 * kMiB;
        for (int format : {0, 1}) {
            if (pairs <= 0)
                break;
            std::printf("flood %s, MiB/s:\n", format ? "hex" : "text");
            bench::AlternatePairs(
                format ? "flood hex" : "flood text", "MiB/s",
                [&] { return bench::RunCat(pty, pattern, floodBytes, bench::FeedPace{}, folder).mibPerSecond; },
                [&] { return RunProgram(dlg, pty, pattern, floodBytes, format, 64 * 1024).rate; }, pairs);
        }
        dlg.DestroyWindow();
    }

    // 3. Large captures.
    if (textMiB > 0)
        ScrollLargeCapture("text", pattern, textMiB * kMiB, 0, pages);
    if (hexMiB > 0)
        ScrollLargeCapture("hex", pattern, hexMiB * kMiB, 1, pages);
    std::printf("(MB = MiB; the feeder is a process of its own)\n");
    return 0;
}
