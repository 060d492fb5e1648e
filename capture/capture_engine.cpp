// The engine's life, its followers and the operations on the whole capture:
// Clear Output, the saved mark, the output area's index and the two ways
// the capture is written out.
#include "capture/capture_engine.h"

#include "capture/port_reconnect.h"
#include "data/capture_formats.h"
#include "data/capture_journal.h"
#include "data/streamed_capture_file.h"
#include "platform/process_memory.h"
#include "settings/settings_persistence.h"

#include <QElapsedTimer>
#include <QIODevice>

#include <algorithm>
#include <new>
#include <vector>

namespace {

const QString kWelcomeText = QStringLiteral("Welcome to Vantrel \r\n Ver 0.4");

// Bytes of items indexed per hold of the capture lock, so the receive
// thread never waits long for it.
constexpr qint64 kIndexBytesPerLock = 512 * 1024;
// Written in pieces of about this size, so the whole file never sits in memory.
constexpr qsizetype kWriteChunk = 1 << 16;
// Items copied per hold of the capture lock while the capture is written.
constexpr size_t kWriteBatchItems = 1024;
constexpr qint64 kWriteBatchBytes = 1 << 20;
// Large enough for the followers' last batches after memory ran out. It is
// mapped and never touched, so it costs address space, not memory.
constexpr size_t kMemoryReserveBytes = 8 << 20;

} // namespace

CCaptureEngine::CCaptureEngine(QObject* parent) : QObject(parent)
{
    m_strOutput = kWelcomeText;
    m_pMemoryReserve.reset(new (std::nothrow) char[kMemoryReserveBytes]);
    m_pReconnect = new CPortReconnect(this, [this](const QString& path) { return ReopenPort(path); });
    connect(m_pReconnect, &CPortReconnect::StateChanged, this, &CCaptureEngine::connectionChanged);
    LoadSettings();
    // Every recorded item goes to disk too, with or without a window.
    m_journal = std::make_unique<CCaptureJournal>(
        CCaptureJournal::Source{m_csCapture, m_items, m_nCaptureId, m_strOutput});
    // Called on the journal's thread; a queued signal takes it to the face.
    m_journal->SetProblemHandler([this](const QString& text) {
        QMetaObject::invokeMethod(this, [this, text] { emit problem(text); }, Qt::QueuedConnection);
    });
    m_journal->SetOutOfMemoryHandler([this] { NoteOutOfMemory(); });
    // Once the journal has items on disk their memory goes back: the list
    // reads them from the journal when asked.
    m_journal->SetSpillHandler([this](uint64_t captureId, int64_t first, const std::vector<uint32_t>& offsets,
                                      const std::shared_ptr<const CJournalSegmentReader>& segment) {
        std::lock_guard lock(m_csCapture);
        const int64_t skip = m_items.GetFirst() - first;
        if (captureId != m_nCaptureId || skip < 0 || skip >= int64_t(offsets.size()))
            return;
        try {
            m_items.Spill(first + int64_t(offsets.size()), segment, offsets.data() + skip);
        } catch (const std::bad_alloc&) {
            // The items stay in memory.
        }
    });
}

CCaptureEngine::~CCaptureEngine()
{
    // No receive thread may outlive the engine.
    ClosePort();
    // The journal writes what it still lacks before the list goes.
    m_journal.reset();
    // The files write what they hold, and close.
    m_files.clear();
}

void CCaptureEngine::RenewMemoryReserve()
{
    // Only while the flag is set does no other thread touch the reserve.
    if (!m_bOutOfMemory)
        return;
    m_pMemoryReserve.reset(new (std::nothrow) char[kMemoryReserveBytes]);
    m_bBudgetFull = false;
    m_bOutOfMemory = false;
}

void CCaptureEngine::SetBudgetForBegin()
{
    // While the journal keeps up, items leave memory within a second; the
    // budget matters only while it cannot write them.
    int64_t budget = m_nMemoryBudget;
    uint64_t available = 0;
    if (budget <= 0 && platform::availableMemory(available) == 0)
        budget = int64_t(available / 4);
    std::lock_guard lock(m_csCapture);
    m_items.SetMemoryBudget(std::max<int64_t>(budget, 0));
}

void CCaptureEngine::NoteMemoryBudgetFull()
{
    if (!m_bOutOfMemory)
        m_bBudgetFull = true;
    NoteOutOfMemory();
}

void CCaptureEngine::NoteOutOfMemory()
{
    if (m_bOutOfMemory.exchange(true))
        return;
    // Only the first failure frees the reserve (it is touched by no one
    // else until the engine goes) and asks for the stop.
    m_pMemoryReserve.reset();
    try {
        QMetaObject::invokeMethod(this, [this] { StopForMemory(); }, Qt::QueuedConnection);
    } catch (const std::bad_alloc&) {
        // Not even the request fits: the flag stays set, and the receive
        // thread records nothing more.
    }
}

void CCaptureEngine::StopForMemory()
{
    // Joins the receive thread, which has ended or ends now.
    ClosePort();
    qint64 items = 0;
    int64_t budget = 0;
    {
        std::lock_guard lock(m_csCapture);
        items = m_items.GetSize();
        budget = m_items.MemoryBudget();
    }
    if (m_bBudgetFull)
        emit outOfMemory(QStringLiteral("Memory budget full: %1 MiB of items are not on disk yet, and the capture "
                                        "stopped after %2 items. Every item recorded until then is kept.")
                             .arg(budget >> 20)
                             .arg(items));
    else
        emit outOfMemory(QStringLiteral("Out of memory: the capture stopped after %1 items. "
                                        "Every item recorded until then is kept.")
                             .arg(items));
}

void CCaptureEngine::LoadSettings()
{
    StoredSettings settings;
    ::LoadSettings(settings);
    m_strPortName = settings.portName;
    m_portSettings = settings.port;
    m_recordSettings = settings.record;
    m_nShowFormat = settings.showFormat;
}

void CCaptureEngine::SaveSettings()
{
    ::SaveSettings(StoredSettings{m_strPortName, m_portSettings, m_recordSettings, m_nShowFormat});
}

bool CCaptureEngine::IsWaitingForPort() const
{
    return m_pReconnect && m_pReconnect->IsWaiting();
}

QString CCaptureEngine::ConnectionState() const
{
    return m_pReconnect ? m_pReconnect->Describe() : QString();
}

void CCaptureEngine::ClearOutput()
{
    CDataItemArray old;
    {
        // Under the capture lock, so it never overlaps the recording of a
        // chunk; the items are only handed over here, and freed below,
        // after the lock, so the receive thread never waits for that.
        std::lock_guard lock(m_csCapture);
        m_strOutput.clear();
        m_items.Swap(old);
        ++m_nCaptureId;
    }
    old.RemoveAll();
    m_journal->Wake();  // the discarded capture's journal goes
}

int64_t CCaptureEngine::UnsavedItems()
{
    std::lock_guard lock(m_csCapture);
    const int64_t saved = m_nSavedCaptureId == m_nCaptureId ? m_nSavedItems : 0;
    return std::max<int64_t>(0, m_items.GetSize() - saved);
}

void CCaptureEngine::OnCaptureSaved(uint64_t captureId, int64_t items)
{
    m_nSavedCaptureId = captureId;
    m_nSavedItems = items;
    m_journal->MarkSaved(captureId, items);
}

void CCaptureEngine::EndJournal()
{
    m_journal->End();
}

void CCaptureEngine::RestartOutputIndex()
{
    std::lock_guard lock(m_csCapture);
    m_outputIndex.Reset(m_nCaptureId, m_strOutput);
            m_itemTimes.Reset(m_nCaptureId);
    m_indexFollower.Seek(m_nCaptureId, 0);
    m_nIndexedBytes = 0;
}

CCaptureEngine::IndexProgress CCaptureEngine::CatchUpOutputIndex(qint64 maxMs)
{
    QElapsedTimer clock;
    clock.start();
    IndexProgress progress;
    while (!progress.done && (maxMs < 0 || clock.elapsed() < maxMs)) {
        std::lock_guard lock(m_csCapture);
        const int64_t size = m_items.GetSize();
        if (m_indexFollower.CaptureId() != m_nCaptureId) {
            // Cleared since the last visit: the text starts over.
            m_indexFollower.Seek(m_nCaptureId, 0);
            m_outputIndex.Reset(m_nCaptureId, m_strOutput);
            m_itemTimes.Reset(m_nCaptureId);
            m_nIndexedBytes = 0;
            progress.restarted = true;
        }
        // A bounded batch under the lock: each item is read once, from
        // memory or from the journal.
        CItemFollower::Batch batch{m_indexFollower.Taken(), m_indexFollower.Taken(), false};
        CDataItem scratch;
        for (qint64 bytes = 0; batch.end < size && (batch.end == batch.first || bytes < kIndexBytesPerLock); ++batch.end) {
            const CDataItem& item = m_items.At(batch.end, scratch);
            m_outputIndex.Append(item);
            m_itemTimes.Append(item);
            m_nIndexedBytes += item.GetLength();
            bytes += item.GetLength();
        }
        m_indexFollower.Seek(m_nCaptureId, batch.end);
        progress.grew = progress.grew || batch.end > batch.first;
        progress.items = batch.end;
        progress.done = batch.end >= size;
    }
    progress.bytes = m_nIndexedBytes;
    return progress;
}

CCaptureEngine::WriteResult CCaptureEngine::WriteCapture(CaptureFormat format, QIODevice& out,
                                                         const std::atomic<bool>* cancel, const WriteProgress& progress)
{
    uint64_t captureId = 0;
    int64_t total = 0;
    QByteArray bytes;
    {
        std::lock_guard lock(m_csCapture);
        captureId = m_nCaptureId;
        total = m_items.GetSize();
        bytes = FormatPrefix(format, m_strOutput);
    }
    // The items there are when the write begins: a capture that goes on
    // meanwhile cannot keep it going for ever.
    std::vector<CDataItem> batch;
    for (int64_t written = 0; written < total;) {
        if (cancel && *cancel)
            return WriteResult::Cancelled;
        batch.clear();
        {
            // Only copies, and only a bounded batch, under the lock.
            std::lock_guard lock(m_csCapture);
            if (m_nCaptureId != captureId || m_items.GetSize() < total)
                return WriteResult::Failed;  // cleared or restored under the write
            qint64 copied = 0;
            CDataItem scratch;
            for (int64_t i = written; i < total && batch.size() < kWriteBatchItems && copied < kWriteBatchBytes; ++i) {
                const CDataItem& item = m_items.At(i, scratch);
                // A copy takes a time of its own: the item's is carried over.
                batch.emplace_back(item);
                batch.back().SetTimeMicros(item.GetTimeMicros());
                copied += item.GetLength();
            }
        }
        for (const CDataItem& item : batch) {
            bytes += FormatItem(format, item);
            if (bytes.size() >= kWriteChunk) {
                if (out.write(bytes) != bytes.size())
                    return WriteResult::Failed;
                bytes.clear();
            }
        }
        written += int64_t(batch.size());
        if (progress)
            progress(written, total);
    }
    if (cancel && *cancel)
        return WriteResult::Cancelled;
    return bytes.isEmpty() || out.write(bytes) == bytes.size() ? WriteResult::Written : WriteResult::Failed;
}
