#include "core/clock.h"
#include "core/database.h"
#include "core/newsitem.h"
#include "core/specialfolderid.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"
#include "views/newslistitemmodel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QContextMenuEvent>
#include <QListView>
#include <QMenu>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <memory>

using TestSupport::Backend;
using namespace ItemListRole;

namespace {

const QString kOnlyLoad = QStringLiteral("ONLYLOAD");
const QDate kToday(2024, 5, 3);

using Roles = QMap<int, QVariant>;

// The row roles the entries may change, checked together so that a write to the wrong role
// shows up as well.
const QList<int> kWatchedRoles { QuantityRole,      PriceTextRole,     PlannedIntervalRole,
                                 DoCheckRole,       DoCheckResultRole, WatchCountRole,
                                 QuestionCountRole, SoldCountRole,     BidCountRole };

Roles watchedRoles(const QTreeWidgetItem *row)
{
    Roles roles;
    for (int role : kWatchedRoles)
        roles.insert(role, row->data(0, role));
    return roles;
}

QString stamp(const QTime &time, const QDate &date = kToday)
{
    return QDateTime(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

// Sends entries from another thread, the way the workers do.
class EntrySender : public QObject
{
    Q_OBJECT
signals:
    void sendaddNewsItem(NewsItem item);
};

class TestActivityList : public QObject
{
    Q_OBJECT

private:
    // One window per backend row, reused by the cases of that row: each case works on
    // articles and entry ids of its own and compares counts with their values before.
    struct Session
    {
        explicit Session(Backend backend)
            : data(backend)
        { }
        TestSupport::TestDatabase data;
        std::unique_ptr<TestSupport::MainWindowFixture> fixture;
        std::unique_ptr<QAbstractItemModelTester> newsTester;
    };
    std::unique_ptr<Session> m_session;
    int m_nextNewsId = 100000;

    bool startWindow();
    bool useWindow(Backend backend);
    MainWindow *window() const { return m_session->fixture->window(); }
    Database *db() const { return m_session->data.db(); }
    QTreeWidget *itemList() const { return m_session->fixture->itemList(); }
    QListView *newsList() const
    {
        return window()->findChild<QListView *>(QStringLiteral("newslist"));
    }
    NewsListItemModel *newsModel() const
    {
        return qobject_cast<NewsListItemModel *>(newsList()->model());
    }
    FolderModel *folders() const
    {
        return qobject_cast<FolderModel *>(m_session->fixture->treeView()->model());
    }
    int count(int folder) const { return folders()->findFolderWithId(folder)->count; }
    int shownFolder() const
    {
        return m_session->fixture->treeView()->currentIndex().data(Qt::UserRole).toInt();
    }
    const NewsItem *newsAt(int row) const
    {
        return newsModel()->GetItem(newsModel()->index(row, 0));
    }
    int rowsOf(int articleId) const;
    int addArticle(int folder, const QString &title, const QMap<QString, QVariant> &more = {});
    NewsItem entry(const QString &infotype, const QString &title, int articleId,
                   const QString &textinfo = QString());

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase();
    void cleanup();
    void cleanupTestCase() { m_session.reset(); }

    void loadKeepsTodaysNewestEntries();
    void liveEntryChangesItsRow_data();
    void liveEntryChangesItsRow();
    void controlEntries_data();
    void controlEntries();
    void entriesAddOrRemoveRows_data();
    void entriesAddOrRemoveRows();
    void eachEntryIsTakenOnce();
    void clearingTheList();
    void clickingAnEntry_data();
    void clickingAnEntry();
};

bool TestActivityList::startWindow()
{
    m_session->fixture = std::make_unique<TestSupport::MainWindowFixture>(m_session->data);
    if (QTest::currentTestFailed() || !window() || !newsList() || !newsModel() || !folders())
        return false;
    m_session->newsTester = std::make_unique<QAbstractItemModelTester>(
        newsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    return true;
}

bool TestActivityList::useWindow(Backend backend)
{
    if (m_session && m_session->data.backend() == backend && m_session->fixture)
        return true;
    m_session.reset();
    m_session = std::make_unique<Session>(backend);
    if (!m_session->data.error().isEmpty()) {
        qWarning().noquote() << m_session->data.error();
        return false;
    }
    return startWindow();
}

int TestActivityList::rowsOf(int articleId) const
{
    int rows = 0;
    for (int i = 0; i < itemList()->topLevelItemCount(); ++i)
        rows += itemList()->topLevelItem(i)->data(0, ArticleIdRole).toInt() == articleId;
    return rows;
}

int TestActivityList::addArticle(int folder, const QString &title,
                                 const QMap<QString, QVariant> &more)
{
    QMap<QString, QVariant> columns = more;
    columns.insert(QStringLiteral("Folder"), folder);
    columns.insert(QStringLiteral("Title"), title);
    return TestSupport::insertArticle(db(), columns);
}

NewsItem TestActivityList::entry(const QString &infotype, const QString &title, int articleId,
                                 const QString &textinfo)
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

void TestActivityList::initTestCase()
{
    // The item page address comes from the configuration; a host of our own shows that it
    // is used (and that its scheme is not doubled).
    qputenv("ZERIRE_ITEM_HOST", "https://items.example.test");
}

void TestActivityList::cleanup()
{
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestActivityList::loadKeepsTodaysNewestEntries()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    m_session.reset();
    m_session = std::make_unique<Session>(backend);
    QVERIFY2(m_session->data.error().isEmpty(), qPrintable(m_session->data.error()));
    Clock::setCurrentDateTimeForTesting(QDateTime(kToday, QTime(12, 0)));

    auto store = [this](const QString &indate, const QString &infotype, const QString &title,
                        const QString &textinfo = QString()) {
        const QMap<QString, QVariant> row { { QStringLiteral("indate"), indate },
                                            { QStringLiteral("infotype"), infotype },
                                            { QStringLiteral("title"), title },
                                            { QStringLiteral("textinfo"), textinfo },
                                            { QStringLiteral("databaseid"), 1 } };
        return db()->insertSqlClean(row, QStringLiteral("itemshistory")) > 0;
    };
    // 150 entries of today, one a minute from 08:00, stored out of order so that only their
    // time can sort them. The newest carries a change value and the "(f)" marker.
    for (int k = 0; k < 150; ++k) {
        const int i = (k * 7) % 150;
        const bool newest = i == 149;
        QVERIFY(store(stamp(QTime(8, 0).addSecs(60 * i)), QStringLiteral("bid"),
                      QStringLiteral("Eintrag %1").arg(i)
                          + (newest ? QStringLiteral("|||3") : QString()),
                      newest ? QStringLiteral("Neues(f) Gebot") : QStringLiteral("Gebot")));
    }
    // Yesterday late in the evening, a year ago today, and today's quantity changes, which
    // would be newer than all of the above.
    QVERIFY(store(stamp(QTime(23, 59, 59), kToday.addDays(-1)), QStringLiteral("bid"),
                  QStringLiteral("Gestern")));
    QVERIFY(store(stamp(QTime(11, 0), kToday.addYears(-1)), QStringLiteral("bid"),
                  QStringLiteral("Voriges Jahr")));
    QVERIFY(store(stamp(QTime(11, 30)), QStringLiteral("quantitychange"), QStringLiteral("A|||2")));
    QVERIFY(store(stamp(QTime(11, 31)), QStringLiteral("quantitychange"), QStringLiteral("B|||1")));

    QVERIFY(startWindow());

    QCOMPARE(newsModel()->rowCount(), 100);
    QCOMPARE(newsAt(0)->title, QStringLiteral("Eintrag 149"));
    QCOMPARE(newsAt(0)->textinfo, QStringLiteral("Neues Gebot"));
    for (int row = 1; row < 100; ++row)
        QCOMPARE(newsAt(row)->title, QStringLiteral("Eintrag %1").arg(149 - row));

    QCOMPARE(db()->selectCount(QStringLiteral("SELECT id FROM itemshistory")), 150);
    QCOMPARE(db()->selectCount(QStringLiteral("SELECT id FROM itemshistory WHERE indate LIKE '")
                               + kToday.toString(QStringLiteral("yyyy-MM-dd"))
                               + QStringLiteral("%'")),
             150);
    QCOMPARE(db()->selectCount(
                 QStringLiteral("SELECT id FROM itemshistory WHERE infotype='quantitychange'")),
             0);
}

void TestActivityList::liveEntryChangesItsRow_data()
{
    QTest::addColumn<QString>("infotype");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("textinfo");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<Roles>("changes");
    QTest::addColumn<QString>("listedTitle"); // empty: not listed
    QTest::addColumn<QString>("listedText");

    // Every row but the last two is a live entry.
    auto row = [](const char *name, const char *infotype, const char *title, const char *textinfo,
                  const Roles &changes, const char *listedTitle, const char *listedText,
                  const QString &mode = QString()) {
        QTest::newRow(name) << QString::fromUtf8(infotype) << QString::fromUtf8(title)
                            << QString::fromUtf8(textinfo) << mode << changes
                            << QString::fromUtf8(listedTitle) << QString::fromUtf8(listedText);
    };
    row("quantitychange, never listed", "quantitychange", "Lampe|||7", "Menge geändert",
        { { QuantityRole, 7 } }, "", "");
    row("currentpricechange, never listed", "currentpricechange", "Lampe|||12,50 €",
        "Preis geändert", { { PriceTextRole, QStringLiteral("12,50 €") } }, "", "");
    row("planning_add_success", "planning_add_success", "Lampe", "Start geplant",
        { { PlannedIntervalRole, QStringLiteral("----") } }, "Lampe", "Start geplant");
    const Roles failed { { PlannedIntervalRole, QString() },
                         { DoCheckRole, 0 },
                         { DoCheckResultRole, QStringLiteral("Preis(f) fehlt") } };
    for (const char *type :
         { "articleadd_fail", "articlecheck_fail", "articlecheck_success", "planning_add_fail" })
        row(type, type, "Lampe", "Preis(f) fehlt", failed, "Lampe", "Preis fehlt");
    row("watcher, value cut from the title", "watcher", "Lampe|||3", "(f)Neuer Beobachter",
        { { WatchCountRole, 3 } }, "Lampe", "Neuer Beobachter");
    row("message", "message", "Lampe|||2", "Neue Frage", { { QuestionCountRole, 2 } }, "Lampe",
        "Neue Frage");
    row("sellcount", "sellcount", "Lampe|||4", "Verkauft", { { SoldCountRole, 4 } }, "Lampe",
        "Verkauft");
    row("watcher without a value", "watcher", "Lampe", "Beobachter", {}, "Lampe", "Beobachter");
    row("watcher with a value that is no number", "watcher", "Lampe|||viele", "Beobachter", {},
        "Lampe", "Beobachter");
    row("bid changes no row", "bid", "Lampe|||9", "Neues Gebot", {}, "Lampe", "Neues Gebot");
    row("watcher while loading", "watcher", "Lampe|||3", "Beobachter", {}, "Lampe", "Beobachter",
        kOnlyLoad);
    row("quantitychange while loading", "quantitychange", "Lampe|||7", "Menge", {}, "", "",
        kOnlyLoad);
}

void TestActivityList::liveEntryChangesItsRow()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QVERIFY(useWindow(backend));
    QFETCH(QString, infotype);
    QFETCH(QString, title);
    QFETCH(QString, textinfo);
    QFETCH(QString, mode);
    QFETCH(Roles, changes);
    QFETCH(QString, listedTitle);
    QFETCH(QString, listedText);

    const int article = addArticle(SpecialFolderId::Active, QStringLiteral("Lampe"),
                                   { { QStringLiteral("Quantity"), 5 },
                                     { QStringLiteral("WatchCount"), 1 },
                                     { QStringLiteral("QuestionCount"), 1 },
                                     { QStringLiteral("SoldCount"), 1 },
                                     { QStringLiteral("BidCount"), 1 },
                                     { QStringLiteral("StartPrice"), 9.99 },
                                     { QStringLiteral("Planned_Interval"), QStringLiteral("7") } });
    QVERIFY(m_session->fixture->showFolder(SpecialFolderId::Active));
    QTreeWidgetItem *row = window()->IsItemWithIdHere(article);
    QVERIFY(row);
    // As if a verification were under way.
    row->setData(0, DoCheckRole, 1);
    row->setData(0, DoCheckResultRole, QStringLiteral("Wird geprüft"));
    Roles expected = watchedRoles(row);
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        expected.insert(it.key(), it.value());
    const int entriesBefore = newsModel()->rowCount();

    window()->addNewsItem(entry(infotype, title, article, textinfo), mode);

    QCOMPARE(window()->IsItemWithIdHere(article), row);
    for (int role : kWatchedRoles)
        QVERIFY2(
            row->data(0, role).toString() == expected.value(role).toString(),
            qPrintable(QStringLiteral("role %1 holds \"%2\", expected \"%3\"")
                           .arg(role)
                           .arg(row->data(0, role).toString(), expected.value(role).toString())));
    if (listedTitle.isEmpty()) {
        QCOMPARE(newsModel()->rowCount(), entriesBefore);
    } else {
        QCOMPARE(newsModel()->rowCount(), entriesBefore + 1);
        QCOMPARE(newsAt(0)->title, listedTitle);
        QCOMPARE(newsAt(0)->textinfo, listedText);
        QCOMPARE(newsAt(0)->infotype, infotype);
        QCOMPARE(newsAt(0)->databaseid, article);
    }
}

void TestActivityList::controlEntries_data()
{
    QTest::addColumn<QString>("infotype");
    QTest::addColumn<QString>("textinfo"); // %1: the article's id
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("shownFolder"); // the article lies in it
    QTest::addColumn<bool>("removed");
    QTest::addColumn<int>("activeCount"); // -1: unchanged

    auto row = [](const char *name, const char *infotype, const char *textinfo, const QString &mode,
                  int shownFolder, bool removed, int activeCount) {
        QTest::newRow(name) << QString::fromUtf8(infotype) << QString::fromUtf8(textinfo) << mode
                            << shownFolder << removed << activeCount;
    };
    const QString live;
    const int outbox = SpecialFolderId::Outbox;
    const int active = SpecialFolderId::Active;
    const char *removal = "Anzeige wurde zur Neueinlesung gelöscht (-2,%1)";
    row("sync sets the count", "sync", "Abgleich (-9,12)", live, active, false, 12);
    row("sync without a value", "sync", "(-9)", live, active, false, -1);
    row("sync with three values", "sync", "(-9,12,1)", live, active, false, -1);
    row("sync with a text count", "sync", "(-9,zwölf)", live, active, false, -1);
    row("sync while loading", "sync", "(-9,33)", kOnlyLoad, active, false, -1);
    row("removeitem in the shown folder", "removeitem", removal, live, outbox, true, -1);
    row("removeitem for a folder not shown", "removeitem", removal, live, active, false, -1);
    row("removeitem while loading", "removeitem", removal, kOnlyLoad, outbox, false, -1);
    row("removeitem with three values", "removeitem", "(-2,%1,1)", live, outbox, false, -1);
}

void TestActivityList::controlEntries()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QVERIFY(useWindow(backend));
    QFETCH(QString, infotype);
    QFETCH(QString, textinfo);
    QFETCH(QString, mode);
    QFETCH(int, shownFolder);
    QFETCH(bool, removed);
    QFETCH(int, activeCount);

    const int article = addArticle(shownFolder, QStringLiteral("Uhr"));
    QVERIFY(m_session->fixture->showFolder(shownFolder));
    QVERIFY(window()->IsItemWithIdHere(article));
    folders()->ChangeFolderCount(SpecialFolderId::Active, 5, true);
    const int entriesBefore = newsModel()->rowCount();

    window()->addNewsItem(entry(infotype, QStringLiteral("Steuerung"), 0, textinfo.arg(article)),
                          mode);

    QCOMPARE(rowsOf(article), removed ? 0 : 1);
    QCOMPARE(count(SpecialFolderId::Active), activeCount < 0 ? 5 : activeCount);
    QCOMPARE(newsModel()->rowCount(), entriesBefore);
}

void TestActivityList::entriesAddOrRemoveRows_data()
{
    QTest::addColumn<QString>("infotype");
    QTest::addColumn<int>("shownFolder");
    QTest::addColumn<int>("folderAtFill"); // where the article was when the list was filled
    QTest::addColumn<int>("folderAtEntry"); // where it is when the entry comes; 0: deleted
    QTest::addColumn<bool>("listedAfter");
    QTest::addColumn<int>("outboxChange");
    QTest::addColumn<int>("activeChange");

    auto row = [](const char *name, const char *infotype, int shownFolder, int folderAtFill,
                  int folderAtEntry, bool listedAfter, int outboxChange, int activeChange) {
        QTest::newRow(name) << QString::fromUtf8(infotype) << shownFolder << folderAtFill
                            << folderAtEntry << listedAfter << outboxChange << activeChange;
    };
    const char *added = "articleadd_success";
    const char *found = "newarticle";
    const int outbox = SpecialFolderId::Outbox;
    const int active = SpecialFolderId::Active;
    const int sold = SpecialFolderId::Sold;
    const int unsold = SpecialFolderId::Unsold;
    row("listed, outbox shown", added, outbox, outbox, active, false, -1, 1);
    row("listed, active folder shown", added, active, outbox, active, true, -1, 1);
    row("listed, other folder shown", added, sold, outbox, active, false, -1, 1);
    row("listed, deleted meanwhile", added, active, outbox, 0, false, -1, 1);
    row("listed, row there already", added, active, active, active, true, -1, 1);
    row("found, deleted meanwhile", found, active, active, 0, false, 0, 0);
    row("found, in the shown folder", found, active, sold, active, true, 0, 0);
    row("found, moved away", found, active, active, sold, false, 0, 0);
    row("found, listed already", found, active, active, active, true, 0, 0);
    row("found, in another folder", found, active, sold, unsold, false, 0, 0);
}

void TestActivityList::entriesAddOrRemoveRows()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QVERIFY(useWindow(backend));
    QFETCH(QString, infotype);
    QFETCH(int, shownFolder);
    QFETCH(int, folderAtFill);
    QFETCH(int, folderAtEntry);
    QFETCH(bool, listedAfter);
    QFETCH(int, outboxChange);
    QFETCH(int, activeChange);

    const QString title = QStringLiteral("Uhr %1").arg(m_nextNewsId);
    const int article = addArticle(folderAtFill, title);
    QVERIFY(m_session->fixture->showFolder(shownFolder));
    const bool listedBefore = rowsOf(article) == 1;
    const int rowsBefore = itemList()->topLevelItemCount();
    folders()->ChangeFolderCount(SpecialFolderId::Outbox, 5, true);
    folders()->ChangeFolderCount(SpecialFolderId::Active, 5, true);
    const QString where = QStringLiteral(" WHERE id=") + QString::number(article);
    if (folderAtEntry == 0)
        QVERIFY(db()->executeSQL(QStringLiteral("DELETE FROM articles") + where));
    else
        QVERIFY(db()->executeSQL(QStringLiteral("UPDATE articles SET Folder=")
                                 + QString::number(folderAtEntry) + where));

    window()->addNewsItem(entry(infotype, title, article, QStringLiteral("erledigt")));

    QCOMPARE(rowsOf(article), listedAfter ? 1 : 0);
    QCOMPARE(itemList()->topLevelItemCount(), rowsBefore - int(listedBefore) + int(listedAfter));
    if (listedAfter && !listedBefore) {
        QTreeWidgetItem *top = itemList()->topLevelItem(0);
        QCOMPARE(top->data(0, ArticleIdRole).toInt(), article);
        QCOMPARE(top->data(0, TitleRole).toString(), title);
        QCOMPARE(top->data(0, FolderRole).toInt(), folderAtEntry);
    }
    QCOMPARE(count(SpecialFolderId::Outbox), 5 + outboxChange);
    QCOMPARE(count(SpecialFolderId::Active), 5 + activeChange);
    QCOMPARE(newsAt(0)->databaseid, article);
}

void TestActivityList::eachEntryIsTakenOnce()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QVERIFY(useWindow(backend));

    const int article = addArticle(SpecialFolderId::Active, QStringLiteral("Lampe"),
                                   { { QStringLiteral("WatchCount"), 1 } });
    QVERIFY(m_session->fixture->showFolder(SpecialFolderId::Active));
    QTreeWidgetItem *row = window()->IsItemWithIdHere(article);
    QVERIFY(row);
    folders()->ChangeFolderCount(SpecialFolderId::Active, 5, true);
    const int entriesBefore = newsModel()->rowCount();

    // From another thread, through a blocking queued connection as the workers send: the
    // sender goes on only after the window has taken the entry.
    NewsItem watcher = entry(QStringLiteral("watcher"), QStringLiteral("Lampe|||3"), article,
                             QStringLiteral("Neuer Beobachter"));
    watcher.indate = QDateTime(kToday, QTime(9, 15));
    EntrySender sender;
    std::atomic<bool> taken { false };
    std::atomic<bool> takenWhenSent { false };
    connect(
        &sender, &EntrySender::sendaddNewsItem, window(),
        [&](const NewsItem &item) {
            window()->addNewsItem(item);
            taken = true;
        },
        Qt::BlockingQueuedConnection);
    std::unique_ptr<QThread> thread(QThread::create([&] {
        emit sender.sendaddNewsItem(watcher);
        takenWhenSent = taken.load();
    }));
    thread->start();
    QTRY_VERIFY(thread->isFinished());
    QVERIFY(takenWhenSent);
    QCOMPARE(row->data(0, WatchCountRole).toInt(), 3);
    QCOMPARE(newsModel()->rowCount(), entriesBefore + 1);
    QCOMPARE(newsAt(0)->title, QStringLiteral("Lampe"));
    QCOMPARE(newsAt(0)->indate, watcher.indate);

    // The same id again, whatever it holds now: no row, no effect.
    NewsItem again = watcher;
    again.title = QStringLiteral("Lampe|||8");
    window()->addNewsItem(again);
    again.infotype = QStringLiteral("sync");
    again.textinfo = QStringLiteral("(-9,12)");
    window()->addNewsItem(again);
    QCOMPARE(row->data(0, WatchCountRole).toInt(), 3);
    QCOMPARE(count(SpecialFolderId::Active), 5);
    QCOMPARE(newsModel()->rowCount(), entriesBefore + 1);
}

void TestActivityList::clearingTheList()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QVERIFY(useWindow(backend));

    const QMap<QString, QVariant> stored { { QStringLiteral("indate"), stamp(QTime(10, 0)) },
                                           { QStringLiteral("infotype"), QStringLiteral("bid") },
                                           { QStringLiteral("title"), QStringLiteral("Erster") } };
    const int storedId = db()->insertSqlClean(stored, QStringLiteral("itemshistory"));
    QVERIFY(storedId > 0);
    const NewsItem first
        = db()->selectNews(QStringLiteral("id=") + QString::number(storedId)).value(0);
    QCOMPARE(first.id, storedId);
    window()->addNewsItem(first);
    QVERIFY(newsModel()->rowCount() > 0);

    // The context menu offers the command.
    QListView *view = newsList();
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5));
    QApplication::sendEvent(view->viewport(), &menuEvent);
    QMenu *menu = nullptr;
    QTRY_VERIFY((menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())));
    QCOMPARE(menu->actions().size(), 2);
    QVERIFY(menu->actions().at(0)->isSeparator());
    QAction *clear = menu->actions().at(1);
    QCOMPARE(clear->objectName(), QStringLiteral("actionListe_leeren"));
    QCOMPARE(clear->text(), QStringLiteral("Liste leeren"));
    menu->close();

    // A failed delete leaves the list as it is.
    const int entriesBefore = newsModel()->rowCount();
    QVERIFY(
        db()->executeSQL(QStringLiteral("ALTER TABLE itemshistory RENAME TO itemshistory_away")));
    clear->trigger();
    QVERIFY(
        db()->executeSQL(QStringLiteral("ALTER TABLE itemshistory_away RENAME TO itemshistory")));
    QCOMPARE(newsModel()->rowCount(), entriesBefore);

    clear->trigger();
    QCOMPARE(newsModel()->rowCount(), 0);
    QCOMPARE(db()->selectCount(QStringLiteral("SELECT id FROM itemshistory")), 0);

    // Entries taken before stay out; new ones come in.
    window()->addNewsItem(first);
    QCOMPARE(newsModel()->rowCount(), 0);
    window()->addNewsItem(entry(QStringLiteral("bid"), QStringLiteral("Dritter"), 0));
    QCOMPARE(newsModel()->rowCount(), 1);
    QCOMPARE(newsAt(0)->title, QStringLiteral("Dritter"));
}

void TestActivityList::clickingAnEntry_data()
{
    QTest::addColumn<int>("folder"); // 0: the article is deleted
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QList<QUrl>>("opened");

    QTest::newRow("in another folder, online")
        << int(SpecialFolderId::Sold) << "110012345678" << QByteArray("https://items.example.test/")
        << QList<QUrl> { QUrl(QStringLiteral("https://items.example.test/itm/110012345678")) };
    QTest::newRow("host without scheme")
        << int(SpecialFolderId::Unsold) << "110012345679" << QByteArray("items.example.test")
        << QList<QUrl> { QUrl(QStringLiteral("https://items.example.test/itm/110012345679")) };
    QTest::newRow("in the shown folder, not online")
        << int(SpecialFolderId::Active) << "" << QByteArray("https://items.example.test")
        << QList<QUrl>();
    QTest::newRow("deleted") << 0 << "110012345670" << QByteArray("https://items.example.test")
                             << QList<QUrl>();
}

void TestActivityList::clickingAnEntry()
{
    QFETCH_GLOBAL(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QVERIFY(useWindow(backend));
    QFETCH(int, folder);
    QFETCH(QString, itemId);
    QFETCH(QByteArray, host);
    QFETCH(QList<QUrl>, opened);
    qputenv("ZERIRE_ITEM_HOST", host);

    // The article sought comes after many others, so the list has to scroll to it.
    const int other = addArticle(SpecialFolderId::Active, QStringLiteral("Anderer Artikel"));
    const int articleFolder = folder == 0 ? int(SpecialFolderId::Active) : folder;
    for (int i = 0; i < 40; ++i)
        addArticle(articleFolder, QStringLiteral("Weiterer Artikel"));
    const int article = addArticle(articleFolder, QStringLiteral("Gesuchter Artikel"),
                                   { { QStringLiteral("ItemID"), itemId } });
    if (folder == 0)
        QVERIFY(db()->executeSQL(QStringLiteral("DELETE FROM articles WHERE id=")
                                 + QString::number(article)));
    QVERIFY(m_session->fixture->showFolder(SpecialFolderId::Active));
    QTreeWidgetItem *otherRow = window()->IsItemWithIdHere(other);
    QVERIFY(otherRow);
    itemList()->setCurrentItem(otherRow);
    if (folder == SpecialFolderId::Active) {
        const QRect before = itemList()->visualItemRect(window()->IsItemWithIdHere(article));
        QVERIFY(!itemList()->viewport()->rect().contains(before.center()));
    }
    window()->addNewsItem(
        entry(QStringLiteral("bid"), QStringLiteral("Gesuchter Artikel"), article));

    QListView *view = newsList();
    const QPoint entryPos = view->visualRect(newsModel()->index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entryPos);

    if (folder == 0) {
        QCOMPARE(shownFolder(), int(SpecialFolderId::Active));
        QCOMPARE(itemList()->selectedItems(), QList<QTreeWidgetItem *> { otherRow });
        QCOMPARE(window()->focusWidget(), static_cast<QWidget *>(view));
    } else {
        QCOMPARE(shownFolder(), folder);
        QTreeWidgetItem *row = window()->IsItemWithIdHere(article);
        QVERIFY(row);
        QCOMPARE(itemList()->selectedItems(), QList<QTreeWidgetItem *> { row });
        QCOMPARE(window()->focusWidget(), static_cast<QWidget *>(itemList()));
        const QRect shown = itemList()->visualItemRect(row);
        QVERIFY(itemList()->viewport()->rect().contains(shown.center()));
    }

    UrlCapture urls;
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, entryPos);
    QCOMPARE(urls.urls(), opened);
}

APP_TEST_MAIN(TestActivityList)
#include "test_activitylist.moc"
