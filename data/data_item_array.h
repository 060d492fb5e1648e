#pragma once
// The recorded items, oldest first, stored by value in one contiguous block.
// No lock of its own: the capture lock guards it while a capture runs.
#include "data/data_item.h"

class CDataItemArray {
public:
    CDataItemArray() = default;
    CDataItemArray(const CDataItemArray&) = delete;
    CDataItemArray& operator=(const CDataItemArray&) = delete;
    ~CDataItemArray();

    // Appends a deep copy of `item` and returns its index.
    int Add(const CDataItem& item);
    void RemoveAll();
    int GetSize() const { return m_nSize; }
    int GetCapacity() const { return m_nCapacity; }
    const CDataItem& GetAt(int index) const { return m_pItems[index]; }
    // The stored item itself, to set what a copy does not carry over (a
    // restored item's time stamp).
    CDataItem& ElementAt(int index) { return m_pItems[index]; }

    // How many slots the block grows by when it is full at `size` items.
    static int GrowthFor(int size);

private:
    void SetSize(int newSize);

    CDataItem* m_pItems = nullptr;  // raw slots; [0, m_nSize) hold live items
    int m_nSize = 0;
    int m_nCapacity = 0;
};
