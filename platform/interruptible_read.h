#pragma once
// A read that may wait, and that another thread can cut short at once.
//
// The thread that wants the read to end sets its stop flag and calls Wake,
// which sends the reading thread a signal whose handler does nothing and
// which restarts no call: the read returns EINTR. A signal that lands just
// before the read begins finds nothing to end, so the read must have its
// own bound (a terminal's VTIME) on how long it can then go on waiting.
#include <atomic>
#include <cstddef>
#include <pthread.h>
#include <sys/types.h>

class InterruptibleRead {
public:
    // Installs the signal's empty handler (once per process).
    InterruptibleRead();

    // read(2) on `fd`, or -1 with EINTR without reading when `stop` is set.
    // One thread reads at a time.
    ssize_t Read(int fd, void* buffer, size_t size, const std::atomic<bool>& stop);
    // Ends a Read in progress. Call it after setting the reader's `stop`,
    // and before the reading thread is joined.
    void Wake();

private:
    std::atomic<bool> m_bReading{false};
    std::atomic<pthread_t> m_reader{};
};
