#pragma once
// `vantrel --capture`: the window's capture engine with no window. A main
// window object is built (never shown, never initialised as a window), the
// options override its settings for this run only, and the files follow
// its item list as items are recorded. Nothing is written back to the
// settings file.
#include "app/capture_options.h"
#include "app/headless_status.h"
#include "data/item_follower.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class CMonitorDlg;
class CStopSignals;
class CStreamedCaptureFile;
class QEventLoop;

// The exit statuses of a capture without a window.
enum HeadlessExit : int {
    kExitStopped = 0,         // SIGINT, SIGTERM, --duration or --bytes
    kExitBadCommandLine = 2,
    kExitPortUnavailable = 3, // no such port or device, or it cannot be used as a serial port
    kExitPortBusy = 4,        // another program holds the port
    kExitPermission = 5,      // no permission to open the device
    kExitFileError = 6,       // an output file cannot be created or written
    kExitPortLost = 7,        // the device went away, with --exit-on-loss
};

class CHeadlessCapture : public QObject {
    Q_OBJECT
public:
    explicit CHeadlessCapture(const CaptureOptions& options, QObject* parent = nullptr);
    ~CHeadlessCapture() override;

    // Opens the files and the port, records until the capture ends, and
    // returns the exit status. Needs an application object.
    int Run();

    // The exit status and the one-line reason for a port that could not be
    // opened with error `error`.
    static int ExitStatusForOpenError(int error);
    static QString DescribeOpenError(const QString& portName, const QString& devicePath, int error);

private:
    bool OpenFiles();
    // Copies the items recorded since the last call and writes them to
    // every file; false (with the error printed) when a write failed.
    bool WriteNewItems();
    // Tells of a file that starts or stops failing; returns `written`.
    bool ReportFile(size_t index, bool written);
    void Follow();
    void Finish(int status);
    void PrintError(const QString& text);
    void OnMessage(const QString& text);
    void UpdateStatus();

    CaptureOptions m_options;
    std::unique_ptr<CMonitorDlg> m_dlg;
    std::vector<std::unique_ptr<CStreamedCaptureFile>> m_files;
    std::vector<bool> m_fileFailing;  // per file: failing, and said so
    CItemFollower m_follower;
    CHeadlessStatus m_status;
    CStopSignals* m_signals = nullptr;
    QEventLoop* m_loop = nullptr;
    QTimer m_followTimer;
    QTimer m_statusTimer;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};  // --duration

    bool m_bOpening = false;      // messages while opening the port are kept, not printed
    QStringList m_openMessages;
    bool m_bFinished = false;
    int m_nStatus = kExitStopped;
    QString m_strLastConnection;  // the last word on the device's connection that was printed
    bool m_bHandlingLoss = false; // the engine is handling a loss that was reported already
    int64_t m_nItems = 0;         // written so far
    int64_t m_nBytes = 0;         // recorded bytes written so far
    int64_t m_nRateBytes = 0;     // m_nBytes at the last status update
    int64_t m_nRateMs = 0;        // when that was
    double m_dRate = 0;           // bytes per second, smoothed
};
