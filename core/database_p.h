#pragma once

// What the files of the database layer share: how connections are counted and named, how
// a failure is read, how values are bound. Not for code outside the layer.

#include <QSqlError>
#include <QString>
#include <QVariant>

#include <atomic>
#include <memory>

#include <sys/types.h>

#include "core/database.h"

class QSqlQuery;

namespace DatabaseInternal {

inline const char *const kSqliteDriver = "QSQLITE";
inline const char *const kMySqlDriver = "QMYSQL";

// How the SQLite file is opened: written, only read, or only read from a folder in which
// SQLite can't keep its shared-memory file (then the write-ahead log can't be read either).
inline const char *const kSqliteModeProperty = "sqlitereadonly";
inline const QString kReadOnly = QStringLiteral("ro");
inline const QString kImmutable = QStringLiteral("immutable");
// Not opened at all: the data folder or the file is not the seller's own.
inline const QString kRefused = QStringLiteral("refused");

QVariant appProperty(const char *name);
void setAppProperty(const QString &name, const QVariant &value);

// Which Database object a connection name belongs to. A further connection takes over a
// name that is still open; the older object must then not remove the newer connection.
void claimConnection(const QString &name, const Database *owner);
bool releaseConnection(const QString &name, const Database *owner);
// Open SQLite connections per file, so that the last one to close writes the log back.
void fileOpened(const QString &file);
// True when the connection closing `file` was its last.
bool fileClosed(const QString &file);

QString threadTag();
QString withTrailingSlash(QString path);
// The session mode MySQL connections set (see Database::prepareSession()).
QString sessionSqlMode();

bool isLocked(const QSqlError &error);
// The server can't be reached on this connection: it went away, was shut down, killed the
// connection or can't be connected to.
bool isConnectionLost(const QSqlError &error);
// SQLite could not store or read anything, whatever the statement: full disk, I/O error,
// locked beyond the wait, no memory, file can't be opened.
bool isStorageFailure(const QSqlError &error);
// MySQL gave up on a lock another connection held (lock wait time-out, deadlock): the same
// statement may succeed later.
bool isLockConflict(const QSqlError &error);
// MySQL ended a deadlock by undoing this session's whole transaction.
bool isDeadlock(const QSqlError &error);
// Statements that only read report no failed write.
bool isWriteStatement(const QString &sql);
// The first word of a statement (letters, digits and "_" after leading blanks): the cheap way to
// tell its kind, asked of every statement.
QStringRef leadingKeyword(const QString &sql);
// Table and column names are put into statements as they are; allow only plain names.
bool isIdentifier(const QString &name);
// Values are bound as text: null as empty text, a flag as 1 or 0.
QVariant boundText(const QVariant &value);
// Whether `value` is a whole number, bound as such by execBound.
bool isWholeNumber(const QVariant &value);

// SQLite: binds `values` to the statement `query` holds (prepared by the driver), runs it
// and reads its rows into `rows`, as the driver would bind, run and read them. False with
// `error` as the driver would report it; *used false when `query` holds no SQLite statement.
bool stepSqlite(const QSqlQuery &query, const QVector<QVariant> &values, Database::BoundRows &rows,
                QSqlError &error, bool *used);

// The data folder of the SQLite file, walked, checked and opened by a main object. Every
// connection opens the file through the folder's descriptor, never by the folder's path
// again, so that a path changed after the check can't lead it anywhere else; none of them
// creates the file. The file found at the first open is remembered: one deleted or replaced
// while the program runs is noticed, and nothing is written into another.
struct SqliteFolder
{
    SqliteFolder(const QString &dataDir, int fd, const QString &realPath);
    ~SqliteFolder();
    SqliteFolder(const SqliteFolder &) = delete;
    SqliteFolder &operator=(const SqliteFolder &) = delete;

    const QString dataDir; // as configured, ending with "/"
    const int fd;
    const QString realPath; // where the walk ended
    const QString openPath; // through the descriptor, ending with "/"

    // The database file as SQLite is to be given it.
    QString file() const;
    // Remembers the file standing in the folder now as the one opened. Once.
    void identify();
    bool identified() const { return m_identified.load(std::memory_order_acquire); }
    // True while the file in the folder is the one identified (or none was yet). False once
    // it was found deleted or replaced; the first to find it tells the seller.
    bool intact();
    // What the seller is told when it is not.
    QString lostText() const;

private:
    std::atomic<bool> m_identified { false };
    std::atomic<bool> m_lost { false };
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// Walks and checks the data folder `dataDir` (see PrivateFile::openFolder) and the database
// file's place in it. Empty, with *folder set, when it passed; else what the seller is told.
// `create`: missing folders are made.
QString openSqliteFolder(const QString &dataDir, bool create,
                         std::shared_ptr<SqliteFolder> *folder);
// The folder the main object of `dataDir` checked; when there is none, `dataDir` is walked
// and checked anew (without creating anything). Null when it does not pass.
std::shared_ptr<SqliteFolder> sqliteFolder(const QString &dataDir);
void publishSqliteFolder(const std::shared_ptr<SqliteFolder> &folder);
void withdrawSqliteFolder(const std::shared_ptr<SqliteFolder> &folder);
// Runs the hook set by Database::setBeforeSqliteOpenForTesting(), if any.
void beforeSqliteOpen();

} // namespace DatabaseInternal
