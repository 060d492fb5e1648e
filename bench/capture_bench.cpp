// How fast a capture drains a flooded pseudo-terminal, beside `cat` on the
// same terminal fed the same way, and what each recorded chunk costs in
// system calls and CPU time. Prints figures; checks nothing.
//
//   capture_bench [--pairs N] [--mib N] [--only TEXT] [--no-count] [--no-journal] [--old]
//
// Every scenario runs `cat` and the program in turn, N pairs (default 3), and
// prints each pair and the median ratio; then one more run of each with
// system calls counted by perf's tracepoint counters (`perf stat`, which
// needs root or kernel.perf_event_paranoid=-1 and barely slows the counted
// process), as system calls per recorded chunk (per read for cat).
// The feeder is a child process, a plain writer of 64 KiB blocks, so neither
// its time nor its calls count for either side. --old runs the earlier
// scenarios (memory per captured byte, 16-byte chunks, capture lock waits).
//
// Runs on its own registry file and device tree, never on a real port.
#include "app/monitor_dlg.h"
#include "app/output_context_menu.h"
#include "bench/bench_environment.h"
#include "bench/bench_feeder.h"
#include "bench/ui_lateness.h"
#include "platform/device_map.h"
#include "platform/message_box.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_port.h"

#include <QThread>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kBlock = 64 * 1024;
constexpr int kPortNumber = 9;

using bench::BenchTerminal;
using bench::CatRun;
using bench::FeedPace;
using bench::Feeder;
using bench::Median;
using bench::Now;
using bench::Spawn;

double OwnCpuSeconds()
{
    return bench::CpuSeconds(RUSAGE_SELF);
}

// How a scenario feeds the terminal and runs the program. A new scenario is
// a field here (default: as before), a line in Scenarios() and, if it needs
// setting up, a line in Prepare().
struct Scenario {
    const char* name;
    bool window = false;  // the main window shown (offscreen), or the engine alone as the headless mode runs it
    int showFormat = 0;   // 1: hex, otherwise text
    qint64 bytesPerSecond = 0;  // 0: a flood, as fast as the reader drains
    int writeSize = kBlock;     // bytes per write of the feeder
    bool times = false;         // the time column shown beside the text
    qint64 bytes = 0;           // bytes per run; 0: as the options say
};

std::vector<Scenario> Scenarios()
{
    return {
        {"text, no window", false, 0},
        {"hex, no window", false, 1},
        {"text, window", true, 0},
        {"hex, window", true, 1},
        // A steady line: the figure is processor time against cat's.
        {"text, window, time column, steady 1 MB/s in 1 KiB writes", true, 0, 1000 * 1000, 1024, true,
         10 * 1000 * 1000},
        {"text, window, steady 1 MB/s in 1 KiB writes", true, 0, 1000 * 1000, 1024, false, 10 * 1000 * 1000},
    };
}

// Sets up the main window for a scenario before its capture begins.
void Prepare(CMonitorDlg& dlg, const Scenario& scenario)
{
    dlg.Engine().m_nShowFormat = scenario.showFormat;
    if (dlg.isVisible())
        dlg.OutputMenu()
            ->ModeAction(scenario.times ? TimeColumnMode::TimeOfDay : TimeColumnMode::Off)
            ->trigger();
}

// System calls of one process, counted by perf's tracepoint counters while
// this object lives: in all, and by call, for the whole process and for its
// busiest reader (the receive thread, or cat itself).
class SyscallCount {
public:
    static bool Available() { return !QStandardPaths::findExecutable(QStringLiteral("perf")).isEmpty(); }

    explicit SyscallCount(pid_t target)
        : m_output(QDir::tempPath() + QStringLiteral("/vantrel-bench-perf-%1.csv").arg(::getpid()))
    {
        QStringList events;
        for (const char* call : kCalls)
            events << QStringLiteral("syscalls:sys_enter_%1").arg(QLatin1String(call));
        m_pid = Spawn({QStringLiteral("perf"), QStringLiteral("stat"), QStringLiteral("--per-thread"),
                       QStringLiteral("-x,"), QStringLiteral("-o"), m_output, QStringLiteral("-e"),
                       QStringLiteral("raw_syscalls:sys_enter,") + events.join(QLatin1Char(',')),
                       QStringLiteral("-p"), QString::number(target)});
        // perf says nothing once it is counting; give it time to attach.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    // Stops counting and reads the figures: event name to count.
    struct Figures {
        std::map<QString, qint64> process;
        std::map<QString, qint64> reader;
    };
    Figures Stop()
    {
        Figures figures;
        if (m_pid <= 0)
            return figures;
        ::kill(m_pid, SIGINT);
        ::waitpid(m_pid, nullptr, 0);
        QFile file(m_output);
        if (!file.open(QIODevice::ReadOnly))
            return figures;
        // Lines: thread-tid,count,unit,event,...
        std::map<QString, std::map<QString, qint64>> byThread;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.split(',');
            if (f.size() < 4 || f[0].startsWith('#'))
                continue;
            // raw_syscalls:sys_enter counts every call; syscalls:sys_enter_X one.
            QString event = QString::fromLatin1(f[3]).section(QLatin1Char(':'), 1);
            event = event == QLatin1String("sys_enter") ? QStringLiteral("all") : event.remove(QStringLiteral("sys_enter_"));
            byThread[QString::fromLatin1(f[0].trimmed())][event] += f[1].toLongLong();
        }
        file.remove();
        QString busiest;
        for (const auto& [thread, counts] : byThread) {
            for (const auto& [event, count] : counts)
                figures.process[event] += count;
            if (busiest.isEmpty() || Count(counts, "read") > Count(byThread[busiest], "read"))
                busiest = thread;
        }
        if (!busiest.isEmpty())
            figures.reader = byThread[busiest];
        return figures;
    }

    static constexpr const char* kCalls[] = {"read", "ioctl", "poll", "ppoll", "epoll_wait", "futex", "write"};

    static qint64 Count(const std::map<QString, qint64>& counts, const char* event)
    {
        const auto it = counts.find(QString::fromLatin1(event));
        return it == counts.end() ? 0 : it->second;
    }

private:
    QString m_output;
    pid_t m_pid = -1;
};

void PrintCalls(const char* who, const std::map<QString, qint64>& counts, qint64 chunks)
{
    if (chunks <= 0 || counts.empty()) {
        std::printf("    %-20s no counts (is perf allowed to count system calls?)\n", who);
        return;
    }
    auto per = [&](const char* event) { return double(SyscallCount::Count(counts, event)) / double(chunks); };
    std::printf("    %-20s %5.2f calls per chunk:", who, per("all"));
    for (const char* call : SyscallCount::kCalls)
        if (per(call) > 0.005)
            std::printf("  %s %.2f", call, per(call));
    std::printf("\n");
}

struct Run {
    double mibPerSecond = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    qint64 chunks = 0;  // recorded chunks, or cat's reads (from the counted run)
    double worstLateMs = 0;
    SyscallCount::Figures calls;
};

FeedPace PaceOf(const Scenario& scenario)
{
    return FeedPace{scenario.bytesPerSecond, scenario.writeSize};
}

// The baseline, with its system calls counted if asked.
Run RunCat(BenchTerminal& terminal, const QByteArray& block, qint64 total, const Scenario& scenario, bool count,
           const QString& folder)
{
    Run run;
    std::unique_ptr<SyscallCount> counter;
    const CatRun cat = bench::RunCat(
        terminal, block, total, PaceOf(scenario), folder,
        [&](pid_t pid) {
            if (count)
                counter = std::make_unique<SyscallCount>(pid);
        },
        [&] {
            if (counter) {
                run.calls = counter->Stop();
                run.chunks = run.calls.reader[QStringLiteral("read")];
            }
        });
    run.mibPerSecond = cat.mibPerSecond;
    run.cpuSeconds = cat.cpuSeconds;
    run.wallSeconds = cat.wallSeconds;
    return run;
}

// The program capturing from the same terminal until every byte is recorded.
Run RunProgram(CMonitorDlg& dlg, BenchTerminal& terminal, const QByteArray& block, qint64 total,
               const Scenario& scenario, bool count)
{
    Run run;
    dlg.OnClearOutput();
    QCoreApplication::processEvents();
    malloc_trim(0);
    Prepare(dlg, scenario);
    dlg.OnBegin();
    // The receive thread settles and purges the line before it records.
    while (dlg.Engine().Port() && !dlg.Engine().IsListening())
        QThread::msleep(1);
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return run;
    }
    Feeder feeder(terminal.Master(), block, total, PaceOf(scenario));
    // Counting starts once the receive thread exists, so it is counted too.
    std::unique_ptr<SyscallCount> counter(count ? new SyscallCount(::getpid()) : nullptr);

    bench::UiLateness lateness;
    int64_t counted = 0;
    qint64 recorded = 0;
    QEventLoop loop;
    QTimer check;
    const double start = Now();
    // Done once the feeder has written everything and the terminal holds
    // nothing more: reading the items back to count them here would cost
    // this process what the program does not spend.
    QObject::connect(&check, &QTimer::timeout, [&] {
        if ((feeder.Finished() && terminal.Waiting() == 0) || Now() - start > 600)
            loop.quit();
    });
    const double cpuBefore = OwnCpuSeconds();
    feeder.Go();
    feeder.Release();
    lateness.Start();
    check.start(5);
    loop.exec();
    run.wallSeconds = Now() - start;
    run.cpuSeconds = OwnCpuSeconds() - cpuBefore;
    check.stop();
    lateness.Stop();
    if (counter)
        run.calls = counter->Stop();
    // The last chunk read may still be on its way into the list.
    for (int tries = 0; recorded < total && tries < 200; ++tries) {
        if (tries > 0)
            QThread::msleep(10);
        std::lock_guard lock(dlg.Engine().m_csCapture);
        CDataItem scratch;
        for (; counted < dlg.Engine().m_items.GetSize(); ++counted)
            recorded += dlg.Engine().m_items.At(counted, scratch).GetLength();
    }
    if (recorded < total) {
        std::fprintf(stderr, "gave up with %lld of %lld bytes\n", recorded, total);
        feeder.Kill();
    }
    feeder.Wait();
    dlg.OnStop();
    run.chunks = counted;
    run.mibPerSecond = double(recorded) / kMiB / run.wallSeconds;
    run.worstLateMs = lateness.WorstMs();
    return run;
}

struct Options {
    int pairs = 3;
    qint64 bytes = 64 * kMiB;
    QString only;
    bool count = true;
    bool old = false;
    QString folder;  // the program's: the baseline copies into it
};

int RunScenarios(const Options& options)
{
    const QByteArray block = bench::LogLines();
    BenchTerminal terminal;
    if (!terminal.Open()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    platform::setRuntimePortOverride(kPortNumber, terminal.Slave());
    const QString portName = QStringLiteral("COM%1").arg(kPortNumber);
    CMonitorDlg windowed;
    windowed.OnInitDialog();
    windowed.show();
    windowed.Engine().m_strPortName = portName;
    CMonitorDlg engine;  // never shown, as the headless mode runs it
    engine.Engine().m_strPortName = portName;
    QCoreApplication::processEvents();

    const bool count = options.count && SyscallCount::Available();
    if (options.count && !count)
        std::printf("(perf not found: no system call counts)\n");
    std::printf("%lld MiB per run, %d pairs; MiB/s; cpu in seconds per run\n", options.bytes / kMiB, options.pairs);
    for (const Scenario& scenario : Scenarios()) {
        if (!options.only.isEmpty() && !QString::fromLatin1(scenario.name).contains(options.only))
            continue;
        CMonitorDlg& dlg = scenario.window ? windowed : engine;
        std::printf("%s\n", scenario.name);
        // A flood compares drain rates, a steady line processor time.
        const bool steady = scenario.bytesPerSecond > 0;
        const qint64 bytes = scenario.bytes > 0 ? scenario.bytes : options.bytes;
        std::vector<double> ratios;
        for (int pair = 0; pair < options.pairs; ++pair) {
            const Run cat = RunCat(terminal, block, bytes, scenario, false, options.folder);
            const Run program = RunProgram(dlg, terminal, block, bytes, scenario, false);
            ratios.push_back(steady ? program.cpuSeconds / cat.cpuSeconds : program.mibPerSecond / cat.mibPerSecond);
            std::printf("  pair %d: cat %7.1f MiB/s cpu %5.2f s | program %7.1f MiB/s cpu %5.2f s  ui late %5.1f ms"
                        "  ratio %.2f\n",
                        pair + 1, cat.mibPerSecond, cat.cpuSeconds, program.mibPerSecond, program.cpuSeconds,
                        program.worstLateMs, ratios.back());
        }
        std::printf("  median ratio %.2f of cat's %s\n", Median(ratios), steady ? "processor time" : "drain rate");
        if (count) {
            const Run cat = RunCat(terminal, block, bytes, scenario, true, options.folder);
            const Run program = RunProgram(dlg, terminal, block, bytes, scenario, true);
            std::printf("  counted run: %lld chunks (mean %.0f B), cat %lld reads\n", program.chunks,
                        program.chunks ? double(bytes) / double(program.chunks) : 0.0, cat.chunks);
            PrintCalls("program", program.calls.process, program.chunks);
            PrintCalls("its receive thread", program.calls.reader, program.chunks);
            PrintCalls("cat (per read)", cat.calls.process, cat.chunks);
        }
    }
    windowed.DestroyWindow();
    return 0;
}

// The earlier scenarios, as they ran before the fair baseline: an in-process
// feeder, the old cat figure, memory per captured byte, 16-byte chunks and
// how long the capture lock can be unavailable.
namespace earlier {


constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kFloodBytes = 64 * kMiB;
constexpr qint64 kSmallChunkBytes = 2 * kMiB;
constexpr int kSmallChunk = 16;
constexpr int kPortNumber = 9;

using bench::CpuSeconds;
using bench::Now;

qint64 StatusKiB(const char* field)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    qint64 value = 0;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0)
            value = std::atoll(line + n + 1);
    std::fclose(f);
    return value;
}

void ResetPeakMemory()
{
    malloc_trim(0);
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);  // resets VmHWM to the current RSS
        std::fclose(f);
    }
}

// Lines of printable text as a logger would see them.
QByteArray Pattern()
{
    QByteArray block;
    for (int line = 0; block.size() < 64 * 1024; ++line) {
        QByteArray text = QByteArray::number(line).rightJustified(6, '0') + " T=21.5C P=1013hPa RH=45% ";
        while (text.size() < 78)
            text += char('a' + text.size() % 26);
        block += text + "\r\n";
    }
    return block;
}

double CatRate(const QByteArray& pattern)
{
    platform::PseudoTerminal pty;
    if (!pty.Open())
        return 0;
    // Raw, as the capture sets it, so cat reads bytes and not lines.
    termios2 t{};
    ::ioctl(pty.MasterFd(), TCGETS2, &t);
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::ioctl(pty.MasterFd(), TCSETS2, &t);
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start(QStringLiteral("cat"), {pty.SlavePath()});
    if (!cat.waitForStarted())
        return 0;
    // cat has opened the slave once the master stops reporting a hang-up.
    for (int i = 0; i < 500; ++i) {
        pollfd p{pty.MasterFd(), POLLOUT, 0};
        ::poll(&p, 1, 0);
        if (!(p.revents & POLLHUP))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double start = Now();
    bench::FeedInProcess(pty.MasterFd(), pattern, kFloodBytes);
    const double seconds = Now() - start;
    cat.kill();
    cat.waitForFinished();
    return double(kFloodBytes) / kMiB / seconds;
}

struct CaptureFigures {
    double rate = 0;
    double cpu = 0;
    double peakPerMiB = 0;  // bytes of peak memory growth per captured MiB
    double worstLateMs = 0;
    double meanChunk = 0;
    double worstLockWaitMs = 0;  // the longest a would-be recorder waited for the capture lock
};

qint64 RecordedBytes(CMonitorDlg& dlg, int& counted, qint64& sum)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    for (; counted < dlg.Engine().m_items.GetSize(); ++counted)
        sum += dlg.Engine().m_items.GetAt(counted).GetLength();
    return sum;
}

// Captures `total` bytes fed into the port: as fast as the terminal takes
// them, or (chunk > 0) `chunk` bytes at a time, each once the last was read.
CaptureFigures Capture(CMonitorDlg& dlg, platform::PseudoTerminal& pty, const QByteArray& pattern, qint64 total,
                       int showFormat, int chunk)
{
    CaptureFigures figures;
    dlg.OnClearOutput();
    QCoreApplication::processEvents();
    ResetPeakMemory();
    const qint64 rssBefore = StatusKiB("VmRSS");
    dlg.Engine().m_nShowFormat = showFormat;

    dlg.OnBegin();

    // The receive thread settles and purges the line before it records.

    while (dlg.Engine().Port() && !dlg.Engine().IsListening())

        QThread::msleep(1);
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return figures;
    }
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    std::atomic<double> feederCpu{0};
    const double start = Now();
    std::thread feeder([&] {
        if (!chunk) {
            bench::FeedInProcess(pty.MasterFd(), pattern, total);
        } else {
            // Each chunk once the last one is in the item list.
            int feederCounted = 0;
            qint64 feederSum = 0;
            for (qint64 done = 0; done < total; done += chunk) {
                bench::FeedInProcess(pty.MasterFd(), pattern.mid(int(done % (pattern.size() - chunk)), chunk), chunk);
                while (RecordedBytes(dlg, feederCounted, feederSum) < done + chunk)
                    std::this_thread::yield();
            }
        }
        feederCpu = CpuSeconds(RUSAGE_THREAD);
    });

    // How long the capture lock can be unavailable: a probe takes it every
    // millisecond, as the receive thread does for every chunk.
    std::atomic<bool> probing{true};
    std::atomic<double> worstLockWait{0};
    std::thread probe([&] {
        while (probing) {
            const double t = Now();
            { std::lock_guard lock(dlg.Engine().m_csCapture); }
            worstLockWait = std::max(worstLockWait.load(), Now() - t);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    bench::UiLateness lateness;
    lateness.Start();
    // Done is checked from a timer too, so this thread mostly sleeps in the
    // event loop as a user-interface thread does.
    int counted = 0;
    qint64 sum = 0;
    double end = 0;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (RecordedBytes(dlg, counted, sum) >= total || Now() - start > 600)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    check.stop();
    if (sum < total)
        std::fprintf(stderr, "gave up with %lld of %lld bytes\n", sum, total);
    end = Now();
    feeder.join();
    probing = false;
    probe.join();
    // Let the view catch up, still timing the user-interface thread.
    const double settle = Now();
    while (Now() - settle < 0.3)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    lateness.Stop();
    dlg.OnStop();

    figures.rate = double(sum) / kMiB / (end - start);
    figures.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore - feederCpu.load();
    figures.peakPerMiB = double(StatusKiB("VmHWM") - rssBefore) * 1024.0 / (double(sum) / kMiB);
    figures.worstLateMs = lateness.WorstMs();
    figures.meanChunk = counted ? double(sum) / counted : 0;
    figures.worstLockWaitMs = worstLockWait.load() * 1000;
    return figures;
}

void Print(const char* name, const CaptureFigures& f, double catRate)
{
    std::printf("%-24s drain %8.1f MB/s", name, f.rate);
    if (catRate > 0)
        std::printf("  (%.2f of cat)", f.rate / catRate);
    std::printf("  cpu %5.2f s  peak %5.2f B/B  ui late %6.1f ms  lock wait %6.1f ms  chunk %6.1f B\n", f.cpu,
                f.peakPerMiB / kMiB, f.worstLateMs, f.worstLockWaitMs, f.meanChunk);
}

int Run()
{
    const QByteArray pattern = Pattern();
    const double catRate = CatRate(pattern);
    std::printf("cat                      drain %8.1f MB/s  (%lld MiB)\n", catRate, kFloodBytes / kMiB);

    platform::PseudoTerminal pty;
    if (!pty.Open())
        return 1;
    platform::setRuntimePortOverride(kPortNumber, pty.SlavePath());
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    QCoreApplication::processEvents();

    Print("text, 1 KiB chunks", Capture(dlg, pty, pattern, kFloodBytes, 0, 0), catRate);
    Print("hex, 1 KiB chunks", Capture(dlg, pty, pattern, kFloodBytes, 1, 0), catRate);
    Print("text, 16 B chunks", Capture(dlg, pty, pattern, kSmallChunkBytes, 0, kSmallChunk), 0);
    dlg.DestroyWindow();

    // The capture engine alone, with no output area to keep up to date.
    CMonitorDlg engine;
    engine.Engine().m_strPortName = dlg.Engine().m_strPortName;
    Print("text, no window", Capture(engine, pty, pattern, kFloodBytes, 0, 0), catRate);
    Print("hex, no window", Capture(engine, pty, pattern, kFloodBytes, 1, 0), catRate);
    Print("text, 16 B, no window", Capture(engine, pty, pattern, kSmallChunkBytes, 0, kSmallChunk), 0);
    std::printf("(MB = MiB; peak = peak memory growth per captured byte; cpu excludes the feeder)\n");
    return 0;
}

} // namespace earlier

} // namespace

int main(int argc, char** argv)
{
    // The offscreen platform's complaints about window hints are noise here.
    // With --no-journal the journals' folder cannot be made, so the journal
    // stays off and the engine is measured alone.
    const bool noJournal = std::any_of(argv + 1, argv + argc, [](const char* a) { return !std::strcmp(a, "--no-journal"); });
    const BenchEnvironment environment(noJournal ? QByteArray("/dev/null/no-journal") : QByteArray());
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));

    Options options;
    options.folder = environment.Path();
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == QLatin1String("--pairs") && hasValue)
            options.pairs = std::max(1, arguments[++i].toInt());
        else if (a == QLatin1String("--mib") && hasValue)
            options.bytes = std::max(1, arguments[++i].toInt()) * kMiB;
        else if (a == QLatin1String("--only") && hasValue)
            options.only = arguments[++i];
        else if (a == QLatin1String("--no-count"))
            options.count = false;
        else if (a == QLatin1String("--old"))
            options.old = true;
        else if (a == QLatin1String("--no-journal"))
            continue;  // taken before the application started
        else {
            std::fprintf(stderr, "usage: capture_bench [--pairs N] [--mib N] [--only TEXT] [--no-count] [--no-journal] [--old]\n");
            return 2;
        }
    }
    // A counter or cat that outlives us must not keep us from ending.
    std::signal(SIGPIPE, SIG_IGN);
    return options.old ? earlier::Run() : RunScenarios(options);
}
