#pragma once
// The main window. It owns all run-time state: the output area, the command
// bar, the port and the receive thread, the capture start time, the pause
// flag, the capture lock, the four settings and the item list. The command
// handlers are defined in the folder of the subsystem they belong to.
#include "data/data_item_array.h"
#include "platform/ctime.h"
#include "settings/port_settings.h"
#include "settings/record_settings.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class COutputView;
class CCommandBar;
class CStatusLine;
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
    // the port went away: closes the capture and tells the user.
    void OnPortLost(int errorCode);
    void SignalListening();        // receive thread: the purge is done

    // Saving (data/).
    void OnSave();
    void WriteSendData(QIODevice& out);

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

signals:
    // The running capture's port went away. Emitted as OnPortLost begins,
    // before it acts, so a capture without a window can end instead.
    void portLost(int errorCode);

private:
    void UpdateStatusLine();
    void ScheduleRefresh();       // RefreshOutput, at most every few milliseconds
    int TailStart(int shown, qint64 maxChars) const;
    bool m_bInitialized = false;
    bool m_bDestroyed = false;
    CStatusLine* m_status = nullptr;
    int m_nShownItems = 0;               // items the output area shows already
    qint64 m_nShownBytes = 0;            // the bytes those items hold
    std::atomic<bool> m_bRefreshPending{false};
    qint64 m_nLastRefreshMs = 0;         // when the output area last caught up
};
