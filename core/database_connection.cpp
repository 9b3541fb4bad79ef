// A Database object's connection: opening it (SQLite file or MySQL server with its session
// settings), closing it, and opening it again after the server went away.
#include "core/database.h"

#include "core/connectionsettings.h"
#include "core/databaseerrors.h"

#include "core/closeonexec.h"
#include "core/database_p.h"
#include "core/logging.h"
#include "core/sqltext.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>
#include <QWaitCondition>

#include <sys/stat.h>

using namespace DatabaseInternal;

namespace {

// A failed reconnect is tried again at a statement at most this often, so that a server
// that does not answer at all does not hold every statement for the connect time-out.
constexpr qint64 kReconnectPauseMs = 1000;

// How long a MySQL connection waits for the server (see Database::setDefaultResponseTimeout).
constexpr int kConnectTimeoutSeconds = 10;
QAtomicInt g_responseTimeoutSeconds = 15;
// How long a connection of the window's thread waits to be connected: a server that answers
// at all does so within moments; one that doesn't is tried by the probe (see ServerProbe).
constexpr int kResponsiveConnectSeconds = 2;
// The probe's pauses between its attempts: from the first, doubled up to the last.
constexpr int kProbeFirstPauseMs = 250;
constexpr int kProbeLongestPauseMs = 4000;
// How long one attempt of the probe waits for the server: short, so that closing the program
// never waits long for it.
constexpr int kProbeConnectSeconds = 3;

QAtomicPointer<QThread> g_responsiveThread;

bool onResponsiveThread()
{
    const QThread *responsive = g_responsiveThread.loadAcquire();
    return responsive && responsive == QThread::currentThread();
}

// The application's own thread, the one that runs the window: a connection opened there (the
// editor's, the template chooser's) holds the window while it waits, whether or not the
// window has started watching the server yet.
bool onWindowThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return onResponsiveThread() || (app && app->thread() == QThread::currentThread());
}

QString mySqlOptions(int responseSeconds, bool responsive)
{
    const int connectLimit = responsive ? kResponsiveConnectSeconds : kConnectTimeoutSeconds;
    return QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=%2;"
                          "MYSQL_OPT_WRITE_TIMEOUT=%2")
        .arg(qMin(connectLimit, responseSeconds))
        .arg(responseSeconds);
}

// A session of the window's thread lost with a write under way (see Database::endLostSession()):
// its id on the server, and when the server started (0: unknown).
struct LostSession
{
    quint32 id = 0;
    qint64 serverStart = 0;
};

// The server as the window's thread last found it. While it is away, a probe on a thread of
// its own tries to connect, with growing pauses; the window's connections meanwhile neither
// connect nor send anything.
struct ServerProbe
{
    QMutex mutex;
    QWaitCondition wake;
    bool away = false;
    bool stop = false;
    QString error; // why it went away, the driver's text
    QPointer<QThread> thread;
    // Ended by the probe before the server counts as back: the window's next statements then
    // find them gone at once instead of waiting for them.
    QVector<LostSession> lostSessions;
};

ServerProbe &probe()
{
    static ServerProbe state;
    return state;
}

bool probeStopping()
{
    ServerProbe &state = probe();
    QMutexLocker locker(&state.mutex);
    return state.stop;
}

enum class Reach { Greeted, Silent, Stopped };

// Whether the server speaks on a plain TCP connection within `timeoutSeconds`: in the MySQL
// protocol it greets first. Looked at in short steps, so that a probe being stopped (the
// program closing) ends it at once; an attempt of the database client can't be ended from
// outside and would hold the closing for its whole time-out. A server reached through its
// local socket ("localhost") is not looked at this way: it answers or refuses at once.
Reach greeting(int timeoutSeconds)
{
    const QString host = appProperty("mysqlhostname").toString();
    if (host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return Reach::Greeted;
    const int port = appProperty("mysqlport").toInt();
    constexpr int kStepMs = 50;
    QTcpSocket socket;
    socket.connectToHost(host, quint16(port > 0 ? port : 3306));
    const QDeadlineTimer deadline(qint64(timeoutSeconds) * 1000);
    while (!deadline.hasExpired()) {
        if (probeStopping())
            return Reach::Stopped;
        switch (socket.state()) {
        case QAbstractSocket::UnconnectedState:
            return Reach::Silent; // refused, unreachable, closed
        case QAbstractSocket::ConnectedState:
            if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(kStepMs))
                return Reach::Greeted;
            break;
        default:
            socket.waitForConnected(kStepMs);
            break;
        }
    }
    return probeStopping() ? Reach::Stopped : Reach::Silent;
}

// Ends the lost sessions noted so far (KILL) and waits until the server lists them no more,
// on `connection`; false while one may still be running.
bool endLostSessions(QSqlDatabase &connection, int timeoutSeconds)
{
    ServerProbe &state = probe();
    QVector<LostSession> sessions;
    {
        QMutexLocker locker(&state.mutex);
        sessions = state.lostSessions;
    }
    if (sessions.isEmpty())
        return true;
    constexpr qint64 kStartToleranceSeconds = 2;
    constexpr int kPollMs = 20;
    QSqlQuery query(connection);
    qint64 serverStart = 0;
    if (query.exec(QStringLiteral("SELECT UNIX_TIMESTAMP()")) && query.next()) {
        const qint64 now = query.value(0).toLongLong();
        if (query.exec(QStringLiteral("SHOW GLOBAL STATUS LIKE 'Uptime'")) && query.next())
            serverStart = now - query.value(1).toLongLong();
    }
    const QDeadlineTimer deadline(qint64(qMax(timeoutSeconds, 5)) * 1000);
    for (const LostSession &session : qAsConst(sessions)) {
        // A server started since took the session with it.
        if (serverStart != 0 && session.serverStart != 0
            && qAbs(serverStart - session.serverStart) > kStartToleranceSeconds)
            continue;
        const QString id = QString::number(session.id);
        // Without the server's start the id might name another connection: only awaited.
        if (serverStart != 0 && session.serverStart != 0)
            query.exec(QStringLiteral("KILL ") + id);
        for (;;) {
            if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                           "WHERE ID = ")
                            + id)
                || !query.next())
                return false;
            if (query.value(0).toInt() == 0)
                break;
            if (deadline.hasExpired() || probeStopping()) {
                qCWarning(lcDb).noquote() << "The lost session" << id << "is still running";
                return false;
            }
            QThread::msleep(kPollMs);
        }
        qCInfo(lcDb).noquote() << "The lost session" << id << "has ended";
    }
    QMutexLocker locker(&state.mutex);
    for (const LostSession &session : qAsConst(sessions)) {
        for (int i = state.lostSessions.size() - 1; i >= 0; --i) {
            if (state.lostSessions.at(i).id == session.id)
                state.lostSessions.removeAt(i);
        }
    }
    return true;
}

// One attempt to reach the server with the published settings; true when it answered and no
// session lost with a write under way runs any more.
bool serverAnswers(const QString &name, int timeoutSeconds)
{
    bool answered = false;
    {
        QSqlDatabase connection = QSqlDatabase::addDatabase(QLatin1String(kMySqlDriver), name);
        connection.setHostName(appProperty("mysqlhostname").toString());
        const int port = appProperty("mysqlport").toInt();
        connection.setPort(port > 0 ? port : 3306);
        connection.setDatabaseName(appProperty("mysqldatabase").toString());
        connection.setUserName(appProperty("mysqlusername").toString());
        connection.setPassword(appProperty("mysqlpassword").toString());
        connection.setConnectOptions(
            QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=%1;MYSQL_OPT_READ_TIMEOUT=%1;"
                           "MYSQL_OPT_WRITE_TIMEOUT=%1")
                .arg(timeoutSeconds));
        const bool opened = connection.open();
        if (opened)
            CloseOnExec::markSockets();
        answered = opened && QSqlQuery(connection).exec(QStringLiteral("DO 1"))
            && endLostSessions(connection, timeoutSeconds);
        connection.close();
    }
    QSqlDatabase::removeDatabase(name);
    return answered;
}

void runProbe(int timeoutSeconds)
{
    ServerProbe &state = probe();
    const QString name = QStringLiteral("serverProbe_") + DatabaseInternal::threadTag();
    int pauseMs = kProbeFirstPauseMs;
    for (;;) {
        {
            QMutexLocker locker(&state.mutex);
            if (!state.stop)
                state.wake.wait(&state.mutex, QDeadlineTimer(pauseMs));
            if (state.stop)
                return;
        }
        const Reach reach = greeting(timeoutSeconds);
        if (reach == Reach::Stopped)
            return;
        if (reach == Reach::Greeted && serverAnswers(name, timeoutSeconds)) {
            {
                QMutexLocker locker(&state.mutex);
                if (state.stop)
                    return;
                state.away = false;
            }
            qCInfo(lcDb).noquote() << "The database server answers again";
            emit WriteFailures::instance()->serverAnswers();
            return;
        }
        pauseMs = qMin(pauseMs * 2, kProbeLongestPauseMs);
    }
}

// Ends the probe under way, waiting for it at most as long as one attempt takes.
void stopProbe()
{
    ServerProbe &state = probe();
    QPointer<QThread> thread;
    {
        QMutexLocker locker(&state.mutex);
        state.stop = true;
        state.away = false;
        // A window made later has sessions of its own.
        state.lostSessions.clear();
        state.wake.wakeAll();
        thread = state.thread;
        state.thread = nullptr;
    }
    if (thread && !thread->wait(qint64(kProbeConnectSeconds + 2) * 1000))
        qCWarning(lcDb) << "The database probe is still running";
}

// The window's thread found the server away: its connections wait for the probe from now on.
void startProbe(const QString &error)
{
    ServerProbe &state = probe();
    QMutexLocker locker(&state.mutex);
    if (state.away)
        return;
    if (state.thread && !state.thread->isFinished())
        return; // it is telling that the server answers again
    state.away = true;
    state.stop = false;
    state.error = error;
    const int timeout = qMin(kProbeConnectSeconds, g_responseTimeoutSeconds.loadRelaxed());
    QThread *thread = QThread::create([timeout] { runProbe(timeout); });
    thread->setObjectName(QStringLiteral("DatabaseProbe"));
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    state.thread = thread;
    qCWarning(lcDb).noquote() << "The database server can't be reached; probing it:" << error;
    thread->start();
    static bool cleanupAdded = false;
    if (!cleanupAdded) {
        cleanupAdded = true;
        qAddPostRoutine(stopProbe);
    }
}

// The probe ends `session` before the server counts as back.
void probeEndsSession(LostSession session)
{
    ServerProbe &state = probe();
    QMutexLocker locker(&state.mutex);
    for (const LostSession &known : qAsConst(state.lostSessions)) {
        if (known.id == session.id)
            return;
    }
    state.lostSessions.append(session);
}

// Whether the probe is trying a server that is away; `error` tells why it went.
bool probing(QString *error = nullptr)
{
    ServerProbe &state = probe();
    QMutexLocker locker(&state.mutex);
    if (state.away && error)
        *error = state.error;
    return state.away;
}

// How long MariaDB keeps a session whose transaction sits idle (see
// Database::setIdleTransactionTimeoutForTesting()). The program's transactions run their
// statements one after the other and wait for nothing else; a workstation whose network died
// inside one holds its locks this long, against an hour (wait_timeout) before.
constexpr int kIdleTransactionSeconds = 30;
QAtomicInt g_idleTransactionSeconds = kIdleTransactionSeconds;
// How long a statement of the window's thread waits for a locked SQLite file.
constexpr int kResponsiveLockWaitMs = 2000;

// The program's session mode: standard string literals (see prepareSession()).
const QString kSqlMode = QStringLiteral("NO_BACKSLASH_ESCAPES,NO_ENGINE_SUBSTITUTION");
QMutex g_sqlModeMutex;
QString g_sqlModeForTesting;

QMutex g_ownersMutex;
QHash<QString, const Database *> g_owners;
QHash<QString, int> g_openFiles;

} // namespace

namespace DatabaseInternal {

QVariant appProperty(const char *name)
{
    // A thread given the settings of its connections takes them, not what the latest main
    // object published.
    if (const ConnectionSettings *given = ConnectionSettings::ofThisThread())
        return given->value(name);
    QCoreApplication *app = QCoreApplication::instance();
    return app ? app->property(name) : QVariant();
}

void setAppProperty(const QString &name, const QVariant &value)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->setProperty(name.toLatin1().constData(), value);
}

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

void fileOpened(const QString &file)
{
    QMutexLocker locker(&g_ownersMutex);
    ++g_openFiles[file];
}

bool fileClosed(const QString &file)
{
    QMutexLocker locker(&g_ownersMutex);
    const bool last = --g_openFiles[file] <= 0;
    if (last)
        g_openFiles.remove(file);
    return last;
}

QString threadTag()
{
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}

QString sessionSqlMode()
{
    QMutexLocker locker(&g_sqlModeMutex);
    return g_sqlModeForTesting.isNull() ? kSqlMode : g_sqlModeForTesting;
}

} // namespace DatabaseInternal

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

    // The folder the main object checked: the SQLite file is opened through it, never by
    // the folder's path again, and the folders of pictures and logs are made only in it.
    m_folder = sqliteFolder(m_dataDir);

    isMySQL = appProperty("mysqlhostname").isValid();
    m_responsive = onResponsiveThread();
    if (onWindowThread())
        m_lockTimeoutMs = kResponsiveLockWaitMs;
    QString away;
    if (isMySQL && waitsForServer(&away)) {
        // Made on the window's thread while the server is away: not tried now (see run()).
        m_db = QSqlDatabase::addDatabase(QLatin1String(kMySqlDriver), m_connectionName);
        claimConnection(m_connectionName, this);
        m_db.setHostName(appProperty("mysqlhostname").toString());
        const int port = appProperty("mysqlport").toInt();
        m_db.setPort(port > 0 ? port : 3306);
        m_db.setDatabaseName(appProperty("mysqldatabase").toString());
        m_db.setUserName(appProperty("mysqlusername").toString());
        m_db.setPassword(appProperty("mysqlpassword").toString());
        m_responseTimeoutSeconds = g_responseTimeoutSeconds.loadRelaxed();
        m_db.setConnectOptions(mySqlOptions(m_responseTimeoutSeconds, m_responsive));
        lastErrorText = brokenReason(away, false);
        m_lostError = away;
        m_connectionLost = true;
    } else if (isMySQL) {
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
        openSqlite();
    }
}

Database::~Database()
{
    close();
    if (m_main)
        withdrawSqliteFolder(m_folder);
}

void Database::close()
{
    m_prepared.clear();
    if (m_connectionName.isEmpty() || !m_db.isValid())
        return;
    if (m_db.driverName() == QLatin1String(kSqliteDriver) && m_db.isOpen()) {
        const bool last = fileClosed(m_db.databaseName());
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

bool Database::openSqlite()
{
    m_db = QSqlDatabase::addDatabase(QLatin1String(kSqliteDriver), m_connectionName);
    claimConnection(m_connectionName, this);
    const QString mode = appProperty(kSqliteModeProperty).toString();
    m_readOnly = !mode.isEmpty();
    if (mode == kRefused || !m_folder) {
        lastErrorText = QStringLiteral("the data folder is not the user's own; not opened");
        return false;
    }
    // A file deleted or replaced since the first open is not opened: what this connection
    // wrote would be lost, or land with another user.
    if (!m_folder->intact()) {
        lastErrorText = m_folder->lostText();
        return false;
    }
    // Never created here ("mode=rw"): the main object made it, at the first start.
    QString uri = QUrl::fromLocalFile(m_folder->file()).toString(QUrl::FullyEncoded);
    // A short wait inside SQLite; the statement helpers retry a locked file themselves.
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=100;QSQLITE_OPEN_URI");
    if (mode == kImmutable) {
        // Only this way SQLite reads a file whose folder it can't write.
        uri += QStringLiteral("?mode=ro&immutable=1");
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    } else if (m_readOnly) {
        uri += QStringLiteral("?mode=ro");
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    } else {
        uri += QStringLiteral("?mode=rw");
    }
    m_db.setDatabaseName(uri);
    m_db.setConnectOptions(options);
    beforeSqliteOpen();
    // The side files SQLite makes while opening are its owner's alone whatever the umask.
    // The umask is the process's: one open at a time changes it.
    static QMutex umaskMutex;
    QMutexLocker umaskLocker(&umaskMutex);
    const mode_t umaskBefore = ::umask(S_IRWXG | S_IRWXO);
    const auto restoreUmask = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
    if (!m_db.open()) {
        lastErrorText = m_db.lastError().text();
        qCWarning(lcDb).noquote() << "Can't open database" << m_folder->dataDir
                                  << getDatabaseName() << ":" << lastErrorText;
        return false;
    }
    fileOpened(m_db.databaseName());
    SqlText::registerSqlite(m_db);
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
    m_responseTimeoutSeconds = g_responseTimeoutSeconds.loadRelaxed();
    m_db.setConnectOptions(mySqlOptions(m_responseTimeoutSeconds, m_responsive));
    if (!m_db.open()) {
        lastErrorText = m_db.lastError().text();
        qCWarning(lcDb).noquote() << "Can't open MySQL database" << database << "on" << host << ":"
                                  << lastErrorText;
        return false;
    }
    // The client library's socket: a child started from now on must not hold the session.
    CloseOnExec::markSockets();
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
            } else if (!query.value(0)
                            .toString()
                            .split(QLatin1Char(','))
                            .contains(QLatin1String("NO_BACKSLASH_ESCAPES"))) {
                failure = QStringLiteral("sql_mode '%1' lacks NO_BACKSLASH_ESCAPES")
                              .arg(query.value(0).toString());
            }
        }
    }
    if (failure.isEmpty()) {
        // Waits for other sessions' locks are bounded, below the response time-out: a lock
        // held by another workstation is told as such (1205), never as a server that does not
        // answer. A session whose transaction sits idle is ended by MariaDB, so that a
        // workstation whose network died can't hold its locks for the wait_timeout. A server
        // that knows a setting by another name or not at all (1193; MySQL has no idle
        // transaction time-out) keeps its own.
        const int lockWait = qBound(1, m_responseTimeoutSeconds - 1, kLockWaitSeconds);
        const QStringList bounds = {
            QStringLiteral("SET SESSION innodb_lock_wait_timeout = %1").arg(lockWait),
            QStringLiteral("SET SESSION idle_transaction_timeout = %1")
                .arg(g_idleTransactionSeconds.loadRelaxed()),
        };
        QSqlQuery query(m_db);
        for (const QString &statement : bounds) {
            if (query.exec(statement))
                continue;
            const QSqlError error = query.lastError();
            if (isConnectionLost(error)) {
                failure = statement + QStringLiteral(": ") + error.text();
                lost = true;
                break;
            }
            qCInfo(lcDb).noquote() << "Session setting not taken:" << statement << ":"
                                   << error.text();
        }
    }
    if (failure.isEmpty()) {
        noteSession();
        return true;
    }
    lastErrorText = failure;
    m_sessionRefused = !lost;
    qCWarning(lcDb).noquote() << "MySQL session set-up failed, connection closed:" << failure;
    m_prepared.clear();
    m_db.close();
    return false;
}

bool Database::reconnect(bool pause)
{
    // The window's thread leaves a server that is away to the probe.
    QString away;
    if (waitsForServer(&away)) {
        m_lostError = away;
        m_sessionRefused = false;
        return false;
    }
    const qint64 now = QDeadlineTimer::current().deadline();
    if (pause && m_lastReconnectMs >= 0 && now - m_lastReconnectMs < kReconnectPauseMs)
        return false;
    m_prepared.clear();
    m_db.close();
    // The connect time-out of the thread it is used on (see setResponsiveThread()).
    m_db.setConnectOptions(mySqlOptions(m_responseTimeoutSeconds, m_responsive));
    if (!m_db.open()) {
        m_lostError = m_db.lastError().text();
        m_sessionRefused = false;
        m_lastReconnectMs = now;
        qCWarning(lcDb).noquote() << "Reconnect failed:" << m_lostError;
        return false;
    }
    CloseOnExec::markSockets();
    if (!prepareSession()) {
        m_lostError = lastErrorText;
        m_lastReconnectMs = now;
        return false;
    }
    m_lastReconnectMs = -1;
    qCInfo(lcDb).noquote() << "Connection" << m_connectionName << "opened again";
    return true;
}

void Database::noteSession()
{
    m_sessionId = 0;
    m_serverStart = 0;
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("SELECT CONNECTION_ID(), UNIX_TIMESTAMP()")) && query.next()) {
        m_sessionId = query.value(0).toUInt();
        const qint64 now = query.value(1).toLongLong();
        if (query.exec(QStringLiteral("SHOW GLOBAL STATUS LIKE 'Uptime'")) && query.next())
            m_serverStart = now - query.value(1).toLongLong();
    }
}

bool Database::endLostSession()
{
    constexpr qint64 kStartToleranceSeconds = 2;
    constexpr int kPollMs = 20;
    const quint32 lost = m_lostSessionId;
    if (lost == 0 || lost == m_sessionId)
        return true;
    const bool sameServer = m_serverStart != 0 && m_lostServerStart != 0
        && qAbs(m_serverStart - m_lostServerStart) <= kStartToleranceSeconds;
    if (m_serverStart != 0 && m_lostServerStart != 0 && !sameServer) {
        // The server started since: the session went with it, and its id may now be another
        // connection's.
        m_lostSessionId = 0;
        return true;
    }
    const QString id = QString::number(lost);
    QSqlQuery query(m_db);
    // An unknown thread (1094) has ended already. Without the server's start the id is not
    // ended: it might name another connection; it is only awaited.
    if (sameServer && !query.exec(QStringLiteral("KILL ") + id)
        && query.lastError().nativeErrorCode() != QLatin1String("1094"))
        qCWarning(lcDb).noquote() << "Can't end the lost session" << id << ":"
                                  << query.lastError().text();
    // A killed session ends within moments; a very short response time-out still gives it
    // a few seconds.
    constexpr int kMinimumWaitSeconds = 5;
    const QDeadlineTimer deadline(qint64(qMax(m_responseTimeoutSeconds, kMinimumWaitSeconds))
                                  * 1000);
    for (;;) {
        if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST "
                                       "WHERE ID = ")
                        + id)
            || !query.next()) {
            // Lost again: the next statement opens it anew and asks again.
            if (isConnectionLost(query.lastError())) {
                query = QSqlQuery();
                m_prepared.clear();
                m_db.close();
            }
            return false;
        }
        if (query.value(0).toInt() == 0) {
            qCInfo(lcDb).noquote() << "The lost session" << id << "has ended";
            m_lostSessionId = 0;
            return true;
        }
        if (deadline.hasExpired()) {
            qCWarning(lcDb).noquote() << "The lost session" << id << "is still running";
            return false;
        }
        QThread::msleep(kPollMs);
    }
}

QString Database::brokenReason(const QString &error, bool session)
{
    return session ? tr("Die Verbindung zur Datenbank wurde geschlossen, weil ihre "
                        "Sitzungseinstellungen nicht gesetzt werden konnten: %1")
                         .arg(error)
                   : DatabaseErrors::lostConnection(error);
}

void Database::leaveToProbe()
{
    if (m_lostSessionId != 0)
        probeEndsSession({ m_lostSessionId, m_lostServerStart });
    startProbe(m_lostError);
}

void Database::markBroken(const QString &error, bool session)
{
    // Found again after the probe's answer, too: the probe starts anew.
    if (!session && isMySQL && m_responsive) {
        if (m_lostSessionId != 0)
            probeEndsSession({ m_lostSessionId, m_lostServerStart });
        startProbe(error);
    }
    if (m_connectionLost)
        return;
    m_connectionLost = true;
    emit WriteFailures::instance()->connectionBroken(m_connectionName, brokenReason(error, session),
                                                     session);
}

void Database::markRestored()
{
    if (!m_connectionLost)
        return;
    m_connectionLost = false;
    qCInfo(lcDb).noquote() << "Connection" << m_connectionName << "works again";
    emit WriteFailures::instance()->connectionRestored(m_connectionName);
}

void Database::setDefaultResponseTimeout(int seconds)
{
    g_responseTimeoutSeconds.storeRelaxed(qMax(1, seconds));
}

bool Database::setResponseTimeout(int seconds)
{
    m_responseTimeoutSeconds = qMax(1, seconds);
    if (!isMySQL || !m_db.isValid())
        return isOpen();
    m_db.setConnectOptions(mySqlOptions(m_responseTimeoutSeconds, m_responsive));
    if (!reconnect(false)) {
        markBroken(m_lostError, m_sessionRefused);
        return false;
    }
    return true;
}

void Database::setResponsiveThread(QThread *thread)
{
    stopProbe();
    g_responsiveThread.storeRelease(thread);
}

bool Database::serverAway()
{
    return probing();
}

bool Database::waitsForServer(QString *error) const
{
    return m_responsive && probing(error);
}

void Database::setResponsive()
{
    m_responsive = true;
    m_lockTimeoutMs = qMin(m_lockTimeoutMs, kResponsiveLockWaitMs);
}

void Database::setIdleTransactionTimeoutForTesting(int seconds)
{
    g_idleTransactionSeconds.storeRelaxed(seconds > 0 ? seconds : kIdleTransactionSeconds);
}

void Database::setSqlModeForTesting(const QString &mode)
{
    QMutexLocker locker(&g_sqlModeMutex);
    g_sqlModeForTesting = mode;
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
