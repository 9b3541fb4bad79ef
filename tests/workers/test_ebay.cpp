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
#include <QImage>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

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
    void roundSignalsAndAbsoluteCounts();

    void knownListingEntries_data();
    void knownListingEntries();
    void foldersTheSyncLeavesAlone();
    void pricesAndQuotedItemId();
    void newListingPictures_data();
    void newListingPictures();
    void appDownInTheMiddleOfAPage();
    void listingSavedMeanwhileIsNotImportedAgain();

private:
    void connectSpies(Ebay &ebay);
    // Reads one page of listings as the round does, with the spies connected.
    void readPage(const QList<ArticleModel *> &page);
    // Serves the account reads: per token the listings of GetSellerList; the token "FAIL"
    // gets an error. Every GetUser moves the clock on by an hour, so each account's read
    // carries a stamp of its own.
    void serveAccounts(const QMap<QString, QStringList> &itemsByToken);

    std::unique_ptr<FakeHttpServer> m_server;
    QList<QVariantList> m_counts; // folder, count, absolute
    QList<NewsItem> m_news;
    QStringList m_events;
};

void TestEbay::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_server->setCallReply(
        QStringLiteral("GetMemberMessages"),
        FakeReply::ok(reply(QStringLiteral("GetMemberMessages"), QStringLiteral("Success"))));
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
    connect(&ebay, &Ebay::sendaddNewsItem, this, [this](const NewsItem &item) { m_news << item; });
    connect(&ebay, &Ebay::setAppToSyncState, this,
            [this](bool on) { m_events << (on ? "sync on" : "sync off"); });
    connect(&ebay, &Ebay::getStatus, this, [this](const QString &text) { m_events << text; });
}

void TestEbay::readPage(const QList<ArticleModel *> &page)
{
    Ebay ebay;
    ebay.refreshHash = kStamp;
    connectSpies(ebay);
    ebay.getAdItems(page);
}

void TestEbay::serveAccounts(const QMap<QString, QStringList> &itemsByToken)
{
    m_server->setCallHandler(QStringLiteral("GetUser"), [](const RecordedRequest &) {
        Clock::setCurrentDateTimeForTesting(Clock::currentDateTime().addSecs(3600));
        return FakeReply::ok(reply(QStringLiteral("GetUser"), QStringLiteral("Success")));
    });
    m_server->setCallReply(
        QStringLiteral("GetUserPreferences"),
        FakeReply::ok(reply(QStringLiteral("GetUserPreferences"), QStringLiteral("Success"))));
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

// --- Round ---------------------------------------------------------------------------------

// Three accounts: 1 and 2 read fine, 3 fails. Each case puts one row into one of them.
void TestEbay::reconciliation_data()
{
    QTest::addColumn<int>("account");
    QTest::addColumn<int>("folder");
    QTest::addColumn<int>("sold"); // of 3
    QTest::addColumn<int>("trash");
    QTest::addColumn<QString>("listed"); // seconds after the read's stamp; empty: never
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("expected");

    QTest::newRow("unseen, quantity left: unsold") << 1 << -9 << 1 << 0 << "" << false << -8;
    QTest::newRow("unseen, sold out: sold") << 1 << -9 << 3 << 0 << "" << false << -7;
    QTest::newRow("unseen unsold, sold out: sold") << 1 << -8 << 3 << 0 << "" << false << -7;
    QTest::newRow("unseen, more sold than listed") << 1 << -9 << 4 << 0 << "" << false << -9;
    QTest::newRow("second account seen: stays") << 2 << -9 << 0 << 0 << "" << true << -9;
    QTest::newRow("account whose read failed") << 3 << -9 << 1 << 0 << "" << false << -9;
    QTest::newRow("listed in the second the read began") << 1 << -9 << 1 << 0 << "0" << false << -9;
    QTest::newRow("listed the day before") << 1 << -9 << 1 << 0 << "-86400" << false << -8;
    QTest::newRow("marked deleted: stays") << 1 << -9 << 1 << 1 << "" << false << -9;
}

void TestEbay::reconciliation()
{
    QFETCH(int, account);
    QFETCH(int, folder);
    QFETCH(int, sold);
    QFETCH(int, trash);
    QFETCH(QString, listed);
    QFETCH(bool, read);
    QFETCH(int, expected);
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QStringList tokens = { "TOKEN-A", "TOKEN-B", "FAIL" };
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
                                { "SoldCount", sold },
                                { "Trash", trash },
                                { "StartDate", startDate } });
    const int control = addArticle(db, { { "Account", account }, { "ItemID", "501" } });
    db->setOption(QStringLiteral("read_account_3"), QStringLiteral("2026-03-01 08:00:00"));
    QMap<QString, QStringList> items;
    if (read)
        items[tokens.at(account - 1)] << sellerItem(QStringLiteral("500"), 3, sold);
    serveAccounts(items);

    Ebay ebay;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    ebay.runRound();

    QCOMPARE(column(db, id, QStringLiteral("Folder")).toInt(), expected);
    if (read)
        QCOMPARE(column(db, id, QStringLiteral("RefreshHash")).toString(), stamp.toString(kFormat));
    // A row unseen by a complete read of its account always leaves the active folder.
    QCOMPARE(column(db, control, QStringLiteral("Folder")).toInt(), account == 3 ? -9 : -8);
    // The failed read leaves its account's window and writes one entry.
    QCOMPARE(db->getOption(QStringLiteral("read_account_3"), QString()),
             QStringLiteral("2026-03-01 08:00:00"));
    const auto rows = db->select(QStringLiteral("SELECT * FROM itemshistory"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(QStringList({ rows.first().value("infotype").toString(),
                           rows.first().value("title").toString(),
                           rows.first().value("textinfo").toString() }),
             QStringList({ "error", "Einlesefehler", "Token abgelaufen." }));
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
    QTest::newRow("unreadable") << QStringLiteral("gestern") << false << floor;
    // Stopped without an error text, the read is not complete either.
    QTest::newRow("closing") << QStringLiteral("2026-03-01 08:00:00") << true << QDateTime();
}

void TestEbay::readWindowStart()
{
    QFETCH(QString, stored);
    QFETCH(bool, closing);
    QFETCH(QDateTime, start);
    APP_TEST_DATABASE(tdb);
    const QString option = QStringLiteral("read_account_4");
    if (!stored.isNull())
        tdb.db()->setOption(option, stored);
    serveAccounts({});
    qApp->setProperty("AppDown", closing ? 1 : 0);

    Ebay ebay;
    QCOMPARE(ebay.GetArticles(QStringLiteral("TOKEN"), QStringLiteral("4"), 0), closing ? 0 : 1);

    QStringList from;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.callName() == QLatin1String("GetSellerList"))
            from << XmlNode::parse(request.body).value(QStringLiteral("EndTimeFrom"));
    }
    if (!closing)
        QCOMPARE(from, QStringList { start.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ") });
    QCOMPARE(tdb.db()->getOption(option, QString()),
             closing ? stored : QStringLiteral("2026-03-09 14:30:00"));
    QCOMPARE(tdb.db()->selectCount(QStringLiteral("SELECT id FROM itemshistory")), 0);
}

void TestEbay::roundSignalsAndAbsoluteCounts()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    db->insertSqlClean({ { "token", "TOKEN-A" } }, QStringLiteral("accounts"));
    const int used = db->insertSqlClean({ { "foldername", "Uhren" } }, QStringLiteral("folders"));
    const int empty = db->insertSqlClean({ { "foldername", "Leer" } }, QStringLiteral("folders"));
    addArticle(db, { { "ItemID", "1" }, { "Quantity", 2 } });
    addArticle(db, { { "ItemID", "2" } });
    addArticle(db, { { "Folder", -7 }, { "Trash", 1 } });
    addArticle(db, { { "Folder", used } });
    addArticle(db, { { "Folder", used } });
    serveAccounts({ { "TOKEN-A", { sellerItem("1", 2, 0), sellerItem("2", 3, 0) } } });
    // The cached shop categories and seller profiles go; the sandbox's and others stay.
    const QMap<QString, bool> cache = {
        { "ap2_getStore_1_77.xml", false },        { "ap2_getProfiles_PAYMENT_77_1.xml", false },
        { "sandbox_ap2_getStore_1_77.xml", true }, { "ap2_getCategories_1_77.xml", true },
        { "ap2_getStore_1_77.xml.bak", true },
    };
    for (const QString &file : cache.keys()) {
        QFile out(db->getCacheDir() + file);
        QVERIFY(out.open(QIODevice::WriteOnly));
    }

    Ebay ebay;
    connectSpies(ebay);
    ebay.runRound();

    for (auto it = cache.cbegin(); it != cache.cend(); ++it)
        QVERIFY2(QFile::exists(db->getCacheDir() + it.key()) == it.value(), qPrintable(it.key()));

    QCOMPARE(m_events.first(), QStringLiteral("sync on"));
    QCOMPARE(m_events.last(), QStringLiteral("sync off"));
    QVERIFY(m_events.contains(QStringLiteral("Synchronisieren...")));
    QCOMPARE(m_events.lastIndexOf(QStringLiteral("count")), m_events.size() - 2);
    QMap<int, int> absolute;
    for (const QVariantList &c : qAsConst(m_counts)) {
        if (c.at(2).toBool()) {
            QVERIFY2(!absolute.contains(c.at(0).toInt()), "a folder's count is set once per round");
            absolute.insert(c.at(0).toInt(), c.at(1).toInt());
        }
    }
    const QMap<int, int> expected = { { -10, 0 }, { -9, 2 }, { -8, 0 },   { -7, 0 },   { -5, 0 },
                                      { -3, 0 },  { -2, 0 }, { used, 2 }, { empty, 0 } };
    QCOMPARE(absolute, expected);
}

// --- Page of listings ---------------------------------------------------------------------

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
    const QList<double> same = { 2, 10, 5, 0, 3, 2 };
    const auto row = [&same](const char *name, int index, double value, const QString &entry,
                             const char *type = "FixedPriceItem", const char *currency = "EUR") {
        QList<double> read = same;
        read[index] = value;
        QTest::newRow(name) << QString(type) << QString(currency) << read << QStringList()
                            << (entry.isEmpty() ? QStringList() : QStringList { entry });
    };
    row("nothing changed", 0, 2, "");
    row("three sales", 0, 5, "sellcount|5|hat 3 neue Verkäufe");
    row("two sales fewer", 0, 0, "sellcount|0|hat -2 neue Verkäufe");
    row("auction rises, dollars", 1, 1234.5, "currentpricechange|1.234,50 $|", "Chinese", "USD");
    row("auction rises, no currency", 1, 11, "currentpricechange|11,00 €|", "Chinese", "");
    row("auction falls", 1, 9, "", "Chinese");
    row("fixed price rises", 1, 12, "");
    row("three watchers more", 4, 6, "watcher|6|hat 3 neue Beobachter");
    row("one watcher less", 4, 2, "watcherneg|2|hat einen Beobachter weniger");
    row("three watchers less", 4, 0, "watcherneg|0|hat 3 Beobachter weniger");
    row("two bidders more", 5, 4, "bid|4|hat 2 neue Bieter");
    row("one bidder less", 5, 1, "bidneg|1|hat einen Bieter weniger");
    row("two bidders less", 5, 0, "bidneg|0|hat 2 Bieter weniger");
    const QList<double> all = { 3, 10.5, 4, 1, 4, 3 };
    const QStringList allEntries = { "sellcount|3|hat einen neuen Verkauf",
                                     "currentpricechange|10,50 €|",
                                     "quantitychange|4|",
                                     "message|1|hat noch unbeantwortete Fragen",
                                     "watcher|4|hat einen neuen Beobachter",
                                     "bid|3|hat einen neuen Bieter" };
    QTest::newRow("all six, in order") << "Chinese"
                                       << "EUR" << all << QStringList() << allEntries;
    QTest::newRow("switches off") << "Chinese"
                                  << "EUR" << all
                                  << QStringList { "NotiNewSale", "NotiNewMessage",
                                                   "NotiNewWatcher", "NotiNewBids" }
                                  << QStringList { allEntries.at(1), allEntries.at(2) };
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
    const QStringList columns
        = { "SoldCount", "CurrentPrice", "Quantity", "QuestionCount", "WatchCount", "BidCount" };
    QMap<QString, QVariant> stored
        = { { "ItemID", "4711" }, { "ListingType", listingType }, { "Currency", currency } };
    const QList<double> before = { 2, 10, 5, 0, 3, 2 };
    for (int i = 0; i < columns.size(); ++i)
        stored.insert(columns.at(i), before.at(i));
    const int id = addArticle(db, stored);

    ArticleModel *r = record(QStringLiteral("4711"));
    r->SoldCount = int(read.at(0));
    r->CurrentPrice = read.at(1);
    r->Quantity = int(read.at(2));
    r->QuestionCount = int(read.at(3));
    r->WatchCount = int(read.at(4));
    r->BidCount = int(read.at(5));
    readPage({ r });

    for (int i = 0; i < columns.size(); ++i)
        QCOMPARE(column(db, id, columns.at(i)).toDouble(), read.at(i));
    QCOMPARE(column(db, id, QStringLiteral("RefreshHash")).toString(), kStamp);
    QStringList written;
    const auto rows = db->select(
        QStringLiteral("SELECT * FROM itemshistory WHERE databaseid=%1 AND itemid='4711' AND "
                       "indate='%2' ORDER BY id")
            .arg(id)
            .arg(kStamp));
    for (const auto &row : rows) {
        QVERIFY(row.value("title").toString().startsWith(QLatin1String("Uhr|||")));
        written << row.value("infotype").toString() + QLatin1Char('|')
                + row.value("title").toString().mid(6) + QLatin1Char('|')
                + row.value("textinfo").toString();
    }
    QCOMPARE(written, entries);
    QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM itemshistory")), entries.size());
    QCOMPARE(m_news.size(), rows.size());
    for (int i = 0; i < m_news.size(); ++i)
        QCOMPARE(m_news.at(i).id, rows.at(i).value("id").toInt());
    QVERIFY(m_counts.isEmpty());
}

// Read sold out: only the active and unsold rows follow, the others keep their folder.
void TestEbay::foldersTheSyncLeavesAlone()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QList<QPair<int, int>> rows // folder, trash
        = { { -9, 0 }, { -8, 0 }, { -2, 0 }, { -3, 0 }, { -5, 0 }, { -9, 1 } };
    QList<ArticleModel *> page;
    QList<int> ids;
    for (int i = 0; i < rows.size(); ++i) {
        ids << addArticle(db,
                          { { "ItemID", QString::number(80 + i) },
                            { "Folder", rows[i].first },
                            { "Trash", rows[i].second },
                            { "Quantity", 2 } });
        page << record(QString::number(80 + i));
        page.last()->Folder = -7;
        page.last()->Quantity = 4;
        page.last()->SoldCount = 4;
    }
    readPage(page);

    for (int i = 0; i < rows.size(); ++i) {
        const bool moves = i < 2;
        QCOMPARE(column(db, ids[i], QStringLiteral("Folder")).toInt(), moves ? -7 : rows[i].first);
        QCOMPARE(column(db, ids[i], QStringLiteral("Quantity")).toInt(), moves ? 4 : 2);
        QCOMPARE(column(db, ids[i], QStringLiteral("SoldCount")).toInt(), 4);
        QCOMPARE(column(db, ids[i], QStringLiteral("RefreshHash")).toString(), kStamp);
    }
    // The new folder counts up before the old one counts down.
    QCOMPARE(m_counts,
             (QList<QVariantList> {
                 { -7, 1, false }, { -9, -1, false }, { -7, 1, false }, { -8, -1, false } }));
}

// Prices keep two decimals; an item id with a quote reaches its own row only.
void TestEbay::pricesAndQuotedItemId()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const QList<double> read = { 10000000.05, 0.1 + 0.2, 19.999 };
    const QList<double> stored = { 10000000.05, 0.3, 20.0 };
    QList<ArticleModel *> page;
    QList<int> ids;
    for (int i = 0; i < read.size(); ++i) {
        ids << addArticle(db, { { "ItemID", QString::number(i) } });
        page << record(QString::number(i));
        page.last()->CurrentPrice = read[i];
    }
    const int quoted = addArticle(db, { { "ItemID", "12'34" } });
    const int other = addArticle(db, { { "ItemID", "999" } });
    page << record(QStringLiteral("12'34")) << record(QStringLiteral("x' OR ''='"));
    page.at(3)->SoldCount = 1;
    page.at(4)->SoldCount = 2;
    readPage(page);

    for (int i = 0; i < read.size(); ++i)
        QCOMPARE(column(db, ids[i], QStringLiteral("CurrentPrice")).toString().toDouble(),
                 stored[i]);
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
    const QString thumb = QStringLiteral("thumb_31_0.jpg");
    QTest::newRow("size marker rewritten") << "/i/a/$_12.JPG"
                                           << "picture"
                                           << "/i/a/$_57.JPG" << true << thumb;
    QTest::newRow("no marker") << "/i/c/s-l1600.jpg"
                               << "picture"
                               << "/i/c/s-l1600.jpg" << true << thumb;
    QTest::newRow("download fails: address kept") << "/i/d/$_12.JPG"
                                                  << "missing"
                                                  << "/i/d/$_57.JPG" << false << "";
    QTest::newRow("not a picture: no thumbnail") << "/i/e/1.jpg"
                                                 << "text"
                                                 << "/i/e/1.jpg" << true << "";
    QTest::newRow("file on disk: not fetched") << "/i/f/1.jpg"
                                               << "on disk"
                                               << "" << true << thumb;
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
    const QString file = db->getCurrentAdImageDir() + QStringLiteral("31_0.jpg");
    if (served == QLatin1String("picture"))
        m_server->setReply(requested, FakeReply::ok(pictureBytes(), "image/png"));
    if (served == QLatin1String("text"))
        m_server->setReply(requested, FakeReply::ok("kein Bild"));
    if (served == QLatin1String("on disk")) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(pictureBytes());
    }
    ArticleModel *r = record(QStringLiteral("31"), true);
    r->Folder = -8;
    const QString address = m_server->url(path).toString();
    if (!path.isEmpty())
        r->PictureURLs << address;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker"), QStringLiteral("app.net") });
    readPage({ r });

    QCOMPARE(requestedPaths(*m_server),
             requested.isEmpty() ? QStringList() : QStringList { requested });
    const auto rows = db->select(QStringLiteral("SELECT * FROM articles"));
    QCOMPARE(rows.size(), 1);
    const int id = rows.first().value("id").toInt();
    QCOMPARE(QStringList({ rows.first().value("ImageThumb").toString(),
                           rows.first().value("RefreshHash").toString(),
                           rows.first().value("Folder").toString() }),
             QStringList({ thumb, kStamp, "-8" }));
    if (!thumb.isEmpty())
        QVERIFY(QFile::exists(db->getCurrentAdImageDirThumbs() + thumb));
    if (!path.isEmpty()) {
        QCOMPARE(db->selectOne(QStringLiteral("SELECT image FROM articles_images WHERE "
                                              "article_id=%1")
                                   .arg(id)),
                 stored ? QStringLiteral("31_0.jpg") : address);
        QCOMPARE(QFile::exists(file), stored);
    }
    QCOMPARE(m_news.size(), 1);
    QCOMPARE(
        QStringList({ m_news.first().infotype, m_news.first().title, m_news.first().textinfo }),
        QStringList({ "newarticle", "Neue Uhr", "wurde neu eingelesen" }));
    QCOMPARE(m_news.first().databaseid, id);
    QCOMPARE(m_counts, (QList<QVariantList> { { -8, 1, false } }));
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
    for (const QString itemId : { "1", "2", "3" }) {
        ArticleModel *r = record(itemId, true);
        r->PictureURLs << m_server->url("/" + itemId + "_0").toString()
                       << m_server->url("/" + itemId + "_1").toString();
        page << r;
    }
    page << record(QStringLiteral("4"));
    page.last()->SoldCount = 2;
    Ebay ebay;
    ebay.getAdItems(page);

    QCOMPARE(requestedPaths(*m_server), QStringList({ "/1_0", "/1_1", "/2_0" }));
    QCOMPARE(db->selectOne(QStringLiteral("SELECT group_concat(ItemID) FROM articles WHERE "
                                          "ItemID <> '4'")),
             QStringLiteral("1"));
    QCOMPARE(column(db, known, QStringLiteral("SoldCount")).toInt(), 0);
    // The picture fetched before the close stays for a later read.
    QVERIFY(QFile::exists(db->getCurrentAdImageDir() + QStringLiteral("2_0.jpg")));
}

// Listed by the listing worker after the read collected the known item numbers.
void TestEbay::listingSavedMeanwhileIsNotImportedAgain()
{
    APP_TEST_DATABASE(tdb);
    Database *db = tdb.db();
    const int listed = addArticle(db, { { "ItemID", "61" }, { "WatchCount", 0 } });
    ArticleModel *r = record(QStringLiteral("61"), true);
    r->WatchCount = 1;
    readPage({ r });

    QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM articles")), 1);
    QCOMPARE(column(db, listed, QStringLiteral("WatchCount")).toInt(), 1);
    QCOMPARE(column(db, listed, QStringLiteral("RefreshHash")).toString(), kStamp);
    QCOMPARE(m_news.size(), 2);
    QCOMPARE(m_news.at(1).infotype, QStringLiteral("watcher"));
    QVERIFY(m_counts.isEmpty());
}

APP_TEST_GUILESS_MAIN(TestEbay)
#include "test_ebay.moc"
