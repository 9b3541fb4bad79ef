#include "mainwindow/mysqltransfer.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/transaction.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <optional>

namespace {

const QString kLocalConnection = QStringLiteral("convertConnection");
// Rows written per transaction: one commit per row would make the server sync its log
// for every row.
constexpr int kRowsPerCommit = 1000;
// How long the transfer waits for the server: emptying a big table takes a while.
constexpr int kTransferTimeoutSeconds = 600;

QString quotedName(const QString &table)
{
    return QLatin1Char('`') + QString(table).replace(QLatin1Char('`'), QLatin1String("``"))
        + QLatin1Char('`');
}

// MySQL refused the row for what it holds; the other rows may still go in.
bool isRowRefusal(const QSqlError &error)
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
    return codes.contains(error.nativeErrorCode())
        || error.text().contains(QLatin1String("Incorrect string"));
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
            result.error = local.lastError().text();
            return result;
        }

        QStringList tables;
        {
            QSqlQuery list(local);
            list.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"));
            while (list.next())
                tables << list.value(0).toString();
        }

        TransferLog log(m_logFile);
        if (!log.open()) {
            result.outcome = Outcome::LogNotCreated;
            local.close();
            return result;
        }

        const int usualTimeout = m_target->responseTimeout();
        m_target->setResponseTimeout(kTransferTimeoutSeconds);
        QSqlDatabase target = m_target->connection();
        // Strict for the transfer: a value MySQL can't store is refused (and counted)
        // instead of being cut or turned into question marks.
        QString oldMode;
        {
            QSqlQuery mode(target);
            if (mode.exec(QStringLiteral("SELECT @@SESSION.sql_mode")) && mode.next())
                oldMode = mode.value(0).toString();
            mode.exec(QStringLiteral("SET SESSION sql_mode='STRICT_ALL_TABLES,"
                                     "NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION'"));
        }

        const int tableCount = tables.size();
        for (int i = 0; i < tableCount && result.outcome == Outcome::Completed; ++i) {
            const QString &table = tables.at(i);
            // SQLite's own bookkeeping has no counterpart on MySQL.
            if (table.startsWith(QLatin1String("sqlite_")))
                continue;

            QSet<QString> targetColumns;
            for (const auto &row :
                 m_target->select(QStringLiteral("SHOW COLUMNS FROM ") + quotedName(table)))
                targetColumns.insert(row.value(QStringLiteral("Field")).toString());

            const QString localName = QLatin1Char('"')
                + QString(table).replace(QLatin1Char('"'), QLatin1String("\"\""))
                + QLatin1Char('"');
            int rowCount = 0;
            {
                QSqlQuery count(local);
                if (count.exec(QStringLiteral("SELECT COUNT(*) FROM ") + localName) && count.next())
                    rowCount = count.value(0).toInt();
            }
            if (progress)
                progress({ table, i + 1, tableCount, 0, rowCount });

            const QString deletion = QStringLiteral("DELETE FROM ") + quotedName(table);
            log.line(deletion);
            if (!m_target->executeSQL(deletion)) {
                qCInfo(lcDb).noquote() << m_target->lastErrorText + QStringLiteral("skipping...");
                log.line(m_target->lastErrorText + QStringLiteral("skipping..."));
                result.skippedRows += rowCount;
                continue;
            }

            QSqlQuery rows(local);
            rows.setForwardOnly(true);
            if (!rows.exec(QStringLiteral("SELECT * FROM ") + localName)) {
                result.outcome = Outcome::Stopped;
                result.error = rows.lastError().text();
                log.line(result.error);
                break;
            }
            const auto columns = commonColumns(rows.record(), targetColumns);
            QStringList names;
            QStringList marks;
            for (const auto &column : qAsConst(columns)) {
                names << quotedName(column.first);
                marks << QStringLiteral("?");
            }
            QSqlQuery insert(target);
            insert.prepare(QStringLiteral("INSERT INTO ") + quotedName(table) + QStringLiteral(" (")
                           + names.join(QLatin1Char(',')) + QStringLiteral(") VALUES (")
                           + marks.join(QLatin1Char(',')) + QLatin1Char(')'));

            std::optional<Transaction> batch(std::in_place, *m_target);
            const auto stopOnTarget = [&] {
                result.outcome = Outcome::Stopped;
                result.error = m_target->lastErrorText;
                log.line(result.error);
            };
            // What a batch wrote is kept once its commit succeeded.
            const auto commitBatch = [&] {
                if (batch->commit())
                    return true;
                stopOnTarget();
                return false;
            };
            if (!batch->isOpen()) {
                stopOnTarget();
                break;
            }
            int countdown = kProgressEvery - 1;
            int row = 0;
            while (rows.next()) {
                ++row;
                if (countdown == 0) {
                    if (progress)
                        progress({ table, i + 1, tableCount, row, rowCount });
                    countdown = kProgressEvery - 1;
                } else {
                    --countdown;
                }
                for (int c = 0; c < columns.size(); ++c)
                    insert.bindValue(c, rows.value(columns.at(c).second));
                if (insert.exec()) {
                    ++result.copiedRows;
                } else {
                    const QSqlError error = insert.lastError();
                    qCInfo(lcDb).noquote() << error.text();
                    log.line(error.text());
                    if (!isRowRefusal(error)) {
                        result.outcome = Outcome::Stopped;
                        result.error = error.text();
                        break;
                    }
                    ++result.skippedRows;
                }
                if (row % kRowsPerCommit == 0) {
                    if (!commitBatch())
                        break;
                    batch.emplace(*m_target);
                    if (!batch->isOpen()) {
                        stopOnTarget();
                        break;
                    }
                }
            }
            // The rows copied so far stay, also when a refusal stopped the transfer: that
            // refusal stays the reason told.
            if (batch->isOpen()) {
                const Outcome before = result.outcome;
                const QString stoppedBy = result.error;
                if (!commitBatch() && before != Outcome::Completed) {
                    result.outcome = before;
                    result.error = stoppedBy;
                }
            }
        }

        if (result.outcome == Outcome::Completed)
            log.line(QStringLiteral("Completed"));
        if (!oldMode.isNull()) {
            QSqlQuery mode(target);
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
