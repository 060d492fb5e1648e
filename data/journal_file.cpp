#include "data/journal_file.h"

#include "data/journal_format.h"
#include "platform/file_io.h"
#include "settings/settings_persistence.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
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

namespace {

// Creates the file `part`, which must not exist yet: its descriptor, or -1
// with `error` set.
int CreateNew(const QString& part, QString* error)
{
    const int fd = platform::file_io::Open(Native(part).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && error)
        *error = QStringLiteral("%1 cannot be created: %2").arg(part, SystemError(errno));
    return fd;
}

QString SegmentPart(const QString& stem, uint32_t segment)
{
    return QStringLiteral("%1.%2").arg(stem).arg(segment, 6, 10, QLatin1Char('0')) + kPartSuffix;
}

} // namespace

CJournalFile CJournalFile::Create(const QString& folder, QString* error)
{
    if (::mkdir(Native(folder).constData(), 0700) != 0 && errno != EEXIST) {
        // Create the parents too (~/.local/state may not exist yet).
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = QStringLiteral("the folder %1 cannot be created").arg(folder);
            return {};
        }
    }
    static std::atomic<int> s_serial{0};
    const QString stem = QStringLiteral("%1/capture-%2-%3-%4")
                             .arg(folder, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(::getpid())
                             .arg(++s_serial);
    return CreateAt(SegmentPart(stem, 1), error);
}

CJournalFile CJournalFile::CreateSegment(const QString& stem, uint32_t segment, QString* error)
{
    return CreateAt(SegmentPart(stem, segment), error);
}

CJournalFile CJournalFile::CreateAt(const QString& part, QString* error)
{
    CJournalFile file;
    file.m_fd = CreateNew(part, error);
    if (file.m_fd < 0)
        return file;
    file.m_path = part;
    if (::flock(file.m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (error)
            *error = QStringLiteral("%1 cannot be locked: %2").arg(part, SystemError(errno));
        file.Remove();
    }
    return file;
}

namespace {

// A journal file's path without its ".vjournal" or ".part".
QString WithoutSuffix(const QString& path)
{
    QString name = path;
    for (const QString& suffix : {kSuffix, kPartSuffix})
        if (name.endsWith(suffix))
            name.chop(suffix.size());
    return name;
}

} // namespace

QString CJournalFile::StemOf(const QString& path)
{
    QString stem = WithoutSuffix(path);
    if (SegmentOf(path) > 0)
        stem.chop(7);
    return stem;
}

uint32_t CJournalFile::SegmentOf(const QString& path)
{
    const QString name = WithoutSuffix(path);
    if (name.size() < 7 || name.at(name.size() - 7) != QLatin1Char('.'))
        return 0;
    bool ok = false;
    const uint32_t segment = name.right(6).toUInt(&ok);
    return ok && name.right(6).at(0).isDigit() ? segment : 0;
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

int64_t CJournalFile::Size() const
{
    struct stat info {};
    return m_fd >= 0 && ::fstat(m_fd, &info) == 0 ? int64_t(info.st_size) : 0;
}

JournalSummary CJournalFile::Read(const std::function<void(const JournalItem&)>& onItem, JournalScope scope) const
{
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return {};
    if (info.st_size == 0)
        return ReadJournal(nullptr, 0, onItem, scope);
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
    const JournalSummary summary = ReadJournal(static_cast<const uint8_t*>(map), size_t(info.st_size), onItem, scope);
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

int64_t AbandonedJournal::Size() const
{
    int64_t size = 0;
    for (const CJournalFile& file : files)
        size += file.Size();
    return size;
}

JournalSummary AbandonedJournal::Read(const std::function<void(const JournalItem&)>& onItem,
                                      const Progress& progress) const
{
    JournalSummary whole;
    const int64_t total = Size();
    int64_t done = 0;
    // Told every few megabytes, from the records read so far.
    constexpr int64_t kProgressStep = 4 << 20;
    int64_t inFile = 0;
    int64_t told = 0;
    int fileIndex = 0;
    const auto item = [&](const JournalItem& found) {
        JournalItem read = found;
        read.file = fileIndex;
        inFile += int64_t(journal::kRecordHeadSize + journal::kItemFixedSize + journal::kRecordCrcSize) + read.length +
                  read.name.size();
        if (progress && inFile - told >= kProgressStep) {
            told = inFile;
            progress(std::min(total, done + inFile), total);
        }
        if (onItem)
            onItem(read);
    };
    for (size_t i = 0; i < files.size(); ++i) {
        if (i > 0) {
            // Its head first: items of a segment that does not continue the
            // series would not belong after the ones before.
            const JournalSummary head = files[i].Read({}, JournalScope::Head);
            if (head.state == JournalState::NotAJournal || head.version != journal::kVersion ||
                head.segment != whole.segment + 1 || head.firstItem < whole.EndItem()) {
                whole.state = JournalState::Damaged;
                whole.problem = QStringLiteral("%1 does not continue the segment before it").arg(files[i].Path());
                break;
            }
        }
        inFile = told = 0;
        // Items that the files had on disk before this journal took them
        // leave a gap in the numbers between two segments.
        const int64_t gap = i > 0 ? files[i].Read({}, JournalScope::Head).firstItem - whole.EndItem() : 0;
        fileIndex = int(i);
        const JournalSummary part = files[i].Read(item);
        done += files[i].Size();
        if (progress)
            progress(done, total);
        if (i == 0) {
            whole = part;
            if (part.state == JournalState::NotAJournal)
                break;
        } else {
            whole.segment = part.segment;
            whole.skipped += gap;
            whole.items += part.items;
            whole.bytes += part.bytes;
            whole.saved = std::max(whole.saved, part.saved);
            whole.goodEnd = part.goodEnd;
            whole.state = part.state;
            whole.problem = part.problem;
        }
        if (whole.state != JournalState::Whole && i + 1 < files.size()) {
            // Only the newest segment can end in the middle of a record.
            if (whole.state == JournalState::CutOff) {
                whole.state = JournalState::Damaged;
                whole.problem = QStringLiteral("%1 ends early").arg(files[i].Path());
            }
            break;
        }
    }
    return whole;
}

void AbandonedJournal::Remove()
{
    for (CJournalFile& file : files)
        file.Remove();
}

void AbandonedJournal::MoveAside()
{
    for (CJournalFile& file : files)
        if (file.IsOpen())
            file.MoveAside();
}

namespace {

// What the offer says of a journal, without reading more than its first
// segment's head and its last segment: the first names the capture and
// where the journal begins, the last how far it goes and what was saved.
JournalSummary Summarize(const AbandonedJournal& journal)
{
    if (journal.files.size() == 1)
        return journal.files.front().Read();
    const JournalSummary first = journal.files.front().Read({}, JournalScope::Head);
    const JournalSummary last = journal.files.back().Read();
    const bool follows = first.state != JournalState::NotAJournal && first.version == journal::kVersion &&
                         last.state != JournalState::NotAJournal && last.version == journal::kVersion &&
                         last.segment == first.segment + uint32_t(journal.files.size() - 1) &&
                         last.firstItem >= first.firstItem && last.bytesBefore >= first.bytesBefore;
    // A series that does not hang together is read whole, to say where.
    if (!follows)
        return journal.Read({});
    JournalSummary summary = last;
    summary.header = first.header;
    summary.segment = last.segment;
    // Items the series skipped cannot be told apart without reading it.
    summary.items = last.EndItem() - first.firstItem;
    summary.skipped = 0;
    summary.bytes = last.bytesBefore + last.bytes - first.bytesBefore;
    summary.firstItem = first.firstItem;
    summary.bytesBefore = first.bytesBefore;
    summary.saved = std::max(first.saved, last.saved);
    return summary;
}

// A journal's segments in the folder, by stem, each list in segment order.
std::vector<std::vector<QFileInfo>> SegmentSeries(const QFileInfoList& entries)
{
    std::vector<std::vector<QFileInfo>> series;
    QHash<QString, size_t> byStem;
    for (const QFileInfo& entry : entries) {
        const QString stem = CJournalFile::StemOf(entry.filePath());
        auto found = byStem.constFind(stem);
        if (found == byStem.constEnd()) {
            found = byStem.insert(stem, series.size());
            series.emplace_back();
        }
        series[*found].push_back(entry);
    }
    for (auto& files : series)
        std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
            return CJournalFile::SegmentOf(a.fileName()) < CJournalFile::SegmentOf(b.fileName());
        });
    return series;
}

} // namespace

std::vector<AbandonedJournal> ClaimAbandonedJournals(const QString& folder, QStringList* otherPorts)
{
    std::vector<AbandonedJournal> found;
    const QDir dir(folder);
    // A *.part file is a segment whose name never reached the disk (a power
    // cut), or one still being created by another program: a young one is
    // left alone. An old one is read like any segment and, holding unsaved
    // items, takes its final name and joins its journal; it is only removed
    // when it holds nothing at all.
    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& entry : dir.entryInfoList({QStringLiteral("*") + kPartSuffix}, QDir::Files | QDir::Hidden)) {
        if (entry.lastModified() > old)
            continue;
        CJournalFile part = CJournalFile::Claim(entry.filePath());
        if (!part.IsOpen())
            continue;
        const JournalSummary summary = part.Read();
        if (entry.size() == 0 ||
            (summary.state != JournalState::NotAJournal && !summary.Restorable() && summary.state != JournalState::Damaged)) {
            part.Remove();
        } else if (!summary.Restorable() || QFileInfo::exists(entry.filePath().chopped(kPartSuffix.size()) + kSuffix) ||
                   !part.Publish(nullptr)) {
            part.MoveAside();
        } else {
            platform::file_io::SyncFolder(Native(folder).constData());
        }
    }

    QFileInfoList journals;
    for (const QFileInfo& entry : dir.entryInfoList({QStringLiteral("*") + kSuffix},
                                                    QDir::AllEntries | QDir::System | QDir::Hidden, QDir::Name)) {
        // A link, a pipe or a folder in a journal's name: out of the way
        // with it, so it is never looked at again.
        if (entry.isSymLink() || !entry.isFile()) {
            const QString path = entry.filePath();
            ::rename(Native(path).constData(), Native(path + kDamagedSuffix).constData());
            continue;
        }
        journals.append(entry);
    }
    for (const std::vector<QFileInfo>& series : SegmentSeries(journals)) {
        AbandonedJournal journal;
        bool held = false;
        for (const QFileInfo& entry : series) {
            CJournalFile file = CJournalFile::Claim(entry.filePath());
            held = held || !file.IsOpen();
            journal.files.push_back(std::move(file));
        }
        // A journal that a running program holds, even in part, stays.
        if (held)
            continue;
        journal.summary = Summarize(journal);
        if (journal.summary.state != JournalState::NotAJournal && !journal.summary.Restorable() && otherPorts)
            otherPorts->append(journal.summary.header.portName);
        if (journal.summary.state == JournalState::NotAJournal)
            journal.MoveAside();
        else if (!journal.summary.Restorable() && journal.summary.state != JournalState::Damaged)
            journal.Remove();
        else if (!journal.summary.Restorable())
            journal.MoveAside();
        else
            found.push_back(std::move(journal));
    }
    // Newest first: the capture the user most likely misses.
    std::stable_sort(found.begin(), found.end(), [](const AbandonedJournal& a, const AbandonedJournal& b) {
        return QFileInfo(a.files.back().Path()).lastModified() > QFileInfo(b.files.back().Path()).lastModified();
    });
    return found;
}
