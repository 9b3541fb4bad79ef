#include "core/clock.h"
#include "core/database.h"
#include "core/statics.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/sqlitereadrefusal.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/enditem.h"
#include "workers/planning.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimeEdit>
#include <functional>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

Q_DECLARE_METATYPE(TestSupport::FakeReply)

namespace {

const QString kCreditPath = QStringLiteral("/zaruvovezira/planning.php");
const QString kWithdrawPath = QStringLiteral("/zaruvovezira/listing_delete.php");

void setNow(const QTime &time)
{
    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 10), time));
}

// The folder counts sent, as "folder+=count".
QStringList counts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &args : spy)
        list << args.at(0).toString() + "+=" + args.at(1).toString();
    return list;
}

// Runs `dialog` with exec(); once it is the active modal window `drive` acts on it. Returns
// the result, or -2 when the dialog was still open afterwards (it is then cancelled, so a
// refusal cannot hang the test).
int runModal(QDialog *dialog, const std::function<void()> &drive)
{
    bool stayedOpen = false;
    QTimer::singleShot(0, dialog, [&stayedOpen, dialog, drive] {
        if (QApplication::activeModalWidget() == dialog)
            drive();
        stayedOpen = dialog->isVisible();
        if (stayedOpen)
            dialog->reject();
    });
    const int result = dialog->exec();
    return stayedOpen ? -2 : result;
}

template<typename T> T *child(QObject *parent, const char *name)
{
    T *widget = parent->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("No child %s", name);
    return widget;
}

void click(QDialog *dialog, QDialogButtonBox::StandardButton which = QDialogButtonBox::Ok)
{
    QTest::mouseClick(child<QDialogButtonBox>(dialog, "buttonBox")->button(which), Qt::LeftButton);
}

} // namespace

class TestDialogsWorkers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Statics::setHttpTimeout(1000); }
    void init();
    void cleanup();

    void creditGate_data();
    void creditGate();
    void tenMinuteRule_data();
    void tenMinuteRule();
    void schedule_data();
    void schedule();
    void scheduleNotStored_data();
    void scheduleNotStored();
    void scheduleCommitAnswerLost_data();
    void scheduleCommitAnswerLost();
    void unreadDatabase_data();
    void unreadDatabase();
    void endReason();

private:
    int insertArticle(int folder, int folderOld = 0, const QString &planned = QString(),
                      const QString &jobId = QString());
    QString scheduleColumns(int id);

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_database;
};

void TestDialogsWorkers::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_server->setReply(kCreditPath, FakeReply::ok("25,00 €"));
    m_database = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_database->error().isEmpty(), qPrintable(m_database->error()));
    QVERIFY(m_database->db()->insertSqlClean({ { "accountname", "laden" } }, "accounts") > 0);
    setNow(QTime(14, 20));
}

void TestDialogsWorkers::cleanup()
{
    Clock::setCurrentDateTimeForTesting(QDateTime());
    m_database.reset();
    m_server.reset();
}

int TestDialogsWorkers::insertArticle(int folder, int folderOld, const QString &planned,
                                      const QString &jobId)
{
    return m_database->db()->insertSqlClean({ { "Folder", folder },
                                              { "FolderOld", folderOld },
                                              { "IsVerified", 1 },
                                              { "Planned", planned },
                                              { "Planned_Interval", jobId } },
                                            "articles");
}

// "Folder|FolderOld|Planned|Planned_Interval".
QString TestDialogsWorkers::scheduleColumns(int id)
{
    const auto row = m_database->db()
                         ->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id))
                         .value()
                         .value(0);
    QStringList values;
    for (const char *column : { "Folder", "FolderOld", "Planned", "Planned_Interval" })
        values << row.value(column).toString();
    return values.join('|');
}

void TestDialogsWorkers::creditGate_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("allVerified");
    QTest::addColumn<QString>("message"); // empty: the dialog is usable
    QTest::newRow("credit, verified") << FakeReply::ok("25,00 €") << true << QString();
    QTest::newRow("unreachable, verified") << FakeReply::withStatus(502) << true << QString();
    QTest::newRow("no credit") << FakeReply::ok("0,00 €") << true << "nicht genügend Guthaben";
    QTest::newRow("not verified") << FakeReply::ok("25,00 €") << false << "noch nicht geprüft";
}

void TestDialogsWorkers::creditGate()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, allVerified);
    QFETCH(QString, message);
    m_server->setReply(kCreditPath, reply);
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(insertArticle(-9)), "-9", allVerified, 0);

    QCOMPARE(
        child<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok)->isEnabled(),
        message.isEmpty());
    if (!message.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(answers.lastMessageText().contains(message), 4000);
}

void TestDialogsWorkers::tenMinuteRule_data()
{
    QTest::addColumn<QTime>("now");
    QTest::addColumn<QString>("planned"); // empty: refused
    QTest::newRow("exactly ten minutes ahead") << QTime(14, 50) << "2026-03-10 15:00:00";
    QTest::newRow("one second short") << QTime(14, 50, 1) << "";
    QTest::newRow("23:30, midnight of today") << QTime(23, 30) << "";
}

void TestDialogsWorkers::tenMinuteRule()
{
    QFETCH(QTime, now);
    QFETCH(QString, planned);
    setNow(now);
    const int id = insertArticle(-9);
    const QString before = scheduleColumns(id);
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(id), "-9", true, 0);
    QSignalSpy spy(&dialog, &Planning::ChangeFolderCount);
    const bool refused = runModal(&dialog, [&] { click(&dialog); }) == -2;

    QCOMPARE(refused, planned.isEmpty());
    QCOMPARE(answers.messages().size(), refused ? 1 : 0);
    QCOMPARE(scheduleColumns(id), refused ? before : "-3|-9|" + planned + "|");
    QCOMPARE(counts(spy), refused ? QStringList() : QStringList({ "-9+=-1", "-3+=1" }));
}

// Articles scheduled from the active folder (-9) or rescheduled within the scheduled one
// (-3, from a user folder 12, at first "2026-03-12 09:00:00") for 16:30 today.
void TestDialogsWorkers::schedule_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<QStringList>("jobIds"); // per article; "" not uploaded, "-" an id without row
    QTest::addColumn<QStringList>("withdrawn"); // the job ids the server withdraws
    QTest::addColumn<int>("gap");
    QTest::addColumn<QStringList>("starts"); // new Planned; "old" = kept as it was
    QTest::addColumn<QString>("warning"); // start of the warning, empty: none
    const QString first = QStringLiteral("2026-03-10 16:30:00");
    const QString second = QStringLiteral("2026-03-10 16:35:00");
    const QStringList none;
    QTest::newRow("three, gap 5") << -9 << QStringList { "", "", "" } << none << 5
                                  << QStringList { first, second, "2026-03-10 16:40:00" } << "";
    // An id without a row is not written and takes no slot.
    QTest::newRow("missing id in the middle") << -9 << QStringList { "", "-", "" } << none << 5
                                              << QStringList { first, "-", second } << "";
    // An article whose job could not be withdrawn keeps its start; its slot stays free (the
    // starts are stored before the service is asked).
    QTest::newRow("rescheduled") << -3 << QStringList { "job 1/a", "J2", "", "J4" }
                                 << QStringList { "job 1/a" } << 5
                                 << QStringList { first, "old", "2026-03-10 16:40:00", "old" }
                                 << "2 Artikel behalten";
}

void TestDialogsWorkers::schedule()
{
    QFETCH(int, from);
    QFETCH(QStringList, jobIds);
    QFETCH(QStringList, withdrawn);
    QFETCH(int, gap);
    QFETCH(QStringList, starts);
    QFETCH(QString, warning);
    m_server->setHandler(kWithdrawPath, [withdrawn](const RecordedRequest &request) {
        return FakeReply::ok(withdrawn.contains(request.queryItem("id")) ? "success"
                                                                         : "FAIL: Auftrag läuft");
    });
    QList<int> ids;
    QStringList before;
    for (const QString &jobId : jobIds) {
        ids << (jobId == "-"     ? 987654
                    : from == -3 ? insertArticle(-3, 12, "2026-03-12 09:00:00", jobId)
                                 : insertArticle(-9));
        before << scheduleColumns(ids.last());
    }
    QStringList idTexts;
    for (int id : ids)
        idTexts << QString::number(id);
    DialogAnswers answers;

    Planning dialog(nullptr, idTexts.join(','), QString::number(from), true, 0);
    QSignalSpy spy(&dialog, &Planning::ChangeFolderCount);
    m_server->clearRequests(); // the credit
    QCOMPARE(runModal(&dialog,
                      [&] {
                          child<QTimeEdit>(&dialog, "PlanningTime")->setTime(QTime(16, 30));
                          child<QSpinBox>(&dialog, "IntervallBox")->setValue(gap);
                          click(&dialog);
                      }),
             int(QDialog::Accepted));

    // Every uploaded job is withdrawn first, so that no article starts twice.
    QStringList asked;
    for (const RecordedRequest &request : m_server->requests())
        asked << request.queryItem("id");
    QStringList uploaded = jobIds;
    uploaded.removeAll("");
    uploaded.removeAll("-");
    QCOMPARE(asked, uploaded);
    QStringList expected;
    for (int i = 0; i < ids.size(); ++i) {
        if (starts.at(i) == "-")
            continue;
        QCOMPARE(scheduleColumns(ids.at(i)),
                 starts.at(i) == "old"
                     ? before.at(i)
                     : QStringLiteral("-3|%1|%2|").arg(from == -3 ? 12 : -9).arg(starts.at(i)));
        // Rescheduled within the folder, its count stays.
        if (from == -9)
            expected << "-9+=-1"
                     << "-3+=1";
    }
    QCOMPARE(counts(spy), expected);
    QCOMPARE(answers.messages().size(), warning.isEmpty() ? 0 : 1);
    QVERIFY2(warning.isEmpty() || answers.lastMessageText().startsWith(warning),
             qPrintable(answers.lastMessageText()));
}

void TestDialogsWorkers::scheduleNotStored_data()
{
    QTest::addColumn<bool>("shared"); // on the MariaDB server, else the local file
    QTest::addColumn<QString>("refusedWhen"); // the article's UPDATE refused when this holds
    QTest::addColumn<bool>("withdrawable"); // the service withdraws the old job
    QTest::addColumn<bool>("asked"); // the service was asked to withdraw it
    QTest::addColumn<QString>("columns"); // afterwards; "old" as before
    QTest::addColumn<QString>("failure"); // part of the dialog's failure(); empty: none
    QTest::addColumn<QString>("message"); // part of the dialog's message; empty: none
    const QString fresh = QStringLiteral("2026-03-10 16:30:00");
    // The new start is not stored: the old job stays at the service, the row names it.
    QTest::newRow("new start refused")
        << false << "NEW.Planned <> OLD.Planned" << true << false << "old"
        << "Platte voll"
        << "";
    QTest::newRow("withdrawn, handed over")
        << false << "1 = 0" << true << true << "-3|12|" + fresh + "|"
        << ""
        << "";
    QTest::newRow("job kept, old start back") << false << "1 = 0" << false << true << "old"
                                              << ""
                                              << "1 Artikel behält seinen bisherigen";
    QTest::newRow("job kept, old start refused")
        << false << "NEW.Planned = '2026-03-12 09:00:00'" << false << true
        << "-3|12|" + fresh + "|J1"
        << ""
        << "zeigt die Artikelliste trotzdem den neuen Termin";
    QTest::newRow("withdrawn, handover refused")
        << false << "NEW.Planned_Interval = ''" << true << true << "-3|12|" + fresh + "|J1"
        << ""
        << "Bitte plane diese Artikel noch einmal";
    QTest::newRow("shared: new start refused")
        << true << "NEW.Planned <> OLD.Planned" << true << false << "old"
        << "Platte voll"
        << "";
    QTest::newRow("shared: withdrawn, handover refused")
        << true << "NEW.Planned_Interval = ''" << true << true << "-3|12|" + fresh + "|J1"
        << ""
        << "Bitte plane diese Artikel noch einmal";
}

// An article planned again whose write fails keeps its old job at the service and in its row;
// the service is changed only after the row is stored, and what could not be brought in line
// afterwards is told.
void TestDialogsWorkers::scheduleNotStored()
{
    QFETCH(bool, shared);
    QFETCH(QString, refusedWhen);
    QFETCH(bool, withdrawable);
    QFETCH(bool, asked);
    QFETCH(QString, columns);
    QFETCH(QString, failure);
    QFETCH(QString, message);
    if (shared) {
        APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
        // The local file's goes first: going, it clears what the server's publishes.
        m_database.reset();
        m_database = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::MySQL);
        QVERIFY2(m_database->error().isEmpty(), qPrintable(m_database->error()));
        QVERIFY(m_database->db()->insertSqlClean({ { "accountname", "laden" } }, "accounts") > 0);
    }
    m_server->setReply(kWithdrawPath,
                       FakeReply::ok(withdrawable ? "success" : "FAIL: Auftrag läuft"));
    const int id = insertArticle(-3, 12, "2026-03-12 09:00:00", "J1");
    const QString before = scheduleColumns(id);
    QVERIFY(TestSupport::refuseRows(m_database->db(), "articles", "UPDATE", "Platte voll",
                                    refusedWhen));
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(id), "-3", true, 0);
    m_server->clearRequests(); // the credit
    QCOMPARE(runModal(&dialog,
                      [&] {
                          child<QTimeEdit>(&dialog, "PlanningTime")->setTime(QTime(16, 30));
                          click(&dialog);
                      }),
             int(QDialog::Accepted));

    QCOMPARE(m_server->requestCount(), asked ? 1 : 0);
    QCOMPARE(scheduleColumns(id), columns == "old" ? before : columns);
    QVERIFY(!dialog.outcomeUnknown());
    QCOMPARE(dialog.failure().isEmpty(), failure.isEmpty());
    QVERIFY2(dialog.failure().contains(failure), qPrintable(dialog.failure()));
    QCOMPARE(answers.messages().size(), message.isEmpty() ? 0 : 1);
    QVERIFY2(message.isEmpty() || answers.lastMessageText().contains(message),
             qPrintable(answers.lastMessageText()));
}

void TestDialogsWorkers::scheduleCommitAnswerLost_data()
{
    QTest::addColumn<bool>("readable"); // the rows can be read after the lost answer
    QTest::addColumn<bool>("unknown"); // the dialog's outcomeUnknown()
    QTest::addColumn<QString>("jobs"); // Planned_Interval of the two articles afterwards
    // The rows hold the new starts: the old jobs are withdrawn and the articles handed over.
    QTest::newRow("read back") << true << false << "|";
    // Whether they are stored is not known: no old job is withdrawn.
    QTest::newRow("not readable") << false << true << "J1|J2";
}

// The answer to the commit of the new starts is lost after the server stored them: the rows
// are read back before the service is asked, and the old jobs withdrawn only when they show
// the new starts.
void TestDialogsWorkers::scheduleCommitAnswerLost()
{
    QFETCH(bool, readable);
    QFETCH(bool, unknown);
    QFETCH(QString, jobs);
    APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
    m_database.reset();
    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    // Its database goes while the proxy it reaches the server through is still there.
    auto databaseFirst = qScopeGuard([this] { m_database.reset(); });
    m_database = std::make_unique<TestSupport::TestDatabase>(proxy.server());
    QVERIFY2(m_database->error().isEmpty(), qPrintable(m_database->error()));
    m_server->setReply(kWithdrawPath, FakeReply::ok("success"));
    const QList<int> ids { insertArticle(-3, 12, "2026-03-12 09:00:00", "J1"),
                           insertArticle(-3, 12, "2026-03-12 10:00:00", "J2") };
    DialogAnswers answers;

    Planning dialog(nullptr, QStringLiteral("%1,%2").arg(ids.at(0)).arg(ids.at(1)), "-3", true, 0);
    m_server->clearRequests(); // the credit
    QCOMPARE(runModal(&dialog,
                      [&] {
                          child<QTimeEdit>(&dialog, "PlanningTime")->setTime(QTime(16, 30));
                          child<QSpinBox>(&dialog, "IntervallBox")->setValue(5);
                          proxy.cutAfter("COMMIT", 1, [&proxy, readable](quint32) {
                              if (!readable)
                                  proxy.refuseNewConnections();
                          });
                          click(&dialog);
                      }),
             int(QDialog::Accepted));
    proxy.comeBack();

    QCOMPARE(proxy.cuts(), 1);
    QCOMPARE(dialog.outcomeUnknown(), unknown);
    QVERIFY2(dialog.failure().isEmpty(), qPrintable(dialog.failure()));
    QCOMPARE(m_server->requestCount(), unknown ? 0 : 2);
    const QStringList job = jobs.split('|');
    QCOMPARE(scheduleColumns(ids.at(0)), "-3|12|2026-03-10 16:30:00|" + job.at(0));
    QCOMPARE(scheduleColumns(ids.at(1)), "-3|12|2026-03-10 16:35:00|" + job.at(1));
    QCOMPARE(answers.messages().size(), 0);
}

void TestDialogsWorkers::unreadDatabase_data()
{
    QTest::addColumn<QString>("unread"); // "accounts" when the dialog opens, "jobs" on OK
    QTest::newRow("accounts: no credit asked, no OK") << "accounts";
    QTest::newRow("old jobs: none withdrawn, nothing planned") << "jobs";
}

// What the schedule depends on could not be read: the credit is not asked for fewer accounts
// than there are, and no old job is withdrawn and no start stored without knowing the old
// jobs (one left would start the article twice). The dialog, or the window, says why.
void TestDialogsWorkers::unreadDatabase()
{
    QFETCH(QString, unread);
    const bool accounts = unread == "accounts";
    const int id = insertArticle(-3, 12, "2026-03-12 09:00:00", "J1");
    const QString before = scheduleColumns(id);
    m_server->setReply(kWithdrawPath, FakeReply::ok("success"));
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    // The dialog's own connection refuses from its start on.
    TestSupport::SqliteReadRefusal refusal(accounts ? "accounts" : "articles", true);
    refusal.setActive(accounts);
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(id), "-3", true, 0);
    QSignalSpy spy(&dialog, &Planning::ChangeFolderCount);
    if (accounts) {
        QVERIFY(!child<QDialogButtonBox>(&dialog, "buttonBox")
                     ->button(QDialogButtonBox::Ok)
                     ->isEnabled());
        const QString shown = child<QLabel>(&dialog, "CurrentVal")->text();
        QVERIFY2(shown.startsWith("Das Guthaben konnte nicht abgefragt werden, die Konten "
                                  "konnten nicht gelesen werden: access to accounts"),
                 qPrintable(shown));
        QCOMPARE(m_server->requestCount(), 0);
    } else {
        refusal.setActive(true);
        m_server->clearRequests(); // the credit
        QCOMPARE(runModal(&dialog, [&] { click(&dialog); }), int(QDialog::Accepted));
        QVERIFY2(dialog.failure().contains("access to articles"), qPrintable(dialog.failure()));
        QVERIFY(!dialog.outcomeUnknown());
        QCOMPARE(m_server->requestCount(), 0);
    }
    QCOMPARE(scheduleColumns(id), before);
    QCOMPARE(counts(spy), QStringList());
    QCOMPARE(answers.messages().size(), 0);
    QCOMPARE(log.count("A failed read was taken"), 0);
}

// The reason sent to the marketplace is the object name of the checked button.
void TestDialogsWorkers::endReason()
{
    EndItem dialog(nullptr);
    QCOMPARE(dialog.getReason(), QStringLiteral("Incorrect"));
    for (const char *code :
         { "LostOrBroken", "NotAvailable", "OtherListingError", "SellToHighBidder", "Incorrect" }) {
        child<QRadioButton>(&dialog, code)->setChecked(true);
        QCOMPARE(dialog.getReason(), QString(code));
    }
}

APP_TEST_MAIN(TestDialogsWorkers)
#include "test_dialogs_workers.moc"
