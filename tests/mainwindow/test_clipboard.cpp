// Cut, copy and paste of articles.

#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/otherworkstation.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>

namespace {
const QString kListing = QStringLiteral(
    "Folder,ItemID,WatchCount,BidCount,QuestionCount,HighBidder,SoldCount,HasError,LastError,"
    "Planned,Planned_Interval,StartDate,EndDate");
} // namespace

class TestClipboard : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CommandsWindow> m_w;
    int m_userFolder = 0;

    // A listed article with two pictures and a variation with its own picture.
    int article(int folder, const QString &title)
    {
        const int id = m_w->article(
            folder, { { "Title", title }, { "ItemID", "110042" }, { "WatchCount", 3 },
                      { "BidCount", 1 }, { "QuestionCount", 2 }, { "HighBidder", "bieter" },
                      { "SoldCount", 1 }, { "HasError", 1 }, { "LastError", "alt" },
                      { "Planned", "2026-03-11 09:00:00" }, { "Planned_Interval", "J-1" },
                      { "StartDate", "2026-03-01 10:00:00" }, { "EndDate", "2026-03-31" } });
        Database *db = m_w->db();
        const int variation = db->insertSqlClean({ { "article_id", id }, { "SKU", title + "-rot" } },
                                                 "articles_variations");
        bool stored = variation > 0;
        for (const QString &image : { title + "_1.jpg", title + "_2.jpg" })
            stored = stored
                && db->insertSqlClean({ { "article_id", id }, { "image", image } },
                                      "articles_images")
                    > 0;
        stored = stored
            && db->insertSqlClean({ { "article_id", id },
                                    { "image", title + "_rot.jpg" },
                                    { "variant_id", variation } },
                                  "articles_images")
                > 0;
        if (!QTest::qVerify(stored, "stored", qPrintable(db->lastErrorText), __FILE__, __LINE__))
            return 0;
        return id;
    }
    QList<int> newArticles(int after) const
    {
        QList<int> ids;
        for (const ArticleRow &row : m_w->db()
                                         ->select("SELECT id FROM articles WHERE id>"
                                                  + QString::number(after) + " ORDER BY id")
                                         .value())
            ids << row.value("id").toInt();
        return ids;
    }
    // "pictures/variations" of an article.
    QString children(int id) const
    {
        const QString of = QStringLiteral(" WHERE article_id=") + QString::number(id);
        return m_w->db()->selectOne("SELECT COUNT(*) FROM articles_images" + of).value() + '/'
            + m_w->db()->selectOne("SELECT COUNT(*) FROM articles_variations" + of).value();
    }
    bool pasteOffered() const
    {
        return m_w->window()->findChild<QAction *>("actionEinf_gen")->isEnabled();
    }

private slots:
    void init()
    {
        m_w = std::make_unique<CommandsWindow>(TestSupport::Backend::SQLite, [this](Database *db) {
            m_userFolder = db->insertSqlClean(
                { { "foldername", "Eigene" }, { "folderparentid", -10 }, { "expand", 0 } },
                "folders");
        });
        QVERIFY(m_w->ready());
    }
    void cleanup() { m_w.reset(); }

    void copyPastedTwice()
    {
        const QList<int> sources { article(-7, "Uhr"), article(-7, "Lampe") };
        QVERIFY(m_w->select(-7, sources));
        m_w->trigger("actionKopieren");
        QVERIFY(m_w->fixture().showFolder(m_userFolder));

        m_w->trigger("actionEinf_gen");
        m_w->trigger("actionEinf_gen");

        const QList<int> copies = newArticles(sources.last());
        QCOMPARE(copies.size(), 4);
        for (int copy : copies) {
            QCOMPARE(m_w->values(copy, kListing), QString::number(m_userFolder) + "||0|0|0||0|0|||||");
            QCOMPARE(children(copy), QStringLiteral("3/1"));
            QVERIFY(m_w->row(copy));
        }
        // Own rows naming the same files.
        QCOMPARE(m_w->db()
                     ->selectCount("SELECT id FROM articles_images WHERE image='Uhr_rot.jpg'")
                     .value(),
                 3);
        for (int source : sources)
            QCOMPARE(m_w->values(source, "Folder,ItemID") + children(source), "-7|1100423/1");
        QCOMPARE(m_w->count(m_userFolder), 4);
        QCOMPARE(m_w->fixture().itemList()->selectedItems().size(), 2);
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
        QVERIFY(m_w->select(-10, sources));
        m_w->trigger("actionAusschneiden");
        // Gone before the paste, behind the window's back: no copy, no count.
        for (const char *table : { "articles_images", "articles_variations" })
            QVERIFY(m_w->db()->executeSQL(QStringLiteral("DELETE FROM %1 WHERE article_id=%2")
                                              .arg(QLatin1String(table))
                                              .arg(sources[1])));
        QVERIFY(m_w->db()->executeSQL("DELETE FROM articles WHERE id=" + QString::number(sources[1])));
        QVERIFY(m_w->fixture().showFolder(target));
        const int sum = m_w->count(-10) + m_w->count(m_userFolder);

        m_w->trigger("actionEinf_gen");

        const QList<int> copies = newArticles(sources.last());
        QCOMPARE(copies.size(), 2);
        for (int source : sources)
            QCOMPARE(m_w->values(source, "id") + children(source) + (m_w->row(source) ? "!" : ""),
                     QStringLiteral("0/0"));
        for (int copy : copies)
            QCOMPARE(children(copy) + (m_w->row(copy) ? "" : "!"), QStringLiteral("3/1"));
        QCOMPARE(m_w->fixture().itemList()->topLevelItemCount(), 2);
        QCOMPARE(m_w->count(-10) + m_w->count(m_userFolder), sum);
        QCOMPARE(m_w->count(target), intoShownFolder ? sum : 2);
        QVERIFY(!pasteOffered());
    }

    // Every deleted article leaves the copied ones; the last one copied is kept.
    void deletedCopyNotPasted_data()
    {
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("one of two deleted") << QStringList { "Uhr", "Lampe" };
        QTest::newRow("two of three deleted") << QStringList { "Uhr", "Vase", "Lampe" };
    }
    void deletedCopyNotPasted()
    {
        QFETCH(QStringList, titles);
        QList<int> sources;
        for (const QString &title : titles)
            sources << article(-10, title);
        QVERIFY(m_w->select(-10, sources));
        m_w->trigger("actionKopieren");
        QVERIFY(m_w->select(-10, sources.mid(0, sources.size() - 1)));
        DialogAnswers answers;
        answers.pushQuestion(true);
        m_w->trigger("actionL_schen");

        m_w->trigger("actionEinf_gen");

        const QList<int> copies = newArticles(sources.last());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(m_w->values(copies[0], "Title"), QStringLiteral("Lampe"));
    }

    // Moving an article the database won't let go of (a trigger refuses removing its option
    // values): the paste is one unit, so nothing moves, no copy is kept, every source stays
    // whole where it was and stays cut, and no count moves.
    void cutWithFailedRemoval()
    {
        const QList<int> sources { article(-10, "Uhr"), article(-10, "Lampe") };
        Database *db = m_w->db();
        QVERIFY(db->insertSqlClean({ { "article_id", sources[0] }, { "optionname", "Farbe" } },
                                   "articles_variations_op_val")
                > 0);
        QVERIFY(TestSupport::refuseRows(db, "articles_variations_op_val", "DELETE", "nein"));
        QVERIFY(m_w->select(-10, sources));
        m_w->trigger("actionAusschneiden");
        QVERIFY(m_w->fixture().showFolder(m_userFolder));
        const int drafts = m_w->count(-10);
        DialogAnswers answers;

        m_w->trigger("actionEinf_gen");

        // The refused removal is told as every failed change is.
        QTRY_COMPARE(answers.messages().size(), 1);
        QCOMPARE(newArticles(sources.last()).size(), 0);
        for (int source : sources)
            QCOMPARE(m_w->values(source, "Folder") + children(source), QStringLiteral("-103/1"));
        QCOMPARE(m_w->count(-10), drafts);
        QCOMPARE(m_w->count(m_userFolder), 0);
        QVERIFY(pasteOffered());
    }

    // An article whose copy is refused keeps the whole paste from being stored: nothing moves
    // and everything stays cut. Pasted again once the cause is gone, every article moves once.
    void refusedCopyStaysCut()
    {
        const QList<int> sources { article(-10, "Uhr"), article(-10, "Lampe") };
        Database *db = m_w->db();
        QVERIFY(TestSupport::refuseRows(db, "articles", "INSERT", "nein", "NEW.Title = 'Uhr'"));
        QVERIFY(m_w->select(-10, sources));
        m_w->trigger("actionAusschneiden");
        QVERIFY(m_w->fixture().showFolder(m_userFolder));
        DialogAnswers answers;

        m_w->trigger("actionEinf_gen");

        QTRY_COMPARE(answers.messages().size(), 1);
        for (int source : sources)
            QCOMPARE(m_w->values(source, "Folder"), QStringLiteral("-10"));
        QCOMPARE(newArticles(sources.last()).size(), 0);
        QCOMPARE(m_w->count(m_userFolder), 0);
        QVERIFY(pasteOffered());

        QVERIFY(db->executeSQL(QStringLiteral("DROP TRIGGER refuse_articles_insert")));
        m_w->trigger("actionEinf_gen");
        QTRY_COMPARE(m_w->count(m_userFolder), 2);
        for (int source : sources)
            QCOMPARE(m_w->values(source, "id"), QString());
        QCOMPARE(newArticles(sources.last()).size(), 2);
        QVERIFY(!pasteOffered());
    }

    // Another workstation holds the articles (on the local file another connection its write
    // lock) while they are pasted or duplicated: one wait, nothing stored, told once as a
    // conflict; given again once it let go, each article is pasted once.
    void heldElsewhere_data()
    {
        QTest::addColumn<TestSupport::Backend>("backend");
        QTest::addColumn<QString>("command");
        for (const auto backend : { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
            const char *name = backend == TestSupport::Backend::MySQL ? "mysql" : "sqlite";
            for (const char *command : { "Einfügen nach Kopieren", "Einfügen nach Ausschneiden",
                                         "Duplizieren", "Als Vorlage" })
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(name),
                                                                       QString::fromUtf8(command))))
                    << backend << QString::fromUtf8(command);
        }
    }
    void heldElsewhere()
    {
        QFETCH(TestSupport::Backend, backend);
        QFETCH(QString, command);
        APP_REQUIRE_BACKEND(backend);
        if (backend == TestSupport::Backend::MySQL) {
            m_w.reset();
            m_w = std::make_unique<CommandsWindow>(backend, [this](Database *db) {
                m_userFolder = db->insertSqlClean(
                    { { "foldername", "Eigene" }, { "folderparentid", -10 }, { "expand", 0 } },
                    "folders");
            });
            QVERIFY(m_w->ready());
        }
        constexpr int kArticles = 20;
        const bool listings = command == "Als Vorlage";
        const int from = listings ? -9 : -10;
        QList<int> sources;
        for (int i = 0; i < kArticles; ++i)
            sources << article(from, QStringLiteral("Artikel %1").arg(i));
        const int last = sources.last();
        QVERIFY(m_w->select(from, sources));
        const auto give = [&] {
            if (command.startsWith("Einfügen")) {
                m_w->trigger(command.endsWith("Kopieren") ? "actionKopieren" : "actionAusschneiden");
                QVERIFY(m_w->fixture().showFolder(m_userFolder));
                m_w->trigger("actionEinf_gen");
            } else {
                m_w->trigger("actionDuplizieren");
            }
        };
        // Where each article is, its pictures and variations.
        const auto stored = [&] {
            QStringList parts;
            for (int source : sources)
                parts << m_w->values(source, "Folder") + ':' + children(source);
            return parts.join(' ') + " +" + QString::number(newArticles(last).size());
        };
        const QString before = stored();
        DialogAnswers answers;

        {
            QStringList ids;
            for (int source : sources)
                ids << QString::number(source);
            TestSupport::OtherWorkstation held(
                m_w->data(),
                QStringLiteral("SELECT id FROM articles WHERE id IN (%1)").arg(ids.join(',')));
            QVERIFY2(held.error().isEmpty(), qPrintable(held.error()));
            QElapsedTimer took;
            took.start();
            give();
            // One wait for the lock, not one per article (20 of 2 s).
            QVERIFY2(took.elapsed() < 8000, qPrintable(QString::number(took.elapsed())));
            QCOMPARE(stored(), before);
        }
        QTRY_COMPARE(answers.shownTexts().size(), 1);
        QVERIFY2(answers.shownTexts().first().contains("gerade"),
                 qPrintable(answers.shownTexts().first()));
        QCOMPARE(m_w->count(m_userFolder), 0);

        // Given again: every article once (the clipboard kept what it held).
        if (command.startsWith("Einfügen")) {
            m_w->trigger("actionEinf_gen");
        } else {
            QVERIFY(m_w->select(from, sources));
            m_w->trigger("actionDuplizieren");
        }
        const QList<int> copies = newArticles(last);
        QCOMPARE(copies.size(), kArticles);
        for (int copy : copies)
            QCOMPARE(children(copy), QStringLiteral("3/1"));
        const int target = command.startsWith("Einfügen") ? m_userFolder : -10;
        QCOMPARE(m_w->db()
                     ->selectCount(QStringLiteral("SELECT id FROM articles WHERE Folder=%1 AND "
                                                  "id>%2 AND LastError='' AND ItemID=''")
                                       .arg(target)
                                       .arg(last))
                     .value(),
                 kArticles);
        QCOMPARE(m_w->db()->selectCount("SELECT id FROM articles").value(),
                 kArticles * (command.endsWith("Ausschneiden") ? 1 : 2));
        QCOMPARE(answers.shownTexts().size(), 1);
    }
};

APP_TEST_MAIN(TestClipboard)
#include "test_clipboard.moc"
