#include "app/repaint_throttle.h"

#include <chrono>

CRepaintThrottle::CRepaintThrottle(int intervalMs, std::function<void()> action)
    : m_intervalMs(intervalMs), m_action(std::move(action)), m_clock([] {
          return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
      })
{
    m_trailing.setSingleShot(true);
    QObject::connect(&m_trailing, &QTimer::timeout, [this] { RunOrWait(); });
}

void CRepaintThrottle::Request()
{
    m_pending = true;
    RunOrWait();
}

void CRepaintThrottle::Flush()
{
    if (!m_pending)
        return;
    m_trailing.stop();
    Run(m_clock());
}

void CRepaintThrottle::RunOrWait()
{
    if (!m_pending)
        return;
    const qint64 now = m_clock();
    const qint64 wait = m_ran ? m_lastRunMs + m_intervalMs - now : 0;
    if (wait > 0) {
        // The timer asks the clock again when it fires: its clock may not
        // be the one this throttle reads.
        if (!m_trailing.isActive())
            m_trailing.start(int(qMin<qint64>(wait, m_intervalMs)));
        return;
    }
    m_trailing.stop();
    Run(now);
}

void CRepaintThrottle::Run(qint64 now)
{
    m_pending = false;
    m_ran = true;
    m_lastRunMs = now;
    m_action();
}
