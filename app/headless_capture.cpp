#include "app/headless_capture.h"

#include "app/status_line.h"
#include "app/stop_signals.h"
#include "capture/capture_engine.h"
#include "capture/port_reconnect.h"
#include "data/capture_journal.h"
#include "data/journal_file.h"
#include "data/jsonl_format.h"
#include "data/streamed_capture_file.h"
#include "platform/device_map.h"
#include "platform/serial_port.h"

#include <QDateTime>
#include <QDir>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// New items reach the files this often: well within the second a reader
// following the file waits for, and few enough writes to cost nothing.
constexpr int kFollowIntervalMs = 150;
constexpr int kStatusIntervalMs = 250;
constexpr int64_t kHeadlessSegmentBytes = 8 << 20;
// On a stop, what the device has sent and the driver holds is still read,
// for at most this long, so a stop in the middle of a flood loses nothing
// that had arrived.
constexpr int kDrainLimitMs = 2000;
constexpr int kDrainQuietMs = 50;

// The rate is an elapsed time: a step of the time of day must not move it.
int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void PrintLine(const QString& text)
{
    const QByteArray bytes = QStringLiteral("vantrel: %1\n").arg(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// A message's text on one line.
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
    // The engine's destructor ends any capture; it never saves the settings.
    m_engine.reset();
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
    // A reader of standard output that goes away is a write error, not a
    // silent end of the process.
    std::signal(SIGPIPE, SIG_IGN);

    m_engine = std::make_unique<CCaptureEngine>();
    m_options.ApplyTo(*m_engine);
    connect(m_engine.get(), &CCaptureEngine::portLost, this, [this](int error) {
        PrintError(QStringLiteral("%1 (%2) was lost: %3%4")
                       .arg(m_engine->m_strPortName, platform::devicePathForPort(m_engine->m_strPortName),
                            QString::fromLocal8Bit(std::strerror(error)),
                            m_options.bExitOnLoss ? QStringLiteral(".") : QStringLiteral("; waiting for it.")));
        if (m_options.bExitOnLoss)
            QMetaObject::invokeMethod(this, [this] { Finish(kExitPortLost); }, Qt::QueuedConnection);
        UpdateStatus();
    });
    // What the port refused while it opened is said once it is open; later
    // it would come from a reopen, which says it with the connection.
    connect(m_engine.get(), &CCaptureEngine::lineRefused, this, [this](const QString& text) {
        m_openMessages.append(text);
    });
    connect(m_engine.get(), &CCaptureEngine::problem, this, [this](const QString& problem) {
        if (!problem.isEmpty())
            PrintError(QStringLiteral("The capture is no longer protected on disk: %1").arg(OneLine(problem)));
        else  // the journal healed and caught up
            PrintError(QStringLiteral("The capture is protected on disk again; nothing recorded was lost."));
    });

    connect(m_engine.get(), &CCaptureEngine::outOfMemory, this, [this](const QString& text) {
        if (m_bFinished)
            return;
        PrintError(OneLine(text));
        Finish(kExitOutOfMemory);
    });

    // A log (standard error that is not a terminal) hears of every change
    // while the device is away: a new reason it cannot be opened, its return.
    connect(m_engine.get(), &CCaptureEngine::connectionChanged, this, [this] {
        if (m_bFinished || m_options.bExitOnLoss)
            return;
        const QString text = m_engine->IsWaitingForPort() ? m_engine->ConnectionState()
                             : m_engine->IsPortOpen()
                                 ? QStringLiteral("%1 is back: %2").arg(m_engine->m_strPortName, m_engine->ConnectionState())
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

    // A run on this port that never ended (a crash, a kill, a power cut)
    // left its journal: its files are kept, not replaced, and what they
    // did not get goes to this run's files first.
    bool unended = false;
    std::vector<AbandonedJournal> journals = ClaimUnendedRuns(unended);
    if (!OpenFiles(unended))
        return kExitFileError;
    LimitJournal();
    TakeOverUnendedRuns(std::move(journals));

    if (!m_engine->OpenPort()) {
        const int error = m_engine->LastOpenError();
        PrintError(DescribeOpenError(m_engine->m_strPortName, platform::devicePathForPort(m_engine->m_strPortName), error));
        return ExitStatusForOpenError(error);
    }
    // The line settings or time-outs the port refused: the capture runs on,
    // as in the window, and says so.
    for (const QString& text : std::as_const(m_openMessages))
        PrintError(OneLine(text));
    m_openMessages.clear();

    m_followTimer.start();
    m_nRateMs = SteadyMs();
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

bool CHeadlessCapture::OpenFiles(bool keepEarlier)
{
    const int64_t start = QDateTime::currentSecsSinceEpoch();
    auto open = [&](CaptureFormat format, const QString& path, CStreamedCaptureFile::ItemFormatter formatter = {},
                    const QByteArray& prefix = {}) {
        auto file = std::make_unique<CStreamedCaptureFile>(format, path, m_options.split);
        if (formatter)
            file->SetFormatter(std::move(formatter), prefix);
        file->SetKeepEarlier(keepEarlier);
        if (!file->Open(m_engine->m_strOutput, start)) {
            PrintError(file->ErrorText());
            return false;
        }
        if (!file->KeptEarlierPath().isEmpty())
            PrintError(QStringLiteral("%1 holds what a run that did not end wrote: it is kept as %2.")
                           .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(file->KeptEarlierPath())));
        m_engine->AddStreamedFile(std::move(file));
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
        if (!open(CaptureFormat::TimedLog, m_options.strTimedLogPath))
            return false;
    if (!m_options.strJsonLinesPath.isEmpty()) {
        // Numbered from 1 within this run; the run id tells runs apart.
        JsonLinesRun run;
        run.run = NewJsonLinesRunId();
        run.port = m_engine->m_strPortName;
        run.device = platform::stableLinkFor(platform::devicePathForPort(m_engine->m_strPortName));
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

void CHeadlessCapture::LimitJournal()
{
    // The journal holds only what the files do not have on disk yet, a
    // second or two of data: smaller segments give the space back sooner,
    // and starting one (a create, two flushes) costs a few milliseconds.
    m_engine->Journal().SetSegmentBytes(kHeadlessSegmentBytes);
    m_engine->Journal().SetSizeLimit(m_options.journalMaxBytes, [this] {
        // Said on the thread that prints, once.
        QMetaObject::invokeMethod(
            this,
            [this] {
                PrintError(QStringLiteral("The journal reached its limit (--journal-max %1 bytes): its oldest items, "
                                          "which the files do not have on disk yet, are no longer kept in it.")
                               .arg(m_options.journalMaxBytes));
            },
            Qt::QueuedConnection);
    });
}

std::vector<AbandonedJournal> CHeadlessCapture::ClaimUnendedRuns(bool& unended)
{
    // Other ports' journals are left for the window to offer. A run whose
    // files had everything left a journal with nothing to give back: it
    // never ended all the same.
    QStringList otherPorts;
    std::vector<AbandonedJournal> mine;
    for (AbandonedJournal& journal : ClaimAbandonedJournals(m_engine->Journal().Folder(), &otherPorts))
        if (journal.summary.header.portName == m_engine->m_strPortName)
            mine.push_back(std::move(journal));
    unended = !mine.empty() || otherPorts.contains(m_engine->m_strPortName);
    return mine;
}

void CHeadlessCapture::TakeOverUnendedRuns(std::vector<AbandonedJournal> mine)
{
    if (mine.empty())
        return;
    const int count = int(mine.size());
    const int64_t items = m_engine->TakeOverJournals(std::move(mine));
    PrintError(QStringLiteral("%1 items that an earlier run on %2 recorded but did not write to its files (%3 "
                              "journal%4) go to the files first.")
                   .arg(items)
                   .arg(m_engine->m_strPortName)
                   .arg(count)
                   .arg(count == 1 ? QString() : QStringLiteral("s")));
}

void CHeadlessCapture::ReleaseWrittenItems()
{
    const int64_t before = m_engine->ReleasedItems();
    m_engine->ReleaseWrittenItems();
    if (m_bToldUnsyncable || m_engine->ReleasedItems() == before)
        return;
    const QString unsyncable = m_engine->UnsyncableFile();
    if (unsyncable.isEmpty())
        return;
    m_bToldUnsyncable = true;
    PrintError(QStringLiteral("%1 cannot be synced to a disk: items written to it leave the journal, and a crash of "
                              "the machine may lose what its reader had not yet kept.")
                   .arg(unsyncable == QLatin1String("-") ? QStringLiteral("Standard output") : unsyncable));
}

bool CHeadlessCapture::WriteNewItems()
{
    const bool written = m_engine->WriteToStreamedFiles();
    // A file that fails is retried at every visit; say when it starts
    // failing and when it is written again.
    for (const QString& news : m_engine->TakeStreamedFileNews())
        PrintError(news);
    return written;
}

void CHeadlessCapture::Follow()
{
    if (m_bFinished)
        return;
    try {
        WriteNewItems();
        // What every file has on disk needs no copy in memory or the journal.
        ReleaseWrittenItems();
    } catch (const std::bad_alloc&) {
        // The batch is taken again; the engine stops the capture and says so.
        m_engine->NoteOutOfMemory();
        return;
    }
    if ((m_options.maxBytes > 0 && m_engine->StreamedBytes() >= m_options.maxBytes) || m_deadline.hasExpired())
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
    if (status != kExitFileError && status != kExitOutOfMemory) {
        const QDeadlineTimer deadline(kDrainLimitMs);
        QDeadlineTimer quiet(kDrainQuietMs);
        while (!deadline.hasExpired() && !quiet.hasExpired()) {
            uint32_t errors = 0;
            COMSTAT queue{};
            SerialPort* port = m_engine->Port();
            if (!port || !port->ClearCommError(errors, queue))
                break;
            if (queue.cbInQue > 0)
                quiet.setRemainingTime(kDrainQuietMs);
            QThread::msleep(5);
        }
    }
    // Joins the receive thread: after this nothing more is recorded.
    m_engine->ClosePort();
    bool written = true;
    try {
        WriteNewItems();
    } catch (const std::bad_alloc&) {
        written = false;
        PrintError(QStringLiteral("Out of memory: the last items could not be written to the files."));
    }
    const bool synced = m_engine->FlushStreamedFiles(true) && written;
    for (const QString& news : m_engine->TakeStreamedFileNews())
        PrintError(news);
    if (!synced)
        m_nStatus = kExitFileError;
    else
        m_engine->ReleaseWrittenItems();  // the journals of earlier runs go too
    // Every item is in the files and on disk: the journal has done its work.
    // When the files failed it stays, for the window to offer back.
    if (m_nStatus != kExitFileError)
        m_engine->EndJournal();
    // Only the terminal's status line, which memory that ran out may not
    // allow: the exit status and the files are what count.
    try {
        UpdateStatus();
    } catch (const std::bad_alloc&) {
    }
    m_status.End();
    if (m_loop)
        m_loop->exit(m_nStatus);
}

void CHeadlessCapture::PrintError(const QString& text)
{
    m_status.Clear();
    PrintLine(text);
}

void CHeadlessCapture::UpdateStatus()
{
    if (!m_engine)
        return;
    const int64_t now = SteadyMs();
    if (now - m_nRateMs >= 1000) {
        const double rate = double(m_engine->StreamedBytes() - m_nRateBytes) * 1000.0 / double(now - m_nRateMs);
        m_dRate = m_dRate == 0 ? rate : 0.5 * m_dRate + 0.5 * rate;
        m_nRateBytes = m_engine->StreamedBytes();
        m_nRateMs = now;
    }
    QString state = QStringLiteral("recording");
    if (m_bFinished)
        state = QStringLiteral("stopped");
    else if (m_engine->IsWaitingForPort())
        state = m_engine->ConnectionState();
    else if (!m_engine->IsPortOpen())
        state = QStringLiteral("closed");
    else if (m_engine->IsPaused())
        state = QStringLiteral("paused");
    // After a return: how often the device was lost, and the last gap.
    if (m_engine->IsPortOpen() && !m_engine->ConnectionState().isEmpty())
        state += QStringLiteral(", ") + m_engine->ConnectionState();
    m_status.Show(CHeadlessStatus::Describe(m_engine->m_strPortName, platform::devicePathForPort(m_engine->m_strPortName),
                                            CStatusLine::DescribeLine(m_engine->m_portSettings), m_engine->StreamedItems(), m_engine->StreamedBytes(),
                                            m_dRate, state));
}
