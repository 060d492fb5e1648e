#include "app/find_bar.h"
#include "app/monitor_dlg.h"
#include "app/output_view.h"
#include "main_window.h"
#include "test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

using testing_support::WaitUntil;

// The main window, shown and active, so that its keyboard shortcuts work.
struct Window : testing_support::ShownWindow {
    Window() : ShownWindow(Until::Active) {}
    CFindBar* bar() const { return dlg.findChild<CFindBar*>(QStringLiteral("findBar")); }
    QLineEdit* field() const { return dlg.findChild<QLineEdit*>(QStringLiteral("findText")); }
    QString count() const { return dlg.findChild<QLabel*>(QStringLiteral("findCount"))->text(); }
    template <typename T> T* child(const char* name) const { return dlg.findChild<T*>(QLatin1String(name)); }

    void Add(const QByteArray& bytes)
    {
        testing_support::AddItem(dlg, bytes);
        dlg.RefreshOutput();
    }
    QString Text() const { return dlg.m_editOutput->TextRange(0, dlg.m_editOutput->TextLength()); }
    // The match the output area shows selected.
    qint64 Highlighted() const
    {
        const COutputView* view = dlg.m_editOutput;
        return view->SelectionEnd() > view->SelectionStart() ? view->SelectionStart() : -1;
    }
    bool ShowsMatch(qint64 start, const QString& count)
    {
        return WaitUntil([&] { return Highlighted() == start && this->count() == count; });
    }
};

TEST(FindBar, CtrlFOpensItAndEscapeOrCloseHidesItButLeavesTheWindowOpen)
{
    Window w;
    ASSERT_TRUE(w.bar());
    EXPECT_FALSE(w.bar()->isVisible());
    w.dlg.m_editOutput->setFocus();

    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w.bar()->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), w.field());
    // The bar sits under the output area.
    EXPECT_GE(w.bar()->geometry().top(), w.dlg.m_editOutput->geometry().bottom());

    QTest::keyClicks(w.field(), "Rec");
    QTest::keyClick(w.field(), Qt::Key_Escape);
    EXPECT_FALSE(w.bar()->isVisible());
    EXPECT_TRUE(w.dlg.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), w.dlg.m_editOutput);

    // Escape on a button of the bar, then the close button.
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    QToolButton* next = w.child<QToolButton>("findNext");
    next->setFocus();
    QTest::keyClick(next, Qt::Key_Escape);
    EXPECT_FALSE(w.bar()->isVisible());
    EXPECT_TRUE(w.dlg.isVisible());
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w.bar()->isVisible());
    QTest::mouseClick(w.child<QToolButton>("findClose"), Qt::LeftButton);
    EXPECT_FALSE(w.bar()->isVisible());
    EXPECT_TRUE(w.dlg.isVisible());

    // While the bar is open, Escape in the output area closes the bar; once
    // it is closed, Escape closes the window as it always did.
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    w.dlg.m_editOutput->setFocus();
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_Escape);
    EXPECT_FALSE(w.bar()->isVisible());
    EXPECT_TRUE(w.dlg.isVisible());
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_Escape);
    EXPECT_FALSE(w.dlg.isVisible());
}

TEST(FindBar, TypingFindsTheMatchCountsAllAndFollowsTheCaseRule)
{
    Window w;
    w.Add("temp=21 ERROR sensor 3\r\n");
    w.Add("ok\r\n");
    w.Add("late error, then Err");
    w.Add("or again");
    const QString text = w.Text();

    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(w.field(), "error");
    EXPECT_TRUE(w.ShowsMatch(text.indexOf(QStringLiteral("ERROR")), QStringLiteral("1 of 2")));
    EXPECT_EQ(w.dlg.m_editOutput->SelectedText(), QStringLiteral("ERROR"));

    // The case rule: only the lower-case one is left.
    w.child<QCheckBox>("findCase")->click();
    EXPECT_TRUE(w.ShowsMatch(text.indexOf(QStringLiteral("error")), QStringLiteral("1 of 1")));

    // Typing on narrows the search; no match clears the highlight.
    QTest::keyClicks(w.field(), "x");
    EXPECT_TRUE(w.ShowsMatch(-1, QStringLiteral("No matches")));

    // A match across two items, pasted with its line end.
    w.child<QCheckBox>("findCase")->click();
    w.field()->clear();
    QApplication::clipboard()->setText(QStringLiteral("ERR\r\nRec :or"));
    QTest::keyClick(w.field(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(w.ShowsMatch(text.indexOf(QStringLiteral("Err\r\nRec :or")), QStringLiteral("1 of 1")));
}

TEST(FindBar, F3AndShiftF3StepFromAnywhereInTheWindowAndWrapAround)
{
    Window w;
    for (int i = 0; i < 5; ++i)
        w.Add(QByteArray("line ") + QByteArray::number(i) + " alarm\r\n");
    const QString text = w.Text();
    QList<qint64> alarms;
    for (qsizetype at = text.indexOf(QStringLiteral("alarm")); at >= 0; at = text.indexOf(QStringLiteral("alarm"), at + 1))
        alarms << at;
    ASSERT_EQ(alarms.size(), 5);

    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(w.field(), "ALARM");
    ASSERT_TRUE(WaitUntil([&] { return w.Highlighted() >= 0 && w.count().endsWith(QStringLiteral("of 5")); }));
    int current = int(alarms.indexOf(w.Highlighted()));
    ASSERT_GE(current, 0);

    // From the output area, with the bar open; then with the bar closed.
    w.dlg.m_editOutput->setFocus();
    for (int step = 0; step < 7; ++step) {
        current = (current + 1) % 5;
        QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F3);
        ASSERT_TRUE(w.ShowsMatch(alarms[current], QStringLiteral("%1 of 5").arg(current + 1))) << step;
    }
    for (int step = 0; step < 7; ++step) {
        current = (current + 4) % 5;
        QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F3, Qt::ShiftModifier);
        ASSERT_TRUE(w.ShowsMatch(alarms[current], QStringLiteral("%1 of 5").arg(current + 1))) << step;
    }
    // Return and Shift+Return in the field step too.
    QTest::keyClick(w.field(), Qt::Key_Return);
    current = (current + 1) % 5;
    ASSERT_TRUE(w.ShowsMatch(alarms[current], QStringLiteral("%1 of 5").arg(current + 1)));
    QTest::keyClick(w.field(), Qt::Key_Return, Qt::ShiftModifier);
    current = (current + 4) % 5;
    ASSERT_TRUE(w.ShowsMatch(alarms[current], QStringLiteral("%1 of 5").arg(current + 1)));
    EXPECT_TRUE(w.dlg.isVisible());

    QTest::keyClick(w.field(), Qt::Key_Escape);
    ASSERT_FALSE(w.bar()->isVisible());
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F3);
    EXPECT_TRUE(w.bar()->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return w.Highlighted() >= 0 && w.count().endsWith(QStringLiteral("of 5")); }));
}

TEST(FindBar, NewTextJoinsTheCountAndClearOutputDropsTheMatch)
{
    Window w;
    w.Add("first alarm\r\n");
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(w.field(), "alarm");
    ASSERT_TRUE(w.ShowsMatch(w.Text().indexOf(QStringLiteral("alarm")), QStringLiteral("1 of 1")));

    w.Add("second alarm, third alarm\r\n");
    EXPECT_TRUE(w.ShowsMatch(w.Text().indexOf(QStringLiteral("alarm")), QStringLiteral("1 of 3")));

    w.dlg.OnClearOutput();
    EXPECT_TRUE(w.ShowsMatch(-1, QStringLiteral("No matches")));
    w.Add("alarm again");
    QTest::keyClick(w.field(), Qt::Key_Return);
    EXPECT_TRUE(w.ShowsMatch(w.Text().indexOf(QStringLiteral("alarm")), QStringLiteral("1 of 1")));
}

} // namespace
