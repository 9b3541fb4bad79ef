// Measures reading one page of GetSellerList (50 items) into the element tree, and mapping its
// items, against Qt's stream reader going through the same bytes and building nothing. Two
// pages: the synchronisation round's (each item its state), and one of items in full (a
// description, specifics, shipping, returns and six pictures each). Prints the processor
// time per page and the ratio to the bare reader, for the tree alone, with every item read in
// full, and with each item's state read (as a round reads a known listing).
// Usage: bench_xmlparse [repetitions, default 1000]
#include "bench/benchlistings.h"
#include "bench/syncround.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/xmlnode.h"

#include <QCoreApplication>
#include <QXmlStreamReader>
#include <cstdio>
#include <functional>
#include <time.h>

namespace {

qint64 cpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QString fullItem(int n)
{
    QString item
        = QStringLiteral(
              "<Item><ItemID>%1</ItemID><Title>Armbanduhr Modell %2 Edelstahl neu</Title>"
              "<Quantity>3</Quantity><WatchCount>4</WatchCount>"
              "<ListingType>FixedPriceItem</ListingType><Site>Germany</Site>"
              "<Currency>EUR</Currency><Country>DE</Country><Location>Berlin</Location>"
              "<PostalCode>10115</PostalCode><StartPrice currencyID=\"EUR\">49.9</StartPrice>"
              "<ListingDuration>GTC</ListingDuration><ListingDetails><StartTime>"
              "2026-11-01T09:00:00.000Z</StartTime><EndTime>2026-12-20T09:00:00.000Z</EndTime>"
              "</ListingDetails><SellingStatus><CurrentPrice currencyID=\"EUR\">49.9"
              "</CurrentPrice><QuantitySold>1</QuantitySold><BidCount>0</BidCount>"
              "<ListingStatus>Active</ListingStatus></SellingStatus>"
              "<Description><![CDATA[<div><h1>Modell %2</h1>%3</div>]]></Description>"
              "<PrimaryCategory><CategoryID>31387</CategoryID><CategoryName>"
              "Uhren:Armbanduhren</CategoryName></PrimaryCategory><ConditionID>1000"
              "</ConditionID><ItemSpecifics><NameValueList><Name>Marke</Name><Value>Muster"
              "</Value></NameValueList><NameValueList><Name>Farbe</Name><Value>Silber</Value>"
              "</NameValueList></ItemSpecifics><ShippingDetails><ShippingServiceOptions>"
              "<ShippingService>DE_DHLPaket</ShippingService><ShippingServiceCost "
              "currencyID=\"EUR\">4.99</ShippingServiceCost><ShippingServicePriority>1"
              "</ShippingServicePriority></ShippingServiceOptions><ShippingType>Flat"
              "</ShippingType></ShippingDetails><DispatchTimeMax>2</DispatchTimeMax>"
              "<ReturnPolicy><ReturnsAcceptedOption>ReturnsAccepted</ReturnsAcceptedOption>"
              "<ReturnsWithinOption>Days_30</ReturnsWithinOption><ShippingCostPaidByOption>"
              "Buyer</ShippingCostPaidByOption></ReturnPolicy><PictureDetails>")
              .arg(110000000000LL + n)
              .arg(n)
              .arg(QStringLiteral("<p>Eine ausführliche Beschreibung mit Maßen.</p>").repeated(10));
    for (int p = 0; p < 6; ++p)
        item += QStringLiteral(
                    "<PictureURL>https://i.ebayimg.com/images/g/%1/s-l1600.jpg</PictureURL>")
                    .arg(n * 10 + p);
    return item + QStringLiteral("</PictureDetails></Item>");
}

QByteArray page(const std::function<QString(int)> &item)
{
    QString items;
    for (int n = 0; n < 50; ++n)
        items += item(n);
    return Bench::reply(QStringLiteral("GetSellerList"),
                        QStringLiteral("<PaginationResult><TotalNumberOfPages>1010"
                                       "</TotalNumberOfPages></PaginationResult>"
                                       "<ItemArray>%1</ItemArray>")
                            .arg(items));
}

// Processor time per run of `work`, in microseconds.
double perRun(int repetitions, const std::function<void()> &work)
{
    work(); // warm up
    const qint64 start = cpuNs();
    for (int i = 0; i < repetitions; ++i)
        work();
    return (cpuNs() - start) / 1e3 / repetitions;
}

int g_sink = 0;

void readOnly(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd())
        g_sink += reader.readNext();
}

void parse(const QByteArray &xml)
{
    g_sink += XmlNode::parse(xml).isNull() ? 0 : 1;
}

void parseAndMap(const QByteArray &xml)
{
    const XmlNode root = XmlNode::parse(xml);
    for (const XmlNode &item : root.all(QStringLiteral("ItemArray/Item"))) {
        ArticleModel record;
        ItemMapping::readItem(item, record);
        g_sink += record.Quantity;
    }
}

// What a round does with a page of known listings.
void parseAndReadStates(const QByteArray &xml)
{
    const XmlNode root = XmlNode::parse(xml);
    for (const XmlNode &item : root.all(QStringLiteral("ItemArray/Item"))) {
        ArticleModel record;
        ItemMapping::readState(item, record);
        g_sink += record.Quantity;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? qMax(1, atoi(argv[1])) : 1000;
    const struct
    {
        const char *name;
        QByteArray xml;
    } pages[] = {
        { "round's page (states)",
          page([](int n) { return Bench::SyncRound::itemXml(n, false, QString()); }) },
        { "page of full items", page(fullItem) },
    };
    for (const auto &page : pages) {
        const double reader = perRun(repetitions, [&] { readOnly(page.xml); });
        const double tree = perRun(repetitions, [&] { parse(page.xml); });
        const double mapped = perRun(repetitions, [&] { parseAndMap(page.xml); });
        const double states = perRun(repetitions, [&] { parseAndReadStates(page.xml); });
        std::printf("%s, %d bytes, %d runs:\n", page.name, int(page.xml.size()), repetitions);
        std::printf("  stream reader alone:      %8.1f us\n", reader);
        std::printf("  element tree:             %8.1f us, %.2f x the reader\n", tree,
                    tree / reader);
        std::printf("  tree and items mapped:    %8.1f us, %.2f x the reader\n", mapped,
                    mapped / reader);
        std::printf("  tree and states read:     %8.1f us, %.2f x the reader\n", states,
                    states / reader);
    }
    return g_sink == 42 ? 1 : 0;
}
