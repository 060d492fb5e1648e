#include "data/item_times.h"

#include "data/data_item_array.h"

CItemTimes::CItemTimes(std::mutex& captureLock, const CDataItemArray& items, const uint64_t& captureId)
    : m_lock(captureLock), m_items(items), m_listCaptureId(captureId)
{
}

void CItemTimes::Reset(uint64_t captureId)
{
    m_captureId = captureId;
    m_runs.Reset();
}

void CItemTimes::Append(const CDataItem& item)
{
    m_runs.Append(item.GetTimeMicros());
}

bool CItemTimes::Current() const
{
    return m_captureId == m_listCaptureId && m_runs.Count() <= m_items.GetSize();
}

bool CItemTimes::Read(const std::vector<int64_t>& indexes, std::vector<int64_t>& times) const
{
    times.clear();
    std::lock_guard lock(m_lock);
    if (!Current())
        return false;
    times.reserve(indexes.size());
    CDataItem scratch;
    for (const int64_t i : indexes)
        times.push_back(i >= 0 && i < m_runs.Count() ? m_items.At(i, scratch).GetTimeMicros() : 0);
    return true;
}

int64_t CItemTimes::FindFirstAtOrAfter(int64_t micros) const
{
    std::lock_guard lock(m_lock);
    if (!Current())
        return -1;
    CDataItem scratch;
    return m_runs.FindFirstAtOrAfter(micros, [&](int64_t i) { return m_items.At(i, scratch).GetTimeMicros(); });
}
