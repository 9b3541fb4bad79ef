// Waiting for what another session holds: a statement gives up after a bounded wait and says
// it met a lock (the server is there, nothing is written), a transaction the server undid to
// end a deadlock writes nothing more, and a session whose workstation is gone loses its locks
// within moments instead of keeping them for the server's idle time-out.
#include "core/database.h"
#include "core/transaction.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <cstdio>
#include <memory>

using TestSupport::Backend;
using TestSupport::MySqlServer;
using TestSupport::TestDatabase;

class TestLockWaits : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        Database::setResponsiveThread(nullptr);
        Database::setIdleTransactionTimeoutForTesting(0);
    }

    void heldElsewhere_data();
    void heldElsewhere();
    void deadlockUndoesTheTransaction();
    void deadWorkstationLetsGo();
};

void TestLockWaits::heldElsewhere_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<int>("responseTimeout"); // seconds; 0: the default
    QTest::addColumn<bool>("windowThread"); // the connection is made on the responsive thread
    QTest::newRow("a row another workstation holds") << Backend::MySQL << 0 << false;
    // The lock wait ends before the response time-out: no lost server is read into it.
    QTest::newRow("a row held, a short response time-out") << Backend::MySQL << 2 << false;
    QTest::newRow("the local file held, the window's connection") << Backend::SQLite << 0 << true;
}

// The statement gives up after about 2 s: nothing written, the failure a lock conflict (worth
// trying again soon), the connection not lost.
void TestLockWaits::heldElsewhere()
{
    QFETCH(Backend, backend);
    QFETCH(int, responseTimeout);
    QFETCH(bool, windowThread);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    QVERIFY(data.db()->executeSQL("INSERT INTO folders (id, foldername) VALUES (1, 'Keller')"));
    if (windowThread)
        Database::setResponsiveThread(QThread::currentThread());
    Database db(true, QStringLiteral("lockwaiter"));
    if (responseTimeout > 0)
        QVERIFY(db.setResponseTimeout(responseTimeout));

    QSqlDatabase other = data.rawConnection(backend == Backend::MySQL
                                                ? QStringLiteral("lockholder")
                                                : QStringLiteral("fileholder"));
    QVERIFY(other.isOpen());
    QSqlQuery hold(other);
    auto letGo = qScopeGuard([&] {
        hold.exec("ROLLBACK");
        other.close();
    });
    if (backend == Backend::MySQL) {
        QVERIFY(hold.exec("START TRANSACTION"));
        QVERIFY(hold.exec("SELECT id FROM folders WHERE id=1 FOR UPDATE"));
    } else {
        QVERIFY(hold.exec("BEGIN IMMEDIATE"));
    }

    QElapsedTimer waited;
    waited.start();
    QVERIFY(!db.executeSQL("UPDATE folders SET foldername='Dachboden' WHERE id=1"));
    const qint64 ms = waited.elapsed();
    std::fprintf(stderr, "Gave up after %lld ms\n", static_cast<long long>(ms));
    // The old waits: 15 s (the response time-out) on MariaDB, 10 s on the local file.
    QVERIFY2(ms < 5000, qPrintable(QString::number(ms)));
    QVERIFY(db.lastFailureLockConflict());
    QCOMPARE(db.lastOutcome(), Database::Outcome::NotWritten);
    QVERIFY(db.lastFailureTransient());
    QVERIFY(!db.connectionLost());
    QVERIFY(!Database::serverAway());
    QVERIFY2(db.lastErrorText.contains("gesperrt"), qPrintable(db.lastErrorText));

    QVERIFY(hold.exec("ROLLBACK"));
    QVERIFY(db.executeSQL("UPDATE folders SET foldername='Dachboden' WHERE id=1"));
    QCOMPARE(db.selectOne("SELECT foldername FROM folders WHERE id=1").orIfFailed("?"),
             QStringLiteral("Dachboden"));
}

// The server ends a deadlock by undoing one transaction whole. Chosen, the program's
// transaction writes nothing more: a later statement of it would otherwise run on its own,
// outside any transaction, and stay.
void TestLockWaits::deadlockUndoesTheTransaction()
{
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    TestDatabase data(Backend::MySQL);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database *db = data.db();
    QVERIFY(db->executeSQL("INSERT INTO folders (id, foldername) VALUES (1, 'A'), (2, 'B')"));
    const MySqlServer server = MySqlServer::fromEnvironment();
    const QString database = data.mysqlDatabaseName();

    Transaction command(db);
    QVERIFY(command.isOpen());
    QSqlQuery mine;
    QVERIFY(db->selectQuery("SELECT id FROM folders WHERE id=1 FOR UPDATE", mine));

    // The other session holds folder 2, has written more (the server undoes the lighter of
    // the two), then waits for folder 1.
    QSemaphore holding;
    bool othersWait = false;
    std::unique_ptr<QThread> other(QThread::create([&] {
        {
            QSqlDatabase connection
                = TestSupport::adminConnection(server, QStringLiteral("deadlockOther"), database);
            QSqlQuery query(connection);
            query.exec("SET SESSION innodb_lock_wait_timeout = 30");
            query.exec("START TRANSACTION");
            for (int i = 0; i < 20; ++i)
                query.exec(QStringLiteral("INSERT INTO options (optionname, optionvalue) VALUES "
                                          "('other%1', 'x')")
                               .arg(i));
            query.exec("SELECT id FROM folders WHERE id=2 FOR UPDATE");
            holding.release();
            othersWait = query.exec("SELECT id FROM folders WHERE id=1 FOR UPDATE");
            query.exec("ROLLBACK");
        }
        QSqlDatabase::removeDatabase(QStringLiteral("deadlockOther"));
    }));
    other->start();
    auto join = qScopeGuard([&] {
        command.rollback();
        other->wait();
    });
    QVERIFY(holding.tryAcquire(1, 10000));
    QSqlDatabase watcher
        = TestSupport::adminConnection(server, QStringLiteral("deadlockWatcher"), database);
    // Its transaction, not another test's on the same server.
    const auto othersWaiting = [&watcher, &database] {
        QSqlQuery query(watcher);
        return query.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.INNODB_TRX t "
                                         "JOIN information_schema.PROCESSLIST p ON p.ID = "
                                         "t.trx_mysql_thread_id WHERE t.trx_state = 'LOCK WAIT' "
                                         "AND p.DB = '%1'")
                              .arg(database))
            && query.next() && query.value(0).toInt() > 0;
    };
    // The server's list of transactions is renewed only when read less often than every
    // 100 ms.
    QDeadlineTimer waiting(10000);
    while (!othersWaiting() && !waiting.hasExpired())
        QThread::msleep(150);
    QVERIFY(!waiting.hasExpired());

    QVERIFY(!db->executeSQL("UPDATE folders SET foldername='B2' WHERE id=2"));
    QVERIFY(db->lastFailureLockConflict());
    QCOMPARE(db->lastOutcome(), Database::Outcome::NotWritten);
    QVERIFY(!db->connectionLost());
    QVERIFY(!db->executeSQL("INSERT INTO folders (id, foldername) VALUES (3, 'danach')"));
    QVERIFY(db->lastFailureLockConflict());
    QVERIFY(!command.commit());
    QVERIFY(db->lastFailureLockConflict());
    join.dismiss();
    QVERIFY(other->wait(10000));
    QVERIFY(othersWait);
    QSqlQuery count(watcher);
    QVERIFY(count.exec("SELECT COUNT(*) FROM folders") && count.next());
    QCOMPARE(count.value(0).toInt(), 2);
    watcher.close();
    QSqlDatabase::removeDatabase(QStringLiteral("deadlockWatcher"));
    // The connection works on, outside any transaction.
    QVERIFY(db->executeSQL("INSERT INTO folders (id, foldername) VALUES (3, 'danach')"));
}

// A workstation whose network dies inside a command: the server ends its session once its
// transaction sat idle for the idle time-out, and another workstation gets the row. A
// connection idle outside a transaction outlives that time.
void TestLockWaits::deadWorkstationLetsGo()
{
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    constexpr int kIdleSeconds = 2;
    Database::setIdleTransactionTimeoutForTesting(kIdleSeconds);
    TestSupport::MySqlProxy proxy(MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestDatabase data(proxy.server());
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    QVERIFY(data.db()->executeSQL("INSERT INTO folders (id, foldername) VALUES (1, 'Keller')"));
    Database idle(true, QStringLiteral("idleworkstation"));
    const QString idleSession = idle.selectOne("SELECT CONNECTION_ID()").orIfFailed(QString());
    QVERIFY(!idleSession.isEmpty());

    auto gone = std::make_unique<Database>(true, QStringLiteral("goneworkstation"));
    auto command = std::make_unique<Transaction>(*gone);
    QVERIFY(command->isOpen());
    QSqlQuery locked;
    QVERIFY(gone->selectQuery("SELECT id FROM folders WHERE id=1 FOR UPDATE", locked));
    proxy.stall();

    QSqlDatabase other = TestSupport::adminConnection(
        MySqlServer::fromEnvironment(), QStringLiteral("otherworkstation"), data.mysqlDatabaseName());
    QSqlQuery query(other);
    QVERIFY(query.exec("SET SESSION innodb_lock_wait_timeout = 20"));
    QVERIFY(query.exec("START TRANSACTION"));
    QElapsedTimer waited;
    waited.start();
    QVERIFY2(query.exec("SELECT id FROM folders WHERE id=1 FOR UPDATE"),
             qPrintable(query.lastError().text()));
    std::fprintf(stderr, "The row of the workstation that is gone came free after %lld ms\n",
                 static_cast<long long>(waited.elapsed()));
    QVERIFY(query.exec("ROLLBACK"));
    other.close();
    QSqlDatabase::removeDatabase(QStringLiteral("otherworkstation"));

    proxy.release();
    command.reset();
    gone.reset();
    // Idle as long, but outside a transaction: the same session.
    QCOMPARE(idle.selectOne("SELECT CONNECTION_ID()").orIfFailed(QString()), idleSession);
}

APP_TEST_GUILESS_MAIN(TestLockWaits)
#include "test_lockwaits.moc"
