#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "mainwindow/setupaccount.h"
#include "tests/support/databaseoutage.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrlQuery>

using TestSupport::Backend;
using TestSupport::DatabaseOutage;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::TestDatabase;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QStringList kKeys = QString("ZERIRE_DEV_ID=dev-prod ZERIRE_APP_ID=app-prod "
                                  "ZERIRE_CERT_ID=cert-prod ZERIRE_DEV_ID_SANDBOX=dev-sbx "
                                  "ZERIRE_APP_ID_SANDBOX=app-sbx ZERIRE_CERT_ID_SANDBOX=cert-sbx "
                                  "ZERIRE_RUNAME=Revevor-Zerire-PRD "
                                  "ZERIRE_RUNAME_SANDBOX=Revevor-Zerire-SBX "
                                  "ZERIRE_SANDBOX_TOKEN=AgAAAA**sbx==||2027-01-31 12:00:00")
                              .split(' ');
const QString kToken = "v^1.1#i^1#f^0#r^1#I^3#p^3#t^Ul4xMF8xOk5FVQ==";

FakeReply reply(const QString &call, const QString &ack, const QString &payload)
{
    return FakeReply::ok(QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<%1Response xmlns="
                                 "\"urn:ebay:apis:eBLBaseComponents\"><Timestamp>2026-03-10T09:00:"
                                 "00.000Z</Timestamp><Ack>%2</Ack><Version>1193</Version>%3</"
                                 "%1Response>")
                             .arg(call, ack, payload)
                             .toUtf8(),
                         "text/xml;charset=utf-8");
}

QString user(const QString &businessType)
{
    return "<User><AboutMePage>false</AboutMePage><Email>laden@example.de</Email>"
           "<RegistrationAddress><Name><![CDATA[Müller &amp; Söhne]]></Name><Street1>Hauptstr. 1"
           "</Street1><CityName>Köln</CityName></RegistrationAddress><UserID>kaffee_laden</UserID>"
           "<SellerInfo><SellerBusinessType>"
        + businessType + "</SellerBusinessType></SellerInfo></User>";
}

template<typename T> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

// The newsletter form fields, decoded.
QMap<QString, QString> formFields(const QByteArray &body)
{
    QMap<QString, QString> fields;
    for (const QByteArray &pair : body.split('&')) {
        const int equals = pair.indexOf('=');
        fields.insert(QUrl::fromPercentEncoding(pair.left(equals)),
                      QUrl::fromPercentEncoding(pair.mid(equals + 1)));
    }
    return fields;
}

// Consent, name, "Autorisieren", "Token abholen".
void signIn(SetupAccount &dialog, const QString &name)
{
    child<QCheckBox>(&dialog, "ProtectBox")->setChecked(true);
    child<QLineEdit>(&dialog, "ebayName")->setText(name);
    child<QPushButton>(&dialog, "authButton")->click();
    child<QPushButton>(&dialog, "fetchButton")->click();
}

} // namespace

class TestSetupAccount : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void signInAddress_data();
    void signInAddress();
    void newAccount_data();
    void newAccount();
    void nothingWritten_data();
    void nothingWritten();
    void renewal_data();
    void renewal();
    void failedUserReply_data();
    void failedUserReply();
    void lookUpFails_data();
    void lookUpFails();
    void renewalRowNotRead_data();
    void renewalRowNotRead();
    void privacyLink_data();
    void privacyLink();

private:
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestDatabase> m_data;
};

void TestSetupAccount::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    for (const QString &key : kKeys)
        qputenv(qPrintable(key.section('=', 0, 0)), key.section('=', 1).toUtf8());
    m_server->setCallReply("FetchToken",
                           reply("FetchToken", "Success",
                                 "<eBayAuthToken>" + kToken
                                     + "</eBayAuthToken><HardExpirationTime>"
                                       "2027-09-01T10:00:00.000Z</HardExpirationTime>"));
    m_server->setCallReply("GetUser", reply("GetUser", "Success", user("Commercial")));
    m_server->setCallReply("GetUserPreferences", reply("GetUserPreferences", "Success", ""));
    m_server->setReply("/proc.php", FakeReply::ok("OK"));
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
    m_data = std::make_unique<TestDatabase>(Backend::SQLite);
    QVERIFY(m_data->error().isEmpty());
}

void TestSetupAccount::cleanup()
{
    m_data.reset();
    m_server.reset();
    for (const QString &key : kKeys)
        qunsetenv(qPrintable(key.section('=', 0, 0)));
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestSetupAccount::signInAddress_data()
{
    QTest::addColumn<int>("sandbox");
    QTest::addColumn<QString>("runame");
    QTest::addColumn<QString>("idItem");
    QTest::newRow("production") << 0 << "Revevor-Zerire-PRD"
                                << "sid";
    QTest::newRow("sandbox") << 1 << "Revevor-Zerire-SBX"
                             << "SessID";
}

void TestSetupAccount::signInAddress()
{
    QFETCH(int, sandbox);
    QFETCH(QString, runame);
    QFETCH(QString, idItem);
    const int id = m_data->db()->insertSqlClean(
        { { "accountname", "kaffee_laden" }, { "sandbox", sandbox }, { "acceptprotect", 1 } },
        "accounts");
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, QString::number(id), "kaffee_laden", 1);
    // The sandbox row's dialog offers no sign-in; the slot is reached directly.
    QMetaObject::invokeMethod(&dialog, "on_authButton_clicked");

    QCOMPARE(urls.urls().size(), 1);
    const QUrl url = urls.urls().first();
    QCOMPARE(url.path(), QString("/ws/eBayISAPI.dll"));
    const QUrlQuery query(url);
    QVERIFY(query.hasQueryItem("SignIn"));
    QCOMPARE(query.queryItemValue("runame"), runame);
    QVERIFY(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")
                .match(query.queryItemValue(idItem))
                .hasMatch());
}

void TestSetupAccount::newAccount_data()
{
    QTest::addColumn<QString>("businessType");
    QTest::addColumn<bool>("smallBusiness");
    QTest::addColumn<QString>("field1");
    QTest::newRow("commercial") << "Commercial" << true << "Gewerblich";
    QTest::newRow("private") << "Private" << false << "Privat";
}

void TestSetupAccount::newAccount()
{
    QFETCH(QString, businessType);
    QFETCH(bool, smallBusiness);
    QFETCH(QString, field1);
    m_server->setCallReply("GetUser", reply("GetUser", "Success", user(businessType)));
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, QString(), QString(), 0);
    QVERIFY(!child<QPushButton>(&dialog, "authButton")->isEnabled());
    child<QCheckBox>(&dialog, "Kleinunternehmer")->setChecked(smallBusiness);
    signIn(dialog, "kaffee_laden");

    QCOMPARE(dialog.result(), 1);
    QVERIFY(answers.messages().isEmpty());
    const QString secret = QUrlQuery(urls.urls().value(0)).queryItemValue("sid");
    QStringList calls;
    for (const auto &request : m_server->requests())
        calls << (request.callName().isEmpty() ? request.path : request.callName());
    QCOMPARE(calls, QStringList({ "FetchToken", "GetUser", "GetUserPreferences", "/proc.php" }));
    const auto requests = m_server->requests();
    QVERIFY(requests[0].body.contains("<SecretID>" + secret.toUtf8() + "</SecretID>"));
    QVERIFY(requests[0].body.contains("<Username>kaffee_laden</Username>"));
    QVERIFY(requests[1].body.contains("<eBayAuthToken>" + kToken.toUtf8() + "</eBayAuthToken>"));

    const auto rows = m_data->db()->select("SELECT * FROM accounts").value();
    QCOMPARE(rows.size(), 1);
    const auto row = rows.first();
    QCOMPARE(
        QStringList({ row["active"].toString(), row["token"].toString(), row["tokenexp"].toString(),
                      row["accountname"].toString(), row["acceptprotect"].toString(),
                      row["sandbox"].toString(), row["smallbiz"].toString() }),
        QStringList({ "1", kToken, "2027-03-10 09:00:00", "kaffee_laden", "1", "0",
                      smallBusiness ? "1" : "0" }));
    QVERIFY(row["apiresult"].toString().contains("<SellerBusinessType>" + businessType));
    QVERIFY(row["apiresult"].toString().contains("GetUserPreferencesResponse"));

    QCOMPARE(requests[3].method, QByteArray("POST"));
    const auto fields = formFields(requests[3].body);
    QCOMPARE(fields.keys(),
             QStringList(
                 { "act", "c", "email", "f", "field[1]", "field[7]", "fullname", "m", "u", "v" }));
    QCOMPARE(fields["fullname"], QString("Müller & Söhne"));
    QCOMPARE(fields["email"], QString("laden@example.de"));
    QCOMPARE(fields["field[1]"], field1);
    QCOMPARE(fields["act"] + fields["u"] + fields["f"] + fields["v"] + fields["field[7]"],
             QString("sub772Linux"));
}

void TestSetupAccount::nothingWritten_data()
{
    QTest::addColumn<QString>("unset");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("requests");
    QTest::newRow("fetch refused") << QString() << "noch nicht abgeschlossen" << 1;
    QTest::newRow("no redirect name") << "ZERIRE_RUNAME"
                                      << "ZERIRE_RUNAME" << 0;
    QTest::newRow("no application key") << "ZERIRE_APP_ID"
                                        << "ZERIRE_APP_ID" << 0;
}

void TestSetupAccount::nothingWritten()
{
    QFETCH(QString, unset);
    QFETCH(QString, message);
    QFETCH(int, requests);
    if (!unset.isEmpty())
        qunsetenv(qPrintable(unset));
    m_server->setCallReply(
        "FetchToken",
        reply("FetchToken", "Failure",
              "<Errors><ShortMessage>Nicht angemeldet.</ShortMessage><LongMessage>Die "
              "Anmeldung wurde noch nicht abgeschlossen.</LongMessage><ErrorCode>"
              "21916017</ErrorCode><SeverityCode>Error</SeverityCode></Errors>"));
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, QString(), QString(), 0);
    signIn(dialog, "kaffee_laden");

    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 1);
    QVERIFY2(answers.messages().first().text.contains(message),
             qPrintable(answers.messages().first().text));
    QCOMPARE(m_server->requestCount(), requests);
    QCOMPARE(urls.urls().size(), requests);
    QCOMPARE(m_data->db()->selectCount("SELECT id FROM accounts").value(), 0);
    QVERIFY(child<QPushButton>(&dialog, "authButton")->isEnabled());
}

void TestSetupAccount::renewal_data()
{
    QTest::addColumn<bool>("viaRenewal"); // else: "Neues Konto" with the same name
    QTest::addColumn<bool>("rowGone");
    QTest::addColumn<QString>("stored"); // the name of the account row there before
    QTest::addColumn<QString>("typed"); // the name entered in the dialog
    QTest::addColumn<QString>("expected"); // the rows afterwards: name, token, active
    QTest::newRow("renew") << true << false << "kaffee_laden"
                           << "KAFFEE_LADEN"
                           << "KAFFEE_LADEN|" + kToken + "|0";
    QTest::newRow("new account, name known") << false << false << "kaffee_laden"
                                             << "KAFFEE_LADEN"
                                             << "KAFFEE_LADEN|" + kToken + "|0";
    QTest::newRow("new account, known name with a quote") << false << false << "o'shop"
                                                          << "O'Shop"
                                                          << "O'Shop|" + kToken + "|0";
    QTest::newRow("row removed meanwhile") << true << true << "kaffee_laden"
                                           << "KAFFEE_LADEN" << QString();
}

void TestSetupAccount::renewal()
{
    QFETCH(bool, viaRenewal);
    QFETCH(bool, rowGone);
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    Database *db = m_data->db();
    const int id = db->insertSqlClean(
        { { "accountname", stored }, { "token", "alt" }, { "active", 0 } }, "accounts");
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, viaRenewal ? QString::number(id) : QString(),
                        viaRenewal ? stored : "", 0);
    if (rowGone)
        QVERIFY(db->executeSQL("DELETE FROM accounts"));
    signIn(dialog, typed);

    QStringList rows;
    for (const auto &row : db->select("SELECT * FROM accounts").value())
        rows << row["accountname"].toString() + '|' + row["token"].toString() + '|'
                + row["active"].toString();
    QCOMPARE(rows.join(','), expected);
    QCOMPARE(m_server->requests().last().callName(), QString("GetUserPreferences"));
    QCOMPARE(dialog.result(), rowGone ? 0 : 1);
    QCOMPARE(answers.messages().size(), rowGone ? 1 : 0);
}

void TestSetupAccount::failedUserReply_data()
{
    QTest::addColumn<QString>("call"); // the account call that fails
    QTest::addColumn<FakeReply>("answer");
    QTest::newRow("GetUser refused")
        << "GetUser"
        << reply("GetUser", "Failure",
                 "<Errors><ShortMessage>Fehler.</ShortMessage><LongMessage>Zugriff verweigert."
                 "</LongMessage><ErrorCode>931</ErrorCode><SeverityCode>Error</SeverityCode>"
                 "</Errors>");
    QTest::newRow("GetUser cut off") << "GetUser"
                                     << FakeReply::ok("<?xml version=\"1.0\"?><GetUserResponse "
                                                      "xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                                                      "<Ack>Success</Ack><User><Email>x");
    QTest::newRow("GetUserPreferences dropped") << "GetUserPreferences" << FakeReply::dropped();
}

// A new token is stored whatever the account calls answer, but only complete account data
// replace the stored ones.
void TestSetupAccount::failedUserReply()
{
    QFETCH(QString, call);
    QFETCH(FakeReply, answer);
    m_server->setCallReply(call, answer);
    Database *db = m_data->db();
    const QString good = "<GetUserResponse>" + user("Commercial") + "</GetUserResponse>";
    const int id = db->insertSqlClean(
        { { "accountname", "kaffee_laden" }, { "token", "alt" }, { "apiresult", good } },
        "accounts");
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, QString::number(id), "kaffee_laden", 1);
    signIn(dialog, "kaffee_laden");

    QCOMPARE(dialog.result(), 1);
    const auto row
        = db->select("SELECT token, apiresult FROM accounts WHERE id=" + QString::number(id))
              .value();
    QCOMPARE(row.value(0).value("token").toString(), kToken);
    QCOMPARE(row.value(0).value("apiresult").toString(), good);
    QCOMPARE(db->selectCount("SELECT id FROM accounts").value(), 1);
}

void TestSetupAccount::lookUpFails_data()
{
    using Fault = DatabaseOutage::Fault;
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("renewal"); // else "Neues Konto" with the stored name
    QTest::newRow("sqlite: file deleted") << Fault::FileDeleted << false;
    QTest::newRow("mysql: look-up of the name refused") << Fault::Refused << false;
    QTest::newRow("mysql: look-up of the renewed row refused") << Fault::Refused << true;
    QTest::newRow("mysql: server gone") << Fault::ServerGone << false;
}

// The database fails as the token is stored (the look-up of the account refused, the server
// gone, the file deleted): no second row, nothing stored, no newsletter sign-up, and the
// seller is told why.
void TestSetupAccount::lookUpFails()
{
    QFETCH(DatabaseOutage::Fault, fault);
    QFETCH(bool, renewal);
    APP_REQUIRE_OUTAGE(fault);
    m_data.reset();
    DatabaseOutage outage(fault);
    QVERIFY2(outage.error().isEmpty(), qPrintable(outage.error()));
    Database *db = outage.db();
    const int id
        = db->insertSqlClean({ { "accountname", "kaffee_laden" }, { "token", "alt" } }, "accounts");
    QVERIFY(id > 0);
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, renewal ? QString::number(id) : QString(),
                        renewal ? "kaffee_laden" : "", 0);
    QVERIFY(outage.strike(renewal ? "SELECT id FROM accounts WHERE id=" : "LOWER(accountname)"));
    signIn(dialog, "KAFFEE_LADEN");

    QCOMPARE(dialog.result(), 0);
    QCOMPARE(answers.messages().size(), 1);
    const QString prefix = "Das Konto wurde nicht gespeichert: ";
    const QString text = answers.lastMessageText();
    QVERIFY2(text.startsWith(prefix) && text.size() > prefix.size() + 5, qPrintable(text));
    if (fault == DatabaseOutage::Fault::Refused)
        QVERIFY2(text.contains("Refused by the test proxy"), qPrintable(text));
    QCOMPARE(m_server->requests().last().callName(), QString("GetUserPreferences"));
    QVERIFY(outage.mend());
    QStringList rows;
    for (const auto &row : db->select("SELECT accountname, token FROM accounts").value())
        rows << row["accountname"].toString() + '|' + row["token"].toString();
    QCOMPARE(rows, QStringList({ "kaffee_laden|alt" }));
}

void TestSetupAccount::renewalRowNotRead_data()
{
    TestSupport::addOutageRows();
}

// The row of the account whose token is to be renewed can't be read: the dialog says why and
// offers nothing that would store the token with sandbox and small business marks it did not
// read.
void TestSetupAccount::renewalRowNotRead()
{
    QFETCH(DatabaseOutage::Fault, fault);
    APP_REQUIRE_OUTAGE(fault);
    m_data.reset();
    DatabaseOutage outage(fault);
    QVERIFY2(outage.error().isEmpty(), qPrintable(outage.error()));
    const int id = outage.db()->insertSqlClean({ { "accountname", "kaffee_laden" },
                                                 { "token", "alt" },
                                                 { "smallbiz", 1 },
                                                 { "acceptprotect", 1 } },
                                               "accounts");
    QVERIFY(id > 0);
    QVERIFY(outage.strike("SELECT * FROM accounts WHERE id="));
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, QString::number(id), "kaffee_laden", 1);
    QTRY_COMPARE(answers.messages().size(), 1);
    const QString prefix = "Das Konto konnte nicht gelesen werden: ";
    QVERIFY2(answers.lastMessageText().startsWith(prefix)
                 && answers.lastMessageText().indexOf("\n\n") > prefix.size() + 5,
             qPrintable(answers.lastMessageText()));
    for (const char *name :
         { "ProtectBox", "ebayName", "Kleinunternehmer", "authButton", "fetchButton" })
        QVERIFY2(!child<QWidget>(&dialog, name)->isEnabled(), name);
    QCOMPARE(m_server->requestCount(), 0);
    QVERIFY(outage.mend());
    const auto row
        = outage.db()
              ->select("SELECT token, smallbiz FROM accounts WHERE id=" + QString::number(id))
              .value()
              .value(0);
    QCOMPARE(row.value("token").toString() + '|' + row.value("smallbiz").toString(),
             QString("alt|1"));
}

void TestSetupAccount::privacyLink_data()
{
    QTest::addColumn<bool>("configured"); // the address of the maker's site
    QTest::newRow("an address") << true;
    QTest::newRow("no address") << false;
}

// The link to the privacy statement, clicked, opens its page, or says that it has none.
void TestSetupAccount::privacyLink()
{
    QFETCH(bool, configured);
    if (!configured)
        qunsetenv("ZERIRE_SERVER_URL");
    const QString page = Config::serverAddress("/dsgvo");
    if (page.isEmpty() == configured)
        QSKIP("The build names an address of the maker's site of its own");
    UrlCapture urls;
    DialogAnswers answers;
    SetupAccount dialog(nullptr, QString(), QString(), 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // The link lies somewhere in the label's text: clicked along its lines until it answers.
    auto *label = child<QLabel>(&dialog, "label_6");
    const auto answered = [&] {
        return !urls.urls().isEmpty() || !answers.messages().isEmpty();
    };
    for (int y = 2; y < label->height() && !answered(); y += 3)
        for (int x = 2; x < label->width() && !answered(); x += 6)
            QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));

    if (configured) {
        QCOMPARE(urls.urls(), QList<QUrl>({ QUrl(page) }));
        QCOMPARE(answers.messages().size(), 0);
    } else {
        QCOMPARE(urls.urls(), QList<QUrl>());
        QCOMPARE(answers.lastMessageText(),
                 QString("Die Datenschutzbestimmungen sind nicht erreichbar: Es ist keine Adresse "
                         "für sie eingerichtet."));
    }
}

APP_TEST_MAIN(TestSetupAccount)
#include "test_setupaccount.moc"
