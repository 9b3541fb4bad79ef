#pragma once

#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>
#include <functional>

class Database;
class QSqlRecord;

// Copies every table of a local SQLite database file into the shared MySQL database:
// each MySQL table of the same name is emptied and refilled with the local rows (the
// columns both sides have, key values included), many rows per INSERT. All tables are
// emptied and refilled in one transaction: the shared database holds either its old rows in
// every table or all the new ones. Rows MySQL refuses for their data (a text its character
// set can't hold, a value too long, a duplicate key) are left out and counted. Any other
// failure (a table MySQL has not got or whose columns or emptying it refuses, a lost
// connection) stops the transfer and keeps nothing of it; a commit whose outcome is not
// known is told as such. Every step is written to a log.
class MySqlTransfer
{
public:
    struct Progress
    {
        QString table;
        int tableIndex = 0; // 1-based
        int tableCount = 0;
        int row = 0; // 1-based; 0 when the table is just starting
        int rowCount = 0;
    };
    using ProgressHandler = std::function<void(const Progress &)>;

    enum class Outcome { Completed, LocalNotOpened, LogNotCreated, Stopped };

    struct Result
    {
        Outcome outcome = Outcome::Completed;
        // Why the transfer stopped, naming the table, or why the local file could not be read,
        // as the seller reads it.
        QString error;
        // The table the transfer stopped at; empty when it stopped before or after the tables.
        QString table;
        // Rows copied, once the transfer is kept.
        int copiedRows = 0;
        // Rows MySQL refused for what they hold, left out of a transfer that was kept.
        int skippedRows = 0;
    };

    // `target` is a connection to the MySQL database; `localFile` the SQLite file; the log
    // `logFile` is replaced.
    MySqlTransfer(Database *target, const QString &localFile, const QString &logFile);

    // Rows sent between two progress reports.
    static constexpr int kProgressEvery = 31;

    Result run(const ProgressHandler &progress);

    // How long the transfer waits for the server's answer to one statement (600 s: emptying
    // a big table takes a while).
    void setResponseTimeout(int seconds) { m_timeoutSeconds = seconds; }

    // The fields of `record` that `targetColumns` names, as (name, position), in ascending
    // order of their names: the columns a row is copied with.
    static QVector<QPair<QString, int>> commonColumns(const QSqlRecord &record,
                                                      const QSet<QString> &targetColumns);

private:
    Database *m_target;
    QString m_localFile;
    QString m_logFile;
    int m_timeoutSeconds = 600;
};
