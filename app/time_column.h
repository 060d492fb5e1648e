#pragma once
// The time column: a strip beside the output area, like a code editor's
// line numbers, that shows each item's time on the line where the item's
// entry begins ("Rec :"). The item's other lines, wrapped rows and the text
// before the first item show nothing. It is not part of the text: Select,
// Copy, Find and Save do not see it. Off, it is hidden and does no work; on,
// it paints only the rows on screen, reading their items' times from the
// item list, and when the text scrolls its pixels scroll with it and only
// the rows uncovered are painted.
#include "data/item_time_format.h"

#include <QStringList>
#include <climits>
#include <QWidget>
#include <vector>

class COutputView;
class COutputTextIndex;
class CItemTimes;

class CTimeColumn : public QWidget {
    Q_OBJECT
public:
    // All three outlive the column; `view` becomes its parent.
    CTimeColumn(COutputView* view, const COutputTextIndex* index, const CItemTimes* times);

    void SetMode(TimeColumnMode mode);
    TimeColumnMode Mode() const { return m_mode; }

    // The time shown beside line `line` in `mode`: empty unless the line is
    // where an item's entry begins.
    QString TimeForLine(qint64 line, TimeColumnMode mode) const;
    // What the column shows, one entry per row on screen, top to bottom;
    // the rows outside [firstRow, lastRow] are left empty.
    QStringList VisibleTexts(int firstRow = 0, int lastRow = INT_MAX) const;
    // The text between two offsets with one "\n" per line end, every line
    // preceded by its time as the column shows it (the time of day while
    // the column is off) and a blank; lines without a time get blanks.
    QString TextWithTimes(qint64 start, qint64 end) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        qint64 line = 0;
        bool first = false;  // the line's first row
    };
    std::vector<Row> VisibleRows() const;
    // The times of the lines given, in `mode`, or empty strings.
    QStringList TimesForLines(const std::vector<qint64>& lines, TimeColumnMode mode) const;
    int ColumnWidth() const;
    void Place();

    COutputView* m_view;
    QWidget* m_viewport;  // the view's, which the view never replaces
    const COutputTextIndex* m_index;
    const CItemTimes* m_times;
    TimeColumnMode m_mode = TimeColumnMode::Off;
};

// Makes Qt create the column's accessible object: the rows on screen, read
// as lines of text.
void InstallTimeColumnAccessibility();
