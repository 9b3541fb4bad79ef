#include "core/clock.h"
#include "core/database.h"
#include "core/statics.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/listingthread.h"
#include "workers/scheduledstartservice.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

namespace {

const QString kListingPath = QStringLiteral("/zaruvovezira/listing.php");
const QString kWithdrawPath = QStringLiteral("/zaruvovezira/listing_delete.php");
const QDateTime kNow(QDate(2026, 3, 10), QTime(14, 20, 5));

FakeReply state(const QString &itemId, const QString &state, const QString &error = QString())
{
    return FakeReply::ok(
        QStringLiteral("<planning_items><planning_items_ebayitemid>%1"
                       "</planning_items_ebayitemid><planning_items_ebaystate>%2"
                       "</planning_items_ebaystate><planning_items_ebayerrormessage>"
                       "%3</planning_items_ebayerrormessage></planning_items>")
            .arg(itemId, state, error)
            .toUtf8());
}

QStringList askedIds(const FakeHttpServer &server)
{
    QStringList ids;
    for (const RecordedRequest &request : server.requests())
        ids << request.queryItem("id");
    return ids;
}

using Counts = QList<QVariantList>;

} // namespace

class TestScheduledStart : public QObject
{
    Q_OBJECT
private slots:
    // Short, so that a server that does not answer in time keeps the rows quick.
    void initTestCase() { Statics::setHttpTimeout(400); }
    void init();
    void cleanup();

    void followUp();
    void credit();
    void withdraw();
    void changedDuringUpload_data();
    void changedDuringUpload();

private:
    int insertArticle(int folder, const QString &planned, const QString &jobId);
    // Folder, FolderOld, Planned, Planned_Interval, ItemID, StartDate, DoCheckResult.
    QStringList scheduleColumns(int id);

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_database;
};

void TestScheduledStart::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_database = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_database->error().isEmpty(), qPrintable(m_database->error()));
    Clock::setCurrentDateTimeForTesting(kNow);
}

void TestScheduledStart::cleanup()
{
    Clock::setCurrentDateTimeForTesting(QDateTime());
    m_database.reset();
    m_server.reset();
}

int TestScheduledStart::insertArticle(int folder, const QString &planned, const QString &jobId)
{
    return m_database->db()->insertSqlClean({ { "Folder", folder },
                                              { "FolderOld", -9 },
                                              { "Planned", planned },
                                              { "Planned_Interval", jobId } },
                                            "articles");
}

QStringList TestScheduledStart::scheduleColumns(int id)
{
    const ArticleRow row
        = m_database->db()
              ->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id))
              .value()
              .value(0);
    QStringList values;
    for (const char *column : { "Folder", "FolderOld", "Planned", "Planned_Interval", "ItemID",
                                "StartDate", "DoCheckResult" })
        values << row.value(column).toString();
    return values;
}

// Each row gets its own outcome; only the rows left open (pending, unanswered in time, an
// error status) are asked again. Rows still waiting for their upload or outside the
// scheduled folder are not asked.
void TestScheduledStart::followUp()
{
    const QString quoted = QStringLiteral("Feld 'Marke' fehlt");
    const QStringList jobs = { "job 7&x=1", "B2", "D4", "E5", "C3" };
    const QList<FakeReply> replies
        = { state("11'0", "Listed"), state("", "Failure", quoted), state("444", ""),
            FakeReply::withStatus(500, state("555", "Listed").body),
            state("333", "Listed").neverInTime() };
    m_server->setHandler(kListingPath, [=](const RecordedRequest &request) {
        return replies.value(jobs.indexOf(request.queryItem("id")));
    });
    QList<int> ids;
    for (const QString &job : jobs)
        ids << insertArticle(-3, "2026-03-11 15:00:00", job);
    ids << insertArticle(-3, "2026-03-11 16:00:00", "") << insertArticle(-9, QString(), "alt");
    QList<QStringList> before;
    for (int id : ids)
        before << scheduleColumns(id);

    ScheduledStartService service(m_database->db());
    QSignalSpy spy(&service, &ScheduledStartService::ChangeFolderCount);
    service.followUp();

    QCOMPARE(scheduleColumns(ids[0]),
             QStringList({ "-9", "-9", "", "", "11'0", "2026-03-10 14:20:05", "" }));
    QCOMPARE(scheduleColumns(ids[1]), QStringList({ "-3", "-9", "", "", "", "", quoted }));
    for (int i = 2; i < ids.size(); ++i)
        QCOMPARE(scheduleColumns(ids[i]), before[i]);
    QCOMPARE(Counts(spy.begin(), spy.end()), Counts({ { -9, 1, false }, { -3, -1, false } }));
    // The job id arrives as it was: each goes out percent-encoded.
    QCOMPARE(askedIds(*m_server), jobs);
    m_server->clearRequests();
    service.followUp();
    QCOMPARE(askedIds(*m_server), jobs.mid(2));
}

// Only a credit of nothing locks; an unreachable server does not.
void TestScheduledStart::credit()
{
    for (const char *name : { "händler 1", "a&b=c", "x,y+z" })
        QVERIFY(m_database->db()->insertSqlClean({ { "accountname", name } }, "accounts") > 0);
    m_server->setReplies(
        "/zaruvovezira/planning.php",
        { FakeReply::ok("0,00 €"), FakeReply::ok("0,05 €"), FakeReply::withStatus(503, "0,00 €") });

    ScheduledStartService service(m_database->db());
    QStringList answers;
    QList<bool> locked;
    for (int i = 0; i < 3; ++i) {
        answers << service.credit();
        locked << ScheduledStartService::noCreditLeft(answers.last());
    }
    QCOMPARE(answers, QStringList({ "0,00 €", "0,05 €", "" }));
    QCOMPARE(locked, QList<bool>({ true, false, false }));
    const RecordedRequest request = m_server->lastRequest();
    // Each name encoded on its own; the commas between them separate the names.
    QCOMPARE(request.method + ' ' + request.header("Content-Type") + ' ' + request.body,
             QByteArray("POST application/x-www-form-urlencoded "
                        "names=h%C3%A4ndler%201,a%26b%3Dc,x%2Cy%2Bz"));
}

// Only a plain "success" counts; the job id arrives as it was.
void TestScheduledStart::withdraw()
{
    m_server->setReplies("/zaruvovezira/listing_delete.php",
                         { FakeReply::ok("success"), FakeReply::ok("success, but"),
                           FakeReply::withStatus(500, "success") });
    const QString jobId = QStringLiteral("a b/c?d&e=f#1");

    ScheduledStartService service(m_database->db());
    QList<bool> withdrawn;
    for (int i = 0; i < 3; ++i)
        withdrawn << service.withdraw(jobId);
    QCOMPARE(withdrawn, QList<bool>({ true, false, false }));
    QCOMPARE(askedIds(*m_server), QStringList({ jobId, jobId, jobId }));
}

void TestScheduledStart::changedDuringUpload_data()
{
    QTest::addColumn<QString>("change"); // run while the service's answer is held; %1 the id
    QTest::addColumn<QByteArray>("withdrawReply");
    QTest::addColumn<QString>("row"); // Folder|Planned|Planned_Interval afterwards
    QTest::addColumn<bool>("withdrawn"); // the job was sent back to the service
    QTest::addColumn<QString>("entry"); // infotype|start of textinfo of the outcome entry

    // As "Planung aufheben" does with a row that has no job id yet.
    const QString cancel = QStringLiteral(
        "UPDATE articles SET Planned = '', Planned_Interval = '', Folder=FolderOld WHERE id=%1");
    QTest::newRow("cancelled") << cancel << QByteArray("success") << "-10||" << true
                               << "success|Die Planung wurde inzwischen aufgehoben";
    QTest::newRow("cancelled, withdrawal refused")
        << cancel << QByteArray("unknown job") << "-10||" << true
        << "error|Die Planung wurde inzwischen aufgehoben";
    // As the scheduling dialog does: a new start, uploaded anew in the next pass.
    QTest::newRow("rescheduled")
        << "UPDATE articles SET Planned_Interval='', Planned='2026-03-12 09:00:00' WHERE id=%1"
        << QByteArray("success") << "-3|2026-03-12 09:00:00|" << true
        << "success|Die Planung wurde inzwischen aufgehoben";
    QTest::newRow("job id not writable")
        << "CREATE TRIGGER keepjob BEFORE UPDATE OF Planned_Interval ON articles "
           "BEGIN SELECT RAISE(ABORT, 'gesperrt'); END"
        << QByteArray("success") << "-3|2026-03-11 15:00:00|" << true
        << "planning_add_fail|Die Auftragsnummer des Startzeitservers konnte nicht gespeichert "
           "werden: gesperrt";
    QTest::newRow("still planned")
        << QString() << QByteArray("success") << "-3|2026-03-11 15:00:00|J-1" << false
        << "planning_add_success|wurde an den Startzeitserver gesendet";
}

// The seller changes the scheduled row while the listing worker waits for the service's job
// id: a job the row does not name any more is withdrawn, never stored or left to start.
void TestScheduledStart::changedDuringUpload()
{
    QFETCH(QString, change);
    QFETCH(QByteArray, withdrawReply);
    QFETCH(QString, row);
    QFETCH(bool, withdrawn);
    QFETCH(QString, entry);

    Database *db = m_database->db();
    const int account
        = db->insertSqlClean({ { "accountname", "händler_1" }, { "token", "T" } }, "accounts");
    const int id = db->insertSqlClean({ { "Title", "Uhr" },
                                        { "Account", account },
                                        { "Folder", -3 },
                                        { "FolderOld", -10 },
                                        { "Planned", "2026-03-11 15:00:00" },
                                        { "Planned_Interval", "" } },
                                      "articles");
    QSemaphore arrived;
    QSemaphore release;
    m_server->setHandler(kListingPath, [&](const RecordedRequest &) {
        arrived.release();
        release.acquire();
        return FakeReply::ok("<result><id>J-1</id></result>");
    });
    m_server->setReply(kWithdrawPath, FakeReply::ok(withdrawReply));

    // The worker on a thread and connection of its own, as in the program.
    Statics::setHttpTimeout(60000);
    std::unique_ptr<QThread> thread(QThread::create([] {
        Database connection(true, QStringLiteral("listingThreadDB"));
        ListingThread worker;
        worker.db = &connection;
        worker.uploadPhase();
    }));
    const auto finish = qScopeGuard([&] {
        release.release();
        thread->wait();
        Statics::setHttpTimeout(400);
    });
    thread->start();
    QVERIFY(arrived.tryAcquire(1, 60000));
    if (!change.isEmpty())
        QVERIFY2(db->executeSQL(change.arg(id)), qPrintable(db->lastErrorText));
    release.release();
    QVERIFY(thread->wait(60000));

    QCOMPARE(TestSupport::values(db, id, "Folder,Planned,Planned_Interval"), row);
    QStringList sentBack;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.path == kWithdrawPath)
            sentBack << request.queryItem("id");
    }
    QCOMPARE(sentBack, withdrawn ? QStringList { "J-1" } : QStringList());
    const ArticleRow outcome = db->select(QStringLiteral("SELECT infotype, textinfo FROM "
                                                         "itemshistory WHERE databaseid=%1 "
                                                         "ORDER BY id DESC")
                                              .arg(id))
                                   .value()
                                   .value(0);
    const QString got
        = outcome.value("infotype").toString() + '|' + outcome.value("textinfo").toString();
    QVERIFY2(got.startsWith(entry), qPrintable(got));
}

APP_TEST_GUILESS_MAIN(TestScheduledStart)
#include "test_scheduledstart.moc"
