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

#include <atomic>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStorageInfo>

#include <fcntl.h>
#include <sys/stat.h>
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
// copy left open to other users is closed at start, in the log and without a word to the
// seller.
bool createPrivateFolder(const QString &folder)
{
    if (QFileInfo::exists(folder))
        return false;
    PrivateFile::makePath(folder);
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

// What keeps the program from using the data folder `folder` (ending with "/"): the folder
// itself, the database or one of its side files belonging to another user or writable by
// users other than the owner. Such a user could read the accounts' tokens, or change what
// the program reads, so nothing in it is opened; the seller is told what to do.
QString foreignDataProblem(const QString &folder)
{
    const QString database = folder + Database::getDatabaseName();
    for (const QString &path :
         { folder, database, database + QStringLiteral("-wal"), database + QStringLiteral("-shm"),
           database + QStringLiteral("-journal") }) {
        struct stat status = {};
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        const QString shown = QDir::toNativeSeparators(QDir::cleanPath(path));
        if (status.st_uid != ::geteuid()) {
            return Database::tr("\"%1\" gehört einem anderen Benutzer. Das Programm öffnet die "
                                "Datenbank darin nicht, denn dieser Benutzer könnte Ihre Daten "
                                "und die Zugangsdaten Ihrer Konten lesen oder ändern. Übertragen "
                                "Sie \"%1\" Ihrem eigenen Benutzer (chown) oder wählen Sie "
                                "einen anderen Datenordner.")
                .arg(shown);
        }
        if (status.st_mode & (S_IWGRP | S_IWOTH)) {
            return Database::tr("\"%1\" kann auch von anderen Benutzern geändert werden. Das "
                                "Programm öffnet die Datenbank darin nicht. Nehmen Sie anderen "
                                "Benutzern das Schreibrecht (chmod go-w \"%1\") und starten Sie "
                                "das Programm neu.")
                .arg(shown);
        }
    }
    return QString();
}

// Makes the empty database file readable and writable by its owner only, whatever the
// umask, before SQLite opens it: its side files (-wal, -shm) take the file's mode.
void createPrivateDatabase(const QString &file)
{
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        ::close(fd);
    }
}

} // namespace

namespace DatabaseInternal {

QString withTrailingSlash(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace DatabaseInternal

// --- Construction ---------------------------------------------------------------------

Database::Database(QString path, QObject *parent)
    : QObject(parent)
{
    static QAtomicInt mainCounter;
    m_connectionName
        = QStringLiteral("main%1_%2").arg(mainCounter.fetchAndAddRelaxed(1) + 1).arg(threadTag());
    m_dataDir = withTrailingSlash(path.isEmpty() ? defaultDataDir() : path);
    m_startProblem = foreignDataProblem(m_dataDir);
    if (m_startProblem.isEmpty()) {
        protectDataFolder(m_dataDir);
        protectDataFiles(m_dataDir, true);
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
                    .arg(database, host, DatabaseErrors::connectFailure(error)),
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
        createPrivateDatabase(file);
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
    // The data folder's own folders are the seller's alone, whatever the umask; the shared
    // picture folder of several workstations keeps the modes its owner gave.
    const bool own = path.startsWith(m_dataDir);
    if (!(own ? PrivateFile::makePath(path) : QDir().mkpath(path))) {
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
