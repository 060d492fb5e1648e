#include "data/streamed_capture_file.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Pending bytes are written out once they reach this much, so a flood
// between two flushes never piles up in memory.
constexpr qsizetype kWriteChunk = 1 << 16;

bool WriteAll(int fd, const char* data, qsizetype length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, size_t(length));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
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
    if (!OpenPart(startSeconds))
        return false;
    const QByteArray prefix = m_formatter ? m_prefix : FormatPrefix(m_format, outputPrefix);
    m_pending += prefix;
    m_nPartBytes += prefix.size();
    return Flush();
}

bool CStreamedCaptureFile::Append(const CDataItem& item)
{
    if (m_fd < 0)
        return false;
    const QByteArray bytes = m_formatter ? m_formatter(item) : FormatItem(m_format, item);
    const int64_t seconds = item.GetTimeMicros() / 1000000;
    bool next = false;
    if (m_rule.kind == SplitRule::Size)
        next = m_nPartBytes > 0 && m_nPartBytes + bytes.size() > m_rule.bytes;
    else if (m_rule.kind != SplitRule::None)
        next = m_rule.PeriodStart(seconds) > m_nPeriod;
    if (next) {
        if (!Flush(true) || !ClosePart())
            return false;
        if (m_rule.kind == SplitRule::Size) {
            if (!OpenPart(seconds))
                return false;
        } else {
            m_nPeriod = m_rule.PeriodStart(seconds);
            if (!OpenPart(m_nPeriod))
                return false;
        }
    }
    m_pending += bytes;
    m_nPartBytes += bytes.size();
    return m_pending.size() < kWriteChunk || Flush();
}

bool CStreamedCaptureFile::Flush(bool sync)
{
    if (m_fd < 0)
        return m_pending.isEmpty();
    if (!m_pending.isEmpty()) {
        if (!WriteAll(m_fd, m_pending.constData(), m_pending.size()))
            return Fail(QStringLiteral("cannot write"), errno);
        m_pending.clear();
    }
    // Standard output may be a pipe or a terminal, which cannot be synced.
    if (sync && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
        return Fail(QStringLiteral("cannot write"), errno);
    return true;
}

bool CStreamedCaptureFile::OpenPart(int64_t startSeconds)
{
    m_nPartBytes = 0;
    if (IsStandardOutput()) {
        m_fd = STDOUT_FILENO;
        m_strCurrentPath = m_strPath;
        ++m_nParts;
        return true;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (m_rule.kind == SplitRule::None) {
        m_strCurrentPath = m_strPath;
        m_fd = ::open(QFile::encodeName(m_strCurrentPath).constData(), flags | O_TRUNC, 0666);
    } else {
        // A part never replaces a file, not even one of an earlier run that
        // started in the same second: the next free serial number is taken.
        for (int serial = 1; m_fd < 0 && serial < 1000; ++serial) {
            m_strCurrentPath = RotatedFileName(m_strPath, startSeconds, serial);
            m_fd = ::open(QFile::encodeName(m_strCurrentPath).constData(), flags | O_EXCL, 0666);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
    }
    if (m_fd < 0)
        return Fail(QStringLiteral("cannot create"), errno);
    ++m_nParts;
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
    m_strError = QStringLiteral("%1 %2: %3")
                     .arg(action, QDir::toNativeSeparators(m_strCurrentPath), QString::fromLocal8Bit(std::strerror(error)));
    return false;
}
