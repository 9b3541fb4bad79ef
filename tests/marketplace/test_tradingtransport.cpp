// What the marketplace client sends goes to the address it was meant for only, what comes
// back is read only within sane limits, and the log keeps the replies' personal data out.

#include "core/blockingrequest.h"
#include "marketplace/api_ebay.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

#include <QDateTime>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

const QString kToken = QStringLiteral("AgAAAA**token-geheim-4711==");

const QStringList kKeys = QStringLiteral("ZERIRE_DEV_ID=dev-geheim ZERIRE_APP_ID=app-geheim "
                                         "ZERIRE_CERT_ID=cert-geheim")
                              .split(' ');

QByteArray reply(const QString &call, const QString &payload = QString())
{
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<%1Response xmlns=\""
                   "urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>%2</%1Response>")
        .arg(call, payload)
        .toUtf8();
}

QMap<QString, QVariant> article()
{
    return { { "Title", "Armbanduhr" },
             { "Site", "77" },
             { "ListingType", "FixedPriceItem" },
             { "StartPrice", "19.99" },
             { "Quantity", "1" },
             { "accountname", "händler_1" },
             { "Planned", "2026-12-24 18:00:00" } };
}

} // namespace

class TestTradingTransport : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void tokenGoesNowhereElse_data();
    void tokenGoesNowhereElse();
    void hostileRepliesAreRefused_data();
    void hostileRepliesAreRefused();
    void bodiesLoggedOnlyWhenAsked_data();
    void bodiesLoggedOnlyWhenAsked();
    void nothingSentWithoutKeys_data();
    void nothingSentWithoutKeys();

private:
    std::unique_ptr<FakeHttpServer> m_server;
};

void TestTradingTransport::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    qputenv("ZERIRE_SERVER_URL", m_server->url().toEncoded());
    for (const QString &key : kKeys)
        qputenv(qPrintable(key.section('=', 0, 0)), key.section('=', 1).toUtf8());
}

void TestTradingTransport::cleanup()
{
    m_server.reset();
    qunsetenv("ZERIRE_SERVER_URL");
    qunsetenv("ZERIRE_DEBUG_LOG_BODIES");
    for (const QString &key : kKeys)
        qunsetenv(qPrintable(key.section('=', 0, 0)));
    BlockingRequest::setReplyLimit(0);
}

void TestTradingTransport::tokenGoesNowhereElse_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason"); // %1: the address redirected to
    const QString marketplace = "Die Anfrage an eBay wurde an eine andere Adresse umgeleitet (%1) "
                                "und nicht dorthin gesendet.";
    const QString makers = "Der Startzeitserver ist nicht erreichbar. Der Server hat die Anfrage "
                           "an eine andere Adresse umgeleitet (%1); sie wurde nicht dorthin "
                           "gesendet.";
    QTest::newRow("Trading API, 307") << "verify" << 307 << marketplace;
    QTest::newRow("Trading API, 308") << "verify" << 308 << marketplace;
    QTest::newRow("seller profiles, 307") << "profiles" << 307 << marketplace;
    QTest::newRow("maker's server, 307") << "schedule" << 307 << makers;
    QTest::newRow("maker's server, 308") << "schedule" << 308 << makers;
}

// The first server sends everything on to a second one: the second hears nothing (neither
// token nor keys), and the caller reads why in German.
void TestTradingTransport::tokenGoesNowhereElse()
{
    QFETCH(QString, call);
    QFETCH(int, status);
    QFETCH(QString, reason);
    FakeHttpServer other;
    other.setDefaultReply(FakeReply::ok(reply("VerifyAddItem", "<id>4711</id>")));
    const QUrl away = other.url("/abgreifen");
    m_server->setDefaultReply(FakeReply::redirect(away.toEncoded(), status));

    Api_Ebay api(kToken, nullptr, 0);
    QStringList messages;
    bool ok = true;
    if (call == "profiles") {
        ok = !api.getProfiles("PAYMENT", "77", 1).isEmpty();
        messages << api.getLastFail();
    } else {
        ok = api.verifyItem(call == "schedule" ? Api_Ebay::Schedule : Api_Ebay::Verify, article(),
                            {}, messages, nullptr);
    }

    QCOMPARE(other.requestCount(), 0);
    QCOMPARE(m_server->requestCount(), 1);
    QVERIFY(!ok);
    QCOMPARE(messages, QStringList { reason.arg(away.toString()) });
}

void TestTradingTransport::hostileRepliesAreRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("lowLimit"); // the reply limit lowered to 1 MB
    QTest::addColumn<QString>("reason");
    const QByteArray start = "<?xml version=\"1.0\"?><VerifyAddItemResponse xmlns=\"urn:ebay:"
                             "apis:eBLBaseComponents\"><Ack>Success</Ack><Fees>";
    QTest::newRow("1,000,000 nested elements")
        << start + QByteArray("<Fee>").repeated(1000000) + QByteArray("</Fee>").repeated(1000000)
            + "</Fees></VerifyAddItemResponse>"
        << false
        << "Die Antwort von eBay wurde nicht gelesen: Die Elemente sind tiefer als 256 Ebenen "
           "verschachtelt.";
    QTest::newRow("over the reply limit")
        << start + "</Fees><Item><Description>" + QByteArray(2 * 1024 * 1024, 'x')
            + "</Description></Item></VerifyAddItemResponse>"
        << true << "Die Antwort von eBay ist größer als 1 MB und wurde nicht gelesen.";
}

// Never a crash, never a reply read without end: the call fails with the reason.
void TestTradingTransport::hostileRepliesAreRefused()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, lowLimit);
    QFETCH(QString, reason);
    if (lowLimit)
        BlockingRequest::setReplyLimit(1024 * 1024);
    m_server->setCallReply("VerifyAddItem", FakeReply::ok(body, "text/xml"));

    Api_Ebay api(kToken, nullptr, 0);
    QStringList messages;
    QVERIFY(!api.verifyItem(Api_Ebay::Verify, article(), {}, messages, nullptr));
    QCOMPARE(messages, QStringList { reason });
    QCOMPARE(api.getLastFail(), reason);
}

void TestTradingTransport::bodiesLoggedOnlyWhenAsked_data()
{
    QTest::addColumn<QByteArray>("variable"); // ZERIRE_DEBUG_LOG_BODIES; empty: not set
    QTest::addColumn<bool>("logged");
    QTest::newRow("not set") << QByteArray() << false;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("1") << QByteArray("1") << true;
}

// GetUser's reply holds the seller's address and e-mail: in the day's log only while
// debugging is switched on on purpose. The token never.
void TestTradingTransport::bodiesLoggedOnlyWhenAsked()
{
    QFETCH(QByteArray, variable);
    QFETCH(bool, logged);
    if (!variable.isEmpty())
        qputenv("ZERIRE_DEBUG_LOG_BODIES", variable);
    const QString user = "<User><Email>verkaeufer@example.de</Email><RegistrationAddress><Street>"
                         "Hauptstraße 1</Street></RegistrationAddress></User>";
    m_server->setCallReply("GetUser", FakeReply::ok(reply("GetUser", user), "text/xml"));
    m_server->setCallReply("GetUserPreferences",
                           FakeReply::ok(reply("GetUserPreferences"), "text/xml"));

    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    Api_Ebay api(kToken, nullptr, 0);
    QVERIFY(api.getUser().contains("verkaeufer@example.de"));

    QVERIFY(log.count("GetUser") > 0);
    QCOMPARE(log.count("verkaeufer@example.de") > 0, logged);
    QCOMPARE(log.count("Hauptstraße") > 0, logged);
    QCOMPARE(log.count("token-geheim") + log.count("geheim"), 0);
}

void TestTradingTransport::nothingSentWithoutKeys_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("mode"); // 1: a sandbox account
    QTest::addColumn<QStringList>("keys"); // those set; the others are not
    QTest::addColumn<QString>("missing"); // empty: the call is sent
    QTest::addColumn<bool>("rounds"); // the workers run their rounds (keys of one mode)
    const QString production = "ZERIRE_DEV_ID, ZERIRE_APP_ID, ZERIRE_CERT_ID";
    for (const char *call : { "GetUser", "AddItem", "EndItem", "GetSellerList",
                              "GetSuggestedCategories", "getSellerProfiles", "FetchToken" })
        QTest::newRow(call) << QString(call) << 0 << QStringList() << production << false;
    QTest::newRow("two of three keys")
        << "AddItem" << 0 << QStringList { "ZERIRE_DEV_ID=d", "ZERIRE_APP_ID=a" }
        << "ZERIRE_CERT_ID" << false;
    QTest::newRow("a sandbox account, production keys only")
        << "GetUser" << 1 << kKeys
        << "ZERIRE_DEV_ID_SANDBOX, ZERIRE_APP_ID_SANDBOX, ZERIRE_CERT_ID_SANDBOX" << true;
    QTest::newRow("production keys") << "GetUser" << 0 << kKeys << QString() << true;
    QTest::newRow("a sandbox account, sandbox keys only")
        << "GetUser" << 1
        << QStringList { "ZERIRE_DEV_ID_SANDBOX=d", "ZERIRE_APP_ID_SANDBOX=a",
                         "ZERIRE_CERT_ID_SANDBOX=c" }
        << QString() << true;
}

// Without the developer keys of its mode the client sends no request at all, and says what
// is missing and what to do.
void TestTradingTransport::nothingSentWithoutKeys()
{
    QFETCH(QString, call);
    QFETCH(int, mode);
    QFETCH(QStringList, keys);
    QFETCH(QString, missing);
    QFETCH(bool, rounds);
    for (const char *key :
         { "ZERIRE_DEV_ID", "ZERIRE_APP_ID", "ZERIRE_CERT_ID", "ZERIRE_DEV_ID_SANDBOX",
           "ZERIRE_APP_ID_SANDBOX", "ZERIRE_CERT_ID_SANDBOX" })
        qunsetenv(key);
    for (const QString &key : keys)
        qputenv(qPrintable(key.section('=', 0, 0)), key.section('=', 1).toUtf8());
    m_server->setDefaultReply(FakeReply::ok(reply(call, "<ItemID>110012345678</ItemID>")));
    TestSupport::MessageCapture log({ "app.net" });

    Api_Ebay api(kToken, nullptr, mode);
    QStringList messages;
    if (call == "GetUser") {
        api.getUser();
    } else if (call == "AddItem") {
        api.itemUuid = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");
        api.verifyItem(Api_Ebay::Add, article(), {}, messages, nullptr);
    } else if (call == "EndItem") {
        api.endItem("NotAvailable", "110012345678", "77");
    } else if (call == "GetSellerList") {
        api.getMyeBaySelling("1", {}, QDateTime::currentDateTimeUtc());
    } else if (call == "GetSuggestedCategories") {
        api.getSuggestedCategories("Armbanduhr 12345", "77");
    } else if (call == "getSellerProfiles") {
        api.getProfiles("PAYMENT", "77", 1);
    } else {
        api.fetchToken("SessionID-4711", "händler_1");
    }

    QCOMPARE(!TradingTransport::noKeys(), rounds);
    if (missing.isEmpty())
        QVERIFY(m_server->requestCount() > 0);
    else
        QCOMPARE(m_server->requestCount(), 0);
    if (!missing.isEmpty()) {
        const QString told
            = "Ohne die Entwicklerschlüssel von eBay wird nichts an eBay gesendet (kein Abgleich, "
              "kein Einstellen, keine Auswahllisten). Es fehlt: "
            + missing
            + ". Tragen Sie die Schlüssel als Umgebungsvariablen ein (siehe README, „Marketplace "
              "keys and addresses“) und starten Sie das Programm neu.";
        QVERIFY2(api.getLastFail() == told || messages.contains(told),
                 qPrintable(api.getLastFail() + " / " + messages.join(" / ")));
    }
}

APP_TEST_GUILESS_MAIN(TestTradingTransport)
#include "test_tradingtransport.moc"
