#include "app/monitor_app.h"

#include "app/monitor_dlg.h"
#include "app/single_instance.h"

CMonitorApp theApp;

bool CMonitorApp::InitInstance()
{
    CMonitorDlg dlg(nullptr);
    if (m_pfnPrepareWindow)
        m_pfnPrepareWindow(dlg);
    CSingleInstance::Current().SetRaiseTarget(&dlg);
    dlg.DoModal();
    CSingleInstance::Current().SetRaiseTarget(nullptr);
    return false;
}
