#include "data/journal_file.h"

#include "platform/file_io.h"
#include "settings/settings_persistence.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kSuffix = QStringLiteral(".vjournal");
const QString kPartSuffix = QStringLiteral(".part");
const QString kDamagedSuffix = QStringLiteral(".damaged");

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

} // namespace

QString JournalFolder()
{
    // A folder the user chose; a relative one is ignored, as it would
    // depend on where the program was started.
    const QString chosen = LoadStoreFolder();
    if (!chosen.isEmpty() && QDir::isAbsolutePath(chosen))
        return QDir::cleanPath(chosen);
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is to be ignored.
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vantrel");
}

CJournalFile::CJournalFile(CJournalFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path))
{
}

CJournalFile& CJournalFile::operator=(CJournalFile&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

CJournalFile::~CJournalFile()
{
    Close();
}

CJournalFile CJournalFile::Create(const QString& folder, QString* error)
{
    CJournalFile file;
    if (::mkdir(Native(folder).constData(), 0700) != 0 && errno != EEXIST) {
        // Create the parents too (~/.local/state may not exist yet).
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("the folder %1 cannot be created").arg(folder);
            return file;
        }
    }
    static std::atomic<int> s_serial{0};
    const QString stem = QStringLiteral("%1/capture-%2-%3-%4")
                             .arg(folder, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(::getpid())
                             .arg(++s_serial);
    const QString part = stem + kPartSuffix;
    const int fd = platform::file_io::Open(Native(part).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1 cannot be created: %2").arg(part, SystemError(errno));
        return file;
    }
    file.m_fd = fd;
    file.m_path = part;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error)
            *error = QStringLiteral("%1 cannot be locked: %2").arg(part, SystemError(errno));
        file.Remove();
    }
    return file;
}

CJournalFile CJournalFile::Claim(const QString& path, QString* error)
{
    CJournalFile file;
    // Never follow a link or wait on a pipe that someone named like a journal.
    const int fd = ::open(Native(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = SystemError(errno);
        return file;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (error)
            *error = QStringLiteral("not a regular file");
        ::close(fd);
        return file;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error)
            *error = QStringLiteral("held by a running program");
        ::close(fd);
        return file;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.m_fd = fd;
    file.m_path = path;
    return file;
}

bool CJournalFile::Publish(QString* error)
{
    if (!m_path.endsWith(kPartSuffix))
        return true;
    const QString final = m_path.chopped(kPartSuffix.size()) + kSuffix;
    if (platform::file_io::Rename(Native(m_path).constData(), Native(final).constData()) != 0) {
        if (error)
            *error = QStringLiteral("%1 cannot be named: %2").arg(final, SystemError(errno));
        return false;
    }
    m_path = final;
    return true;
}

JournalSummary CJournalFile::Read(const std::function<void(const JournalItem&)>& onItem) const
{
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return {};
    if (info.st_size == 0)
        return ReadJournal(nullptr, 0, onItem);
    // Mapped rather than read: a journal of a long capture may be larger
    // than the memory its items will need once restored. The file is locked,
    // so nobody cuts it short while it is mapped.
    void* map = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, m_fd, 0);
    if (map == MAP_FAILED) {
        JournalSummary failed;
        failed.state = JournalState::NotAJournal;
        failed.problem = QStringLiteral("cannot be read: %1").arg(SystemError(errno));
        return failed;
    }
    ::madvise(map, size_t(info.st_size), MADV_SEQUENTIAL);
    const JournalSummary summary = ReadJournal(static_cast<const uint8_t*>(map), size_t(info.st_size), onItem);
    ::munmap(map, size_t(info.st_size));
    return summary;
}

bool CJournalFile::TruncateTo(int64_t size)
{
    return m_fd >= 0 && platform::file_io::Ftruncate(m_fd, off_t(size)) == 0 && ::lseek(m_fd, off_t(size), SEEK_SET) == off_t(size);
}

int64_t CJournalFile::Offset() const
{
    return m_fd >= 0 ? int64_t(::lseek(m_fd, 0, SEEK_CUR)) : -1;
}

bool CJournalFile::IsLinked() const
{
    struct stat info {};
    return m_fd >= 0 && ::fstat(m_fd, &info) == 0 && info.st_nlink > 0;
}

void CJournalFile::Remove()
{
    if (!m_path.isEmpty())
        ::unlink(Native(m_path).constData());
    Close();
}

QString CJournalFile::MoveAside()
{
    QString aside = m_path + kDamagedSuffix;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_path + QStringLiteral(".%1").arg(n) + kDamagedSuffix;
    if (::rename(Native(m_path).constData(), Native(aside).constData()) != 0)
        aside.clear();
    Close();
    return aside;
}

void CJournalFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

std::vector<AbandonedJournal> ClaimAbandonedJournals(const QString& folder)
{
    std::vector<AbandonedJournal> found;
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList({QStringLiteral("*") + kSuffix},
                                                    QDir::AllEntries | QDir::System | QDir::Hidden, QDir::Time);
    for (const QFileInfo& entry : entries) {
        QString why;
        CJournalFile file = CJournalFile::Claim(entry.filePath(), &why);
        if (!file.IsOpen()) {
            // A link, a pipe or a folder in a journal's name: out of the way
            // with it, so it is never looked at again. A held journal stays.
            if (entry.isSymLink() || !entry.isFile()) {
                const QString path = entry.filePath();
                ::rename(Native(path).constData(), Native(path + kDamagedSuffix).constData());
            }
            continue;
        }
        AbandonedJournal journal{std::move(file), {}};
        journal.summary = journal.file.Read();
        if (journal.summary.state == JournalState::NotAJournal)
            journal.file.MoveAside();
        else if (!journal.summary.Restorable() && journal.summary.state != JournalState::Damaged)
            journal.file.Remove();
        else if (!journal.summary.Restorable())
            journal.file.MoveAside();
        else
            found.push_back(std::move(journal));
    }
    // A *.part file is a journal whose name never reached the disk (a power
    // cut), or one still being created by another program: a young one is
    // left alone. An old one is read like any journal and, holding unsaved
    // items, takes its final name and is offered; it is only removed when it
    // holds nothing at all.
    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& entry : dir.entryInfoList({QStringLiteral("*") + kPartSuffix}, QDir::Files | QDir::Hidden)) {
        if (entry.lastModified() > old)
            continue;
        CJournalFile part = CJournalFile::Claim(entry.filePath());
        if (!part.IsOpen())
            continue;
        AbandonedJournal journal{std::move(part), {}};
        journal.summary = journal.file.Read();
        if (entry.size() == 0 || (journal.summary.state != JournalState::NotAJournal && !journal.summary.Restorable() &&
                                  journal.summary.state != JournalState::Damaged)) {
            journal.file.Remove();
        } else if (!journal.summary.Restorable() || QFileInfo::exists(entry.filePath().chopped(kPartSuffix.size()) + kSuffix) ||
                   !journal.file.Publish(nullptr)) {
            journal.file.MoveAside();
        } else {
            platform::file_io::SyncFolder(Native(folder).constData());
            found.push_back(std::move(journal));
        }
    }
    return found;
}
