#include "platform/file_io.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace platform::file_io {

namespace {

// Checked without the lock first, so the program's own calls cost one
// atomic load.
std::atomic<bool> s_intercepting{false};
std::mutex s_mutex;
std::shared_ptr<const Interceptor> s_interceptor;

// Asks the interceptor about a call; false with errno set when it fails it.
bool Allowed(const Request& request, Outcome* outcome = nullptr)
{
    if (!s_intercepting.load(std::memory_order_acquire))
        return true;
    std::shared_ptr<const Interceptor> interceptor;
    {
        std::lock_guard lock(s_mutex);
        interceptor = s_interceptor;
    }
    if (!interceptor || !*interceptor)
        return true;
    const Outcome result = (*interceptor)(request);
    if (result.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(result.delayMs));
    if (outcome)
        *outcome = result;
    if (result.error != 0) {
        errno = result.error;
        return false;
    }
    return true;
}

} // namespace

void SetInterceptor(Interceptor interceptor)
{
    std::lock_guard lock(s_mutex);
    s_interceptor = interceptor ? std::make_shared<const Interceptor>(std::move(interceptor)) : nullptr;
    s_intercepting.store(s_interceptor != nullptr, std::memory_order_release);
}

int Open(const char* path, int flags, mode_t mode)
{
    if (!Allowed({Call::Open, -1, path, 0}))
        return -1;
    return ::open(path, flags, mode);
}

ssize_t Write(int fd, const void* data, std::size_t size)
{
    Outcome outcome;
    if (!Allowed({Call::Write, fd, {}, size}, &outcome))
        return -1;
    if (outcome.writeAtMost > 0 && outcome.writeAtMost < size)
        size = outcome.writeAtMost;
    return ::write(fd, data, size);
}

int Fdatasync(int fd)
{
    if (!Allowed({Call::Fdatasync, fd, {}, 0}))
        return -1;
    return ::fdatasync(fd);
}

int Fsync(int fd)
{
    if (!Allowed({Call::Fsync, fd, {}, 0}))
        return -1;
    return ::fsync(fd);
}

int Rename(const char* from, const char* to)
{
    if (!Allowed({Call::Rename, -1, to, 0}))
        return -1;
    return ::rename(from, to);
}

int RenameNoReplace(const char* from, const char* to)
{
    if (!Allowed({Call::Rename, -1, to, 0}))
        return -1;
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int Ftruncate(int fd, off_t size)
{
    if (!Allowed({Call::Ftruncate, fd, {}, std::size_t(size)}))
        return -1;
    return ::ftruncate(fd, size);
}

int SyncFolder(const char* path)
{
    if (!Allowed({Call::SyncFolder, -1, path, 0}))
        return -1;
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
}

} // namespace platform::file_io
