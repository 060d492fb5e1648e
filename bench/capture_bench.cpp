// How fast a capture drains a pseudo-terminal that is fed as fast as it
// accepts, compared with `cat` on the same terminal, with the main window
// shown (offscreen) and recording everything: in text, then in hex, then the
// memory a capture of 16-byte chunks takes. Prints figures; checks nothing.
//
// Runs on its own registry file and device tree, never on a real port.
#include "app/monitor_dlg.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_port.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kFloodBytes = 64 * kMiB;
constexpr qint64 kSmallChunkBytes = 2 * kMiB;
constexpr int kSmallChunk = 16;
constexpr int kPortNumber = 9;

double Now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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

// Writes `total` bytes to the master as fast as the terminal takes them.
void Feed(int master, const QByteArray& pattern, qint64 total, const std::atomic<bool>* stop = nullptr)
{
    qint64 done = 0;
    while (done < total && !(stop && *stop)) {
        const qint64 offset = done % pattern.size();
        const size_t n = size_t(std::min<qint64>(pattern.size() - offset, total - done));
        const ssize_t written = ::write(master, pattern.constData() + offset, n);
        if (written > 0) {
            done += written;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "write failed: %s\n", std::strerror(errno));
            return;
        } else {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
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
    Feed(pty.MasterFd(), pattern, kFloodBytes);
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
    std::lock_guard lock(dlg.m_csCapture);
    for (; counted < dlg.m_items.GetSize(); ++counted)
        sum += dlg.m_items.GetAt(counted).GetLength();
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
    dlg.m_nShowFormat = showFormat;

    dlg.OnBegin();
    if (!dlg.m_hPort) {
        std::fprintf(stderr, "the capture did not start\n");
        return figures;
    }
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    std::atomic<double> feederCpu{0};
    const double start = Now();
    std::thread feeder([&] {
        if (!chunk) {
            Feed(pty.MasterFd(), pattern, total);
        } else {
            // Each chunk once the last one is in the item list.
            int feederCounted = 0;
            qint64 feederSum = 0;
            for (qint64 done = 0; done < total; done += chunk) {
                Feed(pty.MasterFd(), pattern.mid(int(done % (pattern.size() - chunk)), chunk), chunk);
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
            { std::lock_guard lock(dlg.m_csCapture); }
            worstLockWait = std::max(worstLockWait.load(), Now() - t);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    // The user-interface thread's lateness, seen by a 10 ms timer.
    double lastTick = Now();
    double worstLate = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double t = Now();
        worstLate = std::max(worstLate, t - lastTick - 0.010);
        lastTick = t;
    });
    tick.start(10);
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
    tick.stop();
    dlg.OnStop();

    figures.rate = double(sum) / kMiB / (end - start);
    figures.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore - feederCpu.load();
    figures.peakPerMiB = double(StatusKiB("VmHWM") - rssBefore) * 1024.0 / (double(sum) / kMiB);
    figures.worstLateMs = worstLate * 1000;
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

} // namespace

int main(int argc, char** argv)
{
    // The offscreen platform's complaints about window hints are noise here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg && !message.contains(QLatin1String("propagateSizeHints")) &&
            !message.contains(QLatin1String("XDG_RUNTIME_DIR")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("devroot/dev"));
    qputenv("VANTREL_REGISTRY", (dir.path() + QStringLiteral("/registry.reg")).toLocal8Bit());
    qputenv("VANTREL_DEVICE_ROOT", (dir.path() + QStringLiteral("/devroot")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (dir.path() + QStringLiteral("/state")).toLocal8Bit());  // the capture journals
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));

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
    dlg.m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    QCoreApplication::processEvents();

    Print("text, 1 KiB chunks", Capture(dlg, pty, pattern, kFloodBytes, 0, 0), catRate);
    Print("hex, 1 KiB chunks", Capture(dlg, pty, pattern, kFloodBytes, 1, 0), catRate);
    Print("text, 16 B chunks", Capture(dlg, pty, pattern, kSmallChunkBytes, 0, kSmallChunk), 0);
    dlg.DestroyWindow();

    // The capture engine alone, with no output area to keep up to date.
    CMonitorDlg engine;
    engine.m_strPortName = dlg.m_strPortName;
    Print("text, no window", Capture(engine, pty, pattern, kFloodBytes, 0, 0), catRate);
    Print("hex, no window", Capture(engine, pty, pattern, kFloodBytes, 1, 0), catRate);
    Print("text, 16 B, no window", Capture(engine, pty, pattern, kSmallChunkBytes, 0, kSmallChunk), 0);
    std::printf("(MB = MiB; peak = peak memory growth per captured byte; cpu excludes the feeder)\n");
    return 0;
}
