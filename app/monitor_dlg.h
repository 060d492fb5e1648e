#pragma once
// The main window: a view and a controller over a capture engine. It shows
// the engine's output text, its state on the command bar and the status
// line, and turns commands into the engine's operations; the message boxes
// are its own. The engine (capture/capture_engine.h) owns the port, the
// receive thread, the capture lock and the item list.
#include "capture/capture_engine.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

struct SaveFileAnswer;

class COutputView;
class CCommandBar;
class CStatusLine;
class QTimer;
class CFindBar;
class CTimeColumn;
class CGoToTime;
class COutputContextMenu;
class QMenu;

class CMonitorDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMonitorDlg(QWidget* pParent = nullptr);
    ~CMonitorDlg() override;

    // The capture this window shows and drives.
    CCaptureEngine& Engine() { return m_engine; }

    // Window life (app/monitor_dlg.cpp).
    int DoModal();                 // OnInitDialog, the modal loop, DestroyWindow
    int OnInitDialog();
    bool DestroyWindow();          // stops a capture, saves the settings, hides the window
    void DoDataExchange(bool bSaveAndValidate);
    bool UpdateData(bool bSaveAndValidate = true);
    bool IsInitialized() const { return m_bInitialized; }
    // Escape and the close button come here; with unsaved items closing
    // asks first (app/close_question.cpp).
    void reject() override;
    bool ConfirmClose();

    // Commands (app/commands.cpp, app/command_table.cpp).
    void OnCommand(int id);        // runs the handler bound to a command id
    void UpdateCommandState();
    bool EnableToolButton(int id, bool enable);
    bool PressToolButton(int id, bool press);
    int EnableMenuCommand(int id, bool enable);
    void OnBegin();
    void OnStop();
    void OnPause();
    void OnClearOutput();
    void OnSave();                 // app/save_capture.cpp
    void OnPortSetting();          // app/setting_commands.cpp
    void OnRecordSetting();
    void OnExit();
    void OnAbout();                // app/about_dlg.cpp
    bool OnHelpInfo(void* pHelpInfo);

    // Settings: the engine's four and the window's time column, stored at
    // the end of a run (app/monitor_dlg.cpp).
    void LoadSettings();
    void SaveSettings();

    // Save in two steps, so closing can stop the capture only once a file
    // was chosen: the file dialog, then the writing of the chosen file.
    SaveFileAnswer AskSaveFileName();
    void SaveTo(const SaveFileAnswer& answer);
    // Writes the whole capture to `path` in `format` on a worker thread while
    // the window answers; `opened` runs once the file could be created. A
    // failure is reported and an old file is kept as it was.
    void SaveAs(const QString& path, CaptureFormat format, const std::function<void()>& opened = {});
    // Items of the current capture that no successful Save has written.
    int64_t UnsavedItems() { return m_engine.UnsavedItems(); }
    // A Save is being written: the items must not change meanwhile.
    bool IsSaving() const { return m_bSaving; }

    // Called on the receive thread after it recorded an item; never waits.
    void NotifyOutputChanged();
    // Brings the output area up to date with the item list, now.
    void RefreshOutput();
    // The output area's text, for readers on any thread (Find).
    const COutputTextSource& OutputText() const { return m_engine.OutputText(); }
    // The time column beside the output area, Go to Time and the output
    // area's context menu (app/time_column.h, app/go_to_time.h,
    // app/output_context_menu.h); none before OnInitDialog.
    CTimeColumn* TimeColumn() const { return m_timeColumn; }
    CGoToTime* GoToTime() const { return m_goToTime; }
    COutputContextMenu* OutputMenu() const { return m_outputMenu; }

    // The window's parts, in declaration order.
    COutputView* m_editOutput = nullptr;
    QIcon m_hIcon;
    CCommandBar* m_wndCommandBar = nullptr;
    QMenu* m_pMenu = nullptr;
    // The time column's mode (data/item_time_format.h), kept in the
    // settings file as "TimeColumn".
    int32_t m_nTimeColumn = 0;
    bool m_bTimeColumnStored = false;  // the settings file holds it

private:
    void ShowProtection(const QString& problem);
    void ShowOutOfMemory(const QString& text);
    void CheckStoreSpace();
    void UpdateStatusLine();
    void ScheduleRefresh();       // RefreshOutput, at most every few milliseconds
    // Indexes the items recorded since the last catch-up for the output area,
    // for at most `maxMs` milliseconds (-1: all of them); true when all are.
    bool CatchUpOutput(qint64 maxMs);
    void CatchUpSome();           // the timer's catch-up: a slice, then again soon

    CCaptureEngine m_engine;
    bool m_bCloseConfirmed = false;  // the user chose to close without saving
    bool m_bSaving = false;          // a Save is being written; the items must not change
    bool m_bInitialized = false;
    bool m_bDestroyed = false;
    CStatusLine* m_status = nullptr;
    QTimer* m_diskCheck = nullptr;  // the journal's free space, every few seconds
    CFindBar* m_findBar = nullptr;       // under the output area, hidden until Ctrl+F
    std::atomic<bool> m_bRefreshPending{false};
    qint64 m_nLastRefreshMs = 0;         // when the output area last caught up
    CTimeColumn* m_timeColumn = nullptr;
    CGoToTime* m_goToTime = nullptr;
    COutputContextMenu* m_outputMenu = nullptr;
};
