#pragma once
// The command bar: a "Menu" button that drops down the command menu, then the
// seven toolbar buttons. Every entry carries its command id; triggering one
// emits commandTriggered with that id.
#include <QHash>
#include <QToolBar>

class QAction;
class QMenu;

class CCommandBar : public QToolBar {
    Q_OBJECT
public:
    explicit CCommandBar(QWidget* parent);

    // Adds the "Menu" button with the command menu; returns the menu.
    QMenu* InsertMenuBar();
    // Appends the toolbar buttons after the menu button.
    bool LoadToolBar();

    QAction* ToolAction(int id) const { return m_toolActions.value(id); }
    QAction* MenuAction(int id) const { return m_menuActions.value(id); }
    // Shows a toolbar button pressed or released without running its command.
    bool SetPressed(int id, bool press);

signals:
    void commandTriggered(int id);

private:
    QAction* MakeAction(int id, const QString& text, QObject* owner);
    bool m_bSettingState = false;  // SetPressed is changing a button's state
    QHash<int, QAction*> m_toolActions;
    QHash<int, QAction*> m_menuActions;
};
