// The panel of the background worker's jobs: every job not finished has a line of its own with
// its own "Abbrechen", a job behind another says that it waits, and a line goes when its job
// has ended, cancelled or not.
#include "core/backgroundworker.h"
#include "core/database.h"
#include "mainwindow/jobpanel.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>

#include <atomic>
#include <memory>

namespace {

struct Jobs
{
    QSemaphore started;
    QSemaphore goOn;
    std::atomic<bool> firstRanToItsEnd { false };
    std::atomic<bool> secondRan { false };
};

// The lines of the panel that are shown, top to bottom.
QList<QWidget *> lines(JobPanel &panel)
{
    QList<QWidget *> shown;
    for (QWidget *line :
         panel.findChildren<QWidget *>(QStringLiteral("JobLine"), Qt::FindDirectChildrenOnly)) {
        if (line->isVisibleTo(&panel))
            shown << line;
    }
    return shown;
}

QString text(QWidget *line)
{
    return line->findChild<QLabel *>(QStringLiteral("JobLabel"))->text();
}

QPushButton *cancelOf(QWidget *line)
{
    return line->findChild<QPushButton *>(QStringLiteral("JobCancelButton"));
}

} // namespace

class TestJobPanel : public QObject
{
    Q_OBJECT
private slots:
    void twoJobsEachWithItsCancel_data();
    void twoJobsEachWithItsCancel();
};

void TestJobPanel::twoJobsEachWithItsCancel_data()
{
    QTest::addColumn<int>("cancelled"); // the line whose "Abbrechen" is clicked: 0, 1; -1 none
    QTest::newRow("the running one cancelled, the waiting one runs") << 0;
    QTest::newRow("the waiting one cancelled, the running one goes on") << 1;
    QTest::newRow("neither cancelled") << -1;
}

void TestJobPanel::twoJobsEachWithItsCancel()
{
    QFETCH(int, cancelled);
    TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    auto state = std::make_shared<Jobs>();
    QWidget window;
    JobPanel panel(&window);
    window.show();

    QPointer<BackgroundJob> first = BackgroundWorker::instance()->post(
        QStringLiteral("Export"), [state](Database &, BackgroundJob::Control &control) {
            control.progress(1, 4);
            state->started.release();
            while (!control.cancelled() && !state->goOn.tryAcquire(1, 10)) { }
            state->firstRanToItsEnd = !control.cancelled();
        });
    QPointer<BackgroundJob> second = BackgroundWorker::instance()->post(
        QStringLiteral("Aufräumen"), [state](Database &, BackgroundJob::Control &control) {
            control.progress(2, 2);
            state->secondRan = true;
        });
    // Whatever fails below, the first job ends, so that the worker is free for the next row.
    auto letGo = qScopeGuard([state] { state->goOn.release(); });
    bool firstCompleted = false;
    bool secondCompleted = false;
    int finished = 0;
    // The handlers end with the row.
    QObject row;
    connect(first, &BackgroundJob::finished, &row, [&, job = first.data()] {
        firstCompleted = job->completed();
        ++finished;
    });
    connect(second, &BackgroundJob::finished, &row, [&, job = second.data()] {
        secondCompleted = job->completed();
        ++finished;
    });
    panel.follow(first, QStringLiteral("Artikel werden exportiert …"));
    panel.follow(second, QStringLiteral("Räume auf..."));

    // Both shown, in the order started, each with its own bar and button.
    QVERIFY(state->started.tryAcquire(1, 10000));
    QVERIFY(panel.isVisible());
    QList<QWidget *> shown = lines(panel);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(panel.jobs(), (QList<BackgroundJob *> { first, second }));
    QCOMPARE(panel.job(), second.data());
    QTRY_COMPARE(shown.at(0)->findChild<QProgressBar *>()->value(), 1);
    QCOMPARE(text(shown.at(0)), QStringLiteral("Artikel werden exportiert …"));
    QCOMPARE(text(shown.at(1)), QStringLiteral("Räume auf... (wartet)"));
    QVERIFY(cancelOf(shown.at(0)) != cancelOf(shown.at(1)));
    QVERIFY(cancelOf(shown.at(0))->isEnabled() && cancelOf(shown.at(1))->isEnabled());

    if (cancelled >= 0) {
        cancelOf(shown.at(cancelled))->click();
        // The other job's button is untouched.
        QVERIFY(!cancelOf(shown.at(cancelled))->isEnabled());
        QVERIFY(cancelOf(shown.at(1 - cancelled))->isEnabled());
    }
    if (cancelled == 1) {
        // The waiting one never starts; it is told as ended once the worker comes to it, and
        // meanwhile the running one goes on with its own button.
        QCOMPARE(lines(panel).size(), 2);
        QVERIFY(cancelOf(shown.at(0))->isEnabled());
        QCOMPARE(panel.job(), second.data());
    }
    state->goOn.release();
    QTRY_COMPARE(finished, 2);
    QCOMPARE(firstCompleted, cancelled != 0);
    QCOMPARE(state->firstRanToItsEnd.load(), cancelled != 0);
    QCOMPARE(secondCompleted, cancelled != 1);
    QCOMPARE(state->secondRan.load(), cancelled != 1);
    // Every line goes with its job; the panel hides once none is left.
    QTRY_VERIFY(lines(panel).isEmpty());
    QVERIFY(!panel.isVisible());
    QCOMPARE(panel.job(), nullptr);
}

APP_TEST_MAIN(TestJobPanel)
#include "test_jobpanel.moc"
