// The capture without a window as a separate process: how fast it drains a
// pseudo-terminal fed as fast as it accepts, writing both files, beside
// `cat` on the same kind of terminal in the same run; and the processor
// time it takes at a steady 1 MB/s. Prints figures; checks nothing.
//
//   headless_bench [MiB to flood, default 64] [seconds at 1 MB/s, default 10]
//
// Runs the built program next to this one (or $VANTREL_BINARY) on its own
// registry file and device tree, never on a real port.
#include "platform/pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <asm/termbits.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kSteadyRate = 1000 * 1000;  // bytes per second
constexpr int kSteadyTickMs = 10;

double Now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

// Processor seconds (user and system) that process `pid` has used.
double CpuSeconds(qint64 pid)
{
    FILE* f = std::fopen(QStringLiteral("/proc/%1/stat").arg(pid).toLocal8Bit().constData(), "r");
    if (!f)
        return 0;
    char buffer[1024] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = 0;
    // Fields 14 and 15 (utime, stime) follow the command name in parentheses.
    const char* p = std::strrchr(buffer, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return 0;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

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

// Writes `total` bytes as fast as the terminal takes them.
void Feed(int master, const QByteArray& pattern, qint64 total)
{
    qint64 done = 0;
    while (done < total) {
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

// Waits until the far end's reader has the terminal open.
void WaitForReader(const platform::PseudoTerminal& pty)
{
    for (int i = 0; i < 2500; ++i) {
        pollfd p{pty.MasterFd(), POLLOUT, 0};
        ::poll(&p, 1, 0);
        if (!(p.revents & POLLHUP))
            break;
        QThread::msleep(2);
    }
}

double CatRate(const QByteArray& pattern, qint64 bytes)
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
    WaitForReader(pty);
    QThread::msleep(50);
    const double start = Now();
    Feed(pty.MasterFd(), pattern, bytes);
    const double seconds = Now() - start;
    cat.kill();
    cat.waitForFinished();
    return double(bytes) / kMiB / seconds;
}

struct Capture {
    Capture(const QString& binary, const QString& folder, const platform::PseudoTerminal& pty)
        : m_log(folder + QStringLiteral("/bench.log")), m_sendData(folder + QStringLiteral("/bench.sds"))
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(binary, {QStringLiteral("--capture"), QStringLiteral("--quiet"), QStringLiteral("--device"),
                               pty.SlavePath(), QStringLiteral("--log"), m_log, QStringLiteral("--send-data"),
                               m_sendData});
        process.waitForStarted();
        // Recording once a probe byte has reached the Send Data file.
        for (int i = 0; i < 200 && QFileInfo(m_sendData).size() == 0; ++i) {
            [[maybe_unused]] const ssize_t w = ::write(pty.MasterFd(), "~", 1);
            QThread::msleep(50);
        }
    }
    int Stop()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(60000);
        return process.exitCode();
    }
    qint64 FileBytes() const { return QFileInfo(m_log).size() + QFileInfo(m_sendData).size(); }

    QProcess process;
    QString m_log, m_sendData;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 floodBytes = (argc > 1 ? std::atoll(argv[1]) : 64) * kMiB;
    const int steadySeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    QString binary = QString::fromLocal8Bit(qgetenv("VANTREL_BINARY"));
    if (binary.isEmpty())
        binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../vantrel");

    QTemporaryDir folder;
    qputenv("VANTREL_REGISTRY", (folder.path() + QStringLiteral("/registry.reg")).toLocal8Bit());
    qputenv("VANTREL_DEVICE_ROOT", (folder.path() + QStringLiteral("/devroot")).toLocal8Bit());
    QDir(folder.path()).mkpath(QStringLiteral("devroot/dev"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qunsetenv(name);
    const QByteArray pattern = Pattern();

    // 1. As fast as the terminal takes it: cat, then the capture.
    const double catRate = CatRate(pattern, floodBytes);
    double captureRate = 0;
    qint64 written = 0;
    {
        platform::PseudoTerminal pty;
        if (!pty.Open())
            return 1;
        Capture capture(binary, folder.path(), pty);
        const double start = Now();
        Feed(pty.MasterFd(), pattern, floodBytes);
        captureRate = double(floodBytes) / kMiB / (Now() - start);
        if (capture.Stop() != 0)
            std::fprintf(stderr, "the capture did not end with status 0\n");
        written = capture.FileBytes();
    }
    std::printf("flood of %lld MiB: cat %.1f MiB/s, capture with both files %.1f MiB/s, ratio %.2f (target >= 0.90); "
                "%.1f MiB written\n",
                static_cast<long long>(floodBytes / kMiB), catRate, captureRate,
                catRate > 0 ? captureRate / catRate : 0.0, double(written) / kMiB);

    // 2. A steady 1 MB/s for a while: the processor time the capture takes.
    {
        platform::PseudoTerminal pty;
        if (!pty.Open())
            return 1;
        Capture capture(binary, folder.path(), pty);
        const qint64 pid = capture.process.processId();
        const double cpuStart = CpuSeconds(pid);
        const double start = Now();
        const qint64 perTick = kSteadyRate * kSteadyTickMs / 1000;
        qint64 sent = 0;
        while (Now() - start < steadySeconds) {
            Feed(pty.MasterFd(), pattern.left(int(perTick)), perTick);
            sent += perTick;
            const double due = start + double(sent) / double(kSteadyRate);
            if (due > Now())
                QThread::usleep(static_cast<unsigned long>((due - Now()) * 1e6));
        }
        const double seconds = Now() - start;
        const double cpu = CpuSeconds(pid) - cpuStart;
        capture.Stop();
        std::printf("steady %.2f MB/s for %.0f s: %.1f%% of one core (target <= 5%%)\n",
                    double(sent) / seconds / 1e6, seconds, 100.0 * cpu / seconds);
    }
    return 0;
}
