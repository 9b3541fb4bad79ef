// The data folder and what the program writes there are the seller's alone, and the
// day's log holds no values of the accounts' statements.

#include "core/database.h"
#include "core/logging.h"
#include "core/mymessageoutput.h"
#include "core/privatefile.h"
#include "core/statics.h"
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
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sys/stat.h>
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
    void foreignDatabaseIsLeftAlone_data();
    void foreignDatabaseIsLeftAlone();
    void relativeXdgDataHomeIsIgnored();
    void privateFileOverExisting_data();
    void privateFileOverExisting();
    void ownerOnlyNarrowsNoLinkTarget();
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
            QCOMPARE(db.getOption("Probe", QString()), QStringLiteral("1"));
            QCOMPARE(mode(target), QStringLiteral("600"));
            return;
        }
        QVERIFY(!db.isOpen());
        QVERIFY(worker.select("SELECT optionvalue FROM options").isEmpty());
        QVERIFY(!worker.isOpen());
        const QString shown = QDir::toNativeSeparators(QDir::cleanPath(target));
        QVERIFY2(problem.contains(told) && problem.contains("\"" + shown + "\""),
                 qPrintable(problem));
        QCOMPARE(m_answers->messages().size(), 1);
        QCOMPARE(m_answers->lastMessageText(), problem);
    }
    // Left as it was: no mode narrowed, nothing written.
    QCOMPARE(mode(target), QString::number(bits, 8));
    QCOMPARE(readAll(file), before);
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
