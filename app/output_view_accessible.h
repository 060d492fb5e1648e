#pragma once
// The output area as assistive technology sees it: a read-only text whose
// content is the whole capture up to COutputView::kWholeAccessibleChars and
// the part on screen beyond that (offsets then count from the first
// character on screen).
#include <QAccessibleWidget>

class COutputView;

class COutputViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit COutputViewAccessible(COutputView* view);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;
    QAccessible::State state() const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    COutputView* View() const;
    // The offset of the exposed text's first character, and its length.
    qint64 Base() const;
    int Length() const;
};

// Makes Qt create a COutputViewAccessible for every output view.
void InstallOutputViewAccessibility();
