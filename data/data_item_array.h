#pragma once
// The recorded items, oldest first, stored by value in one contiguous block.
// No lock of its own: the capture lock guards it while a capture runs.
//
// Indexes count from the capture's first item. The list keeps an item's
// bytes in memory only until the journal has them on disk (Spill); after
// that it keeps where the item's record is, four bytes, and reads the item
// back from the journal's segment when asked (At). A capture that runs
// without a window gives back the items every file has on disk
// (DropBefore): indexes before GetKept() are gone.
//
// Reading back keeps state (the block last read from a segment), changed by
// the const At: that is safe because every caller (the output area's index,
// Find, Save, the streamed files, the journal's writer, the time column)
// calls At and GetAt with the capture lock held, as for everything else here.
#include "data/chunk_ring.h"
#include "data/data_item.h"
#include "data/journal_read_back.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class CJournalSegmentReader;

class CDataItemArray {
public:
    CDataItemArray() = default;
    CDataItemArray(const CDataItemArray&) = delete;
    CDataItemArray& operator=(const CDataItemArray&) = delete;
    ~CDataItemArray();

    // Appends a deep copy of `item` and returns its index.
    int64_t Add(const CDataItem& item);
    // Appends `item` itself, its bytes and time stamp taken over rather than
    // copied; `item` is left empty. Returns its index.
    int64_t Add(CDataItem&& item);
    // Records a chunk just read: an item stamped now with a copy of the
    // bytes, kept in the list's chunk ring until the journal has them.
    // Returns its index, or kOverBudget, with nothing changed, when the
    // items in memory would take more than the memory budget. Throws
    // std::bad_alloc, with nothing changed, when there is no memory.
    static constexpr int64_t kOverBudget = -1;
    int64_t Record(const uint8_t* data, int length, int kind, const QString& name);
    // The most bytes the items in memory may take (0: no limit). Items on
    // disk cost only their index.
    void SetMemoryBudget(int64_t bytes) { m_nMemoryBudget = bytes; }
    int64_t MemoryBudget() const { return m_nMemoryBudget; }
    // Bytes the items in memory take now: their slots and the chunk ring.
    int64_t ResidentBytes() const { return m_nCapacity * int64_t(sizeof(CDataItem)) + m_ring.HeldBytes(); }
    // Destroys every item and gives the memory back to the system.
    void RemoveAll();
    // Exchanges the contents with `other` without copying or freeing an
    // item, so a list can be emptied under a lock and freed after it.
    void Swap(CDataItemArray& other) noexcept
    {
        std::swap(m_pItems, other.m_pItems);
        std::swap(m_nSize, other.m_nSize);
        std::swap(m_nCapacity, other.m_nCapacity);
        std::swap(m_nFirst, other.m_nFirst);
        std::swap(m_nKept, other.m_nKept);
        std::swap(m_spilled, other.m_spilled);
        std::swap(m_segments, other.m_segments);
        m_ring.Swap(other.m_ring);
        std::swap(m_readBack, other.m_readBack);
    }
    // One past the newest item's index: the items recorded in this capture.
    int64_t GetSize() const { return m_nFirst + m_nSize; }
    // The oldest item held in memory; those before it down to GetKept() are
    // read back from the journal.
    int64_t GetFirst() const { return m_nFirst; }
    // The oldest item still held at all (0 unless items were dropped).
    int64_t GetKept() const { return m_nKept; }
    int64_t GetCapacity() const { return m_nCapacity; }

    // Item `index` (GetKept() <= index < GetSize()): the one in memory, or
    // `scratch` filled from the journal. The reference holds until the list
    // next changes, that is while the capture lock is held. An item the
    // journal cannot give back (a disk that went bad) comes back empty.
    const CDataItem& At(int64_t index, CDataItem& scratch) const
    {
        return index >= m_nFirst ? m_pItems[index - m_nFirst] : ReadBack(index, scratch);
    }
    // The same, as a copy with the item's own time.
    CDataItem GetAt(int64_t index) const
    {
        if (index < m_nFirst) {
            CDataItem scratch;
            ReadBack(index, scratch);
            return scratch;
        }
        CDataItem copy(m_pItems[index - m_nFirst]);
        copy.SetTimeMicros(m_pItems[index - m_nFirst].GetTimeMicros());
        return copy;
    }
    // An item in memory itself (index >= GetFirst()), to set what a copy
    // does not carry over (a restored item's time stamp). Not for new bytes:
    // those of a recorded chunk belong to the list.
    CDataItem& ElementAt(int64_t index) { return m_pItems[index - m_nFirst]; }

    // The items in memory from GetFirst() up to `end` are on disk in
    // `segment`, their records at `offsets`: their memory is given back.
    void Spill(int64_t end, const std::shared_ptr<const CJournalSegmentReader>& segment, const uint32_t* offsets);
    // Appends an item that is on disk only (a restore), while no item of
    // the list is in memory.
    void AddSpilled(const std::shared_ptr<const CJournalSegmentReader>& segment, uint32_t offset);

    // Destroys the items before `index`; the others keep their indexes.
    // The block keeps its size for the items to come.
    void DropBefore(int64_t index);

    // Bytes the list's memory for items on disk takes: the offsets and the
    // segments they refer to.
    int64_t SpilledIndexBytes() const;

    // How many slots the block grows by when it is full at `size` items.
    static int64_t GrowthFor(int64_t size);

private:
    // Makes room for one more item; throws std::bad_alloc, with nothing
    // changed, when there is no memory for it.
    void GrowForOneMore();
    bool Holds(const CDataItem& item) const { return &item >= m_pItems && &item < m_pItems + m_nSize; }
    void DestroyAll();
    const CDataItem& ReadBack(int64_t index, CDataItem& scratch) const;
    void PushSpilled(const std::shared_ptr<const CJournalSegmentReader>& segment, uint32_t offset);
    void DestroyFront(int64_t count);
    uint32_t OffsetOf(int64_t index) const
    {
        const int64_t at = index - m_spilled.start;
        return m_spilled.pages[size_t(at >> kPageBits)][size_t(at & ((int64_t(1) << kPageBits) - 1))];
    }

    CDataItem* m_pItems = nullptr;  // raw slots; [0, m_nSize) hold live items
    int64_t m_nSize = 0;      // live slots
    int64_t m_nCapacity = 0;
    int64_t m_nFirst = 0;     // the index of the item in slot 0
    int64_t m_nKept = 0;      // the oldest index not dropped
    int64_t m_nMemoryBudget = 0;
    CChunkRing m_ring;        // the bytes of recorded chunks not yet on disk

    // Items [m_nKept, m_nFirst) on disk: their records' offsets, in pages
    // that are never moved, and the segments, each with its first index.
    static constexpr int kPageBits = 16;
    struct Spilled {
        std::vector<std::unique_ptr<uint32_t[]>> pages;
        int64_t start = 0;  // the index of the first offset stored
    } m_spilled;
    struct Segment {
        std::shared_ptr<const CJournalSegmentReader> reader;
        int64_t first = 0;
    };
    std::vector<Segment> m_segments;
    // Made at the first read back; see the note at the top.
    mutable std::unique_ptr<CJournalReadBack> m_readBack;
};
