// The recording gate and the period, with a clock of the test's own.
#include "capture/capture_engine.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr int64_t kStart = 1'700'000'000;

class RecordingGate : public ::testing::Test {
protected:
    void SetUp() override
    {
        CTime::SetClock([this] { return m_now; });
        engine.m_timeStart = CTime(kStart);
    }
    // Which of the seconds [from, to] after Begin the gate records.
    std::vector<int> RecordedSeconds(int from, int to)
    {
        std::vector<int> seconds;
        for (int e = from; e <= to; ++e) {
            m_now = kStart + e;
            if (engine.IsRecordTime())
                seconds.push_back(e);
        }
        return seconds;
    }
    int64_t m_now = kStart;
    CCaptureEngine engine;
};

TEST_F(RecordingGate, RecordsEverythingByDefaultUnlessPaused)
{
    ASSERT_NE(engine.m_recordSettings.bRecordAll, 0);  // the stored default
    EXPECT_EQ(RecordedSeconds(0, 5).size(), 6u);
    engine.m_bPaused = 1;
    EXPECT_TRUE(RecordedSeconds(0, 5).empty());
}

TEST_F(RecordingGate, RecordsTheFirstSecondsOfEveryPeriod)
{
    engine.m_recordSettings = RecordSettings{0, 10, 3, 0};
    EXPECT_EQ(RecordedSeconds(0, 25), (std::vector<int>{0, 1, 2, 10, 11, 12, 20, 21, 22}));

    engine.m_recordSettings = RecordSettings{1, 1, 1, 0};  // the stored rule: first second of each minute
    EXPECT_EQ(RecordedSeconds(0, 185), (std::vector<int>{0, 60, 120, 180}));

    engine.m_recordSettings = RecordSettings{2, 1, 2, 0};
    EXPECT_EQ(RecordedSeconds(3599, 3602), (std::vector<int>{3600, 3601}));

    engine.m_recordSettings = RecordSettings{0, 5, 5, 0};  // a window as long as the period
    EXPECT_EQ(RecordedSeconds(0, 9).size(), 10u);

    engine.m_bPaused = 1;
    EXPECT_TRUE(RecordedSeconds(0, 9).empty());
}

TEST_F(RecordingGate, RecordsWhileTheClockIsBeforeTheStart)
{
    engine.m_recordSettings = RecordSettings{0, 10, 3, 0};
    // Set back: the remainder is 0 or negative, so below the length.
    EXPECT_EQ(RecordedSeconds(-12, 3), (std::vector<int>{-12, -11, -10, -9, -8, -7, -6, -5, -4, -3, -2, -1, 0, 1, 2}));
}

TEST_F(RecordingGate, PeriodIsTheUnitTimesTheCount)
{
    const struct {
        int32_t unit, period, seconds;
    } cases[] = {{0, 1, 1}, {0, 999, 999}, {1, 1, 60}, {1, 999, 59940}, {2, 999, 3596400}};
    for (const auto& c : cases) {
        engine.m_recordSettings = RecordSettings{c.unit, c.period, 1, 0};
        EXPECT_EQ(engine.GetRecordPeriod(), c.seconds);
    }
}

TEST_F(RecordingGate, ARuleOnlyAnEditedFileCanHoldNeverFails)
{
    // No unit, or no positive period: nothing to measure, so nothing is lost.
    for (const RecordSettings& rule : {RecordSettings{3, 10, 1, 0}, RecordSettings{-1, 10, 1, 0},
                                       RecordSettings{0, 0, 1, 0}, RecordSettings{1, -5, 1, 0}}) {
        engine.m_recordSettings = rule;
        EXPECT_EQ(RecordedSeconds(0, 30).size(), 31u);
    }
    engine.m_recordSettings = RecordSettings{3, 10, 1, 0};
    EXPECT_EQ(engine.GetRecordPeriod(), 0);

    // An hour count too large for 32 bits saturates instead of wrapping.
    engine.m_recordSettings = RecordSettings{2, 1'000'000, 10, 0};
    EXPECT_EQ(engine.GetRecordPeriod(), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(RecordedSeconds(8, 12), (std::vector<int>{8, 9}));

    // Elapsed seconds beyond 32 bits (a clock far off) do not wrap either.
    engine.m_recordSettings = RecordSettings{0, 10, 3, 0};
    m_now = kStart + (int64_t(1) << 40);
    EXPECT_EQ(engine.IsRecordTime(), (std::numeric_limits<int32_t>::max() % 10) < 3);
}

} // namespace
