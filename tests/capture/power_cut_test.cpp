// A power cut at any moment of a real capture: whatever the journal had
// flushed before the cut is offered back whole, byte for byte and in order,
// and nothing that was never recorded is.
#include "capture_fixture.h"
#include "data/capture_journal.h"
#include "data/journal_file.h"
#include "power_cut.h"

#include <random>

namespace {

TEST_F(CaptureOnPty, APowerCutAtAnyMomentLosesNothingTheJournalHadFlushed)
{
    PowerCutRecorder recorder(JournalFolder());
    std::mt19937 random(20261208);
    Begin();
    // Small chunks of every byte value, for a few flushes' worth of time.
    QByteArray sent;
    for (int i = 0; i < 120; ++i) {
        QByteArray chunk(std::uniform_int_distribution<int>(1, 300)(random), '\0');
        for (char& c : chunk)
            c = char(random());
        ASSERT_TRUE(pty.WriteAll(chunk));
        sent += chunk;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    ASSERT_TRUE(testing_support::WaitUntil([&] { return Recorded().size() == sent.size(); }));
    dlg->OnStop();
    dlg->Engine().Journal().Flush();  // everything is safe now
    recorder.Finish();
    ASSERT_EQ(Recorded(), sent);

    std::vector<RecordedItem> recorded;
    std::unique_lock lock(dlg->Engine().m_csCapture);
    for (int i = 0; i < dlg->Engine().m_items.GetSize(); ++i) {
        const CDataItem& item = dlg->Engine().m_items.GetAt(i);
        recorded.push_back({QByteArray(reinterpret_cast<const char*>(item.GetData()), item.GetLength()),
                            item.GetName(), item.GetKind()});
    }
    lock.unlock();
    const size_t events = recorder.EventCount();
    ASSERT_GE(events, 4u) << "too few flushes to cut between";
    const QString target = testing_support::TestDir() + QStringLiteral("/after-the-cut");
    int64_t mostSafe = 0;
    for (int n = 0; n < 40; ++n) {
        // The first and the last moment, then moments at random.
        const size_t cut = n == 0 ? 0 : n == 1 ? events - 1 : std::uniform_int_distribution<size_t>(0, events - 1)(random);
        const int64_t safe = recorder.Rebuild(cut, target, random);
        mostSafe = std::max(mostSafe, safe);
        const QString problem = PowerCutRecorder::Check(target, safe, recorded);
        EXPECT_TRUE(problem.isEmpty()) << "cut after flush " << cut << " of " << events << ": " << problem.toStdString();
    }
    // The last flush made the whole capture safe.
    EXPECT_EQ(mostSafe, int64_t(recorded.size()));
}

} // namespace
