// Clearing the cache, cleaning up the database and the picture clean-up, on both databases.

#include "core/backgroundworker.h"
#include "mainwindow/imagecleaner.h"
#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/heldjobs.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/pausewatch.h"
#include "tests/support/sqlitereadcut.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>

#include <cstdio>

namespace {

// Written `age` seconds ago.
bool writeFile(const QString &path, const QByteArray &content = "x", int age = 3600)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush()
        && file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                            QFileDevice::FileModificationTime);
}

QStringList files(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    return names;
}

int threadCount()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    }
    return -1;
}

QString desktop()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

using TestSupport::PauseWatch;

// Three articles with two pictures each, one file no row names: what the picture clean-up
// finds in the picture folder of `db`; and one article emptied from the trash. The names of
// the pictures in use.
QStringList seedPictures(Database *db)
{
    const int emptied = TestSupport::insertArticle(db, { { "Folder", -5 }, { "Trash", 1 } });
    if (db->insertSqlClean({ { "article_id", emptied }, { "image", "weg.jpg" } }, "articles_images")
        <= 0)
        return {};
    QStringList used;
    for (int a = 1; a <= 3; ++a) {
        const QString thumb = QStringLiteral("t_%1.jpg").arg(a);
        const int id = TestSupport::insertArticle(db, { { "ImageThumb", thumb }, { "Folder", -10 } });
        const QString picture = QStringLiteral("p_%1.jpg").arg(a);
        if (db->insertSqlClean({ { "article_id", id }, { "image", picture } }, "articles_images")
            <= 0)
            return {};
        used << thumb << picture;
    }
    const QString folder = db->getCurrentAdImageDir();
    for (const QString &name : used + QStringList { "unused.jpg" }) {
        if (!writeFile(folder + name))
            return {};
    }
    return used;
}

// "Datenbank aufräumen" given in the window, and waited for: the action comes back once the
// job has finished and its outcome was told.
bool cleanUp(MainWindow *window)
{
    auto *action = window->findChild<QAction *>(QStringLiteral("actionDatenbank_aufr_umen"));
    action->trigger();
    if (action->isEnabled())
        return false; // it ran on the window's thread
    return QTest::qWaitFor([action] { return action->isEnabled(); }, 60000);
}

} // namespace

class TestCleanup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init()
    {
        APP_REQUIRE_BACKEND(currentBackend());
        QVERIFY(QDir().mkpath(desktop()));
        QDir(ImageCleaner::trashFolder()).removeRecursively();
        QDir(QDir::homePath() + "/ZirevPavlet_Images_Trash").removeRecursively();
    }

    void cacheAndDatabase()
    {
        QList<int> deleted;
        CommandsWindow w(currentBackend(), [&deleted](Database *db) {
            for (int trash : { 0, 1, 0, 1 }) {
                const int id = TestSupport::insertArticle(db, { { "Folder", -5 }, { "Trash", trash } });
                QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", "b.jpg" } },
                                           "articles_images")
                        > 0);
                QVERIFY(db->insertSqlClean({ { "article_id", id }, { "SKU", "V" } },
                                           "articles_variations")
                        > 0);
                QVERIFY(db->insertSqlClean({ { "article_id", id }, { "optionname", "Farbe" } },
                                           "articles_variations_op_val")
                        > 0);
                if (trash)
                    deleted << id;
            }
        });
        QVERIFY(w.ready());
        const QString cache = w.db()->getCacheDir();
        const QStringList kept { "ap2_getCategorySpecifics_1_9.xml", "sandbox_ap2_getProfiles_1.xml",
                                 "sandbox_ap2_getStore_1_77.xml" };
        for (const QString &name : kept + QStringList { "ap2_getStore_1_77.xml", "ap2_getProfiles_1.xml" })
            QVERIFY(writeFile(cache + name));
        DialogAnswers answers;

        w.trigger("actionCache_leeren");
        QCOMPARE(answers.lastMessageText(), QStringLiteral("Der Cache wurde geleert"));
        QCOMPARE(files(cache), kept);

        BackgroundWorker::instance();
        const int threads = threadCount();
        QVERIFY(cleanUp(w.window()));
        // On MariaDB it does its part and says what it did, never that it is not available.
        const QString told = answers.lastMessageText();
        QVERIFY2(told.contains(w.db()->isMySQL
                                   ? "2 gelöschte Artikel wurden endgültig aus der Datenbank "
                                     "entfernt. Die gemeinsame MySQL-Datenbank wird nicht "
                                     "verkleinert."
                                   : "Die Datenbank wurde erfolgreich aufgeräumt, vorherige Größe: ")
                     && !told.contains("nicht verfügbar"),
                 qPrintable(told));
        QStringList left;
        for (const char *table : { "articles WHERE id", "articles_images WHERE article_id",
                                   "articles_variations WHERE article_id",
                                   "articles_variations_op_val WHERE article_id" })
            left << w.db()
                        ->selectOne(QStringLiteral("SELECT COUNT(*) FROM %1 IN (%2,%3)")
                                        .arg(QLatin1String(table))
                                        .arg(deleted[0] - 1)
                                        .arg(deleted[0]))
                        .value();
        QCOMPARE(left, QStringList({ "1", "1", "1", "1" }));
        QCOMPARE(w.db()->selectCount("SELECT id FROM articles").value(), 2);
        auto *label = w.window()->findChild<QLabel *>("SyncLabel");
        QVERIFY2(label->text().endsWith("Aufräumen beendet"), qPrintable(label->text()));
        // No thread of its own: the background worker did it.
        QCOMPARE(threadCount(), threads);
    }

    // A picture named by a row is never moved; one no row names is, and only once no read
    // failed. The seller reads how many, and where they went.
    void pictures()
    {
        TestSupport::TestDatabase data(currentBackend());
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        TestSupport::resetApplicationState(); // an earlier window closed
        Database *db = data.db();
        const QString pictures = db->getCurrentAdImageDir();
        const int article = TestSupport::insertArticle(db, { { "ImageThumb", "thumb.jpg" } });
        const int variation
            = db->insertSqlClean({ { "article_id", article }, { "SKU", "rot" } }, "articles_variations");
        // The second and third have lost their article: one is kept by its variation.
        for (const auto &[owner, image, variant] :
             { std::tuple(article, "a_1.jpg", 0), std::tuple(article + 9, "v_1.jpg", variation),
               std::tuple(article + 9, "orphan.jpg", variation + 9) })
            QVERIFY(db->insertSqlClean(
                        { { "article_id", owner }, { "image", image }, { "variant_id", variant } },
                        "articles_images")
                    > 0);
        for (const QString name : { "a_1.jpg", "thumb.jpg", "v_1.jpg", "orphan.jpg", "loose.PNG",
                                    "notes.txt", "clash.jpg" })
            QVERIFY(writeFile(pictures + name, name.toUtf8()));
        QVERIFY(writeFile(pictures + "fresh.jpg", "neu", 0)); // its article is being saved
        QVERIFY(QDir().mkpath(ImageCleaner::trashFolder()));
        QVERIFY(writeFile(ImageCleaner::trashFolder() + "/clash.jpg", "older"));

        TestSupport::MessageCapture log({ "app" });
        QList<int> shown;
        const ImageCleaner::Outcome outcome
            = ImageCleaner::clean(*db, {}, [&shown](int checked, int) { shown << checked; });

        QCOMPARE(files(pictures), QStringList({ "a_1.jpg", "clash.jpg", "fresh.jpg", "notes.txt",
                                                "thumb.jpg", "v_1.jpg" }));
        QCOMPARE(files(ImageCleaner::trashFolder()),
                 QStringList({ "clash.jpg", "loose.PNG", "orphan.jpg" }));
        QFile clash(ImageCleaner::trashFolder() + "/clash.jpg");
        QVERIFY(clash.open(QIODevice::ReadOnly) && clash.readAll() == "older");
        QCOMPARE(log.count("Can't move unused image " + QDir(pictures).absolutePath() + "/clash.jpg"),
                 1);
        QCOMPARE(outcome.text(),
                 QStringLiteral("2 unnötige Bilder wurden in ZirevPavlet_Images_Trash auf Deinem "
                                "Desktop verschoben"));
        QCOMPARE(shown, QList<int>({ 0, 1, 2, 3, 4, 5, 6, 7 }));

        // One is told in the singular.
        QVERIFY(writeFile(pictures + "einzeln.jpg", "x"));
        QCOMPARE(ImageCleaner::clean(*db).text(),
                 QStringLiteral("1 unnötiges Bild wurde in ZirevPavlet_Images_Trash auf Deinem "
                                "Desktop verschoben"));
    }

    // The picture clean-up moves only what the database, read whole, names nowhere: when a
    // read it relies on fails, every file stays and the seller reads why. 3 articles with 2
    // pictures each and one file no row names: the control moves that one.
    void picturesStayWhenNotRead_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("moved");
        QTest::addColumn<bool>("removed"); // the emptied article is gone for good
        QTest::newRow("control") << "" << "1 unnötiges Bild wurde in ZirevPavlet_Images_Trash" << 1
                                 << true;
        QTest::newRow("no desktop folder") << "no desktop"
                                           << "1 unnötiges Bild wurde in den Ordner %1 "
                                              "verschoben (es gibt keinen Desktop-Ordner)"
                                           << 1 << true;
        QTest::newRow("pictures' read refused")
            << "refuse:SELECT a.image, i.ImageThumb"
            << "Die Bilder wurden nicht aufgeräumt, kein Bild wurde verschoben" << 0 << true;
        QTest::newRow("variations' read refused")
            << "refuse:articles_variations as i"
            << "Die Bilder wurden nicht aufgeräumt, kein Bild wurde verschoben" << 0 << true;
        // The removal refused in its last statement: nothing of it is kept.
        QTest::newRow("removal refused")
            << "refuse removal" << "Die Datenbank konnte nicht aufgeräumt werden: " << 0 << false;
        QTest::newRow("server gone") << "gone" << "kein Bild verschoben" << 0 << false;
        QTest::newRow("connection limit") << "full" << "kein Bild verschoben" << 0 << false;
        QTest::newRow("file deleted") << "deleted" << "kein Bild verschoben" << 0 << false;
        // Read-only: the folders need no write, the removal does.
        QTest::newRow("file damaged")
            << "damaged"
            << "Die Datenbank konnte nicht aufgeräumt werden: Die Datenbank ist schreibgeschützt"
            << 0 << false;
    }
    void picturesStayWhenNotRead()
    {
        QFETCH(QString, fault);
        QFETCH(QString, told);
        QFETCH(int, moved);
        QFETCH(bool, removed);
        const bool mysql = currentBackend() == TestSupport::Backend::MySQL;
        const bool needsServer = fault.startsWith("refuse:") || fault == "gone" || fault == "full";
        const bool needsFile = fault == "deleted" || fault == "damaged";
        if (needsServer && !mysql)
            QSKIP("A local file has no server that could refuse or go");
        if (needsFile && mysql)
            QSKIP("The server's files are not the program's");

        TestSupport::resetApplicationState();
        std::unique_ptr<TestSupport::MySqlProxy> proxy;
        std::unique_ptr<TestSupport::TestDatabase> data;
        if (mysql) {
            proxy = std::make_unique<TestSupport::MySqlProxy>(
                TestSupport::MySqlServer::fromEnvironment());
            QVERIFY(proxy->isListening());
            data = std::make_unique<TestSupport::TestDatabase>(proxy->server());
            QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
            TestSupport::writeMySqlSetup(data->dataDir(), proxy->server(),
                                         data->mysqlDatabaseName(), true, false);
            data->reopen();
        } else {
            data = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
            QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
        }
        auto comeBack = qScopeGuard([&proxy] {
            if (proxy)
                proxy->comeBack();
        });
        DialogAnswers answers;
        const QStringList used = seedPictures(data->db());
        QCOMPARE(used.size(), 6);
        if (fault == "refuse removal")
            QVERIFY(TestSupport::refuseRows(data->db(), "articles", "DELETE", "Artikel gesperrt"));
        const QString pictures = data->db()->getCurrentAdImageDir();
        const QString file = data->dataDir() + Database::getDatabaseName();
        if (fault == "damaged") {
            // Enough rows that a page in the middle is one of theirs; the start finds the
            // damage and only reads the file.
            for (int i = 0; i < 200; ++i)
                QVERIFY(TestSupport::insertArticle(data->db(), { { "Description", QString(1500, 'x') } })
                        > 0);
            data->closeMain();
            QFile damage(file);
            QVERIFY(damage.open(QIODevice::ReadWrite) && damage.size() > 10 * 4096);
            QVERIFY(damage.seek(4 * 4096) && damage.write(QByteArray(4096, '\x5a')) == 4096);
            damage.close();
            data->reopen();
        }
        if (fault == "no desktop")
            QVERIFY(QDir(desktop()).removeRecursively());
        auto desktopBack = qScopeGuard([] { QDir().mkpath(desktop()); });

        TestSupport::MessageCapture log({ "app.db", "app" });
        TestSupport::MainWindowFixture window(*data);
        QVERIFY(window.window());
        if (fault.startsWith("refuse:"))
            proxy->refuse(fault.mid(7).toUtf8());
        else if (fault == "gone")
            proxy->goAway();
        else if (fault == "full")
            proxy->refuseNewConnections();
        else if (fault == "deleted")
            QVERIFY(QFile::remove(file));
        answers.clear();

        QVERIFY(cleanUp(window.window()));
        QStringList expected = used + QStringList { "unused.jpg" };
        if (moved)
            expected.removeAll("unused.jpg");
        expected.sort();
        QCOMPARE(files(pictures), expected);
        if (fault == "no desktop") {
            const QString folder = QDir::homePath() + "/ZirevPavlet_Images_Trash";
            QCOMPARE(files(folder), QStringList({ "unused.jpg" }));
            told = told.arg(QDir::toNativeSeparators(folder));
        } else {
            QCOMPARE(files(ImageCleaner::trashFolder()).size(), moved);
        }
        if (proxy)
            proxy->comeBack(); // for the test's own look
        if (fault != "deleted") {
            const Read<int> emptied = data->db()->selectCount("SELECT id FROM articles WHERE Trash=1");
            QVERIFY2(emptied.ok(), qPrintable(emptied.error()));
            QCOMPARE(*emptied, removed ? 0 : 1);
            QCOMPARE(data->db()->selectCount("SELECT id FROM articles_images WHERE image='weg.jpg'")
                         .value(),
                     removed ? 0 : 1);
        }
        // Told once, as a failure when nothing moved; a lost file is told besides.
        QList<int> types;
        for (const DialogAnswers::Message &message : answers.messages()) {
            if (message.text.contains(told))
                types << message.type;
        }
        QVERIFY2(types.size() == 1, qPrintable(answers.shownTexts().join(" | ")));
        QCOMPARE(types.first(), moved ? 0 : 2);
    }

    // At a realistic size the work is done beside the window, in a few statements over every
    // emptied article at once: the window never waits for it, and "Abbrechen" stops it with
    // nothing deleted.
    void atSizeBesideTheWindow()
    {
        constexpr int kArticles = 10000;
        const bool mysql = currentBackend() == TestSupport::Backend::MySQL;
        TestSupport::resetApplicationState();
        std::unique_ptr<TestSupport::MySqlProxy> proxy;
        std::unique_ptr<TestSupport::TestDatabase> data;
        if (mysql) {
            proxy = std::make_unique<TestSupport::MySqlProxy>(
                TestSupport::MySqlServer::fromEnvironment());
            data = std::make_unique<TestSupport::TestDatabase>(proxy->server());
            QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
            TestSupport::writeMySqlSetup(data->dataDir(), proxy->server(),
                                         data->mysqlDatabaseName(), true, false);
            data->reopen();
        } else {
            data = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
            QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
        }
        Database *db = data->db();
        {
            // Every article in the emptied trash, with 2 pictures and 2 variations each.
            QVERIFY(db->executeSQL("INSERT INTO articles (Title, Folder, Trash) VALUES ('weg', -5, 1)"));
            for (int n = 1; n < kArticles; n *= 2)
                QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO articles (Title, Folder, Trash) "
                                                      "SELECT Title, Folder, Trash FROM articles "
                                                      "LIMIT %1")
                                           .arg(qMin(n, kArticles - n))));
            for (const char *table : { "articles_images (article_id, image)",
                                       "articles_variations (article_id, SKU)" })
                for (int i = 0; i < 2; ++i)
                    QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO %1 SELECT id, 'x' FROM articles")
                                               .arg(QLatin1String(table))));
            QVERIFY(TestSupport::insertArticle(db, { { "Folder", -10 } }) > 0);
        }
        QCOMPARE(db->selectCount("SELECT id FROM articles WHERE Trash=1").value(), kArticles);

        DialogAnswers answers;
        TestSupport::MessageCapture log({ "app.db" });
        TestSupport::MainWindowFixture window(*data);
        QVERIFY(window.window());
        auto *action
            = window.window()->findChild<QAction *>(QStringLiteral("actionDatenbank_aufr_umen"));

        // Held before it starts: the window goes on meanwhile, and "Abbrechen" stops it.
        auto held = std::make_unique<TestSupport::HeldJobs>();
        answers.clear();
        action->trigger();
        QVERIFY(held->entered());
        bool windowWent = false;
        QTimer::singleShot(0, window.window(), [&windowWent] { windowWent = true; });
        QTRY_VERIFY(windowWent);
        auto *cancel = window.window()->findChild<QPushButton *>(QStringLiteral("JobCancelButton"));
        QVERIFY(cancel && cancel->isVisible());
        cancel->click();
        held.reset();
        QTRY_VERIFY(action->isEnabled());
        QCOMPARE(answers.lastMessageText(),
                 QStringLiteral("Das Aufräumen wurde abgebrochen. Es wurde nichts gelöscht und "
                                "kein Bild verschoben."));
        QCOMPARE(db->selectCount("SELECT id FROM articles WHERE Trash=1").value(), kArticles);

        // Run whole, with the window's pauses noted.
        answers.clear();
        const int deletes = proxy ? proxy->statementsSeen("DELETE") : 0;
        PauseWatch pauses;
        pauses.start();
        QElapsedTimer took;
        took.start();
        QVERIFY(cleanUp(window.window()));
        const qint64 longest = pauses.longest();
        std::fprintf(stderr,
                     "Datenbank aufräumen of %d articles: %lld ms, the window's longest pause "
                     "%lld ms\n",
                     kArticles, static_cast<long long>(took.elapsed()),
                     static_cast<long long>(longest));
        QVERIFY2(answers.lastMessageText().contains(
                     QStringLiteral("%1 gelöschte Artikel wurden endgültig").arg(kArticles)),
                 qPrintable(answers.lastMessageText()));
        QCOMPARE(db->selectCount("SELECT id FROM articles").value(), 1);
        QCOMPARE(db->selectCount("SELECT id FROM articles_images").value(), 0);
        QCOMPARE(db->selectCount("SELECT id FROM articles_variations").value(), 0);
        // Set-based: one statement per table, not one per article.
        if (proxy)
            QCOMPARE(proxy->statementsSeen("DELETE") - deletes, 4);
        // Generous for a loaded machine: deleting them one by one on the window's thread
        // held it for seconds.
        QVERIFY2(longest < 1500, qPrintable(QString::number(longest)));
    }

    // The compaction of a file deleted meanwhile fails and is told so, with no sizes; a
    // removal stopped half-way keeps every row.
    void compactionAndStop()
    {
        if (currentBackend() == TestSupport::Backend::MySQL)
            QSKIP("The server's files are not the program's");
        TestSupport::TestDatabase data(currentBackend());
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        Database *db = data.db();
        const int id = TestSupport::insertArticle(db, { { "Trash", 1 } });
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", "b.jpg" } }, "articles_images")
                > 0);

        int asked = 0;
        Database::Cleaned cleaned = db->cleanDB([&asked] { return ++asked == 2; });
        QVERIFY(cleaned.cancelled && !cleaned.removedStored && !cleaned.compacted);
        QCOMPARE(db->selectCount("SELECT id FROM articles").value(), 1);
        QCOMPARE(db->selectCount("SELECT id FROM articles_images").value(), 1);

        // The file goes right before the compaction: the first question after the removal.
        const QString file = data.dataDir() + Database::getDatabaseName();
        asked = 0;
        TestSupport::MessageCapture log({ "app.db" });
        cleaned = db->cleanDB([&] {
            if (++asked == 5)
                QFile::remove(file);
            return false;
        });
        QVERIFY(cleaned.removedStored);
        QCOMPARE(cleaned.removed, 1);
        QVERIFY(!cleaned.compacted);
        QVERIFY2(!cleaned.error.isEmpty() && !cleaned.ok(), qPrintable(cleaned.error));
        QCOMPARE(cleaned.sizeAfter, 0);
    }

    // The count of the emptied articles not read whole (cut after its first row on the local
    // file, refused by the server): nothing is removed, the failure is told, and no count that
    // was not read is taken for none.
    void countNotRead()
    {
        const bool mysql = currentBackend() == TestSupport::Backend::MySQL;
        std::unique_ptr<TestSupport::MySqlProxy> proxy;
        std::unique_ptr<TestSupport::TestDatabase> data;
        if (mysql) {
            proxy = std::make_unique<TestSupport::MySqlProxy>(
                TestSupport::MySqlServer::fromEnvironment());
            QVERIFY(proxy->isListening());
            data = std::make_unique<TestSupport::TestDatabase>(proxy->server());
        } else {
            data = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
        }
        QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
        Database *db = data->db();
        for (int i = 0; i < 3; ++i) {
            const int id = TestSupport::insertArticle(db, { { "Folder", -5 }, { "Trash", 1 } });
            QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", "b.jpg" } },
                                       "articles_images")
                    > 0);
        }
        TestSupport::SqliteReadCut cut;
        cut.alsoOn(db->connection());
        const QByteArray count = "SELECT id FROM articles WHERE Trash=1";
        if (mysql)
            proxy->refuse(count);
        else
            cut.cutAfter(count, 1);
        TestSupport::MessageCapture log({ "app.db" });

        const Database::Cleaned cleaned = db->cleanDB();
        QCOMPARE(mysql ? proxy->refusals() : cut.cuts(), 1);
        QVERIFY2(!cleaned.error.isEmpty() && !cleaned.ok(), qPrintable(cleaned.error));
        QVERIFY(!cleaned.removedStored && !cleaned.compacted);
        QCOMPARE(cleaned.removed, 0);
        QCOMPARE(db->selectCount("SELECT id FROM articles WHERE Trash=1").value(), 3);
        QCOMPARE(db->selectCount("SELECT id FROM articles_images").value(), 3);
        QCOMPARE(log.count("A failed read was taken"), 0);
    }

    // Folders the tree can only show out of place (their parent is gone, or they are caught in
    // a cycle of parents, as two workstations moving folders crosswise leave them) are shown
    // below "Artikelvorlagen" with their articles, and "Datenbank aufräumen" stores them
    // there, so the tree shows the same after it. Each folder holds one article.
    void repairsFolders_data()
    {
        QTest::addColumn<QStringList>("folders"); // id:parent:name
        QTest::addColumn<int>("lostArticles"); // in folder 999, which does not exist
        QTest::addColumn<QString>("shown"); // below "Artikelvorlagen", before and after
        QTest::addColumn<QString>("parents"); // as stored after the clean-up
        QTest::addColumn<QString>("told"); // empty: nothing
        QTest::newRow("cycle of two, with a subfolder")
            << QStringList { "1:2:Keller", "2:1:Garten", "3:1:Spaten" } << 0
            << "Garten (1) [Keller (1) [Spaten (1)]]"
            << "1:2 2:-10 3:1"
            << "1 Ordner, dessen übergeordneter Ordner fehlte oder der in einem Kreis von "
               "Ordnern lag, liegt jetzt direkt in „Artikelvorlagen“.";
        QTest::newRow("cycle of three beside a sound folder")
            << QStringList { "1:3:Keller", "2:1:Garten", "3:2:Dach", "4:-10:Auto" } << 0
            << "Auto (1), Dach (1) [Keller (1) [Garten (1)]]"
            << "1:3 2:1 3:-10 4:-10"
            << "1 Ordner, dessen übergeordneter Ordner fehlte oder der in einem Kreis von "
               "Ordnern lag, liegt jetzt direkt in „Artikelvorlagen“.";
        QTest::newRow("parent gone, its own parent, below the trash")
            << QStringList { "1:999:Keller", "2:2:Garten", "3:-5:Dach", "4:1:Kiste" } << 0
            << "Dach (1), Garten (1), Keller (1) [Kiste (1)]"
            << "1:-10 2:-10 3:-10 4:1"
            << "3 Ordner, deren übergeordneter Ordner fehlte oder die in einem Kreis von "
               "Ordnern lagen, liegen jetzt direkt in „Artikelvorlagen“.";
        QTest::newRow("articles of a gone folder")
            << QStringList { "1:-10:Keller" } << 2 << "Keller (1)"
            << "1:-10"
            << "2 Artikel gelöschter Ordner liegen jetzt in „Artikelvorlagen“.";
        QTest::newRow("nothing to repair")
            << QStringList { "1:-10:Keller", "2:1:Garten" } << 0 << "Keller (1) [Garten (1)]"
            << "1:-10 2:1" << QString();
    }
    void repairsFolders()
    {
        QFETCH(QStringList, folders);
        QFETCH(int, lostArticles);
        QFETCH(QString, shown);
        QFETCH(QString, parents);
        QFETCH(QString, told);
        CommandsWindow w(currentBackend(), [&](Database *db) {
            for (const QString &folder : folders) {
                const QStringList parts = folder.split(':');
                QVERIFY(
                    db->executeSQL(QStringLiteral("INSERT INTO folders (id, folderparentid, "
                                                  "foldername, expand) VALUES (%1, %2, '%3', 1)")
                                       .arg(parts[0], parts[1], parts[2])));
                TestSupport::insertArticle(db, { { "Folder", parts[0].toInt() } });
            }
            for (int i = 0; i < lostArticles; ++i)
                TestSupport::insertArticle(db, { { "Folder", 999 } });
            // A running listing, one in the outbox and one in the trash lie in no folder of
            // the table either: they stay where they are.
            for (int fixed : { -9, -2, -5 })
                TestSupport::insertArticle(db, { { "Folder", fixed } });
        });
        QVERIFY(w.ready());
        const auto below = [&w] {
            const QAbstractItemModel *model = w.fixture().treeView()->model();
            return TestSupport::shape(model, TestSupport::folderIndexOf(model, -10));
        };
        const int lost = w.count(-10);
        QCOMPARE(below(), shown);
        DialogAnswers answers;

        QVERIFY(cleanUp(w.window()));
        QStringList stored;
        for (const ArticleRow &row :
             w.db()->select("SELECT id, folderparentid FROM folders ORDER BY id").value())
            stored << row.value("id").toString() + ':' + row.value("folderparentid").toString();
        QCOMPARE(stored.join(' '), parents);
        QCOMPARE(w.db()->selectCount("SELECT id FROM articles WHERE Folder=999").value(), 0);
        QCOMPARE(w.db()->selectCount("SELECT id FROM articles WHERE Folder IN (-9, -2, -5)").value(),
                 3);
        QTRY_COMPARE(below(), shown);
        QTRY_COMPARE(w.count(-10), lost + lostArticles);
        // One message tells everything the clean-up did, the folders first.
        QCOMPARE(answers.messages().size(), 1);
        const QString text = answers.messages().first().text;
        if (told.isEmpty())
            QVERIFY2(!text.contains("Ordner"), qPrintable(text));
        else
            QVERIFY2(text.startsWith(told + "\n\n"), qPrintable(text));
    }
};

APP_TEST_MAIN(TestCleanup)
#include "test_cleanup.moc"
