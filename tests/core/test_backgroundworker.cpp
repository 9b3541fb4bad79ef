// The one thread beside the window: jobs in the order posted, on a thread of their own with a
// connection of their own, told back by queued signals, cancelled before or while they run.
#include "core/backgroundworker.h"
#include "core/database.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <memory>

class TestBackgroundWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void jobsRunInOrderBesideTheWindow();
    void cancelledBeforeOrWhileRunning();
};

// Each job runs on the worker's thread with the worker's connection to the program's database,
// one after the other; progress and the end reach the window's thread, which never waited.
void TestBackgroundWorker::jobsRunInOrderBesideTheWindow()
{
    APP_TEST_DATABASE(data);
    QVERIFY(data.db()->executeSQL("INSERT INTO folders (foldername) VALUES ('Keller')"));
    auto order = std::make_shared<QStringList>();
    auto threads = std::make_shared<QList<QThread *>>();
    auto read = std::make_shared<QString>();
    QMutex mutex;
    QList<QPointer<BackgroundJob>> jobs;
    QList<qint64> shown;
    int finishedOnWindow = 0;
    for (const QString &name : { QStringLiteral("erster"), QStringLiteral("zweiter") }) {
        BackgroundJob *job = BackgroundWorker::instance()->post(
            name, [=, &mutex](Database &db, BackgroundJob::Control &control) {
                QMutexLocker locker(&mutex);
                order->append(name);
                threads->append(QThread::currentThread());
                if (name == QLatin1String("zweiter"))
                    *read = db.selectOne("SELECT foldername FROM folders WHERE foldername='Keller'")
                                .orIfFailed(QStringLiteral("nicht gelesen"));
                control.progress(10, 10);
            });
        connect(job, &BackgroundJob::progressed, this,
                [&shown](qint64 done, qint64) { shown << done; });
        connect(job, &BackgroundJob::finished, this, [&finishedOnWindow, job] {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            QVERIFY(job->completed());
            ++finishedOnWindow;
        });
        jobs << job;
    }
    QTRY_COMPARE(finishedOnWindow, 2);
    QCOMPARE(*order, (QStringList { "erster", "zweiter" }));
    QCOMPARE(threads->size(), 2);
    QCOMPARE(threads->at(0), threads->at(1));
    QVERIFY(threads->at(0) != qApp->thread());
    QCOMPARE(*read, QStringLiteral("Keller"));
    QCOMPARE(shown, (QList<qint64> { 10, 10 }));
    QCOMPARE(BackgroundWorker::instance()->pending(), 0);
    // The jobs go once told.
    QTRY_VERIFY(!jobs.at(0) && !jobs.at(1));
}

// "Abbrechen": a job still queued never starts; a running one sees it between its steps. Both
// are told as finished, not completed.
void TestBackgroundWorker::cancelledBeforeOrWhileRunning()
{
    QSemaphore started;
    QSemaphore goOn;
    auto steps = std::make_shared<std::atomic<int>>(0);
    auto queuedRan = std::make_shared<std::atomic<bool>>(false);
    BackgroundJob *running = BackgroundWorker::instance()->post(
        QStringLiteral("lang"), [&, steps](Database &, BackgroundJob::Control &control) {
            started.release();
            for (int step = 0; step < 1000 && !control.cancelled(); ++step) {
                if (step == 1)
                    goOn.acquire();
                ++*steps;
            }
        });
    BackgroundJob *queued = BackgroundWorker::instance()->post(
        QStringLiteral("wartend"),
        [queuedRan](Database &, BackgroundJob::Control &) { queuedRan->store(true); });
    int finished = 0;
    bool runningCompleted = true;
    bool queuedCompleted = true;
    connect(running, &BackgroundJob::finished, this, [&] {
        runningCompleted = running->completed();
        ++finished;
    });
    connect(queued, &BackgroundJob::finished, this, [&] {
        queuedCompleted = queued->completed();
        ++finished;
    });
    QVERIFY(started.tryAcquire(1, 10000));
    queued->cancel();
    running->cancel();
    goOn.release();
    QTRY_COMPARE(finished, 2);
    QVERIFY(!runningCompleted);
    QVERIFY(!queuedCompleted);
    QVERIFY(!queuedRan->load());
    QVERIFY(*steps < 1000);
}

APP_TEST_MAIN(TestBackgroundWorker)
#include "test_backgroundworker.moc"
