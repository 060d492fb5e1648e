// A long capture as a logger left alone lives it: a device paced like 115200
// baud in small random chunks, removed and returned every 30 to 90 seconds,
// now and then Stop, Save, Clear Output and Begin, and once the journal's
// file system full for a while and freed again. For every capture (between
// two Clear Outputs) every byte sent while the device was present and the
// capture recording must be there exactly once and in order: in the
// capture, in its journal and in its Save. Prints bytes sent, lost and
// duplicated (both must be 0), and resident memory, descriptors and threads
// at the start and the end.
//
//   soak_bench [--seconds N]     (default 3600)
//
// Runs on its own registry file and device tree, never on a real port; the
// journal goes to a small file system of its own when one can be mounted
// (as root), else the full disk is made through the file-call layer.
#include "app/monitor_dlg.h"
#include "bench/bench_environment.h"
#include "data/capture_journal.h"
#include "data/journal_reader.h"
#include "app/save_capture.h"
#include "platform/device_map.h"
#include "platform/file_io.h"
#include "platform/pseudo_terminal.h"
#include "platform/save_file_dialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kPortNumber = 41;

double Now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

bool RunUntil(const std::function<bool()>& done, double seconds)
{
    const double deadline = Now() + seconds;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || Now() > deadline)
            loop.quit();
    });
    tick.start();
    loop.exec();
    return done();
}

void Idle(double seconds)
{
    RunUntil([] { return false; }, seconds);
}

void PointLinkAt(const QString& link, const QString& target)
{
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    QFile::link(target, fresh);
    ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData());
}

// The process's resident memory, descriptors and threads, in one line.
QString Resources()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    QString rss, threads;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            rss = QString::fromLatin1(line.mid(6).trimmed());
        if (line.startsWith("Threads:"))
            threads = QString::fromLatin1(line.mid(8).trimmed());
    }
    const int fds = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    return QStringLiteral("resident %1, descriptors %2, threads %3").arg(rss).arg(fds).arg(threads);
}

// The device: writes paced chunks to the current far end while it is
// present and the capture records, and keeps exactly what it wrote.
class Device {
public:
    Device()
        : m_thread([this] {
              std::mt19937 random(7);
              while (!m_stop) {
                  QByteArray chunk(std::uniform_int_distribution<int>(1, 64)(random), '\0');
                  for (char& c : chunk)
                      c = char(random());
                  {
                      std::lock_guard lock(m_mutex);
                      if (m_fd >= 0) {
                          const ssize_t n = ::write(m_fd, chunk.constData(), size_t(chunk.size()));
                          if (n > 0) {
                              m_sent.append(chunk.constData(), n);
                              m_total += n;
                          }
                      }
                  }
                  // 115200 baud: 87 microseconds a byte.
                  std::this_thread::sleep_for(std::chrono::microseconds(chunk.size() * 87));
              }
          })
    {
    }
    ~Device()
    {
        m_stop = true;
        m_thread.join();
    }
    // From now on writes go to `fd`; -1 pauses. Returns once no write is
    // under way.
    void Send(int fd)
    {
        std::lock_guard lock(m_mutex);
        m_fd = fd;
    }
    qint64 SentSize()
    {
        std::lock_guard lock(m_mutex);
        return m_sent.size();
    }
    // What was sent since the last Take.
    QByteArray Take()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_sent, QByteArray());
    }
    qint64 Total()
    {
        std::lock_guard lock(m_mutex);
        return m_total;
    }

private:
    std::mutex m_mutex;
    int m_fd = -1;
    QByteArray m_sent;
    qint64 m_total = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

QByteArray CaptureBytes(CMonitorDlg& dlg)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    QByteArray bytes;
    for (int64_t i = 0; i < dlg.Engine().m_items.GetSize(); ++i)
        bytes.append(reinterpret_cast<const char*>(dlg.Engine().m_items.GetAt(i).GetData()), dlg.Engine().m_items.GetAt(i).GetLength());
    return bytes;
}

qint64 CaptureSize(CMonitorDlg& dlg)
{
    std::lock_guard lock(dlg.Engine().m_csCapture);
    qint64 size = 0;
    for (int64_t i = 0; i < dlg.Engine().m_items.GetSize(); ++i)
        size += dlg.Engine().m_items.GetAt(i).GetLength();
    return size;
}

QByteArray JournalBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    QByteArray bytes;
    ReadJournal(reinterpret_cast<const uint8_t*>(all.constData()), size_t(all.size()),
                [&](const JournalItem& item) { bytes.append(reinterpret_cast<const char*>(item.data), item.length); });
    return bytes;
}

QByteArray SendDataBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() == 3)
            bytes += QByteArray::fromHex(fields[2].mid(1, fields[2].size() - 2).replace(' ', ""));
    }
    return bytes;
}

struct Tally {
    qint64 sent = 0, lost = 0, duplicated = 0;
    int captures = 0, removals = 0;
};

// Lost and duplicated bytes of `got` against `expected`: what lies between
// their common start and their common end.
void Compare(const char* where, const QByteArray& expected, const QByteArray& got, Tally& tally)
{
    if (got == expected)
        return;
    qsizetype head = 0;
    while (head < expected.size() && head < got.size() && expected[head] == got[head])
        ++head;
    qsizetype tail = 0;
    while (tail < expected.size() - head && tail < got.size() - head &&
           expected[expected.size() - 1 - tail] == got[got.size() - 1 - tail])
        ++tail;
    const qint64 lost = expected.size() - head - tail;
    const qint64 extra = got.size() - head - tail;
    tally.lost += lost;
    tally.duplicated += extra;
    std::printf("  %s differs from what was sent at byte %lld: %lld bytes missing, %lld there that were not sent "
                "(sent ...%s|%s..., there ...%s|%s...)\n",
                where, qlonglong(head), qlonglong(lost), qlonglong(extra), expected.mid(head - 8, 8).toHex().constData(),
                expected.mid(head, 16).toHex().constData(), got.mid(head - 8, 8).toHex().constData(),
                got.mid(head, 16).toHex().constData());
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 3600;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--seconds")
            seconds = std::atof(argv[i + 1]);

    BenchEnvironment environment;
    // The journal's own small file system, to be filled once.
    const QString state = environment.Path() + QStringLiteral("/state");
    QDir().mkpath(state);
    const bool mounted = ::mount("tmpfs", QFile::encodeName(state).constData(), "tmpfs", 0, "size=96m") == 0;
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    std::printf("soak for %.0f s; journal on %s\n", seconds, mounted ? "a 96 MiB file system of its own" : "the disk (full disk made through the file calls)");
    std::printf("start: %s\n", qPrintable(Resources()));
    std::fflush(stdout);

    std::mt19937 random(std::random_device{}());
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    const QString link = environment.Path() + QStringLiteral("/port");
    auto pty = std::make_unique<platform::PseudoTerminal>();
    if (!pty->Open())
        return 1;
    PointLinkAt(link, pty->SlavePath());
    platform::setRuntimePortOverride(kPortNumber, link);

    Tally tally;
    Device device;
    bool failedToResume = false;
    {
        CMonitorDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
        auto recording = [&] { return dlg.Engine().Port() && !dlg.Engine().IsWaitingForPort() && dlg.Engine().IsListening(); };
        QByteArray expected;  // this capture's bytes before the device's current run
        // Stops the device and waits until the capture has all it sent.
        auto quiet = [&] {
            device.Send(-1);
            const qint64 sent = expected.size() + device.SentSize();
            RunUntil([&] { return CaptureSize(dlg) >= sent; }, 60);
        };
        auto resume = [&] {
            if (!RunUntil(recording, 60)) {
                std::printf("  the capture did not resume\n");
                failedToResume = true;
                return;
            }
            device.Send(pty->MasterFd());
        };
        auto checkpoint = [&] {
            quiet();
            expected += device.Take();
            dlg.OnStop();
            dlg.Engine().Journal().Flush();
            const QString saved = environment.Path() + QStringLiteral("/save.sds");
            dlg.SaveTo(SaveFileAnswer{true, saved, kSendDataFilterIndex});
            Compare("the capture", expected, CaptureBytes(dlg), tally);
            Compare("the journal", expected, JournalBytes(dlg.Engine().Journal().Path()), tally);
            Compare("the save", expected, SendDataBytes(saved), tally);
            tally.sent += expected.size();
            ++tally.captures;
            std::printf("capture %d at %4.0f s: %lld bytes; %s\n", tally.captures, Now(), qlonglong(expected.size()),
                        qPrintable(Resources()));
            std::fflush(stdout);
            expected.clear();
            dlg.OnClearOutput();
        };

        dlg.OnBegin();
        resume();
        const double end = Now() + seconds;
        double nextRemoval = Now() + uniform(30, 90);
        double nextCycle = Now() + uniform(120, 300);
        const double fillAt = Now() + seconds * 0.3;
        bool filled = false, freed = false;
        QFile filler(state + QStringLiteral("/filler"));
        while (Now() < end && !failedToResume) {
            Idle(0.5);
            if (!filled && Now() >= fillAt) {
                filled = true;
                std::printf("the journal's file system is full at %.0f s\n", Now());
                if (mounted && filler.open(QIODevice::WriteOnly)) {
                    const QByteArray block(1 << 16, 'f');
                    while (filler.write(block) == block.size() && filler.flush()) {
                    }
                } else {
                    platform::file_io::SetInterceptor([](const platform::file_io::Request& request) {
                        platform::file_io::Outcome outcome;
                        if (request.call == platform::file_io::Call::Write)
                            outcome.error = ENOSPC;
                        return outcome;
                    });
                }
            }
            if (filled && !freed && Now() >= fillAt + 20) {
                freed = true;
                filler.close();
                filler.remove();
                platform::file_io::SetInterceptor({});
                std::printf("freed at %.0f s\n", Now());
            }
            if (Now() >= nextRemoval) {
                // The device goes, with everything it said recorded, and
                // comes back a moment later as a new terminal.
                quiet();
                expected += device.Take();
                pty->Close();
                // Its link goes with it, as udev removes it: the terminal's
                // number may be given to someone else's meanwhile.
                QFile::remove(link);
                RunUntil([&] { return dlg.Engine().IsWaitingForPort(); }, 30);
                Idle(uniform(1, 5));
                pty = std::make_unique<platform::PseudoTerminal>();
                if (!pty->Open())
                    return 1;
                PointLinkAt(link, pty->SlavePath());
                ++tally.removals;
                resume();
                nextRemoval = Now() + uniform(30, 90);
            }
            if (Now() >= nextCycle) {
                checkpoint();
                dlg.OnBegin();
                resume();
                nextCycle = Now() + uniform(120, 300);
            }
        }
        checkpoint();
        dlg.OnStop();
    }
    std::printf("end: %s\n", qPrintable(Resources()));
    std::printf("%d captures, %d removals; bytes sent while recording %lld, lost %lld, duplicated %lld\n", tally.captures,
                tally.removals, qlonglong(tally.sent), qlonglong(tally.lost), qlonglong(tally.duplicated));
    if (mounted)
        ::umount2(QFile::encodeName(state).constData(), MNT_DETACH);
    return tally.lost == 0 && tally.duplicated == 0 && !failedToResume ? 0 : 1;
}
