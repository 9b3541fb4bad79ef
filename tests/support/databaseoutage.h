#pragma once

#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <memory>
#include <optional>

namespace TestSupport {

class SqliteReadRefusal;

// A fresh TestDatabase that can be made to fail at a chosen moment the ways a seller meets it:
// one statement refused by the server (MariaDB behind the test proxy), a read refused by the
// local file (SQLite), the server gone (a MariaDB server of the test's own, stopped), or the
// SQLite file deleted while the program runs. For the rows of a test that asserts what a
// command, dialog or worker does when a read or a write of it fails.
class DatabaseOutage
{
public:
    enum class Fault {
        Refused, // strike(): the next statement containing the given text is refused
        ServerGone, // strike(): the server stops; mend() starts it again
        FileDeleted, // strike(): the SQLite file and its side files are deleted
        // strike(): the next statement reading the given table is refused (SQLite's
        // authorizer), on the main connection and those opened since the outage was made
        ReadRefused
    };

    // The fault that makes a read fail on `backend`: refused (by the server, or by the local
    // file), or, with `serverGone`, the server stopped; none for a local file without server.
    static std::optional<Fault> readFault(Backend backend, bool serverGone);

    explicit DatabaseOutage(Fault fault);
    ~DatabaseOutage();
    DatabaseOutage(const DatabaseOutage &) = delete;
    DatabaseOutage &operator=(const DatabaseOutage &) = delete;

    // Empty when the database is ready; otherwise why not.
    QString error() const { return m_error; }
    TestDatabase &data() const { return *m_data; }
    Database *db() const { return m_data->db(); }

    // Makes the database fail as the fault says; false when it could not. `table`: the table
    // the statement reads, for ReadRefused, which does not look at `statement`.
    bool strike(const QByteArray &statement = QByteArray(), const QString &table = QString());
    // Undoes a stopped server, and a refusal not met yet.
    bool mend();
    // Whether `text` holds the reason of a statement this outage refused.
    bool tellsRefusal(const QString &text) const;

private:
    Fault m_fault;
    QString m_error;
    std::unique_ptr<OwnMySqlServer> m_own;
    std::unique_ptr<MySqlProxy> m_proxy;
    std::unique_ptr<SqliteReadRefusal> m_refusal;
    std::unique_ptr<TestDatabase> m_data;
};

// For a data function: the column "fault" with the rows "sqlite: file deleted", "mysql:
// statement refused" and "mysql: server gone".
void addOutageRows();

} // namespace TestSupport

Q_DECLARE_METATYPE(TestSupport::DatabaseOutage::Fault)

// Opens a DatabaseOutage named `var` that makes a read fail on the current "backend" row (see
// readFault()); skips the row when that backend has no such fault or its server is missing.
#define APP_TEST_READ_OUTAGE(var, serverGone)                                                      \
    const std::optional<TestSupport::DatabaseOutage::Fault> var##Fault                             \
        = TestSupport::DatabaseOutage::readFault(                                                  \
            *static_cast<TestSupport::Backend *>(                                                  \
                QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>())),             \
            serverGone);                                                                           \
    if (!var##Fault)                                                                               \
        QSKIP("A local file has no server to lose");                                               \
    APP_REQUIRE_OUTAGE(*var##Fault);                                                               \
    TestSupport::DatabaseOutage var(*var##Fault);                                                  \
    QVERIFY2(var.error().isEmpty(), qPrintable(var.error()))

// Skips (or, when the test command asks for MySQL, fails) a row whose fault needs a MariaDB
// server the test command does not offer.
#define APP_REQUIRE_OUTAGE(fault)                                                                  \
    do {                                                                                           \
        if ((fault) == TestSupport::DatabaseOutage::Fault::Refused)                                \
            APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);                                      \
        if ((fault) == TestSupport::DatabaseOutage::Fault::ServerGone)                             \
            APP_REQUIRE_OWN_MYSQL_SERVER();                                                        \
    } while (false)
