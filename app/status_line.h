#pragma once
// The line under the output area: which port and line settings a capture
// uses, whether it runs, and how much the capture holds. The totals change
// with every catch-up of the output area; they are shown a few times a
// second, the last ones always, and everything else at once.
#include "app/repaint_throttle.h"

#include <QLabel>

struct PortSettings;

class CStatusLine : public QLabel {
    Q_OBJECT
public:
    explicit CStatusLine(QWidget* parent);

    void SetPort(const QString& portName, const QString& devicePath, const PortSettings& settings);
    void SetState(bool open, bool paused, bool listening = true);
    // Shown at once when the last totals were shown long enough ago, else
    // when the interval has passed.
    void SetTotals(qint64 items, qint64 bytes);
    // Shows totals that wait for their turn now (a capture brought up to
    // date on request, or started over).
    void FlushTotals() { m_totalsThrottle.Flush(); }
    // The device's connection (waiting for it, how often it was lost);
    // empty shows nothing.
    void SetConnection(const QString& text);
    // Why the capture is not protected on disk; empty when it is.
    void SetProtection(const QString& problem);
    // Why the capture stopped by itself (memory ran out); empty shows nothing.
    void SetNotice(const QString& text);
    // The journal's disk is running out of room; empty shows nothing.
    void SetDiskWarning(const QString& text);

    // "9600 8-N-1" and the like.
    static QString DescribeLine(const PortSettings& settings);

    // New totals show at most once in this interval.
    static constexpr int kTotalsIntervalMs = 250;
    // The clock the interval is measured on (tests give their own).
    void SetClock(CRepaintThrottle::Clock clock) { m_totalsThrottle.SetClock(std::move(clock)); }

private:
    void Show();
    QString m_port;
    QString m_state;
    QString m_totals;
    QString m_connection;
    QString m_protection;
    QString m_notice;
    QString m_diskWarning;
    CRepaintThrottle m_totalsThrottle{kTotalsIntervalMs, [this] { Show(); }};
};
