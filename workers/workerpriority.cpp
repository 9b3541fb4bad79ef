#include "workers/workerpriority.h"

#include "core/logging.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace WorkerPriority {

bool lowerCurrentThread()
{
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    // A program started with a lower priority than the workers' keeps it for them too: a
    // worker is never raised above the thread that starts it.
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0 && current >= kNice)
        return true;
    if (setpriority(PRIO_PROCESS, thread, kNice) != 0) {
        qCWarning(lcWorker) << "Can't lower the priority of a worker:" << std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace WorkerPriority
