#include "platform/serial_port.h"

#include "platform/serial_termios.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// How far a driver may round a rate before we call it refused (a UART
// divisor is rarely exact; 3% is where framing starts to fail).
constexpr double kRateTolerance = 0.03;

// Polling again after a "readable" with nothing waiting waits this long on
// the wake-up descriptor alone, so such a terminal never makes us spin.
constexpr int kIdleBackoffMs = 10;

// Which descriptor of the wait set an event is for.
constexpr uint32_t kPortTag = 0;
constexpr uint32_t kWakeTag = 1;

bool fail(int error)
{
    errno = error;
    return false;
}

// The longest first-byte wait a terminal can time: VTIME is a byte of
// tenths of a second.
constexpr uint32_t kLongestReadWaitMs = 25500;

bool noReadWait(const COMMTIMEOUTS& t)
{
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
}

bool firstByteWait(const COMMTIMEOUTS& t)
{
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
           t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant <= kLongestReadWaitMs;
}

// The terminal's side of the read time-outs. A read that never waits keeps
// VMIN 1, so that a read of nothing still means end of file.
void applyReadWait(const COMMTIMEOUTS& t, termios2& terminal)
{
    if (firstByteWait(t)) {
        terminal.c_cc[VMIN] = 0;
        terminal.c_cc[VTIME] = cc_t((t.ReadTotalTimeoutConstant + 99) / 100);
    } else {
        terminal.c_cc[VMIN] = 1;
        terminal.c_cc[VTIME] = 0;
    }
}

bool rateClose(speed_t actual, uint32_t wanted)
{
    return std::fabs(double(actual) - double(wanted)) <= double(wanted) * kRateTolerance;
}

} // namespace

SerialPort* SerialPort::Open(const QString& devicePath)
{
    if (devicePath.isEmpty()) {
        errno = ENOENT;
        return nullptr;
    }
    const QByteArray path = devicePath.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto giveUp = [fd](int error) -> SerialPort* {
        ::close(fd);
        errno = error;
        return nullptr;
    };
    termios2 probe{};
    if (::ioctl(fd, TCGETS2, &probe) != 0)
        return giveUp(ENOTTY);
    // flock is what other serial tools honour, root included; TIOCEXCL keeps
    // out anyone who does not ask.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return giveUp(errno);
    if (::ioctl(fd, TIOCEXCL) != 0)
        return giveUp(errno);
    // The port is only ever read as binary: raw from the start, so even a
    // line whose settings are then refused neither edits, eats nor echoes
    // what arrives.
    platform::MakeRawInput(probe);
    if (::ioctl(fd, TCSETS2, &probe) != 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        return giveUp(error);
    }
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        return giveUp(error);
    }
    // The wait set is made once: a wait then costs the kernel no
    // registration on the terminal's queues, which a poll per chunk repeats.
    const int waitFd = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event port{EPOLLIN, {}};
    port.data.u32 = kPortTag;
    epoll_event wake{EPOLLIN, {}};
    wake.data.u32 = kWakeTag;
    if (waitFd < 0 || ::epoll_ctl(waitFd, EPOLL_CTL_ADD, fd, &port) != 0 ||
        ::epoll_ctl(waitFd, EPOLL_CTL_ADD, wakeFd, &wake) != 0) {
        const int error = errno;
        if (waitFd >= 0)
            ::close(waitFd);
        ::close(wakeFd);
        ::ioctl(fd, TIOCNXCL);
        return giveUp(error);
    }
    return new SerialPort(fd, wakeFd, waitFd);
}

SerialPort::~SerialPort()
{
    Close();
}

bool SerialPort::IsPseudoTerminal() const
{
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return false;
    const unsigned type = major(info.st_rdev);
    return type == 3 || (type >= 136 && type <= 143);  // BSD and Unix98 slaves
}

bool SerialPort::HungUp() const
{
    pollfd port{m_fd, POLLIN, 0};
    return ::poll(&port, 1, 0) < 0 || (port.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool SerialPort::Usable()
{
    if (m_fd < 0 || m_bInterrupted.load()) {
        errno = EBADF;
        return false;
    }
    return true;
}

bool SerialPort::GetCommState(DCB& dcb)
{
    if (!Usable())
        return false;
    termios2 t{};
    if (::ioctl(m_fd, TCGETS2, &t) != 0)
        return false;
    platform::DcbFromTermios(t, dcb);
    return true;
}

bool SerialPort::SetCommState(const DCB& dcb)
{
    if (!Usable())
        return false;
    termios2 before{};
    if (::ioctl(m_fd, TCGETS2, &before) != 0)
        return false;
    termios2 t = before;
    if (!platform::TermiosFromDcb(dcb, t))
        return fail(EINVAL);
    applyReadWait(m_timeouts, t);
    if (::ioctl(m_fd, TCSETS2, &t) != 0)
        return false;
    // A driver takes what it can and says so in what it reports back; a
    // rate, size, parity or stop setting it changed was refused.
    termios2 now{};
    if (::ioctl(m_fd, TCGETS2, &now) != 0)
        return false;
    // A pseudo-terminal has no line: it keeps every byte as 8 bits without
    // a parity bit whatever it is told, and that is no refusal.
    const tcflag_t checked = IsPseudoTerminal() ? platform::kFrameFlags & ~(CSIZE | PARENB) : platform::kFrameFlags;
    if ((now.c_cflag & checked) != (t.c_cflag & checked) || !rateClose(now.c_ospeed, dcb.BaudRate)) {
        ::ioctl(m_fd, TCSETS2, &before);
        return fail(EINVAL);
    }
    return true;
}

bool SerialPort::GetCommTimeouts(COMMTIMEOUTS& timeouts)
{
    if (!Usable())
        return false;
    timeouts = m_timeouts;
    return true;
}

bool SerialPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts)
{
    if (!Usable())
        return false;
    if (!noReadWait(timeouts) && !firstByteWait(timeouts))
        return fail(EINVAL);
    termios2 t{};
    if (::ioctl(m_fd, TCGETS2, &t) != 0)
        return false;
    applyReadWait(timeouts, t);
    if (::ioctl(m_fd, TCSETS2, &t) != 0)
        return false;
    const int flags = ::fcntl(m_fd, F_GETFL);
    const bool waiting = firstByteWait(timeouts);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, waiting ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) != 0)
        return false;
    m_timeouts = timeouts;
    return true;
}

bool SerialPort::EscapeCommFunction(int function)
{
    if (!Usable())
        return false;
    int line = 0;
    switch (function) {
    case SETDTR: line = TIOCM_DTR; break;
    case SETRTS: line = TIOCM_RTS; break;
    default: return fail(EINVAL);
    }
    return ::ioctl(m_fd, TIOCMBIS, &line) == 0;
}

bool SerialPort::PurgeComm(uint32_t flags)
{
    if (!Usable())
        return false;
    const bool input = flags & (PURGE_RXCLEAR | PURGE_RXABORT);
    const bool output = flags & (PURGE_TXCLEAR | PURGE_TXABORT);
    if (!input && !output)
        return true;
    const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (input)
        m_nKnownWaiting.store(0, std::memory_order_relaxed);
    return ::ioctl(m_fd, TCFLSH, queue) == 0;
}

bool SerialPort::SetCommMask(uint32_t mask)
{
    if (!Usable())
        return false;
    m_nMask = mask;
    return true;
}

bool SerialPort::WaitCommEvent(uint32_t& mask)
{
    mask = 0;
    if (m_fd < 0)
        return fail(EBADF);
    if (!(m_nMask & EV_RXCHAR))
        return fail(EINVAL);  // nothing selected: the wait could never end
    auto lost = [this](int error) {
        m_nLostError = error;
        errno = error;
        return false;
    };
    if (m_bInterrupted.load())
        return true;  // the port is closing: no event
    // Already answered by the last count: a flood is read chunk after chunk
    // without a poll in between.
    if (m_nKnownWaiting.load(std::memory_order_relaxed) > 0) {
        mask = EV_RXCHAR;
        return true;
    }
    for (;;) {
        if (m_bInterrupted.load())
            return true;
        epoll_event ready[2];
        const int count = ::epoll_wait(m_waitFd, ready, 2, -1);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return lost(errno);
        }
        uint32_t events = 0;
        for (int i = 0; i < count; ++i) {
            if (ready[i].data.u32 == kWakeTag)
                return true;
            events = ready[i].events;
        }
        if (!(events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
            continue;
        if (!(events & (EPOLLHUP | EPOLLERR)) && m_bReadSinceEvent) {
            m_bReadSinceEvent = false;
            mask = EV_RXCHAR;
            return true;
        }
        // What has arrived is read before a hang-up is believed.
        int waiting = 0;
        if (::ioctl(m_fd, FIONREAD, &waiting) != 0)
            return lost(errno);
        if (waiting > 0) {
            mask = EV_RXCHAR;
            return true;
        }
        if (events & (EPOLLHUP | EPOLLERR))
            return lost(EIO);
        pollfd wake{m_wakeFd, POLLIN, 0};
        ::poll(&wake, 1, kIdleBackoffMs);
    }
}

bool SerialPort::ClearCommError(uint32_t& errors, COMSTAT& status)
{
    errors = 0;
    status = COMSTAT{};
    m_nKnownWaiting.store(0, std::memory_order_relaxed);
    if (!Usable())
        return false;
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0)
        return false;
    status.cbInQue = uint32_t(waiting);
    m_nKnownWaiting.store(status.cbInQue, std::memory_order_relaxed);
    status.cbOutQue = 0;  // nothing is ever written
    return true;
}

bool SerialPort::ReadFile(void* buffer, uint32_t size, uint32_t& read)
{
    read = 0;
    if (!Usable())
        return false;
    // The time-outs say whether the descriptor blocks (VMIN 0, VTIME the
    // wait) or never waits (O_NONBLOCK).
    const bool waiting = firstByteWait(m_timeouts);
    for (;;) {
        const ssize_t n = waiting ? m_read.Read(m_fd, buffer, size, m_bInterrupted) : ::read(m_fd, buffer, size);
        // Only a read that took bytes: a port that says "readable" and then
        // has nothing must be counted before it is reported again.
        if (n > 0)
            m_bReadSinceEvent = true;
        if (n > 0 || (n == 0 && size == 0)) {
            read = uint32_t(n);
            const uint32_t known = m_nKnownWaiting.load(std::memory_order_relaxed);
            m_nKnownWaiting.store(known > read ? known - read : 0, std::memory_order_relaxed);
            return true;
        }
        m_nKnownWaiting.store(0, std::memory_order_relaxed);
        if (n < 0 && errno == EINTR) {
            if (m_bInterrupted.load())
                return fail(EBADF);
            continue;
        }
        if (n < 0 && errno == EAGAIN)
            return true;  // nothing has arrived: a read of 0 bytes
        // A waiting read that ends with nothing has timed out, unless the
        // line hung up meanwhile.
        if (n == 0 && waiting && !HungUp())
            return true;
        // The device failed (unplugged, I/O error) or hung up: a read that
        // never waits keeps VMIN 1, so an empty queue gives EAGAIN and a
        // read of nothing (end of file) means the line is gone. The capture
        // cannot go on.
        m_nLostError = n == 0 ? EIO : errno;
        errno = m_nLostError;
        return false;
    }
}

void SerialPort::Interrupt()
{
    if (m_bInterrupted.exchange(true))
        return;
    const uint64_t one = 1;
    if (m_wakeFd >= 0)
        (void)!::write(m_wakeFd, &one, sizeof one);
    m_read.Wake();
}

bool SerialPort::WaitForInterrupt(int ms)
{
    if (m_bInterrupted)
        return true;
    pollfd wake{m_wakeFd, POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&wake, 1, ms);
    while (ready < 0 && errno == EINTR);
    return m_bInterrupted || ready > 0;
}

bool SerialPort::Close()
{
    Interrupt();
    bool result = true;
    if (m_fd >= 0) {
        // The exclusive flag outlives our descriptor on some terminals
        // (a pseudo-terminal keeps it while its master is open).
        ::ioctl(m_fd, TIOCNXCL);
        result = ::close(m_fd) == 0;  // also drops the flock
        m_fd = -1;
    }
    if (m_waitFd >= 0) {
        ::close(m_waitFd);
        m_waitFd = -1;
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
    return result;
}
