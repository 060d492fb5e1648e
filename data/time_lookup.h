#pragma once
// "Go to time": reading what the user typed, and finding the first item
// recorded at or after that moment by binary search over the item times.
//
// Item times come from the wall clock, which may be stepped back (by hand,
// or by a time service correcting it). The items are then searched in
// recorded order: the answer is the first item, counting from the start of
// the capture, whose time is at or after the moment asked for, even when
// later items (recorded after the step) carry earlier times.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <vector>

struct TimeTarget {
    enum Kind { DateTime, TimeOfDay, Offset };
    Kind kind = DateTime;
    // DateTime: microseconds since the epoch. TimeOfDay: microseconds since
    // local midnight. Offset: microseconds after the capture's start.
    int64_t micros = 0;
};

// Reads "2026-12-08 14:03:05[.123456][+01:00|Z]" (a "T" may stand for the
// blank; without an offset the time is local), "14:03[:05[.123]]", or an
// offset from the capture's start: "+1h23m", "+90s", "+2m30.5s", "+1d",
// "+00:12:07.481". Empty on success, else one sentence saying what is wrong.
QString ParseTimeTarget(const QString& text, TimeTarget& target);

// The moment a target stands for, in microseconds since the epoch, in a
// capture whose first item was recorded at `startMicros`. A time of day is
// its first occurrence at or after the start, counting forward across
// midnights in local time.
int64_t ResolveTimeTarget(const TimeTarget& target, int64_t startMicros);

// The item times of one capture, followed in recorded order: where the clock
// went backwards, so a binary search can run on each stretch in which the
// times never decrease. A few bytes per step back, none per item.
class CItemTimeRuns {
public:
    void Reset();
    void Append(int64_t micros);

    int64_t Count() const { return m_count; }
    int64_t FirstMicros() const { return m_first; }
    // How often the clock went backwards between two items.
    int64_t StepsBack() const { return int64_t(m_runStarts.size()); }

    // The first item, in recorded order, whose time is at or after `target`
    // (Count() when there is none). `timeAt(i)` gives item i's time; it is
    // called for a few dozen items at most.
    template <typename TimeAt> int64_t FindFirstAtOrAfter(int64_t target, TimeAt&& timeAt) const
    {
        // Every item of the stretches before the first one whose highest
        // time reaches the target is earlier than the target.
        const auto closed = std::lower_bound(m_prefixMax.begin(), m_prefixMax.end(), target);
        const size_t k = size_t(closed - m_prefixMax.begin());
        int64_t first = 0, end = 0;
        if (closed != m_prefixMax.end()) {
            first = k == 0 ? 0 : m_runStarts[k - 1];
            end = m_runStarts[k];
        } else if (m_count > 0 && m_last >= target) {
            first = m_runStarts.empty() ? 0 : m_runStarts.back();
            end = m_count;
        } else {
            return m_count;
        }
        // Inside one stretch the times never decrease.
        while (first < end) {
            const int64_t mid = first + (end - first) / 2;
            if (timeAt(mid) < target)
                first = mid + 1;
            else
                end = mid;
        }
        return first;
    }

private:
    int64_t m_count = 0;
    int64_t m_first = 0;
    int64_t m_last = 0;
    std::vector<int64_t> m_runStarts;      // the items whose time is earlier than the one before
    std::vector<int64_t> m_prefixMax;  // the highest time up to the end of each closed stretch
};
