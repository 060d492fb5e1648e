// STUB: replaced by the capture engine.
#include "app/monitor_dlg.h"
uint32_t CMonitorDlg::ReceiveThreadProc(CMonitorDlg*) { return 0; }
int CMonitorDlg::OnReceive() { return 0; }
bool CMonitorDlg::IsRecordTime() { return true; }
int32_t CMonitorDlg::GetRecordPeriod() { return 60; }
