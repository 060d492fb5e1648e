#pragma once
// Keeps a capture going when its device goes away. At Begin it remembers the
// path that finds the same device again (its stable by-id or by-path link
// when it has one, else the port's device path). When the device is lost it
// waits, without polling in a loop, and has the engine reopen it: when
// a device folder changes, and once a second while the device is there but
// cannot be opened. Everything runs on the thread that drives the engine.
#include "platform/ctime.h"

#include <QObject>
#include <QString>
#include <functional>

class QTimer;
namespace platform {
class DeviceWatcher;
}

class CPortReconnect : public QObject {
    Q_OBJECT
public:
    // Opens the device at the path again and starts recording from it: 0 on
    // success, else the errno of the failure (the port then stays closed).
    using Reopen = std::function<int(const QString& devicePath)>;

    CPortReconnect(QObject* parent, Reopen reopen);
    ~CPortReconnect() override;

    // A capture begins on `devicePath`: earlier losses are forgotten and the
    // stable link of the device, while it is there, is remembered.
    void Begin(const QString& portName, const QString& devicePath);
    // The device went away: wait for it to come back.
    void StartWaiting();
    // Waits no more (Stop). Releases the watcher.
    void StopWaiting();
    // Something the user should know about the reopened port (its line
    // settings were refused); shown with the loss count. Empty clears it.
    void SetNote(const QString& note);

    bool IsWaiting() const { return m_bWaiting; }
    // Where the device is looked for when it comes back.
    QString ReopenPath() const { return m_stableLink.isEmpty() ? m_devicePath : m_stableLink; }
    int LostCount() const { return m_nLost; }
    CTime LostAt() const { return m_lostAt; }
    CTime BackAt() const { return m_backAt; }
    // Why the last reopen of a device that is there failed (errno), or 0.
    int LastError() const { return m_nLastError; }
    // The state in words for a status line; empty while there is nothing to say.
    QString Describe() const;

    // How long a retry waits after a failed open, and the first check after
    // a loss (the device may be back before the watcher is).
    static constexpr int kRetryIntervalMs = 1000;

signals:
    // Waiting began or ended, or a reopen failed for a new reason.
    void StateChanged();

private:
    void TryReopen();

    Reopen m_reopen;
    platform::DeviceWatcher* m_watcher;
    QTimer* m_retry;    // single shot: the next try without an event
    QTimer* m_gather;   // single shot: one try for a burst of events
    QString m_portName;
    QString m_devicePath;
    QString m_stableLink;
    bool m_bWaiting = false;
    int m_nLost = 0;
    CTime m_lostAt;
    CTime m_backAt;
    bool m_bBack = false;  // the last loss ended with the device back
    int m_nLastError = 0;
    QString m_note;
};
