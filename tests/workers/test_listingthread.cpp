#include "workers/listingthread.h"

#include "core/clock.h"
#include "core/descriptionlimit.h"
#include "marketplace/api_ebay.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/memorylimit.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/ebay.h"

#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

using TestSupport::Backend;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;
using TestSupport::values;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kSchedulePath = QStringLiteral("/zaruvovezira/listing.php");
const QString kProgress = QStringLiteral("progress|wird gerade bearbeitet...");
const QString kPlanned = QStringLiteral("2026-12-24 18:00:00");
const QString kOutboxRow = QStringLiteral("Folder=-2;FolderOld=-10;DoCheck=2");
const QString kItemId = QStringLiteral("110000000022");
const QString kQueued = QStringLiteral("Artikel wird eingestellt / aktualisiert");
// In place of a trigger: the result is refused by its commit.
const QString kAtCommit = QStringLiteral("at commit");

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
        "accounts");
}

// Inserts an article for `account` (a new one when 0): "Column=value;..." over the defaults.
int addArticle(Database *db, const QString &fields, int account = 0)
{
    QMap<QString, QVariant> row = { { "Title", "Armbanduhr" }, { "ListingDuration", "Days_7" } };
    row.insert("Account", account ? account : addAccount(db));
    for (const QString &pair : fields.split(';', Qt::SkipEmptyParts))
        row.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return db->insertSqlClean(row, "articles");
}

// "infotype|textinfo" of each activity entry of an article, oldest first.
QStringList entries(Database *db, int articleId)
{
    QStringList list;
    for (const auto &row : db->select(QStringLiteral("SELECT infotype, textinfo FROM itemshistory "
                                                     "WHERE databaseid=%1 ORDER BY id")
                                          .arg(articleId))
                               .value())
        list << row.value("infotype").toString() + '|' + row.value("textinfo").toString();
    return list;
}

// The rows of articles that hold `itemId`, as "id,id".
QString rowsOf(Database *db, const QString &itemId)
{
    QStringList ids;
    for (const auto &row :
         db->select("SELECT id FROM articles WHERE ItemID='" + itemId + "' ORDER BY id").value())
        ids << row.value("id").toString();
    return ids.join(',');
}

// A synchronisation round on the test's connection.
void synchronise(Database *db)
{
    Ebay sync;
    sync.db = db;
    sync.runRound();
}

// The worker on the test's connection, with its folder counts recorded ("folder+=count").
struct Worker
{
    explicit Worker(Database *db)
    {
        worker.db = db;
        QObject::connect(&worker, &ListingThread::ChangeFolderCount, [this](int f, int c, bool) {
            counts << QStringLiteral("%1+=%2").arg(f).arg(c);
        });
    }
    int outbox() { return worker.outboxPhase(stop); }
    int check() { return worker.checkPhase(stop); }
    ListingThread worker;
    QStringList counts;
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
    void listingCall_data();
    void listingCall();
    void refusedWrite_data();
    void refusedWrite();
    void verification_data();
    void verification();
    void scheduleUpload();
    void failedListing_data();
    void failedListing();
    void accountData_data();
    void accountData();
    void appDownEndsThePass_data();
    void appDownEndsThePass();
    void fullQueueWithoutWait();
    void repeatAfterLostAnswer_data();
    void repeatAfterLostAnswer();
    void resultKeptWhileItCantBeWritten_data();
    void resultKeptWhileItCantBeWritten();
    void uuidOfAnAttempt_data();
    void uuidOfAnAttempt();
    void unreadableArticleIsNotSent_data();
    void unreadableArticleIsNotSent();
    void storedOnceWhateverTheRetries_data();
    void storedOnceWhateverTheRetries();
    void synchronisedAroundTheRetry_data();
    void synchronisedAroundTheRetry();
    void leftInTheOutboxAtRestart_data();
    void leftInTheOutboxAtRestart();
    void leftoversQueuedAgain_data();
    void leftoversQueuedAgain();
    void keptResultIsNoNewArticle();
    void storeWithItsAnswerCut_data();
    void storeWithItsAnswerCut();
    void nothingSentWithoutKeys_data();
    void nothingSentWithoutKeys();
    void descriptionOverTheLimitOnceFilled_data();
    void descriptionOverTheLimitOnceFilled();

private:
    // Lets the marketplace report one listing to the synchronisation, with its UUID (none
    // when empty).
    void reportListing(const QString &itemId, const QString &uuid);
    // The Item.UUID of the last request `call`.
    QString uuidSent(const QString &call) const;
    // Answers AddItem, listing kItemId, only once no file can grow any more (`full` is set).
    void answerWhenFull(std::unique_ptr<TestSupport::FileSizeLimit> &full);

    std::unique_ptr<FakeHttpServer> m_server;
};

void TestListingThread::reportListing(const QString &itemId, const QString &uuid)
{
    const QString item
        = QStringLiteral("<Item><ItemID>%1</ItemID><Title>Armbanduhr</Title><Quantity>1</Quantity>"
                         "<ListingType>FixedPriceItem</ListingType>%2<SellingStatus><CurrentPrice "
                         "currencyID=\"EUR\">9.99</CurrentPrice><QuantitySold>0</QuantitySold>"
                         "<ListingStatus>Active</ListingStatus></SellingStatus></Item>")
              .arg(itemId, uuid.isEmpty() ? QString() : "<UUID>" + uuid + "</UUID>");
    m_server->setCallReply("GetMemberMessages", answer("GetMemberMessages"));
    m_server->setCallReply("GetSellerList",
                           answer("GetSellerList",
                                  "<PaginationResult><TotalNumberOfPages>1</TotalNumberOfPages>"
                                  "</PaginationResult><ItemArray>"
                                      + item + "</ItemArray>"));
    m_server->setCallReply("GetItem", answer("GetItem", item));
}

QString TestListingThread::uuidSent(const QString &call) const
{
    QString uuid;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.callName() == call)
            uuid = XmlNode::parse(request.body).value("Item/UUID");
    }
    return uuid;
}

void TestListingThread::answerWhenFull(std::unique_ptr<TestSupport::FileSizeLimit> &full)
{
    m_server->holdCall("AddItem");
    m_server->setCallHandler("AddItem", [this, &full](const RecordedRequest &) {
        QMetaObject::invokeMethod(
            qApp,
            [this, &full] {
                full = std::make_unique<TestSupport::FileSizeLimit>(1);
                m_server->releaseCall("AddItem");
            },
            Qt::QueuedConnection);
        return answer("AddItem", "<ItemID>" + kItemId + "</ItemID>");
    });
}

void TestListingThread::init()
{
    m_server = std::make_unique<FakeHttpServer>();
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
    QCOMPARE(values(t.db(), id, "DoCheck"), QString(works ? "0" : "2"));
    // The worker's own connection is closed again.
    QVERIFY(worker.db == nullptr);
    for (const QString &name : QSqlDatabase::connectionNames())
        QVERIFY2(!name.startsWith("listingThreadDB"), qPrintable(name));
}

void TestListingThread::listingCall_data()
{
    QTest::addColumn<QString>("itemId");
    QTest::addColumn<int>("folderOld");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<FakeReply>("reply"); // empty: the call's answer, with a new item id
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("after"); // Folder|ItemID|IsVerified|DoCheckResult|dates
    const auto row = [](const char *name, const char *itemId, int folderOld, const char *duration,
                        const char *call, const QString &entry, const QString &after,
                        const FakeReply &reply = FakeReply()) {
        QTest::newRow(name) << QString(itemId) << folderOld << QString(duration) << reply
                            << QString(call) << entry << after;
    };
    const QString success = QStringLiteral("articleadd_success|wurde erfolgreich ");
    const QString listed = QStringLiteral("-9|2200'77|1||");
    const QString now = QStringLiteral("2026-03-01 10:00:00|");
    row("new, from drafts, ten days", "", -10, "Days_10", "AddItem", success + "eingestellt",
        listed + now + "2026-03-11 10:00:00");
    row("listed, from active, GTC", "110001", -9, "GTC", "ReviseItem", success + "aktualisiert",
        listed + "2026-01-01 08:00:00|2026-01-08 08:00:00");
    row("listed, from sold", "110001", -7, "Days_7", "RelistItem", success + "wiedereingestellt",
        listed + now + "2026-03-08 10:00:00");
    row("listed, from unsold", "110001", -8, "Days_7", "RelistItem", success + "wiedereingestellt",
        listed + now + "2026-03-08 10:00:00");
    row("listed, from the trash, GTC", "110001", -5, "GTC", "AddItem",
        success + "wiedereingestellt", listed + now);
    const QString refused = QStringLiteral(
        "Kategorie fehlt: Bitte wählen Sie eine Kategorie. Preis: Der Preis ist zu 'niedrig'.");
    row("refused", "", -10, "Days_7", "AddItem", "articleadd_fail|" + refused,
        "-2||0|" + refused + "||", refusal("AddItem"));
}

void TestListingThread::listingCall()
{
    QFETCH(QString, itemId);
    QFETCH(int, folderOld);
    QFETCH(QString, duration);
    QFETCH(FakeReply, reply);
    QFETCH(QString, call);
    QFETCH(QString, entry);
    QFETCH(QString, after);
    APP_TEST_DATABASE(t);
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 1), QTime(10, 0)));
    const bool known = !itemId.isEmpty();
    const QString start = known ? "2026-01-01 08:00:00" : "";
    const QString end = known ? "2026-01-08 08:00:00" : "";
    const int id
        = addArticle(t.db(),
                     QStringLiteral("Folder=-2;FolderOld=%1;DoCheck=2;IsVerified=1;ItemID=%2;"
                                    "ListingDuration=%3;StartDate=%4;EndDate=%5")
                         .arg(QString::number(folderOld), itemId, duration, start, end));
    // The new item id carries a quote: it must reach the row unchanged.
    for (const char *name : { "AddItem", "ReviseItem", "RelistItem" })
        m_server->setCallReply(name, answer(name, "<ItemID>2200'77</ItemID>"));
    if (!reply.body.isNull() || reply.drop)
        m_server->setCallReply(call, reply);

    Worker w(t.db());
    QCOMPARE(w.outbox(), 1);

    const bool copied = !known && entry.startsWith("articleadd_success");
    QCOMPARE(callNames(*m_server).last(), call);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,IsVerified,DoCheckResult,StartDate,EndDate"), after);
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, entry }));
    // Only a first listing leaves the unlisted article behind, back in its folder.
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), copied ? 2 : 1);
    QCOMPARE(w.counts,
             copied ? QStringList { QStringLiteral("%1+=1").arg(folderOld) } : QStringList());
    if (copied) {
        const int copy = t.db()->selectOne("SELECT MAX(id) FROM articles").value().toInt();
        QCOMPARE(
            values(t.db(), copy, "Folder,ItemID,DoCheck,DoCheckResult,StartDate,EndDate,Title"),
            QString::number(folderOld) + "||0||||Armbanduhr");
    }
    // No further attempt.
    const int requests = m_server->requestCount();
    QCOMPARE(w.outbox(), 0);
    QCOMPARE(m_server->requestCount(), requests);
}

void TestListingThread::refusedWrite_data()
{
    QTest::addColumn<int>("doCheck");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("call"); // the last request
    QTest::addColumn<QString>("after"); // Folder|ItemID|DoCheck
    const QString takeOut
        = QStringLiteral("BEFORE UPDATE OF DoCheck ON articles WHEN NEW.DoCheck=0");
    QTest::newRow("verification, take-out refused") << 1 << takeOut << "GetUserPreferences"
                                                    << "-2||1";
    QTest::newRow("outbox, take-out refused") << 2 << takeOut << "GetUserPreferences"
                                              << "-2||2";
    QTest::newRow("outbox, copy refused") << 2 << "BEFORE INSERT ON articles"
                                          << "AddItem"
                                          << "-9|7|0";
    // A constraint checked only at the end: the result is dropped with its log line, not kept.
    QTest::newRow("outbox, result's commit refused") << 2 << kAtCommit << "AddItem"
                                                     << "-2||0";
}

// A write the database refuses (an SQLite trigger): taking a row out of its queue sends
// nothing; a failed copy after a listing changes no count.
void TestListingThread::refusedWrite()
{
    QFETCH(int, doCheck);
    QFETCH(QString, trigger);
    QFETCH(QString, call);
    QFETCH(QString, after);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The refusing trigger is written for SQLite");
    APP_TEST_DATABASE(t);
    const int id
        = addArticle(t.db(), "Folder=-2;FolderOld=-10;DoCheck=" + QString::number(doCheck));
    const bool atCommit = trigger == kAtCommit;
    if (atCommit) {
        // The success entry adds a row whose reference only the commit checks.
        for (const char *statement :
             { "CREATE TABLE parent (id INTEGER PRIMARY KEY)",
               "CREATE TABLE child (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES parent(id) "
               "DEFERRABLE INITIALLY DEFERRED)",
               "CREATE TRIGGER refuse AFTER INSERT ON itemshistory WHEN "
               "NEW.infotype='articleadd_success' BEGIN INSERT INTO child (parent) VALUES (99); "
               "END",
               "PRAGMA foreign_keys=ON" })
            QVERIFY(t.db()->executeSQL(statement));
    } else {
        QVERIFY(t.db()->executeSQL("CREATE TRIGGER refuse " + trigger
                                   + " BEGIN SELECT RAISE(ABORT, 'abgelehnt'); END"));
    }

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
    QCOMPARE(doCheck == 1 ? w.check() : w.outbox(), 1);

    QCOMPARE(callNames(*m_server).last(), call);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck"), after);
    QCOMPARE(entries(t.db(), id).size(), call == "AddItem" && !atCommit ? 2 : 1);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), 1);
    QCOMPARE(w.counts, QStringList());
    QCOMPARE(w.worker.pendingResults(), 0);
    QCOMPARE(log.count("was refused by the database"), atCommit ? 1 : 0);
}

void TestListingThread::verification_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("entry");
    const QString fee = QStringLiteral(
        "<Fees><Fee><Name>InsertionFee</Name><Fee currencyID=\"EUR\">0.35</Fee></Fee></Fees>");
    QTest::newRow("passed with a warning") << answer(
        "VerifyAddItem", fee + error("Hinweis.", "Das 'Bild' ist klein.", "Warning"), "Warning")
                                           << "articlecheck_success|Einstellgebühren: 0.35 EUR";
    QTest::newRow("refused") << refusal("VerifyAddItem")
                             << "articlecheck_fail|(f)Kategorie fehlt: Bitte wählen Sie eine "
                                "Kategorie. Preis: Der Preis ist zu 'niedrig'.";
    // GetUser is unanswered too: the account keeps its stored answer.
    QTest::newRow("network error") << FakeReply::dropped()
                                   << "articlecheck_fail|(f)Keine Verbindung zu eBay: Connection "
                                      "closed";
}

void TestListingThread::verification()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, entry);
    APP_TEST_DATABASE(t);
    const bool passed = entry.startsWith("articlecheck_success");
    const QString kept = QStringLiteral("Folder,ItemID,StartDate,EndDate");
    const int account = addAccount(t.db(), QStringLiteral("<alt/>"));
    const int id = addArticle(t.db(),
                              QStringLiteral("Folder=12;DoCheck=1;IsVerified=%1;ItemID=110005;"
                                             "StartDate=2026-01-01 08:00:00;EndDate=2026-01-08")
                                  .arg(passed ? 0 : 1),
                              account);
    const QString before = values(t.db(), id, kept);
    m_server->setCallReply("VerifyAddItem", reply);
    if (reply.drop)
        m_server->setCallReply("GetUser", reply);

    Worker w(t.db());
    QCOMPARE(w.check(), 1);

    QCOMPARE(callNames(*m_server).last(), QStringLiteral("VerifyAddItem"));
    QCOMPARE(values(t.db(), id, "DoCheck,IsVerified,DoCheckResult"),
             QString(passed ? "0|1|" : "0|0|") + entry.section('|', 1));
    QCOMPARE(values(t.db(), id, kept), before);
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, entry }));
    QCOMPARE(w.check(), 0);
    // Both account answers are stored, quote and all; without an answer the old one stays.
    const QString apiresult
        = t.db()
              ->selectOne(QStringLiteral("SELECT apiresult FROM accounts WHERE id=%1").arg(account))
              .value();
    QCOMPARE(apiresult.contains("<UserID>o'brien</UserID>")
                 && apiresult.contains("GetUserPreferencesResponse"),
             !reply.drop);
}

// Three scheduled articles are uploaded (the third refused); articles without a start time,
// already handed over or outside the scheduled folder are not.
void TestListingThread::scheduleUpload()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int account = addAccount(db);
    QList<int> ids;
    for (const char *title : { "Uhr 1", "Uhr 'Zwei'", "Uhr 3" })
        ids << addArticle(
            db,
            QStringLiteral("Title=%1;Folder=-3;Planned=%2;DoCheckResult=alt").arg(title, kPlanned),
            account);
    const QList<int> skipped
        = { addArticle(db, "Folder=-3;Planned=", account),
            addArticle(db, "Folder=-3;Planned_Interval=J-0;Planned=" + kPlanned, account),
            addArticle(db, "Folder=-10;Planned=" + kPlanned, account) };
    const QStringList jobs = { "J-1", "J'2", "" };
    const QString refused = QStringLiteral("Kein Guthaben für 'Planungen'");
    m_server->setReplies(kSchedulePath,
                         { FakeReply::ok("<result><id>J-1</id></result>"),
                           FakeReply::ok("<result><id>J'2</id></result>"),
                           FakeReply::ok("FAIL: " + refused.toUtf8()) });

    Worker w(db);
    w.worker.uploadPhase();

    QStringList titles;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.path == kSchedulePath)
            titles << XmlNode::parse(request.body).value("Item/Title");
    }
    QCOMPARE(titles.size(), 3);
    // Each row keeps the job id its own upload was answered with.
    for (const int id : ids) {
        const QString title = values(db, id, "Title");
        const int sent = titles.indexOf(title);
        QVERIFY2(sent >= 0, qPrintable(title));
        const QString job = jobs.at(sent);
        QCOMPARE(values(db, id, "Planned_Interval,DoCheckResult,Folder,Planned"),
                 job + '|' + (job.isEmpty() ? refused : "") + "|-3|" + kPlanned);
        QVERIFY(entries(db, id).value(1).startsWith(job.isEmpty() ? "planning_add_fail|"
                                                                  : "planning_add_success|"));
    }
    for (const int id : skipped)
        QCOMPARE(entries(db, id), QStringList());
    // Only the refused row is sent again in the next pass.
    w.worker.uploadPhase();
    QCOMPARE(callNames(*m_server).count(kSchedulePath), 4);
}

void TestListingThread::failedListing_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("reason"); // what the row's DoCheckResult starts with
    const QByteArray listed = answer("AddItem", "<ItemID>7</ItemID>").body;
    QTest::newRow("error, then a warning")
        << answer("AddItem",
                  error("Bild zu klein.", "Das Bild muss 500 Pixel breit sein.")
                      + error("Zahlung.", "Die Zahlung wird zurückgehalten.", "Warning"),
                  "Failure")
        << "Bild zu klein: Das Bild muss 500 Pixel breit sein.";
    QTest::newRow("several errors")
        << refusal("AddItem")
        << "Kategorie fehlt: Bitte wählen Sie eine Kategorie. Preis: Der Preis ist zu 'niedrig'.";
    QTest::newRow("dropped connection") << FakeReply::dropped() << "Keine Verbindung zu eBay: ";
    QTest::newRow("HTTP 500, HTML page")
        << FakeReply::withStatus(500, "<html><body><h1>Wartung</h1></body></html>")
        << "Fehler bei der Verbindung zu eBay: HTTP 500";
    QTest::newRow("reply cut in half") << FakeReply::ok(listed.left(listed.size() / 2))
                                       << "Unverständliche Antwort von eBay (AddItem).";
    QTest::newRow("empty body") << FakeReply::ok(QByteArray())
                                << "Unverständliche Antwort von eBay (AddItem).";
    QTest::newRow("listed without item number")
        << answer("AddItem") << "Keine Artikelnummer in der Antwort von eBay";
}

// A listing that failed stays in the outbox without item number and shows the reason.
void TestListingThread::failedListing()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, reason);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The replies do not depend on the database");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), kOutboxRow);
    m_server->setCallReply("AddItem", reply);

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QCOMPARE(w.outbox(), 1);

    const QString result = values(t.db(), id, "DoCheckResult");
    QVERIFY2(result.startsWith(reason), qPrintable(result));
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck"), QStringLiteral("-2||0"));
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, "articleadd_fail|" + result }));
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), 1);
}

void TestListingThread::accountData_data()
{
    QTest::addColumn<FakeReply>("user");
    QTest::addColumn<FakeReply>("preferences");
    QTest::addColumn<bool>("stored");
    const FakeReply user = answer("GetUser", "<User><UserID>o'brien</UserID></User>");
    const FakeReply preferences = answer("GetUserPreferences");
    const QByteArray full = user.body;
    QTest::newRow("both complete") << user << preferences << true;
    QTest::newRow("user cut off after its Ack")
        << FakeReply::ok(full.left(full.indexOf("</Ack>") + 6)) << preferences << false;
    QTest::newRow("preferences refused")
        << user << answer("GetUserPreferences", error("Token.", "Ungültig."), "Failure") << false;
}

// The account's stored replies (read for the VAT decision) are replaced only by two complete,
// successful ones.
void TestListingThread::accountData()
{
    QFETCH(FakeReply, user);
    QFETCH(FakeReply, preferences);
    QFETCH(bool, stored);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The replies do not depend on the database");
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db(), QStringLiteral("<alt/>"));
    addArticle(t.db(), "Folder=12;DoCheck=1", account);
    m_server->setCallReply("GetUser", user);
    m_server->setCallReply("GetUserPreferences", preferences);

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QCOMPARE(w.check(), 1);

    const QString apiresult
        = t.db()
              ->selectOne(QStringLiteral("SELECT apiresult FROM accounts WHERE id=%1").arg(account))
              .value();
    QCOMPARE(apiresult != QLatin1String("<alt/>"), stored);
}

void TestListingThread::appDownEndsThePass_data()
{
    QTest::addColumn<QString>("closingDuring"); // the call whose answer comes as the program
                                                // closes; empty: closed before the pass
    QTest::addColumn<QStringList>("calls");
    const QStringList user = { "GetUser", "GetUserPreferences" };
    QTest::newRow("before the pass") << QString() << QStringList();
    QTest::newRow("during the verification")
        << "VerifyAddItem" << user + QStringList { "VerifyAddItem" };
    QTest::newRow("during the first upload")
        << kSchedulePath << user + QStringList { "VerifyAddItem" } + user + QStringList { kSchedulePath };
}

// Once the program closes, the pass sends no further request: neither the next scheduled
// article nor the outbox.
void TestListingThread::appDownEndsThePass()
{
    QFETCH(QString, closingDuring);
    QFETCH(QStringList, calls);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The control flow does not depend on the database");
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    addArticle(t.db(), "Folder=12;DoCheck=1", account);
    addArticle(t.db(), "Folder=-3;Planned=" + kPlanned, account);
    addArticle(t.db(), "Folder=-3;Planned=" + kPlanned, account);
    addArticle(t.db(), kOutboxRow, account);
    const auto closing = [](const FakeReply &reply) {
        return [reply](const RecordedRequest &) {
            QMetaObject::invokeMethod(
                qApp, [] { qApp->setProperty("AppDown", 1); }, Qt::BlockingQueuedConnection);
            return reply;
        };
    };
    if (closingDuring.isEmpty())
        qApp->setProperty("AppDown", 1);
    else if (closingDuring == kSchedulePath)
        m_server->setHandler(kSchedulePath, closing(FakeReply::ok("<id>J-1</id>")));
    else
        m_server->setCallHandler(closingDuring, closing(answer(closingDuring)));

    Worker w(t.db());
    w.worker.runPass(w.stop);

    QVERIFY(w.stop);
    QCOMPARE(callNames(*m_server), calls);
}

// Three articles in the outbox are listed in back-to-back passes; the worker waits only once
// the queue query no longer comes back full.
void TestListingThread::fullQueueWithoutWait()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The control flow does not depend on the database");
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    for (int i = 0; i < 3; ++i)
        addArticle(t.db(), kOutboxRow, account);

    ListingThread worker;
    QStringList waits; // "seconds@listings sent so far"
    int calls = 0;
    worker.wait = [&](int seconds, bool &stop, bool &) {
        waits << QStringLiteral("%1@%2").arg(seconds).arg(callNames(*m_server).count("AddItem"));
        // The first wait is woken at once, the second ends the worker.
        stop = ++calls == 2;
    };
    worker.ExecuteAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(waits, QStringList({ "30@0", "30@3" }));
}

void TestListingThread::repeatAfterLostAnswer_data()
{
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("articles"); // afterwards, with the copy a first listing leaves
    QTest::newRow("addition from the drafts") << kOutboxRow << "AddItem" << "eingestellt" << 2;
    QTest::newRow("relisting from the sold ones")
        << "Folder=-2;FolderOld=-7;DoCheck=2;ItemID=110000000011" << "RelistItem"
        << "wiedereingestellt" << 1;
}

// The marketplace listed the article but its answer was lost; the seller tries again: the
// repeat carries the same UUID, the marketplace refuses it naming the listing, and that
// listing is stored. One listing, not two.
void TestListingThread::repeatAfterLostAnswer()
{
    QFETCH(QString, fields);
    QFETCH(QString, call);
    QFETCH(QString, text);
    QFETCH(int, articles);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), fields);
    // The answer breaks off after the item number.
    FakeReply lost = answer(call, "<ItemID>110000000022</ItemID>");
    lost.body.truncate(lost.body.indexOf("</ItemID>") + 9);
    m_server->setCallReply(call, lost);

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    QCOMPARE(w.outbox(), 1);
    QVERIFY2(values(t.db(), id, "DoCheckResult").startsWith("Unverständliche Antwort von eBay"),
             qPrintable(values(t.db(), id, "DoCheckResult")));
    // "Nochmal probieren"
    QVERIFY(t.db()->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=2 WHERE id=%1").arg(id)));
    QCOMPARE(w.outbox(), 1);

    const QList<RecordedRequest> requests = m_server->requests();
    QStringList uuids;
    for (const RecordedRequest &request : requests) {
        if (request.callName() == call)
            uuids << XmlNode::parse(request.body).value("Item/UUID");
    }
    QCOMPARE(uuids.size(), 2);
    QCOMPARE(uuids.first(), uuids.last());
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck,DoCheckResult"),
             QStringLiteral("-9|110000000022|0|"));
    QCOMPARE(entries(t.db(), id).last(), "articleadd_success|wurde erfolgreich " + text);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), articles);
}

void TestListingThread::resultKeptWhileItCantBeWritten_data()
{
    QTest::addColumn<bool>("locked"); // else the disk is full
    QTest::newRow("disk full") << false;
    QTest::newRow("article locked by another workstation past the lock wait") << true;
}

// A listing whose result can't be written (full disk, a lock held elsewhere) is kept and
// stored by the next pass that can, before anything else; the marketplace is not asked again.
void TestListingThread::resultKeptWhileItCantBeWritten()
{
    QFETCH(bool, locked);
    QFETCH_GLOBAL(Backend, backend);
    if (!locked && backend == Backend::MySQL)
        QSKIP("A full disk is a fault of the local file");
    if (locked && backend == Backend::SQLite)
        QSKIP("A lock wait time-out is the server's");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), kOutboxRow);
    std::unique_ptr<TestSupport::FileSizeLimit> full;
    QSqlDatabase holder;
    const auto release = [&] {
        return !holder.isOpen() || QSqlQuery(holder).exec("ROLLBACK");
    };
    const auto releaseAtEnd = qScopeGuard(release);
    bool held = false;
    if (locked) {
        QVERIFY(t.db()->executeSQL("SET SESSION innodb_lock_wait_timeout = 1"));
        holder = t.rawConnection(QStringLiteral("resultLocker"));
        // Once the marketplace has listed it, another workstation holds the article's row.
        m_server->holdCall("AddItem");
        m_server->setCallHandler("AddItem", [&](const RecordedRequest &) {
            QMetaObject::invokeMethod(
                qApp,
                [&] {
                    held = QSqlQuery(holder).exec("START TRANSACTION")
                        && QSqlQuery(holder).exec("SELECT id FROM articles FOR UPDATE");
                    m_server->releaseCall("AddItem");
                },
                Qt::QueuedConnection);
            return answer("AddItem", "<ItemID>" + kItemId + "</ItemID>");
        });
    } else {
        answerWhenFull(full);
    }

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
    QCOMPARE(w.worker.runPass(w.stop), 1);
    QVERIFY(full || held);
    QCOMPARE(w.worker.pendingResults(), 1);
    // Still unavailable: nothing stored, nothing sent.
    QCOMPARE(w.worker.runPass(w.stop), 0);
    QCOMPARE(w.worker.pendingResults(), 1);
    full.reset();
    QVERIFY(release());
    QCOMPARE(values(t.db(), id, "Folder,ItemID"), QStringLiteral("-2|"));

    QCOMPARE(w.worker.runPass(w.stop), 0);
    QCOMPARE(w.worker.pendingResults(), 0);
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck"), QStringLiteral("-9|110000000022|0"));
    QCOMPARE(entries(t.db(), id),
             QStringList({ kProgress, "articleadd_success|wurde erfolgreich eingestellt" }));
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles WHERE Folder=-10 AND ItemID=''").value(),
             1);
    QCOMPARE(w.counts, QStringList { "-10+=1" });
    QCOMPARE(callNames(*m_server).count("AddItem"), 1);
}

void TestListingThread::uuidOfAnAttempt_data()
{
    QTest::addColumn<QString>("changed"); // "column=value" of the second attempt; empty: none
    QTest::addColumn<int>("call");
    QTest::addColumn<bool>("same");
    QTest::newRow("the same attempt again") << QString() << int(Api_Ebay::Add) << true;
    QTest::newRow("other article") << "id=8" << int(Api_Ebay::Add) << false;
    QTest::newRow("listed since (item number)") << "ItemID=110000000022" << int(Api_Ebay::Add)
                                                << false;
    QTest::newRow("relisting") << QString() << int(Api_Ebay::Relist) << false;
    QTest::newRow("other account") << "accountname=händler_2" << int(Api_Ebay::Add) << false;
    QTest::newRow("other database") << "key=B" << int(Api_Ebay::Add) << false;
    QTest::newRow("title edited") << "Title=Taschenuhr" << int(Api_Ebay::Add) << true;
}

// One UUID per listing of an article: a repeat sends the same, anything else another one.
void TestListingThread::uuidOfAnAttempt()
{
    QFETCH(QString, changed);
    QFETCH(int, call);
    QFETCH(bool, same);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("No database involved");
    const ArticleRow row
        = { { "id", 7 }, { "accountname", "händler_1" }, { "ItemID", "" }, { "Title", "Uhr" } };
    ArticleRow second = row;
    QString key = "A";
    if (changed.startsWith("key="))
        key = changed.section('=', 1);
    else if (!changed.isEmpty())
        second.insert(changed.section('=', 0, 0), changed.section('=', 1));

    const QString first = ListingThread::listingUuid("A", row, Api_Ebay::Add);
    QVERIFY2(QRegularExpression("^[0-9A-F]{32}$").match(first).hasMatch(), qPrintable(first));
    QCOMPARE(ListingThread::listingUuid(key, second, call) == first, same);
}

void TestListingThread::unreadableArticleIsNotSent_data()
{
    QTest::addColumn<int>("doCheck");
    QTest::addColumn<QString>("table");
    QTest::newRow("listing, pictures") << 2 << "articles_images";
    QTest::newRow("listing, variations") << 2 << "articles_variations";
    QTest::newRow("verification, pictures") << 1 << "articles_images";
}

// An article whose pictures or variations the database refuses to read is never sent
// without them; the reason is its outcome.
void TestListingThread::unreadableArticleIsNotSent()
{
    QFETCH(int, doCheck);
    QFETCH(QString, table);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The refused read is the same on both");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), "Folder=-2;FolderOld=-10;DoCheck=" + QString::number(doCheck));
    QVERIFY(t.db()->executeSQL("ALTER TABLE " + table + " RENAME TO weg"));

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QCOMPARE(doCheck == 1 ? w.check() : w.outbox(), 1);

    QCOMPARE(callNames(*m_server), QStringList({ "GetUser", "GetUserPreferences" }));
    const QString reason = values(t.db(), id, "DoCheckResult");
    QVERIFY2(reason.contains("Der Artikel konnte nicht aus der Datenbank gelesen werden: "),
             qPrintable(reason));
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck"), QStringLiteral("-2||0"));
    QCOMPARE(entries(t.db(), id).last().section('|', 0, 0),
             QString(doCheck == 1 ? "articlecheck_fail" : "articleadd_fail"));
}

void TestListingThread::storedOnceWhateverTheRetries_data()
{
    QTest::addColumn<QString>("fields"); // the article as it was sent
    // What happened before the result is stored: "listed since" (the synchronisation put the
    // listing onto the article), "imported" (it read the listing as an article of its own).
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("listed"); // else refused
    QTest::addColumn<QString>("first"); // outcome of the first store
    QTest::addColumn<QString>("after"); // Folder|ItemID|DoCheckResult
    QTest::addColumn<QString>("holders"); // the rows holding the item id ("article", "other")
    QTest::addColumn<int>("articles");
    QTest::addColumn<QString>("listedWithMe");
    QTest::addColumn<int>("entries");
    const auto row = [](const char *name, const QString &fields, const char *before, bool listed,
                        const char *first, const QString &after, const char *holders, int articles,
                        const char *listedWithMe, int entries = 1) {
        QTest::newRow(name) << fields << QString(before) << listed << QString(first) << after
                            << QString(holders) << articles << QString(listedWithMe) << entries;
    };
    const QString drafts = "Folder=-2;FolderOld=-10;DoCheck=0";
    const QString listing = "-9|" + kItemId + "|";
    row("first listing", drafts, "", true, "Written", listing, "article", 2, "1");
    row("relisting", "Folder=-2;FolderOld=-7;DoCheck=0;ItemID=110000000011", "", true, "Written",
        listing, "article", 1, "");
    row("revision", "Folder=-2;FolderOld=-9;DoCheck=0;ItemID=" + kItemId, "", true, "Written",
        listing, "article", 1, "");
    row("refusal", drafts, "", false, "Written", "-2||abgelehnt", "", 1, "");
    // The synchronisation put the listing onto the article before the refusal of the call
    // whose answer was lost was stored: the listing stays.
    row("refusal, listing put on it since", drafts, "listed since", false, "AlreadyStored", listing,
        "article", 1, "", 0);
    // Read by the synchronisation as a new article before the result was stored: that row
    // is the listing, the article goes back to the drafts.
    row("imported already", drafts, "imported", true, "ImportedAlready", "-10||", "other", 2, "1");
    // An earlier outcome of the article is no earlier attempt of this one: it is stored.
    row("revision of a listing it made earlier",
        "Folder=-2;FolderOld=-9;DoCheck=0;ItemID=" + kItemId, "listed earlier", true, "Written",
        listing, "article", 1, "", 2);
}

// A store whose answer was lost (the database may have written it) is tried again: the
// retry finds what the first one wrote and writes nothing more. One listing row, one copy,
// one entry, one more listing counted.
void TestListingThread::storedOnceWhateverTheRetries()
{
    QFETCH(QString, fields);
    QFETCH(QString, before);
    QFETCH(bool, listed);
    QFETCH(QString, first);
    QFETCH(QString, after);
    QFETCH(QString, holders);
    QFETCH(int, articles);
    QFETCH(QString, listedWithMe);
    QFETCH(int, entries);
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    int other = 0;
    if (before == "imported")
        other = addArticle(t.db(), "Folder=-9;ItemID=" + kItemId, account);
    const int id = addArticle(t.db(), fields, account);
    if (before == "listed earlier")
        QVERIFY(t.db()->insertSqlClean({ { "databaseid", id },
                                         { "infotype", "articleadd_success" },
                                         { "textinfo", "wurde erfolgreich eingestellt" },
                                         { "indate", "2026-02-01 10:00:00" } },
                                       "itemshistory")
                > 0);

    ListingResult result;
    result.kind = listed ? ListingResult::Listed : ListingResult::Refused;
    result.row
        = t.db()->select("SELECT * FROM articles WHERE id=" + QString::number(id)).value().first();
    result.articleId = QString::number(id);
    result.call = ListingThread::listingCallFor(result.row.value("ItemID").toString(),
                                                result.row.value("FolderOld").toInt());
    result.itemId = listed ? kItemId : QString();
    result.text = listed ? "wurde erfolgreich eingestellt" : "abgelehnt";
    result.time = QDateTime(QDate(2026, 3, 1), QTime(10, 0));
    if (before == "listed since")
        QVERIFY(t.db()->executeSQL("UPDATE articles SET Folder=-9, ItemID='" + kItemId
                                   + "' WHERE id=" + QString::number(id)));

    const auto outcome = [&]() -> QString {
        switch (ListingThread::storeOutcome(t.db(), result).outcome) {
        case ListingWrite::Written:
            return "Written";
        case ListingWrite::AlreadyStored:
            return "AlreadyStored";
        case ListingWrite::ImportedAlready:
            return "ImportedAlready";
        default:
            return "not stored";
        }
    };
    QCOMPARE(outcome(), first);
    QCOMPARE(outcome(), QStringLiteral("AlreadyStored"));

    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheckResult"), after);
    QStringList held;
    for (const QString &holder : rowsOf(t.db(), kItemId).split(',', Qt::SkipEmptyParts))
        held << (holder.toInt() == id ? "article" : "other");
    QCOMPARE(held.join(','), holders);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), articles);
    QCOMPARE(t.db()
                 ->selectCount(QStringLiteral("SELECT id FROM itemshistory WHERE databaseid IN "
                                              "(%1, %2)")
                                   .arg(id)
                                   .arg(other))
                 .value(),
             entries);
    QCOMPARE(t.db()->getOption("listedWithMe", QString()).value(), listedWithMe);
}

void TestListingThread::synchronisedAroundTheRetry_data()
{
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("call");
    QTest::addColumn<bool>("retryFirst");
    QTest::addColumn<int>("articles"); // afterwards, with the copy a first listing leaves
    QTest::addColumn<QString>("text");
    const QString relisting = "Folder=-2;FolderOld=-7;DoCheck=2;ItemID=110000000011";
    QTest::newRow("addition, round before the retry")
        << kOutboxRow << "AddItem" << false << 2 << "eingestellt";
    QTest::newRow("addition, retry before the round")
        << kOutboxRow << "AddItem" << true << 2 << "eingestellt";
    QTest::newRow("relisting, round before the retry")
        << relisting << "RelistItem" << false << 1 << "wiedereingestellt";
    QTest::newRow("relisting, retry before the round")
        << relisting << "RelistItem" << true << 1 << "wiedereingestellt";
}

// The marketplace listed the article but its answer was lost, and the seller asked to try
// again. Whether the synchronisation reads the listing before the next pass or after it, the
// listing ends on the article's row, the only one with its item number.
void TestListingThread::synchronisedAroundTheRetry()
{
    QFETCH(QString, fields);
    QFETCH(QString, call);
    QFETCH(bool, retryFirst);
    QFETCH(int, articles);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), fields);
    // The answer breaks off after the item number.
    FakeReply lost = answer(call, "<ItemID>" + kItemId + "</ItemID>");
    lost.body.truncate(lost.body.indexOf("</ItemID>") + 9);
    m_server->setCallReply(call, lost);

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.net"), QStringLiteral("app.worker") });
    QCOMPARE(w.outbox(), 1);
    QCOMPARE(values(t.db(), id, "Folder,DoCheck"), QStringLiteral("-2|0"));
    reportListing(kItemId, uuidSent(call));
    // "Nochmal probieren"
    QVERIFY(
        t.db()->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=2 WHERE id=%1").arg(id)));

    if (retryFirst)
        QCOMPARE(w.outbox(), 1);
    synchronise(t.db());
    QCOMPARE(rowsOf(t.db(), kItemId), QString::number(id));
    // Once the round put the listing on it, the article waits for nothing more.
    QCOMPARE(w.outbox(), 0);
    synchronise(t.db());

    QCOMPARE(rowsOf(t.db(), kItemId), QString::number(id));
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck,DoCheckResult"), "-9|" + kItemId + "|0|");
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), articles);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles WHERE Folder=-2").value(), 0);
    QCOMPARE(callNames(*m_server).count(call), retryFirst ? 2 : 1);
    QCOMPARE(entries(t.db(), id).count("articleadd_success|wurde erfolgreich " + text), 1);
}

void TestListingThread::leftInTheOutboxAtRestart_data()
{
    QTest::addColumn<bool>("synchronisedFirst");
    QTest::newRow("synchronised first") << true;
    QTest::newRow("listing pass first") << false;
}

// The program closed with a listing's result kept (the database could not store it): the
// log has it, the article waits in the outbox as queued. After a restart the synchronisation
// puts the listing onto it, or the next pass sends it again, which the marketplace answers
// with the listing it made: one row per listing either way.
void TestListingThread::leftInTheOutboxAtRestart()
{
    QFETCH(bool, synchronisedFirst);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("A full disk is a fault of the local file");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), kOutboxRow + ";DoCheckResult=" + kQueued);
    std::unique_ptr<TestSupport::FileSizeLimit> full;
    answerWhenFull(full);
    {
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
        ListingThread before;
        int waits = 0;
        // The first wait ends at once; the program closes during the one after the pass.
        before.wait = [&waits](int, bool &stop, bool &) {
            stop = ++waits == 2;
        };
        before.ExecuteAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(full);
        QCOMPARE(log.count(QStringLiteral("could not be stored")), 1);
    }
    full.reset();
    QVERIFY(ListingThread::pendingItemIds().isEmpty());
    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheck,DoCheckResult"), "-2||0|" + kQueued);

    reportListing(kItemId, uuidSent("AddItem"));
    m_server->setCallReply("AddItem", answer("AddItem", "<ItemID>110000000099</ItemID>"));
    Worker after(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.net") });
    if (synchronisedFirst)
        synchronise(t.db());
    after.worker.runPass(after.stop);
    synchronise(t.db());

    QCOMPARE(rowsOf(t.db(), kItemId), QString::number(id));
    QCOMPARE(values(t.db(), id, "Folder,DoCheck,DoCheckResult"), QStringLiteral("-9|0|"));
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles WHERE Folder=-10 AND ItemID=''").value(),
             1);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), 2);
    // Sent again only when the pass came first, and then refused as a repeat.
    QCOMPARE(callNames(*m_server).count("AddItem"), synchronisedFirst ? 1 : 2);
}

void TestListingThread::leftoversQueuedAgain_data()
{
    QTest::addColumn<int>("leftovers");
    QTest::newRow("one left over") << 1;
    QTest::newRow("more than two groups of writes") << 121;
}

// Articles the worker had taken from the queue when the program closed, no result of theirs
// kept, are queued again by the first pass, every one of them; articles the seller took out of
// the outbox, and outcomes stored, stay as they are.
void TestListingThread::leftoversQueuedAgain()
{
    QFETCH(int, leftovers);
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    for (int i = 0; i < leftovers; ++i)
        QVERIFY(addArticle(t.db(), "Folder=-2;FolderOld=-10;DoCheck=0;DoCheckResult=" + kQueued,
                           account)
                > 0);
    const int cancelled
        = addArticle(t.db(), "Folder=-10;FolderOld=-10;DoCheck=0;DoCheckResult=" + kQueued, account);
    const int failed
        = addArticle(t.db(), "Folder=-2;FolderOld=-10;DoCheck=0;DoCheckResult=(f)Abgelehnt", account);
    // The pass ends after the leftovers: nothing is sent.
    qApp->setProperty("AppDown", 1);
    Worker w(t.db());
    w.worker.runPass(w.stop);
    QVERIFY(w.stop);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles WHERE Folder=-2 AND DoCheck=2").value(),
             leftovers);
    QCOMPARE(values(t.db(), cancelled, "Folder,DoCheck"), QStringLiteral("-10|0"));
    QCOMPARE(values(t.db(), failed, "DoCheck,DoCheckResult"), QStringLiteral("0|(f)Abgelehnt"));
    QCOMPARE(m_server->requestCount(), 0);
}

// A listing whose result the worker keeps (the disk was full when it came) is not a new
// article for the synchronisation: not when the round reads the account, nor when the result
// was kept only after the round had read the listing in full. The worker stores it.
void TestListingThread::keptResultIsNoNewArticle()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("A full disk is a fault of the local file");
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    const int id = addArticle(t.db(), kOutboxRow, account);
    std::unique_ptr<TestSupport::FileSizeLimit> full;
    answerWhenFull(full);
    Worker w(t.db());
    {
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker") });
        w.worker.runPass(w.stop);
    }
    QCOMPARE(w.worker.pendingResults(), 1);
    full.reset();

    // Only the kept result tells that the listing is the program's own.
    reportListing(kItemId, QString());
    synchronise(t.db());
    QCOMPARE(callNames(*m_server).count("GetItem"), 0);
    QCOMPARE(rowsOf(t.db(), kItemId), QString());
    {
        Ebay sync;
        sync.db = t.db();
        auto *record = new ArticleModel;
        record->ItemID = kItemId;
        record->IsNew = true;
        record->Account = account;
        record->Title = QStringLiteral("Eingelesen");
        record->PictureURLs << m_server->url("/eingelesen.jpg").toString();
        sync.getAdItems({ record });
    }
    QCOMPARE(rowsOf(t.db(), kItemId), QString());
    // Its pictures are not fetched either.
    QVERIFY(!callNames(*m_server).contains("/eingelesen.jpg"));
    QCOMPARE(values(t.db(), id, "Folder,DoCheck"), QStringLiteral("-2|0"));

    w.worker.runPass(w.stop);
    QCOMPARE(w.worker.pendingResults(), 0);
    synchronise(t.db());
    QCOMPARE(rowsOf(t.db(), kItemId), QString::number(id));
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), 2);
}

void TestListingThread::storeWithItsAnswerCut_data()
{
    QTest::addColumn<QString>("reply"); // AddItem's answer: "listed", "refused"
    QTest::addColumn<QString>("after"); // Folder|ItemID|DoCheckResult
    QTest::addColumn<int>("articles");
    QTest::addColumn<QStringList>("counts");
    QTest::addColumn<QString>("listedWithMe");
    QTest::newRow("first listing") << "listed"
                                   << "-9|" + kItemId + "|" << 2 << QStringList { "-10+=1" } << "1";
    QTest::newRow("refusal") << "refused"
                             << "-2||Kategorie fehlt: Bitte wählen Sie eine Kategorie. Preis: Der "
                                "Preis ist zu 'niedrig'."
                             << 1 << QStringList() << "";
}

// The database commits the listing's result but its answer to the COMMIT never comes back
// (the connection is cut): the worker keeps the result and its next pass finds it stored.
// One listing row, one copy, one entry, the listing counted once.
void TestListingThread::storeWithItsAnswerCut()
{
    QFETCH(QString, reply);
    QFETCH(QString, after);
    QFETCH(int, articles);
    QFETCH(QStringList, counts);
    QFETCH(QString, listedWithMe);
    APP_TEST_DATABASE_BEHIND_PROXY(proxy, t, "A connection that can be cut is MariaDB's");
    const int id = addArticle(t.db(), kOutboxRow);
    m_server->setCallReply("AddItem",
                           reply == "listed" ? answer("AddItem", "<ItemID>" + kItemId + "</ItemID>")
                                             : refusal("AddItem"));

    Worker w(t.db());
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app.worker"),
                                      QStringLiteral("app.net"), QStringLiteral("default") });
    proxy.cutAfter("COMMIT");
    QCOMPARE(w.outbox(), 1);
    QCOMPARE(proxy.cuts(), 1);
    QCOMPARE(w.worker.pendingResults(), 1);
    QVERIFY(QTest::qWaitFor(
        [&] {
            w.worker.runPass(w.stop);
            return w.worker.pendingResults() == 0;
        },
        10000));

    QCOMPARE(values(t.db(), id, "Folder,ItemID,DoCheckResult"), after);
    QCOMPARE(t.db()->selectCount("SELECT id FROM articles").value(), articles);
    QCOMPARE(entries(t.db(), id).size(), 2);
    QCOMPARE(w.counts, counts);
    QCOMPARE(t.db()->getOption("listedWithMe", QString()).value(), listedWithMe);
    QCOMPARE(callNames(*m_server).count("AddItem"), 1);
}

// Without the developer keys a pass sends nothing: the articles wait in their queues, and the
// status panel is told once, without progress, again only after "Artikel einstellen".
void TestListingThread::nothingSentWithoutKeys_data()
{
    QTest::addColumn<QString>("queued"); // the article's columns; empty: none queued
    QTest::addColumn<QStringList>("told"); // per pass: "" or the pass tells, "command" first
    QTest::newRow("listing, three passes") << kOutboxRow << QStringList { "told", "", "" };
    QTest::newRow("verification") << "Folder=12;DoCheck=1" << QStringList { "told", "" };
    QTest::newRow("scheduled start") << "Folder=-3;Planned=" + kPlanned << QStringList { "told" };
    QTest::newRow("listing again after the command")
        << kOutboxRow << QStringList { "told", "", "command,told", "" };
    QTest::newRow("nothing queued") << QString() << QStringList { "", "command," };
}

void TestListingThread::nothingSentWithoutKeys()
{
    QFETCH(QString, queued);
    QFETCH(QStringList, told);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The control flow does not depend on the database");
    APP_TEST_DATABASE(t);
    for (const char *key :
         { "ZERIRE_DEV_ID", "ZERIRE_APP_ID", "ZERIRE_CERT_ID", "ZERIRE_DEV_ID_SANDBOX",
           "ZERIRE_APP_ID_SANDBOX", "ZERIRE_CERT_ID_SANDBOX" })
        qunsetenv(key);
    const int id = queued.isEmpty() ? 0 : addArticle(t.db(), queued + ";StartPrice=12345.67");
    const QString before = id ? TestSupport::values(t.db(), id, "Folder,DoCheck,Planned") : "";
    Worker w(t.db());
    QSignalSpy status(&w.worker, &ListingThread::getStatus);
    for (const QString &pass : told) {
        if (pass.startsWith("command"))
            w.worker.startSyncNow();
        const int said = status.size();
        QCOMPARE(w.worker.runPass(w.stop), 0);
        QCOMPARE(status.size() - said, pass.endsWith("told") ? 1 : 0);
    }
    QCOMPARE(m_server->requestCount(), 0);
    for (const QList<QVariant> &shown : status) {
        QVERIFY2(shown.at(0).toString().startsWith("Ohne die Entwicklerschlüssel von eBay wird "
                                                   "nichts an eBay gesendet"),
                 qPrintable(shown.at(0).toString()));
        QCOMPARE(shown.at(1).toInt(), -1); // no progress bar
    }
    if (id) {
        QCOMPARE(TestSupport::values(t.db(), id, "Folder,DoCheck,Planned"), before);
        QCOMPARE(entries(t.db(), id), QStringList());
    }
}

void TestListingThread::descriptionOverTheLimitOnceFilled_data()
{
    QTest::addColumn<QString>("queued"); // the article's columns
    QTest::addColumn<QString>("state"); // Folder|DoCheck|IsVerified afterwards
    QTest::addColumn<QString>("mark"); // before the reason in DoCheckResult
    QTest::addColumn<QString>("infotype"); // of the outcome entry
    QTest::newRow("listing") << kOutboxRow << "-2|0|0"
                             << ""
                             << "articleadd_fail";
    QTest::newRow("verification") << "Folder=12;DoCheck=1"
                                  << "12|0|0"
                                  << "(f)"
                                  << "articlecheck_fail";
}

// 499,995 characters of "$frei_01$" (within the limit as stored) with a free text of 20,000
// characters would be a description of 1.1 billion: the article is refused with the reason,
// taken out of its queue as a failed call is, and nothing of it is sent; the pass stays
// within a small multiple of the limit.
void TestListingThread::descriptionOverTheLimitOnceFilled()
{
    QFETCH(QString, queued);
    QFETCH(QString, state);
    QFETCH(QString, mark);
    QFETCH(QString, infotype);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The refusal does not depend on the database");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), queued + ";StartPrice=12.5");
    QVERIFY(t.db()->updateSqlClean({ { "Description", QString("$frei_01$").repeated(55555) },
                                     { "Free_01", QString(20000, 'f') } },
                                   "articles", "id=" + QString::number(id)));
    Worker w(t.db());
    const auto pass = [&] {
        return queued == kOutboxRow ? w.outbox() : w.check();
    };

    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    {
        TestSupport::AddressSpaceLimit cap(qint64(1) << 30);
        QVERIFY(cap.active());
        QCOMPARE(pass(), 1);
    }
#if !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(!measured || memory.growth() < 64 * 1024 * 1024,
             qPrintable(QString::number(memory.growth())));
#else
    Q_UNUSED(measured)
#endif
    const QString result = mark + DescriptionLimit::filledRefusal();
    QCOMPARE(values(t.db(), id, "Folder,DoCheck,IsVerified"), state);
    QCOMPARE(values(t.db(), id, "DoCheckResult"), result);
    QCOMPARE(entries(t.db(), id), QStringList({ kProgress, infotype + '|' + result }));
    // The row start refreshes the account; nothing of the article goes out.
    QCOMPARE(callNames(*m_server), QStringList({ "GetUser", "GetUserPreferences" }));

    // The next passes leave it alone.
    QCOMPARE(pass(), 0);
    QCOMPARE(w.worker.runPass(w.stop), 0);
    QCOMPARE(m_server->requestCount(), 2);
    QCOMPARE(entries(t.db(), id).size(), 2);
}

APP_TEST_GUILESS_MAIN(TestListingThread)
#include "test_listingthread.moc"
