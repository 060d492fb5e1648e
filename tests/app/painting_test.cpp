// What the window paints while a capture grows: only the rows that came in,
// nothing when nothing on screen changed, and the totals on the status line
// a few times a second. A real window under the offscreen platform; an event
// filter records what Qt asks each part to paint, and what the window shows
// is read back from its backing store.
#include "app/monitor_dlg.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/status_line.h"
#include "app/time_column.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// What one widget was asked to paint.
class PaintLog : public QObject {
public:
    explicit PaintLog(QWidget* widget) { widget->installEventFilter(this); }
    QRegion region;
    int events = 0;
    void Clear()
    {
        region = QRegion();
        events = 0;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            region += static_cast<QPaintEvent*>(event)->region();
            ++events;
        }
        return false;
    }
};

struct Window {
    CMonitorDlg dlg;
    COutputView* view = nullptr;
    CTimeColumn* column = nullptr;
    CStatusLine* status = nullptr;
    int added = 0;
    Window()
    {
        dlg.OnInitDialog();
        dlg.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        view = dlg.m_editOutput;
        column = dlg.TimeColumn();
        status = dlg.findChild<CStatusLine*>(QStringLiteral("statusLine"));
    }
    // `count` items of one short line each: one new row each.
    void Add(int count)
    {
        std::lock_guard lock(dlg.Engine().m_csCapture);
        for (int i = 0; i < count; ++i, ++added) {
            const QByteArray text = "reading " + QByteArray::number(added);
            CDataItem item(reinterpret_cast<const uint8_t*>(text.constData()), int(text.size()));
            item.SetKind(0);  // text
            dlg.Engine().m_items.Add(item);
        }
    }
    // Lets Qt paint everything it was asked to.
    static void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    int RowHeight() const { return view->fontMetrics().lineSpacing(); }
    // What the window shows in `widget`'s place, and what a full paint of it draws.
    QImage OnScreen(QWidget* widget) const
    {
        const QPoint at = widget->mapTo(&dlg, QPoint());
        return dlg.screen()
            ->grabWindow(dlg.winId(), at.x(), at.y(), widget->width(), widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    static QImage Painted(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }
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
        {"following the end with times", Place::End, true, 3},
        {"one row", Place::End, true, 1},
        {"more than a screen", Place::End, true, 200},
        {"scrolled up", Place::ScrolledUp, true, 5},
        {"below a short text", Place::ShortText, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        if (c.times)
            w.dlg.OutputMenu()->ModeAction(TimeColumnMode::TimeOfDay)->trigger();
        if (c.place == Place::ShortText)
            w.dlg.OnClearOutput();
        w.Add(c.place == Place::ShortText ? 3 : 120);
        w.dlg.RefreshOutput();
        if (c.place == Place::ScrolledUp)
            QTest::keyClick(w.view, Qt::Key_PageUp);
        Window::Settle();
        const int rowHeight = w.RowHeight();
        const int height = w.view->viewport()->height();
        const int width = w.view->viewport()->width();
        // Where the first new row goes: after the rows there were, or where
        // the last rows of a full screen are.
        const int rowsBefore = int(w.view->Layout().LineCount());
        const int firstNewRow = c.place == Place::ShortText ? rowsBefore : w.view->VisibleRows() - c.adding;
        PaintLog text(w.view->viewport());
        PaintLog times(w.column);

        w.Add(c.adding);
        w.dlg.RefreshOutput();
        Window::Settle();

        if (c.adding == 0 || c.place == Place::ScrolledUp) {
            EXPECT_EQ(text.events, 0);
            EXPECT_EQ(times.events, 0);
        } else if (firstNewRow <= 0) {
            EXPECT_EQ(text.region, QRegion(0, 0, width, height));
        } else {
            // The new rows and the part of a row under them that the bottom edge cuts.
            const int top = firstNewRow * rowHeight;
            EXPECT_EQ(text.region, QRegion(0, top, width, height - top)) << text.region.boundingRect().top() << " " << top;
            if (c.times) {
                EXPECT_EQ(times.region, QRegion(0, top, w.column->width(), height - top));
            }
        }
        EXPECT_EQ(times.events != 0, c.times && c.adding > 0 && c.place != Place::ScrolledUp);
        // Scrolled or not, the window shows what a paint of the whole area draws.
        EXPECT_EQ(w.OnScreen(w.view->viewport()), Window::Painted(w.view->viewport()));
        if (c.times) {
            EXPECT_EQ(w.OnScreen(w.column), Window::Painted(w.column));
        }
        if (c.place != Place::ScrolledUp) {
            EXPECT_TRUE(w.view->ShownText().endsWith(QStringLiteral("reading %1").arg(w.added - 1)));
        }
    }
}

TEST(Painting, TheTotalsShowAFewTimesASecondAndTheLastOnesOnceTheDataStops)
{
    Window w;
    qint64 now = 1'000'000;
    w.status->SetClock([&now] { return now; });
    PaintLog totals(w.status);
    // Three seconds of a steady line, caught up on every 50 ms.
    constexpr int kCatchUps = 60;
    constexpr qint64 kStepMs = 50;
    QStringList shown;
    for (int i = 0; i < kCatchUps; ++i) {
        w.Add(1);
        now += kStepMs;
        w.dlg.NotifyOutputChanged();
        ASSERT_TRUE(testing_support::WaitUntil([&] { return w.dlg.Engine().OutputIndex().ItemCount() == w.added; }));
        Window::Settle();
        shown.append(w.status->text());
    }
    // Between two shows at least the interval passes, and at most the
    // interval and one catch-up.
    const qint64 span = kCatchUps * kStepMs;
    EXPECT_LE(totals.events, span / CStatusLine::kTotalsIntervalMs + 1);
    EXPECT_GE(totals.events, span / (CStatusLine::kTotalsIntervalMs + kStepMs));
    shown.removeDuplicates();
    EXPECT_EQ(shown.size(), totals.events);
    // The last totals wait for their turn, and show once it comes.
    EXPECT_FALSE(w.status->text().contains(QStringLiteral("%1 items").arg(kCatchUps)));
    EXPECT_TRUE(w.status->TotalsPending());
    now += CStatusLine::kTotalsIntervalMs;
    EXPECT_TRUE(testing_support::WaitUntil([&] { return !w.status->TotalsPending(); }));
    EXPECT_TRUE(w.status->text().contains(QStringLiteral("%1 items").arg(kCatchUps))) << w.status->text().toStdString();
    // A catch-up that finds nothing new paints nothing.
    Window::Settle();
    totals.Clear();
    now += 10 * CStatusLine::kTotalsIntervalMs;
    w.dlg.RefreshOutput();
    Window::Settle();
    EXPECT_EQ(totals.events, 0);
}

} // namespace
