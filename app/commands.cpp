// Enabling and pressing of commands by capture state, and the shell's own
// commands: Pause, Clear Output and Exit.
#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "app/status_line.h"
#include "data/capture_journal.h"
#include "platform/device_map.h"

#include <QAction>
#include <QMenu>

void CMonitorDlg::UpdateCommandState()
{
    // A capture waiting for its lost device still runs: it can be stopped
    // or paused, and its settings stay as they are.
    auto open = [this] { return m_hPort != nullptr || IsWaitingForPort(); };
    EnableToolButton(ID_TOOL_BEGIN, !open());
    EnableMenuCommand(ID_MENU_BEGIN, !open());
    EnableToolButton(ID_TOOL_STOP, open());
    EnableMenuCommand(ID_MENU_STOP, open());
    EnableToolButton(ID_TOOL_PAUSE, open());
    EnableMenuCommand(ID_MENU_PAUSE, open());
    EnableToolButton(ID_TOOL_SAVE, !open());
    EnableMenuCommand(ID_MENU_SAVE, !open());
    EnableToolButton(ID_TOOL_PORT_SETTING, !open());
    EnableMenuCommand(ID_MENU_PORT_SETTING, !open());
    EnableMenuCommand(ID_MENU_RECORD_SETTING, !open());
    PressToolButton(ID_TOOL_PAUSE, m_bPaused != 0);
    UpdateStatusLine();
}

void CMonitorDlg::UpdateStatusLine()
{
    if (!m_status)
        return;
    m_status->SetPort(m_strPortName, platform::devicePathForPort(m_strPortName), m_portSettings);
    m_status->SetState(m_hPort != nullptr || IsWaitingForPort(), m_bPaused != 0);
    m_status->SetConnection(ConnectionState());
}

bool CMonitorDlg::EnableToolButton(int id, bool enable)
{
    QAction* action = m_wndCommandBar ? m_wndCommandBar->ToolAction(id) : nullptr;
    if (!action)
        return false;
    action->setEnabled(enable);
    return true;
}

bool CMonitorDlg::PressToolButton(int id, bool press)
{
    return m_wndCommandBar && m_wndCommandBar->SetPressed(id, press);
}

int CMonitorDlg::EnableMenuCommand(int id, bool enable)
{
    QAction* action = m_pMenu && m_wndCommandBar ? m_wndCommandBar->MenuAction(id) : nullptr;
    if (!action)
        return 0;
    const bool wasEnabled = action->isEnabled();
    action->setEnabled(enable);
    return wasEnabled ? 0 : 1;  // the previous state: 0 enabled, 1 grayed
}

void CMonitorDlg::OnPause()
{
    m_bPaused = m_bPaused ? 0 : 1;
    UpdateCommandState();
}

void CMonitorDlg::OnClearOutput()
{
    {
        // Under the capture lock, so it never overlaps the recording of a chunk.
        std::lock_guard lock(m_csCapture);
        m_strOutput.clear();
        m_items.RemoveAll();
        ++m_nCaptureId;
    }
    m_journal->Wake();  // the discarded capture's journal goes
    UpdateData(false);
}

void CMonitorDlg::OnExit()
{
    if (ConfirmClose())
        done(0);
}
