#pragma once
// SIGINT and SIGTERM as a Qt signal on the thread that created this object.
// The handler only writes the signal's number into a pipe; the event loop
// reads it, so everything done on a stop runs as ordinary code.
#include <QObject>

class QSocketNotifier;

class CStopSignals : public QObject {
    Q_OBJECT
public:
    explicit CStopSignals(QObject* parent = nullptr);
    ~CStopSignals() override;

signals:
    void stopRequested(int signalNumber);

private:
    void Read();
    QSocketNotifier* m_notifier = nullptr;
};
