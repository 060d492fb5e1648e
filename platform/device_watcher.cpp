#include "platform/device_watcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kPollIntervalMs = 1000;

// A device node or link appears (created, or renamed into place as udev and
// `ln -sf` do), or its permissions change (udev gives a new node its group
// a moment after the kernel made it). The folder itself going away matters
// too: it is then watched through its parent again.
constexpr uint32_t kEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

QString nearestExistingFolder(QString folder)
{
    folder = QDir::cleanPath(folder);
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    return folder;
}

} // namespace

DeviceWatcher::DeviceWatcher(QObject* parent, Method method) : QObject(parent), m_method(method) {}

DeviceWatcher::~DeviceWatcher()
{
    Stop();
}

void DeviceWatcher::Start(const QStringList& folders)
{
    Stop();
    for (const QString& folder : folders)
        if (!folder.isEmpty() && !m_folders.contains(folder))
            m_folders.append(folder);
    if (m_folders.isEmpty())
        return;
    if (m_method == Method::Events) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0) {
            m_notifier = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &DeviceWatcher::OnReadable);
        }
    }
    Arm();
}

void DeviceWatcher::Stop()
{
    delete m_notifier;  // before its descriptor is closed
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_watches.clear();
    if (m_poll)
        m_poll->stop();
    m_folders.clear();
}

bool DeviceWatcher::IsPolling() const
{
    return m_poll && m_poll->isActive();
}

void DeviceWatcher::Arm()
{
    bool allWatched = m_fd >= 0;
    if (m_fd >= 0) {
        QSet<QString> wanted;
        for (const QString& folder : std::as_const(m_folders))
            wanted.insert(nearestExistingFolder(folder));
        // A parent watched only until the folder itself appeared is let go.
        for (auto it = m_watches.begin(); it != m_watches.end();) {
            if (wanted.contains(it.value())) {
                ++it;
            } else {
                ::inotify_rm_watch(m_fd, it.key());
                it = m_watches.erase(it);
            }
        }
        for (const QString& folder : std::as_const(wanted)) {
            const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), kEvents);
            if (wd >= 0)
                m_watches.insert(wd, folder);
            else
                allWatched = false;
        }
    }
    if (allWatched) {
        if (m_poll)
            m_poll->stop();
    } else {
        StartPolling();
    }
}

void DeviceWatcher::StartPolling()
{
    if (!m_poll) {
        m_poll = new QTimer(this);
        m_poll->setInterval(kPollIntervalMs);
        connect(m_poll, &QTimer::timeout, this, [this] {
            // A folder that could not be watched may be watchable now.
            if (m_fd >= 0)
                Arm();
            emit Changed();
        });
    }
    if (!m_poll->isActive())
        m_poll->start();
}

void DeviceWatcher::OnReadable()
{
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;  // drained (EAGAIN)
        for (const char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            // The folder went away: its watch is gone and Arm watches its
            // parent instead.
            if (event->mask & IN_IGNORED)
                m_watches.remove(event->wd);
            else
                any = true;
            p += sizeof(inotify_event) + event->len;
        }
    }
    Arm();
    if (any)
        emit Changed();
}

} // namespace platform
