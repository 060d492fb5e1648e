#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <unistd.h>

namespace {
const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaiseAnswer = "raised\n";
}

CSingleInstance& CSingleInstance::Current()
{
    static CSingleInstance instance;
    return instance;
}

QString CSingleInstance::KeyFor(const QString& executablePath)
{
    QString path = QDir::cleanPath(executablePath);
    path.replace(u'\\', u'/');
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("vantrel-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

bool CSingleInstance::Claim(const QString& key, int attempts, int waitMs)
{
    QString lockDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (lockDir.isEmpty())
        lockDir = QDir::tempPath();
    m_lock = std::make_unique<QLockFile>(lockDir + u'/' + key + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);  // only the lock of a process that has died is stale
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (m_lock->tryLock(0)) {
            Listen(key);
            return true;
        }
        if (AskRunningInstance(key))
            return false;
        // Another instance holds the lock but has no window that answers yet.
        QThread::msleep(unsigned(waitMs));
    }
    // Start all the same, but leave the other instance its socket, so later
    // starts can still reach it.
    return true;
}

bool CSingleInstance::AskRunningInstance(const QString& key)
{
    QLocalSocket socket;
    socket.connectToServer(key);
    if (!socket.waitForConnected(500))
        return false;
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(500))
        return false;
    while (socket.bytesAvailable() < kRaiseAnswer.size() && socket.waitForReadyRead(1000)) {
    }
    return socket.readAll().startsWith(kRaiseAnswer);
}

void CSingleInstance::Listen(const QString& key)
{
    QLocalServer::removeServer(key);  // a socket file left by a crashed instance
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(key))
        return;
    connect(&m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->readAll().startsWith(kRaiseRequest) || !m_target)
                return;
            ++m_nRaiseRequests;
            if (m_target->isMinimized())
                m_target->showNormal();
            m_target->show();
            m_target->raise();
            m_target->activateWindow();
            socket->write(kRaiseAnswer);
            socket->flush();
        });
    }
}
