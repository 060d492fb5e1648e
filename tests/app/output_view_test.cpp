#include "app/monitor_dlg.h"
#include "app/output_view.h"
#include "platform/message_box.h"
#include "main_window.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The main window, shown, at a size that gives the output area a known
// number of columns.
struct Shown : testing_support::ShownWindow {
    COutputView* view = dlg.m_editOutput;
    Shown() : ShownWindow(Until::Exposed) {}
    void Add(const QByteArray& bytes, int kind = 0) { testing_support::AddItem(dlg, bytes, kind); }
    QString Saved()
    {
        QBuffer saved;
        saved.open(QIODevice::WriteOnly);
        EXPECT_TRUE(dlg.Engine().WriteOutputText(saved));
        return QString::fromUtf8(saved.data());
    }
    // The last row of the text is on screen.
    bool AtEnd() const { return view->VisibleEnd() == view->TextLength(); }
};

QByteArray Lines(int from, int count)
{
    QByteArray text;
    for (int i = from; i < from + count; ++i)
        text += "line " + QByteArray::number(i) + "\r\n";
    return text;
}

TEST(OutputView, ShowsExactlyTheTextSaveWritesForEveryLineEndForm)
{
    Shown w;
    for (const char* chunk : {"a\r\nb", "c\r", "\nd", "e\n", "\r", "\r\n\n\r", "h\xC3\xA9", "\xEF\xBB\xBF" "bom", "\xFF"})
        w.Add(chunk);
    w.Add("\x01\x0d\x0a", 1);
    w.dlg.RefreshOutput();

    const QString saved = w.Saved();
    EXPECT_EQ(w.view->TextRange(0, w.view->TextLength()), saved);
    EXPECT_TRUE(saved.contains(QStringLiteral("Rec :\uFEFFbom")));  // the device's byte-order mark is kept
    // Line by line, as painted: each line end of any form ends one line.
    const QStringList expectedLines = WithNewlines(saved).split(u'\n');
    const COutputLineLayout& layout = w.view->Layout();
    ASSERT_EQ(layout.LineCount(), expectedLines.size());
    for (int i = 0; i < expectedLines.size(); ++i)
        EXPECT_EQ(layout.LineAt(i).Text().toString(), expectedLines[i]) << i;
    EXPECT_EQ(w.view->ShownText(), WithNewlines(saved));
}

TEST(OutputView, FollowsTheEndAndStaysPutWhenScrolledUp)
{
    Shown w;
    w.Add(Lines(0, 400));
    w.dlg.RefreshOutput();
    EXPECT_TRUE(w.view->IsFollowing());
    EXPECT_TRUE(w.AtEnd());

    w.Add(Lines(400, 50));
    w.dlg.RefreshOutput();
    EXPECT_TRUE(w.AtEnd());

    // Page Up leaves the end: new text no longer moves what is on screen.
    QTest::keyClick(w.view, Qt::Key_PageUp);
    QTest::keyClick(w.view, Qt::Key_PageUp);
    EXPECT_FALSE(w.view->IsFollowing());
    const COutputLineLayout::Pos top = w.view->Top();
    const qint64 shownFrom = w.view->VisibleStart();
    w.Add(Lines(450, 100));
    w.dlg.RefreshOutput();
    EXPECT_EQ(w.view->Top(), top);
    EXPECT_EQ(w.view->VisibleStart(), shownFrom);
    EXPECT_FALSE(w.AtEnd());

    // Home goes to the start; Ctrl+End back to the end, and following again.
    QTest::keyClick(w.view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(w.view->VisibleStart(), 0);
    QTest::keyClick(w.view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(w.AtEnd());
    w.Add(Lines(550, 10));
    w.dlg.RefreshOutput();
    EXPECT_TRUE(w.AtEnd());
    EXPECT_TRUE(w.view->ShownText().endsWith(QStringLiteral("line 559\n")));

    // Dragging the scroll bar to the bottom follows too.
    w.view->verticalScrollBar()->setValue(10);
    EXPECT_FALSE(w.view->IsFollowing());
    w.view->verticalScrollBar()->setValue(w.view->verticalScrollBar()->maximum());
    EXPECT_TRUE(w.view->IsFollowing());
    EXPECT_TRUE(w.AtEnd());
}

TEST(OutputView, SelectsWithTheMouseAndKeyboardAcrossItemsAndCopies)
{
    Shown w;
    w.dlg.OnClearOutput();
    w.Add("first\r\n");
    w.Add("second");
    w.Add("third");
    w.dlg.RefreshOutput();
    QTest::keyClick(w.view, Qt::Key_Home, Qt::ControlModifier);

    // From the "i" of "first" (row 1, column 1) to the "h" of "third" (row 4, column 2).
    QWidget* area = w.view->viewport();
    const QRect from = w.view->CharacterRect(w.view->TextRange(0, 20).indexOf(u'i'));
    ASSERT_FALSE(from.isEmpty());
    const qint64 thirdH = w.view->TextRange(0, w.view->TextLength()).lastIndexOf(u'h');
    const QRect to = w.view->CharacterRect(thirdH);
    QTest::mousePress(area, Qt::LeftButton, {}, from.topLeft() + QPoint(1, 2));
    QMouseEvent move(QEvent::MouseMove, QPointF(to.topLeft() + QPoint(1, 2)), area->mapToGlobal(QPointF(to.topLeft())),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(area, &move);
    QTest::mouseRelease(area, Qt::LeftButton, {}, to.topLeft() + QPoint(1, 2));
    EXPECT_EQ(w.view->SelectedText(), QStringLiteral("irst\n\nRec :second\nRec :t"));

    QApplication::clipboard()->clear();
    QTest::keyClick(w.view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("irst\n\nRec :second\nRec :t"));

    // Shift with the arrow keys moves the selection's end.
    QTest::keyClick(w.view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(w.view, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.view->SelectedText(), QStringLiteral("irst\n\nRec :second\nRec :thi"));
    QTest::keyClick(w.view, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(w.view->SelectedText(), QStringLiteral("irst\n\nRec :sec"));

    // Select All and Copy take the whole capture, from the model.
    QTest::keyClick(w.view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("\nRec :first\n\nRec :second\nRec :third"));
}

TEST(OutputView, AHexLineWrapsAtTheWindowWidthAndRewrapsWhenResized)
{
    Shown w;
    w.dlg.resize(900, 600);
    QApplication::processEvents();
    w.Add(QByteArray(1024, '\x5a'), 1);  // 3072 characters of hexadecimal text
    w.dlg.RefreshOutput();
    const COutputLineLayout& layout = w.view->Layout();
    const COutputLineLayout::Line line = layout.LineAt(layout.LineCount() - 1);
    ASSERT_EQ(line.length, 5 + 3072);
    const int wide = layout.Columns();
    EXPECT_EQ(layout.RowsOf(line), (line.length + wide - 1) / wide);
    EXPECT_TRUE(w.AtEnd());
    EXPECT_LE(w.view->CharacterRect(w.view->TextLength() - 1).right(), w.view->viewport()->width());

    w.dlg.resize(400, 600);
    QApplication::processEvents();
    const int narrow = layout.Columns();
    ASSERT_LT(narrow, wide);
    EXPECT_EQ(layout.RowsOf(line), (line.length + narrow - 1) / narrow);
    EXPECT_TRUE(w.AtEnd());  // still following after the re-wrap
    const QRect last = w.view->CharacterRect(w.view->TextLength() - 1);
    ASSERT_FALSE(last.isEmpty());
    EXPECT_LE(last.right(), w.view->viewport()->width());
    EXPECT_LE(last.bottom(), w.view->viewport()->height());
    // The row at the bottom holds the end of the hexadecimal text.
    EXPECT_EQ(w.view->OffsetAt(last.topLeft() + QPoint(1, 1)), w.view->TextLength() - 1);
}

TEST(OutputView, AHighlightSelectsAMatchFarUpAndScrollsToIt)
{
    Shown w;
    w.Add(Lines(0, 2000));
    w.dlg.RefreshOutput();
    const QString text = w.view->TextRange(0, w.view->TextLength());
    const qint64 at = text.indexOf(QStringLiteral("line 17\r"));
    w.view->SetHighlight(at, 7);
    EXPECT_EQ(w.view->SelectedText(), QStringLiteral("line 17"));
    EXPECT_FALSE(w.view->CharacterRect(at).isEmpty());
    EXPECT_FALSE(w.view->IsFollowing());
    w.view->ClearHighlight();
    EXPECT_EQ(w.view->SelectionStart(), w.view->SelectionEnd());
}

TEST(OutputView, AMatchOnTheLastPageStaysOnScreenWhileTheCaptureGoesOn)
{
    Shown w;
    w.Add(Lines(0, 200));
    w.dlg.RefreshOutput();
    ASSERT_TRUE(w.view->IsFollowing());
    const qint64 at = w.view->TextRange(0, w.view->TextLength()).indexOf(QStringLiteral("line 199\r"));
    w.view->SetHighlight(at, 8);
    w.Add(Lines(200, 300));
    w.dlg.RefreshOutput();
    EXPECT_FALSE(w.view->CharacterRect(at).isEmpty());
    EXPECT_EQ(w.view->SelectedText(), QStringLiteral("line 199"));
}

TEST(OutputView, ScreenReadersGetTheWholeTextOrThePartOnScreen)
{
    Shown w;
    w.Add(Lines(0, 30));
    w.dlg.RefreshOutput();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w.view);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Output"));
    QAccessibleTextInterface* text = accessible->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(0, text->characterCount()), w.Saved());
    text->setSelection(0, 0, 7);
    EXPECT_EQ(w.view->SelectedText(), QStringLiteral("Welcome"));

    // Beyond a few MiB: the rows on screen.
    const QByteArray chunk = QByteArray(1000, 'q') + "\r\n";
    for (qint64 chars = 0; chars <= COutputView::kWholeAccessibleChars; chars += chunk.size() + 7)
        w.Add(chunk);
    w.Add("the last line");
    w.dlg.RefreshOutput();
    ASSERT_GT(w.view->TextLength(), COutputView::kWholeAccessibleChars);
    const QString shown = text->text(0, text->characterCount());
    EXPECT_EQ(shown, w.view->TextRange(w.view->VisibleStart(), w.view->VisibleEnd()));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("Rec :the last line")));
    EXPECT_LE(shown.size(), w.view->VisibleRows() * w.view->Layout().Columns());
}

TEST(OutputView, ClearOutputEmptiesTheViewAndItsSelection)
{
    Shown w;
    w.Add("before");
    w.dlg.RefreshOutput();
    w.view->SelectAll();
    w.dlg.OnClearOutput();
    EXPECT_EQ(w.view->TextLength(), 0);
    EXPECT_EQ(w.view->SelectionEnd(), 0);
    w.Add("after");
    w.dlg.RefreshOutput();
    EXPECT_EQ(w.view->ShownText(), QStringLiteral("\nRec :after"));
    EXPECT_TRUE(w.AtEnd());
}

} // namespace
