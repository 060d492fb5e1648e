#pragma once
// The capture journal's writer: a follower of the item list with a thread of
// its own that appends every recorded item to a journal file on disk, so a
// crash, a kill or a power cut loses nothing recorded more than a moment
// ago. While a capture runs it looks for new items every 100 ms, copies them
// under the capture lock and writes them outside it; it flushes them to
// stable storage at least twice a second while data arrives. The receive
// thread never waits for it: when the disk is slow the writer falls behind
// and catches up.
//
// A journal starts at the first item of a capture. Clear Output (a new
// capture id) removes it; a Save marks it saved up to its last item. A
// journal that cannot be written does not stop the capture: the problem is
// reported once, the capture goes on in memory, and the journal is tried
// again every few seconds; once the disk takes data again it catches up
// with every item, and says so with an empty report.
#include "data/data_item_array.h"
#include "data/item_follower.h"
#include "data/journal_file.h"
#include "settings/port_settings.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class CCaptureJournal {
public:
    // What the journal follows: the capture lock and what it guards.
    struct Source {
        std::mutex& lock;
        const CDataItemArray& items;
        const uint64_t& captureId;
        const QString& prefix;  // the output area's text before the first entry
    };
    // Called on the writer's thread when the capture stops being protected
    // (with the reason), and with an empty text when a later journal works.
    using ProblemHandler = std::function<void(const QString& problem)>;

    explicit CCaptureJournal(Source source, QString folder = JournalFolder());
    // Writes what is still missing, then closes; the journal stays on disk.
    ~CCaptureJournal();
    CCaptureJournal(const CCaptureJournal&) = delete;
    CCaptureJournal& operator=(const CCaptureJournal&) = delete;

    void SetProblemHandler(ProblemHandler handler);
    // Called on the writer's thread when copying the new items found no
    // memory; the items are taken again at the next visit.
    void SetOutOfMemoryHandler(std::function<void()> handler);
    // The port and line of the capture, for the header of its journal.
    void SetLine(const QString& portName, const PortSettings& line, int64_t startMicros);
    // While a capture runs, new items are looked for every 100 ms;
    // otherwise only when woken.
    void SetFollowing(bool following);
    void Wake();
    // Returns once every item recorded before the call is written and
    // flushed to stable storage (or cannot be).
    void Flush();
    // After a successful Save of the first `items` items of `captureId`.
    void MarkSaved(uint64_t captureId, int64_t items);
    // With the capture lock held, after restoring `items` items from `file`
    // as capture `captureId`: the journal goes on in that file.
    void Adopt(CJournalFile file, uint64_t captureId, int64_t items);
    // The capture is over for good (saved, or discarded by the user): stops
    // the writer and removes the journal.
    void End();

    QString Path() const;  // the journal being written, or empty
    const QString& Folder() const { return m_folder; }

    struct Stats {
        int64_t maxItemsBehind = 0;   // items recorded but not yet taken, worst case
        int64_t maxMicrosBehind = 0;  // age of the oldest item not yet taken, worst case
        int64_t cpuNanos = 0;         // the writer thread's processor time
        int64_t maxLockMicros = 0;    // the longest the writer held the capture lock
    };
    Stats GetStats() const;

private:
    struct Adoption {
        CJournalFile file;
        uint64_t captureId;
        int64_t items;
    };
    void Run();
    void Turn(bool syncNow);
    bool Start(const QString& prefix);
    bool Write(const QByteArray& bytes);
    void Sync();
    void Fail(const QString& reason);

    Source m_source;
    const QString m_folder;

    // Guarded by m_mutex (taken after the capture lock, never before it).
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeCv;
    std::condition_variable m_doneCv;
    bool m_following = false;
    bool m_wake = false;
    bool m_stop = false;
    bool m_discard = false;
    uint64_t m_flushRequested = 0;
    uint64_t m_flushServed = 0;
    QString m_portName;
    PortSettings m_line{};
    int64_t m_startMicros = 0;
    std::optional<std::pair<uint64_t, int64_t>> m_savedMark;
    std::optional<Adoption> m_adoption;
    ProblemHandler m_onProblem;
    std::function<void()> m_onOutOfMemory;
    QString m_path;

    // The writer thread's own.
    CItemFollower m_follower;
    // A place in the journal file: the items of the capture before it.
    struct Mark {
        int64_t items = 0;
        int64_t offset = 0;
    };
    CJournalFile m_file;
    bool m_failing = false;    // the disk refused; waiting for the retry
    int64_t m_retryAtMs = 0;   // when, on the steady clock
    Mark m_written;            // the end of the last whole record written
    Mark m_synced;             // the end of what the last flush put on disk
    int64_t m_savedInJournal = 0;  // the Save mark the file must hold
    bool m_reported = false;   // a problem was reported and not yet cleared
    bool m_dirty = false;      // written since the last flush to storage
    int64_t m_lastSyncMs = 0;
    QString m_lastName;
    QByteArray m_lastNameUtf8;

    std::atomic<int64_t> m_maxItemsBehind{0};
    std::atomic<int64_t> m_maxMicrosBehind{0};
    std::atomic<int64_t> m_cpuNanos{0};
    std::atomic<int64_t> m_maxLockMicros{0};

    std::thread m_thread;
};
