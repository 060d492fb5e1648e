#include "data/journal_segment_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::shared_ptr<const CJournalSegmentReader> CJournalSegmentReader::Of(int fd)
{
    const int own = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (own < 0)
        return nullptr;
    return std::shared_ptr<const CJournalSegmentReader>(new CJournalSegmentReader(own));
}

CJournalSegmentReader::~CJournalSegmentReader()
{
    ::close(m_fd);
}

size_t CJournalSegmentReader::Read(int64_t offset, uint8_t* into, size_t length) const
{
    // pread into our own memory, not a mapping: a file cut short under us
    // gives a short read here, where a mapping would give SIGBUS.
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(m_fd, into + done, length - done, off_t(offset + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    return done;
}
