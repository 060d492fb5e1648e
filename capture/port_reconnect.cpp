#include "capture/port_reconnect.h"

#include "platform/device_map.h"
#include "platform/device_watcher.h"

#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>

namespace {

// Events come in bursts (the node, its permissions, its links): one try
// after the burst's first event catches them.
constexpr int kGatherMs = 10;

QString timeOfDay(const CTime& time)
{
    const std::tm local = time.GetLocalTm();
    return QString::asprintf("%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
}

// The device is simply not there (yet): nothing to tell, and only a change
// in the device folders can bring it back.
bool isAbsent(int error)
{
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

QString describeOpenFailure(int error)
{
    QString why;
    if (error == EBUSY || error == EWOULDBLOCK)
        why = QStringLiteral("busy, another program holds it");
    else if (error == EACCES || error == EPERM)
        why = QStringLiteral("permission denied");
    else
        why = QString::fromLocal8Bit(std::strerror(error));
    return QStringLiteral("cannot open it: %1 (error %2)").arg(why).arg(error);
}

} // namespace

CPortReconnect::CPortReconnect(QObject* parent, Reopen reopen)
    : QObject(parent), m_reopen(std::move(reopen)), m_watcher(new platform::DeviceWatcher(this)),
      m_retry(new QTimer(this)), m_gather(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryIntervalMs);
    m_gather->setSingleShot(true);
    m_gather->setInterval(kGatherMs);
    connect(m_retry, &QTimer::timeout, this, &CPortReconnect::TryReopen);
    connect(m_gather, &QTimer::timeout, this, &CPortReconnect::TryReopen);
    connect(m_watcher, &platform::DeviceWatcher::Changed, this, [this] {
        // Not restarted by later events, so a busy folder cannot put the
        // try off for ever.
        if (m_bWaiting && !m_gather->isActive())
            m_gather->start();
    });
}

CPortReconnect::~CPortReconnect() = default;

void CPortReconnect::Begin(const QString& portName, const QString& devicePath)
{
    StopWaiting();
    m_portName = portName;
    m_devicePath = devicePath;
    m_stableLink = platform::stableLinkFor(devicePath);
    m_nLost = 0;
    m_lostAt = m_backAt = CTime();
    m_bBack = false;
    m_nLastError = 0;
    m_note.clear();
}

void CPortReconnect::StartWaiting()
{
    m_bWaiting = true;
    ++m_nLost;
    m_lostAt = CTime::GetCurrentTime();
    m_bBack = false;
    m_nLastError = 0;
    m_note.clear();
    QStringList folders = platform::deviceFolders();
    folders.append(QFileInfo(ReopenPath()).path());
    m_watcher->Start(folders);
    // The first look comes a moment later rather than at once: a device
    // that is still there but failing would otherwise be reopened and lost
    // again as fast as it fails.
    m_retry->start();
    emit StateChanged();
}

void CPortReconnect::StopWaiting()
{
    m_retry->stop();
    m_gather->stop();
    m_watcher->Stop();
    if (!m_bWaiting)
        return;
    m_bWaiting = false;
    emit StateChanged();
}

void CPortReconnect::SetNote(const QString& note)
{
    m_note = note;
}

void CPortReconnect::TryReopen()
{
    if (!m_bWaiting)
        return;
    m_retry->stop();
    const int error = m_reopen(ReopenPath());
    if (error == 0) {
        m_backAt = CTime::GetCurrentTime();
        m_bBack = true;
        m_nLastError = 0;
        StopWaiting();
        return;
    }
    const int shown = isAbsent(error) ? 0 : error;
    // A device that is there but cannot be taken (busy, not permitted yet)
    // gives no event when that changes: try again in a while.
    if (shown)
        m_retry->start();
    if (shown != m_nLastError) {
        m_nLastError = shown;
        emit StateChanged();
    }
}

QString CPortReconnect::Describe() const
{
    if (m_bWaiting) {
        QString text = QStringLiteral("Waiting for %1 (%2) to come back, gone since %3")
                           .arg(m_portName, ReopenPath(), timeOfDay(m_lostAt));
        if (m_nLastError)
            text += QStringLiteral("; ") + describeOpenFailure(m_nLastError);
        return text;
    }
    if (m_nLost == 0)
        return {};
    const QString times = m_nLost == 1 ? QStringLiteral("1 time") : QStringLiteral("%1 times").arg(m_nLost);
    // Stopped while it waited: the last loss has no end.
    QString text = m_bBack ? QStringLiteral("lost %1, last %2 to %3").arg(times, timeOfDay(m_lostAt), timeOfDay(m_backAt))
                           : QStringLiteral("lost %1, last at %2, not back").arg(times, timeOfDay(m_lostAt));
    if (!m_note.isEmpty())
        text += QStringLiteral("; ") + m_note;
    return text;
}
