#pragma once
// The texts of an item's time: the time column's three modes and the ISO
// 8601 local time that the timed files carry. Pure functions of
// microseconds since the epoch; local time is the process's time zone.
#include <QString>
#include <cstdint>

enum class TimeColumnMode : int32_t {
    Off = 0,
    TimeOfDay = 1,      // 14:03:05.123
    SinceStart = 2,     // +00:12:07.481, from the capture's first item
    SincePrevious = 3,  // +0.004, from the item before
};

// A stored value that is none of the modes reads as Off.
TimeColumnMode TimeColumnModeFrom(int32_t value);

// The column's text for an item recorded at `micros`, in the capture whose
// first item was recorded at `startMicros`, after an item recorded at
// `previousMicros` (the item's own time for the first item). A clock
// stepped back gives a negative difference, shown with a minus sign.
QString FormatItemTime(TimeColumnMode mode, int64_t micros, int64_t startMicros, int64_t previousMicros);

// The widest text a mode shows in ordinary use, in characters.
int TimeColumnChars(TimeColumnMode mode);

// "2026-12-08T14:03:05.123456+01:00": local time with microseconds and the
// zone's offset (RFC 3339).
QString FormatIsoLocalMicros(int64_t micros);
void AppendIsoLocalMicros(QByteArray& out, int64_t micros);
