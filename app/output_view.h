#pragma once
// The read-only output area: a view over the whole capture. It keeps no copy
// of the text; it asks the line layout for the few lines it paints, and the
// layout reads them from the item list. Long lines wrap at the window's
// width; the view scrolls by wrapped rows inside a line and by lines through
// the scroll bar, so a capture of any size scrolls and resizes at once. New
// text always goes at the end, and the view follows the end unless the user
// has scrolled up to read.
//
// It paints only what changed: new text that follows the end scrolls the
// pixels already on screen and paints the rows that came in; new text below
// a view scrolled up from the end paints nothing.
#include "app/output_line_layout.h"
#include "app/repaint_throttle.h"

#include <QAbstractScrollArea>

class COutputView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // A Copy of more than this many characters copies the first ones and says so.
    static constexpr qint64 kMaxCopyChars = 64 * 1024 * 1024;
    // Up to this length assistive technology gets the whole text, beyond it
    // the part on screen.
    static constexpr qint64 kWholeAccessibleChars = 4 * 1024 * 1024;

    explicit COutputView(QWidget* parent = nullptr);

    // The text shown, read through `source` and laid out by `index`; both
    // outlive the view.
    void SetText(const COutputTextSource* source, const COutputTextIndex* index);
    // After a catch-up: the index started over for a new capture, or grew.
    void TextRestarted();
    void TextGrew();

    bool isReadOnly() const { return true; }
    qint64 TextLength() const { return m_layout.TextLength(); }
    // The text between two offsets, as Save writes it.
    QString TextRange(qint64 start, qint64 end) const { return m_layout.Text(start, end); }
    // The whole text with one "\n" per line end (for short captures).
    QString ShownText() const { return WithNewlines(TextRange(0, TextLength())); }

    // The selection, as offsets in the text; the cursor is the end that moves.
    qint64 SelectionStart() const { return qMin(m_anchor, m_cursor); }
    qint64 SelectionEnd() const { return qMax(m_anchor, m_cursor); }
    qint64 CursorPosition() const { return m_cursor; }
    void SetSelection(qint64 anchor, qint64 cursor);
    void SelectAll();
    // The selected text with one "\n" per line end, at most kMaxCopyChars.
    QString SelectedText() const;
    void Copy();

    // Offsets are positions in the output area's text as Save writes it
    // (m_strOutput followed by the entries, UTF-16 code units, line ends unnormalised).
    void SetHighlight(qint64 start, qint64 length);  // show a match selected, scroll to it
    void ClearHighlight();

    bool IsFollowing() const { return m_following; }
    const COutputLineLayout& Layout() const { return m_layout; }
    COutputLineLayout::Pos Top() const { return m_top; }
    int VisibleRows() const;
    // The offsets of the first character on screen and just past the last.
    qint64 VisibleStart() const;
    qint64 VisibleEnd() const;
    // The character cell of an offset, in viewport coordinates (empty when
    // it is not on screen), and the offset nearest a viewport point.
    QRect CharacterRect(qint64 offset) const;
    qint64 OffsetAt(const QPoint& point) const;
    // Scrolls so that the row holding `offset` is on screen.
    void EnsureVisible(qint64 offset);
    // Scrolls so that the row holding `offset` is the first on screen, as
    // far as the text goes; the view stops following the end.
    void ShowAtTop(qint64 offset);
    // Room on the left for a strip beside the text (the time column).
    void SetLeftMargin(int width) { setViewportMargins(width, 0, 0, 0); }

    // While text comes in, the scroll bar follows its length at most once
    // in this interval: its handle moves by less than a pixel per catch-up
    // of a long capture. A scroll by the user sets it at once.
    static constexpr int kScrollBarIntervalMs = 250;
    // The clock the interval is measured on (tests give their own).
    void SetClock(CRepaintThrottle::Clock clock) { m_scrollBarThrottle.SetClock(std::move(clock)); }

signals:
    // For a strip beside the text, in viewport coordinates: the rows on
    // screen moved by `dy` pixels, their pixels with them ...
    void rowsScrolled(int dy);
    // ... and the rows between `top` and `bottom` show other lines than before.
    void rowsReplaced(int top, int bottom);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int, int) override {}

private:
    void UpdateMetrics();
    COutputLineLayout::Pos EndTop() const;
    // Rows painted, the one cut by the bottom edge included.
    int PaintedRows() const;
    // Rows from `from` down to `to`, at most `limit`.
    qint64 RowsBetween(COutputLineLayout::Pos from, COutputLineLayout::Pos to, qint64 limit) const;
    // Makes `top` the first row on screen, scrolling the pixels when some
    // rows stay on screen.
    void MoveTop(COutputLineLayout::Pos top);
    // Repaints the rows from `row` to the bottom edge that are on screen.
    void RepaintFrom(COutputLineLayout::Pos row);
    void RepaintAll();
    // Remembers where the text ends, to know next time what grew.
    void NoteEnd();
    void ScrollTo(COutputLineLayout::Pos top);
    void ScrollByRows(qint64 rows);
    void SyncScrollBar();
    void OnScrollBarMoved(int value);
    void MoveCursor(qint64 offset, bool extend);
    qint64 OffsetOfRow(const COutputLineLayout::Pos& row, int column) const;
    void NotifySelectionChanged();

    COutputLineLayout m_layout;
    COutputLineLayout::Pos m_top;  // the first row on screen
    bool m_following = true;
    bool m_settingScrollBar = false;
    CRepaintThrottle m_scrollBarThrottle{kScrollBarIntervalMs, [this] { SyncScrollBar(); }};
    qint64 m_scrollScale = 1;      // lines per scroll bar step, for captures of more than 2^30 lines
    qint64 m_anchor = 0;
    qint64 m_cursor = 0;
    qint64 m_highlightStart = -1;
    qint64 m_highlightEnd = -1;
    COutputLineLayout::Pos m_noted;  // the last row of the text when it was last shown
    int m_notedLength = 0;           // and the length of its line
    bool m_selecting = false;      // a mouse button is selecting
    int m_charWidth = 8;
    int m_rowHeight = 16;
    int m_ascent = 12;
};
