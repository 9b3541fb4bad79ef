// Measures reading and saving listings: a local fake marketplace serves 5,000 listings
// (50 to a page, each with a description and 6 pictures); every listing is unknown, so it
// is read in full and saved as an article. Prints listings per second (the fake server's
// own time taken out), the share of parsing, and the peak memory.
#include "bench/benchlistings.h"
#include "core/database.h"
#include "marketplace/api_ebay.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>

using Bench::peakKilobytes;
using Bench::reply;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

constexpr int kListings = 5000;
constexpr int kPerPage = 50;

QString itemXml(int n, bool full)
{
    QString item
        = QStringLiteral(
              "<Item><ItemID>%1</ItemID><Title>Armbanduhr Modell %2 Edelstahl neu</Title>"
              "<Quantity>3</Quantity><WatchCount>4</WatchCount><ListingType>FixedPriceItem</"
              "ListingType>"
              "<Site>Germany</Site><Currency>EUR</Currency><Country>DE</Country><Location>Berlin</"
              "Location>"
              "<PostalCode>10115</PostalCode><StartPrice currencyID=\"EUR\">49.9</StartPrice>"
              "<ListingDuration>GTC</"
              "ListingDuration><ListingDetails><StartTime>2026-11-01T09:00:00.000Z"
              "</StartTime><EndTime>2026-12-20T09:00:00.000Z</EndTime></ListingDetails>"
              "<SellingStatus><CurrentPrice currencyID=\"EUR\">49.9</CurrentPrice><QuantitySold>1"
              "</QuantitySold><BidCount>0</BidCount><ListingStatus>Active</ListingStatus></"
              "SellingStatus>")
              .arg(110000000000LL + n)
              .arg(n);
    if (full) {
        item
            += QStringLiteral(
                   "<Description><![CDATA[<div><h1>Modell %1</h1>%2</div>]]></Description>"
                   "<PrimaryCategory><CategoryID>31387</CategoryID><CategoryName>Uhren:Armbanduhren"
                   "</CategoryName></PrimaryCategory><ConditionID>1000</ConditionID>"
                   "<ItemSpecifics><NameValueList><Name>Marke</Name><Value>Muster</Value></"
                   "NameValueList>"
                   "<NameValueList><Name>Farbe</Name><Value>Silber</Value></NameValueList></"
                   "ItemSpecifics>"
                   "<ShippingDetails><ShippingServiceOptions><ShippingService>DE_DHLPaket</"
                   "ShippingService>"
                   "<ShippingServiceCost currencyID=\"EUR\">4.99</ShippingServiceCost>"
                   "<ShippingServicePriority>1</ShippingServicePriority></ShippingServiceOptions>"
                   "<ShippingType>Flat</ShippingType></ShippingDetails><DispatchTimeMax>2</"
                   "DispatchTimeMax>"
                   "<ReturnPolicy><ReturnsAcceptedOption>ReturnsAccepted</ReturnsAcceptedOption>"
                   "<ReturnsWithinOption>Days_30</"
                   "ReturnsWithinOption><ShippingCostPaidByOption>Buyer"
                   "</ShippingCostPaidByOption></ReturnPolicy><PictureDetails>")
                   .arg(n)
                   .arg(QStringLiteral(
                            "<p>Eine ausführliche Beschreibung mit Maßen und Zustand.</p>")
                            .repeated(40));
        for (int p = 0; p < 6; ++p)
            item += QStringLiteral(
                        "<PictureURL>https://i.ebayimg.com/images/g/%1/s-l1600.jpg</PictureURL>")
                        .arg(n * 10 + p);
        item += QStringLiteral("</PictureDetails>");
    }
    return item + QStringLiteral("</Item>");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.*.debug=false"));
    QTemporaryDir dir;
    Database db(dir.path() + QStringLiteral("/data/"));

    // Every reply is made before the clock starts.
    QVector<QByteArray> pages;
    for (int page = 0; page < kListings / kPerPage; ++page) {
        QString items;
        for (int i = page * kPerPage; i < (page + 1) * kPerPage; ++i)
            items += itemXml(i, false);
        pages.append(
            reply(QStringLiteral("GetSellerList"),
                  QStringLiteral("<PaginationResult><TotalNumberOfPages>%1</TotalNumberOfPages>"
                                 "</PaginationResult><ItemArray>%2</ItemArray>")
                      .arg(kListings / kPerPage)
                      .arg(items)));
    }
    QHash<QString, QByteArray> items;
    for (int i = 0; i < kListings; ++i)
        items.insert(QString::number(110000000000LL + i),
                     reply(QStringLiteral("GetItem"), itemXml(i, true)));

    FakeHttpServer server;
    server.pointConfigHere();
    std::atomic<qint64> serverNs { 0 };
    server.setCallReply(QStringLiteral("GetMemberMessages"),
                        FakeReply::ok(reply(QStringLiteral("GetMemberMessages"), {})));
    Bench::serveListings(server, pages, items, serverNs);

    Api_Ebay api(QStringLiteral("TOKEN"), nullptr, 0);
    int saved = 0;
    QObject::connect(&api, &Api_Ebay::sendAdItems, [&](QList<ArticleModel *> records) {
        for (ArticleModel *record : records) {
            if (record->saveToDatabase(&db, 0) > 0)
                ++saved;
        }
        qDeleteAll(records);
    });

    QElapsedTimer timer;
    timer.start();
    const bool ok = api.getMyeBaySelling(QStringLiteral("1"), {}, QDateTime::currentDateTime());
    const qint64 totalNs = timer.nsecsElapsed() - serverNs.load();
    if (!ok || saved != kListings) {
        std::fprintf(stderr, "read failed: %s (%d saved)\n", qPrintable(api.getLastFail()), saved);
        return 1;
    }

    // The same replies parsed and mapped once more, alone: the share of reading XML.
    QElapsedTimer parse;
    parse.start();
    for (const QByteArray &page : qAsConst(pages)) {
        const XmlNode root = XmlNode::parse(page);
        for (const XmlNode &item : root.all(QStringLiteral("ItemArray/Item"))) {
            ArticleModel record;
            ItemMapping::readItem(item, record);
        }
    }
    for (const QByteArray &body : qAsConst(items)) {
        ArticleModel record;
        ItemMapping::readItem(XmlNode::parse(body).child(QStringLiteral("Item")), record);
    }
    const qint64 parseNs = parse.nsecsElapsed();

    const double seconds = totalNs / 1e9;
    std::printf("%d listings read in full and saved (%d pages, %d item reads)\n", kListings,
                kListings / kPerPage, kListings);
    std::printf("time without the fake server: %.2f s, %.0f listings/s\n", seconds,
                kListings / seconds);
    std::printf("fake server's own time taken out: %.3f s\n", serverNs.load() / 1e9);
    std::printf("parsing and mapping the replies: %.2f s, %.1f %% of the time\n", parseNs / 1e9,
                100.0 * parseNs / totalNs);
    std::printf("peak memory: %.1f MB\n", peakKilobytes() / 1024.0);
    return 0;
}
