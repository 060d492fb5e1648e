#pragma once
// `vantrel --capture`: the capture engine with no window, on a core
// application (no window system, no platform plugin). The options override
// the engine's settings for this run only, and the files follow its item
// list as items are recorded. Nothing is written back to the settings file.
#include "app/capture_options.h"
#include "app/headless_status.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class CCaptureEngine;
struct AbandonedJournal;
class CStopSignals;
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
    kExitOutOfMemory = 8,     // memory ran out; everything recorded before is in the files
};

class CHeadlessCapture : public QObject {
    Q_OBJECT
public:
    explicit CHeadlessCapture(const CaptureOptions& options, QObject* parent = nullptr);
    ~CHeadlessCapture() override;

    // Opens the files and the port, records until the capture ends, and
    // returns the exit status. Needs a QCoreApplication.
    int Run();

    // The exit status and the one-line reason for a port that could not be
    // opened with error `error`.
    static int ExitStatusForOpenError(int error);
    static QString DescribeOpenError(const QString& portName, const QString& devicePath, int error);

private:
    // With `keepEarlier`, a file already at a path is moved aside, not
    // replaced.
    bool OpenFiles(bool keepEarlier);
    // Has the engine write the items recorded since the last call to every
    // file; false (with the error printed) when a write failed.
    bool WriteNewItems();
    void LimitJournal();
    // Whether a run on this port never ended, the journals of such runs
    // that hold what their files did not get, and the takeover of that.
    std::vector<AbandonedJournal> ClaimUnendedRuns(bool& unended);
    void TakeOverUnendedRuns(std::vector<AbandonedJournal> mine);
    void ReleaseWrittenItems();
    void Follow();
    void Finish(int status);
    void PrintError(const QString& text);
    void UpdateStatus();

    CaptureOptions m_options;
    std::unique_ptr<CCaptureEngine> m_engine;
    CHeadlessStatus m_status;
    CStopSignals* m_signals = nullptr;
    QEventLoop* m_loop = nullptr;
    QTimer m_followTimer;
    QTimer m_statusTimer;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};  // --duration

    QStringList m_openMessages;   // what the port refused while it opened, printed once it did
    bool m_bFinished = false;
    bool m_bToldUnsyncable = false;  // that output which cannot be synced lets items leave the journal
    int m_nStatus = kExitStopped;
    QString m_strLastConnection;  // the last word on the device's connection that was printed
    int64_t m_nRateBytes = 0;     // the bytes written at the last status update
    int64_t m_nRateMs = 0;        // when that was
    double m_dRate = 0;           // bytes per second, smoothed
};
