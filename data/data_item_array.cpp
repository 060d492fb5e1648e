#include "data/data_item_array.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// The block of slots. Small blocks come from malloc. Large ones are mapped
// directly, so that growing one remaps its pages instead of copying them
// (the bitwise move of the items costs no second copy of a long capture)
// and freeing one returns it to the system at once. malloc does the same
// for large blocks only up to a threshold that it raises as large blocks
// are freed, after which it would copy: hence the mapping of our own.
constexpr size_t kMappedBlockBytes = 128 * 1024;

size_t BlockBytes(int64_t capacity)
{
    const size_t bytes = sizeof(CDataItem) * size_t(capacity);
    if (bytes < kMappedBlockBytes)
        return bytes;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

bool IsMapped(size_t bytes)
{
    return bytes >= kMappedBlockBytes;
}

// The block resized from `oldBytes` to `newBytes` with its contents, or null
// (the old block untouched) when there is no memory.
void* ResizeBlock(void* block, size_t oldBytes, size_t newBytes)
{
    if (!IsMapped(newBytes))
        return std::realloc(block, newBytes);
    if (block && IsMapped(oldBytes)) {
        void* moved = mremap(block, oldBytes, newBytes, MREMAP_MAYMOVE);
        return moved == MAP_FAILED ? nullptr : moved;
    }
    void* mapped = mmap(nullptr, newBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    if (block) {
        std::memcpy(mapped, block, oldBytes);
        std::free(block);
    }
    return mapped;
}

void ReleaseBlock(void* block, size_t bytes)
{
    if (IsMapped(bytes))
        munmap(block, bytes);
    else
        std::free(block);
}

} // namespace

CDataItemArray::~CDataItemArray()
{
    DestroyAll();
}

int64_t CDataItemArray::GrowthFor(int64_t size)
{
    // A eighth of the size, at least 4. Up to 8192 items it is also capped at
    // 1024; past that the cap is dropped, because a fixed step would make
    // every 1024th Add move the whole list and a long capture quadratic.
    const int64_t growBy = std::max<int64_t>(4, size / 8);
    return size <= 8192 ? std::min<int64_t>(growBy, 1024) : growBy;
}

int64_t CDataItemArray::Add(const CDataItem& item)
{
    if (m_nSize == m_nCapacity) {
        if (Holds(item)) {
            // An item of this list: growing may move it, so copy it first.
            CDataItem copy(item);
            return Add(std::move(copy));
        }
        GrowForOneMore();
    }
    // Constructed in place: a failed copy leaves the slot empty and the size
    // as it was.
    new (&m_pItems[m_nSize]) CDataItem(item);
    return m_nFirst + m_nSize++;
}

int64_t CDataItemArray::Add(CDataItem&& item)
{
    if (m_nSize == m_nCapacity) {
        if (Holds(item)) {
            CDataItem taken(std::move(item));
            return Add(std::move(taken));
        }
        GrowForOneMore();
    }
    new (&m_pItems[m_nSize]) CDataItem(std::move(item));
    return m_nFirst + m_nSize++;
}

void CDataItemArray::RemoveAll()
{
    const bool held = m_pItems != nullptr;
    DestroyAll();
#if defined(__GLIBC__)
    // The items' names and long chunks were small blocks, which malloc keeps
    // for reuse; a cleared long capture should leave the process near its
    // size at start.
    if (held)
        malloc_trim(0);
#endif
}

void CDataItemArray::DropBefore(int64_t index)
{
    const int64_t count = std::clamp<int64_t>(index - m_nFirst, 0, m_nSize);
    if (count == 0)
        return;
    for (int64_t i = 0; i < count; ++i)
        m_pItems[i].~CDataItem();
    // The few items still held move to the front bitwise, as when the block
    // grows, so the slots are reused instead of the block growing on.
    std::memmove(static_cast<void*>(m_pItems), static_cast<const void*>(m_pItems + count),
                 sizeof(CDataItem) * size_t(m_nSize - count));
    m_nSize -= count;
    m_nFirst += count;
}

void CDataItemArray::DestroyAll()
{
    for (int64_t i = 0; i < m_nSize; ++i)
        m_pItems[i].~CDataItem();
    if (m_pItems)
        ReleaseBlock(m_pItems, BlockBytes(m_nCapacity));
    m_pItems = nullptr;
    m_nSize = 0;
    m_nCapacity = 0;
    m_nFirst = 0;
}

void CDataItemArray::GrowForOneMore()
{
    // The block's size in bytes must fit in a size_t.
    constexpr int64_t kMostItems = int64_t(std::min<uint64_t>(INT64_MAX, SIZE_MAX / sizeof(CDataItem)));
    if (m_nCapacity >= kMostItems)
        throw std::bad_alloc();
    // The first block holds exactly one item; then the block grows by
    // GrowthFor(size) slots.
    const int64_t newCapacity =
        m_pItems ? std::min<int64_t>(m_nCapacity + GrowthFor(m_nSize), kMostItems) : m_nSize + 1;
    // The items move bitwise with their block: they keep their bytes and
    // names, and nothing is copied or destroyed.
    void* block =
        ResizeBlock(static_cast<void*>(m_pItems), m_pItems ? BlockBytes(m_nCapacity) : 0, BlockBytes(newCapacity));
    if (!block)
        throw std::bad_alloc();
    m_pItems = static_cast<CDataItem*>(block);
    m_nCapacity = newCapacity;
}
