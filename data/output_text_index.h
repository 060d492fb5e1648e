#pragma once
// Where the output area's text and its lines start, item by item, without a
// copy of the text. The text is m_strOutput (segment -1) followed by one
// entry per item (segment i); for every segment the index holds the offset
// where it starts and how many lines start before it. Lines inside a segment
// are found on demand by rendering that one segment (see LineStartsIn).
//
// Line ends are "\r\n", a lone "\r" or a lone "\n". Every entry begins with
// "\r\n", so a line end never spans two segments and a segment's lines
// depend on nothing but its own text and whether the one before it ended in
// a line end.
//
// Written only by the user-interface thread, under the capture lock; read by
// that thread at any time and by other threads under the capture lock.
#include "data/data_item.h"

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

class COutputTextIndex {
public:
    COutputTextIndex();

    // Starts over for capture `captureId`, whose text begins with `prefixText`.
    void Reset(uint64_t captureId, const QString& prefixText);
    // Adds the entry of the next item.
    void Append(const CDataItem& item);

    uint64_t CaptureId() const { return m_captureId; }
    qint64 ItemCount() const { return m_size - 2; }
    qint64 TotalChars() const { return m_totalChars; }
    // Lines in the whole text; a text ending in a line end has an empty last line.
    qint64 LineCount() const { return m_lineStarts + (m_endsInLineEnd ? 1 : 0); }

    // For segment s in [-1, ItemCount()]: where it starts and how many lines
    // start before it (ItemCount() stands for the end of the text).
    qint64 SegmentStart(qint64 s) const { return CharsAt(std::clamp<qint64>(s + 1, 0, m_size - 1)); }
    qint64 LinesBefore(qint64 s) const { return LinesAt(std::clamp<qint64>(s + 1, 0, m_size - 1)); }
    // Lines that start inside segment s.
    qint64 LinesIn(qint64 s) const { return LinesBefore(s + 1) - LinesBefore(s); }

    // The segment holding text offset `offset` (ItemCount() at the end of
    // the text); empty segments are skipped.
    qint64 SegmentAtOffset(qint64 offset) const;
    // The segment in which line `line` starts (ItemCount() for the empty
    // last line of a text ending in a line end).
    qint64 SegmentAtLine(qint64 line) const;

    // Bytes the index itself occupies.
    qint64 MemoryBytes() const;

    // Positions inside `text` where a line starts, for a segment holding
    // `linesIn` line starts (the first one at 0 when the text before it
    // ended in a line end).
    static std::vector<int> LineStartsIn(const QString& text, qint64 linesIn);

private:
    // Two values per segment, hundreds of millions of segments: each group of
    // kGroupSize values keeps its first value in full and every value as a
    // 32-bit distance from it. A group whose values reach 2^32 past its first
    // (only items of tens of MiB do that) keeps them in full from there on.
    // Groups live in pages allocated once, so growing never moves or copies
    // what is stored.
    static constexpr int kGroupBits = 6;
    static constexpr int kGroupSize = 1 << kGroupBits;
    static constexpr int kPageBits = 14;
    static constexpr int kPageSize = 1 << kPageBits;
    static constexpr int kGroupsPerPage = kPageSize / kGroupSize;

    // Full values for a page with a group that outgrew 32 bits.
    struct WideValues {
        qint64 chars[kPageSize];
        qint64 lines[kPageSize];
    };
    struct Page {
        uint32_t chars[kPageSize];  // distance from the group's first value
        uint32_t lines[kPageSize];
        qint64 groupChars[kGroupsPerPage];  // the group's first value
        qint64 groupLines[kGroupsPerPage];
        uint8_t narrowEnd[kGroupsPerPage];  // the group's values from here on are in `wide`
        std::unique_ptr<WideValues> wide;
    };

    const Page& PageOf(qint64 i) const { return *m_pages[size_t(i >> kPageBits)]; }
    static int InPage(qint64 i) { return int(i & (kPageSize - 1)); }
    static bool IsNarrow(const Page& page, int k) { return (k & (kGroupSize - 1)) < page.narrowEnd[k >> kGroupBits]; }
    qint64 CharsAt(qint64 i) const
    {
        const Page& page = PageOf(i);
        const int k = InPage(i);
        return IsNarrow(page, k) ? page.groupChars[k >> kGroupBits] + page.chars[k] : page.wide->chars[k];
    }
    qint64 LinesAt(qint64 i) const
    {
        const Page& page = PageOf(i);
        const int k = InPage(i);
        return IsNarrow(page, k) ? page.groupLines[k >> kGroupBits] + page.lines[k] : page.wide->lines[k];
    }
    void Push(qint64 chars, qint64 lines);
    // Counts the line starts in `text`, continuing from the state the text before it left.
    template <typename Char> void ScanRange(const Char* text, qsizetype length);
    // The first value index whose chars (or lines) are above `value`.
    template <bool ByLines> qint64 FirstAbove(qint64 value) const;

    uint64_t m_captureId = 0;
    std::vector<std::unique_ptr<Page>> m_pages;
    qint64 m_widePages = 0;
    qint64 m_size = 0;           // values stored: segments -1 .. ItemCount(), the last one the end
    qint64 m_totalChars = 0;
    qint64 m_lineStarts = 0;     // line starts in the text so far
    bool m_endsInLineEnd = true; // the text so far ends in a line end (or is empty)
    bool m_endsInCR = false;     // ... and that line end was a "\r"
    QString m_buffer;            // an entry decoded to learn its length
};
