#pragma once
// The output area's lines, read on demand from the item list: which text a
// line holds, how many rows it takes when wrapped at a given number of
// columns, and where a text offset lies. Only the segments (m_strOutput or
// one item's entry) that the view asks for are rendered, and only a few of
// them are kept.
#include "data/output_text_index.h"
#include "data/output_text_source.h"

#include <QString>
#include <QStringView>
#include <compare>
#include <vector>

class COutputLineLayout {
public:
    struct Line {
        qint64 number = 0;
        qint64 start = 0;  // the offset of its first character
        int length = 0;    // its characters, the line end not counted
        QString segment;   // the text of the segment holding it (shared, not copied)
        int local = 0;     // where the line starts in `segment`
        QStringView Text() const { return QStringView(segment).mid(local, length); }
    };
    // A wrapped row: row `row` of line `line`.
    struct Pos {
        qint64 line = 0;
        qint64 row = 0;
        auto operator<=>(const Pos&) const = default;
    };

    void SetText(const COutputTextSource* source, const COutputTextIndex* index);
    // Forgets the segments kept (the capture was cleared).
    void Forget();
    void SetColumns(int columns) { m_columns = qMax(1, columns); }
    int Columns() const { return m_columns; }

    qint64 LineCount() const { return m_index ? m_index->LineCount() : 1; }
    qint64 TextLength() const { return m_index ? m_index->TotalChars() : 0; }
    Line LineAt(qint64 line) const;
    qint64 RowsOf(const Line& line) const { return qMax<qint64>(1, (line.length + m_columns - 1) / m_columns); }

    // `rows` rows after (or before, when negative) `from`, within the text.
    Pos Advance(Pos from, qint64 rows) const;
    Pos LastRow() const;

    // The line holding an offset and the column in it (a line end counts as
    // the column after the line's last character).
    struct Place {
        qint64 line = 0;
        int column = 0;
    };
    Place Locate(qint64 offset) const;
    Pos RowOf(const Place& place) const;

    // The text between two offsets, as Save writes it.
    QString Text(qint64 start, qint64 end) const;

private:
    struct Segment {
        uint64_t captureId = 0;
        qint64 index = 0;
        qint64 start = 0;
        QString text;
        std::vector<int> lineStarts;
    };
    const Segment* SegmentAt(qint64 s) const;

    const COutputTextSource* m_source = nullptr;
    const COutputTextIndex* m_index = nullptr;
    int m_columns = 80;
    // The segments read last, newest first.
    mutable std::vector<Segment> m_kept;
};

// The text with each "\r\n", lone "\r" and lone "\n" as one "\n".
QString WithNewlines(QStringView text);
