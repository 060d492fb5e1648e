// STUB: replaced by the capture engine.
#include "app/monitor_dlg.h"
void CMonitorDlg::OnBegin() { OpenPort(); }
void CMonitorDlg::OnStop() {}
bool CMonitorDlg::OpenPort() { return false; }
bool CMonitorDlg::ClosePort() { return false; }
void CMonitorDlg::ConfigurePort() {}
void CMonitorDlg::OnPortLost(int) {}
