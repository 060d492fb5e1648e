// The main window's command table: every command id bound to its handler.
#include "app/command_ids.h"
#include "app/monitor_dlg.h"

namespace {

struct CommandBinding {
    int id;
    void (CMonitorDlg::*handler)();
};

const CommandBinding kCommandTable[] = {
    {ID_TOOL_PORT_SETTING, &CMonitorDlg::OnPortSetting},
    {ID_TOOL_SAVE, &CMonitorDlg::OnSave},
    {ID_TOOL_BEGIN, &CMonitorDlg::OnBegin},
    {ID_TOOL_PAUSE, &CMonitorDlg::OnPause},
    {ID_TOOL_STOP, &CMonitorDlg::OnStop},
    {ID_TOOL_ABOUT, &CMonitorDlg::OnAbout},
    {ID_TOOL_CLEAR, &CMonitorDlg::OnClearOutput},
    {ID_MENU_EXIT, &CMonitorDlg::OnExit},
    {ID_MENU_ABOUT, &CMonitorDlg::OnAbout},
    {ID_MENU_PORT_SETTING, &CMonitorDlg::OnPortSetting},
    {ID_MENU_STOP, &CMonitorDlg::OnStop},
    {ID_MENU_SAVE, &CMonitorDlg::OnSave},
    {ID_MENU_RECORD_SETTING, &CMonitorDlg::OnRecordSetting},
    {ID_MENU_BEGIN, &CMonitorDlg::OnBegin},
    {ID_MENU_PAUSE, &CMonitorDlg::OnPause},
    {ID_MENU_CLEAR_OUTPUT, &CMonitorDlg::OnClearOutput},
};

} // namespace

void CMonitorDlg::OnCommand(int id)
{
    for (const CommandBinding& binding : kCommandTable) {
        if (binding.id == id) {
            (this->*binding.handler)();
            // The handler may have changed the port or its settings.
            UpdateStatusLine();
            return;
        }
    }
}
