#include "core/clock.h"
#include "core/database.h"
#include "core/statics.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "workers/enditem.h"
#include "workers/planning.h"

#include <QCalendarWidget>
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
const QString kTooSoon
    = QStringLiteral("Die Startzeit solle mindestens 10 Minuten in der Zukunft liegen");
const QString kNoCredit = QStringLiteral(
    "Du hast nicht genügend Guthaben, um alle ausgewählten Artikel über die Startzeitplanung zu "
    "listen. Lade Dein Guthaben zuvor auf.");
const QString kNotVerified = QStringLiteral(
    "Du hast Artikel ausgewählt, die noch nicht geprüft wurden. Klicke vor der Planung im Menü auf "
    "\"Gebühren berechnen\". So kann sichergestellt werden, dass die Artikel fehlerfrei zur "
    "gewünschten Zeit hochgeladen werden");

using Counts = QList<QVariantList>;

struct ModalRun
{
    int result = -1;
    // The dialog was still open after `drive` (and was then cancelled).
    bool stayedOpen = false;
};

// Runs `dialog` with exec(); once it is the active modal window `drive` acts on it. A dialog
// still open afterwards is cancelled, so a refusal cannot hang the test.
ModalRun runModal(QDialog *dialog, const std::function<void()> &drive)
{
    ModalRun run;
    QTimer::singleShot(0, dialog, [&run, dialog, drive] {
        if (QApplication::activeModalWidget() == dialog)
            drive();
        if (dialog->isVisible()) {
            run.stayedOpen = true;
            dialog->reject();
        }
    });
    run.result = dialog->exec();
    return run;
}

template<typename T> T *child(QObject *parent, const char *name)
{
    T *widget = parent->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("No child %s", name);
    return widget;
}

QPushButton *button(QDialog *dialog, QDialogButtonBox::StandardButton which)
{
    return child<QDialogButtonBox>(dialog, "buttonBox")->button(which);
}

void clickOk(QDialog *dialog)
{
    QTest::mouseClick(button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
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
    void startGap_data();
    void startGap();
    void rescheduleNeedsWithdrawal_data();
    void rescheduleNeedsWithdrawal();
    void dateFollowsCalendarAndTime();
    void endReason_data();
    void endReason();

private:
    int insertArticle(int folder, int folderOld, const QString &planned, const QString &jobId);
    QStringList scheduleColumns(int id);
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
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    m_server->setReply(kCreditPath, FakeReply::ok("25,00 €"));
    m_database = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_database->error().isEmpty(), qPrintable(m_database->error()));
    QVERIFY(m_database->db()->insertSqlClean({ { QStringLiteral("accountname"), "laden" } },
                                             QStringLiteral("accounts"))
            > 0);
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
    return m_database->db()->insertSqlClean({ { QStringLiteral("Folder"), folder },
                                              { QStringLiteral("FolderOld"), folderOld },
                                              { QStringLiteral("IsVerified"), 1 },
                                              { QStringLiteral("Title"), QStringLiteral("Lampe") },
                                              { QStringLiteral("Planned"), planned },
                                              { QStringLiteral("Planned_Interval"), jobId } },
                                            QStringLiteral("articles"));
}

QStringList TestDialogsWorkers::scheduleColumns(int id)
{
    const SqlRows rows = m_database->db()->select(
        QStringLiteral("SELECT Folder,FolderOld,Planned,Planned_Interval FROM articles WHERE id=%1")
            .arg(id));
    if (rows.size() != 1)
        return {};
    const ArticleRow &row = rows.first();
    return { row.value(QStringLiteral("Folder")).toString(),
             row.value(QStringLiteral("FolderOld")).toString(),
             row.value(QStringLiteral("Planned")).toString(),
             row.value(QStringLiteral("Planned_Interval")).toString() };
}

void TestDialogsWorkers::creditGate_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("allVerified");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("message"); // empty: the dialog is usable

    QTest::newRow("credit, verified") << FakeReply::ok("25,00 €") << true << "25,00 €"
                                      << "";
    QTest::newRow("unreachable, verified") << FakeReply::withStatus(502) << true << ""
                                           << "";
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
    const int id = insertArticle(-9, 0, QString(), QString());
    const QStringList before = scheduleColumns(id);
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(id), QStringLiteral("-9"), allVerified, 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(m_server->lastRequest().path, kCreditPath);
    QCOMPARE(m_server->lastRequest().body, QByteArray("names=laden"));
    QCOMPARE(child<QLabel>(&dialog, "CurrentVal")->text(), shown);
    const bool locked = !message.isEmpty();
    QCOMPARE(button(&dialog, QDialogButtonBox::Ok)->isEnabled(), !locked);
    QCOMPARE(child<QCalendarWidget>(&dialog, "calendarWidget")->isEnabled(), !locked);
    QCOMPARE(child<QTimeEdit>(&dialog, "PlanningTime")->isEnabled(), !locked);
    QVERIFY(button(&dialog, QDialogButtonBox::Cancel)->isEnabled());
    if (!locked)
        return;

    QTRY_COMPARE_WITH_TIMEOUT(answers.messages().size(), 1, 4000);
    QCOMPARE(answers.messages().first().text, message);
    QCOMPARE(answers.messages().first().type, 0);
    // A locked dialog writes nothing.
    clickOk(&dialog);
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
    QTest::newRow("14:55, five minutes ahead") << QTime(14, 55) << "";
    QTest::newRow("23:30, midnight of today") << QTime(23, 30) << "";
}

void TestDialogsWorkers::tenMinuteRule()
{
    QFETCH(QTime, now);
    QFETCH(QString, planned);
    setNow(now);
    const int id = insertArticle(-9, 0, QString(), QString());
    const QStringList before = scheduleColumns(id);
    DialogAnswers answers;

    Planning dialog(nullptr, QString::number(id), QStringLiteral("-9"), true, 0);
    QSignalSpy counts(&dialog, &Planning::ChangeFolderCount);
    const ModalRun run = runModal(&dialog, [&] { clickOk(&dialog); });

    if (planned.isEmpty()) {
        QVERIFY(run.stayedOpen);
        QCOMPARE(run.result, int(QDialog::Rejected));
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.messages().first().text, kTooSoon);
        QCOMPARE(scheduleColumns(id), before);
        QCOMPARE(counts.size(), 0);
    } else {
        QVERIFY(!run.stayedOpen);
        QCOMPARE(run.result, int(QDialog::Accepted));
        QCOMPARE(answers.messages().size(), 0);
        QCOMPARE(scheduleColumns(id), QStringList({ "-3", "-9", planned, "" }));
        QCOMPARE(Counts(counts.begin(), counts.end()),
                 Counts({ { -9, -1, false }, { -3, 1, false } }));
    }
}

void TestDialogsWorkers::startGap_data()
{
    QTest::addColumn<int>("articles");
    QTest::addColumn<int>("gap");
    QTest::addColumn<bool>("missingInTheMiddle");
    QTest::addColumn<QStringList>("starts");

    QTest::newRow("one article") << 1 << 0 << false << QStringList { "2026-03-10 16:30:00" };
    QTest::newRow("three, gap 5") << 3 << 5 << false
                                  << QStringList { "2026-03-10 16:30:00", "2026-03-10 16:35:00",
                                                   "2026-03-10 16:40:00" };
    QTest::newRow("three, gap 0") << 3 << 0 << false
                                  << QStringList { "2026-03-10 16:30:00", "2026-03-10 16:30:00",
                                                   "2026-03-10 16:30:00" };
    QTest::newRow("across midnight, gap 500")
        << 2 << 500 << false << QStringList { "2026-03-10 16:30:00", "2026-03-11 00:50:00" };
    // An id without a row is not written and takes no slot.
    QTest::newRow("missing id in the middle")
        << 2 << 5 << true << QStringList { "2026-03-10 16:30:00", "2026-03-10 16:35:00" };
}

void TestDialogsWorkers::startGap()
{
    QFETCH(int, articles);
    QFETCH(int, gap);
    QFETCH(bool, missingInTheMiddle);
    QFETCH(QStringList, starts);
    QList<int> ids;
    QStringList idTexts;
    for (int i = 0; i < articles; ++i) {
        ids << insertArticle(-9, 0, QString(), QString());
        idTexts << QString::number(ids.last());
        if (missingInTheMiddle && i == 0)
            idTexts << QStringLiteral("987654");
    }
    DialogAnswers answers;

    Planning dialog(nullptr, idTexts.join(QLatin1Char(',')), QStringLiteral("-9"), true, 0);
    QSignalSpy counts(&dialog, &Planning::ChangeFolderCount);
    auto *gapBox = child<QSpinBox>(&dialog, "IntervallBox");
    QCOMPARE(gapBox->isEnabled(), idTexts.size() > 1);
    const ModalRun run = runModal(&dialog, [&] {
        child<QTimeEdit>(&dialog, "PlanningTime")->setTime(QTime(16, 30));
        gapBox->setValue(gap);
        clickOk(&dialog);
    });

    QCOMPARE(run.result, int(QDialog::Accepted));
    for (int i = 0; i < articles; ++i)
        QCOMPARE(scheduleColumns(ids.at(i)), QStringList({ "-3", "-9", starts.at(i), "" }));
    Counts expected;
    for (int i = 0; i < articles; ++i)
        expected << QVariantList { -9, -1, false } << QVariantList { -3, 1, false };
    QCOMPARE(Counts(counts.begin(), counts.end()), expected);
    QCOMPARE(answers.messages().size(), 0);
}

void TestDialogsWorkers::rescheduleNeedsWithdrawal_data()
{
    QTest::addColumn<QStringList>("jobIds"); // of the articles, in order; "" = not uploaded
    QTest::addColumn<QStringList>("withdrawn"); // the job ids the server withdraws
    QTest::addColumn<QStringList>("starts"); // new Planned; "old" = kept as it was
    QTest::addColumn<QString>("warning"); // part of the warning, empty: none

    QTest::newRow("withdrawn") << QStringList { "job 1/a" } << QStringList { "job 1/a" }
                               << QStringList { "2026-03-10 16:30:00" } << "";
    QTest::newRow("withdrawal refused") << QStringList { "job 1/a" } << QStringList {}
                                        << QStringList { "old" } << "1 Artikel behält";
    QTest::newRow("not uploaded, nothing to withdraw")
        << QStringList { "" } << QStringList {} << QStringList { "2026-03-10 16:30:00" } << "";
    // A kept article takes no slot of the gap.
    QTest::newRow("mixed") << QStringList { "J1", "J2", "", "J4" } << QStringList { "J1" }
                           << QStringList { "2026-03-10 16:30:00", "old", "2026-03-10 16:35:00",
                                            "old" }
                           << "2 Artikel behalten";
}

void TestDialogsWorkers::rescheduleNeedsWithdrawal()
{
    QFETCH(QStringList, jobIds);
    QFETCH(QStringList, withdrawn);
    QFETCH(QStringList, starts);
    QFETCH(QString, warning);
    m_server->setHandler(kWithdrawPath, [withdrawn](const RecordedRequest &request) {
        return FakeReply::ok(withdrawn.contains(request.queryItem(QStringLiteral("id")))
                                 ? "success"
                                 : "FAIL: Auftrag läuft bereits");
    });
    QList<int> ids;
    QStringList idTexts;
    QList<QStringList> before;
    for (const QString &jobId : jobIds) {
        ids << insertArticle(-3, 12, QStringLiteral("2026-03-12 09:00:00"), jobId);
        idTexts << QString::number(ids.last());
        before << scheduleColumns(ids.last());
    }
    DialogAnswers answers;

    Planning dialog(nullptr, idTexts.join(QLatin1Char(',')), QStringLiteral("-3"), true, 0);
    QSignalSpy counts(&dialog, &Planning::ChangeFolderCount);
    const ModalRun run = runModal(&dialog, [&] {
        child<QTimeEdit>(&dialog, "PlanningTime")->setTime(QTime(16, 30));
        if (jobIds.size() > 1)
            child<QSpinBox>(&dialog, "IntervallBox")->setValue(5);
        clickOk(&dialog);
    });

    QCOMPARE(run.result, int(QDialog::Accepted));
    QStringList asked;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.path == kWithdrawPath)
            asked << request.queryItem(QStringLiteral("id"));
    }
    QStringList uploaded = jobIds;
    uploaded.removeAll(QString());
    QCOMPARE(asked, uploaded);
    for (int i = 0; i < ids.size(); ++i) {
        const QStringList expected = starts.at(i) == QLatin1String("old")
            ? before.at(i)
            : QStringList { "-3", "12", starts.at(i), "" };
        QCOMPARE(scheduleColumns(ids.at(i)), expected);
    }
    // Rescheduled within the folder: its count stays.
    QCOMPARE(counts.size(), 0);
    if (warning.isEmpty()) {
        QCOMPARE(answers.messages().size(), 0);
    } else {
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.messages().first().type, 1);
        QVERIFY2(answers.messages().first().text.startsWith(warning),
                 qPrintable(answers.messages().first().text));
    }
}

void TestDialogsWorkers::dateFollowsCalendarAndTime()
{
    const int id = insertArticle(-9, 0, QString(), QString());
    Planning dialog(nullptr, QString::number(id), QStringLiteral("-9"), true, 0);
    auto *calendar = child<QCalendarWidget>(&dialog, "calendarWidget");
    auto *time = child<QTimeEdit>(&dialog, "PlanningTime");
    auto *shown = child<QLabel>(&dialog, "DateSel");

    QCOMPARE(shown->text(), QStringLiteral("10.03.26 15:00"));
    QCOMPARE(calendar->minimumDate(), kToday);
    QCOMPARE(calendar->maximumDate(), kToday.addDays(30));

    calendar->setSelectedDate(QDate(2026, 4, 2));
    QCOMPARE(shown->text(), QStringLiteral("02.04.26 15:00"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    time->setFocus();
    time->setCurrentSection(QDateTimeEdit::HourSection);
    QTest::keyClick(time, Qt::Key_Up);
    QCOMPARE(time->time(), QTime(16, 0));
    QCOMPARE(shown->text(), QStringLiteral("02.04.26 16:00"));
    QCOMPARE(dialog.getDateString(), shown->text());

    // The page on the maker's server behind the info link.
    QVERIFY2(child<QLabel>(&dialog, "LinkLabel")
                 ->text()
                 .contains(m_server->url(QStringLiteral("/startzeitplanung")).toString()
                           + QStringLiteral("#kosten")),
             qPrintable(child<QLabel>(&dialog, "LinkLabel")->text()));
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
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    const ModalRun run = runModal(&dialog, [&] {
        if (!choice.isEmpty())
            QTest::mouseClick(dialog.findChild<QRadioButton *>(choice), Qt::LeftButton);
        QTest::mouseClick(
            button(&dialog, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
            Qt::LeftButton);
    });

    QVERIFY(!run.stayedOpen);
    QCOMPARE(run.result, int(confirm ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(dialog.getReason(), reason);
}

APP_TEST_MAIN(TestDialogsWorkers)
#include "test_dialogs_workers.moc"
