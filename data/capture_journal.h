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
// A journal starts at the first item of a capture, as a series of segment
// files: once a segment reaches its size the next one begins, so the space
// of items no longer needed (a capture without a window keeps only what its
// files do not have on disk yet) is given back a segment at a time. Clear
// Output (a new capture id) removes it; a Save marks it saved up to its
// last item. A
// journal that cannot be written does not stop the capture: the problem is
// reported once, the capture goes on in memory, and the journal is tried
// again every few seconds; once the disk takes data again it catches up
// with every item, and says so with an empty report.
#include "data/data_item_array.h"
#include "data/item_follower.h"
#include "data/journal_file.h"
#include "data/journal_segment_reader.h"
#include "settings/port_settings.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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
    // Called on the writer's thread, without a lock, once items are on disk
    // (written and flushed): the items of capture `captureId` from `first`
    // on have their records at `offsets` in `segment`, so the list can give
    // their memory back.
    using SpillHandler = std::function<void(uint64_t captureId, int64_t first, const std::vector<uint32_t>& offsets,
                                            const std::shared_ptr<const CJournalSegmentReader>& segment)>;
    void SetSpillHandler(SpillHandler handler);
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
    // With the capture lock held, after restoring `items` items of the
    // journal in `files` (what `read` says of it) as capture `captureId`:
    // the journal goes on in its last segment.
    void Adopt(std::vector<CJournalFile> files, uint64_t captureId, int64_t items, const JournalSummary& read);
    // With the capture lock held, when the first `items` items of capture
    // `captureId` are kept elsewhere (the journals they were restored from):
    // the journal starts after them.
    void StartAfter(uint64_t captureId, int64_t items);

    // The segments that hold only items before `item` of capture
    // `captureId` are removed (every file has those items on disk).
    void RetireBefore(uint64_t captureId, int64_t item);
    // The journal's files together stay under `bytes` (0: no limit), the
    // oldest segments going first; `onLimit` is called once, on the
    // writer's thread, when that removes items not retired.
    void SetSizeLimit(int64_t bytes, std::function<void()> onLimit = {});
    // A new segment begins once the current one is this large.
    void SetSegmentBytes(int64_t bytes);
    static constexpr int64_t kDefaultSegmentBytes = 32 << 20;
    // Under the capture lock: the items taken so far (a list may give back
    // the items before it once the journal and every file have them).
    int64_t TakenItems() const { return m_takenItems.load(); }
    // The capture is over for good (saved, or discarded by the user): stops
    // the writer and removes the journal.
    void End();

    QString Path() const;  // the segment being written, or empty
    // The journal's segments on disk now and their size together.
    int SegmentCount() const;
    int64_t SizeOnDisk() const;
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
        std::vector<CJournalFile> files;
        uint64_t captureId;
        int64_t items;
        JournalSummary read;
    };
    void Run();
    void Turn(bool syncNow);
    bool Start(const QString& prefix);
    // Closes the segment being written and starts the next one at `nextItem`.
    bool Roll(int64_t nextItem);
    bool Write(const QByteArray& bytes) { return Write(bytes.constData(), size_t(bytes.size())); }
    bool Write(const char* data, size_t length);
    void Sync();
    void Fail(const QString& reason);
    void RetireSegments();
    void RemoveAll();
    int64_t SegmentLimit() const;
    void PublishShape();
    void HandOverSynced();

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
    std::optional<std::pair<uint64_t, int64_t>> m_startAfter;
    std::pair<uint64_t, int64_t> m_retireBefore{0, 0};
    int64_t m_sizeLimit = 0;
    std::function<void()> m_onLimit;
    bool m_limitTold = false;
    int64_t m_segmentBytes = kDefaultSegmentBytes;
    int m_segmentCount = 0;
    int64_t m_sizeOnDisk = 0;
    ProblemHandler m_onProblem;
    SpillHandler m_onSpill;
    std::function<void()> m_onOutOfMemory;
    QString m_path;

    // The writer thread's own.
    CItemFollower m_follower;
    // A place in the journal: the items of the capture before it, where it
    // is in the segment being written, and the recorded bytes the journal
    // holds before it.
    struct Mark {
        int64_t items = 0;
        int64_t offset = 0;
        int64_t bytes = 0;
    };
    // A segment before the one being written.
    struct Closed {
        CJournalFile file;
        Mark end;
        int64_t size = 0;
    };
    std::vector<Closed> m_closed;  // oldest first
    CJournalFile m_file;           // the segment being written
    QString m_stem;                // the series' name, once it has a segment
    uint32_t m_segment = 0;        // the number of the newest segment
    int64_t m_itemBase = 0;        // the journal's number of the list's first item
    QString m_prefix;              // for the header of every segment
    // The segment being written, for the list to read items back from, and
    // the records written to it since the last flush (from which item).
    std::shared_ptr<const CJournalSegmentReader> m_reader;
    std::vector<uint32_t> m_unsynced;
    int64_t m_unsyncedFirst = 0;
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
    // A turn's records, their starts and their chunks' lengths: kept from
    // turn to turn, so that a steady capture reuses the same memory.
    QByteArray m_records;
    std::vector<qsizetype> m_starts;
    std::vector<int> m_lengths;

    std::atomic<int64_t> m_takenItems{0};
    std::atomic<int64_t> m_maxItemsBehind{0};
    std::atomic<int64_t> m_maxMicrosBehind{0};
    std::atomic<int64_t> m_cpuNanos{0};
    std::atomic<int64_t> m_maxLockMicros{0};

    std::thread m_thread;
};
