// What waiting for a lost device costs and how soon recording resumes when
// it is back: a capture on a pseudo-terminal reached through a link, whose
// far end is closed and then replaced by a new terminal, several times.
// Prints the time from the link's return to the first recorded byte, and
// the CPU the process uses while it waits. Prints figures; checks nothing.
//
// Runs on its own registry file and device tree, never on a real port.
#include "app/monitor_dlg.h"
#include "bench/bench_environment.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"

#include <QThread>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPortNumber = 9;
constexpr int kRounds = 5;
constexpr int kIdleMs = 3000;

double Now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int ItemCount(CMonitorDlg& dlg)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    return dlg.Engine().m_items.GetSize();
}

// Runs the event loop until `done` or the time is up; checks every millisecond.
bool RunUntil(const std::function<bool()>& done, double seconds)
{
    const double deadline = Now() + seconds;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || Now() > deadline)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

// Runs the event loop, and nothing else, for a while.
void Idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void PointLinkAt(const QString& link, const QString& target)
{
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    QFile::link(target, fresh);
    ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData());
}

// Writes a byte every millisecond, as a talkative device does, until stopped.
class Ticker {
public:
    explicit Ticker(int masterFd)
        : m_thread([this, masterFd] {
              while (!m_stop) {
                  [[maybe_unused]] const ssize_t n = ::write(masterFd, "x", 1);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~Ticker()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const BenchEnvironment environment;
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));

    auto pty = std::make_unique<platform::PseudoTerminal>();
    if (!pty->Open())
        return 1;
    const QString link = environment.Path() + QStringLiteral("/port");
    PointLinkAt(link, pty->SlavePath());
    platform::setRuntimePortOverride(kPortNumber, link);

    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    dlg.OnBegin();
    // The receive thread settles and purges the line before it records.
    while (dlg.Engine().Port() && !dlg.Engine().IsListening())
        QThread::msleep(1);
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }

    std::vector<double> reopenMs, firstByteMs, idleCpu;
    for (int round = 0; round < kRounds; ++round) {
        pty->Close();
        if (!RunUntil([&] { return dlg.Engine().IsWaitingForPort(); }, 5)) {
            std::fprintf(stderr, "the loss was not noticed\n");
            return 1;
        }
        Idle(100);  // let the loss settle before measuring the wait
        const double cpuBefore = CpuSeconds();
        const double idleStart = Now();
        Idle(kIdleMs);
        idleCpu.push_back((CpuSeconds() - cpuBefore) / (Now() - idleStart) * 100);

        pty = std::make_unique<platform::PseudoTerminal>();
        if (!pty->Open())
            return 1;
        const int before = ItemCount(dlg);
        Ticker ticker(pty->MasterFd());
        const double back = Now();
        PointLinkAt(link, pty->SlavePath());
        double reopened = 0;
        const bool recorded = RunUntil(
            [&] {
                if (!reopened && !dlg.Engine().IsWaitingForPort())
                    reopened = Now();
                return ItemCount(dlg) > before;
            },
            5);
        if (!recorded) {
            std::fprintf(stderr, "nothing was recorded after the return\n");
            return 1;
        }
        reopenMs.push_back((reopened - back) * 1000);
        firstByteMs.push_back((Now() - back) * 1000);
    }
    dlg.OnStop();

    std::printf("device back -> port reopened   median %7.1f ms  worst %7.1f ms  (%d rounds)\n", Median(reopenMs),
                *std::max_element(reopenMs.begin(), reopenMs.end()), kRounds);
    std::printf("device back -> first byte      median %7.1f ms  worst %7.1f ms\n", Median(firstByteMs),
                *std::max_element(firstByteMs.begin(), firstByteMs.end()));
    std::printf("CPU while waiting              median %7.3f %%  worst %7.3f %% of a core  (%d s each)\n",
                Median(idleCpu), *std::max_element(idleCpu.begin(), idleCpu.end()), kIdleMs / 1000);
    std::printf("(the reopen includes the 100 ms settle time after every open)\n");
    return 0;
}
