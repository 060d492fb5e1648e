// The time of day stepping back or forward in the middle of a capture (a
// time server's correction, a laptop waking): items stay in the order they
// came, each named by the time of day it was recorded at, and the journal
// keeps flushing on its own schedule.
#include "capture_fixture.h"
#include "data/capture_journal.h"
#include "io_faults.h"

#include <atomic>

namespace {

QString TimeOfDay(int64_t seconds)
{
    const std::tm local = CTime(seconds).GetLocalTm();
    return QString::asprintf("%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
}

TEST_F(CaptureOnPty, AClockSteppedBackOrForwardKeepsOrderNamesAndTheFlushSchedule)
{
    IoFaults io;  // only watches: counts the journal's flushes
    auto flushes = [&] {
        int count = 0;
        for (const IoFaults::Request& request : io.Calls())
            count += request.call == platform::file_io::Call::Fdatasync;
        return count;
    };
    std::atomic<int64_t> now{1765195200};  // a day's noon
    CTime::SetClock([&] { return now.load(); });
    struct GiveBack {
        ~GiveBack() { CTime::SetClock({}); }
    } giveBack;  // before `now` goes, whatever happens
    const int64_t steps[] = {0, -3600, +5400, -86400, +1};  // back an hour, forward, back a day
    Begin();
    std::vector<QString> names;
    for (size_t i = 0; i < std::size(steps); ++i) {
        now += steps[i];
        names.push_back(TimeOfDay(now));
        const int before = flushes();
        SendAsOneChunk(QByteArray(1, char('a' + i)));
        // Flushed by the schedule alone, with no one asking.
        EXPECT_TRUE(testing_support::WaitUntil([&] { return flushes() > before; }, 10000)) << "after step " << i;
    }
    dlg->OnStop();

    ASSERT_EQ(Recorded(), QByteArray("abcde"));
    std::lock_guard lock(dlg->Engine().m_csCapture);
    for (int i = 0; i < dlg->Engine().m_items.GetSize(); ++i)
        EXPECT_EQ(dlg->Engine().m_items.GetAt(i).GetName(), names[size_t(i)]) << i;
}

} // namespace
