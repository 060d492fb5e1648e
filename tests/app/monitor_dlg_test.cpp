#include "app/about_dlg.h"
#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "app/output_view.h"
#include "platform/registry.h"
#include "main_window.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testing_support::AddItem;
using testing_support::WaitUntil;

struct Window : testing_support::ShownWindow {
    QAction* tool(int id) const { return dlg.m_wndCommandBar->ToolAction(id); }
    QAction* menu(int id) const { return dlg.m_wndCommandBar->MenuAction(id); }
    QString shown() const { return dlg.m_editOutput->ShownText(); }
    QString status() const { return dlg.findChild<QLabel*>(QStringLiteral("statusLine"))->text(); }
};

TEST(MainWindow, StartsWithTheWelcomeTextAndTheClosedPortCommandState)
{
    Window w;
    EXPECT_EQ(w.dlg.windowTitle(), QStringLiteral("Vantrel"));
    EXPECT_EQ(w.shown(), QStringLiteral("Welcome to Vantrel \n Ver 0.4"));
    EXPECT_TRUE(w.dlg.m_editOutput->isReadOnly());
    // COM1 maps to nothing in the test's empty device tree.
    EXPECT_TRUE(w.status().startsWith(QStringLiteral("COM1 (")));
    EXPECT_TRUE(w.status().contains(QStringLiteral("9600 8-N-1")));
    EXPECT_TRUE(w.status().contains(QStringLiteral("Stopped")));

    for (int id : {ID_TOOL_BEGIN, ID_TOOL_SAVE, ID_TOOL_PORT_SETTING, ID_TOOL_CLEAR, ID_TOOL_ABOUT})
        EXPECT_TRUE(w.tool(id)->isEnabled()) << id;
    for (int id : {ID_TOOL_STOP, ID_TOOL_PAUSE})
        EXPECT_FALSE(w.tool(id)->isEnabled()) << id;
    EXPECT_FALSE(w.tool(ID_TOOL_PAUSE)->isChecked());
    for (int id : {ID_MENU_BEGIN, ID_MENU_SAVE, ID_MENU_PORT_SETTING, ID_MENU_RECORD_SETTING, ID_MENU_CLEAR_OUTPUT,
                   ID_MENU_ABOUT, ID_MENU_EXIT})
        EXPECT_TRUE(w.menu(id)->isEnabled()) << id;
    for (int id : {ID_MENU_STOP, ID_MENU_PAUSE})
        EXPECT_FALSE(w.menu(id)->isEnabled()) << id;
}

TEST(MainWindow, CommandBarHasTheMenuThenTheSevenButtonsInOrder)
{
    Window w;
    QStringList menuTexts;
    for (QAction* action : w.dlg.m_pMenu->actions())
        menuTexts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(menuTexts, QStringList({"Exit", "-", "About", "-", "Clear Output", "Port Setting", "Record Setting", "-",
                                      "Begin", "Stop", "Pause", "Save"}));
    QStringList tools;
    for (QAction* action : w.dlg.m_wndCommandBar->actions()) {
        if (action->isSeparator())
            tools << QStringLiteral("-");
        else if (!action->text().isEmpty())
            tools << action->text();
    }
    // The first separator follows the Menu button.
    EXPECT_EQ(tools, QStringList({"-", "Begin", "Pause", "Stop", "-", "Save", "Clear Output", "Port Setting", "About"}));
    for (int id : {ID_TOOL_BEGIN, ID_TOOL_PAUSE, ID_TOOL_STOP, ID_TOOL_SAVE, ID_TOOL_CLEAR, ID_TOOL_PORT_SETTING,
                   ID_TOOL_ABOUT}) {
        QWidget* button = w.dlg.m_wndCommandBar->widgetForAction(w.tool(id));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->accessibleName(), w.tool(id)->text());
        EXPECT_EQ(w.tool(id)->toolTip(), w.tool(id)->text());
        EXPECT_FALSE(w.tool(id)->icon().isNull());
    }
    auto* menuButton = w.dlg.m_wndCommandBar->findChild<QToolButton*>(QStringLiteral("menuButton"));
    ASSERT_NE(menuButton, nullptr);
    EXPECT_EQ(menuButton->text(), QStringLiteral("Menu"));
    EXPECT_EQ(menuButton->menu(), w.dlg.m_pMenu);
}

TEST(MainWindow, PauseFlipsTheFlagAndPressesTheButtonFromMenuOrToolbar)
{
    Window w;
    w.tool(ID_TOOL_PAUSE)->setEnabled(true);  // Pause is offered only during a capture
    w.tool(ID_TOOL_PAUSE)->trigger();
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 1);
    EXPECT_TRUE(w.tool(ID_TOOL_PAUSE)->isChecked());
    // The refreshed state disables Pause again (no port open) but keeps it pressed.
    EXPECT_FALSE(w.tool(ID_TOOL_PAUSE)->isEnabled());

    w.menu(ID_MENU_PAUSE)->setEnabled(true);
    w.menu(ID_MENU_PAUSE)->trigger();
    EXPECT_EQ(w.dlg.Engine().m_bPaused, 0);
    EXPECT_FALSE(w.tool(ID_TOOL_PAUSE)->isChecked());
}

TEST(MainWindow, ClearOutputEmptiesTheAreaAndTheItemsFromEitherPlace)
{
    for (int id : {ID_TOOL_CLEAR, ID_MENU_CLEAR_OUTPUT}) {
        Window w;
        AddItem(w.dlg, "abc", 0);
        w.dlg.RefreshOutput();
        EXPECT_EQ(w.shown(), QStringLiteral("Welcome to Vantrel \n Ver 0.4\nRec :abc"));
        EXPECT_TRUE(w.status().contains(QStringLiteral("1 items, 3 bytes"))) << w.status().toStdString();
        (id == ID_TOOL_CLEAR ? w.tool(id) : w.menu(id))->trigger();
        EXPECT_EQ(w.shown(), QString());
        EXPECT_EQ(w.dlg.Engine().m_items.GetSize(), 0);
        EXPECT_EQ(w.dlg.Engine().m_strOutput, QString());
        // The next item goes into the empty area.
        AddItem(w.dlg, "\x01\xff", 1);
        w.dlg.RefreshOutput();
        EXPECT_EQ(w.shown(), QStringLiteral("\nRec :01 ff "));
        EXPECT_TRUE(w.status().contains(QStringLiteral("1 items, 2 bytes"))) << w.status().toStdString();
    }
}

TEST(MainWindow, NewTextGoesAtTheEndWhereverTheCaretIs)
{
    Window w;
    w.dlg.m_editOutput->SetSelection(3, 3);
    AddItem(w.dlg, "first", 0);
    AddItem(w.dlg, "second\r\nthird\rfourth\n", 0);
    w.dlg.RefreshOutput();
    EXPECT_EQ(w.shown(), QStringLiteral("Welcome to Vantrel \n Ver 0.4\nRec :first\nRec :second\nthird\nfourth\n"));
    EXPECT_EQ(w.dlg.m_editOutput->CursorPosition(), 3);
}

TEST(MainWindow, ItemsRecordedOnAnotherThreadReachTheViewWithoutWaiting)
{
    Window w;
    std::thread producer([&] {
        for (int i = 0; i < 500; ++i) {
            AddItem(w.dlg, QByteArray::number(i) + ",", 0);
            w.dlg.NotifyOutputChanged();
        }
    });
    producer.join();
    ASSERT_TRUE(WaitUntil([&] { return w.shown().endsWith(QStringLiteral("Rec :499,")); }));
    EXPECT_EQ(w.shown().count(QStringLiteral("Rec :")), 500);
}

TEST(MainWindow, TheViewShowsTheWholeCaptureHoweverFastItArrives)
{
    Window w;
    // Far more than one timed catch-up indexes, recorded before the window
    // gets a turn: every entry is shown, from the welcome text on.
    const int count = 12 * 1024;
    for (int i = 0; i < count; ++i)
        AddItem(w.dlg, QByteArray::number(i).rightJustified(1024, '.'), 0);
    w.dlg.NotifyOutputChanged();
    ASSERT_TRUE(WaitUntil([&] { return w.dlg.m_editOutput->TextLength() == 29 + qint64(count) * (7 + 1024); }));
    const QString shown = w.shown();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Welcome to Vantrel \n Ver 0.4\nRec :....")));
    EXPECT_EQ(shown.count(QStringLiteral("Rec :")), count);
    EXPECT_TRUE(shown.endsWith(QString::number(count - 1)));
    // The totals follow once their turn comes.
    EXPECT_TRUE(WaitUntil([&] { return w.status().contains(QStringLiteral("12,288 items")); }))
        << w.status().toStdString();
}

// Runs `action` once the About box is up, checks it, and closes it.
void expectAboutBoxFrom(const std::function<void()>& open)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(WaitUntil([] { return qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()); }));
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        EXPECT_EQ(about->windowTitle(), QStringLiteral("Vantrel About"));
        EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("version"))->text(), QStringLiteral("Vantrel V 0.4"));
        seen = true;
        QTest::keyClick(about, Qt::Key_Return);
    });
    open();
    EXPECT_TRUE(seen);
}

TEST(MainWindow, AboutOpensFromTheButtonTheMenuAndF1)
{
    Window w;
    expectAboutBoxFrom([&] { w.tool(ID_TOOL_ABOUT)->trigger(); });
    expectAboutBoxFrom([&] { w.menu(ID_MENU_ABOUT)->trigger(); });
    QApplication::setActiveWindow(&w.dlg);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.dlg));
    expectAboutBoxFrom([&] { QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F1); });
}

QByteArray registryText()
{
    QFile file(platform::registryFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(MainWindow, EveryWayOfClosingSavesTheSettingsOnce)
{
    const std::function<void(CMonitorDlg&)> closers[] = {
        [](CMonitorDlg& dlg) { dlg.m_wndCommandBar->MenuAction(ID_MENU_EXIT)->trigger(); },
        [](CMonitorDlg& dlg) { dlg.close(); },
        [](CMonitorDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
    };
    for (const auto& closeIt : closers) {
        QFile::remove(platform::registryFilePath());
        CMonitorDlg dlg;
        dlg.Engine().m_strPortName = QStringLiteral("COM42");
        QTimer::singleShot(0, &dlg, [&] { closeIt(dlg); });
        dlg.DoModal();
        EXPECT_FALSE(dlg.isVisible());
        const QByteArray saved = registryText();
        EXPECT_TRUE(saved.contains("\"PortName\"=hex(1):43,00,4f,00,4d,00,34,00,32,00,00"));
        EXPECT_TRUE(saved.contains("\"ShowFormat\"=hex(4):00,00,00,00"));
        // Closing is over: nothing saves a second time.
        QFile::remove(platform::registryFilePath());
        EXPECT_FALSE(dlg.DestroyWindow());
        EXPECT_TRUE(registryText().isEmpty());
    }
}

} // namespace
