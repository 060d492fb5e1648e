#pragma once
// The application object: runs the main window as a modal dialog.
#include <functional>

class CMonitorDlg;

class CMonitorApp {
public:
    // Constructs the main window with its settings loaded, runs it, destroys
    // it. Returns false, so no message loop of its own follows.
    bool InitInstance();

    // Run-only changes to the window once it is constructed (--demo selects
    // its port here).
    std::function<void(CMonitorDlg&)> m_pfnPrepareWindow;
};

extern CMonitorApp theApp;
