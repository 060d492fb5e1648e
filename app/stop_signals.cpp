#include "app/stop_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int s_pipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t ignored = ::write(s_pipe[1], &number, 1);
    errno = saved;
}

void install(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

CStopSignals::CStopSignals(QObject* parent) : QObject(parent)
{
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without the pipe the signals keep their default: the process ends
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CStopSignals::Read);
    install(onSignal);
}

CStopSignals::~CStopSignals()
{
    if (s_pipe[0] < 0)
        return;
    install(SIG_DFL);
    delete m_notifier;
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

void CStopSignals::Read()
{
    unsigned char number = 0;
    int last = 0;
    while (::read(s_pipe[0], &number, 1) == 1)
        last = number;
    if (last)
        emit stopRequested(last);
}
