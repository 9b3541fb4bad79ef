#pragma once

#include "core/newsitem.h"
#include "core/readresult.h"
#include "core/sqlrow.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

class QThread;
class QWidget;

namespace DatabaseInternal {
struct SqliteFolder;
}

using ArticleRow = QMap<QString, QVariant>;

// Whether a write's result must be looked at. Every write reports whether it was stored;
// a caller that goes on as if it were is a fault the compiler points out.
#define DB_NODISCARD [[nodiscard]]

// One connection to the program's database: the SQLite file of the data folder, or
// the shared MySQL/MariaDB server configured in its "mysql.setup".
//
// The main object (constructor with a folder path) chooses the data folder, creates
// or upgrades the schema and publishes the connection settings as properties of the
// application object. Every other thread opens a further connection of its own with
// the constructor taking a name. A connection is used only on the thread that made it.
class Database : public QObject
{
    Q_OBJECT
public:
    // Main object. An empty `path` chooses the default data folder.
    explicit Database(QString path, QObject *parent = nullptr);
    // Further connection for the calling thread, named `name` + "_" + thread id.
    Database(bool, const QString &name, QObject *parent = nullptr);
    ~Database() override;

    // Closes this connection and removes it from the process's connections.
    void close();

    // What became of the last statement of this connection.
    enum class Outcome {
        Done, // it ran
        Refused, // the database refused the statement itself: repeating it won't help
        // The database could not be used (lost server, full disk, locked beyond the wait):
        // nothing of it is written; repeating it later may succeed.
        NotWritten,
        // The connection was lost after the statement had been sent: the server may have
        // run it (and, outside a transaction, kept it) or not. Look up what it wrote before
        // writing it again.
        Unknown
    };
    Outcome lastOutcome() const { return m_lastOutcome; }

    // Whether a write may be sent again after its connection was lost before the answer
    // came. Reads and session settings always may; a write only when running it twice leaves
    // what running it once leaves (an UPDATE setting values, a DELETE).
    enum class Repeat { Never, Safe };

    // Runs one statement; false on failure (error in lastErrorText and the log).
    DB_NODISCARD bool executeSQL(QString sql, Repeat repeat = Repeat::Never);

    // The reads. Each tells a failure apart from "nothing stored" (see Read): a failed read
    // gives no rows, and its error() says why, as lastErrorText does.
    //
    // Every row as a map keyed by column name or alias.
    Read<SqlRows> select(const QString &sql);
    Read<SqlRows> selectFromDb(const QString &sql, QSqlDatabase &connection);
    // Runs a SELECT and leaves `query` (forward only) before its first row, for readers of
    // many rows that take the values by column number. False on failure, logged as select().
    // A reader that steps through the rows checks afterwards that stepping did not fail
    // (rowsComplete()).
    [[nodiscard]] bool selectQuery(const QString &sql, QSqlQuery &query);
    // After `query` of selectQuery() was stepped to its end: false, with lastErrorText set and
    // an open transaction failed, when a row could not be read (an I/O error half-way).
    [[nodiscard]] bool rowsComplete(const QSqlQuery &query);
    // The first column of the first row as text; empty when there is no row.
    Read<QString> selectOne(QString sql);
    // The number of rows the query yields.
    Read<int> selectCount(QString sql);

    // The text with every single quote doubled, for use between single quotes.
    static QString escapeString(QString text);

    // Inserts one row with bound values; the new row's id, 0 on failure or no id.
    DB_NODISCARD int insertSqlClean(const QMap<QString, QVariant> &row, const QString &table);
    // Inserts a row that its values tell apart from every other (an activity entry with its
    // time): after a lost answer it looks the row up before writing it again, so it is stored
    // once. The row's id; 0 when it is not stored, or when lastOutcome() is Unknown: it may be.
    DB_NODISCARD int insertOnce(const QMap<QString, QVariant> &row, const QString &table);
    // Updates the rows matching `where` (a condition without WHERE); true when it ran. Sent
    // again after a lost answer: it sets values, so running it twice changes nothing more.
    DB_NODISCARD bool updateSqlClean(const QMap<QString, QVariant> &row, const QString &table,
                                     const QString &where);
    // Runs `sql` with `values` bound by position ("?"), the statement prepared once per
    // connection and text: for writers of many rows of one shape. Whole numbers (int,
    // unsigned, qint64) are bound as numbers, which store in a column of numbers or of text what
    // their text would; every other value as insertSqlClean binds it. A text column is compared
    // only with text (MySQL compares it with a number as a number). `query` then holds the
    // result (rows, the new id). Waits and reconnects as every statement does; false on
    // failure (lastErrorText, the log).
    DB_NODISCARD bool execBound(const QString &sql, const QVector<QVariant> &values,
                                QSqlQuery &query, Repeat repeat = Repeat::Never);
    // What a statement run by the execBound below yielded, read whole: its rows, column by
    // column, as QSqlQuery::value() gives them, and the connection's last new row id.
    struct BoundRows
    {
        int columns = 0;
        QVector<QVariant> values;
        qint64 insertId = 0;
        int count() const { return columns > 0 ? values.size() / columns : 0; }
        const QVariant &value(int row, int column) const
        {
            return values.at(row * columns + column);
        }
    };
    // The same, with every row read before it returns, so that the statement holds nothing
    // afterwards; on SQLite it steps the prepared statement itself, without the driver's
    // per-row records: for the statements the synchronisation runs for every listing.
    DB_NODISCARD bool execBound(const QString &sql, const QVector<QVariant> &values,
                                BoundRows &rows, Repeat repeat = Repeat::Never);
    // Copies one row (every column but `idColumn`); for articles with its pictures and
    // variations, in one transaction, looked up after a lost answer to its commit. The new id,
    // 0 when there is no such row or nothing was copied (lastOutcome() Unknown: the copy
    // may exist).
    DB_NODISCARD int DuplicateRow(QString table, QString idColumn, QString idValue,
                                  QString changeColumn, QString changeValue);
    // The same, with the columns of `changes` set to their values in the copying statement
    // itself (numbers as numbers, everything else as text).
    // The columns a copy of an article starts afresh with, for DuplicateRow's `changes`: an
    // unlisted article in `folder` without the listing's item number, dates, counts and errors,
    // so that whatever becomes of the copy it is never a second row of a listing.
    static QMap<QString, QVariant> freshCopy(int folder);
    DB_NODISCARD int DuplicateRow(const QString &table, const QString &idColumn,
                                  const QString &idValue, const QMap<QString, QVariant> &changes);
    // After a lost answer to the commit that wrote article `id`: 1 when it is stored, 0 when
    // not, -1 when that can't be read now.
    int articleStored(int id);

    // Runs `sql` with `values` bound to its ":name" placeholders (as text, like
    // insertSqlClean). The statement is prepared once per connection and kept for the next
    // call with the same text; `query` holds its result. For statements run row after row.
    DB_NODISCARD bool runPrepared(const QString &sql, const QMap<QString, QVariant> &values,
                                  QSqlQuery &query, Repeat repeat = Repeat::Never);

    // True while a Transaction (core/transaction.h) of this connection is open.
    bool inTransaction() const { return m_transactionDepth > 0; }

    // A statement that fails inside a Transaction fails the whole transaction: its commit()
    // undoes everything and reports that first failure, read or write. A caller to which one
    // statement's failure does no harm says so by running it while one of these lives:
    //
    //     {
    //         const Database::FailureTolerated tolerated(*db); // why it is harmless
    //         db->executeSQL(...);
    //     }
    //
    // A lost connection is never tolerated: the server undid the transaction with it.
    class FailureTolerated
    {
    public:
        explicit FailureTolerated(Database &db)
            : m_db(db)
        {
            ++m_db.m_tolerating;
        }
        ~FailureTolerated() { --m_db.m_tolerating; }
        FailureTolerated(const FailureTolerated &) = delete;
        FailureTolerated &operator=(const FailureTolerated &) = delete;

    private:
        Database &m_db;
    };
    // True when a statement of the open transaction failed (and was not tolerated): its
    // commit will fail.
    bool transactionFailed() const { return m_transactionFailedAt > 0; }

    // The column names of `table`, read from the database once per connection. A schema
    // upgrade forgets them. Empty when they can't be read: lastErrorText says why, and an open
    // transaction fails as with any read.
    QStringList columnsOf(const QString &table);
    void forgetColumns() { m_columns.clear(); }

    // Activity entries: "SELECT * FROM itemshistory" + " WHERE " + condition, or + " " +
    // condition when it begins with "ORDER ".
    Read<QList<NewsItem>> selectNews(const QString &condition);
    // Stores the outcome of a long task (backup, import) as an activity entry of type
    // "success" or "error" and returns it as stored; an entry with id 0 when it could not be.
    NewsItem addOutcomeNews(const QString &title, const QString &text, bool ok);
    // On a shared MySQL database: records that an article left `folder`, so that other
    // workstations drop its row.
    // False when it could not be stored.
    DB_NODISCARD bool mysqlAddRemoveInfo(int folder, const QString &articleId);
    // What cleanDB() did.
    struct Cleaned
    {
        // The articles emptied from the trash are gone for good (there may have been none).
        bool removedStored = false;
        int removed = 0;
        // The SQLite file was compacted (never on MySQL, where the server keeps its files).
        bool compacted = false;
        qint64 sizeBefore = 0;
        qint64 sizeAfter = 0;
        // Stopped before it was done; what was stored before stays.
        bool cancelled = false;
        // Why a step failed, as lastErrorText said it; empty when none did. `outcome` of the
        // removal: Unknown when the answer to its commit was lost.
        QString error;
        Outcome outcome = Outcome::Done;
        bool ok() const { return error.isEmpty() && !cancelled; }
    };
    // Removes for good the articles emptied from the trash (Trash=1) with their pictures,
    // variations and option values, in one transaction of a few statements, then compacts
    // the SQLite file (VACUUM). `cancelled` is asked between the steps: the removal is then
    // undone; a compaction under way is not stopped. For the background worker: it shows
    // nothing.
    Cleaned cleanDB(const std::function<bool()> &cancelled = {});
    // "1,5 MB": a size in bytes as the seller reads it.
    static QString sizeText(qint64 bytes);
    // Writes everything committed into the database file itself (SQLite), so that a copy
    // of the file alone holds every row. Used before the data folder is packed.
    bool checkpoint();

    static QString getDatabaseName();

    // The stored value of option `name`, `defaultValue` when none is stored.
    Read<QString> getOption(QString name, QString defaultValue);
    // Stores option `name`; false when it is not stored (lastErrorText says why, also when the
    // database is only read).
    DB_NODISCARD bool setOption(QString name, QString value);

    // Folders of the data folder; each ends with "/" and is created when missing.
    QString getCurrentDataDir();
    QString getCacheDir();
    QString getCurrentLogDir();
    QString getImageTempPath();
    // The article pictures; below the shared picture path of a MySQL set-up when that
    // names an existing folder. A null string when it can't be created.
    QString getCurrentAdImageDir();
    QString getCurrentAdImageDirThumbs();

    QSqlDatabase connection() const { return m_db; }
    // The SQLite file as every connection opens it: through the checked data folder. Empty
    // on MySQL or when the folder did not pass.
    QString sqliteFile() const;
    QString connectionName() const { return m_connectionName; }
    bool isOpen() const;

    // True while the database server can't be used: the last statement failed because the
    // connection was lost and could not be opened again, or because its session settings
    // could not be applied. Each further statement first tries to open it again.
    bool connectionLost() const { return m_connectionLost; }
    // True when the last failed statement found the database unavailable (lost server, full
    // disk, I/O error, locked beyond the wait) rather than refusing the statement itself:
    // repeating it later may succeed, but after an Unknown outcome (see lastOutcome()) it may
    // also write it twice.
    bool lastFailureTransient() const { return m_lastFailureTransient; }
    // True when the last failed statement gave up waiting for a lock that another connection
    // holds (another workstation's command; on the local file one of the program's own
    // threads), or was chosen to undo its transaction to end a deadlock: the database is there,
    // nothing of it is written (see lastFailureTransient()), and the same command given again in
    // a moment may well succeed. No lost server: it starts no probe.
    bool lastFailureLockConflict() const { return m_lastLockConflict; }
    // How many statements of this connection failed so far. Work that must be stored whole
    // compares it before and after.
    quint64 failedStatements() const { return m_failedStatements; }
    // True from a write whose outcome became Unknown (see lastOutcome()) until a look-up of
    // this layer found out what it wrote, or until unknownOutcomeTold(): the seller has not
    // been told yet that it is not known whether the change was stored.
    bool unknownOutcomePending() const { return m_unknownPending; }
    void unknownOutcomeTold() { m_unknownPending = false; }

    // The thread that must never wait for a database server that can't be reached (the
    // window's): the connections made on it from now on are responsive (see setResponsive()).
    // Ends a probe under way.
    static void setResponsiveThread(QThread *thread);
    // Makes this connection (of the responsive thread) responsive. Once a responsive connection
    // finds the server away (a connect attempt failed, a statement waited the whole response
    // time-out, or the connection broke before the answer to a write came), the responsive
    // connections send nothing and try no connect: their statements fail at once with the
    // reason, as NotWritten. So what a write whose answer was lost stored is not looked up on
    // this thread: its outcome stays Unknown. A probe on a thread of its own meanwhile tries the
    // server with growing pauses and ends the sessions lost with a write under way; once it
    // answers, WriteFailures::serverAnswers() is sent (the window then reads what is stored)
    // and each connection opens again at its next statement. A responsive connection waits at
    // most 2 s to be connected, and 2 s for a locked SQLite file.
    void setResponsive();
    // True while the probe has not reached the server.
    static bool serverAway();

    // Tests: every MySQL session opened from now on sets this sql_mode instead of the
    // program's (a null string restores the program's).
    static void setSqlModeForTesting(const QString &mode);

    // How long a statement waits for a locked SQLite file before it fails (10 s; 2 s on the
    // responsive thread, see setResponsive()).
    void setLockTimeout(int milliseconds) { m_lockTimeoutMs = milliseconds; }
    // How long a MySQL session waits for a row another session has locked before its statement
    // fails as a lock conflict: 2 s, and always less than the response time-out, so that a lock
    // wait is never taken for a server that does not answer.
    static constexpr int kLockWaitSeconds = 2;
    // How long MariaDB keeps a session whose transaction sits idle: a workstation whose network
    // died inside a command holds its locks no longer than that (30 s). Idle sessions outside a
    // transaction hold no locks and stay (they are opened again when the server ended them).
    // Tests: for the sessions opened from now on; 0 restores the default.
    static void setIdleTransactionTimeoutForTesting(int seconds);

    // How long a MySQL connection waits for the server to answer or to take what is sent
    // (15 s), and to be connected (10 s, or less when this is less): a server that hangs
    // holds a statement no longer. For the connections opened from now on.
    static void setDefaultResponseTimeout(int seconds);
    // The same for this connection alone (a long transfer takes a longer one); a MySQL
    // connection is opened again with it. False when it can't be opened.
    bool setResponseTimeout(int seconds);
    int responseTimeout() const { return m_responseTimeoutSeconds; }

    // True when the SQLite file is used without writing into it: it is damaged, read-only or
    // lies in a folder that can't be written. Further connections then read only as well.
    bool isReadOnly() const { return m_readOnly; }
    // What the main object found wrong with the data folder or the database at start, as
    // told to the user; empty when nothing.
    QString startProblem() const { return m_startProblem; }
    // Whether main objects made from now on tell the user at once what they found wrong
    // (the default), or only keep it in startProblem(): for a start that may replace the
    // data folder before anyone works on it.
    static void setStartProblemsShown(bool shown);

    // The default data folder: the user's application data + "/Revevor/Zerire3/".
    static QString defaultDataDir();
    // Why a start on the data folder `path` would not open the database in it (a folder or
    // file of another user, one that others may change, no plain file where the database
    // belongs), in the words the start tells it; empty when the start would open it. Looks
    // only: nothing is made or changed.
    static QString dataFolderProblem(const QString &path);
    // Counts the main objects made so far: a long-lived further connection opened before the
    // latest one (a restore replaced the data folder) is opened anew.
    static int mainGeneration();

    // Tests: `hook` runs in every SQLite open after the data folder and the file's place in it
    // were checked, right before SQLite opens the file (an empty one: none).
    static void setBeforeSqliteOpenForTesting(std::function<void()> hook);

    bool isMySQL = false;
    // Why the last statement of this connection failed, as the seller reads it: a German
    // sentence for the common causes with the driver's text after it, else the driver's text.
    QString lastErrorText;

private:
    // Runs `sql` on `connection` (prepared with `values` bound when given), waiting while
    // an SQLite file is locked and reconnecting after a lost MySQL connection.
    // A failure is logged and, for a write, reported through WriteFailures unless `quiet`.
    // A write that can't be repeated is sent only on a connection just seen alive; a lost
    // connection after it was sent leaves its outcome Unknown (see Repeat).
    // `rows`, with `positional`: the result is read into it (see BoundRows).
    bool run(QSqlQuery &query, QSqlDatabase &connection, const QString &sql,
             const QMap<QString, QVariant> *values, const char *failurePrefix, bool quiet = false,
             const QVector<QVariant> *positional = nullptr, Repeat repeat = Repeat::Never,
             BoundRows *rows = nullptr);
    // Transactions, for Transaction only: begun (a savepoint inside another), ended, undone.
    // A commit is false when nothing was written, or lastOutcome() is Unknown.
    friend class Transaction;
    bool beginTransaction();
    bool commitTransaction();
    void rollbackTransaction();
    // Why a transaction the server undid (m_transactionLost) wrote nothing, as the seller reads
    // it; notes whether that was a lock conflict.
    QString transactionLostReason();
    SqlRows fetchRows(QSqlQuery &query);
    QString rewriteForDialect(const QString &sql, const QSqlDatabase &connection) const;
    // Opens the SQLite file of m_folder, never creating it.
    bool openSqlite();
    // The main object's SQLite file: checks folder, file and content first and opens the
    // file read-only when it must not be written.
    void openMainSqlite();
    // False, with the seller told, when the SQLite file is no longer the one opened first.
    bool sqliteFileIntact();
    // Tells the seller at once when the SQLite file is deleted or replaced.
    void watchSqliteFile();
    // Empty when the open file passes its quick check, else why not; *damaged tells whether
    // the file itself is at fault.
    QString checkContent(bool *damaged);
    // Whether the open file holds tables, none of them the program's.
    bool isForeignDatabase();
    bool openMySql(const QString &host, int port, const QString &database, const QString &user,
                   const QString &password);
    // Whether this connection waits for the probe (see setResponsiveThread()); then `error`
    // is the driver's text that made the server count as away.
    bool waitsForServer(QString *error) const;
    // Applies the session settings; a session that can't have them is closed.
    bool prepareSession();
    // Opens the lost connection again with its session settings. `pause`: not sooner than
    // a second after the last attempt that failed.
    bool reconnect(bool pause);
    // Notes the session's id on the server and when the server started, for endLostSession().
    void noteSession();
    // A connection lost with a write under way leaves its session on the server, which may
    // still be running the write (a slow trigger, a lock wait) and commit it later. Before
    // anything looks up what it wrote, that session is ended (KILL) and awaited until the
    // server lists it no more, at most for the response time-out (a few seconds at least). False
    // while it may still run.
    bool endLostSession();
    // The window's thread after a connection lost under a statement: the probe tries the server
    // (and ends the session lost with a write); the statement after it fails at once and tells
    // that the server is away.
    void leaveToProbe();
    // The connection works again, or could not be used: told once per change.
    void markRestored();
    void markBroken(const QString &error, bool session);
    // Why the connection can't be used, as the seller reads it.
    static QString brokenReason(const QString &error, bool session);
    QString ensureFolder(const QString &path);

    QSqlDatabase m_db;
    // Prepared INSERT and UPDATE statements of this connection, by statement text.
    QHash<QString, QSqlQuery> m_prepared;
    QHash<QString, QStringList> m_columns;
    int m_transactionDepth = 0;
    // The depth at which the first statement of the open transaction failed, 0 when none
    // did; why, and how.
    int m_transactionFailedAt = 0;
    QString m_transactionFailure;
    Outcome m_transactionFailureOutcome = Outcome::Done;
    bool m_transactionFailureConflict = false;
    // See FailureTolerated.
    int m_tolerating = 0;
    // Notes a failed statement for the open transaction.
    void noteFailureInTransaction(Outcome outcome);
    QString m_connectionName;
    QString m_dataDir;
    // The checked data folder; null when it did not pass.
    std::shared_ptr<DatabaseInternal::SqliteFolder> m_folder;
    bool m_main = false;
    int m_lockTimeoutMs = 10000;
    bool m_readOnly = false;
    // The connection state of a MySQL connection (see connectionLost()).
    bool m_connectionLost = false;
    bool m_sessionRefused = false;
    bool m_lastFailureTransient = false;
    Outcome m_lastOutcome = Outcome::Done;
    // The connection was lost inside a transaction that is not ended yet, or the server undid
    // the transaction to end a deadlock (m_transactionConflict): its later statements would run
    // on their own.
    bool m_transactionLost = false;
    bool m_transactionConflict = false;
    bool m_lastLockConflict = false;
    // The outermost transaction's COMMIT is under way.
    bool m_committing = false;
    int m_responseTimeoutSeconds = 15;
    QString m_lostError;
    qint64 m_lastReconnectMs = -1;
    quint64 m_failedStatements = 0;
    // See setResponsive().
    bool m_responsive = false;
    QString m_startProblem;
    // This connection's session on the server and the server's start (seconds since the
    // epoch, 0 when unknown); the session lost with a write under way, 0 when none.
    quint32 m_sessionId = 0;
    qint64 m_serverStart = 0;
    quint32 m_lostSessionId = 0;
    qint64 m_lostServerStart = 0;
    // Look-ups of this layer after an Unknown outcome are under way: the outcome is told, if
    // it stays Unknown, when they are done.
    int m_resolving = 0;
    bool m_unknownPending = false;
    // Holds an Unknown outcome back from WriteFailures while a look-up may still resolve it.
    class Resolving;
};

// Tells about every failed write of every connection of the process, and about connections
// that lost their server and got it back, whatever thread made them, so that one place can
// report it to the user. Lives on the application's thread.
class WriteFailures : public QObject
{
    Q_OBJECT
public:
    static WriteFailures *instance();

signals:
    // `connectionName` names the Database connection, `error` is its lastErrorText;
    // `connectionReason` tells the seller why the connection could not be used (German),
    // empty when the database refused the statement itself. `outcomeUnknown`: the write was
    // sent and its answer lost, so it may well be stored (Database::Outcome::Unknown); it is
    // not to be called "not stored".
    void failed(const QString &connectionName, const QString &error,
                const QString &connectionReason, bool outcomeUnknown);
    // The connection can't be used any more: `reason` tells the seller why (German).
    // `sessionRefused`: it was closed because its session settings could not be applied.
    void connectionBroken(const QString &connectionName, const QString &reason,
                          bool sessionRefused);
    // A statement of a broken connection succeeded again.
    void connectionRestored(const QString &connectionName);
    // The SQLite file the program opened was deleted or replaced while it ran: nothing is
    // written any more; `reason` tells the seller (German). Once per file.
    void databaseFileLost(const QString &reason);

    // The server that the responsive thread's connections found away answers again (see
    // Database::setResponsiveThread()).
    void serverAnswers();

private:
    using QObject::QObject;
};
