#pragma once
// "Go to time" (Ctrl+G and the output area's context menu): asks for a
// moment and scrolls the output area to the first item recorded at or after
// it. The prompt goes through a replaceable function so a test can answer
// it instead of a person.
#include <QString>
#include <functional>
#include <optional>

class COutputView;
class COutputTextIndex;
class CItemTimes;
class QWidget;

// Asks for the moment; nothing when the user cancels. `last` is the text
// typed the time before.
using GoToTimePrompt = std::function<std::optional<QString>(QWidget* owner, const QString& last)>;
// An empty function restores the dialog.
void SetGoToTimePrompt(GoToTimePrompt prompt);

class CGoToTime {
public:
    // All outlive this object.
    CGoToTime(QWidget* owner, COutputView* view, const COutputTextIndex* index, const CItemTimes* times);

    // Asks, then goes; false when cancelled or nothing was found.
    bool Run();
    // Goes to the moment `text` names: the item's first line is selected at
    // the top of the output area. Input that cannot be read, an empty
    // capture and a moment after the last item get a message; false then.
    bool GoTo(const QString& text);

private:
    QWidget* m_owner;
    COutputView* m_view;
    const COutputTextIndex* m_index;
    const CItemTimes* m_times;
    QString m_strLast;
};
