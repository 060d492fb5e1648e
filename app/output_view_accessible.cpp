#include "app/output_view_accessible.h"

#include "app/output_view.h"

namespace {
// qBound for offsets, whatever the integer types of its arguments.
inline qint64 Bound64(qint64 low, qint64 value, qint64 high)
{
    return value < low ? low : value > high ? high : value;
}
} // namespace

COutputViewAccessible::COutputViewAccessible(COutputView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

COutputView* COutputViewAccessible::View() const
{
    return static_cast<COutputView*>(widget());
}

void* COutputViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State COutputViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

qint64 COutputViewAccessible::Base() const
{
    const COutputView* view = View();
    return view->TextLength() <= COutputView::kWholeAccessibleChars ? 0 : view->VisibleStart();
}

int COutputViewAccessible::Length() const
{
    const COutputView* view = View();
    if (view->TextLength() <= COutputView::kWholeAccessibleChars)
        return int(view->TextLength());
    return int(qMin<qint64>(view->VisibleEnd() - view->VisibleStart(), COutputView::kWholeAccessibleChars));
}

QString COutputViewAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return text(0, Length());
    return QAccessibleWidget::text(type);
}

void COutputViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || selectionCount() == 0)
        return;
    const qint64 base = Base();
    *startOffset = int(Bound64(0, View()->SelectionStart() - base, Length()));
    *endOffset = int(Bound64(0, View()->SelectionEnd() - base, Length()));
}

int COutputViewAccessible::selectionCount() const
{
    const qint64 base = Base();
    const COutputView* view = View();
    const bool shown = view->SelectionEnd() > base && view->SelectionStart() < base + Length();
    return view->SelectionStart() != view->SelectionEnd() && shown ? 1 : 0;
}

void COutputViewAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void COutputViewAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        View()->SetSelection(View()->CursorPosition(), View()->CursorPosition());
}

void COutputViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    const qint64 base = Base();
    View()->SetSelection(base + startOffset, base + endOffset);
}

int COutputViewAccessible::cursorPosition() const
{
    return int(Bound64(0, View()->CursorPosition() - Base(), Length()));
}

void COutputViewAccessible::setCursorPosition(int position)
{
    const qint64 offset = Base() + position;
    View()->SetSelection(offset, offset);
}

QString COutputViewAccessible::text(int startOffset, int endOffset) const
{
    const qint64 base = Base();
    const int length = Length();
    startOffset = qBound(0, startOffset, length);
    endOffset = qBound(startOffset, endOffset, length);
    return View()->TextRange(base + startOffset, base + endOffset);
}

int COutputViewAccessible::characterCount() const
{
    return Length();
}

QRect COutputViewAccessible::characterRect(int offset) const
{
    const QRect cell = View()->CharacterRect(Base() + offset);
    if (cell.isEmpty())
        return QRect();
    return QRect(View()->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

int COutputViewAccessible::offsetAtPoint(const QPoint& point) const
{
    const QPoint local = View()->viewport()->mapFromGlobal(point);
    if (!View()->viewport()->rect().contains(local))
        return -1;
    return int(Bound64(0, View()->OffsetAt(local) - Base(), Length()));
}

void COutputViewAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    const qint64 base = Base();
    View()->EnsureVisible(base + endIndex);
    View()->EnsureVisible(base + startIndex);
}

QString COutputViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = Length();
    return QString();
}

namespace {

QAccessibleInterface* OutputViewAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("COutputView") && object && object->isWidgetType())
        return new COutputViewAccessible(static_cast<COutputView*>(object));
    return nullptr;
}

} // namespace

void InstallOutputViewAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(OutputViewAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
