#include "platform/pseudo_terminal.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace platform {

PseudoTerminal::~PseudoTerminal()
{
    Close();
}

bool PseudoTerminal::Open()
{
    Close();
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    char name[128] = {};
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    m_master = fd;
    m_slavePath = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::Close()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PseudoTerminal::WriteAll(const QByteArray& bytes, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, int(std::min<long long>(left, 100)));
    }
    return true;
}

QByteArray PseudoTerminal::ReadAvailable()
{
    QByteArray out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    return out;
}

} // namespace platform
