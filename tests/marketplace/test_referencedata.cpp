// The reference-data calls of Api_Ebay against the fake marketplace: what each call sends,
// how each reply becomes rows, the cache files and the failures. The successful replies are
// in tests/data/marketplace/, one per call.
#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "marketplace/api_ebay.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;
using Rows = QList<QMap<QString, QString>>;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kToken = "TOKEN-7f3a";
const QString kRejected = "Das Token ist ungültig oder abgelaufen.";

QByteArray tradingReply(const QString &call, const QString &body, const QString &ack)
{
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + call
                   + "Response xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Timestamp>"
                     "2024-03-05T10:15:00.000Z</Timestamp><Ack>"
                   + ack + "</Ack><Version>1423</Version>" + body + "</" + call + "Response>")
        .toUtf8();
}

QString tradingError(const QString &longText, int code, const QString &severity)
{
    return QString("<Errors><ShortMessage>Fehler.</ShortMessage><LongMessage>%1</LongMessage>"
                   "<ErrorCode>%2</ErrorCode><SeverityCode>%3</SeverityCode>"
                   "<ErrorClassification>RequestError</ErrorClassification></Errors>")
        .arg(longText, QString::number(code), severity);
}

QByteArray profilesReply(const QString &ack, const QString &body)
{
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<getSellerProfilesResponse "
                   "xmlns=\"http://www.ebay.com/marketplace/selling/v1/services\"><ack>"
                   + ack + "</ack><version>1.0.0</version>" + body + "</getSellerProfilesResponse>")
        .toUtf8();
}

QString profilesError(const QString &message, int id, const QString &severity)
{
    return QString("<error><errorId>%1</errorId><domain>Marketplace</domain><severity>%2"
                   "</severity><category>Application</category><message>%3</message></error>")
        .arg(QString::number(id), severity, message);
}

QString callName(const QString &what)
{
    static const QList<QPair<QString, QString>> calls = {
        { "suggested", "GetSuggestedCategories" },
        { "categories", "GetCategories" },
        { "details", "GeteBayDetails" },
        { "store", "GetStore" },
        { "discounts", "GetShippingDiscountProfiles" },
        { "specifics", "GetCategorySpecifics" },
        { "features", "GetCategoryFeatures" },
    };
    for (const auto &call : calls) {
        if (what.startsWith(call.first))
            return call.second;
    }
    return QString(); // seller profiles: no Trading call name
}

// The stored successful reply to the call of `what` (see fetch()).
QByteArray goodReply(const QString &what)
{
    const QString name = callName(what).isEmpty() ? QString("getSellerProfiles") : callName(what);
    QFile file(QFINDTESTDATA("../data/marketplace/" + name + ".xml"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A refusal: a warning first, then two errors; the first error's long message counts.
QByteArray failureReply(const QString &what)
{
    if (callName(what).isEmpty()) {
        return profilesReply("Failure",
                             "<errorMessage>" + profilesError("Hinweis zur Version.", 1, "Warning")
                                 + profilesError(kRejected, 20004, "Error")
                                 + profilesError("Profiltyp fehlt.", 20005, "Error")
                                 + "</errorMessage>");
    }
    return tradingReply(callName(what),
                        tradingError("Diese Version ist veraltet.", 21917, "Warning")
                            + tradingError(kRejected, 931, "Error")
                            + tradingError("Die Kategorie gibt es nicht.", 37, "Error"),
                        "Failure");
}

QMap<QString, QString> row(const QString &key, const QString &value)
{
    QMap<QString, QString> map;
    map.insert(key, value);
    return map;
}

// Rows as text, so that a failed comparison shows them.
QStringList lines(const Rows &rows)
{
    QStringList result;
    for (const auto &map : rows)
        result << map.firstKey() + " -> " + map.first();
    return result;
}

const QMap<QString, QString> kKept = row("keep", "was there before");

} // namespace

class TestReferenceData : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requests_data();
    void requests();
    void rows_data();
    void rows();
    void categoriesWaitLonger();

    void cachedCalls_data();
    void cacheReusedForSevenDays_data() { cachedCalls_data(); }
    void cacheReusedForSevenDays();
    void cacheOnlyHoldsSuccess_data() { cachedCalls_data(); }
    void cacheOnlyHoldsSuccess();
    void sandboxKeepsOwnCache_data() { cachedCalls_data(); }
    void sandboxKeepsOwnCache();
    void warningReplies_data();
    void warningReplies();

    void storeTable();

    void failures_data();
    void failures();

private:
    Rows fetch(const QString &what, Api_Ebay *api = nullptr);
    void answer(const QString &what, const FakeReply &reply);
    QString cacheFile(const QString &name) const { return m_t->db()->getCacheDir() + name; }

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<Api_Ebay> m_api;
    QString m_site;
};

void TestReferenceData::init()
{
    m_t = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    m_api = std::make_unique<Api_Ebay>(kToken);
    m_api->setTimeout(5000);
    m_site = "77";
}

void TestReferenceData::cleanup()
{
    Clock::setCurrentDateTimeForTesting(QDateTime());
    m_api.reset();
    m_server.reset();
    m_t.reset();
}

// Runs the call named by `what`; "details/<kind>" checks that the earlier rows stay first.
Rows TestReferenceData::fetch(const QString &what, Api_Ebay *api)
{
    api = api ? api : m_api.get();
    Database *db = m_t->db();
    const QString arg = what.section(QLatin1Char('/'), 1);
    if (what == QLatin1String("suggested"))
        return api->getSuggestedCategories("Lego Technic 42115", m_site);
    if (what == QLatin1String("categories"))
        return api->getCategories(m_site, "15032", 3);
    if (what == QLatin1String("categories-top"))
        return api->getCategories(m_site, "0", 1);
    if (what.startsWith(QLatin1String("details/"))) {
        Rows out { kKept };
        api->getEbayDetails(m_site, arg, out, db);
        if (out.isEmpty() || out.first() != kKept)
            return { row("!", "earlier rows lost") };
        return out.mid(1);
    }
    if (what == QLatin1String("store"))
        return api->getStore(m_site, 1, db);
    if (what.startsWith(QLatin1String("profiles/")))
        return api->getProfiles(arg, m_site, 1);
    if (what == QLatin1String("discounts"))
        return api->getShippingDiscountProfiles(db, 1);
    if (what == QLatin1String("specifics")) {
        const QString xml = api->getCategorySpecifics("9394", m_site, db);
        return xml.isEmpty() ? Rows() : Rows { row("xml", xml) };
    }
    return api->getCategoryFeatures("9394", m_site, arg, db);
}

void TestReferenceData::answer(const QString &what, const FakeReply &reply)
{
    if (callName(what).isEmpty())
        m_server->setReply(QUrl(Config::defaultValue(Config::Key::ProfilesUrl)).path(), reply);
    else
        m_server->setCallReply(callName(what), reply);
}

void TestReferenceData::requests_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("site");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    const QString returnAll = "<DetailLevel>ReturnAll</DetailLevel>";
    const QString allNodes = "<ViewAllNodes>true</ViewAllNodes>";
    QTest::newRow("suggested") << "suggested"
                               << "16" << QStringList { "<Query>Lego Technic 42115</Query>" }
                               << QStringList();
    QTest::newRow("categories below a parent")
        << "categories"
        << "16"
        << QStringList { returnAll, allNodes, "<LevelLimit>3</LevelLimit>",
                         "<CategorySiteID>16</CategorySiteID>",
                         "<CategoryParent>15032</CategoryParent>" }
        << QStringList();
    QTest::newRow("categories from the top")
        << "categories-top"
        << "16"
        << QStringList { returnAll, allNodes, "<LevelLimit>1</LevelLimit>",
                         "<CategorySiteID>16</CategorySiteID>" }
        << QStringList { "CategoryParent" };
    QTest::newRow("site details") << "details/CountryDetails"
                                  << "16" << QStringList { "<GeteBayDetailsRequest" }
                                  << QStringList { "DetailName" };
    QTest::newRow("store") << "store"
                           << "16"
                           << QStringList { "<CategoryStructureOnly>true</CategoryStructureOnly>" }
                           << QStringList();
    QTest::newRow("discount rules always on the German site")
        << "discounts"
        << "77" << QStringList { returnAll } << QStringList();
    QTest::newRow("specifics") << "specifics"
                               << "16" << QStringList { "<CategoryID>9394</CategoryID>" }
                               << QStringList();
    QTest::newRow("conditions") << "features/ConditionValues"
                                << "16"
                                << QStringList { "<CategoryID>9394</CategoryID>", returnAll,
                                                 allNodes,
                                                 "<FeatureID>ConditionValues</FeatureID>" }
                                << QStringList { "<FeatureID>EANEnabled</FeatureID>" };
    QTest::newRow("product identifiers")
        << "features/EANEnabled"
        << "16"
        << QStringList { "<FeatureID>EANEnabled</FeatureID>", "<FeatureID>ISBNEnabled</FeatureID>",
                         "<FeatureID>UPCEnabled</FeatureID>" }
        << QStringList();
    QTest::newRow("shipping policies")
        << "profiles/SHIPPING"
        << "EBAY-AT" << QStringList { "<profileType>SHIPPING</profileType>" }
        << QStringList { kToken };
}

void TestReferenceData::requests()
{
    QFETCH(QString, what);
    QFETCH(QString, site);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    m_site = "16";
    answer(what, FakeReply::ok(goodReply(what)));

    QVERIFY2(!fetch(what).isEmpty(), qPrintable(m_api->getLastFail()));
    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest request = m_server->lastRequest();
    const QString body = QString::fromUtf8(request.body);
    if (callName(what).isEmpty()) {
        QCOMPARE(request.header("X-EBAY-SOA-OPERATION-NAME"), QByteArray("getSellerProfiles"));
        QCOMPARE(request.header("X-EBAY-SOA-GLOBAL-ID"), site.toUtf8());
        QCOMPARE(request.header("X-EBAY-SOA-SECURITY-TOKEN"), kToken.toUtf8());
    } else {
        QCOMPARE(request.callName(), callName(what));
        QCOMPARE(request.header("X-EBAY-API-SITEID"), site.toUtf8());
        QVERIFY(body.contains("<eBayAuthToken>" + kToken));
    }
    for (const QString &part : qAsConst(present))
        QVERIFY2(body.contains(part), qPrintable(part + " missing in " + body));
    for (const QString &part : qAsConst(absent))
        QVERIFY2(!body.contains(part), qPrintable(part + " sent in " + body));
}

void TestReferenceData::rows_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<Rows>("expected");
    const auto r = [](const char *key, const char *value) {
        return row(QString::fromUtf8(key), QString::fromUtf8(value));
    };
    const auto heading = [](const char *category) {
        return row("-1", QString::fromUtf8(category));
    };

    QTest::newRow("suggested: parents before the name")
        << "suggested"
        << Rows { r("183448",
                    "Spielzeug > LEGO Bau- & Konstruktionsspielzeug > LEGO Komplettsets & Pakete"),
                  r("19006", "Spielzeug > LEGO Bauanleitungen"), r("220", "Spielzeug") };
    QTest::newRow("categories: parent left out")
        << "categories"
        << Rows { r("9355!!!2!!!true", "Handys & Smartphones"),
                  r("9394!!!2!!!", "Handy- & Smartphone-Zubehör"),
                  r("20349!!!3!!!true", "Hüllen & Taschen") };
    QTest::newRow("categories: from the top")
        << "categories-top"
        << Rows { r("15032!!!1!!!", "Handys & Kommunikation"),
                  r("9355!!!2!!!true", "Handys & Smartphones"),
                  r("9394!!!2!!!", "Handy- & Smartphone-Zubehör"),
                  r("20349!!!3!!!true", "Hüllen & Taschen") };
    QTest::newRow("payment options") << "details/PaymentOptionDetails"
                                     << Rows { r("MoneyXferAccepted", "Überweisung"),
                                               r("CashOnPickup", "Barzahlung bei Abholung") };
    QTest::newRow("return periods")
        << "details/ReturnsWithin" << Rows { r("Days_14", "14 Tage"), r("Days_30", "1 Monat") };
    QTest::newRow("return shipping payer")
        << "details/ShippingCostPaidBy" << Rows { r("Buyer", "Käufer"), r("Seller", "Verkäufer") };
    QTest::newRow("handling times in working days")
        << "details/DispatchTimeMaxDetails"
        << Rows { r("1", "1 Werktag"), r("2", "2 Werktage"), r("10", "10 Werktage") };
    QTest::newRow("countries in German") << "details/CountryDetails"
                                         << Rows { r("AT", "Österreich"), r("DE", "Deutschland"),
                                                   r("CH", "Schweiz"), r("FR", "France") };
    QTest::newRow("shipping categories")
        << "details/ShippingCategoryDetails"
        << Rows { r("STANDARD", "Standardversand"), r("PICKUP", "Abholung") };
    QTest::newRow("shipping locations")
        << "details/ShippingLocationDetails"
        << Rows { r("Worldwide", "Weltweit"), r("Europe", "Europa") };
    QTest::newRow("domestic services grouped")
        << "details/ShippingServiceDetails"
        << Rows { heading("EXPEDITED"),
                  r("DE_Express", "   Expressversand"),
                  r("DE_UPSExpress", "   UPS Express"),
                  heading("STANDARD"),
                  r("DE_DHLPaket", "   DHL Paket"),
                  heading("ECONOMY"),
                  r("DE_DeutschePostWarensendung", "   Deutsche Post Warensendung"),
                  r("DE_Sonderversand", "   Sonderversand") };
    QTest::newRow("international services grouped")
        << "details/IShippingServiceDetails"
        << Rows { heading("STANDARD"),  r("DE_DHLPaketInternational", "   DHL Paket International"),
                  heading("ECONOMY"),   r("DE_SonstigeInternational", "   Sonstige (unversichert)"),
                  heading("EXPEDITED"), r("DE_ExpressInternational", "   Express International") };
    QTest::newRow("unknown detail") << "details/TimeZoneDetails" << Rows();
    QTest::newRow("store depth-first by name")
        << "store" << Rows { r("2301", "Bücher"),           r("2310", "     Romane"),
                             r("2201", "Modellbau"),        r("2220", "     Flugmodelle"),
                             r("2210", "     Modellbahn"),  r("2211", "          Spur H0"),
                             r("2212", "          Spur N"), r("1", "Sonstige") };
    QTest::newRow("payment policies")
        << "profiles/PAYMENT"
        << Rows { r("5001", "(5001) Überweisung, Vorkasse"), r("5002", "(5002) Barzahlung") };
    QTest::newRow("return policies")
        << "profiles/RETURN_POLICY" << Rows { r("6001", "(6001) 14 Tage Rückgabe") };
    QTest::newRow("shipping policies")
        << "profiles/SHIPPING"
        << Rows { r("7001", "(7001) DHL versichert"), r("7002", "(7002) Päckchen bis 1 kg") };
    QTest::newRow("flat discount rules only")
        << "discounts"
        << Rows { r("1110001", "Jeder weitere Artikel 1 EUR günstiger"),
                  r("1110002", "Zweiter Artikel versandkostenfrei") };
    QTest::newRow("specifics: the reply itself")
        << "specifics" << Rows { row("xml", QString::fromUtf8(goodReply("specifics"))) };
    QTest::newRow("conditions of the category")
        << "features/ConditionValues"
        << Rows { r("1000", "Neu"), r("1500", "Neu: Sonstige"), r("3000", "Gebraucht"),
                  r("7000", "Als Ersatzteil / defekt") };
    QTest::newRow("variations inherited from the site")
        << "features/VariationsEnabled" << Rows { r("VariationsEnabled", "true") };
    QTest::newRow("identifiers: own and inherited")
        << "features/EANEnabled" << Rows { r("EANEnabled", "Required,Disabled,Enabled") };
}

void TestReferenceData::rows()
{
    QFETCH(QString, what);
    QFETCH(Rows, expected);
    answer(what, FakeReply::ok(goodReply(what)));

    QCOMPARE(lines(fetch(what)), lines(expected));
    QVERIFY2(m_api->getLastFail().isEmpty(), qPrintable(m_api->getLastFail()));
}

void TestReferenceData::categoriesWaitLonger()
{
    m_api->setTimeout(400);
    answer("categories", FakeReply::ok(goodReply("categories")).delayed(800));
    answer("suggested", FakeReply::ok(goodReply("suggested")).delayed(800));

    QCOMPARE(fetch("categories").size(), 3);
    QVERIFY(fetch("suggested").isEmpty());
    QVERIFY(!m_api->getLastFail().isEmpty());
}

void TestReferenceData::cachedCalls_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("file");
    QTest::newRow("site details") << "details/PaymentOptionDetails"
                                  << "ap2_GeteBayDetails_77.xml";
    QTest::newRow("store") << "store"
                           << "ap2_getStore_1_77.xml";
    QTest::newRow("policies") << "profiles/RETURN_POLICY"
                              << "ap2_getProfiles_RETURN_POLICY_77_1.xml";
    QTest::newRow("discount rules") << "discounts"
                                    << "api_getShippingDiscountProfiles_1.xml";
    QTest::newRow("specifics") << "specifics"
                               << "ap2_getCategorySpecifics_1_77_9394.xml";
    QTest::newRow("features") << "features/EANEnabled"
                              << "ap2_getCategoryFeatures_77_9394_EANEnabled.xml";
}

void TestReferenceData::cacheReusedForSevenDays()
{
    QFETCH(QString, what);
    QFETCH(QString, file);
    answer(what, FakeReply::ok(goodReply(what)));

    const Rows first = fetch(what);
    QVERIFY(!first.isEmpty());
    QCOMPARE(m_server->requestCount(), 1);
    QFile stored(cacheFile(file));
    QVERIFY2(stored.open(QIODevice::ReadOnly), qPrintable(stored.fileName()));
    QCOMPARE(stored.readAll(), goodReply(what));
    stored.close();

    QCOMPARE(lines(fetch(what)), lines(first));
    Clock::setCurrentDateTimeForTesting(QDateTime::currentDateTime().addDays(6));
    QCOMPARE(lines(fetch(what)), lines(first));
    QCOMPARE(m_server->requestCount(), 1);

    Clock::setCurrentDateTimeForTesting(QDateTime());
    QVERIFY(stored.open(QIODevice::ReadWrite));
    QVERIFY(stored.setFileTime(QDateTime::currentDateTime().addDays(-8),
                               QFileDevice::FileModificationTime));
    stored.close();
    QCOMPARE(lines(fetch(what)), lines(first));
    QCOMPARE(m_server->requestCount(), 2);
    QVERIFY(QFileInfo(stored).lastModified() > QDateTime::currentDateTime().addDays(-1));
}

void TestReferenceData::cacheOnlyHoldsSuccess()
{
    QFETCH(QString, what);
    QFETCH(QString, file);
    answer(what, FakeReply::ok(failureReply(what)));
    QVERIFY(fetch(what).isEmpty());
    QCOMPARE(m_api->getLastFail(), kRejected);
    QVERIFY(!QFile::exists(cacheFile(file)));

    answer(what, FakeReply::ok(goodReply(what)));
    const Rows good = fetch(what);
    QVERIFY(!good.isEmpty());
    QVERIFY(m_api->getLastFail().isEmpty());
    QCOMPARE(m_server->requestCount(), 2);

    // A cut-off file and a stored refusal are both fetched again and replaced.
    const QList<QByteArray> damaged
        = { goodReply(what).left(goodReply(what).size() / 2), failureReply(what) };
    for (const QByteArray &content : damaged) {
        QFile stored(cacheFile(file));
        QVERIFY(stored.open(QIODevice::WriteOnly | QIODevice::Truncate));
        stored.write(content);
        stored.close();
        const int before = m_server->requestCount();
        QCOMPARE(lines(fetch(what)), lines(good));
        QCOMPARE(m_server->requestCount(), before + 1);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), goodReply(what));
    }
}

void TestReferenceData::sandboxKeepsOwnCache()
{
    QFETCH(QString, what);
    QFETCH(QString, file);
    answer(what, FakeReply::ok(goodReply(what)));
    const Rows production = fetch(what);
    QVERIFY(QFile::exists(cacheFile(file)));

    Api_Ebay sandbox(kToken, nullptr, 1);
    sandbox.setTimeout(5000);
    QCOMPARE(lines(fetch(what, &sandbox)), lines(production));
    QCOMPARE(m_server->requestCount(), 2);
    QVERIFY(QFile::exists(cacheFile("sandbox_" + file)));
    fetch(what, &sandbox);
    fetch(what);
    QCOMPARE(m_server->requestCount(), 2);
}

void TestReferenceData::warningReplies_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("file");
    QTest::newRow("discount rules: used")
        << "discounts"
        << tradingReply("GetShippingDiscountProfiles",
                        tradingError("Diese Version ist veraltet.", 21917, "Warning")
                            + "<FlatShippingDiscount><DiscountProfile><DiscountProfileID>1"
                              "</DiscountProfileID><DiscountProfileName>Rabatt"
                              "</DiscountProfileName></DiscountProfile></FlatShippingDiscount>",
                        "Warning")
        << QStringList { "1 -> Rabatt" } << "api_getShippingDiscountProfiles_1.xml";
    QTest::newRow("policies: not used")
        << "profiles/PAYMENT"
        << profilesReply("Warning",
                         "<errorMessage>" + profilesError("Hinweis zur Version.", 1, "Warning")
                             + "</errorMessage><paymentProfileList><PaymentProfile><profileId>5001"
                               "</profileId><profileName>Barzahlung</profileName><profileType>"
                               "PAYMENT</profileType></PaymentProfile></paymentProfileList>")
        << QStringList() << "ap2_getProfiles_PAYMENT_77_1.xml";
}

void TestReferenceData::warningReplies()
{
    QFETCH(QString, what);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, expected);
    QFETCH(QString, file);
    answer(what, FakeReply::ok(reply));

    QCOMPARE(lines(fetch(what)), expected);
    QCOMPARE(m_api->getLastFail().isEmpty(), !expected.isEmpty());
    QVERIFY(!QFile::exists(cacheFile(file)));
}

void TestReferenceData::storeTable()
{
    Database *db = m_t->db();
    const auto insert = [db](int account, int site, const QString &catId, const QString &name) {
        const QMap<QString, QVariant> values { { "account", account }, { "site", site },
                                               { "catid", catId },     { "name", name },
                                               { "parentid", "0" },    { "level", 1 },
                                               { "sort", 0 } };
        return db->insertSqlClean(values, "shopcats") > 0;
    };
    QVERIFY(insert(2, 77, "900", "Anderes Konto"));
    QVERIFY(insert(1, 3, "901", "Andere Seite"));
    QVERIFY(insert(1, 77, "902", "Veraltet"));
    answer("store", FakeReply::ok(goodReply("store")));

    const Rows rows = fetch("store");
    QCOMPARE(rows.size(), 8);
    QStringList table;
    for (const auto &r : db->select(QStringLiteral(
             "SELECT account, site, catid, name, parentid, level, sort FROM shopcats ORDER BY "
             "account, site, catid"))) {
        table << QStringList { r.value("account").toString(),  r.value("site").toString(),
                               r.value("catid").toString(),    r.value("name").toString(),
                               r.value("parentid").toString(), r.value("level").toString(),
                               r.value("sort").toString() }
                     .join(QLatin1Char('|'));
    }
    const QStringList expected = {
        "1|3|901|Andere Seite|0|1|0",     "1|77|1|Sonstige|0|1|0",      "1|77|2201|Modellbau|0|1|1",
        "1|77|2210|Modellbahn|2201|2|1",  "1|77|2211|Spur H0|2210|3|2", "1|77|2212|Spur N|2210|3|1",
        "1|77|2220|Flugmodelle|2201|2|2", "1|77|2301|Bücher|0|1|2",     "1|77|2310|Romane|2301|2|1",
        "2|77|900|Anderes Konto|0|1|0",
    };
    QCOMPARE(table, expected);

    // While the cache file is fresh, the rows come from the table as it is.
    QVERIFY(db->executeSQL(QStringLiteral(
        "UPDATE shopcats SET name='Modellbau & Zubehör' WHERE catid='2201' AND account=1")));
    const Rows again = fetch("store");
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(again.value(2), row("2201", "Modellbau & Zubehör"));
    QCOMPARE(again.size(), rows.size());
}

void TestReferenceData::failures_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("message");
    const QStringList calls
        = { "suggested", "categories", "details/CountryDetails",  "store", "profiles/PAYMENT",
            "discounts", "specifics",  "features/ConditionValues" };
    for (const QString &what : calls) {
        const QByteArray name = what.toUtf8();
        QTest::newRow(name + ": dropped") << what << FakeReply::dropped() << QString();
        QTest::newRow(name + ": HTTP 500")
            << what << FakeReply::withStatus(500, "Internal Server Error") << QString();
        QTest::newRow(name + ": refused") << what << FakeReply::ok(failureReply(what)) << kRejected;
        QTest::newRow(name + ": malformed")
            << what << FakeReply::ok(goodReply(what).left(goodReply(what).size() - 40))
            << QString();
    }
}

void TestReferenceData::failures()
{
    QFETCH(QString, what);
    QFETCH(FakeReply, reply);
    QFETCH(QString, message);
    answer(what, reply);

    QCOMPARE(lines(fetch(what)), QStringList());
    QVERIFY(!m_api->getLastFail().isEmpty());
    if (!message.isEmpty())
        QCOMPARE(m_api->getLastFail(), message);
    QCOMPARE(QDir(m_t->db()->getCacheDir()).entryList(QDir::Files), QStringList());
    QCOMPARE(m_t->db()->selectCount("SELECT id FROM shopcats"), 0);
}

APP_TEST_GUILESS_MAIN(TestReferenceData)
#include "test_referencedata.moc"
