#pragma once
// Tells when something appears or changes in a few device folders, so a
// capture waiting for its device tries to open it only when there is a
// reason to. It watches with inotify through the event loop, which then
// wakes only for events; where a folder cannot be watched it falls back to
// a check once a second. A folder that does not exist yet is watched
// through its nearest existing parent, so its creation counts too.
#include <QHash>
#include <QObject>
#include <QStringList>

class QSocketNotifier;
class QTimer;

namespace platform {

class DeviceWatcher : public QObject {
    Q_OBJECT
public:
    enum class Method {
        Events,  // inotify, the timer only where that fails
        Timer,   // the timer alone
    };

    explicit DeviceWatcher(QObject* parent = nullptr, Method method = Method::Events);
    ~DeviceWatcher() override;

    // Starts, or restarts, watching `folders`.
    void Start(const QStringList& folders);
    // Stops watching and releases the inotify descriptor.
    void Stop();

    bool IsWatching() const { return !m_folders.isEmpty(); }
    // True while the once-a-second check stands in for events.
    bool IsPolling() const;

signals:
    // Something was created, moved in or had its permissions changed in a
    // watched folder (or, when polling, a second has passed).
    void Changed();

private:
    void OnReadable();
    // Watches each folder, or its nearest existing parent; polls when
    // nothing could be watched.
    void Arm();
    void StartPolling();

    Method m_method;
    QStringList m_folders;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_poll = nullptr;
    QHash<int, QString> m_watches;  // watch descriptor -> folder
};

} // namespace platform
