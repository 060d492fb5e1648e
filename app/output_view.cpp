#include "app/output_view.h"

#include "app/output_view_accessible.h"
#include "platform/message_box.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

namespace {
// qBound for offsets, whatever the integer types of its arguments.
inline qint64 Bound64(qint64 low, qint64 value, qint64 high)
{
    return value < low ? low : value > high ? high : value;
}
} // namespace

namespace {

// The most a scroll bar step may stand for: the scroll bar's range is an int.
constexpr qint64 kScrollBarSteps = qint64(1) << 30;
// A selection made with the mouse goes to the desktop's selection clipboard
// up to this length.
constexpr qint64 kMaxMouseSelectionChars = 1024 * 1024;
constexpr int kWheelRows = 3;

// Drawn as one cell each: control characters (a tab included) become blanks,
// so every character keeps its column.
QString Printable(QStringView text)
{
    QString out = text.toString();
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    }
    return out;
}

} // namespace

COutputView::COutputView(QWidget* parent) : QAbstractScrollArea(parent)
{
    InstallOutputViewAccessibility();
    setObjectName(QStringLiteral("output"));
    setAccessibleName(QStringLiteral("Output"));
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    // Every paint fills what it paints, so Qt may scroll the pixels on
    // screen instead of painting them again.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &COutputView::OnScrollBarMoved);
    UpdateMetrics();
}

void COutputView::SetText(const COutputTextSource* source, const COutputTextIndex* index)
{
    m_layout.SetText(source, index);
    TextRestarted();
}

void COutputView::UpdateMetrics()
{
    const QFontMetrics metrics(font());
    m_charWidth = qMax(1, metrics.horizontalAdvance(QLatin1Char('M')));
    m_rowHeight = qMax(1, metrics.lineSpacing());
    m_ascent = metrics.ascent();
    m_layout.SetColumns(viewport()->width() / m_charWidth);
}

int COutputView::VisibleRows() const
{
    return qMax(1, viewport()->height() / m_rowHeight);
}

COutputLineLayout::Pos COutputView::EndTop() const
{
    return m_layout.Advance(m_layout.LastRow(), -(VisibleRows() - 1));
}

int COutputView::PaintedRows() const
{
    return (viewport()->height() + m_rowHeight - 1) / m_rowHeight;
}

qint64 COutputView::RowsBetween(COutputLineLayout::Pos from, COutputLineLayout::Pos to, qint64 limit) const
{
    qint64 rows = 0;
    for (; from < to && rows < limit; ++rows) {
        const COutputLineLayout::Pos next = m_layout.Advance(from, 1);
        if (next == from)
            break;  // the end of the text
        from = next;
    }
    return rows;
}

void COutputView::NoteEnd()
{
    m_noted = m_layout.LastRow();
    m_notedLength = m_layout.LineAt(m_noted.line).length;
}

void COutputView::RepaintAll()
{
    viewport()->update();
    emit rowsReplaced(0, viewport()->height());
}

void COutputView::MoveTop(COutputLineLayout::Pos top)
{
    const COutputLineLayout::Pos old = m_top;
    m_top = top;
    if (top == old)
        return;
    const qint64 rows = PaintedRows();
    const qint64 down = old < top ? RowsBetween(old, top, rows) : -RowsBetween(top, old, rows);
    if (qAbs(down) >= rows) {
        RepaintAll();
        return;
    }
    // Qt copies the rows that stay and asks for the ones uncovered.
    const int dy = int(-down) * m_rowHeight;
    viewport()->scroll(0, dy);
    emit rowsScrolled(dy);
}

void COutputView::RepaintFrom(COutputLineLayout::Pos row)
{
    const qint64 rows = PaintedRows();
    const qint64 at = row < m_top ? 0 : RowsBetween(m_top, row, rows);
    if (at >= rows)
        return;  // below the bottom edge
    const int top = int(at) * m_rowHeight;
    viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
    emit rowsReplaced(top, viewport()->height());
}

void COutputView::TextRestarted()
{
    m_layout.Forget();
    m_anchor = m_cursor = 0;
    m_highlightStart = m_highlightEnd = -1;
    m_following = true;
    m_top = EndTop();
    NoteEnd();
    SyncScrollBar();
    RepaintAll();
}

void COutputView::TextGrew()
{
    // Text is only ever added at the end: the rows before the last one
    // shown last time are as they were, and so is that one unless its line
    // grew.
    const COutputLineLayout::Pos noted = m_noted;
    const bool lastLineGrew = m_layout.LineAt(noted.line).length != m_notedLength;
    NoteEnd();
    if (!lastLineGrew && m_noted == noted)
        return;
    if (m_following)
        MoveTop(EndTop());
    RepaintFrom(lastLineGrew ? noted : m_layout.Advance(noted, 1));
    m_scrollBarThrottle.Request();
}

void COutputView::SyncScrollBar()
{
    const COutputLineLayout::Pos end = EndTop();
    m_scrollScale = end.line / kScrollBarSteps + 1;
    QScrollBar* bar = verticalScrollBar();
    m_settingScrollBar = true;
    bar->setRange(0, int(end.line / m_scrollScale));
    bar->setPageStep(qMax(1, VisibleRows()));
    bar->setSingleStep(1);
    bar->setValue(m_top >= end ? bar->maximum() : int(m_top.line / m_scrollScale));
    m_settingScrollBar = false;
}

void COutputView::OnScrollBarMoved(int value)
{
    if (m_settingScrollBar)
        return;
    const COutputLineLayout::Pos end = EndTop();
    const COutputLineLayout::Pos top =
        value >= verticalScrollBar()->maximum() ? end : COutputLineLayout::Pos{qint64(value) * m_scrollScale, 0};
    m_following = top >= end;
    MoveTop(qMin(top, end));
}

void COutputView::ScrollTo(COutputLineLayout::Pos top)
{
    const COutputLineLayout::Pos end = EndTop();
    m_following = top >= end;
    MoveTop(qMin(top, end));
    SyncScrollBar();
}

void COutputView::ScrollByRows(qint64 rows)
{
    ScrollTo(m_layout.Advance(m_top, rows));
}

void COutputView::EnsureVisible(qint64 offset)
{
    const COutputLineLayout::Pos row = m_layout.RowOf(m_layout.Locate(offset));
    if (row < m_top)
        ScrollTo(row);
    else if (m_layout.Advance(m_top, VisibleRows() - 1) < row)
        ScrollTo(m_layout.Advance(row, -(VisibleRows() - 1)));
}

void COutputView::ShowAtTop(qint64 offset)
{
    ScrollTo(m_layout.RowOf(m_layout.Locate(offset)));
    m_following = false;
}

void COutputView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    // Re-wrapping keeps the line at the top; only the rows on screen are
    // laid out again, whatever the length of the capture.
    const int columns = m_layout.Columns();
    UpdateMetrics();
    if (columns != m_layout.Columns())
        m_top.row = 0;
    if (m_following)
        m_top = EndTop();
    else
        m_top = qMin(m_top, EndTop());
    NoteEnd();
    SyncScrollBar();
    // Qt repaints the resized viewport; a strip beside it follows.
    emit rowsReplaced(0, viewport()->height());
}

void COutputView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        NoteEnd();
        ScrollTo(m_following ? EndTop() : m_top);
        RepaintAll();  // rows of another height
    }
}

void COutputView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QPalette& colors = palette();
    // Only the rows Qt asks for: after a scroll, the ones uncovered.
    const QRect asked = event->rect();
    painter.fillRect(asked, colors.base());
    painter.setFont(font());

    const int columns = m_layout.Columns();
    const qint64 selStart = SelectionStart();
    const qint64 selEnd = SelectionEnd();
    const qint64 lines = m_layout.LineCount();
    COutputLineLayout::Pos pos = m_top;
    int y = 0;
    while (y <= asked.bottom() && pos.line < lines) {
        const COutputLineLayout::Line line = m_layout.LineAt(pos.line);
        const qint64 rows = m_layout.RowsOf(line);
        for (; pos.row < rows && y <= asked.bottom(); ++pos.row, y += m_rowHeight) {
            if (y + m_rowHeight <= asked.top())
                continue;
            const int from = int(pos.row * columns);
            const int length = qMin(columns, line.length - from);
            const qint64 rowStart = line.start + from;
            // The selected part of the row; a selected line end shows as one
            // more selected cell after the line's last row.
            qint64 a = qMax(selStart, rowStart);
            qint64 b = qMin(selEnd, rowStart + length);
            const bool lastRow = pos.row == rows - 1;
            const bool endSelected = lastRow && selStart <= rowStart + length && selEnd > rowStart + length;
            if (a < b || endSelected) {
                a = qMin(a, rowStart + length);
                const qint64 cells = qMax<qint64>(0, b - a) + (endSelected ? 1 : 0);
                painter.fillRect(QRect(int(a - rowStart) * m_charWidth, y, int(cells) * m_charWidth, m_rowHeight),
                                 colors.highlight());
            }
            const QString text = Printable(line.Text().mid(from, qMax(0, length)));
            if (a < b) {
                const int sa = int(a - rowStart), sb = int(b - rowStart);
                painter.setPen(colors.color(QPalette::Text));
                painter.drawText(0, y + m_ascent, text.left(sa));
                painter.drawText(sb * m_charWidth, y + m_ascent, text.mid(sb));
                painter.setPen(colors.color(QPalette::HighlightedText));
                painter.drawText(sa * m_charWidth, y + m_ascent, text.mid(sa, sb - sa));
            } else {
                painter.setPen(colors.color(QPalette::Text));
                painter.drawText(0, y + m_ascent, text);
            }
        }
        if (pos.row >= rows)
            pos = {pos.line + 1, 0};
    }
    if (hasFocus() && m_cursor == selEnd && selStart == selEnd) {
        const QRect cell = CharacterRect(m_cursor);
        if (!cell.isEmpty())
            painter.fillRect(QRect(cell.left(), cell.top(), 1, cell.height()), colors.color(QPalette::Text));
    }
}

qint64 COutputView::OffsetOfRow(const COutputLineLayout::Pos& row, int column) const
{
    const COutputLineLayout::Line line = m_layout.LineAt(row.line);
    const qint64 from = row.row * m_layout.Columns();
    return line.start + Bound64(0, from + column, line.length);
}

qint64 COutputView::OffsetAt(const QPoint& point) const
{
    if (point.y() < 0)
        return OffsetOfRow(m_top, 0);
    const COutputLineLayout::Pos row = m_layout.Advance(m_top, point.y() / m_rowHeight);
    const int column = qMax(0, (point.x() + m_charWidth / 2) / m_charWidth);
    if (row == m_layout.LastRow() && point.y() / m_rowHeight > 0 &&
        m_layout.Advance(m_top, point.y() / m_rowHeight - 1) == row)
        return m_layout.TextLength();  // below the last row of the text
    const qint64 columns = m_layout.Columns();
    return OffsetOfRow(row, int(qMin<qint64>(column, columns)));
}

QRect COutputView::CharacterRect(qint64 offset) const
{
    const COutputLineLayout::Place place = m_layout.Locate(offset);
    const COutputLineLayout::Pos row = m_layout.RowOf(place);
    if (row < m_top)
        return QRect();
    qint64 rowsDown = 0;
    for (COutputLineLayout::Pos p = m_top; p < row; p = m_layout.Advance(p, 1)) {
        if (++rowsDown > VisibleRows())
            return QRect();
    }
    const int column = int(place.column - row.row * m_layout.Columns());
    return QRect(column * m_charWidth, int(rowsDown) * m_rowHeight, m_charWidth, m_rowHeight);
}

qint64 COutputView::VisibleStart() const
{
    return OffsetOfRow(m_top, 0);
}

qint64 COutputView::VisibleEnd() const
{
    const COutputLineLayout::Pos last = m_layout.Advance(m_top, VisibleRows() - 1);
    return OffsetOfRow(last, m_layout.Columns());
}

void COutputView::SetSelection(qint64 anchor, qint64 cursor)
{
    const qint64 length = TextLength();
    m_anchor = Bound64(0, anchor, length);
    m_cursor = Bound64(0, cursor, length);
    NotifySelectionChanged();
    viewport()->update();
}

void COutputView::SelectAll()
{
    SetSelection(0, TextLength());
}

QString COutputView::SelectedText() const
{
    const qint64 start = SelectionStart();
    const qint64 end = qMin(SelectionEnd(), start + kMaxCopyChars);
    return WithNewlines(TextRange(start, end));
}

void COutputView::Copy()
{
    if (SelectionStart() == SelectionEnd())
        return;
    QApplication::clipboard()->setText(SelectedText());
    if (SelectionEnd() - SelectionStart() > kMaxCopyChars) {
        ShowMessageBox(this,
                       QStringLiteral("The selection is too long for the clipboard: only its first %1 Mi characters "
                                      "were copied. Save writes the whole capture to a file.")
                           .arg(kMaxCopyChars / (1024 * 1024)),
                       QStringLiteral("Vantrel"), MB_ICONINFORMATION);
    }
}

void COutputView::SetHighlight(qint64 start, qint64 length)
{
    m_highlightStart = Bound64(0, start, TextLength());
    m_highlightEnd = Bound64(m_highlightStart, start + length, TextLength());
    SetSelection(m_highlightStart, m_highlightEnd);
    EnsureVisible(m_highlightEnd);
    EnsureVisible(m_highlightStart);
    // The user is reading the match: new text must not carry it off the
    // screen, even when it was on the last page. Scrolling to the end
    // follows again.
    m_following = false;
}

void COutputView::ClearHighlight()
{
    if (m_highlightStart >= 0 && SelectionStart() == m_highlightStart && SelectionEnd() == m_highlightEnd)
        SetSelection(m_cursor, m_cursor);
    m_highlightStart = m_highlightEnd = -1;
}

void COutputView::NotifySelectionChanged()
{
    if (!QAccessible::isActive())
        return;
    QAccessibleTextSelectionEvent event(this, int(qMin<qint64>(SelectionStart(), INT_MAX)),
                                        int(qMin<qint64>(SelectionEnd(), INT_MAX)));
    event.setCursorPosition(int(qMin<qint64>(m_cursor, INT_MAX)));
    QAccessible::updateAccessibility(&event);
}

void COutputView::MoveCursor(qint64 offset, bool extend)
{
    const qint64 anchor = extend ? m_anchor : offset;
    SetSelection(anchor, offset);
    EnsureVisible(m_cursor);
}

void COutputView::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        Copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        SelectAll();
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const COutputLineLayout::Place place = m_layout.Locate(m_cursor);
    const COutputLineLayout::Pos row = m_layout.RowOf(place);
    const int columns = m_layout.Columns();
    const int column = int(place.column - row.row * columns);
    switch (event->key()) {
    case Qt::Key_Left:
        MoveCursor(m_cursor - 1, extend);
        return;
    case Qt::Key_Right:
        MoveCursor(m_cursor + 1, extend);
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const qint64 page = qMax(1, VisibleRows() - 1);
        const qint64 step = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? 1
                          : event->key() == Qt::Key_PageUp ? -page : page;
        if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)
            ScrollTo(m_layout.Advance(m_top, step));
        MoveCursor(OffsetOfRow(m_layout.Advance(row, step), column), extend);
        return;
    }
    case Qt::Key_Home:
        MoveCursor(control ? 0 : OffsetOfRow(row, 0), extend);
        return;
    case Qt::Key_End:
        MoveCursor(control ? TextLength() : OffsetOfRow(row, columns), extend);
        if (control)
            ScrollTo(EndTop());
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void COutputView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_selecting = true;
    const qint64 offset = OffsetAt(event->position().toPoint());
    SetSelection(event->modifiers() & Qt::ShiftModifier ? m_anchor : offset, offset);
}

void COutputView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting)
        return;
    const QPoint point = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls a row at a time.
    if (point.y() < 0)
        ScrollByRows(-1);
    else if (point.y() >= viewport()->height())
        ScrollByRows(1);
    SetSelection(m_anchor, OffsetAt(QPoint(point.x(), qBound(0, point.y(), viewport()->height() - 1))));
}

void COutputView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    QClipboard* clipboard = QApplication::clipboard();
    const qint64 length = SelectionEnd() - SelectionStart();
    if (clipboard->supportsSelection() && length > 0 && length <= kMaxMouseSelectionChars)
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

void COutputView::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        ScrollByRows(-qint64(steps) * kWheelRows);
    event->accept();
}
