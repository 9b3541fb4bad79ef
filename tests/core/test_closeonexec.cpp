// A child process the program starts holds none of its connections: a session the program
// closes ends on the server, with its locks, even while the child runs.
#include "core/closeonexec.h"
#include "core/database.h"
#include "core/transaction.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using TestSupport::MySqlProxy;
using TestSupport::MySqlServer;
using TestSupport::TestDatabase;

namespace {

// The descriptors of a child started now that are sockets ("socket:[…]").
QStringList socketsOfAChild()
{
    QProcess child;
    child.start(QStringLiteral("/bin/sh"),
                { QStringLiteral("-c"),
                  QStringLiteral("for f in /proc/$$/fd/*; do readlink \"$f\"; done") });
    if (!child.waitForFinished(10000))
        return { QStringLiteral("the child did not end") };
    QStringList sockets;
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("socket:")))
            sockets << line;
    return sockets;
}

enum class Connection { Opened, OpenedAgain };

} // namespace

Q_DECLARE_METATYPE(Connection)

class TestCloseOnExec : public QObject
{
    Q_OBJECT
private slots:
    void init() { APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void childHoldsNoConnection_data();
    void childHoldsNoConnection();
    void givenUpStatementLeavesNoLock_data();
    void givenUpStatementLeavesNoLock();
};

void TestCloseOnExec::childHoldsNoConnection_data()
{
    QTest::addColumn<Connection>("connection");
    QTest::newRow("the database connection") << Connection::Opened;
    QTest::newRow("the connection opened again after the server ended it")
        << Connection::OpenedAgain;
}

void TestCloseOnExec::childHoldsNoConnection()
{
    QFETCH(Connection, connection);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    const MySqlServer server = MySqlServer::fromEnvironment();
    TestDatabase data(server);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database worker(true, QStringLiteral("worker"));
    QVERIFY(worker.isOpen());
    switch (connection) {
    case Connection::Opened:
        break;
    case Connection::OpenedAgain: {
        const QString id = worker.selectOne("SELECT CONNECTION_ID()").value();
        QSqlQuery kill(data.rawConnection(QStringLiteral("killer")));
        QVERIFY2(kill.exec("KILL CONNECTION " + id), qPrintable(kill.lastError().text()));
        QVERIFY(worker.executeSQL("INSERT INTO folders (foldername) VALUES ('danach')"));
        QVERIFY(worker.selectOne("SELECT CONNECTION_ID()").value() != id);
        break;
    }
    }
    QCOMPARE(CloseOnExec::inheritableSockets(), QList<int>());
    QCOMPARE(socketsOfAChild(), QStringList());
    // Marked, not closed: the connection works on.
    QCOMPARE(worker.selectCount("SELECT id FROM folders").orIfFailed(-1),
             connection == Connection::OpenedAgain ? 1 : 0);
}

void TestCloseOnExec::givenUpStatementLeavesNoLock_data()
{
    QTest::addColumn<bool>("child"); // a child process runs from before the statement
    QTest::newRow("no child") << false;
    QTest::newRow("a child started while the transaction holds the row") << true;
}

// A statement of a transaction waits for the server its read time-out and is given up: the
// program closes the connection, the server ends the session and undoes the transaction, so
// another session gets the row at once, not after the server's idle limit.
void TestCloseOnExec::givenUpStatementLeavesNoLock()
{
    QFETCH(bool, child);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    MySqlProxy proxy(MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestDatabase data(proxy.server());
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database *db = data.db();
    const int folder = db->insertSqlClean({ { "foldername", "Vorher" } }, "folders");
    QVERIFY(folder > 0);
    QVERIFY(db->setResponseTimeout(1));
    QProcess sleeper;
    {
        Transaction command(*db);
        QVERIFY(command.isOpen());
        QVERIFY(db->executeSQL(
            QStringLiteral("UPDATE folders SET foldername='Mitten' WHERE id=%1").arg(folder)));
        if (child) {
            sleeper.start(QStringLiteral("sleep"), { QStringLiteral("60") });
            QVERIFY(sleeper.waitForStarted(5000));
        }
        proxy.holdAnswerTo("SELECT foldername");
        QVERIFY(!db->select("SELECT foldername FROM folders").ok());
    }
    proxy.release();

    QSqlQuery other(TestSupport::adminConnection(
        MySqlServer::fromEnvironment(), QStringLiteral("other"), data.mysqlDatabaseName()));
    QVERIFY(other.exec("SET SESSION innodb_lock_wait_timeout = 5"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY2(other.exec(
                 QStringLiteral("UPDATE folders SET foldername='Nachbar' WHERE id=%1").arg(folder)),
             qPrintable(other.lastError().text()));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(other.exec(QStringLiteral("SELECT foldername FROM folders WHERE id=%1").arg(folder))
            && other.next());
    QCOMPARE(other.value(0).toString(), QString("Nachbar"));
    if (child) {
        sleeper.kill();
        sleeper.waitForFinished(5000);
    }
}

APP_TEST_MAIN(TestCloseOnExec)
#include "test_closeonexec.moc"
