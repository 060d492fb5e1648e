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
    // The line was configured so that a read waits for its first byte.
    COMMTIMEOUTS waitingReads{};
    port->GetCommTimeouts(waitingReads);
    pEngine->SignalListening();

    for (;;) {
        bool underLock = pEngine->m_bReadUnderLock.load();
        if (underLock != pEngine->m_bReadingUnderLock.load())
            underLock = pEngine->SetReadsUnderLock(underLock, waitingReads);
        if (underLock) {
            if (!ReadUnderLock(pEngine, port))
                break;
        } else {
            // One read, one chunk: the read itself waits for the port, so
            // a steady line costs one call per chunk and a flood no more.
            pEngine->OnReceive();
        }
        // Stop, a device that failed (rather than an empty chunk on every
        // turn of the loop) or a chunk that found no memory (OnReceive asked
        // for the stop) ends the capture.
        if (port->Interrupted() || port->LostError() || pEngine->RanOutOfMemory())
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

bool CCaptureEngine::SetReadsUnderLock(bool underLock, const COMMTIMEOUTS& waitingReads)
{
    if (!underLock) {
        // Said before the request is looked at again: a test that asks
        // anew meanwhile either is seen here or waits for the next turn,
        // and never takes the answer to its last request for this one.
        m_bReadingUnderLock = false;
        if (m_bReadUnderLock.load()) {
            m_bReadingUnderLock = true;
            return true;
        }
    }
    COMMTIMEOUTS timeouts = waitingReads;
    if (underLock) {
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
    }
    m_hPort->SetCommTimeouts(timeouts);
    m_bReadingUnderLock = underLock;
    return underLock;
}

bool CCaptureEngine::ReadUnderLock(CCaptureEngine* pEngine, SerialPort* port)
{
    // The reads never wait here: the port's event says when bytes have
    // arrived, and then they are read chunk after chunk until a read comes
    // back short.
    uint32_t eventMask = 0;
    port->WaitCommEvent(eventMask);
    // Stop (no event) or a failed wait (no event, LostError set).
    if (eventMask != EV_RXCHAR)
        return false;
    uint32_t read = 0;
    do
        pEngine->OnReceive(&read);
    while (read == kChunkSize && !port->LostError() && !pEngine->RanOutOfMemory());
    return true;
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
    if (m_bReadingUnderLock.load(std::memory_order_relaxed))
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
