#pragma once

#include <QSqlDatabase>
#include <QString>

namespace TestSupport {

// Makes SQLite refuse, as a database refuses a statement it may not run, every statement that
// reads a column of `table` (a SELECT, but also an UPDATE or DELETE whose condition names one),
// and every pragma about it (its columns, its indexes):
// SQLite's authorizer denies it ("access to … is prohibited"). It holds for the connections
// opened while it lives, whatever thread opens them, and for those given to alsoOn(), as long
// as it is active; `once`: only the first such statement, then it is no longer active. A read
// of a local file that fails; on a server the MySqlProxy refuses one. One at a time.
class SqliteReadRefusal
{
public:
    // Refusing nothing until refuse().
    SqliteReadRefusal();
    explicit SqliteReadRefusal(const QString &table, bool once = false);
    ~SqliteReadRefusal();
    SqliteReadRefusal(const SqliteReadRefusal &) = delete;
    SqliteReadRefusal &operator=(const SqliteReadRefusal &) = delete;

    // Also an open connection of this thread (a SQLite one; others are left alone).
    void alsoOn(const QSqlDatabase &connection);
    // From now on the statements that read `table` are refused (`once`: the next one).
    void refuse(const QString &table, bool once = true);
    // Active when made with a table.
    void setActive(bool active);
    // How often a read was refused so far (a statement may count more than once, unless
    // `once`).
    int refusals() const;
};

} // namespace TestSupport
