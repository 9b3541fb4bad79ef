#include "core/database.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QThread>

using TestSupport::Backend;

#define ONLY_ON(wanted)                                                                            \
    do {                                                                                           \
        QFETCH_GLOBAL(Backend, backend);                                                           \
        if (backend != (wanted))                                                                   \
            QSKIP("Not for this database");                                                        \
    } while (false)

class TestDatabaseConnections : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void furtherConnectionsOnOtherThreads();
    void sameNameOnOneThreadReplacesTheConnection();
    void lockedFile_data();
    void lockedFile();
    void lostMySqlConnectionIsReopened();
    void unreachableMySqlFallsBackToTheLocalFile();
    void fileMaintenance();
    void failedCopyRollsBack();
    void dataFolderThatCannotBeCreated();
};

void TestDatabaseConnections::furtherConnectionsOnOtherThreads()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const bool mysql = t.backend() == Backend::MySQL;

    // Two workers write through connections of their own while the GUI thread writes.
    constexpr int perThread = 40;
    std::vector<std::unique_ptr<QThread>> threads;
    QStringList errors;
    QMutex errorsMutex;
    for (const QString &name : QStringList { "listingThreadDB", "ebayDB" }) {
        threads
            .emplace_back(QThread::create([&, name] {
                Database further(true, name);
                for (int i = 0; i < perThread; ++i) {
                    if (further.isMySQL != mysql
                        || further.insertSqlClean({ { "Title", name } }, "articles") <= 0) {
                        QMutexLocker locker(&errorsMutex);
                        errors << name + ": " + further.lastErrorText;
                    }
                }
                if (!further.setOption(name, "fertig")) {
                    QMutexLocker locker(&errorsMutex);
                    errors << name + ": " + further.lastErrorText;
                }
            }))
            ->start();
    }
    for (int i = 0; i < perThread; ++i)
        QVERIFY2(db.insertSqlClean({ { "Title", "gui" } }, "articles") > 0,
                 qPrintable(db.lastErrorText));
    for (auto &thread : threads)
        QVERIFY(thread->wait(60000));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QCOMPARE(db.selectCount("SELECT id FROM articles").value(), 3 * perThread);
    QCOMPARE(db.getOption("ebayDB", QString()).value(), QStringLiteral("fertig"));
    // The workers' connections are gone with their objects.
    for (const QString &name : QSqlDatabase::connectionNames())
        QVERIFY2(!name.startsWith("listingThreadDB") && !name.startsWith("ebayDB"),
                 qPrintable(name));
}

void TestDatabaseConnections::sameNameOnOneThreadReplacesTheConnection()
{
    APP_TEST_DATABASE(t);
    auto first = std::make_unique<Database>(true, QStringLiteral("MainWindow"));
    QVERIFY(first->isOpen());
    const QString name = first->connectionName();
    QVERIFY(name.startsWith("MainWindow_"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("still in use"));
    Database second(true, QStringLiteral("MainWindow"));
    QCOMPARE(second.connectionName(), name);
    // Releasing the older object must not take the newer connection with it.
    first.reset();
    QVERIFY(QSqlDatabase::contains(name));
    QVERIFY(second.executeSQL("INSERT INTO folders (foldername) VALUES ('x')"));
    QCOMPARE(second.getCurrentDataDir(), t.dataDir());
    second.close();
    QVERIFY(!QSqlDatabase::contains(name));
}

void TestDatabaseConnections::lockedFile_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<bool>("written");
    QTest::addColumn<bool>("readWhole"); // written by execBound with its rows read whole
    QTest::newRow("waited for") << 900 << 10000 << true << false;
    // Held until the writer has given up: only the bound can end its wait.
    QTest::newRow("fails after the bound") << -1 << 700 << false << false;
    QTest::newRow("waited for, read whole") << 900 << 10000 << true << true;
    QTest::newRow("fails after the bound, read whole") << -1 << 700 << false << true;
    // 0: a further connection opened on the window's thread after start (the editor's, the
    // template chooser's), with the bound it chose itself: the window's 2 s, not 10.
    QTest::newRow("a connection of the window's thread fails after 2 s")
        << -1 << 0 << false << false;
}

// Another connection holds the file's write lock: readers go on at once, a writer retries
// until the lock is gone or the bound has passed.
void TestDatabaseConnections::lockedFile()
{
    QFETCH(int, holdMs);
    QFETCH(int, boundMs);
    QFETCH(bool, written);
    QFETCH(bool, readWhole);
    ONLY_ON(Backend::SQLite);
    APP_TEST_DATABASE(t);
    std::unique_ptr<Database> editor;
    if (boundMs == 0)
        editor = std::make_unique<Database>(true, QStringLiteral("editor"));
    Database &db = editor ? *editor : *t.db();
    if (boundMs > 0)
        db.setLockTimeout(boundMs);
    // Holds the write lock, with one uncommitted row, from another thread.
    QSemaphore locked;
    QSemaphore letGo;
    bool ok = false;
    std::unique_ptr<QThread> holder(QThread::create([&] {
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "lock_holder");
            other.setDatabaseName(t.dataDir() + Database::getDatabaseName());
            other.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
            QSqlQuery q(other);
            ok = other.open() && q.exec("BEGIN IMMEDIATE")
                && q.exec("INSERT INTO folders (foldername) VALUES ('vom Nachbarn')");
            locked.release();
            if (holdMs < 0)
                letGo.acquire();
            else
                QThread::msleep(holdMs);
            q.exec("COMMIT");
        }
        QSqlDatabase::removeDatabase("lock_holder");
    }));
    holder->start();
    // Also when a check fails.
    const auto joinHolder = qScopeGuard([&] {
        if (holdMs < 0)
            letGo.release();
        holder->wait();
    });
    locked.acquire();
    QVERIFY(ok);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(db.selectCount("SELECT id FROM folders").value(), 0);
    QVERIFY(timer.elapsed() < 500);
    Database::BoundRows none;
    QCOMPARE(readWhole ? db.execBound("INSERT INTO folders (foldername) VALUES (?)",
                                      { QStringLiteral("von hier") }, none)
                       : db.insertSqlClean({ { "foldername", "von hier" } }, "folders") > 0,
             written);
    QVERIFY(timer.elapsed() >= 700);
    if (!written) {
        QVERIFY(timer.elapsed() < 8000);
        if (boundMs == 0)
            QVERIFY2(timer.elapsed() >= 1800 && timer.elapsed() < 6000,
                     qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(db.lastErrorText.contains("gesperrt"), qPrintable(db.lastErrorText));
        letGo.release();
    }
    QVERIFY(holder->wait(5000));
    QCOMPARE(db.selectCount("SELECT id FROM folders WHERE foldername='von hier'").value(),
             written ? 1 : 0);
    QCOMPARE(db.selectCount("SELECT id FROM folders").value(), written ? 2 : 1);
}

// Three times in a row, each time by another kind of statement; a prepared insert made
// before the loss must not be used after it.
void TestDatabaseConnections::lostMySqlConnectionIsReopened()
{
    ONLY_ON(Backend::MySQL);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QVERIFY(db.insertSqlClean({ { "foldername", "vorher" } }, "folders") > 0);
    for (int round = 0; round < 3; ++round) {
        const QString id = db.selectOne("SELECT CONNECTION_ID()").value();
        QVERIFY(!id.isEmpty());
        {
            QSqlQuery kill(t.rawConnection(QStringLiteral("killer")));
            QVERIFY2(kill.exec("KILL CONNECTION " + id), qPrintable(kill.lastError().text()));
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Database error .*, try to reconnect..."));
        if (round == 0)
            QVERIFY(db.executeSQL("INSERT INTO folders (foldername) VALUES ('nach dem Abbruch')"));
        else if (round == 1)
            QCOMPARE(db.selectCount("SELECT id FROM folders").value(), 2);
        else
            QVERIFY2(db.insertSqlClean({ { "foldername", "nachher" } }, "folders") > 0,
                     qPrintable(db.lastErrorText));
        QVERIFY(db.selectOne("SELECT CONNECTION_ID()").value() != id);
    }
    QCOMPARE(db.selectCount("SELECT id FROM folders WHERE foldername='nachher'").value(), 1);
    // The new session has the same settings as the first.
    QCOMPARE(db.selectOne("SELECT @@SESSION.sql_mode").value(),
             QStringLiteral("NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION"));
    QCOMPARE(db.selectOne("SELECT @@SESSION.character_set_client").value(),
             QStringLiteral("utf8mb4"));
    QSqlDatabase::removeDatabase(QStringLiteral("killer"));
}

void TestDatabaseConnections::unreachableMySqlFallsBackToTheLocalFile()
{
    ONLY_ON(Backend::SQLite); // one run is enough
    QTemporaryDir dir;
    // A port that certainly refuses: taken and closed again.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    TestSupport::MySqlServer nowhere { "127.0.0.1", probe.serverPort(), "niemand", "geheim" };
    probe.close();
    TestSupport::writeMySqlSetup(dir.path() + '/', nowhere, "shop", true);

    DialogAnswers answers;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Can't open MySQL database"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not reachable"));
    Database db(dir.path());
    QVERIFY(!db.isMySQL && db.isOpen());
    QVERIFY(QFile::exists(dir.path() + "/ZirevPavlet.sqlite"));
    QVERIFY(!qApp->property("mysqlhostname").isValid());
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 2);
    QVERIFY(db.setOption("x", "y"));
    QCOMPARE(db.getOption("x", QString()).value(), QStringLiteral("y"));
}

// A checkpoint puts every row into the file itself, so that a copy of the file alone, as the
// backup packs it, holds them all; compacting shrinks the file (not on MySQL).
void TestDatabaseConnections::fileMaintenance()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    if (db.isMySQL) {
        const Database::Cleaned cleaned = db.cleanDB();
        QVERIFY(cleaned.ok() && cleaned.removedStored && !cleaned.compacted);
        QVERIFY(db.checkpoint());
        return;
    }
    Database worker(true, QStringLiteral("BackupInfo"));
    const QString blob(20000, 'x');
    for (int i = 0; i < 100; ++i)
        QVERIFY(worker.executeSQL("INSERT INTO articles (Description) VALUES ('" + blob + "')"));
    QVERIFY(db.checkpoint());
    const QString copy = t.dataDir() + "copy.sqlite";
    QVERIFY(QFile::copy(t.dataDir() + Database::getDatabaseName(), copy));
    {
        QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "copycheck");
        check.setDatabaseName(copy);
        QSqlQuery q(check);
        QVERIFY(check.open() && q.exec("SELECT COUNT(*) FROM articles") && q.next());
        QCOMPARE(q.value(0).toInt(), 100);
    }
    QSqlDatabase::removeDatabase("copycheck");

    QVERIFY(db.executeSQL("DELETE FROM articles"));
    const Database::Cleaned cleaned = db.cleanDB();
    QVERIFY2(cleaned.ok() && cleaned.compacted, qPrintable(cleaned.error));
    // The sizes before and after: megabytes down to kilobytes.
    const QString text = Database::sizeText(cleaned.sizeBefore) + " / "
        + Database::sizeText(cleaned.sizeAfter);
    QVERIFY2(QRegularExpression("^[\\d,]+ MB / [\\d,]+ kB$").match(text).hasMatch(),
             qPrintable(text));
}

// The copy of an article fails at its variations: nothing of it stays, and no transaction is
// left open that would keep every other connection from writing.
void TestDatabaseConnections::failedCopyRollsBack()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const bool mysql = t.backend() == Backend::MySQL;
    const int id = db.insertSqlClean({ { "Title", "Vorlage" } }, "articles");
    QVERIFY(id > 0);
    const QString article = QString::number(id);
    QVERIFY(db.executeSQL("INSERT INTO articles_images (article_id, image) VALUES (" + article
                          + ", 'bild.jpg')"));
    QVERIFY(db.executeSQL("INSERT INTO articles_variations (article_id) VALUES (" + article + ")"));
    QVERIFY2(db.executeSQL(mysql ? "CREATE TRIGGER fail_copy BEFORE INSERT ON articles_variations "
                                   "FOR EACH ROW SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'voll'"
                                 : "CREATE TRIGGER fail_copy BEFORE INSERT ON articles_variations "
                                   "BEGIN SELECT RAISE(ABORT, 'voll'); END"),
             qPrintable(db.lastErrorText));

    QCOMPARE(db.DuplicateRow("articles", "id", article, "Title", "Kopie"), 0);
    QVERIFY(db.lastErrorText.contains("voll"));
    QCOMPARE(db.selectCount("SELECT id FROM articles").value(), 1);
    QCOMPARE(db.selectCount("SELECT id FROM articles_images").value(), 1);

    Database other(true, QStringLiteral("afterCopy"));
    other.setLockTimeout(0);
    if (mysql)
        QVERIFY(other.executeSQL("SET SESSION innodb_lock_wait_timeout = 1"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY2(other.executeSQL("UPDATE articles SET Title = 'danach' WHERE id = " + article),
             qPrintable(other.lastErrorText));
    QVERIFY(timer.elapsed() < 900);
}

// Told once, and no database made anywhere else in its place.
void TestDatabaseConnections::dataFolderThatCannotBeCreated()
{
    ONLY_ON(Backend::SQLite);
    QTemporaryDir dir;
    QFile blocker(dir.path() + "/kein_ordner");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = blocker.fileName() + "/Zerire3/";
    DialogAnswers answers;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Der Datenordner"));
    Database db(folder);
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.lastMessageText(),
             "Der Datenordner \"" + folder
                 + "\" kann nicht angelegt werden. Das Programm kann so "
                   "keine Daten speichern.");
    QVERIFY(!db.isOpen());
    QVERIFY(!db.executeSQL("INSERT INTO folders (foldername) VALUES ('x')"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList { "kein_ordner" });
}

APP_TEST_MAIN(TestDatabaseConnections)
#include "test_databaseconnections.moc"
