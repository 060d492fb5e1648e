#pragma once
// One running instance per executable path and user. The first instance holds
// a lock file and listens on a local socket; a later start asks it to bring
// its window to the front and then ends.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    static CSingleInstance& Current();
    // The name shared by every start of the executable at `path` for this user.
    static QString KeyFor(const QString& executablePath);

    // True when this process is now the one instance. False when a running
    // instance answered and was asked to come to the front. When a lock is
    // held but no instance answers, tries `attempts` times `waitMs` apart,
    // then starts normally.
    bool Claim(const QString& key, int attempts = 3, int waitMs = 1000);

    // The window a raise request brings to the front.
    void SetRaiseTarget(QWidget* window) { m_target = window; }
    int RaiseRequests() const { return m_nRaiseRequests; }

private:
    bool AskRunningInstance(const QString& key);
    void Listen(const QString& key);
    void OnConnection();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QPointer<QWidget> m_target;
    int m_nRaiseRequests = 0;
};
