#pragma once
// Reads items back from the journal's segments for the item list, a block
// at a time. The records of consecutive items lie one after the other in a
// segment, so one read of a block serves a few hundred items of a scan
// (Find, Save, the output area's index) instead of one read each; a walk
// backwards (scrolling up, Find Previous) gets blocks that end where it is.
//
// No lock of its own: the item list keeps one and uses it only from At,
// which every caller calls with the capture lock held.
#include "data/data_item.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class CJournalSegmentReader;

class CJournalReadBack {
public:
    static constexpr size_t kBlockBytes = 256 * 1024;

    CJournalReadBack();
    ~CJournalReadBack();
    CJournalReadBack(const CJournalReadBack&) = delete;
    CJournalReadBack& operator=(const CJournalReadBack&) = delete;

    // Fills `item` from the record at `offset` in `segment`: its bytes,
    // time, kind and name. `lastSpilled` is the offset of the newest record
    // of that segment whose item the list no longer holds: records up to it
    // are flushed and never change, while the writer may still cut back and
    // write again what follows, so a block read earlier serves only records
    // up to the `lastSpilled` it was read with. False, with `item` empty,
    // when the record cannot be read or fails its check (a disk that went
    // bad, a file cut short by someone else).
    bool Read(const std::shared_ptr<const CJournalSegmentReader>& segment, uint32_t offset, uint32_t lastSpilled,
              CDataItem& item);

    // Lets go of the block and of the segment it came from.
    void Forget();

private:
    // The record at `offset` if the block holds all of it and may serve it;
    // null otherwise. `bad` is set when the part held shows damage.
    const uint8_t* FromBlock(const CJournalSegmentReader* segment, int64_t offset, bool& bad) const;
    void Refill(const std::shared_ptr<const CJournalSegmentReader>& segment, int64_t offset, uint32_t lastSpilled);
    bool Decode(const uint8_t* record, CDataItem& item);

    std::unique_ptr<uint8_t[]> m_block;
    std::shared_ptr<const CJournalSegmentReader> m_segment;  // what the block holds
    int64_t m_start = 0;       // the block's offset in the segment
    size_t m_length = 0;       // bytes read into the block
    int64_t m_lastSpilled = -1;
    // Items of the same second share a name: it is made once, not per item.
    QByteArray m_nameUtf8;
    QString m_name;
};
