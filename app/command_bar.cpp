#include "app/command_bar.h"

#include "app/command_accessible.h"
#include "app/command_ids.h"
#include "app/menu_button.h"

#include <QAction>
#include <QMenu>
#include <QScopedValueRollback>
#include <QToolButton>

namespace {

struct Entry {
    int id;            // 0 for a separator
    const char* text;
    const char* icon;  // toolbar image in the resources
};

// Menu 134, top to bottom.
const Entry kMenu[] = {
    {ID_MENU_EXIT, "Exit", nullptr},
    {0, nullptr, nullptr},
    {ID_MENU_ABOUT, "About", nullptr},
    {0, nullptr, nullptr},
    {ID_MENU_CLEAR_OUTPUT, "Clear Output", nullptr},
    {ID_MENU_PORT_SETTING, "Port Setting", nullptr},
    {ID_MENU_RECORD_SETTING, "Record Setting", nullptr},
    {0, nullptr, nullptr},
    {ID_MENU_BEGIN, "Begin", nullptr},
    {ID_MENU_STOP, "Stop", nullptr},
    {ID_MENU_PAUSE, "Pause", nullptr},
    {ID_MENU_SAVE, "Save", nullptr},
};

// Toolbar 131, left to right.
const Entry kToolbar[] = {
    {ID_TOOL_BEGIN, "Begin", ":/res/begin.svg"},
    {ID_TOOL_PAUSE, "Pause", ":/res/pause.svg"},
    {ID_TOOL_STOP, "Stop", ":/res/stop.svg"},
    {0, nullptr, nullptr},
    {ID_TOOL_SAVE, "Save", ":/res/save.svg"},
    {ID_TOOL_CLEAR, "Clear Output", ":/res/clear.svg"},
    {ID_TOOL_PORT_SETTING, "Port Setting", ":/res/port_setting.svg"},
    {ID_TOOL_ABOUT, "About", ":/res/about.svg"},
};

} // namespace

CCommandBar::CCommandBar(QWidget* parent) : QToolBar(parent)
{
    setObjectName(QStringLiteral("commandBar"));
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(24, 24));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    UseCommandButtonAccessibility(this);
}

QAction* CCommandBar::MakeAction(int id, const QString& text, QObject* owner)
{
    auto* action = new QAction(text, owner);
    action->setData(id);
    action->setToolTip(text);
    // A pressable button runs its command when its state changes, however
    // that happened: a click, the keyboard, or a screen reader's Toggle
    // action, which changes the state without triggering. Changes the
    // program makes itself (SetPressed) run nothing.
    connect(action, &QAction::triggered, this, [this, action, id] {
        if (!action->isCheckable())
            emit commandTriggered(id);
    });
    connect(action, &QAction::toggled, this, [this, id] {
        if (!m_bSettingState)
            emit commandTriggered(id);
    });
    return action;
}

bool CCommandBar::SetPressed(int id, bool press)
{
    QAction* action = ToolAction(id);
    if (!action)
        return false;
    const QScopedValueRollback guard(m_bSettingState, true);
    action->setCheckable(true);
    action->setChecked(press);
    return true;
}

QMenu* CCommandBar::InsertMenuBar()
{
    auto* menu = new QMenu(QStringLiteral("Menu"), this);
    for (const Entry& entry : kMenu) {
        if (!entry.id) {
            menu->addSeparator();
            continue;
        }
        QAction* action = MakeAction(entry.id, QString::fromLatin1(entry.text), menu);
        menu->addAction(action);
        m_menuActions.insert(entry.id, action);
    }
    auto* button = new CMenuButton(menu, this);
    button->setText(QStringLiteral("Menu"));
    button->setAccessibleName(QStringLiteral("Menu"));
    button->setObjectName(QStringLiteral("menuButton"));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    addWidget(button);
    addSeparator();
    return menu;
}

bool CCommandBar::LoadToolBar()
{
    for (const Entry& entry : kToolbar) {
        if (!entry.id) {
            addSeparator();
            continue;
        }
        QAction* action = MakeAction(entry.id, QString::fromLatin1(entry.text), this);
        const QIcon icon(QString::fromLatin1(entry.icon));
        if (icon.isNull())
            return false;
        action->setIcon(icon);
        addAction(action);
        if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action))) {
            button->setAccessibleName(action->text());
            button->setObjectName(QStringLiteral("tool_%1").arg(entry.id));
        }
        m_toolActions.insert(entry.id, action);
    }
    return true;
}
