#pragma once
// Memory for the chunks that wait for the journal. Chunks are placed one
// after another in fixed blocks and given back oldest first, as the journal
// takes them; a block whose chunks are all gone is kept for the chunks to
// come. In a capture's steady state nothing is allocated per chunk and no
// new page is touched.
//
// No lock of its own: the item list that owns it is guarded by the capture
// lock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class CChunkRing {
public:
    // Large enough that a block's bookkeeping is rare, small enough that a
    // quiet port holds little: 256 chunks of a full read.
    static constexpr size_t kBlockBytes = 256 * 1024;

    CChunkRing() = default;
    CChunkRing(const CChunkRing&) = delete;
    CChunkRing& operator=(const CChunkRing&) = delete;

    // Room for a chunk of `length` bytes (1 to kBlockBytes). Throws
    // std::bad_alloc, with nothing changed, when a block is needed and
    // there is no memory for it.
    uint8_t* Allocate(size_t length);
    // Whether Allocate(length) would have to take memory from the system.
    bool NeedsNewBlockFor(size_t length) const;
    // The chunk Allocate gave at `bytes` is no longer needed.
    void Release(const uint8_t* bytes);
    // Every chunk is released and every block given back to the system.
    void Clear();
    // Bytes of the blocks held, those in use and those kept for reuse.
    int64_t HeldBytes() const { return int64_t(m_blocks.size() + m_spare.size()) * int64_t(kBlockBytes); }

    void Swap(CChunkRing& other) noexcept
    {
        m_blocks.swap(other.m_blocks);
        m_spare.swap(other.m_spare);
    }

private:
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        size_t used = 0;  // filled from the start
        size_t live = 0;  // chunks not yet released
        bool Holds(const uint8_t* p) const { return p >= bytes.get() && p < bytes.get() + kBlockBytes; }
    };
    void RetireEmptyBlocks();

    std::deque<Block> m_blocks;  // oldest first; chunks go into the last
    std::vector<std::unique_ptr<uint8_t[]>> m_spare;
};
