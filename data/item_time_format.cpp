#include "data/item_time_format.h"

#include <QByteArray>
#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;

// Whole seconds and the microseconds past them, rounded down also before the epoch.
void Split(int64_t micros, int64_t& seconds, int64_t& fraction)
{
    seconds = micros / kMicrosPerSecond;
    fraction = micros % kMicrosPerSecond;
    if (fraction < 0) {
        fraction += kMicrosPerSecond;
        --seconds;
    }
}

std::tm LocalTm(int64_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

QString Ascii(const char* text, int length)
{
    return QString::fromLatin1(text, length < 0 ? 0 : length);
}

} // namespace

TimeColumnMode TimeColumnModeFrom(int32_t value)
{
    switch (value) {
    case 1: return TimeColumnMode::TimeOfDay;
    case 2: return TimeColumnMode::SinceStart;
    case 3: return TimeColumnMode::SincePrevious;
    default: return TimeColumnMode::Off;
    }
}

QString FormatItemTime(TimeColumnMode mode, int64_t micros, int64_t startMicros, int64_t previousMicros)
{
    char text[48];
    int length = 0;
    switch (mode) {
    case TimeColumnMode::Off:
        return QString();
    case TimeColumnMode::TimeOfDay: {
        int64_t seconds = 0, fraction = 0;
        Split(micros, seconds, fraction);
        const std::tm local = LocalTm(seconds);
        length = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                               int(fraction / 1000));
        break;
    }
    case TimeColumnMode::SinceStart: {
        const int64_t delta = micros - startMicros;
        const int64_t millis = (delta < 0 ? -delta : delta) / 1000;
        length = std::snprintf(text, sizeof text, "%c%02lld:%02d:%02d.%03d", delta < 0 ? '-' : '+',
                               static_cast<long long>(millis / 3'600'000), int(millis / 60'000 % 60),
                               int(millis / 1000 % 60), int(millis % 1000));
        break;
    }
    case TimeColumnMode::SincePrevious: {
        const int64_t delta = micros - previousMicros;
        const int64_t millis = (delta < 0 ? -delta : delta) / 1000;
        length = std::snprintf(text, sizeof text, "%c%lld.%03d", delta < 0 ? '-' : '+',
                               static_cast<long long>(millis / 1000), int(millis % 1000));
        break;
    }
    }
    return Ascii(text, length);
}

int TimeColumnChars(TimeColumnMode mode)
{
    switch (mode) {
    case TimeColumnMode::TimeOfDay: return 12;      // 14:03:05.123
    case TimeColumnMode::SinceStart: return 14;     // +100:12:07.481, past four days
    case TimeColumnMode::SincePrevious: return 10;  // +99999.999, past a day
    default: return 0;
    }
}

void AppendIsoLocalMicros(QByteArray& out, int64_t micros)
{
    int64_t seconds = 0, fraction = 0;
    Split(micros, seconds, fraction);
    const std::tm local = LocalTm(seconds);
    const long offset = local.tm_gmtoff;
    const long offsetMinutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06d%c%02ld:%02ld",
                                     local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                     local.tm_min, local.tm_sec, int(fraction), offset < 0 ? '-' : '+',
                                     offsetMinutes / 60, offsetMinutes % 60);
    out.append(text, length < 0 ? 0 : length);
}

QString FormatIsoLocalMicros(int64_t micros)
{
    QByteArray out;
    AppendIsoLocalMicros(out, micros);
    return QString::fromLatin1(out);
}
