#include "core/database.h"
#include "core/descriptionlimit.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/xmlnode.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QXmlStreamWriter>
#include <functional>

#include <time.h>

using ItemMapping::Listing;
using ItemMapping::Purpose;
using TestSupport::Backend;
using Texts = QMap<QString, QString>;

Q_DECLARE_METATYPE(ItemMapping::Purpose)

namespace {

enum Kind { FixedPrice, Variations, Profiles };

const char kCommercial[] = "<User><SellerInfo><SellerBusinessType>Commercial</SellerBusinessType>";

// Columns from "name=value;name=value" (values are texts, as the database gives them).
ArticleRow fields(const QString &pairs)
{
    ArticleRow row;
    for (const QString &pair : pairs.split(';', Qt::SkipEmptyParts))
        row.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return row;
}

ArticleRow variation(const QString &colour, const QString &size, const QString &rest = QString())
{
    ArticleRow row = fields(rest);
    row.insert("VariantXml",
               QString("<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>"
                       "<NameValueList><Name>Größe</Name><Value>%2</Value></NameValueList>")
                   .arg(colour, size));
    return row;
}

Listing listing(Kind kind)
{
    Listing l;
    // With program-only columns (eBayPlus, TemplateName, ImageThumb) that never go out.
    l.row = fields(
        "ItemID=110555000999;Site=77;Currency=;Title=Akkuschrauber;Description=<p>$frei_01$</p>"
        "$notes$;Free_01=Frei eins;Notes=Notiz intern;TemplateName=Vorlage A;ImageThumb=thumb.jpg;"
        "PrimaryCategory=42229;SecondaryCategory=0;EAN=3165140581384;ListingType=FixedPriceItem;"
        "StartPrice=19.99;BuyItNowPrice=25;ReservePrice=10;Quantity=10;SoldCount=3;"
        "eBayPlus=1;VAT_VATPercent=19;smallbiz=0;StoreCategoryID=5;"
        "PaymentMethods=PayPal|MoneyXferAccepted;PayPalEmailAddress=kasse@example.de;"
        "PaymentInstructions=Zahlung binnen 7 Tagen;RP_ReturnsAcceptedOption=ReturnsAccepted;"
        "DispatchTimeMax=3;ShippingService_1=DE_DHLPaket;ShippingService_1_Cost=4.99;"
        "ShippingService_1_Cost_Add=1;ShippingService_2=DE_HermesPaket;"
        "ShippingService_2_Cost=3.9;PickUpAccepted=1;PickUpAcceptedCost=0");
    l.row.insert("apiresult", kCommercial);
    l.row.insert("ItemSpecifics",
                 "<NameValueList>\n\t<Name><![CDATA[Marke]]></Name>\n\t<Value>"
                 "<![CDATA[Bosch]]></Value>\n</NameValueList>\n<NameValueList>\n"
                 "\t<Name></Name>\n\t<Value>ohne Namen</Value>\n</NameValueList>");
    l.pictureUrls = QStringList { "https://i.example/1.jpg", "https://i.example/2.jpg" };
    if (kind == Profiles)
        l.row.insert(fields("SellerPaymentProfile=111;SellerReturnProfile=222;"
                            "SellerShippingProfile=333"));
    if (kind == Variations) {
        l.variations = { variation("Rot", "S"), variation("Blau", "M"), variation("Rot", "M") };
        l.row.insert("VariantImageOption", "Farbe");
        l.variationPictureUrls
            = { { "Rot", "https://i.example/rot.jpg" }, { "Grün", "https://i.example/gruen.jpg" } };
    }
    return l;
}

XmlNode written(const Listing &l, Purpose purpose)
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.writeStartDocument();
    ItemMapping::writeItem(writer, l, purpose);
    writer.writeEndDocument();
    return XmlNode::parse(xml);
}

// Every leaf element as path -> its texts in document order, joined by "|"; amounts carry
// their currency.
Texts leaves(const XmlNode &node)
{
    QMap<QString, QStringList> lists;
    std::function<void(const XmlNode &, const QString &)> walk
        = [&](const XmlNode &parent, const QString &prefix) {
              for (const XmlNode &child : parent.children()) {
                  const QString currency = child.attribute("currencyID");
                  if (child.children().isEmpty())
                      lists[prefix + child.name()]
                          << child.text() + (currency.isEmpty() ? QString() : ' ' + currency);
                  walk(child, prefix + child.name() + '/');
              }
          };
    walk(node, QString());
    Texts out;
    for (auto it = lists.cbegin(); it != lists.cend(); ++it)
        out.insert(it.key(), it.value().join('|'));
    return out;
}

// What `texts` holds for each of the expectations "name=text", written the same way; a bare
// "name" stands for a missing entry.
QStringList found(const Texts &texts, const QStringList &expected)
{
    QStringList out;
    for (const QString &e : expected) {
        const QString name = e.section('=', 0, 0);
        out << (texts.contains(name) ? name + '=' + texts.value(name) : name);
    }
    return out;
}

// A database row as column -> text.
Texts texts(const ArticleRow &row)
{
    Texts out;
    for (auto it = row.cbegin(); it != row.cend(); ++it)
        out.insert(it.key(), it.value().toString());
    return out;
}

// A GetItem reply (DetailLevel ReturnAll, IncludeItemSpecifics, IncludeWatchCount): a running
// fixed-price listing with variations and variation pictures, services out of priority order.
const char kVariationItem[] = R"(<Item><BestOfferDetails><BestOfferEnabled>true</BestOfferEnabled>
</BestOfferDetails><Currency>EUR</Currency><ItemID>110555000111</ItemID>
<Description>&lt;p&gt;Baumwolle &amp; Elasthan&lt;/p&gt;</Description><ListingDetails>
<BestOfferAutoAcceptPrice currencyID="EUR">17.00</BestOfferAutoAcceptPrice>
<StartTime>2026-11-02T09:30:00.000Z</StartTime></ListingDetails>
<ListingType>FixedPriceItem</ListingType><PrimaryCategory><CategoryID>15687</CategoryID>
<CategoryName>Kleidung &amp; Accessoires:Herren:T-Shirts</CategoryName></PrimaryCategory>
<PrivateListing>false</PrivateListing><Quantity>12</Quantity><SellingStatus>
<QuantitySold>4</QuantitySold><ListingStatus>Active</ListingStatus></SellingStatus>
<ShippingDetails><PaymentInstructions>Abholung nach Absprache</PaymentInstructions>
<ShippingServiceOptions><ShippingService>DE_HermesPaket</ShippingService>
<ShippingServiceCost currencyID="EUR">3.90</ShippingServiceCost>
<ShippingServiceAdditionalCost currencyID="EUR">0.00</ShippingServiceAdditionalCost>
<ShippingServicePriority>2</ShippingServicePriority></ShippingServiceOptions>
<ShippingServiceOptions><ShippingService>DE_DHLPaket</ShippingService>
<ShippingServiceCost currencyID="EUR">4.99</ShippingServiceCost>
<ShippingServiceAdditionalCost currencyID="EUR">1.00</ShippingServiceAdditionalCost>
<ShippingServicePriority>1</ShippingServicePriority></ShippingServiceOptions>
<ShippingServiceOptions><ShippingService>DE_Pickup</ShippingService>
<ShippingServiceCost currencyID="EUR">0.00</ShippingServiceCost>
<ShippingServicePriority>3</ShippingServicePriority></ShippingServiceOptions>
<InternationalShippingServiceOption><ShippingService>DE_DHLPaketInternational</ShippingService>
<ShippingServiceCost currencyID="EUR">15.00</ShippingServiceCost>
<ShippingServiceAdditionalCost currencyID="EUR">5.00</ShippingServiceAdditionalCost>
<ShippingServicePriority>1</ShippingServicePriority><ShipToLocation>AT</ShipToLocation>
<ShipToLocation>CH</ShipToLocation></InternationalShippingServiceOption>
<ShippingType>Flat</ShippingType><PromotionalShippingDiscount>true</PromotionalShippingDiscount>
<ShippingDiscountProfileID>77001</ShippingDiscountProfileID>
<InternationalPromotionalShippingDiscount>false</InternationalPromotionalShippingDiscount>
</ShippingDetails><Site>Germany</Site><StartPrice currencyID="EUR">17.99</StartPrice><Storefront>
<StoreCategoryID>5</StoreCategoryID></Storefront><Title>T-Shirt "Basic" Größe S–XL</Title>
<VATDetails><VATPercent>19</VATPercent></VATDetails><WatchCount>7</WatchCount><Variations>
<Variation><SKU>TS-ROT-S</SKU><StartPrice currencyID="EUR">19.99</StartPrice><Quantity>5</Quantity>
<VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Rot</Value></NameValueList>
<NameValueList><Name>Größe</Name><Value>S</Value></NameValueList></VariationSpecifics>
<SellingStatus><QuantitySold>2</QuantitySold></SellingStatus><VariationProductListingDetails>
<EAN>4000000000017</EAN></VariationProductListingDetails></Variation><Variation>
<SKU>TS-BLAU-&amp;-M</SKU><StartPrice currencyID="EUR">17.99</StartPrice><Quantity>7</Quantity>
<VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Blau &amp; Weiß</Value></NameValueList>
<NameValueList><Name>Größe</Name><Value>M</Value></NameValueList></VariationSpecifics>
<SellingStatus><QuantitySold>2</QuantitySold></SellingStatus></Variation><Pictures>
<VariationSpecificName>Farbe</VariationSpecificName>
<VariationSpecificPictureSet><VariationSpecificValue>Rot</VariationSpecificValue>
<PictureURL>https://i.ebayimg.com/rot/$_57.JPG</PictureURL>
<PictureURL>https://i.ebayimg.com/rot2/$_57.JPG</PictureURL></VariationSpecificPictureSet>
<VariationSpecificPictureSet><VariationSpecificValue>Blau &amp; Weiß</VariationSpecificValue>
<PictureURL>https://i.ebayimg.com/blau/$_57.JPG</PictureURL></VariationSpecificPictureSet>
</Pictures><VariationSpecificsSet><NameValueList><Name>Farbe</Name><Value>Rot</Value>
<Value>Blau &amp; Weiß</Value></NameValueList><NameValueList><Name>Größe</Name><Value>S</Value>
<Value>M</Value></NameValueList></VariationSpecificsSet></Variations>
<DispatchTimeMax>3</DispatchTimeMax><ReturnPolicy><ReturnsWithinOption>Days_30</ReturnsWithinOption>
</ReturnPolicy><ItemSpecifics><NameValueList><Name>Marke</Name>
<Value>Gildan &amp; Co</Value></NameValueList><NameValueList><Name>Material</Name>
<Value>Baumwolle</Value><Value>Elasthan ]]&gt; 5%</Value></NameValueList></ItemSpecifics>
<PictureDetails><GalleryType>Gallery</GalleryType>
<PictureURL>https://i.ebayimg.com/a1/$_57.JPG</PictureURL>
<PictureURL>https://i.ebayimg.com/b2/$_57.JPG</PictureURL></PictureDetails></Item>)";

ArticleModel readFixture(const QByteArray &xml)
{
    ArticleModel record;
    ItemMapping::readItem(XmlNode::parse(xml), record);
    return record;
}

// The article as the listing calls get it: its row joined with a commercial account, its
// pictures and its variations.
Listing loadListing(Database &db, int id)
{
    Listing l;
    l.row = db.select(QString("SELECT * FROM articles WHERE id=%1").arg(id)).value().value(0);
    l.row.insert("smallbiz", 0);
    l.row.insert("apiresult", kCommercial);
    for (const auto &picture :
         db.select(QString("SELECT * FROM articles_images WHERE article_id=%1 ORDER BY sort, id")
                       .arg(id))
             .value()) {
        const QString name = picture.value("variant_name").toString();
        if (name.isEmpty())
            l.pictureUrls << picture.value("image").toString();
        else
            l.variationPictureUrls.insert(name, picture.value("image").toString());
    }
    l.variations
        = db.select(QString("SELECT * FROM articles_variations WHERE article_id=%1 ORDER BY id")
                        .arg(id))
              .value();
    return l;
}

const QList<QPair<Backend, const char *>> kBackends
    = { { Backend::SQLite, "sqlite" }, { Backend::MySQL, "mysql" } };

} // namespace

class TestItemMapping : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    // Writing
    void writing_data();
    void writing();
    void hostileTexts_data();
    void hostileTexts();
    void descriptionAsSent_data();
    void descriptionAsSent();
    // Reading and saving
    void roundTrip_data();
    void roundTrip();
    void failedSaveWritesNothing_data();
    void failedSaveWritesNothing();
    void stateAsReadInFull_data();
    void stateAsReadInFull();
};

void TestItemMapping::initTestCase()
{
    // Start and end times are kept in German local time.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestItemMapping::writing_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<Purpose>("purpose");
    QTest::addColumn<QString>("changes"); // of the article, or after "variation:" the one variation
    QTest::addColumn<QStringList>("expected"); // "path=values"; a bare path: must be missing

    // The elements of each kind of listing for each purpose.
    const QStringList byKind[] = {
        { "StartPrice=19.99 EUR", "BuyItNowPrice", "ReservePrice", "SecondaryCategory/CategoryID",
          "ItemSpecifics/NameValueList/Value=Bosch", "PaymentMethods=MoneyXferAccepted",
          "VATDetails/VATPercent=19", "SellerProfiles" },
        { "Quantity", "StartPrice", "ProductListingDetails/EAN",
          "Variations/VariationSpecificsSet/NameValueList/Name=Farbe|Größe",
          "Variations/VariationSpecificsSet/NameValueList/Value=Rot|Blau|S|M",
          "Variations/Pictures/VariationSpecificPictureSet/VariationSpecificValue=Rot",
          "Variations/Pictures/VariationSpecificPictureSet/PictureURL=https://i.example/rot.jpg" },
        { "SellerProfiles/SellerPaymentProfile/PaymentProfileID=111",
          "SellerProfiles/SellerReturnProfile/ReturnProfileID=222",
          "SellerProfiles/SellerShippingProfile/ShippingProfileID=333",
          "ReturnPolicy/ReturnsAcceptedOption", "PaymentMethods",
          "ShippingDetails/PaymentInstructions",
          "ShippingDetails/ShippingServiceOptions/ShippingService", "DispatchTimeMax" },
    };
    const char *kinds[] = { "fixed price", "variations", "profiles" };
    const QList<QPair<Purpose, const char *>> purposes
        = { { Purpose::Add, "add" }, { Purpose::Revise, "revise" }, { Purpose::Relist, "relist" } };
    for (int kind = FixedPrice; kind <= Profiles; ++kind) {
        for (const auto &[purpose, name] : purposes) {
            QStringList expected = byKind[kind];
            expected << (purpose == Purpose::Add ? "ItemID" : "ItemID=110555000999")
                     << (purpose == Purpose::Revise ? "Site" : "Site=Germany");
            QTest::addRow("%s %s", kinds[kind], name) << kind << purpose << QString() << expected;
        }
    }

    // Values derived from the article's columns.
    const auto row
        = [](const char *name, Purpose purpose, const char *changes, const QStringList &expected) {
              QTest::newRow(name) << int(QByteArray(changes).startsWith("variation:") ? Variations
                                                                                      : FixedPrice)
                                  << purpose << QString(changes) << expected;
          };
    const Purpose add = Purpose::Add;
    const QString services = "ShippingDetails/ShippingServiceOptions/ShippingService=";
    const QString costs = "ShippingDetails/ShippingServiceOptions/ShippingServiceCost=";
    const QString priorities = "ShippingDetails/ShippingServiceOptions/ShippingServicePriority=";
    const QString two = "DE_DHLPaket|DE_HermesPaket";
    row("pick-up after the services", add, "PickUpAcceptedCost=2.5",
        { services + two + "|DE_Pickup", costs + "4.99 EUR|3.90 EUR|2.50 EUR",
          priorities + "1|2|3" });
    row("no room for pick-up after four", add,
        "ShippingService_3=DE_DPDPaket;ShippingService_4=DE_GLS",
        { services + two + "|DE_DPDPaket|DE_GLS", costs + "4.99 EUR|3.90 EUR|0.00 EUR|0.00 EUR" });
    row("no pick-up on the UK site", add, "Site=3",
        { services + two, costs + "4.99 GBP|3.90 GBP" });
    row("gap closed", add, "ShippingService_1=;PickUpAccepted=0",
        { services + "DE_HermesPaket", costs + "3.90 EUR", priorities + "1" });
    row("first service free, own currency", add,
        "ShippingService_1_IsFree=1;PickUpAccepted=0;Currency=CHF",
        { costs + "0.00 CHF|3.90 CHF",
          "ShippingDetails/ShippingServiceOptions/FreeShipping=true" });

    const QString vat = "VATDetails/VATPercent";
    row("no VAT of a small business", add, "smallbiz=1", { vat });
    row("no VAT of a private seller", add,
        "apiresult=<SellerBusinessType>Private</SellerBusinessType>", { vat });
    row("no VAT without a rate", add, "VAT_VATPercent=0", { vat });

    row("every placeholder, repeated", add,
        "Description=$frei_01$,$frei_02$,$frei_03$,$frei_04$,$frei_05$,$notes$,$frei_02$;"
        "Free_01=a;Free_02=b;Free_03=c;Free_04=d;Free_05=e;Notes=",
        { "Description=a,b,c,d,e,,b" });
    row("unknown ones and those inside a filled text stay", add,
        "Description=$frei_01$ $frei_06$ $Notes$ $frei_1$;Free_01=<b>$notes$</b>",
        { "Description=&lt;b&gt;$notes$&lt;/b&gt; $frei_06$ $Notes$ $frei_1$" });
    // The seller's free texts are plain text: markup in them never becomes markup.
    row("markup in the free texts stays text", add,
        "Description=<p>$frei_01$</p><p>$notes$</p>;Free_01=<script>alert(1)</script>;"
        "Notes=<img src=x onerror=alert(1)> & \"mehr\"",
        { "Description=<p>&lt;script&gt;alert(1)&lt;/script&gt;</p><p>&lt;img src=x "
          "onerror=alert(1)&gt; &amp; &quot;mehr&quot;</p>" });
    row("free texts inside tags make no attribute", add,
        "Description=<a href=\"$frei_01$\" title='$frei_02$'>x</a><img $frei_03$>"
        "<p title=\"a>b\" class=$frei_04$>$frei_04$</p>;"
        "Free_01= Java\tScript:alert(1);Free_02=' onmouseover='alert(1);"
        "Free_03=src=x onerror=alert(1);Free_04=javascript: Das Handbuch",
        { "Description=<a href=\"unsafe:&#32;Java&#9;Script:alert(1)\" "
          "title='&#39;&#32;onmouseover&#61;&#39;alert(1)'>x</a>"
          "<img src&#61;x&#32;onerror&#61;alert(1)><p title=\"a>b\" "
          "class=unsafe:javascript:&#32;Das&#32;Handbuch>javascript: Das Handbuch</p>" });
    // A quoted value may hold '>', in either kind of quote: the place after it is still in the
    // tag.
    row("free text after a single-quoted value holding '>'", add,
        "Description=<p title='a>b' class=$frei_04$>x</p>;Free_04=x onmouseover=alert(1)",
        { "Description=<p title='a>b' class=x&#32;onmouseover&#61;alert(1)>x</p>" });
    row("line breaks of a free text", add,
        "Description=<div>$notes$</div>;Notes=Zeile 1\r\nZeile 2\nZeile 3",
        { "Description=<div>Zeile 1<br>Zeile 2<br>Zeile 3</div>" });

    row("add lists all", add, "Quantity=10;SoldCount=3", { "Quantity=10" });
    row("revise never negative", Purpose::Revise, "Quantity=3;SoldCount=5", { "Quantity=0" });
    row("relist of a sold auction", Purpose::Relist, "Quantity=1;SoldCount=1", { "Quantity=1" });
    const QString quantity = "Variations/Variation/Quantity=";
    row("variation revise", Purpose::Revise, "variation:Quantity=5;QuantitySold=2",
        { quantity + "3" });
    row("variation relist sold out", Purpose::Relist, "variation:Quantity=4;QuantitySold=4",
        { quantity + "0" });
    row("auction prices", add, "ListingType=Chinese",
        { "BuyItNowPrice=25.00 EUR", "ReservePrice=10.00 EUR" });
}

void TestItemMapping::writing()
{
    QFETCH(int, kind);
    QFETCH(Purpose, purpose);
    QFETCH(QString, changes);
    QFETCH(QStringList, expected);
    Listing l = listing(Kind(kind));
    if (changes.startsWith("variation:"))
        l.variations = { variation("Rot", "S", changes.section(':', 1)) };
    else
        l.row.insert(fields(changes));
    const Texts all = leaves(written(l, purpose));
    QCOMPARE(found(all, expected), expected);
    // Program-only columns and removed fields stay out; the free texts only in the description.
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        const QString text = it.key() + '=' + it.value();
        for (const char *never : { "eBayPlus", "PayPal", "Vorlage A", "thumb.jpg" })
            QVERIFY2(!text.contains(never), qPrintable(text));
        if (it.key() != "Description")
            QVERIFY2(!text.contains("Frei eins") && !text.contains("Notiz"), qPrintable(text));
    }
}

void TestItemMapping::hostileTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    for (const char *same : { "Er sagte \"Hallo\" & <b>'fett'</b> &amp;", "a]]>b ]]]]> <![CDATA[",
                              "Geschenk 🎁 für Oma 👍🏽", "a\tb\nc\rd\r\n" })
        QTest::newRow(same) << QString(same) << QString(same);
    QTest::newRow("control characters")
        << QString("A") + QChar(0x01) + "B" + QChar(0x0b) + "C" + QChar(0x1f) + "D" + QChar(0x08)
        << "ABCD";
    QTest::newRow("lone surrogates") << QString("x") + QChar(0xD800) + "y" + QChar(0xDC00) << "xy";
    QTest::newRow("non-characters") << QString("p") + QChar(0xFFFE) + QChar(0xFFFF) + "q"
                                    << "pq";
}

// Texts go out well-formed and come back as they were, less what XML can't hold.
void TestItemMapping::hostileTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    // Specifics come into the article from a reply, whose text is already clean.
    const QString escaped = expected.toHtmlEscaped().replace('\r', "&#13;");
    const QString specifics = QString("<NameValueList><Name>%1</Name><Value>%1</Value>"
                                      "</NameValueList>");
    const ArticleModel read = readFixture(
        ("<Item><ItemSpecifics>" + specifics.arg(escaped) + "</ItemSpecifics></Item>").toUtf8());
    Listing l = listing(Variations);
    l.row.insert("Title", text);
    l.row.insert("Description", text);
    l.row.insert("ItemSpecifics", read.columns.value("ItemSpecifics"));
    l.variations = { { { "SKU", text }, { "VariantXml", specifics.arg(text) } } };
    const XmlNode item = written(l, Purpose::Add);
    QVERIFY(!item.isNull());
    for (const char *path : { "Title", "Description", "ItemSpecifics/NameValueList/Name",
                              "ItemSpecifics/NameValueList/Value", "Variations/Variation/SKU",
                              "Variations/Variation/VariationSpecifics/NameValueList/Name",
                              "Variations/Variation/VariationSpecifics/NameValueList/Value",
                              "Variations/VariationSpecificsSet/NameValueList/Value" })
        QVERIFY2(item.value(path) == expected, path);
}

void TestItemMapping::descriptionAsSent_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("free"); // the text of $frei_01$
    QTest::addColumn<QString>("refusal"); // empty: sent as filled
    const int limit = DescriptionLimit::kMaxChars;
    const QString filled = DescriptionLimit::filledRefusal();
    const QString pad(limit - 20, 'x');
    QTest::newRow("at the limit once filled") << pad + "$frei_01$" << QString(20, 'f') << QString();
    QTest::newRow("one over once filled") << pad + "$frei_01$" << QString(21, 'f') << filled;
    // What is sent counts: the text as it goes into the HTML.
    QTest::newRow("references count, at the limit")
        << pad.left(limit - 40) + "<p class=$frei_01$>" << QString(6, '=') << QString();
    QTest::newRow("references count, one over")
        << pad.left(limit - 40) + "<p class=$frei_01$>" << QString(7, '=') << filled;
    QTest::newRow("line breaks count as <br>") << pad + "$frei_01$" << QString(10, '\n') << filled;
    QTest::newRow("the text after the last placeholder counts")
        << "$frei_01$" + pad << QString(21, 'f') << filled;
    QTest::newRow("over as stored") << QString(limit + 1, 'x') << QString()
                                    << DescriptionLimit::refusal(QString(limit + 1, 'x'));
}

// The marketplace's limit is on the description as it is sent, with its placeholders filled.
void TestItemMapping::descriptionAsSent()
{
    QFETCH(QString, description);
    QFETCH(QString, free);
    QFETCH(QString, refusal);
    Listing l = listing(FixedPrice);
    l.row.insert("Description", description);
    l.row.insert("Free_01", free);
    QCOMPARE(ItemMapping::descriptionRefusal(l.row), refusal);
    bool fits = false;
    const QString sent = ItemMapping::sentDescription(l.row, &fits);
    QCOMPARE(fits, refusal.isEmpty());
    QVERIFY2(sent.size() <= DescriptionLimit::kMaxChars + 16,
             qPrintable(QString::number(sent.size())));
    if (fits) {
        QCOMPARE(sent.size(), DescriptionLimit::kMaxChars);
        QCOMPARE(leaves(written(l, Purpose::Add)).value("Description"), sent);
    }
}

void TestItemMapping::roundTrip_data()
{
    QTest::addColumn<Backend>("backend");
    for (const auto &[backend, name] : kBackends)
        QTest::newRow(name) << backend;
}

// Read, saved, loaded and revised, a listing gives back what it was read from, but for what
// GetItem reports and a revision doesn't send: state, names for display, the site. That
// also shows its pictures and variations were saved.
void TestItemMapping::roundTrip()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database &db = *data.db();

    const XmlNode original = XmlNode::parse(kVariationItem);
    ArticleModel record;
    ItemMapping::readItem(original, record);
    record.Account = 3;
    record.QuestionCount = 1;
    const int id = record.saveToDatabase(&db, 0);
    QVERIFY(id > 0);
    // Columns a revision doesn't send back; item specifics in CDATA sections, split where
    // the text holds their end mark.
    const QStringList article
        = { "Account=3",
            "QuestionCount=1",
            "Folder=-9",
            "CurrentPrice=17.99",
            "Quantity=12",
            "SoldCount=4",
            "WatchCount=7",
            "Site=77",
            "StartDate=2026-11-02 10:30:00",
            "PrimaryCategoryText=Kleidung & Accessoires:Herren:T-Shirts",
            "HasVariation=1",
            "HasVariationMinPrice=17.99",
            "PickUpAccepted=1",
            "ShippingService_3=",
            "ItemSpecifics=<NameValueList>\n\t<Name><![CDATA[Marke]]></Name>\n\t"
            "<Value><![CDATA[Gildan & Co]]></Value>\n</NameValueList>\n"
            "<NameValueList>\n\t<Name><![CDATA[Material]]></Name>\n\t<Value>"
            "<![CDATA[Baumwolle]]></Value>\n\t<Value><![CDATA[Elasthan ]]]]>"
            "<![CDATA[> 5%]]></Value>\n</NameValueList>\n" };
    QCOMPARE(
        found(
            texts(
                db.select(QString("SELECT * FROM articles WHERE id=%1").arg(id)).value().value(0)),
            article),
        article);

    const XmlNode revised = written(loadListing(db, id), Purpose::Revise);
    // Quantities go out without the sold ones, which the marketplace adds again (this also
    // needs both saved).
    const auto onOffer = [](const XmlNode &node) {
        QStringList out;
        for (const XmlNode &offer : node.all("Variations/Variation"))
            out << QString::number(offer.value("Quantity").toInt()
                                   - offer.value("SellingStatus/QuantitySold").toInt());
        return out;
    };
    QCOMPARE(onOffer(revised), onOffer(original));
    // Shipping services by priority.
    const auto services = [](const XmlNode &node) {
        QMap<int, QString> byPriority;
        for (const XmlNode &option : node.all("ShippingDetails/ShippingServiceOptions"))
            byPriority.insert(option.value("ShippingServicePriority").toInt(),
                              QStringList(leaves(option).values()).join(';'));
        return byPriority.values();
    };
    QCOMPARE(services(revised), services(original));
    // Of a variation value's pictures only the first goes out.
    const auto firstPictures = [](const XmlNode &node) {
        QStringList out;
        for (const XmlNode &set : node.all("Variations/Pictures/VariationSpecificPictureSet"))
            out << set.value("VariationSpecificValue") + ' ' + set.value("PictureURL");
        return out;
    };
    QCOMPARE(firstPictures(revised), firstPictures(original));

    // The rest alike, but for what a revision doesn't send; the variations carry the prices.
    const QStringList notSent
        = QString("Quantity Variations/Variation/Quantity SellingStatus "
                  "Variations/Variation/SellingStatus "
                  "ShippingDetails/ShippingServiceOptions "
                  "Variations/Pictures/VariationSpecificPictureSet/PictureURL "
                  "Site ListingDetails/StartTime WatchCount StartPrice "
                  "PrimaryCategory/CategoryName")
              .split(' ');
    const auto compared = [&](Texts all) {
        for (const QString &path : all.keys()) {
            for (const QString &skip : notSent) {
                if (path == skip || path.startsWith(skip + '/'))
                    all.remove(path);
            }
        }
        return all;
    };
    const Texts wanted = compared(leaves(original)), actual = compared(leaves(revised));
    for (const QString &path : wanted.keys() + actual.keys())
        QVERIFY2(
            actual.value(path) == wanted.value(path),
            qPrintable(path + ": " + actual.value(path) + " instead of " + wanted.value(path)));
}

void TestItemMapping::failedSaveWritesNothing_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<QString>("variant");
    for (const auto &[backend, name] : kBackends) {
        for (const char *variant : { "variation rows fail", "not a new article" })
            QTest::addRow("%s %s", name, variant) << backend << QString(variant);
    }
    // SQLite starts no second transaction: what was written is removed again instead.
    QTest::newRow("sqlite variation rows fail in a running transaction")
        << Backend::SQLite << "variation rows fail in a running transaction";
}

void TestItemMapping::failedSaveWritesNothing()
{
    QFETCH(Backend, backend);
    QFETCH(QString, variant);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    ArticleModel record = readFixture(kVariationItem);
    const bool variationsFail = variant.startsWith("variation rows fail");
    if (variationsFail)
        QVERIFY(data.db()->executeSQL("DROP TABLE articles_variations"));
    if (variant.endsWith("running transaction"))
        QVERIFY(data.db()->connection().transaction());

    QCOMPARE(record.saveToDatabase(data.db(), variant == "not a new article" ? 5 : 0), 0);
    for (const QString table : { "articles", "articles_images", "articles_variations" }) {
        if (!variationsFail || table != "articles_variations")
            QCOMPARE(data.db()->selectOne("SELECT COUNT(*) FROM " + table).value(), QString("0"));
    }
}

APP_TEST_GUILESS_MAIN(TestItemMapping)

// A known listing's state, read alone, is what the full read gives it: the first element of a
// name counts, numbers are trimmed, the title and the listing type are taken as they are.
void TestItemMapping::stateAsReadInFull_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("state"); // what both give, as printed by the test
    const auto item = [](const char *inner) { return "<Item>" + QByteArray(inner) + "</Item>"; };
    QTest::newRow("variations and their pictures") << QByteArray(kVariationItem)
        << "110555000111|T-Shirt \"Basic\" Größe S–XL|12/4/0/7|-9|17.99|https://i.ebayimg.com/a1/"
           "$_57.JPG https://i.ebayimg.com/b2/$_57.JPG|Blau & Weiß=https://i.ebayimg.com/blau/$_57"
           ".JPG Rot=https://i.ebayimg.com/rot/$_57.JPG";
    QTest::newRow("auction sold out") << item(
        "<ItemID> 7 </ItemID><Title> Uhr </Title><ListingType>Chinese</ListingType><Quantity>1"
        "</Quantity><StartPrice>1.00</StartPrice><SellingStatus><CurrentPrice> 12.50 "
        "</CurrentPrice><QuantitySold>1</QuantitySold><BidCount> 3 </BidCount><ListingStatus>"
        "Completed</ListingStatus></SellingStatus>")
        << "7| Uhr |1/1/3/0|-7|12.5||";
    QTest::newRow("ended with quantity left, listing type as it is") << item(
        "<ItemID>8</ItemID><ListingType> Chinese</ListingType><Quantity>3</Quantity><StartPrice>"
        "4</StartPrice><SellingStatus><CurrentPrice>2</CurrentPrice><QuantitySold>1"
        "</QuantitySold><ListingStatus>Ended</ListingStatus></SellingStatus>")
        << "8||3/1/0/0|-8|4||";
    QTest::newRow("lowest variation price without a start price") << item(
        "<ItemID>9</ItemID><SellingStatus><CurrentPrice>30</CurrentPrice></SellingStatus>"
        "<Variations><Variation><StartPrice>19.99</StartPrice></Variation><Pictures/><Variation>"
        "<StartPrice> 17.5 </StartPrice></Variation><Variation><StartPrice>18</StartPrice>"
        "</Variation></Variations>")
        << "9||0/0/0/0|-9|17.5||";
    QTest::newRow("zero start price, first variation the lowest") << item(
        "<ItemID>10</ItemID><StartPrice>0.00</StartPrice><Variations><Variation><StartPrice>5"
        "</StartPrice></Variation><Variation><StartPrice>6</StartPrice></Variation></Variations>")
        << "10||0/0/0/0|-9|5||";
    QTest::newRow("no price but the current one") << item(
        "<ItemID>11</ItemID><Variations/><SellingStatus><CurrentPrice>8.25</CurrentPrice>"
        "</SellingStatus>")
        << "11||0/0/0/0|-9|8.25||";
    QTest::newRow("the first of doubled elements") << item(
        "<ItemID>12</ItemID><ItemID>13</ItemID><WatchCount>2</WatchCount><WatchCount>5"
        "</WatchCount><SellingStatus><QuantitySold>1</QuantitySold></SellingStatus><SellingStatus>"
        "<ListingStatus>Completed</ListingStatus><BidCount>4</BidCount></SellingStatus>"
        "<PictureDetails><PictureURL> a </PictureURL><PictureURL>b</PictureURL></PictureDetails>"
        "<PictureDetails><PictureURL>c</PictureURL></PictureDetails><Variations><Variation>"
        "<StartPrice>3</StartPrice></Variation><Pictures>"
        "<VariationSpecificPictureSet><VariationSpecificValue> Rot </VariationSpecificValue>"
        "<PictureURL> r1 </PictureURL><PictureURL>r2</PictureURL></VariationSpecificPictureSet>"
        "<VariationSpecificPictureSet><VariationSpecificValue>Leer</VariationSpecificValue>"
        "<PictureURL> </PictureURL></VariationSpecificPictureSet></Pictures><Pictures>"
        "<VariationSpecificPictureSet><VariationSpecificValue>Blau</VariationSpecificValue>"
        "<PictureURL>b1</PictureURL></VariationSpecificPictureSet></Pictures></Variations>")
        << "12||0/1/0/2|-9|3|a b| Rot =r1";
    QTest::newRow("variation pictures without a variation") << item(
        "<ItemID>14</ItemID><Variations><Pictures><VariationSpecificPictureSet>"
        "<VariationSpecificValue>Rot</VariationSpecificValue><PictureURL>r</PictureURL>"
        "</VariationSpecificPictureSet></Pictures></Variations>")
        << "14||0/0/0/0|-9|0||";
    QTest::newRow("nothing but the element") << QByteArray("<Item/>") << "||0/0/0/0|-9|0||";
}

void TestItemMapping::stateAsReadInFull()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, state);
    const auto printed = [](const ArticleModel &r) {
        QStringList pictures;
        for (auto it = r.VariantPictureURLs.cbegin(); it != r.VariantPictureURLs.cend(); ++it)
            pictures << it.key() + '=' + it.value();
        return QStringList({ r.ItemID, r.Title,
                             QString("%1/%2/%3/%4")
                                 .arg(r.Quantity)
                                 .arg(r.SoldCount)
                                 .arg(r.BidCount)
                                 .arg(r.WatchCount),
                             QString::number(r.Folder), QString::number(r.CurrentPrice),
                             r.PictureURLs.join(' '), pictures.join(' ') })
            .join('|');
    };
    const XmlNode item = XmlNode::parse(xml);
    QVERIFY(!item.isNull());
    ArticleModel full;
    ItemMapping::readItem(item, full);
    QCOMPARE(printed(full), state);
    ArticleModel known;
    ItemMapping::readState(item, known);
    QCOMPARE(printed(known), state);
    QVERIFY(known.columns.isEmpty() && known.variations.isEmpty());
}

#include "test_itemmapping.moc"
