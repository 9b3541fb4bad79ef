// Transactions of a Database object: begun, committed and undone, nested ones as
// savepoints.
#include "core/database.h"

#include "core/database_p.h"

#include <QSqlQuery>

bool Database::beginTransaction()
{
    const QString sql = m_transactionDepth > 0
        ? QStringLiteral("SAVEPOINT sp%1").arg(m_transactionDepth)
        : (isMySQL ? QStringLiteral("START TRANSACTION") : QStringLiteral("BEGIN IMMEDIATE"));
    if (!executeSQL(sql))
        return false;
    ++m_transactionDepth;
    return true;
}

bool Database::commitTransaction()
{
    if (m_transactionDepth <= 0)
        return false;
    --m_transactionDepth;
    if (m_transactionDepth > 0) {
        const QString savepoint = QStringLiteral("sp%1").arg(m_transactionDepth);
        if (executeSQL(QStringLiteral("RELEASE SAVEPOINT ") + savepoint))
            return true;
        const QString error = lastErrorText;
        executeSQL(QStringLiteral("ROLLBACK TO SAVEPOINT ") + savepoint);
        lastErrorText = error;
        return false;
    }
    if (executeSQL(QStringLiteral("COMMIT")))
        return true;
    // A commit that failed (full disk) may leave the transaction open and the file locked
    // for every other connection. The failure is told once, by the commit.
    const QString error = lastErrorText;
    QSqlQuery rollback;
    run(rollback, m_db, QStringLiteral("ROLLBACK"), nullptr, "SQL Error: ", true);
    lastErrorText = error;
    return false;
}

void Database::rollbackTransaction()
{
    if (m_transactionDepth <= 0)
        return;
    const QString error = lastErrorText;
    --m_transactionDepth;
    if (m_transactionDepth > 0) {
        const QString savepoint = QStringLiteral("sp%1").arg(m_transactionDepth);
        executeSQL(QStringLiteral("ROLLBACK TO SAVEPOINT ") + savepoint);
        executeSQL(QStringLiteral("RELEASE SAVEPOINT ") + savepoint);
    } else {
        executeSQL(QStringLiteral("ROLLBACK"));
    }
    lastErrorText = error;
}
