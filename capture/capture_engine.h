#pragma once
// The capture engine: the port, the receive thread, the recording gate, the
// waiting for a lost device, the capture lock and what it guards (the item
// list, its capture id and the text before the first item), and the item
// list's followers (the journal, the output area's index). It needs Qt Core
// and an event loop only; it never shows anything and never sleeps on the
// thread that drives it. The window and the command line are its two faces:
// they call it and listen to its signals.
//
// Threads: the engine object lives on the thread that drives it (the
// user-interface thread). The receive thread runs ReceiveThreadProc and
// OnReceive; it takes the capture lock only to record a chunk and waits for
// nothing but the port. Followers take new items under the capture lock and
// do their slow work outside it.
#include "data/capture_formats.h"
#include "data/data_item_array.h"
#include "data/item_follower.h"
#include "data/item_times.h"
#include "data/journal_file.h"
#include "data/output_text_index.h"
#include "data/output_text_source.h"
#include "platform/ctime.h"
#include "settings/port_settings.h"
#include "settings/record_settings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CCaptureJournal;
class CPortReconnect;
class CStreamedCaptureFile;
class QIODevice;
class SerialPort;
struct COMMTIMEOUTS;

class CCaptureEngine : public QObject {
    Q_OBJECT
public:
    explicit CCaptureEngine(QObject* parent = nullptr);
    ~CCaptureEngine() override;
    CCaptureEngine(const CCaptureEngine&) = delete;
    CCaptureEngine& operator=(const CCaptureEngine&) = delete;

    // The four settings, from and to the settings file
    // (settings/settings_persistence.cpp). The constructor loads them.
    void LoadSettings();
    void SaveSettings();

    // Begin: opens the port, configures its line and starts the receive
    // thread, which lets the line settle and purges it before it records.
    // Returns at once; false when the port cannot be opened (then
    // LastOpenError and openFailed tell why). A line the port refuses does
    // not stop the capture: lineRefused says which.
    bool OpenPort();
    // Stop: ends the receive thread and the waiting for a lost device, and
    // closes the port. Returns at once once the thread has ended.
    bool ClosePort();
    // Applies the line settings to the open port: the refusal in words, or
    // an empty text.
    QString ConfigurePort();

    // The receive thread (capture/receive_thread.cpp).
    static uint32_t ReceiveThreadProc(CCaptureEngine* pEngine);
    // Reads one chunk (at most 1 KiB) without the capture lock and records
    // it under the lock if the gate lets it through; a read that finds
    // nothing records nothing. Its result is the read's; `pRead` gets the
    // bytes read.
    int OnReceive(uint32_t* pRead = nullptr);
    // For tests: while set, the read too is under the capture lock, so a
    // test that holds the lock keeps the receive thread from reading and
    // can let bytes pile up in the port to be read at once. The receive
    // thread takes it up between reads and says so in m_bReadingUnderLock;
    // meanwhile its reads never wait, and it waits for the port's event
    // before them instead.
    std::atomic<bool> m_bReadUnderLock{false};
    std::atomic<bool> m_bReadingUnderLock{false};
    // Switches the receive thread's reads; returns the mode it is in now.
    bool SetReadsUnderLock(bool underLock, const COMMTIMEOUTS& waitingReads);
    static bool ReadUnderLock(CCaptureEngine* pEngine, SerialPort* port);
    // The recording gate (capture/recording_gate.cpp).
    bool IsRecordTime();
    int32_t GetRecordPeriod();

    // After the receive thread ended because the port went away: closes the
    // dead port and waits for the device to come back; the capture goes on.
    void OnPortLost(int errorCode);
    // Opens the device again after a loss, configures it at once and
    // records from its first byte into the same item list: 0, or the errno
    // of a failed open.
    int ReopenPort(const QString& devicePath);

    // A port is open, or a lost one is waited for.
    bool IsCapturing() const { return m_hPort != nullptr || IsWaitingForPort(); }
    bool IsPortOpen() const { return m_hPort != nullptr; }
    bool HasReceiveThread() const { return m_hThread.joinable(); }
    SerialPort* Port() const { return m_hPort; }
    // The receive thread has purged the port and records every byte from now.
    bool IsListening() const { return m_bListening; }
    bool IsWaitingForPort() const;
    // The connection in words (waiting, how often the device was lost);
    // empty when there is nothing to say.
    QString ConnectionState() const;
    CPortReconnect& Reconnect() { return *m_pReconnect; }
    // The errno and the message of the last failed Begin (0 and empty after
    // a good one).
    int LastOpenError() const { return m_nOpenError; }
    QString LastOpenErrorText() const { return m_strOpenError; }

    // An allocation failed while recording, on any thread that takes part
    // in the capture: the capture stops (on the thread that drives the
    // engine, queued) and outOfMemory says so once, with every item
    // recorded before kept. Safe on any thread; never waits.
    void NoteOutOfMemory();
    // The same stop, for a chunk that would take the items in memory past
    // their budget: the journal cannot take them fast enough, or at all.
    void NoteMemoryBudgetFull();
    bool RanOutOfMemory() const { return m_bOutOfMemory; }
    // The most memory the items not yet on disk may take, from the next
    // Begin on; 0 (the default) for a quarter of the memory available then.
    void SetMemoryBudget(int64_t bytes) { m_nMemoryBudget = bytes; }

    // The longest the receive thread waited for the capture lock since the
    // last reset, in microseconds: what every other holder of the lock
    // costs it.
    int64_t MaxLockWaitMicros() const { return m_nMaxLockWaitMicros; }
    void ResetLockWait() { m_nMaxLockWaitMicros = 0; }

    void SetPaused(bool paused) { m_bPaused = paused ? 1 : 0; }
    bool IsPaused() const { return m_bPaused != 0; }

    // Clear Output: a new capture id and no items. The old items are freed
    // outside the capture lock.
    void ClearOutput();

    // Items of the current capture that no successful Save has written.
    int64_t UnsavedItems();
    // After a successful Save of the first `items` items of `captureId`.
    void OnCaptureSaved(uint64_t captureId, int64_t items);
    // The capture is over for good (saved or discarded): the journal goes.
    void EndJournal();
    CCaptureJournal& Journal() { return *m_journal; }

    // A journal left by an earlier run becomes the capture: its items, read
    // outside the capture lock (`progress` hears of the bytes read), take
    // the place of the list's, and the journal goes on in its last segment.
    // The summary says what was read (damage is kept aside, and a new
    // journal holds the good items).
    JournalSummary RestoreJournal(AbandonedJournal& journal, const AbandonedJournal::Progress& progress = {});
    // Without a window, before Begin: the items of `journals` (earlier runs
    // of this port) that their files did not have yet become the first
    // items, for the files to write first; each journal is removed once the
    // files have its items on disk. Returns how many items that is.
    int64_t TakeOverJournals(std::vector<AbandonedJournal> journals);
    // Without a window: the items every streamed file has on disk leave the
    // list, and the journal's segments that hold only such items go.
    void ReleaseWrittenItems();
    int64_t ReleasedItems() const { return m_nReleasedItems; }
    // The path of a streamed file that cannot be synced to a disk ("-" for
    // standard output), or empty.
    QString UnsyncableFile() const;

    // Writes the capture as it is now in `format` (data/capture_formats.h,
    // the same bytes as the streamed files). Safe on any thread: it copies
    // the items in small batches under the capture lock and formats and
    // writes them outside it. `cancel`, when given, is looked at between
    // batches; `progress` is told the items written and their total after
    // every batch, on the writing thread.
    enum class WriteResult { Written, Failed, Cancelled };
    using WriteProgress = std::function<void(int64_t written, int64_t total)>;
    WriteResult WriteCapture(CaptureFormat format, QIODevice& out, const std::atomic<bool>* cancel = nullptr,
                             const WriteProgress& progress = {});
    // The output area's text (m_strOutput, then "\r\nRec :" and every
    // item's rendering) as UTF-8, or Send Data, one line per item; false
    // when a write failed.
    bool WriteOutputText(QIODevice& out) { return WriteCapture(CaptureFormat::SerialLog, out) == WriteResult::Written; }
    bool WriteSendData(QIODevice& out) { return WriteCapture(CaptureFormat::SendData, out) == WriteResult::Written; }

    // The streamed files (capture/streamed_files.cpp) follow the item list
    // and hold what Save would write. WriteToStreamedFiles writes the items
    // recorded since its last call to every file; FlushStreamedFiles
    // writes what they hold, with `sync` onto the disk. Both on the thread
    // that drives the engine; false when a file failed (StreamedFileError
    // says why, in one line). A failing file keeps what it was given and
    // is retried at every call; TakeStreamedFileNews gives, once each, the
    // lines that say a file started failing or is written again.
    void AddStreamedFile(std::unique_ptr<CStreamedCaptureFile> file);
    bool WriteToStreamedFiles();
    bool FlushStreamedFiles(bool sync);
    QString StreamedFileError() const { return m_strFileError; }
    QStringList TakeStreamedFileNews();
    int64_t StreamedItems() const { return m_nFileItems; }  // items written to the files
    int64_t StreamedBytes() const { return m_nFileBytes; }  // the recorded bytes they hold

    // The output area's index follows the item list. Indexes items recorded
    // since the last call for at most `maxMs` milliseconds (-1: all).
    struct IndexProgress {
        bool restarted = false;  // the text started over (Clear Output, a restore)
        bool grew = false;
        bool done = false;       // every item recorded is indexed
        int64_t items = 0;       // items indexed
        qint64 bytes = 0;        // the bytes they hold
    };
    IndexProgress CatchUpOutputIndex(qint64 maxMs);
    // The index starts over from the first item.
    void RestartOutputIndex();
    const COutputTextIndex& OutputIndex() const { return m_outputIndex; }
    // The times of the items the index holds, kept beside it (the time
    // column, Go to Time).
    CItemTimes& ItemTimes() { return m_itemTimes; }
    // The output area's text, for readers on any thread (Find).
    const COutputTextSource& OutputText() const { return m_outputText; }

    // The capture lock and what it guards. Read or change them only under
    // the lock while a capture runs.
    std::mutex m_csCapture;
    CDataItemArray m_items;
    // Which capture the item list holds: Clear Output starts a new one, and
    // every follower (data/item_follower.h) starts over.
    uint64_t m_nCaptureId = 0;
    // The text before the first item (the welcome text, until Clear Output).
    QString m_strOutput;
    uint64_t m_nSavedCaptureId = 0;  // the capture and the items the last Save wrote
    int64_t m_nSavedItems = 0;

    // The settings of the next Begin; they do not change while a port is open.
    QString m_strPortName;
    PortSettings m_portSettings{};
    RecordSettings m_recordSettings{};
    int32_t m_nShowFormat = 0;
    // Read by the recording gate on the receive thread.
    std::atomic<uint8_t> m_bPaused{0};
    // Begin's time: the recording windows count from it.
    CTime m_timeStart;

signals:
    // A chunk was recorded. Emitted on the receive thread; connect with a
    // direct connection to something that never waits.
    void itemsRecorded();
    // The receive thread has let the line settle and purged it: from now on
    // every byte is recorded. Emitted on the receive thread.
    void listening();
    // The running capture's port went away. Emitted before the engine acts,
    // so a face that ends the capture on a loss can do so.
    void portLost(int errorCode);
    // The lost device is waited for; it is back and recording again.
    void waiting();
    void back();
    // The connection's description changed (ConnectionState).
    void connectionChanged();
    // The capture stopped being protected on disk (the reason), or is again
    // (empty). For a status line.
    void problem(const QString& text);
    // Begin could not open the port: its errno and the message for the user.
    void openFailed(int error, const QString& text);
    // The port refused the line settings or time-outs.
    void lineRefused(const QString& text);
    // The capture stopped because memory ran out: the message for the user.
    // Emitted on the thread that drives the engine, after the receive
    // thread has ended.
    void outOfMemory(const QString& text);

private:
    int StartReceiveThread(bool settleAndPurge);
    bool ReleasePort();
    void SignalListening();
    void NoteLockWait(std::chrono::steady_clock::duration waited);
    void StopForMemory();
    void RenewMemoryReserve();
    void SetBudgetForBegin();
    static uint32_t ReceiveLoop(CCaptureEngine* pEngine);

    SerialPort* m_hPort = nullptr;
    std::thread m_hThread;
    // Whether the next receive thread lets the line settle and purges it
    // (Begin) or records from the first byte (a device that came back).
    bool m_bSettleAndPurge = true;
    std::atomic<bool> m_bListening{false};
    std::atomic<int64_t> m_nMaxLockWaitMicros{0};  // written by the receive thread only
    std::atomic<bool> m_bOutOfMemory{false};
    std::atomic<bool> m_bBudgetFull{false};  // the stop is for the budget, not a failed allocation
    int64_t m_nMemoryBudget = 0;
    // Address space given back when memory runs out, so that the stop, its
    // message and the followers' last batches can still be allocated.
    std::unique_ptr<char[]> m_pMemoryReserve;
    int m_nOpenError = 0;
    QString m_strOpenError;
    CPortReconnect* m_pReconnect = nullptr;
    std::unique_ptr<CCaptureJournal> m_journal;
    std::vector<std::unique_ptr<CStreamedCaptureFile>> m_files;
    CItemFollower m_fileFollower;
    // The items copied for the files, kept between visits so that each
    // slot's bytes are reused instead of allocated for every item.
    std::vector<CDataItem> m_fileBatch;
    QString m_strFileError;
    std::vector<bool> m_fileFailing;  // per file: its last flush failed
    QStringList m_fileNews;           // file failures and recoveries not yet told
    int64_t m_nFileItems = 0;
    int64_t m_nFileBytes = 0;
    int64_t m_nReleasedItems = 0;  // items every file has on disk
    struct Orphan {
        AbandonedJournal journal;
        bool damaged = false;
    };
    std::vector<Orphan> m_orphans;  // journals of earlier runs the files are taking over
    int64_t m_nOrphanItems = 0;
    COutputTextIndex m_outputIndex;
    CItemFollower m_indexFollower;
    qint64 m_nIndexedBytes = 0;  // the bytes of the items indexed
    COutputTextSource m_outputText{m_csCapture, m_strOutput, m_items, m_nCaptureId, m_outputIndex};
    CItemTimes m_itemTimes{m_csCapture, m_items, m_nCaptureId};
};
