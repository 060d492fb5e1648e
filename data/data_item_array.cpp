#include "data/data_item_array.h"

#include "data/journal_read_back.h"
#include "data/journal_segment_reader.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
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

int64_t CDataItemArray::Record(const uint8_t* data, int length, int kind, const QString& name)
{
    if (length < 0 || !data)
        length = 0;
    const bool inRing = length > CDataItem::kInlineBytes;
    if (m_nMemoryBudget > 0) {
        int64_t needed = ResidentBytes();
        if (m_nSize == m_nCapacity)
            needed += GrowthFor(m_nSize) * int64_t(sizeof(CDataItem));
        if (inRing && m_ring.NeedsNewBlockFor(size_t(length)))
            needed += int64_t(CChunkRing::kBlockBytes);
        if (needed > m_nMemoryBudget)
            return kOverBudget;
    }
    // Everything that may throw comes before the ring gives out room.
    CDataItem item;
    item.SetKind(kind);
    item.SetName(name);
    if (m_nSize == m_nCapacity)
        GrowForOneMore();
    if (inRing) {
        uint8_t* bytes = m_ring.Allocate(size_t(length));
        std::memcpy(bytes, data, size_t(length));
        item.SetBytesOwnedByList(bytes, length);
    } else {
        item.SetData(data, length);
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

void CDataItemArray::DestroyFront(int64_t count)
{
    for (int64_t i = 0; i < count; ++i) {
        if (m_pItems[i].BytesOwnedByList())
            m_ring.Release(m_pItems[i].GetData());
        m_pItems[i].~CDataItem();
    }
    // The few items still held move to the front bitwise, as when the block
    // grows, so the slots are reused instead of the block growing on.
    std::memmove(static_cast<void*>(m_pItems), static_cast<const void*>(m_pItems + count),
                 sizeof(CDataItem) * size_t(m_nSize - count));
    m_nSize -= count;
    m_nFirst += count;
}

void CDataItemArray::DropBefore(int64_t index)
{
    index = std::min(index, GetSize());
    if (index <= m_nKept)
        return;
    m_nKept = index;
    // Offsets of dropped items are forgotten a whole page at a time.
    while (!m_spilled.pages.empty() && m_spilled.start + (int64_t(1) << kPageBits) <= std::min(index, m_nFirst)) {
        m_spilled.pages.erase(m_spilled.pages.begin());
        m_spilled.start += int64_t(1) << kPageBits;
    }
    while (m_segments.size() > 1 && m_segments[1].first <= index) {
        m_segments.erase(m_segments.begin());
        // Its descriptor may be the last that keeps a removed file's space.
        if (m_readBack)
            m_readBack->Forget();
    }
    const int64_t count = std::clamp<int64_t>(index - m_nFirst, 0, m_nSize);
    if (count > 0)
        DestroyFront(count);
}

void CDataItemArray::PushSpilled(const std::shared_ptr<const CJournalSegmentReader>& segment, uint32_t offset)
{
    if (m_spilled.pages.empty())
        m_spilled.start = m_nFirst;
    const int64_t at = m_nFirst - m_spilled.start;
    const size_t page = size_t(at >> kPageBits);
    if (page == m_spilled.pages.size())
        m_spilled.pages.push_back(std::make_unique_for_overwrite<uint32_t[]>(size_t(1) << kPageBits));
    if (m_segments.empty() || m_segments.back().reader != segment)
        m_segments.push_back({segment, m_nFirst});
    m_spilled.pages[page][size_t(at & ((int64_t(1) << kPageBits) - 1))] = offset;
}

void CDataItemArray::Spill(int64_t end, const std::shared_ptr<const CJournalSegmentReader>& segment,
                           const uint32_t* offsets)
{
    const int64_t count = std::clamp<int64_t>(end - m_nFirst, 0, m_nSize);
    if (count == 0 || !segment)
        return;
    if (m_spilled.pages.empty())
        m_spilled.start = m_nFirst;
    // Room for the offsets first: a failed allocation changes nothing.
    const int64_t last = m_nFirst + count - 1 - m_spilled.start;
    m_spilled.pages.reserve(size_t(last >> kPageBits) + 1);
    m_segments.reserve(m_segments.size() + 1);
    while (int64_t(m_spilled.pages.size()) <= (last >> kPageBits))
        m_spilled.pages.push_back(std::make_unique_for_overwrite<uint32_t[]>(size_t(1) << kPageBits));
    if (m_segments.empty() || m_segments.back().reader != segment)
        m_segments.push_back({segment, m_nFirst});
    for (int64_t i = 0; i < count; ++i) {
        const int64_t at = m_nFirst + i - m_spilled.start;
        m_spilled.pages[size_t(at >> kPageBits)][size_t(at & ((int64_t(1) << kPageBits) - 1))] = offsets[i];
    }
    DestroyFront(count);
}

void CDataItemArray::AddSpilled(const std::shared_ptr<const CJournalSegmentReader>& segment, uint32_t offset)
{
    if (m_nSize != 0 || !segment)
        throw std::logic_error("only an item list without items in memory takes items that are on disk only");
    PushSpilled(segment, offset);
    ++m_nFirst;
}

const CDataItem& CDataItemArray::ReadBack(int64_t index, CDataItem& scratch) const
{
    const int64_t at = index - m_spilled.start;
    auto segment = std::upper_bound(m_segments.begin(), m_segments.end(), index,
                                    [](int64_t i, const Segment& s) { return i < s.first; });
    if (index < m_nKept || at < 0 || segment == m_segments.begin()) {
        scratch.SetData(nullptr, 0);
        return scratch;
    }
    // The newest item of this segment that is on disk only: its record and
    // those before it are flushed and stay as they are.
    const int64_t lastSpilled = (segment == m_segments.end() ? m_nFirst : std::min(segment->first, m_nFirst)) - 1;
    if (!m_readBack)
        m_readBack = std::make_unique<CJournalReadBack>();
    m_readBack->Read((segment - 1)->reader, OffsetOf(index), OffsetOf(lastSpilled), scratch);
    return scratch;
}

int64_t CDataItemArray::SpilledIndexBytes() const
{
    return int64_t(m_spilled.pages.size()) * int64_t(sizeof(uint32_t) << kPageBits) +
           int64_t(m_spilled.pages.capacity() * sizeof(void*)) + int64_t(m_segments.capacity() * sizeof(Segment));
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
    m_nKept = 0;
    m_spilled = {};
    m_segments.clear();
    m_ring.Clear();
    m_readBack.reset();
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
