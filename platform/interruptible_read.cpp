#include "platform/interruptible_read.h"

#include <cerrno>
#include <csignal>
#include <mutex>
#include <unistd.h>

namespace {

// A real-time signal: nothing else in the program uses one, and unlike the
// classic signals it means nothing to a terminal or a shell.
int wakeSignal()
{
    return SIGRTMIN;
}

void ignoreWake(int) {}

} // namespace

InterruptibleRead::InterruptibleRead()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = ignoreWake;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the read must return
        sigaction(wakeSignal(), &action, nullptr);
    });
}

ssize_t InterruptibleRead::Read(int fd, void* buffer, size_t size, const std::atomic<bool>& stop)
{
    m_reader.store(pthread_self());
    // Announced before the flag is checked: Wake sets the flag before it
    // looks, so either this sees the flag or Wake sees the read.
    m_bReading.store(true);
    ssize_t n = -1;
    if (stop.load())
        errno = EINTR;
    else
        n = ::read(fd, buffer, size);
    const int error = errno;
    m_bReading.store(false);
    errno = error;
    return n;
}

void InterruptibleRead::Wake()
{
    if (m_bReading.load())
        pthread_kill(m_reader.load(), wakeSignal());
}
