#include "workers/ebay.h"

#include "core/clock.h"
#include "core/database.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

namespace {

const QString kFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QDateTime kNow(QDate(2026, 3, 10), QTime(14, 30, 0));

struct Count
{
    int folder;
    int count;
    bool absolute;
    bool operator==(const Count &o) const
    {
        return folder == o.folder && count == o.count && absolute == o.absolute;
    }
};

QByteArray reply(const QString &call, const QString &ack, const QString &payload)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                          "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3</%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

QString sellerItem(const QString &itemId, int quantity, int sold)
{
    return QStringLiteral("<Item><ItemID>%1</ItemID><Title>Artikel</Title><Quantity>%2</Quantity>"
                          "<SellingStatus><CurrentPrice currencyID=\"EUR\">9.99</CurrentPrice>"
                          "<QuantitySold>%3</QuantitySold><ListingStatus>Active</ListingStatus>"
                          "</SellingStatus></Item>")
        .arg(itemId)
        .arg(quantity)
        .arg(sold);
}

QByteArray pictureBytes()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int addArticle(Database *db, QMap<QString, QVariant> columns)
{
    const QMap<QString, QVariant> defaults = {
        { "Account", 1 },  { "Folder", -9 },   { "Title", "Uhr" },
        { "Quantity", 3 }, { "SoldCount", 0 }, { "Trash", 0 },
    };
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        if (!columns.contains(it.key()))
            columns.insert(it.key(), it.value());
    }
    return db->insertSqlClean(columns, QStringLiteral("articles"));
}

QVariant column(Database *db, int id, const QString &name)
{
    return db->selectOne(QStringLiteral("SELECT %1 FROM articles WHERE id=%2").arg(name).arg(id));
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

} // namespace

class TestEbay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase();
    void init();
    void cleanup();

    void reconciliation_data();
    void reconciliation();
    void failedReadReconcilesNothing();
    void readWindowStart_data();
    void readWindowStart();
    void cacheCleanUp_data();
    void cacheCleanUp();
    void roundSignalsAndAbsoluteCounts();

    void knownListingEntries_data();
    void knownListingEntries();
    void foldersTheSyncLeavesAlone_data();
    void foldersTheSyncLeavesAlone();
    void pricesWithTwoDecimals_data();
    void pricesWithTwoDecimals();
    void itemIdWithQuote();
    void newListingPictures_data();
    void newListingPictures();
    void variationPictures_data();
    void variationPictures();
    void readStoppedByClosingIsNotComplete();
    void appDownInTheMiddleOfAPage();
    void listingSavedMeanwhileIsNotImportedAgain();

private:
    void connectSpies(Ebay &ebay);
    // Serves the account reads: per token the listings of GetSellerList; the token "FAIL"
    // gets an error. Every GetUser moves the clock on by an hour, so each account's read
    // carries a stamp of its own.
    void serveAccounts(const QMap<QString, QStringList> &itemsByToken);

    std::unique_ptr<FakeHttpServer> m_server;
    QList<Count> m_counts;
    QList<NewsItem> m_news;
    QStringList m_events;
};

void TestEbay::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestEbay::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_server->setCallReply(QStringLiteral("GetMemberMessages"),
                           FakeReply::ok(reply(QStringLiteral("GetMemberMessages"),
                                               QStringLiteral("Success"), QString())));
    qApp->setProperty("AppDown", 0);
    Clock::setCurrentDateTimeForTesting(kNow);
    m_counts.clear();
    m_news.clear();
    m_events.clear();
}

void TestEbay::cleanup()
{
    m_server.reset();
    qApp->setProperty("AppDown", QVariant());
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestEbay::connectSpies(Ebay &ebay)
{
    connect(&ebay, &Ebay::ChangeFolderCount, this, [this](int folder, int count, bool absolute) {
        m_counts.append({ folder, count, absolute });
        if (absolute)
            m_events << QStringLiteral("count");
    });
    connect(&ebay, &Ebay::sendaddNewsItem, this,
            [this](const NewsItem &item) { m_news.append(item); });
    connect(&ebay, &Ebay::setAppToSyncState, this, [this](bool on) {
        m_events << (on ? QStringLiteral("sync on") : QStringLiteral("sync off"));
    });
    connect(&ebay, &Ebay::getStatus, this,
            [this](const QString &text, int, int) { m_events << text; });
}

void TestEbay::serveAccounts(const QMap<QString, QStringList> &itemsByToken)
{
    const auto ok = [](const QString &call) {
        return FakeReply::ok(reply(call, QStringLiteral("Success"), QString()));
    };
    m_server->setCallHandler(QStringLiteral("GetUser"), [ok](const RecordedRequest &) {
        Clock::setCurrentDateTimeForTesting(Clock::currentDateTime().addSecs(3600));
        return ok(QStringLiteral("GetUser"));
    });
    m_server->setCallReply(QStringLiteral("GetUserPreferences"),
                           ok(QStringLiteral("GetUserPreferences")));
    m_server->setCallHandler(QStringLiteral("GetSellerList"), [=](const RecordedRequest &request) {
        const QString token = XmlNode::parse(request.body)
                                  .value(QStringLiteral("RequesterCredentials/eBayAuthToken"));
        if (token == QLatin1String("FAIL"))
            return FakeReply::ok(
                reply(QStringLiteral("GetSellerList"), QStringLiteral("Failure"),
                      QStringLiteral("<Errors><ShortMessage>x</ShortMessage><LongMessage>Token "
                                     "abgelaufen.</LongMessage><SeverityCode>Error</SeverityCode>"
                                     "</Errors>")));
        return FakeReply::ok(reply(QStringLiteral("GetSellerList"), QStringLiteral("Success"),
                                   QStringLiteral("<PaginationResult><TotalNumberOfPages>1"
                                                  "</TotalNumberOfPages></PaginationResult>"
                                                  "<ItemArray>%1</ItemArray>")
                                       .arg(itemsByToken.value(token).join(QString()))));
    });
}

// Three accounts: 1 and 2 read fine, 3 fails. Each case puts one row into one of them.
void TestEbay::reconciliation_data()
{
    QTest::addColumn<int>("account");
    QTest::addColumn<int>("folder");
    QTest::addColumn<int>("quantity");
    QTest::addColumn<int>("sold");
    QTest::addColumn<int>("trash");
    QTest::addColumn<QString>("listed"); // seconds after the read's stamp; empty: never
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("expected");

    QTest::newRow("unseen, quantity left: unsold") << 1 << -9 << 3 << 1 << 0 << "" << false << -8;
    QTest::newRow("unseen, sold out: sold") << 1 << -9 << 3 << 3 << 0 << "" << false << -7;
    QTest::newRow("unseen unsold, sold out: sold") << 1 << -8 << 3 << 3 << 0 << "" << false << -7;
    QTest::newRow("unseen, more sold than listed: stays")
        << 1 << -9 << 3 << 4 << 0 << "" << false << -9;
    QTest::newRow("seen by the read: stays") << 1 << -9 << 3 << 1 << 0 << "" << true << -9;
    QTest::newRow("second account unseen: unsold") << 2 << -9 << 2 << 0 << 0 << "" << false << -8;
    QTest::newRow("second account seen: stays") << 2 << -9 << 2 << 0 << 0 << "" << true << -9;
    QTest::newRow("account whose read failed: stays")
        << 3 << -9 << 3 << 1 << 0 << "" << false << -9;
    QTest::newRow("listed a minute after the read began")
        << 1 << -9 << 3 << 1 << 0 << "60" << false << -9;
    QTest::newRow("listed in the second the read began")
        << 1 << -9 << 3 << 1 << 0 << "0" << false << -9;
    QTest::newRow("listed the day before") << 1 << -9 << 3 << 1 << 0 << "-86400" << false << -8;
    QTest::newRow("marked deleted: stays") << 1 << -9 << 3 << 1 << 1 << "" << false << -9;
}

void TestEbay::reconciliation()
{
    QFETCH(int, account);
    QFETCH(int, folder);
    QFETCH(int, quantity);
    QFETCH(int, sold);
    QFETCH(int, trash);
    QFETCH(QString, listed);
    QFETCH(bool, read);
    QFETCH(int, expected);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QStringList tokens
        = { QStringLiteral("TOKEN-A"), QStringLiteral("TOKEN-B"), QStringLiteral("FAIL") };
    for (const QString &token : tokens)
        db->insertSqlClean({ { "token", token }, { "accountname", token } },
                           QStringLiteral("accounts"));

    // Account n is read with the stamp kNow + n hours.
    const QDateTime stamp = kNow.addSecs(3600 * account);
    const QString startDate
        = listed.isEmpty() ? QString() : stamp.addSecs(listed.toInt()).toString(kFormat);
    const int id = addArticle(db,
                              { { "Account", account },
                                { "Folder", folder },
                                { "ItemID", "500" },
                                { "Quantity", quantity },
                                { "SoldCount", sold },
                                { "Trash", trash },
                                { "StartDate", startDate } });
    const int control = addArticle(db, { { "Account", account }, { "ItemID", "501" } });
    QMap<QString, QStringList> items;
    if (read)
        items[tokens.at(account - 1)] << sellerItem(QStringLiteral("500"), quantity, sold);
    serveAccounts(items);

    Ebay ebay;
    ebay.runRound();

    QCOMPARE(column(db, id, QStringLiteral("Folder")).toInt(), expected);
    if (read)
        QCOMPARE(column(db, id, QStringLiteral("RefreshHash")).toString(), stamp.toString(kFormat));
    // A row unseen by a complete read of its account always leaves the active folder.
    QCOMPARE(column(db, control, QStringLiteral("Folder")).toInt(), account == 3 ? -9 : -8);
}

void TestEbay::failedReadReconcilesNothing()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int account = db->insertSqlClean({ { "token", "FAIL" } }, QStringLiteral("accounts"));
    const int id = addArticle(db, { { "Account", account }, { "ItemID", "77" } });
    const QString option = QStringLiteral("read_account_%1").arg(account);
    db->setOption(option, QStringLiteral("2026-03-01 08:00:00"));
    serveAccounts({});

    Ebay ebay;
    connectSpies(ebay);
    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    ebay.runRound();

    QCOMPARE(column(db, id, QStringLiteral("Folder")).toInt(), -9);
    QCOMPARE(db->getOption(option, QString()), QStringLiteral("2026-03-01 08:00:00"));
    QCOMPARE(log.count(QStringLiteral("war nicht erfolgreich")), 1);
    const auto rows = db->select(QStringLiteral("SELECT * FROM itemshistory"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().value("infotype").toString(), QStringLiteral("error"));
    QCOMPARE(rows.first().value("title").toString(), QStringLiteral("Einlesefehler"));
    QCOMPARE(rows.first().value("textinfo").toString(), QStringLiteral("Token abgelaufen."));
    QCOMPARE(m_news.size(), 1);
    QCOMPARE(m_news.first().id, rows.first().value("id").toInt());
}

void TestEbay::readWindowStart_data()
{
    QTest::addColumn<QString>("stored"); // null: no option
    QTest::addColumn<QDateTime>("start");
    const QDateTime floor = kNow.addDays(-89);
    QTest::newRow("no option") << QString() << floor;
    QTest::newRow("ten days ago") << kNow.addDays(-10).toString(kFormat) << kNow.addDays(-10);
    QTest::newRow("exactly the floor") << floor.toString(kFormat) << floor;
    QTest::newRow("older than 89 days") << kNow.addDays(-200).toString(kFormat) << floor;
    QTest::newRow("unreadable") << QStringLiteral("gestern") << floor;
}

void TestEbay::readWindowStart()
{
    QFETCH(QString, stored);
    QFETCH(QDateTime, start);
    APP_TEST_DATABASE(tdb);
    if (!stored.isNull())
        tdb.db()->setOption(QStringLiteral("read_account_4"), stored);
    serveAccounts({});

    Ebay ebay;
    QCOMPARE(ebay.GetArticles(QStringLiteral("TOKEN"), QStringLiteral("4"), 0), 1);

    QStringList from;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.callName() == QLatin1String("GetSellerList"))
            from << XmlNode::parse(request.body).value(QStringLiteral("EndTimeFrom"));
    }
    QCOMPARE(from,
             QStringList { start.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")) });
    QCOMPARE(tdb.db()->getOption(QStringLiteral("read_account_4"), QString()),
             QStringLiteral("2026-03-09 14:30:00"));
}

void TestEbay::cacheCleanUp_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("kept");
    QTest::newRow("shop categories") << "ap2_getStore_1_77.xml" << false;
    QTest::newRow("seller profiles") << "ap2_getProfiles_PAYMENT_77_1.xml" << false;
    QTest::newRow("sandbox shop categories") << "sandbox_ap2_getStore_1_77.xml" << true;
    QTest::newRow("sandbox seller profiles") << "sandbox_ap2_getProfiles_SHIPPING_77_1.xml" << true;
    QTest::newRow("category specifics") << "ap2_getCategorySpecifics_1_77_9394.xml" << true;
    QTest::newRow("other suffix") << "ap2_getStore_1_77.xml.bak" << true;
}

void TestEbay::cacheCleanUp()
{
    QFETCH(QString, file);
    QFETCH(bool, kept);
    APP_TEST_DATABASE(tdb);
    const QString path = tdb.db()->getCacheDir() + file;
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("<Ack>Success</Ack>");
    out.close();

    Ebay ebay;
    ebay.runRound();
    QCOMPARE(QFile::exists(path), kept);
}

void TestEbay::roundSignalsAndAbsoluteCounts()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    db->insertSqlClean({ { "token", "TOKEN-A" } }, QStringLiteral("accounts"));
    const int used = db->insertSqlClean({ { "foldername", "Uhren" } }, QStringLiteral("folders"));
    const int empty = db->insertSqlClean({ { "foldername", "Leer" } }, QStringLiteral("folders"));
    addArticle(db, { { "ItemID", "1" }, { "Quantity", 2 }, { "SoldCount", 0 } });
    addArticle(db, { { "ItemID", "2" } });
    addArticle(db, { { "Folder", -7 }, { "Trash", 1 } });
    addArticle(db, { { "Folder", used } });
    addArticle(db, { { "Folder", used } });
    serveAccounts({ { "TOKEN-A", { sellerItem("1", 2, 0), sellerItem("2", 3, 0) } } });

    Ebay ebay;
    connectSpies(ebay);
    ebay.runRound();

    QCOMPARE(m_events.first(), QStringLiteral("sync on"));
    QCOMPARE(m_events.last(), QStringLiteral("sync off"));
    QVERIFY(m_events.contains(QStringLiteral("Synchronisieren...")));
    QCOMPARE(m_events.lastIndexOf(QStringLiteral("count")), m_events.size() - 2);

    QMap<int, int> absolute;
    for (const Count &c : qAsConst(m_counts)) {
        if (c.absolute) {
            QVERIFY2(!absolute.contains(c.folder), "a folder's count is set once per round");
            absolute.insert(c.folder, c.count);
        }
    }
    const QMap<int, int> expected = { { -10, 0 }, { -9, 2 }, { -8, 0 },   { -7, 0 },   { -5, 0 },
                                      { -3, 0 },  { -2, 0 }, { used, 2 }, { empty, 0 } };
    QCOMPARE(absolute, expected);
}

// One known listing with stored counters (sold 2, price 10, quantity 5, questions 0,
// watchers 3, bids 2) against the read values; the entries expected, in order, as
// "infotype|title suffix|textinfo".
void TestEbay::knownListingEntries_data()
{
    QTest::addColumn<QString>("listingType");
    QTest::addColumn<QString>("currency");
    QTest::addColumn<QList<double>>("read"); // sold, price, quantity, questions, watch, bids
    QTest::addColumn<QStringList>("switchesOff");
    QTest::addColumn<QStringList>("entries");
    const QString auction = QStringLiteral("Chinese");
    const QString fixed = QStringLiteral("FixedPriceItem");
    const QList<double> same = { 2, 10, 5, 0, 3, 2 };
    const auto with = [&](int index, double value) {
        QList<double> values = same;
        values[index] = value;
        return values;
    };

    QTest::newRow("nothing changed") << fixed << "EUR" << same << QStringList() << QStringList();
    QTest::newRow("one sale") << fixed << "EUR" << with(0, 3) << QStringList()
                              << QStringList { "sellcount|3|hat einen neuen Verkauf" };
    QTest::newRow("three sales") << fixed << "EUR" << with(0, 5) << QStringList()
                                 << QStringList { "sellcount|5|hat 3 neue Verkäufe" };
    QTest::newRow("two sales fewer") << fixed << "EUR" << with(0, 0) << QStringList()
                                     << QStringList { "sellcount|0|hat -2 neue Verkäufe" };
    QTest::newRow("auction rises, dollars") << auction << "USD" << with(1, 1234.5) << QStringList()
                                            << QStringList { "currentpricechange|1.234,50 $|" };
    QTest::newRow("auction rises, no currency") << auction << "" << with(1, 11) << QStringList()
                                                << QStringList { "currentpricechange|11,00 €|" };
    QTest::newRow("auction falls")
        << auction << "EUR" << with(1, 9) << QStringList() << QStringList();
    QTest::newRow("fixed price rises")
        << fixed << "EUR" << with(1, 12) << QStringList() << QStringList();
    QTest::newRow("quantity") << fixed << "EUR" << with(2, 7) << QStringList()
                              << QStringList { "quantitychange|7|" };
    QTest::newRow("new question") << fixed << "EUR" << with(3, 1) << QStringList()
                                  << QStringList { "message|1|hat noch unbeantwortete Fragen" };
    QTest::newRow("one watcher more") << fixed << "EUR" << with(4, 4) << QStringList()
                                      << QStringList { "watcher|4|hat einen neuen Beobachter" };
    QTest::newRow("three watchers more") << fixed << "EUR" << with(4, 6) << QStringList()
                                         << QStringList { "watcher|6|hat 3 neue Beobachter" };
    QTest::newRow("one watcher less")
        << fixed << "EUR" << with(4, 2) << QStringList()
        << QStringList { "watcherneg|2|hat einen Beobachter weniger" };
    QTest::newRow("three watchers less") << fixed << "EUR" << with(4, 0) << QStringList()
                                         << QStringList { "watcherneg|0|hat 3 Beobachter weniger" };
    QTest::newRow("one bidder more") << fixed << "EUR" << with(5, 3) << QStringList()
                                     << QStringList { "bid|3|hat einen neuen Bieter" };
    QTest::newRow("two bidders more") << fixed << "EUR" << with(5, 4) << QStringList()
                                      << QStringList { "bid|4|hat 2 neue Bieter" };
    QTest::newRow("one bidder less") << fixed << "EUR" << with(5, 1) << QStringList()
                                     << QStringList { "bidneg|1|hat einen Bieter weniger" };
    QTest::newRow("two bidders less") << fixed << "EUR" << with(5, 0) << QStringList()
                                      << QStringList { "bidneg|0|hat 2 Bieter weniger" };
    const QList<double> all = { 3, 10.5, 4, 1, 4, 3 };
    const QStringList allEntries = { "sellcount|3|hat einen neuen Verkauf",
                                     "currentpricechange|10,50 €|",
                                     "quantitychange|4|",
                                     "message|1|hat noch unbeantwortete Fragen",
                                     "watcher|4|hat einen neuen Beobachter",
                                     "bid|3|hat einen neuen Bieter" };
    QTest::newRow("all six, in order") << auction << "EUR" << all << QStringList() << allEntries;
    QTest::newRow("switches off") << auction << "EUR" << all
                                  << QStringList { "NotiNewSale", "NotiNewMessage",
                                                   "NotiNewWatcher", "NotiNewBids" }
                                  << QStringList { "currentpricechange|10,50 €|",
                                                   "quantitychange|4|" };
    QTest::newRow("sale switch off")
        << fixed << "EUR" << with(0, 3) << QStringList { "NotiNewSale" } << QStringList();
    QTest::newRow("question, switch off")
        << fixed << "EUR" << with(3, 1) << QStringList { "NotiNewMessage" } << QStringList();
}

void TestEbay::knownListingEntries()
{
    QFETCH(QString, listingType);
    QFETCH(QString, currency);
    QFETCH(QList<double>, read);
    QFETCH(QStringList, switchesOff);
    QFETCH(QStringList, entries);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    for (const QString &name : switchesOff)
        db->setOption(name, QStringLiteral("0"));
    const int id = addArticle(db,
                              { { "ItemID", "4711" },
                                { "SoldCount", 2 },
                                { "CurrentPrice", 10 },
                                { "Quantity", 5 },
                                { "QuestionCount", 0 },
                                { "WatchCount", 3 },
                                { "BidCount", 2 },
                                { "ListingType", listingType },
                                { "Currency", currency } });

    ArticleModel *r = record(QStringLiteral("4711"));
    r->SoldCount = int(read.at(0));
    r->CurrentPrice = read.at(1);
    r->Quantity = int(read.at(2));
    r->QuestionCount = int(read.at(3));
    r->WatchCount = int(read.at(4));
    r->BidCount = int(read.at(5));
    Ebay ebay;
    ebay.refreshHash = QStringLiteral("2026-03-10 14:30:00");
    connectSpies(ebay);
    ebay.getAdItems({ r });

    const auto stored = db->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id));
    const QStringList columns
        = { "SoldCount", "CurrentPrice", "Quantity", "QuestionCount", "WatchCount", "BidCount" };
    for (int i = 0; i < columns.size(); ++i)
        QCOMPARE(stored.first().value(columns.at(i)).toDouble(), read.at(i));
    QCOMPARE(stored.first().value("RefreshHash").toString(), ebay.refreshHash);

    QStringList written;
    const auto rows = db->select(QStringLiteral("SELECT * FROM itemshistory ORDER BY id"));
    for (const auto &row : rows) {
        QVERIFY(row.value("title").toString().startsWith(QLatin1String("Uhr|||")));
        QCOMPARE(row.value("databaseid").toInt(), id);
        QCOMPARE(row.value("itemid").toString(), QStringLiteral("4711"));
        QCOMPARE(row.value("indate").toString(), QStringLiteral("2026-03-10 14:30:00"));
        written << row.value("infotype").toString() + QLatin1Char('|')
                + row.value("title").toString().mid(6) + QLatin1Char('|')
                + row.value("textinfo").toString();
    }
    QCOMPARE(written, entries);
    QCOMPARE(m_news.size(), rows.size());
    for (int i = 0; i < m_news.size(); ++i)
        QCOMPARE(m_news.at(i).id, rows.at(i).value("id").toInt());
    QVERIFY(m_counts.isEmpty());
}

void TestEbay::foldersTheSyncLeavesAlone_data()
{
    QTest::addColumn<int>("folder");
    QTest::addColumn<int>("trash");
    QTest::addColumn<bool>("moves");
    QTest::newRow("active to sold") << -9 << 0 << true;
    QTest::newRow("unsold to sold") << -8 << 0 << true;
    QTest::newRow("outbox") << -2 << 0 << false;
    QTest::newRow("scheduled") << -3 << 0 << false;
    QTest::newRow("trash") << -5 << 0 << false;
    QTest::newRow("marked deleted") << -9 << 1 << false;
}

void TestEbay::foldersTheSyncLeavesAlone()
{
    QFETCH(int, folder);
    QFETCH(int, trash);
    QFETCH(bool, moves);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int id = addArticle(db,
                              { { "ItemID", "88" },
                                { "Folder", folder },
                                { "Trash", trash },
                                { "Quantity", 2 },
                                { "SoldCount", 0 } });
    ArticleModel *r = record(QStringLiteral("88"));
    r->Folder = -7;
    r->Quantity = 4;
    r->SoldCount = 4;
    Ebay ebay;
    ebay.refreshHash = QStringLiteral("2026-03-10 14:30:00");
    connectSpies(ebay);
    ebay.getAdItems({ r });

    QCOMPARE(column(db, id, QStringLiteral("Folder")).toInt(), moves ? -7 : folder);
    QCOMPARE(column(db, id, QStringLiteral("Quantity")).toInt(), moves ? 4 : 2);
    QCOMPARE(column(db, id, QStringLiteral("SoldCount")).toInt(), 4);
    QCOMPARE(column(db, id, QStringLiteral("RefreshHash")).toString(), ebay.refreshHash);
    const QList<Count> counts
        = moves ? QList<Count> { { -7, 1, false }, { folder, -1, false } } : QList<Count> {};
    QCOMPARE(m_counts, counts);
}

void TestEbay::pricesWithTwoDecimals_data()
{
    QTest::addColumn<double>("price");
    QTest::addColumn<double>("stored");
    QTest::newRow("seven digits") << 12345.67 << 12345.67;
    QTest::newRow("ten million and cents") << 10000000.05 << 10000000.05;
    QTest::newRow("binary fraction") << 0.1 + 0.2 << 0.3;
    QTest::newRow("third decimal rounds") << 19.999 << 20.0;
}

void TestEbay::pricesWithTwoDecimals()
{
    QFETCH(double, price);
    QFETCH(double, stored);
    APP_TEST_DATABASE(tdb);
    const int id = addArticle(tdb.db(), { { "ItemID", "5" } });
    ArticleModel *r = record(QStringLiteral("5"));
    r->CurrentPrice = price;
    Ebay ebay;
    ebay.getAdItems({ r });
    QCOMPARE(column(tdb.db(), id, QStringLiteral("CurrentPrice")).toString().toDouble(), stored);
}

void TestEbay::itemIdWithQuote()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int quoted = addArticle(db, { { "ItemID", "12'34" } });
    const int other = addArticle(db, { { "ItemID", "999" } });
    ArticleModel *withQuote = record(QStringLiteral("12'34"));
    withQuote->SoldCount = 1;
    ArticleModel *injection = record(QStringLiteral("x' OR ''='"));
    injection->SoldCount = 2;
    Ebay ebay;
    ebay.refreshHash = QStringLiteral("2026-03-10 14:30:00");
    ebay.getAdItems({ withQuote, injection });

    QCOMPARE(column(db, quoted, QStringLiteral("SoldCount")).toInt(), 1);
    QCOMPARE(column(db, other, QStringLiteral("SoldCount")).toInt(), 0);
    QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM itemshistory WHERE itemid='12''34'")),
             2); // the sale and the quantity
}

void TestEbay::newListingPictures_data()
{
    QTest::addColumn<QString>("path"); // of the address in the record
    QTest::addColumn<QString>("served"); // "picture", "missing", "text" or "on disk"
    QTest::addColumn<QString>("requested"); // empty: no request
    QTest::addColumn<bool>("stored"); // the file name is stored, else the address
    QTest::addColumn<QString>("thumb");

    QTest::newRow("size marker rewritten") << "/i/a/$_12.JPG"
                                           << "picture"
                                           << "/i/a/$_57.JPG" << true << "thumb_31_0.jpg";
    QTest::newRow("size 57 stays") << "/i/b/$_57.JPG"
                                   << "picture"
                                   << "/i/b/$_57.JPG" << true << "thumb_31_0.jpg";
    QTest::newRow("no marker") << "/i/c/s-l1600.jpg"
                               << "picture"
                               << "/i/c/s-l1600.jpg" << true << "thumb_31_0.jpg";
    QTest::newRow("download fails: address kept") << "/i/d/$_12.JPG"
                                                  << "missing"
                                                  << "/i/d/$_57.JPG" << false << "";
    QTest::newRow("not a picture: no thumbnail") << "/i/e/1.jpg"
                                                 << "text"
                                                 << "/i/e/1.jpg" << true << "";
    QTest::newRow("file on disk: not fetched") << "/i/f/1.jpg"
                                               << "on disk"
                                               << "" << true << "thumb_31_0.jpg";
    QTest::newRow("no pictures") << ""
                                 << ""
                                 << "" << false << "";
}

void TestEbay::newListingPictures()
{
    QFETCH(QString, path);
    QFETCH(QString, served);
    QFETCH(QString, requested);
    QFETCH(bool, stored);
    QFETCH(QString, thumb);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QString folder = db->getCurrentAdImageDir();
    if (served == QLatin1String("picture") || served == QLatin1String("on disk"))
        m_server->setReply(requested.isEmpty() ? path : requested,
                           FakeReply::ok(pictureBytes(), "image/png"));
    if (served == QLatin1String("text"))
        m_server->setReply(requested, FakeReply::ok("kein Bild"));
    if (served == QLatin1String("on disk")) {
        QFile file(folder + QStringLiteral("31_0.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(pictureBytes());
    }

    ArticleModel *r = record(QStringLiteral("31"), true);
    r->Folder = -8;
    const QString address = m_server->url(path).toString();
    if (!path.isEmpty())
        r->PictureURLs << address;
    Ebay ebay;
    ebay.refreshHash = QStringLiteral("2026-03-10 14:30:00");
    connectSpies(ebay);
    TestSupport::MessageCapture log({ QStringLiteral("app.worker"), QStringLiteral("app.net") });
    ebay.getAdItems({ r });

    QStringList paths;
    for (const RecordedRequest &request : m_server->requests())
        paths << request.path;
    QCOMPARE(paths, requested.isEmpty() ? QStringList() : QStringList { requested });

    const auto rows = db->select(QStringLiteral("SELECT * FROM articles"));
    QCOMPARE(rows.size(), 1);
    const int id = rows.first().value("id").toInt();
    QCOMPARE(rows.first().value("ImageThumb").toString(), thumb);
    QCOMPARE(rows.first().value("RefreshHash").toString(), ebay.refreshHash);
    QCOMPARE(rows.first().value("Folder").toInt(), -8);
    if (!thumb.isEmpty())
        QVERIFY(QFile::exists(db->getCurrentAdImageDirThumbs() + thumb));
    const QString image = db->selectOne(
        QStringLiteral("SELECT image FROM articles_images WHERE article_id=%1").arg(id));
    if (!path.isEmpty()) {
        QCOMPARE(image, stored ? QStringLiteral("31_0.jpg") : address);
        QCOMPARE(QFile::exists(folder + QStringLiteral("31_0.jpg")), stored);
    }
    QCOMPARE(log.count(QStringLiteral("Can't download")), served == "missing" ? 1 : 0);

    QCOMPARE(m_news.size(), 1);
    QCOMPARE(m_news.first().infotype, QStringLiteral("newarticle"));
    QCOMPARE(m_news.first().title, QStringLiteral("Neue Uhr"));
    QCOMPARE(m_news.first().textinfo, QStringLiteral("wurde neu eingelesen"));
    QCOMPARE(m_news.first().databaseid, id);
    QCOMPARE(m_counts, (QList<Count> { { -8, 1, false } }));
}

void TestEbay::variationPictures_data()
{
    QTest::addColumn<QStringList>("main"); // paths of the main pictures; "/fehlt" fails
    QTest::addColumn<QString>("thumb"); // "blau" for the first variation picture
    QTest::newRow("no main picture fetched") << QStringList { "/fehlt" } << "blau";
    QTest::newRow("main pictures fetched")
        << QStringList { "/fehlt", "/m/1", "/m/2" } << "thumb_42_1.jpg";
}

void TestEbay::variationPictures()
{
    QFETCH(QStringList, main);
    QFETCH(QString, thumb);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    for (const char *path : { "/v/rot/$_57.JPG", "/v/blau/$_57.JPG", "/m/1", "/m/2" })
        m_server->setReply(QString::fromLatin1(path), FakeReply::ok(pictureBytes()));
    ArticleModel *r = record(QStringLiteral("42"), true);
    for (const QString &path : main)
        r->PictureURLs << m_server->url(path).toString();
    r->VariantPictureURLs.insert(QStringLiteral("Rot"),
                                 m_server->url(QStringLiteral("/v/rot/$_1.JPG")).toString());
    r->VariantPictureURLs.insert(QStringLiteral("Blau"),
                                 m_server->url(QStringLiteral("/v/blau/$_1.JPG")).toString());
    Ebay ebay;
    ebay.getAdItems({ r });

    // Named by the position in ascending value order, the item number and the value.
    const QString blau = QStringLiteral("42_")
        + QCryptographicHash::hash("042Blau", QCryptographicHash::Md5).toHex() + ".jpg";
    const QString rot = QStringLiteral("42_")
        + QCryptographicHash::hash("142Rot", QCryptographicHash::Md5).toHex() + ".jpg";
    const auto images = db->select(QStringLiteral(
        "SELECT image, variant_name FROM articles_images WHERE variant_name <> '' ORDER BY id"));
    QCOMPARE(images.size(), 2);
    QCOMPARE(images.at(0).value("variant_name").toString(), QStringLiteral("Blau"));
    QCOMPARE(images.at(0).value("image").toString(), blau);
    QCOMPARE(images.at(1).value("image").toString(), rot);
    QVERIFY(QFile::exists(db->getCurrentAdImageDir() + rot));
    QCOMPARE(db->selectOne(QStringLiteral("SELECT ImageThumb FROM articles")),
             thumb == QLatin1String("blau") ? QStringLiteral("thumb_") + blau : thumb);
}

// A read that stopped without an error text (the program closing) is not complete either.
void TestEbay::readStoppedByClosingIsNotComplete()
{
    APP_TEST_DATABASE(tdb);
    tdb.db()->setOption(QStringLiteral("read_account_4"), QStringLiteral("2026-03-01 08:00:00"));
    serveAccounts({});
    qApp->setProperty("AppDown", 1);
    Ebay ebay;
    QCOMPARE(ebay.GetArticles(QStringLiteral("TOKEN"), QStringLiteral("4"), 0), 0);
    QCOMPARE(tdb.db()->getOption(QStringLiteral("read_account_4"), QString()),
             QStringLiteral("2026-03-01 08:00:00"));
    QCOMPARE(tdb.db()->selectCount(QStringLiteral("SELECT id FROM itemshistory")), 0);
}

void TestEbay::appDownInTheMiddleOfAPage()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int known = addArticle(db, { { "ItemID", "4" } });
    const QByteArray picture = pictureBytes();
    m_server->setDefaultReply(FakeReply::ok(picture));
    // The window closes while the first picture of the second listing is fetched.
    m_server->setHandler(QStringLiteral("/2_0"), [picture](const RecordedRequest &) {
        QMetaObject::invokeMethod(
            qApp, [] { qApp->setProperty("AppDown", 1); }, Qt::BlockingQueuedConnection);
        return FakeReply::ok(picture);
    });
    QList<ArticleModel *> page;
    for (const QString &itemId :
         { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3") }) {
        ArticleModel *r = record(itemId, true);
        r->PictureURLs << m_server->url(QStringLiteral("/%1_0").arg(itemId)).toString()
                       << m_server->url(QStringLiteral("/%1_1").arg(itemId)).toString();
        page << r;
    }
    ArticleModel *update = record(QStringLiteral("4"));
    update->SoldCount = 2;
    page << update;
    Ebay ebay;
    ebay.getAdItems(page);

    QStringList paths;
    for (const RecordedRequest &request : m_server->requests())
        paths << request.path;
    QCOMPARE(paths, QStringList({ "/1_0", "/1_1", "/2_0" }));
    QCOMPARE(db->selectOne(QStringLiteral("SELECT group_concat(ItemID) FROM articles WHERE "
                                          "ItemID <> '4'")),
             QStringLiteral("1"));
    QCOMPARE(column(db, known, QStringLiteral("SoldCount")).toInt(), 0);
    // The picture fetched before the close stays for a later read.
    QVERIFY(QFile::exists(db->getCurrentAdImageDir() + QStringLiteral("2_0.jpg")));
}

void TestEbay::listingSavedMeanwhileIsNotImportedAgain()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    // Listed by the listing worker after the read collected the known item numbers.
    const int listed = addArticle(db, { { "ItemID", "61" }, { "WatchCount", 0 } });
    ArticleModel *r = record(QStringLiteral("61"), true);
    r->WatchCount = 1;
    Ebay ebay;
    ebay.refreshHash = QStringLiteral("2026-03-10 14:30:00");
    connectSpies(ebay);
    ebay.getAdItems({ r });

    QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM articles")), 1);
    QCOMPARE(column(db, listed, QStringLiteral("WatchCount")).toInt(), 1);
    QCOMPARE(column(db, listed, QStringLiteral("RefreshHash")).toString(), ebay.refreshHash);
    QCOMPARE(m_news.size(), 2);
    QCOMPARE(m_news.at(1).infotype, QStringLiteral("watcher"));
    QVERIFY(m_counts.isEmpty());
}

APP_TEST_GUILESS_MAIN(TestEbay)
#include "test_ebay.moc"
