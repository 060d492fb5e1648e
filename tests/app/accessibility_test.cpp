// The main window operated from outside, through Qt's accessibility
// interface, the way a screen reader or a test tool works it: every way of
// operating a command runs the same handler, and what a button shows is what
// the program does.
#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "platform/pseudo_terminal.h"
#include "test_support.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

using testing_support::WaitUntil;

QAccessibleActionInterface* actionsOf(QObject* object)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->actionInterface() : nullptr;
}

// A window capturing from a pseudo-terminal, so Pause is offered.
struct CapturingWindow {
    platform::PseudoTerminal pty;
    CMonitorDlg dlg;
    CapturingWindow()
    {
        EXPECT_TRUE(pty.Open());
        testing_support::SetPortOverride(5, pty.SlavePath());
        dlg.OnInitDialog();
        dlg.show();
        dlg.Engine().m_strPortName = QStringLiteral("COM5");
        dlg.OnBegin();
        EXPECT_NE(dlg.Engine().Port(), nullptr);
        EXPECT_TRUE(testing_support::WaitUntil([&] { return dlg.Engine().IsListening(); }));
    }
    QToolButton* button(int id) const
    {
        return qobject_cast<QToolButton*>(dlg.m_wndCommandBar->widgetForAction(dlg.m_wndCommandBar->ToolAction(id)));
    }
    QString status() const { return dlg.findChild<QLabel*>(QStringLiteral("statusLine"))->text(); }
    int items()
    {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        return dlg.Engine().m_items.GetSize();
    }
    // Sends a chunk and says whether it was recorded.
    bool Recorded(const QByteArray& bytes)
    {
        const int before = items();
        EXPECT_TRUE(pty.WriteAll(bytes));
        // The chunk is taken (recorded or not) once nothing waits in the port.
        WaitUntil([&] { return items() > before; }, 500);
        return items() > before;
    }
};

// Runs `operate` and says whether the menu was dropped down by it. The menu
// runs its own event loop, so it is noticed and closed from a timer.
bool OpensMenu(QMenu* menu, const std::function<void()>& operate)
{
    bool opened = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (menu->isVisible()) {
            opened = true;
            menu->close();
        }
    });
    watcher.start(5);
    operate();
    WaitUntil([&] { return opened; }, 2000);
    return opened;
}

} // namespace

TEST(WindowAccessibility, PauseByTheButtonsToggleActionPausesTheCaptureAsAClickDoes)
{
    CapturingWindow w;
    QToolButton* pause = w.button(ID_TOOL_PAUSE);
    ASSERT_NE(pause, nullptr);
    QAccessibleActionInterface* actions = actionsOf(pause);
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));

    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(pause->isChecked());
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 1);
    EXPECT_TRUE(w.status().contains(QStringLiteral("Paused")));
    EXPECT_FALSE(w.Recorded("while paused"));

    // A click, and the menu entry, each flip it once more, and the pressed
    // look always equals the flag.
    pause->click();
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 0);
    EXPECT_FALSE(pause->isChecked());
    EXPECT_TRUE(w.Recorded("recording"));

    w.dlg.m_wndCommandBar->MenuAction(ID_MENU_PAUSE)->trigger();
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 1);
    EXPECT_TRUE(pause->isChecked());
    actions->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 0);
    EXPECT_FALSE(pause->isChecked());
}

TEST(WindowAccessibility, OtherButtonsRunTheirCommandFromTheirPressAction)
{
    CapturingWindow w;
    ASSERT_TRUE(w.Recorded("one"));
    actionsOf(w.button(ID_TOOL_CLEAR))->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(WaitUntil([&] { return w.items() == 0; }));

    actionsOf(w.button(ID_TOOL_STOP))->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(WaitUntil([&] { return w.dlg.Engine().Port() == nullptr; }));
    EXPECT_TRUE(w.status().contains(QStringLiteral("Stopped")));
    EXPECT_TRUE(w.button(ID_TOOL_BEGIN)->isEnabled());
    // A disabled button's action does nothing.
    actionsOf(w.button(ID_TOOL_PAUSE))->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 0);
    EXPECT_FALSE(w.button(ID_TOOL_PAUSE)->isChecked());
}

TEST(WindowAccessibility, TheMenuButtonOpensItsMenuHoweverItIsOperated)
{
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    auto* button = dlg.findChild<QToolButton*>(QStringLiteral("menuButton"));
    ASSERT_NE(button, nullptr);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Menu"));
    EXPECT_TRUE(iface->state().hasPopup);
    QAccessibleActionInterface* actions = iface->actionInterface();
    ASSERT_NE(actions, nullptr);

    for (const QString& action : {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()}) {
        ASSERT_TRUE(actions->actionNames().contains(action)) << action.toStdString();
        EXPECT_TRUE(OpensMenu(dlg.m_pMenu, [&] { actions->doAction(action); })) << action.toStdString();
    }
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Space})
        EXPECT_TRUE(OpensMenu(dlg.m_pMenu, [&] { QTest::keyClick(button, key); })) << key;
}

TEST(WindowAccessibility, APressThatOpensADialogAnswersTheScreenReaderAtOnce)
{
    CMonitorDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    const std::pair<const char*, QObject*> ways[] = {
        {"menu entry", dlg.m_wndCommandBar->MenuAction(ID_MENU_ABOUT)},
        {"toolbar button", dlg.m_wndCommandBar->widgetForAction(dlg.m_wndCommandBar->ToolAction(ID_TOOL_ABOUT))},
    };
    for (const auto& [way, target] : ways) {
        QAccessibleActionInterface* actions = actionsOf(target);
        ASSERT_NE(actions, nullptr) << way;
        // The dialog is closed as soon as it runs, noting whether that was
        // inside the screen reader's call, which would then have waited.
        bool inCall = false;
        bool openedInCall = false;
        QString opened;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                openedInCall = inCall;
                opened = modal->windowTitle();
                modal->reject();
            }
        });
        closer.start(5);
        inCall = true;
        actions->doAction(QAccessibleActionInterface::pressAction());
        inCall = false;
        EXPECT_TRUE(WaitUntil([&] { return !opened.isEmpty(); }, 10000)) << way;
        EXPECT_EQ(opened, QStringLiteral("Vantrel About")) << way;
        EXPECT_FALSE(openedInCall) << way;
    }
}
