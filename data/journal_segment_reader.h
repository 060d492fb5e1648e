#pragma once
// A descriptor of one segment of a journal, of its own, for reading items
// back once the journal has their bytes on disk: the segment stays readable
// while an item refers to it, even after the journal is removed or moved
// aside. Reading and checking the records is CJournalReadBack's.
#include <cstddef>
#include <cstdint>
#include <memory>

class CJournalSegmentReader {
public:
    // A reader of the file open as `fd` (a descriptor of its own is taken),
    // or null when none can be had.
    static std::shared_ptr<const CJournalSegmentReader> Of(int fd);
    ~CJournalSegmentReader();
    CJournalSegmentReader(const CJournalSegmentReader&) = delete;
    CJournalSegmentReader& operator=(const CJournalSegmentReader&) = delete;

    // Reads up to `length` bytes at `offset` into `into`: the number read,
    // fewer where the file ends (or cannot be read) before.
    size_t Read(int64_t offset, uint8_t* into, size_t length) const;

private:
    explicit CJournalSegmentReader(int fd) : m_fd(fd) {}
    int m_fd;
};
