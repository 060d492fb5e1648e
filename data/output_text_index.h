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
    qint64 SegmentStart(qint64 s) const { return At(m_chars, std::clamp<qint64>(s + 1, 0, m_size - 1)); }
    qint64 LinesBefore(qint64 s) const { return At(m_lines, std::clamp<qint64>(s + 1, 0, m_size - 1)); }
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
    // Values stored in blocks, so growing never moves what is there.
    static constexpr int kBlockBits = 14;
    static constexpr qint64 kBlockSize = qint64(1) << kBlockBits;
    using Blocks = std::vector<std::unique_ptr<qint64[]>>;
    static qint64 At(const Blocks& blocks, qint64 i) { return blocks[size_t(i >> kBlockBits)][i & (kBlockSize - 1)]; }
    void Push(qint64 chars, qint64 lines);
    // Counts the line starts in `text`, continuing from the state the text before it left.
    void Scan(const QChar* text, qsizetype length);
    void ScanBytes(const uint8_t* data, int length);
    template <typename Char> void ScanRange(const Char* text, qsizetype length);
    qint64 FirstAtOrAbove(const Blocks& blocks, qint64 value, bool strictlyAbove) const;

    uint64_t m_captureId = 0;
    Blocks m_chars;
    Blocks m_lines;
    qint64 m_size = 0;           // values stored: segments -1 .. ItemCount(), the last one the end
    qint64 m_totalChars = 0;
    qint64 m_lineStarts = 0;     // line starts in the text so far
    bool m_endsInLineEnd = true; // the text so far ends in a line end (or is empty)
    bool m_endsInCR = false;     // ... and that line end was a "\r"
    QString m_buffer;            // an entry decoded to learn its length
};
