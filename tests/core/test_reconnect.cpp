// A MySQL connection whose server goes away: killed connections and a stopped and started
// server (a server of the test's own, see scripts/with-mariadb.sh), transactions cut in two,
// and sessions that can't get their settings.
#include "core/database.h"
#include "core/transaction.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <optional>

using TestSupport::OwnMySqlServer;
using TestSupport::TestDatabase;

namespace {

enum class Outage {
    Killed, // KILL CONNECTION from another connection
    Restarted, // the server stopped; the connection is used while it is away, then it returns
    ReturnedUnnoticed, // the server stopped and started before the connection is used again
    DownAtOpen // the connection is made while the server is away
};

// Runs `statement` until it succeeds (once), for at most ten seconds.
bool succeedsSoon(const std::function<bool()> &statement)
{
    const QDeadlineTimer deadline(10000);
    while (!statement()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

// A text that only survives with standard string literals (NO_BACKSLASH_ESCAPES).
const QString kHostile = QStringLiteral("Schrägstrich \\' und \\\\ Ende");

} // namespace

Q_DECLARE_METATYPE(Outage)

class TestReconnect : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void comesBackAfterOutage_data();
    void comesBackAfterOutage();
    void transactionLostHalfway_data();
    void transactionLostHalfway();
    void sessionSettingsRefused_data();
    void sessionSettingsRefused();

private:
    bool outage(Outage kind, Database &db);
    // The folders' names as the server holds them, by a connection of its own.
    QStringList folders();

    OwnMySqlServer m_server;
    std::unique_ptr<TestDatabase> m_data;
    // The folders the schema made; folders() lists those after them.
    int m_lastSchemaFolder = 0;
};

void TestReconnect::initTestCase()
{
    APP_REQUIRE_OWN_MYSQL_SERVER();
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void TestReconnect::init()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_data = std::make_unique<TestDatabase>(m_server.server());
    QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
    m_lastSchemaFolder
        = m_data->db()->selectOne("SELECT COALESCE(MAX(id), 0) FROM folders").value().toInt();
}

void TestReconnect::cleanup()
{
    Database::setSqlModeForTesting(QString());
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_data.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("reconnect_raw"));
    QSqlDatabase::removeDatabase(QStringLiteral("reconnect_killer"));
}

bool TestReconnect::outage(Outage kind, Database &db)
{
    switch (kind) {
    case Outage::Killed: {
        const QString id = db.selectOne(QStringLiteral("SELECT CONNECTION_ID()")).value();
        QSqlQuery kill(m_data->rawConnection(QStringLiteral("reconnect_killer")));
        return !id.isEmpty() && kill.exec(QStringLiteral("KILL CONNECTION ") + id);
    }
    case Outage::Restarted:
    case Outage::DownAtOpen:
        return m_server.stop();
    case Outage::ReturnedUnnoticed:
        return m_server.stop() && m_server.start();
    }
    return false;
}

QStringList TestReconnect::folders()
{
    QSqlDatabase raw = m_data->rawConnection(QStringLiteral("reconnect_raw"));
    QSqlQuery query(raw);
    QStringList names;
    if (!query.exec(QStringLiteral("SELECT foldername FROM folders WHERE id > %1 ORDER BY id")
                        .arg(m_lastSchemaFolder)))
        return { QStringLiteral("(unreadable: %1)").arg(query.lastError().text()) };
    while (query.next())
        names << query.value(0).toString();
    return names;
}

void TestReconnect::comesBackAfterOutage_data()
{
    QTest::addColumn<Outage>("kind");
    QTest::newRow("connection killed") << Outage::Killed;
    QTest::newRow("server stopped, used meanwhile, started") << Outage::Restarted;
    QTest::newRow("server stopped and started unnoticed") << Outage::ReturnedUnnoticed;
    QTest::newRow("connection made while the server is down") << Outage::DownAtOpen;
}

// A further connection (as each worker and dialog has) fails its statements while the server
// is away, telling why, and works again at its next statement once the server is back, with
// its session settings: a backslash stays a plain character.
void TestReconnect::comesBackAfterOutage()
{
    QFETCH(Outage, kind);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QSignalSpy broken(WriteFailures::instance(), &WriteFailures::connectionBroken);
    QSignalSpy restored(WriteFailures::instance(), &WriteFailures::connectionRestored);
    QSignalSpy failed(WriteFailures::instance(), &WriteFailures::failed);

    std::unique_ptr<Database> db;
    if (kind != Outage::DownAtOpen) {
        db = std::make_unique<Database>(true, QStringLiteral("reconnect"));
        QVERIFY(db->insertSqlClean({ { "foldername", "vorher" } }, "folders") > 0);
    }
    QVERIFY(outage(kind, db ? *db : *m_data->db()));
    if (kind == Outage::DownAtOpen) {
        db = std::make_unique<Database>(true, QStringLiteral("reconnect"));
        QVERIFY(!db->isOpen());
    }

    const bool away = kind == Outage::Restarted || kind == Outage::DownAtOpen;
    if (away) {
        QVERIFY(!db->executeSQL("INSERT INTO folders (foldername) VALUES ('während')"));
        QVERIFY(db->connectionLost());
        QVERIFY(!db->lastErrorText.isEmpty());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().value(1).toString(), db->lastErrorText);
        QCOMPARE(failed.first().value(2).toString(), db->lastErrorText);
        QVERIFY2(db->lastErrorText.startsWith("Die Verbindung zur Datenbank ist unterbrochen: ")
                     && db->lastErrorText.size() > 48,
                 qPrintable(db->lastErrorText));
        QVERIFY(db->select("SELECT id FROM folders").value().isEmpty());
        QVERIFY(!db->lastErrorText.isEmpty());
        // Told once, however many statements fail.
        QCOMPARE(broken.size(), 1);
        QVERIFY2(broken.first().value(1).toString().startsWith(
                     "Die Verbindung zur Datenbank ist unterbrochen: "),
                 qPrintable(broken.first().value(1).toString()));
        QCOMPARE(broken.first().value(2).toBool(), false);
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    }

    // The first statement after the server's return (a failed attempt holds the next one
    // back for up to a second).
    QElapsedTimer back;
    back.start();
    const QString after = QStringLiteral("nachher ") + kHostile;
    QVERIFY(succeedsSoon([&] {
        return db->executeSQL("INSERT INTO folders (foldername) VALUES ('"
                              + Database::escapeString(after) + "')");
    }));
    qInfo("First successful statement %lld ms after the server answered again",
          static_cast<long long>(back.elapsed()));
    QVERIFY(!db->connectionLost());
    QCOMPARE(restored.size(), away ? 1 : 0);
    QCOMPARE(broken.size(), away ? 1 : 0);
    QCOMPARE(db->selectOne("SELECT @@SESSION.sql_mode").value(),
             QStringLiteral("NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION"));
    const QStringList expected = kind == Outage::DownAtOpen
        ? QStringList { after }
        : QStringList { QStringLiteral("vorher"), after };
    QCOMPARE(folders(), expected);
}

void TestReconnect::transactionLostHalfway_data()
{
    QTest::addColumn<Outage>("kind");
    QTest::addColumn<bool>("nested"); // the writes in a savepoint inside the transaction
    QTest::newRow("killed, transaction") << Outage::Killed << false;
    QTest::newRow("killed, savepoint") << Outage::Killed << true;
    QTest::newRow("server restarted, transaction") << Outage::ReturnedUnnoticed << false;
    QTest::newRow("server restarted, savepoint") << Outage::ReturnedUnnoticed << true;
}

// The server undoes a transaction with its connection: what follows of it must not be written
// on the next connection, so its statements fail until it is ended; then work goes on.
void TestReconnect::transactionLostHalfway()
{
    QFETCH(Outage, kind);
    QFETCH(bool, nested);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    Database db(true, QStringLiteral("halfway"));
    {
        Transaction outer(db);
        QVERIFY(outer.isOpen());
        std::optional<Transaction> inner;
        if (nested)
            QVERIFY(inner.emplace(db).isOpen());
        QVERIFY(db.insertSqlClean({ { "foldername", "erste Hälfte" } }, "folders") > 0);

        QVERIFY(outage(kind, db));
        QCOMPARE(db.insertSqlClean({ { "foldername", "zweite Hälfte" } }, "folders"), 0);
        QVERIFY(db.lastFailureTransient());
        QCOMPARE(db.lastOutcome(), Database::Outcome::NotWritten);
        QVERIFY(!db.executeSQL("UPDATE folders SET foldername='geändert'"));
        if (inner)
            QVERIFY(!inner->commit());
        QVERIFY(!outer.commit());
        QCOMPARE(db.lastOutcome(), Database::Outcome::NotWritten);
    }
    QVERIFY(!db.inTransaction());
    QVERIFY(db.executeSQL("INSERT INTO folders (foldername) VALUES ('danach')"));
    {
        Transaction again(db);
        QVERIFY(again.isOpen());
        QVERIFY(db.insertSqlClean({ { "foldername", "neue Transaktion" } }, "folders") > 0);
        QVERIFY(again.commit());
    }
    QCOMPARE(folders(), QStringList({ "danach", "neue Transaktion" }));
}

void TestReconnect::sessionSettingsRefused_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("atOpen"); // else when reconnecting after a killed connection
    QTest::newRow("mode refused, new connection") << "NO_SUCH_MODE" << true;
    QTest::newRow("mode refused, reconnect") << "NO_SUCH_MODE" << false;
    QTest::newRow("mode without NO_BACKSLASH_ESCAPES, new connection") << "ANSI_QUOTES" << true;
    QTest::newRow("mode without NO_BACKSLASH_ESCAPES, reconnect") << "ANSI_QUOTES" << false;
}

// A session without its settings would read a backslash as an escape: it is closed, said so,
// and runs nothing until a session with them can be opened.
void TestReconnect::sessionSettingsRefused()
{
    QFETCH(QString, mode);
    QFETCH(bool, atOpen);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QSignalSpy broken(WriteFailures::instance(), &WriteFailures::connectionBroken);
    std::unique_ptr<Database> db;
    if (!atOpen)
        db = std::make_unique<Database>(true, QStringLiteral("session"));
    Database::setSqlModeForTesting(mode);
    auto restore = qScopeGuard([] { Database::setSqlModeForTesting(QString()); });
    if (atOpen) {
        db = std::make_unique<Database>(true, QStringLiteral("session"));
        QVERIFY(!db->isOpen());
    } else {
        QVERIFY(outage(Outage::Killed, *db));
    }

    const QString insert = "INSERT INTO folders (foldername) VALUES ('"
        + Database::escapeString(kHostile) + "')";
    QVERIFY(!db->executeSQL(insert));
    QVERIFY(!db->isOpen());
    QVERIFY(db->connectionLost());
    QCOMPARE(broken.size(), 1);
    QCOMPARE(broken.first().value(0).toString(), db->connectionName());
    QVERIFY2(broken.first().value(1).toString().startsWith(
                 "Die Verbindung zur Datenbank wurde geschlossen, weil ihre "
                 "Sitzungseinstellungen nicht gesetzt werden konnten: "),
             qPrintable(broken.first().value(1).toString()));
    QCOMPARE(broken.first().value(2).toBool(), true);
    QCOMPARE(folders(), QStringList());

    restore.dismiss();
    Database::setSqlModeForTesting(QString());
    QVERIFY(succeedsSoon([&] { return db->executeSQL(insert); }));
    QCOMPARE(folders(), QStringList({ kHostile }));
}

APP_TEST_GUILESS_MAIN(TestReconnect)
#include "test_reconnect.moc"
