#include "app/monitor_dlg.h"

#include "app/command_bar.h"
#include "app/find_bar.h"
#include "app/go_to_time.h"
#include "app/output_context_menu.h"
#include "app/output_view.h"
#include "app/status_line.h"
#include "app/time_column.h"
#include "data/capture_journal.h"
#include "data/store_space.h"
#include "platform/message_box.h"
#include "settings/settings_persistence.h"

#include <chrono>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The catch-ups are paced by elapsed time: a step of the time of day must
// neither hold them up nor hurry them.
qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The output area catches up at most this often (ten times a second: faster
// than anyone reads a stream that fills a screen each time), so a flood of
// small chunks becomes a few large updates and a steady line costs a few
// repaints a second, not one a chunk. The first chunk after a quiet spell
// shows at once.
constexpr qint64 kRefreshIntervalMs = 100;
// How often the journal's free space is looked at: a statvfs costs little.
constexpr int kStoreSpaceCheckMs = 5000;
// A timed catch-up indexes for at most this long before the window gets
// its turn again; what is left follows at once after that.
constexpr qint64 kCatchUpSliceMs = 8;

} // namespace

CMonitorDlg::CMonitorDlg(QWidget* pParent) : QDialog(pParent)
{
    m_hIcon = QIcon(QStringLiteral(":/res/vantrel.svg"));
    // Straight from the receive thread: NotifyOutputChanged never waits.
    connect(&m_engine, &CCaptureEngine::itemsRecorded, this, &CMonitorDlg::NotifyOutputChanged,
            Qt::DirectConnection);
    connect(&m_engine, &CCaptureEngine::connectionChanged, this, [this] { UpdateStatusLine(); });
    // Queued: the receive thread never waits for the window.
    connect(&m_engine, &CCaptureEngine::listening, this, [this] { UpdateStatusLine(); }, Qt::QueuedConnection);
    // A lost device leaves everything recorded until then on screen.
    connect(&m_engine, &CCaptureEngine::waiting, this, [this] {
        RefreshOutput();
        UpdateCommandState();
    });
    connect(&m_engine, &CCaptureEngine::back, this, [this] { UpdateCommandState(); });
    connect(&m_engine, &CCaptureEngine::problem, this, &CMonitorDlg::ShowProtection);
    // Emitted once the receive thread has ended, on this thread.
    connect(&m_engine, &CCaptureEngine::outOfMemory, this, &CMonitorDlg::ShowOutOfMemory);
    connect(&m_engine, &CCaptureEngine::openFailed, this,
            [](int, const QString& text) { AfxMessageBox(text, MB_OK | MB_ICONSTOP); });
    connect(&m_engine, &CCaptureEngine::lineRefused, this,
            [this](const QString& text) { ShowMessageBox(this, text, QStringLiteral("Error"), MB_OK); });
    // The engine has loaded its settings; the window's own follows.
    const TimeColumnSetting timeColumn = LoadTimeColumnSetting();
    m_nTimeColumn = timeColumn.mode;
    m_bTimeColumnStored = timeColumn.stored;
}

void CMonitorDlg::LoadSettings()
{
    m_engine.LoadSettings();
    const TimeColumnSetting timeColumn = LoadTimeColumnSetting();
    m_nTimeColumn = timeColumn.mode;
    m_bTimeColumnStored = timeColumn.stored;
}

void CMonitorDlg::SaveSettings()
{
    m_engine.SaveSettings();
    SaveTimeColumnSetting(TimeColumnSetting{m_nTimeColumn, m_bTimeColumnStored});
}

CMonitorDlg::~CMonitorDlg()
{
    // No receive thread may report to a window that is going.
    m_engine.ClosePort();
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
    m_editOutput->SetText(&m_engine.OutputText(), &m_engine.OutputIndex());
    m_timeColumn = new CTimeColumn(m_editOutput, &m_engine.OutputIndex(), &m_engine.ItemTimes());
    m_timeColumn->SetMode(TimeColumnModeFrom(m_nTimeColumn));
    m_goToTime = new CGoToTime(this, m_editOutput, &m_engine.OutputIndex(), &m_engine.ItemTimes());
    m_outputMenu = new COutputContextMenu(this, m_editOutput, m_timeColumn, m_goToTime);
    connect(m_outputMenu, &COutputContextMenu::modeChosen, this,
            [this](TimeColumnMode mode) { m_nTimeColumn = int32_t(mode); });
    m_wndCommandBar = new CCommandBar(this);
    m_status = new CStatusLine(this);
    // QTimer runs on the steady clock: a change of the time of day neither
    // hurries nor holds up the check.
    m_diskCheck = new QTimer(this);
    m_diskCheck->setInterval(kStoreSpaceCheckMs);
    connect(m_diskCheck, &QTimer::timeout, this, &CMonitorDlg::CheckStoreSpace);
    m_diskCheck->start();
    CheckStoreSpace();
    m_findBar = new CFindBar(m_engine.OutputText(), this);
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
    m_engine.ClosePort();
    SaveSettings();
    // The journal has done its work when everything is saved or the user
    // chose to discard it; otherwise it stays for the next start to offer.
    if (m_bCloseConfirmed || UnsavedItems() == 0)
        m_engine.EndJournal();
    hide();
    return true;
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
    else  // the journal healed and caught up
        AfxMessageBox(QStringLiteral("The capture is protected on disk again; nothing recorded was lost."), MB_ICONINFORMATION);
}

void CMonitorDlg::CheckStoreSpace()
{
    if (m_status)
        m_status->SetDiskWarning(StoreSpaceWarning(m_engine.Journal().Folder()));
}

void CMonitorDlg::ShowOutOfMemory(const QString& text)
{
    // The capture has stopped: everything recorded stays on screen, as Stop leaves it.
    RefreshOutput();
    UpdateCommandState();
    if (m_status) {
        m_status->SetNotice(text);
        return;
    }
    AfxMessageBox(text, MB_ICONEXCLAMATION);
}

void CMonitorDlg::DoDataExchange(bool bSaveAndValidate)
{
    // The output area is read-only and its text is always the model's, so
    // reading it back changes nothing; loading shows m_strOutput and every
    // recorded item, from the start.
    if (bSaveAndValidate || !m_editOutput)
        return;
    m_engine.RestartOutputIndex();
    m_editOutput->TextRestarted();
    if (m_findBar)
        m_findBar->TextChanged();
    CatchUpOutput(-1);
    if (m_status)
        m_status->FlushTotals();
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
    const qint64 wait = m_nLastRefreshMs + kRefreshIntervalMs - SteadyMs();
    if (wait > 0 && wait <= kRefreshIntervalMs)
        QTimer::singleShot(int(wait), this, &CMonitorDlg::CatchUpSome);
    else
        CatchUpSome();
}

void CMonitorDlg::CatchUpSome()
{
    m_nLastRefreshMs = SteadyMs();
    m_bRefreshPending = false;
    // A flood leaves more than one slice: the rest follows as soon as the
    // window has handled its other events.
    if (!CatchUpOutput(kCatchUpSliceMs) && !m_bRefreshPending.exchange(true))
        QTimer::singleShot(0, this, &CMonitorDlg::CatchUpSome);
}

void CMonitorDlg::RefreshOutput()
{
    m_nLastRefreshMs = SteadyMs();
    m_bRefreshPending = false;
    CatchUpOutput(-1);
    // Brought up to date on request: the totals too, without waiting their turn.
    if (m_status)
        m_status->FlushTotals();
}

bool CMonitorDlg::CatchUpOutput(qint64 maxMs)
{
    if (!m_editOutput)
        return true;  // not shown yet: nothing to index
    const CCaptureEngine::IndexProgress progress = m_engine.CatchUpOutputIndex(maxMs);
    if (progress.restarted)
        m_editOutput->TextRestarted();
    else if (progress.grew)
        m_editOutput->TextGrew();
    if ((progress.restarted || progress.grew) && m_findBar)
        m_findBar->TextChanged();
    if (m_status) {
        m_status->SetTotals(progress.items, progress.bytes);
        if (progress.restarted)
            m_status->FlushTotals();  // a new capture's empty totals show at once
    }
    return progress.done;
}
