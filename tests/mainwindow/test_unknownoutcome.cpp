// A write whose answer the connection lost may be stored or not: the window never calls it
// "nicht gespeichert". Unless the command that met it tells it itself, the window says once
// that it is not known and shows what is stored; a worker's goes to the status panel.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QLabel>
#include <QTreeView>

using TestSupport::MainWindowFixture;
using TestSupport::MySqlProxy;
using TestSupport::MySqlServer;
using TestSupport::TestDatabase;

namespace {

enum class Writer {
    Window, // the window's own connection (a folder opened in the tree)
    WindowTellsItself, // the same, and the command tells the seller itself
    Worker // a connection of another thread
};

const QString kNotKnown = QStringLiteral(
    "Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung zur Datenbank brach ab. Die "
    "Anzeige zeigt jetzt, was gespeichert ist.");

} // namespace

Q_DECLARE_METATYPE(Writer)

class TestUnknownOutcome : public QObject
{
    Q_OBJECT
private slots:
    void toldOnce_data();
    void toldOnce();
};

void TestUnknownOutcome::toldOnce_data()
{
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("inStatusPanel");
    QTest::newRow("the window's write, no command tells it: not known, once")
        << Writer::Window << QStringList { kNotKnown.arg("die Änderung") } << false;
    QTest::newRow("the command tells it itself: only its own words")
        << Writer::WindowTellsItself << QStringList { kNotKnown.arg("die Ordneransicht") }
        << false;
    QTest::newRow("a worker's write: the status panel, no notice")
        << Writer::Worker << QStringList() << true;
}

void TestUnknownOutcome::toldOnce()
{
    QFETCH(Writer, writer);
    QFETCH(QStringList, messages);
    QFETCH(bool, inStatusPanel);
    APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
    MySqlProxy proxy(MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestDatabase data(proxy.server());
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    QVERIFY(data.db()->insertSqlClean(
                { { "foldername", "Werkzeug" }, { "folderparentid", -10 }, { "expand", 0 } },
                "folders")
            > 0);
    // Another workstation synchronises: the window's workers leave the database alone.
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    DialogAnswers answers;
    MainWindowFixture window(data);
    QVERIFY(window.window());
    QVERIFY(window.showFolder(-10));
    const auto status = [&window] {
        return window.window()->findChild<QLabel *>(QStringLiteral("SyncLabel"))->text();
    };

    if (writer == Writer::Worker) {
        Database worker(true, QStringLiteral("unknownWorker"));
        proxy.cutAfter("INSERT INTO folders");
        QVERIFY(!worker.executeSQL("INSERT INTO folders (foldername) VALUES ('Einmal')"));
        QCOMPARE(worker.lastOutcome(), Database::Outcome::Unknown);
    } else {
        proxy.cutAfter("UPDATE folders SET expand");
        auto *tree = window.treeView();
        const QModelIndex drafts = TestSupport::folderIndexOf(tree->model(), -10);
        tree->expand(tree->model()->index(0, 0, drafts));
        if (writer == Writer::WindowTellsItself)
            window.window()->tellOutcomeUnknown(QStringLiteral("die Ordneransicht"));
    }
    QCOMPARE(proxy.cuts(), 1);
    // Whatever was queued is shown by now.
    QTest::qWait(0);
    QCoreApplication::processEvents();
    QStringList shown;
    for (const auto &message : answers.messages())
        shown << message.text;
    QCOMPARE(shown, messages);
    QCOMPARE(status().contains("ist nicht bekannt"), inStatusPanel);
    QVERIFY2(!status().contains("fehlgeschlagen"), qPrintable(status()));
    // The window's connection works on.
    QVERIFY(window.showFolder(-10));
}

APP_TEST_MAIN(TestUnknownOutcome)
#include "test_unknownoutcome.moc"
