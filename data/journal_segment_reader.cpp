#include "data/journal_segment_reader.h"

#include "data/journal_format.h"

#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough for an item of a full read and its name in one call.
constexpr size_t kUsualRecord = 2048;

bool ReadAt(int fd, uint8_t* into, size_t length, int64_t offset)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, into + done, length - done, off_t(offset + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += size_t(got);
    }
    return true;
}

} // namespace

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

bool CJournalSegmentReader::ReadItem(int64_t offset, CDataItem& item) const
{
    item.SetData(nullptr, 0);
    uint8_t usual[kUsualRecord];
    const ssize_t got = ::pread(m_fd, usual, sizeof usual, off_t(offset));
    if (got < ssize_t(journal::kRecordHeadSize))
        return false;
    const uint32_t payload = journal::GetU32(usual);
    const size_t whole = journal::kRecordHeadSize + payload + journal::kRecordCrcSize;
    if (payload > journal::kMaxPayload || payload < journal::kItemFixedSize || usual[4] != journal::kItem)
        return false;
    const uint8_t* record = usual;
    std::unique_ptr<uint8_t[]> large;
    if (whole > size_t(got)) {
        if (whole <= sizeof usual)
            return false;  // the file ends inside the record
        large = std::make_unique<uint8_t[]>(whole);
        if (!ReadAt(m_fd, large.get(), whole, offset))
            return false;
        record = large.get();
    }
    const size_t covered = journal::kRecordHeadSize + payload;
    if (journal::GetU32(record + covered) != journal::Crc(record, covered))
        return false;
    const uint8_t* p = record + journal::kRecordHeadSize;
    const size_t nameLength = journal::GetU16(p + 12);
    if (payload - journal::kItemFixedSize < nameLength)
        return false;
    const size_t length = payload - journal::kItemFixedSize - nameLength;
    item.SetData(p + journal::kItemFixedSize + nameLength, int(length));
    item.SetTimeMicros(int64_t(journal::GetU64(p)));
    item.SetKind(int32_t(journal::GetU32(p + 8)));
    item.SetName(QString::fromUtf8(reinterpret_cast<const char*>(p + journal::kItemFixedSize), qsizetype(nameLength)));
    return true;
}
