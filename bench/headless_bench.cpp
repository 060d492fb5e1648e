// The capture without a window as a separate process, each figure beside
// the shared baseline (cat copying the same terminal, fed the same way, into
// a file beside the program's files), alternated with it, median of the
// pairs: how fast it drains a flooded pseudo-terminal writing both files,
// and the processor time it takes at a steady 1 MB/s in 1 KiB writes.
// Prints figures; checks nothing.
//
//   headless_bench [MiB to flood, default 64] [seconds at 1 MB/s, default 10] [pairs, default 3]
//
// Runs the built program next to this one (or $VANTREL_BINARY) on its own
// registry file and device tree, never on a real port.
#include "bench/bench_headless.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr qint64 kSteadyRate = 1000 * 1000;  // bytes per second
constexpr int kSteadyWrite = 1024;

using bench::BenchTerminal;
using bench::FeedPace;
using bench::Feeder;
using bench::kMiB;
using bench::Now;

// The program's flood drain in MiB/s: until it has taken every byte.
double ProgramFlood(const QString& binary, const QString& folder, BenchTerminal& pty, const QByteArray& block,
                    qint64 bytes)
{
    bench::HeadlessCapture capture(binary, folder, pty);
    Feeder feeder(pty.Master(), block, bytes, FeedPace{});
    const double start = Now();
    feeder.Go();
    feeder.Wait();
    while (pty.Waiting() > 0)
        QThread::usleep(100);
    const double rate = double(bytes) / kMiB / (Now() - start);
    if (capture.Stop() != 0)
        std::fprintf(stderr, "the capture did not end with status 0\n");
    return rate;
}

// The program's processor seconds over `seconds` at a steady pace, and
// the minor page faults it took per recorded chunk meanwhile.
struct SteadyRun {
    double cpuSeconds = 0;
    double faultsPerChunk = 0;
};
SteadyRun ProgramSteady(const QString& binary, const QString& folder, BenchTerminal& pty, const QByteArray& block,
                        int seconds, FeedPace pace, bench::HeadlessCapture::Files files)
{
    bench::HeadlessCapture capture(binary, folder, pty, {}, files);
    const qint64 pid = capture.process.processId();
    Feeder feeder(pty.Master(), block, pace.bytesPerSecond * seconds, pace);
    // The first second settles the program's memory; the faults are
    // counted over the rest.
    const double cpuStart = bench::ProcessCpuSeconds(pid);
    feeder.Go();
    QThread::sleep(1);
    const qint64 faultsStart = bench::ProcessMinorFaults(pid);
    const qint64 itemsStart = capture.LoggedItems();
    feeder.Wait();
    while (pty.Waiting() > 0)
        QThread::usleep(1000);
    SteadyRun run;
    run.cpuSeconds = bench::ProcessCpuSeconds(pid) - cpuStart;
    const qint64 faults = bench::ProcessMinorFaults(pid) - faultsStart;
    capture.Stop();
    const qint64 chunks = capture.LoggedItems() - itemsStart;
    run.faultsPerChunk = chunks > 0 ? double(faults) / double(chunks) : 0;
    std::printf("    (program: %lld minor faults over %lld chunks after the first second: %.4f a chunk)\n",
                static_cast<long long>(faults), static_cast<long long>(chunks), run.faultsPerChunk);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 floodBytes = (argc > 1 ? std::atoll(argv[1]) : 64) * kMiB;
    const int steadySeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int pairs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    QString binary = QString::fromLocal8Bit(qgetenv("VANTREL_BINARY"));
    if (binary.isEmpty())
        binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../vantrel");

    QTemporaryDir folder;
    qputenv("VANTREL_REGISTRY", (folder.path() + QStringLiteral("/registry.reg")).toLocal8Bit());
    qputenv("VANTREL_DEVICE_ROOT", (folder.path() + QStringLiteral("/devroot")).toLocal8Bit());
    QDir(folder.path()).mkpath(QStringLiteral("devroot/dev"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qunsetenv(name);
    const QByteArray block = bench::LogLines();
    BenchTerminal pty;
    if (!pty.Open())
        return 1;
    std::signal(SIGPIPE, SIG_IGN);

    // 1. As fast as the terminal takes it (target >= 0.75 of cat).
    std::printf("flood of %lld MiB, --log and --send-data, MiB/s:\n", static_cast<long long>(floodBytes / kMiB));
    bench::AlternatePairs(
        "flood", "MiB/s",
        [&] { return bench::RunCat(pty, block, floodBytes, FeedPace{}, folder.path()).mibPerSecond; },
        [&] { return ProgramFlood(binary, folder.path(), pty, block, floodBytes); }, pairs);
    // The ceiling a 1 KiB read sets on this machine, for the figure above.
    bench::AlternatePairs(
        "bare 1 KiB reader (dd ibs=1024 obs=65536)", "MiB/s",
        [&] { return bench::RunCat(pty, block, floodBytes, FeedPace{}, folder.path()).mibPerSecond; },
        [&] {
            return bench::RunCat(pty, block, floodBytes, FeedPace{}, folder.path(), {}, {},
                                 bench::BareKiBReaderCommand(pty))
                .mibPerSecond;
        },
        pairs);

    // 2. A steady 1 MB/s in 1 KiB writes, both files, and 3. 115200 baud
    // in writes of 1 to 16 bytes, the log alone: processor seconds, as a
    // multiple of cat's (target <= 1.2 for both), and the page faults per
    // chunk in the steady state (target < 0.05).
    using Files = bench::HeadlessCapture::Files;
    const struct {
        const char* label;
        FeedPace pace;
        int seconds;
        Files files;
    } steady[] = {
        {"steady 1 MB/s in 1 KiB writes, --log and --send-data", FeedPace{kSteadyRate, kSteadyWrite}, steadySeconds,
         Files::LogAndSendData},
        {"115200 baud in 1-16 byte writes, --log", FeedPace{11520, 16, 1}, 2 * steadySeconds, Files::LogOnly},
    };
    for (const auto& s : steady) {
        std::printf("%s, %d s, cpu seconds:\n", s.label, s.seconds);
        bench::AlternatePairs(
            s.label, "s",
            [&] { return bench::RunCat(pty, block, s.pace.bytesPerSecond * s.seconds, s.pace, folder.path()).cpuSeconds; },
            [&] { return ProgramSteady(binary, folder.path(), pty, block, s.seconds, s.pace, s.files).cpuSeconds; },
            pairs);
    }
    return 0;
}
