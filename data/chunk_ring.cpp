#include "data/chunk_ring.h"

#include "platform/process_memory.h"

#include <algorithm>
#include <new>

namespace {

// Blocks kept for reuse beyond those in use. Enough for what a second of a
// fast line leaves unwritten between two journal flushes; a long outage of
// the journal gives the rest of its memory back once it catches up.
constexpr size_t kMostSpareBlocks = 64;

} // namespace

bool CChunkRing::NeedsNewBlockFor(size_t length) const
{
    const bool fits = !m_blocks.empty() && m_blocks.back().used + length <= kBlockBytes;
    return !fits && m_spare.empty();
}

uint8_t* CChunkRing::Allocate(size_t length)
{
    if (length == 0 || length > kBlockBytes)
        throw std::bad_alloc();
    if (m_blocks.empty() || m_blocks.back().used + length > kBlockBytes) {
        // Room in the deque first, then the block: a failure changes nothing.
        Block block;
        if (!m_spare.empty()) {
            m_blocks.push_back(std::move(block));
            m_blocks.back().bytes = std::move(m_spare.back());
            m_spare.pop_back();
        } else {
            block.bytes.reset(new uint8_t[kBlockBytes]);
            // A flood fills the block in a fraction of a millisecond: one
            // call for its pages, not a fault for each. Where the system
            // cannot, the pages fault in as before.
            (void)platform::prefaultForWriting(block.bytes.get(), kBlockBytes);
            m_blocks.push_back(std::move(block));
        }
    }
    Block& last = m_blocks.back();
    uint8_t* at = last.bytes.get() + last.used;
    last.used += length;
    ++last.live;
    return at;
}

void CChunkRing::Release(const uint8_t* bytes)
{
    // Chunks go oldest first, so the block is nearly always the first.
    const auto block =
        std::find_if(m_blocks.begin(), m_blocks.end(), [bytes](const Block& b) { return b.Holds(bytes); });
    if (block == m_blocks.end() || block->live == 0)
        return;
    --block->live;
    RetireEmptyBlocks();
}

void CChunkRing::RetireEmptyBlocks()
{
    while (!m_blocks.empty() && m_blocks.front().live == 0) {
        if (m_blocks.size() == 1) {
            // The block being filled starts over.
            m_blocks.front().used = 0;
            return;
        }
        if (m_spare.size() < kMostSpareBlocks) {
            try {
                m_spare.push_back(std::move(m_blocks.front().bytes));
            } catch (const std::bad_alloc&) {
                // Not kept, then: the block is freed with its entry.
            }
        }
        m_blocks.pop_front();
    }
}

void CChunkRing::Clear()
{
    m_blocks.clear();
    m_spare.clear();
    m_spare.shrink_to_fit();
}
