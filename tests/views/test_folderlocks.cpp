// The folder commands while another workstation (a session of the test's own) holds a row of
// the shared database, or another connection the local file: a command that needs what is held
// waits a bounded while, writes nothing and says that another workstation is at work, never
// that the database is gone; one that does not need it goes through. A folder the other changes
// and lets go while the command waits is taken as it is then.
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
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlQuery>
#include <QThread>
#include <QTreeView>
#include <memory>

using TestSupport::Backend;
using TestSupport::MainWindowFixture;

namespace {

// Per folder id:parent:name, per article id:folder. Below "Artikelvorlagen": 1 Keller with
// 3 Kiste, 2 Garten, 4 Dach; 5 Schuppen, whose parent (999) is gone. Articles: 1 in Keller,
// 2 in "Artikelvorlagen", 3 a running listing, 4 in Garten.
const QString kBefore = QStringLiteral("1:-10:Keller 2:-10:Garten 3:1:Kiste 4:-10:Dach "
                                       "5:999:Schuppen | 1:1 2:-10 3:-9 4:2");

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

void drop(MainWindowFixture &w, const QString &format, const QByteArray &payload, int onto)
{
    auto *folders = qobject_cast<FolderModel *>(w.treeView()->model());
    QMimeData data;
    data.setData(format, payload);
    folders->dropMimeData(&data, Qt::MoveAction, -1, -1, TestSupport::folderIndexOf(folders, onto));
}

// Gives `command` at the window, which shows `folder`, and answers its dialog. What it stores.
QString give(MainWindowFixture &w, DialogAnswers &answers, const QString &command)
{
    const auto trigger = [&w](const char *action) {
        w.window()->findChild<QAction *>(QLatin1String(action))->trigger();
    };
    if (command == "Neuer Ordner" || command == "Neuer Ordner im verwaisten") {
        TestSupport::answerFolderEdit("Fach");
        trigger("actionNeuer_Ordner");
        return command == "Neuer Ordner" ? "6:3:Fach" : "6:5:Fach";
    }
    if (command == "Umbenennen") {
        TestSupport::answerFolderEdit("Dachboden");
        trigger("actionUmbenennen");
    } else if (command == "Ordner löschen") {
        answers.pushQuestion(true);
        trigger("actionL_schen_2");
    } else if (command == "Ordner ziehen") {
        QByteArray garten;
        QDataStream(&garten, QIODevice::WriteOnly) << qint32(2);
        drop(w, FolderModel::FolderMimeType, garten, 3);
    } else if (command == "Artikel ziehen") {
        drop(w, ItemListWidget::ArticleMimeType, "2|-10", 1);
    } else if (command == "Angebot ziehen") {
        drop(w, ItemListWidget::ArticleMimeType, "3|-9", 4);
    } else {
        trigger("actionDatenbank_aufr_umen");
    }
    return {};
}

// kBefore after `command`, carried out on it.
QString after(const QString &command, const QString &added)
{
    QString state = kBefore;
    if (!added.isEmpty())
        return state.replace("5:999:Schuppen", "5:999:Schuppen " + added);
    if (command == "Umbenennen")
        return state.replace("Keller", "Dachboden");
    if (command == "Ordner löschen")
        return state.remove("1:-10:Keller ").remove("3:1:Kiste ").replace("| 1:1", "| 1:-10");
    if (command == "Ordner ziehen")
        return state.replace("2:-10:Garten", "2:3:Garten");
    if (command == "Artikel ziehen")
        return state.replace("| 1:1 2:-10", "| 1:1 2:1");
    if (command == "Angebot ziehen")
        return state + " 5:4";
    return state.replace("5:999:Schuppen", "5:-10:Schuppen");
}

const QString kFolders = QStringLiteral(
    "Ein anderer Arbeitsplatz ändert gerade die Ordner. Bitte gleich noch einmal versuchen.");
const QString kArticles = QStringLiteral("Ein anderer Arbeitsplatz ändert gerade die Ordner oder "
                                         "Artikel. Bitte gleich noch einmal versuchen.");
const QString kLocal = QStringLiteral("Die Datenbank wird gerade von einem anderen Vorgang "
                                      "geändert. Bitte gleich noch einmal versuchen.");

} // namespace

class TestFolderLocks : public QObject
{
    Q_OBJECT
private slots:
    void heldElsewhere_data();
    void heldElsewhere();
};

void TestFolderLocks::heldElsewhere_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("shown"); // the folder the window shows
    QTest::addColumn<QString>("held"); // "folders 1", "articles 2" (FOR UPDATE); "file"
    // Changed by the other workstation, which commits once the command waits for it; empty:
    // it lets go only after the command.
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("told"); // empty: the command goes through
    const auto row = [](const char *command, int shown, const char *held, const QString &told,
                        const char *change = "") {
        QTest::newRow(qPrintable(
            QStringLiteral("%1, %2 held%3").arg(command, held, *change ? ", changed" : "")))
            << (QLatin1String(held) == "file" ? Backend::SQLite : Backend::MySQL)
            << QString(command) << shown << QString(held) << QString(change) << told;
    };
    row("Neuer Ordner", 3, "folders 1", kFolders); // a parent of the parent: its level
    row("Neuer Ordner", 3, "folders 2", {});
    row("Neuer Ordner im verwaisten", 5, "folders 1", {});
    row("Ordner löschen", 1, "folders 3", kFolders); // a subfolder of the branch
    row("Ordner löschen", 1, "folders 2", {});
    row("Umbenennen", 1, "folders 1", kFolders);
    row("Umbenennen", 1, "folders 3", {});
    row("Ordner ziehen", 3, "folders 2", kFolders); // the dragged folder
    row("Ordner ziehen", 3, "folders 1", kFolders); // a parent of the target
    row("Ordner ziehen", 3, "folders 4", {});
    row("Artikel ziehen", -10, "folders 1", kArticles);
    row("Artikel ziehen", -10, "articles 2", kArticles);
    row("Artikel ziehen", -10, "folders 2", {});
    row("Angebot ziehen", -9, "articles 3", kArticles);
    row("Angebot ziehen", -9, "articles 1", {});
    row("Datenbank aufräumen", -10, "folders 5", kFolders); // the misplaced folder it moves
    row("Datenbank aufräumen", -10, "folders 1", {});
    row("Neuer Ordner", 3, "file", kLocal);
    row("Ordner löschen", 1, "file", kLocal);
    row("Artikel ziehen", -10, "file", kLocal);
    // Kiste leaves the branch: nothing is deleted. Schuppen found a place: it stays there.
    row("Ordner löschen", 1, "folders 3", kFolders,
        "UPDATE folders SET folderparentid=-10 WHERE id=3");
    row("Datenbank aufräumen", -10, "folders 5", {},
        "UPDATE folders SET folderparentid=4 WHERE id=5");
    // Put into the trash while the drop waits for it: it stays there, nothing moves.
    row("Artikel ziehen", -10, "articles 2", {},
        "UPDATE articles SET Folder=-5, Trash=1 WHERE id=2");
}

void TestFolderLocks::heldElsewhere()
{
    QFETCH(Backend, backend);
    QFETCH(QString, command);
    QFETCH(int, shown);
    QFETCH(QString, held);
    QFETCH(QString, change);
    QFETCH(QString, told);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    if (backend == Backend::MySQL) {
        TestSupport::writeMySqlSetup(data.dataDir(), TestSupport::MySqlServer::fromEnvironment(),
                                     data.mysqlDatabaseName(), true, false);
        data.reopen();
    }
    QVERIFY(data.db()->executeSQL("INSERT INTO folders (id, foldername, folderparentid) VALUES "
                                  "(1, 'Keller', -10), (2, 'Garten', -10), (3, 'Kiste', 1), "
                                  "(4, 'Dach', -10), (5, 'Schuppen', 999)"));
    for (int folder : { 1, -10, -9, 2 })
        QVERIFY(TestSupport::insertArticle(data.db(), { { "Folder", folder } }) > 0);
    DialogAnswers answers;
    MainWindowFixture w(data);
    QVERIFY(w.window());
    QObject::disconnect(w.window(), &MainWindow::startCheckNow, nullptr, nullptr);
    // Shown first: opening a folder stores its open state.
    QVERIFY(w.showFolder(shown));

    // The other workstation, on a thread of its own.
    QSemaphore holding;
    QSemaphore letGo;
    bool committed = false;
    const QString database = data.mysqlDatabaseName();
    std::unique_ptr<QThread> other(QThread::create([&] {
        {
            QSqlDatabase connection = data.rawConnection("other");
            QSqlDatabase watching = data.rawConnection("watcher");
            QSqlQuery query(connection);
            const QStringList what = held.split(' ');
            const bool locked = what.size() == 1 ? query.exec("BEGIN IMMEDIATE")
                                                 : query.exec("START TRANSACTION")
                    && query.exec(QStringLiteral("SELECT id FROM %1 WHERE id=%2 FOR UPDATE")
                                      .arg(what.at(0), what.at(1)))
                    && (change.isEmpty() || query.exec(change));
            holding.release();
            // Committed once the command's session waits for it (the server renews its list of
            // transactions only when it is read less often than every 100 ms).
            QSqlQuery watch(watching);
            const QString waits = QStringLiteral(
                "SELECT 1 FROM information_schema.INNODB_TRX t JOIN information_schema.PROCESSLIST "
                "p ON p.ID = t.trx_mysql_thread_id WHERE t.trx_state = 'LOCK WAIT' AND p.DB = "
                "'%1'");
            for (QDeadlineTimer wait(10000); locked && !change.isEmpty() && !wait.hasExpired();
                 QThread::msleep(150)) {
                if (watch.exec(waits.arg(database)) && watch.next()) {
                    committed = query.exec("COMMIT");
                    break;
                }
            }
            if (change.isEmpty())
                letGo.acquire();
            query.exec("ROLLBACK");
        }
        QSqlDatabase::removeDatabase("other");
        QSqlDatabase::removeDatabase("watcher");
    }));
    other->start();
    auto join = qScopeGuard([&] {
        letGo.release();
        other->wait();
    });
    QVERIFY(holding.tryAcquire(1, 10000));

    QElapsedTimer took;
    took.start();
    const QString added = give(w, answers, command);
    // Bounded: the other may hold its row as long as it likes (it waited 15 s, 10 s for the file).
    QVERIFY2(took.elapsed() < 8000, qPrintable(QString::number(took.elapsed())));
    const auto *status = w.window()->findChild<QLabel *>("SyncLabel");
    if (command == "Datenbank aufräumen") // a job of the background worker
        QTRY_VERIFY(status->text().contains(
            QRegularExpression("Aufräumen beendet|Aufräumen fehlgeschlagen|verschoben$")));
    join.dismiss();
    letGo.release();
    QVERIFY(other->wait(15000));
    QCOMPARE(committed, !change.isEmpty());
    QString expected = told.isEmpty() ? after(command, added) : kBefore;
    if (!change.isEmpty()) // the other's change, whatever the command made of it
        expected = change.contains("articles")
            ? QString(kBefore).replace("| 1:1 2:-10", "| 1:1 2:-5")
            : change.contains("id=3") ? QString(kBefore).replace("3:1:Kiste", "3:-10:Kiste")
                                      : QString(kBefore).replace("999", "4");
    QCOMPARE(stored(data.db()), expected);
    // The conflict as the first line of what the seller reads, once.
    const auto conflicts = [&answers] {
        QStringList lines;
        for (const QString &text : answers.shownTexts().filter("gerade"))
            lines << text.section('\n', 0, 0);
        return lines;
    };
    QTRY_COMPARE(conflicts(), told.isEmpty() ? QStringList() : QStringList { told });
    // Never taken for a database that is gone.
    for (const QString &text : answers.shownTexts())
        QVERIFY2(!text.contains("Verbindung") && !text.contains("nicht gespeichert"),
                 qPrintable(text));
    QVERIFY(!Database::serverAway());
    QVERIFY2(!status->text().contains("unterbrochen"), qPrintable(status->text()));
    if (told.isEmpty() || !change.isEmpty())
        return;
    // Given again once the other let go, it goes through.
    give(w, answers, command);
    QTRY_COMPARE(stored(data.db()), after(command, added));
}

APP_TEST_MAIN(TestFolderLocks)
#include "test_folderlocks.moc"
