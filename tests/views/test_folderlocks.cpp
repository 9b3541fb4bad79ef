// The folder commands while another workstation (a session of the test's own on the shared
// MariaDB) holds one row, or, on the local file, another connection holds the file: a command
// that needs what is held waits a bounded while, writes nothing and says that another
// workstation is at work (not that the database is gone); one that does not need it goes
// through. Given again once the other lets go, the command is carried out.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/itemlistwidget.h"

#include <QAction>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QMimeData>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTreeView>
#include <cstdio>
#include <functional>
#include <memory>

using TestSupport::Backend;
using TestSupport::MainWindowFixture;

namespace {

// Below "Artikelvorlagen": 1 Keller with 3 Kiste, 2 Garten, 4 Dach; 5 Schuppen, whose parent
// (999) is gone. Articles: 1 in Keller, 2 in "Artikelvorlagen", 3 a running listing, 4 in
// Garten.
void seed(Database *db)
{
    for (const char *folder : { "1, 'Keller', -10", "2, 'Garten', -10", "3, 'Kiste', 1",
                                "4, 'Dach', -10", "5, 'Schuppen', 999" })
        QVERIFY(db->executeSQL(
            QStringLiteral("INSERT INTO folders (id, foldername, folderparentid) VALUES (%1)")
                .arg(QLatin1String(folder))));
    const QList<QMap<QString, QVariant>> articles {
        { { "Title", "Spaten" }, { "Folder", 1 } },
        { { "Title", "Rechen" }, { "Folder", -10 } },
        { { "Title", "Laterne" }, { "Folder", -9 }, { "ItemID", "120000000001" } },
        { { "Title", "Eimer" }, { "Folder", 2 } },
    };
    for (const auto &article : articles)
        QVERIFY(TestSupport::insertArticle(db, article) > 0);
}

// What the commands change: per folder id:parent, per article id:folder.
QString stored(Database *db)
{
    QStringList parts;
    for (const ArticleRow &row :
         *db->select("SELECT id, folderparentid, foldername FROM folders ORDER BY id"))
        parts << row.value("id").toString() + ':' + row.value("folderparentid").toString() + ':'
                + row.value("foldername").toString();
    parts << "|";
    for (const ArticleRow &row : *db->select("SELECT id, Folder FROM articles ORDER BY id"))
        parts << row.value("id").toString() + ':' + row.value("Folder").toString();
    return parts.join(' ');
}

const QString kBefore = QStringLiteral("1:-10:Keller 2:-10:Garten 3:1:Kiste 4:-10:Dach "
                                       "5:999:Schuppen | 1:1 2:-10 3:-9 4:2");

QByteArray folderPayload(qint32 id)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << id;
    return bytes;
}

struct Command
{
    QString name;
    // Shows what the command works on (opening a folder stores its open state).
    std::function<void(MainWindowFixture &)> prepare;
    std::function<void(MainWindowFixture &, DialogAnswers &)> run;
    QString after; // stored() once it went through
};

void drop(MainWindowFixture &w, const QString &format, const QByteArray &payload, int onto)
{
    auto *folders = qobject_cast<FolderModel *>(w.treeView()->model());
    QMimeData data;
    data.setData(format, payload);
    folders->dropMimeData(&data, Qt::MoveAction, -1, -1,
                          TestSupport::folderIndexOf(folders, onto));
}

void trigger(MainWindowFixture &w, const char *action)
{
    w.window()->findChild<QAction *>(QLatin1String(action))->trigger();
}

const QList<Command> kCommands {
    { "Neuer Ordner", [](MainWindowFixture &w) { QVERIFY(w.showFolder(3)); },
      [](MainWindowFixture &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Fach");
          trigger(w, "actionNeuer_Ordner");
      },
      QString(kBefore).replace("5:999:Schuppen", "5:999:Schuppen 6:3:Fach") },
    // Below the folder whose parent is gone, shown right below "Artikelvorlagen".
    { "Neuer Ordner im verwaisten Ordner", [](MainWindowFixture &w) { QVERIFY(w.showFolder(5)); },
      [](MainWindowFixture &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Fach");
          trigger(w, "actionNeuer_Ordner");
      },
      QString(kBefore).replace("5:999:Schuppen", "5:999:Schuppen 6:5:Fach") },
    { "Ordner löschen", [](MainWindowFixture &w) { QVERIFY(w.showFolder(1)); },
      [](MainWindowFixture &w, DialogAnswers &answers) {
          answers.pushQuestion(true);
          trigger(w, "actionL_schen_2");
      },
      QString(kBefore).remove("1:-10:Keller ").remove("3:1:Kiste ").replace("1:1 ", "1:-10 ") },
    { "Umbenennen", [](MainWindowFixture &w) { QVERIFY(w.showFolder(1)); },
      [](MainWindowFixture &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Dachboden");
          trigger(w, "actionUmbenennen");
      },
      QString(kBefore).replace("Keller", "Dachboden") },
    { "Ordner ziehen", [](MainWindowFixture &w) { QVERIFY(w.showFolder(3)); },
      [](MainWindowFixture &w, DialogAnswers &) {
          drop(w, FolderModel::FolderMimeType, folderPayload(2), 3);
      },
      QString(kBefore).replace("2:-10:Garten", "2:3:Garten") },
    { "Artikel ziehen", [](MainWindowFixture &w) { QVERIFY(w.showFolder(-10)); },
      [](MainWindowFixture &w, DialogAnswers &) {
          drop(w, ItemListWidget::ArticleMimeType, "2|-10", 1);
      },
      QString(kBefore).replace("| 1:1 2:-10", "| 1:1 2:1") },
    { "Angebot ziehen", [](MainWindowFixture &w) { QVERIFY(w.showFolder(-9)); },
      [](MainWindowFixture &w, DialogAnswers &) {
          drop(w, ItemListWidget::ArticleMimeType, "3|-9", 4);
      },
      kBefore + " 5:4" },
    { "Datenbank aufräumen", [](MainWindowFixture &) {},
      [](MainWindowFixture &w, DialogAnswers &) { trigger(w, "actionDatenbank_aufr_umen"); },
      QString(kBefore).replace("5:999:Schuppen", "5:-10:Schuppen") },
};

const Command *command(const QString &name)
{
    for (const Command &c : kCommands) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

const QString kFolders = QStringLiteral(
    "Ein anderer Arbeitsplatz ändert gerade die Ordner. Bitte gleich noch einmal versuchen.");
const QString kFoldersOrArticles
    = QStringLiteral("Ein anderer Arbeitsplatz ändert gerade die Ordner oder Artikel. Bitte "
                     "gleich noch einmal versuchen.");
const QString kLocalFile = QStringLiteral("Die Datenbank wird gerade von einem anderen Vorgang "
                                          "geändert. Bitte gleich noch einmal versuchen.");

} // namespace

class TestFolderLocks : public QObject
{
    Q_OBJECT
private slots:
    void heldElsewhere_data();
    void heldElsewhere();
    void changedWhileWaiting_data();
    void changedWhileWaiting();
};

void TestFolderLocks::heldElsewhere_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<QString>("name");
    // What the other session locks: "folders 1" or "articles 2" (FOR UPDATE on MariaDB);
    // "file" holds the local file's write lock.
    QTest::addColumn<QString>("held");
    // What the command tells; empty: it goes through.
    QTest::addColumn<QString>("told");
    const auto mysql = [](const char *name, const char *held, const QString &told) {
        QTest::newRow(qPrintable(QStringLiteral("%1, %2 held").arg(name, held)))
            << Backend::MySQL << QString(name) << QString(held) << told;
    };
    // A parent of the new folder's parent: the level rests on it.
    mysql("Neuer Ordner", "folders 1", kFolders);
    mysql("Neuer Ordner", "folders 2", QString());
    mysql("Neuer Ordner im verwaisten Ordner", "folders 1", QString());
    // A subfolder of the deleted branch.
    mysql("Ordner löschen", "folders 3", kFolders);
    mysql("Ordner löschen", "folders 2", QString());
    mysql("Umbenennen", "folders 1", kFolders);
    mysql("Umbenennen", "folders 3", QString());
    // The dragged folder, and a parent of the target.
    mysql("Ordner ziehen", "folders 2", kFolders);
    mysql("Ordner ziehen", "folders 1", kFolders);
    mysql("Ordner ziehen", "folders 4", QString());
    mysql("Artikel ziehen", "folders 1", kFoldersOrArticles);
    mysql("Artikel ziehen", "articles 2", kFoldersOrArticles);
    mysql("Artikel ziehen", "folders 2", QString());
    mysql("Angebot ziehen", "articles 3", kFoldersOrArticles);
    mysql("Angebot ziehen", "articles 1", QString());
    // The misplaced folder it moves.
    mysql("Datenbank aufräumen", "folders 5", kFolders);
    mysql("Datenbank aufräumen", "folders 1", QString());
    for (const char *name : { "Neuer Ordner", "Ordner löschen", "Artikel ziehen" })
        QTest::newRow(qPrintable(QStringLiteral("%1, file held").arg(QLatin1String(name))))
            << Backend::SQLite << QString(name) << QStringLiteral("file") << kLocalFile;
}

void TestFolderLocks::heldElsewhere()
{
    QFETCH(Backend, backend);
    QFETCH(QString, name);
    QFETCH(QString, held);
    QFETCH(QString, told);
    const Command *c = command(name);
    QVERIFY(c);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    if (backend == Backend::MySQL) {
        TestSupport::writeMySqlSetup(data.dataDir(), TestSupport::MySqlServer::fromEnvironment(),
                                     data.mysqlDatabaseName(), true, false);
        data.reopen();
    }
    seed(data.db());
    QCOMPARE(stored(data.db()), kBefore);
    DialogAnswers answers;
    MainWindowFixture w(data);
    QVERIFY(w.window());
    QObject::disconnect(w.window(), &MainWindow::startCheckNow, nullptr, nullptr);
    c->prepare(w);

    const QString otherName = backend == Backend::MySQL ? QStringLiteral("otherWorkstation")
                                                        : QStringLiteral("otherConnection");
    QSqlDatabase other = data.rawConnection(otherName);
    QVERIFY(other.isOpen());
    QSqlQuery hold(other);
    if (held == QLatin1String("file")) {
        QVERIFY(hold.exec("BEGIN IMMEDIATE"));
    } else {
        const QStringList what = held.split(' ');
        QVERIFY(hold.exec("START TRANSACTION"));
        QVERIFY2(hold.exec(QStringLiteral("SELECT id FROM %1 WHERE id=%2 FOR UPDATE")
                               .arg(what.at(0), what.at(1))),
                 qPrintable(hold.lastError().text()));
    }

    // Also when a check fails: a session left inside its transaction would hold the test's
    // database for good.
    auto letGo = qScopeGuard([&] {
        hold.exec("ROLLBACK");
        other.close();
    });
    QElapsedTimer took;
    took.start();
    c->run(w, answers);
    const qint64 ms = took.elapsed();
    if (QTest::currentTestFailed())
        return;
    const auto *status = w.window()->findChild<QLabel *>(QStringLiteral("SyncLabel"));
    // The picture clean-up it starts ends before the window does.
    if (name == QLatin1String("Datenbank aufräumen"))
        QTRY_VERIFY(status->text().endsWith("Aufräumen beendet")
                    || status->text().endsWith("auf Deinem Desktop verschoben"));
    std::fprintf(stderr, "%s, %s held: %lld ms\n", qPrintable(name), qPrintable(held),
                 static_cast<long long>(ms));
    // Bounded: the other workstation may hold its rows for as long as it likes.
    QVERIFY2(ms < 10000, qPrintable(QString::number(ms)));

    const QStringList conflicts = answers.shownTexts().filter(QStringLiteral("gerade"));
    if (told.isEmpty()) {
        QCOMPARE(stored(data.db()), c->after);
        QCOMPARE(conflicts, QStringList());
    } else {
        QCOMPARE(stored(data.db()), kBefore);
        QTRY_COMPARE(answers.shownTexts().filter(QStringLiteral("gerade")), QStringList { told });
    }
    // Never taken for a database that is gone.
    for (const QString &text : answers.shownTexts())
        QVERIFY2(!text.contains("Verbindung") && !text.contains("konnte nicht gespeichert"),
                 qPrintable(text));
    QVERIFY(!Database::serverAway());
    QVERIFY2(!status->text().contains("unterbrochen"), qPrintable(status->text()));
    QVERIFY(hold.exec("ROLLBACK"));
    letGo.dismiss();
    other.close();
    if (told.isEmpty())
        return;

    // Given again once the other lets go.
    QCoreApplication::processEvents();
    c->run(w, answers);
    QCOMPARE(stored(data.db()), c->after);
    QCOMPARE(answers.shownTexts().filter(QStringLiteral("gerade")).size(), 1);
}

void TestFolderLocks::changedWhileWaiting_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("other"); // what the other workstation stores while A waits
    QTest::addColumn<QString>("after"); // stored() afterwards
    QTest::addColumn<bool>("told"); // A is told to try again
    // Kiste leaves the branch A deletes: A deletes nothing.
    QTest::newRow("delete, a subfolder moved out meanwhile")
        << "Ordner löschen" << "UPDATE folders SET folderparentid=-10 WHERE id=3"
        << QString(kBefore).replace("3:1:Kiste", "3:-10:Kiste") << true;
    // Schuppen found its place meanwhile: the repair leaves it there.
    QTest::newRow("repair, the misplaced folder moved meanwhile")
        << "Datenbank aufräumen" << "UPDATE folders SET folderparentid=4 WHERE id=5"
        << QString(kBefore).replace("5:999:Schuppen", "5:4:Schuppen") << false;
}

// The other workstation holds a folder A's command needs, changes it and lets go while A
// waits for it: A decides on the folder as it is then.
void TestFolderLocks::changedWhileWaiting()
{
    QFETCH(QString, name);
    QFETCH(QString, other);
    QFETCH(QString, after);
    QFETCH(bool, told);
    const Command *c = command(name);
    QVERIFY(c);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestSupport::TestDatabase data(Backend::MySQL);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    TestSupport::writeMySqlSetup(data.dataDir(), TestSupport::MySqlServer::fromEnvironment(),
                                 data.mysqlDatabaseName(), true, false);
    data.reopen();
    seed(data.db());
    DialogAnswers answers;
    MainWindowFixture w(data);
    QVERIFY(w.window());
    QObject::disconnect(w.window(), &MainWindow::startCheckNow, nullptr, nullptr);
    c->prepare(w);

    // The other workstation, on a thread of its own: it changes the folder, and commits once
    // A waits for it.
    QSemaphore holding;
    bool committed = false;
    const auto server = TestSupport::MySqlServer::fromEnvironment();
    const QString database = data.mysqlDatabaseName();
    std::unique_ptr<QThread> workstation(QThread::create([&] {
        {
            QSqlDatabase connection
                = TestSupport::adminConnection(server, QStringLiteral("changer"), database);
            QSqlDatabase watching
                = TestSupport::adminConnection(server, QStringLiteral("watcher"), database);
            QSqlQuery query(connection);
            QSqlQuery watch(watching);
            const bool held = query.exec("START TRANSACTION") && query.exec(other);
            holding.release();
            QDeadlineTimer deadline(10000);
            while (held && !deadline.hasExpired()) {
                // A's, not another test's on the same server.
                if (watch.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.INNODB_TRX t "
                                              "JOIN information_schema.PROCESSLIST p ON p.ID = "
                                              "t.trx_mysql_thread_id WHERE t.trx_state = 'LOCK "
                                              "WAIT' AND p.DB = '%1'")
                                   .arg(database))
                    && watch.next() && watch.value(0).toInt() > 0)
                    break;
                // The server's list of transactions is renewed only when read less often than
                // every 100 ms.
                QThread::msleep(150);
            }
            committed = held && !deadline.hasExpired() && query.exec("COMMIT");
            if (!committed)
                query.exec("ROLLBACK");
        }
        QSqlDatabase::removeDatabase(QStringLiteral("changer"));
        QSqlDatabase::removeDatabase(QStringLiteral("watcher"));
    }));
    workstation->start();
    QVERIFY(holding.tryAcquire(1, 10000));
    c->run(w, answers);
    QVERIFY(workstation->wait(15000));
    QVERIFY(committed);
    const auto *status = w.window()->findChild<QLabel *>(QStringLiteral("SyncLabel"));
    if (name == QLatin1String("Datenbank aufräumen"))
        QTRY_VERIFY(status->text().endsWith("Aufräumen beendet")
                    || status->text().endsWith("auf Deinem Desktop verschoben"));
    QCOMPARE(stored(data.db()), after);
    QTRY_COMPARE(answers.shownTexts().filter(QStringLiteral("gerade")),
                 told ? QStringList { kFolders } : QStringList());
}

APP_TEST_MAIN(TestFolderLocks)
#include "test_folderlocks.moc"
