// What another session holds on the shared database: a transaction the server undid to end a
// deadlock writes nothing more, and a session whose workstation is gone loses its locks within
// moments instead of keeping them for the server's idle time-out.
#include "core/database.h"
#include "core/transaction.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

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
    void cleanup() { Database::setIdleTransactionTimeoutForTesting(0); }
    void deadlockUndoesTheTransaction();
    void deadWorkstationLetsGo();
};

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

    // The other session holds folder 2, has written more, then asks for folder 1.
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
    // Waiting for folder 2, or waited for by the other: either way the server finds the
    // deadlock and undoes the lighter transaction, the program's.
    QVERIFY(holding.tryAcquire(1, 10000));
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
    QCOMPARE(db->selectCount("SELECT id FROM folders").orIfFailed(-1), 2);
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

    QSqlDatabase other = TestSupport::adminConnection(MySqlServer::fromEnvironment(),
                                                      QStringLiteral("otherworkstation"),
                                                      data.mysqlDatabaseName());
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
