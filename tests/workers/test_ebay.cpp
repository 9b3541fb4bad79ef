#include "workers/ebay.h"

#include "core/clock.h"
#include "core/database.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"
#include "tests/support/databaseoutage.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/sqlitereadcut.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/listingthread.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QSqlQuery>
#include <optional>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;
using TestSupport::TableSnapshot;
using TestSupport::values;

// One row already in the database and what a round leaves of it.
struct Reconciliation
{
    int account; // 1 and 2 read fine, 3 fails
    QString fields; // over an active article of quantity 3
    QString listed; // seconds after the read's stamp; empty: never
    bool read; // the read reports it
    int expected; // folder afterwards
};
Q_DECLARE_METATYPE(Reconciliation)
Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QDateTime kNow(QDate(2026, 3, 10), QTime(14, 30, 0));
const QString kStamp = QStringLiteral("2026-03-10 14:30:00");

QByteArray reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                          "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3</%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

QByteArray pictureBytes()
{
    QFile file(QStringLiteral(":/buttons/images/info.png"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Inserts an article: "Column=value;..." over the defaults below; returns its id.
int addArticle(Database *db, const QString &fields = QString())
{
    QMap<QString, QVariant> columns = { { "Account", 1 },  { "Folder", -9 },   { "Title", "Uhr" },
                                        { "Quantity", 3 }, { "SoldCount", 0 }, { "Trash", 0 } };
    for (const QString &pair : fields.split(';', Qt::SkipEmptyParts))
        columns.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return db->insertSqlClean(columns, QStringLiteral("articles"));
}

ArticleModel *record(const QString &itemId, bool isNew = false)
{
    auto *r = new ArticleModel;
    r->ItemID = itemId;
    r->IsNew = isNew;
    r->Account = 1;
    r->Title = QStringLiteral("Neue Uhr");
    return r;
}

QStringList requestedPaths(const FakeHttpServer &server)
{
    QStringList paths;
    for (const RecordedRequest &request : server.requests())
        paths << request.path;
    return paths;
}

} // namespace

class TestEbay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init();
    void cleanup();

    void reconciliation_data();
    void reconciliation();
    void readWindowStart_data();
    void readWindowStart();
    void roundDropsCachedProfiles();

    void knownListingEntries_data();
    void knownListingEntries();
    void knownListingSetsWhatChanged_data();
    void knownListingSetsWhatChanged();
    void switchesHoldForTheRound();
    void unreadSwitchesLoseThePage();
    void cutReads_data();
    void cutReads();
    void pageOfKnownListings();
    void newListingPicture_data();
    void newListingPicture();
    void pictureNotMadeDurableLosesThePage();
    void appDownInTheMiddleOfAPage();
    void invalidItemNumberSkipped_data();
    void invalidItemNumberSkipped();
    void listingOfTheOutbox_data();
    void listingOfTheOutbox();

    void waitBetweenRounds_data();
    void waitBetweenRounds();
    void appDownEndsTheRound();
    void questionsOnLaterPages_data();
    void questionsOnLaterPages();
    void failedRoundIsShown_data();
    void failedRoundIsShown();
    void unreadRoundIsShown_data();
    void unreadRoundIsShown();
    void cutOffAccountReplyNotStored();
    void roundWritesWhatItAlwaysWrote();
    void entriesFollowWhatIsWritten();
    void failedStatementLosesThePage();
    void noRoundWithoutKeys_data();
    void noRoundWithoutKeys();

private:
    // Reads one page of listings as the round does, with the spies connected.
    void readPage(const QList<ArticleModel *> &page);
    // Serves the account reads: the token `reporting` gets the active listing 500, the token
    // "FAIL" an error, others nothing. Every GetUser moves the clock on by an hour, so each
    // account's read carries a stamp of its own.
    void serveAccounts(const QString &reporting = QString());

    std::unique_ptr<FakeHttpServer> m_server;
    QStringList m_counts; // "folder+=count"
    QList<NewsItem> m_news;
};

void TestEbay::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_server->setCallReply("GetMemberMessages",
                           FakeReply::ok(reply("GetMemberMessages", "Success")));
    qApp->setProperty("AppDown", 0);
    Clock::setCurrentDateTimeForTesting(kNow);
    m_counts.clear();
    m_news.clear();
}

void TestEbay::cleanup()
{
    m_server.reset();
    qApp->setProperty("AppDown", QVariant());
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestEbay::readPage(const QList<ArticleModel *> &page)
{
    Ebay ebay;
    ebay.refreshHash = kStamp;
    connect(&ebay, &Ebay::ChangeFolderCount, this, [this](int folder, int count) {
        m_counts << QString::number(folder) + "+=" + QString::number(count);
    });
    connect(&ebay, &Ebay::sendaddNewsItem, this, [this](const NewsItem &item) { m_news << item; });
    ebay.getAdItems(page);
}

void TestEbay::serveAccounts(const QString &reporting)
{
    m_server->setCallHandler("GetUser", [](const RecordedRequest &) {
        Clock::setCurrentDateTimeForTesting(Clock::currentDateTime().addSecs(3600));
        return FakeReply::ok(reply("GetUser", "Success"));
    });
    m_server->setCallReply("GetUserPreferences",
                           FakeReply::ok(reply("GetUserPreferences", "Success")));
    m_server->setCallHandler("GetSellerList", [=](const RecordedRequest &request) {
        const QString token
            = XmlNode::parse(request.body).value("RequesterCredentials/eBayAuthToken");
        if (token == "FAIL")
            return FakeReply::ok(reply("GetSellerList", "Failure",
                                       "<Errors><ShortMessage>x</ShortMessage><LongMessage>Token "
                                       "abgelaufen.</LongMessage><SeverityCode>Error</SeverityCode>"
                                       "</Errors>"));
        const QString item = QStringLiteral(
            "<Item><ItemID>500</ItemID><Title>Uhr</Title><Quantity>3</Quantity><SellingStatus>"
            "<CurrentPrice currencyID=\"EUR\">9.99</CurrentPrice><QuantitySold>0</QuantitySold>"
            "<ListingStatus>Active</ListingStatus></SellingStatus></Item>");
        return FakeReply::ok(reply("GetSellerList", "Success",
                                   "<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages>"
                                   "</PaginationResult><ItemArray>"
                                       + (token == reporting ? item : QString()) + "</ItemArray>"));
    });
}

void TestEbay::reconciliation_data()
{
    QTest::addColumn<Reconciliation>("c");
    QTest::newRow("unseen: unsold") << Reconciliation { 1, "SoldCount=1", "", false, -8 };
    QTest::newRow("unseen, sold out") << Reconciliation { 1, "SoldCount=3", "", false, -7 };
    QTest::newRow("unseen unsold, sold out")
        << Reconciliation { 1, "Folder=-8;SoldCount=3", "", false, -7 };
    QTest::newRow("seen: stays") << Reconciliation { 2, "", "", true, -9 };
    QTest::newRow("read failed") << Reconciliation { 3, "SoldCount=1", "", false, -9 };
    QTest::newRow("listed as the read began")
        << Reconciliation { 1, "SoldCount=1", "0", false, -9 };
    QTest::newRow("listed a day before")
        << Reconciliation { 1, "SoldCount=1", "-86400", false, -8 };
    QTest::newRow("marked deleted") << Reconciliation { 1, "SoldCount=1;Trash=1", "", false, -9 };
    QTest::newRow("sold more than listed") << Reconciliation { 1, "SoldCount=4", "", false, -9 };
    QTest::newRow("unseen unsold, quantity left: stays")
        << Reconciliation { 1, "Folder=-8;SoldCount=1", "", false, -8 };
    QTest::newRow("unseen unsold, sold more than listed")
        << Reconciliation { 1, "Folder=-8;SoldCount=4", "", false, -8 };
    QTest::newRow("unseen queued, sold out")
        << Reconciliation { 1, "Folder=-2;SoldCount=3", "", false, -2 };
    QTest::newRow("another account's, sold out")
        << Reconciliation { 2, "SoldCount=3", "", false, -7 };
}

void TestEbay::reconciliation()
{
    QFETCH(Reconciliation, c);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QStringList tokens = { "TOKEN-A", "TOKEN-B", "FAIL" };
    for (const QString &token : tokens)
        QVERIFY(db->insertSqlClean({ { "token", token } }, "accounts") > 0);
    // Account n is read with the stamp kNow + n hours.
    const QDateTime stamp = kNow.addSecs(3600 * c.account);
    const QString listed
        = c.listed.isEmpty() ? "" : stamp.addSecs(c.listed.toInt()).toString(kFormat);
    const int id = addArticle(
        db,
        QStringLiteral("ItemID=500;Account=%1;StartDate=%2;").arg(c.account).arg(listed)
            + c.fields);
    const int control = addArticle(db, QStringLiteral("ItemID=501;Account=%1").arg(c.account));
    QVERIFY(db->setOption("read_account_3", "2026-03-01 08:00:00"));
    serveAccounts(c.read ? tokens.at(c.account - 1) : QString());

    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    Ebay().runRound();

    QCOMPARE(values(db, id, "Folder").toInt(), c.expected);
    if (c.read)
        QCOMPARE(values(db, id, "RefreshHash"), stamp.toString(kFormat));
    // A row unseen by a complete read of its account always leaves the active folder.
    QCOMPARE(values(db, control, "Folder").toInt(), c.account == 3 ? -9 : -8);
    // The failed read leaves its account's window and writes one entry with the reason.
    QCOMPARE(db->getOption("read_account_3", QString()).value(),
             QStringLiteral("2026-03-01 08:00:00"));
    const auto rows = db->select("SELECT textinfo FROM itemshistory").value();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value("textinfo").toString(), QStringLiteral("Token abgelaufen."));
}

void TestEbay::readWindowStart_data()
{
    QTest::addColumn<QString>("stored"); // null: no option
    QTest::addColumn<bool>("closing");
    QTest::addColumn<QDateTime>("start"); // null: no complete read
    const QDateTime floor = kNow.addDays(-89);
    QTest::newRow("no option") << QString() << false << floor;
    QTest::newRow("ten days ago") << kNow.addDays(-10).toString(kFormat) << false
                                  << kNow.addDays(-10);
    QTest::newRow("older than 89 days") << kNow.addDays(-200).toString(kFormat) << false << floor;
    // Stopped without an error text, the read is not complete either.
    QTest::newRow("closing") << QStringLiteral("2026-03-01 08:00:00") << true << QDateTime();
}

void TestEbay::readWindowStart()
{
    QFETCH(QString, stored);
    QFETCH(bool, closing);
    QFETCH(QDateTime, start);
    APP_TEST_DATABASE(tdb);
    if (!stored.isNull())
        QVERIFY(tdb.db()->setOption("read_account_4", stored));
    serveAccounts();
    qApp->setProperty("AppDown", closing ? 1 : 0);

    QCOMPARE(Ebay().GetArticles("TOKEN", "4", 0), closing ? 0 : 1);

    QStringList from;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.callName() == "GetSellerList")
            from << XmlNode::parse(request.body).value("EndTimeFrom");
    }
    if (!closing)
        QCOMPARE(from, QStringList { start.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ") });
    QCOMPARE(tdb.db()->getOption("read_account_4", QString()).value(),
             closing ? stored : QStringLiteral("2026-03-09 14:30:00"));
    QCOMPARE(tdb.db()->selectCount("SELECT id FROM itemshistory").value(), 0);
}

// A round reads the seller profiles and shop categories afresh; the sandbox's stay. It ends
// the sync state it began.
void TestEbay::roundDropsCachedProfiles()
{
    APP_TEST_DATABASE(tdb);
    const QString dir = tdb.db()->getCacheDir();
    const QMap<QString, bool> cache = { { "ap2_getStore_1_77.xml", false },
                                        { "ap2_getProfiles_PAYMENT_77_1.xml", false },
                                        { "sandbox_ap2_getStore_1_77.xml", true },
                                        { "ap2_getCategories_1_77.xml", true } };
    for (const QString &file : cache.keys())
        QVERIFY(QFile(dir + file).open(QIODevice::WriteOnly));

    Ebay ebay;
    QSignalSpy sync(&ebay, &Ebay::setAppToSyncState);
    ebay.runRound();

    for (auto it = cache.cbegin(); it != cache.cend(); ++it)
        QVERIFY2(QFile::exists(dir + it.key()) == it.value(), qPrintable(it.key()));
    QCOMPARE(sync.size(), 2);
    QVERIFY(sync.first().value(0).toBool() && !sync.last().value(0).toBool());
}

// A known listing with the counters sold 2, price 10, quantity 5, questions 0, watchers 3
// and bids 2 against the read values.
void TestEbay::knownListingEntries_data()
{
    QTest::addColumn<QString>("stored"); // over an auction in euros
    QTest::addColumn<QList<double>>("read"); // sold, price, quantity, questions, watchers, bids
    QTest::addColumn<QStringList>("entries"); // "infotype|title suffix|textinfo", in order
    const auto row = [](const char *name, int index, double value, const QString &entry,
                        const QString &stored = QString()) {
        QList<double> read = { 2, 10, 5, 0, 3, 2 };
        read[index] = value;
        QTest::newRow(name) << stored << read
                            << (entry.isEmpty() ? QStringList() : QStringList { entry });
    };
    row("three sales", 0, 5, "sellcount|5|hat 3 neue Verkäufe");
    row("auction rises, dollars", 1, 1234.5, "currentpricechange|1.234,50 $|", "Currency=USD");
    row("three watchers less", 4, 0, "watcherneg|0|hat 3 Beobachter weniger");
    QTest::newRow("all six") << QString() << QList<double> { 3, 10.5, 4, 1, 4, 3 }
                             << QStringList { "sellcount|3|hat einen neuen Verkauf",
                                              "currentpricechange|10,50 €|",
                                              "quantitychange|4|",
                                              "message|1|hat noch unbeantwortete Fragen",
                                              "watcher|4|hat einen neuen Beobachter",
                                              "bid|3|hat einen neuen Bieter" };
}

void TestEbay::knownListingEntries()
{
    QFETCH(QString, stored);
    QFETCH(QList<double>, read);
    QFETCH(QStringList, entries);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int id = addArticle(db,
                              "ItemID=4711;SoldCount=2;CurrentPrice=10;Quantity=5;QuestionCount=0;"
                              "WatchCount=3;BidCount=2;ListingType=Chinese;Currency=EUR;"
                                  + stored);
    ArticleModel *r = record("4711");
    r->SoldCount = int(read.at(0));
    r->CurrentPrice = read.at(1);
    r->Quantity = int(read.at(2));
    r->QuestionCount = int(read.at(3));
    r->WatchCount = int(read.at(4));
    r->BidCount = int(read.at(5));
    readPage({ r });

    QCOMPARE(values(db, id, "QuestionCount,BidCount"),
             QString::number(read.at(3)) + '|' + QString::number(read.at(5)));
    QStringList written;
    for (const NewsItem &item : qAsConst(m_news)) {
        QCOMPARE(QString::number(item.databaseid) + '|' + item.itemid,
                 QString::number(id) + "|4711");
        QVERIFY(item.title.startsWith("Uhr|||"));
        written << item.infotype + '|' + item.title.mid(6) + '|' + item.textinfo;
    }
    QCOMPARE(written, entries);
    QCOMPARE(db->selectCount("SELECT id FROM itemshistory").value(), written.size());
    QVERIFY(m_counts.isEmpty());
}

// A row's folder and quantity are written only when the read changes them (and never for a
// row that keeps its folder): writing an unchanged folder still rewrites the row's entry in the
// folder index. SQLite's "UPDATE OF" triggers tell which columns a statement sets.
void TestEbay::knownListingSetsWhatChanged_data()
{
    QTest::addColumn<QString>("stored"); // over Folder=-9;Quantity=3
    QTest::addColumn<int>("folder"); // read
    QTest::addColumn<int>("quantity"); // read
    QTest::addColumn<QString>("after"); // Folder|Quantity
    QTest::addColumn<QString>("set"); // columns the update set, SQLite only
    QTest::addColumn<QStringList>("counts");
    QTest::newRow("both as stored") << "" << -9 << 3 << "-9|3"
                                    << "" << QStringList();
    QTest::newRow("quantity raised") << "" << -9 << 4 << "-9|4"
                                     << "Quantity" << QStringList();
    QTest::newRow("sold out") << "" << -7 << 3 << "-7|3"
                              << "Folder" << QStringList { "-7+=1", "-9+=-1" };
    QTest::newRow("sold out, quantity raised")
        << "Folder=-8" << -7 << 5 << "-7|5"
        << "Folder,Quantity" << QStringList { "-7+=1", "-8+=-1" };
    QTest::newRow("queued keeps both") << "Folder=-2" << -7 << 5 << "-2|3"
                                       << "" << QStringList();
    QTest::newRow("marked deleted keeps both") << "Trash=1" << -7 << 5 << "-9|3"
                                               << "" << QStringList();
}

void TestEbay::knownListingSetsWhatChanged()
{
    QFETCH(QString, stored);
    QFETCH(int, folder);
    QFETCH(int, quantity);
    QFETCH(QString, after);
    QFETCH(QString, set);
    QFETCH(QStringList, counts);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const bool sqlite = tdb.backend() == TestSupport::Backend::SQLite;
    if (sqlite) {
        QVERIFY(db->executeSQL("CREATE TABLE setcolumns (name TEXT)"));
        for (const char *column : { "Folder", "Quantity" })
            QVERIFY(db->executeSQL(QStringLiteral("CREATE TRIGGER set%1 AFTER UPDATE OF %1 ON "
                                                  "articles BEGIN INSERT INTO setcolumns "
                                                  "VALUES ('%1'); END")
                                       .arg(QLatin1String(column))));
    }
    const int id = addArticle(db, "ItemID=4711;Quantity=3;SoldCount=1;" + stored);
    ArticleModel *r = record("4711");
    r->Folder = folder;
    r->Quantity = quantity;
    r->SoldCount = 2;
    readPage({ r });

    QCOMPARE(values(db, id, "Folder,Quantity,SoldCount,RefreshHash"), after + "|2|" + kStamp);
    QCOMPARE(m_counts, counts);
    if (sqlite) {
        QStringList columns;
        for (const auto &row : db->select("SELECT name FROM setcolumns ORDER BY name").value())
            columns << row.value("name").toString();
        QCOMPARE(columns.join(','), set);
    }
}

// Read sold out, only active and unsold rows follow; the others keep their folder. Prices keep
// two decimals; an item id with a quote reaches no row (it is not the marketplace's); a listing
// saved by the listing worker after the read collected the known item ids is not imported
// again.
// Notification switches that could not be read are not "all on": the page is not written and
// is read again; nothing is told that the seller may have switched off.
void TestEbay::unreadSwitchesLoseThePage()
{
    APP_TEST_READ_OUTAGE(failing, false);
    Database *db = failing.db();
    const int id = addArticle(db, "ItemID=4711;WatchCount=3;Quantity=2");
    QVERIFY(db->setOption("NotiNewWatcher", "0"));
    const auto page = [] {
        ArticleModel *r = record("4711");
        r->Quantity = 2;
        r->WatchCount = 5;
        return QList<ArticleModel *> { r };
    };
    {
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
        QVERIFY(failing.strike("optionname IN ('NotiNewSale'", "options"));
        readPage(page());
        QVERIFY(failing.mend());
        QCOMPARE(log.count("Eingelesene Angebote konnten nicht gespeichert werden"), 1);
        QCOMPARE(log.count("A failed read was taken"), 0);
    }
    QCOMPARE(values(db, id, "WatchCount"), QStringLiteral("3"));
    QVERIFY(m_news.isEmpty());

    readPage(page());
    QCOMPARE(values(db, id, "WatchCount"), QStringLiteral("5"));
    QVERIFY(m_news.isEmpty());
}

void TestEbay::cutReads_data()
{
    QTest::addColumn<QString>("read"); // "known": the account's known item ids; "switches"
    QTest::newRow("known item ids") << "known";
    QTest::newRow("notification switches") << "switches";
}

// A read of the local file cut short after its first row is no read of all rows: the known
// item ids without the rest would import a known listing a second time, switches without the
// rest would tell what the seller switched off. The round (or page) is left and read again.
void TestEbay::cutReads()
{
    QFETCH(QString, read);
    APP_TEST_DATABASE(tdb);
    if (tdb.backend() == TestSupport::Backend::MySQL)
        QSKIP("The server hands a result over whole; a refused one is a failed read");
    Database *db = tdb.db();
    TestSupport::SqliteReadCut cut;
    cut.alsoOn(db->connection());
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
    if (read == "known") {
        // Read in this order: the cut leaves out 500, the listing the marketplace reports.
        const int other = addArticle(db, "ItemID=501");
        const int known = addArticle(db, "ItemID=500");
        QVERIFY(other > 0 && known > 0);
        serveAccounts("TOKEN");
        cut.cutAfter("SELECT ItemID FROM articles WHERE ItemID <> ''", 1);

        QCOMPARE(Ebay().GetArticles("TOKEN", "1", 0), 0);
        QCOMPARE(cut.cuts(), 1);
        QCOMPARE(db->selectCount("SELECT id FROM articles WHERE ItemID = '500'").value(), 1);
        QVERIFY(requestedPaths(*m_server).isEmpty());
        QCOMPARE(db->getOption("read_account_1", QString()).value(), QString());
    } else {
        const int id = addArticle(db, "ItemID=4711;WatchCount=3;Quantity=2");
        QVERIFY(db->setOption("NotiNewSale", "1"));
        QVERIFY(db->setOption("NotiNewWatcher", "0"));
        cut.cutAfter("optionname IN ('NotiNewSale'", 1);
        ArticleModel *r = record("4711");
        r->Quantity = 2;
        r->WatchCount = 5;

        readPage({ r });
        QCOMPARE(cut.cuts(), 1);
        QCOMPARE(log.count("Eingelesene Angebote konnten nicht gespeichert werden"), 1);
        QCOMPARE(values(db, id, "WatchCount"), QStringLiteral("3"));
        QVERIFY(m_news.isEmpty());
    }
    QCOMPARE(log.count("A failed read was taken"), 0);
}

void TestEbay::pageOfKnownListings()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QList<QPair<int, int>> rows // folder, trash
        = { { -9, 0 }, { -8, 0 }, { -2, 0 }, { -3, 0 }, { -5, 0 }, { -9, 1 } };
    QList<ArticleModel *> page;
    QList<int> ids;
    for (int i = 0; i < rows.size(); ++i) {
        ids << addArticle(db,
                          QStringLiteral("ItemID=%1;Folder=%2;Trash=%3;Quantity=2")
                              .arg(80 + i)
                              .arg(rows[i].first)
                              .arg(rows[i].second));
        page << record(QString::number(80 + i));
        page.last()->Folder = -7;
        page.last()->Quantity = page.last()->SoldCount = 4;
    }
    const QList<double> prices = { 10000000.05, 0.1 + 0.2 };
    for (int i = 0; i < prices.size(); ++i) {
        ids << addArticle(db, "ItemID=" + QString::number(i));
        page << record(QString::number(i));
        page.last()->CurrentPrice = prices[i];
    }
    const int quoted = addArticle(db, "ItemID=12'34");
    const int other = addArticle(db, "ItemID=999");
    const int listed = addArticle(db, "ItemID=61;WatchCount=0");
    page << record("12'34") << record("x' OR ''='") << record("61", true);
    page.at(8)->SoldCount = 1;
    page.at(9)->SoldCount = 2;
    page.at(10)->WatchCount = 1;
    page.at(10)->Quantity = 3;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    readPage(page);

    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(values(db, ids[i], "Folder,Quantity,SoldCount,RefreshHash"),
                 (i < 2 ? QStringLiteral("-7|4|") : QStringLiteral("%1|2|").arg(rows[i].first))
                     + "4|" + kStamp);
    // The new folder counts up before the old one counts down.
    QCOMPARE(m_counts, QStringList({ "-7+=1", "-9+=-1", "-7+=1", "-8+=-1" }));
    QCOMPARE(values(db, ids[6], "CurrentPrice").toDouble(), 10000000.05);
    QCOMPARE(values(db, ids[7], "CurrentPrice").toDouble(), 0.3);
    QCOMPARE(values(db, quoted, "SoldCount") + values(db, other, "SoldCount"),
             QStringLiteral("00"));
    QCOMPARE(db->selectCount("SELECT id FROM itemshistory WHERE itemid='12''34'").value(), 0);
    QCOMPARE(db->selectCount("SELECT id FROM articles WHERE ItemID='61'").value(), 1);
    QCOMPARE(values(db, listed, "WatchCount,RefreshHash"), "1|" + kStamp);
    QCOMPARE(db->selectOne("SELECT infotype FROM itemshistory WHERE itemid='61'").value(),
             QStringLiteral("watcher"));
}

void TestEbay::newListingPicture_data()
{
    QTest::addColumn<bool>("served");
    QTest::newRow("fetched") << true;
    QTest::newRow("download fails: address kept") << false;
}

void TestEbay::newListingPicture()
{
    QFETCH(bool, served);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    if (served)
        m_server->setReply("/i/a/$_57.JPG", FakeReply::ok(pictureBytes(), "image/png"));
    ArticleModel *r = record("31", true);
    r->Folder = -8;
    const QString address = m_server->url("/i/a/$_12.JPG").toString();
    r->PictureURLs << address;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker"), QStringLiteral("app.net") });
    readPage({ r });

    // The largest size is asked for.
    QCOMPARE(requestedPaths(*m_server), QStringList { "/i/a/$_57.JPG" });
    QCOMPARE(db->selectCount("SELECT id FROM articles").value(), 1);
    const QString id = db->selectOne("SELECT MAX(id) FROM articles").value();
    const QString thumb = served ? QStringLiteral("thumb_31_0.jpg") : QString();
    QCOMPARE(values(db, id.toInt(), "ImageThumb,RefreshHash,Folder"), thumb + '|' + kStamp + "|-8");
    QCOMPARE(db->selectOne("SELECT image FROM articles_images WHERE article_id=" + id).value(),
             served ? QStringLiteral("31_0.jpg") : address);
    // Picture and thumbnail stand under their names, and nothing else is left behind.
    const QDir::Filters files = QDir::Files | QDir::Hidden;
    QCOMPARE(QDir(db->getCurrentAdImageDir()).entryList(files),
             served ? QStringList { "31_0.jpg" } : QStringList());
    QCOMPARE(QDir(db->getCurrentAdImageDirThumbs()).entryList(files),
             served ? QStringList { "thumb_31_0.jpg" } : QStringList());
    QCOMPARE(m_news.size(), 1);
    QCOMPARE(m_news.first().infotype + '|' + QString::number(m_news.first().databaseid),
             "newarticle|" + id);
    QCOMPARE(m_counts, QStringList { "-8+=1" });
}

// A picture of the page that can't be made durable loses the page: no row names a file that
// may not be whole, and nothing is left in the picture folder.
void TestEbay::pictureNotMadeDurableLosesThePage()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QString folder = db->getCurrentAdImageDir();
    m_server->setDefaultReply(FakeReply::ok(pictureBytes(), "image/png"));
    // The first picture, written but not yet named, goes while the second is fetched.
    m_server->setHandler("/b.jpg", [folder](const RecordedRequest &) {
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(folder + name);
        return FakeReply::ok(pictureBytes(), "image/png");
    });
    ArticleModel *r = record("31", true);
    r->PictureURLs << m_server->url("/a.jpg").toString() << m_server->url("/b.jpg").toString();
    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    readPage({ r });

    QCOMPARE(log.count("konnten nicht gespeichert werden"), 1);
    QCOMPARE(db->selectCount("SELECT id FROM articles").value(), 0);
    QVERIFY(m_news.isEmpty());
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// The program closes while the first picture of the second listing is fetched: the page
// stops there, and every record is released (see the leak-checking build of this test).
void TestEbay::appDownInTheMiddleOfAPage()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int known = addArticle(db, "ItemID=4");
    const QByteArray picture = pictureBytes();
    m_server->setDefaultReply(FakeReply::ok(picture));
    m_server->setHandler("/2_0", [picture](const RecordedRequest &) {
        QMetaObject::invokeMethod(
            qApp, [] { qApp->setProperty("AppDown", 1); }, Qt::BlockingQueuedConnection);
        return FakeReply::ok(picture);
    });
    QList<ArticleModel *> page;
    for (const QString itemId : { "1", "2", "3" }) {
        page << record(itemId, true);
        page.last()->PictureURLs << m_server->url("/" + itemId + "_0").toString()
                                 << m_server->url("/" + itemId + "_1").toString();
    }
    page << record("4");
    page.last()->SoldCount = 2;
    Ebay().getAdItems(page);

    QCOMPARE(requestedPaths(*m_server), QStringList({ "/1_0", "/1_1", "/2_0" }));
    QCOMPARE(db->selectOne("SELECT group_concat(ItemID) FROM articles WHERE ItemID <> '4'").value(),
             QStringLiteral("1"));
    QCOMPARE(values(db, known, "SoldCount"), QStringLiteral("0"));
}

void TestEbay::invalidItemNumberSkipped_data()
{
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<bool>("isNew");
    QTest::newRow("path, new listing") << "../x" << true;
    QTest::newRow("path, known listing") << "../x" << false;
    QTest::newRow("statement, new listing") << "1 OR 1" << true;
    QTest::newRow("statement, known listing") << "1 OR 1" << false;
    QTest::newRow("digits with a blank inside") << "12 34" << true;
}

// A listing whose item number is not the marketplace's (digits only) is logged and skipped:
// no picture is fetched or written under its name, no row is written or changed. The rest of
// the page is applied.
void TestEbay::invalidItemNumberSkipped()
{
    QFETCH(QString, itemId);
    QFETCH(bool, isNew);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int stored = addArticle(db, "ItemID=" + itemId);
    const int one = addArticle(db, "ItemID=1");
    m_server->setDefaultReply(FakeReply::ok(pictureBytes(), "image/png"));
    ArticleModel *hostile = record(itemId, isNew);
    hostile->SoldCount = 2;
    hostile->PictureURLs << m_server->url("/hostile.jpg").toString();
    ArticleModel *fine = record(" 77 ", true);
    fine->PictureURLs << m_server->url("/fine.jpg").toString();

    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    readPage({ hostile, fine });

    QCOMPARE(log.count("invalid item number"), 1);
    QCOMPARE(requestedPaths(*m_server), QStringList { "/fine.jpg" });
    QCOMPARE(values(db, stored, "SoldCount") + values(db, one, "SoldCount"), QStringLiteral("00"));
    QCOMPARE(db->selectOne("SELECT group_concat(ItemID) FROM articles WHERE id > 2").value(),
             QStringLiteral("77"));
    QCOMPARE(QDir(db->getCurrentAdImageDir()).entryList(QDir::Files), QStringList { "77_0.jpg" });
    QCOMPARE(m_news.size(), 1);
    QCOMPARE(m_news.first().itemid, QStringLiteral("77"));
}

void TestEbay::listingOfTheOutbox_data()
{
    QTest::addColumn<QString>("fields"); // the article
    QTest::addColumn<QString>("uuid"); // of the listing: "own", or that of another database
    QTest::addColumn<int>("folder"); // the listing's folder as read
    QTest::addColumn<bool>("onArticle");
    QTest::addColumn<int>("articles");
    QTest::addColumn<QString>("fault"); // made on MariaDB behind a proxy
    const QString queued = "Folder=-2;FolderOld=-10;DoCheck=0";
    QTest::newRow("addition") << queued << "own" << -9 << true << 2 << "";
    QTest::newRow("addition, queued again") << "Folder=-2;FolderOld=-10;DoCheck=2"
                                            << "own" << -9 << true << 2 << "";
    QTest::newRow("addition, sold out since") << queued << "own" << -7 << true << 2 << "";
    QTest::newRow("relisting") << "Folder=-2;FolderOld=-7;DoCheck=0;ItemID=400"
                               << "own" << -9 << true << 1 << "";
    QTest::newRow("listing of another database") << queued << "other" << -9 << false << 2 << "";
    QTest::newRow("article taken out of the outbox") << "Folder=-10"
                                                     << "own" << -9 << false << 2 << "";
    QTest::newRow("outbox lookup failed: read again, no new article")
        << queued << "own" << -9 << true << 2 << "lookup fails";
    QTest::newRow("outbox key read failed: not taken as no key, read again, no new article")
        << queued << "own" << -9 << true << 2 << "key read fails";
    QTest::newRow("taken out of the outbox after the lookup: no listing on it, no new article")
        << queued << "own" << -9 << false << 1 << "moved meanwhile";
}

// A listing the program made for an article of the outbox, read before the listing worker
// stored its result, goes onto that article as the worker would store it (a first listing
// leaves its copy), not into a new article; its pictures are not fetched.
void TestEbay::listingOfTheOutbox()
{
    QFETCH(QString, fields);
    QFETCH(QString, uuid);
    QFETCH(int, folder);
    QFETCH(bool, onArticle);
    QFETCH(int, articles);
    QFETCH(QString, fault);
    QFETCH_GLOBAL(TestSupport::Backend, backend);
    if (!fault.isEmpty() && backend == TestSupport::Backend::SQLite)
        QSKIP("A connection that can be cut is MariaDB's");
    APP_REQUIRE_BACKEND(backend);
    std::optional<TestSupport::MySqlProxy> proxy;
    if (!fault.isEmpty())
        proxy.emplace(TestSupport::MySqlServer::fromEnvironment());
    const auto tdb = proxy ? std::make_unique<TestSupport::TestDatabase>(proxy->server())
                           : std::make_unique<TestSupport::TestDatabase>(backend);
    QVERIFY2(tdb->error().isEmpty(), qPrintable(tdb->error()));
    Database *db = tdb->db();
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
    QVERIFY(db->insertSqlClean({ { "id", 1 }, { "accountname", "händler_1" } }, "accounts") > 0);
    QVERIFY(db->setOption(QStringLiteral("ListingUuidKey"), QStringLiteral("K1")));
    const int id = addArticle(db, fields + ";SoldCount=0;Quantity=3;ListingDuration=Days_7");
    ArticleRow queued
        = db->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id)).value().first();
    queued.insert("accountname", QStringLiteral("händler_1"));
    const QString oldItemId = queued.value("ItemID").toString();
    const int call = ListingThread::listingCallFor(oldItemId, queued.value("FolderOld").toInt());
    ArticleModel *r = record("501", true);
    r->UUID = ListingThread::listingUuid(uuid == "own" ? "K1" : "K2", queued, call);
    r->Folder = folder;
    r->Quantity = 3;
    r->SoldCount = folder == -7 ? 3 : 0;
    r->columns.insert("StartDate", "2026-03-10 14:00:00");
    m_server->setDefaultReply(FakeReply::ok(pictureBytes(), "image/png"));
    r->PictureURLs << m_server->url("/501.jpg").toString();
    if (fault == "lookup fails" || fault == "key read fails") {
        // Its answer is cut each time it is sent, until the connection gives up on it.
        const QByteArray lookup = fault == "lookup fails"
            ? QByteArray("articles.Folder=-2 AND articles.Account=")
            : QByteArray("optionname = 'ListingUuidKey'");
        int cuts = 3;
        std::function<void(quint32)> again = [&](quint32) {
            if (cuts-- > 0)
                proxy->cutAfter(lookup, 1, again);
        };
        proxy->cutAfter(lookup, 1, again);
        readPage({ new ArticleModel(*r) });
        QCOMPARE(db->selectCount("SELECT id FROM articles").value(),
                 1); // nothing of the page stored
    } else if (fault == "moved meanwhile") {
        // When the page's transaction begins, the seller has moved the article.
        const QString database = tdb->mysqlDatabaseName();
        proxy->cutAfter("START TRANSACTION", 1, [database, id](quint32) {
            {
                QSqlDatabase seller = TestSupport::adminConnection(
                    TestSupport::MySqlServer::fromEnvironment(), "outbox_mover", database);
                QSqlQuery(seller).exec("UPDATE articles SET Folder=-10 WHERE id="
                                       + QString::number(id));
            }
            QSqlDatabase::removeDatabase("outbox_mover");
        });
    }
    readPage({ r });

    const bool moved = fault == "moved meanwhile";
    QCOMPARE(db->selectCount("SELECT id FROM articles").value(), articles);
    const int listing = db->selectOne("SELECT id FROM articles WHERE ItemID='501'").value().toInt();
    QCOMPARE(listing == id, onArticle);
    QCOMPARE(db->selectCount("SELECT id FROM articles WHERE ItemID='501'").value(), moved ? 0 : 1);
    QCOMPARE(requestedPaths(*m_server).isEmpty(), onArticle || moved);
    if (moved)
        QCOMPARE(values(db, id, "Folder,ItemID,DoCheck"), QStringLiteral("-10||0"));
    if (!onArticle)
        return;
    QCOMPARE(values(db, id, "Folder,DoCheck,DoCheckResult,StartDate,RefreshHash"),
             QString::number(folder) + "|0||2026-03-10 14:00:00|" + kStamp);
    QStringList news;
    for (const NewsItem &item : qAsConst(m_news)) {
        if (item.infotype == "articleadd_success")
            news << QString::number(item.databaseid) + '|' + item.textinfo;
    }
    QCOMPARE(news,
             QStringList(QString::number(id) + "|wurde erfolgreich "
                         + (oldItemId.isEmpty() ? "eingestellt" : "wiedereingestellt")));
    if (oldItemId.isEmpty()) {
        QCOMPARE(db->selectCount("SELECT id FROM articles WHERE Folder=-10 AND ItemID='' AND "
                                 "DoCheck=0")
                     .value(),
                 1);
        QVERIFY(m_counts.contains("-10+=1"));
    }
}

void TestEbay::waitBetweenRounds_data()
{
    QTest::addColumn<int>("interval"); // "SyncIntervall", minutes
    QTest::addColumn<QList<int>>("waits"); // seconds: the first wait, the one after a round
    QTest::newRow("hourly") << 60 << QList<int> { 300, 3600 };
    QTest::newRow("one minute") << 1 << QList<int> { 300, 60 };
    QTest::newRow("off: ten days") << 0 << QList<int> { 864000, 864000 };
}

void TestEbay::waitBetweenRounds()
{
    QFETCH(int, interval);
    QFETCH(QList<int>, waits);
    APP_TEST_DATABASE(tdb);
    qApp->setProperty("SyncIntervall", interval);
    Ebay ebay;
    QList<int> asked;
    // The first wait is woken at once, the one after the round ends the worker.
    ebay.wait = [&asked](int seconds, bool &stop, bool &) {
        asked << seconds;
        stop = asked.size() == 2;
    };
    ebay.ExecuteAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    qApp->setProperty("SyncIntervall", QVariant());

    QCOMPARE(asked, waits);
}

// The program closes while the first account's data is read: no further request of the
// round, neither for this account's listings nor for the second account.
void TestEbay::appDownEndsTheRound()
{
    APP_TEST_DATABASE(tdb);
    for (const QString token : { "TOKEN-A", "TOKEN-B" })
        QVERIFY(tdb.db()->insertSqlClean({ { "token", token } }, "accounts") > 0);
    serveAccounts();
    m_server->setCallHandler("GetUser", [](const RecordedRequest &) {
        QMetaObject::invokeMethod(
            qApp, [] { qApp->setProperty("AppDown", 1); }, Qt::BlockingQueuedConnection);
        return FakeReply::ok(reply("GetUser", "Success"));
    });

    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    Ebay().runRound();

    QStringList calls;
    for (const RecordedRequest &request : m_server->requests())
        calls << request.callName();
    QCOMPARE(calls, QStringList({ "GetUser", "GetUserPreferences" }));
}

void TestEbay::questionsOnLaterPages_data()
{
    QTest::addColumn<QString>("paging"); // of the first page
    QTest::newRow("page count") << "<PaginationResult><TotalNumberOfPages>2</TotalNumberOfPages>"
                                   "</PaginationResult>";
    QTest::newRow("more-items flag only") << "<HasMoreItems>true</HasMoreItems>";
}

// The question on listing 500 comes on the second page of buyers' questions.
void TestEbay::questionsOnLaterPages()
{
    QFETCH(QString, paging);
    APP_TEST_DATABASE(tdb);
    const int id = addArticle(tdb.db(), "ItemID=500;QuestionCount=0");
    serveAccounts("TOKEN");
    m_server->setCallHandler("GetMemberMessages", [paging](const RecordedRequest &request) {
        const bool first = XmlNode::parse(request.body).value("Pagination/PageNumber") == "1";
        const QString question
            = QStringLiteral("<MemberMessage><MemberMessageExchange><Item><ItemID>"
                             "%1</ItemID></Item></MemberMessageExchange>"
                             "</MemberMessage>")
                  .arg(first ? "77" : "500");
        return FakeReply::ok(reply("GetMemberMessages", "Success",
                                   question
                                       + (first ? paging
                                                : "<PaginationResult><TotalNumberOfPages>2"
                                                  "</TotalNumberOfPages></PaginationResult>"
                                                  "<HasMoreItems>false</HasMoreItems>")));
    });

    QCOMPARE(Ebay().GetArticles("TOKEN", "1", 0), 1);

    QCOMPARE(values(tdb.db(), id, "QuestionCount"), QStringLiteral("1"));
}

void TestEbay::failedRoundIsShown_data()
{
    QTest::addColumn<FakeReply>("answer"); // to GetSellerList
    QTest::addColumn<QString>("reason");
    QTest::newRow("token refused")
        << FakeReply::ok(reply("GetSellerList", "Failure",
                               "<Errors><ShortMessage>Token.</ShortMessage><LongMessage>Token "
                               "abgelaufen.</LongMessage><SeverityCode>Error</SeverityCode>"
                               "</Errors>"))
        << "Token abgelaufen.";
    QTest::newRow("no connection") << FakeReply::dropped() << "Keine Verbindung zu eBay: ";
}

// One activity entry per round and account, and the status panel ends the round on the reason.
void TestEbay::failedRoundIsShown()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, reason);
    APP_TEST_DATABASE(tdb);
    QVERIFY(tdb.db()->insertSqlClean({ { "token", "TOKEN-A" }, { "accountname", "händler_1" } },
                                     "accounts")
            > 0);
    serveAccounts();
    m_server->setCallReply("GetSellerList", answer);
    Ebay ebay;
    QSignalSpy status(&ebay, &Ebay::getStatus);

    TestSupport::MessageCapture log({ QStringLiteral("app.worker"), QStringLiteral("app.net") });
    ebay.runRound();

    const auto rows = tdb.db()->select("SELECT title, textinfo FROM itemshistory").value();
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows.first().value("textinfo").toString().startsWith(reason));
    const QList<QVariant> last = status.last();
    QVERIFY2(last.at(0).toString().startsWith("Einlesefehler: händler_1: " + reason),
             qPrintable(last.at(0).toString()));
    // Shown, not hidden as a finished progress.
    QVERIFY(last.at(1).toInt() != 0 && last.at(1) != last.at(2));
}

void TestEbay::unreadRoundIsShown_data()
{
    QTest::addColumn<QString>("unread"); // "accounts" or "scheduled" articles
    QTest::addColumn<bool>("serverGone"); // else the database refuses the read
    QTest::addColumn<QString>("told"); // after "Einlesefehler: "
    QTest::newRow("accounts refused")
        << "accounts" << false << "Die Konten konnten nicht gelesen werden: ";
    QTest::newRow("accounts, server gone")
        << "accounts" << true << "Die Konten konnten nicht gelesen werden: ";
    QTest::newRow("scheduled articles refused")
        << "scheduled" << false << "Die geplanten Angebote konnten nicht gelesen werden: ";
}

// Accounts or scheduled articles that could not be read are not "none": the round ends on
// the reason in the status panel.
void TestEbay::unreadRoundIsShown()
{
    QFETCH(QString, unread);
    QFETCH(bool, serverGone);
    QFETCH(QString, told);
    APP_TEST_READ_OUTAGE(failing, serverGone);
    QVERIFY(failing.db()->insertSqlClean({ { "token", "TOKEN-A" }, { "accountname", "händler_1" } },
                                         "accounts")
            > 0);
    serveAccounts();
    TestSupport::MessageCapture log(
        { QStringLiteral("app.db"), QStringLiteral("app.worker"), QStringLiteral("app.net") });
    const QByteArray read
        = unread == "accounts" ? "SELECT * FROM accounts" : "FROM articles WHERE Folder = -3";
    QVERIFY(failing.strike(read, unread == "accounts" ? "accounts" : "articles"));
    Ebay ebay;
    QSignalSpy status(&ebay, &Ebay::getStatus);
    ebay.runRound();
    QVERIFY(failing.mend());

    QVERIFY(!status.isEmpty());
    const QString last = status.last().at(0).toString();
    QVERIFY2(last.startsWith("Einlesefehler: ") && last.contains(told), qPrintable(last));
    QVERIFY2(serverGone || failing.tellsRefusal(last), qPrintable(last));
    // The accounts that were read are read from the marketplace all the same.
    QCOMPARE(m_server->requestCount() > 0, unread != "accounts");
    QCOMPARE(log.count("A failed read was taken"), 0);
}

// A GetUser reply cut off after its Ack leaves the account's stored data as it was.
void TestEbay::cutOffAccountReplyNotStored()
{
    APP_TEST_DATABASE(tdb);
    const int account = tdb.db()->insertSqlClean(
        { { "token", "TOKEN-A" }, { "apiresult", "<alt/>" } }, "accounts");
    serveAccounts();
    const QByteArray user = reply("GetUser", "Success", "<User><UserID>neu</UserID></User>");
    m_server->setCallReply("GetUser", FakeReply::ok(user.left(user.indexOf("</Ack>") + 6)));

    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    Ebay().runRound();

    QCOMPARE(
        tdb.db()
            ->selectOne(QStringLiteral("SELECT apiresult FROM accounts WHERE id=%1").arg(account))
            .value(),
        QStringLiteral("<alt/>"));
}

// A listing of the read: the counters, and for a new one its pictures and variations.
QString listingXml(const QString &itemId, const QString &counters, const QString &full = QString())
{
    return QStringLiteral("<Item><ItemID>%1</ItemID><Title>Uhr %1</Title><ListingType>"
                          "FixedPriceItem</ListingType><Currency>EUR</Currency><ListingDetails>"
                          "<StartTime>2026-03-01T09:00:00.000Z</StartTime><EndTime>"
                          "2026-04-01T09:00:00.000Z</EndTime></ListingDetails>%2%3</Item>")
        .arg(itemId, counters, full);
}

QString counters(int quantity, int sold, double price, int watchers, int bids,
                 const QString &status = QStringLiteral("Active"))
{
    return QStringLiteral("<Quantity>%1</Quantity><WatchCount>%4</WatchCount><SellingStatus>"
                          "<CurrentPrice currencyID=\"EUR\">%3</CurrentPrice><QuantitySold>%2"
                          "</QuantitySold><BidCount>%5</BidCount><ListingStatus>%6</ListingStatus>"
                          "</SellingStatus>")
        .arg(quantity)
        .arg(sold)
        .arg(price)
        .arg(watchers)
        .arg(bids)
        .arg(status);
}

// Every cell a round changed or added, one per line, as "table key column: before -> after".
QStringList writtenCells(const QString &table, const TableSnapshot &before,
                         const TableSnapshot &after)
{
    QStringList lines;
    for (const TableSnapshot::Change &change : TableSnapshot::diff(before, after)) {
        const QString key = table + ' ' + change.key + ' ';
        if (change.column != QLatin1String("<added>")) {
            lines << key + change.column + ": " + change.before.toString() + " -> "
                    + change.after.toString();
            continue;
        }
        const QMap<QString, QVariant> row = after.row(change.key);
        for (auto it = row.cbegin(); it != row.cend(); ++it)
            lines << key + it.key() + ": " + (it.value().isNull() ? "NULL" : it.value().toString());
    }
    return lines;
}

// One round over two accounts on a fixed set of rows and replies, compared cell by cell, with
// its folder counts and activity entries, to what the round has always written (recorded in
// the data file; APP_RECORD_SYNC_ROUND=1 records it afresh).
void TestEbay::roundWritesWhatItAlwaysWrote()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    QVERIFY(db->insertSqlClean({ { "token", "TOKEN-A" }, { "accountname", "a" } }, "accounts") > 0);
    QVERIFY(db->insertSqlClean({ { "token", "TOKEN-B" }, { "accountname", "b" } }, "accounts") > 0);
    const QString auction = "ListingType=Chinese;Currency=EUR;CurrentPrice=10;WatchCount=2;";
    addArticle(db, auction + "ItemID=500;Quantity=3"); // sold, price, watchers, bids, question
    addArticle(db, auction + "ItemID=501;Folder=-2"); // queued: keeps folder and quantity
    addArticle(db, "ItemID=502;Quantity=5;SoldCount=1"); // twice, in two folders
    addArticle(db, "ItemID=502;Quantity=5;SoldCount=1;Folder=-8");
    addArticle(db, "ItemID=503;Quantity=2"); // sold out
    addArticle(db, "ItemID=504;Quantity=2;SoldCount=1"); // not read: unsold
    addArticle(db, "ItemID=505;Quantity=2;SoldCount=2"); // not read: sold
    addArticle(db, "ItemID=506;Trash=1;WatchCount=4"); // marked deleted
    addArticle(db, "ItemID=507;Folder=-3;Quantity=1"); // scheduled
    addArticle(db, "ItemID=500;Account=2"); // another account's listing of the same number
    QVERIFY(db->setOption("NotiNewWatcher", "0"));

    const QString pictures = m_server->url("/p").toString();
    const QString variations = QStringLiteral(
        "<Variations><Variation><SKU>R</SKU><StartPrice>9.5</StartPrice><Quantity>2</Quantity>"
        "<VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Rot</Value>"
        "</NameValueList></VariationSpecifics></Variation><Variation><SKU>B</SKU><StartPrice>8"
        "</StartPrice><Quantity>1</Quantity><VariationSpecifics><NameValueList><Name>Farbe"
        "</Name><Value>Blau</Value></NameValueList></VariationSpecifics></Variation><Pictures>"
        "<VariationSpecificName>Farbe</VariationSpecificName><VariationSpecificPictureSet>"
        "<VariationSpecificValue>Rot</VariationSpecificValue><PictureURL>%1/600_rot.JPG"
        "</PictureURL></VariationSpecificPictureSet></Pictures></Variations>");
    const QString description = QStringLiteral(
        "<Description>Neu &amp; OVP</Description><PrimaryCategory><CategoryID>31387</CategoryID>"
        "</PrimaryCategory><PictureDetails><PictureURL>%1/600_a/$_12.JPG</PictureURL>"
        "<PictureURL>%1/600_b/$_1.JPG</PictureURL></PictureDetails>");
    const QString full = description.arg(pictures) + variations.arg(pictures);
    const QStringList page = {
        listingXml("500", counters(3, 1, 12.5, 5, 2)),
        listingXml("501", counters(4, 1, 7, 3, 0)),
        listingXml("502", counters(5, 3, 4.25, 0, 0)),
        listingXml("503", counters(2, 2, 10, 0, 0, "Completed")),
        listingXml("506", counters(1, 0, 3, 1, 0)),
        listingXml("507", counters(1, 0, 3, 1, 0)),
        listingXml("600", counters(4, 0, 9.5, 0, 0)),
        listingXml("601", counters(1, 0, 20, 0, 0)),
    };
    m_server->setCallHandler("GetUser", [](const RecordedRequest &) {
        Clock::setCurrentDateTimeForTesting(Clock::currentDateTime().addSecs(3600));
        return FakeReply::ok(reply("GetUser", "Success"));
    });
    m_server->setCallReply("GetUserPreferences",
                           FakeReply::ok(reply("GetUserPreferences", "Success")));
    m_server->setCallHandler("GetSellerList", [page](const RecordedRequest &request) {
        const bool first
            = XmlNode::parse(request.body).value("RequesterCredentials/eBayAuthToken") == "TOKEN-A";
        return FakeReply::ok(reply("GetSellerList", "Success",
                                   "<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages>"
                                   "</PaginationResult><ItemArray>"
                                       + (first ? page.join(QString()) : QString())
                                       + "</ItemArray>"));
    });
    m_server->setCallHandler("GetItem", [full](const RecordedRequest &request) {
        const QString id = XmlNode::parse(request.body).value("ItemID");
        return FakeReply::ok(
            reply("GetItem", "Success",
                  listingXml(id, counters(4, 0, 9.5, 0, 0), id == "600" ? full : QString())));
    });
    m_server->setDefaultReply(FakeReply::ok(pictureBytes(), "image/png"));
    m_server->setCallReply("GetMemberMessages",
                           FakeReply::ok(reply("GetMemberMessages", "Success",
                                               "<MemberMessage><MemberMessageExchange><Item>"
                                               "<ItemID>500</ItemID></Item>"
                                               "</MemberMessageExchange></MemberMessage>")));

    const QStringList tables
        = { "articles", "articles_images", "articles_variations", "itemshistory", "options" };
    QList<TableSnapshot> before;
    for (const QString &table : tables)
        before << TableSnapshot::take(*db, table, table == "options" ? "optionname" : "id");
    Ebay ebay;
    QStringList written;
    connect(&ebay, &Ebay::ChangeFolderCount, this, [&written](int folder, int count, bool set) {
        written << QStringLiteral("count %1 %2 %3").arg(folder).arg(count).arg(set);
    });
    connect(&ebay, &Ebay::sendaddNewsItem, this, [&written](const NewsItem &item) {
        written << QStringList { "news",
                                 QString::number(item.id),
                                 item.indate.toString(kFormat),
                                 item.itemid,
                                 item.title,
                                 QString::number(item.price),
                                 QString::number(item.pricetype),
                                 item.textinfo,
                                 item.infotype,
                                 QString::number(item.databaseid) }
                       .join('|');
    });
    TestSupport::MessageCapture log({ QStringLiteral("app.worker"), QStringLiteral("app.net") });
    ebay.runRound();

    for (int i = 0; i < tables.size(); ++i) {
        const TableSnapshot after
            = TableSnapshot::take(*db, tables[i], tables[i] == "options" ? "optionname" : "id");
        written << writtenCells(tables[i], before[i], after);
    }
    // The port of the fake server differs from run to run.
    written.replaceInStrings(pictures, "<server>");

    QFile recorded(QStringLiteral(APP_TEST_DATA_DIR "/workers/syncround.txt"));
    if (qEnvironmentVariableIntValue("APP_RECORD_SYNC_ROUND") == 1) {
        QVERIFY(recorded.open(QIODevice::WriteOnly | QIODevice::Truncate));
        recorded.write(written.join('\n').toUtf8() + '\n');
        return;
    }
    QVERIFY2(recorded.open(QIODevice::ReadOnly), qPrintable(recorded.fileName()));
    const QStringList expected
        = QString::fromUtf8(recorded.readAll()).split('\n', Qt::SkipEmptyParts);
    for (int i = 0; i < qMax(expected.size(), written.size()); ++i)
        QCOMPARE(written.value(i), expected.value(i));

    // The round's pictures come one after the other over one kept-open connection.
    QSet<int> pictureConnections;
    int pictureRequests = 0;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.path.startsWith(QLatin1String("/p/"))) {
            pictureConnections.insert(request.connection);
            ++pictureRequests;
        }
    }
    QCOMPARE(pictureRequests, 3);
    QCOMPARE(pictureConnections.size(), 1);
}

// The window reads an entry's article when the entry arrives, through a connection of its
// own: the page is written by then.
void TestEbay::entriesFollowWhatIsWritten()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int known = addArticle(db, "ItemID=500;SoldCount=0");
    ArticleModel *sold = record("500");
    sold->SoldCount = 2;
    sold->Quantity = 3;
    ArticleModel *fresh = record("600", true);
    Ebay ebay;
    ebay.refreshHash = kStamp;
    QStringList seen;
    connect(&ebay, &Ebay::sendaddNewsItem, this, [&](const NewsItem &item) {
        seen << item.infotype + '|'
                + db->selectOne("SELECT infotype FROM itemshistory WHERE id="
                                + QString::number(item.id))
                      .value()
                + '|' + values(db, item.databaseid, "SoldCount,RefreshHash");
    });
    ebay.getAdItems({ sold, fresh });

    QCOMPARE(
        seen,
        QStringList({ "sellcount|sellcount|2|" + kStamp, "newarticle|newarticle|0|" + kStamp }));
    QCOMPARE(values(db, known, "SoldCount"), QStringLiteral("2"));
}

// A statement of a page fails (here the activity entry of listing 501): nothing of the page
// is written, the window hears nothing of it, and the read counts as failed: no listing is
// moved on its strength and the next read starts where this one did.
void TestEbay::failedStatementLosesThePage()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    QVERIFY(db->insertSqlClean({ { "token", "TOKEN-A" } }, "accounts") > 0);
    const int first = addArticle(db, "ItemID=500;SoldCount=0");
    const int second = addArticle(db, "ItemID=501;SoldCount=0");
    const int unseen = addArticle(db, "ItemID=502;SoldCount=1");
    QVERIFY(db->setOption("read_account_1", "2026-03-01 08:00:00"));
    QVERIFY2(db->executeSQL(
                 tdb.backend() == TestSupport::Backend::MySQL
                     ? "CREATE TRIGGER refuse BEFORE INSERT ON itemshistory FOR EACH ROW BEGIN IF "
                       "NEW.itemid = '501' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = "
                       "'Datenträger voll'; END IF; END"
                     : "CREATE TRIGGER refuse BEFORE INSERT ON itemshistory WHEN NEW.itemid = "
                       "'501' BEGIN SELECT RAISE(ABORT, 'Datenträger voll'); END"),
             qPrintable(db->lastErrorText));
    serveAccounts();
    const QString page = listingXml("500", counters(3, 1, 9.99, 0, 0))
        + listingXml("501", counters(3, 1, 9.99, 0, 0));
    m_server->setCallReply("GetSellerList",
                           FakeReply::ok(reply("GetSellerList", "Success",
                                               "<PaginationResult><TotalNumberOfPages>1"
                                               "</TotalNumberOfPages></PaginationResult>"
                                               "<ItemArray>"
                                                   + page + "</ItemArray>")));
    Ebay ebay;
    QList<NewsItem> news;
    QStringList counts;
    connect(&ebay, &Ebay::sendaddNewsItem, this, [&news](const NewsItem &item) { news << item; });
    connect(&ebay, &Ebay::ChangeFolderCount, this, [&counts](int folder, int count, bool set) {
        if (!set)
            counts << QString::number(folder) + "+=" + QString::number(count);
    });

    TestSupport::MessageCapture log(
        { QStringLiteral("app.worker"), QStringLiteral("app.db"), QStringLiteral("app.net") });
    ebay.runRound();

    QCOMPARE(values(db, first, "SoldCount,RefreshHash") + '/'
                 + values(db, second, "SoldCount,RefreshHash"),
             QStringLiteral("0|/0|"));
    QCOMPARE(values(db, unseen, "Folder"), QStringLiteral("-9"));
    QCOMPARE(db->getOption("read_account_1", QString()).value(),
             QStringLiteral("2026-03-01 08:00:00"));
    QCOMPARE(news.size(), 1);
    QCOMPARE(news.first().infotype, QStringLiteral("error"));
    QVERIFY2(
        news.first().textinfo.startsWith("Eingelesene Angebote konnten nicht gespeichert werden: "),
        qPrintable(news.first().textinfo));
    QVERIFY(counts.isEmpty());
    QCOMPARE(db->selectCount("SELECT id FROM itemshistory").value(), 1);
}

// The notification switches are read when the round starts: one switched off during the round
// holds from the next round on, and that round reads it.
void TestEbay::switchesHoldForTheRound()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    QVERIFY(db->insertSqlClean({ { "token", "TOKEN-A" } }, "accounts") > 0);
    addArticle(db, "ItemID=500;WatchCount=0");
    addArticle(db, "ItemID=501;WatchCount=0");
    int watchers = 0;
    // Two pages; the seller switches the watcher entries off while the first is read.
    m_server->setCallHandler("GetUser", [](const RecordedRequest &) {
        return FakeReply::ok(reply("GetUser", "Success"));
    });
    m_server->setCallReply("GetUserPreferences",
                           FakeReply::ok(reply("GetUserPreferences", "Success")));
    m_server->setCallHandler("GetSellerList", [&](const RecordedRequest &request) {
        const int page = XmlNode::parse(request.body).value("Pagination/PageNumber").toInt();
        if (page == 1)
            if (!db->setOption("NotiNewWatcher", "0"))
                QTest::qFail("not stored", __FILE__, __LINE__);
        return FakeReply::ok(
            reply("GetSellerList", "Success",
                  "<PaginationResult><TotalNumberOfPages>2</TotalNumberOfPages></PaginationResult>"
                  "<ItemArray>"
                      + listingXml(page == 1 ? "500" : "501", counters(3, 0, 9.99, watchers, 0))
                      + "</ItemArray>"));
    });
    const auto entries = [db] {
        return db->selectCount("SELECT id FROM itemshistory WHERE infotype='watcher'").value();
    };

    watchers = 1;
    Ebay ebay;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker"), QStringLiteral("app.net") });
    ebay.runRound();
    QCOMPARE(entries(), 2);

    watchers = 2;
    ebay.runRound();
    QCOMPARE(entries(), 2);
    QCOMPARE(values(db, 2, "WatchCount"), QStringLiteral("2"));
}

// Without the developer keys a round sends nothing and writes no activity entry: the status
// panel says once what is missing, without progress, again after a sync command (F5); the
// command is given back at once.
void TestEbay::noRoundWithoutKeys_data()
{
    QTest::addColumn<QStringList>("rounds"); // "command" before a round given by F5
    QTest::addColumn<int>("told");
    QTest::newRow("rounds of the timer") << QStringList { "", "", "" } << 1;
    QTest::newRow("F5 after the first round") << QStringList { "", "command", "" } << 2;
    QTest::newRow("F5 first") << QStringList { "command" } << 1;
}

void TestEbay::noRoundWithoutKeys()
{
    QFETCH(QStringList, rounds);
    QFETCH(int, told);
    APP_TEST_DATABASE(tdb);
    QVERIFY(tdb.db()->insertSqlClean({ { "token", "TOKEN-A" }, { "accountname", "händler_1" } },
                                     "accounts")
            > 0);
    QVERIFY(tdb.db()->insertSqlClean({ { "token", "TOKEN-B" }, { "accountname", "händler_2" } },
                                     "accounts")
            > 0);
    serveAccounts();
    for (const char *key :
         { "ZERIRE_DEV_ID", "ZERIRE_APP_ID", "ZERIRE_CERT_ID", "ZERIRE_DEV_ID_SANDBOX",
           "ZERIRE_APP_ID_SANDBOX", "ZERIRE_CERT_ID_SANDBOX" })
        qunsetenv(key);
    Ebay ebay;
    QSignalSpy status(&ebay, &Ebay::getStatus);
    QSignalSpy syncing(&ebay, &Ebay::setAppToSyncState);
    for (const QString &round : rounds) {
        if (round == "command")
            ebay.startSyncNow();
        ebay.runRound();
    }

    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(tdb.db()->selectCount("SELECT id FROM itemshistory").value(), 0);
    QCOMPARE(status.size(), told);
    for (const QList<QVariant> &shown : status) {
        QCOMPARE(shown.at(0).toString(),
                 QString("Ohne die Entwicklerschlüssel von eBay wird nichts an eBay gesendet "
                         "(kein Abgleich, kein Einstellen, keine Auswahllisten). Es fehlt: "
                         "ZERIRE_DEV_ID, ZERIRE_APP_ID, ZERIRE_CERT_ID. Tragen Sie die Schlüssel "
                         "als Umgebungsvariablen ein (siehe README, „Marketplace keys and "
                         "addresses“) und starten Sie das Programm neu."));
        QCOMPARE(shown.at(1).toInt(), -1); // no progress bar
    }
    QCOMPARE(syncing.size(), rounds.size());
    for (const QList<QVariant> &state : syncing)
        QCOMPARE(state.at(0).toBool(), false);
}

APP_TEST_GUILESS_MAIN(TestEbay)
#include "test_ebay.moc"
