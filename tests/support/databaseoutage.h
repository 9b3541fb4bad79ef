#pragma once

#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <memory>

namespace TestSupport {

// A fresh TestDatabase that can be made to fail at a chosen moment the ways a seller meets it:
// one statement refused by the server (MariaDB behind the test proxy), the server gone (a
// MariaDB server of the test's own, stopped), or the SQLite file deleted while the program
// runs. For the rows of a test that asserts what a command or dialog does when a read or a
// write of it fails.
class DatabaseOutage
{
public:
    enum class Fault {
        Refused, // strike(): the next statement containing the given text is refused
        ServerGone, // strike(): the server stops; mend() starts it again
        FileDeleted // strike(): the SQLite file and its side files are deleted
    };

    explicit DatabaseOutage(Fault fault);
    ~DatabaseOutage();
    DatabaseOutage(const DatabaseOutage &) = delete;
    DatabaseOutage &operator=(const DatabaseOutage &) = delete;

    // Empty when the database is ready; otherwise why not.
    QString error() const { return m_error; }
    TestDatabase &data() const { return *m_data; }
    Database *db() const { return m_data->db(); }

    // Makes the database fail as the fault says; false when it could not.
    bool strike(const QByteArray &statement = QByteArray());
    // Undoes a stopped server; the other faults need none.
    bool mend();

private:
    Fault m_fault;
    QString m_error;
    std::unique_ptr<OwnMySqlServer> m_own;
    std::unique_ptr<MySqlProxy> m_proxy;
    std::unique_ptr<TestDatabase> m_data;
};

// For a data function: the column "fault" with the rows "sqlite: file deleted", "mysql:
// statement refused" and "mysql: server gone".
void addOutageRows();

} // namespace TestSupport

Q_DECLARE_METATYPE(TestSupport::DatabaseOutage::Fault)

// Skips (or, when the test command asks for MySQL, fails) a row whose fault needs a MariaDB
// server the test command does not offer.
#define APP_REQUIRE_OUTAGE(fault)                                                                  \
    do {                                                                                           \
        if ((fault) == TestSupport::DatabaseOutage::Fault::Refused)                                \
            APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);                                      \
        if ((fault) == TestSupport::DatabaseOutage::Fault::ServerGone)                             \
            APP_REQUIRE_OWN_MYSQL_SERVER();                                                        \
    } while (false)
