// Statements whose answer never comes back: the server ran them, the connection was cut (a
// proxy between program and server) before the program heard so. Every write happens once:
// a write is not run again blindly, its outcome reaches the caller as unknown, and the
// helpers that can look up what they wrote find out.
#include "core/database.h"
#include "core/transaction.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <optional>

using TestSupport::MySqlProxy;
using TestSupport::MySqlServer;
using TestSupport::TestDatabase;

namespace {
enum class Write {
    Insert,
    Statement,
    ActivityEntry,
    SlowActivityEntry, // still running on the server (a slow trigger) when the connection goes
    Duplicate,
    DuplicateCommitHeld, // the server answers the copy's commit only after the time-out
    Update,
    HeldUpdate, // its answer cut, then the server hangs: it can't be sent again
    HeldSafeStatement, // a statement marked safe to send again; its answer cut, the server hangs
    // An update marked safe to send again; its answer cut, the connection opened again, and
    // that one dropped before the update reached it; then the server hangs
    SafeUpdateNewConnectionDrops,
    Read
};
} // namespace

Q_DECLARE_METATYPE(Write)
Q_DECLARE_METATYPE(Database::Outcome)

class TestLostAnswers : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void lostAnswer_data();
    void lostAnswer();
    void idleConnectionKilled();
    void lostOnTheWindowsThread_data();
    void lostOnTheWindowsThread();
    void aliveCheckPerCommand_data();
    void aliveCheckPerCommand();

private:
    // The number of rows of `table` as the server holds them, by a connection of its own.
    int rowsOnServer(const QString &table, const QString &condition = QStringLiteral("1=1"));
    // A connection to the server that does not pass the proxy.
    QSqlDatabase directConnection();

    std::unique_ptr<MySqlProxy> m_proxy;
    std::unique_ptr<TestDatabase> m_data;
};

void TestLostAnswers::init()
{
    APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
    m_proxy = std::make_unique<MySqlProxy>(MySqlServer::fromEnvironment());
    QVERIFY(m_proxy->isListening());
    m_data = std::make_unique<TestDatabase>(m_proxy->server());
    QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
}

void TestLostAnswers::cleanup()
{
    m_data.reset();
    m_proxy.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("lostanswers_direct"));
}

QSqlDatabase TestLostAnswers::directConnection()
{
    return TestSupport::adminConnection(MySqlServer::fromEnvironment(),
                                        QStringLiteral("lostanswers_direct"),
                                        m_data->mysqlDatabaseName());
}

int TestLostAnswers::rowsOnServer(const QString &table, const QString &condition)
{
    QSqlQuery query(directConnection());
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2").arg(table, condition))
        || !query.next())
        return -1;
    return query.value(0).toInt();
}

void TestLostAnswers::lostAnswer_data()
{
    QTest::addColumn<Write>("write");
    QTest::addColumn<QByteArray>("cut"); // the statement whose answer is lost
    QTest::addColumn<bool>("ok"); // what the call returns
    QTest::addColumn<Database::Outcome>("outcome");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows"); // the rows of `table` afterwards, as the server holds them
    QTest::addColumn<int>("sent"); // how often the cut statement was sent
    const auto unknown = Database::Outcome::Unknown;
    const auto done = Database::Outcome::Done;
    QTest::newRow("a single insert is not sent again")
        << Write::Insert << QByteArray("INSERT INTO folders") << false << unknown << "folders" << 1
        << 1;
    QTest::newRow("a single statement is not sent again")
        << Write::Statement << QByteArray("INSERT INTO folders") << false << unknown << "folders"
        << 1 << 1;
    QTest::newRow("an activity entry is looked up, not written twice")
        << Write::ActivityEntry << QByteArray("INSERT INTO itemshistory") << true << done
        << "itemshistory" << 1 << 1;
    QTest::newRow("an entry still being written is looked up once its session ended")
        << Write::SlowActivityEntry << QByteArray("INSERT INTO itemshistory") << true << done
        << "itemshistory" << 1 << 2;
    QTest::newRow("a copied article's commit is looked up")
        << Write::Duplicate << QByteArray("COMMIT") << true << done << "articles" << 2 << 1;
    QTest::newRow("a copy's commit held past the time-out is looked up")
        << Write::DuplicateCommitHeld << QByteArray("COMMIT") << true << done << "articles" << 2
        << 1;
    QTest::newRow("a copy's pictures are lost with its transaction")
        << Write::Duplicate << QByteArray("INSERT INTO `articles_images`") << false
        << Database::Outcome::NotWritten << "articles" << 1 << 1;
    // Run once, its answer lost, sent again.
    QTest::newRow("an update setting values is sent again")
        << Write::Update << QByteArray("UPDATE folders") << true << done << "folders" << 1 << 2;
    QTest::newRow("an update setting values that can't be sent again is unknown")
        << Write::HeldUpdate << QByteArray("UPDATE folders") << false << unknown << "folders" << 1
        << 1;
    QTest::newRow("a write marked safe to resend whose retry never reaches the server")
        << Write::HeldSafeStatement << QByteArray("UPDATE folders") << false << unknown << "folders"
        << 1 << 1;
    QTest::newRow("a write marked safe to resend whose new connection drops after its handshake")
        << Write::SafeUpdateNewConnectionDrops << QByteArray("UPDATE folders") << false << unknown
        << "folders" << 1 << 1;
    QTest::newRow("a read is sent again")
        << Write::Read << QByteArray("SELECT foldername") << true << done << "folders" << 1 << 2;
}

// The server ran the statement; its answer never came. The call tells so or finds out, the
// table holds what one run of it wrote, and the connection works on with no error left.
void TestLostAnswers::lostAnswer()
{
    QFETCH(Write, write);
    QFETCH(QByteArray, cut);
    QFETCH(bool, ok);
    QFETCH(Database::Outcome, outcome);
    QFETCH(QString, table);
    QFETCH(int, rows);
    QFETCH(int, sent);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    Database *db = m_data->db();
    int article = 0;
    const bool held = write == Write::HeldUpdate || write == Write::HeldSafeStatement
        || write == Write::SafeUpdateNewConnectionDrops;
    if (write == Write::Update || held || write == Write::Read)
        QVERIFY(db->insertSqlClean({ { "foldername", "Vorher" } }, "folders") > 0);
    if (write == Write::SlowActivityEntry)
        QVERIFY(QSqlQuery(directConnection())
                    .exec("CREATE TRIGGER slow_entry BEFORE INSERT ON itemshistory FOR EACH ROW "
                          "SET @slept = SLEEP(IF(NEW.title = 'Langsam', 4, 0))"));
    if (held || write == Write::DuplicateCommitHeld)
        QVERIFY(db->setResponseTimeout(1));
    if (write == Write::Duplicate || write == Write::DuplicateCommitHeld) {
        article = db->insertSqlClean({ { "Title", "Lampe" } }, "articles");
        QVERIFY(db->insertSqlClean({ { "article_id", article }, { "image", "a.jpg" } },
                                   "articles_images")
                > 0);
    }

    QSignalSpy failures(WriteFailures::instance(), &WriteFailures::failed);
    if (write == Write::SlowActivityEntry)
        m_proxy->cutWhenSent(cut);
    else if (write == Write::DuplicateCommitHeld)
        m_proxy->holdAnswerTo(cut);
    else if (write == Write::SafeUpdateNewConnectionDrops)
        // The new connection is set up and drops as the update is sent again.
        m_proxy->cutAfter(cut, 1, [this, cut](quint32) {
            m_proxy->dropAtPrepare(cut, 1, [this](quint32) { m_proxy->stall(); });
        });
    else if (held)
        m_proxy->cutAfter(cut, 1, [this](quint32) { m_proxy->stall(); });
    else
        m_proxy->cutAfter(cut);
    const int sentBefore = m_proxy->statementsSeen(cut);
    bool result = false;
    switch (write) {
    case Write::Insert:
        result = db->insertSqlClean({ { "foldername", "Einmal" } }, "folders") > 0;
        break;
    case Write::Statement:
        result = db->executeSQL("INSERT INTO folders (foldername) VALUES ('Einmal')");
        break;
    case Write::ActivityEntry:
        result = db->addOutcomeNews("Sicherung", "Alles gesichert", true).id > 0;
        break;
    case Write::SlowActivityEntry:
        result = db->addOutcomeNews("Langsam", "Alles gesichert", true).id > 0;
        break;
    case Write::Duplicate:
    case Write::DuplicateCommitHeld:
        result = db->DuplicateRow("articles", "id", QString::number(article), QString(), QString())
            > 0;
        break;
    case Write::Update:
    case Write::HeldUpdate:
    case Write::SafeUpdateNewConnectionDrops:
        result
            = db->updateSqlClean({ { "foldername", "Nachher" } }, "folders", "foldername='Vorher'");
        break;
    case Write::HeldSafeStatement:
        result = db->executeSQL("UPDATE folders SET foldername='Nachher' WHERE foldername='Vorher'",
                                Database::Repeat::Safe);
        break;
    case Write::Read:
        result
            = db->select("SELECT foldername FROM folders WHERE foldername='Vorher'").value().size()
            == 1;
        break;
    }
    QCOMPARE(m_proxy->cuts(),
             write == Write::DuplicateCommitHeld                ? 0
                 : write == Write::SafeUpdateNewConnectionDrops ? 2
                                                                : 1);
    QCOMPARE(m_proxy->statementsSeen(cut) - sentBefore, sent);
    QCOMPARE(result, ok);
    QCOMPARE(db->lastOutcome(), outcome);
    QCOMPARE(db->lastErrorText.isEmpty(), ok);
    // The central failure report hears what the call could not find out, "not known" as such.
    QCOMPARE(failures.isEmpty(), outcome == Database::Outcome::Done);
    for (const QList<QVariant> &failure : qAsConst(failures))
        QCOMPARE(failure.value(3).toBool(), outcome == Database::Outcome::Unknown);
    QCOMPARE(db->unknownOutcomePending(), outcome == Database::Outcome::Unknown);
    // Whatever still runs of the cut connection on the server has ended before counting.
    QTRY_COMPARE_WITH_TIMEOUT(rowsOnServer("information_schema.PROCESSLIST",
                                           "INFO LIKE 'INSERT INTO itemshistory%' AND DB='"
                                               + m_data->mysqlDatabaseName() + "'"),
                              0, 10000);
    QCOMPARE(rowsOnServer(table), rows);
    if (write == Write::Update || held)
        QCOMPARE(rowsOnServer("folders", "foldername='Nachher'"), 1);
    if (held)
        m_proxy->release();
    if (write == Write::Duplicate || write == Write::DuplicateCommitHeld)
        QCOMPARE(rowsOnServer("articles_images"), rows);

    // The connection is opened again; a statement that works leaves no error behind.
    QVERIFY(db->executeSQL("UPDATE options SET optionvalue=optionvalue WHERE 1=0"));
    QVERIFY(db->lastErrorText.isEmpty());
    QCOMPARE(db->lastOutcome(), Database::Outcome::Done);
}

// A connection the server killed while it was idle is found dead before a write is sent: the
// write goes onto a new connection, once, and succeeds.
void TestLostAnswers::idleConnectionKilled()
{
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    Database *db = m_data->db();
    const QString id = db->selectOne("SELECT CONNECTION_ID()").value();
    QSqlQuery kill(directConnection());
    QVERIFY(kill.exec("KILL CONNECTION " + id));
    QVERIFY(db->insertSqlClean({ { "foldername", "Einmal" } }, "folders") > 0);
    QCOMPARE(db->lastOutcome(), Database::Outcome::Done);
    QCOMPARE(rowsOnServer("folders", "foldername='Einmal'"), 1);
}

void TestLostAnswers::lostOnTheWindowsThread_data()
{
    QTest::addColumn<int>("seconds"); // how long the lost write's trigger runs
    QTest::newRow("a lost session ending while the probe waits") << 4;
    // Longer than the probe waits for a session: it must end it, not wait for it.
    QTest::newRow("a lost session outlasting the probe (ended)") << 120;
}

// On the window's thread a write whose answer was lost, its session still running on the
// server (a slow trigger): nothing is looked up or awaited there, the outcome stays unknown.
// The probe ends that session before it reports the server back, so the window's next
// statement neither meets it nor waits for it.
void TestLostAnswers::lostOnTheWindowsThread()
{
    QFETCH(int, seconds);
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QVERIFY(QSqlQuery(directConnection())
                .exec(QStringLiteral(
                          "CREATE TRIGGER slow_entry BEFORE INSERT ON itemshistory FOR EACH ROW "
                          "SET @slept = SLEEP(IF(NEW.title = 'Langsam', %1, 0))")
                          .arg(seconds)));
    Database::setResponsiveThread(QThread::currentThread());
    auto restore = qScopeGuard([] { Database::setResponsiveThread(nullptr); });
    Database window(true, QStringLiteral("window"));
    // A session left running would hold the database's drop at the end.
    const auto endSlowSessions = qScopeGuard([this] {
        QSqlQuery sessions(directConnection());
        sessions.exec("SELECT ID FROM information_schema.PROCESSLIST WHERE INFO LIKE "
                      "'INSERT INTO itemshistory%'");
        QStringList ids;
        while (sessions.next())
            ids << sessions.value(0).toString();
        for (const QString &id : qAsConst(ids))
            sessions.exec("KILL " + id);
    });
    const QString session = window.selectOne("SELECT CONNECTION_ID()").orIfFailed(QString());
    QVERIFY(!session.isEmpty());
    QSignalSpy back(WriteFailures::instance(), &WriteFailures::serverAnswers);
    QSignalSpy failures(WriteFailures::instance(), &WriteFailures::failed);

    m_proxy->cutWhenSent("INSERT INTO itemshistory");
    QCOMPARE(window.addOutcomeNews("Langsam", "Alles gesichert", true).id, 0);
    QCOMPARE(window.lastOutcome(), Database::Outcome::Unknown);
    QVERIFY(window.unknownOutcomePending());
    QCOMPARE(failures.size(), 1);
    QVERIFY(failures.first().value(3).toBool());
    QVERIFY(Database::serverAway());

    QVERIFY(back.wait(10000));
    QCOMPARE(rowsOnServer("information_schema.PROCESSLIST", "ID = " + session), 0);
    QVERIFY(window.executeSQL("UPDATE options SET optionvalue=optionvalue WHERE 1=0"));
    QVERIFY(rowsOnServer("itemshistory") <= 1);
}

void TestLostAnswers::aliveCheckPerCommand_data()
{
    QTest::addColumn<bool>("transaction");
    QTest::addColumn<int>("checks"); // "DO 1" sent for the command of five rows
    QTest::newRow("five rows one by one: checked before each") << false << 5;
    QTest::newRow("five rows in one transaction: its begin is the check") << true << 0;
}

// A write that must not run twice goes onto a connection seen alive; a command of many rows
// pays that once, not per row.
void TestLostAnswers::aliveCheckPerCommand()
{
    QFETCH(bool, transaction);
    QFETCH(int, checks);
    Database *db = m_data->db();
    const int checksBefore = m_proxy->statementsSeen("DO 1");
    std::optional<Transaction> command;
    if (transaction)
        QVERIFY(command.emplace(*db).isOpen());
    for (int i = 0; i < 5; ++i)
        QVERIFY(db->executeSQL("INSERT INTO folders (foldername) VALUES ('" + QString::number(i)
                               + "')"));
    QVERIFY(!command || command->commit());
    QCOMPARE(m_proxy->statementsSeen("DO 1") - checksBefore, checks);
}

APP_TEST_GUILESS_MAIN(TestLostAnswers)
#include "test_lostanswers.moc"
