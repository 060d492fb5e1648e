#pragma once
// The recorded items, oldest first, stored by value in one contiguous block.
// No lock of its own: the capture lock guards it while a capture runs.
//
// Indexes count from the capture's first item. A capture that runs without
// a window gives back the items every file has on disk (DropBefore): the
// list then holds [GetFirst(), GetSize()) and older indexes are gone.
#include "data/data_item.h"

#include <cstdint>
#include <utility>

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
    }
    // One past the newest item's index: the items recorded in this capture.
    int64_t GetSize() const { return m_nFirst + m_nSize; }
    // The oldest item still held (0 unless items were dropped).
    int64_t GetFirst() const { return m_nFirst; }
    int64_t GetCapacity() const { return m_nCapacity; }
    const CDataItem& GetAt(int64_t index) const { return m_pItems[index - m_nFirst]; }
    // The stored item itself, to set what a copy does not carry over (a
    // restored item's time stamp).
    CDataItem& ElementAt(int64_t index) { return m_pItems[index - m_nFirst]; }

    // Destroys the items before `index`; the others keep their indexes.
    // The block keeps its size for the items to come.
    void DropBefore(int64_t index);

    // How many slots the block grows by when it is full at `size` items.
    static int64_t GrowthFor(int64_t size);

private:
    // Makes room for one more item; throws std::bad_alloc, with nothing
    // changed, when there is no memory for it.
    void GrowForOneMore();
    bool Holds(const CDataItem& item) const { return &item >= m_pItems && &item < m_pItems + m_nSize; }
    void DestroyAll();

    CDataItem* m_pItems = nullptr;  // raw slots; [0, m_nSize) hold live items
    int64_t m_nSize = 0;      // live slots
    int64_t m_nCapacity = 0;
    int64_t m_nFirst = 0;     // the index of the item in slot 0
};
