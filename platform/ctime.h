#pragma once
// Calendar time in whole seconds with its local broken-down form. The clock
// behind GetCurrentTime can be replaced, so tests can set the time of day and
// move it forwards or backwards.
#include <cstdint>
#include <ctime>
#include <functional>

class CTime {
public:
    CTime() = default;
    explicit CTime(int64_t secondsSinceEpoch) : m_seconds(secondsSinceEpoch) {}

    static CTime GetCurrentTime();
    // The same clock in microseconds since the epoch, for time stamps finer
    // than a second. A replaced clock gives whole seconds.
    static int64_t GetCurrentMicros();
    int64_t GetTime() const { return m_seconds; }
    // The local broken-down time (tm_hour 0-23, tm_min, tm_sec).
    std::tm GetLocalTm() const;

    friend int64_t operator-(const CTime& a, const CTime& b) { return a.m_seconds - b.m_seconds; }

    using Clock = std::function<int64_t()>;
    // Replaces the clock; an empty function restores the system clock.
    static void SetClock(Clock clock);

private:
    int64_t m_seconds = 0;
};
