#include "data/journal_read_back.h"

#include "data/journal_format.h"
#include "data/journal_segment_reader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kHead = journal::kRecordHeadSize;
constexpr size_t kOverhead = journal::kRecordHeadSize + journal::kRecordCrcSize;
// A walk backwards asks for the record just before the last one: its block
// ends this far after it, room for a usual record.
constexpr int64_t kBackwardSlack = 8 * 1024;

// The whole record's length from its head, or 0 when the head is not that
// of an item record (damage).
size_t ItemRecordLength(const uint8_t* head)
{
    const uint32_t payload = journal::GetU32(head);
    if (payload > journal::kMaxPayload || payload < journal::kItemFixedSize || head[4] != journal::kItem)
        return 0;
    return kOverhead + payload;
}

} // namespace

CJournalReadBack::CJournalReadBack() = default;
CJournalReadBack::~CJournalReadBack() = default;

void CJournalReadBack::Forget()
{
    m_segment.reset();
    m_length = 0;
    m_lastSpilled = -1;
}

const uint8_t* CJournalReadBack::FromBlock(const CJournalSegmentReader* segment, int64_t offset, bool& bad) const
{
    if (segment != m_segment.get() || offset < m_start || offset > m_lastSpilled ||
        offset + int64_t(kHead) > m_start + int64_t(m_length))
        return nullptr;
    const uint8_t* record = m_block.get() + (offset - m_start);
    const size_t whole = ItemRecordLength(record);
    bad = whole == 0;
    return !bad && offset + int64_t(whole) <= m_start + int64_t(m_length) ? record : nullptr;
}

void CJournalReadBack::Refill(const std::shared_ptr<const CJournalSegmentReader>& segment, int64_t start,
                              uint32_t lastSpilled)
{
    if (!m_block)
        m_block = std::make_unique_for_overwrite<uint8_t[]>(kBlockBytes);
    m_segment = segment;
    m_start = start;
    m_lastSpilled = lastSpilled;
    m_length = segment->Read(start, m_block.get(), kBlockBytes);
}

// A walk forwards gets a block that starts at the record asked for; one
// backwards, a block that ends a little after it; a record the block cannot
// hold whole, a read of its own.
bool CJournalReadBack::Read(const std::shared_ptr<const CJournalSegmentReader>& segment, uint32_t offset,
                            uint32_t lastSpilled, CDataItem& item)
{
    bool bad = false;
    const uint8_t* record = FromBlock(segment.get(), offset, bad);
    if (!record && !bad && segment == m_segment && offset < m_start && offset + int64_t(kBlockBytes) > m_start) {
        Refill(segment, std::max<int64_t>(0, int64_t(offset) + kBackwardSlack - int64_t(kBlockBytes)), lastSpilled);
        record = FromBlock(segment.get(), offset, bad);
    }
    if (!record && !bad) {
        Refill(segment, offset, lastSpilled);
        record = FromBlock(segment.get(), offset, bad);
    }
    std::unique_ptr<uint8_t[]> large;
    if (!record && !bad && offset + int64_t(kHead) <= m_start + int64_t(m_length)) {
        // Longer than what the block holds of it: read on its own, into
        // memory given back at once (such records are rare).
        const size_t whole = ItemRecordLength(m_block.get() + (offset - m_start));
        large = std::make_unique_for_overwrite<uint8_t[]>(whole);
        if (segment->Read(offset, large.get(), whole) == whole)
            record = large.get();
    }
    if (!record || !Decode(record, item)) {
        item.SetData(nullptr, 0);
        return false;
    }
    return true;
}

bool CJournalReadBack::Decode(const uint8_t* record, CDataItem& item)
{
    const size_t payload = journal::GetU32(record);
    const size_t covered = kHead + payload;
    if (journal::GetU32(record + covered) != journal::Crc(record, covered))
        return false;
    const uint8_t* p = record + kHead;
    const size_t nameLength = journal::GetU16(p + 12);
    if (payload - journal::kItemFixedSize < nameLength)
        return false;
    const char* name = reinterpret_cast<const char*>(p + journal::kItemFixedSize);
    if (m_nameUtf8.size() != qsizetype(nameLength) || std::memcmp(m_nameUtf8.constData(), name, nameLength) != 0) {
        m_nameUtf8 = QByteArray(name, qsizetype(nameLength));
        m_name = QString::fromUtf8(m_nameUtf8);
    }
    item.SetData(p + journal::kItemFixedSize + nameLength, int(payload - journal::kItemFixedSize - nameLength));
    item.SetTimeMicros(int64_t(journal::GetU64(p)));
    item.SetKind(int32_t(journal::GetU32(p + 8)));
    item.SetName(m_name);
    return true;
}
