// The background worker's connection and end: its jobs work on the folder the window told
// it, whatever main Database is made meanwhile; closing the program joins the worker after
// the step in hand, so no job runs on while the program ends.
#include "core/backgroundworker.h"
#include "core/connectionsettings.h"
#include "core/database.h"
#include "tests/support/heldjobs.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>

class TestWorkerLifetime : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void jobsStayOnTheToldFolder();
    void jobsKeepTheToldMode_data();
    void jobsKeepTheToldMode();
    // Last: it ends the worker.
    void closingJoinsTheStepInHand();
};

// A job held while another folder's main Database is made (as the settings do to store the
// next start's folder) starts on the folder the window told, not on the one published last;
// told nothing, it follows what is published, as before.
void TestWorkerLifetime::jobsStayOnTheToldFolder()
{
    APP_TEST_DATABASE(running);
    QVERIFY(running.db()->executeSQL("INSERT INTO folders (foldername) VALUES ('Laufend')"));
    BackgroundWorker *worker = BackgroundWorker::instance();
    worker->setConnectionSettings(ConnectionSettings::published());
    // The job's data folder and whether it finds the running folder's row.
    const auto seenBy = [](std::shared_ptr<QString> seen, std::shared_ptr<QSemaphore> done) {
        return [seen, done](Database &db, BackgroundJob::Control &) {
            *seen = db.getCurrentDataDir() + QLatin1Char('|')
                + db.selectOne("SELECT foldername FROM folders WHERE foldername='Laufend'")
                      .orIfFailed(QStringLiteral("nicht gelesen"));
            done->release();
        };
    };
    const auto folderSeen = [worker, seenBy] {
        auto seen = std::make_shared<QString>();
        auto done = std::make_shared<QSemaphore>();
        worker->post(QStringLiteral("lesen"), seenBy(seen, done));
        return done->tryAcquire(1, 20000) ? *seen : QStringLiteral("kein Ende");
    };
    const QString onRunning = running.dataDir() + QStringLiteral("|Laufend");
    QCOMPARE(folderSeen(), onRunning);

    QTemporaryDir elsewhere;
    {
        TestSupport::HeldJobs held;
        auto seen = std::make_shared<QString>();
        auto finished = std::make_shared<QSemaphore>();
        worker->post(QStringLiteral("während"), seenBy(seen, finished));
        QVERIFY(held.entered());
        // Published while the job waits to start, and still while it runs.
        Database other(elsewhere.path());
        QVERIFY(other.isOpen());
        held.letGo();
        QVERIFY(finished->tryAcquire(1, 20000));
        QCOMPARE(*seen, onRunning);
        // Told the other folder's settings, the next job opens its connection there.
        worker->setConnectionSettings(ConnectionSettings::published());
        QCOMPARE(folderSeen(), other.getCurrentDataDir() + QLatin1Char('|'));
        // Untold, the jobs follow the latest main Database.
        worker->setConnectionSettings(ConnectionSettings());
        QCOMPARE(folderSeen(), other.getCurrentDataDir() + QLatin1Char('|'));
    }
    TestSupport::clearDatabaseProperties();
}

void TestWorkerLifetime::jobsKeepTheToldMode_data()
{
    QTest::addColumn<QString>("mode"); // how the main Database opened the local file
    QTest::addColumn<QString>("stored"); // what a job's write leaves
    QTest::newRow("written") << QString() << QStringLiteral("1");
    QTest::newRow("only read") << QStringLiteral("ro") << QStringLiteral("0");
    QTest::newRow("only read, unchangeable") << QStringLiteral("immutable") << QStringLiteral("0");
}

// A local file the window opened only for reading is only read by the jobs too, also once
// another folder's main Database published a writable file meanwhile.
void TestWorkerLifetime::jobsKeepTheToldMode()
{
    QFETCH_GLOBAL(TestSupport::Backend, backend);
    if (backend != TestSupport::Backend::SQLite)
        QSKIP("the mode of the local file only");
    QFETCH(QString, mode);
    QFETCH(QString, stored);
    APP_TEST_DATABASE(running);
    const QVariant published = qApp->property("sqlitereadonly");
    qApp->setProperty("sqlitereadonly", mode.isEmpty() ? QVariant() : QVariant(mode));
    BackgroundWorker *worker = BackgroundWorker::instance();
    worker->setConnectionSettings(ConnectionSettings::published());
    qApp->setProperty("sqlitereadonly", published);
    auto done = std::make_shared<QSemaphore>();
    auto written = std::make_shared<bool>(false);
    worker->post(QStringLiteral("schreiben"),
                 [done, written](Database &db, BackgroundJob::Control &) {
                     *written = db.executeSQL("INSERT INTO folders (foldername) VALUES ('Job')");
                     done->release();
                 });
    const bool finished = done->tryAcquire(1, 20000);
    worker->setConnectionSettings(ConnectionSettings());
    QVERIFY(finished);
    QCOMPARE(*written, stored == QLatin1String("1"));
    QCOMPARE(running.db()
                 ->selectOne("SELECT COUNT(*) FROM folders WHERE foldername='Job'")
                 .orIfFailed(QStringLiteral("nicht gelesen")),
             stored);
    TestSupport::clearDatabaseProperties();
}

// A job whose step outlasts the wait at the end is waited for: shutdown() returns only once
// the step in hand has ended and the thread is joined.
void TestWorkerLifetime::closingJoinsTheStepInHand()
{
    QFETCH_GLOBAL(TestSupport::Backend, backend);
    if (backend != TestSupport::Backend::SQLite)
        QSKIP("The worker ended with the first row");
    QSemaphore started;
    auto stepEnded = std::make_shared<std::atomic<bool>>(false);
    auto worker = BackgroundWorker::instance();
    QThread *thread = nullptr;
    BackgroundJob *job
        = worker->post(QStringLiteral("Einheit"),
                       [&started, &thread, stepEnded](Database &, BackgroundJob::Control &control) {
                           thread = QThread::currentThread();
                           started.release();
                           while (!control.cancelled())
                               QThread::msleep(1);
                           // The unit in hand is finished after the program was asked to close.
                           QThread::msleep(300);
                           stepEnded->store(true);
                       });
    QVERIFY(started.tryAcquire(1, 10000));
    bool told = false;
    connect(job, &BackgroundJob::finished, this, [&told] { told = true; });
    worker->shutdown(1);
    QVERIFY(stepEnded->load());
    QVERIFY(told);
    QVERIFY(thread);
}

APP_TEST_GUILESS_MAIN(TestWorkerLifetime)
#include "test_workerlifetime.moc"
