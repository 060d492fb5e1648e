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

void CCaptureJournal::Adopt(CJournalFile file, uint64_t captureId, int64_t items)
{
    {
        std::lock_guard lock(m_mutex);
        m_adoption = Adoption{std::move(file), captureId, items};
        m_wake = true;
    }
    m_wakeCv.notify_all();
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
    m_file.Remove();
    if (m_adoption)
        m_adoption->file.Remove();
    m_adoption.reset();
    std::lock_guard lock(m_mutex);
    m_path.clear();
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
        QByteArray records;
        std::vector<qsizetype> starts;
        std::optional<Adoption> adoption;
        QString prefix;
        bool restarted = false;
        bool caughtUp = true;
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
            }
            if (resting && !adoption && m_source.captureId == m_follower.CaptureId())
                return;
            const int64_t size = m_source.items.GetSize();
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
                RaiseTo(m_maxMicrosBehind,
                        CTime::GetCurrentMicros() - m_source.items.GetAt(batch.first).GetTimeMicros());
                if (restarted || !m_file.IsOpen())
                    prefix = m_source.prefix;
            }
            // Copy only; the checks and the disk come after the lock.
            qsizetype room = 0;
            for (int64_t i = batch.first; i < batch.end; ++i)
                room += qsizetype(journal::kRecordHeadSize + journal::kItemFixedSize + journal::kRecordCrcSize) + 16 +
                        m_source.items.GetAt(i).GetLength();
            records.reserve(room);
            starts.reserve(size_t(batch.end - batch.first));
            for (int64_t i = batch.first; i < batch.end; ++i) {
                const CDataItem& item = m_source.items.GetAt(i);
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
            }
            RaiseTo(m_maxLockMicros, int64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - lockedAt)
                                          .count()));
            untake.done = true;
        }

        if (adoption) {
            m_file.Remove();
            m_file = std::move(adoption->file);
            m_failing = false;
            m_written = m_synced = Mark{adoption->items, m_file.Offset()};
            // Without its file the restored items go into a new journal.
            if (!m_file.IsOpen()) {
                m_written = m_synced = Mark{};
                m_follower.Seek(adoption->captureId, 0);
                caughtUp = false;
            }
            m_savedInJournal = 0;  // the restored file holds its own mark
            std::lock_guard own(m_mutex);
            m_path = m_file.Path();
        }
        if (restarted) {
            // Clear Output: the user threw the capture away on purpose.
            m_file.Remove();
            m_failing = false;
            m_dirty = false;
            m_written = m_synced = Mark{};
            m_savedInJournal = 0;
            std::lock_guard own(m_mutex);
            m_path.clear();
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
        if (!records.isEmpty() && (m_file.IsOpen() || Start(prefix))) {
            for (const qsizetype start : starts)
                journal::SealRecord(records, start);
            if (Write(records)) {
                m_written = Mark{end, m_file.Offset()};
                m_failing = false;
            } else {
                Fail(WriteError());
                return;
            }
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
            journal::PutU64(mark, uint64_t(saved->second));
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
        if (m_failing || caughtUp)
            return;
    }
}

bool CCaptureJournal::Start(const QString& prefix)
{
    QString error;
    CJournalFile file = CJournalFile::Create(m_folder, &error);
    if (!file.IsOpen()) {
        Fail(error);
        return false;
    }
    QByteArray head = journal::FileHeader();
    const qsizetype start = journal::BeginRecord(head, journal::kCaptureHeader);
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

    // The header is on disk before the journal takes its name, and the
    // name is on disk before any item is counted as safe: after a power cut
    // a journal is never found without its header, nor flushed items
    // without a journal.
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
    m_dirty = false;
    m_lastSyncMs = NowMs();
    m_written = m_synced = Mark{0, m_file.Offset()};
    std::lock_guard own(m_mutex);
    m_path = m_file.Path();
    return true;
}

bool CCaptureJournal::Write(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
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
        {
            std::lock_guard own(m_mutex);
            m_path.clear();
        }
        Fail(reason);
        return;
    }
    m_synced = m_written;
    std::lock_guard own(m_mutex);
    if (m_reported && m_onProblem) {
        m_reported = false;
        m_onProblem(QString());
    }
}

void CCaptureJournal::Fail(const QString& reason)
{
    // The file keeps what reached it up to the last good record; the items
    // after it are taken again and written at the retry, a few seconds on.
    if (!m_file.IsOpen())
        m_written = m_synced = Mark{};
    m_follower.Seek(m_follower.CaptureId(), m_written.items);
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
