#include "core/threadhelper.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QThread>

// Waits on the thread it lives in, as a worker loop does.
class Waiter : public QObject
{
    Q_OBJECT
public:
    int seconds = 0;
    bool stop = false;
    bool skip = false;
    bool waiting = false;
    qint64 elapsed = -1;
    QList<bool> callsSeenWaiting;
    bool ranOnOwnThread = false;

public slots:
    void run()
    {
        ranOnOwnThread = QThread::currentThread() == thread();
        QElapsedTimer timer;
        timer.start();
        waiting = true;
        ThreadHelper::WaitSeconds(seconds, stop, skip);
        waiting = false;
        elapsed = timer.elapsed();
        emit finished();
    }
    void wake() { skip = true; }
    void ping() { callsSeenWaiting << waiting; }

signals:
    void finished();
};

class TestThreadHelper : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void waitsOneStepMoreThanSeconds_data();
    void waitsOneStepMoreThanSeconds();
    void negativeSecondsReturnAtOnce();
    void returnsAtOnceWhenAlreadyFlagged_data();
    void returnsAtOnceWhenAlreadyFlagged();
    void stopsWhenAppGoesDownDuringWait();
    void queuedWakeUpEndsWorkerWait();
    void workerReceivesQueuedCallsWhileWaiting();
    void guiThreadReceivesEventsWhileWaiting();

private:
    struct WorkerRun
    {
        // Also ends the thread when a check failed half-way.
        ~WorkerRun()
        {
            thread.quit();
            thread.wait();
        }
        QThread thread;
        Waiter waiter;
    };
    // Starts `waiter.run()` on a fresh thread.
    static void start(WorkerRun &run, int seconds);
    static bool finish(WorkerRun &run);
};

void TestThreadHelper::start(WorkerRun &run, int seconds)
{
    run.waiter.seconds = seconds;
    run.waiter.moveToThread(&run.thread);
    run.thread.start();
    QMetaObject::invokeMethod(&run.waiter, &Waiter::run, Qt::QueuedConnection);
}

bool TestThreadHelper::finish(WorkerRun &run)
{
    run.thread.quit();
    return run.thread.wait(5000);
}

void TestThreadHelper::cleanup()
{
    QCoreApplication::instance()->setProperty("AppDown", QVariant());
}

void TestThreadHelper::waitsOneStepMoreThanSeconds_data()
{
    QTest::addColumn<int>("seconds");
    QTest::newRow("0 s: one step") << 0;
    QTest::newRow("1 s: two steps") << 1;
}

void TestThreadHelper::waitsOneStepMoreThanSeconds()
{
    QFETCH(int, seconds);
    bool stop = false;
    bool skip = false;
    QElapsedTimer timer;
    timer.start();
    ThreadHelper::WaitSeconds(seconds, stop, skip);
    const qint64 expected = (seconds + 1) * 1000;
    QVERIFY2(timer.elapsed() >= expected - 50, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(timer.elapsed() < expected + 800, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!stop);
    QVERIFY(!skip);
}

void TestThreadHelper::negativeSecondsReturnAtOnce()
{
    bool stop = false;
    bool skip = false;
    QElapsedTimer timer;
    timer.start();
    ThreadHelper::WaitSeconds(-1, stop, skip);
    ThreadHelper::WaitSeconds(-30, stop, skip);
    QVERIFY(timer.elapsed() < 200);
    QVERIFY(!stop);
}

void TestThreadHelper::returnsAtOnceWhenAlreadyFlagged_data()
{
    QTest::addColumn<bool>("appDown");
    QTest::addColumn<bool>("skip");
    QTest::addColumn<bool>("stopAfter");
    QTest::addColumn<bool>("skipAfter");
    QTest::newRow("app down") << true << false << true << false;
    // Going down wins over a wake-up: the loop must end, not start its next round.
    QTest::newRow("app down and skip") << true << true << true << true;
    QTest::newRow("skip is reset") << false << true << false << false;
}

void TestThreadHelper::returnsAtOnceWhenAlreadyFlagged()
{
    QFETCH(bool, appDown);
    QFETCH(bool, skip);
    QFETCH(bool, stopAfter);
    QFETCH(bool, skipAfter);
    if (appDown)
        QCoreApplication::instance()->setProperty("AppDown", 1);
    bool stop = false;
    QElapsedTimer timer;
    timer.start();
    ThreadHelper::WaitSeconds(5, stop, skip);
    QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(stop, stopAfter);
    QCOMPARE(skip, skipAfter);
}

void TestThreadHelper::stopsWhenAppGoesDownDuringWait()
{
    WorkerRun run;
    QSignalSpy finished(&run.waiter, &Waiter::finished);
    start(run, 10);
    QTest::qWait(300);
    QCoreApplication::instance()->setProperty("AppDown", 1);
    QVERIFY(finished.wait(3000));
    QVERIFY(finish(run));
    QVERIFY(run.waiter.ranOnOwnThread);
    QVERIFY(run.waiter.stop);
    // Noticed before the next step, not after ten seconds.
    QVERIFY2(run.waiter.elapsed < 2000, qPrintable(QString::number(run.waiter.elapsed)));
}

void TestThreadHelper::queuedWakeUpEndsWorkerWait()
{
    WorkerRun run;
    QSignalSpy finished(&run.waiter, &Waiter::finished);
    start(run, 10);
    QTest::qWait(300);
    QMetaObject::invokeMethod(&run.waiter, &Waiter::wake, Qt::QueuedConnection);
    QVERIFY(finished.wait(3000));
    QVERIFY(finish(run));
    QVERIFY(!run.waiter.skip);
    QVERIFY(!run.waiter.stop);
    QVERIFY2(run.waiter.elapsed >= 900 && run.waiter.elapsed < 2000,
             qPrintable(QString::number(run.waiter.elapsed)));
}

void TestThreadHelper::workerReceivesQueuedCallsWhileWaiting()
{
    WorkerRun run;
    QSignalSpy finished(&run.waiter, &Waiter::finished);
    start(run, 1);
    QTest::qWait(200);
    for (int i = 0; i < 3; ++i)
        QMetaObject::invokeMethod(&run.waiter, &Waiter::ping, Qt::QueuedConnection);
    QTest::qWait(300);
    QMetaObject::invokeMethod(&run.waiter, &Waiter::ping, Qt::QueuedConnection);
    QVERIFY(finished.wait(4000));
    QVERIFY(finish(run));
    QCOMPARE(run.waiter.callsSeenWaiting, (QList<bool> { true, true, true, true }));
    QVERIFY(!run.waiter.skip);
}

void TestThreadHelper::guiThreadReceivesEventsWhileWaiting()
{
    bool stop = false;
    bool skip = false;
    QElapsedTimer timer;
    timer.start();
    qint64 deliveredAfter = -1;
    QTimer::singleShot(200, this, [&] { deliveredAfter = timer.elapsed(); });
    // A wake-up from another thread during the first step ends the wait after it.
    QThread *other = QThread::create([&] {
        QThread::msleep(300);
        QMetaObject::invokeMethod(
            this, [&] { skip = true; }, Qt::QueuedConnection);
    });
    other->start();
    ThreadHelper::WaitSeconds(10, stop, skip);
    QVERIFY(other->wait(2000));
    delete other;
    QVERIFY2(deliveredAfter >= 150 && deliveredAfter < 1000,
             qPrintable(QString::number(deliveredAfter)));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!skip);
    QVERIFY(!stop);
}

APP_TEST_GUILESS_MAIN(TestThreadHelper)
#include "test_threadhelper.moc"
