#include "app/output_view.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

COutputView::COutputView(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);  // an undo stack would keep a second copy of the text
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setObjectName(QStringLiteral("output"));
    setAccessibleName(QStringLiteral("Output"));
}

QString COutputView::NormalizeLineEnds(const QString& text)
{
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    if (m_bPendingCR && !text.isEmpty() && text[0] == u'\n')
        i = 1;  // the second half of a "\r\n" already shown as a line end
    m_bPendingCR = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < text.size()) {
                if (text[i + 1] == u'\n')
                    ++i;
            } else {
                m_bPendingCR = true;
            }
        } else {
            out += c;
        }
    }
    return out;
}

void COutputView::ResetText(const QString& text)
{
    m_bPendingCR = false;
    m_nDropped = 0;
    const QString shown = NormalizeLineEnds(text);
    setPlainText(shown.size() > kMaxChars ? shown.right(kMaxChars) : shown);
    m_nDropped = qMax<qint64>(0, shown.size() - kMaxChars);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void COutputView::AppendText(const QString& text)
{
    if (text.isEmpty())
        return;
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() >= bar->maximum() - 2;
    const int oldValue = bar->value();

    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(NormalizeLineEnds(text));
    TrimToBound();

    if (following)
        bar->setValue(bar->maximum());
    else
        bar->setValue(oldValue);
}

void COutputView::TrimToBound()
{
    const int excess = document()->characterCount() - kMaxChars;
    // Trim in steps of an eighth of the bound, so the cost of a removal is
    // paid rarely, and always at a line start so no line is cut in half.
    if (excess <= 0 || excess < kMaxChars / 8)
        return;
    QTextBlock block = document()->findBlock(excess);
    if (block.isValid() && block.position() < excess && block.next().isValid())
        block = block.next();
    const int cut = block.isValid() ? block.position() : excess;
    QTextCursor cursor(document());
    cursor.setPosition(0);
    cursor.setPosition(cut, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_nDropped += cut;
}
