// Clearing the cache, cleaning up the database and the picture clean-up; on both databases.

#include "mainwindow/imagecleaner.h"
#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <memory>

using namespace ArticleCommands;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

// Written `age` seconds ago.
bool writeFile(const QString &path, const QByteArray &content = "x", int age = 3600)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush()
        && file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                            QFileDevice::FileModificationTime);
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

private:
    std::unique_ptr<TestDatabase> m_data;
    Database *db() const { return m_data->db(); }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init()
    {
        const TestSupport::Backend backend = *static_cast<TestSupport::Backend *>(
            QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
        APP_REQUIRE_BACKEND(backend);
        m_data = std::make_unique<TestDatabase>(backend);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        QDir(ImageCleaner::trashFolder()).removeRecursively();
        // Closing an earlier window marked the program as going down.
        TestSupport::resetApplicationState();
    }
    void cleanup() { m_data.reset(); }

    void cacheAndDatabase()
    {
        const QString cache = db()->getCacheDir();
        const QStringList kept { "sandbox_ap2_getStore_1_77.xml", "sandbox_ap2_getProfiles_1.xml",
                                 "ap2_getCategorySpecifics_1_9.xml" };
        for (const QString &name : kept + QStringList { "ap2_getStore_1_77.xml",
                                                        "ap2_getProfiles_1.xml" })
            QVERIFY(writeFile(cache + name));
        QList<int> deleted;
        QList<int> keptArticles;
        for (int i = 0; i < 4; ++i) {
            const int id = TestSupport::insertArticle(db(), { { "Folder", -5 }, { "Trash", i % 2 } });
            QVERIFY(db()->insertSqlClean({ { "article_id", id }, { "image", "b.jpg" } },
                                         "articles_images")
                    > 0);
            QVERIFY(db()->insertSqlClean({ { "article_id", id }, { "SKU", "V" } },
                                         "articles_variations")
                    > 0);
            (i % 2 ? deleted : keptArticles) << id;
        }
        MainWindowFixture window(*m_data);
        DialogAnswers answers;

        trigger(window, "actionCache_leeren");
        QCOMPARE(answers.lastMessageText(), QStringLiteral("Der Cache wurde geleert"));
        QStringList left = QDir(cache).entryList(QDir::Files);
        left.sort();
        QStringList expected = kept;
        expected.sort();
        QCOMPARE(left, expected);

        const int threads = threadCount();
        trigger(window, "actionDatenbank_aufr_umen");
        const QString message = answers.lastMessageText();
        QVERIFY2(message.startsWith(db()->isMySQL
                                        ? "Diese Funktion ist im MySQL Modus nicht verfügbar"
                                        : "Die Datenbank wurde erfolgreich aufgeräumt, vorherige "
                                          "Größe: "),
                 qPrintable(message));
        for (int id : deleted + keptArticles) {
            const int expectedRows = deleted.contains(id) ? 0 : 1;
            const QString of = " WHERE article_id=" + QString::number(id);
            QCOMPARE(db()->selectCount("SELECT id FROM articles WHERE id=" + QString::number(id)),
                     expectedRows);
            QCOMPARE(db()->selectCount("SELECT id FROM articles_images" + of), expectedRows);
            QCOMPARE(db()->selectCount("SELECT id FROM articles_variations" + of), expectedRows);
        }
        // The picture clean-up reports its end, and its thread ends with it.
        auto *label = window.window()->findChild<QLabel *>("SyncLabel");
        QTRY_VERIFY(label->text().endsWith("Aufräumen beendet"));
        QTRY_COMPARE(threadCount(), threads);
    }

    void pictures()
    {
        const QString pictures = db()->getCurrentAdImageDir();
        QVERIFY(!pictures.isEmpty());
        const int article = TestSupport::insertArticle(db(), { { "ImageThumb", "thumb.jpg" } });
        const int variation
            = db()->insertSqlClean({ { "article_id", article }, { "SKU", "rot" } },
                                   "articles_variations");
        const auto picture = [this](int articleId, const QString &image, int variant) {
            return db()->insertSqlClean(
                { { "article_id", articleId }, { "image", image }, { "variant_id", variant } },
                "articles_images");
        };
        QVERIFY(picture(article, "a_1.jpg", 0) > 0);
        // Their article is gone: the first is kept by its variation, the second by nothing.
        QVERIFY(picture(article + 1000, "v_1.jpg", variation) > 0);
        QVERIFY(picture(article + 1000, "orphan.jpg", variation + 1000) > 0);
        for (const QString name : { "a_1.jpg", "thumb.jpg", "v_1.jpg", "orphan.jpg", "loose.PNG",
                                     "notes.txt", "clash.jpg" })
            QVERIFY(writeFile(pictures + name, name.toUtf8()));
        // Just written by the editor, its article not yet saved.
        QVERIFY(writeFile(pictures + "fresh.jpg", "neu", 0));
        QVERIFY(QDir().mkpath(ImageCleaner::trashFolder()));
        QVERIFY(writeFile(ImageCleaner::trashFolder() + "/clash.jpg", "older"));

        ImageCleaner cleaner;
        QSignalSpy notices(&cleaner, &ImageCleaner::sendNotification);
        QSignalSpy finished(&cleaner, &ImageCleaner::finished);
        TestSupport::MessageCapture log({ "app" });
        cleaner.doCleanAds();
        QCOMPARE(log.count("Can't move unused image " + QDir(pictures).absolutePath()
                           + "/clash.jpg"),
                 1);

        QStringList left = QDir(pictures).entryList(QDir::Files);
        left.sort();
        QCOMPARE(left, QStringList({ "a_1.jpg", "clash.jpg", "fresh.jpg", "notes.txt",
                                     "thumb.jpg", "v_1.jpg" }));
        QStringList moved = QDir(ImageCleaner::trashFolder()).entryList(QDir::Files);
        moved.sort();
        QCOMPARE(moved, QStringList({ "clash.jpg", "loose.PNG", "orphan.jpg" }));
        QFile clash(ImageCleaner::trashFolder() + "/clash.jpg");
        QVERIFY(clash.open(QIODevice::ReadOnly));
        QCOMPARE(clash.readAll(), QByteArray("older"));
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first().first().toString(),
                 QStringLiteral("Aufräumen§§§2 unnötige Bilder wurden in "
                                "ZirevPavlet_Images_Trash auf Deinem Desktop verschoben"));
        QCOMPARE(finished.size(), 1);
    }
};

APP_TEST_MAIN(TestCleanup)
#include "test_cleanup.moc"
