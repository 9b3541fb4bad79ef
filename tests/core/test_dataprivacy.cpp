// The data folder and what the program writes there are the seller's alone, and the
// day's log holds no values of the accounts' statements.

#include "core/database.h"
#include "core/logging.h"
#include "core/mymessageoutput.h"
#include "core/privatefile.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "import/foldercompressor.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/mysqltransfer.h"
#include "mainwindow/setup.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDate>
#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QLocalServer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using TestSupport::Backend;
using TestSupport::TestDatabase;

namespace {

// The permission bits as "700", "600"; "-" when there is no such file.
QString mode(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("-");
    return QString::number(info.st_mode & 0777, 8);
}

bool makeFile(const QString &path, QFile::Permissions permissions,
              const QByteArray &content = QByteArray())
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        && file.setPermissions(permissions);
}

// Readable by everyone: what an older version left (writable by others is refused).
const QFile::Permissions kOpenFile
    = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
const QFile::Permissions kOpenFolder
    = kOpenFile | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Runs `statements` on the SQLite file `file` as another program would; then its tables.
QStringList otherProgram(const QString &file, const QStringList &statements = {})
{
    QStringList names;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "otherProgram");
        other.setDatabaseName(file);
        if (other.open()) {
            for (const QString &statement : statements)
                QSqlQuery(other).exec(statement);
            QSqlQuery query("SELECT name FROM sqlite_master ORDER BY name", other);
            while (query.next())
                names << query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase("otherProgram");
    return names;
}

// The names in `folder`, sorted.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden
                                      | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Points the link `link` at `target` in one step, as a program swapping it in a loop would.
bool pointLink(const QString &link, const QString &target)
{
    const QString next = link + ".neu";
    QFile::remove(next);
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(next).constData())
        == 0
        && ::rename(QFile::encodeName(next).constData(), QFile::encodeName(link).constData()) == 0;
}

// A data folder at `folder` whose database holds the option "Herkunft" = `origin`.
bool makeDataFolder(const QString &folder, const QString &origin)
{
    {
        Database db(folder, nullptr);
        if (!db.isOpen())
            return false;
        db.setOption("Herkunft", origin);
    }
    TestSupport::clearDatabaseProperties();
    return true;
}

QString dailyLog(const QString &dataDir)
{
    return dataDir + QStringLiteral("logs/ZirevPavlet_")
        + QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".log");
}

} // namespace

class TestDataPrivacy : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startOnNewFolder();
    void startClosesWhatWasOpen();
    void windowStartKeepsItsFilesPrivate();
    void notTheSellersOwn_data();
    void notTheSellersOwn();
    void notAPlainFile_data();
    void notAPlainFile();
    void linksInThePath_data();
    void linksInThePath();
    void linkSwappedBetweenCheckAndOpen_data();
    void linkSwappedBetweenCheckAndOpen();
    void databaseGoneWhileRunning_data();
    void databaseGoneWhileRunning();
    void everyWriteChecksTheFile_data();
    void everyWriteChecksTheFile();
    void windowTellsOfADeletedDatabase();
    void foreignDatabaseIsLeftAlone_data();
    void foreignDatabaseIsLeftAlone();
    void relativeXdgDataHomeIsIgnored();
    void privateFileOverExisting_data();
    void privateFileOverExisting();
    void ownerOnlyNarrowsNoLinkTarget();
    void logOnlyInACheckedFolder_data();
    void logOnlyInACheckedFolder();
    void backupAndRestore();
    void mysqlSettingsAndTransferLog();
    void failedStatementsOfAccountsAreMasked_data();
    void failedStatementsOfAccountsAreMasked();

private:
    mode_t m_umask = 0;
    std::unique_ptr<QTemporaryDir> m_base;
    std::unique_ptr<DialogAnswers> m_answers;
};

// With no umask at all, so that every mode below is the program's own doing.
void TestDataPrivacy::init()
{
    m_umask = ::umask(0);
    m_base = std::make_unique<QTemporaryDir>();
    QVERIFY(m_base->isValid());
    m_answers = std::make_unique<DialogAnswers>();
}

void TestDataPrivacy::cleanup()
{
    m_answers.reset();
    m_base.reset();
    ::umask(m_umask);
    TestSupport::clearDatabaseProperties();
}

void TestDataPrivacy::startOnNewFolder()
{
    const QString folder = m_base->filePath("neu/Zerire3/");
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    {
        Database db(folder, nullptr);
        QVERIFY(db.isOpen());
        db.setOption("Probe", "1");
        const QString file = folder + Database::getDatabaseName();
        QCOMPARE(
            QStringList({ mode(folder), mode(file), mode(file + "-wal"), mode(file + "-shm") }),
            QStringList({ "700", "600", "600", "600" }));
        // Every folder it makes is its owner's alone too, whatever the umask.
        for (const QString &path : { db.getCurrentLogDir(), db.getCacheDir(), db.getImageTempPath(),
                                     db.getCurrentAdImageDir(), db.getCurrentAdImageDirThumbs(),
                                     m_base->filePath("neu") })
            QVERIFY2(mode(path) == QStringLiteral("700"), qPrintable(path + " " + mode(path)));
    }
    QCOMPARE(log.count("was open to other users"), 0);
}

// Left open by an older version or a copy: closed at start, logged, nothing shown.
void TestDataPrivacy::startClosesWhatWasOpen()
{
    const QString folder = m_base->filePath("alt/");
    const QString file = folder + Database::getDatabaseName();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    {
        Database(folder, nullptr).setOption("Probe", "1");
    }
    TestSupport::clearDatabaseProperties();
    QVERIFY(QFile::setPermissions(folder, kOpenFolder));
    QVERIFY(QFile::setPermissions(file, kOpenFile));
    QVERIFY(makeFile(file + "-journal", kOpenFile));
    QVERIFY(makeFile(folder + "mysql.setup", kOpenFile));
    QCOMPARE(QStringList({ mode(folder), mode(file) }), QStringList({ "755", "644" }));

    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    {
        Database db(folder, nullptr);
        QVERIFY(db.isOpen());
        QCOMPARE(QStringList({ mode(folder), mode(file), mode(file + "-wal"), mode(file + "-shm"),
                               mode(file + "-journal"), mode(folder + "mysql.setup") }),
                 QStringList({ "700", "600", "600", "600", "600", "600" }));
    }
    QCOMPARE(log.count("was open to other users; now it is its owner's alone"), 4);
    QCOMPARE(m_answers->messages().size(), 0);
}

void TestDataPrivacy::windowStartKeepsItsFilesPrivate()
{
    const QString folder = m_base->path() + QLatin1Char('/');
    QVERIFY(QFile::setPermissions(folder, kOpenFolder));
    std::unique_ptr<MainWindow> window = TestSupport::startMainWindow(folder);
    QVERIFY(window);
    const QString file = folder + Database::getDatabaseName();
    const QStringList modes = { mode(folder), mode(file), mode(file + "-wal"), mode(file + "-shm"),
                                mode(dailyLog(folder)) };
    const QString logged = MessageLog::currentPath();
    window->close();
    window.reset();
    MessageLog::close();
    QCOMPARE(logged, dailyLog(folder));
    QCOMPARE(modes, QStringList({ "700", "600", "600", "600", "600" }));
    // The default folder, made at this start for the option that points here.
    QCOMPARE(mode(Database::defaultDataDir()), QStringLiteral("700"));
}

void TestDataPrivacy::notTheSellersOwn_data()
{
    QTest::addColumn<QString>("path"); // in the data folder; "" the folder itself
    QTest::addColumn<bool>("otherUser"); // given to another user (needs root)
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("told"); // part of the German message; empty: opened

    const QString owner = QStringLiteral("gehört einem anderen Benutzer");
    const QString writable = QStringLiteral("kann auch von anderen Benutzern geändert werden");
    const QString database = Database::getDatabaseName();
    QTest::newRow("folder of another user") << "" << true << 0700 << owner;
    QTest::newRow("folder writable by the group") << "" << false << 0770 << writable;
    QTest::newRow("database of another user") << database << true << 0600 << owner;
    QTest::newRow("database writable by others") << database << false << 0646 << writable;
    QTest::newRow("-wal of another user") << database + "-wal" << true << 0600 << owner;
    QTest::newRow("-shm writable by others") << database + "-shm" << false << 0666 << writable;
    QTest::newRow("own database readable by others") << database << false << 0644 << "";
    QTest::newRow("folder open to everyone") << "" << false << 0777 << writable;
    QTest::newRow("-journal writable by the group") << database + "-journal" << false << 0660
                                                    << writable;
    QTest::newRow("folder above writable by others") << ".." << false << 0777 << writable;
    QTest::newRow("folder above of another user") << ".." << true << 0755 << owner;
    QTest::newRow("folder above sticky and open to all, as /tmp") << ".." << false << 01777 << "";
}

// A data folder or database that another user made or can change is not used: the seller is
// told which and what to do, nothing in it is opened or changed, by no connection.
void TestDataPrivacy::notTheSellersOwn()
{
    QFETCH(QString, path);
    QFETCH(bool, otherUser);
    QFETCH(int, bits);
    QFETCH(QString, told);
    if (otherUser && ::geteuid() != 0)
        QSKIP("Giving a file to another user needs root (as in CI)");
    const QString folder = m_base->filePath("daten/");
    {
        Database(folder, nullptr).setOption("Probe", "1");
    }
    TestSupport::clearDatabaseProperties();
    const QString target = folder + path;
    if (!QFileInfo::exists(target))
        QVERIFY(makeFile(target, kOpenFile));
    const QString file = folder + Database::getDatabaseName();
    const QByteArray before = readAll(file);
    QVERIFY(::chmod(QFile::encodeName(target).constData(), mode_t(bits)) == 0);
    if (otherUser) // to nobody
        QVERIFY(::chown(QFile::encodeName(target).constData(), 65534, 65534) == 0);

    {
        Database db(folder, nullptr);
        Database worker(true, QStringLiteral("privacyWorker"));
        const QString problem = db.startProblem();
        if (told.isEmpty()) {
            QVERIFY2(db.isOpen() && worker.isOpen() && problem.isEmpty(), qPrintable(problem));
            QCOMPARE(db.getOption("Probe", QString()).value(), QStringLiteral("1"));
            // Files are narrowed; folders above are not the program's.
            QCOMPARE(mode(target), path == ".." ? QString::number(bits & 0777, 8) : "600");
            return;
        }
        QVERIFY(!db.isOpen());
        // Not opened: the read fails, and says so in German, not in the driver's English.
        const Read<SqlRows> read = worker.select("SELECT optionvalue FROM options");
        QVERIFY(!read.ok());
        QVERIFY2(read.error().startsWith("Die Datenbank ist nicht geöffnet"),
                 qPrintable(read.error()));
        QVERIFY(!worker.isOpen());
        const QString shown = QDir::toNativeSeparators(QDir::cleanPath(target));
        QVERIFY2(problem.contains(told) && problem.contains("\"" + shown + "\""),
                 qPrintable(problem));
        QCOMPARE(m_answers->messages().size(), 1);
        QCOMPARE(m_answers->lastMessageText(), problem);
        // Nothing goes into the folder, not even the log.
        QCOMPARE(db.getCurrentLogDir(), QString());
        QCOMPARE(db.getCacheDir(), QString());
    }
    // Left as it was: no mode narrowed, nothing written.
    QCOMPARE(mode(target), QString::number(bits & 0777, 8));
    QCOMPARE(readAll(file), before);
    QVERIFY(!QFileInfo::exists(folder + "logs"));
    QVERIFY(!QFileInfo::exists(folder + "cache"));
}

void TestDataPrivacy::notAPlainFile_data()
{
    QTest::addColumn<QString>("name"); // in the data folder
    QTest::addColumn<QString>("kind"); // what stands there
    QTest::addColumn<QString>("told");

    const QString database = Database::getDatabaseName();
    QTest::newRow("pipe as the database") << database << "fifo" << "eine benannte Pipe (FIFO)";
    QTest::newRow("pipe as the -wal") << database + "-wal" << "fifo"
                                      << "eine benannte Pipe (FIFO)";
    QTest::newRow("socket as the database") << database << "socket" << "ein Socket";
    QTest::newRow("link to the seller's own database")
        << database << "link" << "ein symbolischer Link";
    QTest::newRow("link as the -shm") << database + "-shm" << "link" << "ein symbolischer Link";
    QTest::newRow("folder as the database") << database << "folder" << "ein Ordner";
    QTest::newRow("device as the database") << database << "device" << "eine Gerätedatei";
}

// Only a plain file is the database: anything else in its place (or its side files') is
// refused at once, with the seller told what stands there; nothing is opened, so a pipe
// holds nothing up.
void TestDataPrivacy::notAPlainFile()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, told);
    if (kind == "device" && ::geteuid() != 0)
        QSKIP("Making a device file needs root (as in CI)");
    const QString folder = m_base->filePath("daten/");
    QVERIFY(makeDataFolder(folder, "echt"));
    const QString place = folder + name;
    const QByteArray encoded = QFile::encodeName(place);
    const QString elsewhere = m_base->filePath("woanders.sqlite");
    QVERIFY(QFile::rename(folder + Database::getDatabaseName(), elsewhere));
    QFile::remove(place);
    QLocalServer server;
    if (kind == "fifo")
        QVERIFY(::mkfifo(encoded.constData(), 0600) == 0);
    else if (kind == "socket")
        QVERIFY2(server.listen(place), qPrintable(server.errorString()));
    else if (kind == "link")
        QVERIFY(QFile::link(elsewhere, place));
    else if (kind == "folder")
        QVERIFY(QDir().mkdir(place));
    else if (kind == "device")
        QVERIFY(::mknod(encoded.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0);
    if (name != Database::getDatabaseName())
        QVERIFY(QFile::rename(elsewhere, folder + Database::getDatabaseName()));
    const QStringList before = entries(folder);

    // On a thread of its own, so that an open that waits for a writer to the pipe fails
    // the test instead of holding it.
    Database::setStartProblemsShown(false);
    const auto shown = qScopeGuard([] { Database::setStartProblemsShown(true); });
    QString problem;
    bool opened = true;
    std::unique_ptr<QThread> start(QThread::create([&] {
        Database db(folder, nullptr);
        problem = db.startProblem();
        opened = db.isOpen();
    }));
    start->start();
    if (!start->wait(20000)) {
        // Lets a reader waiting for the pipe go on.
        const int writer = ::open(encoded.constData(), O_WRONLY | O_NONBLOCK);
        start->wait();
        if (writer >= 0)
            ::close(writer);
        QFAIL("The start waited for what stands in the database's place");
    }
    QVERIFY(!opened);
    const QString path = QDir::toNativeSeparators(folder + name);
    QVERIFY2(problem.startsWith("\"" + path + "\" ist keine gewöhnliche Datei, sondern " + told),
             qPrintable(problem));
    {
        Database worker(true, QStringLiteral("privacyWorker"));
        QVERIFY(!worker.isOpen());
    }
    QCOMPARE(entries(folder), before);
}

void TestDataPrivacy::linksInThePath_data()
{
    QTest::addColumn<QString>("target"); // of the link "daten" in the folder "wege"
    QTest::addColumn<int>("linkOwner"); // -1: this user
    QTest::addColumn<int>("targetBits"); // of the folder "echt"
    QTest::addColumn<QString>("told"); // part of the message; empty: opened
    QTest::addColumn<QString>("at"); // the path named in it, below the base folder

    const QString owner = QStringLiteral("gehört einem anderen Benutzer");
    const QString writable = QStringLiteral("kann auch von anderen Benutzern geändert werden");
    QTest::newRow("the seller's link, relative") << "../echt" << -1 << 0700 << "" << "";
    QTest::newRow("the seller's link, absolute") << "<base>/echt" << -1 << 0700 << "" << "";
    QTest::newRow("link through a link") << "../weiter/echt" << -1 << 0700 << "" << "";
    QTest::newRow("link of another user") << "../echt" << 65534 << 0700 << owner << "wege/daten";
    QTest::newRow("link to a folder open to everyone")
        << "../echt" << -1 << 0777 << writable << "echt";
}

// A link on the data folder's way is followed only when it is the seller's (or root's), and
// where it leads is checked as the rest of the way is.
void TestDataPrivacy::linksInThePath()
{
    QFETCH(QString, target);
    QFETCH(int, linkOwner);
    QFETCH(int, targetBits);
    QFETCH(QString, told);
    QFETCH(QString, at);
    if (linkOwner >= 0 && ::geteuid() != 0)
        QSKIP("Giving a link to another user needs root (as in CI)");
    const QString base = m_base->path() + "/";
    QVERIFY(makeDataFolder(base + "echt/", "echt"));
    QVERIFY(QDir().mkdir(base + "wege") && QDir().mkdir(base + "weiter"));
    QVERIFY(QFile::setPermissions(base + "wege",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QFile::setPermissions(base + "weiter",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QFile::link("../echt", base + "weiter/echt"));
    const QString link = base + "wege/daten";
    QVERIFY(::symlink(QFile::encodeName(QString(target).replace("<base>", m_base->path())),
                      QFile::encodeName(link).constData())
            == 0);
    if (linkOwner >= 0)
        QVERIFY(::lchown(QFile::encodeName(link).constData(), uid_t(linkOwner),
                         gid_t(linkOwner))
                == 0);
    QVERIFY(::chmod(QFile::encodeName(base + "echt").constData(), mode_t(targetBits)) == 0);

    Database db(link + "/", nullptr);
    if (told.isEmpty()) {
        QVERIFY2(db.isOpen() && db.startProblem().isEmpty(), qPrintable(db.startProblem()));
        QCOMPARE(db.getOption("Herkunft", QString()).value(), QStringLiteral("echt"));
        return;
    }
    QVERIFY(!db.isOpen());
    QVERIFY2(db.startProblem().startsWith("\"" + QDir::toNativeSeparators(base + at) + "\" "
                                          + told),
             qPrintable(db.startProblem()));
    QCOMPARE(db.getCurrentLogDir(), QString());
}

void TestDataPrivacy::linkSwappedBetweenCheckAndOpen_data()
{
    QTest::addColumn<bool>("worker"); // swapped before a worker's open, else the main object's
    QTest::addColumn<bool>("firstStart"); // no database in the checked folder yet

    QTest::newRow("main object") << false << false;
    QTest::newRow("main object, first start") << false << true;
    QTest::newRow("worker connection") << true << false;
}

// The data folder's path is a link; the link is pointed at another folder after the check,
// right before SQLite opens the file: the file opened is still the checked folder's, and
// nothing is read from or made in the other.
void TestDataPrivacy::linkSwappedBetweenCheckAndOpen()
{
    QFETCH(bool, worker);
    QFETCH(bool, firstStart);
    const QString base = m_base->path() + "/";
    const QString checked = base + "echt/";
    const QString other = base + "fremd/";
    if (firstStart) {
        QVERIFY(PrivateFile::makePath(checked));
    } else {
        QVERIFY(makeDataFolder(checked, "echt"));
    }
    QVERIFY(makeDataFolder(other, "fremd"));
    const QString otherFile = other + Database::getDatabaseName();
    const QByteArray otherBefore = readAll(otherFile);
    const QStringList otherEntries = entries(other);
    const QString link = base + "daten";
    QVERIFY(pointLink(link, "echt"));

    bool swapped = false;
    const auto swap = [&] {
        if (!swapped)
            swapped = pointLink(link, "fremd");
    };
    const auto unhook = qScopeGuard([] { Database::setBeforeSqliteOpenForTesting({}); });
    if (!worker)
        Database::setBeforeSqliteOpenForTesting(swap);
    {
        Database db(link + "/", nullptr);
        QVERIFY2(db.isOpen(), qPrintable(db.startProblem()));
        if (worker)
            Database::setBeforeSqliteOpenForTesting(swap);
        Database further(true, QStringLiteral("privacyWorker"));
        QVERIFY(further.isOpen());
        QVERIFY(swapped);
        Database &reader = worker ? further : db;
        QCOMPARE(reader.getOption("Herkunft", "neu").value(), firstStart ? QString("neu") : "echt");
        reader.setOption("Geschrieben", "1");
        const QString file = checked + Database::getDatabaseName();
        QCOMPARE(QStringList({ mode(file), mode(file + "-wal"), mode(file + "-shm") }),
                 QStringList({ "600", "600", "600" }));
    }
    QCOMPARE(QFileInfo(link).symLinkTarget(), QDir::cleanPath(other));
    QCOMPARE(entries(other), otherEntries);
    QCOMPARE(readAll(otherFile), otherBefore);
    TestSupport::clearDatabaseProperties();
    Database::setBeforeSqliteOpenForTesting({});
    QVERIFY(pointLink(link, "echt"));
    Database again(link + "/", nullptr);
    QCOMPARE(again.getOption("Geschrieben", QString()).value(), QStringLiteral("1"));
}

void TestDataPrivacy::databaseGoneWhileRunning_data()
{
    QTest::addColumn<QString>("change"); // what becomes of the file
    QTest::addColumn<bool>("command"); // a command runs before the folder's watch tells

    QTest::newRow("deleted, told by the watch") << "delete" << false;
    QTest::newRow("deleted, next command") << "delete" << true;
    QTest::newRow("replaced by a copy, next command") << "replace" << true;
    QTest::newRow("renamed, told by the watch") << "rename" << false;
    QTest::newRow("deleted as a further connection opens") << "deleteAtOpen" << true;
}

// The database file is deleted or replaced while the program runs: the seller is told once,
// at once; no command writes into what it left behind, no connection makes a new file, and a
// file put in its place is left as it is.
void TestDataPrivacy::databaseGoneWhileRunning()
{
    QFETCH(QString, change);
    QFETCH(bool, command);
    const QString folder = m_base->filePath("daten/");
    const QString file = folder + Database::getDatabaseName();
    const QString copy = m_base->filePath("kopie.sqlite");
    QVERIFY(makeDataFolder(folder, "echt"));
    QVERIFY(QFile::copy(file, copy));

    Database db(folder, nullptr);
    QVERIFY(db.isOpen());
    Database worker(true, QStringLiteral("privacyWorker"));
    QVERIFY(worker.isOpen());
    QVERIFY(db.insertSqlClean({ { "Title", "vorher" } }, "articles") > 0);
    QSignalSpy lost(WriteFailures::instance(), &WriteFailures::databaseFileLost);
    QSignalSpy failed(WriteFailures::instance(), &WriteFailures::failed);

    const QByteArray name = QFile::encodeName(file);
    if (change == "deleteAtOpen") {
        // Still there when the connection looked; gone when SQLite opens it: not made anew.
        const auto unhook = qScopeGuard([] { Database::setBeforeSqliteOpenForTesting({}); });
        Database::setBeforeSqliteOpenForTesting([&name] { ::unlink(name.constData()); });
        Database opening(true, QStringLiteral("privacyOpening"));
        QVERIFY(!opening.isOpen());
        QVERIFY(!QFileInfo::exists(file));
    } else if (change == "delete") {
        QVERIFY(::unlink(name.constData()) == 0);
    } else if (change == "replace") {
        QVERIFY(::rename(QFile::encodeName(copy).constData(), name.constData()) == 0);
    } else {
        QVERIFY(::rename(name.constData(), QFile::encodeName(folder + "alt.sqlite").constData())
                == 0);
    }
    const QStringList left = entries(folder);
    const QByteArray replacement = readAll(file);

    if (command) {
        Transaction transaction(db);
        QVERIFY(!transaction.isOpen());
        QVERIFY2(db.lastErrorText.contains("wurde gelöscht oder durch eine andere Datei ersetzt"),
                 qPrintable(db.lastErrorText));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(lost.count(), 1);
    } else {
        QVERIFY(lost.wait(20000));
    }
    const QString told = lost.first().first().toString();
    QVERIFY2(told.startsWith("Die Datenbank \"" + QDir::toNativeSeparators(file)
                             + "\" wurde gelöscht oder durch eine andere Datei ersetzt"),
             qPrintable(told));
    {
        Transaction transaction(worker);
        QVERIFY(!transaction.isOpen());
    }
    Database later(true, QStringLiteral("privacyLater"));
    QVERIFY(!later.isOpen());
    QVERIFY(!later.insertSqlClean({ { "Title", "danach" } }, "articles"));
    QCoreApplication::processEvents();
    QCOMPARE(lost.count(), 1);
    QCOMPARE(entries(folder), left);
    QCOMPARE(readAll(file), replacement);
}

void TestDataPrivacy::everyWriteChecksTheFile_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<bool>("otherFolderMeanwhile");
    for (bool other : { false, true }) {
        const char *suffix = other ? ", after another data folder was chosen" : "";
        QTest::addRow("an UPDATE outside a command%s", suffix) << "update" << other;
        QTest::addRow("an option%s", suffix) << "option" << other;
        QTest::addRow("an inserted row%s", suffix) << "insert" << other;
    }
}

// Replaced while the program runs, the file takes no write, also none outside a transaction
// (the predecessor import, templates, an account's token, options write so), and also not once
// the settings opened and closed the default folder's database to store another data folder
// for the next start.
void TestDataPrivacy::everyWriteChecksTheFile()
{
    QFETCH(QString, write);
    QFETCH(bool, otherFolderMeanwhile);
    const QString folder = m_base->filePath("daten/");
    const QString file = folder + Database::getDatabaseName();
    const QString copy = m_base->filePath("kopie.sqlite");
    QVERIFY(makeDataFolder(folder, "echt"));
    QVERIFY(QFile::copy(file, copy));
    Database db(folder, nullptr);
    QVERIFY(db.isOpen());
    if (otherFolderMeanwhile) {
        // As the settings do it: what the running program published is put back afterwards.
        const char *const published[] = { "datadir", "CurrentDataPath", "sqlitereadonly" };
        QVariantList kept;
        for (const char *name : published)
            kept << qApp->property(name);
        {
            Database startup(m_base->filePath("standard/"), nullptr);
            QVERIFY(startup.setOption("datapath", folder));
        }
        for (int i = 0; i < kept.size(); ++i)
            qApp->setProperty(published[i], kept.at(i));
    }
    Database worker(true, QStringLiteral("privacyWriter"));
    QVERIFY(worker.isOpen());
    QVERIFY(::rename(QFile::encodeName(copy).constData(), QFile::encodeName(file).constData())
            == 0);
    const QByteArray replacement = readAll(file);
    QSignalSpy lost(WriteFailures::instance(), &WriteFailures::databaseFileLost);
    for (Database *connection : { &db, &worker }) {
        bool stored = true;
        if (write == "update")
            stored = connection->executeSQL("UPDATE articles SET Title='danach'");
        else if (write == "option")
            stored = connection->setOption("Probe", "danach");
        else
            stored = connection->insertSqlClean({ { "Title", "danach" } }, "articles") > 0;
        QVERIFY(!stored);
        QVERIFY2(connection->lastErrorText.contains("durch eine andere Datei ersetzt"),
                 qPrintable(connection->lastErrorText));
    }
    QCOMPARE(lost.count(), 1);
    QCOMPARE(readAll(file), replacement);
}

// The seller deletes the database while the window runs, then moves an article to the trash:
// told at once, and again by the command, which writes nothing; no new file appears.
void TestDataPrivacy::windowTellsOfADeletedDatabase()
{
    TestDatabase data(Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    const int id = TestSupport::insertArticle(
        data.db(), { { "Title", "Taschenuhr" }, { "Folder", -10 }, { "StartPrice", 12345.67 } });
    QVERIFY(id > 0);
    const QString file = data.dataDir() + Database::getDatabaseName();
    TestSupport::MainWindowFixture fixture(data);
    QVERIFY(fixture.showFolder(-10));
    QTreeWidget *list = fixture.itemList();
    QCOMPARE(list->topLevelItemCount(), 1);
    const QString told = QStringLiteral("wurde gelöscht oder durch eine andere Datei ersetzt");

    QVERIFY(QFile::remove(file));
    QTRY_VERIFY_WITH_TIMEOUT(m_answers->shownTexts().join('\n').contains(told), 20000);
    const int before = m_answers->messages().size();
    list->selectAll();
    m_answers->pushQuestion(true);
    fixture.window()->findChild<QAction *>("actionL_schen")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(m_answers->messages().size() > before, 20000);
    QVERIFY2(m_answers->lastMessageText().contains(told), qPrintable(m_answers->lastMessageText()));
    QCOMPARE(list->topLevelItemCount(), 1);
    QVERIFY(!QFileInfo::exists(file));
    fixture.close();
    MessageLog::close();
    QVERIFY(!QFileInfo::exists(file));
}

void TestDataPrivacy::foreignDatabaseIsLeftAlone_data()
{
    QTest::addColumn<QStringList>("statements"); // made the file; none: an empty file
    QTest::addColumn<bool>("refused");

    QTest::newRow("another program's table")
        << QStringList { "CREATE TABLE kunden (id INTEGER)" } << true;
    QTest::newRow("empty file") << QStringList() << false;
    QTest::newRow("the program's table among others")
        << QStringList { "CREATE TABLE kunden (id INTEGER)",
                         "CREATE TABLE options (optionname TEXT, optionvalue TEXT)" }
        << false;
}

// A file of another program where the database belongs: none of the program's tables is
// added to it, and the seller is told instead of shown an empty store.
void TestDataPrivacy::foreignDatabaseIsLeftAlone()
{
    QFETCH(QStringList, statements);
    QFETCH(bool, refused);
    const QString folder = m_base->filePath("fremd/");
    const QString file = folder + Database::getDatabaseName();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(makeFile(file, QFile::ReadOwner | QFile::WriteOwner));
    const QStringList before = otherProgram(file, statements);
    QCOMPARE(before.size(), statements.size());

    {
        Database db(folder, nullptr);
        Database worker(true, QStringLiteral("privacyWorker"));
        QCOMPARE(db.isOpen(), !refused);
        QCOMPARE(worker.isOpen(), !refused);
        if (!refused) {
            QVERIFY2(db.startProblem().isEmpty(), qPrintable(db.startProblem()));
            return;
        }
        QVERIFY2(db.startProblem().startsWith("Die Datei \"" + QDir::toNativeSeparators(file)
                                              + "\" ist keine Datenbank dieses Programms"),
                 qPrintable(db.startProblem()));
        QCOMPARE(m_answers->messages().size(), 1);
    }
    QCOMPARE(otherProgram(file), before);
}

// A relative XDG_DATA_HOME counts as not set: the data folder never depends on the folder the
// program was started from.
void TestDataPrivacy::relativeXdgDataHomeIsIgnored()
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&saved] { qputenv("XDG_DATA_HOME", saved); });
    qputenv("XDG_DATA_HOME", "/srv/daten");
    QCOMPARE(Database::defaultDataDir(), QStringLiteral("/srv/daten/Revevor/Zerire3/"));
    qputenv("XDG_DATA_HOME", "./daten");
    QCOMPARE(Database::defaultDataDir(), QDir::homePath() + "/.local/share/Revevor/Zerire3/");
}

void TestDataPrivacy::privateFileOverExisting_data()
{
    QTest::addColumn<int>("before"); // the mode of the file found there; 0: none
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<bool>("append");
    QTest::addColumn<QByteArray>("content"); // afterwards

    QTest::newRow("new file") << 0 << QByteArray() << false << QByteArray("neu");
    QTest::newRow("backup open to everyone")
        << 0666 << QByteArray("alt") << false << QByteArray("neu");
    QTest::newRow("longer older export")
        << 0600 << QByteArray(100000, 'x') << false << QByteArray("neu");
    QTest::newRow("log open to everyone, appended")
        << 0666 << QByteArray("gestern\n") << true << QByteArray("gestern\nneu");
}

// A backup, export or log written over whatever stood there is its owner's alone and holds
// only what was written.
void TestDataPrivacy::privateFileOverExisting()
{
    QFETCH(int, before);
    QFETCH(QByteArray, old);
    QFETCH(bool, append);
    const QString path = m_base->filePath("Zerire3.backup");
    if (before) {
        QVERIFY(makeFile(path, kOpenFile, old));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
    }
    QFile file;
    QString error;
    const QIODevice::OpenMode how
        = append ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly;
    QVERIFY2(PrivateFile::open(file, path, how, &error), qPrintable(error));
    QCOMPARE(file.write("neu"), qint64(3));
    file.close();
    QCOMPARE(mode(path), QStringLiteral("600"));
    QTEST(readAll(path), "content");
}

// A file or folder is narrowed in place; a link's target never is.
void TestDataPrivacy::ownerOnlyNarrowsNoLinkTarget()
{
    const QString file = m_base->filePath("export.csv");
    const QString folder = m_base->filePath("bilder");
    const QString link = m_base->filePath("link.csv");
    QVERIFY(makeFile(file, kOpenFile) && QDir().mkdir(folder) && QFile::link(file, link));
    QCOMPARE(mode(folder), QStringLiteral("777"));

    QVERIFY(!Statics::setOwnerOnly(link));
    QCOMPARE(mode(file), QStringLiteral("644"));
    QCOMPARE(QFileInfo(link).symLinkTarget(), file);
    QVERIFY(Statics::setOwnerOnly(file));
    QVERIFY(Statics::setOwnerOnly(folder));
    QCOMPARE(QStringList({ mode(file), mode(folder) }), QStringList({ "600", "700" }));
}

void TestDataPrivacy::logOnlyInACheckedFolder_data()
{
    QTest::addColumn<int>("bits"); // of the folder "logs"
    QTest::addColumn<bool>("viaLink"); // the log's path runs through a link to it
    QTest::addColumn<bool>("opened");

    QTest::newRow("the seller's folder") << 0700 << false << true;
    QTest::newRow("the seller's folder through the seller's link") << 0700 << true << true;
    QTest::newRow("folder open to everyone") << 0777 << false << false;
    QTest::newRow("sticky folder open to all") << 01777 << false << false;
    QTest::newRow("link to a folder writable by the group") << 0770 << true << false;
}

// The day's log is started only in a folder that passes the data folder's check: nothing is
// made in one that others could change, and the console keeps the log instead.
void TestDataPrivacy::logOnlyInACheckedFolder()
{
    QFETCH(int, bits);
    QFETCH(bool, viaLink);
    QFETCH(bool, opened);
    const QString folder = m_base->filePath("logs");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), mode_t(bits)) == 0);
    QString logs = folder;
    if (viaLink) {
        logs = m_base->filePath("protokolle");
        QVERIFY(QFile::link("logs", logs));
    }
    const QString name = "ZirevPavlet_2026_12_08.log";
    MessageLog::close();
    const auto closed = qScopeGuard([] { MessageLog::close(); });
    QCOMPARE(MessageLog::open(logs + "/" + name), opened);
    QCOMPARE(entries(folder), opened ? QStringList { name } : QStringList());
    if (opened)
        QCOMPARE(mode(folder + "/" + name), QStringLiteral("600"));
}

// The archive holds the database with every token; unpacked it becomes the data folder.
void TestDataPrivacy::backupAndRestore()
{
    TestDatabase data(Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    data.db()->insertSqlClean({ { "accountname", "händler_1" }, { "token", "T-1" } }, "accounts");
    data.db()->checkpoint();
    const QString archive = m_base->filePath("Zerire3.backup");
    const QString restored = m_base->filePath("daten_bk");

    FolderCompressor packer { QString(), QString() };
    QVERIFY(packer.compressFolder(QDir::cleanPath(data.dataDir()), archive));
    QVERIFY(packer.decompressFolder(archive, restored));

    QCOMPARE(QStringList({ mode(archive), mode(restored),
                           mode(restored + "/" + Database::getDatabaseName()) }),
             QStringList({ "600", "700", "600" }));
}

void TestDataPrivacy::mysqlSettingsAndTransferLog()
{
    TestDatabase data(Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    const QString setupFile = data.dataDir() + "mysql.setup";
    QVERIFY(makeFile(setupFile, kOpenFile));
    {
        Setup dialog(nullptr);
        dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    }
    QCOMPARE(mode(setupFile), QStringLiteral("600"));

    const QString local = m_base->filePath("lokal.sqlite");
    QVERIFY(makeFile(local, kOpenFile));
    const QString transferLog = data.db()->getCurrentLogDir() + "mysql_transfer.log";
    MySqlTransfer transfer(data.db(), local, transferLog);
    QCOMPARE(int(transfer.run([](const MySqlTransfer::Progress &) {}).outcome),
             int(MySqlTransfer::Outcome::Completed));
    QCOMPARE(mode(transferLog), QStringLiteral("600"));
}

void TestDataPrivacy::failedStatementsOfAccountsAreMasked_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("shown"); // the statement as the log shows it
    for (const Backend backend : { Backend::SQLite, Backend::MySQL }) {
        const char *name = backend == Backend::SQLite ? "sqlite" : "mysql";
        QTest::addRow("%s: update of a token", name)
            << backend << "UPDATE accounts SET token='T-geh''eim' WHERE fehlt=1"
            << "UPDATE accounts SET token='***' WHERE fehlt=1";
        QTest::addRow("%s: join, quoted name", name)
            << backend
            << "SELECT * FROM articles JOIN `accounts` a ON a.id=Account WHERE "
               "a.token=\"T-geheim\" AND fehlt=1"
            << "SELECT * FROM articles JOIN `accounts` a ON a.id=Account WHERE "
               "a.token=\"***\" AND fehlt=1";
        QTest::addRow("%s: duplicate key", name)
            << backend << "INSERT INTO accounts (id, token) VALUES (1, 'T-geheim')"
            << "INSERT INTO accounts (id, token) VALUES (1, '***')";
        QTest::addRow("%s: other table", name)
            << backend << "UPDATE articles SET Title='sichtbar' WHERE fehlt=1"
            << "UPDATE articles SET Title='sichtbar' WHERE fehlt=1";
    }
}

// A failed statement is logged with the driver's error, but a token in it is not.
void TestDataPrivacy::failedStatementsOfAccountsAreMasked()
{
    QFETCH(Backend, backend);
    QFETCH(QString, statement);
    QFETCH(QString, shown);
    APP_REQUIRE_BACKEND(backend);
    TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    data.db()->insertSqlClean({ { "id", 1 }, { "token", "T-geheim" } }, "accounts");

    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QVERIFY(!data.db()->executeSQL(statement));
    QVERIFY(!data.db()->lastErrorText.isEmpty());
    QCOMPARE(log.count(" from query: " + shown), 1);
    QCOMPARE(log.count("geheim") + log.count("geh''eim"), 0);
}

APP_TEST_MAIN(TestDataPrivacy)
#include "test_dataprivacy.moc"
