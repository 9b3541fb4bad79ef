#include "marketplace/api_ebay.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;
using Pages = QList<QList<ArticleModel>>;

namespace {

struct Listing
{
    QString itemId;
    int quantity = 1;
    int sold = 0;
    QString status = "Active";
};

// As GetSellerList lists it; `full` adds the description only GetItem gives.
QString itemXml(const Listing &l, bool full)
{
    return QString("<Item><ItemID>%1</ItemID><Quantity>%2</Quantity><SellingStatus><QuantitySold>"
                   "%3</QuantitySold><ListingStatus>%4</ListingStatus></SellingStatus>%5</Item>")
        .arg(l.itemId)
        .arg(l.quantity)
        .arg(l.sold)
        .arg(l.status,
             full ? "<Description><![CDATA[<p>" + l.itemId + "</p>]]></Description>" : "");
}

FakeReply reply(const QString &call, const QString &ack, const QString &payload)
{
    return FakeReply::ok(QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response xmlns=\""
                                 "urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3</%1Response>")
                             .arg(call, ack, payload)
                             .toUtf8());
}

FakeReply failure(const QString &call, const QString &message)
{
    return reply(call, "Failure", "<Errors><LongMessage>" + message + "</LongMessage></Errors>");
}

QList<Listing> numbered(int first, int count, QStringList *ids = nullptr)
{
    QList<Listing> listings;
    for (int i = first; i < first + count; ++i) {
        listings.append({ QString::number(i) });
        if (ids)
            *ids << listings.last().itemId;
    }
    return listings;
}

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
    std::unique_ptr<Api_Ebay> m_api;
    Pages m_pages;
};

void TestSelling::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_server->setCallReply("GetMemberMessages",
                           reply("GetMemberMessages", "Success",
                                 "<MemberMessage><MemberMessageExchange><Item><ItemID>1003</ItemID>"
                                 "</Item></MemberMessageExchange></MemberMessage>"));
    qApp->setProperty("AppDown", 0);
    // Keeps a copy of each page and releases the records.
    m_api = std::make_unique<Api_Ebay>("TOKEN");
    m_pages.clear();
    connect(m_api.get(), &Api_Ebay::sendAdItems, [this](QList<ArticleModel *> records) {
        m_pages.append(QList<ArticleModel>());
        for (const ArticleModel *record : qAsConst(records))
            m_pages.last() << *record;
        qDeleteAll(records);
    });
}

void TestSelling::cleanup()
{
    m_api.reset();
    m_server.reset();
    qApp->setProperty("AppDown", QVariant());
}

void TestSelling::serve(const QList<Listing> &listings, int failingPage)
{
    m_server->setCallHandler("GetSellerList", [=](const RecordedRequest &request) {
        const int page = XmlNode::parse(request.body).value("Pagination/PageNumber").toInt();
        if (page == failingPage)
            return failure("GetSellerList", "Dienst nicht verfügbar.");
        QString items;
        for (int i = (page - 1) * 50; i < qMin(page * 50, listings.size()); ++i)
            items += itemXml(listings.at(i), false);
        return reply("GetSellerList", "Success",
                     QString("<PaginationResult><TotalNumberOfPages>%1</TotalNumberOfPages>"
                             "</PaginationResult><ItemArray>%2</ItemArray>")
                         .arg((listings.size() + 49) / 50)
                         .arg(items));
    });
    m_server->setCallHandler("GetItem", [=](const RecordedRequest &request) {
        const QString id = XmlNode::parse(request.body).value("ItemID");
        for (const Listing &l : listings) {
            if (l.itemId == id)
                return reply("GetItem", "Success", itemXml(l, true));
        }
        return failure("GetItem", "Unbekannt.");
    });
}

void TestSelling::readsPagesAndUnknownListingsInFull()
{
    QStringList ids, known, unknown;
    serve(numbered(1000, 120, &ids));
    for (const QString &id : qAsConst(ids))
        (id.toInt() % 17 != 5 ? known : unknown) << id;
    const QDateTime start(QDate(2026, 9, 8), QTime(12, 0), Qt::UTC);
    QVERIFY2(m_api->getMyeBaySelling("4", known, start), qPrintable(m_api->getLastFail()));

    QCOMPARE(m_pages.size(), 3);
    QCOMPARE(m_pages.at(2).size(), 20);
    QStringList read;
    for (const ArticleModel &record : m_pages.at(0) + m_pages.at(1) + m_pages.at(2)) {
        read << record.ItemID;
        QCOMPARE(record.Account, 4);
        QCOMPARE(record.QuestionCount, record.ItemID == "1003" ? 1 : 0);
        // Only the unknown ones are read in full.
        QCOMPARE(record.IsNew, unknown.contains(record.ItemID));
        QCOMPARE(record.columns.value("Description").toString(),
                 record.IsNew ? "<p>" + record.ItemID + "</p>" : QString());
    }
    QCOMPARE(read, ids);

    QStringList fetched;
    for (const RecordedRequest &request : m_server->requests()) {
        const XmlNode body = XmlNode::parse(request.body);
        if (request.callName() == "GetItem") {
            fetched << body.value("ItemID");
            QCOMPARE(body.value("DetailLevel") + body.value("IncludeItemSpecifics"),
                     QString("ReturnAlltrue"));
        } else if (request.callName() == "GetSellerList") {
            QCOMPARE(QStringList({ body.value("EndTimeFrom"), body.value("EndTimeTo"),
                                   body.value("Pagination/EntriesPerPage"),
                                   body.value("IncludeWatchCount") }),
                     QStringList(
                         { "2026-09-08T12:00:00.000Z", "2027-01-05T12:00:00.000Z", "50", "true" }));
        }
    }
    QCOMPARE(fetched, unknown);
}

void TestSelling::folderAndQuantityFollowTheMarketplace()
{
    // Known ones (1-3) are taken from the list, the others read in full.
    serve({ { "1", 3, 3, "Active" },
            { "2", 3, 3, "Completed" },
            { "3", 5, 2, "Completed" },
            { "4", 1, 1, "Ended" },
            { "5", 4, 0, "Ended" } });
    QVERIFY(m_api->getMyeBaySelling("1", { "1", "2", "3" }, QDateTime::currentDateTime()));
    QCOMPARE(m_pages.size(), 1);
    QStringList seen;
    for (const ArticleModel &r : m_pages.first())
        seen << QString("%1 %2 %3/%4").arg(r.ItemID).arg(r.Folder).arg(r.SoldCount).arg(r.Quantity);
    // Quantities are the listed ones, the sold ones included.
    QCOMPARE(seen, QStringList({ "1 -9 3/3", "2 -7 3/3", "3 -8 2/5", "4 -7 1/1", "5 -8 0/4" }));
}

void TestSelling::stopsWhenTheProgramCloses()
{
    serve(numbered(7000, 150));
    connect(m_api.get(), &Api_Ebay::sendAdItems, [] { qApp->setProperty("AppDown", 1); });
    // Unknown listings on the second page would be read one by one; the close comes first.
    QVERIFY(!m_api->getMyeBaySelling("1", {}, QDateTime::currentDateTime()));
    QCOMPARE(m_pages.size(), 1);
    QCOMPARE(m_server->lastRequest().callName(), QString("GetItem"));
}

// A listing gone by the time it is read in full is left for a later round; a page that
// fails ends the reading with its reason.
void TestSelling::failureHalfWay()
{
    QStringList known;
    QList<Listing> listings = numbered(9000, 130, &known);
    listings[10].itemId = "verschwunden";
    serve(listings, 2);
    m_server->setCallHandler(
        "GetItem", [](const RecordedRequest &) { return failure("GetItem", "Gelöscht."); });
    TestSupport::MessageCapture log({ "app.net" });
    QVERIFY(!m_api->getMyeBaySelling("1", known, QDateTime::currentDateTime()));
    QCOMPARE(m_api->getLastFail(), QString("Dienst nicht verfügbar."));
    QCOMPARE(m_pages.size(), 1);
    QCOMPARE(m_pages.first().size(), 49);
    QVERIFY(log.count("verschwunden") >= 1);
}

void TestSelling::recordsWithoutReceiverAreReleased()
{
    serve(numbered(1, 2));
    // Nothing connected: the records must not leak (the sanitizer build checks this).
    Api_Ebay api("TOKEN");
    QVERIFY(api.getMyeBaySelling("1", {}, QDateTime::currentDateTime()));
    QCOMPARE(m_server->requestCount(), 4);
}

APP_TEST_GUILESS_MAIN(TestSelling)
#include "test_selling.moc"
