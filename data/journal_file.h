#pragma once
// One capture journal on disk, held with an exclusive lock (flock) for as
// long as this object has it open, so two running programs never touch each
// other's journal. Journals live in JournalFolder() as *.vjournal files; a
// journal being created has a *.part name until its header is on disk, so
// nobody ever finds a journal without a header.
#include "data/journal_reader.h"

#include <QString>
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

    // A new, empty journal file in `folder` (created if missing), locked,
    // under a temporary name. Invalid with `error` set on failure.
    static CJournalFile Create(const QString& folder, QString* error);
    // An existing journal, locked for reading and appending; invalid when
    // another program holds it or it is not a regular file.
    static CJournalFile Claim(const QString& path, QString* error = nullptr);

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    QString Path() const { return m_path; }

    // Gives the new journal its final name, once its header is written.
    bool Publish(QString* error);
    // Reads the whole file (see ReadJournal).
    JournalSummary Read(const std::function<void(const JournalItem&)>& onItem = {}) const;
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
    int m_fd = -1;
    QString m_path;
};

// A journal that no running program holds, claimed by this one.
struct AbandonedJournal {
    CJournalFile file;
    JournalSummary summary;
};

// Claims the journals in `folder` that no running program holds and that
// hold unsaved items, newest first. Journals with nothing unsaved (ended by
// a Save) and leftover *.part files are removed; files that are not
// journals are moved aside.
std::vector<AbandonedJournal> ClaimAbandonedJournals(const QString& folder);
