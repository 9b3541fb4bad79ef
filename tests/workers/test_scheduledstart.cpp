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
const QString kCreditPath = QStringLiteral("/zaruvovezira/planning.php");
const QString kWithdrawPath = QStringLiteral("/zaruvovezira/listing_delete.php");
const QDateTime kNow(QDate(2026, 3, 10), QTime(14, 20, 5));

// A state reply; a null text leaves its element out.
QByteArray stateReply(const QString &itemId, const QString &state, const QString &error)
{
    QString text;
    const QStringList values = { itemId, state, error };
    const QStringList names = { "ebayitemid", "ebaystate", "ebayerrormessage" };
    for (int i = 0; i < names.size(); ++i) {
        if (!values.at(i).isNull())
            text += QStringLiteral("<planning_items_%1>%2</planning_items_%1>")
                        .arg(names.at(i), values.at(i));
    }
    return ("<planning_items>" + text + "</planning_items>").toUtf8();
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

private:
    // Unsets the server address for the `configured` false rows (skips when the build has
    // a default address, which the test must not reach).
    void applyConfigured(bool configured);
    int insertArticle(int folder, const QString &planned, const QString &jobId);
    QStringList scheduleColumns(int id);

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_database;
};

void TestScheduledStart::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
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

void TestScheduledStart::applyConfigured(bool configured)
{
    if (configured)
        return;
    if (!Config::defaultValue(Config::Key::ServerUrl).isEmpty())
        QSKIP("Built with a default address of the maker's server");
    qunsetenv("ZERIRE_SERVER_URL");
    QVERIFY(Config::serverAddress(kListingPath).isEmpty());
}

int TestScheduledStart::insertArticle(int folder, const QString &planned, const QString &jobId)
{
    return m_database->db()->insertSqlClean({ { "Folder", folder },
                                              { "FolderOld", -9 },
                                              { "Planned", planned },
                                              { "Planned_Interval", jobId } },
                                            QStringLiteral("articles"));
}

// Folder, FolderOld, Planned, Planned_Interval, ItemID, StartDate, DoCheckResult.
QStringList TestScheduledStart::scheduleColumns(int id)
{
    const ArticleRow row
        = m_database->db()
              ->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id))
              .value(0);
    QStringList values;
    for (const char *column : { "Folder", "FolderOld", "Planned", "Planned_Interval", "ItemID",
                                "StartDate", "DoCheckResult" })
        values << row.value(QLatin1String(column)).toString();
    return values;
}

void TestScheduledStart::followUp_data()
{
    QTest::addColumn<bool>("configured");
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QStringList>("after"); // the schedule columns; empty: unchanged
    const QString now = QStringLiteral("2026-03-10 14:20:05");
    const QString quoted = QStringLiteral("Feld 'Marke' fehlt");
    QTest::newRow("started") << true << FakeReply::ok(stateReply("110012345678", "Listed", ""))
                             << QStringList { "-9", "-9", "", "", "110012345678", now, "" };
    QTest::newRow("started, listing number with a quote")
        << true << FakeReply::ok(stateReply("11'0", "1", QString()))
        << QStringList { "-9", "-9", "", "", "11'0", now, "" };
    QTest::newRow("failed, empty listing number, quote in the message")
        << true << FakeReply::ok(stateReply("", "Failure", quoted))
        << QStringList { "-3", "-9", "", "", "", "", quoted };
    QTest::newRow("pending with a listing number")
        << true << FakeReply::ok(stateReply("110012345678", "", "")) << QStringList {};
    QTest::newRow("pending, no elements")
        << true << FakeReply::ok(stateReply(QString(), QString(), QString())) << QStringList {};
    QTest::newRow("empty reply") << true << FakeReply::ok("") << QStringList {};
    QTest::newRow("error status") << true
                                  << FakeReply::withStatus(500, stateReply("1", "Listed", ""))
                                  << QStringList {};
    QTest::newRow("not configured")
        << false << FakeReply::ok(stateReply("1", "Listed", "")) << QStringList {};
}

void TestScheduledStart::followUp()
{
    QFETCH(bool, configured);
    QFETCH(FakeReply, reply);
    QFETCH(QStringList, after);
    applyConfigured(configured);
    const QString jobId = QStringLiteral("job 7&x=1");
    const int scheduled = insertArticle(-3, QStringLiteral("2026-03-11 15:00:00"), jobId);
    // Neither an article still waiting for its upload nor one outside the folder is asked.
    const QList<int> others = { insertArticle(-3, QStringLiteral("2026-03-11 16:00:00"), ""),
                                insertArticle(-9, QString(), QStringLiteral("alt")) };
    const QStringList before = scheduleColumns(scheduled);
    const QList<QStringList> othersBefore
        = { scheduleColumns(others[0]), scheduleColumns(others[1]) };
    m_server->setReply(kListingPath, reply);

    ScheduledStartService service(m_database->db());
    QSignalSpy spy(&service, &ScheduledStartService::ChangeFolderCount);
    service.followUp();

    QCOMPARE(scheduleColumns(scheduled), after.isEmpty() ? before : after);
    QCOMPARE(QList<QStringList>({ scheduleColumns(others[0]), scheduleColumns(others[1]) }),
             othersBefore);
    const bool started = after.value(0) == QLatin1String("-9");
    QCOMPARE(Counts(spy.begin(), spy.end()),
             started ? Counts({ { -9, 1, false }, { -3, -1, false } }) : Counts());
    QCOMPARE(m_server->requestCount(), configured ? 1 : 0);
    if (configured) {
        // The job id goes out percent-encoded and arrives as it was.
        QCOMPARE(m_server->lastRequest().query,
                 QStringLiteral("action=getstate&id=job%207%26x%3D1"));
        QCOMPARE(m_server->lastRequest().queryItem(QStringLiteral("id")), jobId);
    }
}

void TestScheduledStart::followUpHandlesEachRowOnItsOwn()
{
    QList<int> ids;
    for (const char *job : { "A1", "B2", "C3" })
        ids << insertArticle(-3, QStringLiteral("2026-03-11 15:00:00"), job);
    const QStringList thirdBefore = scheduleColumns(ids[2]);
    m_server->setHandler(kListingPath, [](const RecordedRequest &request) {
        const QString id = request.queryItem(QStringLiteral("id"));
        if (id == QLatin1String("A1"))
            return FakeReply::ok(stateReply("111", "Listed", ""));
        if (id == QLatin1String("B2"))
            return FakeReply::ok(stateReply("", "Failure", QStringLiteral("Kein Guthaben")));
        return FakeReply::ok(stateReply("333", "Listed", "")).delayed(1500);
    });

    ScheduledStartService service(m_database->db());
    QSignalSpy spy(&service, &ScheduledStartService::ChangeFolderCount);
    service.followUp();

    QStringList asked;
    for (const RecordedRequest &request : m_server->requests())
        asked << request.queryItem(QStringLiteral("id"));
    QCOMPARE(asked, QStringList({ "A1", "B2", "C3" }));
    QCOMPARE(scheduleColumns(ids[0]).mid(0, 5), QStringList({ "-9", "-9", "", "", "111" }));
    QCOMPARE(scheduleColumns(ids[1]), QStringList({ "-3", "-9", "", "", "", "", "Kein Guthaben" }));
    QCOMPARE(scheduleColumns(ids[2]), thirdBefore);
    QCOMPARE(spy.size(), 2);
    // The failed one is not asked again, the unanswered one is.
    m_server->clearRequests();
    service.followUp();
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(m_server->lastRequest().queryItem(QStringLiteral("id")), QStringLiteral("C3"));
}

void TestScheduledStart::credit_data()
{
    QTest::addColumn<bool>("configured");
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("credit");
    QTest::addColumn<bool>("noCreditLeft");
    QTest::newRow("nothing left") << true << FakeReply::ok("0,00 €") << "0,00 €" << true;
    QTest::newRow("nothing left, bare number") << true << FakeReply::ok("0,00") << "0,00" << true;
    QTest::newRow("ten euros") << true << FakeReply::ok("10,00 €") << "10,00 €" << false;
    QTest::newRow("cents left") << true << FakeReply::ok("0,05 €") << "0,05 €" << false;
    QTest::newRow("error status") << true << FakeReply::withStatus(503, "0,00 €") << "" << false;
    QTest::newRow("not configured") << false << FakeReply::ok("0,00 €") << "" << false;
}

void TestScheduledStart::credit()
{
    QFETCH(bool, configured);
    QFETCH(FakeReply, reply);
    QFETCH(QString, credit);
    QFETCH(bool, noCreditLeft);
    applyConfigured(configured);
    for (const char *name : { "händler 1", "a&b=c", "x,y+z" })
        QVERIFY(m_database->db()->insertSqlClean({ { "accountname", name } },
                                                 QStringLiteral("accounts"))
                > 0);
    m_server->setReply(kCreditPath, reply);

    ScheduledStartService service(m_database->db());
    const QString answer = service.credit();

    QCOMPARE(answer, credit);
    QCOMPARE(ScheduledStartService::noCreditLeft(answer), noCreditLeft);
    QCOMPARE(m_server->requestCount(), configured ? 1 : 0);
    if (configured) {
        const RecordedRequest request = m_server->lastRequest();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        // Each name encoded on its own; the commas between them separate the names.
        QCOMPARE(request.body, QByteArray("names=h%C3%A4ndler%201,a%26b%3Dc,x%2Cy%2Bz"));
    }
}

void TestScheduledStart::withdraw_data()
{
    QTest::addColumn<bool>("configured");
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("withdrawn");
    QTest::newRow("success") << true << FakeReply::ok("success") << true;
    QTest::newRow("other case") << true << FakeReply::ok("Success") << false;
    QTest::newRow("success with more") << true << FakeReply::ok("success, but") << false;
    QTest::newRow("empty reply") << true << FakeReply::ok("") << false;
    QTest::newRow("error status") << true << FakeReply::withStatus(500, "success") << false;
    QTest::newRow("no answer in time") << true << FakeReply::ok("success").delayed(1500) << false;
    QTest::newRow("not configured") << false << FakeReply::ok("success") << false;
}

void TestScheduledStart::withdraw()
{
    QFETCH(bool, configured);
    QFETCH(FakeReply, reply);
    QFETCH(bool, withdrawn);
    applyConfigured(configured);
    m_server->setReply(kWithdrawPath, reply);
    const QString jobId = QStringLiteral("a b/c?d&e=f#1");

    ScheduledStartService service(m_database->db());
    QCOMPARE(service.withdraw(jobId), withdrawn);

    QCOMPARE(m_server->requestCount(), configured ? 1 : 0);
    if (configured) {
        QCOMPARE(m_server->lastRequest().query, QStringLiteral("id=a%20b%2Fc%3Fd%26e%3Df%231"));
        QCOMPARE(m_server->lastRequest().queryItem(QStringLiteral("id")), jobId);
    }
}

APP_TEST_GUILESS_MAIN(TestScheduledStart)
#include "test_scheduledstart.moc"
