// What the window paints while a capture grows: only the rows that came in,
// nothing when nothing on screen changed, and the totals on the status line
// and the scroll bar a few times a second. A real window under the offscreen platform; an event
// filter records what Qt asks each part to paint, and what the window shows
// is read back from its backing store.
#include "app/monitor_dlg.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/status_line.h"
#include "app/time_column.h"
#include "main_window.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// What one widget was asked to paint.
struct PaintLog : QObject {
    explicit PaintLog(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            region += static_cast<QPaintEvent*>(event)->region();
            ++events;
        }
        return false;
    }
    QRegion region;
    int events = 0;
};

struct Window : testing_support::ShownWindow {
    COutputView* view = dlg.m_editOutput;
    int added = 0;
    Window() : ShownWindow(Until::Exposed) {}
    // `count` items of one short line of text each: one new row each.
    void Add(int count)
    {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        for (int i = 0; i < count; ++i, ++added) {
            const QByteArray text = "reading " + QByteArray::number(added);
            CDataItem item(reinterpret_cast<const uint8_t*>(text.constData()), int(text.size()));
            item.SetKind(0);
            dlg.Engine().m_items.Add(item);
        }
    }
    // Lets Qt paint everything it was asked to.
    static void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    // What the window shows in `widget`'s place equals a paint of all of it.
    void ExpectShownAsPainted(QWidget* widget) const
    {
        const QPoint at = widget->mapTo(&dlg, QPoint());
        const QPixmap shown = dlg.screen()->grabWindow(dlg.winId(), at.x(), at.y(), widget->width(), widget->height());
        EXPECT_EQ(shown.toImage().convertToFormat(QImage::Format_RGB32),
                  widget->grab().toImage().convertToFormat(QImage::Format_RGB32));
    }
};

TEST(Painting, ACatchUpPaintsOnlyTheRowsThatCameInAndNothingOffScreen)
{
    enum class Place { End, ScrolledUp, ShortText };
    const struct {
        const char* name;
        Place place;
        bool times;
        int adding;
    } cases[] = {
        {"nothing new", Place::End, true, 0},
        {"following the end", Place::End, false, 3},
        {"following the end with times", Place::End, true, 1},
        {"more than a screen", Place::End, true, 200},
        {"scrolled up", Place::ScrolledUp, true, 5},
        {"below a short text", Place::ShortText, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        CTimeColumn* column = w.dlg.TimeColumn();
        if (c.times)
            w.dlg.OutputMenu()->ModeAction(TimeColumnMode::TimeOfDay)->trigger();
        if (c.place == Place::ShortText)
            w.dlg.OnClearOutput();
        w.Add(c.place == Place::ShortText ? 3 : 120);
        w.dlg.RefreshOutput();
        if (c.place == Place::ScrolledUp)
            QTest::keyClick(w.view, Qt::Key_PageUp);
        Window::Settle();
        // Where the first new row goes: after the short text's rows, or
        // among the last rows of a full screen.
        const int firstNew = c.place == Place::ShortText ? int(w.view->Layout().LineCount())
                                                         : w.view->VisibleRows() - c.adding;
        PaintLog text(w.view->viewport());
        PaintLog times(column);

        w.Add(c.adding);
        w.dlg.RefreshOutput();
        Window::Settle();

        const int height = w.view->viewport()->height();
        const int top = qMax(0, firstNew) * w.view->fontMetrics().lineSpacing();
        if (c.adding == 0 || c.place == Place::ScrolledUp) {
            EXPECT_EQ(text.events + times.events, 0);
        } else {
            // The new rows, and what the bottom edge leaves of a row under them.
            EXPECT_EQ(text.region, QRegion(0, top, w.view->viewport()->width(), height - top));
            EXPECT_EQ(times.region, c.times ? QRegion(0, top, column->width(), height - top) : QRegion());
            EXPECT_TRUE(w.view->ShownText().endsWith(QStringLiteral("reading %1").arg(w.added - 1)));
        }
        // The pixels that were scrolled are where a full paint puts them.
        w.ExpectShownAsPainted(w.view->viewport());
        if (c.times)
            w.ExpectShownAsPainted(column);
    }
}

// What changes at every catch-up of a steady line, the totals on the status
// line and the scroll bar's length, shows at most once in its interval and
// settles on the last state once the data stops.
TEST(Painting, TheTotalsAndTheScrollBarShowAFewTimesASecondAndTheLastStateOnceTheDataStops)
{
    enum class Part { Totals, ScrollBar };
    for (const Part part : {Part::Totals, Part::ScrollBar}) {
        SCOPED_TRACE(part == Part::Totals ? "totals" : "scroll bar");
        qint64 now = 1'000'000;  // outlives the window that reads it
        Window w;
        auto* status = w.dlg.findChild<CStatusLine*>(QStringLiteral("statusLine"));
        QScrollBar* bar = w.view->verticalScrollBar();
        status->SetClock([&now] { return now; });
        w.view->SetClock([&now] { return now; });
        // A screenful first, so that every new line lengthens the scroll bar.
        w.Add(120);
        w.dlg.RefreshOutput();
        Window::Settle();
        const int firstLength = bar->maximum();
        QWidget* widget = part == Part::Totals ? static_cast<QWidget*>(status) : bar;
        const int interval = part == Part::Totals ? CStatusLine::kTotalsIntervalMs : COutputView::kScrollBarIntervalMs;
        auto shown = [&] { return part == Part::Totals ? status->text() : QString::number(bar->maximum()); };
        now += interval;
        PaintLog paints(widget);
        // Three seconds of a steady line, caught up every 50 ms.
        constexpr int kCatchUps = 60;
        constexpr qint64 kStepMs = 50;
        QStringList states;
        for (int i = 0; i < kCatchUps; ++i) {
            w.Add(1);
            now += kStepMs;
            w.dlg.NotifyOutputChanged();
            ASSERT_TRUE(testing_support::WaitUntil([&] { return w.dlg.Engine().OutputIndex().ItemCount() == w.added; }));
            Window::Settle();
            states.append(shown());
        }
        // Between two shows the interval passes, and at most one catch-up more.
        const qint64 span = kCatchUps * kStepMs;
        EXPECT_LE(paints.events, span / interval + 1);
        EXPECT_GE(paints.events, span / (interval + kStepMs));
        states.removeDuplicates();
        EXPECT_EQ(states.size(), paints.events);  // each paint showed a new state
        // The last state waits for its turn, and shows once it comes.
        auto showsLast = [&] {
            return part == Part::Totals ? status->text().contains(QStringLiteral("%1 items").arg(w.added))
                                        : bar->maximum() == firstLength + kCatchUps && bar->value() == bar->maximum();
        };
        EXPECT_FALSE(showsLast());
        now += interval;
        EXPECT_TRUE(testing_support::WaitUntil(showsLast));
        // A catch-up that finds nothing new paints nothing.
        Window::Settle();
        PaintLog after(widget);
        now += 10 * interval;
        w.dlg.RefreshOutput();
        Window::Settle();
        EXPECT_EQ(after.events, 0);
    }
}

} // namespace
