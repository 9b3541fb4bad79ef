// Both workers on a MariaDB server that goes away (a server of the test's own, see
// scripts/with-mariadb.sh) and on a connection killed under them: each comes back by itself,
// writes no half of an article, and a listing whose answer arrives while the server is away
// is stored once it is back, listed once and read by the synchronisation as the row it is.
#include "workers/ebay.h"
#include "workers/listingthread.h"

#include "core/database.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlQuery>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::OwnMySqlServer;
using TestSupport::RecordedRequest;
using TestSupport::TestDatabase;
using TestSupport::values;

namespace {

enum class Outage {
    Killed, // KILL CONNECTION of the worker's connection from another one
    Restarted // the server stops and starts again
};

const QString kItemId = QStringLiteral("110000000022");

FakeReply answer(const QString &call, const QString &payload = QString())
{
    return FakeReply::ok(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                                        "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success"
                                        "</Ack>%2</%1Response>")
                             .arg(call, payload)
                             .toUtf8());
}

QString listing(const QString &itemId, const QString &title)
{
    return QStringLiteral("<Item><ItemID>%1</ItemID><Title>%2</Title><Quantity>3</Quantity>"
                          "<ListingType>FixedPriceItem</ListingType><SellingStatus><CurrentPrice "
                          "currencyID=\"EUR\">9.99</CurrentPrice><QuantitySold>0</QuantitySold>"
                          "<ListingStatus>Active</ListingStatus></SellingStatus></Item>")
        .arg(itemId, title);
}

// Calls `step` until `done` holds, for at most ten seconds; the milliseconds it took, or -1.
qint64 until(const std::function<void()> &step, const std::function<bool()> &done)
{
    QElapsedTimer timer;
    timer.start();
    const QDeadlineTimer deadline(10000);
    for (;;) {
        step();
        if (done())
            return timer.elapsed();
        if (deadline.hasExpired())
            return -1;
        QTest::qWait(50);
    }
}

} // namespace

Q_DECLARE_METATYPE(Outage)

class TestOutage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listingWorkerComesBack_data();
    void listingWorkerComesBack();
    void synchronisationComesBack_data();
    void synchronisationComesBack();
    void listedWhileTheServerIsAway();

private:
    int addAccount();
    int queueArticle(int account, const QString &title);
    bool outage(Outage kind, Database &worker);
    int calls(const QString &name) const;
    // Rows of articles that hold `itemId`.
    int rowsOf(const QString &itemId);

    OwnMySqlServer m_server;
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<FakeHttpServer> m_market;
    // Listings the fake marketplace reports to GetSellerList.
    QStringList m_listings;
};

void TestOutage::initTestCase()
{
    APP_REQUIRE_OWN_MYSQL_SERVER();
    qRegisterMetaType<NewsItem>("NewsItem");
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void TestOutage::init()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_data = std::make_unique<TestDatabase>(m_server.server());
    QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
    qApp->setProperty("AppDown", 0);
    m_listings.clear();
    m_market = std::make_unique<FakeHttpServer>();
    m_market->pointConfigHere();
    for (const char *call : { "GetUser", "GetUserPreferences", "GetMemberMessages" })
        m_market->setCallReply(call, answer(call));
    m_market->setCallReply("AddItem", answer("AddItem", "<ItemID>" + kItemId + "</ItemID>"));
    m_market->setCallHandler("GetSellerList", [this](const RecordedRequest &) {
        return answer("GetSellerList",
                      "<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages>"
                      "</PaginationResult><ItemArray>"
                          + m_listings.join(QString()) + "</ItemArray>");
    });
    m_market->setCallHandler("GetItem", [](const RecordedRequest &request) {
        const QString itemId = request.body.contains(kItemId.toUtf8()) ? kItemId : "500";
        return answer("GetItem", listing(itemId, "Eingelesen"));
    });
}

void TestOutage::cleanup()
{
    m_market.reset();
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_data.reset();
    qApp->setProperty("AppDown", QVariant());
    QSqlDatabase::removeDatabase(QStringLiteral("outage_killer"));
}

int TestOutage::addAccount()
{
    return m_data->db()->insertSqlClean({ { "accountname", "händler_1" }, { "token", "TOKEN-1" } },
                                        "accounts");
}

int TestOutage::queueArticle(int account, const QString &title)
{
    return m_data->db()->insertSqlClean({ { "Title", title },
                                          { "Account", account },
                                          { "Quantity", 3 },
                                          { "ListingDuration", "Days_7" },
                                          { "Folder", -2 },
                                          { "FolderOld", -10 },
                                          { "DoCheck", 2 } },
                                        "articles");
}

bool TestOutage::outage(Outage kind, Database &worker)
{
    if (kind == Outage::Restarted)
        return m_server.stop();
    const QString id = worker.selectOne(QStringLiteral("SELECT CONNECTION_ID()")).value();
    QSqlQuery kill(m_data->rawConnection(QStringLiteral("outage_killer")));
    return !id.isEmpty() && kill.exec(QStringLiteral("KILL CONNECTION ") + id);
}

int TestOutage::calls(const QString &name) const
{
    int count = 0;
    for (const RecordedRequest &request : m_market->requests())
        count += request.callName() == name ? 1 : 0;
    return count;
}

int TestOutage::rowsOf(const QString &itemId)
{
    return m_data->db()
        ->selectCount("SELECT id FROM articles WHERE ItemID='" + itemId + "'")
        .value();
}

void TestOutage::listingWorkerComesBack_data()
{
    QTest::addColumn<Outage>("kind");
    QTest::newRow("connection killed") << Outage::Killed;
    QTest::newRow("server stopped and started") << Outage::Restarted;
}

// A pass while the server is away sends nothing; the next pass once it is back lists the
// article queued in the meantime, on the worker's own connection opened again.
void TestOutage::listingWorkerComesBack()
{
    QFETCH(Outage, kind);
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
    const int account = addAccount();
    auto connection = std::make_unique<Database>(true, QStringLiteral("listingThreadDB"));
    ListingThread worker;
    worker.db = connection.get();
    bool stop = false;
    QCOMPARE(worker.runPass(stop), 0);

    QVERIFY(outage(kind, *connection));
    if (kind == Outage::Restarted) {
        QCOMPARE(worker.runPass(stop), 0);
        QVERIFY(connection->connectionLost());
        QCOMPARE(m_market->requestCount(), 0);
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    }
    const int id = queueArticle(account, "Taschenuhr");
    QVERIFY(id > 0);

    const qint64 back = until([&] { worker.runPass(stop); },
                              [&] { return values(m_data->db(), id, "Folder") == "-9"; });
    QVERIFY(back >= 0);
    qInfo("Listing worker: article listed by the first pass %lld ms after the server answered",
          static_cast<long long>(back));
    QVERIFY(!connection->connectionLost());
    QCOMPARE(calls("AddItem"), 1);
    QCOMPARE(values(m_data->db(), id, "Folder,ItemID,DoCheck"), "-9|" + kItemId + "|0");
    QCOMPARE(
        m_data->db()->selectCount("SELECT id FROM articles WHERE Folder=-10 AND ItemID=''").value(),
        1);
    QCOMPARE(worker.pendingResults(), 0);
}

void TestOutage::synchronisationComesBack_data()
{
    QTest::addColumn<Outage>("kind");
    QTest::newRow("connection killed during the read") << Outage::Killed;
    QTest::newRow("server stopped during the read") << Outage::Restarted;
}

// The server goes away while a round reads the marketplace: the round moves no listing for
// having ended and shows no folder as empty; the next round, once it is back, does its work.
void TestOutage::synchronisationComesBack()
{
    QFETCH(Outage, kind);
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker"),
                                      QStringLiteral("app.net") });
    Database *db = m_data->db();
    const int account = addAccount();
    const auto active = [&](const char *itemId) {
        return db->insertSqlClean({ { "Title", "Uhr" },
                                    { "Account", account },
                                    { "ItemID", itemId },
                                    { "Folder", -9 },
                                    { "Quantity", 3 },
                                    { "SoldCount", 0 },
                                    { "Trash", 0 } },
                                  "articles");
    };
    const int seen = active("500");
    const int ended = active("600");
    m_listings << listing("500", "Uhr");

    auto connection = std::make_unique<Database>(true, QStringLiteral("ebayDB"));
    Ebay sync;
    sync.db = connection.get();
    QSignalSpy counts(&sync, &Ebay::ChangeFolderCount);
    bool away = false;
    m_market->setCallHandler("GetSellerList", [&](const RecordedRequest &) {
        if (!away) {
            QMetaObject::invokeMethod(
                qApp, [&] { away = outage(kind, *connection); }, Qt::BlockingQueuedConnection);
        }
        return answer("GetSellerList",
                      "<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages>"
                      "</PaginationResult><ItemArray>"
                          + m_listings.join(QString()) + "</ItemArray>");
    });
    sync.runRound();
    QVERIFY(away);

    if (kind == Outage::Restarted) {
        QVERIFY(counts.isEmpty());
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        QCOMPARE(values(db, ended, "Folder"), QStringLiteral("-9"));
        // A round that begins within a second of a failed attempt to reach the server finds
        // it still away; the worker's next turn does the work.
        const qint64 back = until([&] { sync.runRound(); },
                                  [&] { return !connection->connectionLost(); });
        QVERIFY(back >= 0);
        qInfo("Synchronisation: first round that reached the server began %lld ms after it "
              "answered",
              static_cast<long long>(back));
    }
    // The listing no longer reported has ended; the one reported stays, with the read's price.
    QCOMPARE(values(db, ended, "Folder"), QStringLiteral("-8"));
    QCOMPARE(values(db, seen, "Folder,CurrentPrice"), QStringLiteral("-9|9.99"));
    QCOMPARE(db->selectCount("SELECT id FROM articles").value(), 2);
    QVERIFY(!counts.isEmpty());
    for (const QList<QVariant> &count : qAsConst(counts)) {
        if (count.value(0).toInt() == -9)
            QCOMPARE(count.value(1).toInt(), 1);
    }
}

// The server goes away while AddItem is under way and the marketplace's answer comes only
// then: the worker keeps the result, a synchronisation meanwhile does not take the listing
// for a new one, and once the server is back the row moves to "Aktive Angebote" with its item
// number; the marketplace got one AddItem, and the next round adds no row.
void TestOutage::listedWhileTheServerIsAway()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker"),
                                      QStringLiteral("app.net") });
    Database *db = m_data->db();
    const int id = queueArticle(addAccount(), "Taschenuhr");
    auto connection = std::make_unique<Database>(true, QStringLiteral("listingThreadDB"));
    ListingThread worker;
    worker.db = connection.get();

    bool stopped = false;
    m_market->holdCall("AddItem");
    m_market->setCallHandler("AddItem", [this, &stopped](const RecordedRequest &) {
        // The answer waits until the server is down.
        QMetaObject::invokeMethod(
            qApp,
            [this, &stopped] {
                stopped = m_server.stop();
                m_market->releaseCall("AddItem");
            },
            Qt::QueuedConnection);
        return answer("AddItem", "<ItemID>" + kItemId + "</ItemID>");
    });
    bool stop = false;
    worker.runPass(stop);
    QVERIFY(stopped);
    QCOMPARE(calls("AddItem"), 1);
    QCOMPARE(worker.pendingResults(), 1);
    QCOMPARE(ListingThread::pendingItemIds(), QStringList { kItemId });
    // While the server is away a pass stores nothing and sends nothing.
    worker.runPass(stop);
    QCOMPARE(worker.pendingResults(), 1);
    QCOMPARE(calls("AddItem"), 1);

    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    QElapsedTimer back;
    back.start();
    // A round before the worker's next pass reads the listing but leaves it to the worker.
    m_listings << listing(kItemId, "Taschenuhr");
    auto syncConnection = std::make_unique<Database>(true, QStringLiteral("ebayDB"));
    Ebay sync;
    sync.db = syncConnection.get();
    sync.runRound();
    QVERIFY(!syncConnection->connectionLost());
    QCOMPARE(calls("GetSellerList"), 1);
    QCOMPARE(calls("GetItem"), 0);
    QCOMPARE(rowsOf(kItemId), 0);
    QCOMPARE(values(db, id, "Folder,DoCheck"), QStringLiteral("-2|0"));

    const qint64 stored
        = until([&] { worker.runPass(stop); }, [&] { return worker.pendingResults() == 0; });
    QVERIFY(stored >= 0);
    qInfo("Listing worker: kept result stored %lld ms after the server answered (%lld ms after "
          "the round)",
          static_cast<long long>(back.elapsed()), static_cast<long long>(stored));
    QVERIFY(ListingThread::pendingItemIds().isEmpty());
    QCOMPARE(values(db, id, "Folder,ItemID,DoCheck,IsVerified,DoCheckResult"),
             "-9|" + kItemId + "|0|1|");
    QCOMPARE(db->selectCount("SELECT id FROM articles WHERE Folder=-10 AND ItemID=''").value(), 1);
    QCOMPARE(db->selectOne("SELECT infotype FROM itemshistory WHERE databaseid="
                           + QString::number(id) + " ORDER BY id DESC")
                 .value(),
             QStringLiteral("articleadd_success"));

    sync.runRound();
    QCOMPARE(rowsOf(kItemId), 1);
    QCOMPARE(values(db, id, "Folder"), QStringLiteral("-9"));
    QCOMPARE(calls("AddItem"), 1);
}

APP_TEST_GUILESS_MAIN(TestOutage)
#include "test_outage.moc"
