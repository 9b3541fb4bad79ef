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
using Pictures = QList<QMap<QString, QVariant>>;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

QByteArray reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                   "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Timestamp>2026-12-06T10:00:00.000Z"
                   "</Timestamp><Ack>%2</Ack>%3<Version>1423</Version></%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

QString fee(const QString &name, const QString &amount)
{
    return QString("<Fee><Name>%1</Name><Fee currencyID=\"EUR\">%2</Fee></Fee>").arg(name, amount);
}

QString error(const QString &shortText, const QString &longText, const QString &severity = "Error")
{
    return QString("<Errors><ShortMessage>%1</ShortMessage><LongMessage>%2</LongMessage>"
                   "<ErrorCode>1</ErrorCode><SeverityCode>%3</SeverityCode></Errors>")
        .arg(shortText, longText, severity);
}

QStringList texts(const XmlNode &node, const QString &path)
{
    QStringList out;
    for (const XmlNode &n : node.all(path))
        out << n.text();
    return out;
}

// Columns from "name=value;name=value".
ArticleRow columns(const QString &pairs)
{
    ArticleRow row;
    for (const QString &pair : pairs.split(';'))
        row.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return row;
}

// The XML part of a multipart request.
QByteArray xmlPart(const QByteArray &body)
{
    const int start = body.indexOf("<?xml");
    return body.mid(start, body.indexOf("\r\n--", start) - start);
}

// A running listing with variations as GetSellerList and GetItem give it.
const char kReadItem[] = R"(<Item><ItemID>110777000555</ItemID><Title>Shirt &amp; Hose</Title>
<Site>Germany</Site><Currency>EUR</Currency><Description>&lt;p&gt;Baumwolle&lt;/p&gt;</Description>
<ListingType>FixedPriceItem</ListingType><ListingDuration>GTC</ListingDuration><PrimaryCategory>
<CategoryID>15687</CategoryID><CategoryName>Kleidung:Shirts</CategoryName></PrimaryCategory>
<PictureDetails><PictureURL>https://i.ebayimg.com/a/$_57.JPG</PictureURL>
<PictureURL>https://i.ebayimg.com/b/$_57.JPG</PictureURL></PictureDetails><Quantity>7</Quantity>
<SellingStatus><QuantitySold>3</QuantitySold><ListingStatus>Active</ListingStatus></SellingStatus>
<Variations><Variation><SKU>S-ROT</SKU><StartPrice currencyID="EUR">12.5</StartPrice>
<Quantity>4</Quantity><VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Rot</Value>
</NameValueList></VariationSpecifics><SellingStatus><QuantitySold>1</QuantitySold></SellingStatus>
</Variation><Variation><SKU>S-BLAU</SKU><StartPrice currencyID="EUR">13</StartPrice>
<Quantity>3</Quantity><VariationSpecifics><NameValueList><Name>Farbe</Name><Value>Blau</Value>
</NameValueList></VariationSpecifics><SellingStatus><QuantitySold>2</QuantitySold></SellingStatus>
</Variation><Pictures><VariationSpecificName>Farbe</VariationSpecificName>
<VariationSpecificPictureSet><VariationSpecificValue>Rot</VariationSpecificValue>
<PictureURL>https://i.ebayimg.com/r/$_57.JPG</PictureURL></VariationSpecificPictureSet></Pictures>
</Variations></Item>)";

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
    void pictures();
    void scheduledStart_data();
    void scheduledStart();
    void revisingAReadListingSendsItBack();

private:
    ArticleRow joined(int id);
    ArticleRow article(const QString &title = "Armbanduhr");

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_db;
};

void TestListing::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    qputenv("ZERIRE_SERVER_URL", m_server->url().toEncoded());
    m_db = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_db->error().isEmpty(), qPrintable(m_db->error()));
}

void TestListing::cleanup()
{
    m_db.reset();
    m_server.reset();
    qunsetenv("ZERIRE_SERVER_URL");
}

// The article as the listing calls get it: its row joined with its account's columns.
ArticleRow TestListing::joined(int id)
{
    return m_db->db()
        ->select(QString("SELECT a.accountname, a.smallbiz, a.apiresult, a.id AS accid, "
                         "a.sandbox, a.token, articles.* FROM articles JOIN accounts a ON "
                         "articles.Account = a.id WHERE articles.id=%1")
                     .arg(id))
        .value(0);
}

// A fixed-price article of a new account.
ArticleRow TestListing::article(const QString &title)
{
    Database &db = *m_db->db();
    const int account
        = db.insertSqlClean(columns("accountname=händler_1;token=TOKEN-1"), "accounts");
    ArticleRow row
        = columns("Site=77;ListingType=FixedPriceItem;ListingDuration=GTC;StartPrice=19.99;"
                  "Quantity=3;PrimaryCategory=31387;Description=<p>Neu</p>;"
                  "ItemID=110012345678;Planned=2026-12-24 18:00:00");
    row.insert("Title", title);
    row.insert("Account", account);
    return joined(db.insertSqlClean(row, "articles"));
}

void TestListing::callPerModeAndArticle_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("variations");
    QTest::addColumn<QString>("call");
    const QList<QPair<int, QString>> modes = { { Api_Ebay::Verify, "VerifyAdd" },
                                               { Api_Ebay::Add, "Add" },
                                               { Api_Ebay::Revise, "Revise" },
                                               { Api_Ebay::Relist, "Relist" } };
    for (const auto &[mode, call] : modes) {
        QTest::newRow(qPrintable(call)) << mode << false << call + "Item";
        QTest::newRow(qPrintable(call + " variations")) << mode << true << call + "FixedPriceItem";
    }
}

void TestListing::callPerModeAndArticle()
{
    QFETCH(int, mode);
    QFETCH(bool, variations);
    QFETCH(QString, call);
    const ArticleRow row = article();
    for (const QString &colour : variations ? QStringList { "Rot", "Blau" } : QStringList()) {
        ArticleRow variation = columns("StartPrice=12;Quantity=2;SKU=SKU-" + colour);
        variation.insert("article_id", row.value("id"));
        variation.insert("VariantXml",
                         "<NameValueList><Name>Farbe</Name><Value>" + colour
                             + "</Value></NameValueList>");
        m_db->db()->insertSqlClean(variation, "articles_variations");
    }
    m_server->setCallReply(call, FakeReply::ok(reply(call, "Success", "<ItemID>1100999</ItemID>")));
    Api_Ebay api(row.value("token").toString(), nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(mode, row, {}, messages, m_db->db()), qPrintable(api.getLastFail()));
    QCOMPARE(api.lastItemId, QString("1100999"));

    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(request.callName(), call);
    QCOMPARE(request.header("X-EBAY-API-SITEID"), QByteArray("77"));
    const XmlNode root = XmlNode::parse(request.body);
    QCOMPARE(root.name(), call + "Request");
    QCOMPARE(root.value("RequesterCredentials/eBayAuthToken"), QString("TOKEN-1"));
    QCOMPARE(root.value("ErrorLanguage"), QString("de_DE"));
    QCOMPARE(root.value("Item/Title"), QString("Armbanduhr"));
    QCOMPARE(root.has("Item/ItemID"), mode == Api_Ebay::Revise || mode == Api_Ebay::Relist);
    QCOMPARE(root.all("Item/Variations/Variation").size(), variations ? 2 : 0);
}

void TestListing::repliesBecomeMessages_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<QStringList>("expected"); // after "vorher"; empty: the call failed
    QTest::newRow("success with a listing fee")
        << FakeReply::ok(reply("AddItem", "Success",
                               "<ItemID>1100001</ItemID><Fees>" + fee("InsertionFee", "0.35")
                                   + fee("SubtitleFee", "0.0") + fee("GalleryPlusFee", "1.0")
                                   + fee("ListingFee", "1.35") + "</Fees>"))
        << "1100001"
        << QStringList { "InsertionFee: 0.35 EUR", "GalleryPlusFee: 1.0 EUR",
                         "ListingFee: 1.35 EUR", "Einstellgebühren: 1.35 EUR" };
    QTest::newRow("warning, fees summed without a listing fee")
        << FakeReply::ok(reply("AddItem", "Warning",
                               "<ItemID>1100002</ItemID><Fees>" + fee("InsertionFee", "0.35")
                                   + fee("BoldFee", "2") + "</Fees>"
                                   + error("Hinweis.", "Hinweis.", "Warning")
                                   + error("Bildgröße.", "Das Bild ist klein.", "Warning")))
        << "1100002"
        << QStringList { "InsertionFee: 0.35 EUR", "BoldFee: 2 EUR", "Hinweis.",
                         "Bildgröße.: Das Bild ist klein.", "Einstellgebühren: 2.35 EUR" };
    QTest::newRow("failure with several errors")
        << FakeReply::ok(reply("AddItem", "Failure",
                               error("Kategorie fehlt.", "Bitte wählen Sie eine Kategorie.")
                                   + error("Preis.", "Der Preis ist zu niedrig.")))
        << ""
        << QStringList { "Kategorie fehlt.: Bitte wählen Sie eine Kategorie.",
                         "Preis.: Der Preis ist zu niedrig." };
    QTest::newRow("network error") << FakeReply::dropped() << "" << QStringList();
    QTest::newRow("time-out") << FakeReply::ok(reply("AddItem", "Success")).delayed(3000) << ""
                              << QStringList();
}

void TestListing::repliesBecomeMessages()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, itemId);
    QFETCH(QStringList, expected);
    m_server->setCallReply("AddItem", answer);
    const ArticleRow row = article();
    Api_Ebay api("TOKEN-1", nullptr, 0);
    api.setTimeout(500);
    TestSupport::MessageCapture log({ "app.net" });
    QStringList messages { "vorher" };
    const bool succeeded = !itemId.isEmpty();
    QCOMPARE(api.verifyItem(Api_Ebay::Add, row, {}, messages, m_db->db()), succeeded);
    QCOMPARE(messages, QStringList { "vorher" } + expected);
    QCOMPARE(api.lastItemId, itemId);
    QCOMPARE(api.getLastFail().isEmpty(), succeeded);
}

// Local pictures are uploaded once each before the listing, which names them by address.
void TestListing::pictures()
{
    const ArticleRow row = article();
    const QString folder = m_db->db()->getCurrentAdImageDir();
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QVERIFY(image.save(folder + "20261206_a.jpg"));
    QVERIFY(image.save(folder + "20261206_b.jpg"));
    m_server->setCallHandler("UploadSiteHostedPictures", [](const RecordedRequest &request) {
        const QString name = XmlNode::parse(xmlPart(request.body)).value("PictureName");
        return FakeReply::ok(reply("UploadSiteHostedPictures", "Success",
                                   "<SiteHostedPictureDetails><FullURL>https://i.ebayimg.com/"
                                       + name + "</FullURL></SiteHostedPictureDetails>"));
    });
    m_server->setCallReply("AddItem", FakeReply::ok(reply("AddItem", "Success")));
    const auto picture = [&row](const QString &image, int sort) {
        return QMap<QString, QVariant> { { "article_id", row.value("id") },
                                         { "image", image },
                                         { "sort", sort } };
    };
    const Pictures pictures
        = { picture("20261206_b.jpg", 1), picture("20261206_a.jpg", 0),
            picture("https://example.invalid/fertig.jpg", 2), picture("20261206_a.jpg", 3) };
    Api_Ebay api("TOKEN-1", nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(Api_Ebay::Add, row, pictures, messages, m_db->db()),
             qPrintable(api.getLastFail()));

    const QList<RecordedRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 3); // two uploads, then the listing
    for (int i = 0; i < 2; ++i) {
        const QByteArray &body = requests.at(i).body;
        QCOMPARE(requests.at(i).callName(), QString("UploadSiteHostedPictures"));
        QVERIFY(requests.at(i).header("Content-Type").startsWith("multipart/form-data; boundary="));
        // The XML part comes first, then the picture's bytes.
        const int xml = body.indexOf("<UploadSiteHostedPicturesRequest");
        QVERIFY(xml > 0 && body.indexOf(QByteArray("\xFF\xD8\xFF", 3)) > xml);
        QCOMPARE(XmlNode::parse(xmlPart(body)).value("RequesterCredentials/eBayAuthToken"),
                 QString("TOKEN-1"));
    }
    QFile local(folder + "20261206_a.jpg");
    QVERIFY(local.open(QIODevice::ReadOnly));
    QVERIFY(requests.at(0).body.contains(local.readAll()));
    QCOMPARE(texts(XmlNode::parse(requests.at(2).body), "Item/PictureDetails/PictureURL"),
             QStringList(
                 { "https://i.ebayimg.com/20261206_a.jpg", "https://i.ebayimg.com/20261206_b.jpg",
                   "https://example.invalid/fertig.jpg", "https://i.ebayimg.com/20261206_a.jpg" }));

    // A picture that can't be uploaded or read stops the listing before it is sent.
    m_server->setCallReply("UploadSiteHostedPictures",
                           FakeReply::ok(reply("UploadSiteHostedPictures", "Failure",
                                               error("Bild.", "Das Bild ist zu klein."))));
    TestSupport::MessageCapture log({ "app.net" });
    for (const char *image : { "20261206_b.jpg", "gibt-es-nicht.jpg" }) {
        m_server->clearRequests();
        messages.clear();
        QVERIFY(!api.verifyItem(Api_Ebay::Add, row, { picture(image, 0) }, messages, m_db->db()));
        QCOMPARE(messages, QStringList { api.getLastFail() });
        QVERIFY2(messages.first().contains("Bild"), qPrintable(messages.first()));
        for (const RecordedRequest &request : m_server->requests())
            QCOMPARE(request.callName(), QString("UploadSiteHostedPictures"));
    }
}

void TestListing::scheduledStart_data()
{
    QTest::addColumn<QByteArray>("answer"); // empty: no server configured
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("job id") << QByteArray("<result><id>4711</id></result>") << true
                            << QStringList { "4711" };
    QTest::newRow("failure") << QByteArray("FAIL: Kein Guthaben vorhanden") << false
                             << QStringList { "vorher", "Kein Guthaben vorhanden" };
    QTest::newRow("neither") << QByteArray("<result>?</result>") << false
                             << QStringList { "vorher" };
    QTest::newRow("not configured")
        << QByteArray() << false
        << QStringList { "vorher", "Der Startzeitserver ist nicht erreichbar." };
}

void TestListing::scheduledStart()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, result);
    QFETCH(QStringList, expected);
    if (answer.isEmpty())
        qunsetenv("ZERIRE_SERVER_URL");
    const ArticleRow row = article("Uhr & \"Kette\"");
    m_db->db()->insertSqlClean({ { "accountname", "zweites_konto" } }, "accounts");
    m_server->setReply("/zaruvovezira/listing.php", FakeReply::ok(answer));

    Api_Ebay api("TOKEN-1", nullptr, 0);
    QStringList messages { "vorher" };
    QCOMPARE(api.verifyItem(Api_Ebay::Schedule, row, {}, messages, m_db->db()), result);
    QCOMPARE(messages, expected);
    QCOMPARE(m_server->requestCount(), answer.isEmpty() ? 0 : 1);
    if (answer.isEmpty())
        return;
    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QString("/zaruvovezira/listing.php"));
    // The addition request with when and for whom at its end.
    const XmlNode root = XmlNode::parse(request.body);
    QCOMPARE(root.name(), QString("AddItemRequest"));
    QStringList sent;
    for (const char *path :
         { "Item/Title", "Planned", "AccountNames", "AccountName", "TrackSiteID" })
        sent << root.value(path);
    QCOMPARE(sent,
             QStringList({ "Uhr & \"Kette\"", "2026-12-24 18:00:00", "händler_1,zweites_konto",
                           "händler_1", "77" }));
    QVERIFY(root.has("Planned_Interval"));
}

// A listing read from the marketplace, saved as an article and revised goes back with the
// item elements it came with (the sold ones taken out of the quantities).
void TestListing::revisingAReadListingSendsItBack()
{
    m_server->setCallReply("GetMemberMessages",
                           FakeReply::ok(reply("GetMemberMessages", "Success")));
    m_server->setCallReply(
        "GetSellerList",
        FakeReply::ok(reply("GetSellerList", "Success",
                            "<ItemArray>" + QString::fromUtf8(kReadItem) + "</ItemArray>")));
    m_server->setCallReply("GetItem", FakeReply::ok(reply("GetItem", "Success", kReadItem)));
    m_server->setCallReply("ReviseFixedPriceItem",
                           FakeReply::ok(reply("ReviseFixedPriceItem", "Success")));
    const ArticleRow account = article();

    Database &db = *m_db->db();
    int id = 0;
    Api_Ebay reader("TOKEN-1", nullptr, 0);
    connect(&reader, &Api_Ebay::sendAdItems, this, [&db, &id](QList<ArticleModel *> records) {
        for (ArticleModel *record : records)
            id = record->saveToDatabase(&db, 0);
        qDeleteAll(records);
    });
    QVERIFY(reader.getMyeBaySelling(account.value("accid").toString(), {},
                                    QDateTime::currentDateTime()));
    QVERIFY(id > 0);

    const SqlRows pictures
        = db.select(QString("SELECT * FROM articles_images WHERE article_id=%1 AND "
                            "(variant_name IS NULL OR variant_name = '')")
                        .arg(id));
    Api_Ebay api("TOKEN-1", nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(Api_Ebay::Revise, joined(id), pictures, messages, &db),
             qPrintable(api.getLastFail()));

    QCOMPARE(m_server->lastRequest().callName(), QString("ReviseFixedPriceItem"));
    const XmlNode original = XmlNode::parse(kReadItem);
    const XmlNode sent = XmlNode::parse(m_server->lastRequest().body).child("Item");
    const QString paths = "ItemID Title Description PrimaryCategory/CategoryID "
                          "PictureDetails/PictureURL Variations/Variation/SKU "
                          "Variations/Variation/VariationSpecifics/NameValueList/Value "
                          "Variations/Pictures/VariationSpecificName "
                          "Variations/Pictures/VariationSpecificPictureSet/PictureURL";
    for (const QString &path : paths.split(' '))
        QCOMPARE(texts(sent, path), texts(original, path));
    QStringList prices;
    for (const XmlNode &price : sent.all("Variations/Variation/StartPrice"))
        prices << QString::number(price.text().toDouble()) + ' ' + price.attribute("currencyID");
    QCOMPARE(prices, QStringList({ "12.5 EUR", "13 EUR" }));
    // A revision names the quantity still for sale; the marketplace adds the sold ones.
    QCOMPARE(texts(sent, "Variations/Variation/Quantity"), QStringList({ "3", "1" }));
}

APP_TEST_MAIN(TestListing)
#include "test_listing.moc"
