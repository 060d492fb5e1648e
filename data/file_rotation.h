#pragma once
// When a long capture's file is closed and the next one begun: after a
// number of bytes, or at the start of every local hour or day. Every part
// carries its start time in its name, so the parts sort in order.
#include <QString>
#include <cstdint>

struct SplitRule {
    enum Kind { None, Size, Hour, Day };
    Kind kind = None;
    int64_t bytes = 0;  // for Size: a part never grows past this, unless one item alone is larger
    int keep = 0;       // how many of a run's newest parts are kept (0: all)

    // "100M", "64k", "4096" (K, M, G are powers of 1024), "hour" or "1h",
    // "day" or "1d". False for anything else.
    static bool Parse(const QString& text, SplitRule& rule);

    // The local period (hour or day) that `seconds` since the epoch falls
    // in, as the period's start; 0 for the other kinds.
    int64_t PeriodStart(int64_t seconds) const;
};

// A byte count with an optional K, M or G (powers of 1024, "B" or "iB" may
// follow): "4096", "64k", "10MiB". False for anything else or zero.
bool ParseByteSize(const QString& text, int64_t& bytes);

// "dir/name-YYYYMMDD-HHMMSS.ext" for "dir/name.ext" and a local start time;
// `serial` > 1 adds "_002" and so on for parts that start in the same
// second, so the names still sort in the order of the parts.
QString RotatedFileName(const QString& path, int64_t startSeconds, int serial = 1);
