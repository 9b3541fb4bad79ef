// Transactions of a Database connection: begun, committed and undone, nested ones as
// savepoints, and what the connection keeps track of meanwhile.
#include "core/transaction.h"

#include "core/database.h"
#include "core/database_p.h"
#include "core/logging.h"

#include <QSqlQuery>

Transaction::Transaction(Database &db)
    : m_db(db)
{
    m_open = m_db.beginTransaction();
}

Transaction::~Transaction()
{
    if (m_open)
        rollback();
}

bool Transaction::commit()
{
    if (!m_open)
        return false;
    m_open = false;
    return m_db.commitTransaction();
}

void Transaction::rollback()
{
    if (!m_open)
        return;
    m_open = false;
    m_db.rollbackTransaction();
}

void Database::noteFailureInTransaction(Outcome outcome)
{
    if (m_transactionDepth == 0 || m_transactionFailedAt > 0 || m_committing)
        return;
    // A lost connection undid the transaction on the server: that is never harmless.
    if (m_tolerating > 0 && !m_transactionLost)
        return;
    m_transactionFailedAt = m_transactionDepth;
    m_transactionFailure = lastErrorText;
    m_transactionFailureOutcome = outcome == Outcome::Unknown ? Outcome::NotWritten : outcome;
    m_transactionFailureConflict = m_lastLockConflict;
}

bool Database::beginTransaction()
{
    // Every command writes through one: none is written into a database file that is no
    // longer the one opened at start (deleted, replaced), where it would be lost.
    if (m_transactionDepth == 0 && !sqliteFileIntact())
        return false;
    const QString sql = m_transactionDepth > 0
        ? QStringLiteral("SAVEPOINT sp%1").arg(m_transactionDepth)
        : (isMySQL ? QStringLiteral("START TRANSACTION") : QStringLiteral("BEGIN IMMEDIATE"));
    // Nothing is written by beginning: on a lost connection it is begun on the next.
    QSqlQuery query;
    if (!run(query, m_db, sql, nullptr, "SQL Error: ", false, nullptr, Repeat::Safe))
        return false;
    ++m_transactionDepth;
    return true;
}

bool Database::commitTransaction()
{
    if (m_transactionDepth <= 0)
        return false;
    if (m_transactionDepth > 1 && m_transactionLost) {
        // The server undid it with the connection; the outermost commit tells so.
        --m_transactionDepth;
        lastErrorText = transactionLostReason();
        m_lastOutcome = Outcome::NotWritten;
        return false;
    }
    if (m_transactionDepth > 1 && m_transactionFailedAt >= m_transactionDepth) {
        // A statement of this part failed: the part is undone, and the transaction it
        // belongs to fails with it (its caller undoes this part itself when that is harmless).
        const QString error = m_transactionFailure;
        const Outcome outcome = m_transactionFailureOutcome;
        const QString savepoint = QStringLiteral("sp%1").arg(m_transactionDepth - 1);
        {
            const FailureTolerated undoing(*this);
            (void)executeSQL(QStringLiteral("ROLLBACK TO SAVEPOINT ") + savepoint);
            (void)executeSQL(QStringLiteral("RELEASE SAVEPOINT ") + savepoint);
        }
        --m_transactionDepth;
        m_transactionFailedAt = m_transactionDepth;
        lastErrorText = error;
        m_lastOutcome = outcome;
        m_lastLockConflict = m_transactionFailureConflict;
        return false;
    }
    if (m_transactionDepth > 1) {
        const QString savepoint = QStringLiteral("sp%1").arg(m_transactionDepth - 1);
        const bool ok = executeSQL(QStringLiteral("RELEASE SAVEPOINT ") + savepoint);
        if (!ok && !m_transactionLost) {
            const QString error = lastErrorText;
            const Outcome outcome = m_lastOutcome;
            {
                const FailureTolerated undoing(*this);
                (void)executeSQL(QStringLiteral("ROLLBACK TO SAVEPOINT ") + savepoint);
            }
            lastErrorText = error;
            m_lastOutcome = outcome;
        }
        --m_transactionDepth;
        return ok;
    }

    if (m_transactionLost) {
        // The server undid it with the connection: nothing of it is written.
        m_transactionLost = false;
        m_transactionDepth = 0;
        m_transactionFailedAt = 0;
        lastErrorText = transactionLostReason();
        m_lastOutcome = Outcome::NotWritten;
        m_lastFailureTransient = true;
        return false;
    }
    if (m_transactionFailedAt > 0) {
        // A statement of it failed: nothing of it is kept, and the commit tells why.
        const QString error = m_transactionFailure;
        const Outcome outcome = m_transactionFailureOutcome;
        m_transactionFailedAt = 0;
        m_transactionDepth = 0;
        QSqlQuery rollback;
        run(rollback, m_db, QStringLiteral("ROLLBACK"), nullptr, "SQL Error: ", true, nullptr,
            Repeat::Safe);
        qCInfo(lcDb).noquote() << "A transaction was undone because one of its statements failed:"
                               << error;
        lastErrorText = error;
        m_lastOutcome = outcome;
        m_lastFailureTransient = outcome == Outcome::NotWritten;
        m_lastLockConflict = m_transactionFailureConflict;
        return false;
    }
    m_committing = true;
    QSqlQuery commit;
    const bool ok = run(commit, m_db, QStringLiteral("COMMIT"), nullptr, "SQL Error: ");
    m_committing = false;
    m_transactionDepth = 0;
    if (ok || m_lastOutcome == Outcome::Unknown)
        return ok;
    // A commit that failed (a full disk, a constraint checked at the end) may leave the
    // transaction open and the file locked for every other connection. The failure is told
    // once, by the commit.
    const QString error = lastErrorText;
    const Outcome outcome = m_lastOutcome;
    QSqlQuery rollback;
    run(rollback, m_db, QStringLiteral("ROLLBACK"), nullptr, "SQL Error: ", true, nullptr,
        Repeat::Safe);
    lastErrorText = error;
    m_lastOutcome = outcome;
    return false;
}

void Database::rollbackTransaction()
{
    if (m_transactionDepth <= 0)
        return;
    // What made the caller undo it stays the connection's last failure.
    const QString error = lastErrorText;
    const Outcome outcome = m_lastOutcome;
    // A failure inside what is undone is undone with it.
    if (m_transactionFailedAt >= m_transactionDepth)
        m_transactionFailedAt = 0;
    const FailureTolerated undoing(*this);
    if (m_transactionLost) {
        // The server undid it already, with the transaction it is part of.
        m_transactionLost = --m_transactionDepth > 0;
    } else if (m_transactionDepth > 1) {
        const QString savepoint = QStringLiteral("sp%1").arg(m_transactionDepth - 1);
        const bool undone = executeSQL(QStringLiteral("ROLLBACK TO SAVEPOINT ") + savepoint);
        const QString undoError = lastErrorText;
        const Outcome undoOutcome = m_lastOutcome;
        (void)executeSQL(QStringLiteral("RELEASE SAVEPOINT ") + savepoint);
        --m_transactionDepth;
        // A part that could not be undone must not be committed with the rest.
        if (!undone && m_transactionFailedAt == 0 && !m_transactionLost) {
            m_transactionFailedAt = m_transactionDepth;
            m_transactionFailure = undoError;
            m_transactionFailureOutcome
                = undoOutcome == Outcome::Unknown ? Outcome::NotWritten : undoOutcome;
        }
    } else {
        m_transactionDepth = 0;
        // On a server a rollback fails only with its connection, which ends the transaction
        // too; SQLite undoes an open transaction whatever statements are still pending.
        if (!executeSQL(QStringLiteral("ROLLBACK"), Repeat::Safe))
            qCWarning(lcDb).noquote() << "A transaction could not be undone:" << lastErrorText;
    }
    lastErrorText = error;
    m_lastOutcome = outcome;
}
