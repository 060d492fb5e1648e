#include "app/monitor_dlg.h"

#include "app/command_bar.h"
#include "app/find_bar.h"
#include "app/go_to_time.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/status_line.h"
#include "app/time_column.h"
#include "capture/port_reconnect.h"
#include "data/capture_journal.h"
#include "data/item_rendering.h"
#include "platform/message_box.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QIODevice>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kWelcomeText = QStringLiteral("Welcome to Vantrel \r\n Ver 0.4");

// The output area catches up at most this often (twenty times a second, as
// fast as anyone reads), so a flood of small chunks becomes a few large
// updates and a steady line costs a few repaints a second, not one a chunk.
constexpr qint64 kRefreshIntervalMs = 50;
// A timed catch-up indexes for at most this long before the window gets
// its turn again; what is left follows at once after that.
constexpr qint64 kCatchUpSliceMs = 8;
// Bytes of items indexed per hold of the capture lock, so the receive
// thread never waits long for it.
constexpr qint64 kIndexBytesPerLock = 512 * 1024;

} // namespace

CMonitorDlg::CMonitorDlg(QWidget* pParent) : QDialog(pParent)
{
    m_strOutput = kWelcomeText;
    m_hIcon = QIcon(QStringLiteral(":/res/vantrel.svg"));
    m_hPort = nullptr;
    m_bPaused = 0;
    m_pReconnect = new CPortReconnect(this, [this](const QString& path) { return ReopenPort(path); });
    connect(m_pReconnect, &CPortReconnect::StateChanged, this, [this] { UpdateStatusLine(); });
    LoadSettings();
    // Every recorded item goes to disk too, with or without a window.
    m_journal = std::make_unique<CCaptureJournal>(
        CCaptureJournal::Source{m_csCapture, m_items, m_nCaptureId, m_strOutput});
    m_journal->SetProblemHandler([this](const QString& problem) {
        QMetaObject::invokeMethod(this, [this, problem] { ShowProtection(problem); }, Qt::QueuedConnection);
    });
}

CMonitorDlg::~CMonitorDlg()
{
    // No receive thread may outlive the window object.
    ClosePort();
    // Nor the find bar's search, which reads the text.
    delete m_findBar;
    delete m_goToTime;
    // The output area (a child, deleted after the members) lets go of the text.
    if (m_editOutput)
        m_editOutput->SetText(nullptr, nullptr);
}

int CMonitorDlg::DoModal()
{
    if (!m_bInitialized)
        OnInitDialog();
    const int result = exec();
    DestroyWindow();
    return result;
}

int CMonitorDlg::OnInitDialog()
{
    m_bInitialized = true;
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowFlags(Qt::Window);
    setWindowIcon(m_hIcon);
    setSizeGripEnabled(true);

    m_editOutput = new COutputView(this);
    m_editOutput->SetText(&m_outputText, &m_outputIndex);
    m_timeColumn = new CTimeColumn(m_editOutput, &m_outputIndex, &m_itemTimes);
    m_timeColumn->SetMode(TimeColumnModeFrom(m_nTimeColumn));
    m_goToTime = new CGoToTime(this, m_editOutput, &m_outputIndex, &m_itemTimes);
    m_outputMenu = new COutputContextMenu(this, m_editOutput, m_timeColumn, m_goToTime);
    connect(m_outputMenu, &COutputContextMenu::modeChosen, this,
            [this](TimeColumnMode mode) { m_nTimeColumn = int32_t(mode); });
    m_wndCommandBar = new CCommandBar(this);
    m_status = new CStatusLine(this);
    m_findBar = new CFindBar(m_outputText, this);
    m_findBar->hide();
    m_findBar->AttachShortcuts(this);
    m_findBar->SetOrigin([this] { return m_editOutput->VisibleStart(); });
    connect(m_findBar, &CFindBar::highlightRequested, m_editOutput, &COutputView::SetHighlight);
    connect(m_findBar, &CFindBar::highlightCleared, m_editOutput, &COutputView::ClearHighlight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_wndCommandBar);
    layout->addWidget(m_editOutput, 1);
    layout->addWidget(m_findBar);
    layout->addWidget(m_status);
    resize(900, 600);

    UpdateData(false);

    // The desktop's help request opens the About box.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { OnHelpInfo(nullptr); });

    m_pMenu = m_wndCommandBar->InsertMenuBar();
    if (!m_pMenu)
        return -1;
    if (!m_wndCommandBar->LoadToolBar())
        return -1;
    connect(m_wndCommandBar, &CCommandBar::commandTriggered, this, &CMonitorDlg::OnCommand);
    UpdateCommandState();
    m_editOutput->setFocus();
    return 1;
}

bool CMonitorDlg::DestroyWindow()
{
    if (m_bDestroyed)
        return false;
    m_bDestroyed = true;
    // A capture still running when the window closes is stopped first.
    ClosePort();
    SaveSettings();
    // The journal has done its work when everything is saved or the user
    // chose to discard it; otherwise it stays for the next start to offer.
    if (m_bCloseConfirmed || UnsavedItems() == 0)
        m_journal->End();
    hide();
    return true;
}

int CMonitorDlg::UnsavedItems()
{
    std::lock_guard lock(m_csCapture);
    const int saved = m_nSavedCaptureId == m_nCaptureId ? m_nSavedItems : 0;
    return std::max(0, m_items.GetSize() - saved);
}

void CMonitorDlg::OnCaptureSaved(uint64_t captureId, int items)
{
    m_nSavedCaptureId = captureId;
    m_nSavedItems = items;
    m_journal->MarkSaved(captureId, items);
}

void CMonitorDlg::ShowProtection(const QString& problem)
{
    if (m_status) {
        m_status->SetProtection(problem);
        return;
    }
    // Without a window the problem goes where the other messages go.
    if (!problem.isEmpty())
        AfxMessageBox(QStringLiteral("The capture is no longer protected on disk: %1").arg(problem), MB_ICONEXCLAMATION);
}

void CMonitorDlg::DoDataExchange(bool bSaveAndValidate)
{
    // The output area is read-only and its text is always the model's, so
    // reading it back changes nothing; loading shows m_strOutput and every
    // recorded item, from the start.
    if (bSaveAndValidate || !m_editOutput)
        return;
    {
        std::lock_guard lock(m_csCapture);
        m_outputIndex.Reset(m_nCaptureId, m_strOutput);
        m_itemTimes.Reset(m_nCaptureId);
        m_viewFollower.Seek(m_nCaptureId, 0);
        m_nShownItems = 0;
        m_nShownBytes = 0;
    }
    m_editOutput->TextRestarted();
    if (m_findBar)
        m_findBar->TextChanged();
    CatchUpOutput(-1);
}

bool CMonitorDlg::UpdateData(bool bSaveAndValidate)
{
    DoDataExchange(bSaveAndValidate);
    return true;
}

void CMonitorDlg::NotifyOutputChanged()
{
    if (m_bRefreshPending.exchange(true))
        return;  // a catch-up is already on its way and will take this item too
    QMetaObject::invokeMethod(this, &CMonitorDlg::ScheduleRefresh, Qt::QueuedConnection);
}

void CMonitorDlg::ScheduleRefresh()
{
    const qint64 wait = m_nLastRefreshMs + kRefreshIntervalMs - QDateTime::currentMSecsSinceEpoch();
    if (wait > 0 && wait <= kRefreshIntervalMs)
        QTimer::singleShot(int(wait), this, &CMonitorDlg::CatchUpSome);
    else
        CatchUpSome();
}

void CMonitorDlg::CatchUpSome()
{
    m_nLastRefreshMs = QDateTime::currentMSecsSinceEpoch();
    m_bRefreshPending = false;
    // A flood leaves more than one slice: the rest follows as soon as the
    // window has handled its other events.
    if (!CatchUpOutput(kCatchUpSliceMs) && !m_bRefreshPending.exchange(true))
        QTimer::singleShot(0, this, &CMonitorDlg::CatchUpSome);
}

void CMonitorDlg::RefreshOutput()
{
    m_nLastRefreshMs = QDateTime::currentMSecsSinceEpoch();
    m_bRefreshPending = false;
    CatchUpOutput(-1);
}

bool CMonitorDlg::CatchUpOutput(qint64 maxMs)
{
    if (!m_editOutput)
        return true;  // no output area (the headless mode): nothing to index
    QElapsedTimer clock;
    clock.start();
    bool restarted = false;
    bool grew = false;
    bool done = false;
    while (!done && (maxMs < 0 || clock.elapsed() < maxMs)) {
        std::lock_guard lock(m_csCapture);
        const int size = m_items.GetSize();
        const int from = m_viewFollower.CaptureId() == m_nCaptureId ? m_viewFollower.Taken() : 0;
        int most = 0;
        for (qint64 bytes = 0; from + most < size && (most == 0 || bytes < kIndexBytesPerLock); ++most)
            bytes += m_items.GetAt(from + most).GetLength();
        const CItemFollower::Batch batch = m_viewFollower.Take(m_nCaptureId, size, qMax(most, 1));
        if (batch.restarted) {
            // Cleared since the last visit: the text starts over.
            m_outputIndex.Reset(m_nCaptureId, m_strOutput);
            m_itemTimes.Reset(m_nCaptureId);
            m_nShownBytes = 0;
            restarted = true;
        }
        for (int i = batch.first; i < batch.end; ++i) {
            m_outputIndex.Append(m_items.GetAt(i));
            m_itemTimes.Append(m_items.GetAt(i));
            m_nShownBytes += m_items.GetAt(i).GetLength();
        }
        grew = grew || batch.end > batch.first;
        m_nShownItems = batch.end;
        done = batch.end >= size;
    }
    if (restarted)
        m_editOutput->TextRestarted();
    else if (grew)
        m_editOutput->TextGrew();
    if ((restarted || grew) && m_findBar)
        m_findBar->TextChanged();
    if (m_status)
        m_status->SetTotals(m_nShownItems, m_nShownBytes);
    return done;
}

bool CMonitorDlg::WriteOutputText(QIODevice& out)
{
    // Written piece by piece from the model, so a long capture never needs a
    // second full copy of its text in memory.
    std::lock_guard lock(m_csCapture);
    QByteArray bytes = m_strOutput.toUtf8();
    QString entry;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        entry.clear();
        AppendItemEntry(entry, m_items.GetAt(i));
        bytes += entry.toUtf8();
        if (bytes.size() >= 1 << 16) {
            if (out.write(bytes) != bytes.size())
                return false;
            bytes.clear();
        }
    }
    return out.write(bytes) == bytes.size();
}
