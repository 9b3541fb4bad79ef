// A write whose answer the connection lost may be stored or not: the window never calls it
// "nicht gespeichert" but says once that it is not known; a worker's goes to the status panel.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QThread>
#include <QTreeView>

namespace {
// Dialog: a connection of a dialog (made on the window's thread) whose command tells the
// outcome itself once the dialog is closed; DialogUntold: one whose command does not.
enum class Writer { Window, WindowTellsItself, Worker, Dialog, DialogUntold };
const QString kNotKnown = QStringLiteral(
    "Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung zur Datenbank brach ab. Die "
    "Anzeige zeigt jetzt, was gespeichert ist.");
} // namespace

Q_DECLARE_METATYPE(Writer)

class TestUnknownOutcome : public QObject
{
    Q_OBJECT
private slots:
    void toldOnce_data()
    {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("the window's write: not known, once")
            << Writer::Window << QStringList { kNotKnown.arg("die Änderung") };
        QTest::newRow("the command tells it itself: only its own words")
            << Writer::WindowTellsItself << QStringList { kNotKnown.arg("die Ordneransicht") };
        QTest::newRow("a worker's write: the status panel, no notice")
            << Writer::Worker << QStringList();
        QTest::newRow("a dialog's write told by its command: the notice alone")
            << Writer::Dialog << QStringList { kNotKnown.arg("die Planung") };
        QTest::newRow("a dialog's write its command leaves untold: the status panel")
            << Writer::DialogUntold << QStringList();
    }
    void toldOnce()
    {
        QFETCH(Writer, writer);
        QFETCH(QStringList, messages);
        APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
        TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
        TestSupport::TestDatabase data(proxy.server());
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        QVERIFY(data.db()->insertSqlClean(
                    { { "foldername", "Werkzeug" }, { "folderparentid", -10 }, { "expand", 0 } },
                    "folders")
                > 0);
        // Another workstation synchronises: the window's workers leave the database alone.
        TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                     false);
        DialogAnswers answers;
        TestSupport::MainWindowFixture window(data);
        QVERIFY(window.window() && window.showFolder(-10));
        const auto status = [&window] {
            return window.window()->findChild<QLabel *>(QStringLiteral("SyncLabel"))->text();
        };

        if (writer == Writer::Worker) {
            // On a thread of its own, as the workers' connections are.
            proxy.cutAfter("INSERT INTO folders");
            bool written = true;
            std::unique_ptr<QThread> worker(QThread::create([&written] {
                Database db(true, QStringLiteral("unknownWorker"));
                written = db.executeSQL("INSERT INTO folders (foldername) VALUES ('Einmal')");
            }));
            worker->start();
            QVERIFY(worker->wait(20000));
            QVERIFY(!written);
            QTRY_VERIFY(status().contains("ist nicht bekannt"));
        } else if (writer == Writer::Dialog || writer == Writer::DialogUntold) {
            // The dialog is open while its write is lost; its command tells after it closed.
            Database dialog(true, QStringLiteral("unknownDialog"));
            QDialog shown(window.window());
            shown.setWindowModality(Qt::WindowModal);
            shown.show();
            QVERIFY(QTest::qWaitForWindowExposed(&shown));
            proxy.cutAfter("INSERT INTO folders");
            QVERIFY(!dialog.executeSQL("INSERT INTO folders (foldername) VALUES ('Einmal')"));
            QTest::qWait(500);
            shown.close();
            if (writer == Writer::Dialog)
                window.window()->tellOutcomeUnknown(QStringLiteral("die Planung"));
        } else {
            // Emptying the activity list: a write that is not sent again, told by no command.
            proxy.cutAfter("DELETE FROM itemshistory");
            window.window()->findChild<QAction *>(QStringLiteral("actionListe_leeren"))->trigger();
            if (writer == Writer::WindowTellsItself)
                window.window()->tellOutcomeUnknown(QStringLiteral("die Ordneransicht"));
        }
        QCOMPARE(proxy.cuts(), 1);
        QTest::qWait(0); // what was queued is shown by now
        QCoreApplication::processEvents();
        QStringList shown;
        for (const auto &message : answers.messages())
            shown << message.text;
        QCOMPARE(shown, messages);
        const bool inPanel = writer == Writer::Worker || writer == Writer::DialogUntold;
        if (writer == Writer::DialogUntold)
            QTRY_VERIFY(status().contains("ist nicht bekannt"));
        if (writer == Writer::Dialog)
            QTest::qWait(500); // when a dialog's untold write would be in the panel
        QCOMPARE(status().contains("ist nicht bekannt"), inPanel);
    }
};

APP_TEST_MAIN(TestUnknownOutcome)
#include "test_unknownoutcome.moc"
