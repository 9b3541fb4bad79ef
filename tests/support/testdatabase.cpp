#include "tests/support/testdatabase.h"

#include "core/simplecrypt.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDebug>
#include <QProcess>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

namespace TestSupport {

namespace {
constexpr unsigned long long kSetupKey = 0x5e17a0c4d29b3f68ULL;

QString adminName()
{
    return QStringLiteral("test_admin_%1")
        .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
}
} // namespace

QSqlDatabase adminConnection(const MySqlServer &server, const QString &name,
                             const QString &database)
{
    QSqlDatabase db = QSqlDatabase::contains(name)
        ? QSqlDatabase::database(name, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    db.setHostName(server.host);
    db.setPort(server.port);
    db.setUserName(server.user);
    db.setPassword(server.password);
    db.setDatabaseName(database);
    db.open();
    return db;
}

MySqlServer MySqlServer::fromEnvironment()
{
    MySqlServer server;
    server.host = qEnvironmentVariable("ZERIRE_TEST_MYSQL_HOST");
    server.port = qEnvironmentVariableIntValue("ZERIRE_TEST_MYSQL_PORT");
    server.user = qEnvironmentVariable("ZERIRE_TEST_MYSQL_USER");
    server.password = qEnvironmentVariable("ZERIRE_TEST_MYSQL_PASSWORD");
    return server;
}

OwnMySqlServer::OwnMySqlServer()
{
    static QAtomicInt counter;
    m_name = QStringLiteral("own%1_%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(counter.fetchAndAddRelaxed(1));
    const MySqlServer shared = MySqlServer::fromEnvironment();
    m_server.user = shared.user;
    m_server.password = shared.password;
}

OwnMySqlServer::~OwnMySqlServer()
{
    if (m_running)
        stop();
}

bool OwnMySqlServer::available()
{
    return !qEnvironmentVariable("ZERIRE_TEST_MYSQL_SERVER").isEmpty();
}

bool OwnMySqlServer::run(const QString &command)
{
    QProcess helper;
    helper.start(qEnvironmentVariable("ZERIRE_TEST_MYSQL_SERVER"), { command, m_name });
    if (!helper.waitForFinished(60000) || helper.exitStatus() != QProcess::NormalExit
        || helper.exitCode() != 0) {
        m_error = QStringLiteral("%1 %2 failed: %3")
                      .arg(command, m_name, QString::fromLocal8Bit(helper.readAllStandardError()));
        return false;
    }
    if (command == QLatin1String("start")) {
        m_server.host = QStringLiteral("127.0.0.1");
        m_server.port = QString::fromLatin1(helper.readAllStandardOutput()).trimmed().toInt();
    }
    return true;
}

bool OwnMySqlServer::start()
{
    if (!available()) {
        m_error = QStringLiteral("the test command offers no server of the test's own");
        return false;
    }
    m_running = run(QStringLiteral("start"));
    return m_running;
}

bool OwnMySqlServer::stop()
{
    const bool stopped = run(QStringLiteral("stop"));
    m_running = !stopped;
    return stopped;
}

bool mysqlRequired()
{
    return qEnvironmentVariable("ZERIRE_TEST_REQUIRE_MYSQL") == QLatin1String("1");
}

void addBackendRows()
{
    QTest::addColumn<Backend>("backend");
    QTest::newRow("sqlite") << Backend::SQLite;
    QTest::newRow("mysql") << Backend::MySQL;
}

void writeMySqlSetup(const QString &dataDir, const MySqlServer &server, const QString &database,
                     bool active, bool syncWorkstation, const QString &imagePath)
{
    QSettings setup(dataDir + QStringLiteral("mysql.setup"), QSettings::IniFormat);
    setup.setValue(QStringLiteral("hostname"), server.host);
    setup.setValue(QStringLiteral("port"), server.port);
    setup.setValue(QStringLiteral("username"), server.user);
    setup.setValue(QStringLiteral("password"),
                   SimpleCrypt(kSetupKey).encryptToString(server.password));
    setup.setValue(QStringLiteral("database"), database);
    setup.setValue(QStringLiteral("active"), active);
    setup.setValue(QStringLiteral("syncworkstation"), syncWorkstation);
    setup.setValue(QStringLiteral("imagepath"), imagePath);
    setup.sync();
}

void clearDatabaseProperties()
{
    for (const char *name :
         { "datadir", "CurrentDataPath", "mysqlhostname", "mysqlport", "mysqldatabase",
           "mysqlusername", "mysqlpassword", "mysqlimagepath", "mysqlsyncworkstation" })
        qApp->setProperty(name, QVariant());
}

TestDatabase::TestDatabase(Backend backend)
    : m_backend(backend)
{
    if (backend == Backend::MySQL)
        create(MySqlServer::fromEnvironment());
    else
        create(MySqlServer());
}

TestDatabase::TestDatabase(const MySqlServer &server)
    : m_backend(Backend::MySQL)
{
    create(server);
}

void TestDatabase::create(const MySqlServer &server)
{
    m_server = server;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (m_backend == Backend::MySQL) {
        if (!server.configured()) {
            m_error = QStringLiteral("no MariaDB test server configured");
            return;
        }
        static QAtomicInt counter;
        m_mysqlDatabase = QStringLiteral("zt_%1_%2")
                              .arg(QCoreApplication::applicationPid())
                              .arg(counter.fetchAndAddRelaxed(1));
        {
            QSqlDatabase admin = adminConnection(server, adminName());
            QSqlQuery query(admin);
            if (!query.exec(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4 "
                                           "COLLATE utf8mb4_unicode_ci")
                                .arg(m_mysqlDatabase))) {
                m_error = QStringLiteral("can't create the test database: ")
                    + query.lastError().text() + admin.lastError().text();
                m_mysqlDatabase.clear();
                return;
            }
        }
        writeMySqlSetup(dataDir(), server, m_mysqlDatabase, true);
    }
    reopen();
    if (m_error.isEmpty() && !m_db->isOpen())
        m_error = QStringLiteral("the database did not open: ") + m_db->lastErrorText;
    if (m_error.isEmpty() && (m_backend == Backend::MySQL) != m_db->isMySQL)
        m_error = QStringLiteral("the database opened in the wrong mode");
}

TestDatabase::~TestDatabase()
{
    m_db.reset();
    clearDatabaseProperties();
    if (!m_mysqlDatabase.isEmpty()) {
        QSqlDatabase admin = adminConnection(m_server, adminName());
        QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(m_mysqlDatabase));
    }
}

void TestDatabase::reopen()
{
    m_db.reset();
    m_db = std::make_unique<Database>(dataDir());
}

void TestDatabase::closeMain()
{
    m_db.reset();
}

QSqlDatabase TestDatabase::rawConnection(const QString &name)
{
    if (m_backend == Backend::MySQL)
        return adminConnection(m_server, name, m_mysqlDatabase);
    QSqlDatabase db = QSqlDatabase::contains(name)
        ? QSqlDatabase::database(name, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(dataDir() + Database::getDatabaseName());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    db.open();
    return db;
}

bool refuseRows(Database *db, const QString &table, const QString &event, const QString &message,
                const QString &condition)
{
    const QString when = condition.isEmpty() ? QStringLiteral("1 = 1") : condition;
    const QString quoted = QString(message).replace(QLatin1Char('\''), QLatin1String("''"));
    const QString name = QStringLiteral("refuse_%1_%2").arg(table, event.toLower());
    const QString sql = db->isMySQL
        ? QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW BEGIN IF %4 THEN SIGNAL "
                         "SQLSTATE '45000' SET MESSAGE_TEXT = '%5'; END IF; END")
        : QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 WHEN %4 BEGIN "
                         "SELECT RAISE(ABORT, '%5'); END");
    QSqlQuery query(db->connection());
    if (query.exec(sql.arg(name, event, table, when, quoted)))
        return true;
    qWarning().noquote() << "can't make the trigger" << name << query.lastError().text();
    return false;
}

QString values(Database *db, int id, const QString &columns)
{
    const auto row
        = db->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id)).value().value(0);
    QStringList list;
    for (const QString &name : columns.split(QLatin1Char(',')))
        list << row.value(name).toString();
    return list.join(QLatin1Char('|'));
}

} // namespace TestSupport
