#pragma once

#include <QByteArray>
#include <QFile>

#include <malloc.h>

namespace TestSupport {

// How high this process's resident memory rose during a step (Linux): its peak since start()
// above what was resident then, whatever the step released before it ended.
class PeakMemory
{
public:
    // Starts a new peak. Free memory goes back to the system first, so that its reuse does
    // not hide what the step takes. False where the peak can't be reset (skip the check).
    bool start()
    {
        malloc_trim(0);
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1)
            return false;
        refs.close();
        m_start = field("VmRSS:");
        return m_start >= 0;
    }
    // Bytes the peak rose above the start.
    qint64 growth() const { return field("VmHWM:") - m_start; }

private:
    static qint64 field(const char *name)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith(name))
                return line.mid(int(qstrlen(name))).trimmed().split(' ').first().toLongLong()
                    * 1024;
        }
        return -1;
    }

    qint64 m_start = -1;
};

} // namespace TestSupport
