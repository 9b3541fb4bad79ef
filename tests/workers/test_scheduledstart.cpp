#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "core/statics.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/scheduledstartservice.h"

#include <QSignalSpy>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kListingPath = QStringLiteral("/zaruvovezira/listing.php");
const QDateTime kNow(QDate(2026, 3, 10), QTime(14, 20, 5));

// A state reply; a null text leaves its element out.
FakeReply state(const QString &itemId, const QString &state, const QString &error = QString())
{
    QString text;
    const QStringList values = { itemId, state, error };
    const QStringList names = { "ebayitemid", "ebaystate", "ebayerrormessage" };
    for (int i = 0; i < names.size(); ++i) {
        if (!values.at(i).isNull())
            text += QStringLiteral("<planning_items_%1>%2</planning_items_%1>")
                        .arg(names.at(i), values.at(i));
    }
    return FakeReply::ok(("<planning_items>" + text + "</planning_items>").toUtf8());
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

    void followUp_data();
    void followUp();
    void followUpHandlesEachRowOnItsOwn();
    void credit_data();
    void credit();
    void withdraw_data();
    void withdraw();
    void nothingIsSentWithoutAnAddress();

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
              .value(0);
    QStringList values;
    for (const char *column : { "Folder", "FolderOld", "Planned", "Planned_Interval", "ItemID",
                                "StartDate", "DoCheckResult" })
        values << row.value(column).toString();
    return values;
}

void TestScheduledStart::followUp_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QStringList>("after"); // the schedule columns; empty: unchanged
    const QString now = QStringLiteral("2026-03-10 14:20:05");
    const QString quoted = QStringLiteral("Feld 'Marke' fehlt");
    QTest::newRow("started") << state("110012345678", "Listed", "")
                             << QStringList { "-9", "-9", "", "", "110012345678", now, "" };
    QTest::newRow("started, listing number with a quote")
        << state("11'0", "1") << QStringList { "-9", "-9", "", "", "11'0", now, "" };
    QTest::newRow("failed, empty listing number, quote in the message")
        << state("", "Failure", quoted) << QStringList { "-3", "-9", "", "", "", "", quoted };
    QTest::newRow("pending with a listing number")
        << state("110012345678", "", "") << QStringList {};
    QTest::newRow("error status") << FakeReply::withStatus(500, state("1", "Listed").body)
                                  << QStringList {};
}

void TestScheduledStart::followUp()
{
    QFETCH(FakeReply, reply);
    QFETCH(QStringList, after);
    const QString jobId = QStringLiteral("job 7&x=1");
    const int scheduled = insertArticle(-3, "2026-03-11 15:00:00", jobId);
    // Neither an article still waiting for its upload nor one outside the folder is asked.
    const QList<int> ids = { scheduled, insertArticle(-3, "2026-03-11 16:00:00", ""),
                             insertArticle(-9, QString(), "alt") };
    QList<QStringList> before;
    for (int id : ids)
        before << scheduleColumns(id);
    m_server->setReply(kListingPath, reply);

    ScheduledStartService service(m_database->db());
    QSignalSpy spy(&service, &ScheduledStartService::ChangeFolderCount);
    service.followUp();

    if (!after.isEmpty())
        before[0] = after;
    for (int i = 0; i < ids.size(); ++i)
        QCOMPARE(scheduleColumns(ids[i]), before[i]);
    QCOMPARE(Counts(spy.begin(), spy.end()),
             after.value(0) == "-9" ? Counts({ { -9, 1, false }, { -3, -1, false } }) : Counts());
    // Asked once; the job id goes out percent-encoded and arrives as it was.
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(m_server->lastRequest().query, QStringLiteral("action=getstate&id=job%207%26x%3D1"));
    QCOMPARE(m_server->lastRequest().queryItem("id"), jobId);
}

// One started, one failed, one unanswered (too late): each row gets its own outcome, and
// only the unanswered one is asked again.
void TestScheduledStart::followUpHandlesEachRowOnItsOwn()
{
    QList<int> ids;
    for (const char *job : { "A1", "B2", "C3" })
        ids << insertArticle(-3, "2026-03-11 15:00:00", job);
    const QStringList thirdBefore = scheduleColumns(ids[2]);
    m_server->setHandler(kListingPath, [](const RecordedRequest &request) {
        const QString id = request.queryItem("id");
        return id == "A1" ? state("111", "Listed")
            : id == "B2"  ? state("", "Failure", "Kein Guthaben")
                          : state("333", "Listed").delayed(1500);
    });

    ScheduledStartService service(m_database->db());
    QSignalSpy spy(&service, &ScheduledStartService::ChangeFolderCount);
    service.followUp();

    QStringList asked;
    for (const RecordedRequest &request : m_server->requests())
        asked << request.queryItem("id");
    QCOMPARE(asked, QStringList({ "A1", "B2", "C3" }));
    QCOMPARE(scheduleColumns(ids[0]).mid(0, 5), QStringList({ "-9", "-9", "", "", "111" }));
    QCOMPARE(scheduleColumns(ids[1]), QStringList({ "-3", "-9", "", "", "", "", "Kein Guthaben" }));
    QCOMPARE(scheduleColumns(ids[2]), thirdBefore);
    QCOMPARE(spy.size(), 2);
    m_server->clearRequests();
    service.followUp();
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(m_server->lastRequest().queryItem("id"), QStringLiteral("C3"));
}

void TestScheduledStart::credit_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("credit");
    QTest::addColumn<bool>("noCreditLeft");
    QTest::newRow("nothing left") << FakeReply::ok("0,00 €") << "0,00 €" << true;
    QTest::newRow("nothing left, bare number") << FakeReply::ok("0,00") << "0,00" << true;
    QTest::newRow("ten euros") << FakeReply::ok("10,00 €") << "10,00 €" << false;
    QTest::newRow("cents left") << FakeReply::ok("0,05 €") << "0,05 €" << false;
    QTest::newRow("error status") << FakeReply::withStatus(503, "0,00 €") << "" << false;
}

void TestScheduledStart::credit()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, credit);
    QFETCH(bool, noCreditLeft);
    for (const char *name : { "händler 1", "a&b=c", "x,y+z" })
        QVERIFY(m_database->db()->insertSqlClean({ { "accountname", name } }, "accounts") > 0);
    m_server->setReply("/zaruvovezira/planning.php", reply);

    const QString answer = ScheduledStartService(m_database->db()).credit();

    QCOMPARE(answer, credit);
    QCOMPARE(ScheduledStartService::noCreditLeft(answer), noCreditLeft);
    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest request = m_server->lastRequest();
    // Each name encoded on its own; the commas between them separate the names.
    QCOMPARE(request.method + ' ' + request.header("Content-Type") + ' ' + request.body,
             QByteArray("POST application/x-www-form-urlencoded "
                        "names=h%C3%A4ndler%201,a%26b%3Dc,x%2Cy%2Bz"));
}

void TestScheduledStart::withdraw_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("withdrawn");
    QTest::newRow("success") << FakeReply::ok("success") << true;
    QTest::newRow("other case") << FakeReply::ok("Success") << false;
    QTest::newRow("success with more") << FakeReply::ok("success, but") << false;
    QTest::newRow("error status") << FakeReply::withStatus(500, "success") << false;
}

void TestScheduledStart::withdraw()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, withdrawn);
    m_server->setReply("/zaruvovezira/listing_delete.php", reply);
    const QString jobId = QStringLiteral("a b/c?d&e=f#1");

    QCOMPARE(ScheduledStartService(m_database->db()).withdraw(jobId), withdrawn);

    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(m_server->lastRequest().query, QStringLiteral("id=a%20b%2Fc%3Fd%26e%3Df%231"));
    QCOMPARE(m_server->lastRequest().queryItem("id"), jobId);
}

// Without the address of the maker's server every request behaves as unanswered.
void TestScheduledStart::nothingIsSentWithoutAnAddress()
{
    if (!Config::defaultValue(Config::Key::ServerUrl).isEmpty())
        QSKIP("Built with a default address of the maker's server");
    qunsetenv("ZERIRE_SERVER_URL");
    m_server->setDefaultReply(FakeReply::ok("success"));
    const int id = insertArticle(-3, "2026-03-11 15:00:00", "J1");
    const QStringList before = scheduleColumns(id);
    m_database->db()->insertSqlClean({ { "accountname", "laden" } }, "accounts");

    ScheduledStartService service(m_database->db());
    service.followUp();
    QCOMPARE(scheduleColumns(id), before);
    QCOMPARE(service.credit(), QString());
    QVERIFY(!service.withdraw("J1"));
    QCOMPARE(m_server->requestCount(), 0);
}

APP_TEST_GUILESS_MAIN(TestScheduledStart)
#include "test_scheduledstart.moc"
