#pragma once

#include <QDateTime>

// The program's source of the current time. Tests set a fixed time so that dates
// (log file names, activity times) can be checked without waiting.
namespace Clock {
QDateTime currentDateTime();
// Fixes the time returned by currentDateTime(); an invalid value returns to real time.
void setCurrentDateTimeForTesting(const QDateTime &now);
} // namespace Clock
