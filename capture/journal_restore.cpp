// A journal left by an earlier run becomes the capture again: all of it,
// when the user chose Restore in the window, or the part its files lacked,
// when a run without a window finds the journal of its own port.
#include "capture/capture_engine.h"

#include "data/capture_journal.h"
#include "data/journal_segment_reader.h"
#include "data/streamed_capture_file.h"

#include <algorithm>
#include <vector>

namespace {

// Appends a journal's item to `items` in memory, with its own time.
void AppendRestored(CDataItemArray& items, const JournalItem& restored)
{
    CDataItem item(restored.data, restored.length);
    item.SetKind(restored.kind);
    item.SetName(restored.name);
    items.ElementAt(items.Add(std::move(item))).SetTimeMicros(restored.timeMicros);
}

// Reads the journal's items numbered `from` and later into `items`,
// outside the capture lock; the summary covers every segment.
JournalSummary ReadItems(const AbandonedJournal& journal, CDataItemArray& items, int64_t from,
                         const AbandonedJournal::Progress& progress)
{
    return journal.Read(
        [&](const JournalItem& restored) {
            if (restored.number >= from)
                AppendRestored(items, restored);
        },
        progress);
}

} // namespace

JournalSummary CCaptureEngine::RestoreJournal(AbandonedJournal& journal, const AbandonedJournal::Progress& progress)
{
    // The items stay in the journal's files: the list keeps where each one
    // is and reads it back when asked. Only what cannot be found that way
    // (past 4 GiB in a file of the first version) is read into memory.
    std::vector<std::shared_ptr<const CJournalSegmentReader>> readers;
    for (const CJournalFile& file : journal.files)
        readers.push_back(CJournalSegmentReader::Of(file.Fd()));
    CDataItemArray restored;
    std::vector<int64_t> numbers;
    const JournalSummary read = journal.Read(
        [&](const JournalItem& found) {
            numbers.push_back(found.number);
            const auto& reader = readers[size_t(found.file)];
            if (reader && found.offset <= int64_t(UINT32_MAX) && restored.GetFirst() == restored.GetSize()) {
                restored.AddSpilled(reader, uint32_t(found.offset));
                return;
            }
            AppendRestored(restored, found);
        },
        progress);
    // The items restored that a Save wrote: those numbered below its mark.
    const int64_t saved = std::lower_bound(numbers.begin(), numbers.end(), read.saved) - numbers.begin();
    numbers = {};
    const JournalHeader& header = journal.summary.header;
    {
        std::lock_guard lock(m_csCapture);
        m_items.Swap(restored);
        const uint64_t captureId = ++m_nCaptureId;
        m_strOutput = header.prefix;
        m_nSavedCaptureId = captureId;
        m_nSavedItems = saved;
        m_journal->SetLine(header.portName, header.line, header.startMicros);
        // A record cut off by the crash is dropped and new items follow the
        // last whole one. Damage, or a tail the disk will not let go of (new
        // records after it would be unreadable), is kept aside as it is and
        // the journal starts afresh with the good items.
        if (read.state == JournalState::Damaged || journal.files.empty() ||
            !journal.files.back().TruncateTo(read.goodEnd))
            journal.MoveAside();
        else
            m_journal->Adopt(std::move(journal.files), captureId, m_items.GetSize(), read);
    }
    // A fresh journal for a damaged one's items starts now, not at the next Begin.
    m_journal->Wake();
    if (!header.portName.isEmpty()) {
        m_strPortName = header.portName;
        m_portSettings = header.line;
    }
    // The items the list held before are freed outside the lock.
    restored.RemoveAll();
    return read;
}

int64_t CCaptureEngine::TakeOverJournals(std::vector<AbandonedJournal> journals)
{
    // Oldest first, so the files get the items in the order they came.
    std::reverse(journals.begin(), journals.end());
    CDataItemArray items;
    for (AbandonedJournal& journal : journals) {
        const JournalSummary read = ReadItems(journal, items, journal.summary.saved, {});
        m_orphans.push_back({std::move(journal), read.state == JournalState::Damaged});
    }
    std::lock_guard lock(m_csCapture);
    m_items.Swap(items);
    m_nOrphanItems = m_items.GetSize();
    // Those items stay in the journals they came from until the files have
    // them on disk; the capture's own journal holds only what comes after.
    m_journal->StartAfter(m_nCaptureId, m_nOrphanItems);
    return m_nOrphanItems;
}

QString CCaptureEngine::UnsyncableFile() const
{
    for (const auto& file : m_files)
        if (!file->CanSync())
            return file->CurrentPath();
    return {};
}

void CCaptureEngine::ReleaseWrittenItems()
{
    int64_t durable = INT64_MAX;
    for (const auto& file : m_files)
        durable = std::min(durable, file->DurableItems());
    if (m_files.empty() || durable <= m_nReleasedItems)
        return;
    uint64_t captureId = 0;
    {
        std::lock_guard lock(m_csCapture);
        captureId = m_nCaptureId;
        // Items the journal has not taken yet stay for it.
        m_items.DropBefore(std::min(durable, m_journal->TakenItems()));
    }
    m_nReleasedItems = durable;
    m_journal->RetireBefore(captureId, durable);
    m_journal->MarkSaved(captureId, durable);
    // The journals of an earlier run are done with once the files have all
    // they held; damage in one is kept for a person to look at.
    if (durable >= m_nOrphanItems) {
        for (Orphan& orphan : m_orphans) {
            if (orphan.damaged)
                orphan.journal.MoveAside();
            else
                orphan.journal.Remove();
        }
        m_orphans.clear();
    }
}
