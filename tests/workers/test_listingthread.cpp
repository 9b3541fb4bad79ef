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

QByteArray reply(const QString &call, const QString &ack, const QString &payload = QString())
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
                          "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>%2</Ack>%3"
                          "<Version>1423</Version></%1Response>")
        .arg(call, ack, payload)
        .toUtf8();
}

FakeReply success(const QString &call, const QString &payload = QString())
{
    return FakeReply::ok(reply(call, QStringLiteral("Success"), payload));
}

QString error(const QString &shortText, const QString &longText, const QString &severity)
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
    return FakeReply::ok(
        reply(call, QStringLiteral("Failure"),
              error(QStringLiteral("Kategorie fehlt."),
                    QStringLiteral("Bitte wählen Sie eine Kategorie."), QStringLiteral("Error"))
                  + error(QStringLiteral("Preis."), QStringLiteral("Der Preis ist zu 'niedrig'."),
                          QStringLiteral("Error"))));
}

QStringList callNames(const FakeHttpServer &server)
{
    QStringList names;
    for (const RecordedRequest &request : server.requests())
        names << (request.callName().isEmpty() ? request.path : request.callName());
    return names;
}

} // namespace

class TestListingThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase();
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
    void failingTakeOutSendsNothing_data();
    void failingTakeOutSendsNothing();
    void verification_data();
    void verification();
    void scheduleUpload();
    void scheduleUploadFailure_data();
    void scheduleUploadFailure();
    void scheduleUploadStopsOnClosing();
    void failedCopyChangesNoCount();

private:
    int addAccount(Database *db, const QString &apiresult = QString());
    int addArticle(Database *db, int account, const QVariantMap &fields);
    ArticleRow article(Database *db, int id);
    // The infotype and textinfo of each activity entry of an article, oldest first.
    QStringList entries(Database *db, int articleId);
    void answerAccount(bool userSucceeds = true);

    std::unique_ptr<FakeHttpServer> m_server;
};

void TestListingThread::initTestCase()
{
    qRegisterMetaType<NewsItem>("NewsItem");
}

void TestListingThread::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    answerAccount();
}

void TestListingThread::cleanup()
{
    m_server.reset();
    qApp->setProperty("AppDown", QVariant());
    qApp->setProperty("mysqlsyncworkstation", QVariant());
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestListingThread::answerAccount(bool userSucceeds)
{
    m_server->setCallReply(
        QStringLiteral("GetUser"),
        FakeReply::ok(reply(QStringLiteral("GetUser"),
                            userSucceeds ? QStringLiteral("Success") : QStringLiteral("Failure"),
                            QStringLiteral("<User><UserID>o'brien</UserID></User>"))));
    m_server->setCallReply(QStringLiteral("GetUserPreferences"),
                           success(QStringLiteral("GetUserPreferences")));
}

int TestListingThread::addAccount(Database *db, const QString &apiresult)
{
    QMap<QString, QVariant> account;
    account.insert(QStringLiteral("accountname"), QStringLiteral("händler_1"));
    account.insert(QStringLiteral("token"), QStringLiteral("TOKEN-1"));
    account.insert(QStringLiteral("apiresult"), apiresult);
    return db->insertSqlClean(account, QStringLiteral("accounts"));
}

int TestListingThread::addArticle(Database *db, int account, const QVariantMap &fields)
{
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), QStringLiteral("Armbanduhr"));
    row.insert(QStringLiteral("Site"), 77);
    row.insert(QStringLiteral("Account"), account);
    row.insert(QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem"));
    row.insert(QStringLiteral("ListingDuration"), QStringLiteral("Days_7"));
    row.insert(QStringLiteral("StartPrice"), 19.99);
    row.insert(QStringLiteral("Quantity"), 3);
    row.insert(QStringLiteral("PrimaryCategory"), QStringLiteral("31387"));
    row.insert(QStringLiteral("Description"), QStringLiteral("<p>Neu</p>"));
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        row.insert(it.key(), it.value());
    return db->insertSqlClean(row, QStringLiteral("articles"));
}

ArticleRow TestListingThread::article(Database *db, int id)
{
    return db->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id)).value(0);
}

QStringList TestListingThread::entries(Database *db, int articleId)
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

// --- Loop ------------------------------------------------------------------------------

void TestListingThread::skipRule_data()
{
    QTest::addColumn<QVariant>("workstation");
    QTest::addColumn<bool>("works");
    QTest::newRow("local database") << QVariant() << true;
    QTest::newRow("synchronising workstation") << QVariant(true) << true;
    QTest::newRow("other workstation synchronises") << QVariant(false) << false;
}

// The whole loop: woken at once, then ended by "AppDown" within its first wait or after
// the row it is handling.
void TestListingThread::skipRule()
{
    QFETCH(QVariant, workstation);
    QFETCH(bool, works);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), addAccount(t.db()),
                              { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", 2 } });
    m_server->setCallReply(
        QStringLiteral("AddItem"),
        success(QStringLiteral("AddItem"), QStringLiteral("<ItemID>1</ItemID>")));
    qApp->setProperty("mysqlsyncworkstation", workstation);

    ListingThread worker;
    TestSupport::MessageCapture log({ QStringLiteral("app.worker") });
    worker.startSyncNow();
    QTimer::singleShot(0, qApp, [] { qApp->setProperty("AppDown", 1); });
    worker.ExecuteAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(log.count(QStringLiteral("startSyncNow rec from ListingThread")), 1);
    QCOMPARE(callNames(*m_server).contains(QStringLiteral("AddItem")), works);
    QCOMPARE(m_server->requestCount() > 0, works);
    QCOMPARE(entries(t.db(), id).size(), works ? 2 : 0);
    QCOMPARE(article(t.db(), id).value(QStringLiteral("DoCheck")).toInt(), works ? 0 : 2);
    QVERIFY(worker.db == nullptr);
    for (const QString &name : QSqlDatabase::connectionNames())
        QVERIFY2(!name.startsWith(QLatin1String("listingThreadDB")), qPrintable(name));
}

void TestListingThread::queuedRowsOnePerPass_data()
{
    QTest::addColumn<int>("doCheck");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("verification") << 1 << "articlecheck_success";
    QTest::newRow("outbox") << 2 << "articleadd_success";
}

void TestListingThread::queuedRowsOnePerPass()
{
    QFETCH(int, doCheck);
    QFETCH(QString, outcome);
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    QList<int> ids;
    for (int i = 0; i < 3; ++i)
        ids << addArticle(t.db(), account,
                          { { "Title", QStringLiteral("Uhr %1").arg(i) },
                            { "Folder", doCheck == 2 ? -2 : -10 },
                            { "FolderOld", -10 },
                            { "DoCheck", doCheck } });
    m_server->setCallReply(QStringLiteral("VerifyAddItem"),
                           success(QStringLiteral("VerifyAddItem")));
    m_server->setCallReply(
        QStringLiteral("AddItem"),
        success(QStringLiteral("AddItem"), QStringLiteral("<ItemID>9</ItemID>")));

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
    for (int i = 0; i < 3; ++i) {
        const QStringList list = entries(t.db(), ids[i]);
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.first(), QStringLiteral("progress|wird gerade bearbeitet..."));
        QVERIFY2(list.last().startsWith(outcome + QLatin1Char('|')), qPrintable(list.last()));
        QCOMPARE(article(t.db(), ids[i]).value(QStringLiteral("DoCheck")).toInt(), 0);
    }
    QCOMPARE(news.at(1).at(0).value<NewsItem>().title, QStringLiteral("Uhr 0"));
}

void TestListingThread::accountRefresh_data()
{
    QTest::addColumn<FakeReply>("user");
    QTest::addColumn<bool>("refreshed");
    QTest::newRow("GetUser succeeds")
        << FakeReply::ok(reply(QStringLiteral("GetUser"), QStringLiteral("Success"),
                               QStringLiteral("<User><UserID>o'brien</UserID></User>")))
        << true;
    QTest::newRow("GetUser refused, preferences answered")
        << FakeReply::ok(reply(QStringLiteral("GetUser"), QStringLiteral("Failure"),
                               error(QStringLiteral("Token."), QStringLiteral("Token abgelaufen."),
                                     QStringLiteral("Error"))))
        << false;
    QTest::newRow("GetUser unanswered") << FakeReply::dropped() << false;
}

void TestListingThread::accountRefresh()
{
    QFETCH(FakeReply, user);
    QFETCH(bool, refreshed);
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db(), QStringLiteral("<alt/>"));
    addArticle(t.db(), account, { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", 2 } });
    m_server->setCallReply(QStringLiteral("GetUser"), user);
    m_server->setCallReply(
        QStringLiteral("AddItem"),
        success(QStringLiteral("AddItem"), QStringLiteral("<ItemID>1</ItemID>")));

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
    const QString oldStart = QStringLiteral("2026-01-01 08:00:00");
    const QString oldEnd = QStringLiteral("2026-01-08 08:00:00");
    QTest::newRow("new, from drafts, ten days")
        << "" << -10 << "Days_10"
        << "AddItem" << listed << now << "2026-03-11 10:00:00";
    QTest::newRow("new, from a user folder, until ended") << "" << 12 << "GTC"
                                                          << "AddItem" << listed << now << "";
    QTest::newRow("listed, from active") << "110001" << -9 << "Days_7"
                                         << "ReviseItem" << revised << oldStart << oldEnd;
    QTest::newRow("listed, from active, until ended")
        << "110001" << -9 << "GTC"
        << "ReviseItem" << revised << oldStart << oldEnd;
    QTest::newRow("listed, from sold") << "110001" << -7 << "Days_7"
                                       << "RelistItem" << relisted << now << "2026-03-08 10:00:00";
    QTest::newRow("listed, from unsold, until ended") << "110001" << -8 << "GTC"
                                                      << "RelistItem" << relisted << now << "";
    QTest::newRow("listed, from drafts") << "110001" << -10 << "Days_7"
                                         << "AddItem" << relisted << now << "2026-03-08 10:00:00";
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
    const QDateTime now(QDate(2026, 3, 1), QTime(10, 0));
    Clock::setCurrentDateTimeForTesting(now);
    const bool firstListing = itemId.isEmpty();
    const int id = addArticle(t.db(), addAccount(t.db()),
                              { { "Folder", -2 },
                                { "FolderOld", folderOld },
                                { "DoCheck", 2 },
                                { "ItemID", itemId },
                                { "ListingDuration", duration },
                                { "StartDate", firstListing ? "" : "2026-01-01 08:00:00" },
                                { "EndDate", firstListing ? "" : "2026-01-08 08:00:00" } });
    // The new item id carries a quote: it must reach the row unchanged.
    for (const QString &name :
         { QStringLiteral("AddItem"), QStringLiteral("ReviseItem"), QStringLiteral("RelistItem") })
        m_server->setCallReply(name, success(name, QStringLiteral("<ItemID>2200'77</ItemID>")));

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    QSignalSpy news(&worker, &ListingThread::sendaddNewsItem);
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    QCOMPARE(
        callNames(*m_server),
        (QStringList { QStringLiteral("GetUser"), QStringLiteral("GetUserPreferences"), call }));
    const ArticleRow row = article(t.db(), id);
    QCOMPARE(row.value(QStringLiteral("Folder")).toInt(), -9);
    QCOMPARE(row.value(QStringLiteral("FolderOld")).toInt(), folderOld);
    QCOMPARE(row.value(QStringLiteral("ItemID")).toString(), QStringLiteral("2200'77"));
    QCOMPARE(row.value(QStringLiteral("IsVerified")).toInt(), 1);
    QCOMPARE(row.value(QStringLiteral("DoCheck")).toInt(), 0);
    QCOMPARE(row.value(QStringLiteral("DoCheckResult")).toString(), QString());
    QCOMPARE(row.value(QStringLiteral("StartDate")).toString(), start);
    QCOMPARE(row.value(QStringLiteral("EndDate")).toString(), end);
    QCOMPARE(entries(t.db(), id),
             (QStringList { QStringLiteral("progress|wird gerade bearbeitet..."),
                            QStringLiteral("articleadd_success|") + text }));
    QCOMPARE(news.last().at(0).value<NewsItem>().indate, now);

    const QString copies
        = t.db()->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles WHERE id<>%1 AND "
                                           "Folder=%2 AND ItemID='' AND DoCheck=0")
                                .arg(id)
                                .arg(folderOld));
    QCOMPARE(copies.toInt(), firstListing ? 1 : 0);
    QCOMPARE(t.db()->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles")).toInt(),
             firstListing ? 2 : 1);
    QCOMPARE(t.db()->getOption(QStringLiteral("listedWithMe"), QStringLiteral("none")),
             firstListing ? QStringLiteral("1") : QStringLiteral("none"));
    QCOMPARE(counts.size(), firstListing ? 1 : 0);
    if (firstListing)
        QCOMPARE(counts.first(), (QList<QVariant> { folderOld, 1, false }));
}

void TestListingThread::firstListingLeavesCopy()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int id = addArticle(db, addAccount(db),
                              { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", 2 } });
    db->setOption(QStringLiteral("listedWithMe"), QStringLiteral("4"));
    auto addPicture = [db, id](const QString &image, const QString &variant) {
        QMap<QString, QVariant> picture;
        picture.insert(QStringLiteral("article_id"), id);
        picture.insert(QStringLiteral("image"), image);
        picture.insert(QStringLiteral("variant_name"), variant);
        db->insertSqlClean(picture, QStringLiteral("articles_images"));
    };
    addPicture(QStringLiteral("https://example.invalid/uhr.jpg"), QString());
    addPicture(QStringLiteral("https://example.invalid/rot.jpg"), QStringLiteral("Rot"));
    for (const QString &colour : { QStringLiteral("Rot"), QStringLiteral("Blau") }) {
        QMap<QString, QVariant> variation;
        variation.insert(QStringLiteral("article_id"), id);
        variation.insert(
            QStringLiteral("VariantXml"),
            QStringLiteral("<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>")
                .arg(colour));
        variation.insert(QStringLiteral("StartPrice"), 10);
        variation.insert(QStringLiteral("Quantity"), 2);
        db->insertSqlClean(variation, QStringLiteral("articles_variations"));
    }
    m_server->setCallReply(
        QStringLiteral("AddFixedPriceItem"),
        success(QStringLiteral("AddFixedPriceItem"), QStringLiteral("<ItemID>330001</ItemID>")));

    ListingThread worker;
    worker.db = db;
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    const int copyId
        = db->selectOne(QStringLiteral("SELECT id FROM articles WHERE id<>%1").arg(id)).toInt();
    QVERIFY(copyId > 0);
    const ArticleRow copy = article(db, copyId);
    QCOMPARE(copy.value(QStringLiteral("Folder")).toInt(), -10);
    QCOMPARE(copy.value(QStringLiteral("ItemID")).toString(), QString());
    QCOMPARE(copy.value(QStringLiteral("DoCheck")).toInt(), 0);
    QCOMPARE(copy.value(QStringLiteral("StartDate")).toString(), QString());
    QCOMPARE(copy.value(QStringLiteral("Title")).toString(), QStringLiteral("Armbanduhr"));
    QCOMPARE(article(db, id).value(QStringLiteral("ItemID")).toString(), QStringLiteral("330001"));
    for (const int articleId : { id, copyId }) {
        QCOMPARE(db->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles_images WHERE "
                                              "article_id=%1")
                                   .arg(articleId))
                     .toInt(),
                 2);
        QCOMPARE(db->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles_variations WHERE "
                                              "article_id=%1")
                                   .arg(articleId))
                     .toInt(),
                 2);
    }
    QCOMPARE(db->getOption(QStringLiteral("listedWithMe"), QString()), QStringLiteral("5"));
    QCOMPARE(counts.size(), 1);
    QCOMPARE(counts.first(), (QList<QVariant> { -10, 1, false }));
    // The entries name the listed article, not the copy.
    QCOMPARE(entries(db, copyId), QStringList());
}

void TestListingThread::failedListingStaysInOutbox_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << refusal(QStringLiteral("AddItem"))
                             << "Preis.: Der Preis ist zu 'niedrig'.";
    QTest::newRow("network error") << FakeReply::dropped() << "Unbekannter Fehler";
    QTest::newRow("refused without a text")
        << FakeReply::ok(reply(QStringLiteral("AddItem"), QStringLiteral("Failure"),
                               error(QString(), QString(), QStringLiteral("Error"))))
        << "Unbekannter Fehler";
}

void TestListingThread::failedListingStaysInOutbox()
{
    QFETCH(FakeReply, answer);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    const int id = addArticle(
        t.db(), addAccount(t.db()),
        { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", 2 }, { "IsVerified", 1 } });
    m_server->setCallReply(QStringLiteral("AddItem"), answer);

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    const ArticleRow row = article(t.db(), id);
    QCOMPARE(row.value(QStringLiteral("Folder")).toInt(), -2);
    QCOMPARE(row.value(QStringLiteral("FolderOld")).toInt(), -10);
    QCOMPARE(row.value(QStringLiteral("DoCheck")).toInt(), 0);
    QCOMPARE(row.value(QStringLiteral("IsVerified")).toInt(), 0);
    QCOMPARE(row.value(QStringLiteral("ItemID")).toString(), QString());
    QCOMPARE(row.value(QStringLiteral("StartDate")).toString(), QString());
    QCOMPARE(row.value(QStringLiteral("DoCheckResult")).toString(), text);
    QCOMPARE(entries(t.db(), id),
             (QStringList { QStringLiteral("progress|wird gerade bearbeitet..."),
                            QStringLiteral("articleadd_fail|") + text }));
    QCOMPARE(t.db()->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles")).toInt(), 1);
    QCOMPARE(t.db()->getOption(QStringLiteral("listedWithMe"), QStringLiteral("none")),
             QStringLiteral("none"));
    QCOMPARE(counts.size(), 0);

    // No further attempt.
    const int requests = m_server->requestCount();
    QCOMPARE(worker.outboxPhase(stop), 0);
    QCOMPARE(m_server->requestCount(), requests);
}

void TestListingThread::failingTakeOutSendsNothing_data()
{
    QTest::addColumn<int>("doCheck");
    QTest::newRow("verification") << 1;
    QTest::newRow("outbox") << 2;
}

void TestListingThread::failingTakeOutSendsNothing()
{
    QFETCH(int, doCheck);
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The refusing trigger is written for SQLite");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), addAccount(t.db()),
                              { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", doCheck } });
    QVERIFY(t.db()->executeSQL(
        QStringLiteral("CREATE TRIGGER keep_queued BEFORE UPDATE OF DoCheck ON articles WHEN "
                       "NEW.DoCheck=0 BEGIN SELECT RAISE(ABORT, 'Warteschlange gesperrt'); END")));
    m_server->setDefaultReply(success(QStringLiteral("AddItem")));

    ListingThread worker;
    worker.db = t.db();
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    bool stop = false;
    QCOMPARE(doCheck == 1 ? worker.checkPhase(stop) : worker.outboxPhase(stop), 1);

    QVERIFY(log.count(QStringLiteral("Warteschlange gesperrt")) > 0);
    QCOMPARE(callNames(*m_server),
             (QStringList { QStringLiteral("GetUser"), QStringLiteral("GetUserPreferences") }));
    QCOMPARE(entries(t.db(), id),
             QStringList { QStringLiteral("progress|wird gerade bearbeitet...") });
    QCOMPARE(article(t.db(), id).value(QStringLiteral("DoCheck")).toInt(), doCheck);
}

// --- Verification ------------------------------------------------------------------------

void TestListingThread::verification_data()
{
    QTest::addColumn<FakeReply>("answer");
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QString>("text");
    QTest::newRow("passed") << FakeReply::ok(
        reply(QStringLiteral("VerifyAddItem"), QStringLiteral("Success"),
              QStringLiteral("<Fees>") + fee(QStringLiteral("InsertionFee"), QStringLiteral("0.35"))
                  + fee(QStringLiteral("ListingFee"), QStringLiteral("1.35"))
                  + QStringLiteral("</Fees>")))
                            << true << "Einstellgebühren: 1.35 EUR";
    QTest::newRow("passed with a warning") << FakeReply::ok(
        reply(QStringLiteral("VerifyAddItem"), QStringLiteral("Warning"),
              QStringLiteral("<Fees>") + fee(QStringLiteral("InsertionFee"), QStringLiteral("0.35"))
                  + QStringLiteral("</Fees>")
                  + error(QStringLiteral("Hinweis."), QStringLiteral("Das 'Bild' ist klein."),
                          QStringLiteral("Warning"))))
                                           << true << "Einstellgebühren: 0.35 EUR";
    QTest::newRow("refused")
        << refusal(QStringLiteral("VerifyAddItem")) << false
        << "(f)Kategorie fehlt: Bitte wählen Sie eine Kategorie. Preis: Der Preis ist zu "
           "'niedrig'.";
    QTest::newRow("network error") << FakeReply::dropped() << false << "(f)";
}

void TestListingThread::verification()
{
    QFETCH(FakeReply, answer);
    QFETCH(bool, passed);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), addAccount(t.db()),
                              { { "Folder", 12 },
                                { "DoCheck", 1 },
                                { "IsVerified", passed ? 0 : 1 },
                                { "ItemID", "110005" },
                                { "StartDate", "2026-01-01 08:00:00" },
                                { "EndDate", "2026-01-08 08:00:00" } });
    m_server->setCallReply(QStringLiteral("VerifyAddItem"), answer);

    ListingThread worker;
    worker.db = t.db();
    bool stop = false;
    QCOMPARE(worker.checkPhase(stop), 1);

    QCOMPARE(callNames(*m_server).last(), QStringLiteral("VerifyAddItem"));
    const ArticleRow row = article(t.db(), id);
    QCOMPARE(row.value(QStringLiteral("DoCheck")).toInt(), 0);
    QCOMPARE(row.value(QStringLiteral("IsVerified")).toInt(), passed ? 1 : 0);
    QCOMPARE(row.value(QStringLiteral("DoCheckResult")).toString(), text);
    QCOMPARE(row.value(QStringLiteral("Folder")).toInt(), 12);
    QCOMPARE(row.value(QStringLiteral("ItemID")).toString(), QStringLiteral("110005"));
    QCOMPARE(row.value(QStringLiteral("StartDate")).toString(),
             QStringLiteral("2026-01-01 08:00:00"));
    QCOMPARE(row.value(QStringLiteral("EndDate")).toString(),
             QStringLiteral("2026-01-08 08:00:00"));
    QCOMPARE(entries(t.db(), id),
             (QStringList { QStringLiteral("progress|wird gerade bearbeitet..."),
                            (passed ? QStringLiteral("articlecheck_success|")
                                    : QStringLiteral("articlecheck_fail|"))
                                + text }));
    QCOMPARE(worker.checkPhase(stop), 0);
}

// --- Scheduled starts ------------------------------------------------------------------

void TestListingThread::scheduleUpload()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int account = addAccount(db);
    QMap<QString, int> ids;
    for (const QString &title :
         { QStringLiteral("Uhr 1"), QStringLiteral("Uhr 'Zwei'"), QStringLiteral("Uhr 3") })
        ids.insert(title,
                   addArticle(db, account,
                              { { "Title", title },
                                { "Folder", -3 },
                                { "Planned", "2026-12-24 18:00:00" },
                                { "DoCheckResult", "alt" } }));
    const int withoutTime = addArticle(db, account, { { "Folder", -3 }, { "Planned", "" } });
    const int handedOver = addArticle(
        db, account,
        { { "Folder", -3 }, { "Planned", "2026-12-24 18:00:00" }, { "Planned_Interval", "J-0" } });
    const int elsewhere
        = addArticle(db, account, { { "Folder", -10 }, { "Planned", "2026-12-24 18:00:00" } });
    m_server->setReplies(kSchedulePath,
                         { FakeReply::ok("<result><id>J-1</id></result>"),
                           FakeReply::ok("<result><id>J'2</id></result>"),
                           FakeReply::ok("<result><id>J-3</id></result>") });

    ListingThread worker;
    worker.db = db;
    QSignalSpy status(&worker, &ListingThread::getStatus);
    QSignalSpy news(&worker, &ListingThread::sendaddNewsItem);
    worker.uploadPhase();

    const QString uploading = QStringLiteral("Lade Planungen hoch");
    QCOMPARE(QList<QVariantList>(status),
             (QList<QVariantList> { { uploading, 3, 0 },
                                    { uploading, 3, 0 },
                                    { uploading, 3, 1 },
                                    { uploading, 3, 2 },
                                    { QStringLiteral("Planungen hochgeladen"), 100, 100 } }));
    QCOMPARE(news.size(), 6);

    QMap<QString, QString> jobOfTitle;
    QStringList jobs { QStringLiteral("J-1"), QStringLiteral("J'2"), QStringLiteral("J-3") };
    const QList<RecordedRequest> requests = m_server->requests();
    QStringList uploads;
    for (const RecordedRequest &request : requests) {
        if (request.path != kSchedulePath)
            continue;
        const XmlNode root = XmlNode::parse(request.body);
        QCOMPARE(root.value(QStringLiteral("Planned")), QStringLiteral("2026-12-24 18:00:00"));
        QVERIFY(root.has(QStringLiteral("Planned_Interval")));
        QCOMPARE(root.value(QStringLiteral("Planned_Interval")), QString());
        QCOMPARE(root.value(QStringLiteral("AccountNames")), QStringLiteral("händler_1"));
        QCOMPARE(root.value(QStringLiteral("AccountName")), QStringLiteral("händler_1"));
        QCOMPARE(root.value(QStringLiteral("TrackSiteID")), QStringLiteral("77"));
        const QString title = root.value(QStringLiteral("Item/Title"));
        jobOfTitle.insert(title, jobs.value(uploads.size()));
        uploads << title;
    }
    QCOMPARE(uploads.size(), 3);
    for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
        QVERIFY2(jobOfTitle.contains(it.key()), qPrintable(it.key()));
        const ArticleRow row = article(db, it.value());
        QCOMPARE(row.value(QStringLiteral("Planned_Interval")).toString(),
                 jobOfTitle.value(it.key()));
        QCOMPARE(row.value(QStringLiteral("DoCheckResult")).toString(), QString());
        QCOMPARE(row.value(QStringLiteral("Folder")).toInt(), -3);
        QCOMPARE(row.value(QStringLiteral("Planned")).toString(),
                 QStringLiteral("2026-12-24 18:00:00"));
        QCOMPARE(
            entries(db, it.value()),
            (QStringList {
                QStringLiteral("progress|wird gerade bearbeitet..."),
                QStringLiteral("planning_add_success|wurde an den Startzeitserver gesendet") }));
    }
    for (const int id : { withoutTime, handedOver, elsewhere })
        QCOMPARE(entries(db, id), QStringList());
    QCOMPARE(article(db, handedOver).value(QStringLiteral("Planned_Interval")).toString(),
             QStringLiteral("J-0"));

    // Everything handed over: the next pass sends nothing and shows no status.
    status.clear();
    const int before = m_server->requestCount();
    worker.uploadPhase();
    QCOMPARE(status.size(), 0);
    QCOMPARE(m_server->requestCount(), before);
}

void TestListingThread::scheduleUploadFailure_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << QByteArray("FAIL: Kein Guthaben für 'Planungen'")
                             << "Kein Guthaben für 'Planungen'";
    QTest::newRow("no job id") << QByteArray("<result>?</result>") << "Unbekannter Fehler";
}

void TestListingThread::scheduleUploadFailure()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), addAccount(t.db()),
                              { { "Folder", -3 }, { "Planned", "2026-12-24 18:00:00" } });
    m_server->setReply(kSchedulePath, FakeReply::ok(answer));

    ListingThread worker;
    worker.db = t.db();
    worker.uploadPhase();

    const ArticleRow row = article(t.db(), id);
    QCOMPARE(row.value(QStringLiteral("Planned_Interval")).toString(), QString());
    QCOMPARE(row.value(QStringLiteral("DoCheckResult")).toString(), text);
    QCOMPARE(entries(t.db(), id),
             (QStringList { QStringLiteral("progress|wird gerade bearbeitet..."),
                            QStringLiteral("planning_add_fail|") + text }));
    // Sent again in the next pass.
    worker.uploadPhase();
    QCOMPARE(callNames(*m_server).count(kSchedulePath), 2);
}

void TestListingThread::scheduleUploadStopsOnClosing()
{
    APP_TEST_DATABASE(t);
    const int account = addAccount(t.db());
    for (int i = 0; i < 3; ++i)
        addArticle(t.db(), account, { { "Folder", -3 }, { "Planned", "2026-12-24 18:00:00" } });
    m_server->setReply(kSchedulePath, FakeReply::ok("<result><id>J-1</id></result>"));

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy status(&worker, &ListingThread::getStatus);
    connect(&worker, &ListingThread::sendaddNewsItem, this, [](const NewsItem &item) {
        if (item.infotype == QLatin1String("planning_add_success"))
            qApp->setProperty("AppDown", 1);
    });
    worker.uploadPhase();

    QCOMPARE(callNames(*m_server).count(kSchedulePath), 1);
    QCOMPARE(status.last(), (QVariantList { QStringLiteral("Planungen hochgeladen"), 100, 100 }));
    QCOMPARE(status.size(), 3);
    QCOMPARE(t.db()
                 ->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles WHERE "
                                            "Planned_Interval=''"))
                 .toInt(),
             2);
}

// --- Copies ----------------------------------------------------------------------------

void TestListingThread::failedCopyChangesNoCount()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The refusing trigger is written for SQLite");
    APP_TEST_DATABASE(t);
    const int id = addArticle(t.db(), addAccount(t.db()),
                              { { "Folder", -2 }, { "FolderOld", -10 }, { "DoCheck", 2 } });
    QVERIFY(t.db()->executeSQL(
        QStringLiteral("CREATE TRIGGER no_copies BEFORE INSERT ON articles BEGIN "
                       "SELECT RAISE(ABORT, 'keine Kopie'); END")));
    m_server->setCallReply(
        QStringLiteral("AddItem"),
        success(QStringLiteral("AddItem"), QStringLiteral("<ItemID>7</ItemID>")));

    ListingThread worker;
    worker.db = t.db();
    QSignalSpy counts(&worker, &ListingThread::ChangeFolderCount);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    bool stop = false;
    QCOMPARE(worker.outboxPhase(stop), 1);

    QVERIFY(log.count(QStringLiteral("keine Kopie")) > 0);
    QCOMPARE(counts.size(), 0);
    QCOMPARE(t.db()->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles")).toInt(), 1);
    const ArticleRow row = article(t.db(), id);
    QCOMPARE(row.value(QStringLiteral("Folder")).toInt(), -9);
    QCOMPARE(row.value(QStringLiteral("ItemID")).toString(), QStringLiteral("7"));
}

APP_TEST_GUILESS_MAIN(TestListingThread)
#include "test_listingthread.moc"
