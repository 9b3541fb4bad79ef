#include "core/clock.h"

#include <QMutex>

namespace {
QMutex g_mutex;
QDateTime g_fixed;
} // namespace

QDateTime Clock::currentDateTime()
{
    QMutexLocker locker(&g_mutex);
    return g_fixed.isValid() ? g_fixed : QDateTime::currentDateTime();
}

void Clock::setCurrentDateTimeForTesting(const QDateTime &now)
{
    QMutexLocker locker(&g_mutex);
    g_fixed = now;
}
