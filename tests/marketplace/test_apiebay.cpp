#include "core/clock.h"
#include "marketplace/api_ebay.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kToken = "AgAAAA**AQAAAA**aAAAAA**geheimes+Token==";

// The keys of both environments and their sign-in names.
const QStringList kKeys
    = QString("ZERIRE_DEV_ID=dev-prod ZERIRE_APP_ID=app-prod "
              "ZERIRE_CERT_ID=cert-prod ZERIRE_DEV_ID_SANDBOX=dev-sbx "
              "ZERIRE_APP_ID_SANDBOX=app-sbx ZERIRE_CERT_ID_SANDBOX=cert-sbx "
              "ZERIRE_RUNAME=Revevor-Zerire-PRD ZERIRE_RUNAME_SANDBOX=Revevor-Zerire-SBX")
          .split(' ');

QByteArray reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<%1Response xmlns=\""
                   "urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3</%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

QString error(const QString &longMessage)
{
    return "<Errors><ShortMessage>Fehler.</ShortMessage><LongMessage>" + longMessage
        + "</LongMessage><ErrorCode>37</ErrorCode><SeverityCode>Error</SeverityCode></Errors>";
}

FakeReply answer(const QByteArray &body)
{
    return FakeReply::ok(body, "text/xml");
}

XmlNode body(const RecordedRequest &request)
{
    return XmlNode::parse(request.body);
}

// The last call's error text begins with `message`; empty `message`: no error.
bool failedWith(const Api_Ebay &api, const QString &message)
{
    return message.isEmpty() ? api.getLastFail().isEmpty() : api.getLastFail().startsWith(message);
}

} // namespace

class TestApiEbay : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void getUser_data();
    void getUser();
    void fetchToken_data();
    void fetchToken();
    void endItem_data();
    void endItem();

private:
    std::unique_ptr<FakeHttpServer> m_server;
};

void TestApiEbay::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    qputenv("ZERIRE_TRADING_SANDBOX_URL", m_server->url("/sandbox/ws/api.dll").toEncoded());
    for (const QString &key : kKeys)
        qputenv(qPrintable(key.section('=', 0, 0)), key.section('=', 1).toUtf8());
}

void TestApiEbay::cleanup()
{
    m_server.reset();
    qunsetenv("ZERIRE_TRADING_SANDBOX_URL");
    for (const QString &key : kKeys)
        qunsetenv(qPrintable(key.section('=', 0, 0)));
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestApiEbay::getUser_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("preferences");
    QTest::addColumn<QString>("message");
    const QByteArray user = reply("GetUser", "Success", "<User><UserID>händler_1</UserID></User>");
    const QByteArray preferences = reply("GetUserPreferences", "Success");
    QTest::newRow("production") << 0 << user << preferences << QString();
    QTest::newRow("sandbox") << 1 << user << preferences << QString();
    QTest::newRow("both refused") << 0
                                  << reply("GetUser", "Failure", error("Das Token ist abgelaufen."))
                                  << reply("GetUserPreferences", "Failure", error("Anderes."))
                                  << "Das Token ist abgelaufen.";
}

// The replies come back as they were sent (callers look for markers in them). Whether the
// token is logged shows fetchToken().
void TestApiEbay::getUser()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, preferences);
    QFETCH(QString, message);
    m_server->setCallReply("GetUser", answer(user).gzipped());
    m_server->setCallReply("GetUserPreferences", answer(preferences));
    TestSupport::MessageCapture log({ "app.net" });
    Api_Ebay api(kToken, nullptr, mode);
    QCOMPARE(api.getUser(), QString::fromUtf8(user + preferences));
    QVERIFY2(failedWith(api, message), qPrintable(api.getLastFail()));

    const QList<RecordedRequest> requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    const QByteArray keys = mode == 1 ? "-sbx" : "-prod";
    for (const RecordedRequest &request : requests) {
        QCOMPARE(request.path, QString(mode == 1 ? "/sandbox/ws/api.dll" : "/ws/api.dll"));
        for (const QByteArray key : { "dev", "app", "cert" })
            QCOMPARE(request.header("X-EBAY-API-" + key + "-NAME"), key + keys);
        QCOMPARE(request.header("X-EBAY-API-SITEID"), QByteArray("77"));
        // The token travels in the body only.
        QCOMPARE(body(request).value("RequesterCredentials/eBayAuthToken"), kToken);
        for (const QByteArray &value : request.headers)
            QVERIFY(!value.contains(kToken.toLatin1()));
    }
    QCOMPARE(body(requests.at(0)).value("DetailLevel"), QString("ReturnAll"));
    QCOMPARE(body(requests.at(1)).value("ShowSellerProfilePreferences"), QString("true"));
}

void TestApiEbay::fetchToken_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("token issued") << answer(
        reply("FetchToken", "Success", "<eBayAuthToken>v^1.1#i^1#NEU</eBayAuthToken>"))
                                  << "v^1.1#i^1#NEU||2027-12-06 14:30:05" << QString();
    QTest::newRow("success without token") << answer(reply("FetchToken", "Success")) << QString()
                                           << "eBay hat keinen Token ausgegeben.";
}

void TestApiEbay::fetchToken()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, result);
    QFETCH(QString, message);
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5)));
    m_server->setCallReply("FetchToken", answer);
    m_server->setDefaultReply(FakeReply::ok(reply("GetUser", "Success")));
    TestSupport::MessageCapture log({ "app.net" });

    // The user name stands in the token slot until the token is fetched.
    Api_Ebay api("händler_1", nullptr, 0);
    const QString secret = Api_Ebay::getUidForSession();
    QCOMPARE(api.fetchToken(secret, "händler_1"), result);
    QVERIFY2(failedWith(api, message), qPrintable(api.getLastFail()));
    const XmlNode sent = body(m_server->requests().first());
    QCOMPARE(sent.value("RequesterCredentials/Username") + '|' + sent.value("SecretID"),
             "händler_1|" + secret);
    QVERIFY(!sent.has("RequesterCredentials/eBayAuthToken"));

    // The next call uses the new token; neither it nor the secret id is logged.
    const QString token = result.isEmpty() ? "händler_1" : result.section("||", 0, 0);
    api.getUser();
    QCOMPARE(body(m_server->lastRequest()).value("RequesterCredentials/eBayAuthToken"), token);
    QVERIFY(log.count("FetchToken") >= 2);
    for (const auto &logged : log.messages()) {
        QVERIFY2(!logged.text.contains(secret), qPrintable(logged.text));
        QVERIFY2(result.isEmpty() || !logged.text.contains(token), qPrintable(logged.text));
    }
}

void TestApiEbay::endItem_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("message"); // empty: ended
    QTest::newRow("ended") << answer(reply("EndItem", "Success")) << QString();
    QTest::newRow("ended with a warning")
        << answer(reply("EndItem", "Warning",
                        "<Errors><ShortMessage>Hinweis.</ShortMessage><LongMessage>Gebote wurden "
                        "gestrichen.</LongMessage><SeverityCode>Warning</SeverityCode></Errors>"))
        << QString();
    QTest::newRow("refused, the word Success in its message")
        << answer(reply("EndItem", "Failure", error("Success ist hier nicht möglich.")))
        << "Success ist hier nicht möglich.";
    QTest::newRow("already ended, message in CDATA")
        << answer(reply("EndItem", "Failure", error("&lt;![CDATA[Schon beendet.]]&gt;")))
        << "Schon beendet.";
    QTest::newRow("no answer") << FakeReply::dropped() << "Keine Verbindung zu eBay";
    QTest::newRow("time-out") << answer(reply("EndItem", "Success")).neverInTime()
                              << "eBay hat nicht innerhalb von 1 Sekunden geantwortet.";
    QTest::newRow("server error without document")
        << FakeReply::withStatus(500, "Internal Server Error") << "Fehler bei der Verbindung";
    QTest::newRow("not XML") << FakeReply::ok("<html><body>Wartung</body>")
                             << "Unverständliche Antwort von eBay (EndItem).";
}

// While waiting, the thread's queued calls are delivered.
void TestApiEbay::endItem()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, message);
    m_server->setCallReply("EndItem", answer);
    Api_Ebay api(kToken, nullptr, 0);
    api.setTimeout(400);
    TestSupport::MessageCapture log({ "app.net" });
    bool delivered = false;
    QMetaObject::invokeMethod(
        this, [&delivered] { delivered = true; }, Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(api.endItem("NotAvailable", "110012345678", "16"), message.isEmpty());
    // Promptly: at most the time-out (with room for a busy machine), never the default minute.
    QVERIFY(timer.elapsed() < 8000);
    QVERIFY(delivered);
    QVERIFY2(failedWith(api, message), qPrintable(api.getLastFail()));

    const RecordedRequest request = m_server->lastRequest();
    QCOMPARE(QStringList({ request.header("X-EBAY-API-SITEID"), body(request).value("EndingReason"),
                           body(request).value("ItemID") }),
             QStringList({ "16", "NotAvailable", "110012345678" }));
}

APP_TEST_GUILESS_MAIN(TestApiEbay)
#include "test_apiebay.moc"
