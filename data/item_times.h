#pragma once
// The times of the items the output area shows, for its time column and for
// "Go to time". It follows the item list beside the output area's index
// (both are brought up to date in the same catch-up, under the capture
// lock) and reads an item's time from the list when asked, under the same
// lock, so it keeps no copy of the times.
#include "data/time_lookup.h"

#include <cstdint>
#include <mutex>
#include <vector>

class CDataItem;
class CDataItemArray;

class CItemTimes {
public:
    // Everything given is guarded by `captureLock` and outlives this object.
    CItemTimes(std::mutex& captureLock, const CDataItemArray& items, const uint64_t& captureId);

    // Under the capture lock, on the thread that catches the view up.
    void Reset(uint64_t captureId);
    void Append(const CDataItem& item);

    uint64_t CaptureId() const { return m_captureId; }
    int64_t Count() const { return m_runs.Count(); }
    // The capture's start: the time of its first item.
    int64_t StartMicros() const { return m_runs.FirstMicros(); }
    int64_t StepsBack() const { return m_runs.StepsBack(); }

    // Takes the capture lock: the times of the items at `indexes` (each
    // below Count()). False when the list no longer holds this capture.
    bool Read(const std::vector<int64_t>& indexes, std::vector<int64_t>& times) const;
    // Takes the capture lock: the first item at or after `micros` in
    // recorded order (Count() for none), or -1 when the list no longer
    // holds this capture.
    int64_t FindFirstAtOrAfter(int64_t micros) const;

private:
    bool Current() const;

    std::mutex& m_lock;
    const CDataItemArray& m_items;
    const uint64_t& m_listCaptureId;
    uint64_t m_captureId = 0;
    CItemTimeRuns m_runs;
};
