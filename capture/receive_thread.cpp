// The receive thread: waits for received characters, reads them chunk by
// chunk and records what the gate lets through. It never waits for the
// user-interface thread: a recorded chunk goes into the item list under the
// capture lock, and the followers catch up on their own threads.
#include "capture/capture_engine.h"

#include "platform/serial_port.h"

#include <QMetaObject>
#include <chrono>
#include <limits>
#include <new>
#include <utility>

namespace {

constexpr uint32_t kChunkSize = 1024;
constexpr uint32_t kEndedByClose = 100;
// Lets the line and the device behind it settle after Begin's open.
constexpr int kSettleMs = 100;

QString timeOfDayName(const std::tm& local)
{
    return QString::asprintf("%.2d:%.2d:%.2d", local.tm_hour, local.tm_min, local.tm_sec);
}

// The name for the current second. Chunks of the same second share one
// string (implicitly shared), which saves an allocation and the local-time
// conversion per chunk in a flood.
QString currentTimeOfDayName()
{
    thread_local int64_t s_second = std::numeric_limits<int64_t>::min();
    thread_local QString s_name;
    const CTime now = CTime::GetCurrentTime();
    if (now.GetTime() != s_second) {
        s_second = now.GetTime();
        s_name = timeOfDayName(now.GetLocalTm());
    }
    return s_name;
}

// Whether a read that filled the whole chunk is worth following with
// another read before the wait. Under a flood the next read finds more, and
// the wait would be a call wasted on every chunk; a writer whose writes are
// exactly a chunk long leaves nothing, and then the extra read is the wasted
// call. Guessed from how the last extra reads went, with one in eight still
// tried so that a flood that begins is noticed at once.
class FullReadGuess {
public:
    bool ReadAgain()
    {
        if (m_emptyInARow < kEmptyBeforeWaiting)
            return true;
        return ++m_skipped % kProbeEvery == 0;
    }
    void ExtraReadFound(bool something) { m_emptyInARow = something ? 0 : m_emptyInARow + 1; }

private:
    static constexpr int kEmptyBeforeWaiting = 2;
    static constexpr unsigned kProbeEvery = 8;
    int m_emptyInARow = 0;
    unsigned m_skipped = 0;
};

} // namespace

uint32_t CCaptureEngine::ReceiveThreadProc(CCaptureEngine* pEngine)
{
    // Nothing thrown may end the process from this thread: a signal that
    // finds no memory for its queued call stops the capture like a chunk.
    try {
        return ReceiveLoop(pEngine);
    } catch (const std::bad_alloc&) {
        pEngine->NoteOutOfMemory();
        pEngine->m_bListening = true;
        pEngine->m_bListening.notify_all();
        return kEndedByClose;
    }
}

uint32_t CCaptureEngine::ReceiveLoop(CCaptureEngine* pEngine)
{
    // m_hPort is set before this thread starts and cleared only after it has
    // ended, so reading it here needs no lock.
    SerialPort* port = pEngine->m_hPort;
    if (!port) {
        pEngine->SignalListening();
        return 0;
    }
    if (pEngine->m_bSettleAndPurge) {
        // Begin: the line settles here, not on the thread that drives the
        // engine, and a Stop meanwhile ends the wait at once. Whatever
        // arrived between the open and now is not part of the capture.
        if (port->WaitForInterrupt(kSettleMs)) {
            pEngine->SignalListening();
            return kEndedByClose;
        }
        port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    port->SetCommMask(EV_RXCHAR);
    pEngine->SignalListening();

    uint32_t eventMask = 0;
    FullReadGuess guess;
    for (;;) {
        // The wait polls the port only once the reads below have drained
        // it; a hang-up with nothing left to read is noticed here.
        port->WaitCommEvent(eventMask);
        // Stop (no event) or a failed wait (no event, LostError set).
        if (eventMask != EV_RXCHAR)
            break;
        // Chunk after chunk until a read comes back short or empty: the
        // port is drained, and no count of waiting bytes is needed. After a
        // full read the wait may come first (see FullReadGuess); it returns
        // at once if more is waiting.
        uint32_t read = 0;
        bool extra = false;
        for (;;) {
            pEngine->OnReceive(&read);
            if (extra)
                guess.ExtraReadFound(read > 0);
            if (read != kChunkSize || port->LostError() || pEngine->RanOutOfMemory())
                break;
            extra = guess.ReadAgain();
            if (!extra)
                break;
        }
        // A read that found the device failing ends the capture rather
        // than recording an empty chunk on every turn of the loop; a chunk
        // that found no memory ends it too (OnReceive asked for the stop).
        if (port->LostError() || pEngine->RanOutOfMemory())
            break;
    }

    // Ended by a vanished device rather than by Stop: the engine's own
    // thread closes the dead port and waits for the device. Queued, never
    // waited for.
    if (const int lost = port->LostError())
        QMetaObject::invokeMethod(
            pEngine, [pEngine, lost] { pEngine->OnPortLost(lost); }, Qt::QueuedConnection);
    return kEndedByClose;
}

void CCaptureEngine::NoteLockWait(std::chrono::steady_clock::duration waited)
{
    const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(waited).count();
    if (micros > m_nMaxLockWaitMicros.load(std::memory_order_relaxed))
        m_nMaxLockWaitMicros.store(micros, std::memory_order_relaxed);
}

void CCaptureEngine::SignalListening()
{
    m_bListening = true;
    m_bListening.notify_all();
    emit listening();
}

int CCaptureEngine::OnReceive(uint32_t* pRead)
{
    // The read is outside the capture lock, so no follower ever delays it
    // (unless a test asks for the lock around it).
    std::unique_lock lock(m_csCapture, std::defer_lock);
    if (m_bReadUnderLock.load(std::memory_order_relaxed))
        lock.lock();
    uint8_t buffer[kChunkSize];
    uint32_t read = 0;
    const int result = m_hPort->ReadFile(buffer, kChunkSize, read);
    if (pRead)
        *pRead = read;
    // Nothing was waiting: no chunk, and no item for it.
    if (result && read == 0)
        return result;
    // A read that found the device gone is no chunk of the capture: the
    // loop ends the capture instead. Nor is a read refused because Stop
    // interrupted the port: no data. Nor anything once memory ran out.
    if (m_hPort->LostError() || (!result && m_hPort->Interrupted()) || m_bOutOfMemory)
        return result;

    if (!lock.owns_lock()) {
        const auto asked = std::chrono::steady_clock::now();
        lock.lock();
        NoteLockWait(std::chrono::steady_clock::now() - asked);
    }
    int64_t recorded = -1;
    bool outOfMemory = false;
    bool overBudget = false;
    if (IsRecordTime()) {
        // No exception may leave this thread: a chunk that finds no memory
        // (its name, the ring's next block, or the list's growth, each of
        // which leaves the list as it was) is not recorded, and the capture
        // stops with everything recorded before it. So does a chunk past
        // the memory budget.
        try {
            recorded = m_items.Record(buffer, int(read), m_nShowFormat, currentTimeOfDayName());
            overBudget = recorded == CDataItemArray::kOverBudget;
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    }
    lock.unlock();
    if (outOfMemory)
        NoteOutOfMemory();
    else if (overBudget)
        NoteMemoryBudgetFull();
    if (recorded >= 0)
        emit itemsRecorded();
    return result;
}
