// The engine's life, its followers and the operations on the whole capture:
// Clear Output, the saved mark, the output area's index and the two ways
// the capture is written out.
#include "capture/capture_engine.h"

#include "capture/port_reconnect.h"
#include "data/capture_formats.h"
#include "data/capture_journal.h"
#include "data/item_rendering.h"
#include "settings/settings_persistence.h"

#include <QElapsedTimer>
#include <QIODevice>

#include <algorithm>

namespace {

const QString kWelcomeText = QStringLiteral("Welcome to Vantrel \r\n Ver 0.4");

// Bytes of items indexed per hold of the capture lock, so the receive
// thread never waits long for it.
constexpr qint64 kIndexBytesPerLock = 512 * 1024;
// Written in pieces of about this size, so the whole file never sits in memory.
constexpr qsizetype kWriteChunk = 1 << 16;

} // namespace

CCaptureEngine::CCaptureEngine(QObject* parent) : QObject(parent)
{
    m_strOutput = kWelcomeText;
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
}

CCaptureEngine::~CCaptureEngine()
{
    // No receive thread may outlive the engine.
    ClosePort();
    // The journal writes what it still lacks before the list goes.
    m_journal.reset();
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

int CCaptureEngine::UnsavedItems()
{
    std::lock_guard lock(m_csCapture);
    const int saved = m_nSavedCaptureId == m_nCaptureId ? m_nSavedItems : 0;
    return std::max(0, m_items.GetSize() - saved);
}

void CCaptureEngine::OnCaptureSaved(uint64_t captureId, int items)
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
        const int size = m_items.GetSize();
        const int from = m_indexFollower.CaptureId() == m_nCaptureId ? m_indexFollower.Taken() : 0;
        int most = 0;
        for (qint64 bytes = 0; from + most < size && (most == 0 || bytes < kIndexBytesPerLock); ++most)
            bytes += m_items.GetAt(from + most).GetLength();
        const CItemFollower::Batch batch = m_indexFollower.Take(m_nCaptureId, size, qMax(most, 1));
        if (batch.restarted) {
            // Cleared since the last visit: the text starts over.
            m_outputIndex.Reset(m_nCaptureId, m_strOutput);
            m_nIndexedBytes = 0;
            progress.restarted = true;
        }
        for (int i = batch.first; i < batch.end; ++i) {
            m_outputIndex.Append(m_items.GetAt(i));
            m_nIndexedBytes += m_items.GetAt(i).GetLength();
        }
        progress.grew = progress.grew || batch.end > batch.first;
        progress.items = batch.end;
        progress.done = batch.end >= size;
    }
    progress.bytes = m_nIndexedBytes;
    return progress;
}

bool CCaptureEngine::WriteOutputText(QIODevice& out)
{
    // Written piece by piece from the model, so a long capture never needs a
    // second full copy of its text in memory.
    std::lock_guard lock(m_csCapture);
    QByteArray bytes = m_strOutput.toUtf8();
    QString entry;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        entry.clear();
        AppendItemEntry(entry, m_items.GetAt(i));
        bytes += entry.toUtf8();
        if (bytes.size() >= kWriteChunk) {
            if (out.write(bytes) != bytes.size())
                return false;
            bytes.clear();
        }
    }
    return out.write(bytes) == bytes.size();
}

bool CCaptureEngine::WriteSendData(QIODevice& out)
{
    // "name",Kind,"hex text" and a line end per item, oldest first; nothing
    // at all for an empty list. Names and hex text hold neither quotes nor
    // commas, so nothing needs escaping.
    std::lock_guard lock(m_csCapture);
    QByteArray bytes;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        AppendSendDataLine(bytes, m_items.GetAt(i));
        if (bytes.size() >= kWriteChunk) {
            if (out.write(bytes) != bytes.size())
                return false;
            bytes.clear();
        }
    }
    return bytes.isEmpty() || out.write(bytes) == bytes.size();
}
