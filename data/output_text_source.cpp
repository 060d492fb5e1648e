#include "data/output_text_source.h"

#include "data/data_item_array.h"
#include "data/item_rendering.h"
#include "data/output_text_index.h"

namespace {
// qBound for offsets, whatever the integer types of its arguments.
inline qint64 Bound64(qint64 low, qint64 value, qint64 high)
{
    return value < low ? low : value > high ? high : value;
}
} // namespace

COutputTextSource::COutputTextSource(std::mutex& captureLock, const QString& prefixText, const CDataItemArray& items,
                                     const uint64_t& captureId, const COutputTextIndex& index)
    : m_lock(captureLock), m_prefixText(prefixText), m_items(items), m_captureId(captureId), m_index(index)
{
}

COutputTextSource::Extent COutputTextSource::CurrentExtent() const
{
    std::lock_guard lock(m_lock);
    Extent extent;
    extent.captureId = m_index.CaptureId();
    extent.items = m_index.ItemCount();
    extent.chars = m_index.TotalChars();
    return extent;
}

bool COutputTextSource::ReadPiece(uint64_t captureId, qint64 itemIndex, qint64 count, OutputTextPiece& piece) const
{
    piece.text.clear();
    std::lock_guard lock(m_lock);
    // The index may still describe the capture before a Clear Output until
    // the next catch-up: both ids must match.
    if (captureId != m_captureId || captureId != m_index.CaptureId()) {
        piece.start = 0;
        return false;
    }
    const qint64 first = Bound64(-1, itemIndex, m_index.ItemCount());
    const qint64 end = Bound64(first, itemIndex + qMax(count, 0), m_index.ItemCount());
    piece.start = m_index.SegmentStart(first);
    CDataItem scratch;
    for (qint64 i = first; i < end; ++i) {
        if (i < 0)
            piece.text += m_prefixText;
        else
            AppendItemEntry(piece.text, m_items.At(i, scratch));
    }
    return true;
}

qint64 COutputTextSource::ItemTextStart(uint64_t captureId, qint64 item) const
{
    std::lock_guard lock(m_lock);
    if (captureId != m_captureId || captureId != m_index.CaptureId() || item < -1 || item > m_index.ItemCount())
        return -1;
    return m_index.SegmentStart(item);
}

qint64 COutputTextSource::ItemAtOffset(uint64_t captureId, qint64 offset) const
{
    std::lock_guard lock(m_lock);
    if (captureId != m_captureId || captureId != m_index.CaptureId() || offset < 0 || offset >= m_index.TotalChars())
        return -2;
    return m_index.SegmentAtOffset(offset);
}

qint64 COutputTextSource::IndexMemoryBytes() const
{
    std::lock_guard lock(m_lock);
    return m_index.MemoryBytes();
}
