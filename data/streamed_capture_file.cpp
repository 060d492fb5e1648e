#include "data/streamed_capture_file.h"

#include "platform/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Pending bytes are written out once they reach this much, so a flood
// between two flushes never piles up in memory.
constexpr qsizetype kWriteChunk = 1 << 16;
// What was written reaches the disk at least this often, so a power cut
// takes at most about a second of it.
constexpr int64_t kSyncIntervalMs = 1000;

// Writes as much as the disk takes; `done` says how much that was.
bool WriteAll(int fd, const char* data, qsizetype length, qsizetype& done)
{
    done = 0;
    while (done < length) {
        const ssize_t written = platform::file_io::Write(fd, data + done, size_t(length - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        done += written;
    }
    return true;
}

// Offers `claim` the names a part starting at `seconds` can have, from
// serial number `serial` on, until it claims one; returns that serial, or 0
// with errno set when a name failed for another reason than being taken or
// every serial up to 999 was.
int ClaimFreePartName(const QString& path, int64_t seconds, int serial,
                      const std::function<bool(const QString& name)>& claim)
{
    for (; serial < 1000; ++serial) {
        if (claim(RotatedFileName(path, seconds, serial)))
            return serial;
        if (errno != EEXIST)
            return 0;
    }
    errno = EEXIST;
    return 0;
}

// Elapsed time only: the wall clock may step.
int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CStreamedCaptureFile::CStreamedCaptureFile(CaptureFormat format, const QString& path, const SplitRule& rule)
    : m_format(format), m_strPath(path), m_rule(IsStandardOutput() ? SplitRule{} : rule)
{
}

CStreamedCaptureFile::~CStreamedCaptureFile()
{
    Flush(true);
    ClosePart();
}

void CStreamedCaptureFile::SetFormatter(ItemFormatter formatter, const QByteArray& prefix)
{
    m_formatter = std::move(formatter);
    m_prefix = prefix;
}

bool CStreamedCaptureFile::Open(const QString& outputPrefix, int64_t startSeconds)
{
    m_nPeriod = m_rule.PeriodStart(startSeconds);
    m_nNextPartStart = startSeconds;
    m_nPartBytes = 0;
    if (!OpenPart(startSeconds))
        return false;
    const QByteArray prefix = m_formatter ? m_prefix : FormatPrefix(m_format, outputPrefix);
    m_pending += prefix;
    m_nPartBytes += prefix.size();
    return Flush();
}

bool CStreamedCaptureFile::Append(const CDataItem& item)
{
    if (m_nParts == 0)
        return false;  // never opened
    // Formatted straight onto what waits to be written; taken off again
    // when it belongs to the next part. An item that finds no memory leaves
    // nothing of itself behind: it is appended again later.
    const qsizetype start = m_pending.size();
    try {
        if (m_formatter)
            m_pending += m_formatter(item);
        else
            AppendFormattedItem(m_pending, m_format, item);
    } catch (const std::bad_alloc&) {
        m_pending.truncate(start);
        throw;
    }
    const qsizetype size = m_pending.size() - start;
    const int64_t seconds = item.GetTimeMicros() / 1000000;
    bool next = false;
    if (m_rule.kind == SplitRule::Size)
        next = m_nPartBytes > 0 && m_nPartBytes + size > m_rule.bytes;
    else if (m_rule.kind != SplitRule::None)
        next = m_rule.PeriodStart(seconds) > m_nPeriod;
    QByteArray bytes;
    if (next) {
        bytes = m_pending.mid(start);
        m_pending.truncate(start);
    }
    // While the disk refuses data, items wait in the current part rather
    // than being lost; it moves on once everything before is written.
    if (next && m_fd >= 0 && Flush(true)) {
        if (m_rule.kind == SplitRule::Size) {
            m_nNextPartStart = seconds;
        } else {
            m_nPeriod = m_rule.PeriodStart(seconds);
            m_nNextPartStart = m_nPeriod;
        }
        m_nPartBytes = 0;
        // The next part now, or at the next Flush when the disk refuses it.
        if (ClosePart())
            OpenPart(m_nNextPartStart);
    }
    m_pending += bytes;
    m_nPartBytes += size;
    ++m_nAppendedItems;
    return m_pending.size() < kWriteChunk || Flush();
}

bool CStreamedCaptureFile::Flush(bool sync)
{
    // A part that could not be created is tried again with what waits for it.
    if (m_fd < 0 && m_nParts > 0 && !OpenPart(m_nNextPartStart))
        return false;
    if (m_fd < 0)
        return m_pending.isEmpty();
    if (!m_pending.isEmpty()) {
        qsizetype done = 0;
        const bool written = WriteAll(m_fd, m_pending.constData(), m_pending.size(), done);
        const int error = errno;
        m_pending.remove(0, done);  // never written twice
        if (!written)
            return Fail(QStringLiteral("cannot write"), error);
        m_bDirty = true;
    }
    // Standard output may be a pipe or a terminal, which cannot be synced.
    sync = sync || (m_bDirty && SteadyMs() - m_nLastSyncMs >= kSyncIntervalMs);
    if (sync) {
        m_nLastSyncMs = SteadyMs();
        if (platform::file_io::Fsync(m_fd) != 0) {
            if (errno != EINVAL && errno != EROFS && errno != ENOTSUP)
                return Fail(QStringLiteral("cannot write"), errno);
            m_bUnsyncable = true;
        }
        m_bDirty = false;
        m_nDurableItems = m_nAppendedItems;
    } else if (m_bUnsyncable) {
        m_nDurableItems = m_nAppendedItems;  // written is as far as it goes
    }
    m_bFailing = false;
    return true;
}

bool CStreamedCaptureFile::OpenPart(int64_t startSeconds)
{
    if (IsStandardOutput()) {
        m_fd = STDOUT_FILENO;
        m_strCurrentPath = m_strPath;
        ++m_nParts;
        return true;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (m_rule.kind == SplitRule::None) {
        m_strCurrentPath = m_strPath;
        if (m_bKeepEarlier && !MoveEarlierFileAside())
            return false;
        m_fd = platform::file_io::Open(QFile::encodeName(m_strCurrentPath).constData(), flags | O_TRUNC, 0666);
    } else {
        // A part never replaces a file, not even one of an earlier run that
        // started in the same second: the next free serial number is taken.
        // Nor does it take the name of a part of this run that the ring
        // removed, which would sort before the parts that came between.
        const int first = startSeconds == m_nLastPartSeconds ? m_nLastSerial + 1 : 1;
        const int serial = ClaimFreePartName(m_strPath, startSeconds, first, [&](const QString& name) {
            m_strCurrentPath = name;
            m_fd = platform::file_io::Open(QFile::encodeName(name).constData(), flags | O_EXCL, 0666);
            return m_fd >= 0;
        });
        if (serial > 0) {
            m_nLastPartSeconds = startSeconds;
            m_nLastSerial = serial;
        }
    }
    if (m_fd < 0)
        return Fail(QStringLiteral("cannot create"), errno);
    ++m_nParts;
    m_nLastSyncMs = SteadyMs();
    // A ring of parts: the oldest of this run goes as a new one starts.
    if (m_rule.keep > 0 && m_rule.kind != SplitRule::None) {
        m_keptParts.push_back(m_strCurrentPath);
        while (m_keptParts.size() > size_t(m_rule.keep)) {
            ::unlink(QFile::encodeName(m_keptParts.front()).constData());
            m_keptParts.erase(m_keptParts.begin());
        }
    }
    return true;
}

bool CStreamedCaptureFile::MoveEarlierFileAside()
{
    // The old file keeps its name with the time it was last written added,
    // as the parts of a split capture are named. A device, a pipe or an
    // empty file has nothing to keep.
    const QByteArray path = QFile::encodeName(m_strPath);
    struct stat status {};
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0)
        return true;
    const int serial = ClaimFreePartName(m_strPath, status.st_mtime, 1, [&](const QString& name) {
        return platform::file_io::RenameNoReplace(path.constData(), QFile::encodeName(name).constData()) == 0;
    });
    if (serial == 0)
        return Fail(QStringLiteral("cannot keep the earlier capture in"), errno);
    m_strKeptPath = RotatedFileName(m_strPath, status.st_mtime, serial);
    // The move is on the disk before the new file can be written.
    const QString folder = QFileInfo(m_strPath).absolutePath();
    (void)platform::file_io::SyncFolder(QFile::encodeName(folder).constData());
    return true;
}

bool CStreamedCaptureFile::ClosePart()
{
    if (m_fd < 0 || m_fd == STDOUT_FILENO) {
        m_fd = -1;
        return true;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return Fail(QStringLiteral("cannot write"), errno);
    return true;
}

bool CStreamedCaptureFile::Fail(const QString& action, int error)
{
    m_bFailing = true;
    m_strError = QStringLiteral("%1 %2: %3")
                     .arg(action, QDir::toNativeSeparators(m_strCurrentPath), QString::fromLocal8Bit(std::strerror(error)));
    return false;
}
