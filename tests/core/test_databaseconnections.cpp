#include "core/database.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>

using TestSupport::Backend;

namespace {

// Holds SQLite's write lock from another thread for `holdMs`, then commits.
class WriteLockHolder : public QThread
{
public:
    WriteLockHolder(QString file, int holdMs)
        : m_file(std::move(file))
        , m_holdMs(holdMs)
    { }
    QSemaphore locked;
    bool ok = false;

protected:
    void run() override
    {
        const QString name = QStringLiteral("lock_holder");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_file);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
            QSqlQuery q(db);
            ok = db.open() && q.exec(QStringLiteral("BEGIN IMMEDIATE"))
                && q.exec(
                    QStringLiteral("INSERT INTO folders (foldername) VALUES ('vom Nachbarn')"));
            locked.release();
            QThread::msleep(m_holdMs);
            q.exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

private:
    QString m_file;
    int m_holdMs;
};

} // namespace

class TestDatabaseConnections : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void furtherConnectionsOnOtherThreads();
    void sameNameOnOneThreadReplacesTheConnection();
    void lockedFileIsWaitedFor();
    void lockedFileFailsAfterTheBound();
    void readersDoNotWaitForAWriter();
    void lostMySqlConnectionIsReopened();
    void checkpointPutsEveryRowIntoTheFile();
    void unreachableMySqlFallsBackToTheLocalFile();
    void cleanDbReportsSizes();
};

void TestDatabaseConnections::furtherConnectionsOnOtherThreads()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QCOMPARE(qApp->property("mysqlhostname").isValid(), t.backend() == Backend::MySQL);

    // Two workers write through connections of their own while the GUI thread writes.
    constexpr int perThread = 40;
    QList<QThread *> threads;
    QStringList errors;
    QMutex errorsMutex;
    for (const QString &name : { QStringLiteral("listingThreadDB"), QStringLiteral("ebayDB") }) {
        threads << QThread::create([&, name] {
            Database further(true, name);
            if (further.isMySQL != (t.backend() == Backend::MySQL)) {
                QMutexLocker locker(&errorsMutex);
                errors << name + QStringLiteral(": wrong mode");
            }
            for (int i = 0; i < perThread; ++i) {
                QMap<QString, QVariant> row;
                row.insert(QStringLiteral("Title"), QStringLiteral("%1 %2").arg(name).arg(i));
                if (further.insertSqlClean(row, QStringLiteral("articles")) <= 0) {
                    QMutexLocker locker(&errorsMutex);
                    errors << further.lastErrorText;
                }
            }
            further.setOption(name, QStringLiteral("fertig"));
        });
    }
    for (QThread *thread : threads)
        thread->start();
    for (int i = 0; i < perThread; ++i) {
        QMap<QString, QVariant> row;
        row.insert(QStringLiteral("Title"), QStringLiteral("gui %1").arg(i));
        QVERIFY2(db.insertSqlClean(row, QStringLiteral("articles")) > 0,
                 qPrintable(db.lastErrorText));
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(60000));
        delete thread;
    }
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles")), 3 * perThread);
    QCOMPARE(db.getOption(QStringLiteral("ebayDB"), QString()), QStringLiteral("fertig"));
    // The workers' connections are gone with their objects.
    for (const QString &name : QSqlDatabase::connectionNames())
        QVERIFY2(!name.startsWith(QLatin1String("listingThreadDB"))
                     && !name.startsWith(QLatin1String("ebayDB")),
                 qPrintable(name));
}

void TestDatabaseConnections::sameNameOnOneThreadReplacesTheConnection()
{
    APP_TEST_DATABASE(t);
    auto first = std::make_unique<Database>(true, QStringLiteral("MainWindow"));
    QVERIFY(first->isOpen());
    const QString name = first->connectionName();
    QVERIFY(name.startsWith(QLatin1String("MainWindow_")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("still in use")));
    Database second(true, QStringLiteral("MainWindow"));
    QCOMPARE(second.connectionName(), name);
    QVERIFY(second.isOpen());
    // Releasing the older object must not take the newer connection with it.
    first.reset();
    QVERIFY(QSqlDatabase::contains(name));
    QVERIFY(second.executeSQL(QStringLiteral("INSERT INTO folders (foldername) VALUES ('x')")));
    QCOMPARE(second.getCurrentDataDir(), t.dataDir());
    second.close();
    QVERIFY(!QSqlDatabase::contains(name));
}

void TestDatabaseConnections::lockedFileIsWaitedFor()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("SQLite file locks only");
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    WriteLockHolder holder(t.dataDir() + Database::getDatabaseName(), 900);
    holder.start();
    holder.locked.acquire();
    QVERIFY(holder.ok);

    QElapsedTimer timer;
    timer.start();
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QVERIFY2(db.executeSQL(QStringLiteral("INSERT INTO folders (foldername) VALUES ('von hier')")),
             qPrintable(db.lastErrorText));
    QVERIFY(timer.elapsed() >= 700);
    QVERIFY(log.count(QStringLiteral("Database is locked, wait 200ms and try again")) >= 2);
    QVERIFY(holder.wait(5000));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM folders")), 2);
}

void TestDatabaseConnections::lockedFileFailsAfterTheBound()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("SQLite file locks only");
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    db.setLockTimeout(700);
    WriteLockHolder holder(t.dataDir() + Database::getDatabaseName(), 3000);
    holder.start();
    holder.locked.acquire();

    QElapsedTimer timer;
    timer.start();
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("foldername"), QStringLiteral("zu spät"));
    QCOMPARE(db.insertSqlClean(row, QStringLiteral("folders")), 0);
    QVERIFY(db.lastErrorText.contains(QLatin1String("locked")));
    QVERIFY(timer.elapsed() >= 700);
    QVERIFY(timer.elapsed() < 2500);
    QVERIFY(log.count(QStringLiteral("Database is locked, wait 200ms and try again")) >= 2);
    QCOMPARE(log.count(QStringLiteral("SQL Insert Error: ")), 1);
    QVERIFY(holder.wait(5000));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM folders WHERE foldername='zu spät'")),
             0);
}

void TestDatabaseConnections::readersDoNotWaitForAWriter()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("SQLite file locks only");
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QVERIFY(db.executeSQL(QStringLiteral("INSERT INTO folders (foldername) VALUES ('da')")));
    WriteLockHolder holder(t.dataDir() + Database::getDatabaseName(), 1500);
    holder.start();
    holder.locked.acquire();
    QElapsedTimer timer;
    timer.start();
    // The uncommitted row of the writer is not seen, and nobody waits.
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM folders")), 1);
    QVERIFY(timer.elapsed() < 500);
    QVERIFY(holder.wait(5000));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM folders")), 2);
}

void TestDatabaseConnections::lostMySqlConnectionIsReopened()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::MySQL)
        QSKIP("MySQL only");
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    // A prepared insert made before the connection was lost must not be used after it.
    QMap<QString, QVariant> folder;
    folder.insert(QStringLiteral("foldername"), QStringLiteral("vorher"));
    QVERIFY(db.insertSqlClean(folder, QStringLiteral("folders")) > 0);
    for (int round = 0; round < 3; ++round) {
        const QString id = db.selectOne(QStringLiteral("SELECT CONNECTION_ID()"));
        QVERIFY(!id.isEmpty());
        {
            QSqlDatabase admin = t.rawConnection(QStringLiteral("killer"));
            QSqlQuery kill(admin);
            QVERIFY2(kill.exec(QStringLiteral("KILL CONNECTION %1").arg(id)),
                     qPrintable(kill.lastError().text()));
        }
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral("^Database error .*, try to reconnect...")));
        if (round == 0) {
            QVERIFY2(db.executeSQL(QStringLiteral(
                         "INSERT INTO folders (foldername) VALUES ('nach dem Abbruch')")),
                     qPrintable(db.lastErrorText));
        } else if (round == 1) {
            QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM folders")), 2);
        } else {
            folder.insert(QStringLiteral("foldername"), QStringLiteral("nachher"));
            QVERIFY2(db.insertSqlClean(folder, QStringLiteral("folders")) > 0,
                     qPrintable(db.lastErrorText));
        }
        QVERIFY(db.selectOne(QStringLiteral("SELECT CONNECTION_ID()")) != id);
    }
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM folders WHERE foldername='nachher'")),
             1);
    // The new session has the same settings as the first.
    QCOMPARE(db.selectOne(QStringLiteral("SELECT @@SESSION.sql_mode")),
             QStringLiteral("NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT @@SESSION.character_set_client")),
             QStringLiteral("utf8mb4"));
    QSqlDatabase::removeDatabase(QStringLiteral("killer"));
}

void TestDatabaseConnections::checkpointPutsEveryRowIntoTheFile()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("SQLite only");
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    Database worker(true, QStringLiteral("BackupInfo"));
    for (int i = 0; i < 50; ++i)
        QVERIFY(worker.executeSQL(
            QStringLiteral("INSERT INTO folders (foldername) VALUES ('f%1')").arg(i)));
    QVERIFY(db.checkpoint());

    // A copy of the database file alone, as the backup packs it, holds every row.
    const QString copy = t.dataDir() + QStringLiteral("copy.sqlite");
    QVERIFY(QFile::copy(t.dataDir() + Database::getDatabaseName(), copy));
    {
        QSqlDatabase check
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copycheck"));
        check.setDatabaseName(copy);
        QVERIFY(check.open());
        QSqlQuery q(check);
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM folders")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 50);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copycheck"));
}

void TestDatabaseConnections::unreachableMySqlFallsBackToTheLocalFile()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("one run is enough");
    QTemporaryDir dir;
    // A port that certainly refuses: taken and closed again.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    TestSupport::MySqlServer nowhere;
    nowhere.host = QStringLiteral("127.0.0.1");
    nowhere.port = probe.serverPort();
    nowhere.user = QStringLiteral("niemand");
    nowhere.password = QStringLiteral("geheim");
    probe.close();
    TestSupport::writeMySqlSetup(dir.path() + QLatin1Char('/'), nowhere, QStringLiteral("shop"),
                                 true);

    DialogAnswers answers;
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Can't open MySQL database")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not reachable")));
    Database db(dir.path());
    QVERIFY(!db.isMySQL);
    QVERIFY(db.isOpen());
    QVERIFY(QFile::exists(dir.path() + QStringLiteral("/ZirevPavlet.sqlite")));
    QVERIFY(!qApp->property("mysqlhostname").isValid());
    QVERIFY(!qApp->property("mysqlsyncworkstation").isValid());
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 2);
    QVERIFY(answers.messages().first().text.contains(QLatin1String("lokalen Datenbank")));
    // The program stays usable.
    db.setOption(QStringLiteral("x"), QStringLiteral("y"));
    QCOMPARE(db.getOption(QStringLiteral("x"), QString()), QStringLiteral("y"));
}

void TestDatabaseConnections::cleanDbReportsSizes()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    DialogAnswers answers;
    if (t.backend() == Backend::MySQL) {
        db.cleanDB(nullptr);
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.messages().first().text,
                 QStringLiteral("Diese Funktion ist im MySQL Modus nicht verfügbar"));
        QCOMPARE(answers.messages().first().type, 0);
        return;
    }
    const QString blob(20000, QLatin1Char('x'));
    for (int i = 0; i < 100; ++i)
        QVERIFY(db.executeSQL(
            QStringLiteral("INSERT INTO articles (Description) VALUES ('%1')").arg(blob)));
    QVERIFY(db.executeSQL(QStringLiteral("DELETE FROM articles")));
    db.cleanDB(nullptr);
    QCOMPARE(answers.messages().size(), 1);
    const auto message = answers.messages().first();
    QCOMPARE(message.type, 0);
    const QRegularExpression text(QStringLiteral(
        "^Die Datenbank wurde erfolgreich aufgeräumt, vorherige Größe: (\\d+,\\d) (Bytes|kB|MB), "
        "danach (\\d+,\\d) (Bytes|kB|MB)\\. Nicht mehr genutzte Bilder werden im Hintergrund "
        "aufgeräumt\\.$"));
    const auto match = text.match(message.text);
    QVERIFY2(match.hasMatch(), qPrintable(message.text));
    QCOMPARE(match.captured(2), QStringLiteral("MB"));
    QCOMPARE(match.captured(4), QStringLiteral("kB"));
}

APP_TEST_MAIN(TestDatabaseConnections)
#include "test_databaseconnections.moc"
