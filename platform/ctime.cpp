#include "platform/ctime.h"

#include <mutex>

namespace {
std::mutex s_clockMutex;
CTime::Clock s_clock;
}

CTime CTime::GetCurrentTime()
{
    {
        std::lock_guard lock(s_clockMutex);
        if (s_clock)
            return CTime(s_clock());
    }
    return CTime(int64_t(std::time(nullptr)));
}

int64_t CTime::GetCurrentMicros()
{
    {
        std::lock_guard lock(s_clockMutex);
        if (s_clock)
            return s_clock() * 1'000'000;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

std::tm CTime::GetLocalTm() const
{
    std::tm result{};
    const std::time_t t = std::time_t(m_seconds);
    localtime_r(&t, &result);
    return result;
}

void CTime::SetClock(Clock clock)
{
    std::lock_guard lock(s_clockMutex);
    s_clock = std::move(clock);
}
