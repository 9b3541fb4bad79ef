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
    if (setpriority(PRIO_PROCESS, thread, kNice) != 0) {
        qCWarning(lcWorker) << "Can't lower the priority of a worker:" << std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace WorkerPriority
