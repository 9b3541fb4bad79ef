#include "marketplace/api_ebay.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/sqlitereadrefusal.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QFile>
#include <QDir>
#include <QTemporaryDir>
#include <QImage>
#include <optional>

#include <sys/stat.h>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

FakeReply reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return FakeReply::ok(QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response xmlns=\""
                                 "urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3</%1Response>")
                             .arg(call, ack, payload)
                             .toUtf8());
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
    void repeatedUuid_data();
    void repeatedUuid();
    void unreadableArticleIsNotSent();
    void pictures();
    void picturesNotTaken_data();
    void picturesNotTaken();
    void scheduledStart_data();
    void scheduledStart();

private:
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

// A fixed-price article of a new account, its row joined with the account's columns as the
// listing calls get it.
ArticleRow TestListing::article(const QString &title)
{
    Database &db = *m_db->db();
    ArticleRow row
        = columns("Site=77;ListingType=FixedPriceItem;ListingDuration=GTC;StartPrice=19.99;"
                  "Quantity=3;PrimaryCategory=31387;ItemID=110012345678;VariantImageOption=Farbe;"
                  "Planned=2026-12-24 18:00:00");
    row.insert("Title", title);
    row.insert("Account",
               db.insertSqlClean(columns("accountname=händler_1;token=T-1"), "accounts"));
    return db
        .select(QString("SELECT a.accountname, a.smallbiz, a.apiresult, a.id AS accid, a.sandbox, "
                        "a.token, articles.* FROM articles JOIN accounts a ON articles.Account = "
                        "a.id WHERE articles.id=%1")
                    .arg(db.insertSqlClean(row, "articles")))
        .value()
        .value(0);
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

// Variations and their pictures come from the database.
void TestListing::callPerModeAndArticle()
{
    QFETCH(int, mode);
    QFETCH(bool, variations);
    QFETCH(QString, call);
    ArticleRow row = article();
    // The template's free texts are the seller's plain text, also when they hold markup.
    row.insert("Description", "<div class=\"$frei_02$\"><p>$frei_01$</p><p>$notes$</p></div>");
    row.insert("Free_01", "<script>alert(1)</script>");
    row.insert("Free_02", "x\" onmouseover=\"alert(2)");
    row.insert("Notes",
               "<a href=\"javascript:alert(3)\">12345,67 €</a><img src=x onerror=alert(4)>");
    Database &db = *m_db->db();
    for (const QString &colour : variations ? QStringList { "Rot", "Blau" } : QStringList()) {
        ArticleRow variation = columns("StartPrice=12;Quantity=2;VariantXml=<NameValueList><Name>"
                                       "Farbe</Name><Value>"
                                       + colour + "</Value></NameValueList>");
        variation.insert("article_id", row.value("id"));
        QVERIFY(db.insertSqlClean(variation, "articles_variations") > 0);
    }
    QVERIFY(db.insertSqlClean({ { "article_id", row.value("id") },
                                { "image", "https://i.example/rot.jpg" },
                                { "variant_name", "Rot" } },
                              "articles_images")
            > 0);
    m_server->setCallReply(call, reply(call, "Success", "<ItemID>1100999</ItemID>"));
    Api_Ebay api("T-1", nullptr, 0);
    api.itemUuid = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
    QStringList messages;
    QVERIFY2(api.verifyItem(mode, row, {}, messages, &db), qPrintable(api.getLastFail()));
    QCOMPARE(api.lastItemId, QString("1100999"));

    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(request.callName(), call);
    QCOMPARE(request.header("X-EBAY-API-SITEID"), QByteArray("77"));
    const XmlNode root = XmlNode::parse(request.body);
    // Only additions and relistings carry the UUID.
    QCOMPARE(root.value("Item/UUID"),
             mode == Api_Ebay::Add || mode == Api_Ebay::Relist ? api.itemUuid : QString());
    QCOMPARE(root.all("Item/Variations/Variation").size(), variations ? 2 : 0);
    QCOMPARE(root.value("Item/Variations/Pictures/VariationSpecificPictureSet/PictureURL"),
             QString(variations ? "https://i.example/rot.jpg" : ""));
    QCOMPARE(root.value("Item/Description"),
             QString("<div class=\"x&quot;&#32;onmouseover&#61;&quot;alert(2)\"><p>&lt;script&gt;"
                     "alert(1)&lt;/script&gt;</p><p>&lt;a href=&quot;javascript:alert(3)&quot;"
                     "&gt;12345,67 €&lt;/a&gt;&lt;img src=x onerror=alert(4)&gt;</p></div>"));
}

void TestListing::repliesBecomeMessages_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<QStringList>("expected"); // after "vorher"; empty: the call failed
    // Free features are not shown; without a listing fee the fees are summed.
    QTest::newRow("warnings") << reply(
        "AddItem", "Warning",
        "<ItemID>1100002</ItemID><Fees>" + fee("InsertionFee", "0.35") + fee("SubtitleFee", "0.0")
            + fee("BoldFee", "2") + "</Fees>" + error("Hinweis.", "Hinweis.", "Warning")
            + error("Bild.", "Zu klein.", "Warning"))
                              << "1100002"
                              << QStringList { "InsertionFee: 0.35 EUR", "BoldFee: 2 EUR",
                                               "Hinweis.", "Bild.: Zu klein.",
                                               "Einstellgebühren: 2.35 EUR" };
    QTest::newRow("failure, every error shown")
        << reply("AddItem", "Failure", error("Kategorie.", "Fehlt.") + error("Preis.", "Zu tief."))
        << "" << QStringList { "Kategorie.: Fehlt.", "Preis.: Zu tief." };
}

void TestListing::repliesBecomeMessages()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, itemId);
    QFETCH(QStringList, expected);
    m_server->setCallReply("AddItem", answer);
    const ArticleRow row = article();
    Api_Ebay api("T-1", nullptr, 0);
    TestSupport::MessageCapture log({ "app.net" });
    QStringList messages { "vorher" };
    const bool succeeded = !itemId.isEmpty();
    QCOMPARE(api.verifyItem(Api_Ebay::Add, row, {}, messages, m_db->db()), succeeded);
    QCOMPARE(messages, QStringList { "vorher" } + expected);
    QCOMPARE(api.lastItemId, itemId);
    QCOMPARE(api.getLastFail().isEmpty(), succeeded);
}

void TestListing::repeatedUuid_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("uuid"); // sent with the second call
    QTest::addColumn<FakeReply>("second"); // empty: as the fake marketplace answers a repeat
    QTest::addColumn<QString>("itemId"); // empty: the second call failed
    const QString uuid = QStringLiteral("00112233445566778899AABBCCDDEEFF");
    const QString other = QStringLiteral("FFEEDDCCBBAA99887766554433221100");
    const QString duplicate = QStringLiteral(
        "<Errors><ShortMessage>Duplicate UUID used.</ShortMessage><LongMessage>The specified UUID "
        "has already been used; ListedByRequestAppId=1, item ID=110000000077.</LongMessage>"
        "<ErrorCode>488</ErrorCode><SeverityCode>Error</SeverityCode></Errors>");
    QTest::newRow("addition repeated") << int(Api_Ebay::Add) << uuid << FakeReply() << "1100999";
    QTest::newRow("relisting repeated") << int(Api_Ebay::Relist) << uuid << FakeReply()
                                        << "1100999";
    QTest::newRow("named by the long message only")
        << int(Api_Ebay::Add) << other << reply("AddItem", "Failure", duplicate)
        << "110000000077";
    QTest::newRow("sent without a UUID") << int(Api_Ebay::Add) << QString()
                                         << reply("AddItem", "Failure", duplicate) << "";
    QTest::newRow("another error") << int(Api_Ebay::Add) << other
                                   << reply("AddItem", "Failure", error("Preis.", "Zu tief."))
                                   << "";
}

// An addition or relisting repeated with the UUID of one that was listed (its answer lost) is
// refused with error 488, which names the earlier listing: that is the call's success.
void TestListing::repeatedUuid()
{
    QFETCH(int, mode);
    QFETCH(QString, uuid);
    QFETCH(FakeReply, second);
    QFETCH(QString, itemId);
    const QString call = mode == Api_Ebay::Add ? "AddItem" : "RelistItem";
    const ArticleRow row = article();
    m_server->setCallReplies(call, { reply(call, "Success", "<ItemID>1100999</ItemID>"),
                                     second.body.isNull() ? reply(call, "Success",
                                                                  "<ItemID>1101000</ItemID>")
                                                          : second });
    TestSupport::MessageCapture log({ "app.net" });
    Api_Ebay api("T-1", nullptr, 0);
    api.itemUuid = QStringLiteral("00112233445566778899AABBCCDDEEFF");
    QStringList messages;
    QVERIFY(api.verifyItem(mode, row, {}, messages, m_db->db()));

    api.itemUuid = uuid;
    messages.clear();
    QCOMPARE(api.verifyItem(mode, row, {}, messages, m_db->db()), !itemId.isEmpty());
    QCOMPARE(api.lastItemId, itemId);
    QCOMPARE(api.getLastFail().isEmpty(), !itemId.isEmpty());
    QCOMPARE(m_server->requestCount(), 2);
}

// Without its variations an article is not sent: the read's failure is the reason.
void TestListing::unreadableArticleIsNotSent()
{
    const ArticleRow row = article();
    QVERIFY(m_db->db()->executeSQL("ALTER TABLE articles_variations RENAME TO weg"));
    TestSupport::MessageCapture log({ "app.db" });
    Api_Ebay api("T-1", nullptr, 0);
    QStringList messages;
    QVERIFY(!api.verifyItem(Api_Ebay::Add, row, {}, messages, m_db->db()));
    QVERIFY(!api.lastCallSent);
    QCOMPARE(m_server->requestCount(), 0);
    QVERIFY2(api.getLastFail().startsWith("Der Artikel konnte nicht aus der Datenbank gelesen "
                                          "werden: "),
             qPrintable(api.getLastFail()));
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
        return reply("UploadSiteHostedPictures", "Success",
                     "<SiteHostedPictureDetails><FullURL>https://i.ebayimg.com/" + name
                         + "</FullURL></SiteHostedPictureDetails>");
    });
    m_server->setCallReply("AddItem", reply("AddItem", "Success", "<ItemID>1100003</ItemID>"));
    const auto picture = [&row](const QString &image, int sort) {
        return QMap<QString, QVariant> { { "article_id", row.value("id") },
                                         { "image", image },
                                         { "sort", sort } };
    };
    const QList<ArticleRow> pictures
        = { picture("20261206_b.jpg", 1), picture("20261206_a.jpg", 0),
            picture("https://example.invalid/fertig.jpg", 2), picture("20261206_a.jpg", 3) };
    Api_Ebay api("T-1", nullptr, 0);
    QStringList messages;
    QVERIFY2(api.verifyItem(Api_Ebay::Add, row, pictures, messages, m_db->db()),
             qPrintable(api.getLastFail()));

    const QList<RecordedRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 3); // two uploads, then the listing
    QStringList urls;
    for (const XmlNode &url :
         XmlNode::parse(requests.at(2).body).all("Item/PictureDetails/PictureURL"))
        urls << url.text();
    QCOMPARE(urls,
             QStringList(
                 { "https://i.ebayimg.com/20261206_a.jpg", "https://i.ebayimg.com/20261206_b.jpg",
                   "https://example.invalid/fertig.jpg", "https://i.ebayimg.com/20261206_a.jpg" }));
    // A multipart request: the XML part with the token first, then the picture's bytes.
    const QByteArray &upload = requests.at(0).body;
    QVERIFY(requests.at(0).header("Content-Type").startsWith("multipart/form-data; boundary="));
    QCOMPARE(XmlNode::parse(xmlPart(upload)).value("RequesterCredentials/eBayAuthToken"),
             QString("T-1"));
    QFile local(folder + "20261206_a.jpg");
    QVERIFY(local.open(QIODevice::ReadOnly));
    const int xml = upload.indexOf("<UploadSiteHostedPicturesRequest");
    QVERIFY(xml > 0 && upload.indexOf(local.readAll()) > xml);

    // A picture that can't be uploaded or read stops the listing before it is sent.
    m_server->setCallReply(
        "UploadSiteHostedPictures",
        reply("UploadSiteHostedPictures", "Failure", error("Bild.", "Das Bild ist zu klein.")));
    TestSupport::MessageCapture log({ "app.net" });
    for (const char *image : { "20261206_b.jpg", "gibt-es-nicht.jpg" }) {
        m_server->clearRequests();
        messages.clear();
        QVERIFY(!api.verifyItem(Api_Ebay::Add, row, { picture(image, 0) }, messages, m_db->db()));
        QCOMPARE(messages, QStringList { api.getLastFail() });
        QVERIFY(!messages.first().isEmpty());
        for (const RecordedRequest &request : m_server->requests())
            QCOMPARE(request.callName(), QString("UploadSiteHostedPictures"));
    }
}

// A picture row names a file of the picture folder; one of another workstation or a restored
// backup may name anything. Nothing but a picture of that folder goes up: no upload and no
// listing for any other, the seller told why.
void TestListing::picturesNotTaken_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("message"); // %1: the row's name, %2: the file's path
    QTest::newRow("leading out of the folder")
        << "outside" << "Das Bild \"%1\" liegt nicht im Bildordner des Programms und wird nicht "
                        "hochgeladen.";
    QTest::newRow("absolute path")
        << "absolute" << "Das Bild \"%1\" liegt nicht im Bildordner des Programms und wird nicht "
                         "hochgeladen.";
    QTest::newRow("link to a photo outside")
        << "link"
        << "Das Bild \"%2\" konnte nicht gelesen werden: „%2“ ist eine Verknüpfung; ihr wird nicht "
           "gefolgt.";
    QTest::newRow("FIFO")
        << "fifo" << "Das Bild \"%2\" konnte nicht gelesen werden: „%2“ ist keine gewöhnliche Datei.";
    // sub/privat-ausweis.jpg where sub links to a folder elsewhere.
    QTest::newRow("a folder link on the way")
        << "folder link"
        << "Das Bild \"%2\" konnte nicht gelesen werden: „%2“ liegt hinter einer Verknüpfung "
           "(„sub“); ihr wird nicht gefolgt.";
    QTest::newRow("a sibling folder with the same beginning")
        << "sibling"
        << "Das Bild \"%1\" liegt nicht im Bildordner des Programms und wird nicht "
           "hochgeladen.";
    QTest::newRow("text file named .jpg")
        << "text" << "Das Bild \"%2\" wird nicht hochgeladen: Die Datei ist kein Bild, das sich "
                     "lesen lässt";
}

void TestListing::picturesNotTaken()
{
    QFETCH(QString, shape);
    QFETCH(QString, message);
    const ArticleRow row = article();
    const QString folder = m_db->db()->getCurrentAdImageDir();
    QTemporaryDir elsewhere;
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    const QString secret = elsewhere.filePath("privat-ausweis.jpg");
    QVERIFY(image.save(secret));
    QString name = "bild.jpg";
    if (shape == "outside")
        name = QDir(folder).relativeFilePath(secret);
    else if (shape == "absolute")
        name = secret;
    else if (shape == "link")
        QVERIFY(QFile::link(secret, folder + name));
    else if (shape == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(folder + name).constData(), 0600), 0);
    else if (shape == "folder link") {
        QVERIFY(QFile::link(elsewhere.path(), folder + "sub"));
        name = "sub/privat-ausweis.jpg";
    } else if (shape == "sibling") {
        const QString thumbs = m_db->db()->getCurrentAdImageDirThumbs();
        QVERIFY(image.save(thumbs + "bild.jpg"));
        name = "../" + QDir(thumbs).dirName() + "/bild.jpg";
        QVERIFY(QDir::cleanPath(folder).size() < QDir::cleanPath(thumbs).size()
                && QDir::cleanPath(thumbs).startsWith(QDir::cleanPath(folder)));
    } else {
        QFile text(folder + name);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("Kontonummer 1234\n") > 0);
    }
    QVERIFY(name.startsWith("../") || shape != "outside");
    m_server->setCallReply("UploadSiteHostedPictures",
                           reply("UploadSiteHostedPictures", "Success",
                                 "<SiteHostedPictureDetails><FullURL>https://i.ebayimg.com/x.jpg"
                                 "</FullURL></SiteHostedPictureDetails>"));
    m_server->setCallReply("AddItem", reply("AddItem", "Success", "<ItemID>1100003</ItemID>"));
    const QList<ArticleRow> pictures
        = { { { "article_id", row.value("id") }, { "image", name }, { "sort", 0 } } };
    Api_Ebay api("T-1", nullptr, 0);
    QStringList messages;
    QVERIFY(!api.verifyItem(Api_Ebay::Add, row, pictures, messages, m_db->db()));
    QCOMPARE(messages.size(), 1);
    const QString expected = QString(message).replace("%1", name).replace("%2", folder + name);
    QVERIFY2(messages.first().startsWith(expected), qPrintable(messages.first()));
    QCOMPARE(m_server->requests().size(), 0);
}

void TestListing::scheduledStart_data()
{
    QTest::addColumn<QByteArray>("answer"); // empty: no server configured
    QTest::addColumn<bool>("accountsRead"); // else the database refuses to read them
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("expected"); // the last one: its start
    QTest::newRow("job id") << QByteArray("<result><id>4711</id></result>") << true << true
                            << QStringList { "4711" };
    QTest::newRow("failure") << QByteArray("FAIL: Kein Guthaben vorhanden") << true << false
                             << QStringList { "vorher", "Kein Guthaben vorhanden" };
    QTest::newRow("not configured")
        << QByteArray() << true << false
        << QStringList { "vorher", "Der Startzeitserver ist nicht erreichbar." };
    // Without every account the service could not start the listing on the right one.
    QTest::newRow("accounts unreadable: not sent")
        << QByteArray("<result><id>4711</id></result>") << false << false
        << QStringList {
               "vorher",
               "Die Konten konnten nicht aus der Datenbank gelesen werden: access to accounts"
           };
}

void TestListing::scheduledStart()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, accountsRead);
    QFETCH(bool, result);
    QFETCH(QStringList, expected);
    if (answer.isEmpty())
        qunsetenv("ZERIRE_SERVER_URL");
    const ArticleRow row = article("Uhr & \"Kette\"");
    QVERIFY(m_db->db()->insertSqlClean({ { "accountname", "zweites_konto" } }, "accounts") > 0);
    m_server->setReply("/zaruvovezira/listing.php", FakeReply::ok(answer));
    std::optional<TestSupport::SqliteReadRefusal> refusal;
    std::optional<TestSupport::MessageCapture> log;
    if (!accountsRead) {
        log.emplace(QStringList { "app.db" });
        refusal.emplace("accounts", true);
        refusal->alsoOn(m_db->db()->connection());
    }

    Api_Ebay api("T-1", nullptr, 0);
    QStringList messages { "vorher" };
    QCOMPARE(api.verifyItem(Api_Ebay::Schedule, row, {}, messages, m_db->db()), result);
    QCOMPARE(messages.size(), expected.size());
    QCOMPARE(messages.mid(0, expected.size() - 1), expected.mid(0, expected.size() - 1));
    QVERIFY2(messages.last().startsWith(expected.last()), qPrintable(messages.last()));
    QCOMPARE(m_server->requestCount(), answer.isEmpty() || !accountsRead ? 0 : 1);
    if (answer.isEmpty() || !accountsRead)
        return;
    // The addition request, with the names of all accounts at its end.
    const XmlNode root = XmlNode::parse(m_server->lastRequest().body);
    QCOMPARE(root.name() + '|' + root.value("Item/Title") + '|' + root.value("AccountNames"),
             QString("AddItemRequest|Uhr & \"Kette\"|händler_1,zweites_konto"));
}

APP_TEST_MAIN(TestListing)
#include "test_listing.moc"
