#include "core/closeonexec.h"

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CloseOnExec {

namespace {

// Calls `visit` with every socket of the process that is not close-on-exec; false when the
// list of descriptors could not be read.
template<typename Visit> bool forEachInheritableSocket(Visit visit)
{
    DIR *folder = ::opendir("/proc/self/fd");
    if (!folder)
        return false;
    const int own = ::dirfd(folder);
    while (const dirent *entry = ::readdir(folder)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd < 0 || fd == own)
            continue;
        const int flags = ::fcntl(int(fd), F_GETFD);
        if (flags < 0 || (flags & FD_CLOEXEC))
            continue;
        struct stat info = {};
        if (::fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        visit(int(fd), flags);
    }
    ::closedir(folder);
    return true;
}

} // namespace

int markSockets()
{
    int marked = 0;
    const bool read = forEachInheritableSocket([&marked](int fd, int flags) {
        if (::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0)
            ++marked;
    });
    return read ? marked : -1;
}

QList<int> inheritableSockets()
{
    QList<int> sockets;
    forEachInheritableSocket([&sockets](int fd, int) { sockets << fd; });
    return sockets;
}

} // namespace CloseOnExec
