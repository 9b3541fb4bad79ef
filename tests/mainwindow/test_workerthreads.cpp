// The workers' share of the processor: their threads run below the window at a nice value of
// their own, with the normal scheduling policy (an idle-scheduled worker gets nothing while
// the machine is busy), and what they start inherits it.

#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/workerpriority.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <memory>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using TestSupport::Backend;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

// How a thread is scheduled: its nice value and policy (SCHED_OTHER, SCHED_IDLE, ...).
struct Scheduling
{
    int nice = -100;
    int policy = -1;
};

Scheduling schedulingOf(pid_t thread)
{
    Scheduling found;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno == 0)
        found.nice = nice;
    found.policy = sched_getscheduler(thread);
    return found;
}

pid_t currentThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// The nice value this test was started with (`nice -n 5 ctest` gives 5): the window's
// threads keep it, and a worker goes no higher than it.
int startNice()
{
    static const int value = [] {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, 0);
        return errno == 0 ? nice : 0;
    }();
    return value;
}

int workerNice()
{
    return qMax(startNice(), int(WorkerPriority::kNice));
}

// The threads of this process with the name `name` (as the system shows it).
QList<pid_t> threadsNamed(const QString &name)
{
    QList<pid_t> found;
    const QStringList tasks
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && QString::fromUtf8(comm.readAll()).trimmed() == name)
            found << task.toInt();
    }
    return found;
}

} // namespace

class TestWorkerThreads : public QObject
{
    Q_OBJECT

private slots:
    void lowered_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("nice");
        // 0: the thread that starts the worker; 1: the worker; 2: a thread the worker starts
        // after it lowered itself, as its network requests do.
        QTest::newRow("starting thread keeps its priority") << 0 << startNice();
        QTest::newRow("worker thread") << 1 << workerNice();
        QTest::newRow("thread the worker starts") << 2 << workerNice();
    }
    void lowered()
    {
        QFETCH(int, depth);
        QFETCH(int, nice);
        Scheduling seen[3];
        bool lowered = false;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            lowered = WorkerPriority::lowerCurrentThread();
            seen[1] = schedulingOf(currentThreadId());
            std::unique_ptr<QThread> started(
                QThread::create([&] { seen[2] = schedulingOf(currentThreadId()); }));
            started->start();
            started->wait();
        }));
        worker->start();
        QVERIFY(worker->wait(30000));
        seen[0] = schedulingOf(currentThreadId());
        QVERIFY(lowered);
        QCOMPARE(seen[depth].nice, nice);
        QCOMPARE(seen[depth].policy, SCHED_OTHER);
    }

    void windowWorkers_data()
    {
        QTest::addColumn<QString>("thread");
        QTest::addColumn<int>("nice");
        QTest::newRow("synchronisation worker") << QStringLiteral("Ebay") << workerNice();
        QTest::newRow("listing worker") << QStringLiteral("ListingThread") << workerNice();
        QTest::newRow("window thread") << QString() << startNice();
    }
    void windowWorkers()
    {
        QFETCH(QString, thread);
        QFETCH(int, nice);
        TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        MainWindowFixture fixture(data);
        QVERIFY(fixture.window());

        const auto ofThread = [&thread] {
            if (thread.isEmpty())
                return schedulingOf(currentThreadId());
            const QList<pid_t> ids = threadsNamed(thread);
            return ids.size() == 1 ? schedulingOf(ids.first()) : Scheduling();
        };
        // The thread lowers itself as it starts, which may be just after the window is up.
        QTRY_COMPARE(ofThread().nice, nice);
        QCOMPARE(ofThread().policy, SCHED_OTHER);
        fixture.close();
    }
};

APP_TEST_MAIN(TestWorkerThreads)
#include "test_workerthreads.moc"
