#include "core/database.h"

#include "core/clock.h"
#include "core/logging.h"
#include "core/schema.h"
#include "core/simplecrypt.h"
#include "core/statics.h"

#include <atomic>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QThread>
#include <QUrl>

namespace {

const char *const kSqliteDriver = "QSQLITE";
const char *const kMySqlDriver = "QMYSQL";

// Key of the MySQL password in "mysql.setup".
constexpr unsigned long long kSetupKey = 0x5e17a0c4d29b3f68ULL;

constexpr int kLockRetryMs = 200;
constexpr int kMaxReconnects = 3;
constexpr int kPreparedCacheSize = 32;

const QStringList &mySqlProperties()
{
    static const QStringList names = {
        QStringLiteral("mysqlhostname"),        QStringLiteral("mysqlport"),
        QStringLiteral("mysqldatabase"),        QStringLiteral("mysqlusername"),
        QStringLiteral("mysqlpassword"),        QStringLiteral("mysqlimagepath"),
        QStringLiteral("mysqlsyncworkstation"),
    };
    return names;
}

QVariant appProperty(const char *name)
{
    QCoreApplication *app = QCoreApplication::instance();
    return app ? app->property(name) : QVariant();
}

void setAppProperty(const QString &name, const QVariant &value)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->setProperty(name.toLatin1().constData(), value);
}

// Which Database object a connection name belongs to. A further connection takes over a
// name that is still open; the older object must then not remove the newer connection.
QMutex g_ownersMutex;
QHash<QString, const Database *> g_owners;

void claimConnection(const QString &name, const Database *owner)
{
    QMutexLocker locker(&g_ownersMutex);
    g_owners.insert(name, owner);
}

bool releaseConnection(const QString &name, const Database *owner)
{
    QMutexLocker locker(&g_ownersMutex);
    if (g_owners.value(name) != owner)
        return false;
    g_owners.remove(name);
    return true;
}

bool isLocked(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6")
        || error.text().contains(QLatin1String("database is locked"), Qt::CaseInsensitive)
        || error.text().contains(QLatin1String("database table is locked"), Qt::CaseInsensitive);
}

// The server can't be reached on this connection: it went away, was shut down, killed the
// connection or can't be connected to.
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

// SQLite could not store or read anything, whatever the statement: full disk, I/O error,
// locked beyond the wait, no memory, file can't be opened.
bool isStorageFailure(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 5 || code == 6 || code == 7 || code == 10 || code == 13 || code == 14);
}

// MySQL gave up on a lock another connection held (lock wait time-out, deadlock): the same
// statement may succeed later.
bool isLockConflict(const QSqlError &error)
{
    return error.nativeErrorCode() == QLatin1String("1205")
        || error.nativeErrorCode() == QLatin1String("1213");
}

enum class TransactionStatement { None, Begin, Commit, Rollback };

// Whether `sql` begins or ends a transaction ("BEGIN ...", "START TRANSACTION", "COMMIT",
// "ROLLBACK").
TransactionStatement transactionStatement(const QString &sql)
{
    int start = 0;
    while (start < sql.size() && sql.at(start).isSpace())
        ++start;
    const QStringRef text = sql.midRef(start);
    const auto word = [&text](QLatin1String keyword) {
        return text.startsWith(keyword, Qt::CaseInsensitive)
            && (text.size() == keyword.size() || !text.at(keyword.size()).isLetterOrNumber());
    };
    if (word(QLatin1String("BEGIN")) || word(QLatin1String("START TRANSACTION")))
        return TransactionStatement::Begin;
    if (word(QLatin1String("COMMIT")))
        return TransactionStatement::Commit;
    // "ROLLBACK TO SAVEPOINT" undoes a part; the transaction goes on.
    if (word(QLatin1String("ROLLBACK")) && !text.contains(QLatin1String(" TO "), Qt::CaseInsensitive))
        return TransactionStatement::Rollback;
    return TransactionStatement::None;
}

// A failed reconnect is tried again at a statement at most this often, so that a server
// that does not answer at all does not hold every statement for the connect time-out.
constexpr qint64 kReconnectPauseMs = 1000;

// The program's session mode: standard string literals (see prepareSession()).
const QString kSqlMode = QStringLiteral("NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION");
QMutex g_sqlModeMutex;
QString g_sqlModeForTesting;

QString sessionSqlMode()
{
    QMutexLocker locker(&g_sqlModeMutex);
    return g_sqlModeForTesting.isNull() ? kSqlMode : g_sqlModeForTesting;
}

// Table and column names are put into statements as they are; allow only plain names.
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

// Values are bound as text: null as empty text, a flag as 1 or 0.
QVariant boundText(const QVariant &value)
{
    if (value.type() == QVariant::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    const QString text = value.toString();
    return text.isNull() ? QStringLiteral("") : text;
}

QString withTrailingSlash(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString formatSize(qint64 bytes)
{
    static const char *const units[] = { " Bytes", " kB", " MB", " GB" };
    double size = double(bytes);
    int unit = 0;
    while (size > 1023 && unit < 3) {
        size /= 1024;
        ++unit;
    }
    QLocale german(QLocale::German);
    german.setNumberOptions(QLocale::OmitGroupSeparator);
    return german.toString(size, 'f', 1) + QLatin1String(units[unit]);
}

// How the SQLite file is opened: written, only read, or only read from a folder in which
// SQLite can't keep its shared-memory file (then the write-ahead log can't be read either).
const char *const kSqliteModeProperty = "sqlitereadonly";
const QString kReadOnly = QStringLiteral("ro");
const QString kImmutable = QStringLiteral("immutable");

// Below this much free space the data folder counts as full.
constexpr qint64 kMinimumFreeBytes = 512 * 1024;

// Whether a main object tells the user at once what it found wrong (setStartProblemsShown).
std::atomic<bool> g_showStartProblems { true };

// Open SQLite connections per file, so that the last one to close writes the log back.
QHash<QString, int> g_openFiles;

// Statements that only read report no failed write.
bool isWriteStatement(const QString &sql)
{
    static const QRegularExpression reading(QStringLiteral("^\\s*(SELECT|PRAGMA|SHOW|EXPLAIN)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    return !reading.match(sql).hasMatch();
}

QString threadTag()
{
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}

// The data folder and the database (the accounts' tokens stand in it in clear) are the
// seller's alone. A folder made here is so from the start; what an older version or a
// copy left open to other users is closed at start, in the log and without a word to the
// seller.
bool createPrivateFolder(const QString &folder)
{
    if (QFileInfo::exists(folder))
        return false;
    if (QDir().mkpath(folder))
        Statics::setOwnerOnly(folder);
    return true;
}

void protectDataFolder(const QString &folder)
{
    if (!createPrivateFolder(folder) && Statics::revokeOthersAccess(folder))
        qCInfo(lcDb).noquote() << "The data folder" << folder
                               << "was open to other users; now it is its owner's alone";
}

// The database with its side files (SQLite gives them the mode of the database file) and
// the MySQL settings with their password. `report`: what was there before the start is
// logged when it had to be closed.
void protectDataFiles(const QString &folder, bool report)
{
    const QString database = folder + Database::getDatabaseName();
    for (const QString &path :
         { database, database + QStringLiteral("-wal"), database + QStringLiteral("-shm"),
           database + QStringLiteral("-journal"), folder + QStringLiteral("mysql.setup") }) {
        if (Statics::revokeOthersAccess(path) && report)
            qCInfo(lcDb).noquote()
                << "The file" << path << "was open to other users; now it is its owner's alone";
    }
}

} // namespace

// --- Construction ---------------------------------------------------------------------

Database::Database(QString path, QObject *parent)
    : QObject(parent)
{
    static QAtomicInt mainCounter;
    m_connectionName
        = QStringLiteral("main%1_%2").arg(mainCounter.fetchAndAddRelaxed(1) + 1).arg(threadTag());
    m_dataDir = withTrailingSlash(path.isEmpty() ? defaultDataDir() : path);
    protectDataFolder(m_dataDir);
    protectDataFiles(m_dataDir, true);
    setAppProperty(QLatin1String(kSqliteModeProperty), QVariant());

    setAppProperty(QStringLiteral("datadir"), m_dataDir);
    setAppProperty(QStringLiteral("CurrentDataPath"), m_dataDir);

    QSettings setup(m_dataDir + QStringLiteral("mysql.setup"), QSettings::IniFormat);
    if (setup.value(QStringLiteral("active"), false).toBool()) {
        const QString host = setup.value(QStringLiteral("hostname")).toString();
        const int port = setup.value(QStringLiteral("port"), 3306).toInt();
        const QString user = setup.value(QStringLiteral("username")).toString();
        const QString password = SimpleCrypt(kSetupKey).decryptToString(
            setup.value(QStringLiteral("password")).toString());
        const QString database = setup.value(QStringLiteral("database")).toString();
        if (openMySql(host, port, database, user, password)) {
            isMySQL = true;
            setAppProperty(QStringLiteral("mysqlhostname"), host);
            setAppProperty(QStringLiteral("mysqlport"), port);
            setAppProperty(QStringLiteral("mysqldatabase"), database);
            setAppProperty(QStringLiteral("mysqlusername"), user);
            setAppProperty(QStringLiteral("mysqlpassword"), password);
            setAppProperty(QStringLiteral("mysqlimagepath"),
                           setup.value(QStringLiteral("imagepath")).toString());
            setAppProperty(QStringLiteral("mysqlsyncworkstation"),
                           setup.value(QStringLiteral("syncworkstation"), false).toBool());
        } else {
            m_db = QSqlDatabase();
            releaseConnection(m_connectionName, this);
            QSqlDatabase::removeDatabase(m_connectionName);
            // Nothing is lost by working on: the local file stays usable until the
            // server can be reached again.
            const QString error = lastErrorText;
            qCWarning(lcDb).noquote() << "MySQL server" << host << "not reachable:" << error
                                      << "- working on the local database";
            Statics::showMessage(
                nullptr,
                tr("Die MySQL-Datenbank \"%1\" auf \"%2\" ist nicht erreichbar:\n%3\n\n"
                   "Das Programm arbeitet bis zum nächsten Start mit der lokalen Datenbank.")
                    .arg(database, host, error),
                2);
        }
    }

    if (!isMySQL) {
        for (const QString &name : mySqlProperties())
            setAppProperty(name, QVariant());
        openMainSqlite(m_dataDir + getDatabaseName());
        protectDataFiles(m_dataDir, false);
    }

    if (isOpen() && !m_readOnly && !Schema::upgrade(*this))
        qCWarning(lcDb).noquote() << "The database could not be brought up to date:"
                                  << lastErrorText;
    if (!m_startProblem.isEmpty()) {
        qCWarning(lcDb).noquote() << m_startProblem;
        if (g_showStartProblems)
            Statics::showMessage(nullptr, m_startProblem, 2);
    }
}

void Database::openMainSqlite(const QString &file)
{
    const QString folder = QDir::toNativeSeparators(m_dataDir);
    const QString shown = QDir::toNativeSeparators(file);
    if (!QFileInfo(m_dataDir).isDir()) {
        m_startProblem = tr("Der Datenordner \"%1\" kann nicht angelegt werden. Das Programm "
                            "kann so keine Daten speichern.")
                             .arg(folder);
        return;
    }
    const QStorageInfo storage(m_dataDir);
    const bool full = storage.isValid() && storage.bytesAvailable() < kMinimumFreeBytes;
    const QString fullText = tr("Auf dem Datenträger des Datenordners \"%1\" ist kein Platz "
                                "mehr frei. Die Datenbank wird bis zum nächsten Start nur "
                                "gelesen, Änderungen werden nicht gespeichert.")
                                 .arg(folder);
    const bool folderWritable = QFileInfo(m_dataDir).isWritable();
    const QString folderText = tr("In den Datenordner \"%1\" kann nicht geschrieben werden. "
                                  "Die Datenbank wird nur gelesen, Änderungen werden nicht "
                                  "gespeichert.")
                                   .arg(folder);
    if (!QFileInfo::exists(file)) {
        // Never an empty database in some other place: the seller would work on it and
        // lose everything at the next start.
        if (!folderWritable || full) {
            m_startProblem = full ? fullText : folderText;
            // Nor do the other threads' connections create one.
            setAppProperty(QLatin1String(kSqliteModeProperty), kImmutable);
            return;
        }
        openSqlite(file);
        return;
    }

    // Looked at without writing first: a damaged file stays as it is, so that a backup can
    // still replace it. Where SQLite can't keep its shared-memory file beside the database
    // (a folder it can't write, a full disk), it can read the file only as unchangeable.
    setAppProperty(QLatin1String(kSqliteModeProperty),
                   folderWritable && !full ? kReadOnly : kImmutable);
    if (!openSqlite(file)) {
        m_startProblem
            = tr("Die Datenbank \"%1\" kann nicht geöffnet werden: %2").arg(shown, lastErrorText);
        return;
    }
    bool damaged = false;
    const QString reason = checkContent(&damaged);
    if (damaged) {
        m_startProblem = tr("Die Datenbank \"%1\" ist beschädigt: %2\n\nDas Programm "
                            "verändert sie nicht und zeigt nur, was sich noch lesen lässt. "
                            "Stelle eine Sicherung wieder her, um weiterzuarbeiten.")
                             .arg(shown, reason);
    } else if (full) {
        m_startProblem = fullText;
    } else if (!folderWritable) {
        m_startProblem = folderText;
    } else if (!reason.isEmpty()) {
        m_startProblem
            = tr("Die Datenbank \"%1\" kann nicht gelesen werden: %2").arg(shown, reason);
    } else if (!QFileInfo(file).isWritable()) {
        m_startProblem = tr("Die Datenbank \"%1\" ist schreibgeschützt. Sie wird nur "
                            "gelesen, Änderungen werden nicht gespeichert.")
                             .arg(shown);
    }
    if (!m_startProblem.isEmpty())
        return;
    close();
    setAppProperty(QLatin1String(kSqliteModeProperty), QVariant());
    openSqlite(file);
}

void Database::setStartProblemsShown(bool shown)
{
    g_showStartProblems = shown;
}

QString Database::checkContent(bool *damaged)
{
    // The quick check reads every page but does not compare the indexes with their tables:
    // it finds what a torn write or an overwritten page leaves behind, fast enough for the
    // start.
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("PRAGMA quick_check(1)"))) {
        const QSqlError error = query.lastError();
        // SQLITE_CORRUPT and SQLITE_NOTADB; anything else (no memory, an I/O error) is not
        // a fault of the file.
        const int code = error.nativeErrorCode().toInt() & 0xff;
        *damaged = code == 11 || code == 26;
        return error.databaseText().isEmpty() ? error.text() : error.databaseText();
    }
    *damaged = true;
    if (!query.next())
        return tr("die Prüfung lieferte kein Ergebnis");
    const QString result = query.value(0).toString();
    *damaged = result != QLatin1String("ok");
    return *damaged ? result : QString();
}

Database::Database(bool, const QString &name, QObject *parent)
    : QObject(parent)
{
    m_connectionName = name + QLatin1Char('_') + threadTag();
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }

    const QVariant dataDir = appProperty("datadir");
    m_dataDir = withTrailingSlash(dataDir.isValid() ? dataDir.toString() : defaultDataDir());

    isMySQL = appProperty("mysqlhostname").isValid();
    if (isMySQL) {
        // A connection that could not be opened, or not with its session settings, stays
        // closed; each statement tries to open it again.
        if (!openMySql(appProperty("mysqlhostname").toString(), appProperty("mysqlport").toInt(),
                       appProperty("mysqldatabase").toString(),
                       appProperty("mysqlusername").toString(),
                       appProperty("mysqlpassword").toString())) {
            m_lostError = lastErrorText;
            markBroken(m_lostError, m_sessionRefused);
        }
    } else {
        openSqlite(m_dataDir + getDatabaseName());
    }
}

Database::~Database()
{
    close();
}

void Database::close()
{
    m_prepared.clear();
    if (m_connectionName.isEmpty() || !m_db.isValid())
        return;
    if (m_db.driverName() == QLatin1String(kSqliteDriver) && m_db.isOpen()) {
        bool last;
        {
            QMutexLocker locker(&g_ownersMutex);
            last = --g_openFiles[m_db.databaseName()] <= 0;
            if (last)
                g_openFiles.remove(m_db.databaseName());
        }
        // The last connection writes the log back into the file: a copy of the file alone,
        // as sellers make for a backup, then holds everything.
        if (last && !m_readOnly)
            QSqlQuery(m_db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    m_db.close();
    m_db = QSqlDatabase();
    if (releaseConnection(m_connectionName, this))
        QSqlDatabase::removeDatabase(m_connectionName);
}

bool Database::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

QString Database::defaultDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Revevor/Zerire3/");
}

QString Database::getDatabaseName()
{
    return QStringLiteral("ZirevPavlet.sqlite");
}

bool Database::openSqlite(const QString &file)
{
    m_db = QSqlDatabase::addDatabase(QLatin1String(kSqliteDriver), m_connectionName);
    claimConnection(m_connectionName, this);
    const QString mode = appProperty(kSqliteModeProperty).toString();
    m_readOnly = !mode.isEmpty();
    // A short wait inside SQLite; the statement helpers retry a locked file themselves.
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=100");
    if (mode == kImmutable) {
        // Only this way SQLite reads a file whose folder it can't write.
        m_db.setDatabaseName(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)
                             + QStringLiteral("?immutable=1"));
        options += QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
    } else {
        m_db.setDatabaseName(file);
        if (m_readOnly)
            options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    }
    m_db.setConnectOptions(options);
    if (!m_db.open()) {
        lastErrorText = m_db.lastError().text();
        qCWarning(lcDb).noquote() << "Can't open database" << file << ":" << lastErrorText;
        return false;
    }
    {
        QMutexLocker locker(&g_ownersMutex);
        ++g_openFiles[m_db.databaseName()];
    }
    if (m_readOnly)
        return true;
    // Write-ahead log: readers never wait for a writer, and a commit needs no sync of its
    // own. Each thread writes through its own connection.
    QSqlQuery pragma(m_db);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

bool Database::openMySql(const QString &host, int port, const QString &database,
                         const QString &user, const QString &password)
{
    m_db = QSqlDatabase::addDatabase(QLatin1String(kMySqlDriver), m_connectionName);
    claimConnection(m_connectionName, this);
    m_db.setHostName(host);
    m_db.setPort(port > 0 ? port : 3306);
    m_db.setDatabaseName(database);
    m_db.setUserName(user);
    m_db.setPassword(password);
    m_db.setConnectOptions(QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10"));
    if (!m_db.open()) {
        lastErrorText = m_db.lastError().text();
        qCWarning(lcDb).noquote() << "Can't open MySQL database" << database << "on" << host << ":"
                                  << lastErrorText;
        return false;
    }
    return prepareSession();
}

bool Database::prepareSession()
{
    // Standard string literals: a backslash is an ordinary character, so the doubled
    // quotes of escapeString are the only escaping, the same as in SQLite. Every statement
    // of the program relies on it; a session without it is not used.
    const QStringList statements = {
        QStringLiteral("SET wait_timeout = 3600"),
        QStringLiteral("SET CHARACTER SET 'utf8mb4'"),
        QStringLiteral("SET NAMES 'utf8mb4'"),
        QStringLiteral("SET autocommit=1"),
        QStringLiteral("SET SESSION sql_mode='") + sessionSqlMode() + QLatin1Char('\''),
    };
    m_sessionRefused = false;
    QString failure;
    bool lost = false;
    {
        QSqlQuery query(m_db);
        for (const QString &statement : statements) {
            if (!query.exec(statement)) {
                failure = statement + QStringLiteral(": ") + query.lastError().text();
                lost = isConnectionLost(query.lastError());
                break;
            }
        }
        if (failure.isEmpty()) {
            if (!query.exec(QStringLiteral("SELECT @@SESSION.sql_mode")) || !query.next()) {
                failure = query.lastError().text();
                lost = isConnectionLost(query.lastError());
            } else if (!query.value(0).toString().split(QLatin1Char(',')).contains(
                           QLatin1String("NO_BACKSLASH_ESCAPES"))) {
                failure = QStringLiteral("sql_mode '%1' lacks NO_BACKSLASH_ESCAPES")
                              .arg(query.value(0).toString());
            }
        }
    }
    if (failure.isEmpty())
        return true;
    lastErrorText = failure;
    m_sessionRefused = !lost;
    qCWarning(lcDb).noquote() << "MySQL session set-up failed, connection closed:" << failure;
    m_prepared.clear();
    m_db.close();
    return false;
}

bool Database::reconnect(bool pause)
{
    const qint64 now = QDeadlineTimer::current().deadline();
    if (pause && m_lastReconnectMs >= 0 && now - m_lastReconnectMs < kReconnectPauseMs)
        return false;
    m_prepared.clear();
    m_db.close();
    if (!m_db.open()) {
        m_lostError = m_db.lastError().text();
        m_sessionRefused = false;
        m_lastReconnectMs = now;
        qCWarning(lcDb).noquote() << "Reconnect failed:" << m_lostError;
        return false;
    }
    if (!prepareSession()) {
        m_lostError = lastErrorText;
        m_lastReconnectMs = now;
        return false;
    }
    m_lastReconnectMs = -1;
    qCInfo(lcDb).noquote() << "Connection" << m_connectionName << "opened again";
    return true;
}

QString Database::brokenReason(const QString &error, bool session)
{
    return session ? tr("Die Verbindung zur Datenbank wurde geschlossen, weil ihre "
                        "Sitzungseinstellungen nicht gesetzt werden konnten: %1")
                         .arg(error)
                   : tr("Die Verbindung zur Datenbank ist unterbrochen: %1").arg(error);
}

void Database::markBroken(const QString &error, bool session)
{
    if (m_connectionLost)
        return;
    m_connectionLost = true;
    emit WriteFailures::instance()->connectionBroken(m_connectionName,
                                                     brokenReason(error, session), session);
}

void Database::markRestored()
{
    if (!m_connectionLost)
        return;
    m_connectionLost = false;
    qCInfo(lcDb).noquote() << "Connection" << m_connectionName << "works again";
    emit WriteFailures::instance()->connectionRestored(m_connectionName);
}

void Database::setSqlModeForTesting(const QString &mode)
{
    QMutexLocker locker(&g_sqlModeMutex);
    g_sqlModeForTesting = mode;
}

// --- Statements ----------------------------------------------------------------------

bool Database::run(QSqlQuery &query, QSqlDatabase &connection, const QString &sql,
                   const QMap<QString, QVariant> *values, const char *failurePrefix, bool quiet,
                   const QVector<QVariant> *positional)
{
    QElapsedTimer lockTimer;
    lockTimer.start();
    int reconnects = 0;
    const bool mysql = connection.driverName() == QLatin1String(kMySqlDriver);
    const bool own = connection.connectionName() == m_db.connectionName();
    // This object keeps the state of its own MySQL connection: lost, reopened, in a
    // transaction.
    const bool guarded = own && mysql;
    const TransactionStatement kind = own ? transactionStatement(sql) : TransactionStatement::None;
    const bool bound = values || positional;
    const bool cacheable = bound && own;

    const auto failed = [&](const QString &error, bool transient, bool lost) {
        lastErrorText = error;
        if (quiet)
            return false;
        if (own) {
            ++m_failedStatements;
            m_lastFailureTransient = transient;
        }
        qCWarning(lcDb).noquote() << Logging::sqlFailure(QLatin1String(failurePrefix), error, sql);
        if (own && isWriteStatement(sql))
            emit WriteFailures::instance()->failed(
                m_connectionName, error, lost ? brokenReason(error, m_sessionRefused) : QString());
        return false;
    };

    if (guarded) {
        if (m_transactionLost) {
            // The server undid the transaction with the connection: none of its later
            // statements may be written on their own.
            if (kind == TransactionStatement::Commit || kind == TransactionStatement::Rollback)
                m_transactionLost = false;
            if (kind == TransactionStatement::Rollback)
                return true;
            return failed(m_lostError, true, true);
        }
        if (!m_db.isOpen() && !reconnect(true)) {
            markBroken(m_lostError, m_sessionRefused);
            return failed(m_lostError, true, true);
        }
    }

    for (;;) {
        bool ok;
        if (cacheable && m_prepared.contains(sql)) {
            // The importers and workers write row after row with the same columns.
            query = m_prepared.value(sql);
            ok = true;
        } else {
            query = QSqlQuery(connection);
            query.setForwardOnly(true);
            ok = !bound || query.prepare(sql);
            if (ok && cacheable) {
                if (m_prepared.size() >= kPreparedCacheSize)
                    m_prepared.clear();
                m_prepared.insert(sql, query);
            }
        }
        if (bound) {
            if (ok) {
                if (values) {
                    for (auto it = values->cbegin(); it != values->cend(); ++it)
                        query.bindValue(QLatin1Char(':') + it.key(), boundText(it.value()));
                } else {
                    for (int i = 0; i < positional->size(); ++i)
                        query.bindValue(i, boundText(positional->at(i)));
                }
                ok = query.exec();
            }
        } else {
            ok = query.exec(sql);
        }
        if (ok) {
            if (kind == TransactionStatement::Begin)
                m_inTransaction = true;
            else if (kind != TransactionStatement::None)
                m_inTransaction = false;
            if (guarded)
                markRestored();
            return true;
        }

        const QSqlError error = query.lastError();
        if (!mysql && isLocked(error) && lockTimer.elapsed() < m_lockTimeoutMs) {
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
            if (m_inTransaction) {
                // What the transaction wrote is gone; its remaining statements fail until
                // it is ended, and so does this one.
                m_inTransaction = false;
                m_transactionLost = kind == TransactionStatement::None
                    || kind == TransactionStatement::Begin;
                if (!reconnect(false))
                    markBroken(m_lostError, m_sessionRefused);
                if (kind == TransactionStatement::Rollback)
                    return true;
                return failed(error.text(), true, true);
            }
            if (reconnects < kMaxReconnects) {
                ++reconnects;
                if (reconnect(false))
                    continue;
            }
            markBroken(m_lostError, m_sessionRefused);
            return failed(m_lostError, true, true);
        }
        if (kind == TransactionStatement::Commit || kind == TransactionStatement::Rollback)
            m_inTransaction = false;
        return failed(error.text(), mysql ? isLockConflict(error) : isStorageFailure(error),
                      false);
    }
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

bool Database::executeSQL(QString sql)
{
    QSqlQuery query;
    return run(query, m_db, sql, nullptr, "SQL Error: ");
}

SqlRows Database::select(const QString &sql)
{
    return selectFromDb(sql, m_db);
}

bool Database::selectQuery(const QString &sql, QSqlQuery &query)
{
    lastErrorText.clear();
    return run(query, m_db, rewriteForDialect(sql, m_db), nullptr, "SQL Error: ");
}

SqlRows Database::selectFromDb(const QString &sql, QSqlDatabase &connection)
{
    lastErrorText.clear();
    QSqlQuery query;
    if (!run(query, connection, rewriteForDialect(sql, connection), nullptr, "SQL Error: "))
        return {};
    return fetchRows(query);
}

QString Database::selectOne(QString sql)
{
    QSqlQuery query;
    if (!run(query, m_db, rewriteForDialect(sql, m_db), nullptr, "SQL Error: ") || !query.next())
        return QString();
    return query.value(0).toString();
}

int Database::selectCount(QString sql)
{
    QSqlQuery query;
    if (!run(query, m_db, rewriteForDialect(sql, m_db), nullptr, "SQL Error: "))
        return 0;
    int count = 0;
    while (query.next())
        ++count;
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
    return run(query, m_db, sql, &row, "SQL Insert Error: ");
}

bool Database::execBound(const QString &sql, const QVector<QVariant> &values, QSqlQuery &query)
{
    lastErrorText.clear();
    return run(query, m_db, sql, nullptr, "SQL Error: ", false, &values);
}

// --- Rows, activity entries, maintenance ----------------------------------------------

bool Database::runPrepared(const QString &sql, const QMap<QString, QVariant> &values,
                           QSqlQuery &query)
{
    lastErrorText.clear();
    return run(query, m_db, sql, &values, "SQL Error: ");
}

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

QStringList Database::columnsOf(const QString &table)
{
    auto known = m_columns.constFind(table);
    if (known != m_columns.constEnd())
        return known.value();
    const QSqlRecord record = m_db.record(table);
    QStringList names;
    names.reserve(record.count());
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    // A table that could not be read is asked for again next time.
    if (!names.isEmpty())
        m_columns.insert(table, names);
    return names;
}

int Database::DuplicateRow(QString table, QString idColumn, QString idValue, QString changeColumn,
                           QString changeValue)
{
    QMap<QString, QVariant> changes;
    if (!changeColumn.isEmpty())
        changes.insert(changeColumn, changeValue);
    return DuplicateRow(table, idColumn, idValue, changes);
}

int Database::DuplicateRow(const QString &table, const QString &idColumn, const QString &idValue,
                           const QMap<QString, QVariant> &changes)
{
    bool names = isIdentifier(table) && isIdentifier(idColumn);
    for (auto it = changes.cbegin(); names && it != changes.cend(); ++it)
        names = isIdentifier(it.key());
    if (!names) {
        lastErrorText = QStringLiteral("Invalid table or column name");
        qCWarning(lcDb).noquote() << "DuplicateRow:" << lastErrorText << table << idColumn
                                  << changes.keys();
        return 0;
    }
    const auto literal = [](const QVariant &value) {
        switch (value.type()) {
        case QVariant::Int:
        case QVariant::LongLong:
        case QVariant::UInt:
        case QVariant::ULongLong:
        case QVariant::Double:
            return value.toString();
        default:
            return QLatin1Char('\'') + escapeString(value.toString()) + QLatin1Char('\'');
        }
    };
    // Column names compare without case, as both databases take them.
    QHash<QString, QString> replaced;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        replaced.insert(it.key().toLower(), literal(it.value()));

    // Copies the rows of `source` matched by `condition`, every column but `skip`, with the
    // columns of `values` set to theirs; the statement, the same for every copy of a kind, is
    // prepared once and run with `binds`. The number of rows copied, -1 on failure; *newId gets
    // the id of the last one.
    const auto copyRows = [this](const QString &source, const QString &skip,
                                 const QHash<QString, QString> &values, const QString &condition,
                                 const QMap<QString, QVariant> &binds, int *newId) -> int {
        QStringList columns;
        QStringList selected;
        for (const QString &name : columnsOf(source)) {
            if (name.compare(skip, Qt::CaseInsensitive) == 0)
                continue;
            const QString quoted = QLatin1Char('`') + name + QLatin1Char('`');
            columns << quoted;
            selected << values.value(name.toLower(), quoted);
        }
        if (columns.isEmpty())
            return -1;
        const QString sql = QLatin1String("INSERT INTO `") + source + QLatin1String("` (")
            + columns.join(QLatin1String(", ")) + QLatin1String(") SELECT ")
            + selected.join(QLatin1String(", ")) + QLatin1String(" FROM `") + source
            + QLatin1String("` WHERE ") + condition;
        QSqlQuery query;
        if (!run(query, m_db, sql, &binds, "SQL Error: "))
            return -1;
        const int copied = query.numRowsAffected();
        if (newId)
            *newId = copied > 0 ? query.lastInsertId().toInt() : 0;
        return copied;
    };

    // The copy of an article with its pictures and variations lands whole or not at all.
    const bool withChildren = table.compare(QLatin1String("articles"), Qt::CaseInsensitive) == 0
        && idColumn.compare(QLatin1String("id"), Qt::CaseInsensitive) == 0;
    if (withChildren && !beginTransaction())
        return 0;

    int newId = 0;
    const QMap<QString, QVariant> source { { QStringLiteral("source"), idValue } };
    const int copied
        = copyRows(table, idColumn, replaced,
                   QLatin1Char('`') + idColumn + QLatin1String("` = :source"), source, &newId);
    if (!withChildren)
        return copied > 0 ? qMax(newId, 0) : 0;

    bool ok = copied > 0 && newId > 0;
    if (ok) {
        const QString newArticle = QString::number(newId);
        const QHash<QString, QString> ofCopy { { QStringLiteral("article_id"),
                                                 QStringLiteral(":copy") } };
        const QMap<QString, QVariant> both { { QStringLiteral("source"), idValue },
                                             { QStringLiteral("copy"), newArticle } };
        const QString condition = QStringLiteral("`article_id` = :source ORDER BY `id`");
        ok = copyRows(QStringLiteral("articles_images"), QStringLiteral("id"), ofCopy, condition,
                      both, nullptr)
            >= 0;
        const int variations = ok ? copyRows(QStringLiteral("articles_variations"),
                                             QStringLiteral("id"), ofCopy, condition, both, nullptr)
                                  : -1;
        ok = variations >= 0;
        // The copied variation pictures belong to the copied variations, in the same order.
        if (ok && variations > 0) {
            QStringList before;
            QStringList after;
            QSqlQuery ids;
            ok = run(ids, m_db,
                     QStringLiteral("SELECT id, article_id FROM articles_variations WHERE "
                                    "article_id IN (:source, :copy) ORDER BY id"),
                     &both, "SQL Error: ");
            while (ok && ids.next())
                (ids.value(1).toString() == newArticle ? after : before) << ids.value(0).toString();
            ids.finish();
            QString cases;
            for (int i = 0; i < before.size() && i < after.size(); ++i)
                cases += QStringLiteral(" WHEN %1 THEN %2").arg(before.at(i), after.at(i));
            if (ok && !cases.isEmpty())
                ok = executeSQL(QStringLiteral("UPDATE articles_images SET variant_id = CASE "
                                               "variant_id%1 END WHERE article_id = %2 AND "
                                               "variant_id IN (%3)")
                                    .arg(cases, newArticle,
                                         before.mid(0, after.size()).join(QLatin1Char(','))));
        }
    }
    if (!ok) {
        rollbackTransaction();
        return 0;
    }
    return commitTransaction() ? newId : 0;
}

NewsItem Database::addOutcomeNews(const QString &title, const QString &text, bool ok)
{
    ArticleRow entry;
    entry.insert(QStringLiteral("indate"),
                 Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    entry.insert(QStringLiteral("title"), title);
    entry.insert(QStringLiteral("itemid"), QStringLiteral("0"));
    entry.insert(QStringLiteral("databaseid"), 0);
    entry.insert(QStringLiteral("textinfo"), text);
    entry.insert(QStringLiteral("infotype"),
                 ok ? QStringLiteral("success") : QStringLiteral("error"));
    const int id = insertSqlClean(entry, QStringLiteral("itemshistory"));
    const QList<NewsItem> rows
        = id > 0 ? selectNews(QStringLiteral("id=") + QString::number(id)) : QList<NewsItem>();
    return rows.isEmpty() ? NewsItem() : rows.first();
}

QList<NewsItem> Database::selectNews(const QString &condition)
{
    QString sql = QStringLiteral("SELECT * FROM itemshistory");
    if (condition.startsWith(QLatin1String("ORDER ")))
        sql += QLatin1Char(' ') + condition;
    else if (!condition.isEmpty())
        sql += QLatin1String(" WHERE ") + condition;

    QList<NewsItem> items;
    for (const auto &row : select(sql)) {
        NewsItem item;
        item.id = row.value(QStringLiteral("id")).toInt();
        item.indate = QDateTime::fromString(row.value(QStringLiteral("indate")).toString(),
                                            QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        item.itemid = row.value(QStringLiteral("itemid")).toString();
        item.title = row.value(QStringLiteral("title")).toString();
        item.price = row.value(QStringLiteral("price")).toDouble();
        item.pricetype = row.value(QStringLiteral("pricetype")).toInt();
        item.textinfo = row.value(QStringLiteral("textinfo")).toString();
        item.infotype = row.value(QStringLiteral("infotype")).toString();
        item.databaseid = row.value(QStringLiteral("databaseid")).toInt();
        items.append(item);
    }
    return items;
}

void Database::mysqlAddRemoveInfo(int folder, const QString &articleId)
{
    if (!isMySQL)
        return;
    QMap<QString, QVariant> entry;
    entry.insert(QStringLiteral("price"), 0);
    entry.insert(QStringLiteral("pricetype"), 0);
    entry.insert(QStringLiteral("indate"),
                 Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    entry.insert(QStringLiteral("title"), QStringLiteral("Gelöscht"));
    entry.insert(QStringLiteral("textinfo"),
                 QStringLiteral("Anzeige wurde zur Neueinlesung gelöscht (%1,%2)")
                     .arg(folder)
                     .arg(articleId));
    entry.insert(QStringLiteral("infotype"), QStringLiteral("removeitem"));
    entry.insert(QStringLiteral("itemid"), QStringLiteral("0"));
    const int newsId = insertSqlClean(entry, QStringLiteral("itemshistory"));

    const QVariant sync = appProperty("mysqlsyncworkstation");
    if (newsId > 0 && sync.isValid() && !sync.toBool())
        executeSQL(QStringLiteral("INSERT INTO clienttoserver SET newsid=")
                   + QString::number(newsId));
}

bool Database::checkpoint()
{
    if (isMySQL || !isOpen() || m_readOnly)
        return true;
    QSqlQuery query;
    if (!run(query, m_db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), nullptr,
             "SQL Error: "))
        return false;
    // The first column is 1 when a reader kept the checkpoint from finishing.
    return query.next() && query.value(0).toInt() == 0;
}

void Database::cleanDB(QWidget *parent)
{
    if (isMySQL) {
        Statics::showMessage(parent, tr("Diese Funktion ist im MySQL Modus nicht verfügbar"), 0);
        return;
    }
    const QString file = m_db.databaseName();
    checkpoint();
    const qint64 before = QFileInfo(file).size();
    const bool ok = executeSQL(QStringLiteral("VACUUM"));
    checkpoint();
    const qint64 after = QFileInfo(file).size();
    if (ok) {
        Statics::showMessage(parent,
                             tr("Die Datenbank wurde erfolgreich aufgeräumt, vorherige Größe: %1, "
                                "danach %2. Nicht mehr genutzte Bilder werden im Hintergrund "
                                "aufgeräumt.")
                                 .arg(formatSize(before), formatSize(after)),
                             0);
    } else {
        Statics::showMessage(parent,
                             tr("Die Datenbank konnte nicht aufgeräumt werden. Nicht mehr "
                                "genutzte Bilder werden im Hintergrund aufgeräumt."),
                             1);
    }
}

// --- Options ---------------------------------------------------------------------------

QString Database::getOption(QString name, QString defaultValue)
{
    const SqlRows rows
        = select(QStringLiteral("SELECT optionvalue FROM options WHERE optionname = '")
                 + escapeString(name) + QLatin1Char('\''));
    if (rows.isEmpty())
        return defaultValue;
    return rows.first().value(QStringLiteral("optionvalue")).toString();
}

void Database::setOption(QString name, QString value)
{
    // The seller was told at start that nothing is stored; the lists keep their settings in
    // memory meanwhile instead of failing on every fill.
    if (m_readOnly) {
        qCDebug(lcDb).noquote() << "Option" << name << "not stored: the database is read-only";
        return;
    }
    const QString where = QStringLiteral("optionname = '") + escapeString(name) + QLatin1Char('\'');
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("optionvalue"), value);
    const SqlRows stored = select(QStringLiteral("SELECT optionvalue FROM options WHERE ") + where);
    if (!stored.isEmpty()) {
        // An unchanged value is not written again: the lists store their sort order on every
        // fill.
        if (stored.first().value(QStringLiteral("optionvalue")).toString() != value)
            updateSqlClean(row, QStringLiteral("options"), where);
        return;
    }
    row.insert(QStringLiteral("optionname"), name);
    insertSqlClean(row, QStringLiteral("options"));
    // Another connection may have stored the name in between.
    if (!lastErrorText.isEmpty()) {
        row.remove(QStringLiteral("optionname"));
        updateSqlClean(row, QStringLiteral("options"), where);
    }
}

// --- Folders ---------------------------------------------------------------------------

QString Database::ensureFolder(const QString &path)
{
    if (!QDir().mkpath(path)) {
        qCWarning(lcDb).noquote() << "Can't create folder" << path;
        return QString();
    }
    return path;
}

QString Database::getCurrentDataDir()
{
    createPrivateFolder(m_dataDir);
    ensureFolder(m_dataDir);
    return m_dataDir;
}

QString Database::getCacheDir()
{
    return ensureFolder(getCurrentDataDir() + QStringLiteral("cache/"));
}

QString Database::getCurrentLogDir()
{
    return ensureFolder(getCurrentDataDir() + QStringLiteral("logs/"));
}

QString Database::getImageTempPath()
{
    return ensureFolder(getCurrentDataDir() + QStringLiteral("tmpimages/"));
}

QString Database::getCurrentAdImageDir()
{
    const QString shared = appProperty("mysqlimagepath").toString();
    if (!shared.isEmpty() && QFileInfo(shared).isDir())
        return ensureFolder(withTrailingSlash(shared) + QStringLiteral("adimages/"));
    return ensureFolder(getCurrentDataDir() + QStringLiteral("adimages/"));
}

QString Database::getCurrentAdImageDirThumbs()
{
    return ensureFolder(getCurrentDataDir() + QStringLiteral("adimages_thumb/"));
}

// --- Failed writes ---------------------------------------------------------------------

WriteFailures *WriteFailures::instance()
{
    static QMutex mutex;
    static QPointer<WriteFailures> failures;
    QMutexLocker locker(&mutex);
    if (!failures) {
        failures = new WriteFailures;
        if (QCoreApplication *app = QCoreApplication::instance()) {
            failures->moveToThread(app->thread());
            failures->setParent(app);
        }
    }
    return failures;
}
