// The capture with its journal on disk: how fast a capture with the window
// shown (offscreen) drains a pseudo-terminal fed as fast as it accepts,
// compared with `cat` on the same terminal, in text and in hex; how late the
// user-interface thread gets; how far the journal falls behind the item list
// (items and milliseconds, worst case); what the journal's writer thread
// costs in processor time and the longest it kept the capture lock; and how
// long the journal takes to catch up after Stop. Prints figures; checks nothing.
//
// Runs on its own registry file, device tree and journal folder, never on a
// real port. JOURNAL_BENCH_MIB sets the size of each flood (default 64).
#include "app/monitor_dlg.h"
#include "bench/bench_environment.h"
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

constexpr qint64 kMiB = 1024 * 1024;
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

double CatRate(const QByteArray& pattern, qint64 total)
{
    platform::PseudoTerminal pty;
    if (!pty.Open())
        return 0;
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
    for (int i = 0; i < 500; ++i) {
        pollfd p{pty.MasterFd(), POLLOUT, 0};
        ::poll(&p, 1, 0);
        if (!(p.revents & POLLHUP))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double start = Now();
    Feed(pty.MasterFd(), pattern, total);
    const double seconds = Now() - start;
    cat.kill();
    cat.waitForFinished();
    return double(total) / kMiB / seconds;
}

qint64 RecordedBytes(CMonitorDlg& dlg, int& counted, qint64& sum)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    for (; counted < dlg.Engine().m_items.GetSize(); ++counted)
        sum += dlg.Engine().m_items.GetAt(counted).GetLength();
    return sum;
}

void Capture(const char* name, platform::PseudoTerminal& pty, const QByteArray& pattern, qint64 total,
             int showFormat, double catRate)
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
        return;
    }
    const double start = Now();
    std::thread feeder([&] { Feed(pty.MasterFd(), pattern, total); });

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
    feeder.join();
    tick.stop();
    dlg.OnStop();
    // After Stop the journal takes what it has not taken yet at once.
    const double flushStart = Now();
    dlg.Engine().Journal().Flush();
    const double catchUp = Now() - flushStart;

    const CCaptureJournal::Stats stats = dlg.Engine().Journal().GetStats();
    const qint64 journalBytes = QFileInfo(dlg.Engine().Journal().Path()).size();
    const double rate = double(sum) / kMiB / (end - start);
    std::printf("%-20s drain %7.1f MB/s (%.2f of cat)  ui late %5.1f ms  journal behind at most %lld items / "
                "%.1f ms  writer cpu %.2f s (%.1f%% of the capture)  lock held at most %.2f ms  catch-up after Stop %.1f ms  "
                "journal %.1f MB\n",
                name, rate, catRate > 0 ? rate / catRate : 0, worstLate * 1000, qlonglong(stats.maxItemsBehind),
                double(stats.maxMicrosBehind) / 1000, double(stats.cpuNanos) / 1e9,
                100.0 * double(stats.cpuNanos) / 1e9 / (end - start), double(stats.maxLockMicros) / 1000, catchUp * 1000,
                double(journalBytes) / kMiB);
    // Discarded, so the folder is empty for the next run.
    dlg.Engine().Journal().End();
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
    const QByteArray pattern = Pattern();
    const double catRate = CatRate(pattern, total);
    std::printf("cat                  drain %7.1f MB/s  (%lld MiB)\n", catRate, qlonglong(mib));

    platform::PseudoTerminal pty;
    if (!pty.Open())
        return 1;
    platform::setRuntimePortOverride(kPortNumber, pty.SlavePath());
    Capture("text, journal on", pty, pattern, total, 0, catRate);
    Capture("hex, journal on", pty, pattern, total, 1, catRate);
    std::printf("(MB = MiB; the journal is written to %s)\n", qgetenv("XDG_STATE_HOME").constData());
    return 0;
}
