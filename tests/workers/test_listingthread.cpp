#include "workers/listingthread.h"

#include "core/clock.h"
#include "marketplace/api_ebay.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTimer>

using TestSupport::Backend;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kSchedulePath = QStringLiteral("/zaruvovezira/listing.php");
const QString kProgress = QStringLiteral("progress|wird gerade bearbeitet...");
const QString kPlanned = QStringLiteral("2026-12-24 18:00:00");
const QVariantMap kOutboxRow = { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", 2 } };

FakeReply answer(const QString &call, const QString &payload = QString(),
                 const QString &ack = QStringLiteral("Success"))
{
    return FakeReply::ok(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                                        "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>"
                                        "%3<Version>1423</Version></%1Response>")
                             .arg(call, ack, payload)
                             .toUtf8());
}

QString error(const QString &shortText, const QString &longText, const QString &severity = "Error")
{
    return QStringLiteral("<Errors><ShortMessage>%1</ShortMessage><LongMessage>%2</LongMessage>"
                          "<ErrorCode>1</ErrorCode><SeverityCode>%3</SeverityCode></Errors>")
        .arg(shortText, longText, severity);
}

// A refusal with two errors; the second one's text holds quotes.
FakeReply refusal(const QString &call)
{
    return answer(call,
                  error("Kategorie fehlt.", "Bitte wählen Sie eine Kategorie.")
                      + error("Preis.", "Der Preis ist zu 'niedrig'."),
                  "Failure");
}

QStringList callNames(const FakeHttpServer &server)
{
    QStringList names;
    for (const RecordedRequest &request : server.requests())
        names << (request.callName().isEmpty() ? request.path : request.callName());
    return names;
}

int addAccount(Database *db, const QString &apiresult = QString())
{
    return db->insertSqlClean(
        { { "accountname", "händler_1" }, { "token", "TOKEN-1" }, { "apiresult", apiresult } },
        QStringLiteral("accounts"));
}

int addArticle(Database *db, const QVariantMap &fields, int account = 0)
{
    QMap<QString, QVariant> row = {
        { "Title", "Armbanduhr" },
        { "Site", 77 },
        { "ListingType", "FixedPriceItem" },
        { "StartPrice", 19.99 },
        { "Quantity", 3 },
        { "ListingDuration", "Days_7" },
        { "Description", "<p>Neu</p>" },
        { "PrimaryCategory", "31387" },
    };
    row.insert(QStringLiteral("Account"), account ? account : addAccount(db));
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        row.insert(it.key(), it.value());
    return db->insertSqlClean(row, QStringLiteral("articles"));
}

// The named columns ("Folder,ItemID") of an article, as text.
QStringList values(Database *db, int id, const QString &columns)
{
    const ArticleRow row
        = db->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id)).value(0);
    QStringList list;
    for (const QString &name : columns.split(QLatin1Char(',')))
        list << row.value(name).toString();
    return list;
}

// "infotype|textinfo" of each activity entry of an article, oldest first.
QStringList entries(Database *db, int articleId)
{
    QStringList list;
    for (const auto &row : db->select(QStringLiteral("SELECT infotype, textinfo FROM itemshistory "
                                                     "WHERE databaseid=%1 ORDER BY id")
                                          .arg(articleId)))
        list << row.value("infotype").toString() + QLatin1Char('|')
                + row.value("textinfo").toString();
    return list;
}

int count(Database *db, const QString &where = QStringLiteral("1=1"))
{
    return db->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles WHERE ") + where).toInt();
}

// The worker on the test's connection, with its folder counts recorded.
struct Worker
{
    explicit Worker(Database *db) { worker.db = db; }
    int outbox() { return worker.outboxPhase(stop); }
    int check() { return worker.checkPhase(stop); }
    ListingThread worker;
    QSignalSpy counts { &worker, &ListingThread::ChangeFolderCount };
    bool stop = false;
};

} // namespace

class TestListingThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase() { qRegisterMetaType<NewsItem>("NewsItem"); }
    void init();
    void cleanup();

    void skipRule_data();
    void skipRule();
    void queuedRowsOnePerPass_data();
    void queuedRowsOnePerPass();
    void listingCall_data();
    void listingCall();
    void firstListingLeavesCopy();
    void refusedWrite_data();
    void refusedWrite();
    void verification_data();
    void verification();
    void scheduleUpload();

private:
    std::unique_ptr<FakeHttpServer> m_server;
};

void TestListingThread::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    m_server->setCallReply("GetUser", answer("GetUser", "<User><UserID>o'brien</UserID></User>"));
    m_server->setCallReply("GetUserPreferences", answer("GetUserPreferences"));
    m_server->setCallReply("VerifyAddItem", answer("VerifyAddItem"));
    m_server->setCallReply("AddItem", answer("AddItem", "<ItemID>7</ItemID>"));
}

void TestListingThread::cleanup()
{
    m_server.reset();
    qApp->setProperty("AppDown", QVariant());
    qApp->setProperty("mysqlsyncworkstation", QVariant());
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

// --- Loop ------------------------------------------------------------------------------

void TestListingThread::skipRule_data()
{
    QTest::addColumn<QVariant>("workstation");
    QTest::addColumn<bool>("works");
    QTest::newRow("local database") << QVariant() << true;
    QTest::newRow("synchronising workstation") << QVariant(true) << true;
    QTest::newRow("other workstation synchronises") << QVariant(false) << false;
}

// The whole loop, ended by "AppDown" within its first wait or after the row it handles.
void TestListingThread::skipRule()
{
    QFETCH(QVariant, workstation);
    QFETCH(bool, works);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), kOutboxRow);
    qApp->setProperty("mysqlsyncworkstation", workstation);

    ListingThread worker;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    worker.startSyncNow();
    QTimer::singleShot(0, qApp, [] { qApp->setProperty("AppDown", 1); });
    worker.ExecuteAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(m_server->requestCount() > 0, works);
    QCOMPARE(entries(t.db(), id).size(), works ? 2 : 0);
    QCOMPARE(values(t.db(), id, "DoCheck"), QStringList { works ? "0" : "2" });
    // The worker's own connection is closed again.
    QVERIFY(worker.db == nullptr);
    for (const QString &name : QSqlDatabase::connectionNames())
        QVERIFY2(!name.startsWith(QLatin1String("listingThreadDB")), qPrintable(name));
}

void TestListingThread::queuedRowsOnePerPass_data()
{
    QTest::addColumn<int>("doCheck");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("verification") << 1 << "articlecheck_success|";
    QTest::newRow("outbox") << 2 << "articleadd_success|";
}

void TestListingThread::queuedRowsOnePerPass()
{
    QFETCH(int, doCheck);
    QFETCH(QString, outcome);
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    const QVariantMap fields
        = { { "Folder", doCheck == 2 ? -2 : -10 }, { "FolderOld", -10 }, { "DoCheck", doCheck } };
    const QList<int> ids
        = { addArticle(t.db(), fields, account), addArticle(t.db(), fields, account),
            addArticle(t.db(), fields, account) };

    Worker w(t.db());
    QSignalSpy news(&w.worker, &ListingThread::sendaddNewsItem);
    QList<int> rowCounts;
    for (int pass = 0; pass < 4; ++pass) {
        bool stop = false;
        rowCounts << w.worker.runPass(stop);
        QVERIFY(!stop);
    }
    // Full queries (2) start the next pass at once; the third pass finds a single row.
    QCOMPARE(rowCounts, (QList<int> { 2, 2, 1, 0 }));
    QList<int> sentIds;
    for (const QList<QVariant> &args : news)
        sentIds << args.at(0).value<NewsItem>().databaseid;
    QCOMPARE(sentIds, (QList<int> { ids[0], ids[0], ids[1], ids[1], ids[2], ids[2] }));
    for (const int id : ids) {
        const QStringList list = entries(t.db(), id);
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.first(), kProgress);
        QVERIFY2(list.last().startsWith(outcome), qPrintable(list.last()));
    }
}

// --- Outbox ------------------------------------------------------------------------------

void TestListingThread::listingCall_data()
{
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<int>("folderOld");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<FakeReply>("reply"); // empty: the call's answer, with a new item id
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QStringList>("after"); // Folder, ItemID, IsVerified, DoCheckResult, dates
    const QString listed = QStringLiteral("articleadd_success|wurde erfolgreich eingestellt");
    const QString relisted
        = QStringLiteral("articleadd_success|wurde erfolgreich wiedereingestellt");
    const QString now = QStringLiteral("2026-03-01 10:00:00");
    const QString failed = QStringLiteral("articleadd_fail|");
    const QStringList kept = { "-2", "", "0" };
    QTest::newRow("new, from drafts, ten days")
        << "" << -10 << "Days_10" << FakeReply() << "AddItem" << listed
        << QStringList { "-9", "2200'77", "1", "", now, "2026-03-11 10:00:00" };
    QTest::newRow("new, from a user folder, GTC")
        << "" << 12 << "GTC" << FakeReply() << "AddItem" << listed
        << QStringList { "-9", "2200'77", "1", "", now, "" };
    QTest::newRow("listed, from active, GTC")
        << "110001" << -9 << "GTC" << FakeReply() << "ReviseItem"
        << "articleadd_success|wurde erfolgreich aktualisiert"
        << QStringList { "-9", "2200'77", "1", "", "2026-01-01 08:00:00", "2026-01-08 08:00:00" };
    QTest::newRow("listed, from sold")
        << "110001" << -7 << "Days_7" << FakeReply() << "RelistItem" << relisted
        << QStringList { "-9", "2200'77", "1", "", now, "2026-03-08 10:00:00" };
    QTest::newRow("listed, from the trash, GTC")
        << "110001" << -5 << "GTC" << FakeReply() << "AddItem" << relisted
        << QStringList { "-9", "2200'77", "1", "", now, "" };
    const QString price = QStringLiteral("Preis.: Der Preis ist zu 'niedrig'.");
    QTest::newRow("refused") << "" << -10 << "Days_7" << refusal("AddItem") << "AddItem"
                             << failed + price << kept + QStringList { price, "", "" };
    QTest::newRow("network error")
        << "" << -10 << "Days_7" << FakeReply::dropped() << "AddItem"
        << failed + "Unbekannter Fehler" << kept + QStringList { "Unbekannter Fehler", "", "" };
    QTest::newRow("refused without a text")
        << "" << -10 << "Days_7" << answer("AddItem", error("", ""), "Failure") << "AddItem"
        << failed + "Unbekannter Fehler" << kept + QStringList { "Unbekannter Fehler", "", "" };
}

void TestListingThread::listingCall()
{
    QFETCH(QString, itemId);
    QFETCH(int, folderOld);
    QFETCH(QString, duration);
    QFETCH(FakeReply, reply);
    QFETCH(QString, call);
    QFETCH(QString, entry);
    QFETCH(QStringList, after);
    APP_TEST_DATABASE(t);
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 1), QTime(10, 0)));
    const bool known = !itemId.isEmpty();
    const int id = addArticle(t.db(),
                              { { "Folder", -2 },
                                { "FolderOld", folderOld },
                                { "DoCheck", 2 },
                                { "IsVerified", 1 },
                                { "ItemID", itemId },
                                { "ListingDuration", duration },
                                { "StartDate", known ? "2026-01-01 08:00:00" : "" },
                                { "EndDate", known ? "2026-01-08 08:00:00" : "" } });
    // The new item id carries a quote: it must reach the row unchanged.
    for (const char *name : { "AddItem", "ReviseItem", "RelistItem" })
        m_server->setCallReply(name, answer(name, "<ItemID>2200'77</ItemID>"));
    if (!reply.body.isNull() || reply.drop)
        m_server->setCallReply(call, reply);

    Worker w(t.db());
    QCOMPARE(w.outbox(), 1);

    const bool copied = !known && entry.startsWith(QLatin1String("articleadd_success"));
    QCOMPARE(callNames(*m_server).last(), call);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,IsVerified,DoCheckResult,StartDate,EndDate"), after);
    QCOMPARE(values(t.db(), id, "DoCheck"), QStringList { "0" });
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, entry }));
    // Only a first listing leaves a copy behind, in the folder it came from.
    QCOMPARE(count(t.db(), QStringLiteral("ItemID='' AND Folder=%1").arg(folderOld)),
             copied ? 1 : 0);
    QCOMPARE(count(t.db()), copied ? 2 : 1);
    QCOMPARE(w.counts.size(), copied ? 1 : 0);
    QCOMPARE(t.db()->getOption(QStringLiteral("listedWithMe"), QStringLiteral("none")),
             copied ? QStringLiteral("1") : QStringLiteral("none"));
    // No further attempt.
    const int requests = m_server->requestCount();
    QCOMPARE(w.outbox(), 0);
    QCOMPARE(m_server->requestCount(), requests);
}

void TestListingThread::firstListingLeavesCopy()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int id = addArticle(db, kOutboxRow);
    db->setOption(QStringLiteral("listedWithMe"), QStringLiteral("4"));
    for (const QString variant : { "", "Rot" }) {
        db->insertSqlClean({ { "article_id", id },
                             { "image", "https://example.invalid/" + variant + ".jpg" },
                             { "variant_name", variant } },
                           QStringLiteral("articles_images"));
        db->insertSqlClean({ { "article_id", id },
                             { "VariantXml",
                               "<NameValueList><Name>Farbe</Name><Value>" + variant
                                   + "x</Value></NameValueList>" },
                             { "StartPrice", 10 },
                             { "Quantity", 2 } },
                           QStringLiteral("articles_variations"));
    }
    m_server->setCallReply("AddFixedPriceItem",
                           answer("AddFixedPriceItem", "<ItemID>330001</ItemID>"));

    Worker w(db);
    QCOMPARE(w.outbox(), 1);

    const int copyId
        = db->selectOne(QStringLiteral("SELECT id FROM articles WHERE id<>%1").arg(id)).toInt();
    QVERIFY(copyId > 0);
    QCOMPARE(values(db, copyId, "Folder,ItemID,DoCheck,StartDate,Title"),
             QStringList({ "-10", "", "0", "", "Armbanduhr" }));
    QCOMPARE(values(db, id, "ItemID"), QStringList { "330001" });
    for (const int articleId : { id, copyId }) {
        for (const char *table : { "articles_images", "articles_variations" })
            QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM %1 WHERE article_id=%2")
                                         .arg(table)
                                         .arg(articleId)),
                     2);
    }
    QCOMPARE(db->getOption(QStringLiteral("listedWithMe"), QString()), QStringLiteral("5"));
    QCOMPARE(QList<QVariantList>(w.counts), (QList<QVariantList> { { -10, 1, false } }));
    // The entries name the listed article, not the copy.
    QCOMPARE(entries(db, copyId), QStringList());
}

// A write the database refuses (an SQLite trigger): taking a row out of its queue sends
// nothing; a failed copy after a listing changes no count.
void TestListingThread::refusedWrite_data()
{
    QTest::addColumn<int>("doCheck");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("call"); // the last request
    QTest::addColumn<QStringList>("after"); // Folder, ItemID, DoCheck
    const QString takeOut
        = QStringLiteral("BEFORE UPDATE OF DoCheck ON articles WHEN NEW.DoCheck=0");
    QTest::newRow("verification, take-out refused")
        << 1 << takeOut << "GetUserPreferences" << QStringList { "-2", "", "1" };
    QTest::newRow("outbox, take-out refused")
        << 2 << takeOut << "GetUserPreferences" << QStringList { "-2", "", "2" };
    QTest::newRow("outbox, copy refused") << 2 << "BEFORE INSERT ON articles"
                                          << "AddItem" << QStringList { "-9", "7", "0" };
}

void TestListingThread::refusedWrite()
{
    QFETCH(int, doCheck);
    QFETCH(QString, trigger);
    QFETCH(QString, call);
    QFETCH(QStringList, after);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The refusing trigger is written for SQLite");
    APP_TEST_DATABASE(t);
    const int id
        = addArticle(t.db(), { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", doCheck } });
    QVERIFY(t.db()->executeSQL(
        QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT, 'abgelehnt'); END")
            .arg(trigger)));

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QCOMPARE(doCheck == 1 ? w.check() : w.outbox(), 1);

    QVERIFY(log.count(QStringLiteral("abgelehnt")) > 0);
    QCOMPARE(callNames(*m_server).last(), call);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck"), after);
    QCOMPARE(entries(t.db(), id).size(), call == QLatin1String("AddItem") ? 2 : 1);
    QCOMPARE(count(t.db()), 1);
    QCOMPARE(w.counts.size(), 0);
}

// --- Verification ------------------------------------------------------------------------

void TestListingThread::verification_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("entry");
    const QString fee = QStringLiteral(
        "<Fees><Fee><Name>InsertionFee</Name><Fee currencyID=\"EUR\">0.35</Fee></Fee>%1</Fees>");
    QTest::newRow("passed") << answer(
        "VerifyAddItem",
        fee.arg("<Fee><Name>ListingFee</Name><Fee currencyID=\"EUR\">1.35</Fee></Fee>"))
                            << "articlecheck_success|Einstellgebühren: 1.35 EUR";
    QTest::newRow("passed with a warning")
        << answer("VerifyAddItem",
                  fee.arg("") + error("Hinweis.", "Das 'Bild' ist klein.", "Warning"), "Warning")
        << "articlecheck_success|Einstellgebühren: 0.35 EUR";
    QTest::newRow("refused") << refusal("VerifyAddItem")
                             << "articlecheck_fail|(f)Kategorie fehlt: Bitte wählen Sie eine "
                                "Kategorie. Preis: Der Preis ist zu 'niedrig'.";
    // GetUser is unanswered too: the account keeps its stored answer.
    QTest::newRow("network error") << FakeReply::dropped() << "articlecheck_fail|(f)";
}

void TestListingThread::verification()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, entry);
    APP_TEST_DATABASE(t);
    const bool passed = entry.startsWith(QLatin1String("articlecheck_success"));
    const QString kept = QStringLiteral("Folder,ItemID,StartDate,EndDate");
    const int account = addAccount(t.db(), QStringLiteral("<alt/>"));
    const int id = addArticle(t.db(),
                              { { "Folder", 12 },
                                { "DoCheck", 1 },
                                { "IsVerified", passed ? 0 : 1 },
                                { "ItemID", "110005" },
                                { "StartDate", "2026-01-01 08:00:00" },
                                { "EndDate", "2026-01-08 08:00:00" } },
                              account);
    const QStringList before = values(t.db(), id, kept);
    m_server->setCallReply("VerifyAddItem", reply);
    if (reply.drop)
        m_server->setCallReply("GetUser", reply);

    Worker w(t.db());
    QCOMPARE(w.check(), 1);

    QCOMPARE(callNames(*m_server).last(), QStringLiteral("VerifyAddItem"));
    QCOMPARE(values(t.db(), id, "DoCheck,IsVerified,DoCheckResult"),
             QStringList({ "0", passed ? "1" : "0", entry.section('|', 1) }));
    QCOMPARE(values(t.db(), id, kept), before);
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, entry }));
    QCOMPARE(w.check(), 0);
    const QString apiresult = t.db()->selectOne(
        QStringLiteral("SELECT apiresult FROM accounts WHERE id=%1").arg(account));
    QCOMPARE(apiresult.contains("<UserID>o'brien</UserID>"), !reply.drop);
    QCOMPARE(apiresult.contains("GetUserPreferencesResponse"), !reply.drop);
}

// --- Scheduled starts ------------------------------------------------------------------

void TestListingThread::scheduleUpload()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int account = addAccount(db);
    QList<int> ids;
    for (const char *title : { "Uhr 1", "Uhr 'Zwei'", "Uhr 3" })
        ids << addArticle(db,
                          { { "Title", title },
                            { "Folder", -3 },
                            { "Planned", kPlanned },
                            { "DoCheckResult", "alt" } },
                          account);
    // Not sent: no start time, already handed over, outside the scheduled folder.
    const QList<int> skipped = {
        addArticle(db, { { "Folder", -3 }, { "Planned", "" } }, account),
        addArticle(db, { { "Folder", -3 }, { "Planned", kPlanned }, { "Planned_Interval", "J-0" } },
                   account),
        addArticle(db, { { "Folder", -10 }, { "Planned", kPlanned } }, account),
    };
    // The third upload is refused.
    const QStringList jobs = { "J-1", "J'2", "" };
    const QString refused = QStringLiteral("Kein Guthaben für 'Planungen'");
    m_server->setReplies(kSchedulePath,
                         { FakeReply::ok("<result><id>J-1</id></result>"),
                           FakeReply::ok("<result><id>J'2</id></result>"),
                           FakeReply::ok("FAIL: " + refused.toUtf8()) });

    Worker w(db);
    QSignalSpy status(&w.worker, &ListingThread::getStatus);
    w.worker.uploadPhase();

    const QString uploading = QStringLiteral("Lade Planungen hoch");
    QCOMPARE(QList<QVariantList>(status),
             (QList<QVariantList> { { uploading, 3, 0 },
                                    { uploading, 3, 0 },
                                    { uploading, 3, 1 },
                                    { uploading, 3, 2 },
                                    { QStringLiteral("Planungen hochgeladen"), 100, 100 } }));
    QStringList titles;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.path != kSchedulePath)
            continue;
        const XmlNode root = XmlNode::parse(request.body);
        QVERIFY(root.has(QStringLiteral("Planned_Interval")));
        QCOMPARE(QStringList({ root.value("Planned"), root.value("Planned_Interval"),
                               root.value("AccountNames"), root.value("AccountName"),
                               root.value("TrackSiteID") }),
                 QStringList({ kPlanned, "", "händler_1", "händler_1", "77" }));
        titles << root.value(QStringLiteral("Item/Title"));
    }
    QCOMPARE(titles.size(), 3);
    // Each row keeps the job id its own upload was answered with.
    for (const int id : ids) {
        const QStringList row
            = values(db, id, "Title,Planned_Interval,DoCheckResult,Folder,Planned");
        const int sent = titles.indexOf(row.first());
        QVERIFY2(sent >= 0, qPrintable(row.first()));
        const QString job = jobs.at(sent);
        QCOMPARE(row.mid(1), QStringList({ job, job.isEmpty() ? refused : "", "-3", kPlanned }));
        QCOMPARE(
            entries(db, id),
            QStringList({ kProgress,
                          job.isEmpty()
                              ? "planning_add_fail|" + refused
                              : "planning_add_success|wurde an den Startzeitserver gesendet" }));
    }
    for (const int id : skipped)
        QCOMPARE(entries(db, id), QStringList());
    QCOMPARE(values(db, skipped.at(1), "Planned_Interval"), QStringList { "J-0" });
    // Only the refused row is sent again in the next pass.
    w.worker.uploadPhase();
    QCOMPARE(callNames(*m_server).count(kSchedulePath), 4);
}

APP_TEST_GUILESS_MAIN(TestListingThread)
#include "test_listingthread.moc"
