// The main window on a MariaDB server that goes away (a server of the test's own, see
// scripts/with-mariadb.sh) or kills its connections: the seller is told why a change was not
// stored and why a list is empty, hears once that the connection is back, and works on
// without a restart.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistwidget.h"

#include <QAction>
#include <QDeadlineTimer>
#include <cstdio>
#include <QElapsedTimer>
#include <QLabel>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

using TestSupport::MainWindowFixture;
using TestSupport::OwnMySqlServer;
using TestSupport::TestDatabase;

namespace {

const QString kLost = QStringLiteral("Die Verbindung zur Datenbank ist unterbrochen: ");

// Runs `statement` until it succeeds (once), for at most ten seconds.
bool succeedsLater(const std::function<bool()> &statement)
{
    const QDeadlineTimer deadline(10000);
    while (!statement()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

} // namespace

class TestDatabaseOutage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void serverAwayAndBack();
    void killedConnectionsGoUnnoticed();
    void sessionSettingsRefused();
    void hangingServer();
    void stalledAfterLostAnswer();

private:
    // Kills every connection to the test's database but the killer's own.
    bool killConnections();
    ItemListWidget *list() const
    {
        return qobject_cast<ItemListWidget *>(m_window->itemList());
    }
    QString statusPanel() const
    {
        return m_window->window()->findChild<QLabel *>(QStringLiteral("SyncLabel"))->text();
    }
    // Collapses (or expands) the user's folder "Werkzeug": a write of the window's connection.
    void toggleFolder(bool expanded);
    int folderExpanded();

    OwnMySqlServer m_server;
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<DialogAnswers> m_answers;
    std::unique_ptr<MainWindowFixture> m_window;
};

void TestDatabaseOutage::initTestCase()
{
    APP_REQUIRE_OWN_MYSQL_SERVER();
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void TestDatabaseOutage::init()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_data = std::make_unique<TestDatabase>(m_server.server());
    QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
    Database *db = m_data->db();
    const int folder = db->insertSqlClean(
        { { "foldername", "Werkzeug" }, { "folderparentid", -10 }, { "expand", 1 } }, "folders");
    QVERIFY(folder > 0);
    QVERIFY(db->insertSqlClean({ { "foldername", "Spaten" }, { "folderparentid", folder } },
                               "folders")
            > 0);
    QVERIFY(TestSupport::insertArticle(db, { { "Title", "Spaten" }, { "Folder", -10 } }) > 0);
    // Another workstation synchronises: the window's workers leave the database alone, so
    // that the status panel shows only what the window's connection tells.
    TestSupport::writeMySqlSetup(m_data->dataDir(), m_server.server(),
                                 m_data->mysqlDatabaseName(), true, false);
    m_answers = std::make_unique<DialogAnswers>();
    m_window = std::make_unique<MainWindowFixture>(*m_data);
    QVERIFY(m_window->window());
    QVERIFY(m_window->showFolder(-10));
    QCOMPARE(m_window->itemList()->topLevelItemCount(), 1);
}

void TestDatabaseOutage::cleanup()
{
    Database::setSqlModeForTesting(QString());
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    m_window.reset();
    m_answers.reset();
    m_data.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("outage_killer"));
}

bool TestDatabaseOutage::killConnections()
{
    QSqlQuery query(m_data->rawConnection(QStringLiteral("outage_killer")));
    if (!query.exec(QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE DB='%1' "
                                   "AND ID <> CONNECTION_ID()")
                        .arg(m_data->mysqlDatabaseName())))
        return false;
    QStringList ids;
    while (query.next())
        ids << query.value(0).toString();
    for (const QString &id : qAsConst(ids)) {
        if (!query.exec(QStringLiteral("KILL CONNECTION ") + id))
            return false;
    }
    return !ids.isEmpty();
}

void TestDatabaseOutage::toggleFolder(bool expanded)
{
    auto *tree = m_window->treeView();
    const QModelIndex drafts = TestSupport::folderIndexOf(tree->model(), -10);
    const QModelIndex folder = tree->model()->index(0, 0, drafts);
    if (expanded)
        tree->expand(folder);
    else
        tree->collapse(folder);
}

int TestDatabaseOutage::folderExpanded()
{
    QSqlQuery query(m_data->rawConnection(QStringLiteral("outage_killer")));
    if (!query.exec(QStringLiteral("SELECT expand FROM folders WHERE foldername='Werkzeug'"))
        || !query.next())
        return -1;
    return query.value(0).toInt();
}

// While the server is away a change fails with the reason in its notice and the list says
// why it is empty; once the server is back the window's next statement works, the list shows
// the articles again and the status panel says so once.
void TestDatabaseOutage::serverAwayAndBack()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
    QVERIFY(m_server.stop());

    toggleFolder(false);
    QTRY_COMPARE(m_answers->messages().size(), 1);
    const QString notice = m_answers->lastMessageText();
    const QString prefix = QStringLiteral("Die Änderung konnte nicht gespeichert werden. ") + kLost;
    QVERIFY2(notice.startsWith(prefix) && notice.size() > prefix.size() + 5, qPrintable(notice));
    // The notice reads the list again: it can't be read and says so.
    QCOMPARE(m_window->itemList()->topLevelItemCount(), 0);
    QVERIFY2(list()->emptyText().startsWith(
                 QStringLiteral("Die Artikel dieses Ordners konnten nicht gelesen werden.\n")
                 + kLost),
             qPrintable(list()->emptyText()));
    QVERIFY2(statusPanel().contains(kLost), qPrintable(statusPanel()));

    // Another connection of the program that lost the server too.
    Database other(true, QStringLiteral("outageOther"));
    QVERIFY(!other.executeSQL("UPDATE folders SET expand=1"));

    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    QElapsedTimer back;
    back.start();
    const QDeadlineTimer deadline(10000);
    while (m_window->itemList()->topLevelItemCount() == 0 && !deadline.hasExpired()) {
        m_window->showFolder(-10);
        QTest::qWait(50);
    }
    // The window's message handler writes into the day's log: the figure goes to the test's
    // output directly.
    std::fprintf(stderr, "Window: list read again %lld ms after the server answered\n",
                 static_cast<long long>(back.elapsed()));
    QCOMPARE(m_window->itemList()->topLevelItemCount(), 1);
    QVERIFY(list()->emptyText().isEmpty());
    QVERIFY2(statusPanel().endsWith("Die Verbindung zur Datenbank besteht wieder."),
             qPrintable(statusPanel()));

    // Told once: the other connection's return changes nothing shown.
    m_window->window()->updateStatusBar(QStringLiteral("Synchronisieren..."), 10, 2);
    QVERIFY(succeedsLater([&] { return other.executeSQL("UPDATE folders SET expand=1"); }));
    QTest::qWait(50);
    QVERIFY2(statusPanel().endsWith("Synchronisieren..."), qPrintable(statusPanel()));

    // The tree kept the collapse that could not be stored.
    toggleFolder(true);
    toggleFolder(false);
    QTRY_COMPARE(folderExpanded(), 0);
    QCOMPARE(m_answers->messages().size(), 1);
}

// Connections killed by the server are opened again at their next statement: the seller
// notices nothing.
void TestDatabaseOutage::killedConnectionsGoUnnoticed()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QVERIFY(killConnections());
    toggleFolder(false);
    QTRY_COMPARE(folderExpanded(), 0);
    QVERIFY(m_window->showFolder(-10));
    QCOMPARE(m_window->itemList()->topLevelItemCount(), 1);
    QCOMPARE(m_answers->messages().size(), 0);
    QVERIFY(!statusPanel().contains(kLost));
}

// A connection that can't get its session settings is closed: a worker's is told in the status
// panel, the window's in a notice; with them the window works again.
void TestDatabaseOutage::sessionSettingsRefused()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
    Database::setSqlModeForTesting(QStringLiteral("NO_SUCH_MODE"));
    auto restore = qScopeGuard([] { Database::setSqlModeForTesting(QString()); });
    const QString refused = QStringLiteral("Die Verbindung zur Datenbank wurde geschlossen, weil "
                                           "ihre Sitzungseinstellungen nicht gesetzt werden "
                                           "konnten: ");
    // A worker's connection (made on a thread of its own) goes to the status panel.
    bool written = true;
    std::unique_ptr<QThread> worker(QThread::create([&written] {
        Database db(true, QStringLiteral("outageWorker"));
        written = db.executeSQL(QStringLiteral("UPDATE folders SET expand=1"));
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QVERIFY(!written);
    QTRY_VERIFY2(statusPanel().contains(refused), qPrintable(statusPanel()));
    QCOMPARE(m_answers->messages().size(), 0);

    QVERIFY(killConnections());

    QVERIFY(m_window->showFolder(-10));
    QTRY_COMPARE(m_answers->messages().size(), 1);
    QVERIFY2(m_answers->lastMessageText().startsWith(refused),
             qPrintable(m_answers->lastMessageText()));
    QCOMPARE(m_window->itemList()->topLevelItemCount(), 0);
    QVERIFY(!list()->emptyText().isEmpty());

    restore.dismiss();
    Database::setSqlModeForTesting(QString());
    const QDeadlineTimer deadline(10000);
    while (m_window->itemList()->topLevelItemCount() == 0 && !deadline.hasExpired()) {
        m_window->showFolder(-10);
        QTest::qWait(50);
    }
    QCOMPARE(m_window->itemList()->topLevelItemCount(), 1);
}

// A server that takes statements and never answers (it hangs) holds the window no longer
// than the connections' time-out: a click on a folder comes back, the outage is shown, and
// once the server answers again the list is read again.
void TestDatabaseOutage::hangingServer()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
    m_window.reset();
    TestSupport::MySqlProxy proxy(m_server.server());
    TestDatabase data(proxy.server());
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    QVERIFY(TestSupport::insertArticle(data.db(), { { "Title", "Spaten" }, { "Folder", -10 } })
            > 0);
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    // The window's connections, opened from here on, wait that long.
    constexpr int kTimeoutSeconds = 2;
    Database::setDefaultResponseTimeout(kTimeoutSeconds);
    auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
    MainWindowFixture window(data);
    QVERIFY(window.window());
    QVERIFY(window.showFolder(-10));
    QCOMPARE(window.itemList()->topLevelItemCount(), 1);
    const auto status = [&window] {
        return window.window()->findChild<QLabel *>(QStringLiteral("SyncLabel"))->text();
    };

    proxy.stall();
    QElapsedTimer clicked;
    clicked.start();
    window.showFolder(-10);
    const qint64 took = clicked.elapsed();
    std::fprintf(stderr, "Window: a folder click on a hanging server came back after %lld ms\n",
                 static_cast<long long>(took));
    // Each attempt to reach the server waits the time-out once at most; a click makes a few.
    QVERIFY2(took < 4 * kTimeoutSeconds * 1000, qPrintable(QString::number(took)));
    QCOMPARE(window.itemList()->topLevelItemCount(), 0);
    QTRY_VERIFY2(status().contains(kLost), qPrintable(status()));

    proxy.release();
    const QDeadlineTimer deadline(20000);
    while (window.itemList()->topLevelItemCount() == 0 && !deadline.hasExpired()) {
        window.showFolder(-10);
        QTest::qWait(50);
    }
    QCOMPARE(window.itemList()->topLevelItemCount(), 1);
}

// "Löschen" whose commit answer is lost, the network stalled right after; then closing the
// program while the server is still away. The window's thread never waits for a connection
// meanwhile: what the command stored is not looked up there, the seller is told once that it
// is not known, and the window shows what is stored once the server answers again. The probe
// stops at once, in the middle of an attempt to reach the server.
void TestDatabaseOutage::stalledAfterLostAnswer()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
    m_window.reset();
    TestSupport::MySqlProxy proxy(m_server.server());
    TestDatabase data(proxy.server());
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    QVERIFY(TestSupport::insertArticle(data.db(), { { "Title", "Spaten" }, { "Folder", -10 } })
            > 0);
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    // An attempt of the probe waits as long for the server.
    constexpr int kTimeoutSeconds = 3;
    Database::setDefaultResponseTimeout(kTimeoutSeconds);
    auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
    auto window = std::make_unique<MainWindowFixture>(data);
    QVERIFY(window->window() && window->showFolder(-10));
    QCOMPARE(window->itemList()->topLevelItemCount(), 1);
    window->itemList()->topLevelItem(0)->setSelected(true);

    // The window's thread runs its events every 10 ms unless something holds it.
    qint64 longest = 0;
    int ticks = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        longest = qMax(longest, sinceTick.restart());
        ++ticks;
    });
    proxy.cutAfter("COMMIT", 1, [&proxy](quint32) { proxy.stall(); });
    m_answers->pushQuestion(true);
    QTimer::singleShot(0, window->window(), [&window] {
        window->window()->findChild<QAction *>(QStringLiteral("actionL_schen"))->trigger();
    });
    sinceTick.start();
    tick.start(10);
    QTRY_COMPARE(m_answers->messages().size(), 1);
    QVERIFY2(m_answers->lastMessageText().startsWith(QStringLiteral("Ob das Löschen")),
             qPrintable(m_answers->lastMessageText()));
    // The ticks after the command and its notice measure what held them.
    const int ticksThen = ticks;
    QTRY_VERIFY(ticks > ticksThen + 1);
    std::fprintf(stderr, "Window: longest pause after the lost answer during a stall: %lld ms\n",
                 static_cast<long long>(longest));
    // A connect attempt of the window's thread would wait its 2 s.
    QVERIFY2(longest < 2000, qPrintable(QString::number(longest)));
    QVERIFY(Database::serverAway());

    // The window reads what is stored once the server answers: the article in the trash.
    proxy.release();
    QTRY_VERIFY_WITH_TIMEOUT(window->showFolder(-5) && window->itemList()->topLevelItemCount() == 1,
                             20000);
    QCOMPARE(m_answers->messages().size(), 1);

    // Away again, the probe in the middle of an attempt: closing does not wait for it.
    proxy.stall();
    window->showFolder(-10);
    QVERIFY(Database::serverAway());
    const int before = proxy.connectionsAccepted();
    QTRY_VERIFY(proxy.connectionsAccepted() > before);
    QElapsedTimer closing;
    closing.start();
    window.reset();
    std::fprintf(stderr, "Window: closed after %lld ms, the server away\n",
                 static_cast<long long>(closing.elapsed()));
    QVERIFY2(closing.elapsed() < kTimeoutSeconds * 1000 / 2,
             qPrintable(QString::number(closing.elapsed())));
    proxy.release();
}

APP_TEST_MAIN(TestDatabaseOutage)
#include "test_databaseoutage.moc"
