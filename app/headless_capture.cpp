#include "app/headless_capture.h"

#include "capture/port_reconnect.h"

#include "app/monitor_dlg.h"
#include "app/status_line.h"
#include "app/stop_signals.h"
#include "capture/port_reconnect.h"
#include "data/capture_journal.h"
#include "data/jsonl_format.h"
#include "data/streamed_capture_file.h"
#include "data/timed_log_format.h"
#include "platform/device_map.h"
#include "platform/message_box.h"
#include "platform/serial_port.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// New items reach the files this often: well within the second a reader
// following the file waits for, and few enough writes to cost nothing.
constexpr int kFollowIntervalMs = 150;
constexpr int kStatusIntervalMs = 250;
// The receive thread waits for the capture lock at most while this many
// items are copied.
constexpr int kMostItemsPerCopy = 1024;
// On a stop, what the device has sent and the driver holds is still read,
// for at most this long, so a stop in the middle of a flood loses nothing
// that had arrived.
constexpr int kDrainLimitMs = 2000;
constexpr int kDrainQuietMs = 50;

void PrintLine(const QString& text)
{
    const QByteArray bytes = QStringLiteral("vantrel: %1\n").arg(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// A message box's text on one line.
QString OneLine(const QString& text)
{
    return text.simplified();
}

} // namespace

CHeadlessCapture::CHeadlessCapture(const CaptureOptions& options, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_status(!options.bQuiet && CHeadlessStatus::StandardErrorIsTerminal())
{
    m_followTimer.setInterval(kFollowIntervalMs);
    m_statusTimer.setInterval(kStatusIntervalMs);
    connect(&m_followTimer, &QTimer::timeout, this, &CHeadlessCapture::Follow);
    connect(&m_statusTimer, &QTimer::timeout, this, &CHeadlessCapture::UpdateStatus);
}

CHeadlessCapture::~CHeadlessCapture()
{
    // The window object's destructor ends any capture; it never saves the
    // settings (only DestroyWindow does, which this mode never calls). Its
    // messages still go to standard error: no box may ever wait here.
    m_dlg.reset();
    SetMessageHandler({});
    platform::clearRuntimePortOverrides();
}

int CHeadlessCapture::ExitStatusForOpenError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return kExitPermission;
    case EBUSY:
    case EWOULDBLOCK: return kExitPortBusy;
    default: return kExitPortUnavailable;
    }
}

QString CHeadlessCapture::DescribeOpenError(const QString& portName, const QString& devicePath, int error)
{
    const QString where = QStringLiteral("cannot open %1 (%2): ")
                              .arg(portName, devicePath.isEmpty() ? QStringLiteral("no device") : devicePath);
    switch (ExitStatusForOpenError(error)) {
    case kExitPermission:
        return where + QStringLiteral("permission denied. Serial devices belong to the group dialout: "
                                      "add the user with 'sudo adduser $USER dialout' and log in again.");
    case kExitPortBusy: return where + QStringLiteral("the port is in use by another program.");
    default: break;
    }
    if (error == ENOENT || error == ENODEV || error == ENXIO || devicePath.isEmpty())
        return where + QStringLiteral("no such device.");
    return where + QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.');
}

int CHeadlessCapture::Run()
{
    // Every message of the engine becomes one line on standard error.
    SetMessageHandler([this](const ShownMessage& message) {
        OnMessage(message.text);
        return IDOK;
    });
    // A reader of standard output that goes away is a write error, not a
    // silent end of the process.
    std::signal(SIGPIPE, SIG_IGN);

    m_dlg = std::make_unique<CMonitorDlg>();
    m_options.ApplyTo(*m_dlg);
    connect(m_dlg.get(), &CMonitorDlg::portLost, this, [this](int error) {
        PrintError(QStringLiteral("%1 (%2) was lost: %3%4")
                       .arg(m_dlg->m_strPortName, platform::devicePathForPort(m_dlg->m_strPortName),
                            QString::fromLocal8Bit(std::strerror(error)),
                            m_options.bExitOnLoss ? QStringLiteral(".") : QStringLiteral("; waiting for it.")));
        // This line says it all: the engine's own report of the loss, made
        // while it handles it, is not repeated.
        m_bHandlingLoss = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_bHandlingLoss = false;
                if (m_options.bExitOnLoss)
                    Finish(kExitPortLost);
            },
            Qt::QueuedConnection);
        UpdateStatus();
    });

    // A log (standard error that is not a terminal) hears of every change
    // while the device is away: a new reason it cannot be opened, its return.
    connect(m_dlg->m_pReconnect, &CPortReconnect::StateChanged, this, [this] {
        if (m_bFinished || m_options.bExitOnLoss)
            return;
        const QString text = m_dlg->IsWaitingForPort() ? m_dlg->ConnectionState()
                             : m_dlg->m_hPort
                                 ? QStringLiteral("%1 is back: %2").arg(m_dlg->m_strPortName, m_dlg->ConnectionState())
                                 : QString();
        if (!text.isEmpty() && text != m_strLastConnection)
            PrintError(text);
        m_strLastConnection = text;
        UpdateStatus();
    });

    // From here on a stop request waits in the pipe until the loop runs, so
    // one that comes while the port opens ends the capture cleanly too.
    m_signals = new CStopSignals(this);
    connect(m_signals, &CStopSignals::stopRequested, this, [this] { Finish(kExitStopped); });

    if (!OpenFiles())
        return kExitFileError;

    m_bOpening = true;
    const bool opened = m_dlg->OpenPort();
    m_bOpening = false;
    if (!opened) {
        static const QRegularExpression code(QStringLiteral("\uFF1A(-?[0-9]+)"));
        int error = ENOENT;
        for (const QString& text : std::as_const(m_openMessages))
            if (const QRegularExpressionMatch match = code.match(text); match.hasMatch())
                error = match.captured(1).toInt();
        PrintError(DescribeOpenError(m_dlg->m_strPortName, platform::devicePathForPort(m_dlg->m_strPortName), error));
        return ExitStatusForOpenError(error);
    }
    // The line settings or time-outs the port refused: the capture runs on,
    // as in the window, and says so.
    for (const QString& text : std::as_const(m_openMessages))
        PrintError(OneLine(text));
    m_openMessages.clear();

    m_followTimer.start();
    m_nRateMs = QDateTime::currentMSecsSinceEpoch();
    if (m_status.Enabled())
        m_statusTimer.start();
    UpdateStatus();
    if (m_options.durationMs > 0)
        m_deadline.setRemainingTime(std::chrono::milliseconds(m_options.durationMs));

    QEventLoop loop;
    m_loop = &loop;
    if (m_bFinished)  // ended before the loop ran
        return m_nStatus;
    const int status = loop.exec();
    m_loop = nullptr;
    return status;
}

bool CHeadlessCapture::OpenFiles()
{
    const int64_t start = QDateTime::currentSecsSinceEpoch();
    auto open = [&](CaptureFormat format, const QString& path, CStreamedCaptureFile::ItemFormatter formatter = {},
                    const QByteArray& prefix = {}) {
        auto file = std::make_unique<CStreamedCaptureFile>(format, path, m_options.split);
        if (formatter)
            file->SetFormatter(std::move(formatter), prefix);
        if (!file->Open(m_dlg->m_strOutput, start)) {
            PrintError(file->ErrorText());
            return false;
        }
        m_files.push_back(std::move(file));
        return true;
    };
    const bool neither = m_options.strLogPath.isEmpty() && m_options.strSendDataPath.isEmpty() &&
                         m_options.strTimedLogPath.isEmpty() && m_options.strJsonLinesPath.isEmpty();
    if (neither || !m_options.strLogPath.isEmpty())
        if (!open(CaptureFormat::SerialLog, neither ? QStringLiteral("-") : m_options.strLogPath))
            return false;
    if (!m_options.strSendDataPath.isEmpty())
        if (!open(CaptureFormat::SendData, m_options.strSendDataPath))
            return false;
    if (!m_options.strTimedLogPath.isEmpty())
        if (!open(CaptureFormat::SerialLog, m_options.strTimedLogPath, &TimedLogEntry, m_dlg->m_strOutput.toUtf8()))
            return false;
    if (!m_options.strJsonLinesPath.isEmpty()) {
        // Numbered from 1 within this run; the run id tells runs apart.
        JsonLinesRun run;
        run.run = NewJsonLinesRunId();
        run.port = m_dlg->m_strPortName;
        run.device = platform::stableLinkFor(platform::devicePathForPort(m_dlg->m_strPortName));
        auto seq = std::make_shared<int64_t>(0);
        auto format = [run, seq](const CDataItem& item) {
            QByteArray line;
            AppendJsonLine(line, item, ++*seq, run);
            return line;
        };
        if (!open(CaptureFormat::SendData, m_options.strJsonLinesPath, format, QByteArray()))
            return false;
    }
    return true;
}

bool CHeadlessCapture::WriteNewItems()
{
    std::vector<CDataItem> items;
    // The items there are now, not those that come while they are written,
    // so a flood faster than the disk cannot keep this thread here.
    int upTo = -1;
    for (;;) {
        // Under the capture lock only long enough to copy a bounded batch of
        // new items; the formatting and the disk come after.
        items.clear();
        {
            std::lock_guard lock(m_dlg->m_csCapture);
            if (upTo < 0 || upTo > m_dlg->m_items.GetSize())
                upTo = m_dlg->m_items.GetSize();
            const CItemFollower::Batch batch = m_follower.Take(m_dlg->m_nCaptureId, upTo, kMostItemsPerCopy);
            items.reserve(size_t(batch.end - batch.first));
            for (int i = batch.first; i < batch.end; ++i) {
                const CDataItem& item = m_dlg->m_items.GetAt(i);
                items.emplace_back(item);
                items.back().SetTimeMicros(item.GetTimeMicros());
            }
        }
        if (items.empty())
            break;
        for (const CDataItem& item : items) {
            for (const auto& file : m_files) {
                if (!file->Append(item)) {
                    PrintError(file->ErrorText());
                    return false;
                }
            }
            ++m_nItems;
            m_nBytes += item.GetLength();
        }
    }
    for (const auto& file : m_files) {
        if (!file->Flush()) {
            PrintError(file->ErrorText());
            return false;
        }
    }
    return true;
}

void CHeadlessCapture::Follow()
{
    if (m_bFinished)
        return;
    if (!WriteNewItems())
        Finish(kExitFileError);
    else if ((m_options.maxBytes > 0 && m_nBytes >= m_options.maxBytes) || m_deadline.hasExpired())
        Finish(kExitStopped);
}

void CHeadlessCapture::Finish(int status)
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    m_nStatus = status;
    m_followTimer.stop();
    m_statusTimer.stop();

    // What the driver already holds belongs to the capture: let the receive
    // thread take it before the port closes. Bytes still on their way from
    // the device to the driver's queue do not count in it yet, so the queue
    // must stay empty for a moment.
    if (status != kExitFileError) {
        const QDeadlineTimer deadline(kDrainLimitMs);
        QDeadlineTimer quiet(kDrainQuietMs);
        while (!deadline.hasExpired() && !quiet.hasExpired()) {
            uint32_t errors = 0;
            COMSTAT queue{};
            SerialPort* port = m_dlg->m_hPort;
            if (!port || !port->ClearCommError(errors, queue))
                break;
            if (queue.cbInQue > 0)
                quiet.setRemainingTime(kDrainQuietMs);
            QThread::msleep(5);
        }
    }
    // Joins the receive thread: after this nothing more is recorded.
    m_dlg->ClosePort();
    if (m_nStatus != kExitFileError && !WriteNewItems())
        m_nStatus = kExitFileError;
    for (const auto& file : m_files) {
        if (!file->Flush(true) && m_nStatus != kExitFileError) {
            PrintError(file->ErrorText());
            m_nStatus = kExitFileError;
        }
    }
    // Every item is in the files and on disk: the journal has done its work.
    // When the files failed it stays, for the window to offer back.
    if (m_nStatus != kExitFileError)
        m_dlg->m_journal->End();
    UpdateStatus();
    m_status.End();
    if (m_loop)
        m_loop->exit(m_nStatus);
}

void CHeadlessCapture::PrintError(const QString& text)
{
    m_status.Clear();
    PrintLine(text);
}

void CHeadlessCapture::OnMessage(const QString& text)
{
    if (m_bHandlingLoss)
        return;
    if (m_bOpening) {
        m_openMessages.append(text);
        return;
    }
    PrintError(OneLine(text));
}

void CHeadlessCapture::UpdateStatus()
{
    if (!m_dlg)
        return;
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_nRateMs >= 1000) {
        const double rate = double(m_nBytes - m_nRateBytes) * 1000.0 / double(now - m_nRateMs);
        m_dRate = m_dRate == 0 ? rate : 0.5 * m_dRate + 0.5 * rate;
        m_nRateBytes = m_nBytes;
        m_nRateMs = now;
    }
    QString state = QStringLiteral("recording");
    if (m_bFinished)
        state = QStringLiteral("stopped");
    else if (m_dlg->IsWaitingForPort())
        state = m_dlg->ConnectionState();
    else if (!m_dlg->m_hPort)
        state = QStringLiteral("closed");
    else if (m_dlg->m_bPaused)
        state = QStringLiteral("paused");
    // After a return: how often the device was lost, and the last gap.
    if (m_dlg->m_hPort && !m_dlg->ConnectionState().isEmpty())
        state += QStringLiteral(", ") + m_dlg->ConnectionState();
    m_status.Show(CHeadlessStatus::Describe(m_dlg->m_strPortName, platform::devicePathForPort(m_dlg->m_strPortName),
                                            CStatusLine::DescribeLine(m_dlg->m_portSettings), m_nItems, m_nBytes,
                                            m_dRate, state));
}
