#include "core/clock.h"
#include "marketplace/api_ebay.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

#include <QSignalSpy>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

namespace {

struct Listing
{
    QString itemId;
    int quantity = 1;
    int sold = 0;
    QString status = QStringLiteral("Active");
};

QString itemXml(const Listing &l, bool full)
{
    QString item
        = QStringLiteral(
              "<Item><ItemID>%1</ItemID><Title>Artikel %1</Title><Quantity>%2</Quantity>"
              "<WatchCount>%3</WatchCount><ListingType>FixedPriceItem</ListingType><Site>Germany</"
              "Site>"
              "<Currency>EUR</Currency><StartPrice currencyID=\"EUR\">12.5</StartPrice>"
              "<ListingDuration>GTC</"
              "ListingDuration><ListingDetails><StartTime>2026-11-01T09:00:00.000Z"
              "</StartTime><EndTime>2026-12-20T09:00:00.000Z</EndTime></ListingDetails>"
              "<SellingStatus><CurrentPrice currencyID=\"EUR\">12.5</CurrentPrice><QuantitySold>%4"
              "</QuantitySold><BidCount>0</BidCount><ListingStatus>%5</ListingStatus></"
              "SellingStatus>")
              .arg(l.itemId)
              .arg(l.quantity)
              .arg(l.itemId.right(1))
              .arg(l.sold)
              .arg(l.status);
    if (full)
        item
            += QStringLiteral(
                   "<Description><![CDATA[<p>Beschreibung %1</p>]]></Description>"
                   "<PrimaryCategory><CategoryID>31387</CategoryID><CategoryName>Uhren</"
                   "CategoryName>"
                   "</PrimaryCategory><PictureDetails><PictureURL>https://i.ebayimg.com/%1/$_12.JPG"
                   "</PictureURL></PictureDetails>")
                   .arg(l.itemId);
    return item + QStringLiteral("</Item>");
}

QByteArray reply(const QString &call, const QString &ack, const QString &payload)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                          "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3</%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

// Takes the records as the synchronisation does: keeps what it needs, releases them.
class Receiver : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString itemId;
        bool isNew;
        int account;
        int folder;
        int quantity;
        int sold;
        int questions;
        QString description;
    };
    QList<QList<Seen>> pages;
    std::function<void()> afterPage;

public slots:
    void take(QList<ArticleModel *> records)
    {
        QList<Seen> page;
        for (ArticleModel *r : qAsConst(records)) {
            page.append({ r->ItemID, r->IsNew, r->Account, r->Folder, r->Quantity, r->SoldCount,
                          r->QuestionCount,
                          r->columns.value(QStringLiteral("Description")).toString() });
        }
        qDeleteAll(records);
        pages.append(page);
        if (afterPage)
            afterPage();
    }
};

} // namespace

class TestSelling : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void readsPagesAndUnknownListingsInFull();
    void folderAndQuantityFollowTheMarketplace();
    void stopsWhenTheProgramCloses();
    void failureHalfWay();
    void recordsWithoutReceiverAreReleased();

private:
    // Serves `listings` through GetSellerList (50 a page) and GetItem.
    void serve(const QList<Listing> &listings, int failingPage = 0);

    std::unique_ptr<FakeHttpServer> m_server;
};

void TestSelling::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_server->setCallReply(
        QStringLiteral("GetMemberMessages"),
        FakeReply::ok(reply(QStringLiteral("GetMemberMessages"), QStringLiteral("Success"),
                            QStringLiteral("<MemberMessage><MemberMessageExchange><Item><ItemID>"
                                           "110000000003</ItemID></Item><MessageStatus>Unanswered"
                                           "</MessageStatus></MemberMessageExchange>"
                                           "</MemberMessage>"))));
    qApp->setProperty("AppDown", 0);
}

void TestSelling::cleanup()
{
    m_server.reset();
    qApp->setProperty("AppDown", QVariant());
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestSelling::serve(const QList<Listing> &listings, int failingPage)
{
    const int pages = (listings.size() + 49) / 50;
    m_server->setCallHandler(QStringLiteral("GetSellerList"), [=](const RecordedRequest &request) {
        const int page
            = XmlNode::parse(request.body).value(QStringLiteral("Pagination/PageNumber")).toInt();
        if (page == failingPage)
            return FakeReply::ok(
                reply(QStringLiteral("GetSellerList"), QStringLiteral("Failure"),
                      QStringLiteral("<Errors><ShortMessage>Fehler</ShortMessage><LongMessage>"
                                     "Dienst nicht verfügbar.</LongMessage><SeverityCode>Error"
                                     "</SeverityCode></Errors>")));
        QString items;
        for (int i = (page - 1) * 50; i < qMin(page * 50, listings.size()); ++i)
            items += itemXml(listings.at(i), false);
        return FakeReply::ok(reply(
            QStringLiteral("GetSellerList"), QStringLiteral("Success"),
            QStringLiteral("<PaginationResult><TotalNumberOfPages>%1</TotalNumberOfPages>"
                           "<TotalNumberOfEntries>%2</TotalNumberOfEntries></PaginationResult>"
                           "<ItemArray>%3</ItemArray>")
                .arg(pages)
                .arg(listings.size())
                .arg(items)));
    });
    m_server->setCallHandler(QStringLiteral("GetItem"), [=](const RecordedRequest &request) {
        const QString id = XmlNode::parse(request.body).value(QStringLiteral("ItemID"));
        for (const Listing &l : listings) {
            if (l.itemId == id)
                return FakeReply::ok(
                    reply(QStringLiteral("GetItem"), QStringLiteral("Success"), itemXml(l, true)));
        }
        return FakeReply::ok(
            reply(QStringLiteral("GetItem"), QStringLiteral("Failure"),
                  QStringLiteral("<Errors><ShortMessage>x</ShortMessage><LongMessage>Unbekannt."
                                 "</LongMessage><SeverityCode>Error</SeverityCode></Errors>")));
    });
}

void TestSelling::readsPagesAndUnknownListingsInFull()
{
    QList<Listing> listings;
    QStringList known;
    for (int i = 0; i < 120; ++i) {
        const QString id = QStringLiteral("1100000000%1").arg(i, 2, 10, QLatin1Char('0'));
        listings.append({ id, 2, 0, QStringLiteral("Active") });
        if (i % 17 != 5)
            known << id;
    }
    QCOMPARE(known.size(), 113);
    serve(listings);

    Api_Ebay api(QStringLiteral("TOKEN"), nullptr, 0);
    Receiver receiver;
    connect(&api, &Api_Ebay::sendAdItems, &receiver, &Receiver::take);
    QSignalSpy status(&api, &Api_Ebay::getStatus);
    const QDateTime start(QDate(2026, 9, 8), QTime(12, 0), Qt::UTC);
    QVERIFY2(api.getMyeBaySelling(QStringLiteral("4"), known, start),
             qPrintable(api.getLastFail()));

    QCOMPARE(receiver.pages.size(), 3);
    QCOMPARE(receiver.pages.at(0).size(), 50);
    QCOMPARE(receiver.pages.at(1).size(), 50);
    QCOMPARE(receiver.pages.at(2).size(), 20);
    QCOMPARE(status.size(), 3);
    QCOMPARE(status.at(2).at(1).toInt(), 3);
    QCOMPARE(status.at(2).at(2).toInt(), 3);

    QStringList readInFull;
    int position = 0;
    for (const auto &page : qAsConst(receiver.pages)) {
        for (const auto &seen : page) {
            QCOMPARE(seen.itemId, listings.at(position++).itemId);
            QCOMPARE(seen.account, 4);
            QCOMPARE(seen.isNew, !known.contains(seen.itemId));
            QCOMPARE(seen.questions, seen.itemId == QLatin1String("110000000003") ? 1 : 0);
            if (seen.isNew) {
                readInFull << seen.itemId;
                QCOMPARE(seen.description,
                         QStringLiteral("<p>Beschreibung %1</p>").arg(seen.itemId));
            }
        }
    }
    QCOMPARE(readInFull.size(), 7);

    QStringList fetched;
    for (const RecordedRequest &request : m_server->requests()) {
        const XmlNode body = XmlNode::parse(request.body);
        if (request.callName() == QLatin1String("GetItem")) {
            fetched << body.value(QStringLiteral("ItemID"));
            QCOMPARE(body.value(QStringLiteral("DetailLevel")), QStringLiteral("ReturnAll"));
            QCOMPARE(body.value(QStringLiteral("IncludeItemSpecifics")), QStringLiteral("true"));
        } else if (request.callName() == QLatin1String("GetSellerList")) {
            QCOMPARE(body.value(QStringLiteral("EndTimeFrom")),
                     QStringLiteral("2026-09-08T12:00:00.000Z"));
            QCOMPARE(body.value(QStringLiteral("EndTimeTo")),
                     QStringLiteral("2027-01-05T12:00:00.000Z"));
            QCOMPARE(body.value(QStringLiteral("Pagination/EntriesPerPage")), QStringLiteral("50"));
            QCOMPARE(body.value(QStringLiteral("IncludeWatchCount")), QStringLiteral("true"));
        }
    }
    QCOMPARE(fetched, readInFull);
}

void TestSelling::folderAndQuantityFollowTheMarketplace()
{
    serve({ { QStringLiteral("1"), 3, 1, QStringLiteral("Active") },
            { QStringLiteral("2"), 3, 3, QStringLiteral("Completed") },
            { QStringLiteral("3"), 5, 2, QStringLiteral("Completed") },
            { QStringLiteral("4"), 1, 1, QStringLiteral("Ended") },
            { QStringLiteral("5"), 4, 0, QStringLiteral("Ended") } });
    Api_Ebay api(QStringLiteral("TOKEN"), nullptr, 0);
    Receiver receiver;
    connect(&api, &Api_Ebay::sendAdItems, &receiver, &Receiver::take);
    QVERIFY(api.getMyeBaySelling(QStringLiteral("1"),
                                 { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3") },
                                 QDateTime::currentDateTime()));
    QCOMPARE(receiver.pages.size(), 1);
    const auto page = receiver.pages.first();
    QCOMPARE(page.size(), 5);
    const QList<int> folders = { -9, -7, -8, -7, -8 };
    const QList<int> quantities = { 3, 3, 5, 1, 4 };
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(page.at(i).folder, folders.at(i));
        // The listed quantity with the sold ones included, read in full or not.
        QCOMPARE(page.at(i).quantity, quantities.at(i));
    }
    QCOMPARE(page.at(2).sold, 2);
}

void TestSelling::stopsWhenTheProgramCloses()
{
    QList<Listing> listings;
    for (int i = 0; i < 150; ++i)
        listings.append({ QString::number(7000 + i), 1, 0, QStringLiteral("Active") });
    serve(listings);
    Api_Ebay api(QStringLiteral("TOKEN"), nullptr, 0);
    Receiver receiver;
    receiver.afterPage = [] {
        qApp->setProperty("AppDown", 1);
    };
    connect(&api, &Api_Ebay::sendAdItems, &receiver, &Receiver::take);
    // Unknown listings on the second page would be read one by one; the close comes first.
    QVERIFY(!api.getMyeBaySelling(QStringLiteral("1"), {}, QDateTime::currentDateTime()));
    QCOMPARE(receiver.pages.size(), 1);
    int sellerLists = 0;
    for (const RecordedRequest &request : m_server->requests())
        sellerLists += request.callName() == QLatin1String("GetSellerList") ? 1 : 0;
    QCOMPARE(sellerLists, 1);
}

void TestSelling::failureHalfWay()
{
    QList<Listing> listings;
    QStringList known;
    for (int i = 0; i < 130; ++i) {
        listings.append({ QString::number(9000 + i), 1, 0, QStringLiteral("Active") });
        known << QString::number(9000 + i);
    }
    // One listing is gone by the time it is read in full: it is left for a later round.
    listings[10].itemId = QStringLiteral("verschwunden");
    serve(listings, 2);
    m_server->setCallHandler(QStringLiteral("GetItem"), [](const RecordedRequest &) {
        return FakeReply::ok(
            reply(QStringLiteral("GetItem"), QStringLiteral("Failure"),
                  QStringLiteral("<Errors><ShortMessage>x</ShortMessage><LongMessage>Gelöscht."
                                 "</LongMessage><SeverityCode>Error</SeverityCode></Errors>")));
    });
    Api_Ebay api(QStringLiteral("TOKEN"), nullptr, 0);
    Receiver receiver;
    connect(&api, &Api_Ebay::sendAdItems, &receiver, &Receiver::take);
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QVERIFY(!api.getMyeBaySelling(QStringLiteral("1"), known, QDateTime::currentDateTime()));
    QCOMPARE(api.getLastFail(), QStringLiteral("Dienst nicht verfügbar."));
    QCOMPARE(receiver.pages.size(), 1);
    QCOMPARE(receiver.pages.first().size(), 49);
    QVERIFY(log.count(QStringLiteral("verschwunden")) >= 1);
}

void TestSelling::recordsWithoutReceiverAreReleased()
{
    serve({ { QStringLiteral("1"), 1, 0, QStringLiteral("Active") },
            { QStringLiteral("2"), 1, 0, QStringLiteral("Active") } });
    Api_Ebay api(QStringLiteral("TOKEN"), nullptr, 0);
    // Nothing connected: the records must not leak (the sanitizer build checks this).
    QVERIFY(api.getMyeBaySelling(QStringLiteral("1"), {}, QDateTime::currentDateTime()));
    QCOMPARE(m_server->requestCount(), 4);
}

APP_TEST_GUILESS_MAIN(TestSelling)
#include "test_selling.moc"
