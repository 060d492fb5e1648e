#pragma once
// The far end every benchmark feeds, and the one baseline they are all
// measured against.
//
// The far end is a pseudo-terminal whose master a child process writes, so
// the feeder's time and system calls count for no side. The baseline is
// `cat` copying the same terminal, fed the same way, into a file in the
// folder the program keeps its own files and journal in (the same file
// system; a tmpfs would flatter cat), alternated with the program run by
// run; a figure is the median of the pairs.
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <linux/magic.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kFeedBlock = 64 * 1024;

// Seconds on a monotonic clock.
inline double Now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

inline double Seconds(const timeval& user, const timeval& system)
{
    return double(user.tv_sec + system.tv_sec) + double(user.tv_usec + system.tv_usec) / 1e6;
}

// CPU time of this process (RUSAGE_SELF) or of the calling thread.
inline double CpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return Seconds(usage.ru_utime, usage.ru_stime);
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Printable lines as a logger would see them, `size` bytes.
inline QByteArray LogLines(int size = kFeedBlock)
{
    QByteArray block;
    for (int line = 0; block.size() < size; ++line) {
        QByteArray text = QByteArray::number(line).rightJustified(6, '0') + " T=21.5C P=1013hPa RH=45% ";
        while (text.size() < 78)
            text += char('a' + text.size() % 26);
        block += text + "\r\n";
    }
    block.truncate(size);
    return block;
}

// Starts a program found on the path; stdout to `stdoutPath` if given.
inline pid_t Spawn(const QStringList& arguments, const char* stdoutPath = nullptr)
{
    std::vector<QByteArray> bytes;
    for (const QString& a : arguments)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutPath)
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A pseudo-terminal whose master blocks, as a plain writer's would; the
// program under test and cat open its slave in turn.
class BenchTerminal {
public:
    bool Open()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
            ptsname_r(m_master, name, sizeof name) != 0)
            return false;
        m_slave = QString::fromLocal8Bit(name);
        return true;
    }
    ~BenchTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    // Raw, as the capture sets its port, so cat reads bytes and not lines.
    void MakeRaw() const
    {
        termios2 t{};
        ::ioctl(m_master, TCGETS2, &t);
        t.c_iflag = 0;
        t.c_oflag = 0;
        t.c_lflag = 0;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::ioctl(m_master, TCSETS2, &t);
    }
    // True while nobody has the slave open (the master sees a hang-up).
    bool SlaveClosed() const
    {
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, 0);
        return p.revents & POLLHUP;
    }
    // Bytes written that the reader has yet to take, seen from the slave.
    int Waiting() const
    {
        const int slave = ::open(m_slave.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        int waiting = 0;
        if (slave < 0 || ::ioctl(slave, FIONREAD, &waiting) != 0)
            waiting = 0;
        if (slave >= 0)
            ::close(slave);
        return waiting;
    }
    int Master() const { return m_master; }
    QString Slave() const { return m_slave; }

private:
    int m_master = -1;
    QString m_slave;
};

// How the far end writes: as fast as the reader drains (0 bytes per
// second), or at a steady rate in writes of `writeSize` bytes.
// Writes `total` bytes of `block` to the master from this process, as fast
// as the terminal takes them, until `stop` is set; `written`, when given,
// follows the count (for a benchmark that samples as the bytes go).
inline void FeedInProcess(int master, const QByteArray& block, qint64 total, std::atomic<qint64>* written = nullptr,
                          const std::atomic<bool>* stop = nullptr)
{
    qint64 done = 0;
    while (done < total && !(stop && *stop)) {
        const qint64 offset = done % block.size();
        const size_t n = size_t(std::min<qint64>(block.size() - offset, total - done));
        const ssize_t got = ::write(master, block.constData() + offset, n);
        if (got > 0) {
            done += got;
            if (written)
                *written = done;
        } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "write failed: %s\n", std::strerror(errno));
            return;
        } else {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

struct FeedPace {
    qint64 bytesPerSecond = 0;
    int writeSize = kFeedBlock;
    // When set, the writes go round the sizes from this one up to
    // writeSize, as a slow line hands a reader a few bytes at a time.
    int smallestWrite = 0;
};

// The far end: a child process that writes `total` bytes of `block` to the
// master once told to go.
class Feeder {
public:
    Feeder(int master, const QByteArray& block, qint64 total, FeedPace pace)
    {
        int go[2];
        if (::pipe2(go, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(go[1]);
            char c;
            if (::read(go[0], &c, 1) != 1)
                _exit(1);
            _exit(Write(master, block, total, pace) ? 0 : 1);
        }
        ::close(go[0]);
        m_go = go[1];
    }
    ~Feeder() { Wait(); }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;
    void Go()
    {
        if (m_go >= 0)
            (void)!::write(m_go, "g", 1);
    }
    // Ends a feeder that nobody drains any more.
    void Kill()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        Wait();
    }
    // Every byte is written (the feeder has ended); never waits.
    bool Finished()
    {
        if (m_pid > 0 && m_go < 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            m_pid = -1;
        return m_pid <= 0;
    }
    // Lets the feeder go and no longer holds it (for Finished).
    void Release()
    {
        if (m_go >= 0)
            ::close(m_go);
        m_go = -1;
    }
    // Waits until every byte is written.
    void Wait()
    {
        if (m_go >= 0)
            ::close(m_go);
        m_go = -1;
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    // Only what is safe after fork in a threaded process: write, sleep, exit.
    static bool Write(int master, const QByteArray& block, qint64 total, FeedPace pace)
    {
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        const int sizes = pace.smallestWrite > 0 ? pace.writeSize - pace.smallestWrite + 1 : 1;
        for (qint64 done = 0, writes = 0; done < total; ++writes) {
            const qint64 offset = done % block.size();
            const int size = pace.smallestWrite > 0 ? pace.smallestWrite + int(writes % sizes) : pace.writeSize;
            const size_t n = size_t(std::min<qint64>({size, block.size() - offset, total - done}));
            const qint64 pause = pace.bytesPerSecond > 0 ? 1'000'000'000LL * qint64(n) / pace.bytesPerSecond : 0;
            const ssize_t written = ::write(master, block.constData() + offset, n);
            if (written < 0 && errno != EINTR)
                return false;
            done += std::max<ssize_t>(written, 0);
            if (pause > 0) {
                next.tv_nsec += long(pause);
                next.tv_sec += next.tv_nsec / 1'000'000'000;
                next.tv_nsec %= 1'000'000'000;
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_go = -1;
};

// Says so on stderr when `folder` is on a tmpfs: the baseline would then
// write to memory while the program's journal goes to a disk.
inline void WarnIfTmpfs(const QString& folder)
{
    struct statfs info {};
    if (::statfs(folder.toLocal8Bit().constData(), &info) == 0 && info.f_type == TMPFS_MAGIC)
        std::fprintf(stderr, "warning: %s is a tmpfs; the baseline is not on the program's disk\n",
                     qPrintable(folder));
}

struct CatRun {
    double mibPerSecond = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

// A copier of the terminal to its standard output: cat, the baseline.
inline QStringList CatCommand(const BenchTerminal& terminal)
{
    return {QStringLiteral("cat"), terminal.Slave()};
}

// The fastest a reader held to 1 KiB per read can be on this machine: dd
// reading 1 KiB at a time and writing 64 KiB blocks, as the program's
// journal does. It shows how much of a flood's gap to cat is the read size.
inline QStringList BareKiBReaderCommand(const BenchTerminal& terminal)
{
    return {QStringLiteral("dd"), QStringLiteral("if=") + terminal.Slave(), QStringLiteral("ibs=1024"),
            QStringLiteral("obs=65536"), QStringLiteral("status=none")};
}

// The baseline: cat (or `copier`) copies the terminal into a file in
// `folder` while the feeder writes `total` bytes; it ends once every byte is
// taken. `started` runs with the copier's process id before the feeder goes
// (to attach a counter), `drained` once every byte is taken.
inline CatRun RunCat(BenchTerminal& terminal, const QByteArray& block, qint64 total, FeedPace pace,
                     const QString& folder, const std::function<void(pid_t)>& started = {},
                     const std::function<void()>& drained = {}, const QStringList& copier = {})
{
    CatRun run;
    WarnIfTmpfs(folder);
    terminal.MakeRaw();
    const QByteArray copy = (folder + QStringLiteral("/cat-baseline.out")).toLocal8Bit();
    const pid_t cat = Spawn(copier.isEmpty() ? CatCommand(terminal) : copier, copy.constData());
    if (cat <= 0)
        return run;
    for (int i = 0; i < 1000 && terminal.SlaveClosed(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // What cat has yet to read, seen through a descriptor of our own.
    const int slave = ::open(terminal.Slave().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    Feeder feeder(terminal.Master(), block, total, pace);
    if (started)
        started(cat);
    const double start = Now();
    feeder.Go();
    feeder.Wait();
    for (int waiting = 1, i = 0; waiting > 0 && i < 100000 && slave >= 0; ++i) {
        if (::ioctl(slave, FIONREAD, &waiting) != 0)
            break;
        if (waiting > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    run.wallSeconds = Now() - start;
    if (drained)
        drained();
    if (slave >= 0)
        ::close(slave);
    ::kill(cat, SIGTERM);
    int status = 0;
    rusage usage{};
    ::wait4(cat, &status, 0, &usage);
    ::unlink(copy.constData());
    run.cpuSeconds = Seconds(usage.ru_utime, usage.ru_stime);
    run.mibPerSecond = double(total) / kMiB / run.wallSeconds;
    return run;
}

// One pair of the alternation: the baseline's figure and the program's.
struct Pair {
    double cat = 0;
    double program = 0;
    double Ratio() const { return cat > 0 ? program / cat : 0; }
};

// Runs the baseline and the program in turn `pairs` times (3 unless told)
// and prints each pair under `label`; returns the median ratio.
// `unit` names what the two functions return (MiB/s, CPU seconds...).
inline double AlternatePairs(const char* label, const char* unit, const std::function<double()>& runCat,
                             const std::function<double()>& runProgram, int pairs = 3)
{
    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
        Pair pair;
        pair.cat = runCat();
        pair.program = runProgram();
        ratios.push_back(pair.Ratio());
        std::printf("  %s pair %d: cat %.3f %s, program %.3f %s, ratio %.2f\n", label, i + 1, pair.cat, unit,
                    pair.program, unit, pair.Ratio());
    }
    const double median = Median(ratios);
    std::printf("  %s: median ratio %.2f of cat (%d pairs)\n", label, median, pairs);
    return median;
}

} // namespace bench
