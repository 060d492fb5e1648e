#include "platform/open_files.h"

#include <cerrno>
#include <sys/resource.h>

namespace platform {

int raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return errno;
    if (limit.rlim_cur == limit.rlim_max)
        return 0;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 ? 0 : errno;
}

} // namespace platform
