#pragma once
// The file calls through which the capture journal and the streamed capture
// files reach the disk. In the program each is just the system call, with
// errno as it left it. A test can install an interceptor that sees every
// call before it is made and can make it fail with a chosen errno, write
// fewer bytes than asked, or wait first; it can also note what the files
// hold at every flush to stable storage.
#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

namespace platform::file_io {

enum class Call { Open, Write, Fdatasync, Fsync, Rename, Ftruncate, SyncFolder };

struct Request {
    Call call;
    int fd = -1;           // the descriptor, where the call has one
    std::string path;      // the path (the target for Rename), where the call has one
    std::size_t size = 0;  // bytes asked for (Write) or the new length (Ftruncate)
};

struct Outcome {
    int error = 0;                  // fail the call with this errno instead of making it
    std::size_t writeAtMost = 0;    // Write: when nonzero, write at most this many bytes
    int delayMs = 0;                // wait this long before making (or failing) the call
};

using Interceptor = std::function<Outcome(const Request&)>;
// Installs an interceptor for every later call, from any thread; an empty
// one restores the plain system calls.
void SetInterceptor(Interceptor interceptor);

int Open(const char* path, int flags, mode_t mode = 0);
ssize_t Write(int fd, const void* data, std::size_t size);
int Fdatasync(int fd);
int Fsync(int fd);
int Rename(const char* from, const char* to);
// Rename that fails with EEXIST instead of replacing an existing `to`.
int RenameNoReplace(const char* from, const char* to);
int Ftruncate(int fd, off_t size);
// Flushes a folder's entries (a new or renamed name in it) to stable
// storage: open, fsync, close.
int SyncFolder(const char* path);

} // namespace platform::file_io
