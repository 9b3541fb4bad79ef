// The reference-data calls of Api_Ebay; their successful replies are in tests/data/marketplace/.
#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "marketplace/api_ebay.h"
#include "tests/support/encodedtext.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/sqlitereadrefusal.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;
using Rows = QList<QMap<QString, QString>>;

namespace {

const QString kToken = "TOKEN-7f3a";
const QString kRejected = "Das Token ist ungültig oder abgelaufen.";

// `what` names the call and, after a "/", its argument; the seller-policies service (its
// operation in lower case) is no Trading call.
bool isTrading(const QString &what)
{
    return what.startsWith('G');
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray goodReply(const QString &what)
{
    return contents(QStringLiteral(APP_TEST_DATA_DIR "/marketplace/") + what.section('/', 0, 0)
                    + ".xml");
}

// A refusal of either service: a warning first, then two errors; the first error's long
// message counts.
QByteArray failureReply(const QString &what)
{
    const QStringList errors = { "Warning:Diese Version ist veraltet.", "Error:" + kRejected,
                                 "Error:Die Kategorie gibt es nicht." };
    const QString call = what.section('/', 0, 0);
    const bool trading = isTrading(what);
    QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + call + "Response xmlns=\""
        + (trading ? "urn:ebay:apis:eBLBaseComponents\"><Ack>Failure</Ack>"
                   : "http://www.ebay.com/marketplace/selling/v1/services\"><ack>Failure</ack>"
                     "<errorMessage>");
    for (const QString &error : errors) {
        xml += QString(trading ? "<Errors><ShortMessage>Fehler.</ShortMessage><LongMessage>%2"
                                 "</LongMessage><SeverityCode>%1</SeverityCode></Errors>"
                               : "<error><severity>%1</severity><message>%2</message></error>")
                   .arg(error.section(':', 0, 0), error.section(':', 1));
    }
    return (xml + (trading ? "" : "</errorMessage>") + "</" + call + "Response>").toUtf8();
}

const QMap<QString, QString> kKept = { { "keep", "was there before" } };

} // namespace

class TestReferenceData : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void calls_data();
    void calls();
    void categoriesWaitLonger();
    void cache_data();
    void cache();
    void storeTable();
    void storeTableFaults();
    void storedReplyHidingAttributes_data();
    void storedReplyHidingAttributes();
    void specificsAsRead_data();
    void specificsAsRead();

private:
    QStringList fetch(const QString &what, Api_Ebay *api = nullptr);
    void answer(const QString &what, const QByteArray &body, int delayMs = 0);
    QString cacheFile(const QString &name) const { return m_t->db()->getCacheDir() + name; }

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<Api_Ebay> m_api;
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
}

void TestReferenceData::cleanup()
{
    Clock::setCurrentDateTimeForTesting(QDateTime());
    m_api.reset();
    m_server.reset();
    m_t.reset();
}

// Runs the call named by `what` for the Austrian site (16), its rows as "key -> value" lines.
// The site details must keep the rows that were there before theirs.
QStringList TestReferenceData::fetch(const QString &what, Api_Ebay *api)
{
    api = api ? api : m_api.get();
    Database *db = m_t->db();
    const QString call = what.section('/', 0, 0), arg = what.section('/', 1);
    Rows rows;
    if (call == "GetSuggestedCategories")
        rows = api->getSuggestedCategories("Lego Technic 42115", "16");
    else if (call == "GetCategories")
        rows = api->getCategories("16", arg == "top" ? "0" : "15032", arg == "top" ? 1 : 3);
    else if (call == "GeteBayDetails") {
        rows = { kKept };
        api->getEbayDetails("16", arg, rows, db);
        if (rows.takeFirst() != kKept)
            return { "earlier rows lost" };
    } else if (call == "GetStore")
        rows = api->getStore("16", 1, db);
    else if (call == "getSellerProfiles")
        rows = api->getProfiles(arg, "16", 1);
    else if (call == "GetShippingDiscountProfiles")
        rows = api->getShippingDiscountProfiles(db, 1);
    else if (call == "GetCategorySpecifics") {
        const QString xml = api->getCategorySpecifics("9394", "16", db);
        if (!xml.isEmpty())
            rows = { { { "xml", xml } } };
    } else
        rows = api->getCategoryFeatures("9394", "16", arg, db);
    QStringList lines;
    for (const auto &map : qAsConst(rows))
        lines << map.firstKey() + " -> " + map.first();
    return lines;
}

void TestReferenceData::answer(const QString &what, const QByteArray &body, int delayMs)
{
    const FakeReply reply = FakeReply::ok(body).delayed(delayMs);
    if (isTrading(what))
        m_server->setCallReply(what.section('/', 0, 0), reply);
    else
        m_server->setReply(QUrl(Config::defaultValue(Config::Key::ProfilesUrl)).path(), reply);
}

void TestReferenceData::calls_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QStringList>("sent"); // parts of the request; "!part": must not be sent
    QTest::addColumn<QStringList>("rows");
    const auto row = [](const char *what, const QStringList &sent, const QStringList &rows) {
        QTest::newRow(what) << QString(what) << sent << rows;
    };
    const QString returnAll = "<DetailLevel>ReturnAll</DetailLevel>";
    const QString allNodes = "<ViewAllNodes>true</ViewAllNodes>";
    const QString site = "<CategorySiteID>16</CategorySiteID>";
    const QStringList below
        = { "9355!!!2!!!true -> Handys & Smartphones", "9394!!!2!!! -> Handy- & Smartphone-Zubehör",
            "20349!!!3!!!true -> Hüllen & Taschen" };

    // Parents before the name.
    row("GetSuggestedCategories", { "<Query>Lego Technic 42115</Query>" },
        { "183448 -> Spielzeug > LEGO Bau- & Konstruktionsspielzeug > LEGO Komplettsets & Pakete",
          "19006 -> Spielzeug > LEGO Bauanleitungen", "220 -> Spielzeug" });
    // Id, level and leaf mark; the parent asked for is left out.
    row("GetCategories",
        { returnAll, allNodes, "<LevelLimit>3</LevelLimit>", site,
          "<CategoryParent>15032</CategoryParent>" },
        below);
    row("GetCategories/top",
        { returnAll, allNodes, "<LevelLimit>1</LevelLimit>", site, "!CategoryParent" },
        QStringList { "15032!!!1!!! -> Handys & Kommunikation" } + below);
    // Domestic services to choose, by category in the order first met; no pick-up. One reply
    // holds every detail of the site.
    row("GeteBayDetails/ShippingServiceDetails", { "<GeteBayDetailsRequest", "!DetailName" },
        { "-1 -> EXPEDITED", "DE_Express ->    Expressversand", "DE_UPSExpress ->    UPS Express",
          "-1 -> STANDARD", "DE_DHLPaket ->    DHL Paket", "-1 -> ECONOMY",
          "DE_DeutschePostWarensendung ->    Deutsche Post Warensendung",
          "DE_Sonderversand ->    Sonderversand" });
    // Depth first, by name, each level indented by five blanks.
    row("GetStore", { "<CategoryStructureOnly>true</CategoryStructureOnly>" },
        { "2301 -> Bücher", "2310 ->      Romane", "2201 -> Modellbau", "2220 ->      Flugmodelle",
          "2210 ->      Modellbahn", "2211 ->           Spur H0", "2212 ->           Spur N",
          "1 -> Sonstige" });
    row("getSellerProfiles/SHIPPING", { "<profileType>SHIPPING</profileType>" },
        { "7001 -> (7001) DHL versichert", "7002 -> (7002) Päckchen bis 1 kg" });
    // The flat-rate rules only.
    row("GetShippingDiscountProfiles", { returnAll },
        { "1110001 -> Jeder weitere Artikel 1 EUR günstiger",
          "1110002 -> Zweiter Artikel versandkostenfrei" });
    row("GetCategorySpecifics", { "<CategoryID>9394</CategoryID>" },
        { "xml -> " + QString::fromUtf8(goodReply("GetCategorySpecifics")) });
    row("GetCategoryFeatures/ConditionValues",
        { "<CategoryID>9394</CategoryID>", returnAll, allNodes,
          "<FeatureID>ConditionValues</FeatureID>", "!<FeatureID>EANEnabled</FeatureID>" },
        { "1000 -> Neu", "1500 -> Neu: Sonstige", "3000 -> Gebraucht",
          "7000 -> Als Ersatzteil / defekt" });
    // Inherited from the site's defaults where the category has no setting of its own.
    row("GetCategoryFeatures/VariationsEnabled", {}, { "VariationsEnabled -> true" });
    row("GetCategoryFeatures/EANEnabled",
        { "<FeatureID>EANEnabled</FeatureID>", "<FeatureID>ISBNEnabled</FeatureID>",
          "<FeatureID>UPCEnabled</FeatureID>" },
        { "EANEnabled -> Required,Disabled,Enabled" });
}

void TestReferenceData::calls()
{
    QFETCH(QString, what);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, rows);
    // A refusal gives no rows and its reason, and leaves no file and no shop rows behind.
    answer(what, failureReply(what));
    QCOMPARE(fetch(what), QStringList());
    QCOMPARE(m_api->getLastFail(), kRejected);
    QCOMPARE(QDir(m_t->db()->getCacheDir()).entryList(QDir::Files), QStringList());
    QCOMPARE(m_t->db()->selectCount("SELECT id FROM shopcats").value(), 0);

    // With warnings a reply is used but never kept; the policies count it as failed.
    answer(what, goodReply(what).replace("ck>Success</", "ck>Warning</"));
    QCOMPARE(fetch(what),
             isTrading(what) ? QStringList(rows).replaceInStrings("ck>Success</", "ck>Warning</")
                             : QStringList());
    QCOMPARE(m_api->getLastFail().isEmpty(), isTrading(what));
    QCOMPARE(QDir(m_t->db()->getCacheDir()).entryList(QDir::Files), QStringList());

    answer(what, goodReply(what));
    QCOMPARE(fetch(what), rows);
    QVERIFY2(m_api->getLastFail().isEmpty(), qPrintable(m_api->getLastFail()));
    QCOMPARE(m_server->requestCount(), 3);
    const RecordedRequest request = m_server->lastRequest();
    const QString body = QString::fromUtf8(request.body);
    if (!isTrading(what)) {
        // The policies service takes the token and the site in headers.
        QCOMPARE(request.header("X-EBAY-SOA-OPERATION-NAME"), QByteArray("getSellerProfiles"));
        QCOMPARE(request.header("X-EBAY-SOA-GLOBAL-ID"), QByteArray("EBAY-AT"));
        QCOMPARE(request.header("X-EBAY-SOA-SECURITY-TOKEN"), kToken.toUtf8());
        QVERIFY(!body.contains(kToken));
    } else {
        QCOMPARE(request.callName(), what.section('/', 0, 0));
        // Discount rules are always asked for on the German site.
        QCOMPARE(request.header("X-EBAY-API-SITEID"),
                 QByteArray(what.startsWith("GetShipping") ? "77" : "16"));
        QVERIFY(body.contains("<eBayAuthToken>" + kToken));
    }
    for (const QString &part : qAsConst(sent)) {
        if (part.startsWith('!'))
            QVERIFY2(!body.contains(part.mid(1)), qPrintable(part.mid(1) + " sent in " + body));
        else
            QVERIFY2(body.contains(part), qPrintable(part + " missing in " + body));
    }
}

void TestReferenceData::categoriesWaitLonger()
{
    // The category tree arrives after the ordinary time-out, with a wide margin before its
    // own (three times as long); the suggestions never come in time.
    m_api->setTimeout(1500);
    answer("GetCategories", goodReply("GetCategories"), 2000);
    m_server->setCallReply("GetSuggestedCategories",
                           FakeReply::ok(goodReply("GetSuggestedCategories")).neverInTime());
    QCOMPARE(fetch("GetCategories").size(), 3);
    QVERIFY(fetch("GetSuggestedCategories").isEmpty());
    QVERIFY(!m_api->getLastFail().isEmpty());
}

void TestReferenceData::cache_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("file");
    for (const auto &[what, file] : QList<QPair<QString, QString>> {
             { "GetStore", "ap2_getStore_1_16.xml" },
             { "getSellerProfiles/RETURN_POLICY", "ap2_getProfiles_RETURN_POLICY_16_1.xml" },
             { "GetCategoryFeatures/EANEnabled",
               "ap2_getCategoryFeatures_16_9394_EANEnabled.xml" } })
        QTest::newRow(qPrintable(what)) << what << file;
}

void TestReferenceData::cache()
{
    QFETCH(QString, what);
    QFETCH(QString, file);
    const QString path = cacheFile(file);
    // A successful reply is kept and used for seven days.
    answer(what, goodReply(what));
    const QStringList rows = fetch(what);
    QVERIFY(!rows.isEmpty());
    QCOMPARE(contents(path), goodReply(what));
    Clock::setCurrentDateTimeForTesting(QDateTime::currentDateTime().addDays(6));
    QCOMPARE(fetch(what), rows);
    Clock::setCurrentDateTimeForTesting(QDateTime());
    QCOMPARE(m_server->requestCount(), 1);

    // Older, cut off or holding a refusal, the file is fetched again and replaced.
    const QByteArray good = goodReply(what);
    for (const QByteArray &content :
         { QByteArray(), good.left(good.size() / 2), failureReply(what) }) {
        QFile stored(path);
        QVERIFY(stored.open(QIODevice::ReadWrite | QIODevice::Truncate));
        stored.write(content.isNull() ? good : content);
        stored.flush();
        QVERIFY(stored.setFileTime(QDateTime::currentDateTime().addDays(content.isNull() ? -8 : 0),
                                   QFileDevice::FileModificationTime));
        stored.close();
        const int before = m_server->requestCount();
        QCOMPARE(fetch(what), rows);
        QCOMPARE(fetch(what), rows);
        QCOMPARE(m_server->requestCount(), before + 1);
        QCOMPARE(contents(path), good);
    }

    // The sandbox keeps files of its own.
    Api_Ebay sandbox(kToken, nullptr, 1);
    const int before = m_server->requestCount();
    QCOMPARE(fetch(what, &sandbox), rows);
    QCOMPARE(fetch(what, &sandbox), rows);
    QVERIFY(QFile::exists(cacheFile("sandbox_" + file)));
    fetch(what);
    QCOMPARE(m_server->requestCount(), before + 1);
}

// A fetched shop replaces the rows of its account and site only (the tree in calls() is read
// back from them); while its file is fresh, the rows come from the table as it is.
void TestReferenceData::storeTable()
{
    Database *db = m_t->db();
    QVERIFY(
        db->executeSQL("INSERT INTO shopcats (account, site, catid, name, parentid, level, sort) "
                       "VALUES (2, 16, '900', 'Anderes Konto', '0', 1, 0), (1, 3, '901', "
                       "'Andere Seite', '0', 1, 0), (1, 16, '902', 'Veraltet', '0', 1, 0)"));
    answer("GetStore", goodReply("GetStore"));
    QCOMPARE(fetch("GetStore").size(), 8);
    QStringList table;
    for (const auto &r : db->select("SELECT account || '|' || site || '|' || catid AS r FROM "
                                    "shopcats ORDER BY account, site, catid")
                             .value())
        table << r.value("r").toString();
    QCOMPARE(table.join(' '),
             QString("1|3|901 1|16|1 1|16|2201 1|16|2210 1|16|2211 1|16|2212 "
                     "1|16|2220 1|16|2301 1|16|2310 2|16|900"));

    QVERIFY(db->executeSQL(
        "UPDATE shopcats SET name='Modellbau & Zubehör' WHERE catid='2201' AND account=1"));
    QCOMPARE(fetch("GetStore").value(2), QString("2201 -> Modellbau & Zubehör"));
    QCOMPARE(m_server->requestCount(), 1);
}

// A shop whose rows can't all be stored leaves the stored ones as they were, and says so;
// rows that can't be read are no shop without categories.
void TestReferenceData::storeTableFaults()
{
    Database *db = m_t->db();
    QVERIFY(
        db->executeSQL("INSERT INTO shopcats (account, site, catid, name, parentid, level, sort) "
                       "VALUES (1, 16, '902', 'Bisher', '0', 1, 0)"));
    QVERIFY(TestSupport::refuseRows(db, "shopcats", "INSERT", "voll", "NEW.catid = '2301'"));
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.net") });
    answer("GetStore", goodReply("GetStore"));
    QCOMPARE(fetch("GetStore"), QStringList { "902 -> Bisher" });
    QVERIFY(m_api->getLastFail().isEmpty());
    QVERIFY2(m_api->getStaleReason().startsWith("Die Shop-Kategorien konnten nicht gespeichert "
                                                "werden, es werden die zuletzt gespeicherten "
                                                "gezeigt: ")
                 && m_api->getStaleReason().contains("voll"),
             qPrintable(m_api->getStaleReason()));

    // Its rows not stored, its answer is not kept either: the next opening asks again and
    // stores them.
    QVERIFY(!QFile::exists(cacheFile("ap2_getStore_1_16.xml")));
    QVERIFY(db->executeSQL("DROP TRIGGER refuse_shopcats_insert"));
    QCOMPARE(fetch("GetStore").size(), 8);
    QVERIFY(m_api->getStaleReason().isEmpty());
    QCOMPARE(m_server->requestCount(), 2);
    QVERIFY(QFile::exists(cacheFile("ap2_getStore_1_16.xml")));

    // Its answer is fresh in the cache now: only the table is read.
    TestSupport::SqliteReadRefusal refusal("shopcats", true);
    refusal.alsoOn(db->connection());
    QCOMPARE(fetch("GetStore"), QStringList());
    QVERIFY2(m_api->getLastFail().startsWith(
                 "Die Shop-Kategorien konnten nicht aus der Datenbank gelesen werden: "),
             qPrintable(m_api->getLastFail()));
    QCOMPARE(m_server->requestCount(), 2);
    QCOMPARE(log.count("A failed read was taken"), 0);
}

void TestReferenceData::storedReplyHidingAttributes_data()
{
    QTest::addColumn<TestSupport::Encoding>("encoding");
    QTest::addColumn<bool>("fresh"); // else older than 7 days, while the marketplace refuses
    for (const TestSupport::Encoding &encoding : TestSupport::xmlEncodings()) {
        if (encoding.width == 1)
            continue;
        QTest::addRow("%s, fresh", encoding.name) << encoding << true;
        QTest::addRow("%s, older", encoding.name) << encoding << false;
    }
}

// A cache file holding a reply whose element hides its attributes from a scan of the bytes
// (in UTF-16 or UTF-32) is read no more than a reply from the marketplace: refused, it is
// fetched again and replaced, and an older one is not used in place of a refused call.
void TestReferenceData::storedReplyHidingAttributes()
{
    QFETCH(TestSupport::Encoding, encoding);
    QFETCH(bool, fresh);
    const QString what = "GetCategorySpecifics";
    const QString path = cacheFile("ap2_getCategorySpecifics_1_16_9394.xml");
    // The first attribute's name holds U+0122, in UTF-16 and UTF-32 a byte of '"'.
    QString attributes = " b\u0122=''";
    for (int i = 1; i <= 3000; ++i)
        attributes += QString(" a%1=''").arg(i);
    const QByteArray stored = TestSupport::encoded(
        "<GetCategorySpecificsResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success"
        "</Ack><Recommendations"
            + attributes + "/></GetCategorySpecificsResponse>",
        encoding);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(stored);
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(fresh ? 0 : -8),
                             QFileDevice::FileModificationTime));
    file.close();
    answer(what, fresh ? goodReply(what) : failureReply(what));

    const QStringList rows = fetch(what);
    QCOMPARE(m_server->requestCount(), 1);
    if (fresh) {
        QCOMPARE(rows, QStringList { "xml -> " + QString::fromUtf8(goodReply(what)) });
        QCOMPARE(contents(path), goodReply(what));
    } else {
        QCOMPARE(rows, QStringList());
        QCOMPARE(m_api->getLastFail(), kRejected);
        QCOMPARE(m_api->getStaleReason(), QString());
    }
}

void TestReferenceData::specificsAsRead_data()
{
    const QString reply = "<?xml version=\"1.0\" encoding=\"%1\"?><GetCategorySpecificsResponse "
                          "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>"
                          "<Recommendations><NameRecommendation><Name>%2</Name>"
                          "</NameRecommendation></Recommendations></GetCategorySpecificsResponse>";
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("text");
    QTest::newRow("UTF-16LE") << TestSupport::encoded(reply.arg("UTF-16", "\u0122"),
                                                      TestSupport::xmlEncodings().at(1))
                              << reply.arg("UTF-16", "\u0122");
    // Read as UTF-8, the name's bytes would be a '"' between two escape sequences.
    QTest::newRow("ISO-2022-JP") << reply.arg("ISO-2022-JP", "\x1b$B0\"\x1b(B").toLatin1()
                                 << reply.arg("ISO-2022-JP", "\u5516");
}

// The item specifics come as the text the reply was read and checked as: the editor reads
// them again, from text.
void TestReferenceData::specificsAsRead()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);
    QFile file(cacheFile("ap2_getCategorySpecifics_1_16_9394.xml"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(stored);
    file.close();
    QCOMPARE(fetch("GetCategorySpecifics"), QStringList { "xml -> " + text });
    QCOMPARE(m_server->requestCount(), 0);
}

APP_TEST_GUILESS_MAIN(TestReferenceData)
#include "test_referencedata.moc"
