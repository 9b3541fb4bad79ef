#include "core/clock.h"
#include "marketplace/api_ebay.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QRegularExpression>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QByteArray kToken = QByteArrayLiteral("AgAAAA**AQAAAA**aAAAAA**geheimes+Token==");

QByteArray reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<%1Response "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Timestamp>2026-12-06T10:00:00."
               "000Z</Timestamp><Ack>%2</Ack>%3<Version>1423</Version>"
               "<Build>E1423_CORE_API_1</Build></%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

QString error(const QString &shortMessage, const QString &longMessage, const QString &severity,
              const QString &code = QStringLiteral("37"))
{
    return QStringLiteral("<Errors><ShortMessage>%1</ShortMessage><LongMessage>%2</LongMessage>"
                          "<ErrorCode>%3</ErrorCode><SeverityCode>%4</SeverityCode>"
                          "<ErrorClassification>RequestError</ErrorClassification></Errors>")
        .arg(shortMessage, longMessage, code, severity);
}

XmlNode body(const RecordedRequest &request)
{
    return XmlNode::parse(request.body);
}

} // namespace

class TestApiEbay : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void getUserSendsBothCallsAndReturnsTheRawReplies();
    void getUserWithoutNetwork();
    void getUserFailureIsReturnedRawWithItsMessage();
    void sandboxAndProductionUseTheirOwnEndpointsAndKeys();
    void fetchTokenKeepsTheNewToken();
    void fetchTokenFailures_data();
    void fetchTokenFailures();
    void authUrlAndSecretId();
    void endItem_data();
    void endItem();
    void transportFailures_data();
    void transportFailures();
    void queuedCallsArriveWhileWaiting();
    void tokenNeverReachesTheLog();

private:
    std::unique_ptr<FakeHttpServer> m_server;
};

void TestApiEbay::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    qputenv("ZERIRE_TRADING_SANDBOX_URL",
            m_server->url(QStringLiteral("/sandbox/ws/api.dll")).toString().toUtf8());
    qputenv("ZERIRE_DEV_ID", "dev-prod");
    qputenv("ZERIRE_APP_ID", "app-prod");
    qputenv("ZERIRE_CERT_ID", "cert-prod");
    qputenv("ZERIRE_DEV_ID_SANDBOX", "dev-sbx");
    qputenv("ZERIRE_APP_ID_SANDBOX", "app-sbx");
    qputenv("ZERIRE_CERT_ID_SANDBOX", "cert-sbx");
    qputenv("ZERIRE_RUNAME", "Revevor-Zerire-PRD");
    qputenv("ZERIRE_RUNAME_SANDBOX", "Revevor-Zerire-SBX");
}

void TestApiEbay::cleanup()
{
    m_server.reset();
    for (const char *name : { "ZERIRE_TRADING_SANDBOX_URL", "ZERIRE_DEV_ID", "ZERIRE_APP_ID",
                              "ZERIRE_CERT_ID", "ZERIRE_DEV_ID_SANDBOX", "ZERIRE_APP_ID_SANDBOX",
                              "ZERIRE_CERT_ID_SANDBOX", "ZERIRE_RUNAME", "ZERIRE_RUNAME_SANDBOX" })
        qunsetenv(name);
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestApiEbay::getUserSendsBothCallsAndReturnsTheRawReplies()
{
    const QByteArray user
        = reply(QStringLiteral("GetUser"), QStringLiteral("Success"),
                QStringLiteral("<User><UserID>händler_1</UserID><RegistrationAddress>"
                               "<Name>Erika Muster</Name><PostalCode>10115</PostalCode>"
                               "</RegistrationAddress><SellerInfo><StoreOwner>true"
                               "</StoreOwner></SellerInfo></User>"));
    const QByteArray preferences
        = reply(QStringLiteral("GetUserPreferences"), QStringLiteral("Success"),
                QStringLiteral("<SellerProfilePreferences><SellerProfileOptedIn>"
                               "true</SellerProfileOptedIn></SellerProfilePreferences>"));
    m_server->setCallReply(QStringLiteral("GetUser"), FakeReply::ok(user, "text/xml").gzipped());
    m_server->setCallReply(QStringLiteral("GetUserPreferences"),
                           FakeReply::ok(preferences, "text/xml"));

    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    const QString text = api.getUser();
    QCOMPARE(text, QString::fromUtf8(user + preferences));
    QVERIFY(text.contains(QLatin1String("<Ack>Success<")));
    QVERIFY(text.contains(QLatin1String("<StoreOwner>true<")));
    QVERIFY(api.getLastFail().isEmpty());

    const QList<RecordedRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).callName(), QStringLiteral("GetUser"));
    QCOMPARE(requests.at(1).callName(), QStringLiteral("GetUserPreferences"));
    for (const RecordedRequest &request : requests) {
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QStringLiteral("/ws/api.dll"));
        QCOMPARE(request.header("X-EBAY-API-SITEID"), QByteArray("77"));
        QCOMPARE(request.header("X-EBAY-API-COMPATIBILITY-LEVEL"), QByteArray("1423"));
        QCOMPARE(request.header("X-EBAY-API-DEV-NAME"), QByteArray("dev-prod"));
        QCOMPARE(request.header("X-EBAY-API-APP-NAME"), QByteArray("app-prod"));
        QCOMPARE(request.header("X-EBAY-API-CERT-NAME"), QByteArray("cert-prod"));
        QVERIFY(request.header("Content-Type").startsWith("text/xml"));
        // The token travels in the body only.
        for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
            QVERIFY2(!it.value().contains(kToken), it.key().constData());
        QVERIFY(request.body.contains("xmlns=\"urn:ebay:apis:eBLBaseComponents\""));
        const XmlNode root = body(request);
        QCOMPARE(root.name(), request.callName() + QStringLiteral("Request"));
        QCOMPARE(root.value(QStringLiteral("RequesterCredentials/eBayAuthToken")),
                 QString::fromLatin1(kToken));
    }
    QCOMPARE(body(requests.at(0)).value(QStringLiteral("DetailLevel")),
             QStringLiteral("ReturnAll"));
    QCOMPARE(body(requests.at(1)).value(QStringLiteral("ShowSellerProfilePreferences")),
             QStringLiteral("true"));
}

void TestApiEbay::getUserWithoutNetwork()
{
    const QByteArray preferences
        = reply(QStringLiteral("GetUserPreferences"), QStringLiteral("Success"));
    m_server->setCallReply(QStringLiteral("GetUser"), FakeReply::dropped());
    m_server->setCallReply(QStringLiteral("GetUserPreferences"), FakeReply::ok(preferences));
    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("GetUser failed")));
    const QString text = api.getUser();
    QCOMPARE(text, QString::fromUtf8(preferences));
    QVERIFY(!text.contains(QLatin1String("GetUserResponse")));
    QVERIFY(api.getLastFail().startsWith(QLatin1String("Keine Verbindung zu eBay")));
}

void TestApiEbay::getUserFailureIsReturnedRawWithItsMessage()
{
    const QByteArray user = reply(QStringLiteral("GetUser"), QStringLiteral("Failure"),
                                  error(QStringLiteral("Ungültiges Token."),
                                        QStringLiteral("Das Token ist abgelaufen."),
                                        QStringLiteral("Error"), QStringLiteral("932")));
    const QByteArray preferences
        = reply(QStringLiteral("GetUserPreferences"), QStringLiteral("Failure"),
                error(QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("Error")));
    m_server->setCallReply(QStringLiteral("GetUser"), FakeReply::ok(user));
    m_server->setCallReply(QStringLiteral("GetUserPreferences"), FakeReply::ok(preferences));
    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("GetUser answered Failure")));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("GetUserPreferences answered Failure")));
    QCOMPARE(api.getUser(), QString::fromUtf8(user + preferences));
    QCOMPARE(api.getLastFail(), QStringLiteral("Das Token ist abgelaufen."));
}

void TestApiEbay::sandboxAndProductionUseTheirOwnEndpointsAndKeys()
{
    m_server->setDefaultReply(
        FakeReply::ok(reply(QStringLiteral("EndItem"), QStringLiteral("Success"))));
    Api_Ebay sandbox(QStringLiteral("t"), nullptr, 1);
    QVERIFY(
        sandbox.endItem(QStringLiteral("NotAvailable"), QStringLiteral("1"), QStringLiteral("77")));
    Api_Ebay production(QStringLiteral("t"), nullptr, 0);
    QVERIFY(production.endItem(QStringLiteral("NotAvailable"), QStringLiteral("1"),
                               QStringLiteral("77")));
    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).path, QStringLiteral("/sandbox/ws/api.dll"));
    QCOMPARE(requests.at(0).header("X-EBAY-API-APP-NAME"), QByteArray("app-sbx"));
    QCOMPARE(requests.at(0).header("X-EBAY-API-CERT-NAME"), QByteArray("cert-sbx"));
    QCOMPARE(requests.at(1).path, QStringLiteral("/ws/api.dll"));
    QCOMPARE(requests.at(1).header("X-EBAY-API-DEV-NAME"), QByteArray("dev-prod"));
}

void TestApiEbay::fetchTokenKeepsTheNewToken()
{
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5)));
    m_server->setCallReply(
        QStringLiteral("FetchToken"),
        FakeReply::ok(reply(QStringLiteral("FetchToken"), QStringLiteral("Success"),
                            QStringLiteral("<eBayAuthToken>v^1.1#i^1#NEU</eBayAuthToken>"
                                           "<HardExpirationTime>2028-06-01T00:00:00.000Z"
                                           "</HardExpirationTime>"))));
    m_server->setCallReply(
        QStringLiteral("GetUser"),
        FakeReply::ok(reply(QStringLiteral("GetUser"), QStringLiteral("Success"))));
    m_server->setCallReply(
        QStringLiteral("GetUserPreferences"),
        FakeReply::ok(reply(QStringLiteral("GetUserPreferences"), QStringLiteral("Success"))));

    // The user name stands in the token slot until the token is fetched.
    Api_Ebay api(QStringLiteral("händler_1"), nullptr, 0);
    const QString secret = Api_Ebay::getUidForSession();
    QCOMPARE(api.fetchToken(secret, QStringLiteral("händler_1")),
             QStringLiteral("v^1.1#i^1#NEU||2027-12-06 14:30:05"));
    QVERIFY(api.getLastFail().isEmpty());

    const RecordedRequest request = m_server->requests().first();
    const XmlNode root = body(request);
    QCOMPARE(root.name(), QStringLiteral("FetchTokenRequest"));
    QCOMPARE(root.value(QStringLiteral("RequesterCredentials/Username")),
             QStringLiteral("händler_1"));
    QVERIFY(!root.has(QStringLiteral("RequesterCredentials/eBayAuthToken")));
    QCOMPARE(root.value(QStringLiteral("SecretID")), secret);
    QCOMPARE(root.value(QStringLiteral("ErrorLanguage")), QStringLiteral("de_DE"));
    QCOMPARE(root.value(QStringLiteral("WarningLevel")), QStringLiteral("High"));
    QCOMPARE(request.header("X-EBAY-API-APP-NAME"), QByteArray("app-prod"));

    api.getUser();
    QCOMPARE(
        body(m_server->lastRequest()).value(QStringLiteral("RequesterCredentials/eBayAuthToken")),
        QStringLiteral("v^1.1#i^1#NEU"));
}

void TestApiEbay::fetchTokenFailures_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("message");
    QTest::newRow("not signed in yet")
        << FakeReply::ok(reply(
               QStringLiteral("FetchToken"), QStringLiteral("Failure"),
               error(QStringLiteral("Ungültige Anmeldung."),
                     QStringLiteral("Der Benutzer hat die Anmeldung noch nicht abgeschlossen."),
                     QStringLiteral("Error"), QStringLiteral("21916017"))))
        << QStringLiteral("Der Benutzer hat die Anmeldung noch nicht abgeschlossen.");
    QTest::newRow("success without token")
        << FakeReply::ok(reply(QStringLiteral("FetchToken"), QStringLiteral("Success")))
        << QStringLiteral("eBay hat keinen Token ausgegeben.");
    QTest::newRow("no answer") << FakeReply::dropped()
                               << QStringLiteral("Keine Verbindung zu eBay");
}

void TestApiEbay::fetchTokenFailures()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, message);
    m_server->setCallReply(QStringLiteral("FetchToken"), answer);
    Api_Ebay api(QStringLiteral("name"), nullptr, 0);
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QCOMPARE(api.fetchToken(QStringLiteral("SECRET"), QStringLiteral("name")), QString());
    QVERIFY2(api.getLastFail().startsWith(message), qPrintable(api.getLastFail()));
}

void TestApiEbay::authUrlAndSecretId()
{
    const QString secret = Api_Ebay::getUidForSession();
    QVERIFY(QRegularExpression(
                QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                .match(secret)
                .hasMatch());
    QVERIFY(Api_Ebay::getUidForSession() != secret);

    const QString signIn = m_server->url(QStringLiteral("/ws/eBayISAPI.dll")).toString();
    QCOMPARE(Api_Ebay(QStringLiteral("x"), nullptr, 0).getAuthUrl(secret),
             signIn + QStringLiteral("?SignIn&runame=Revevor-Zerire-PRD&sid=") + secret);
    QCOMPARE(Api_Ebay(QStringLiteral("x"), nullptr, 1).getAuthUrl(secret),
             signIn + QStringLiteral("?SignIn&runame=Revevor-Zerire-SBX&SessID=") + secret);
    // The address the browser gets keeps every part.
    const QUrl url(Api_Ebay(QStringLiteral("x"), nullptr, 0).getAuthUrl(secret),
                   QUrl::TolerantMode);
    QVERIFY(url.isValid());
    QCOMPARE(url.query(), QStringLiteral("SignIn&runame=Revevor-Zerire-PRD&sid=") + secret);
}

void TestApiEbay::endItem_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("message");
    QTest::newRow("ended") << FakeReply::ok(
        reply(QStringLiteral("EndItem"), QStringLiteral("Success"),
              QStringLiteral("<EndTime>2026-12-06T10:00:00.000Z</EndTime>")))
                           << true << QString();
    QTest::newRow("already ended, message in CDATA")
        << FakeReply::ok(reply(QStringLiteral("EndItem"), QStringLiteral("Failure"),
                               error(QStringLiteral("Auktion beendet."),
                                     QStringLiteral("<![CDATA[Das Angebot ist bereits beendet.]]>"),
                                     QStringLiteral("Error"), QStringLiteral("1047"))))
        << false << QStringLiteral("Das Angebot ist bereits beendet.");
    QTest::newRow("no answer") << FakeReply::dropped() << false
                               << QStringLiteral("Keine Verbindung zu eBay");
}

void TestApiEbay::endItem()
{
    QFETCH(FakeReply, answer);
    QFETCH(bool, ended);
    QFETCH(QString, message);
    m_server->setCallReply(QStringLiteral("EndItem"), answer);
    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QCOMPARE(api.endItem(QStringLiteral("NotAvailable"), QStringLiteral("110012345678"),
                         QStringLiteral("16")),
             ended);
    QVERIFY2(api.getLastFail().startsWith(message), qPrintable(api.getLastFail()));
    QVERIFY(!api.getLastFail().contains(QLatin1String("CDATA")));
    if (ended)
        QVERIFY(api.getLastFail().isEmpty());

    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(request.callName(), QStringLiteral("EndItem"));
    QCOMPARE(request.header("X-EBAY-API-SITEID"), QByteArray("16"));
    const XmlNode root = body(request);
    QCOMPARE(root.value(QStringLiteral("EndingReason")), QStringLiteral("NotAvailable"));
    QCOMPARE(root.value(QStringLiteral("ItemID")), QStringLiteral("110012345678"));
}

void TestApiEbay::transportFailures_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("message");
    QTest::newRow("time-out")
        << FakeReply::ok(reply(QStringLiteral("EndItem"), QStringLiteral("Success"))).delayed(3000)
        << QStringLiteral("eBay hat nicht innerhalb von 1 Sekunden geantwortet.");
    QTest::newRow("server error without document")
        << FakeReply::withStatus(500, "Internal Server Error")
        << QStringLiteral("Fehler bei der Verbindung zu eBay: HTTP 500");
    QTest::newRow("not XML") << FakeReply::ok("<html><body>Wartung</body>")
                             << QStringLiteral("Unverständliche Antwort von eBay (EndItem).");
    QTest::newRow("warning before the error") << FakeReply::ok(reply(
        QStringLiteral("EndItem"), QStringLiteral("Failure"),
        error(QStringLiteral("Hinweis"), QStringLiteral("Nur ein Hinweis."),
              QStringLiteral("Warning"))
            + error(QStringLiteral("Fehler"), QStringLiteral("Der eigentliche Fehler."),
                    QStringLiteral("Error")))) << QStringLiteral("Der eigentliche Fehler.");
}

void TestApiEbay::transportFailures()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, message);
    m_server->setCallReply(QStringLiteral("EndItem"), answer);
    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    api.setTimeout(400);
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!api.endItem(QStringLiteral("Incorrect"), QStringLiteral("1"), QStringLiteral("77")));
    QVERIFY(timer.elapsed() < 2500);
    QVERIFY2(api.getLastFail().startsWith(message), qPrintable(api.getLastFail()));
    QVERIFY(log.count(QStringLiteral("EndItem")) >= 1);
}

void TestApiEbay::queuedCallsArriveWhileWaiting()
{
    m_server->setCallReply(
        QStringLiteral("EndItem"),
        FakeReply::ok(reply(QStringLiteral("EndItem"), QStringLiteral("Success"))).delayed(300));
    bool delivered = false;
    QObject receiver;
    QMetaObject::invokeMethod(
        &receiver, [&delivered] { delivered = true; }, Qt::QueuedConnection);
    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    QVERIFY(api.endItem(QStringLiteral("NotAvailable"), QStringLiteral("1"), QStringLiteral("77")));
    QVERIFY(delivered);
}

void TestApiEbay::tokenNeverReachesTheLog()
{
    m_server->setCallReply(
        QStringLiteral("FetchToken"),
        FakeReply::ok(reply(QStringLiteral("FetchToken"), QStringLiteral("Success"),
                            QStringLiteral("<eBayAuthToken>NEUES-GEHEIMNIS</eBayAuthToken>"))));
    m_server->setCallReply(
        QStringLiteral("GetUser"),
        FakeReply::ok(reply(QStringLiteral("GetUser"), QStringLiteral("Success"))));
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    Api_Ebay api(QString::fromLatin1(kToken), nullptr, 0);
    QVERIFY(!api.fetchToken(QStringLiteral("SECRET-ID-123"), QStringLiteral("n")).isEmpty());
    api.getUser();
    QVERIFY(log.count(QStringLiteral("FetchToken")) >= 2);
    for (const auto &message : log.messages()) {
        QVERIFY2(!message.text.contains(QLatin1String("NEUES-GEHEIMNIS")),
                 qPrintable(message.text));
        QVERIFY2(!message.text.contains(QString::fromLatin1(kToken)), qPrintable(message.text));
        QVERIFY2(!message.text.contains(QLatin1String("SECRET-ID-123")), qPrintable(message.text));
    }
}

APP_TEST_GUILESS_MAIN(TestApiEbay)
#include "test_apiebay.moc"
