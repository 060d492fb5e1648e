// STUB: replaced by the Save command.
#include "app/monitor_dlg.h"
void CMonitorDlg::OnSave() {}
void CMonitorDlg::WriteSendData(QIODevice&) {}
