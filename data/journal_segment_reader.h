#pragma once
// Reads items back from one segment of a journal, by the offset of their
// record, for the item list once the journal has their bytes on disk. It
// holds a descriptor of its own, so the segment stays readable while an
// item refers to it, even after the journal is removed or moved aside.
#include "data/data_item.h"

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

    // The item whose record begins at `offset`, with its bytes, time, kind
    // and name. False, with `item` empty, when the record cannot be read or
    // fails its check (a disk that went bad under it).
    bool ReadItem(int64_t offset, CDataItem& item) const;

private:
    explicit CJournalSegmentReader(int fd) : m_fd(fd) {}
    int m_fd;
};
