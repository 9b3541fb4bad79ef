// Clearing the cache, cleaning up the database and the picture clean-up, on both databases.

#include "mainwindow/imagecleaner.h"
#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>

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

} // namespace

class TestCleanup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init()
    {
        APP_REQUIRE_BACKEND(currentBackend());
        QDir(ImageCleaner::trashFolder()).removeRecursively();
    }

    void cacheAndDatabase()
    {
        QList<int> deleted;
        CommandsWindow w(currentBackend(), [&deleted](Database *db) {
            for (int trash : { 0, 1, 0, 1 }) {
                const int id = TestSupport::insertArticle(db, { { "Folder", -5 }, { "Trash", trash } });
                db->insertSqlClean({ { "article_id", id }, { "image", "b.jpg" } }, "articles_images");
                db->insertSqlClean({ { "article_id", id }, { "SKU", "V" } }, "articles_variations");
                db->insertSqlClean({ { "article_id", id }, { "optionname", "Farbe" } },
                                   "articles_variations_op_val");
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

        const int threads = threadCount();
        w.trigger("actionDatenbank_aufr_umen");
        QVERIFY2(answers.lastMessageText().startsWith(
                     w.db()->isMySQL ? "Diese Funktion ist im MySQL Modus nicht verfügbar"
                                     : "Die Datenbank wurde erfolgreich aufgeräumt, vorherige Größe: "),
                 qPrintable(answers.lastMessageText()));
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
        // The picture clean-up reports its end, and its thread ends with it. Without a
        // system tray its closing notice then takes the status panel.
        auto *label = w.window()->findChild<QLabel *>("SyncLabel");
        QTRY_VERIFY(label->text().endsWith("Aufräumen beendet")
                    || label->text().endsWith("auf Deinem Desktop verschoben"));
        QTRY_COMPARE(threadCount(), threads);
    }

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

        ImageCleaner cleaner;
        QSignalSpy notices(&cleaner, &ImageCleaner::sendNotification);
        QSignalSpy finished(&cleaner, &ImageCleaner::finished);
        TestSupport::MessageCapture log({ "app" });
        cleaner.doCleanAds();

        QCOMPARE(files(pictures), QStringList({ "a_1.jpg", "clash.jpg", "fresh.jpg", "notes.txt",
                                                "thumb.jpg", "v_1.jpg" }));
        QCOMPARE(files(ImageCleaner::trashFolder()),
                 QStringList({ "clash.jpg", "loose.PNG", "orphan.jpg" }));
        QFile clash(ImageCleaner::trashFolder() + "/clash.jpg");
        QVERIFY(clash.open(QIODevice::ReadOnly) && clash.readAll() == "older");
        QCOMPARE(log.count("Can't move unused image " + QDir(pictures).absolutePath() + "/clash.jpg"),
                 1);
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first().first().toString(),
                 QStringLiteral("Aufräumen§§§2 unnötige Bilder wurden in ZirevPavlet_Images_Trash "
                                "auf Deinem Desktop verschoben"));
        QCOMPARE(finished.size(), 1);
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

        w.trigger("actionDatenbank_aufr_umen");
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
        if (told.isEmpty()) {
            QVERIFY(!answers.messages().isEmpty());
            QVERIFY2(!answers.messages().first().text.contains("Ordner"),
                     qPrintable(answers.messages().first().text));
        } else {
            QCOMPARE(answers.messages().first().text, told);
        }
        // The picture clean-up it started ends before the window does.
        auto *label = w.window()->findChild<QLabel *>("SyncLabel");
        QTRY_VERIFY(label->text().endsWith("Aufräumen beendet")
                    || label->text().endsWith("auf Deinem Desktop verschoben"));
    }

    // One picture moved is told in the singular.
    void onePicture()
    {
        TestSupport::TestDatabase data(currentBackend());
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        TestSupport::resetApplicationState();
        QVERIFY(writeFile(data.db()->getCurrentAdImageDir() + "einzeln.jpg", "x"));
        ImageCleaner cleaner;
        QSignalSpy notices(&cleaner, &ImageCleaner::sendNotification);
        cleaner.doCleanAds();
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first().first().toString(),
                 QStringLiteral("Aufräumen§§§1 unnötiges Bild wurde in ZirevPavlet_Images_Trash "
                                "auf Deinem Desktop verschoben"));
    }
};

APP_TEST_MAIN(TestCleanup)
#include "test_cleanup.moc"
