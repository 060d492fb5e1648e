#pragma once
// The position of one follower of the item list. The item list is the
// capture's one model; the output area, the journal and the headless writers
// each follow it by index: under the capture lock they take the items
// recorded since their last visit (copying or indexing them, nothing slower)
// and do their slow work (layout, painting, disk) outside it. Clear Output
// starts a new capture with a new id, and every follower starts over.
#include <climits>
#include <cstdint>

class CItemFollower {
public:
    struct Batch {
        int64_t first = 0;       // the first item not taken yet
        int64_t end = 0;         // one past the last item taken now
        bool restarted = false;  // the list was cleared since the last visit
    };

    // Under the capture lock: the items of capture `captureId`, a list of
    // `size` items, that this follower has not taken yet, at most `most` of
    // them. They count as taken from now on.
    Batch Take(uint64_t captureId, int64_t size, int64_t most = INT64_MAX)
    {
        Batch batch;
        if (captureId != m_captureId) {
            m_captureId = captureId;
            m_taken = 0;
            batch.restarted = true;
        }
        if (m_taken > size)
            m_taken = size;  // defensive: a list can only shrink by a clear
        batch.first = m_taken;
        batch.end = size - m_taken > most ? m_taken + most : size;
        m_taken = batch.end;
        return batch;
    }

    // Counts the first `taken` items of capture `captureId` as taken already
    // (items restored from a journal that the journal holds).
    void Seek(uint64_t captureId, int64_t taken)
    {
        m_captureId = captureId;
        m_taken = taken;
    }

    int64_t Taken() const { return m_taken; }
    uint64_t CaptureId() const { return m_captureId; }

private:
    uint64_t m_captureId = 0;
    int64_t m_taken = 0;
};
