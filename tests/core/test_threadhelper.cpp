#include "core/threadhelper.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QThread>

#include <memory>

class TestThreadHelper : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { qApp->setProperty("AppDown", QVariant()); }
    void returnsAtOnce();
    void endsAfterTheStep_data();
    void endsAfterTheStep();
};

// Going down wins over a wake-up: the loop must end, not start its next round.
void TestThreadHelper::returnsAtOnce()
{
    // seconds, app down, skip before; stop and skip after
    for (const QVector<int> &c :
         QVector<QVector<int>> { { -1, 0, 0, 0, 0 }, { 5, 1, 1, 1, 1 }, { 5, 0, 1, 0, 0 } }) {
        qApp->setProperty("AppDown", c[1]);
        bool stop = false;
        bool skip = c[2];
        QElapsedTimer timer;
        timer.start();
        ThreadHelper::WaitSeconds(c[0], stop, skip);
        // Not even one step (a second) of waiting.
        QVERIFY2(timer.elapsed() < 900, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(QVector<int>({ stop, skip }), c.mid(3));
    }
}

void TestThreadHelper::endsAfterTheStep_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("during");
    QTest::addColumn<bool>("stopAfter");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    // Zero seconds still wait one step.
    QTest::newRow("time is up") << 0 << QString() << false << 950 << 1800;
    // Within a moment: well before the ten seconds, with room for a busy machine.
    QTest::newRow("woken by a worker thread") << 10 << "wake" << false << 300 << 5000;
    QTest::newRow("app goes down") << 10 << "down" << true << 200 << 5000;
}

// Queued calls (a timer, a call from another thread) arrive during the wait; a flag they
// set ends it within a moment, long before the time is up.
void TestThreadHelper::endsAfterTheStep()
{
    QFETCH(int, seconds);
    QFETCH(QString, during);
    QFETCH(bool, stopAfter);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    bool stop = false;
    bool skip = false;
    if (during == QLatin1String("down"))
        QTimer::singleShot(200, this, [] { qApp->setProperty("AppDown", 1); });
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QThread::msleep(300);
        if (during == QLatin1String("wake"))
            QMetaObject::invokeMethod(
                this, [&skip] { skip = true; }, Qt::QueuedConnection);
    }));
    worker->start();
    QElapsedTimer timer;
    timer.start();
    ThreadHelper::WaitSeconds(seconds, stop, skip);
    const qint64 elapsed = timer.elapsed();
    QVERIFY(worker->wait(2000));
    QVERIFY2(elapsed >= minMs && elapsed < maxMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(stop, stopAfter);
    QVERIFY(!skip);
}

APP_TEST_GUILESS_MAIN(TestThreadHelper)
#include "test_threadhelper.moc"
