// The one thread beside the window: jobs in the order posted, on a thread of their own with a
// connection of their own, told back by queued signals, cancelled before or while they run.
#include "core/backgroundworker.h"
#include "core/database.h"
#include "tests/support/heldjobs.h"
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
    void cancelledWhileHeld();
    void stepsReachTheWindow();
    // Last: it ends the worker.
    void shutdownTellsEveryJob();
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

// A job cancelled while the worker holds it before its start (the tests' hook) never starts.
void TestBackgroundWorker::cancelledWhileHeld()
{
    TestSupport::HeldJobs held;
    auto ran = std::make_shared<std::atomic<bool>>(false);
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("gehalten"), [ran](Database &, BackgroundJob::Control &) { ran->store(true); });
    bool told = false;
    connect(job, &BackgroundJob::finished, this, [&told, job] { told = !job->completed(); });
    QVERIFY(held.entered());
    job->cancel();
    held.letGo();
    QTRY_VERIFY(told);
    QVERIFY(!ran->load());
}

// What a job is at and how far it got reach the window, in order and before its end, also
// when the window connects to the job only after it ran.
void TestBackgroundWorker::stepsReachTheWindow()
{
    QSemaphore ran;
    BackgroundJob *job = BackgroundWorker::instance()->post(
        QStringLiteral("Schritte"), [&ran](Database &, BackgroundJob::Control &control) {
            for (const char *step : { "eins", "zwei", "drei" })
                control.setStep(QString::fromLatin1(step));
            control.progress(10, 10);
            ran.release();
        });
    QVERIFY(ran.tryAcquire(1, 10000));
    QStringList shown;
    bool finished = false;
    connect(job, &BackgroundJob::stepChanged, this, [&](const QString &step) {
        QVERIFY(!finished);
        shown << step;
    });
    connect(job, &BackgroundJob::progressed, this, [&](qint64 done, qint64 total) {
        QVERIFY(!finished);
        shown << QStringLiteral("%1/%2").arg(done).arg(total);
    });
    connect(job, &BackgroundJob::finished, this, [&finished] { finished = true; });
    QTRY_VERIFY(finished);
    QCOMPARE(shown, (QStringList { "eins", "zwei", "drei", "10/10" }));
}

// Closing the program stops the running job and tells every job as finished, also those
// still queued, before shutdown() returns; none of them counts as completed, and a job posted
// afterwards never starts.
void TestBackgroundWorker::shutdownTellsEveryJob()
{
    QFETCH_GLOBAL(TestSupport::Backend, backend);
    if (backend != TestSupport::Backend::SQLite)
        QSKIP("The worker ended with the first row");
    QSemaphore started;
    auto queuedRan = std::make_shared<std::atomic<bool>>(false);
    BackgroundWorker *worker = BackgroundWorker::instance();
    BackgroundJob *running = worker->post(
        QStringLiteral("lang"), [&started](Database &, BackgroundJob::Control &control) {
            started.release();
            // Until shutdown() asks it to stop.
            while (!control.cancelled())
                QThread::msleep(1);
        });
    QVERIFY(started.tryAcquire(1, 10000));
    // Queued while the other runs.
    BackgroundJob *queued = worker->post(
        QStringLiteral("wartend"),
        [queuedRan](Database &, BackgroundJob::Control &) { queuedRan->store(true); });
    QStringList told;
    for (BackgroundJob *job : { running, queued })
        connect(job, &BackgroundJob::finished, this, [&told, job] {
            told << job->name() + (job->completed() ? "+" : "-");
        });

    worker->shutdown(30000);
    QCOMPARE(told, (QStringList { "lang-", "wartend-" }));
    QVERIFY(!queuedRan->load());
    QCOMPARE(worker->pending(), 0);

    auto lateRan = std::make_shared<std::atomic<bool>>(false);
    BackgroundJob *late = worker->post(
        QStringLiteral("spät"),
        [lateRan](Database &, BackgroundJob::Control &) { lateRan->store(true); });
    bool lateTold = false;
    connect(late, &BackgroundJob::finished, this, [&lateTold, late] {
        lateTold = !late->completed();
    });
    QTRY_VERIFY(lateTold);
    QVERIFY(!lateRan->load());
}

APP_TEST_MAIN(TestBackgroundWorker)
#include "test_backgroundworker.moc"
