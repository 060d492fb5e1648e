// Item times as the time column, "Go to time" and the timed files read
// them: the three column modes, ISO 8601 local time, the moments "Go to
// time" accepts, and the search over a capture whose clock stepped back.
#include "data/item_time_format.h"
#include "data/time_lookup.h"
#include "scoped_time_zone.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

namespace {

constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// Microseconds of a local time in that zone (UTC+1 in winter, +2 in summer).
int64_t Local(int year, int month, int day, int hour, int minute, int second, int micros = 0, int offsetHours = 1)
{
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour - offsetHours;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return int64_t(timegm(&utc)) * 1'000'000 + micros;
}

} // namespace

TEST(ItemTimeFormat, TheThreeModesAcrossMidnightAndAClockSteppedBack)
{
    const testing_support::ScopedTimeZone zone(kCentralEurope);
    const int64_t start = Local(2026, 12, 8, 23, 0, 0);
    const int64_t beforeMidnight = Local(2026, 12, 8, 23, 59, 59, 999'500);
    const int64_t afterMidnight = Local(2026, 12, 9, 0, 0, 0, 4'000);
    const int64_t daysLater = Local(2026, 12, 13, 3, 4, 5, 6'000);
    const struct {
        TimeColumnMode mode;
        int64_t micros, previous;
        const char* expected;
    } cases[] = {
        {TimeColumnMode::TimeOfDay, beforeMidnight, start, "23:59:59.999"},
        {TimeColumnMode::TimeOfDay, afterMidnight, beforeMidnight, "00:00:00.004"},
        {TimeColumnMode::SinceStart, start, start, "+00:00:00.000"},
        {TimeColumnMode::SinceStart, afterMidnight, beforeMidnight, "+01:00:00.004"},
        {TimeColumnMode::SinceStart, daysLater, afterMidnight, "+100:04:05.006"},
        {TimeColumnMode::SincePrevious, afterMidnight, beforeMidnight, "+0.004"},
        {TimeColumnMode::SincePrevious, beforeMidnight, beforeMidnight, "+0.000"},
        // A clock stepped back shows how far, not a huge positive number.
        {TimeColumnMode::SincePrevious, beforeMidnight - 1'500'000, beforeMidnight, "-1.500"},
        {TimeColumnMode::SinceStart, start - 2'000'000, start, "-00:00:02.000"},
        {TimeColumnMode::Off, afterMidnight, beforeMidnight, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const QString text = FormatItemTime(c.mode, c.micros, start, c.previous);
        EXPECT_EQ(text, QString::fromLatin1(c.expected));
        EXPECT_LE(text.size(), TimeColumnChars(c.mode));
    }
}

TEST(ItemTimeFormat, IsoLocalTimeHasMicrosecondsAndTheZonesOffset)
{
    const testing_support::ScopedTimeZone zone(kCentralEurope);
    EXPECT_EQ(FormatIsoLocalMicros(Local(2026, 12, 8, 14, 3, 5, 123'456)), "2026-12-08T14:03:05.123456+01:00");
    EXPECT_EQ(FormatIsoLocalMicros(Local(2026, 7, 1, 12, 0, 0, 7, 2)), "2026-07-01T12:00:00.000007+02:00");
    // Just before the epoch: the fraction counts up from the second before.
    EXPECT_EQ(FormatIsoLocalMicros(-1), "1970-01-01T00:59:59.999999+01:00");
}

TEST(ItemTimeFormat, StoredModesOutsideTheFourReadAsOff)
{
    for (const int32_t value : {0, 1, 2, 3, 4, -1, 0x7FFFFFFF})
        EXPECT_EQ(int(TimeColumnModeFrom(value)), value >= 0 && value <= 3 ? value : 0) << value;
}

TEST(GoToTimeInput, EveryFormResolvesToTheMomentItNames)
{
    const testing_support::ScopedTimeZone zone(kCentralEurope);
    const int64_t start = Local(2026, 12, 8, 23, 50, 0, 250'000);
    const struct {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"2026-12-08 14:03:05", Local(2026, 12, 8, 14, 3, 5)},
        {" 2026-12-08T14:03:05.25 ", Local(2026, 12, 8, 14, 3, 5, 250'000)},
        {"2026-12-08T13:03:05Z", Local(2026, 12, 8, 14, 3, 5)},
        {"2026-12-08 18:33:05+05:30", Local(2026, 12, 8, 14, 3, 5)},
        {"2026-07-01 12:00", Local(2026, 7, 1, 12, 0, 0, 0, 2)},
        // A time of day: its first occurrence at or after the start,
        // the next day when it has passed.
        {"23:55", Local(2026, 12, 8, 23, 55, 0)},
        {"23:50:00.250", start},
        {"23:50", Local(2026, 12, 9, 23, 50, 0)},
        {"00:10:30.5", Local(2026, 12, 9, 0, 10, 30, 500'000)},
        // Offsets from the start.
        {"+1h23m", start + (3600 + 23 * 60) * int64_t(1'000'000)},
        {"+90", start + 90'000'000},
        {"+ 2m 30.5s", start + 150'500'000},
        {"+1.5h", start + 5400 * int64_t(1'000'000)},
        {"+250ms", start + 250'000},
        {"+1d", start + 86400 * int64_t(1'000'000)},
        {"+00:12:07.481", start + 727'481'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TimeTarget target;
        ASSERT_EQ(ParseTimeTarget(QString::fromLatin1(c.text), target), QString());
        EXPECT_EQ(ResolveTimeTarget(target, start), c.expected);
    }
}

TEST(GoToTimeInput, WhatCannotBeReadIsExplainedNotGuessed)
{
    for (const char* text : {"", "   ", "soon", "24:00", "12:60", "2026-02-30 10:00", "2026-13-01 10:00", "+",
                             "+1x", "+00:61:00", "14.03.05", "2026-12-08",
                             "+999999d999999d999999d999999d999999d999999d999999d999999d999999d999999d999999d"}) {
        SCOPED_TRACE(text);
        TimeTarget target;
        const QString problem = ParseTimeTarget(QString::fromLatin1(text), target);
        EXPECT_FALSE(problem.isEmpty());
        EXPECT_TRUE(problem.endsWith(u'.')) << problem.toStdString();
    }
}

TEST(ItemTimeRuns, FindsTheFirstItemInRecordedOrderAtOrAfterAMoment)
{
    // Against a plain scan of the times, in recorded order, for captures
    // whose clock runs forward, stands still and steps back.
    QRandomGenerator random(21);
    for (int round = 0; round < 200; ++round) {
        std::vector<int64_t> times;
        int64_t now = 1000;
        const int count = int(random.bounded(0, 60));
        for (int i = 0; i < count; ++i) {
            const int step = int(random.bounded(0, 10));
            now += step == 0 ? -int64_t(random.bounded(1, 400)) : step < 3 ? 0 : int64_t(random.bounded(1, 50));
            times.push_back(now);
        }
        CItemTimeRuns runs;
        for (const int64_t t : times)
            runs.Append(t);
        ASSERT_EQ(runs.Count(), count);
        for (int64_t target = 400; target < now + 300; target += 7) {
            int expected = count;
            for (int i = 0; i < count; ++i) {
                if (times[size_t(i)] >= target) {
                    expected = i;
                    break;
                }
            }
            int visits = 0;
            const int found = runs.FindFirstAtOrAfter(target, [&](int i) {
                ++visits;
                return times[size_t(i)];
            });
            ASSERT_EQ(found, expected) << "round " << round << " target " << target;
            EXPECT_LE(visits, 7);  // a binary search, never a scan
        }
    }
}
