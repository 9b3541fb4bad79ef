#include "core/clock.h"
#include "core/database.h"
#include "core/statics.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/enditem.h"
#include "workers/planning.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
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
const QDate kToday(2026, 3, 10);
const QString kTooSoon = QStringLiteral("mindestens 10 Minuten in der Zukunft");
// The messages of the two locks.
const QString kNoCredit = QStringLiteral("nicht genügend Guthaben");
const QString kNotVerified = QStringLiteral("noch nicht geprüft");

// The folder counts sent, as "folder+=count".
QStringList counts(const QSignalSpy &spy)
{
    QStringList list;
    for (const QList<QVariant> &args : spy)
        list << args.at(0).toString() + (args.at(2).toBool() ? "=" : "+=") + args.at(1).toString();
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
    void initTestCase();
    void init();
    void cleanup();

    void creditGate_data();
    void creditGate();
    void tenMinuteRule_data();
    void tenMinuteRule();
    void schedule_data();
    void schedule();
    void endReason_data();
    void endReason();

private:
    int insertArticle(int folder, int folderOld = 0, const QString &planned = QString(),
                      const QString &jobId = QString());
    QString scheduleColumns(int id);
    void setNow(const QTime &time);

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_database;
};

void TestDialogsWorkers::initTestCase()
{
    Statics::setHttpTimeout(1000);
}

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

void TestDialogsWorkers::setNow(const QTime &time)
{
    Clock::setCurrentDateTimeForTesting(QDateTime(kToday, time));
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
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("message"); // empty: the dialog is usable

    QTest::newRow("credit, verified") << FakeReply::ok("25,00 €") << true << "25,00 €" << QString();
    QTest::newRow("unreachable, verified") << FakeReply::withStatus(502) << true << "" << QString();
    QTest::newRow("no credit") << FakeReply::ok("0,00 €") << true << "0,00 €" << kNoCredit;
    QTest::newRow("not verified") << FakeReply::ok("25,00 €") << false << "25,00 €" << kNotVerified;
    QTest::newRow("no credit and not verified")
        << FakeReply::ok("0,00 €") << false << "0,00 €" << kNoCredit;
}

void TestDialogsWorkers::creditGate()
{
    QFETCH(FakeReply, reply);
    QFETCH(bool, allVerified);
    QFETCH(QString, shown);
    QFETCH(QString, message);
    m_server->setReply(kCreditPath, reply);
    const int id = insertArticle(-9);
    const QString before = scheduleColumns(id);
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(id), "-9", allVerified, 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(m_server->lastRequest().body, QByteArray("names=laden"));
    QCOMPARE(child<QLabel>(&dialog, "CurrentVal")->text(), shown);
    const bool locked = !message.isEmpty();
    QCOMPARE(
        child<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok)->isEnabled(),
        !locked);
    QCOMPARE(child<QTimeEdit>(&dialog, "PlanningTime")->isEnabled(), !locked);
    if (!locked)
        return;

    QTRY_COMPARE_WITH_TIMEOUT(answers.messages().size(), 1, 4000);
    QVERIFY2(answers.lastMessageText().contains(message), qPrintable(answers.lastMessageText()));
    QCOMPARE(answers.messages().first().type, 0);
    // A locked dialog writes nothing.
    click(&dialog);
    QVERIFY(dialog.isVisible());
    QCOMPARE(scheduleColumns(id), before);
}

void TestDialogsWorkers::tenMinuteRule_data()
{
    QTest::addColumn<QTime>("now");
    QTest::addColumn<QString>("planned"); // empty: refused

    QTest::newRow("14:20, next full hour") << QTime(14, 20) << "2026-03-10 15:00:00";
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
    QCOMPARE(answers.lastMessageText().contains(kTooSoon), refused);
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
    QTest::newRow("three, gap 0") << -9 << QStringList { "", "", "" } << none << 0
                                  << QStringList { first, first, first } << "";
    QTest::newRow("across midnight, gap 500") << -9 << QStringList { "", "" } << none << 500
                                              << QStringList { first, "2026-03-11 00:50:00" } << "";
    // An id without a row is not written and takes no slot.
    QTest::newRow("missing id in the middle") << -9 << QStringList { "", "-", "" } << none << 5
                                              << QStringList { first, "-", second } << "";
    QTest::newRow("withdrawn") << -3 << QStringList { "job 1/a" } << QStringList { "job 1/a" } << 0
                               << QStringList { first } << "";
    QTest::newRow("withdrawal refused") << -3 << QStringList { "job 1/a" } << none << 0
                                        << QStringList { "old" } << "1 Artikel behält";
    // A kept article takes no slot of the gap.
    QTest::newRow("mixed") << -3 << QStringList { "J1", "J2", "", "J4" } << QStringList { "J1" }
                           << 5 << QStringList { first, "old", second, "old" }
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
    auto *gapBox = child<QSpinBox>(&dialog, "IntervallBox");
    QCOMPARE(gapBox->isEnabled(), ids.size() > 1);
    QCOMPARE(runModal(&dialog,
                      [&] {
                          child<QTimeEdit>(&dialog, "PlanningTime")->setTime(QTime(16, 30));
                          gapBox->setValue(gap);
                          click(&dialog);
                      }),
             int(QDialog::Accepted));

    QStringList asked;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.path == kWithdrawPath)
            asked << request.queryItem("id");
    }
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
    if (!warning.isEmpty()) {
        QCOMPARE(answers.messages().first().type, 1);
        QVERIFY2(answers.lastMessageText().startsWith(warning),
                 qPrintable(answers.lastMessageText()));
    }
}

void TestDialogsWorkers::endReason_data()
{
    QTest::addColumn<QString>("choice"); // object name clicked; empty: none
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("reason");

    QTest::newRow("untouched") << "" << true << "Incorrect";
    for (const char *code :
         { "Incorrect", "LostOrBroken", "NotAvailable", "OtherListingError", "SellToHighBidder" })
        QTest::newRow(code) << code << true << code;
    QTest::newRow("cancelled") << "NotAvailable" << false << "NotAvailable";
}

void TestDialogsWorkers::endReason()
{
    QFETCH(QString, choice);
    QFETCH(bool, confirm);
    QFETCH(QString, reason);
    EndItem dialog(nullptr);

    QCOMPARE(runModal(&dialog,
                      [&] {
                          if (!choice.isEmpty())
                              QTest::mouseClick(dialog.findChild<QRadioButton *>(choice),
                                                Qt::LeftButton);
                          click(&dialog, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
                      }),
             int(confirm ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(dialog.getReason(), reason);
}

APP_TEST_MAIN(TestDialogsWorkers)
#include "test_dialogs_workers.moc"
