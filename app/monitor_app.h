#pragma once
// The application object: runs the main window as a modal dialog.
class CMonitorApp {
public:
    // Constructs the main window with its settings loaded, runs it, destroys
    // it. Returns false, so no message loop of its own follows.
    bool InitInstance();
};

extern CMonitorApp theApp;
