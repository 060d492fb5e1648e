// STUB: replaced by the settings dialogs.
#include "app/monitor_dlg.h"
void CMonitorDlg::OnPortSetting() {}
void CMonitorDlg::OnRecordSetting() {}
