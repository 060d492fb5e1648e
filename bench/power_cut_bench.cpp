// Power cuts at a thousand moments (or POWER_CUT_BENCH_CUTS) of a real
// capture over a pseudo-terminal, each just after one of the journal's
// flushes, with what followed it cut anywhere or garbled: for each, the journal's folder is rebuilt
// as the cut could have left it and the restore is asked for the capture.
// Prints the moments tried and how many lost a flushed item or offered one
// never recorded (both must be 0).
#include "app/monitor_dlg.h"
#include "bench/bench_environment.h"
#include "data/capture_journal.h"
#include "data/journal_file.h"
#include "platform/device_map.h"
#include "platform/pseudo_terminal.h"
#include "power_cut.h"

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {
constexpr int kPortNumber = 77;
}

int main(int argc, char** argv)
{
    BenchEnvironment environment;
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    const int cuts = qEnvironmentVariableIntValue("POWER_CUT_BENCH_CUTS") > 0
                         ? qEnvironmentVariableIntValue("POWER_CUT_BENCH_CUTS")
                         : 1000;

    platform::PseudoTerminal pty;
    if (!pty.Open())
        return 1;
    platform::setRuntimePortOverride(kPortNumber, pty.SlavePath());
    PowerCutRecorder recorder(JournalFolder());
    std::mt19937 random(std::random_device{}());

    CMonitorDlg dlg;
    dlg.Engine().m_strPortName = QStringLiteral("COM%1").arg(kPortNumber);
    dlg.OnBegin();
    if (!dlg.Engine().Port()) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }
    // Bytes sent before the line has settled and been purged are not part
    // of the capture.
    while (!dlg.Engine().IsListening())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // About 115200 baud in small chunks of every byte value, for thirty
    // seconds (POWER_CUT_BENCH_SECONDS): some sixty flushes to cut after.
    const int seconds = qEnvironmentVariableIntValue("POWER_CUT_BENCH_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("POWER_CUT_BENCH_SECONDS")
                            : 30;
    QByteArray sent;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < seconds * 1000) {
        QByteArray chunk(std::uniform_int_distribution<int>(1, 200)(random), '\0');
        for (char& c : chunk)
            c = char(random());
        if (!pty.WriteAll(chunk))
            return 1;
        sent += chunk;
        std::this_thread::sleep_for(std::chrono::microseconds(chunk.size() * 87));
    }
    QElapsedTimer drain;
    drain.start();
    for (;;) {
        qint64 recordedBytes = 0;
        {
            std::lock_guard lock(dlg.Engine().m_csCapture);
            for (int64_t i = 0; i < dlg.Engine().m_items.GetSize(); ++i)
                recordedBytes += dlg.Engine().m_items.GetAt(i).GetLength();
        }
        if (recordedBytes >= sent.size() || drain.elapsed() > 30000)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    dlg.OnStop();
    dlg.Engine().Journal().Flush();
    recorder.Finish();

    std::vector<RecordedItem> recorded;
    qint64 recordedBytes = 0;
    for (int64_t i = 0; i < dlg.Engine().m_items.GetSize(); ++i) {
        const CDataItem& item = dlg.Engine().m_items.GetAt(i);
        recorded.push_back({QByteArray(reinterpret_cast<const char*>(item.GetData()), item.GetLength()),
                            item.GetName(), item.GetKind()});
        recordedBytes += item.GetLength();
    }
    const size_t events = recorder.EventCount();
    const QString target = environment.Path() + QStringLiteral("/after-the-cut");
    int failed = 0;
    QElapsedTimer checking;
    checking.start();
    for (int n = 0; n < cuts; ++n) {
        const size_t cut = std::uniform_int_distribution<size_t>(0, events - 1)(random);
        const QString problem = PowerCutRecorder::Check(target, recorder.Rebuild(cut, target, random), recorded);
        if (!problem.isEmpty()) {
            ++failed;
            std::printf("cut after flush %zu: %s\n", cut, qPrintable(problem));
        }
    }
    std::printf("sent %lld bytes, recorded %lld bytes in %zu items, %zu flushes to cut between\n",
                qlonglong(sent.size()), qlonglong(recordedBytes), recorded.size(), events);
    std::printf("power cuts tried %d, failed %d (restore checked in %.1f s)\n", cuts, failed,
                double(checking.elapsed()) / 1000.0);
    return failed == 0 && recordedBytes == sent.size() ? 0 : 1;
}
