#pragma once
// A serial port on termios2: the operations the capture engine calls, with
// the handheld's names and effects. Every failing call returns false and
// leaves the reason in errno, which the caller shows to the user.
//
// Threads: one thread (the receive thread) waits and reads; another (the
// user-interface thread) may call Interrupt at any time to release it. Close
// and the destructor run only once no other thread uses the object.
#include "platform/interruptible_read.h"
#include "settings/port_settings.h"

#include <QString>
#include <atomic>
#include <cstdint>

// The port's read and write time-outs, in milliseconds.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// What ClearCommError reports; cbInQue is the number of received bytes waiting.
struct COMSTAT {
    uint32_t cbInQue;
    uint32_t cbOutQue;
};

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
enum : uint32_t { EV_RXCHAR = 0x0001 };
enum : uint32_t { PURGE_TXABORT = 0x01, PURGE_RXABORT = 0x02, PURGE_TXCLEAR = 0x04, PURGE_RXCLEAR = 0x08 };
enum : int { SETRTS = 3, SETDTR = 5 };

class SerialPort {
public:
    // Opens a terminal device for reading and writing, non-blocking and
    // exclusively (flock and TIOCEXCL). nullptr with errno set when the path
    // cannot be opened, is not a terminal (ENOTTY) or is held elsewhere.
    static SerialPort* Open(const QString& devicePath);

    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The line settings in DCB form, read from the terminal.
    bool GetCommState(DCB& dcb);
    // Applies BaudRate (any positive rate), ByteSize 5-8, Parity, StopBits
    // (1.5 only with 5 data bits, 2 not with 5) and the flags that have a
    // termios meaning, always in raw mode. A value the line cannot take
    // fails with EINVAL and leaves the previous settings in place.
    bool SetCommState(const DCB& dcb);
    bool GetCommTimeouts(COMMTIMEOUTS& timeouts);
    // Two read time-outs are accepted; others fail with EINVAL.
    // MAXDWORD, 0, 0: a read returns at once with what has arrived, even
    // nothing. MAXDWORD, MAXDWORD, n (1 to 25500 ms, in tenths of a second):
    // a read returns at once with what has arrived, and with nothing waiting
    // it waits for the first byte, at most n ms.
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts);
    // SETDTR or SETRTS raises that modem line.
    bool EscapeCommFunction(int function);
    // Discards received (PURGE_RXCLEAR) and unsent (PURGE_TXCLEAR) bytes.
    bool PurgeComm(uint32_t flags);
    bool SetCommMask(uint32_t mask);
    // Waits until received bytes are waiting (mask EV_RXCHAR) or Interrupt
    // is called (mask 0, true). When the last count of waiting bytes was
    // more than the reads since have taken, the answer is already known and
    // it returns at once without asking the driver; it polls only when the
    // queue was last seen empty, which is also where a hang-up is noticed.
    // When the device goes away or the wait itself fails it returns false
    // with errno set and mask 0, and LostError keeps the code.
    bool WaitCommEvent(uint32_t& mask);
    // Clears the error word (no line errors are tracked here) and fills the
    // count of waiting bytes (cbOutQue is 0: the program never writes).
    bool ClearCommError(uint32_t& errors, COMSTAT& status);
    // Reads what has arrived, up to `size` bytes, waiting for the first
    // byte as the time-outs say. A read that finds the line hung up (end of
    // file) fails with EIO and sets LostError, as other device failures do.
    bool ReadFile(void* buffer, uint32_t size, uint32_t& read);

    // Releases a thread waiting in WaitCommEvent or ReadFile at once; later
    // waits and reads fail with EBADF. Safe from any thread that has not
    // yet joined the reading one.
    void Interrupt();
    // Waits `ms` milliseconds unless Interrupt is called first: true when it
    // was (the waiting thread should end).
    bool WaitForInterrupt(int ms);
    // Releases the device: the exclusive hold, the lock and the descriptor.
    // Its result is that of close(2).
    bool Close();

    // Whether Interrupt was called: the capture is being stopped.
    bool Interrupted() const { return m_bInterrupted.load(); }
    // The errno with which the device was found gone, or 0.
    int LostError() const { return m_nLostError.load(); }
    int Descriptor() const { return m_fd; }

private:
    SerialPort(int fd, int wakeFd, int waitFd) : m_fd(fd), m_wakeFd(wakeFd), m_waitFd(waitFd) {}
    bool Usable();
    bool IsPseudoTerminal() const;
    bool HungUp() const;

    int m_fd = -1;
    int m_wakeFd = -1;  // an eventfd; readable once Interrupt was called
    int m_waitFd = -1;  // an epoll set of the port and the eventfd
    std::atomic<bool> m_bInterrupted{false};
    std::atomic<int> m_nLostError{0};
    // A read took bytes after the last reported event. Until one does, a readable
    // port is checked for bytes before it is reported again, so a port that
    // says "readable" with nothing to read cannot make the loop spin.
    bool m_bReadSinceEvent = true;
    // Bytes known to be waiting: the last count less what was read since.
    // It only spares a poll: a read of bytes that went after all (a hang-up)
    // fails as a lost device and is never taken for a chunk. Atomic because a check from the far end may count
    // from another thread.
    std::atomic<uint32_t> m_nKnownWaiting{0};
    uint32_t m_nMask = 0;
    COMMTIMEOUTS m_timeouts{MAXDWORD, 0, 0, 0, 0};
    InterruptibleRead m_read;
};
