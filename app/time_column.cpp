#include "app/time_column.h"

#include "app/output_view.h"
#include "data/item_rendering.h"
#include "data/item_times.h"
#include "data/output_text_index.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

namespace {

// Blank space on either side of the times, in characters.
constexpr int kPaddingChars = 1;

} // namespace

CTimeColumn::CTimeColumn(COutputView* view, const COutputTextIndex* index, const CItemTimes* times)
    : QWidget(view), m_view(view), m_viewport(view->viewport()), m_index(index), m_times(times)
{
    InstallTimeColumnAccessibility();
    setObjectName(QStringLiteral("timeColumn"));
    setAccessibleName(QStringLiteral("Time column"));
    setFont(view->font());
    // Its paint fills what it paints: its pixels can scroll with the text's.
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
    connect(view, &COutputView::rowsScrolled, this, [this](int dy) {
        if (isVisible())
            scroll(0, dy);
    });
    connect(view, &COutputView::rowsReplaced, this, [this](int top, int bottom) {
        if (isVisible())
            update(0, top, width(), bottom - top);
    });
}

void CTimeColumn::SetMode(TimeColumnMode mode)
{
    m_mode = mode;
    if (mode == TimeColumnMode::Off) {
        // Nothing watched, nothing painted: the output area is as it was.
        m_viewport->removeEventFilter(this);
        m_view->SetLeftMargin(0);
        hide();
        return;
    }
    m_viewport->installEventFilter(this);
    m_view->SetLeftMargin(ColumnWidth());
    Place();
    show();
    update();
}

int CTimeColumn::ColumnWidth() const
{
    // The widest text of the mode as this font draws it, so a font whose
    // colons and points are wider than its digits fits too.
    const QFontMetrics metrics(font());
    QString widest;
    switch (m_mode) {
    case TimeColumnMode::TimeOfDay: widest = QStringLiteral("00:00:00.000"); break;
    case TimeColumnMode::SinceStart: widest = QStringLiteral("+000:00:00.000"); break;
    case TimeColumnMode::SincePrevious: widest = QStringLiteral("+00000.000"); break;
    default: return 0;
    }
    return metrics.horizontalAdvance(widest) + 2 * kPaddingChars * qMax(1, metrics.horizontalAdvance(QLatin1Char('0')));
}

void CTimeColumn::Place()
{
    const QRect area = m_viewport->geometry();
    setGeometry(area.left() - ColumnWidth(), area.top(), ColumnWidth(), area.height());
}

bool CTimeColumn::eventFilter(QObject* watched, QEvent* event)
{
    // The viewport, not the view, is asked: while the view is destroyed its
    // viewport still sends events here.
    if (watched == m_viewport) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move: Place(); break;
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::vector<CTimeColumn::Row> CTimeColumn::VisibleRows() const
{
    std::vector<Row> rows;
    const COutputLineLayout& layout = m_view->Layout();
    COutputLineLayout::Pos pos = m_view->Top();
    const COutputLineLayout::Pos last = layout.LastRow();
    for (int i = 0; i < m_view->VisibleRows() + 1; ++i) {
        rows.push_back(Row{pos.line, pos.row == 0});
        if (!(pos < last))
            break;
        pos = layout.Advance(pos, 1);
    }
    return rows;
}

QStringList CTimeColumn::TimesForLines(const std::vector<qint64>& lines, TimeColumnMode mode) const
{
    QStringList texts;
    texts.reserve(qsizetype(lines.size()));
    // Which item begins on each line, if any.
    std::vector<qint64> items(lines.size(), -1);
    std::vector<int64_t> wanted;
    const COutputLineLayout& layout = m_view->Layout();
    const bool current = m_times->CaptureId() == m_index->CaptureId() && m_times->Count() == m_index->ItemCount();
    for (size_t i = 0; current && i < lines.size(); ++i) {
        const qint64 s = m_index->SegmentAtLine(lines[i]);
        if (s < 0 || s >= m_index->ItemCount())
            continue;
        // The entry's first line starts just after its leading line end.
        if (layout.LineAt(lines[i]).start != m_index->SegmentStart(s) + 2)
            continue;
        items[i] = s;
        wanted.push_back(s);
        if (mode == TimeColumnMode::SincePrevious && s > 0)
            wanted.push_back(s - 1);
    }
    std::vector<int64_t> times;
    if (wanted.empty() || !m_times->Read(wanted, times)) {
        for (size_t i = 0; i < lines.size(); ++i)
            texts.append(QString());
        return texts;
    }
    size_t at = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (items[i] < 0) {
            texts.append(QString());
            continue;
        }
        const int64_t micros = times[at++];
        int64_t previous = micros;
        if (mode == TimeColumnMode::SincePrevious && items[i] > 0)
            previous = times[at++];
        texts.append(FormatItemTime(mode, micros, m_times->StartMicros(), previous));
    }
    return texts;
}

QString CTimeColumn::TimeForLine(qint64 line, TimeColumnMode mode) const
{
    return TimesForLines({line}, mode).value(0);
}

QStringList CTimeColumn::VisibleTexts(int firstRow, int lastRow) const
{
    if (m_mode == TimeColumnMode::Off)
        return {};
    const std::vector<Row> rows = VisibleRows();
    // Only the times of the rows asked for are read; the others stay empty.
    std::vector<qint64> lines;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (int(i) >= firstRow && int(i) <= lastRow && rows[i].first)
            lines.push_back(rows[i].line);
    }
    const QStringList times = TimesForLines(lines, m_mode);
    QStringList texts;
    qsizetype next = 0;
    for (size_t i = 0; i < rows.size(); ++i)
        texts.append(int(i) >= firstRow && int(i) <= lastRow && rows[i].first ? times[next++] : QString());
    return texts;
}

void CTimeColumn::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QPalette& colors = palette();
    // Only the rows Qt asks for: after a scroll, the ones uncovered.
    const QRect asked = event->rect();
    painter.fillRect(asked, colors.alternateBase());
    painter.setPen(colors.color(QPalette::Mid));
    painter.drawLine(width() - 1, asked.top(), width() - 1, asked.bottom());
    painter.setFont(font());
    painter.setPen(colors.color(QPalette::PlaceholderText));
    const QFontMetrics metrics(font());
    const int rowHeight = qMax(1, metrics.lineSpacing());
    const int padding = kPaddingChars * qMax(1, metrics.horizontalAdvance(QLatin1Char('0')));
    const QStringList texts = VisibleTexts(asked.top() / rowHeight, asked.bottom() / rowHeight);
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (texts[i].isEmpty())
            continue;
        const QRect cell(padding, int(i) * rowHeight, width() - 2 * padding, rowHeight);
        painter.drawText(cell, Qt::AlignRight | Qt::AlignVCenter, texts[i]);
    }
}

QString CTimeColumn::TextWithTimes(qint64 start, qint64 end) const
{
    QString out;
    const COutputLineLayout& layout = m_view->Layout();
    start = qBound<qint64>(0, start, layout.TextLength());
    end = qBound<qint64>(start, qMin(end, start + COutputView::kMaxCopyChars), layout.TextLength());
    if (start >= end)
        return out;
    const TimeColumnMode mode = m_mode == TimeColumnMode::Off ? TimeColumnMode::TimeOfDay : m_mode;
    const int width = TimeColumnChars(mode);
    const COutputLineLayout::Place from = layout.Locate(start);
    const COutputLineLayout::Place to = layout.Locate(end);
    // A few hundred lines' times per visit to the item list.
    constexpr qint64 kLinesPerRead = 256;
    for (qint64 first = from.line; first <= to.line; first += kLinesPerRead) {
        std::vector<qint64> lines;
        for (qint64 line = first; line <= to.line && line < first + kLinesPerRead; ++line)
            lines.push_back(line);
        const QStringList times = TimesForLines(lines, mode);
        for (size_t i = 0; i < lines.size(); ++i) {
            const qint64 number = lines[i];
            const COutputLineLayout::Line line = layout.LineAt(number);
            const int a = number == from.line ? from.column : 0;
            const int b = number == to.line ? to.column : line.length;
            if (number > from.line)
                out += u'\n';
            if (number == to.line && number > from.line && b == 0)
                break;  // the selection ends with a line end
            out += times[qsizetype(i)].rightJustified(width) + u' ';
            out += line.Text().mid(a, qMax(0, b - a));
        }
    }
    return out;
}

namespace {

// The rows on screen as lines of read-only text, so a screen reader can read
// the time beside the line it is on.
class CTimeColumnAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit CTimeColumnAccessible(CTimeColumn* column) : QAccessibleWidget(column, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        return s;
    }
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return Text();
        if (type == QAccessible::Description)
            return DescribeMode();
        return QAccessibleWidget::text(type);
    }

    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        const QString all = Text();
        startOffset = qBound(0, startOffset, int(all.size()));
        endOffset = qBound(startOffset, endOffset, int(all.size()));
        return all.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(Text().size()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        return QString();
    }

private:
    const CTimeColumn* Column() const { return static_cast<const CTimeColumn*>(widget()); }
    QString Text() const { return Column()->VisibleTexts().join(u'\n'); }
    QString DescribeMode() const
    {
        switch (Column()->Mode()) {
        case TimeColumnMode::TimeOfDay: return QStringLiteral("Time of day of each item");
        case TimeColumnMode::SinceStart: return QStringLiteral("Time since the capture's first item");
        case TimeColumnMode::SincePrevious: return QStringLiteral("Seconds since the item before");
        default: return QStringLiteral("Off");
        }
    }
};

QAccessibleInterface* TimeColumnFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CTimeColumn") && object && object->isWidgetType())
        return new CTimeColumnAccessible(static_cast<CTimeColumn*>(object));
    return nullptr;
}

} // namespace

void InstallTimeColumnAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(TimeColumnFactory);
        return true;
    }();
    (void)installed;
}
