#include "marketplace/api_ebay.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QFile>
#include <QImage>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

QByteArray reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Timestamp>2026-12-06T10:00:00.000Z"
               "</Timestamp><Ack>%2</Ack>%3<Version>1423</Version></%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

QString fee(const QString &name, const QString &amount)
{
    return QStringLiteral("<Fee><Name>%1</Name><Fee currencyID=\"EUR\">%2</Fee></Fee>")
        .arg(name, amount);
}

QString error(const QString &shortText, const QString &longText, const QString &severity)
{
    return QStringLiteral("<Errors><ShortMessage>%1</ShortMessage><LongMessage>%2</LongMessage>"
                          "<ErrorCode>1</ErrorCode><SeverityCode>%3</SeverityCode></Errors>")
        .arg(shortText, longText, severity);
}

// The XML part of a multipart request.
QByteArray xmlPart(const QByteArray &body)
{
    const int start = body.indexOf("<?xml");
    const int end = body.indexOf("\r\n--", start);
    return body.mid(start, end - start);
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void callPerModeAndArticle_data();
    void callPerModeAndArticle();
    void repliesBecomeMessages_data();
    void repliesBecomeMessages();
    void localPicturesAreUploadedOnce();
    void failedUploadStopsTheListing();
    void scheduledStart_data();
    void scheduledStart();
    void scheduledStartWithoutServer();
    void revisingAReadListingSendsItBack();

private:
    ArticleRow article(const QString &title = QStringLiteral("Armbanduhr"));
    int addVariation(const QString &colour, double price);

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_db;
};

void TestListing::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    qputenv("ZERIRE_SERVER_URL", m_server->url().toString().toUtf8());
    m_db = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_db->error().isEmpty(), qPrintable(m_db->error()));
}

void TestListing::cleanup()
{
    m_db.reset();
    m_server.reset();
    qunsetenv("ZERIRE_SERVER_URL");
}

ArticleRow TestListing::article(const QString &title)
{
    Database &db = *m_db->db();
    QMap<QString, QVariant> account;
    account.insert(QStringLiteral("accountname"), QStringLiteral("händler_1"));
    account.insert(QStringLiteral("token"), QStringLiteral("TOKEN-1"));
    const int accountId = db.insertSqlClean(account, QStringLiteral("accounts"));
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), title);
    row.insert(QStringLiteral("Site"), 77);
    row.insert(QStringLiteral("Account"), accountId);
    row.insert(QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem"));
    row.insert(QStringLiteral("ListingDuration"), QStringLiteral("GTC"));
    row.insert(QStringLiteral("StartPrice"), 19.99);
    row.insert(QStringLiteral("Quantity"), 3);
    row.insert(QStringLiteral("PrimaryCategory"), QStringLiteral("31387"));
    row.insert(QStringLiteral("Description"), QStringLiteral("<p>Neu</p>"));
    row.insert(QStringLiteral("ItemID"), QStringLiteral("110012345678"));
    row.insert(QStringLiteral("Planned"), QStringLiteral("2026-12-24 18:00:00"));
    const int id = db.insertSqlClean(row, QStringLiteral("articles"));
    const SqlRows rows = db.select(
        QStringLiteral(
            "SELECT a.accountname, a.smallbiz, a.apiresult, a.id AS accid, a.sandbox, a.token, "
            "articles.* "
            "FROM articles JOIN accounts a ON articles.Account = a.id WHERE articles.id=%1")
            .arg(id));
    return rows.value(0);
}

int TestListing::addVariation(const QString &colour, double price)
{
    QMap<QString, QVariant> variation;
    variation.insert(QStringLiteral("article_id"),
                     m_db->db()->selectOne(QStringLiteral("SELECT MAX(id) FROM articles")));
    variation.insert(
        QStringLiteral("VariantXml"),
        QStringLiteral("<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>")
            .arg(colour));
    variation.insert(QStringLiteral("SKU"), QStringLiteral("SKU-") + colour);
    variation.insert(QStringLiteral("StartPrice"), price);
    variation.insert(QStringLiteral("Quantity"), 2);
    return m_db->db()->insertSqlClean(variation, QStringLiteral("articles_variations"));
}

void TestListing::callPerModeAndArticle_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("variations");
    QTest::addColumn<QString>("call");
    QTest::newRow("verify") << int(Api_Ebay::Verify) << false << "VerifyAddItem";
    QTest::newRow("add") << int(Api_Ebay::Add) << false << "AddItem";
    QTest::newRow("revise") << int(Api_Ebay::Revise) << false << "ReviseItem";
    QTest::newRow("relist") << int(Api_Ebay::Relist) << false << "RelistItem";
    QTest::newRow("verify variations")
        << int(Api_Ebay::Verify) << true << "VerifyAddFixedPriceItem";
    QTest::newRow("add variations") << int(Api_Ebay::Add) << true << "AddFixedPriceItem";
    QTest::newRow("revise variations") << int(Api_Ebay::Revise) << true << "ReviseFixedPriceItem";
    QTest::newRow("relist variations") << int(Api_Ebay::Relist) << true << "RelistFixedPriceItem";
}

void TestListing::callPerModeAndArticle()
{
    QFETCH(int, mode);
    QFETCH(bool, variations);
    QFETCH(QString, call);
    const ArticleRow row = article();
    if (variations) {
        addVariation(QStringLiteral("Rot"), 10);
        addVariation(QStringLiteral("Blau"), 12);
    }
    m_server->setCallReply(call,
                           FakeReply::ok(reply(call, QStringLiteral("Success"),
                                               QStringLiteral("<ItemID>1100999</ItemID>"))));
    Api_Ebay api(row.value(QStringLiteral("token")).toString(), nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(mode, row, {}, messages, m_db->db()), qPrintable(api.getLastFail()));
    QCOMPARE(api.lastItemId, QStringLiteral("1100999"));

    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(request.callName(), call);
    QCOMPARE(request.header("X-EBAY-API-SITEID"), QByteArray("77"));
    const XmlNode root = XmlNode::parse(request.body);
    QCOMPARE(root.name(), call + QStringLiteral("Request"));
    QCOMPARE(root.value(QStringLiteral("RequesterCredentials/eBayAuthToken")),
             QStringLiteral("TOKEN-1"));
    QCOMPARE(root.value(QStringLiteral("ErrorLanguage")), QStringLiteral("de_DE"));
    QCOMPARE(root.value(QStringLiteral("Item/Title")), QStringLiteral("Armbanduhr"));
    QCOMPARE(root.has(QStringLiteral("Item/ItemID")),
             mode == Api_Ebay::Revise || mode == Api_Ebay::Relist);
    QCOMPARE(root.all(QStringLiteral("Item/Variations/Variation")).size(), variations ? 2 : 0);
}

void TestListing::repliesBecomeMessages_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("success with a listing fee")
        << FakeReply::ok(reply(QStringLiteral("AddItem"), QStringLiteral("Success"),
                               QStringLiteral("<ItemID>1100001</ItemID><Fees>")
                                   + fee(QStringLiteral("InsertionFee"), QStringLiteral("0.35"))
                                   + fee(QStringLiteral("SubtitleFee"), QStringLiteral("0.0"))
                                   + fee(QStringLiteral("GalleryPlusFee"), QStringLiteral("1.0"))
                                   + fee(QStringLiteral("ListingFee"), QStringLiteral("1.35"))
                                   + QStringLiteral("</Fees>")))
        << true << "1100001"
        << QStringList { "InsertionFee: 0.35 EUR", "GalleryPlusFee: 1.0 EUR",
                         "ListingFee: 1.35 EUR", "Einstellgebühren: 1.35 EUR" };
    QTest::newRow("warning, fees summed without a listing fee")
        << FakeReply::ok(reply(
               QStringLiteral("AddItem"), QStringLiteral("Warning"),
               QStringLiteral("<ItemID>1100002</ItemID><Fees>")
                   + fee(QStringLiteral("InsertionFee"), QStringLiteral("0.35"))
                   + fee(QStringLiteral("BoldFee"), QStringLiteral("2")) + QStringLiteral("</Fees>")
                   + error(QStringLiteral("Hinweis."), QStringLiteral("Hinweis."),
                           QStringLiteral("Warning"))
                   + error(QStringLiteral("Bildgröße."), QStringLiteral("Das Bild ist klein."),
                           QStringLiteral("Warning"))))
        << true << "1100002"
        << QStringList { "InsertionFee: 0.35 EUR", "BoldFee: 2 EUR", "Hinweis.",
                         "Bildgröße.: Das Bild ist klein.", "Einstellgebühren: 2.35 EUR" };
    QTest::newRow("failure with several errors")
        << FakeReply::ok(reply(
               QStringLiteral("AddItem"), QStringLiteral("Failure"),
               error(QStringLiteral("Kategorie fehlt."),
                     QStringLiteral("Bitte wählen Sie eine Kategorie."), QStringLiteral("Error"))
                   + error(QStringLiteral("Preis."), QStringLiteral("Der Preis ist zu niedrig."),
                           QStringLiteral("Error"))))
        << false << ""
        << QStringList { "Kategorie fehlt.: Bitte wählen Sie eine Kategorie.",
                         "Preis.: Der Preis ist zu niedrig." };
    QTest::newRow("network error") << FakeReply::dropped() << false << "" << QStringList();
    QTest::newRow("time-out")
        << FakeReply::ok(reply(QStringLiteral("AddItem"), QStringLiteral("Success"))).delayed(3000)
        << false << "" << QStringList();
}

void TestListing::repliesBecomeMessages()
{
    QFETCH(FakeReply, answer);
    QFETCH(bool, result);
    QFETCH(QString, itemId);
    QFETCH(QStringList, expected);
    m_server->setCallReply(QStringLiteral("AddItem"), answer);
    const ArticleRow row = article();
    Api_Ebay api(QStringLiteral("TOKEN-1"), nullptr, 0);
    api.setTimeout(500);
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QStringList messages { QStringLiteral("vorher") };
    QCOMPARE(api.verifyItem(Api_Ebay::Add, row, {}, messages, m_db->db()), result);
    QCOMPARE(messages, QStringList { QStringLiteral("vorher") } + expected);
    QCOMPARE(api.lastItemId, itemId);
    QCOMPARE(api.getLastFail().isEmpty(), result);
}

void TestListing::localPicturesAreUploadedOnce()
{
    const ArticleRow row = article();
    const QString folder = m_db->db()->getCurrentAdImageDir();
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QVERIFY(picture.save(folder + QStringLiteral("20261206_a.jpg")));
    QVERIFY(picture.save(folder + QStringLiteral("20261206_b.jpg")));
    int uploads = 0;
    m_server->setCallHandler(
        QStringLiteral("UploadSiteHostedPictures"), [&uploads](const RecordedRequest &request) {
            ++uploads;
            const XmlNode xml = XmlNode::parse(xmlPart(request.body));
            const QString name = xml.value(QStringLiteral("PictureName"));
            return FakeReply::ok(
                reply(QStringLiteral("UploadSiteHostedPictures"), QStringLiteral("Success"),
                      QStringLiteral("<SiteHostedPictureDetails><FullURL>https://i.ebayimg.com/%1"
                                     "</FullURL></SiteHostedPictureDetails>")
                          .arg(name)));
        });
    m_server->setCallReply(
        QStringLiteral("AddItem"),
        FakeReply::ok(reply(QStringLiteral("AddItem"), QStringLiteral("Success"))));

    auto pictureRow = [&row](const QString &image, int sort) {
        QMap<QString, QVariant> p;
        p.insert(QStringLiteral("article_id"), row.value(QStringLiteral("id")));
        p.insert(QStringLiteral("image"), image);
        p.insert(QStringLiteral("sort"), sort);
        p.insert(QStringLiteral("variant_name"), QVariant());
        return p;
    };
    const QList<QMap<QString, QVariant>> pictures = {
        pictureRow(QStringLiteral("20261206_b.jpg"), 1),
        pictureRow(QStringLiteral("20261206_a.jpg"), 0),
        pictureRow(QStringLiteral("https://example.invalid/fertig.jpg"), 2),
        pictureRow(QStringLiteral("20261206_a.jpg"), 3),
    };
    Api_Ebay api(QStringLiteral("TOKEN-1"), nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(Api_Ebay::Add, row, pictures, messages, m_db->db()),
             qPrintable(api.getLastFail()));
    QCOMPARE(uploads, 2);

    const QList<RecordedRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 3);
    for (int i = 0; i < 2; ++i) {
        const RecordedRequest &upload = requests.at(i);
        QVERIFY(upload.header("Content-Type").startsWith("multipart/form-data; boundary="));
        // The XML part comes first, then the picture's bytes.
        const int xml = upload.body.indexOf("<UploadSiteHostedPicturesRequest");
        const int jpeg = upload.body.indexOf(QByteArray("\xFF\xD8\xFF", 3));
        QVERIFY(xml > 0 && jpeg > xml);
        QCOMPARE(XmlNode::parse(xmlPart(upload.body))
                     .value(QStringLiteral("RequesterCredentials/eBayAuthToken")),
                 QStringLiteral("TOKEN-1"));
    }
    QFile local(folder + QStringLiteral("20261206_a.jpg"));
    QVERIFY(local.open(QIODevice::ReadOnly));
    QVERIFY(requests.at(0).body.contains(local.readAll()));

    const XmlNode item = XmlNode::parse(requests.at(2).body).child(QStringLiteral("Item"));
    QStringList urls;
    for (const XmlNode &url : item.all(QStringLiteral("PictureDetails/PictureURL")))
        urls << url.text();
    QCOMPARE(urls,
             (QStringList {
                 "https://i.ebayimg.com/20261206_a.jpg", "https://i.ebayimg.com/20261206_b.jpg",
                 "https://example.invalid/fertig.jpg", "https://i.ebayimg.com/20261206_a.jpg" }));
}

void TestListing::failedUploadStopsTheListing()
{
    const ArticleRow row = article();
    QImage(600, 600, QImage::Format_RGB32)
        .save(m_db->db()->getCurrentAdImageDir() + QStringLiteral("bild.jpg"));
    m_server->setCallReply(
        QStringLiteral("UploadSiteHostedPictures"),
        FakeReply::ok(reply(QStringLiteral("UploadSiteHostedPictures"), QStringLiteral("Failure"),
                            error(QStringLiteral("Bild."), QStringLiteral("Das Bild ist zu klein."),
                                  QStringLiteral("Error")))));
    QMap<QString, QVariant> picture;
    picture.insert(QStringLiteral("image"), QStringLiteral("bild.jpg"));
    QMap<QString, QVariant> missing;
    missing.insert(QStringLiteral("image"), QStringLiteral("gibt-es-nicht.jpg"));
    missing.insert(QStringLiteral("sort"), 1);

    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    for (const auto &pictures : { QList<QMap<QString, QVariant>> { picture },
                                  QList<QMap<QString, QVariant>> { missing } }) {
        m_server->clearRequests();
        Api_Ebay api(QStringLiteral("TOKEN-1"), nullptr, 0);
        QStringList messages;
        QVERIFY(!api.verifyItem(Api_Ebay::Add, row, pictures, messages, m_db->db()));
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().contains(QLatin1String("Bild")), qPrintable(messages.first()));
        QCOMPARE(api.getLastFail(), messages.first());
        for (const RecordedRequest &request : m_server->requests())
            QCOMPARE(request.callName(), QStringLiteral("UploadSiteHostedPictures"));
    }
}

void TestListing::scheduledStart_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("job id") << QByteArray("<result><id>4711</id></result>") << true
                            << QStringList { "4711" };
    QTest::newRow("failure") << QByteArray("FAIL: Kein Guthaben vorhanden") << false
                             << QStringList { "vorher", "Kein Guthaben vorhanden" };
    QTest::newRow("neither") << QByteArray("<result>?</result>") << false
                             << QStringList { "vorher" };
}

void TestListing::scheduledStart()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, result);
    QFETCH(QStringList, expected);
    const ArticleRow row = article(QStringLiteral("Uhr & \"Kette\""));
    QMap<QString, QVariant> second;
    second.insert(QStringLiteral("accountname"), QStringLiteral("zweites_konto"));
    m_db->db()->insertSqlClean(second, QStringLiteral("accounts"));
    m_server->setReply(QStringLiteral("/zaruvovezira/listing.php"), FakeReply::ok(answer));

    Api_Ebay api(QStringLiteral("TOKEN-1"), nullptr, 0);
    QStringList messages { QStringLiteral("vorher") };
    QCOMPARE(api.verifyItem(Api_Ebay::Schedule, row, {}, messages, m_db->db()), result);
    QCOMPARE(messages, expected);

    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QStringLiteral("/zaruvovezira/listing.php"));
    const XmlNode root = XmlNode::parse(request.body);
    QCOMPARE(root.name(), QStringLiteral("AddItemRequest"));
    QCOMPARE(root.value(QStringLiteral("Item/Title")), QStringLiteral("Uhr & \"Kette\""));
    QCOMPARE(root.value(QStringLiteral("Planned")), QStringLiteral("2026-12-24 18:00:00"));
    QVERIFY(root.has(QStringLiteral("Planned_Interval")));
    QCOMPARE(root.value(QStringLiteral("AccountNames")), QStringLiteral("händler_1,zweites_konto"));
    QCOMPARE(root.value(QStringLiteral("AccountName")), QStringLiteral("händler_1"));
    QCOMPARE(root.value(QStringLiteral("TrackSiteID")), QStringLiteral("77"));
}

void TestListing::scheduledStartWithoutServer()
{
    qunsetenv("ZERIRE_SERVER_URL");
    const ArticleRow row = article();
    Api_Ebay api(QStringLiteral("TOKEN-1"), nullptr, 0);
    QStringList messages;
    QVERIFY(!api.verifyItem(Api_Ebay::Schedule, row, {}, messages, m_db->db()));
    QCOMPARE(messages, QStringList { QStringLiteral("Der Startzeitserver ist nicht erreichbar.") });
    QCOMPARE(m_server->requestCount(), 0);
}

// A listing read from the marketplace, saved as an article and revised goes back with the
// item elements it came with (the sold ones taken out of the quantities).
void TestListing::revisingAReadListingSendsItBack()
{
    const QString item = QStringLiteral(
        "<Item><ItemID>110777000555</ItemID><Title>Shirt &amp; Hose</Title><Site>Germany</Site>"
        "<Currency>EUR</Currency><Country>DE</Country><Location>Köln</Location><PostalCode>50667</"
        "PostalCode>"
        "<Description>&lt;p&gt;Baumwolle&lt;/p&gt;</Description><ListingType>FixedPriceItem</"
        "ListingType>"
        "<ListingDuration>GTC</ListingDuration><DispatchTimeMax>2</"
        "DispatchTimeMax><ConditionID>1000</ConditionID>"
        "<PrimaryCategory><CategoryID>15687</CategoryID><CategoryName>Kleidung:Shirts</"
        "CategoryName></PrimaryCategory>"
        "<ItemSpecifics><NameValueList><Name>Marke</Name><Value>Muster &amp; "
        "Co</Value></NameValueList>"
        "<NameValueList><Name>Material</Name><Value>Baumwolle</Value><Value>Elasthan</Value></"
        "NameValueList>"
        "</ItemSpecifics><PictureDetails><GalleryType>Gallery</GalleryType>"
        "<PictureURL>https://i.ebayimg.com/a/$_57.JPG</PictureURL><PictureURL>https://"
        "i.ebayimg.com/b/$_57.JPG"
        "</PictureURL></PictureDetails><ReturnPolicy><ReturnsAcceptedOption>ReturnsAccepted</"
        "ReturnsAcceptedOption>"
        "<ReturnsWithinOption>Days_30</ReturnsWithinOption><ShippingCostPaidByOption>Buyer</"
        "ShippingCostPaidByOption>"
        "</ReturnPolicy><ShippingDetails><ShippingType>Flat</ShippingType><ShippingServiceOptions>"
        "<ShippingService>DE_DHLPaket</ShippingService><ShippingServiceCost currencyID=\"EUR\">4.99"
        "</ShippingServiceCost><ShippingServicePriority>1</ShippingServicePriority></"
        "ShippingServiceOptions>"
        "</ShippingDetails><Quantity>7</Quantity><SellingStatus><CurrentPrice "
        "currencyID=\"EUR\">12.5</CurrentPrice>"
        "<QuantitySold>3</QuantitySold><ListingStatus>Active</ListingStatus></SellingStatus>"
        "<Variations><VariationSpecificsSet><NameValueList><Name>Farbe</Name><Value>Rot</"
        "Value><Value>Blau</Value>"
        "</NameValueList></VariationSpecificsSet>"
        "<Variation><SKU>S-ROT</SKU><StartPrice "
        "currencyID=\"EUR\">12.5</StartPrice><Quantity>4</Quantity>"
        "<VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Rot</Value></NameValueList></"
        "VariationSpecifics>"
        "<SellingStatus><QuantitySold>1</QuantitySold></SellingStatus></Variation>"
        "<Variation><SKU>S-BLAU</SKU><StartPrice "
        "currencyID=\"EUR\">13</StartPrice><Quantity>3</Quantity>"
        "<VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Blau</Value></NameValueList></"
        "VariationSpecifics>"
        "<SellingStatus><QuantitySold>2</QuantitySold></SellingStatus></Variation>"
        "<Pictures><VariationSpecificName>Farbe</"
        "VariationSpecificName><VariationSpecificPictureSet>"
        "<VariationSpecificValue>Rot</VariationSpecificValue><PictureURL>https://i.ebayimg.com/r/"
        "$_57.JPG</PictureURL>"
        "</VariationSpecificPictureSet></Pictures></Variations></Item>");
    m_server->setCallReply(
        QStringLiteral("GetMemberMessages"),
        FakeReply::ok(reply(QStringLiteral("GetMemberMessages"), QStringLiteral("Success"))));
    m_server->setCallReply(
        QStringLiteral("GetSellerList"),
        FakeReply::ok(
            reply(QStringLiteral("GetSellerList"), QStringLiteral("Success"),
                  QStringLiteral("<ItemArray>") + item + QStringLiteral("</ItemArray>"))));
    m_server->setCallReply(
        QStringLiteral("GetItem"),
        FakeReply::ok(reply(QStringLiteral("GetItem"), QStringLiteral("Success"), item)));
    m_server->setCallReply(
        QStringLiteral("ReviseFixedPriceItem"),
        FakeReply::ok(reply(QStringLiteral("ReviseFixedPriceItem"), QStringLiteral("Success"))));
    const ArticleRow account = article();

    Database &db = *m_db->db();
    int id = 0;
    Api_Ebay reader(QStringLiteral("TOKEN-1"), nullptr, 0);
    connect(&reader, &Api_Ebay::sendAdItems, this, [&db, &id](QList<ArticleModel *> records) {
        for (ArticleModel *record : records)
            id = record->saveToDatabase(&db, 0);
        qDeleteAll(records);
    });
    QVERIFY(reader.getMyeBaySelling(account.value(QStringLiteral("accid")).toString(), {},
                                    QDateTime::currentDateTime()));
    QVERIFY(id > 0);

    const ArticleRow row
        = db.select(
                QStringLiteral(
                    "SELECT a.accountname, a.smallbiz, a.apiresult, a.id AS accid, a.sandbox, "
                    "a.token, articles.* "
                    "FROM articles JOIN accounts a ON articles.Account = a.id WHERE articles.id=%1")
                    .arg(id))
              .value(0);
    QCOMPARE(row.value(QStringLiteral("ItemID")).toString(), QStringLiteral("110777000555"));
    const SqlRows pictures
        = db.select(QStringLiteral("SELECT * FROM articles_images WHERE article_id=%1 AND "
                                   "(variant_name IS NULL OR variant_name = '')")
                        .arg(id));
    Api_Ebay api(QStringLiteral("TOKEN-1"), nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(Api_Ebay::Revise, row, pictures, messages, &db),
             qPrintable(api.getLastFail()));

    const XmlNode original = XmlNode::parse(item.toUtf8());
    const XmlNode sent = XmlNode::parse(m_server->lastRequest().body).child(QStringLiteral("Item"));
    QCOMPARE(m_server->lastRequest().callName(), QStringLiteral("ReviseFixedPriceItem"));
    for (const char *path : { "ItemID", "Title", "Description", "Country", "Location", "PostalCode",
                              "ListingDuration", "DispatchTimeMax", "ConditionID",
                              "PrimaryCategory/CategoryID", "ReturnPolicy/ReturnsWithinOption",
                              "ShippingDetails/ShippingServiceOptions/ShippingService",
                              "ShippingDetails/ShippingServiceOptions/ShippingServiceCost",
                              "Variations/Pictures/VariationSpecificName" })
        QVERIFY2(sent.value(QLatin1String(path)) == original.value(QLatin1String(path)), path);
    const auto texts = [](const XmlNode &node, const QString &path) {
        QStringList out;
        for (const XmlNode &n : node.all(path))
            out << n.text();
        return out;
    };
    for (const char *path : { "PictureDetails/PictureURL", "ItemSpecifics/NameValueList/Name",
                              "ItemSpecifics/NameValueList/Value", "Variations/Variation/SKU",
                              "Variations/Variation/VariationSpecifics/NameValueList/Value",
                              "Variations/Pictures/VariationSpecificPictureSet/PictureURL" })
        QCOMPARE(texts(sent, QLatin1String(path)), texts(original, QLatin1String(path)));
    const auto prices = sent.all(QStringLiteral("Variations/Variation/StartPrice"));
    QCOMPARE(prices.size(), 2);
    QCOMPARE(prices.at(0).text().toDouble(), 12.5);
    QCOMPARE(prices.at(1).text().toDouble(), 13.0);
    QCOMPARE(prices.at(1).attribute(QStringLiteral("currencyID")), QStringLiteral("EUR"));
    // A revision names the quantity still for sale; the marketplace adds the sold ones.
    QCOMPARE(texts(sent, QStringLiteral("Variations/Variation/Quantity")),
             (QStringList { "3", "1" }));
}

APP_TEST_MAIN(TestListing)
#include "test_listing.moc"
