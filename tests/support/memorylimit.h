#pragma once

#include <QFile>
#include <QList>
#include <QtGlobal>

#include <sys/resource.h>
#include <unistd.h>

namespace TestSupport {

// What this process takes now, from /proc/self/statm: its address space and the part of it
// resident in memory, in bytes; 0 and 0 when that can't be read.
struct MemoryUse
{
    qint64 addressSpace = 0;
    qint64 resident = 0;

    static MemoryUse now()
    {
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (!statm.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> pages = statm.readAll().simplified().split(' ');
        if (pages.size() < 2)
            return {};
        const qint64 pageSize = sysconf(_SC_PAGESIZE);
        return { pages.at(0).toLongLong() * pageSize, pages.at(1).toLongLong() * pageSize };
    }
};

// While it lives, this process can take no more address space than it has now plus
// `headroom`: a regression that allocates without bound fails with std::bad_alloc, which
// ends the test, instead of taking the machine's memory.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(qint64 headroom)
    {
        getrlimit(RLIMIT_AS, &m_previous);
        const qint64 used = MemoryUse::now().addressSpace;
        if (used <= 0)
            return;
        rlimit limit = m_previous;
        limit.rlim_cur = static_cast<rlim_t>(used + headroom);
        if (m_previous.rlim_max != RLIM_INFINITY && limit.rlim_cur > m_previous.rlim_max)
            limit.rlim_cur = m_previous.rlim_max;
        m_active = setrlimit(RLIMIT_AS, &limit) == 0;
    }
    ~AddressSpaceLimit()
    {
        if (m_active)
            setrlimit(RLIMIT_AS, &m_previous);
    }
    AddressSpaceLimit(const AddressSpaceLimit &) = delete;
    AddressSpaceLimit &operator=(const AddressSpaceLimit &) = delete;

    // False when the limit could not be set (then nothing guards the test).
    bool active() const { return m_active; }

private:
    rlimit m_previous {};
    bool m_active = false;
};

} // namespace TestSupport
