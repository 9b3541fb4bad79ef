// The data folder and what the program writes there are the seller's alone, and the
// day's log holds no values of the accounts' statements.

#include "core/database.h"
#include "core/logging.h"
#include "core/mymessageoutput.h"
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
#include <QTemporaryDir>

#include <sys/stat.h>

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

bool makeFile(const QString &path, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.setPermissions(permissions);
}

const QFile::Permissions kOpenFile = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
    | QFile::ReadOther | QFile::WriteOther;
const QFile::Permissions kOpenFolder
    = kOpenFile | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;

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
    }
    QCOMPARE(log.count("was open to other users"), 0);
}

// Left open by an older version or a copy: closed at start, logged, nothing shown.
void TestDataPrivacy::startClosesWhatWasOpen()
{
    const QString folder = m_base->filePath("alt/");
    const QString file = folder + Database::getDatabaseName();
    QVERIFY(QDir().mkpath(folder));
    {
        Database(folder, nullptr).setOption("Probe", "1");
    }
    TestSupport::clearDatabaseProperties();
    QVERIFY(QFile::setPermissions(folder, kOpenFolder));
    QVERIFY(QFile::setPermissions(file, kOpenFile));
    QVERIFY(makeFile(file + "-journal", kOpenFile));
    QVERIFY(makeFile(folder + "mysql.setup", kOpenFile));
    QCOMPARE(QStringList({ mode(folder), mode(file) }), QStringList({ "757", "646" }));

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
