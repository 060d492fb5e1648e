#include "app/monitor_app.h"

#include "app/monitor_dlg.h"
#include "app/restore_offer.h"
#include "app/single_instance.h"
#include "settings/list_accessibility.h"

#include <QTimer>

CMonitorApp theApp;

bool CMonitorApp::InitInstance()
{
    // Every list, the Save dialog's too, reads as its entry with its label.
    InstallListAccessibility();
    CMonitorDlg dlg(nullptr);
    if (m_pfnPrepareWindow)
        m_pfnPrepareWindow(dlg);
    CSingleInstance::Current().SetRaiseTarget(&dlg);
    // Once the window shows: a capture lost by a crash is offered back.
    QTimer::singleShot(0, &dlg, [&dlg] { CRestoreOffer::Run(dlg); });
    dlg.DoModal();
    CSingleInstance::Current().SetRaiseTarget(nullptr);
    return false;
}
