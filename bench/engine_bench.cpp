// What the engine's other lock holders cost the receive thread, and what a
// Save costs the window:
//  - Clear Output of a long capture while a flood arrives on a
//    pseudo-terminal: the receive thread's longest wait for the capture
//    lock (target under 5 ms), beside the same clear done the old way (the
//    items freed under the lock);
//  - Save of a large capture as a Serial Log from the shown window
//    (offscreen): the window's worst lateness (target under 100 ms), beside
//    the time the same write takes on the window's own thread.
// Prints figures; checks nothing. The journal is off, so only the engine
// and the window are measured.
//
//   engine_bench [--items N] [--save-mib N]   (defaults: 10000000, 1024)
#include "app/monitor_dlg.h"
#include "bench_environment.h"
#include "bench_feeder.h"
#include "capture/capture_engine.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"
#include "platform/save_file_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

namespace {

constexpr int kPortNumber = 9;

// Adds `count` items of 1 to 16 bytes, in batches so a running capture is
// not held up long by the filling itself.
void Fill(CCaptureEngine& engine, int count)
{
    const QString name = QStringLiteral("12:00:00");
    uint8_t bytes[16];
    for (int done = 0; done < count;) {
        std::lock_guard lock(engine.m_csCapture);
        for (int end = std::min(count, done + 100000); done < end; ++done) {
            const int length = 1 + done % 16;
            std::memset(bytes, 'a' + done % 26, size_t(length));
            CDataItem item(bytes, length);
            item.SetName(name);
            engine.m_items.Add(std::move(item));
        }
    }
}

int ItemCount(CCaptureEngine& engine)
{
    std::lock_guard lock(engine.m_csCapture);
    return engine.m_items.GetSize();
}

// The shared feeder, writing to the far end as fast as the terminal drains
// until this ends.
class Flood {
public:
    explicit Flood(bench::BenchTerminal& pty)
        : m_feeder(pty.Master(), bench::LogLines(), std::numeric_limits<qint64>::max(), bench::FeedPace{})
    {
        m_feeder.Go();
    }
    ~Flood() { m_feeder.Kill(); }

private:
    bench::Feeder m_feeder;
};

void ClearUnderFlood(int items)
{
    bench::BenchTerminal pty;
    if (!pty.Open()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return;
    }
    platform::setRuntimePortOverride(kPortNumber, pty.Slave());
    CCaptureEngine engine;
    engine.m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    Fill(engine, items);
    if (!engine.OpenPort()) {
        std::fprintf(stderr, "cannot open the pseudo-terminal: %s\n", qPrintable(engine.LastOpenErrorText()));
        return;
    }
    while (!engine.IsListening())
        QThread::msleep(1);
    Flood flood(pty);
    auto recordSome = [&] {
        const int from = ItemCount(engine);
        while (ItemCount(engine) < from + 2000)
            QThread::msleep(1);
    };
    recordSome();

    engine.ResetLockWait();
    QThread::msleep(300);
    const int64_t quiet = engine.MaxLockWaitMicros();

    engine.ResetLockWait();
    QElapsedTimer clock;
    clock.start();
    engine.ClearOutput();
    const double clearMs = double(clock.nsecsElapsed()) / 1e6;
    recordSome();
    const int64_t swapped = engine.MaxLockWaitMicros();

    // The old way, for comparison: every item freed under the lock.
    Fill(engine, items);
    recordSome();
    engine.ResetLockWait();
    clock.restart();
    {
        std::lock_guard lock(engine.m_csCapture);
        engine.m_items.RemoveAll();
        ++engine.m_nCaptureId;
    }
    const double oldMs = double(clock.nsecsElapsed()) / 1e6;
    recordSome();
    const int64_t underLock = engine.MaxLockWaitMicros();
    engine.ClosePort();

    std::printf("Clear Output of %d items under a flood (receive thread's longest wait for the capture lock):\n", items);
    std::printf("  flood alone, 300 ms          %8.2f ms\n", double(quiet) / 1000);
    std::printf("  swapped out, freed after     %8.2f ms   (target < 5 ms; the clear took %.0f ms on its thread)\n",
                double(swapped) / 1000, clearMs);
    std::printf("  freed under the lock (old)   %8.2f ms   (the clear took %.0f ms)\n", double(underLock) / 1000, oldMs);
    platform::setRuntimePortOverride(kPortNumber, QString());
}

void SaveLateness(qint64 mib, const QString& folder)
{
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    CCaptureEngine& engine = dlg.Engine();
    {
        // 1 KiB text chunks, as a steady instrument gives them.
        QByteArray chunk(1024, 'x');
        for (int i = 0; i < chunk.size(); i += 64)
            chunk[i + 63] = '\n';
        const QString name = QStringLiteral("12:00:00");
        std::lock_guard lock(engine.m_csCapture);
        for (qint64 i = 0; i < mib * 1024; ++i) {
            CDataItem item(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
            item.SetKind(0);  // shown as text
            item.SetName(name);
            engine.m_items.Add(std::move(item));
        }
    }
    dlg.RefreshOutput();
    const QString path = folder + QStringLiteral("/saved.log");
    SetSaveFileHandler([&](const SaveFileRequest&) { return SaveFileAnswer{true, path, 1}; });

    // The window's lateness: how much later than asked a 10 ms timer fires.
    QElapsedTimer since;
    qint64 worst = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worst = std::max(worst, since.elapsed() - 10);
        since.restart();
    });
    probe.start();
    since.start();
    QElapsedTimer clock;
    clock.start();
    dlg.OnSave();
    const double saveMs = double(clock.elapsed());
    probe.stop();
    const qint64 size = QFileInfo(path).size();
    QFile::remove(path);

    // The same bytes written on the window's thread, as Save did before.
    QFile file(path);
    double inlineMs = 0;
    if (file.open(QIODevice::WriteOnly)) {
        clock.restart();
        engine.WriteOutputText(file);
        file.close();
        inlineMs = double(clock.elapsed());
    }
    QFile::remove(path);
    SetSaveFileHandler({});

    std::printf("Save of %lld MiB of 1 KiB chunks as a Serial Log (%.0f MiB written):\n", static_cast<long long>(mib),
                double(size) / (1 << 20));
    std::printf("  on a worker (now)     took %6.0f ms, window's worst lateness %4lld ms (target < 100 ms)\n", saveMs,
                static_cast<long long>(worst));
    std::printf("  on the window (old)   took %6.0f ms, all of it without an answer\n", inlineMs);
}

} // namespace

int main(int argc, char* argv[])
{
    int items = 10'000'000;
    qint64 saveMib = 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--items"))
            items = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--save-mib"))
            saveMib = std::atoll(argv[i + 1]);
    }
    // The journal's folder cannot be made: the engine and window alone.
    const BenchEnvironment environment(QByteArray("/dev/null/no-journal"));
    QApplication app(argc, argv);
    if (items > 0)
        ClearUnderFlood(items);
    if (saveMib > 0)
        SaveLateness(saveMib, environment.Path());
    return 0;
}
