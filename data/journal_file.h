#pragma once
// One file of a capture journal on disk, held with an exclusive lock (flock)
// for as long as this object has it open, so two running programs never
// touch each other's journal. Journals live in JournalFolder() as series of
// segment files, <stem>.000001.vjournal, <stem>.000002.vjournal and so on
// (a journal of the first version is one file, <stem>.vjournal); a segment
// being created has a *.part name until its header is on disk, so nobody
// ever finds a segment without a header.
#include "data/journal_reader.h"

#include <QString>
#include <QStringList>
#include <vector>

// Where journals live: the folder chosen in the settings ("StoreFolder"), or else
// $XDG_STATE_HOME/vantrel, by default ~/.local/state/vantrel.
QString JournalFolder();

class CJournalFile {
public:
    CJournalFile() = default;
    CJournalFile(CJournalFile&& other) noexcept;
    CJournalFile& operator=(CJournalFile&& other) noexcept;
    CJournalFile(const CJournalFile&) = delete;
    CJournalFile& operator=(const CJournalFile&) = delete;
    ~CJournalFile();  // closes, which releases the lock; the file stays

    // The first segment of a new journal in `folder` (created if missing),
    // empty, locked, under a temporary name. Invalid with `error` set on
    // failure.
    static CJournalFile Create(const QString& folder, QString* error);
    // Segment number `segment` of the journal with the stem `stem`, the
    // same way.
    static CJournalFile CreateSegment(const QString& stem, uint32_t segment, QString* error);
    // An existing journal, locked for reading and appending; invalid when
    // another program holds it or it is not a regular file.
    static CJournalFile Claim(const QString& path, QString* error = nullptr);

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    QString Path() const { return m_path; }
    // The path without the segment number and suffix: the same for every
    // segment of one journal.
    QString Stem() const { return StemOf(m_path); }
    static QString StemOf(const QString& path);
    // The segment number in the file's name (0 for a one-file journal).
    static uint32_t SegmentOf(const QString& path);

    // Gives the new journal its final name, once its header is written.
    bool Publish(QString* error);
    // Reads the whole file, or its head only (see ReadJournal).
    JournalSummary Read(const std::function<void(const JournalItem&)>& onItem = {},
                        JournalScope scope = JournalScope::Whole) const;
    int64_t Size() const;
    // Cuts the file to `size` bytes and puts the write position there.
    bool TruncateTo(int64_t size);
    // The write position, or -1.
    int64_t Offset() const;
    // Whether the file still has a name in the folder.
    bool IsLinked() const;
    // Deletes the file and closes it.
    void Remove();
    // Renames the file to *.damaged beside it (kept for a person to look
    // at) and closes it; returns the new path.
    QString MoveAside();
    void Close();

private:
    static CJournalFile CreateAt(const QString& part, QString* error);

    int m_fd = -1;
    QString m_path;
};

// A journal that no running program holds, claimed by this one: its
// segments, oldest first.
struct AbandonedJournal {
    std::vector<CJournalFile> files;
    // What an offer says, read without a scan of the whole journal: the head
    // of its first segment and the whole of its last one.
    JournalSummary summary;

    // Reads every segment in order, checking every record (a restore):
    // `onItem` gets each item, `progress` the bytes read so far and the
    // journal's size. The summary covers all segments; a segment that ends
    // early or does not follow the one before is damage.
    using Progress = std::function<void(int64_t done, int64_t total)>;
    JournalSummary Read(const std::function<void(const JournalItem&)>& onItem, const Progress& progress = {}) const;
    int64_t Size() const;
    QString Path() const { return files.empty() ? QString() : files.front().Path(); }
    // Deletes every segment; moves every segment aside.
    void Remove();
    void MoveAside();
};

// Claims the journals in `folder` that no running program holds and that
// hold unsaved items, newest first. Journals with nothing unsaved (ended by
// a Save) and leftover *.part files are removed; files that are not
// journals are moved aside. `otherPorts`, when given, gets the port of
// every other journal found there: each is a run that never ended either.
std::vector<AbandonedJournal> ClaimAbandonedJournals(const QString& folder, QStringList* otherPorts = nullptr);
