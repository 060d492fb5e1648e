// The recording gate: pause, record everything, or only the first nLength
// seconds of every period counted from Begin.
#include "capture/capture_engine.h"

#include <algorithm>
#include <limits>

namespace {

const int32_t kUnitSeconds[] = {1, 60, 3600};  // "Sec", "Min", "Hour"

// Values beyond 32 bits are as far as 32 bits reach, never wrapped.
int32_t clampToInt32(int64_t value)
{
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace

int32_t CCaptureEngine::GetRecordPeriod()
{
    const int32_t unit = m_recordSettings.nUnit;
    // Only a hand-edited settings file brings a unit outside the table; it
    // has no period, and 0 makes the gate record everything.
    if (unit < 0 || unit > 2)
        return 0;
    // A period too long for 32 bits is as long as 32 bits allow.
    const int64_t period = int64_t(kUnitSeconds[unit]) * m_recordSettings.nPeriod;
    return clampToInt32(period);
}

bool CCaptureEngine::IsRecordTime()
{
    if (m_bPaused)
        return false;
    if (m_recordSettings.bRecordAll)
        return true;
    // Seconds since Begin; a clock set back makes this negative, and the
    // truncating remainder then keeps the sign, so such chunks are recorded.
    const int32_t elapsed = clampToInt32(CTime::GetCurrentTime() - m_timeStart);
    const int32_t period = GetRecordPeriod();
    // A rule with no period of positive length cannot be applied; recording
    // everything loses nothing.
    if (period <= 0)
        return true;
    return elapsed % period < m_recordSettings.nLength;
}
