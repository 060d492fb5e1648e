// Times in the window: the time column beside the output area, Go to Time,
// Copy with Times, Save with Times and the column's mode in the settings
// file. A real window under the offscreen platform, items with set times.
#include "app/go_to_time.h"
#include "app/monitor_dlg.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/save_with_times.h"
#include "app/time_column.h"
#include "data/item_time_format.h"
#include "platform/registry.h"
#include "platform/save_file_dialog.h"
#include "main_window.h"
#include "scoped_time_zone.h"
#include "test_support.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int64_t kSecond = 1'000'000;
// 2026-12-08 10:00:00 UTC.
constexpr int64_t kBase = int64_t(1'796'724'000) * kSecond;

// Times shown in UTC; the zone is set before the window is made.
struct InUtc {
    const testing_support::ScopedTimeZone utc{"UTC0"};
};

struct Window : InUtc, testing_support::ShownWindow {
    Window() : ShownWindow(Until::Active) {}
    void Add(const QByteArray& bytes, int kind, int64_t micros) { testing_support::AddItem(dlg, bytes, kind, micros); }
    CTimeColumn* column() const { return dlg.TimeColumn(); }
    void Choose(TimeColumnMode mode) const { dlg.OutputMenu()->ModeAction(mode)->trigger(); }
    // The column's texts on screen, without the rows that show nothing.
    QStringList Shown() const
    {
        QStringList texts = column()->VisibleTexts();
        texts.removeAll(QString());
        return texts;
    }
    qint64 ItemLineStart(int item)
    {
        return dlg.OutputText().ItemTextStart(dlg.Engine().m_nCaptureId, item) + 2;
    }
};

} // namespace

TEST(TimeColumn, ShowsAnItemsTimeOnItsFirstLineOnlyAndNothingWhenOff)
{
    Window w;
    w.Add("one\r\ntwo\r\n", 0, kBase);
    w.Add(QByteArray("\x00\x0d\x0a", 3), 1, kBase + 4000);  // hex: a zero and a line end as digits
    w.Add(QByteArray(300, 'x'), 0, kBase + kSecond);            // wraps
    w.dlg.RefreshOutput();
    EXPECT_FALSE(w.column()->isVisible());
    EXPECT_TRUE(w.column()->VisibleTexts().isEmpty());

    w.Choose(TimeColumnMode::TimeOfDay);
    ASSERT_TRUE(w.column()->isVisible());
    const COutputLineLayout& layout = w.dlg.m_editOutput->Layout();
    ASSERT_EQ(layout.LineCount(), 7);
    const qint64 wrapped = layout.RowsOf(layout.LineAt(6));
    ASSERT_GT(wrapped, 1);
    // Welcome text, "Rec :one", "two", the empty line, the hex item, the long item.
    QStringList expected{"", "", "10:00:00.000", "", "", "10:00:00.004", "10:00:01.000"};
    for (qint64 row = 1; row < wrapped; ++row)
        expected << QString();
    EXPECT_EQ(w.column()->VisibleTexts(), expected);
    // A screen reader reads the same rows.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w.column());
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Time column"));
    EXPECT_EQ(accessible->text(QAccessible::Value), expected.join(u'\n'));
    // The text beside it is the output area's, unchanged.
    EXPECT_TRUE(w.dlg.m_editOutput->ShownText().startsWith("Welcome to Vantrel \n Ver 0.4\nRec :one\ntwo\n\nRec :00 0d 0a "));
    // The column takes room on the left; off, it gives it back.
    EXPECT_EQ(w.dlg.m_editOutput->viewport()->x(), w.column()->geometry().right() + 1);
    w.Choose(TimeColumnMode::Off);
    EXPECT_FALSE(w.column()->isVisible());
    EXPECT_EQ(w.dlg.m_editOutput->viewport()->x(), w.dlg.m_editOutput->frameWidth());
}

TEST(TimeColumn, TheThreeModesAcrossMidnightAndAfterClearOutput)
{
    Window w;
    const int64_t midnight = kBase + 14 * 3600 * kSecond;  // 2026-12-09 00:00 UTC
    w.Add("a", 0, midnight - 10'000);
    w.Add("b", 0, midnight + 10'000);
    w.Add("c", 1, midnight + 1'510'000);
    w.dlg.RefreshOutput();
    const struct {
        TimeColumnMode mode;
        QStringList before, afterClear;
    } cases[] = {
        {TimeColumnMode::TimeOfDay, {"23:59:59.990", "00:00:00.010", "00:00:01.510"}, {"00:05:00.000"}},
        {TimeColumnMode::SinceStart, {"+00:00:00.000", "+00:00:00.020", "+00:00:01.520"}, {"+00:00:00.000"}},
        {TimeColumnMode::SincePrevious, {"+0.000", "+0.020", "+1.500"}, {"+0.000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        w.Choose(c.mode);
        EXPECT_EQ(w.Shown(), c.before);
    }
    // A cleared capture starts over: its first item is its start.
    w.dlg.OnClearOutput();
    w.Add("d", 0, midnight + 300 * kSecond);
    w.dlg.RefreshOutput();
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        w.Choose(c.mode);
        EXPECT_EQ(w.column()->VisibleTexts(), QStringList({QString()}) + c.afterClear);  // the empty first line
    }
}

TEST(GoToTime, EveryFormScrollsToTheFirstItemAtOrAfterItInRecordedOrder)
{
    Window w;
    // One item a second; from item 100 on the clock was stepped back 30 s,
    // so items 100-129 carry times that items 70-99 had already.
    for (int i = 0; i < 200; ++i)
        w.Add(QByteArray::number(i), 0, kBase + int64_t(i < 100 ? i : i - 30) * kSecond);
    w.dlg.RefreshOutput();
    w.Choose(TimeColumnMode::TimeOfDay);
    const struct {
        const char* text;
        int item;
    } cases[] = {
        {"+50s", 50},
        {"+85s", 85},    // before the step, not the item after it with the same time
        {"+99.5s", 130}, // nothing before the step reaches it
        {"2026-12-08 10:02:00", 150},
        {"2026-12-08T10:00:00Z", 0},
        {"10:00:30", 30},
        {"09:00", 0},    // an hour before the start: that time on the next day is after every item
    };
    testing_support::CapturedMessages messages;
    EXPECT_FALSE(w.dlg.GoToTime()->GoTo(QString()));  // nothing typed
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const bool found = w.dlg.GoToTime()->GoTo(QString::fromLatin1(c.text));
        if (QLatin1String(c.text) == QLatin1String("09:00")) {
            EXPECT_FALSE(found);
            EXPECT_TRUE(messages.Last().text.startsWith("No item was recorded at or after 2026-12-09T09:00:00"));
            continue;
        }
        ASSERT_TRUE(found);
        const qint64 start = w.ItemLineStart(c.item);
        EXPECT_EQ(w.dlg.m_editOutput->SelectionStart(), start);
        EXPECT_LE(w.dlg.m_editOutput->VisibleStart(), start);
        EXPECT_LT(start, w.dlg.m_editOutput->VisibleEnd());
        EXPECT_FALSE(w.dlg.m_editOutput->IsFollowing());
    }
    EXPECT_EQ(messages.Count(), 2);

    // Input that cannot be read says so and leaves the view where it was.
    const qint64 before = w.dlg.m_editOutput->VisibleStart();
    EXPECT_FALSE(w.dlg.GoToTime()->GoTo(QStringLiteral("half past ten")));
    EXPECT_TRUE(messages.Last().text.contains(QStringLiteral("'half past ten' is not a time")));
    EXPECT_EQ(w.dlg.m_editOutput->VisibleStart(), before);

    // Ctrl+G asks, through the prompt, and goes.
    QString offered;
    SetGoToTimePrompt([&](QWidget*, const QString& last) {
        offered = last;
        return std::optional<QString>(QStringLiteral("+20s"));
    });
    QTest::keyClick(w.dlg.m_editOutput, Qt::Key_G, Qt::ControlModifier);
    SetGoToTimePrompt({});
    EXPECT_EQ(w.dlg.m_editOutput->SelectionStart(), w.ItemLineStart(20));
    EXPECT_EQ(w.column()->VisibleTexts().value(0), QStringLiteral("10:00:20.000"));
}

TEST(CopyWithTimes, PutsEachLinesTimeBeforeItAndLeavesCopyAsItWas)
{
    Window w;
    w.Add("one\r\ntwo", 0, kBase);
    w.Add("three", 0, kBase + 2500);
    w.dlg.RefreshOutput();
    COutputView* view = w.dlg.m_editOutput;
    const QString blank(13, u' ');
    const struct {
        TimeColumnMode mode;
        qint64 start, end;  // -1: the end of the text
        QString expected;
    } cases[] = {
        // Off: the time of day.
        {TimeColumnMode::Off, 0, -1,
         blank + "Welcome to Vantrel \n" + blank + " Ver 0.4\n10:00:00.000 Rec :one\n" + blank +
             "two\n10:00:00.002 Rec :three"},
        {TimeColumnMode::SincePrevious, 0, -1,
         QString(11, u' ') + "Welcome to Vantrel \n" + QString(11, u' ') + " Ver 0.4\n    +0.000 Rec :one\n" +
             QString(11, u' ') + "two\n    +0.002 Rec :three"},
        // From inside "one" to inside "two".
        {TimeColumnMode::TimeOfDay, 37, 43, "10:00:00.000 ne\n" + blank + "tw"},
        // Ending just after a line end.
        {TimeColumnMode::TimeOfDay, 37, 41, "10:00:00.000 ne\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        w.Choose(c.mode);
        view->SetSelection(c.start, c.end < 0 ? view->TextLength() : c.end);
        QApplication::clipboard()->clear();
        w.dlg.OutputMenu()->CopyWithTimesAction()->trigger();
        EXPECT_EQ(QApplication::clipboard()->text(), c.expected);
        view->Copy();
        EXPECT_EQ(QApplication::clipboard()->text(), view->SelectedText());
    }
}

TEST(SaveWithTimes, WritesTheTimedLogOfferedWhenSaveIsAndReportsAFailure)
{
    Window w;
    w.Add("one\r\n", 0, kBase + 123'456);
    w.Add(QByteArray("\x01\xff", 2), 1, kBase + kSecond);
    w.dlg.RefreshOutput();
    QAction* save = w.dlg.OutputMenu()->SaveWithTimesAction();
    w.dlg.OutputMenu()->Menu();
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(w.dlg.UnsavedItems(), 2);

    const QString path = testing_support::TestDir() + QStringLiteral("/timed.log");
    SaveFileRequest asked;
    SetSaveFileHandler([&](const SaveFileRequest& request) {
        asked = request;
        return SaveFileAnswer{true, path, 1};
    });
    save->trigger();
    EXPECT_EQ(FilterDisplayNames(asked.filter), QStringList({"Timed Log(*.log)"}));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("Welcome to Vantrel \r\n Ver 0.4"
                                         "\r\n2026-12-08T10:00:00.123456+00:00\tRec :one\r\n"
                                         "\r\n2026-12-08T10:00:01.000000+00:00\tRec :01 ff "));
    EXPECT_EQ(w.dlg.UnsavedItems(), 0);

    // A folder that is not there: a message, and nothing written.
    testing_support::CapturedMessages messages;
    const QString bad = testing_support::TestDir() + QStringLiteral("/missing/timed.log");
    SetSaveFileHandler([&](const SaveFileRequest&) { return SaveFileAnswer{true, bad, 1}; });
    save->trigger();
    SetSaveFileHandler({});
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_TRUE(messages.Last().text.contains(QStringLiteral("could not be saved")));
    EXPECT_FALSE(QFile::exists(bad));
}

TEST(TimeColumnSetting, RoundTripsThroughTheSettingsFileBesideTheOtherValues)
{
    auto stored = [] {
        QFile file(platform::registryFilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    // Never turned on, the column leaves the settings file as it was.
    {
        Window w;
        w.dlg.DestroyWindow();
    }
    EXPECT_FALSE(stored().contains("TimeColumn"));
    EXPECT_TRUE(stored().contains("\"ShowFormat\"=hex(4):00,00,00,00"));
    const struct {
        TimeColumnMode chosen;
        const char* stored;
    } cases[] = {
        {TimeColumnMode::TimeOfDay, "\"TimeColumn\"=hex(4):01,00,00,00"},
        {TimeColumnMode::SinceStart, "\"TimeColumn\"=hex(4):02,00,00,00"},
        {TimeColumnMode::SincePrevious, "\"TimeColumn\"=hex(4):03,00,00,00"},
        {TimeColumnMode::Off, "\"TimeColumn\"=hex(4):00,00,00,00"},  // turned off again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        {
            Window w;
            w.Choose(c.chosen);
            w.dlg.DestroyWindow();
        }
        const QByteArray saved = stored();
        EXPECT_TRUE(saved.contains(c.stored)) << saved.toStdString();
        EXPECT_TRUE(saved.contains("\"ShowFormat\"=hex(4):00,00,00,00"));
        Window again;
        EXPECT_EQ(again.column()->Mode(), c.chosen);
        EXPECT_EQ(again.column()->isVisible(), c.chosen != TimeColumnMode::Off);
    }
}
