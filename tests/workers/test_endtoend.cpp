// Both workers on threads of their own against the fake marketplace: an article put in
// the outbox is listed once and, when a later synchronisation finds it sold, moves on to
// "Verkauft"; closing the program ends both.
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/ebay.h"
#include "workers/listingthread.h"

#include <QThread>

using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

namespace {

FakeReply reply(const QString &call, const QString &payload = QString())
{
    return FakeReply::ok(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                                        "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success"
                                        "</Ack>%2</%1Response>")
                             .arg(call, payload)
                             .toUtf8());
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init() { qApp->setProperty("AppDown", 0); }
    void cleanup()
    {
        qApp->setProperty("AppDown", QVariant());
        qApp->setProperty("SyncIntervall", QVariant());
        TestSupport::clearDatabaseProperties();
    }

    void outboxToActiveToSold();
};

void TestEndToEnd::outboxToActiveToSold()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    TestSupport::FakeHttpServer server;
    server.pointConfigHere();
    for (const char *call : { "GetUser", "GetUserPreferences", "GetMemberMessages" })
        server.setCallReply(call, reply(call));
    server.setCallReply("AddItem", reply("AddItem", "<ItemID>110099887766</ItemID>"));
    server.setCallReply(
        "GetSellerList",
        reply("GetSellerList",
              "<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages></PaginationResult>"
              "<ItemArray><Item><ItemID>110099887766</ItemID><Title>Taschenuhr</Title><Quantity>1"
              "</Quantity><ListingType>FixedPriceItem</ListingType><SellingStatus><CurrentPrice "
              "currencyID=\"EUR\">49.0</CurrentPrice><QuantitySold>1</QuantitySold><ListingStatus>"
              "Completed</ListingStatus></SellingStatus></Item></ItemArray>"));
    const int account
        = db.insertSqlClean({ { "accountname", "händler_1" }, { "token", "TOKEN-1" } }, "accounts");
    const int id = db.insertSqlClean({ { "Title", "Taschenuhr" },
                                       { "Account", account },
                                       { "Quantity", 1 },
                                       { "ListingDuration", "Days_30" },
                                       { "Folder", -2 },
                                       { "FolderOld", -10 },
                                       { "DoCheck", 2 } },
                                     "articles");
    const auto column = [&db, id](const char *name) {
        return db.selectOne(QStringLiteral("SELECT %1 FROM articles WHERE id=%2").arg(name).arg(id))
            .value();
    };

    qRegisterMetaType<NewsItem>("NewsItem");
    QStringList infotypes;
    auto *listing = new ListingThread;
    auto *sync = new Ebay;
    QThread listingThread;
    QThread syncThread;
    listing->moveToThread(&listingThread);
    sync->moveToThread(&syncThread);
    connect(&listingThread, &QThread::started, listing, &ListingThread::ExecuteAll);
    connect(&syncThread, &QThread::started, sync, &Ebay::ExecuteAll);
    const auto collect = [&infotypes](const NewsItem &item) {
        infotypes << item.infotype;
    };
    connect(listing, &ListingThread::sendaddNewsItem, this, collect, Qt::QueuedConnection);
    connect(sync, &Ebay::sendaddNewsItem, this, collect, Qt::QueuedConnection);
    qApp->setProperty("SyncIntervall", 60);
    listingThread.start();
    syncThread.start();

    // Both workers first wait for minutes; the commands wake them.
    QMetaObject::invokeMethod(listing, &ListingThread::startSyncNow, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(column("Folder"), QStringLiteral("-9"), 15000);
    QCOMPARE(column("ItemID"), QStringLiteral("110099887766"));
    QTRY_VERIFY_WITH_TIMEOUT(infotypes.contains("articleadd_success"), 5000);

    QMetaObject::invokeMethod(sync, &Ebay::startSyncNow, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(column("Folder"), QStringLiteral("-7"), 15000);
    QCOMPARE(column("SoldCount"), QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(infotypes.contains("sellcount"), 5000);
    int listings = 0;
    for (const RecordedRequest &request : server.requests())
        listings += request.callName() == "AddItem" ? 1 : 0;
    QCOMPARE(listings, 1);

    qApp->setProperty("AppDown", 1);
    QTRY_VERIFY_WITH_TIMEOUT(!QSqlDatabase::connectionNames().join(' ').contains("ebayDB"), 5000);
    listingThread.quit();
    syncThread.quit();
    QVERIFY(listingThread.wait(5000));
    QVERIFY(syncThread.wait(5000));
    delete listing;
    delete sync;
}

APP_TEST_GUILESS_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
