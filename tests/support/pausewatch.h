#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace TestSupport {

// The longest time the thread that made it (the window's) went without handling its events:
// a 5 ms timer of that thread notes every time it fires. Watches from start() to stop().
class PauseWatch : public QObject
{
public:
    PauseWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { note(); });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start();
    }
    // The longest pause so far; the watch goes on.
    qint64 longest()
    {
        note();
        return m_longest;
    }
    qint64 stop()
    {
        m_timer.stop();
        return longest();
    }

private:
    void note()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = qMax(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

} // namespace TestSupport
