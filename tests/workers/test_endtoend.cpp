// Both workers on threads of their own against the fake marketplace: an article put in
// the outbox is listed and, when a later synchronisation finds it sold, moves on to
// "Verkauft" with its activity entries.
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/ebay.h"
#include "workers/listingthread.h"

#include <QThread>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

QByteArray reply(const QString &call, const QString &payload = QString())
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>%2</%1Response>")
        .arg(call, payload)
        .toUtf8();
}

// The listing as the marketplace reports it after the sale.
QString soldListing(const QString &itemId)
{
    return QStringLiteral(
               "<ItemArray><Item><ItemID>%1</ItemID><Title>Taschenuhr</Title><Quantity>1</Quantity>"
               "<WatchCount>2</WatchCount><ListingType>FixedPriceItem</ListingType>"
               "<SellingStatus><CurrentPrice currencyID=\"EUR\">49.0</CurrentPrice>"
               "<QuantitySold>1</QuantitySold><BidCount>0</BidCount>"
               "<ListingStatus>Completed</ListingStatus></SellingStatus></Item></ItemArray>")
        .arg(itemId);
}

struct Collected : QObject
{
    QStringList infotypes;
    QStringList texts;
    QList<QList<QVariant>> counts;
};

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
    FakeHttpServer server;
    server.pointConfigHere();
    server.setCallReply(QStringLiteral("GetUser"), FakeReply::ok(reply(QStringLiteral("GetUser"))));
    server.setCallReply(QStringLiteral("GetUserPreferences"),
                        FakeReply::ok(reply(QStringLiteral("GetUserPreferences"))));
    server.setCallReply(
        QStringLiteral("AddItem"),
        FakeReply::ok(
            reply(QStringLiteral("AddItem"),
                  QStringLiteral("<ItemID>110099887766</ItemID><StartTime>2026-12-06T10:00:00.000Z"
                                 "</StartTime><EndTime>2027-01-05T10:00:00.000Z</EndTime>"
                                 "<Fees><Fee><Name>ListingFee</Name><Fee currencyID=\"EUR\">"
                                 "0.35</Fee></Fee></Fees>"))));
    server.setCallReply(QStringLiteral("GetMemberMessages"),
                        FakeReply::ok(reply(QStringLiteral("GetMemberMessages"))));
    server.setCallReply(
        QStringLiteral("GetSellerList"),
        FakeReply::ok(
            reply(QStringLiteral("GetSellerList"),
                  QStringLiteral("<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages>"
                                 "</PaginationResult>")
                      + soldListing(QStringLiteral("110099887766")))));

    QMap<QString, QVariant> account;
    account.insert(QStringLiteral("accountname"), QStringLiteral("händler_1"));
    account.insert(QStringLiteral("token"), QStringLiteral("TOKEN-1"));
    const int accountId = db.insertSqlClean(account, QStringLiteral("accounts"));
    QMap<QString, QVariant> article;
    article.insert(QStringLiteral("Title"), QStringLiteral("Taschenuhr"));
    article.insert(QStringLiteral("Account"), accountId);
    article.insert(QStringLiteral("Site"), 77);
    article.insert(QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem"));
    article.insert(QStringLiteral("ListingDuration"), QStringLiteral("Days_30"));
    article.insert(QStringLiteral("StartPrice"), 49);
    article.insert(QStringLiteral("Quantity"), 1);
    article.insert(QStringLiteral("Folder"), -2);
    article.insert(QStringLiteral("FolderOld"), -10);
    article.insert(QStringLiteral("DoCheck"), 2);
    article.insert(QStringLiteral("DoCheckResult"),
                   QStringLiteral("Artikel wird eingestellt / aktualisiert"));
    const int id = db.insertSqlClean(article, QStringLiteral("articles"));
    QVERIFY(id > 0);

    qRegisterMetaType<NewsItem>("NewsItem");
    Collected collected;
    auto *listing = new ListingThread;
    auto *sync = new Ebay;
    QThread listingThread;
    QThread syncThread;
    listing->moveToThread(&listingThread);
    sync->moveToThread(&syncThread);
    connect(&listingThread, &QThread::started, listing, &ListingThread::ExecuteAll,
            Qt::QueuedConnection);
    connect(&syncThread, &QThread::started, sync, &Ebay::ExecuteAll, Qt::QueuedConnection);
    const auto collect = [&collected](const NewsItem &item) {
        collected.infotypes << item.infotype;
        collected.texts << item.textinfo;
    };
    connect(listing, &ListingThread::sendaddNewsItem, &collected, collect, Qt::QueuedConnection);
    connect(sync, &Ebay::sendaddNewsItem, &collected, collect, Qt::QueuedConnection);
    connect(
        sync, &Ebay::ChangeFolderCount, &collected,
        [&collected](int folder, int count, bool absolute) {
            if (!absolute)
                collected.counts.append({ folder, count });
        },
        Qt::QueuedConnection);
    qApp->setProperty("SyncIntervall", 60);
    listingThread.start();
    syncThread.start();

    // The outbox command wakes the listing worker.
    QMetaObject::invokeMethod(listing, &ListingThread::startSyncNow, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(
        db.selectOne(QStringLiteral("SELECT Folder FROM articles WHERE id=%1").arg(id)),
        QStringLiteral("-9"), 15000);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT ItemID FROM articles WHERE id=%1").arg(id)),
             QStringLiteral("110099887766"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT DoCheckResult FROM articles WHERE id=%1").arg(id)),
             QString());
    // A first listing leaves its draft behind.
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE Folder=-10 AND ItemID='' "
                                           "AND Title='Taschenuhr'")),
             1);
    QTRY_VERIFY_WITH_TIMEOUT(collected.infotypes.contains(QLatin1String("articleadd_success")),
                             5000);

    // The synchronise command wakes the synchronisation worker; the marketplace says sold.
    QMetaObject::invokeMethod(sync, &Ebay::startSyncNow, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(
        db.selectOne(QStringLiteral("SELECT Folder FROM articles WHERE id=%1").arg(id)),
        QStringLiteral("-7"), 15000);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT SoldCount FROM articles WHERE id=%1").arg(id)),
             QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(collected.infotypes.contains(QLatin1String("sellcount")), 5000);
    QVERIFY(collected.texts.contains(QStringLiteral("hat einen neuen Verkauf")));
    const int sold = collected.counts.indexOf(QList<QVariant> { -7, 1 });
    QVERIFY(sold >= 0);
    QVERIFY(sold < collected.counts.indexOf(QList<QVariant> { -9, -1 }));
    QCOMPARE(collected.infotypes.count(QStringLiteral("progress")), 1);

    // Closing the program ends both workers within a few seconds.
    qApp->setProperty("AppDown", 1);
    QTRY_VERIFY_WITH_TIMEOUT(
        !QSqlDatabase::connectionNames().join(QLatin1Char(' ')).contains(QLatin1String("ebayDB")),
        5000);
    listingThread.quit();
    syncThread.quit();
    QVERIFY(listingThread.wait(5000));
    QVERIFY(syncThread.wait(5000));
    delete listing;
    delete sync;
}

APP_TEST_GUILESS_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
