// The main Database object: the data folder and its permissions, the choice between the
// local file and the shared server, the schema, options, folders and the file's upkeep.
// Connections and statements are in database_connection.cpp and database_statements.cpp.
#include "core/database.h"

#include "core/database_p.h"
#include "core/databaseerrors.h"
#include "core/logging.h"
#include "core/privatefile.h"
#include "core/schema.h"
#include "core/simplecrypt.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/untrustedfile.h"

#include <atomic>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QMutex>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace DatabaseInternal;

namespace {

// Key of the MySQL password in "mysql.setup".
constexpr unsigned long long kSetupKey = 0x5e17a0c4d29b3f68ULL;

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

// Below this much free space the data folder counts as full.
constexpr qint64 kMinimumFreeBytes = 512 * 1024;

// Whether a main object tells the user at once what it found wrong (setStartProblemsShown).
std::atomic<bool> g_showStartProblems { true };

// The data folder and the database (the accounts' tokens stand in it in clear) are the
// seller's alone. A folder made here is so from the start; what an older version or a
// copy left readable by other users is closed at start, in the log and without a word to
// the seller. Only what the check passed is narrowed, through the checked folder's descriptor.
void protectDataFolder(int folder, const QString &shown)
{
    struct stat status = {};
    if (::fstat(folder, &status) != 0 || !(status.st_mode & (S_IRWXG | S_IRWXO)))
        return;
    if (::fchmod(folder, status.st_mode & S_IRWXU) == 0)
        qCInfo(lcDb).noquote() << "The data folder" << shown
                               << "was open to other users; now it is its owner's alone";
}

// The names of the database's side files (SQLite gives them the mode of the database file).
const QStringList &sideFiles()
{
    static const QStringList names = { QStringLiteral("-wal"), QStringLiteral("-shm"),
                                       QStringLiteral("-journal") };
    return names;
}

// The database with its side files and the MySQL settings with their password. `report`:
// what was there before the start is logged when it had to be closed.
void protectDataFiles(int folder, const QString &shown, bool report)
{
    const QString database = Database::getDatabaseName();
    QStringList names = { database };
    for (const QString &side : sideFiles())
        names << database + side;
    names << QStringLiteral("mysql.setup");
    for (const QString &name : qAsConst(names)) {
        const QByteArray encoded = QFile::encodeName(name);
        struct stat status = {};
        // Only plain files: a link is not followed to its target.
        if (::fstatat(folder, encoded.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(status.st_mode) || !(status.st_mode & (S_IRWXG | S_IRWXO)))
            continue;
        if (::fchmodat(folder, encoded.constData(), status.st_mode & S_IRWXU, 0) == 0 && report)
            qCInfo(lcDb).noquote() << "The file" << shown + name
                                   << "was open to other users; now it is its owner's alone";
    }
}

QString otherOwnerText(const QString &shown)
{
    return Database::tr("\"%1\" gehört einem anderen Benutzer. Das Programm öffnet die "
                        "Datenbank darin nicht, denn dieser Benutzer könnte Ihre Daten "
                        "und die Zugangsdaten Ihrer Konten lesen oder ändern. Übertragen "
                        "Sie \"%1\" Ihrem eigenen Benutzer (chown) oder wählen Sie "
                        "einen anderen Datenordner.")
        .arg(shown);
}

QString othersWriteText(const QString &shown)
{
    return Database::tr("\"%1\" kann auch von anderen Benutzern geändert werden. Das "
                        "Programm öffnet die Datenbank darin nicht. Nehmen Sie anderen "
                        "Benutzern das Schreibrecht (chmod go-w \"%1\") und starten Sie "
                        "das Programm neu.")
        .arg(shown);
}

// What stands where a plain file belongs, as the seller reads it; empty for a plain file.
QString kindOfEntry(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISLNK(mode))
        return Database::tr("ein symbolischer Link");
    if (S_ISFIFO(mode))
        return Database::tr("eine benannte Pipe (FIFO)");
    if (S_ISSOCK(mode))
        return Database::tr("ein Socket");
    if (S_ISDIR(mode))
        return Database::tr("ein Ordner");
    return Database::tr("eine Gerätedatei");
}

// What keeps the program from using the database in the checked folder `folder`: the
// database or one of its side files belonging to another user, writable by users other than
// the owner, or no plain file at all (a link could lead anywhere; SQLite would wait forever
// for a pipe). Looked at without following or opening anything.
QString entryProblem(int folder, const QString &shown)
{
    const QString database = Database::getDatabaseName();
    QStringList names = { database };
    for (const QString &side : sideFiles())
        names << database + side;
    for (const QString &name : qAsConst(names)) {
        struct stat status = {};
        if (::fstatat(folder, QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW)
            != 0)
            continue;
        const QString path = QDir::toNativeSeparators(shown + name);
        const QString kind = kindOfEntry(status.st_mode);
        if (!kind.isEmpty()) {
            return Database::tr("\"%1\" ist keine gewöhnliche Datei, sondern %2. Das Programm "
                                "öffnet die Datenbank nicht. Entfernen Sie \"%1\" oder "
                                "wählen Sie einen anderen Datenordner.")
                .arg(path, kind);
        }
        if (status.st_uid != ::geteuid())
            return otherOwnerText(path);
        if (status.st_mode & (S_IWGRP | S_IWOTH))
            return othersWriteText(path);
    }
    return QString();
}

QMutex g_folderMutex;
// The folders checked by the main objects alive, the newest first. A main object made for a
// moment beside the program's own (the settings store the data folder chosen for the next
// start in the default folder's database) must not take the program's record with it when
// it goes: further connections would then walk the folder anew and never learn which file
// was opened at start.
QList<std::shared_ptr<SqliteFolder>> g_folders;
std::function<void()> g_beforeOpen;

} // namespace

namespace DatabaseInternal {

QString withTrailingSlash(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

SqliteFolder::SqliteFolder(const QString &dataDir, int fd, const QString &realPath)
    : dataDir(dataDir)
    , fd(fd)
    , realPath(realPath)
    , openPath(PrivateFile::throughDescriptor(fd, realPath))
{ }

SqliteFolder::~SqliteFolder()
{
    ::close(fd);
}

QString SqliteFolder::file() const
{
    return openPath + Database::getDatabaseName();
}

void SqliteFolder::identify()
{
    if (identified())
        return;
    struct stat status = {};
    if (::fstatat(fd, QFile::encodeName(Database::getDatabaseName()).constData(), &status,
                  AT_SYMLINK_NOFOLLOW)
        != 0)
        return;
    m_device = status.st_dev;
    m_inode = status.st_ino;
    m_identified.store(true, std::memory_order_release);
}

bool SqliteFolder::intact()
{
    if (m_lost.load())
        return false;
    if (!identified())
        return true;
    struct stat status = {};
    if (::fstatat(fd, QFile::encodeName(Database::getDatabaseName()).constData(), &status,
                  AT_SYMLINK_NOFOLLOW)
            == 0
        && status.st_dev == m_device && status.st_ino == m_inode)
        return true;
    if (!m_lost.exchange(true)) {
        const QString text = lostText();
        qCWarning(lcDb).noquote() << "The database file" << file()
                                  << "was deleted or replaced; nothing is written any more";
        emit WriteFailures::instance()->databaseFileLost(text);
    }
    return false;
}

QString SqliteFolder::lostText() const
{
    return Database::tr("Die Datenbank \"%1\" wurde gelöscht oder durch eine andere Datei "
                        "ersetzt, während das Programm lief. Damit nichts in eine falsche oder "
                        "neue Datei geschrieben wird, speichert das Programm bis zum nächsten "
                        "Start nichts mehr. Beenden Sie das Programm und legen Sie die "
                        "Datenbank zurück oder stellen Sie eine Sicherung wieder her.")
        .arg(QDir::toNativeSeparators(dataDir + Database::getDatabaseName()));
}

QString openSqliteFolder(const QString &dataDir, bool create, std::shared_ptr<SqliteFolder> *folder)
{
    folder->reset();
    const PrivateFile::Folder opened = PrivateFile::openFolder(dataDir, create);
    const QString at = QDir::toNativeSeparators(opened.at);
    switch (opened.fault) {
    case PrivateFile::Folder::Fault::None:
        break;
    case PrivateFile::Folder::Fault::OtherOwner:
        return otherOwnerText(at);
    case PrivateFile::Folder::Fault::OthersWrite:
        return othersWriteText(at);
    case PrivateFile::Folder::Fault::Unusable:
        qCWarning(lcDb).noquote() << "The data folder" << dataDir << "can't be opened at" << at
                                  << ":" << QString::fromLocal8Bit(std::strerror(opened.error));
        return Database::tr("Der Datenordner \"%1\" kann nicht angelegt werden. Das Programm "
                            "kann so keine Daten speichern.")
            .arg(QDir::toNativeSeparators(dataDir));
    }
    const QString problem = entryProblem(opened.fd, opened.realPath);
    if (!problem.isEmpty()) {
        ::close(opened.fd);
        return problem;
    }
    *folder = std::make_shared<SqliteFolder>(dataDir, opened.fd, opened.realPath);
    return QString();
}

std::shared_ptr<SqliteFolder> sqliteFolder(const QString &dataDir)
{
    {
        QMutexLocker locker(&g_folderMutex);
        for (const std::shared_ptr<SqliteFolder> &published : qAsConst(g_folders)) {
            if (published->dataDir == dataDir)
                return published;
        }
    }
    std::shared_ptr<SqliteFolder> folder;
    const QString problem = openSqliteFolder(dataDir, false, &folder);
    if (!problem.isEmpty())
        qCWarning(lcDb).noquote() << problem;
    return folder;
}

void publishSqliteFolder(const std::shared_ptr<SqliteFolder> &folder)
{
    if (!folder)
        return;
    QMutexLocker locker(&g_folderMutex);
    g_folders.prepend(folder);
}

void withdrawSqliteFolder(const std::shared_ptr<SqliteFolder> &folder)
{
    if (!folder)
        return;
    QMutexLocker locker(&g_folderMutex);
    g_folders.removeOne(folder);
}

void beforeSqliteOpen()
{
    std::function<void()> hook;
    {
        QMutexLocker locker(&g_folderMutex);
        hook = g_beforeOpen;
    }
    if (hook)
        hook();
}

} // namespace DatabaseInternal

void Database::setBeforeSqliteOpenForTesting(std::function<void()> hook)
{
    QMutexLocker locker(&g_folderMutex);
    g_beforeOpen = std::move(hook);
}

// --- Construction ---------------------------------------------------------------------

namespace {
QAtomicInt g_mainCounter;
} // namespace

int Database::mainGeneration()
{
    return g_mainCounter.loadAcquire();
}

Database::Database(QString path, QObject *parent)
    : QObject(parent)
{
    m_connectionName
        = QStringLiteral("main%1_%2").arg(g_mainCounter.fetchAndAddOrdered(1) + 1).arg(threadTag());
    m_main = true;
    m_dataDir = withTrailingSlash(path.isEmpty() ? defaultDataDir() : path);
    // Nothing is made or read in the folder before it passed: not even the folder itself
    // where one above it is not the seller's own.
    m_startProblem = openSqliteFolder(m_dataDir, true, &m_folder);
    publishSqliteFolder(m_folder);
    if (m_folder) {
        protectDataFolder(m_folder->fd, m_folder->realPath);
        protectDataFiles(m_folder->fd, m_folder->realPath, true);
    }
    // Nor do the other threads' connections open anything in a folder that is not the
    // seller's own.
    setAppProperty(QLatin1String(kSqliteModeProperty),
                   m_startProblem.isEmpty() ? QVariant() : QVariant(kRefused));

    setAppProperty(QStringLiteral("datadir"), m_dataDir);
    setAppProperty(QStringLiteral("CurrentDataPath"), m_dataDir);
    if (!m_startProblem.isEmpty()) {
        for (const QString &name : mySqlProperties())
            setAppProperty(name, QVariant());
        qCWarning(lcDb).noquote() << m_startProblem;
        if (g_showStartProblems)
            Statics::showMessage(nullptr, m_startProblem, 2);
        return;
    }

    QSettings setup(m_folder->openPath + QStringLiteral("mysql.setup"), QSettings::IniFormat);
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
                    .arg(database, host, DatabaseErrors::connectFailure(error)),
                2);
        }
    }

    if (!isMySQL) {
        for (const QString &name : mySqlProperties())
            setAppProperty(name, QVariant());
        openMainSqlite();
        protectDataFiles(m_folder->fd, m_folder->realPath, false);
        if (isOpen()) {
            m_folder->identify();
            watchSqliteFile();
        }
    }

    if (isOpen() && !m_readOnly && !Schema::upgrade(*this)) {
        qCWarning(lcDb).noquote() << "The database could not be brought up to date:"
                                  << lastErrorText;
        // What this version stores in columns the upgrade would add is not stored meanwhile.
        if (g_showStartProblems)
            Statics::showMessage(
                nullptr,
                tr("Die Datenbank konnte nicht auf den Stand dieser Programmversion gebracht "
                   "werden: %1\n\nManche Angaben werden deshalb nicht gespeichert. Beim "
                   "nächsten Start wird es erneut versucht.")
                    .arg(lastErrorText),
                2);
    }
    if (!m_startProblem.isEmpty()) {
        qCWarning(lcDb).noquote() << m_startProblem;
        if (g_showStartProblems)
            Statics::showMessage(nullptr, m_startProblem, 2);
    }
}

void Database::openMainSqlite()
{
    const QString folder = QDir::toNativeSeparators(m_dataDir);
    const QString shown = QDir::toNativeSeparators(m_dataDir + getDatabaseName());
    const int dir = m_folder->fd;
    const QByteArray name = QFile::encodeName(getDatabaseName());
    // Asked of the folder that was checked, not of its path.
    struct statvfs space = {};
    const bool full = ::fstatvfs(dir, &space) == 0
        && qint64(space.f_bavail) * qint64(space.f_frsize) < kMinimumFreeBytes;
    const QString fullText = tr("Auf dem Datenträger des Datenordners \"%1\" ist kein Platz "
                                "mehr frei. Die Datenbank wird bis zum nächsten Start nur "
                                "gelesen, Änderungen werden nicht gespeichert.")
                                 .arg(folder);
    const bool folderWritable = ::faccessat(dir, ".", W_OK, AT_EACCESS) == 0;
    const QString folderText = tr("In den Datenordner \"%1\" kann nicht geschrieben werden. "
                                  "Die Datenbank wird nur gelesen, Änderungen werden nicht "
                                  "gespeichert.")
                                   .arg(folder);
    struct stat status = {};
    if (::fstatat(dir, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        // Never an empty database in some other place: the seller would work on it and
        // lose everything at the next start.
        if (!folderWritable || full) {
            m_startProblem = full ? fullText : folderText;
            setAppProperty(QLatin1String(kSqliteModeProperty), kImmutable);
            return;
        }
        // The one place the file is ever made: readable and writable by its owner only
        // (its side files take its mode), never through a link, never over a file that
        // appeared meanwhile. Every connection then opens it without creating.
        const int fd = ::openat(dir, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                S_IRUSR | S_IWUSR);
        if (fd < 0) {
            m_startProblem = tr("Die Datenbank \"%1\" kann nicht angelegt werden: %2")
                                 .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
            setAppProperty(QLatin1String(kSqliteModeProperty), kRefused);
            return;
        }
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        ::close(fd);
        openSqlite();
        return;
    }

    // Looked at without writing first: a damaged file stays as it is, so that a backup can
    // still replace it. Where SQLite can't keep its shared-memory file beside the database
    // (a folder it can't write, a full disk), it can read the file only as unchangeable.
    setAppProperty(QLatin1String(kSqliteModeProperty),
                   folderWritable && !full ? kReadOnly : kImmutable);
    if (!openSqlite()) {
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
    } else if (isForeignDatabase()) {
        // Another program's data: no table of ours is added to it.
        m_startProblem = tr("Die Datei \"%1\" ist keine Datenbank dieses Programms: Sie enthält "
                            "Tabellen, aber keine des Programms. Das Programm verändert sie "
                            "nicht. Benennen Sie die Datei um oder verschieben Sie sie, oder "
                            "wählen Sie einen anderen Datenordner.")
                             .arg(shown);
        close();
        setAppProperty(QLatin1String(kSqliteModeProperty), kRefused);
        return;
    } else if (::faccessat(dir, name.constData(), W_OK, AT_EACCESS) != 0) {
        m_startProblem = tr("Die Datenbank \"%1\" ist schreibgeschützt. Sie wird nur "
                            "gelesen, Änderungen werden nicht gespeichert.")
                             .arg(shown);
    }
    if (!m_startProblem.isEmpty())
        return;
    close();
    setAppProperty(QLatin1String(kSqliteModeProperty), QVariant());
    openSqlite();
}

void Database::watchSqliteFile()
{
    if (!QCoreApplication::instance())
        return;
    // Told at once, not only at the next command: the seller may be typing an article.
    auto *watch = new QFileSystemWatcher(this);
    const std::shared_ptr<SqliteFolder> folder = m_folder;
    connect(watch, &QFileSystemWatcher::directoryChanged, this, [folder] { folder->intact(); });
    watch->addPath(folder->openPath);
}

bool Database::sqliteFileIntact()
{
    if (isMySQL || !m_folder || m_folder->intact())
        return true;
    lastErrorText = m_folder->lostText();
    m_lastOutcome = Outcome::NotWritten;
    m_lastFailureTransient = false;
    ++m_failedStatements;
    emit WriteFailures::instance()->failed(m_connectionName, lastErrorText, QString(), false);
    return false;
}

QString Database::sqliteFile() const
{
    return isMySQL || !m_folder ? QString() : m_folder->file();
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

bool Database::isForeignDatabase()
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name "
                                   "NOT LIKE 'sqlite\\_%' ESCAPE '\\'")))
        return false;
    bool anyTable = false;
    while (query.next()) {
        if (Schema::table(query.value(0).toString()))
            return false;
        anyTable = true;
    }
    return anyTable;
}

QString Database::defaultDataDir()
{
    // A relative XDG_DATA_HOME is to be ignored, as if it were not set: it would put the
    // data below whatever folder the program was started from.
    const QString xdg = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    const QString base = !xdg.isEmpty() && QDir::isRelativePath(xdg)
        ? QDir::homePath() + QStringLiteral("/.local/share")
        : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QStringLiteral("/Revevor/Zerire3/");
}

QString Database::dataFolderProblem(const QString &path)
{
    std::shared_ptr<DatabaseInternal::SqliteFolder> folder;
    return DatabaseInternal::openSqliteFolder(DatabaseInternal::withTrailingSlash(path), false,
                                              &folder);
}

QString Database::getDatabaseName()
{
    return QStringLiteral("ZirevPavlet.sqlite");
}

// --- Upkeep ----------------------------------------------------------------------------

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

QString Database::sizeText(qint64 bytes)
{
    return formatSize(bytes);
}

Database::Cleaned Database::cleanDB(const std::function<bool()> &cancelled)
{
    Cleaned cleaned;
    const auto stopped = [&cancelled] { return cancelled && cancelled(); };
    const auto failed = [&] {
        cleaned.error = lastErrorText.isEmpty() ? tr("unbekannter Fehler") : lastErrorText;
        cleaned.outcome = m_lastOutcome == Outcome::Done ? Outcome::NotWritten : m_lastOutcome;
        return cleaned;
    };
    {
        // Set-based: a few statements over every emptied article at once, all or nothing.
        Transaction removal(*this);
        if (!removal.isOpen())
            return failed();
        const Read<int> count = selectCount(QStringLiteral("SELECT id FROM articles WHERE Trash=1"));
        if (!count.ok())
            return failed();
        const QString emptied = QStringLiteral(" WHERE article_id IN (SELECT id FROM articles "
                                               "WHERE Trash=1)");
        const QStringList statements {
            QStringLiteral("DELETE FROM articles_images") + emptied,
            QStringLiteral("DELETE FROM articles_variations") + emptied,
            QStringLiteral("DELETE FROM articles_variations_op_val") + emptied,
            QStringLiteral("DELETE FROM articles WHERE Trash=1"),
        };
        for (const QString &statement : statements) {
            if (*count == 0)
                break;
            if (stopped()) {
                removal.rollback();
                cleaned.cancelled = true;
                return cleaned;
            }
            // Deleting what is deleted changes nothing: safe to send again.
            if (!executeSQL(statement, Repeat::Safe))
                return failed();
        }
        if (!removal.commit())
            return failed();
        cleaned.removedStored = true;
        cleaned.removed = *count;
    }
    // The server keeps its own files.
    if (isMySQL)
        return cleaned;
    if (stopped()) {
        cleaned.cancelled = true;
        return cleaned;
    }
    const QString file = sqliteFile();
    // The sizes are those of the file with the log copied into it; a checkpoint that a
    // reader kept from finishing only makes them approximate.
    checkpoint();
    cleaned.sizeBefore = QFileInfo(file).size();
    // Outside any transaction, as VACUUM must be; it is refused, as every write outside a
    // transaction is, when the file is no longer the one opened at start.
    if (!executeSQL(QStringLiteral("VACUUM")))
        return failed();
    checkpoint();
    cleaned.sizeAfter = QFileInfo(file).size();
    cleaned.compacted = true;
    return cleaned;
}

// --- Options ---------------------------------------------------------------------------

Read<QString> Database::getOption(QString name, QString defaultValue)
{
    const Read<SqlRows> rows
        = select(QStringLiteral("SELECT optionvalue FROM options WHERE optionname = '")
                 + escapeString(name) + QLatin1Char('\''));
    if (!rows.ok())
        return Read<QString>::failed(rows.error());
    if (rows->isEmpty())
        return defaultValue;
    return rows->first().value(QStringLiteral("optionvalue")).toString();
}

bool Database::setOption(QString name, QString value)
{
    // The seller was told at start that nothing is stored.
    if (m_readOnly) {
        qCDebug(lcDb).noquote() << "Option" << name << "not stored: the database is read-only";
        lastErrorText = tr("Die Datenbank wird nur gelesen, Änderungen werden nicht gespeichert.");
        m_lastOutcome = Outcome::NotWritten;
        return false;
    }
    const QString where = QStringLiteral("optionname = '") + escapeString(name) + QLatin1Char('\'');
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("optionvalue"), value);
    const Read<SqlRows> stored
        = select(QStringLiteral("SELECT optionvalue FROM options WHERE ") + where);
    if (!stored.ok())
        return false;
    if (!stored->isEmpty()) {
        // An unchanged value is not written again: the lists store their sort order on every
        // fill.
        if (stored->first().value(QStringLiteral("optionvalue")).toString() == value)
            return true;
        return updateSqlClean(row, QStringLiteral("options"), where);
    }
    row.insert(QStringLiteral("optionname"), name);
    QString refusal;
    {
        // Another connection may have stored the name in between: then it is updated below.
        const FailureTolerated raced(*this);
        if (insertSqlClean(row, QStringLiteral("options")) > 0 || lastErrorText.isEmpty())
            return true;
        refusal = lastErrorText;
    }
    if (lastOutcome() != Outcome::Refused)
        return false;
    // Refused for itself (a rule of the server, a full disk), the row is still missing, and an
    // UPDATE would change nothing: the value is not stored.
    const Read<SqlRows> raced
        = select(QStringLiteral("SELECT optionname FROM options WHERE ") + where);
    if (!raced.ok())
        return false;
    if (raced->isEmpty()) {
        lastErrorText = refusal;
        m_lastOutcome = Outcome::Refused;
        noteFailureInTransaction(m_lastOutcome);
        return false;
    }
    row.remove(QStringLiteral("optionname"));
    return updateSqlClean(row, QStringLiteral("options"), where);
}

// --- Folders ---------------------------------------------------------------------------

QString Database::ensureFolder(const QString &path)
{
    // The data folder's own folders are the seller's alone, whatever the umask; the shared
    // picture folder of several workstations keeps the modes its owner gave.
    const bool own = path.startsWith(m_dataDir);
    // Nothing, not even the log, goes into a data folder that did not pass its check.
    if (own && !m_folder)
        return QString();
    if (!(own ? PrivateFile::makePath(path) : QDir().mkpath(path))) {
        qCWarning(lcDb).noquote() << "Can't create folder" << path;
        return QString();
    }
    return path;
}

QString Database::getCurrentDataDir()
{
    if (m_folder)
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
    const QString folder = !shared.isEmpty() && QFileInfo(shared).isDir()
        ? ensureFolder(withTrailingSlash(shared) + QStringLiteral("adimages/"))
        : ensureFolder(getCurrentDataDir() + QStringLiteral("adimages/"));
    // Picture rows name files of this folder: what they name is opened beneath it.
    UntrustedFile::addPictureFolder(folder);
    return folder;
}

QString Database::getCurrentAdImageDirThumbs()
{
    const QString folder = ensureFolder(getCurrentDataDir() + QStringLiteral("adimages_thumb/"));
    UntrustedFile::addPictureFolder(folder);
    return folder;
}
