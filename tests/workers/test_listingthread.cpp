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

QString fee(const QString &name, const QString &amount)
{
    return QStringLiteral("<Fee><Name>%1</Name><Fee currencyID=\"EUR\">%2</Fee></Fee>")
        .arg(name, amount);
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
    for (const auto &row : db->select(
             QStringLiteral("SELECT infotype, textinfo FROM itemshistory WHERE databaseid=%1 "
                            "ORDER BY id")
                 .arg(articleId)))
        list << row.value(QStringLiteral("infotype")).toString() + QLatin1Char('|')
                + row.value(QStringLiteral("textinfo")).toString();
    return list;
}

int count(Database *db, const QString &where = QStringLiteral("1=1"))
{
    return db->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles WHERE ") + where).toInt();
}

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
    void accountRefresh_data();
    void accountRefresh();
    void listingCall_data();
    void listingCall();
    void firstListingLeavesCopy();
    void failedListingStaysInOutbox_data();
    void failedListingStaysInOutbox();
    void refusedWrite_data();
    void refusedWrite();
    void verification_data();
    void verification();
    void scheduleUpload();
    void scheduleUploadFailure_data();
    void scheduleUploadFailure();

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
    QList<int> ids;
    for (int i = 0; i < 3; ++i)
        ids << addArticle(
            t.db(),
            { { "Folder", doCheck == 2 ? -2 : -10 }, { "FolderOld", -10 }, { "DoCheck", doCheck } },
            account);

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy news(&worker, &ListingThread::sendaddNewsItem);
    QList<int> rowCounts;
    for (int pass = 0; pass < 4; ++pass) {
        bool stop = false;
        rowCounts << worker.runPass(stop);
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

void TestListingThread::accountRefresh_data()
{
    QTest::addColumn<FakeReply>("user");
    QTest::addColumn<bool>("refreshed");
    QTest::newRow("GetUser succeeds")
        << answer("GetUser", "<User><UserID>o'brien</UserID></User>") << true;
    QTest::newRow("GetUser refused, preferences answered")
        << answer("GetUser", error("Token.", "Token abgelaufen."), "Failure") << false;
    QTest::newRow("GetUser unanswered") << FakeReply::dropped() << false;
}

void TestListingThread::accountRefresh()
{
    QFETCH(FakeReply, user);
    QFETCH(bool, refreshed);
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db(), QStringLiteral("<alt/>"));
    addArticle(t.db(), kOutboxRow, account);
    m_server->setCallReply("GetUser", user);

    ListingThread worker;
    worker.db = t.db();
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    const QString apiresult = t.db()->selectOne(
        QStringLiteral("SELECT apiresult FROM accounts WHERE id=%1").arg(account));
    if (refreshed) {
        QVERIFY2(apiresult.contains(QLatin1String("<UserID>o'brien</UserID>")),
                 qPrintable(apiresult));
        QVERIFY(apiresult.contains(QLatin1String("GetUserPreferencesResponse")));
    } else {
        QCOMPARE(apiresult, QStringLiteral("<alt/>"));
    }
    // The row is handled whatever became of the refresh.
    QCOMPARE(callNames(*m_server).last(), QStringLiteral("AddItem"));
}

// --- Outbox ------------------------------------------------------------------------------

void TestListingThread::listingCall_data()
{
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<int>("folderOld");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    const QString listed = QStringLiteral("wurde erfolgreich eingestellt");
    const QString revised = QStringLiteral("wurde erfolgreich aktualisiert");
    const QString relisted = QStringLiteral("wurde erfolgreich wiedereingestellt");
    const QString now = QStringLiteral("2026-03-01 10:00:00");
    const QString in7Days = QStringLiteral("2026-03-08 10:00:00");
    QTest::newRow("new, from drafts, ten days")
        << "" << -10 << "Days_10"
        << "AddItem" << listed << now << "2026-03-11 10:00:00";
    QTest::newRow("new, from a user folder, GTC") << "" << 12 << "GTC"
                                                  << "AddItem" << listed << now << "";
    QTest::newRow("listed, from active, GTC") << "110001" << -9 << "GTC"
                                              << "ReviseItem" << revised << "2026-01-01 08:00:00"
                                              << "2026-01-08 08:00:00";
    QTest::newRow("listed, from sold") << "110001" << -7 << "Days_7"
                                       << "RelistItem" << relisted << now << in7Days;
    QTest::newRow("listed, from unsold, GTC") << "110001" << -8 << "GTC"
                                              << "RelistItem" << relisted << now << "";
    QTest::newRow("listed, from drafts") << "110001" << -10 << "Days_7"
                                         << "AddItem" << relisted << now << in7Days;
    QTest::newRow("listed, from the trash") << "110001" << -5 << "GTC"
                                            << "AddItem" << relisted << now << "";
}

void TestListingThread::listingCall()
{
    QFETCH(QString, itemId);
    QFETCH(int, folderOld);
    QFETCH(QString, duration);
    QFETCH(QString, call);
    QFETCH(QString, text);
    QFETCH(QString, start);
    QFETCH(QString, end);
    APP_TEST_DATABASE(t);
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 1), QTime(10, 0)));
    const bool first = itemId.isEmpty();
    const int id = addArticle(t.db(),
                              { { "Folder", -2 },
                                { "FolderOld", folderOld },
                                { "DoCheck", 2 },
                                { "ItemID", itemId },
                                { "ListingDuration", duration },
                                { "StartDate", first ? "" : "2026-01-01 08:00:00" },
                                { "EndDate", first ? "" : "2026-01-08 08:00:00" } });
    // The new item id carries a quote: it must reach the row unchanged.
    for (const char *name : { "AddItem", "ReviseItem", "RelistItem" })
        m_server->setCallReply(name, answer(name, "<ItemID>2200'77</ItemID>"));

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    QCOMPARE(callNames(*m_server).last(), call);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,IsVerified,DoCheck,DoCheckResult,StartDate,EndDate"),
             QStringList({ "-9", "2200'77", "1", "0", "", start, end }));
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, "articleadd_success|" + text }));
    // Only a first listing leaves a copy behind, in the folder it came from.
    QCOMPARE(count(t.db(), QStringLiteral("ItemID='' AND Folder=%1").arg(folderOld)),
             first ? 1 : 0);
    QCOMPARE(count(t.db()), first ? 2 : 1);
    QCOMPARE(counts.size(), first ? 1 : 0);
    QCOMPARE(t.db()->getOption(QStringLiteral("listedWithMe"), QStringLiteral("none")),
             first ? QStringLiteral("1") : QStringLiteral("none"));
}

void TestListingThread::firstListingLeavesCopy()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int id = addArticle(db, kOutboxRow);
    db->setOption(QStringLiteral("listedWithMe"), QStringLiteral("4"));
    for (const char *variant : { "", "Rot" })
        db->insertSqlClean(
            { { "article_id", id },
              { "image", QStringLiteral("https://example.invalid/%1.jpg").arg(variant) },
              { "variant_name", variant } },
            QStringLiteral("articles_images"));
    for (const char *colour : { "Rot", "Blau" })
        db->insertSqlClean(
            { { "article_id", id },
              { "VariantXml",
                QStringLiteral("<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>")
                    .arg(colour) },
              { "StartPrice", 10 },
              { "Quantity", 2 } },
            QStringLiteral("articles_variations"));
    m_server->setCallReply("AddFixedPriceItem",
                           answer("AddFixedPriceItem", "<ItemID>330001</ItemID>"));

    ListingThread worker;
    worker.db = db;
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

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
    QCOMPARE(QList<QVariantList>(counts), (QList<QVariantList> { { -10, 1, false } }));
    // The entries name the listed article, not the copy.
    QCOMPARE(entries(db, copyId), QStringList());
}

void TestListingThread::failedListingStaysInOutbox_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << refusal("AddItem") << "Preis.: Der Preis ist zu 'niedrig'.";
    QTest::newRow("network error") << FakeReply::dropped() << "Unbekannter Fehler";
    QTest::newRow("refused without a text")
        << answer("AddItem", error("", ""), "Failure") << "Unbekannter Fehler";
}

void TestListingThread::failedListingStaysInOutbox()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    QVariantMap fields = kOutboxRow;
    fields.insert(QStringLiteral("IsVerified"), 1);
    const int id = addArticle(t.db(), fields);
    m_server->setCallReply("AddItem", reply);

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    QCOMPARE(values(t.db(), id, "Folder,FolderOld,DoCheck,IsVerified,ItemID,DoCheckResult"),
             QStringList({ "-2", "-10", "0", "0", "", text }));
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, "articleadd_fail|" + text }));
    QCOMPARE(count(t.db()), 1);
    QCOMPARE(t.db()->getOption(QStringLiteral("listedWithMe"), QStringLiteral("none")),
             QStringLiteral("none"));
    QCOMPARE(counts.size(), 0);
    // No further attempt.
    const int requests = m_server->requestCount();
    QCOMPARE(worker.outboxPhase(stop), 0);
    QCOMPARE(m_server->requestCount(), requests);
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
    const QString copy = QStringLiteral("BEFORE INSERT ON articles");
    QTest::newRow("verification, take-out refused")
        << 1 << takeOut << "GetUserPreferences" << QStringList { "-2", "", "1" };
    QTest::newRow("outbox, take-out refused")
        << 2 << takeOut << "GetUserPreferences" << QStringList { "-2", "", "2" };
    QTest::newRow("outbox, copy refused")
        << 2 << copy << "AddItem" << QStringList { "-9", "7", "0" };
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
    QVERIFY(t.db()->executeSQL(QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT "
                                              "RAISE(ABORT, 'abgelehnt'); END")
                                   .arg(trigger)));

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    bool stop = false;
    QCOMPARE(doCheck == 1 ? worker.checkPhase(stop) : worker.outboxPhase(stop), 1);

    QVERIFY(log.count(QStringLiteral("abgelehnt")) > 0);
    QCOMPARE(callNames(*m_server).last(), call);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck"), after);
    QCOMPARE(entries(t.db(), id).size(), call == QLatin1String("AddItem") ? 2 : 1);
    QCOMPARE(count(t.db()), 1);
    QCOMPARE(counts.size(), 0);
}

// --- Verification ------------------------------------------------------------------------

void TestListingThread::verification_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QString>("text");
    QTest::newRow("passed") << answer("VerifyAddItem",
                                      "<Fees>" + fee("InsertionFee", "0.35")
                                          + fee("ListingFee", "1.35") + "</Fees>")
                            << true << "Einstellgebühren: 1.35 EUR";
    QTest::newRow("passed with a warning")
        << answer("VerifyAddItem",
                  "<Fees>" + fee("InsertionFee", "0.35") + "</Fees>"
                      + error("Hinweis.", "Das 'Bild' ist klein.", "Warning"),
                  "Warning")
        << true << "Einstellgebühren: 0.35 EUR";
    QTest::newRow("refused")
        << refusal("VerifyAddItem") << false
        << "(f)Kategorie fehlt: Bitte wählen Sie eine Kategorie. Preis: Der Preis ist zu "
           "'niedrig'.";
    QTest::newRow("network error") << FakeReply::dropped() << false << "(f)";
}

void TestListingThread::verification()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, passed);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    const QString kept = QStringLiteral("Folder,ItemID,StartDate,EndDate");
    const int id = addArticle(t.db(),
                              { { "Folder", 12 },
                                { "DoCheck", 1 },
                                { "IsVerified", passed ? 0 : 1 },
                                { "ItemID", "110005" },
                                { "StartDate", "2026-01-01 08:00:00" },
                                { "EndDate", "2026-01-08 08:00:00" } });
    const QStringList before = values(t.db(), id, kept);
    m_server->setCallReply("VerifyAddItem", reply);

    ListingThread worker;
    worker.db = t.db();
    bool stop = false;
    QCOMPARE(worker.checkPhase(stop), 1);

    QCOMPARE(callNames(*m_server).last(), QStringLiteral("VerifyAddItem"));
    QCOMPARE(values(t.db(), id, "DoCheck,IsVerified,DoCheckResult"),
             QStringList({ "0", passed ? "1" : "0", text }));
    QCOMPARE(values(t.db(), id, kept), before);
    QCOMPARE(entries(t.db(), id),
             QStringList(
                 { kProgress, (passed ? "articlecheck_success|" : "articlecheck_fail|") + text }));
    QCOMPARE(worker.checkPhase(stop), 0);
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
    const QStringList jobs = { "J-1", "J'2", "J-3" };
    QList<FakeReply> replies;
    for (const QString &job : jobs)
        replies << FakeReply::ok(QStringLiteral("<result><id>%1</id></result>").arg(job).toUtf8());
    m_server->setReplies(kSchedulePath, replies);

    ListingThread worker;
    worker.db = db;
    QSignalSpy status(&worker, &ListingThread::getStatus);
    worker.uploadPhase();

    const QString uploading = QStringLiteral("Lade Planungen hoch");
    QCOMPARE(QList<QVariantList>(status),
             (QList<QVariantList> {
                 { uploading, 3, 0 },
                 { uploading, 3, 0 },
                 { uploading, 3, 1 },
                 { uploading, 3, 2 },
                 { QStringLiteral("Planungen hochgeladen"), 100, 100 },
             }));
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
        QCOMPARE(row.mid(1), QStringList({ jobs.at(sent), "", "-3", kPlanned }));
        QCOMPARE(entries(db, id),
                 QStringList(
                     { kProgress, "planning_add_success|wurde an den Startzeitserver gesendet" }));
    }
    for (const int id : skipped)
        QCOMPARE(entries(db, id), QStringList());
    QCOMPARE(values(db, skipped.at(1), "Planned_Interval"), QStringList { "J-0" });
}

void TestListingThread::scheduleUploadFailure_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << QByteArray("FAIL: Kein Guthaben für 'Planungen'")
                             << "Kein Guthaben für 'Planungen'";
    QTest::newRow("no job id") << QByteArray("<result>?</result>") << "Unbekannter Fehler";
}

void TestListingThread::scheduleUploadFailure()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), { { "Folder", -3 }, { "Planned", kPlanned } });
    m_server->setReply(kSchedulePath, FakeReply::ok(reply));

    ListingThread worker;
    worker.db = t.db();
    worker.uploadPhase();

    QCOMPARE(values(t.db(), id, "Planned_Interval,DoCheckResult"), QStringList({ "", text }));
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, "planning_add_fail|" + text }));
    // Sent again in the next pass.
    worker.uploadPhase();
    QCOMPARE(callNames(*m_server).count(kSchedulePath), 2);
}

APP_TEST_GUILESS_MAIN(TestListingThread)
#include "test_listingthread.moc"
