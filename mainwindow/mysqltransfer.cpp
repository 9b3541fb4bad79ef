#include "mainwindow/mysqltransfer.h"

#include "core/database.h"
#include "core/databaseerrors.h"
#include "core/logging.h"
#include "core/transaction.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kLocalConnection = QStringLiteral("convertConnection");
// Rows one INSERT carries at most, and the size of its text after which no further row is
// added: one statement per row would wait for the server once per row, a statement of many
// megabytes could exceed what the server takes in one packet.
constexpr int kRowsPerStatement = 500;
constexpr int kStatementChars = 512 * 1024;
// Values per statement, for tables of many columns.
constexpr int kValuesPerStatement = 60000;

QString quotedName(const QString &table)
{
    return QLatin1Char('`') + QString(table).replace(QLatin1Char('`'), QLatin1String("``"))
        + QLatin1Char('`');
}

// `value` as an SQL literal of the program's MySQL sessions, which all run with
// NO_BACKSLASH_ESCAPES (a session without it is not used): in a quoted text only the quote
// itself is special and is doubled. Numbers go as numbers, bytes as a hex literal.
void appendLiteral(QString &sql, const QVariant &value)
{
    if (value.isNull()) {
        sql += QLatin1String("NULL");
        return;
    }
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        sql += value.toString();
        return;
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (std::isfinite(number)) {
            sql += QString::number(number, 'g', QLocale::FloatingPointShortest);
            return;
        }
        break; // as text: MySQL refuses it as a number like any other bad value
    }
    case QMetaType::QByteArray:
        sql += QLatin1String("X'") + QLatin1String(value.toByteArray().toHex()) + QLatin1Char('\'');
        return;
    default:
        break;
    }
    sql += QLatin1Char('\'');
    sql += value.toString().replace(QLatin1Char('\''), QLatin1String("\'\'"));
    sql += QLatin1Char('\'');
}

// MySQL refused the row for what it holds (by the server's error number); the other rows
// may still go in.
bool isRowRefusal(const QString &code, const QString &text)
{
    static const QSet<QString> codes = {
        QStringLiteral("1048"), // column cannot be null
        QStringLiteral("1062"), // duplicate entry
        QStringLiteral("1264"), // out of range
        QStringLiteral("1265"), // data truncated
        QStringLiteral("1292"), // incorrect value
        QStringLiteral("1300"), // invalid character string
        QStringLiteral("1366"), // incorrect string or number
        QStringLiteral("1406"), // data too long
    };
    return codes.contains(code) || text.contains(QLatin1String("Incorrect string"));
}

class TransferLog
{
public:
    explicit TransferLog(const QString &path)
        : m_file(path)
    {
        QFile::remove(path);
    }
    // Its lines may quote rows of the accounts: for the seller's eyes only.
    bool open()
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return true;
    }
    void line(const QString &text) { m_file.write(text.toUtf8() + "\r\n"); }

private:
    QFile m_file;
};

} // namespace

MySqlTransfer::MySqlTransfer(Database *target, const QString &localFile, const QString &logFile)
    : m_target(target)
    , m_localFile(localFile)
    , m_logFile(logFile)
{ }

QVector<QPair<QString, int>> MySqlTransfer::commonColumns(const QSqlRecord &record,
                                                          const QSet<QString> &targetColumns)
{
    QVector<QPair<QString, int>> columns;
    for (int c = 0; c < record.count(); ++c) {
        if (targetColumns.contains(record.fieldName(c)))
            columns.append({ record.fieldName(c), c });
    }
    std::sort(columns.begin(), columns.end());
    return columns;
}

MySqlTransfer::Result MySqlTransfer::run(const ProgressHandler &progress)
{
    Result result;
    if (QSqlDatabase::contains(kLocalConnection))
        QSqlDatabase::removeDatabase(kLocalConnection);
    {
        QSqlDatabase local = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kLocalConnection);
        local.setDatabaseName(m_localFile);
        // Opening a missing file would create an empty one.
        if (!QFileInfo(m_localFile).isFile() || !local.open()) {
            result.outcome = Outcome::LocalNotOpened;
            result.error = DatabaseErrors::describe(local.lastError().text());
            return result;
        }

        // Not read is not "no tables": nothing is transferred, and the seller learns why.
        QStringList tables;
        {
            QSqlQuery list(local);
            list.setForwardOnly(true);
            const bool listed
                = list.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"));
            while (listed && list.next())
                tables << list.value(0).toString();
            if (!listed || list.lastError().isValid()) {
                result.outcome = Outcome::LocalNotOpened;
                result.error = DatabaseErrors::describe(list.lastError().text());
                qCInfo(lcDb).noquote() << "The local tables could not be listed:" << result.error;
                list.finish();
                local.close();
                return result;
            }
        }

        TransferLog log(m_logFile);
        if (!log.open()) {
            result.outcome = Outcome::LogNotCreated;
            local.close();
            return result;
        }

        const int usualTimeout = m_target->responseTimeout();
        m_target->setResponseTimeout(m_timeoutSeconds);
        QString oldMode;
        {
            QSqlQuery mode(m_target->connection());
            if (mode.exec(QStringLiteral("SELECT @@SESSION.sql_mode")) && mode.next())
                oldMode = mode.value(0).toString();
        }

        const auto stop = [&](const QString &table, const QString &reason) {
            result.outcome = Outcome::Stopped;
            result.table = table;
            result.error = (table.isEmpty()
                                ? QCoreApplication::translate(
                                      "MySqlTransfer", "Die Übertragung wurde abgebrochen: %1")
                                      .arg(reason)
                                : QCoreApplication::translate(
                                      "MySqlTransfer",
                                      "Die Übertragung wurde bei der Tabelle „%1“ abgebrochen: %2")
                                      .arg(table, reason))
                + QLatin1Char(' ')
                + QCoreApplication::translate(
                               "MySqlTransfer",
                               "Die MySQL Datenbank enthält unverändert ihre bisherigen Daten.");
            qCInfo(lcDb).noquote() << result.error;
            log.line(result.error);
        };
        // The server's number for why the statement just run failed.
        // Unread, it is no row's refusal: the transfer stops.
        const auto errorCode = [&] {
            const SqlRows errors
                = m_target->select(QStringLiteral("SHOW ERRORS")).orIfFailed(SqlRows());
            return errors.isEmpty() ? QString()
                                    : errors.first().value(QStringLiteral("Code")).toString();
        };

        // Every table is emptied and filled in one transaction: a failure, a table that
        // can't be copied or a connection lost on the way leaves the shared database as it
        // was, all its tables with their old rows. Copied table by table, a stop would leave
        // the articles of the new data with the pictures and variations of the old.
        Transaction all(*m_target);
        if (!all.isOpen())
            stop(QString(), m_target->lastErrorText);
        bool strict = false;

        // Rows sent and left out; they count once the transaction is kept.
        int copied = 0;
        int skipped = 0;
        const int tableCount = tables.size();
        for (int i = 0; i < tableCount && result.outcome == Outcome::Completed; ++i) {
            const QString &table = tables.at(i);
            // SQLite's own bookkeeping has no counterpart on MySQL.
            if (table.startsWith(QLatin1String("sqlite_")))
                continue;
            // Strict for the transfer: a value MySQL can't store is refused (and counted)
            // instead of being cut or turned into question marks. Set inside the transaction:
            // a connection opened again before it has the program's own settings.
            if (!strict
                && !m_target->executeSQL(
                    QStringLiteral("SET SESSION sql_mode='STRICT_ALL_TABLES,"
                                   "NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION'"))) {
                stop(table, m_target->lastErrorText);
                break;
            }
            strict = true;

            // Not read, or MySQL has no such table: the transfer stops. Copied without its
            // columns, every row would be one of defaults; left out, the shared database
            // would keep that table's old rows beside the others' new ones.
            const Read<SqlRows> shown
                = m_target->select(QStringLiteral("SHOW COLUMNS FROM ") + quotedName(table));
            if (!shown.ok()) {
                stop(table, shown.error());
                break;
            }

            const QString localName = QLatin1Char('"')
                + QString(table).replace(QLatin1Char('"'), QLatin1String("\"\""))
                + QLatin1Char('"');
            // The rows to come: not read, the local file can't be read, and the transfer
            // stops here.
            int rowCount = 0;
            {
                QSqlQuery count(local);
                if (!count.exec(QStringLiteral("SELECT COUNT(*) FROM ") + localName)
                    || !count.next()) {
                    stop(table, DatabaseErrors::describe(count.lastError().text()));
                    break;
                }
                rowCount = count.value(0).toInt();
            }
            if (progress)
                progress({ table, i + 1, tableCount, 0, rowCount });
            QSet<QString> targetColumns;
            for (const auto &row : *shown)
                targetColumns.insert(row.value(QStringLiteral("Field")).toString());

            const QString deletion = QStringLiteral("DELETE FROM ") + quotedName(table);
            log.line(deletion);
            if (!m_target->executeSQL(deletion)) {
                stop(table, m_target->lastErrorText);
                break;
            }

            QSqlQuery rows(local);
            rows.setForwardOnly(true);
            if (!rows.exec(QStringLiteral("SELECT * FROM ") + localName)) {
                stop(table, DatabaseErrors::describe(rows.lastError().text()));
                break;
            }
            const auto columns = commonColumns(rows.record(), targetColumns);
            QStringList names;
            for (const auto &column : qAsConst(columns))
                names << quotedName(column.first);
            const QString head = QStringLiteral("INSERT INTO ") + quotedName(table)
                + QStringLiteral(" (") + names.join(QLatin1Char(',')) + QStringLiteral(") VALUES ");
            const int rowsPerStatement = qBound(
                1, kValuesPerStatement / std::max(1, int(columns.size())), kRowsPerStatement);

            // The rows waiting to be sent, each as its "(…)" text.
            QStringList pending;
            qint64 pendingChars = 0;
            // Whether the statement just run was refused for what one of its rows holds;
            // `error` is why it failed.
            const auto rowRefused = [&](QString *error) {
                *error = m_target->lastErrorText;
                return m_target->lastOutcome() == Database::Outcome::Refused
                    && isRowRefusal(errorCode(), *error);
            };
            const auto leaveOut = [&](const QString &error) {
                qCInfo(lcDb).noquote() << error;
                log.line(error);
                ++skipped;
            };
            // Sends the pending rows in one statement. Refused for what a row holds, they are
            // sent again one by one, and the refused ones are left out. False when the
            // transfer stops.
            const auto send = [&]() -> bool {
                if (pending.isEmpty())
                    return true;
                // A row MySQL refuses is left out, and the statement that carried it undone
                // alone (MySQL undoes a failed statement, not its transaction); every other
                // failure stops the transfer and undoes all of it.
                const Database::FailureTolerated leftOut(*m_target);
                const QStringList batch = std::exchange(pending, QStringList());
                pendingChars = 0;
                if (m_target->executeSQL(head + batch.join(QLatin1Char(',')))) {
                    copied += batch.size();
                    return true;
                }
                QString error;
                if (!rowRefused(&error)) {
                    stop(table, error);
                    return false;
                }
                if (batch.size() == 1) {
                    leaveOut(error);
                    return true;
                }
                for (const QString &one : batch) {
                    if (m_target->executeSQL(head + one)) {
                        ++copied;
                        continue;
                    }
                    if (!rowRefused(&error)) {
                        stop(table, error);
                        return false;
                    }
                    leaveOut(error);
                }
                return true;
            };

            int countdown = kProgressEvery - 1;
            int row = 0;
            bool going = true;
            while (going && rows.next()) {
                ++row;
                if (countdown == 0) {
                    if (progress)
                        progress({ table, i + 1, tableCount, row, rowCount });
                    countdown = kProgressEvery - 1;
                } else {
                    --countdown;
                }
                QString values = QStringLiteral("(");
                for (int c = 0; c < columns.size(); ++c) {
                    if (c > 0)
                        values += QLatin1Char(',');
                    appendLiteral(values, rows.value(columns.at(c).second));
                }
                values += QLatin1Char(')');
                pendingChars += values.size();
                pending << values;
                if (pending.size() >= rowsPerStatement || pendingChars >= kStatementChars)
                    going = send();
            }
            if (!going || !send())
                break;
            // A row that could not be read ends the table half-way: it is not kept so.
            if (rows.lastError().isValid()) {
                stop(table, DatabaseErrors::describe(rows.lastError().text()));
                break;
            }
        }

        if (result.outcome == Outcome::Completed) {
            if (all.commit()) {
                result.copiedRows = copied;
                result.skippedRows = skipped;
            } else {
                result.outcome = Outcome::Stopped;
                result.error = m_target->lastOutcome() == Database::Outcome::Unknown
                    ? QCoreApplication::translate(
                          "MySqlTransfer",
                          "Ob die Daten übertragen wurden, ist nicht bekannt (%1): die MySQL "
                          "Datenbank enthält entweder alle übertragenen Daten oder unverändert "
                          "ihre bisherigen. Bitte übertrage die Daten noch einmal.")
                          .arg(m_target->lastErrorText)
                    : QCoreApplication::translate(
                          "MySqlTransfer",
                          "Die Übertragung konnte nicht abgeschlossen werden (%1). Die MySQL "
                          "Datenbank enthält unverändert ihre bisherigen Daten.")
                          .arg(m_target->lastErrorText);
                qCInfo(lcDb).noquote() << result.error;
                log.line(result.error);
            }
        } else {
            all.rollback();
        }

        if (result.outcome == Outcome::Completed)
            log.line(QStringLiteral("Completed"));
        if (!oldMode.isNull()) {
            QSqlQuery mode(m_target->connection());
            mode.prepare(QStringLiteral("SET SESSION sql_mode=?"));
            mode.addBindValue(oldMode);
            mode.exec();
        }
        m_target->setResponseTimeout(usualTimeout);
        local.close();
    }
    QSqlDatabase::removeDatabase(kLocalConnection);
    return result;
}
