#pragma once
// Runs an action at most once per interval however often it is asked for,
// and once more when the interval has passed if it was asked for meanwhile,
// so what it shows settles on the last state. A request after a quiet
// interval runs at once. The clock is a seam: tests give one of their own
// and decide when time passes.
#include <QTimer>
#include <functional>

class CRepaintThrottle {
public:
    using Clock = std::function<qint64()>;  // milliseconds on a steady clock

    CRepaintThrottle(int intervalMs, std::function<void()> action);

    void Request();
    // Runs a waiting request now.
    void Flush();
    void SetClock(Clock clock)
    {
        m_clock = std::move(clock);
        m_ran = false;  // a time read from the old clock means nothing on the new one
    }

private:
    void RunOrWait();
    void Run(qint64 now);

    const int m_intervalMs;
    std::function<void()> m_action;
    Clock m_clock;
    QTimer m_trailing;
    qint64 m_lastRunMs = 0;
    bool m_ran = false;
    bool m_pending = false;
};
