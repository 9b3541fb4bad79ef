// Cut, copy and paste of articles.

#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/testmain.h"

#include <memory>

using namespace ArticleCommands;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {
const QString kListing = QStringLiteral(
    "ItemID,WatchCount,BidCount,QuestionCount,HighBidder,SoldCount,HasError,LastError,Planned,"
    "Planned_Interval,StartDate,EndDate");
const QString kCleared = QStringLiteral("||0|0|0||0|0|||||");
} // namespace

class TestClipboard : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_window;
    int m_userFolder = 0;

    Database *db() const { return m_data->db(); }
    // A listed article with two pictures and a variation with its own picture.
    int article(int folder, const QString &title)
    {
        const int id = TestSupport::insertArticle(
            db(), { { "Folder", folder }, { "Title", title }, { "ItemID", "110042" },
                    { "WatchCount", 3 }, { "BidCount", 1 }, { "QuestionCount", 2 },
                    { "HighBidder", "bieter" }, { "SoldCount", 1 }, { "HasError", 1 },
                    { "LastError", "alt" }, { "Planned", "2026-03-11 09:00:00" },
                    { "Planned_Interval", "J-1" }, { "StartDate", "2026-03-01 10:00:00" },
                    { "EndDate", "2026-03-31 10:00:00" } });
        countNewArticle(*m_window, folder);
        const int variation
            = db()->insertSqlClean({ { "article_id", id }, { "SKU", title + "-rot" } },
                                   "articles_variations");
        for (const QString &image : { title + "_1.jpg", title + "_2.jpg" })
            db()->insertSqlClean({ { "article_id", id }, { "image", image } }, "articles_images");
        db()->insertSqlClean({ { "article_id", id }, { "image", title + "_rot.jpg" },
                               { "variant_id", variation } },
                             "articles_images");
        return id;
    }
    QList<int> newArticles(int after) const
    {
        QList<int> ids;
        for (const ArticleRow &row : db()->select(
                 "SELECT id FROM articles WHERE id>" + QString::number(after) + " ORDER BY id"))
            ids << row.value("id").toInt();
        return ids;
    }
    // "pictures/variations" of an article.
    QString children(int id) const
    {
        const QString of = QStringLiteral(" WHERE article_id=") + QString::number(id);
        return db()->selectOne("SELECT COUNT(*) FROM articles_images" + of) + '/'
            + db()->selectOne("SELECT COUNT(*) FROM articles_variations" + of);
    }
    bool pasteOffered() const
    {
        return m_window->window()->findChild<QAction *>("actionEinf_gen")->isEnabled();
    }

private slots:
    void init()
    {
        m_data = std::make_unique<TestDatabase>(TestSupport::Backend::SQLite);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        m_userFolder = db()->insertSqlClean(
            { { "foldername", "Eigene" }, { "folderparentid", -10 }, { "expand", 0 } }, "folders");
        m_window = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(m_window->window());
    }
    void cleanup()
    {
        m_window.reset();
        m_data.reset();
    }

    void copyPastedTwice()
    {
        const QList<int> sources { article(-7, "Uhr"), article(-7, "Lampe") };
        QVERIFY(showAndSelect(*m_window, -7, sources));
        trigger(*m_window, "actionKopieren");
        QVERIFY(m_window->showFolder(m_userFolder));
        const int last = sources.last();

        trigger(*m_window, "actionEinf_gen");
        trigger(*m_window, "actionEinf_gen");

        const QList<int> copies = newArticles(last);
        QCOMPARE(copies.size(), 4);
        for (int copy : copies) {
            QCOMPARE(TestSupport::values(db(), copy, "Folder," + kListing),
                     QString::number(m_userFolder) + kCleared);
            QCOMPARE(children(copy), QStringLiteral("3/1"));
            QVERIFY(rowOf(*m_window, copy));
        }
        // Own rows naming the same files; the variation picture points at the copy's variation.
        QCOMPARE(db()->selectCount("SELECT id FROM articles_images WHERE image='Uhr_rot.jpg' AND "
                                   "variant_id IN (SELECT id FROM articles_variations WHERE "
                                   "SKU='Uhr-rot')"),
                 3);
        for (int source : sources) {
            QCOMPARE(TestSupport::values(db(), source, "Folder,ItemID"), QStringLiteral("-7|110042"));
            QCOMPARE(children(source), QStringLiteral("3/1"));
        }
        QCOMPARE(folderCount(*m_window, m_userFolder), 4);
        QCOMPARE(m_window->itemList()->selectedItems().size(), 2);
        QVERIFY(pasteOffered());
    }

    void cutPasted_data()
    {
        QTest::addColumn<bool>("intoShownFolder");
        QTest::newRow("into another folder") << false;
        QTest::newRow("into the folder of the sources") << true;
    }
    void cutPasted()
    {
        QFETCH(bool, intoShownFolder);
        const QList<int> sources { article(-10, "Uhr"), article(-10, "Lampe"),
                                   article(-10, "Vase") };
        const int target = intoShownFolder ? -10 : m_userFolder;
        QVERIFY(showAndSelect(*m_window, -10, sources));
        trigger(*m_window, "actionAusschneiden");
        // Gone before the paste, behind the window's back: no copy, no count.
        for (const char *table : { "articles_images", "articles_variations" })
            QVERIFY(db()->executeSQL(QStringLiteral("DELETE FROM %1 WHERE article_id=%2")
                                         .arg(QLatin1String(table))
                                         .arg(sources[1])));
        QVERIFY(db()->executeSQL("DELETE FROM articles WHERE id=" + QString::number(sources[1])));
        QVERIFY(m_window->showFolder(target));
        const int draftsBefore = folderCount(*m_window, -10);
        const int targetBefore = folderCount(*m_window, target);

        trigger(*m_window, "actionEinf_gen");

        const QList<int> copies = newArticles(sources.last());
        QCOMPARE(copies.size(), 2);
        for (int source : sources) {
            QCOMPARE(db()->selectCount("SELECT id FROM articles WHERE id=" + QString::number(source)),
                     0);
            QCOMPARE(children(source), QStringLiteral("0/0"));
            QVERIFY(!rowOf(*m_window, source));
        }
        for (int copy : copies) {
            QCOMPARE(children(copy), QStringLiteral("3/1"));
            QVERIFY(rowOf(*m_window, copy));
        }
        QCOMPARE(m_window->itemList()->topLevelItemCount(), 2);
        if (intoShownFolder) {
            QCOMPARE(folderCount(*m_window, -10), draftsBefore);
        } else {
            QCOMPARE(folderCount(*m_window, -10), draftsBefore - 2);
            QCOMPARE(folderCount(*m_window, target), targetBefore + 2);
        }
        QVERIFY(!pasteOffered());
    }

    void deletedCopyNotPasted()
    {
        const QList<int> sources { article(-10, "Uhr"), article(-10, "Lampe") };
        QVERIFY(showAndSelect(*m_window, -10, sources));
        trigger(*m_window, "actionKopieren");
        QVERIFY(showAndSelect(*m_window, -10, { sources[0] }));
        DialogAnswers answers;
        answers.pushQuestion(true);
        trigger(*m_window, "actionL_schen");

        trigger(*m_window, "actionEinf_gen");

        const QList<int> copies = newArticles(sources.last());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(TestSupport::values(db(), copies[0], "Title"), QStringLiteral("Lampe"));
    }
};

APP_TEST_MAIN(TestClipboard)
#include "test_clipboard.moc"
