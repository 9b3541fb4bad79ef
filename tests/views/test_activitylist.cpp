#include "core/clock.h"
#include "core/database.h"
#include "core/newsitem.h"
#include "core/specialfolderid.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"
#include "views/newslistitemmodel.h"

#include <QAction>
#include <QElapsedTimer>
#include <QListView>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

using TestSupport::Backend;
using namespace ItemListRole;
using namespace SpecialFolderId;
using Roles = QMap<int, QVariant>;
using Columns = QMap<QString, QVariant>;

namespace {

const QString kOnlyLoad = QStringLiteral("ONLYLOAD");
const QDate kToday(2024, 5, 3);

QString stamp(const QTime &time, const QDate &date = kToday)
{
    return QDateTime(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// An entry and its effect on an article of `folder`, which is shown, with the count of the
// active folder set to 5 before.
struct Effect
{
    QString infotype;
    QString value; // the title of a change entry, the text of a control entry (%1: the id)
    Roles roles; // on the article's row afterwards
    bool listed = true; // in the activity list
    QString mode;
    int folder = Active;
    int activeCount = 5;
    bool removed = false;
};

// articleadd_success or newarticle for an article that moved from folderAtFill (0: deleted).
struct Move
{
    QString infotype;
    int shownFolder;
    int folderAtFill;
    int folderAtEntry;
    bool listedAfter;
};

} // namespace

Q_DECLARE_METATYPE(Effect)
Q_DECLARE_METATYPE(Move)

class EntrySender : public QObject
{
    Q_OBJECT
signals:
    void sendaddNewsItem(NewsItem item);
};

#define USE_WINDOW()                                                                               \
    do {                                                                                           \
        QFETCH_GLOBAL(Backend, backend);                                                           \
        APP_REQUIRE_BACKEND(backend);                                                              \
        QVERIFY(useWindow(backend));                                                               \
    } while (false)

class TestActivityList : public QObject
{
    Q_OBJECT

private:
    // One window per backend row, shared by its cases: each works on articles and entry ids
    // of its own and compares counts with their values before.
    std::unique_ptr<TestSupport::TestDatabase> m_data;
    std::unique_ptr<TestSupport::MainWindowFixture> m_fixture;
    int m_nextNewsId = 100000;

    bool openData(Backend backend)
    {
        m_fixture.reset();
        m_data = std::make_unique<TestSupport::TestDatabase>(backend);
        return m_data->error().isEmpty();
    }
    bool startWindow()
    {
        m_fixture = std::make_unique<TestSupport::MainWindowFixture>(*m_data);
        return !QTest::currentTestFailed() && newsModel() && folders();
    }
    bool useWindow(Backend backend)
    {
        return (m_fixture && m_data->backend() == backend) || (openData(backend) && startWindow());
    }
    MainWindow *window() const { return m_fixture->window(); }
    Database *db() const { return m_data->db(); }
    QTreeWidget *itemList() const { return m_fixture->itemList(); }
    QListView *newsList() const { return window()->findChild<QListView *>("newslist"); }
    NewsListItemModel *newsModel() const
    {
        return qobject_cast<NewsListItemModel *>(newsList()->model());
    }
    FolderModel *folders() const
    {
        return qobject_cast<FolderModel *>(m_fixture->treeView()->model());
    }
    int count(int folder) const { return folders()->findFolderWithId(folder)->count; }
    const NewsItem *newsAt(int row) const
    {
        return newsModel()->GetItem(newsModel()->index(row, 0));
    }
    int entries() const { return newsModel()->rowCount(); }
    int rowsOf(int articleId) const
    {
        int rows = 0;
        for (int i = 0; i < itemList()->topLevelItemCount(); ++i)
            rows += itemList()->topLevelItem(i)->data(0, ArticleIdRole).toInt() == articleId;
        return rows;
    }
    int addArticle(int folder, const QString &title, Columns more = {})
    {
        more.insert(QStringLiteral("Folder"), folder);
        more.insert(QStringLiteral("Title"), title);
        return TestSupport::insertArticle(db(), more);
    }
    // Shows `folder`, where the article lies, and returns the article's row.
    QTreeWidgetItem *show(int folder, int article)
    {
        return m_fixture->showFolder(folder) ? window()->IsItemWithIdHere(article) : nullptr;
    }
    NewsItem entry(const QString &infotype, const QString &title, int articleId,
                   const QString &textinfo = QString())
    {
        NewsItem item;
        item.id = m_nextNewsId++;
        item.indate = QDateTime::currentDateTime();
        item.infotype = infotype;
        item.title = title;
        item.textinfo = textinfo;
        item.databaseid = articleId;
        return item;
    }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase() { qputenv("ZERIRE_ITEM_HOST", "https://items.example.test/"); }
    void cleanup() { Clock::setCurrentDateTimeForTesting(QDateTime()); }
    void cleanupTestCase()
    {
        m_fixture.reset();
        m_data.reset();
    }

    void loadKeepsTodaysNewestEntries()
    {
        QFETCH_GLOBAL(Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        QVERIFY2(openData(backend), qPrintable(m_data->error()));
        Clock::setCurrentDateTimeForTesting(QDateTime(kToday, QTime(12, 0)));

        auto store = [this](const QString &indate, const QString &infotype, const QString &title,
                            const QString &textinfo = QString()) {
            const Columns row { { "indate", indate },
                                { "infotype", infotype },
                                { "title", title },
                                { "textinfo", textinfo },
                                { "databaseid", 1 } };
            return db()->insertSqlClean(row, QStringLiteral("itemshistory")) > 0;
        };
        // 150 of today, one a minute, stored out of order; the newest carries a value and "(f)".
        for (int k = 0; k < 150; ++k) {
            const int i = (k * 7) % 150;
            QVERIFY(store(stamp(QTime(8, 0).addSecs(60 * i)), "bid",
                          QStringLiteral("Eintrag %1").arg(i) + (i == 149 ? "|||3" : ""),
                          i == 149 ? "Neues(f) Gebot" : "Gebot"));
        }
        QVERIFY(store(stamp(QTime(23, 59, 59), kToday.addDays(-1)), "bid", "Gestern"));
        QVERIFY(store(stamp(QTime(11, 0), kToday.addYears(-1)), "bid", "Voriges Jahr"));
        QVERIFY(store(stamp(QTime(11, 30)), "quantitychange", "A|||2"));
        QVERIFY(store(stamp(QTime(11, 31)), "quantitychange", "B|||1"));

        QVERIFY(startWindow());
        QCOMPARE(entries(), 100);
        QCOMPARE(newsAt(0)->title, QStringLiteral("Eintrag 149"));
        QCOMPARE(newsAt(0)->textinfo, QStringLiteral("Neues Gebot"));
        for (int row = 1; row < 100; ++row)
            QCOMPARE(newsAt(row)->title, QStringLiteral("Eintrag %1").arg(149 - row));
        QCOMPARE(db()->selectCount(QStringLiteral("SELECT id FROM itemshistory")).value(), 150);
    }

    void entryEffects_data()
    {
        QTest::addColumn<Effect>("effect");
        const QString removal = "Anzeige wurde zur Neueinlesung gelöscht (-2,%1)";
        const Roles failed { { PlannedIntervalRole, "" },
                             { DoCheckRole, 0 },
                             { DoCheckResultRole, "Preis(f) fehlt" } };
        auto row = [](const char *name, const QString &infotype, const QString &value,
                      const Roles &roles, bool listed = true, const QString &mode = QString(),
                      int folder = Active, int activeCount = 5, bool removed = false) {
            QTest::newRow(name) << Effect { infotype, value,  roles,       listed,
                                            mode,     folder, activeCount, removed };
        };
        row("quantitychange", "quantitychange", "Lampe|||7", { { QuantityRole, 7 } }, false);
        row("currentpricechange", "currentpricechange", "Lampe|||12,50 €",
            { { PriceTextRole, "12,50 €" } }, false);
        row("planning_add_success", "planning_add_success", "Lampe",
            { { PlannedIntervalRole, "----" } });
        for (const char *type : { "articleadd_fail", "articlecheck_fail", "articlecheck_success",
                                  "planning_add_fail" })
            row(type, type, "Lampe", failed);
        row("watcher", "watcher", "Lampe|||3", { { WatchCountRole, 3 } });
        row("message", "message", "Lampe|||2", { { QuestionCountRole, 2 } });
        row("sellcount", "sellcount", "Lampe|||4", { { SoldCountRole, 4 } });
        row("watcher, no number", "watcher", "Lampe|||viele", { { WatchCountRole, 1 } });
        row("watcher, loading", "watcher", "Lampe|||3", { { WatchCountRole, 1 } }, true, kOnlyLoad);
        row("sync", "sync", "(-9,12)", {}, false, "", Active, 12);
        row("sync, three values", "sync", "(-9,12,1)", {}, false);
        row("sync, loading", "sync", "(-9,12)", {}, false, kOnlyLoad);
        row("removeitem", "removeitem", removal, {}, false, "", Outbox, 5, true);
        row("removeitem, folder not shown", "removeitem", removal, {}, false);
        row("removeitem, loading", "removeitem", removal, {}, false, kOnlyLoad, Outbox);
    }
    void entryEffects()
    {
        USE_WINDOW();
        QFETCH(Effect, effect);
        const int article = addArticle(effect.folder, "Lampe",
                                       { { "WatchCount", 1 }, { "Planned_Interval", "7" } });
        QTreeWidgetItem *row = show(effect.folder, article);
        QVERIFY(row);
        row->setData(0, DoCheckRole, 1);
        folders()->ChangeFolderCount(Active, 5, true);
        const int before = entries();
        // Change entries carry their value in the title, control entries theirs in the text.
        const bool control = effect.infotype == "sync" || effect.infotype == "removeitem";
        const QString text = control ? QString(effect.value).replace("%1", QString::number(article))
                                     : QStringLiteral("Preis(f) fehlt");
        window()->addNewsItem(
            entry(effect.infotype, control ? "Lampe" : effect.value, article, text), effect.mode);

        QCOMPARE(window()->IsItemWithIdHere(article), effect.removed ? nullptr : row);
        for (auto it = effect.roles.cbegin(); it != effect.roles.cend(); ++it)
            QCOMPARE(row->data(0, it.key()).toString(), it.value().toString());
        QCOMPARE(entries(), before + int(effect.listed));
        QCOMPARE(count(Active), effect.activeCount);
    }

    void entriesAddOrRemoveRows_data()
    {
        QTest::addColumn<Move>("move");
        const QString added = "articleadd_success";
        const QString found = "newarticle";
        QTest::newRow("listed, outbox shown") << Move { added, Outbox, Outbox, Active, false };
        QTest::newRow("listed, active shown") << Move { added, Active, Outbox, Active, true };
        QTest::newRow("listed, other folder shown") << Move { added, Sold, Outbox, Active, false };
        QTest::newRow("listed, row there already") << Move { added, Active, Active, Active, true };
        QTest::newRow("found, deleted meanwhile") << Move { found, Active, Active, 0, false };
        QTest::newRow("found, in the shown folder") << Move { found, Active, Sold, Active, true };
        QTest::newRow("found, moved away") << Move { found, Active, Active, Sold, false };
        QTest::newRow("found, listed already") << Move { found, Active, Active, Active, true };
    }
    void entriesAddOrRemoveRows()
    {
        USE_WINDOW();
        QFETCH(Move, move);
        const int article = addArticle(move.folderAtFill, "Uhr");
        QVERIFY(m_fixture->showFolder(move.shownFolder));
        const int otherRows = itemList()->topLevelItemCount() - rowsOf(article);
        folders()->ChangeFolderCount(Outbox, 5, true);
        folders()->ChangeFolderCount(Active, 5, true);
        const QString where = QStringLiteral(" WHERE id=%1").arg(article);
        QVERIFY(db()->executeSQL(
            move.folderAtEntry == 0
                ? "DELETE FROM articles" + where
                : QStringLiteral("UPDATE articles SET Folder=%1").arg(move.folderAtEntry) + where));

        window()->addNewsItem(entry(move.infotype, "Uhr", article, "erledigt"));

        QCOMPARE(rowsOf(article), int(move.listedAfter));
        QCOMPARE(itemList()->topLevelItemCount(), otherRows + int(move.listedAfter));
        if (move.listedAfter && move.folderAtFill != move.shownFolder)
            QCOMPARE(itemList()->topLevelItem(0)->data(0, ArticleIdRole).toInt(), article);
        const int moved = move.infotype == "articleadd_success" ? 1 : 0;
        QCOMPARE(count(Outbox), 5 - moved);
        QCOMPARE(count(Active), 5 + moved);
    }

    void entryFromAnotherThreadIsTakenOnce()
    {
        USE_WINDOW();
        const int article = addArticle(Active, "Lampe", { { "WatchCount", 1 } });
        QTreeWidgetItem *row = show(Active, article);
        QVERIFY(row);
        folders()->ChangeFolderCount(Active, 5, true);
        const int before = entries();

        // Blocking queued from another thread, as the workers send.
        NewsItem watcher = entry("watcher", "Lampe|||3", article, "Neuer Beobachter");
        EntrySender sender;
        connect(
            &sender, &EntrySender::sendaddNewsItem, window(),
            [this](const NewsItem &item) { window()->addNewsItem(item); },
            Qt::BlockingQueuedConnection);
        std::unique_ptr<QThread> thread(
            QThread::create([&] { emit sender.sendaddNewsItem(watcher); }));
        thread->start();
        QTRY_VERIFY(thread->isFinished());
        QCOMPARE(row->data(0, WatchCountRole).toInt(), 3);
        QCOMPARE(entries(), before + 1);

        // The same id again, whatever it holds now: no row, no effect. (The waiting above let
        // the counts be read from the database again.)
        const int active = count(Active);
        watcher.title = QStringLiteral("Lampe|||8");
        window()->addNewsItem(watcher);
        watcher.infotype = QStringLiteral("sync");
        watcher.textinfo = QStringLiteral("(-9,12)");
        window()->addNewsItem(watcher);
        QCOMPARE(row->data(0, WatchCountRole).toInt(), 3);
        QCOMPARE(count(Active), active);
        QCOMPARE(entries(), before + 1);
    }

    // A worker's entries go on while the window is busy, and are taken in batches: the
    // activity list gets a few insertions, not one per entry, and keeps the newest entries.
    void workersEntriesComeInBatches()
    {
        USE_WINDOW();
        const int article = addArticle(Active, "Lampe", { { "WatchCount", 1 } });
        QTreeWidgetItem *row = show(Active, article);
        QVERIFY(row);
        QSignalSpy inserted(newsModel(), &QAbstractItemModel::rowsInserted);

        constexpr int kEntries = 3000;
        QList<NewsItem> sent;
        for (int i = 1; i <= kEntries; ++i)
            sent << entry("watcher", QStringLiteral("Lampe|||%1").arg(i), article);
        EntrySender sender;
        connect(&sender, &EntrySender::sendaddNewsItem, window(), &MainWindow::queueNewsItem,
                Qt::QueuedConnection);
        std::unique_ptr<QThread> thread(QThread::create([&] {
            for (const NewsItem &item : qAsConst(sent))
                emit sender.sendaddNewsItem(item);
        }));
        thread->start();
        // The window's thread runs no event meanwhile: a sender waiting for it would hang.
        QVERIFY(thread->wait(60000));

        QTRY_COMPARE(row->data(0, WatchCountRole).toInt(), kEntries);
        QCOMPARE(entries(), NewsListItemModel::MaxEntries);
        QCOMPARE(newsAt(0)->id, sent.last().id);
        QVERIFY2(inserted.count() <= 5, qPrintable(QString::number(inserted.count())));
    }

    // An article's entry "wird gerade bearbeitet..." goes when the outcome of that work comes,
    // live or loaded; other articles' stay.
    void progressEntryIsReplacedByTheOutcome_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("mode");
        for (const char *outcome :
             { "articlecheck_success", "articlecheck_fail", "articleadd_success", "articleadd_fail",
               "planning_add_success", "planning_add_fail" })
            QTest::newRow(outcome) << outcome << QString();
        QTest::newRow("loaded") << "articleadd_fail" << kOnlyLoad;
        QTest::newRow("begun again") << "progress" << QString();
    }
    void progressEntryIsReplacedByTheOutcome()
    {
        USE_WINDOW();
        QFETCH(QString, outcome);
        QFETCH(QString, mode);
        const int article = addArticle(Drafts, "Lampe");
        const int other = addArticle(Drafts, "Uhr");
        const QString working = QStringLiteral("wird gerade bearbeitet...");
        window()->addNewsItem(entry("progress", "Lampe", article, working), mode);
        window()->addNewsItem(entry("progress", "Uhr", other, working), mode);
        const int before = entries();
        window()->addNewsItem(entry(outcome, "Lampe", article, "Fertig"), mode);

        QCOMPARE(entries(), before);
        QCOMPARE(newsAt(0)->infotype, outcome);
        QCOMPARE(newsAt(0)->databaseid, article);
        QCOMPARE(newsAt(1)->infotype, QStringLiteral("progress"));
        QCOMPARE(newsAt(1)->databaseid, other);
        for (int i = 1; i < entries(); ++i)
            QVERIFY(newsAt(i)->databaseid != article);
    }

    // The listing worker's entries reach the window without the worker waiting for it: the
    // article's check is done and stored while the window's thread is busy, and its outcome
    // then stands in the list in place of the entry "in progress".
    void listingWorkerNeverWaitsForTheWindow()
    {
        USE_WINDOW();
        TestSupport::FakeHttpServer marketplace; // answers every call with a failure
        marketplace.pointConfigHere();
        const int account = db()->insertSqlClean(
            { { "accountname", "laden" }, { "token", "T" }, { "sandbox", 0 } }, "accounts");
        QVERIFY(account > 0);
        const int article = addArticle(Drafts, "Lampe", { { "Account", account } });
        QVERIFY(db()->executeSQL(
            QStringLiteral("UPDATE articles SET DoCheck=1 WHERE id=%1").arg(article)));

        emit window()->startCheckNow();
        QElapsedTimer waited;
        waited.start();
        QString result;
        while (result.isEmpty() && waited.elapsed() < 60000) {
            QThread::msleep(20);
            result
                = db()->selectOne(QStringLiteral("SELECT DoCheckResult FROM articles WHERE id=%1")
                                      .arg(article))
                      .value();
        }
        QVERIFY2(!result.isEmpty(), "the listing worker waited for the window");

        QTRY_VERIFY(entries() > 0 && newsAt(0)->databaseid == article
                    && newsAt(0)->infotype == QLatin1String("articlecheck_fail"));
        for (int i = 1; i < entries(); ++i)
            QVERIFY(newsAt(i)->databaseid != article);
    }

    void clearingTheList()
    {
        USE_WINDOW();
        NewsItem first = entry("bid", "Erster", 0);
        first.id
            = db()->insertSqlClean({ { "title", first.title } }, QStringLiteral("itemshistory"));
        QVERIFY(first.id > 0);
        window()->addNewsItem(first);
        QAction *clear = window()->findChild<QAction *>("actionListe_leeren");
        QVERIFY(clear);

        // A failed delete leaves the list as it is (and is told in the failed-write notice).
        const int before = entries();
        QVERIFY(db()->executeSQL("ALTER TABLE itemshistory RENAME TO itemshistory_away"));
        {
            DialogAnswers answers;
            clear->trigger();
            QTRY_COMPARE(answers.messages().size(), 1);
        }
        QVERIFY(db()->executeSQL("ALTER TABLE itemshistory_away RENAME TO itemshistory"));
        QCOMPARE(entries(), before);

        clear->trigger();
        QCOMPARE(entries(), 0);
        QCOMPARE(db()->selectCount(QStringLiteral("SELECT id FROM itemshistory")).value(), 0);
        // Entries taken before stay out; new ones come in.
        window()->addNewsItem(first);
        QCOMPARE(entries(), 0);
        window()->addNewsItem(entry("bid", "Dritter", 0));
        QCOMPARE(entries(), 1);
    }

    void clickingAnEntry_data()
    {
        QTest::addColumn<int>("folder"); // 0: the article is deleted
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<QList<QUrl>>("opened");

        QTest::newRow("in another folder, online")
            << int(Sold) << "110012345678"
            << QList<QUrl> { QUrl(QStringLiteral("https://items.example.test/itm/110012345678")) };
        QTest::newRow("in the shown folder, not online") << int(Active) << "" << QList<QUrl>();
        QTest::newRow("deleted") << 0 << "110012345670" << QList<QUrl>();
    }

    void clickingAnEntry()
    {
        USE_WINDOW();
        QFETCH(int, folder);
        QFETCH(QString, itemId);
        QFETCH(QList<QUrl>, opened);

        // The article comes after many others, so the list has to scroll to it.
        const int other = addArticle(Active, "Anderer Artikel");
        const int articleFolder = folder == 0 ? int(Active) : folder;
        for (int i = 0; i < 40; ++i)
            addArticle(articleFolder, "Weiterer Artikel");
        const int article
            = addArticle(articleFolder, "Gesuchter Artikel", { { "ItemID", itemId } });
        if (folder == 0)
            QVERIFY(
                db()->executeSQL(QStringLiteral("DELETE FROM articles WHERE id=%1").arg(article)));
        QTreeWidgetItem *otherRow = show(Active, other);
        QVERIFY(otherRow);
        itemList()->setCurrentItem(otherRow);
        auto visible = [this](QTreeWidgetItem *row) {
            return itemList()->viewport()->rect().contains(
                itemList()->visualItemRect(row).center());
        };
        if (folder == Active)
            QVERIFY(!visible(window()->IsItemWithIdHere(article)));
        window()->addNewsItem(entry("bid", "Gesuchter Artikel", article));

        QListView *view = newsList();
        const QPoint entryPos = view->visualRect(newsModel()->index(0, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entryPos);

        const int shown = m_fixture->treeView()->currentIndex().data(Qt::UserRole).toInt();
        QCOMPARE(shown, articleFolder);
        QTreeWidgetItem *row = folder == 0 ? otherRow : window()->IsItemWithIdHere(article);
        QVERIFY(row);
        QCOMPARE(itemList()->selectedItems(), QList<QTreeWidgetItem *> { row });
        QVERIFY(folder == 0 || visible(row));

        UrlCapture urls;
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, entryPos);
        QCOMPARE(urls.urls(), opened);
    }
};

APP_TEST_MAIN(TestActivityList)
#include "test_activitylist.moc"
