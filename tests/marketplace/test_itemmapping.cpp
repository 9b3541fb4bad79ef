#include "core/database.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/xmlnode.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QSqlRecord>
#include <QXmlStreamWriter>

#include <time.h>

using ItemMapping::Listing;
using ItemMapping::Purpose;
using TestSupport::Backend;
using Leaves = QMap<QString, QStringList>;

Q_DECLARE_METATYPE(ItemMapping::Purpose)

namespace {

enum Kind { FixedPrice, Auction, Variations, Profiles };

const char kCommercial[] = "<User><SellerInfo><SellerBusinessType>Commercial</SellerBusinessType>";

// Columns from "name=value;name=value" (values are texts, as the database gives them).
ArticleRow fields(const QString &pairs)
{
    ArticleRow row;
    for (const QString &pair : pairs.split(';', Qt::SkipEmptyParts))
        row.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return row;
}

ArticleRow &operator<<(ArticleRow &row, const ArticleRow &changes)
{
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        row.insert(it.key(), it.value());
    return row;
}

QString variant(const QString &colour, const QString &size)
{
    return QString("<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>"
                   "<NameValueList><Name>Größe</Name><Value>%2</Value></NameValueList>")
        .arg(colour, size);
}

ArticleRow variation(const QString &colour, const QString &size, const QString &rest)
{
    ArticleRow row = fields(QString("SKU=V-%1-%2;").arg(colour.toUpper(), size) + rest);
    row.insert("VariantXml", variant(colour, size));
    return row;
}

Listing listing(Kind kind)
{
    Listing l;
    l.row = fields(
        "ItemID=110555000999;Site=77;Currency=;Country=DE;Location=Köln;PostalCode=50667;"
        "Title=Akkuschrauber;Description=<p>$frei_01$</p>$notes$;Free_01=Frei eins;"
        "Notes=Notiz intern;TemplateName=Vorlage A;ImageThumb=thumb.jpg;PrimaryCategory=42229;"
        "SecondaryCategory=0;ConditionID=1000;EAN=3165140581384;GalleryType=Gallery;"
        "ListingType=FixedPriceItem;ListingDuration=GTC;StartPrice=19.99;BuyItNowPrice=25;"
        "ReservePrice=10;Quantity=10;SoldCount=3;LotSize=1;SKU=AS-12;BestOfferEnabled=1;"
        "BestOfferAutoAcceptPrice=17;eBayPlus=1;VAT_VATPercent=19;smallbiz=0;StoreCategoryID=5;"
        "StoreCategory2ID=0;PaymentMethods=PayPal|MoneyXferAccepted;"
        "PayPalEmailAddress=kasse@example.de;PaymentInstructions=Zahlung binnen 7 Tagen;"
        "RP_ReturnsAcceptedOption=ReturnsAccepted;RP_ReturnsWithinOption=Days_30;"
        "DispatchTimeMax=3;ShippingService_1=DE_DHLPaket;ShippingService_1_Cost=4.99;"
        "ShippingService_1_Cost_Add=1;ShippingService_2=DE_HermesPaket;"
        "ShippingService_2_Cost=3.9;PickUpAccepted=1;PickUpAcceptedCost=0;"
        "ShippingServiceInt_1=DE_DHLPaketInternational;ShippingServiceInt_1_Cost=15;"
        "ShippingServiceInt_1_Loc=AT,CH;PromotionalShippingDiscount=1;"
        "ShippingDiscountProfileID=77001");
    l.row.insert("apiresult", kCommercial);
    l.row.insert("ItemSpecifics",
                 "<NameValueList>\n\t<Name><![CDATA[Marke]]></Name>\n\t<Value>"
                 "<![CDATA[Bosch]]></Value>\n</NameValueList>\n<NameValueList>\n"
                 "\t<Name></Name>\n\t<Value>ohne Namen</Value>\n</NameValueList>");
    l.pictureUrls = QStringList { "https://i.example/1.jpg", "https://i.example/2.jpg" };
    if (kind == Auction)
        l.row << fields("ListingType=Chinese;ListingDuration=Days_7;BuyItNowPrice=49.5;"
                        "ReservePrice=30;Quantity=1;SoldCount=0");
    if (kind == Profiles)
        l.row << fields("SellerPaymentProfile=111;SellerReturnProfile=222;"
                        "SellerShippingProfile=333");
    if (kind == Variations) {
        l.variations = { variation("Rot", "S", "StartPrice=19.99;Quantity=5;EAN=4000000000017"),
                         variation("Blau", "M", "StartPrice=21.5;Quantity=4;EAN=4000000000024"),
                         variation("Rot", "M", "StartPrice=21.5;Quantity=0;EAN=4000000000031") };
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

// Every leaf element as path -> its values in document order; amounts carry their currency.
Leaves leaves(const XmlNode &node, const QString &prefix = QString())
{
    Leaves out;
    for (const XmlNode &child : node.children()) {
        const QString path = prefix.isEmpty() ? child.name() : prefix + '/' + child.name();
        const QString currency = child.attribute("currencyID");
        if (child.children().isEmpty())
            out[path] << child.text() + (currency.isEmpty() ? QString() : ' ' + currency);
        const Leaves inner = leaves(child, path);
        for (auto it = inner.cbegin(); it != inner.cend(); ++it)
            out[it.key()] << it.value();
    }
    return out;
}

// The values at `path` joined by "|"; null when there is no such element.
QString leaf(const Listing &l, Purpose purpose, const QString &path)
{
    const Leaves all = leaves(written(l, purpose));
    return all.contains(path) ? all.value(path).join('|') : QString();
}

// GetItem replies (DetailLevel ReturnAll, IncludeItemSpecifics, IncludeWatchCount). A running
// fixed-price listing with variations and variation pictures:
const char kVariationItem[] = R"(<Item><BestOfferDetails><BestOfferEnabled>true</BestOfferEnabled>
</BestOfferDetails><Country>DE</Country><Currency>EUR</Currency>
<Description>&lt;p&gt;Baumwolle &amp; Elasthan&lt;/p&gt;</Description><ItemID>110555000111</ItemID>
<ListingDetails><BestOfferAutoAcceptPrice currencyID="EUR">17.00</BestOfferAutoAcceptPrice>
<MinimumBestOfferPrice currencyID="EUR">15.00</MinimumBestOfferPrice>
<StartTime>2026-11-02T09:30:00.000Z</StartTime><EndTime>2026-12-02T09:30:00.000Z</EndTime>
</ListingDetails><ListingDuration>GTC</ListingDuration><ListingType>FixedPriceItem</ListingType>
<Location>Köln</Location><PrimaryCategory><CategoryID>15687</CategoryID>
<CategoryName>Kleidung &amp; Accessoires:Herren:T-Shirts</CategoryName></PrimaryCategory>
<PrivateListing>false</PrivateListing><Quantity>12</Quantity><SellingStatus><BidCount>0</BidCount>
<CurrentPrice currencyID="EUR">17.99</CurrentPrice><QuantitySold>4</QuantitySold>
<ListingStatus>Active</ListingStatus></SellingStatus><ShippingDetails>
<PaymentInstructions>Abholung nach Absprache</PaymentInstructions><ShippingServiceOptions>
<ShippingService>DE_HermesPaket</ShippingService>
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
<SKU>TS-BLAU-&amp;-M</SKU><StartPrice currencyID="EUR">19.99</StartPrice><Quantity>4</Quantity>
<VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Blau &amp; Weiß</Value></NameValueList>
<NameValueList><Name>Größe</Name><Value>M</Value></NameValueList></VariationSpecifics>
<SellingStatus><QuantitySold>2</QuantitySold></SellingStatus><VariationProductListingDetails>
<EAN>4000000000024</EAN></VariationProductListingDetails></Variation><Variation><SKU>TS-ROT-M</SKU>
<StartPrice currencyID="EUR">17.99</StartPrice><Quantity>3</Quantity><VariationSpecifics>
<NameValueList><Name>Farbe</Name><Value>Rot</Value></NameValueList><NameValueList>
<Name>Größe</Name><Value>M</Value></NameValueList></VariationSpecifics><SellingStatus>
<QuantitySold>0</QuantitySold></SellingStatus><VariationProductListingDetails>
<EAN>4000000000031</EAN></VariationProductListingDetails></Variation><Pictures>
<VariationSpecificName>Farbe</VariationSpecificName><VariationSpecificPictureSet>
<VariationSpecificValue>Rot</VariationSpecificValue>
<PictureURL>https://i.ebayimg.com/rot/$_57.JPG</PictureURL>
<PictureURL>https://i.ebayimg.com/rot2/$_57.JPG</PictureURL></VariationSpecificPictureSet>
<VariationSpecificPictureSet><VariationSpecificValue>Blau &amp; Weiß</VariationSpecificValue>
<PictureURL>https://i.ebayimg.com/blau/$_57.JPG</PictureURL></VariationSpecificPictureSet>
</Pictures><VariationSpecificsSet><NameValueList><Name>Farbe</Name><Value>Rot</Value>
<Value>Blau &amp; Weiß</Value></NameValueList><NameValueList><Name>Größe</Name><Value>S</Value>
<Value>M</Value></NameValueList></VariationSpecificsSet></Variations>
<DispatchTimeMax>3</DispatchTimeMax><ReturnPolicy>
<ReturnsWithinOption>Days_30</ReturnsWithinOption>
<ReturnsAcceptedOption>ReturnsAccepted</ReturnsAcceptedOption>
<ShippingCostPaidByOption>Buyer</ShippingCostPaidByOption></ReturnPolicy>
<ConditionID>1000</ConditionID><ItemSpecifics><NameValueList><Name>Marke</Name>
<Value>Gildan &amp; Co</Value></NameValueList><NameValueList><Name>Material</Name>
<Value>Baumwolle</Value><Value>Elasthan ]]&gt; 5%</Value></NameValueList></ItemSpecifics>
<PictureDetails><GalleryType>Gallery</GalleryType><PhotoDisplay>PicturePack</PhotoDisplay>
<PictureURL>https://i.ebayimg.com/a1/$_57.JPG</PictureURL>
<PictureURL>https://i.ebayimg.com/b2/$_57.JPG</PictureURL></PictureDetails>
<PostalCode>50667</PostalCode><SKU>TS-BASIC</SKU></Item>)";

// An auction that ended without a buyer.
const char kAuctionItem[] = R"(<Item><ApplicationData>lager-7</ApplicationData><BestOfferDetails>
<BestOfferEnabled>false</BestOfferEnabled></BestOfferDetails>
<BuyItNowPrice currencyID="EUR">89.00</BuyItNowPrice><Country>DE</Country><Currency>EUR</Currency>
<Description>Gebraucht, &lt;b&gt;funktioniert&lt;/b&gt;</Description><ItemID>110555000222</ItemID>
<ListingDetails><StartTime>2026-07-01T10:00:00.000Z</StartTime>
<EndTime>2026-07-08T10:00:00.000Z</EndTime></ListingDetails>
<ListingDuration>Days_7</ListingDuration><ListingType>Chinese</ListingType>
<Location>Köln</Location><LotSize>2</LotSize><PrimaryCategory><CategoryID>42229</CategoryID>
<CategoryName>Akkuschrauber</CategoryName></PrimaryCategory><SecondaryCategory>
<CategoryID>3247</CategoryID><CategoryName>Sonstige</CategoryName></SecondaryCategory>
<PrivateListing>true</PrivateListing><ProductListingDetails><EAN>3165140581384</EAN>
</ProductListingDetails><Quantity>1</Quantity><ReservePrice currencyID="EUR">40.00</ReservePrice>
<SellingStatus><BidCount>0</BidCount><CurrentPrice currencyID="EUR">1.00</CurrentPrice>
<QuantitySold>0</QuantitySold><ListingStatus>Completed</ListingStatus></SellingStatus>
<ShippingDetails><ShippingServiceOptions><ShippingService>DE_DHLPaket</ShippingService>
<ShippingServiceCost currencyID="EUR">0.00</ShippingServiceCost>
<ShippingServiceAdditionalCost currencyID="EUR">0.00</ShippingServiceAdditionalCost>
<ShippingServicePriority>1</ShippingServicePriority><FreeShipping>true</FreeShipping>
</ShippingServiceOptions><ShippingType>Flat</ShippingType>
<PromotionalShippingDiscount>false</PromotionalShippingDiscount>
<InternationalPromotionalShippingDiscount>false</InternationalPromotionalShippingDiscount>
</ShippingDetails><Site>Germany</Site><StartPrice currencyID="EUR">1.00</StartPrice>
<SubTitle>Mit 2 Akkus</SubTitle><Title>Bosch Akkuschrauber &lt;GSR 12V&gt; &amp; Koffer</Title>
<WatchCount>2</WatchCount><DispatchTimeMax>2</DispatchTimeMax><ReturnPolicy>
<ReturnsAcceptedOption>ReturnsNotAccepted</ReturnsAcceptedOption></ReturnPolicy>
<ConditionID>3000</ConditionID><ConditionDescription>Leichte Gebrauchsspuren</ConditionDescription>
<PictureDetails><PictureURL>https://i.ebayimg.com/c3/$_57.JPG</PictureURL></PictureDetails></Item>)";

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
    l.row = db.select(QString("SELECT * FROM articles WHERE id=%1").arg(id)).value(0);
    l.row << fields("smallbiz=0");
    l.row.insert("apiresult", kCommercial);
    for (const auto &picture :
         db.select(QString("SELECT * FROM articles_images WHERE article_id=%1 ORDER BY sort, id")
                       .arg(id))) {
        const QString name = picture.value("variant_name").toString();
        if (name.isEmpty())
            l.pictureUrls << picture.value("image").toString();
        else
            l.variationPictureUrls.insert(name, picture.value("image").toString());
    }
    l.variations = db.select(
        QString("SELECT * FROM articles_variations WHERE article_id=%1 ORDER BY id").arg(id));
    return l;
}

int rows(Database &db, const QString &table)
{
    return db.selectOne("SELECT COUNT(*) FROM " + table).toInt();
}

void addBackendRows(const QStringList &cases = { QString() })
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<QString>("variant");
    for (const QString &c : cases) {
        QTest::addRow("sqlite %s", qPrintable(c)) << Backend::SQLite << c;
        QTest::addRow("mysql %s", qPrintable(c)) << Backend::MySQL << c;
    }
}

} // namespace

class TestItemMapping : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    // Writing
    void elements_data();
    void elements();
    void neverSent();
    void shippingServices_data();
    void shippingServices();
    void vatOnlyForCommercialSellers_data();
    void vatOnlyForCommercialSellers();
    void descriptionPlaceholders_data();
    void descriptionPlaceholders();
    void quantities_data();
    void quantities();
    void hostileTexts_data();
    void hostileTexts();
    // Reading
    void readsMembers();
    void readsColumns_data();
    void readsColumns();
    void folders_data();
    void folders();
    // Saving
    void roundTrip_data();
    void roundTrip();
    void savesRows_data() { addBackendRows(); }
    void savesRows();
    void failedSaveWritesNothing_data();
    void failedSaveWritesNothing();
};

void TestItemMapping::initTestCase()
{
    // Start and end times are kept in German local time.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestItemMapping::elements_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<Purpose>("purpose");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected"); // null: the element must be missing
    const auto row = [](const char *name, Kind kind, Purpose purpose, const char *path,
                        const QString &expected = QString()) {
        QTest::newRow(name) << int(kind) << purpose << QString(path) << expected;
    };
    const Purpose add = Purpose::Add;
    row("no ItemID on add", FixedPrice, add, "ItemID");
    row("ItemID on revise", FixedPrice, Purpose::Revise, "ItemID", "110555000999");
    row("site name", FixedPrice, Purpose::Relist, "Site", "Germany");
    row("no site on revise", FixedPrice, Purpose::Revise, "Site");
    row("no buy-it-now on fixed price", FixedPrice, add, "BuyItNowPrice");
    row("no reserve on fixed price", FixedPrice, add, "ReservePrice");
    row("secondary category 0 left out", FixedPrice, add, "SecondaryCategory/CategoryID");
    row("nameless specifics skipped", FixedPrice, add, "ItemSpecifics/NameValueList/Value",
        "Bosch");
    row("offline payment only", FixedPrice, add, "PaymentMethods", "MoneyXferAccepted");
    row("empty return option left out", FixedPrice, add, "ReturnPolicy/ShippingCostPaidByOption");
    row("shop category 0 left out", FixedPrice, add, "Storefront/StoreCategory2ID");
    row("no minimum offer of 0", FixedPrice, add, "ListingDetails/MinimumBestOfferPrice");
    row("lot size 1 left out", FixedPrice, add, "LotSize");
    row("auction buy-it-now", Auction, add, "BuyItNowPrice", "49.50 EUR");
    row("auction reserve", Auction, add, "ReservePrice", "30.00 EUR");
    row("no item quantity with variations", Variations, add, "Quantity");
    row("no item price with variations", Variations, add, "StartPrice");
    row("identifiers only in the variations", Variations, add, "ProductListingDetails/EAN");
    row("option values once, first seen first", Variations, add,
        "Variations/VariationSpecificsSet/NameValueList/Value", "Rot|Blau|S|M");
    row("pictures of listed values only", Variations, add,
        "Variations/Pictures/VariationSpecificPictureSet/VariationSpecificValue", "Rot");
    row("payment profile", Profiles, add, "SellerProfiles/SellerPaymentProfile/PaymentProfileID",
        "111");
    row("return profile", Profiles, add, "SellerProfiles/SellerReturnProfile/ReturnProfileID",
        "222");
    row("shipping profile", Profiles, add, "SellerProfiles/SellerShippingProfile/ShippingProfileID",
        "333");
    row("no returns beside the profile", Profiles, add, "ReturnPolicy/ReturnsAcceptedOption");
    row("no payment beside the profile", Profiles, add, "PaymentMethods");
    row("no instructions beside the profile", Profiles, add, "ShippingDetails/PaymentInstructions");
    row("no services beside the profile", Profiles, add,
        "ShippingDetails/ShippingServiceOptions/ShippingService");
    row("no dispatch time beside the profile", Profiles, add, "DispatchTimeMax");
}

void TestItemMapping::elements()
{
    QFETCH(int, kind);
    QFETCH(Purpose, purpose);
    QFETCH(QString, path);
    QTEST(leaf(listing(Kind(kind)), purpose, path), "expected");
}

// Program-only columns and removed fields stay out; the free texts only in the description.
void TestItemMapping::neverSent()
{
    for (Kind kind : { FixedPrice, Auction, Variations, Profiles }) {
        for (Purpose purpose : { Purpose::Add, Purpose::Revise, Purpose::Relist }) {
            const Leaves all = leaves(written(listing(kind), purpose));
            QVERIFY(all.contains("Title"));
            for (auto it = all.cbegin(); it != all.cend(); ++it) {
                const QString text = it.key() + '=' + it.value().join('|');
                for (const char *never : { "eBayPlus", "PayPal", "Vorlage A", "thumb.jpg" })
                    QVERIFY2(!text.contains(never), qPrintable(text));
                if (it.key() != "Description")
                    QVERIFY2(!text.contains("Frei eins") && !text.contains("Notiz"),
                             qPrintable(text));
            }
        }
    }
}

void TestItemMapping::shippingServices_data()
{
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("services");
    QTest::addColumn<QString>("costs");
    QTest::addColumn<QString>("free");
    const auto row = [](const char *name, const char *changes, const QString &services,
                        const char *costs, const char *free = "") {
        QTest::newRow(name) << QString(changes) << services << QString(costs) << QString(free);
    };
    const QString two = "DE_DHLPaket|DE_HermesPaket";
    row("pick-up after the services", "PickUpAcceptedCost=2.5", two + "|DE_Pickup",
        "4.99 EUR|3.90 EUR|2.50 EUR");
    row("no room for pick-up after four", "ShippingService_3=DE_DPDPaket;ShippingService_4=DE_GLS",
        two + "|DE_DPDPaket|DE_GLS", "4.99 EUR|3.90 EUR|0.00 EUR|0.00 EUR");
    row("pick-up of the Austrian site", "Site=16", two + "|AT_Pickup",
        "4.99 EUR|3.90 EUR|0.00 EUR");
    row("no pick-up service on the UK site", "Site=3", two, "4.99 GBP|3.90 GBP");
    row("gap closed", "ShippingService_1=;PickUpAccepted=0", "DE_HermesPaket", "3.90 EUR");
    row("first service free", "ShippingService_1_IsFree=1;PickUpAccepted=0", two,
        "0.00 EUR|3.90 EUR", "true");
    row("own currency beats the site's", "Currency=CHF;PickUpAccepted=0", two, "4.99 CHF|3.90 CHF");
}

void TestItemMapping::shippingServices()
{
    QFETCH(QString, changes);
    Listing l = listing(FixedPrice);
    l.row << fields(changes);
    const Leaves all = leaves(written(l, Purpose::Add));
    const QString options = "ShippingDetails/ShippingServiceOptions/";
    QTEST(all.value(options + "ShippingService").join('|'), "services");
    QTEST(all.value(options + "ShippingServiceCost").join('|'), "costs");
    QTEST(all.value(options + "FreeShipping").join('|'), "free");
    const QStringList priorities = all.value(options + "ShippingServicePriority");
    for (int i = 0; i < priorities.size(); ++i)
        QCOMPARE(priorities.at(i), QString::number(i + 1));
}

void TestItemMapping::vatOnlyForCommercialSellers_data()
{
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *changes, const QString &expected) {
        QTest::newRow(name) << QString(changes) << expected;
    };
    row("commercial", "VAT_VATPercent=7", "7");
    row("small business", "smallbiz=1", QString());
    row("private seller", "apiresult=<SellerBusinessType>Private</SellerBusinessType>", QString());
    row("no rate", "VAT_VATPercent=0", QString());
}

void TestItemMapping::vatOnlyForCommercialSellers()
{
    QFETCH(QString, changes);
    Listing l = listing(FixedPrice);
    l.row << fields(changes);
    QTEST(leaf(l, Purpose::Add, "VATDetails/VATPercent"), "expected");
}

void TestItemMapping::descriptionPlaceholders_data()
{
    QTest::addColumn<QString>("texts");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *texts, const char *expected) {
        QTest::newRow(name) << QString(texts) << QString(expected);
    };
    row("every placeholder",
        "Description=$frei_01$,$frei_02$,$frei_03$,$frei_04$,$frei_05$,$notes$;Free_01=a;"
        "Free_02=b;Free_03=c;Free_04=d;Free_05=e;Notes=n",
        "a,b,c,d,e,n");
    row("repeated and empty", "Description=$frei_02$-$frei_02$-$notes$;Free_02=x;Notes=", "x-x-");
    row("placeholder inside a filled text stays", "Description=$frei_01$;Free_01=<b>$notes$</b>",
        "<b>$notes$</b>");
    row("unknown placeholders stay", "Description=$frei_06$ $Notes$ $frei_1$",
        "$frei_06$ $Notes$ $frei_1$");
}

void TestItemMapping::descriptionPlaceholders()
{
    QFETCH(QString, texts);
    Listing l = listing(FixedPrice);
    l.row << fields(texts);
    QTEST(leaf(l, Purpose::Add, "Description"), "expected");
}

void TestItemMapping::quantities_data()
{
    QTest::addColumn<Purpose>("purpose");
    QTest::addColumn<QString>("article"); // the article's or (after "variation:") a variation's
    QTest::addColumn<QString>("expected");
    const auto row
        = [](const char *name, Purpose purpose, const char *article, const char *expected) {
              QTest::newRow(name) << purpose << QString(article) << QString(expected);
          };
    row("add lists all", Purpose::Add, "Quantity=10;SoldCount=3", "10");
    row("revise sends what is left", Purpose::Revise, "Quantity=10;SoldCount=3", "7");
    row("revise never negative", Purpose::Revise, "Quantity=3;SoldCount=5", "0");
    row("relist offers what is left", Purpose::Relist, "Quantity=10;SoldCount=3", "7");
    row("relist of a sold auction", Purpose::Relist, "Quantity=1;SoldCount=1", "1");
    row("variation add", Purpose::Add, "variation:Quantity=5;QuantitySold=2", "5");
    row("variation revise", Purpose::Revise, "variation:Quantity=5;QuantitySold=2", "3");
    row("variation relist sold out", Purpose::Relist, "variation:Quantity=4;QuantitySold=4", "0");
    row("variation sales unknown", Purpose::Revise, "variation:Quantity=5", "5");
}

void TestItemMapping::quantities()
{
    QFETCH(Purpose, purpose);
    QFETCH(QString, article);
    const bool ofVariation = article.startsWith("variation:");
    Listing l = listing(ofVariation ? Variations : FixedPrice);
    if (ofVariation)
        l.variations = { variation("Rot", "S", article.section(':', 1)) };
    else
        l.row << fields(article);
    QTEST(leaf(l, purpose, ofVariation ? "Variations/Variation/Quantity" : "Quantity"), "expected");
}

void TestItemMapping::hostileTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    for (const char *same :
         { "Er sagte \"Hallo\" & 'Tschüss'", "<b>fett</b> & <i>&amp;", "a]]>b ]]]]> <![CDATA[",
           "Geschenk 🎁 für Oma 👍🏽", "Größe Äpfel Übermaß ß €", "a\tb\nc\rd\r\n" })
        QTest::newRow(same) << QString(same) << QString(same);
    QTest::newRow("control characters") << QString("A\x01"
                                                   "B\x0b"
                                                   "C\x1f"
                                                   "D\x08")
                                        << "ABCD";
    QTest::newRow("lone surrogates") << QString("x") + QChar(0xD800) + "y" + QChar(0xDC00) << "xy";
    QTest::newRow("non-characters") << QString("p") + QChar(0xFFFE) + QChar(0xFFFF) + "q"
                                    << "pq";
}

void TestItemMapping::hostileTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    // Specifics come into the article from a reply, whose text is already clean.
    const QString escaped = expected.toHtmlEscaped().replace('\r', "&#13;");
    const ArticleModel read = readFixture(QString("<Item><ItemSpecifics><NameValueList><Name>%1"
                                                  "</Name><Value>%1</Value></NameValueList>"
                                                  "</ItemSpecifics></Item>")
                                              .arg(escaped)
                                              .toUtf8());
    Listing l = listing(Variations);
    l.row.insert("Title", text);
    l.row.insert("Description", text);
    l.row.insert("ItemSpecifics", read.columns.value("ItemSpecifics"));
    l.variations = { { { "SKU", text },
                       { "VariantXml",
                         QString("<NameValueList><Name>%1</Name><Value>%1</Value>"
                                 "</NameValueList>")
                             .arg(text) } } };
    const XmlNode item = written(l, Purpose::Add);
    QVERIFY(!item.isNull());
    for (const char *path : { "Title", "Description", "ItemSpecifics/NameValueList/Name",
                              "ItemSpecifics/NameValueList/Value", "Variations/Variation/SKU",
                              "Variations/Variation/VariationSpecifics/NameValueList/Name",
                              "Variations/Variation/VariationSpecifics/NameValueList/Value",
                              "Variations/VariationSpecificsSet/NameValueList/Value" })
        QVERIFY2(item.value(path) == expected, path);
}

void TestItemMapping::readsMembers()
{
    const ArticleModel record = readFixture(kVariationItem);
    QCOMPARE(record.ItemID, QString("110555000111"));
    QCOMPARE(record.Title, QString("T-Shirt \"Basic\" Größe S–XL"));
    QCOMPARE(record.Quantity, 12);
    QCOMPARE(record.SoldCount, 4);
    QCOMPARE(record.WatchCount, 7);
    QCOMPARE(record.CurrentPrice, 17.99);
    QCOMPARE(record.Folder, -9);
    QCOMPARE(
        record.PictureURLs,
        QStringList({ "https://i.ebayimg.com/a1/$_57.JPG", "https://i.ebayimg.com/b2/$_57.JPG" }));
    QCOMPARE(record.VariantPictureURLs,
             (QMap<QString, QString> { { "Rot", "https://i.ebayimg.com/rot/$_57.JPG" },
                                       { "Blau & Weiß", "https://i.ebayimg.com/blau/$_57.JPG" } }));
    QCOMPARE(record.variations.size(), 3);
    const ArticleVariation &blue = record.variations.at(1);
    QCOMPARE(blue.VariantXml, variant("Blau & Weiß", "M"));
    QCOMPARE(blue.SKU, QString("TS-BLAU-&-M"));
    QCOMPARE(blue.StartPrice, 19.99);
    QCOMPARE(blue.Quantity, 4);
    QCOMPARE(blue.QuantitySold, 2);
    QCOMPARE(blue.EAN, QString("4000000000024"));

    const ArticleModel auction = readFixture(kAuctionItem);
    QCOMPARE(auction.Title, QString("Bosch Akkuschrauber <GSR 12V> & Koffer"));
    QCOMPARE(auction.CurrentPrice, 1.0);
    QCOMPARE(auction.Folder, -8);
    QVERIFY(auction.variations.isEmpty());
}

void TestItemMapping::readsColumns_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *item, const char *column, const QString &expected) {
        QTest::addRow("%s %s", item == kAuctionItem ? "auction" : "variations", column)
            << QByteArray(item) << QString(column) << expected;
    };
    const char *v = kVariationItem;
    row(v, "Site", "77");
    row(v, "StartDate", "2026-11-02 10:30:00");
    row(v, "PrimaryCategoryText", "Kleidung & Accessoires:Herren:T-Shirts");
    row(v, "Description", "<p>Baumwolle & Elasthan</p>");
    row(v, "ItemSpecifics",
        "<NameValueList>\n\t<Name><![CDATA[Marke]]></Name>\n\t<Value><![CDATA[Gildan & Co]]>"
        "</Value>\n</NameValueList>\n<NameValueList>\n\t<Name><![CDATA[Material]]></Name>\n\t"
        "<Value><![CDATA[Baumwolle]]></Value>\n\t<Value><![CDATA[Elasthan ]]]]><![CDATA[> 5%]]>"
        "</Value>\n</NameValueList>\n");
    row(v, "ShippingService_1", "DE_DHLPaket");
    row(v, "ShippingService_2_Cost", "3.9");
    row(v, "ShippingService_3", QString());
    row(v, "PickUpAccepted", "1");
    row(v, "ShippingServiceInt_1_Loc", "AT,CH");
    row(v, "HasVariation", "1");
    row(v, "HasVariationMinPrice", "17.99");
    row(v, "VariantImageOption", "Farbe");
    const char *a = kAuctionItem;
    row(a, "StartDate", "2026-07-01 12:00:00");
    row(a, "ReservePrice", "40");
    row(a, "PrivateListing", "1");
    row(a, "ShippingService_1_IsFree", "1");
    row(a, "HasVariation", "0");
}

void TestItemMapping::readsColumns()
{
    QFETCH(QByteArray, item);
    QFETCH(QString, column);
    QTEST(readFixture(item).columns.value(column).toString(), "expected");
}

void TestItemMapping::folders_data()
{
    QTest::addColumn<QString>("state"); // ListingStatus, Quantity, QuantitySold
    QTest::addColumn<int>("folder");
    QTest::newRow("running") << "Active,5,2" << -9;
    QTest::newRow("running, all sold so far") << "Active,2,2" << -9;
    QTest::newRow("sold out") << "Completed,3,3" << -7;
    QTest::newRow("ended with quantity left") << "Ended,3,1" << -8;
}

void TestItemMapping::folders()
{
    QFETCH(QString, state);
    const QStringList parts = state.split(',');
    const QString item = "<Item><Quantity>%2</Quantity><SellingStatus><QuantitySold>%3"
                         "</QuantitySold><ListingStatus>%1</ListingStatus></SellingStatus></Item>";
    QTEST(readFixture(item.arg(parts.at(0), parts.at(1), parts.at(2)).toUtf8()).Folder, "folder");
}

void TestItemMapping::roundTrip_data()
{
    addBackendRows({ "variations", "auction" });
}

// Read, saved, loaded and revised, a listing gives back what it was read from, but for what
// GetItem reports and a revision doesn't send: state, names for display, the site.
void TestItemMapping::roundTrip()
{
    QFETCH(Backend, backend);
    QFETCH(QString, variant);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database &db = *data.db();

    const XmlNode original = XmlNode::parse(variant == "auction" ? kAuctionItem : kVariationItem);
    ArticleModel record;
    ItemMapping::readItem(original, record);
    const int id = record.saveToDatabase(&db, 0);
    QVERIFY(id > 0);
    const XmlNode revised = written(loadListing(db, id), Purpose::Revise);

    // Quantities go out without the sold ones, which the marketplace adds again.
    const auto before = original.all("Variations/Variation");
    const auto after = revised.all("Variations/Variation");
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i)
        QCOMPARE(after.at(i).value("Quantity").toInt()
                     + before.at(i).value("SellingStatus/QuantitySold").toInt(),
                 before.at(i).value("Quantity").toInt());
    QCOMPARE(revised.has("Quantity"), before.isEmpty());
    if (before.isEmpty())
        QCOMPARE(revised.value("Quantity").toInt()
                     + original.value("SellingStatus/QuantitySold").toInt(),
                 original.value("Quantity").toInt());
    // Shipping services by priority, and the first picture of each variation value.
    const auto services = [](const XmlNode &node) {
        QMap<int, QString> byPriority;
        for (const XmlNode &option : node.all("ShippingDetails/ShippingServiceOptions")) {
            const Leaves all = leaves(option);
            QStringList texts;
            for (auto it = all.cbegin(); it != all.cend(); ++it)
                texts << it.key() + '=' + it.value().join('|');
            byPriority.insert(option.value("ShippingServicePriority").toInt(), texts.join(';'));
        }
        return byPriority.values();
    };
    QCOMPARE(services(revised), services(original));
    const auto pictures = [](const XmlNode &node) {
        QStringList out;
        for (const XmlNode &set : node.all("Variations/Pictures/VariationSpecificPictureSet"))
            out << set.value("VariationSpecificValue") + '=' + set.value("PictureURL");
        return out;
    };
    QCOMPARE(pictures(revised), pictures(original));

    QStringList notSent = { "Quantity",
                            "Variations/Variation/Quantity",
                            "ShippingDetails/ShippingServiceOptions",
                            "Variations/Pictures/VariationSpecificPictureSet/PictureURL",
                            "Variations/Variation/SellingStatus",
                            "SellingStatus",
                            "Site",
                            "ListingDetails/StartTime",
                            "ListingDetails/EndTime",
                            "WatchCount",
                            "PrimaryCategory/CategoryName",
                            "SecondaryCategory/CategoryName" };
    if (!before.isEmpty())
        notSent << "StartPrice"; // the variations carry the prices
    const auto covered = [&](Leaves all) {
        for (const QString &path : all.keys()) {
            for (const QString &skip : qAsConst(notSent)) {
                if (path == skip || path.startsWith(skip + '/'))
                    all.remove(path);
            }
        }
        return all;
    };
    const Leaves expected = covered(leaves(original)), actual = covered(leaves(revised));
    for (const QString &path : expected.keys() + actual.keys())
        QVERIFY2(actual.value(path) == expected.value(path),
                 qPrintable(path + ": " + actual.value(path).join('|') + " instead of "
                            + expected.value(path).join('|')));
}

void TestItemMapping::savesRows()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database &db = *data.db();
    ArticleModel record = readFixture(kVariationItem);
    record.Account = 3;
    record.QuestionCount = 1;
    const int id = record.saveToDatabase(&db, 0);
    QVERIFY(id > 0);

    ArticleRow expected = record.columns;
    expected << fields(QString("ItemID=110555000111;Account=3;Folder=-9;CurrentPrice=17.99;"
                               "Quantity=12;SoldCount=4;WatchCount=7;BidCount=0;QuestionCount=1"));
    expected.insert("Title", record.Title);
    const ArticleRow row
        = db.select(QString("SELECT * FROM articles WHERE id=%1").arg(id)).value(0);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QVariant stored = row.value(it.key());
        QVERIFY2(stored.toString() == it.value().toString()
                     || qFuzzyCompare(stored.toDouble() + 1, it.value().toDouble() + 1),
                 qPrintable(it.key() + ": " + stored.toString()));
    }
    QStringList pictures;
    for (const auto &r : db.select(
             QString("SELECT * FROM articles_images WHERE article_id=%1 ORDER BY id").arg(id)))
        pictures << r.value("image").toString() + ',' + r.value("sort").toString() + ','
                + r.value("variant_name").toString();
    QCOMPARE(pictures,
             QStringList({ "https://i.ebayimg.com/a1/$_57.JPG,0,",
                           "https://i.ebayimg.com/b2/$_57.JPG,1,",
                           "https://i.ebayimg.com/blau/$_57.JPG,0,Blau & Weiß",
                           "https://i.ebayimg.com/rot/$_57.JPG,1,Rot" }));
    QCOMPARE(rows(db, "articles_variations"), record.variations.size());
}

void TestItemMapping::failedSaveWritesNothing_data()
{
    addBackendRows(
        { "unknown column", "variation rows fail", "closed database", "not a new article" });
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
    if (variant == "unknown column")
        record.columns.insert("NoSuchColumn", 1);
    const bool variationsFail = variant.startsWith("variation rows fail");
    if (variationsFail)
        QVERIFY(data.db()->executeSQL("DROP TABLE articles_variations"));
    if (variant.endsWith("running transaction"))
        QVERIFY(data.db()->connection().transaction());
    if (variant == "closed database")
        data.db()->close();

    QCOMPARE(record.saveToDatabase(data.db(), variant == "not a new article" ? 5 : 0), 0);
    if (variant == "closed database")
        data.reopen();
    QCOMPARE(rows(*data.db(), "articles"), 0);
    QCOMPARE(rows(*data.db(), "articles_images"), 0);
    if (!variationsFail)
        QCOMPARE(rows(*data.db(), "articles_variations"), 0);
}

APP_TEST_GUILESS_MAIN(TestItemMapping)
#include "test_itemmapping.moc"
