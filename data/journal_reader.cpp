#include "data/journal_reader.h"

#include "data/journal_format.h"

#include <cstring>

namespace {

QString Utf8(const uint8_t* p, size_t n)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(p), qsizetype(n));
}

bool ParseHeader(const uint8_t* p, size_t n, JournalHeader& header)
{
    constexpr size_t kFixed = 8 + sizeof(PortSettings) + 2;
    if (n < kFixed)
        return false;
    header.startMicros = int64_t(journal::GetU64(p));
    std::memcpy(&header.line, p + 8, sizeof(PortSettings));
    const size_t nameLength = journal::GetU16(p + 8 + sizeof(PortSettings));
    size_t at = kFixed;
    if (n - at < nameLength + 4)
        return false;
    header.portName = Utf8(p + at, nameLength);
    at += nameLength;
    const size_t prefixLength = journal::GetU32(p + at);
    at += 4;
    if (n - at != prefixLength)
        return false;
    header.prefix = Utf8(p + at, prefixLength);
    return true;
}

bool ParseItem(const uint8_t* p, size_t n, JournalItem& item)
{
    if (n < journal::kItemFixedSize)
        return false;
    item.timeMicros = int64_t(journal::GetU64(p));
    item.kind = int32_t(journal::GetU32(p + 8));
    const size_t nameLength = journal::GetU16(p + 12);
    if (n - journal::kItemFixedSize < nameLength)
        return false;
    item.name = Utf8(p + journal::kItemFixedSize, nameLength);
    item.data = p + journal::kItemFixedSize + nameLength;
    item.length = int(n - journal::kItemFixedSize - nameLength);
    return true;
}

} // namespace

JournalSummary ReadJournal(const uint8_t* data, size_t size, const std::function<void(const JournalItem&)>& onItem,
                           JournalScope scope)
{
    JournalSummary summary;
    if (size < journal::kFileHeaderSize || std::memcmp(data, journal::kMagic, sizeof journal::kMagic) != 0) {
        summary.problem = QStringLiteral("not a capture journal");
        return summary;
    }
    summary.version = journal::GetU32(data + sizeof journal::kMagic);
    if (summary.version != journal::kVersion && summary.version != journal::kVersionOneFile) {
        summary.problem = QStringLiteral("a journal version this program does not read");
        return summary;
    }

    // A segment names its place in the series before the capture header.
    bool haveSegment = summary.version == journal::kVersionOneFile;
    bool haveHeader = false;
    size_t at = journal::kFileHeaderSize;
    summary.state = JournalState::Whole;
    auto stop = [&](JournalState state, const QString& problem) {
        summary.state = haveHeader ? state : JournalState::NotAJournal;
        summary.problem = haveHeader ? problem : QStringLiteral("the capture header is missing or damaged");
    };
    while (at < size) {
        const size_t left = size - at;
        if (left < journal::kRecordHeadSize) {
            stop(JournalState::CutOff, QString());
            break;
        }
        const uint8_t* record = data + at;
        const uint32_t payloadSize = journal::GetU32(record);
        if (payloadSize > journal::kMaxPayload) {
            stop(JournalState::Damaged, QStringLiteral("a record at offset %1 claims an impossible size").arg(at));
            break;
        }
        const size_t whole = journal::kRecordHeadSize + payloadSize + journal::kRecordCrcSize;
        if (left < whole) {
            stop(JournalState::CutOff, QString());
            break;
        }
        const size_t covered = journal::kRecordHeadSize + payloadSize;
        if (journal::GetU32(record + covered) != journal::Crc(record, covered)) {
            stop(JournalState::Damaged, QStringLiteral("the record at offset %1 fails its check").arg(at));
            break;
        }
        const uint8_t type = record[4];
        const uint8_t* payload = record + journal::kRecordHeadSize;
        bool good = true;
        if (!haveSegment) {
            good = type == journal::kSegment && payloadSize == journal::kSegmentSize;
            if (good) {
                // Taken into the summary only once they make sense: a
                // rejected record leaves nothing of itself behind.
                const uint32_t segment = journal::GetU32(payload);
                const int64_t firstItem = int64_t(journal::GetU64(payload + 4));
                const int64_t bytesBefore = int64_t(journal::GetU64(payload + 12));
                good = segment > 0 && firstItem >= 0 && bytesBefore >= 0 && firstItem < kMaxJournalItems;
                if (good) {
                    summary.segment = segment;
                    summary.firstItem = firstItem;
                    summary.bytesBefore = bytesBefore;
                }
            }
            haveSegment = good;
        } else if (!haveHeader) {
            good = type == journal::kCaptureHeader && ParseHeader(payload, payloadSize, summary.header);
            haveHeader = good;
        } else if (type == journal::kItem) {
            if (scope == JournalScope::Head)
                break;
            JournalItem item;
            good = ParseItem(payload, payloadSize, item) && summary.items < kMaxJournalItems;
            item.number = summary.EndItem();
            item.offset = int64_t(at);
            if (good) {
                ++summary.items;
                summary.bytes += item.length;
                if (onItem)
                    onItem(item);
            }
        } else if (type == journal::kSaved) {
            good = payloadSize == 8;
            if (good) {
                const uint64_t saved = journal::GetU64(payload);
                good = saved <= uint64_t(summary.EndItem());
                if (good && int64_t(saved) > summary.saved)
                    summary.saved = int64_t(saved);
            }
        }
        // Records of other types, from a later version, are passed over.
        if (!good) {
            stop(JournalState::Damaged, QStringLiteral("the record at offset %1 does not make sense").arg(at));
            break;
        }
        at += whole;
        summary.goodEnd = int64_t(at);
    }
    if (!haveHeader && summary.state != JournalState::NotAJournal)
        stop(JournalState::NotAJournal, QString());
    return summary;
}
