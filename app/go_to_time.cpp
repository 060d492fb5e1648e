#include "app/go_to_time.h"

#include "app/output_view.h"
#include "data/item_time_format.h"
#include "data/item_times.h"
#include "data/output_text_index.h"
#include "data/time_lookup.h"
#include "platform/message_box.h"

#include <QInputDialog>
#include <QLineEdit>

namespace {

GoToTimePrompt& Prompt()
{
    static GoToTimePrompt prompt;
    return prompt;
}

std::optional<QString> AskWithDialog(QWidget* owner, const QString& last)
{
    bool ok = false;
    const QString text = QInputDialog::getText(
        owner, QStringLiteral("Go to Time"),
        QStringLiteral("Date and time (2026-12-08 14:03:05), time of day (14:03:05)\n"
                       "or offset from the capture's start (+1h23m):"),
        QLineEdit::Normal, last, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

void Tell(QWidget* owner, const QString& text)
{
    ShowMessageBox(owner, text, QStringLiteral("Go to Time"), MB_ICONEXCLAMATION);
}

} // namespace

void SetGoToTimePrompt(GoToTimePrompt prompt)
{
    Prompt() = std::move(prompt);
}

CGoToTime::CGoToTime(QWidget* owner, COutputView* view, const COutputTextIndex* index, const CItemTimes* times)
    : m_owner(owner), m_view(view), m_index(index), m_times(times)
{
}

bool CGoToTime::Run()
{
    const std::optional<QString> text = Prompt() ? Prompt()(m_owner, m_strLast) : AskWithDialog(m_owner, m_strLast);
    if (!text)
        return false;
    m_strLast = *text;
    return GoTo(*text);
}

bool CGoToTime::GoTo(const QString& text)
{
    TimeTarget target;
    const QString problem = ParseTimeTarget(text, target);
    if (!problem.isEmpty()) {
        Tell(m_owner, problem);
        return false;
    }
    if (m_times->Count() == 0) {
        Tell(m_owner, QStringLiteral("The capture holds no items yet."));
        return false;
    }
    const int64_t moment = ResolveTimeTarget(target, m_times->StartMicros());
    const int64_t item = m_times->FindFirstAtOrAfter(moment);
    if (item < 0)
        return false;  // cleared meanwhile; the view starts over
    if (item >= m_times->Count()) {
        Tell(m_owner, QStringLiteral("No item was recorded at or after %1.").arg(FormatIsoLocalMicros(moment)));
        return false;
    }
    // The entry's first line, just after its leading line end.
    const qint64 start = m_index->SegmentStart(item) + 2;
    const qint64 end = m_index->SegmentStart(item + 1);
    const COutputLineLayout::Line line = m_view->Layout().LineAt(m_view->Layout().Locate(start).line);
    m_view->ShowAtTop(start);
    m_view->SetSelection(start, qMin(end, line.start + line.length));
    return true;
}
