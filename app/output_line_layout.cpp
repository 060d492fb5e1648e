#include "app/output_line_layout.h"

#include <algorithm>

namespace {
// qBound for offsets, whatever the integer types of its arguments.
inline qint64 Bound64(qint64 low, qint64 value, qint64 high)
{
    return value < low ? low : value > high ? high : value;
}
} // namespace

namespace {

// Segments kept, and the characters they may hold together: enough for a
// screenful of lines from short entries, small beside the capture.
constexpr size_t kKeptSegments = 64;
constexpr qint64 kKeptChars = 4 * 1024 * 1024;

// Items read from the model per visit, when a range of text is copied out.
constexpr int kItemsPerRead = 256;

} // namespace

void COutputLineLayout::SetText(const COutputTextSource* source, const COutputTextIndex* index)
{
    m_source = source;
    m_index = index;
    Forget();
}

void COutputLineLayout::Forget()
{
    m_kept.clear();
}

const COutputLineLayout::Segment* COutputLineLayout::SegmentAt(qint64 s) const
{
    if (!m_source || !m_index)
        return nullptr;
    const uint64_t id = m_index->CaptureId();
    for (size_t i = 0; i < m_kept.size(); ++i) {
        if (m_kept[i].index == s && m_kept[i].captureId == id) {
            std::rotate(m_kept.begin(), m_kept.begin() + qsizetype(i), m_kept.begin() + qsizetype(i) + 1);
            return &m_kept.front();
        }
    }
    OutputTextPiece piece;
    if (!m_source->ReadPiece(id, s, 1, piece))
        return nullptr;  // cleared; the next catch-up starts the index over
    Segment segment;
    segment.captureId = id;
    segment.index = s;
    segment.start = piece.start;
    segment.lineStarts = COutputTextIndex::LineStartsIn(piece.text, m_index->LinesIn(s));
    segment.text = std::move(piece.text);

    qint64 chars = segment.text.size();
    size_t keep = 0;
    while (keep < m_kept.size() && keep + 1 < kKeptSegments && chars + m_kept[keep].text.size() <= kKeptChars)
        chars += m_kept[keep++].text.size();
    m_kept.resize(keep);
    m_kept.insert(m_kept.begin(), std::move(segment));
    return &m_kept.front();
}

COutputLineLayout::Line COutputLineLayout::LineAt(qint64 number) const
{
    Line line;
    line.number = number;
    if (!m_index)
        return line;
    const qint64 s = m_index->SegmentAtLine(number);
    if (s >= m_index->ItemCount()) {
        line.start = m_index->TotalChars();  // the empty line after a final line end
        return line;
    }
    const Segment* segment = SegmentAt(s);
    const qint64 k = number - m_index->LinesBefore(s);
    if (!segment || k < 0 || k >= qint64(segment->lineStarts.size()))
        return line;
    const int local = segment->lineStarts[size_t(k)];
    const QChar* text = segment->text.constData();
    int end = local;
    while (end < segment->text.size() && text[end] != u'\r' && text[end] != u'\n')
        ++end;
    line.start = segment->start + local;
    line.length = end - local;
    line.segment = segment->text;
    line.local = local;
    return line;
}

COutputLineLayout::Pos COutputLineLayout::Advance(Pos p, qint64 rows) const
{
    const qint64 lines = LineCount();
    while (rows > 0) {
        const qint64 have = RowsOf(LineAt(p.line));
        if (p.row + rows < have) {
            p.row += rows;
            break;
        }
        if (p.line + 1 >= lines) {
            p.row = have - 1;
            break;
        }
        rows -= have - p.row;
        ++p.line;
        p.row = 0;
    }
    while (rows < 0) {
        if (p.row + rows >= 0) {
            p.row += rows;
            break;
        }
        if (p.line == 0) {
            p.row = 0;
            break;
        }
        rows += p.row + 1;
        --p.line;
        p.row = RowsOf(LineAt(p.line)) - 1;
    }
    return p;
}

COutputLineLayout::Pos COutputLineLayout::LastRow() const
{
    const qint64 last = LineCount() - 1;
    return Pos{last, RowsOf(LineAt(last)) - 1};
}

COutputLineLayout::Place COutputLineLayout::Locate(qint64 offset) const
{
    Place place;
    if (!m_index)
        return place;
    const qint64 s = m_index->SegmentAtOffset(offset);
    const Segment* segment = s < m_index->ItemCount() ? SegmentAt(s) : nullptr;
    if (!segment) {
        place.line = LineCount() - 1;  // the end of the text
        place.column = LineAt(place.line).length;
        return place;
    }
    const int local = int(Bound64(0, offset - segment->start, segment->text.size()));
    const auto after = std::upper_bound(segment->lineStarts.begin(), segment->lineStarts.end(), local);
    const qint64 k = qint64(after - segment->lineStarts.begin()) - 1;
    if (k < 0) {
        // The line end of a line that starts in an earlier segment.
        place.line = m_index->LinesBefore(s) - 1;
        place.column = LineAt(place.line).length;
        return place;
    }
    place.line = m_index->LinesBefore(s) + k;
    const Line line = LineAt(place.line);
    place.column = qMin(local - segment->lineStarts[size_t(k)], line.length);
    return place;
}

COutputLineLayout::Pos COutputLineLayout::RowOf(const Place& place) const
{
    const qint64 rows = RowsOf(LineAt(place.line));
    return Pos{place.line, qMin<qint64>(place.column / m_columns, rows - 1)};
}

QString COutputLineLayout::Text(qint64 start, qint64 end) const
{
    QString text;
    if (!m_source || !m_index)
        return text;
    start = qMax<qint64>(0, start);
    end = qMin(end, m_index->TotalChars());
    if (start >= end)
        return text;
    text.reserve(qsizetype(end - start));
    const uint64_t id = m_index->CaptureId();
    OutputTextPiece piece;
    for (qint64 s = m_index->SegmentAtOffset(start); s < m_index->ItemCount(); s += s < 0 ? 1 : kItemsPerRead) {
        if (!m_source->ReadPiece(id, s, s < 0 ? 1 : kItemsPerRead, piece))
            break;
        const qint64 from = qMax(start, piece.start) - piece.start;
        const qint64 to = qMin(end, piece.start + piece.text.size()) - piece.start;
        if (to > from)
            text += QStringView(piece.text).mid(qsizetype(from), qsizetype(to - from));
        if (piece.start + piece.text.size() >= end)
            break;
    }
    return text;
}

QString WithNewlines(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}
