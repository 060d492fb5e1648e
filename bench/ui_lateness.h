#pragma once
// How late the user-interface thread runs while a benchmark works: a 10 ms
// timer on it notes the worst delay past its interval.
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace bench {

class UiLateness {
public:
    UiLateness()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const double t = Seconds();
            m_worst = std::max(m_worst, t - m_last - kIntervalMs / 1000.0);
            m_last = t;
        });
    }
    void Start()
    {
        m_last = Seconds();
        m_tick.start(kIntervalMs);
    }
    void Stop() { m_tick.stop(); }
    double WorstMs() const { return m_worst * 1000; }

private:
    static constexpr int kIntervalMs = 10;
    static double Seconds()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    QTimer m_tick;
    double m_last = 0;
    double m_worst = 0;
};

} // namespace bench
