// What the seller reads when a statement fails: a German sentence for the common causes,
// each provoked for real on both databases where the database lets a test do it, with the
// driver's text kept after it.
#include "core/database.h"
#include "core/databaseerrors.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

using TestSupport::Backend;
using Cause = DatabaseErrors::Cause;

Q_DECLARE_METATYPE(DatabaseErrors::Cause)

class TestDatabaseErrors : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void failuresSpeakGerman_data();
    void failuresSpeakGerman();
    void messagesOfTheServer_data();
    void messagesOfTheServer();
    void germanRenderings_data();
    void germanRenderings();
};

void TestDatabaseErrors::failuresSpeakGerman_data()
{
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("detail"); // a part of the driver's own text
    QTest::newRow("read-only") << Cause::ReadOnly << "read";
    QTest::newRow("disk full") << Cause::DiskFull << "full";
    QTest::newRow("not a database") << Cause::Damaged << "not a database";
    QTest::newRow("locked by another program") << Cause::Locked << "lock";
    QTest::newRow("refused statement") << Cause::Other << "NoSuchColumn";
}

void TestDatabaseErrors::failuresSpeakGerman()
{
    QFETCH(Cause, cause);
    QFETCH(QString, detail);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const bool mysql = db.isMySQL;
    QVERIFY(db.insertSqlClean({ { "id", 1 }, { "Title", "Lampe" } }, "articles") > 0);
    QSqlDatabase other = t.rawConnection(mysql ? QStringLiteral("otherServerClient")
                                               : QStringLiteral("otherProgram"));
    QSqlQuery holder(other);

    QString failing = QStringLiteral("UPDATE articles SET Title='Tisch' WHERE id=1");
    switch (cause) {
    case Cause::ReadOnly:
        QVERIFY(db.executeSQL(mysql ? "SET SESSION TRANSACTION READ ONLY" : "PRAGMA query_only=1"));
        break;
    case Cause::DiskFull:
        if (mysql) {
            QVERIFY(db.executeSQL("SET SESSION max_heap_table_size=16384"));
            QVERIFY(db.executeSQL("CREATE TABLE fill (x VARCHAR(200)) ENGINE=MEMORY"));
            failing = QStringLiteral("INSERT INTO fill VALUES (REPEAT('x', 200))");
            for (int i = 0; i < 10000 && db.executeSQL(failing); ++i) { }
        } else {
            QVERIFY(db.executeSQL("PRAGMA max_page_count="
                                  + db.selectOne("PRAGMA page_count").value()));
            failing = QStringLiteral("INSERT INTO articles (Description) VALUES ('")
                + QString(100000, QLatin1Char('x')) + QStringLiteral("')");
        }
        break;
    case Cause::Damaged: {
        if (mysql)
            QSKIP("A server's tables can't be damaged from here");
        QFile garbage(t.dataDir() + "garbage.sqlite");
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'Z'));
        garbage.close();
        failing = "ATTACH DATABASE '" + garbage.fileName() + "' AS g";
        break;
    }
    case Cause::Locked:
        if (mysql) {
            QVERIFY2(holder.exec("START TRANSACTION")
                         && holder.exec("SELECT id FROM articles "
                                        "WHERE id=1 FOR UPDATE"),
                     qPrintable(holder.lastError().text()));
            QVERIFY(db.executeSQL("SET SESSION innodb_lock_wait_timeout=1"));
        } else {
            QVERIFY2(holder.exec("BEGIN IMMEDIATE"), qPrintable(holder.lastError().text()));
            db.setLockTimeout(0);
        }
        break;
    case Cause::Other:
        failing = QStringLiteral("UPDATE articles SET NoSuchColumn=1");
        break;
    case Cause::ConnectionLost:
        break;
    }

    QVERIFY(!db.executeSQL(failing));
    holder.exec(QStringLiteral("ROLLBACK"));
    const QString text = db.lastErrorText;
    const QString sentence = DatabaseErrors::sentence(cause);
    // A lock is told in German alone, without the server's English.
    if (cause == Cause::Locked) {
        QCOMPARE(text, sentence);
        return;
    }
    QVERIFY2(text.contains(detail, Qt::CaseInsensitive), qPrintable(text));
    if (cause == Cause::Other) {
        QVERIFY2(sentence.isEmpty() && !text.contains(QStringLiteral(" (")), qPrintable(text));
    } else {
        QVERIFY(!sentence.isEmpty());
        QVERIFY2(text.startsWith(sentence + QStringLiteral(" (")) && text.endsWith(')'),
                 qPrintable(text));
    }
}

void TestDatabaseErrors::messagesOfTheServer_data()
{
    QTest::addColumn<QString>("driverText");
    QTest::addColumn<Cause>("cause");
    QTest::newRow("server started read-only")
        << "The MariaDB server is running with the --read-only option so it cannot execute "
           "this statement QMYSQL: Unable to execute query"
        << Cause::ReadOnly;
    QTest::newRow("server's disk full")
        << "Disk full (/tmp/#sql_1.MAI); waiting for someone to free some space... (errno: 28 "
           "\"No space left on device\")"
        << Cause::DiskFull;
    QTest::newRow("damaged file") << "database disk image is malformed Unable to fetch row"
                                  << Cause::Damaged;
    QTest::newRow("deadlock") << "Deadlock found when trying to get lock; try restarting "
                                 "transaction QMYSQL: Unable to execute query"
                              << Cause::Locked;
    QTest::newRow("server gone") << "MySQL server has gone away QMYSQL: Unable to execute query"
                                 << Cause::ConnectionLost;
    QTest::newRow("duplicate key") << "Duplicate entry 'x' for key 'PRIMARY'" << Cause::Other;
    // Qt adds its own words, translated, after SQLite's: they stay inside the bracket.
    QTest::newRow("disk full, Qt's German words after it")
        << "database or disk is full Der Datensatz kann nicht abgeholt werden" << Cause::DiskFull;
    QTest::newRow("locked, over two lines")
        << "database is locked\nUnable to fetch row" << Cause::Locked;
}

// Messages of the server that a test can't provoke here: the same sentences.
void TestDatabaseErrors::messagesOfTheServer()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("No database involved");
    QFETCH(QString, driverText);
    QFETCH(Cause, cause);
    QCOMPARE(DatabaseErrors::causeOf(driverText), cause);
    const QString text = DatabaseErrors::describe(driverText);
    // A lock is told in German alone, without the server's English.
    if (cause == Cause::Locked) {
        QCOMPARE(text, DatabaseErrors::sentence(cause));
        return;
    }
    QVERIFY2(text.contains(driverText.simplified()), qPrintable(text));
    QCOMPARE(text == driverText, cause == Cause::Other);
    // The German sentence first, the driver's text whole in a bracket that closes, one line.
    if (cause != Cause::Other && cause != Cause::ConnectionLost)
        QCOMPARE(text,
                 DatabaseErrors::sentence(cause)
                     + " (Meldung der Datenbank: " + driverText.simplified() + ")");
}

void TestDatabaseErrors::germanRenderings_data()
{
    QTest::addColumn<bool>("lost"); // a connection lost, else one that could not be opened
    QTest::addColumn<QString>("driverText");
    QTest::addColumn<QString>("german");
    QTest::newRow("connect: refused")
        << false
        << "Can't connect to MySQL server on 'db.lager.example' (111 \"Connection refused\") "
           "QMYSQL: Unable to connect"
        << "Der Datenbankserver nimmt keine Verbindung an: läuft er, und stimmt der Port?";
    QTest::newRow("connect: no such host")
        << false << "Unknown MySQL server host 'db.lager.example' (-2) QMYSQL: Unable to connect"
        << "Einen Server dieses Namens gibt es nicht.";
    QTest::newRow("connect: wrong password")
        << false
        << "Access denied for user 'lager'@'10.0.0.5' (using password: YES) QMYSQL: Unable to "
           "connect"
        << "Der Datenbankserver hat den Benutzernamen oder das Passwort abgelehnt.";
    QTest::newRow("connect: no such database")
        << false << "Unknown database 'zerire_lager' QMYSQL: Unable to connect"
        << "Die angegebene Datenbank gibt es auf dem Server nicht.";
    QTest::newRow("connect: no answer")
        << false
        << "Can't connect to MySQL server on 'db.lager.example' (110) QMYSQL: Unable to "
           "connect"
        << "Der Datenbankserver antwortet nicht.";
    QTest::newRow("connect: anything else")
        << false << "QMYSQL: Unable to connect"
        << "Die Verbindung zur Datenbank konnte nicht hergestellt werden.";
    QTest::newRow("lost: during a statement")
        << true << "Lost connection to MySQL server during query QMYSQL: Unable to execute query"
        << "Die Verbindung zur Datenbank ist unterbrochen: die Verbindung zum Server brach ab";
    QTest::newRow("lost: server gone")
        << true << "MySQL server has gone away QMYSQL: Unable to execute query"
        << "Die Verbindung zur Datenbank ist unterbrochen: der Server hat die Verbindung beendet";
    QTest::newRow("lost: anything else")
        << true << "QMYSQL: Unable to execute query"
        << "Die Verbindung zur Datenbank ist unterbrochen: sie brach ab";
}

// The driver's English comes after a German sentence saying the same, whole, in a bracket
// that closes.
void TestDatabaseErrors::germanRenderings()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("No database involved");
    QFETCH(bool, lost);
    QFETCH(QString, driverText);
    QFETCH(QString, german);
    const QString text = lost ? DatabaseErrors::lostConnection(driverText)
                              : DatabaseErrors::connectFailure(driverText);
    QCOMPARE(text, german + " (Meldung der Datenbank: " + driverText + ")");
}

APP_TEST_MAIN(TestDatabaseErrors)
#include "test_databaseerrors.moc"
