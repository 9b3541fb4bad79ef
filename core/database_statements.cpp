// Running statements on a Database object's connection: waiting for a locked SQLite file,
// reopening a lost MySQL connection, reporting failed writes, and the row helpers built on
// it.
#include "core/database.h"

#include "core/database_p.h"
#include "core/databaseerrors.h"
#include "core/logging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QThread>
#include <QVarLengthArray>
#include <sqlite3.h>

using namespace DatabaseInternal;

namespace {

// Whether `word` is one of `keywords`, regardless of case.
bool isOneOf(const QStringRef &word, std::initializer_list<const char *> keywords)
{
    for (const char *keyword : keywords) {
        if (word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

constexpr int kLockRetryMs = 200;
constexpr int kMaxReconnects = 3;
constexpr int kPreparedCacheSize = 32;

// Statements that may be sent again after a lost answer whatever the caller says: they
// read, or set something of the session.
bool isRepeatable(const QString &sql)
{
    const QStringRef word = DatabaseInternal::leadingKeyword(sql);
    return !isWriteStatement(sql) || isOneOf(word, { "SET", "DO" });
}

// Statements that store something: not the reads, session settings and the statements that
// begin, mark or undo a transaction (a lost COMMIT is the transaction's own matter).
bool storesData(const QString &sql)
{
    return !isRepeatable(sql)
        && !isOneOf(DatabaseInternal::leadingKeyword(sql),
                    { "START", "BEGIN", "SAVEPOINT", "RELEASE", "ROLLBACK", "COMMIT" });
}

} // namespace

namespace DatabaseInternal {

bool isLocked(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6")
        || error.text().contains(QLatin1String("database is locked"), Qt::CaseInsensitive)
        || error.text().contains(QLatin1String("database table is locked"), Qt::CaseInsensitive);
}

bool isConnectionLost(const QSqlError &error)
{
    static const QStringList codes = {
        QStringLiteral("2002"), // can't connect through the socket
        QStringLiteral("2003"), // can't connect to the server
        QStringLiteral("2006"), // server has gone away
        QStringLiteral("2013"), // lost connection during query
        QStringLiteral("2055"), // lost connection, with the system error
        QStringLiteral("1053"), // server shutdown in progress
        QStringLiteral("1927"), // connection was killed (MariaDB)
        QStringLiteral("4031"), // disconnected for inactivity (MySQL 8)
    };
    return codes.contains(error.nativeErrorCode())
        || error.text().contains(QLatin1String("Lost connection to"), Qt::CaseInsensitive)
        || error.text().contains(QLatin1String("server has gone away"), Qt::CaseInsensitive);
}

bool isStorageFailure(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 5 || code == 6 || code == 7 || code == 10 || code == 13 || code == 14);
}

bool isLockConflict(const QSqlError &error)
{
    // 1205 lock wait time-out, 1213 deadlock, 3572 a locking read with NOWAIT.
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("1205") || code == QLatin1String("1213")
        || code == QLatin1String("3572")
        || error.text().contains(QLatin1String("Lock wait timeout exceeded"), Qt::CaseInsensitive);
}

bool isDeadlock(const QSqlError &error)
{
    return error.nativeErrorCode() == QLatin1String("1213");
}

QStringRef leadingKeyword(const QString &sql)
{
    int start = 0;
    while (start < sql.size() && sql.at(start).isSpace())
        ++start;
    int end = start;
    while (end < sql.size() && (sql.at(end).isLetterOrNumber() || sql.at(end) == QLatin1Char('_')))
        ++end;
    return sql.midRef(start, end - start);
}

bool isWriteStatement(const QString &sql)
{
    return !isOneOf(leadingKeyword(sql), { "SELECT", "PRAGMA", "SHOW", "EXPLAIN" });
}

bool isIdentifier(const QString &name)
{
    if (name.isEmpty() || name.at(0).isDigit())
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (!((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')
              || u == '_'))
            return false;
    }
    return true;
}

bool isWholeNumber(const QVariant &value)
{
    // The driver binds these as numbers; a null one goes as its text, as ever.
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return !value.isNull();
    default:
        return false;
    }
}

namespace {

// The driver's way of telling a failure: its own text, SQLite's message and the code.
QSqlError sqliteError(sqlite3 *handle, const char *what, QSqlError::ErrorType type, int code)
{
    return QSqlError(QCoreApplication::translate("QSQLiteResult", what),
                     QString::fromUtf8(sqlite3_errmsg(handle)), type, QString::number(code));
}

} // namespace

bool stepSqlite(const QSqlQuery &query, const QVector<QVariant> &values, Database::BoundRows &rows,
                QSqlError &error, bool *used)
{
    *used = false;
    const QSqlResult *result = query.result();
    const QVariant handleValue = result ? result->handle() : QVariant();
    if (!handleValue.isValid() || qstrcmp(handleValue.typeName(), "sqlite3_stmt*") != 0)
        return false;
    sqlite3_stmt *statement = *static_cast<sqlite3_stmt *const *>(handleValue.constData());
    if (!statement)
        return false;
    *used = true;
    sqlite3 *handle = sqlite3_db_handle(statement);
    rows = Database::BoundRows();

    int code = sqlite3_reset(statement);
    if (code != SQLITE_OK) {
        error = sqliteError(handle, "Unable to reset statement", QSqlError::StatementError, code);
        return false;
    }
    if (sqlite3_bind_parameter_count(statement) != values.size()) {
        error = QSqlError(QCoreApplication::translate("QSQLiteResult", "Parameter count mismatch"),
                          QString(), QSqlError::StatementError);
        return false;
    }
    // Values as the driver binds what execBound hands it: whole numbers as numbers, text as
    // text (here in SQLite's own encoding, so that it is not converted again), the rest as
    // its text.
    QVarLengthArray<QByteArray, 8> texts;
    for (int i = 0; i < values.size() && code == SQLITE_OK; ++i) {
        const QVariant &value = values.at(i);
        if (isWholeNumber(value)) {
            code = sqlite3_bind_int64(statement, i + 1, value.toLongLong());
            continue;
        }
        const bool isText = value.userType() == QMetaType::QString && !value.isNull();
        texts.append((isText ? value.toString() : boundText(value).toString()).toUtf8());
        code = sqlite3_bind_text(statement, i + 1, texts.last().constData(), texts.last().size(),
                                 SQLITE_STATIC);
    }
    if (code != SQLITE_OK) {
        error = sqliteError(handle, "Unable to bind parameters", QSqlError::StatementError, code);
        sqlite3_clear_bindings(statement);
        return false;
    }

    const int columns = sqlite3_column_count(statement);
    rows.columns = columns;
    for (;;) {
        code = sqlite3_step(statement);
        if (code == SQLITE_DONE)
            break;
        if (code != SQLITE_ROW) {
            // A generic error tells its cause when the statement is reset.
            if (code == SQLITE_ERROR)
                code = sqlite3_reset(statement);
            error = sqliteError(handle, "Unable to fetch row", QSqlError::ConnectionError, code);
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
            rows.values.clear();
            return false;
        }
        for (int column = 0; column < columns; ++column) {
            switch (sqlite3_column_type(statement, column)) {
            case SQLITE_INTEGER:
                rows.values.append(qlonglong(sqlite3_column_int64(statement, column)));
                break;
            case SQLITE_FLOAT:
                rows.values.append(sqlite3_column_double(statement, column));
                break;
            case SQLITE_NULL:
                rows.values.append(QVariant(QVariant::String));
                break;
            case SQLITE_BLOB:
                rows.values.append(
                    QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, column)),
                               sqlite3_column_bytes(statement, column)));
                break;
            default: {
                const auto *text
                    = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
                rows.values.append(
                    QString::fromUtf8(text, sqlite3_column_bytes(statement, column)));
                break;
            }
            }
        }
    }
    rows.insertId = sqlite3_last_insert_rowid(handle);
    // The statement holds no rows and no read of the file, and no text of this call.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return true;
}

QVariant boundText(const QVariant &value)
{
    if (value.type() == QVariant::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    const QString text = value.toString();
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace DatabaseInternal

bool Database::run(QSqlQuery &query, QSqlDatabase &connection, const QString &sql,
                   const QMap<QString, QVariant> *values, const char *failurePrefix, bool quiet,
                   const QVector<QVariant> *positional, Repeat repeat, BoundRows *rows)
{
    QElapsedTimer timer;
    timer.start();
    int reconnects = 0;
    const bool mysql = connection.driverName() == QLatin1String(kMySqlDriver);
    const bool own = &connection == &m_db || connection.connectionName() == m_db.connectionName();
    // This object keeps the state of its own MySQL connection: lost, reopened, in a
    // transaction.
    const bool guarded = own && mysql;
    const bool bound = values || positional;
    const bool cacheable = bound && own;
    // Asked only after a lost connection: most statements never need to know.
    const auto repeatable = [&] {
        return repeat == Repeat::Safe || isRepeatable(sql);
    };
    // A statement that waited the whole time-out met a server that does not answer: it is
    // not tried again at once, nor is the connection (each try would wait as long).
    const auto hanging = [&] {
        return timer.elapsed() >= qint64(m_responseTimeoutSeconds) * 1000 - 250;
    };

    // Set for a failure that waited for another session's lock (see lastFailureLockConflict()).
    bool lockConflict = false;
    const auto failed = [&](const QString &error, Outcome outcome, bool lost) {
        lastErrorText
            = lost ? brokenReason(error, m_sessionRefused) : DatabaseErrors::describe(error);
        if (own) {
            m_lastOutcome = outcome;
            m_lastLockConflict = lockConflict;
            noteFailureInTransaction(outcome);
        }
        if (quiet)
            return false;
        if (own) {
            ++m_failedStatements;
            m_lastFailureTransient = outcome == Outcome::NotWritten || outcome == Outcome::Unknown;
        }
        qCWarning(lcDb).noquote() << Logging::sqlFailure(QLatin1String(failurePrefix), error, sql);
        if (own && isWriteStatement(sql)) {
            const bool unknown = outcome == Outcome::Unknown;
            if (unknown)
                m_unknownPending = true;
            // A look-up under way may still find out what it wrote: told when it is done.
            if (!unknown || m_resolving == 0)
                emit WriteFailures::instance()->failed(m_connectionName, lastErrorText,
                                                       lost ? lastErrorText : QString(), unknown);
        }
        return false;
    };
    // The connection can't be used: told once, and the next statement waits a little before
    // it tries again.
    const auto broken = [&] {
        m_lastReconnectMs = QDeadlineTimer::current().deadline();
        markBroken(m_lostError, m_sessionRefused);
    };

    // A local database that could not be opened (the start told why) runs nothing; the
    // driver would only say "Driver not loaded".
    if (!mysql && !connection.isOpen()) {
        lastErrorText = m_startProblem.isEmpty()
            ? tr("Die Datenbank ist nicht geöffnet.")
            : tr("Die Datenbank ist nicht geöffnet: %1").arg(m_startProblem);
        if (own) {
            m_lastOutcome = Outcome::NotWritten;
            m_lastLockConflict = false;
            noteFailureInTransaction(m_lastOutcome);
            ++m_failedStatements;
        }
        qCDebug(lcDb).noquote() << "Not run, the database is not open:" << sql.left(200);
        return false;
    }

    // Nothing is written into a database file that is no longer the one opened at start
    // (deleted, replaced): it would be lost at the next start. A transaction checks it when
    // it begins.
    if (own && !mysql && m_transactionDepth == 0 && storesData(sql) && !sqliteFileIntact())
        return false;

    if (guarded) {
        if (m_transactionLost) {
            // The server undid the transaction with the connection, or to end a deadlock: none
            // of its later statements may be written on their own.
            lockConflict = m_transactionConflict;
            return failed(m_lostError, Outcome::NotWritten, !m_transactionConflict);
        }
        // Nothing is sent from the window's thread while the server is known away: the
        // probe tells when it answers (see setResponsiveThread()).
        if (waitsForServer(&m_lostError)) {
            markBroken(m_lostError, false);
            return failed(m_lostError, Outcome::NotWritten, true);
        }
        if (!m_db.isOpen() && !reconnect(true)) {
            markBroken(m_lostError, m_sessionRefused);
            return failed(m_lostError, Outcome::NotWritten, true);
        }
        // Nothing runs beside a lost session that may still write: a look-up would miss what
        // it commits later, a write might meet it twice.
        if (m_lostSessionId != 0 && !endLostSession()) {
            return failed(QStringLiteral("the session %1, lost with a write under way, is still "
                                         "running on the server")
                              .arg(m_lostSessionId),
                          Outcome::NotWritten, true);
        }
        // A write outside a transaction is sent only on a connection seen alive just before:
        // one that died meanwhile (server restarted, connection killed, server away) is opened
        // again first, with nothing of the write sent on it. So a write that could not be sent
        // is known not written, even one that may be sent again.
        if (storesData(sql) && m_transactionDepth == 0) {
            QSqlQuery ping(m_db);
            if (!ping.exec(QStringLiteral("DO 1"))) {
                m_lostError = ping.lastError().text();
                qCWarning(lcDb).noquote() << QStringLiteral("Database error ") + m_lostError
                        + QStringLiteral(", try to reconnect...");
                if (hanging() || !reconnect(false)) {
                    broken();
                    return failed(m_lostError, Outcome::NotWritten, true);
                }
            }
        }
    }

    // The statement reached the server once and its answer was lost: it may have run.
    bool maybeRan = false;
    for (;;) {
        bool ok;
        // False while nothing of the statement reached the server (its prepare failed).
        bool sent = true;
        const auto cached = cacheable ? m_prepared.constFind(sql) : m_prepared.constEnd();
        if (cached != m_prepared.constEnd()) {
            // The importers and workers write row after row with the same columns.
            query = cached.value();
            ok = true;
        } else {
            query = QSqlQuery(connection);
            query.setForwardOnly(true);
            ok = !bound || query.prepare(sql);
            sent = ok;
            if (ok && cacheable) {
                if (m_prepared.size() >= kPreparedCacheSize)
                    m_prepared.clear();
                m_prepared.insert(sql, query);
            }
        }
        // Set when SQLite ran the statement without the driver (see stepSqlite()).
        bool stepped = false;
        QSqlError steppedError;
        if (bound) {
            if (ok && rows && positional && !mysql)
                ok = stepSqlite(query, *positional, *rows, steppedError, &stepped);
            if (ok && !stepped) {
                if (values) {
                    for (auto it = values->cbegin(); it != values->cend(); ++it)
                        query.bindValue(QLatin1Char(':') + it.key(), boundText(it.value()));
                } else {
                    for (int i = 0; i < positional->size(); ++i) {
                        const QVariant &value = positional->at(i);
                        // Text that is there, and whole numbers, go as they are.
                        if (isWholeNumber(value)
                            || (value.userType() == QMetaType::QString && !value.isNull()))
                            query.bindValue(i, value);
                        else
                            query.bindValue(i, boundText(value));
                    }
                }
                ok = query.exec();
            }
        } else {
            ok = query.exec(sql);
        }
        if (ok && rows && !stepped) {
            // Read whole, as SQLite's are.
            *rows = BoundRows();
            rows->columns = query.record().count();
            while (query.next()) {
                for (int column = 0; column < rows->columns; ++column)
                    rows->values.append(query.value(column));
            }
            rows->insertId = query.lastInsertId().toLongLong();
            query.finish();
        }
        if (ok) {
            if (own)
                m_lastOutcome = Outcome::Done;
            lastErrorText.clear();
            if (guarded)
                markRestored();
            return true;
        }

        const QSqlError error = stepped ? steppedError : query.lastError();
        if (!mysql && isLocked(error) && timer.elapsed() < m_lockTimeoutMs) {
            qCWarning(lcDb) << "Database is locked, wait 200ms and try again";
            QThread::msleep(kLockRetryMs);
            continue;
        }
        if (guarded && isConnectionLost(error)) {
            query = QSqlQuery();
            m_prepared.clear();
            m_lostError = error.text();
            qCWarning(lcDb).noquote() << QStringLiteral("Database error ") + error.text()
                    + QStringLiteral(", try to reconnect...");
            if (sent && !isRepeatable(sql) && m_sessionId != 0) {
                // Its session may still be running it on the server.
                m_lostSessionId = m_sessionId;
                m_lostServerStart = m_serverStart;
            }
            maybeRan = maybeRan || (sent && storesData(sql));
            // The next statement, often the look-up of what this one wrote, opens the
            // connection again at once, without the pause after a failed attempt.
            // On the window's thread nothing is looked up on a new connection now: the probe
            // tries the server, and the window reads what is stored once it answers.
            const auto lostUnknown = [&] {
                m_db.close();
                m_lastReconnectMs = -1;
                if (hanging())
                    markBroken(m_lostError, m_sessionRefused);
                else if (m_responsive)
                    leaveToProbe();
                return failed(error.text(), Outcome::Unknown, true);
            };
            if (m_committing) {
                // The server may have committed before the connection went: the outcome is
                // open.
                return lostUnknown();
            }
            if (m_transactionDepth > 0) {
                // What the transaction wrote is gone; its remaining statements fail until
                // it is ended, and so does this one.
                m_transactionLost = true;
                m_transactionConflict = false;
                if (hanging())
                    broken();
                else if (m_responsive)
                    leaveToProbe();
                else if (!reconnect(false))
                    markBroken(m_lostError, m_sessionRefused);
                return failed(error.text(), Outcome::NotWritten, true);
            }
            if (sent && !repeatable()) {
                // It may have run: it is not sent again. Its caller looks up what it wrote.
                return lostUnknown();
            }
            if (!hanging() && reconnects < kMaxReconnects) {
                ++reconnects;
                if (reconnect(false) && (m_lostSessionId == 0 || endLostSession()))
                    continue;
            }
            if (maybeRan) {
                // Sent and not confirmed, and it can't be sent again now: it may be stored.
                return lostUnknown();
            }
            broken();
            return failed(m_lostError, Outcome::NotWritten, true);
        }
        // Another session held a lock longer than this one waits: nothing is written, and the
        // server is there. A deadlock undid the whole transaction on the server.
        lockConflict = mysql ? isLockConflict(error) : isLocked(error);
        if (guarded && m_transactionDepth > 0 && isDeadlock(error)) {
            m_transactionLost = true;
            m_transactionConflict = true;
            m_lostError = error.text();
        }
        const bool unavailable = mysql ? lockConflict : isStorageFailure(error);
        return failed(error.text(), unavailable ? Outcome::NotWritten : Outcome::Refused, false);
    }
}

QString Database::transactionLostReason()
{
    m_lastLockConflict = m_transactionConflict;
    return m_transactionConflict ? DatabaseErrors::describe(m_lostError)
                                 : brokenReason(m_lostError, m_sessionRefused);
}

SqlRows Database::fetchRows(QSqlQuery &query)
{
    SqlRows rows;
    const QSqlRecord record = query.record();
    // Columns in name order, as a map of them would have them.
    QVector<QPair<QString, int>> columns;
    columns.reserve(record.count());
    for (int i = 0; i < record.count(); ++i)
        columns.append({ record.fieldName(i), i });
    std::sort(columns.begin(), columns.end());
    // A name given twice (a join with "articles.*") keeps the value of its last column.
    QExplicitlySharedDataPointer<SqlColumns> names(new SqlColumns);
    QVector<int> positions;
    for (const auto &column : qAsConst(columns)) {
        if (!names->names.isEmpty() && names->names.last() == column.first) {
            positions.last() = column.second;
        } else {
            names->names.append(column.first);
            positions.append(column.second);
        }
    }
    while (query.next()) {
        QVector<QVariant> values;
        values.reserve(positions.size());
        for (int position : qAsConst(positions))
            values.append(query.value(position));
        rows.append(SqlRow(names, std::move(values)));
    }
    return rows;
}

// MySQL has no one-argument datetime(); TIMESTAMP() reads the same "yyyy-MM-dd HH:mm:ss"
// texts. Only calls outside quoted literals and identifiers are rewritten.
QString Database::rewriteForDialect(const QString &sql, const QSqlDatabase &connection) const
{
    if (connection.driverName() != QLatin1String(kMySqlDriver))
        return sql;
    static const QLatin1String word("datetime(");
    QString out;
    out.reserve(sql.size() + 16);
    QChar quote;
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (!quote.isNull()) {
            out += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            quote = c;
            out += c;
            continue;
        }
        const bool wordStart
            = i == 0 || !(sql.at(i - 1).isLetterOrNumber() || sql.at(i - 1) == QLatin1Char('_'));
        if (wordStart && sql.midRef(i, word.size()).compare(word, Qt::CaseInsensitive) == 0) {
            out += QLatin1String("TIMESTAMP(");
            i += word.size() - 1;
            continue;
        }
        out += c;
    }
    return out;
}

bool Database::executeSQL(QString sql, Repeat repeat)
{
    QSqlQuery query;
    return run(query, m_db, sql, nullptr, "SQL Error: ", false, nullptr, repeat);
}

Read<SqlRows> Database::select(const QString &sql)
{
    return selectFromDb(sql, m_db);
}

bool Database::selectQuery(const QString &sql, QSqlQuery &query)
{
    lastErrorText.clear();
    return run(query, m_db, rewriteForDialect(sql, m_db), nullptr, "SQL Error: ");
}

bool Database::rowsComplete(const QSqlQuery &query)
{
    // Stepping stops at the last row and at a row that could not be read alike; only the
    // statement's error tells them apart.
    const QSqlError error = query.lastError();
    if (!query.isActive() || error.type() == QSqlError::NoError)
        return true;
    lastErrorText = DatabaseErrors::describe(error.text());
    m_lastOutcome = Outcome::NotWritten;
    m_lastLockConflict = false;
    ++m_failedStatements;
    noteFailureInTransaction(m_lastOutcome);
    qCWarning(lcDb).noquote() << Logging::sqlFailure(QStringLiteral("SQL Error: "), error.text(),
                                                     query.lastQuery());
    return false;
}

Read<SqlRows> Database::selectFromDb(const QString &sql, QSqlDatabase &connection)
{
    lastErrorText.clear();
    QSqlQuery query;
    if (!run(query, connection, rewriteForDialect(sql, connection), nullptr, "SQL Error: "))
        return Read<SqlRows>::failed(lastErrorText);
    SqlRows rows = fetchRows(query);
    if (!rowsComplete(query))
        return Read<SqlRows>::failed(lastErrorText);
    return rows;
}

Read<QString> Database::selectOne(QString sql)
{
    QSqlQuery query;
    if (!run(query, m_db, rewriteForDialect(sql, m_db), nullptr, "SQL Error: "))
        return Read<QString>::failed(lastErrorText);
    if (!query.next())
        return rowsComplete(query) ? Read<QString>(QString())
                                   : Read<QString>::failed(lastErrorText);
    return query.value(0).toString();
}

Read<int> Database::selectCount(QString sql)
{
    QSqlQuery query;
    if (!run(query, m_db, rewriteForDialect(sql, m_db), nullptr, "SQL Error: "))
        return Read<int>::failed(lastErrorText);
    int count = 0;
    while (query.next())
        ++count;
    if (!rowsComplete(query))
        return Read<int>::failed(lastErrorText);
    return count;
}

QString Database::escapeString(QString text)
{
    return text.replace(QLatin1Char('\''), QLatin1String("''"));
}

int Database::insertSqlClean(const QMap<QString, QVariant> &row, const QString &table)
{
    lastErrorText.clear();
    if (!isIdentifier(table)) {
        lastErrorText = QStringLiteral("Invalid table name: ") + table;
        qCWarning(lcDb).noquote() << QStringLiteral("SQL Insert Error: ") + lastErrorText;
        return 0;
    }
    QStringList columns;
    QStringList placeholders;
    for (auto it = row.cbegin(); it != row.cend(); ++it) {
        if (!isIdentifier(it.key())) {
            lastErrorText = QStringLiteral("Invalid column name: ") + it.key();
            qCWarning(lcDb).noquote() << QStringLiteral("SQL Insert Error: ") + lastErrorText;
            return 0;
        }
        columns << QLatin1Char('`') + it.key() + QLatin1Char('`');
        placeholders << QLatin1Char(':') + it.key();
    }
    QString sql;
    if (columns.isEmpty()) {
        sql = isMySQL ? QLatin1String("INSERT INTO ") + table + QLatin1String(" () VALUES ()")
                      : QLatin1String("INSERT INTO ") + table + QLatin1String(" DEFAULT VALUES");
    } else {
        sql = QLatin1String("INSERT INTO ") + table + QLatin1String(" (")
            + columns.join(QLatin1String(", ")) + QLatin1String(") VALUES (")
            + placeholders.join(QLatin1String(", ")) + QLatin1Char(')');
    }
    QSqlQuery query;
    if (!run(query, m_db, sql, &row, "SQL Insert Error: "))
        return 0;
    // A table without an automatic key reports no id: 0 without an error text.
    return query.lastInsertId().toInt();
}

bool Database::updateSqlClean(const QMap<QString, QVariant> &row, const QString &table,
                              const QString &where)
{
    if (!isIdentifier(table)) {
        lastErrorText = QStringLiteral("Invalid table name: ") + table;
        qCWarning(lcDb).noquote() << QStringLiteral("SQL Insert Error: ") + lastErrorText;
        return false;
    }
    QStringList assignments;
    for (auto it = row.cbegin(); it != row.cend(); ++it) {
        if (!isIdentifier(it.key())) {
            lastErrorText = QStringLiteral("Invalid column name: ") + it.key();
            qCWarning(lcDb).noquote() << QStringLiteral("SQL Insert Error: ") + lastErrorText;
            return false;
        }
        assignments << QLatin1Char('`') + it.key() + QLatin1String("`=:") + it.key();
    }
    if (assignments.isEmpty())
        return true;
    const QString sql = QLatin1String("UPDATE ") + table + QLatin1String(" SET ")
        + assignments.join(QLatin1String(", ")) + QLatin1String(" WHERE ") + where;
    QSqlQuery query;
    return run(query, m_db, sql, &row, "SQL Insert Error: ", false, nullptr, Repeat::Safe);
}

bool Database::execBound(const QString &sql, const QVector<QVariant> &values, QSqlQuery &query,
                         Repeat repeat)
{
    lastErrorText.clear();
    return run(query, m_db, sql, nullptr, "SQL Error: ", false, &values, repeat);
}

bool Database::execBound(const QString &sql, const QVector<QVariant> &values, BoundRows &rows,
                         Repeat repeat)
{
    lastErrorText.clear();
    rows = BoundRows();
    // Without a connection of its own: run() gives it the prepared one.
    QSqlQuery query(static_cast<QSqlResult *>(nullptr));
    return run(query, m_db, sql, nullptr, "SQL Error: ", false, &values, repeat, &rows);
}

bool Database::runPrepared(const QString &sql, const QMap<QString, QVariant> &values,
                           QSqlQuery &query, Repeat repeat)
{
    lastErrorText.clear();
    return run(query, m_db, sql, &values, "SQL Error: ", false, nullptr, repeat);
}

QStringList Database::columnsOf(const QString &table)
{
    auto known = m_columns.constFind(table);
    if (known != m_columns.constEnd())
        return known.value();
    if (!isIdentifier(table)) {
        lastErrorText = QStringLiteral("Invalid table name: ") + table;
        qCWarning(lcDb).noquote() << QStringLiteral("SQL Error: ") + lastErrorText;
        return {};
    }
    // Read as every statement is (lock waits, a lost connection opened again): a read that
    // fails says why and fails the transaction it is part of, and is asked again next time.
    QSqlQuery query;
    if (!run(query, m_db, QLatin1String("SELECT * FROM `") + table + QLatin1String("` WHERE 1 = 0"),
             nullptr, "SQL Error: "))
        return {};
    const QSqlRecord record = query.record();
    query.finish();
    QStringList names;
    names.reserve(record.count());
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    if (!names.isEmpty())
        m_columns.insert(table, names);
    return names;
}
