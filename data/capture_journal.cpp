#include "data/capture_journal.h"

#include "data/journal_format.h"
#include "platform/file_io.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);
// Flushed to stable storage at least this often while data arrives.
constexpr int64_t kSyncIntervalMs = 500;
// A journal the disk refused is tried again this often, until it takes data.
constexpr int64_t kRetryIntervalMs = 2000;
// Items copied per visit under the capture lock: half a megabyte at most,
// so the receive thread is never kept out for long.
constexpr int kMostPerTake = 512;

// Elapsed time only: the wall clock may step back or forward at any moment.
int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString WriteError()
{
    return QStringLiteral("the journal cannot be written: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
}

int64_t ThreadCpuNanos()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void RaiseTo(std::atomic<int64_t>& value, int64_t candidate)
{
    int64_t seen = value.load();
    while (candidate > seen && !value.compare_exchange_weak(seen, candidate)) {
    }
}

QByteArray Utf8Capped(const QString& text, qsizetype most)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() > most)
        bytes.truncate(most);
    return bytes;
}

} // namespace

CCaptureJournal::CCaptureJournal(Source source, QString folder) : m_source(source), m_folder(std::move(folder))
{
    m_thread = std::thread(&CCaptureJournal::Run, this);
}

CCaptureJournal::~CCaptureJournal()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wakeCv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CCaptureJournal::SetProblemHandler(ProblemHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_onProblem = std::move(handler);
}

void CCaptureJournal::SetSpillHandler(SpillHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_onSpill = std::move(handler);
}

void CCaptureJournal::SetOutOfMemoryHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mutex);
    m_onOutOfMemory = std::move(handler);
}

void CCaptureJournal::SetLine(const QString& portName, const PortSettings& line, int64_t startMicros)
{
    std::lock_guard lock(m_mutex);
    m_portName = portName;
    m_line = line;
    m_startMicros = startMicros;
}

void CCaptureJournal::SetFollowing(bool following)
{
    {
        std::lock_guard lock(m_mutex);
        m_following = following;
        m_wake = true;
    }
    m_wakeCv.notify_all();
}

void CCaptureJournal::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_wake = true;
    }
    m_wakeCv.notify_all();
}

void CCaptureJournal::Flush()
{
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable() || m_stop)
        return;
    const uint64_t ticket = ++m_flushRequested;
    m_wake = true;
    m_wakeCv.notify_all();
    m_doneCv.wait(lock, [&] { return m_flushServed >= ticket || m_stop; });
}

void CCaptureJournal::MarkSaved(uint64_t captureId, int64_t items)
{
    {
        std::lock_guard lock(m_mutex);
        m_savedMark = {captureId, items};
        m_wake = true;
    }
    m_wakeCv.notify_all();
}

void CCaptureJournal::Adopt(std::vector<CJournalFile> files, uint64_t captureId, int64_t items, const JournalSummary& read)
{
    {
        std::lock_guard lock(m_mutex);
        m_adoption = Adoption{std::move(files), captureId, items, read};
        m_wake = true;
    }
    m_wakeCv.notify_all();
}

void CCaptureJournal::StartAfter(uint64_t captureId, int64_t items)
{
    {
        std::lock_guard lock(m_mutex);
        m_startAfter = {captureId, items};
        m_wake = true;
    }
    m_wakeCv.notify_all();
}

void CCaptureJournal::RetireBefore(uint64_t captureId, int64_t item)
{
    {
        std::lock_guard lock(m_mutex);
        m_retireBefore = {captureId, item};
        m_wake = true;
    }
    m_wakeCv.notify_all();
}

void CCaptureJournal::SetSizeLimit(int64_t bytes, std::function<void()> onLimit)
{
    std::lock_guard lock(m_mutex);
    m_sizeLimit = bytes;
    m_onLimit = std::move(onLimit);
}

void CCaptureJournal::SetSegmentBytes(int64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_segmentBytes = bytes;
}

int CCaptureJournal::SegmentCount() const
{
    std::lock_guard lock(m_mutex);
    return m_segmentCount;
}

int64_t CCaptureJournal::SizeOnDisk() const
{
    std::lock_guard lock(m_mutex);
    return m_sizeOnDisk;
}

void CCaptureJournal::End()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_discard = true;
    }
    m_wakeCv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    RemoveAll();
    if (m_adoption)
        for (CJournalFile& file : m_adoption->files)
            file.Remove();
    m_adoption.reset();
}

QString CCaptureJournal::Path() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

CCaptureJournal::Stats CCaptureJournal::GetStats() const
{
    return {m_maxItemsBehind.load(), m_maxMicrosBehind.load(), m_cpuNanos.load(), m_maxLockMicros.load()};
}

void CCaptureJournal::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto woken = [&] { return m_stop || m_wake; };
        // A journal waiting to be tried again needs the clock, not a wake.
        if (m_following || m_failing)
            m_wakeCv.wait_for(lock, kPollInterval, woken);
        else
            m_wakeCv.wait(lock, woken);
        m_wake = false;
        const bool stop = m_stop;
        const bool discard = m_discard;
        const uint64_t ticket = m_flushRequested;
        // A stopped capture has no more data coming: flush what it left now.
        const bool syncNow = stop || !m_following || ticket > m_flushServed;
        lock.unlock();
        if (!discard) {
            // No exception may end the process from this thread: items that
            // found no memory to be copied stay untaken and are taken again
            // at the next turn.
            try {
                Turn(syncNow);
            } catch (const std::bad_alloc&) {
                std::function<void()> handler;
                {
                    std::lock_guard own(m_mutex);
                    handler = m_onOutOfMemory;
                }
                if (handler)
                    handler();
            }
        }
        m_cpuNanos = ThreadCpuNanos();
        lock.lock();
        m_flushServed = ticket;
        m_doneCv.notify_all();
        if (stop)
            break;
    }
}

void CCaptureJournal::Turn(bool syncNow)
{
    for (;;) {
        QByteArray& records = m_records;
        std::vector<qsizetype>& starts = m_starts;
        std::vector<int>& lengths = m_lengths;  // each record's recorded bytes
        records.resize(0);
        starts.clear();
        lengths.clear();
        std::optional<Adoption> adoption;
        QString prefix;
        bool restarted = false;
        bool caughtUp = true;
        // Items the list gave back before this journal took them (every
        // file has them): the journal goes on after them in a new segment.
        bool skipped = false;
        // A journal the disk refused rests until its retry, unless the
        // capture it holds is replaced.
        const bool resting = m_failing && NowMs() < m_retryAtMs;
        int64_t end = 0;
        {
            std::lock_guard capture(m_source.lock);
            const auto lockedAt = std::chrono::steady_clock::now();
            {
                std::lock_guard own(m_mutex);
                if (m_adoption) {
                    adoption = std::move(m_adoption);
                    m_adoption.reset();
                    m_follower.Seek(adoption->captureId, adoption->items);
                }
                if (m_startAfter && m_startAfter->first == m_source.captureId) {
                    m_follower.Seek(m_startAfter->first, m_startAfter->second);
                    skipped = true;
                }
                m_startAfter.reset();
            }
            if (resting && !adoption && m_source.captureId == m_follower.CaptureId())
                return;
            const int64_t size = m_source.items.GetSize();
            if (m_follower.CaptureId() == m_source.captureId && m_follower.Taken() < m_source.items.GetFirst()) {
                m_follower.Seek(m_source.captureId, m_source.items.GetFirst());
                skipped = true;
            }
            const CItemFollower before = m_follower;
            const CItemFollower::Batch batch = m_follower.Take(m_source.captureId, size, kMostPerTake);
            // Untaken again if the copy below finds no memory.
            struct Untake {
                CItemFollower& follower;
                const CItemFollower& before;
                bool done = false;
                ~Untake()
                {
                    if (!done)
                        follower = before;
                }
            } untake{m_follower, before};
            restarted = batch.restarted && !adoption;
            caughtUp = batch.end == size;
            end = batch.end;
            if (batch.end > batch.first) {
                RaiseTo(m_maxItemsBehind, size - batch.first);
                CDataItem scratch;
                RaiseTo(m_maxMicrosBehind,
                        CTime::GetCurrentMicros() - m_source.items.At(batch.first, scratch).GetTimeMicros());
                if (restarted || !m_file.IsOpen())
                    prefix = m_source.prefix;
            }
            // Copy only; the checks and the disk come after the lock.
            // Room for the usual record; a longer one grows the block.
            records.reserve(qsizetype(batch.end - batch.first) *
                            qsizetype(journal::kRecordHeadSize + journal::kItemFixedSize + journal::kRecordCrcSize + 16 + 1024));
            starts.reserve(size_t(batch.end - batch.first));
            lengths.reserve(size_t(batch.end - batch.first));
            CDataItem scratch;
            for (int64_t i = batch.first; i < batch.end; ++i) {
                const CDataItem& item = m_source.items.At(i, scratch);
                if (item.GetName() != m_lastName) {
                    m_lastName = item.GetName();
                    m_lastNameUtf8 = Utf8Capped(m_lastName, 0xFFFF);
                }
                const qsizetype start = journal::BeginRecord(records, journal::kItem);
                journal::PutU64(records, uint64_t(item.GetTimeMicros()));
                journal::PutU32(records, uint32_t(item.GetKind()));
                journal::PutU16(records, uint16_t(m_lastNameUtf8.size()));
                records.append(m_lastNameUtf8);
                records.append(reinterpret_cast<const char*>(item.GetData()), item.GetLength());
                journal::EndRecord(records, start);
                starts.push_back(start);
                lengths.push_back(item.GetLength());
            }
            RaiseTo(m_maxLockMicros, int64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - lockedAt)
                                          .count()));
            untake.done = true;
            m_takenItems = m_follower.Taken();
        }

        if (adoption) {
            RemoveAll();
            const JournalSummary& read = adoption->read;
            for (size_t i = 0; i + 1 < adoption->files.size(); ++i)
                m_closed.push_back(Closed{std::move(adoption->files[i]), {}, 0});
            if (!adoption->files.empty())
                m_file = std::move(adoption->files.back());
            m_failing = false;
            m_itemBase = read.EndItem() - adoption->items;
            m_segment = read.segment;
            m_prefix = read.header.prefix;
            m_written = m_synced = Mark{adoption->items, m_file.Offset(), read.bytesBefore + read.bytes};
            for (Closed& closed : m_closed)
                closed.size = closed.file.Size();
            // Without its file the restored items go into a new journal.
            if (!m_file.IsOpen()) {
                RemoveAll();
                m_written = m_synced = Mark{};
                m_follower.Seek(adoption->captureId, 0);
                caughtUp = false;
            } else {
                m_stem = m_file.Stem();
                m_reader = CJournalSegmentReader::Of(m_file.Fd());
            }
            m_savedInJournal = 0;  // the restored file holds its own mark
            PublishShape();
        }
        if (restarted) {
            // Clear Output: the user threw the capture away on purpose.
            RemoveAll();
            m_failing = false;
            m_dirty = false;
            m_written = m_synced = Mark{};
            m_savedInJournal = 0;
        }
        // The retry of a journal the disk refused: back to its last good
        // record, then on as usual with the items taken again.
        if (m_failing) {
            if (m_file.IsOpen() && !m_file.TruncateTo(m_written.offset)) {
                Fail(WriteError());
                return;
            }
            // The flush below tells the user once the disk has the data.
            m_failing = false;
            m_dirty = m_file.IsOpen();
        }
        const int64_t first = end - int64_t(starts.size());
        if (skipped) {
            // A segment holds items without a hole: the items after the ones
            // given back begin a new one.
            if (m_file.IsOpen() && !Roll(first))
                return;
            m_written.items = m_synced.items = first;
        }
        if (!records.isEmpty() && (m_file.IsOpen() || Start(prefix))) {
            for (const qsizetype start : starts)
                journal::SealRecord(records, start);
            // Written a segment at a time: a record that would begin past
            // the segment's size begins the next segment.
            const int64_t limit = SegmentLimit();
            qsizetype from = 0;
            int64_t bytes = m_written.bytes;
            size_t firstUnwritten = 0;
            // Where the file ends, asked of the system once per write rather
            // than once per record: a flood brings thousands of records a
            // turn.
            int64_t fileEnd = m_file.Offset();
            const auto writeUpTo = [&](size_t k) {
                const qsizetype at = k < starts.size() ? starts[k] : records.size();
                if (at > from) {
                    const int64_t base = fileEnd;
                    if (!Write(records.constData() + from, size_t(at - from))) {
                        Fail(WriteError());
                        return false;
                    }
                    // Where each record went, for the list once it is on disk;
                    // past 4 GiB (a large journal of the first version) the
                    // items stay in memory.
                    for (size_t j = firstUnwritten; j < k; ++j) {
                        const int64_t offset = base + (starts[j] - from);
                        if (offset > int64_t(UINT32_MAX))
                            break;
                        if (m_unsynced.empty())
                            m_unsyncedFirst = first + int64_t(j);
                        if (m_unsyncedFirst + int64_t(m_unsynced.size()) == first + int64_t(j))
                            m_unsynced.push_back(uint32_t(offset));
                    }
                    firstUnwritten = k;
                    fileEnd = m_file.Offset();
                    m_written = Mark{first + int64_t(k), fileEnd, bytes};
                    from = at;
                }
                return true;
            };
            for (size_t k = 0; k < starts.size(); ++k) {
                if (fileEnd + (starts[k] - from) >= limit) {
                    if (!writeUpTo(k) || !Roll(first + int64_t(k)))
                        return;
                    fileEnd = m_file.Offset();
                }
                bytes += lengths[k];
            }
            if (!writeUpTo(starts.size()))
                return;
            m_failing = false;
        }

        std::optional<std::pair<uint64_t, int64_t>> saved;
        {
            std::lock_guard own(m_mutex);
            if (m_savedMark && (m_savedMark->first != m_follower.CaptureId() || m_savedMark->second <= m_follower.Taken()))
                saved = std::exchange(m_savedMark, std::nullopt);
        }
        if (saved && saved->first == m_follower.CaptureId() && m_file.IsOpen() && !m_failing) {
            QByteArray mark;
            const qsizetype start = journal::BeginRecord(mark, journal::kSaved);
            journal::PutU64(mark, uint64_t(m_itemBase + saved->second));
            journal::EndRecord(mark, start);
            journal::SealRecord(mark, start);
            // Written again after a failure, since the retry may cut it away.
            m_savedInJournal = std::max(m_savedInJournal, saved->second);
            if (!Write(mark)) {
                Fail(WriteError());
                return;
            }
            m_written.offset = m_file.Offset();
            syncNow = true;
        }

        if (m_dirty && (syncNow || NowMs() - m_lastSyncMs >= kSyncIntervalMs))
            Sync();
        RetireSegments();
        if (m_failing || caughtUp)
            return;
    }
}

int64_t CCaptureJournal::SegmentLimit() const
{
    std::lock_guard own(m_mutex);
    // Under a size limit, segments small enough for the oldest to go while
    // the rest keep the journal near its limit.
    constexpr int64_t kSmallest = 64 << 10;
    return m_sizeLimit > 0 ? std::max(kSmallest, std::min(m_segmentBytes, m_sizeLimit / 4)) : m_segmentBytes;
}

bool CCaptureJournal::Roll(int64_t nextItem)
{
    // What the segment holds is on the disk before the next one begins, so
    // a segment after it never holds items that one lacks.
    if (m_dirty)
        Sync();
    if (m_failing)
        return false;
    const int64_t size = m_file.Offset();
    m_closed.push_back(Closed{std::move(m_file), m_written, size});
    m_dirty = false;
    m_written.items = nextItem;
    m_synced = m_written;
    PublishShape();
    return Start(m_prefix);
}

void CCaptureJournal::RetireSegments()
{
    std::pair<uint64_t, int64_t> retire;
    int64_t limit = 0;
    {
        std::lock_guard own(m_mutex);
        retire = m_retireBefore;
        limit = m_sizeLimit;
    }
    bool changed = false;
    while (!m_closed.empty() && retire.first == m_follower.CaptureId() && m_closed.front().end.items <= retire.second) {
        m_closed.front().file.Remove();
        m_closed.erase(m_closed.begin());
        changed = true;
    }
    bool beyondRetired = false;
    if (limit > 0) {
        int64_t total = std::max<int64_t>(0, m_file.Offset());
        for (const Closed& closed : m_closed)
            total += closed.size;
        while (total > limit && !m_closed.empty()) {
            beyondRetired = beyondRetired || retire.first != m_follower.CaptureId() ||
                            m_closed.front().end.items > retire.second;
            total -= m_closed.front().size;
            m_closed.front().file.Remove();
            m_closed.erase(m_closed.begin());
            changed = true;
        }
    }
    if (changed)
        PublishShape();
    if (beyondRetired) {
        std::function<void()> told;
        {
            std::lock_guard own(m_mutex);
            if (!m_limitTold)
                told = m_onLimit;
            m_limitTold = true;
        }
        if (told)
            told();
    }
}

void CCaptureJournal::RemoveAll()
{
    for (Closed& closed : m_closed)
        closed.file.Remove();
    m_closed.clear();
    m_file.Remove();
    m_stem.clear();
    m_segment = 0;
    m_itemBase = 0;
    m_reader.reset();
    m_unsynced.clear();
    PublishShape();
}

void CCaptureJournal::PublishShape()
{
    int64_t size = std::max<int64_t>(0, m_file.Offset());
    for (const Closed& closed : m_closed)
        size += closed.size;
    std::lock_guard own(m_mutex);
    m_path = m_file.Path();
    m_segmentCount = int(m_closed.size()) + (m_file.IsOpen() ? 1 : 0);
    m_sizeOnDisk = size;
}

bool CCaptureJournal::Start(const QString& prefix)
{
    QString error;
    const uint32_t segment = m_stem.isEmpty() ? 1 : m_segment + 1;
    CJournalFile file = m_stem.isEmpty() ? CJournalFile::Create(m_folder, &error)
                                         : CJournalFile::CreateSegment(m_stem, segment, &error);
    if (!file.IsOpen()) {
        Fail(error);
        return false;
    }
    QByteArray head = journal::FileHeader();
    qsizetype start = journal::BeginRecord(head, journal::kSegment);
    journal::PutU32(head, segment);
    journal::PutU64(head, uint64_t(m_itemBase + m_written.items));
    journal::PutU64(head, uint64_t(m_written.bytes));
    journal::EndRecord(head, start);
    journal::SealRecord(head, start);
    start = journal::BeginRecord(head, journal::kCaptureHeader);
    {
        std::lock_guard own(m_mutex);
        journal::PutU64(head, uint64_t(m_startMicros));
        head.append(reinterpret_cast<const char*>(&m_line), sizeof m_line);
        const QByteArray port = Utf8Capped(m_portName, 0xFFFF);
        journal::PutU16(head, uint16_t(port.size()));
        head.append(port);
    }
    const QByteArray text = Utf8Capped(prefix, journal::kMaxPayload / 2);
    journal::PutU32(head, uint32_t(text.size()));
    head.append(text);
    journal::EndRecord(head, start);
    journal::SealRecord(head, start);
    // Every segment says what was saved, so the newest alone tells an offer.
    if (m_savedInJournal > 0) {
        start = journal::BeginRecord(head, journal::kSaved);
        journal::PutU64(head, uint64_t(m_itemBase + m_savedInJournal));
        journal::EndRecord(head, start);
        journal::SealRecord(head, start);
    }

    // The header is on disk before the segment takes its name, and the
    // name is on disk before any item is counted as safe: after a power cut
    // a segment is never found without its header, nor flushed items
    // without a segment.
    m_file = std::move(file);
    bool done = Write(head) && platform::file_io::Fdatasync(m_file.Fd()) == 0;
    if (!done)
        error = WriteError();
    done = done && m_file.Publish(&error);
    if (done && platform::file_io::SyncFolder(QFile::encodeName(m_folder).constData()) != 0) {
        error = QStringLiteral("the folder %1 cannot be flushed to disk: %2")
                    .arg(m_folder, QString::fromLocal8Bit(std::strerror(errno)));
        done = false;
    }
    if (!done) {
        m_file.Remove();
        Fail(error);
        return false;
    }
    m_stem = m_file.Stem();
    m_segment = segment;
    m_prefix = prefix;
    m_reader = CJournalSegmentReader::Of(m_file.Fd());
    m_unsynced.clear();
    m_dirty = false;
    m_lastSyncMs = NowMs();
    m_written.offset = m_file.Offset();
    m_synced = m_written;
    PublishShape();
    return true;
}

bool CCaptureJournal::Write(const char* data, size_t length)
{
    size_t left = length;
    while (left > 0) {
        const ssize_t written = platform::file_io::Write(m_file.Fd(), data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        data += written;
        left -= size_t(written);
        m_dirty = true;
    }
    m_dirty = true;
    return true;
}

void CCaptureJournal::Sync()
{
    m_dirty = false;
    m_lastSyncMs = NowMs();
    if (!m_file.IsOpen() || m_failing)
        return;
    if (platform::file_io::Fdatasync(m_file.Fd()) != 0) {
        // What was written since the last flush may never reach the disk:
        // it is written again at the retry.
        const QString reason =
            QStringLiteral("the journal cannot be flushed to disk: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_written = m_synced;
        Fail(reason);
        return;
    }
    // Written into a file that someone removed, nothing would survive: a
    // new journal takes the whole capture at the retry.
    if (!m_file.IsLinked()) {
        const QString reason = QStringLiteral("the journal file %1 was removed").arg(m_file.Path());
        m_file.Close();
        PublishShape();
        Fail(reason);
        return;
    }
    m_synced = m_written;
    HandOverSynced();
    std::lock_guard own(m_mutex);
    if (m_reported && m_onProblem) {
        m_reported = false;
        m_onProblem(QString());
    }
}

void CCaptureJournal::HandOverSynced()
{
    if (m_unsynced.empty())
        return;
    SpillHandler handler;
    {
        std::lock_guard own(m_mutex);
        handler = m_onSpill;
    }
    if (handler && m_reader)
        handler(m_follower.CaptureId(), m_unsyncedFirst, m_unsynced, m_reader);
    m_unsynced.clear();
}

void CCaptureJournal::Fail(const QString& reason)
{
    // The file keeps what reached it up to the last good record; the items
    // after it are taken again and written at the retry, a few seconds on.
    // Without a segment being written they follow the last whole one.
    if (!m_file.IsOpen())
        m_written = m_synced = m_closed.empty() ? Mark{} : m_closed.back().end;
    m_unsynced.clear();  // written again at the retry
    m_follower.Seek(m_follower.CaptureId(), m_written.items);
    m_takenItems = m_written.items;
    m_failing = true;
    m_dirty = false;
    m_retryAtMs = NowMs() + kRetryIntervalMs;
    std::lock_guard own(m_mutex);
    if (m_savedInJournal > 0 && (!m_savedMark || m_savedMark->first != m_follower.CaptureId()))
        m_savedMark = {m_follower.CaptureId(), m_savedInJournal};
    if (!m_reported && m_onProblem)
        m_onProblem(reason);
    m_reported = true;
}
