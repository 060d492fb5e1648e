#include "data/data_item_array.h"

#include <algorithm>
#include <new>

namespace {

CDataItem* allocateSlots(int count)
{
    return static_cast<CDataItem*>(::operator new(sizeof(CDataItem) * size_t(count)));
}

void releaseSlots(CDataItem* block)
{
    ::operator delete(block);
}

} // namespace

CDataItemArray::~CDataItemArray()
{
    RemoveAll();
}

int CDataItemArray::GrowthFor(int size)
{
    // A eighth of the size, at least 4. Up to 8192 items it is also capped at
    // 1024; past that the cap is dropped, because a fixed step would make
    // every 1024th Add move the whole list and a long capture quadratic.
    const int growBy = std::max(4, size / 8);
    return size <= 8192 ? std::min(growBy, 1024) : growBy;
}

int CDataItemArray::Add(const CDataItem& item)
{
    const int index = m_nSize;
    if (&item >= m_pItems && &item < m_pItems + m_nSize) {
        // An item of this list: growing may move it, so copy it first.
        const CDataItem copy(item);
        SetSize(index + 1);
        m_pItems[index] = copy;
        return index;
    }
    SetSize(index + 1);
    m_pItems[index] = item;
    return index;
}

void CDataItemArray::RemoveAll()
{
    for (int i = 0; i < m_nSize; ++i)
        m_pItems[i].~CDataItem();
    releaseSlots(m_pItems);
    m_pItems = nullptr;
    m_nSize = 0;
    m_nCapacity = 0;
}

void CDataItemArray::SetSize(int newSize)
{
    if (newSize <= m_nSize)
        return;
    if (!m_pItems) {
        m_pItems = allocateSlots(newSize);
        m_nCapacity = newSize;
    } else if (newSize > m_nCapacity) {
        const int newCapacity = std::max(newSize, m_nCapacity + GrowthFor(m_nSize));
        // A failed allocation throws here, before anything has changed.
        CDataItem* block = allocateSlots(newCapacity);
        for (int i = 0; i < m_nSize; ++i) {
            new (&block[i]) CDataItem(std::move(m_pItems[i]));
            m_pItems[i].~CDataItem();
        }
        releaseSlots(m_pItems);
        m_pItems = block;
        m_nCapacity = newCapacity;
    }
    // A default item's constructor does not allocate, so this cannot throw
    // half-way and leave an unconstructed slot inside the size.
    for (int i = m_nSize; i < newSize; ++i)
        new (&m_pItems[i]) CDataItem();
    m_nSize = newSize;
}
