#include "app/monitor_app.h"

#include "app/monitor_dlg.h"
#include "app/single_instance.h"

CMonitorApp theApp;

bool CMonitorApp::InitInstance()
{
    CMonitorDlg dlg(nullptr);
    CSingleInstance::Current().SetRaiseTarget(&dlg);
    dlg.DoModal();
    CSingleInstance::Current().SetRaiseTarget(nullptr);
    return false;
}
