#pragma once

#include "core/database.h"

#include <QMetaType>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace TestSupport {

enum class Backend { SQLite, MySQL };

// The MariaDB server the test command started, from the environment
// (ZERIRE_TEST_MYSQL_HOST, _PORT, _USER, _PASSWORD).
struct MySqlServer
{
    QString host;
    int port = 3306;
    QString user;
    QString password;

    static MySqlServer fromEnvironment();
    bool configured() const { return !host.isEmpty(); }
};

// A MariaDB server of the test's own, started through the test command's helper
// (ZERIRE_TEST_MYSQL_SERVER, see scripts/with-mariadb.sh), which the test may stop and start
// again on the same port and data folder while the program works on it. Stopped when it goes.
class OwnMySqlServer
{
public:
    OwnMySqlServer();
    ~OwnMySqlServer();
    OwnMySqlServer(const OwnMySqlServer &) = delete;
    OwnMySqlServer &operator=(const OwnMySqlServer &) = delete;

    // True when the test command offers the helper.
    static bool available();
    // Starts the server (the first time with a fresh data folder); false with error() when
    // it can't.
    bool start();
    bool stop();
    MySqlServer server() const { return m_server; }
    QString error() const { return m_error; }

private:
    bool run(const QString &command);

    QString m_name;
    MySqlServer m_server;
    QString m_error;
    bool m_running = false;
};

// A connection named `name` to `server` with all rights, on `database` (none when empty),
// opened (again) now; for what the program itself never does, such as killing connections.
QSqlDatabase adminConnection(const MySqlServer &server, const QString &name,
                             const QString &database = QString());

// True when the test command asks for the MySQL tests (ZERIRE_TEST_REQUIRE_MYSQL=1):
// then a missing server fails a test instead of skipping it.
bool mysqlRequired();

// For initTestCase_data(): the column "backend" with the rows "sqlite" and "mysql".
void addBackendRows();

// Writes the "mysql.setup" of a data folder as the settings dialog does.
void writeMySqlSetup(const QString &dataDir, const MySqlServer &server, const QString &database,
                     bool active, bool syncWorkstation = true,
                     const QString &imagePath = QString());

// A fresh data folder with a fresh database behind it: the local SQLite file, or a new
// database on the test MariaDB server (dropped again at the end). Opens the program's
// main Database on it, clears the application properties it publishes afterwards.
class TestDatabase
{
public:
    explicit TestDatabase(Backend backend);
    // A fresh database on `server` (MySQL).
    explicit TestDatabase(const MySqlServer &server);
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    // Empty when everything is ready; otherwise why not.
    QString error() const { return m_error; }
    Backend backend() const { return m_backend; }
    Database *db() const { return m_db.get(); }
    QString dataDir() const { return m_dir.path() + QLatin1Char('/'); }
    QString mysqlDatabaseName() const { return m_mysqlDatabase; }

    // Closes the main Database and opens it again, as a new start of the program would.
    void reopen();
    // Closes the main Database without opening it again.
    void closeMain();
    // A raw connection to the server with all rights (MySQL) or to the file (SQLite),
    // for what the program itself never does: killing connections, holding locks.
    QSqlDatabase rawConnection(const QString &name);

private:
    void create(const MySqlServer &server);

    Backend m_backend;
    MySqlServer m_server;
    QTemporaryDir m_dir;
    QString m_mysqlDatabase;
    QString m_error;
    std::unique_ptr<Database> m_db;
};

void clearDatabaseProperties();

// Makes `db` refuse, with `message`, every `event` ("INSERT", "UPDATE", "DELETE") on a row of
// `table` for which `condition` (SQL over NEW and OLD) holds, or every one when it is empty:
// a trigger on either database. False (with a warning) when the trigger can't be made.
bool refuseRows(Database *db, const QString &table, const QString &event, const QString &message,
                const QString &condition = QString());

// The named columns ("Folder,ItemID") of an article, joined by "|".
QString values(Database *db, int id, const QString &columns);

} // namespace TestSupport

Q_DECLARE_METATYPE(TestSupport::Backend)

// Starts a test that needs `backend`: skips (or, when the test command asks for MySQL,
// fails) when it is not available.
#define APP_REQUIRE_BACKEND(backend)                                                               \
    do {                                                                                           \
        if ((backend) == TestSupport::Backend::MySQL                                               \
            && !TestSupport::MySqlServer::fromEnvironment().configured()) {                        \
            if (TestSupport::mysqlRequired())                                                      \
                QFAIL("The MariaDB test server is not configured");                                \
            QSKIP("No MariaDB test server (run the tests through the README's test command)");     \
        }                                                                                          \
    } while (false)

// For a test that stops and starts a MariaDB server of its own: skips it (or fails it when
// the test command asks for the MySQL tests) when the test command offers none.
#define APP_REQUIRE_OWN_MYSQL_SERVER()                                                             \
    do {                                                                                           \
        APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);                                          \
        if (!TestSupport::OwnMySqlServer::available()) {                                           \
            if (TestSupport::mysqlRequired())                                                      \
                QFAIL("The test command offers no MariaDB server of the test's own");              \
            QSKIP("No MariaDB server of the test's own (run the tests through the test command)"); \
        }                                                                                          \
    } while (false)

// Opens a TestDatabase named `var` for the current "backend" row.
#define APP_TEST_DATABASE(var)                                                                     \
    const TestSupport::Backend var##Backend = *static_cast<TestSupport::Backend *>(                \
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));                     \
    APP_REQUIRE_BACKEND(var##Backend);                                                             \
    TestSupport::TestDatabase var(var##Backend);                                                   \
    QVERIFY2(var.error().isEmpty(), qPrintable(var.error()))
