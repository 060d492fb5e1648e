#pragma once
// The main window. It owns all run-time state: the output area, the command
// bar, the port and the receive thread, the capture start time, the pause
// flag, the capture lock, the four settings and the item list. The command
// handlers are defined in the folder of the subsystem they belong to.
#include "data/data_item_array.h"
#include "data/item_follower.h"
#include "data/item_times.h"
#include "data/output_text_index.h"
#include "data/output_text_source.h"
#include "platform/ctime.h"
#include "settings/port_settings.h"
#include "settings/record_settings.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class CCaptureJournal;
class COutputView;
class CCommandBar;
class CStatusLine;
class CFindBar;
class CPortReconnect;
class CTimeColumn;
class CGoToTime;
class COutputContextMenu;
class QMenu;
class QIODevice;
class SerialPort;

class CMonitorDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMonitorDlg(QWidget* pParent = nullptr);
    ~CMonitorDlg() override;

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
    void OnPause();
    void OnClearOutput();
    void OnExit();
    void OnAbout();                // app/about_dlg.cpp
    bool OnHelpInfo(void* pHelpInfo);

    // Capture engine (capture/).
    void OnBegin();
    void OnStop();
    bool OpenPort();
    bool ClosePort();
    void ConfigurePort();
    static uint32_t ReceiveThreadProc(CMonitorDlg* pDlg);
    int OnReceive();
    bool IsRecordTime();
    int32_t GetRecordPeriod();
    // On the user-interface thread, after the receive thread ended because
    // the port went away: closes the dead port and waits for the device to
    // come back; the capture goes on.
    void OnPortLost(int errorCode);
    // Opens the device at the path again after it was lost and records from
    // it into the same item list: 0, or the errno of a failed open.
    int ReopenPort(const QString& devicePath);
    // A capture whose device went away and is waited for.
    bool IsWaitingForPort() const;
    // The connection in words (waiting, how often the device was lost);
    // empty when there is nothing to say. For any status line.
    QString ConnectionState() const;
    void SignalListening();        // receive thread: the purge is done

    // Saving (data/).
    void OnSave();
    void WriteSendData(QIODevice& out);
    // Items of the current capture that no successful Save has written.
    int UnsavedItems();
    // After a successful Save of the first `items` items of `captureId`.
    void OnCaptureSaved(uint64_t captureId, int items);

    // Settings (settings/).
    void LoadSettings();
    void SaveSettings();
    void OnPortSetting();
    void OnRecordSetting();

    // The output area's text: m_strOutput (the text the program put there
    // itself, the welcome text until Clear Output) followed by "\r\nRec :"
    // and the rendering of every item. Writes the whole text to `out` as
    // UTF-8; false when a write failed.
    bool WriteOutputText(QIODevice& out);
    // Called by the receive thread after it recorded an item; never waits.
    void NotifyOutputChanged();
    // On the user-interface thread: brings the output area up to date with
    // the item list, now.
    void RefreshOutput();
    // The output area's text, for readers on any thread (Find).
    const COutputTextSource& OutputText() const { return m_outputText; }
    // The time column beside the output area, Go to Time and the output
    // area's context menu (app/time_column.h, app/go_to_time.h,
    // app/output_context_menu.h); none before OnInitDialog.
    CTimeColumn* TimeColumn() const { return m_timeColumn; }
    CGoToTime* GoToTime() const { return m_goToTime; }
    COutputContextMenu* OutputMenu() const { return m_outputMenu; }

    // Members, in declaration order.
    COutputView* m_editOutput = nullptr;
    QString m_strOutput;
    QIcon m_hIcon;
    CTime m_timeStart;
    SerialPort* m_hPort = nullptr;
    std::thread m_hThread;
    std::atomic<bool> m_bListening{false};  // the receive thread has purged and waits for data
    std::mutex m_csCapture;
    PortSettings m_portSettings{};
    QString m_strPortName;
    int32_t m_nShowFormat = 0;
    std::atomic<uint8_t> m_bPaused{0};
    CCommandBar* m_wndCommandBar = nullptr;
    QMenu* m_pMenu = nullptr;
    CDataItemArray m_items;
    // Which capture the item list holds: Clear Output starts a new one, and
    // every follower of the list (data/item_follower.h) starts over. Guarded
    // by the capture lock.
    uint64_t m_nCaptureId = 0;
    RecordSettings m_recordSettings{};
    // Waits for a lost device and reopens it (capture/port_reconnect.h).
    CPortReconnect* m_pReconnect = nullptr;
    // The capture journal on disk (data/capture_journal.h), which follows
    // the item list from the constructor on.
    std::unique_ptr<CCaptureJournal> m_journal;
    uint64_t m_nSavedCaptureId = 0;  // the capture and the items the last Save wrote
    int m_nSavedItems = 0;
    // The time column's mode (data/item_time_format.h), kept in the
    // settings file as "TimeColumn".
    int32_t m_nTimeColumn = 0;
    bool m_bTimeColumnStored = false;  // the settings file holds it

signals:
    // The running capture's port went away. Emitted as OnPortLost begins,
    // before it acts, so a capture without a window can end instead.
    void portLost(int errorCode);

private:
    void ShowProtection(const QString& problem);
    bool m_bCloseConfirmed = false;  // the user chose to close without saving
    void UpdateStatusLine();
    void ScheduleRefresh();       // RefreshOutput, at most every few milliseconds
    // Indexes the items recorded since the last catch-up for the output area,
    // for at most `maxMs` milliseconds (-1: all of them); true when all are.
    bool CatchUpOutput(qint64 maxMs);
    void CatchUpSome();           // the timer's catch-up: a slice, then again soon
    bool m_bInitialized = false;
    bool m_bDestroyed = false;
    CStatusLine* m_status = nullptr;
    CFindBar* m_findBar = nullptr;       // under the output area, hidden until Ctrl+F
    int m_nShownItems = 0;               // items the output area shows already
    qint64 m_nShownBytes = 0;            // the bytes those items hold
    std::atomic<bool> m_bRefreshPending{false};
    qint64 m_nLastRefreshMs = 0;         // when the output area last caught up
    COutputTextIndex m_outputIndex;      // where the output area's lines start
    COutputTextSource m_outputText{m_csCapture, m_strOutput, m_items, m_nCaptureId, m_outputIndex};
    CItemFollower m_viewFollower;        // the items the output area has indexed
    CItemTimes m_itemTimes{m_csCapture, m_items, m_nCaptureId};  // their times, beside the index
    CTimeColumn* m_timeColumn = nullptr;
    CGoToTime* m_goToTime = nullptr;
    COutputContextMenu* m_outputMenu = nullptr;
};
