#include "core/threadhelper.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>

namespace {

bool applicationGoingDown()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->property("AppDown").toInt() == 1;
}

// One second of this thread's event loop, so queued calls (a wake-up, a stop) arrive. It
// ends early once the program goes down or a wake-up arrived, so that neither waits for
// the rest of the second.
void runEventsForOneSecond(const bool &skip)
{
    QEventLoop loop;
    QTimer::singleShot(1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, &skip] {
        if (skip || applicationGoingDown())
            loop.quit();
    });
    poll.start(50);
    loop.exec();
}

} // namespace

void ThreadHelper::WaitSeconds(int seconds, bool &stop, bool &skip)
{
    for (int step = 0; step <= seconds; ++step) {
        if (applicationGoingDown()) {
            stop = true;
            return;
        }
        if (skip) {
            skip = false;
            return;
        }
        runEventsForOneSecond(skip);
    }
}
