// Enabling and pressing of commands by capture state, and the commands that
// drive the capture: Begin, Stop, Pause, Clear Output, and Exit.
#include "app/command_bar.h"
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "app/status_line.h"
#include "platform/device_map.h"

#include <QAction>
#include <QMenu>

void CMonitorDlg::UpdateCommandState()
{
    // A capture waiting for its lost device still runs: it can be stopped
    // or paused, and its settings stay as they are.
    auto open = [this] { return m_engine.IsCapturing(); };
    // While a Save is written the items stay as they are: no Begin, no
    // Clear Output, no second Save.
    EnableToolButton(ID_TOOL_BEGIN, !open() && !m_bSaving);
    EnableMenuCommand(ID_MENU_BEGIN, !open() && !m_bSaving);
    EnableToolButton(ID_TOOL_CLEAR, !m_bSaving);
    EnableMenuCommand(ID_MENU_CLEAR_OUTPUT, !m_bSaving);
    EnableToolButton(ID_TOOL_STOP, open());
    EnableMenuCommand(ID_MENU_STOP, open());
    EnableToolButton(ID_TOOL_PAUSE, open());
    EnableMenuCommand(ID_MENU_PAUSE, open());
    EnableToolButton(ID_TOOL_SAVE, !open() && !m_bSaving);
    EnableMenuCommand(ID_MENU_SAVE, !open() && !m_bSaving);
    EnableToolButton(ID_TOOL_PORT_SETTING, !open());
    EnableMenuCommand(ID_MENU_PORT_SETTING, !open());
    EnableMenuCommand(ID_MENU_RECORD_SETTING, !open());
    PressToolButton(ID_TOOL_PAUSE, m_engine.IsPaused());
    UpdateStatusLine();
}

void CMonitorDlg::UpdateStatusLine()
{
    if (!m_status)
        return;
    m_status->SetPort(m_engine.m_strPortName, platform::devicePathForPort(m_engine.m_strPortName),
                      m_engine.m_portSettings);
    m_status->SetState(m_engine.IsCapturing(), m_engine.IsPaused(),
                          m_engine.IsListening() || m_engine.IsWaitingForPort());
    m_status->SetConnection(m_engine.ConnectionState());
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

void CMonitorDlg::OnBegin()
{
    if (m_bSaving)
        return;
    // A port that cannot be opened is reported by the engine's openFailed.
    if (m_status)
        m_status->SetNotice({});
    m_engine.OpenPort();
    UpdateCommandState();
}

void CMonitorDlg::OnStop()
{
    if (!m_engine.IsCapturing())
        return;
    m_engine.ClosePort();
    // Stop returns with everything recorded on screen.
    RefreshOutput();
    UpdateCommandState();
}

void CMonitorDlg::OnPause()
{
    m_engine.SetPaused(!m_engine.IsPaused());
    UpdateCommandState();
}

void CMonitorDlg::OnClearOutput()
{
    if (m_bSaving)
        return;
    m_engine.ClearOutput();
    UpdateData(false);
}

void CMonitorDlg::OnExit()
{
    if (ConfirmClose())
        done(0);
}
