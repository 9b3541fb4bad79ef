// The main window's start-up and shutdown: which data folder and database it settles on,
// the options it publishes, the layout it restores and saves, completing a pending restore,
// and closing, which must let both background workers finish their loops.

#include "core/database.h"
#include "core/mymessageoutput.h"
#include "core/schema.h"
#include "core/settings.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QSplitter>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <algorithm>
#include <memory>

using TestSupport::Backend;

namespace {

const QString kMarker = QStringLiteral("testMarker");

// One value read straight from a data folder's SQLite file, read-only and past the
// program's Database, which would upgrade the schema and publish the folder.
QString sqlValue(const QString &dataDir, const QString &sql)
{
    static int counter = 0;
    const QString name = QStringLiteral("startup_raw_%1").arg(++counter);
    QString value;
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        raw.setDatabaseName(QDir(dataDir).filePath(Database::getDatabaseName()));
        raw.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (raw.open()) {
            QSqlQuery query(raw);
            if (query.exec(sql) && query.next())
                value = query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

QString storedOption(const QString &dataDir, const QString &option)
{
    return sqlValue(
        dataDir,
        QStringLiteral("SELECT optionvalue FROM options WHERE optionname = '%1'").arg(option));
}

// A data folder with its database at the current schema and the given options.
void makeDataFolder(const QString &dir, const QMap<QString, QString> &options)
{
    Database db(dir, nullptr);
    for (auto it = options.cbegin(); it != options.cend(); ++it)
        db.setOption(it.key(), it.value());
}

void setDefaultDataPath(const QString &path)
{
    Database defaultFolder(QString(), nullptr);
    defaultFolder.setOption(QStringLiteral("datapath"), path);
}

QString dailyLogName()
{
    return QStringLiteral("logs/ZirevPavlet_")
        + QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".log");
}

// The running threads named `name`. A QThread without an object name is named after its
// class, so the workers' threads are counted under "QThread".
int threadsNamed(const QByteArray &name)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    int count = 0;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            ++count;
    }
    return count;
}

// Whether a database connection whose name begins with `prefix` is open (the workers name
// theirs "ebayDB_…" and "listingThreadDB_…" and drop them when their loop ends).
bool hasConnection(const QString &prefix)
{
    const QStringList names = QSqlDatabase::connectionNames();
    return std::any_of(names.cbegin(), names.cend(),
                       [&](const QString &name) { return name.startsWith(prefix); });
}

QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        g_warnings << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void buildsWithoutWiringWarnings();
    void missingDataPath_data();
    void missingDataPath();
    void existingDataPath();
    void syncInterval_data();
    void syncInterval();
    void titleAndAboutText_data();
    void titleAndAboutText();
    void firstStartLayout();

    void restoreNotCarriedOut_data();
    void restoreNotCarriedOut();
    void restoreAccepted_data();
    void restoreAccepted();
    void restoreSwapFailureKeepsData();

    void closeEndsWorkersAndSavesLayout();
    // Last: it runs the application's own event loop, as the program does.
    void quitActionClosesLikeTheWindow();

private:
    // Builds and shows the window on `dataPath` (empty: the default data folder).
    bool startWindow(const QString &dataPath);
    void closeWindow();
    QString dataDir() const { return m_base->path() + QStringLiteral("/data"); }
    QString restoreDir() const { return dataDir() + QStringLiteral("_bk"); }
    template<typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<QTemporaryDir> m_base;
    std::unique_ptr<DialogAnswers> m_answers;
    std::unique_ptr<MainWindow> m_window;
};

void TestStartup::init()
{
    m_base = std::make_unique<QTemporaryDir>();
    QVERIFY(m_base->isValid());
    m_answers = std::make_unique<DialogAnswers>();
    Settings::mainWindow()->clear();
}

void TestStartup::cleanup()
{
    closeWindow();
    // The window's log handler goes, so the test's own catches warnings again.
    MessageLog::close();
    m_answers.reset();
    m_base.reset();
}

bool TestStartup::startWindow(const QString &dataPath)
{
    setDefaultDataPath(dataPath);
    TestSupport::resetApplicationState();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

void TestStartup::closeWindow()
{
    if (!m_window)
        return;
    m_window->close();
    m_window.reset();
}

void TestStartup::buildsWithoutWiringWarnings()
{
    g_warnings.clear();
    g_previousHandler = qInstallMessageHandler(recordWarnings);
    const bool shown = startWindow(dataDir());
    // The window started the log, which took over from the recorder; hand back in order.
    MessageLog::close();
    qInstallMessageHandler(g_previousHandler);
    QVERIFY(shown);

    const QStringList wiring = g_warnings.filter(QRegularExpression(
        QStringLiteral("connectSlotsByName|^QObject::connect: |^QObject::connect\\(.*No such")));
    QVERIFY2(wiring.isEmpty(), qPrintable(wiring.join(QLatin1Char('\n'))));
}

void TestStartup::missingDataPath_data()
{
    QTest::addColumn<bool>("asFile");
    QTest::newRow("nothing there") << false;
    // A data folder can't be made there either.
    QTest::newRow("a file") << true;
}

void TestStartup::missingDataPath()
{
    QFETCH(bool, asFile);
    const QString missing = m_base->path() + QStringLiteral("/weg");
    if (asFile) {
        QFile file(missing);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QVERIFY(startWindow(missing));

    QCOMPARE(m_answers->messages().size(), 1);
    QCOMPARE(m_answers->messages().first().type, 2);
    QCOMPARE(m_answers->messages().first().text,
             QStringLiteral("Der hinterlegte Datenpfad \"%1\" ist nicht vorhanden, nutze das "
                            "Standardverzeichnis und setze die Einstellung zurück")
                 .arg(missing));
    QCOMPARE(qApp->property("datadir").toString(), Database::defaultDataDir());
    QCOMPARE(MessageLog::currentPath(), Database::defaultDataDir() + dailyLogName());
    QVERIFY(QFileInfo::exists(Database::defaultDataDir() + dailyLogName()));
    // Nothing was made in the missing place.
    QCOMPARE(QFileInfo::exists(missing), asFile);
    QVERIFY(!QFileInfo(missing).isDir());

    closeWindow();
    QCOMPARE(sqlValue(Database::defaultDataDir(),
                      QStringLiteral("SELECT COUNT(*) FROM options WHERE optionname = 'datapath' "
                                     "AND optionvalue = ''")),
             QStringLiteral("1"));
}

void TestStartup::existingDataPath()
{
    QVERIFY(QDir().mkpath(dataDir()));
    QVERIFY(startWindow(dataDir()));

    QVERIFY2(m_answers->messages().isEmpty(), qPrintable(m_answers->lastMessageText()));
    QCOMPARE(qApp->property("datadir").toString(), dataDir() + QLatin1Char('/'));
    QVERIFY(QFileInfo::exists(QDir(dataDir()).filePath(Database::getDatabaseName())));
    const QString log = QDir(dataDir()).filePath(dailyLogName());
    QCOMPARE(MessageLog::currentPath(), log);
    QVERIFY(QFileInfo::exists(log));
    QCOMPARE(storedOption(Database::defaultDataDir(), QStringLiteral("datapath")), dataDir());
}

void TestStartup::syncInterval_data()
{
    QTest::addColumn<QString>("stored"); // null: no option
    QTest::addColumn<int>("expected");
    QTest::newRow("no option") << QString() << 60;
    QTest::newRow("not a number") << QStringLiteral("abc") << 0;
    QTest::newRow("15 minutes") << QStringLiteral("15") << 15;
}

void TestStartup::syncInterval()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    QMap<QString, QString> options;
    if (!stored.isNull())
        options.insert(QStringLiteral("SyncIntervall"), stored);
    // Read from the database of the chosen data folder, not the default one.
    makeDataFolder(dataDir(), options);
    {
        Database defaultFolder(QString(), nullptr);
        defaultFolder.setOption(QStringLiteral("SyncIntervall"), QStringLiteral("7"));
    }

    QVERIFY(startWindow(dataDir()));
    const QVariant published = qApp->property("SyncIntervall");
    closeWindow();
    {
        Database defaultFolder(QString(), nullptr);
        QVERIFY(defaultFolder.executeSQL(
            QStringLiteral("DELETE FROM options WHERE optionname = 'SyncIntervall'")));
    }
    QCOMPARE(published.type(), QVariant::Int);
    QCOMPARE(published.toInt(), expected);
}

void TestStartup::titleAndAboutText_data()
{
    TestSupport::addBackendRows();
}

void TestStartup::titleAndAboutText()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    data.closeMain();

    TestSupport::MainWindowFixture fixture(data);
    QVERIFY(fixture.window());
    QCOMPARE(fixture.window()->windowTitle(),
             backend == Backend::MySQL ? QStringLiteral("Zerire 3.1.8 MySQL")
                                       : QStringLiteral("Zerire 3.1.8"));
    auto *about = fixture.window()->findChild<QAction *>(QStringLiteral("action_ber_1"));
    QVERIFY(about);
    QCOMPARE(about->text(), QStringLiteral("Über Zerire3"));
    QVERIFY2(m_answers->messages().isEmpty(), qPrintable(m_answers->lastMessageText()));
}

void TestStartup::firstStartLayout()
{
    QVERIFY(startWindow(dataDir()));
    // Without a window manager the window stands exactly where it was put.
    QTRY_COMPARE(m_window->geometry(), QRect(20, 20, 1024, 700));
    QCOMPARE(child<QSplitter>("main_splitter")->sizes(), (QList<int> { 819, 204 }));
    // Asked for 307:716 of the window's width; inside the article area's 819 pixels the
    // inner splitter keeps that proportion.
    const QList<int> inner = child<QSplitter>("cat_article_splitter")->sizes();
    QCOMPARE(inner.size(), 2);
    const int innerTotal = inner.at(0) + inner.at(1);
    QVERIFY2(qAbs(inner.at(0) - innerTotal * 307 / 1023) <= 1,
             qPrintable(QString::number(inner.at(0))));
    QVERIFY(innerTotal > 800);
}

// --- pending restore -------------------------------------------------------------------

void TestStartup::restoreAccepted_data()
{
    QTest::addColumn<bool>("oldNameTaken");
    QTest::newRow("first restore") << false;
    QTest::newRow("previous data already kept once") << true;
}

void TestStartup::restoreAccepted()
{
    QFETCH(bool, oldNameTaken);
    const QString taken = dataDir() + QStringLiteral("_old");
    const QString oldDir = oldNameTaken ? taken + QStringLiteral("_old") : taken;
    if (oldNameTaken) {
        QVERIFY(QDir().mkpath(taken));
        QFile keep(taken + QStringLiteral("/keep.txt"));
        QVERIFY(keep.open(QIODevice::WriteOnly));
    }
    makeDataFolder(dataDir(),
                   { { kMarker, QStringLiteral("current") },
                     { QStringLiteral("SyncIntervall"), QStringLiteral("25") },
                     { QStringLiteral("RESTOREMODE"), restoreDir() } });
    {
        // The backup comes from an older program: its database lacks the last steps.
        Database restored(restoreDir(), nullptr);
        restored.setOption(kMarker, QStringLiteral("restored"));
        restored.setOption(QStringLiteral("SyncIntervall"), QStringLiteral("15"));
        QVERIFY(restored.executeSQL(QStringLiteral("DROP INDEX idx_articles_folder")));
        restored.setOption(Schema::versionOption(), QStringLiteral("2"));
    }
    const QString picture = restoreDir() + QStringLiteral("/adimages/1_0.jpg");
    QVERIFY(QDir().mkpath(QFileInfo(picture).path()));
    {
        QFile file(picture);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    m_answers->pushQuestion(true);

    QVERIFY(startWindow(dataDir()));

    QCOMPARE(m_answers->questions().size(), 1);
    QCOMPARE(m_answers->messages().size(), 1);
    QCOMPARE(m_answers->messages().first().type, 0);
    QCOMPARE(m_answers->messages().first().text,
             QStringLiteral("Die Wiederherstellung war erfolgreich. Die bisherigen Daten wurden "
                            "nach %1 verschoben")
                 .arg(oldDir));
    // Every later step works on the restored data.
    QCOMPARE(qApp->property("SyncIntervall").toInt(), 15);
    QCOMPARE(qApp->property("datadir").toString(), dataDir() + QLatin1Char('/'));
    QCOMPARE(MessageLog::currentPath(), QDir(dataDir()).filePath(dailyLogName()));

    closeWindow();
    QVERIFY(!QFileInfo::exists(restoreDir()));
    QVERIFY(QFileInfo::exists(dataDir() + QStringLiteral("/adimages/1_0.jpg")));
    QCOMPARE(storedOption(dataDir(), kMarker), QStringLiteral("restored"));
    QCOMPARE(storedOption(dataDir(), QStringLiteral("RESTOREMODE")), QString());
    QCOMPARE(storedOption(dataDir(), Schema::versionOption()),
             QString::number(Schema::currentVersion()));
    QCOMPARE(sqlValue(dataDir(),
                      QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND "
                                     "name = 'idx_articles_folder'")),
             QStringLiteral("idx_articles_folder"));
    QCOMPARE(storedOption(oldDir, kMarker), QStringLiteral("current"));
    if (oldNameTaken) {
        QVERIFY(QFileInfo::exists(taken + QStringLiteral("/keep.txt")));
        QVERIFY(!QFileInfo::exists(QDir(taken).filePath(Database::getDatabaseName())));
    }
}

void TestStartup::restoreNotCarriedOut_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("restoreFolderThere");
    QTest::addColumn<QString>("error");
    QTest::newRow("declined") << false << true << QString();
    QTest::newRow("restore folder gone")
        << true << false
        << QStringLiteral("Die Wiederherstellung scheint nicht mehr vorhanden zu sein, der "
                          "Programmstart wird regulär fortgesetzt, wiederhole ggf. die "
                          "Rücksicherung");
}

void TestStartup::restoreNotCarriedOut()
{
    QFETCH(bool, answer);
    QFETCH(bool, restoreFolderThere);
    QFETCH(QString, error);
    makeDataFolder(dataDir(),
                   { { kMarker, QStringLiteral("current") },
                     { QStringLiteral("SyncIntervall"), QStringLiteral("25") },
                     { QStringLiteral("RESTOREMODE"), restoreDir() } });
    if (restoreFolderThere)
        makeDataFolder(restoreDir(), { { kMarker, QStringLiteral("restored") } });
    m_answers->pushQuestion(answer);

    QVERIFY(startWindow(dataDir()));

    QCOMPARE(m_answers->questions().size(), 1);
    QCOMPARE(m_answers->questions().first().header, QStringLiteral("Wiederherstellung"));
    QCOMPARE(m_answers->questions().first().text,
             QStringLiteral("Eine zuvor gewählte Sicherung wird nun wiederhergestellt, "
                            "fortfahren?"));
    if (error.isEmpty()) {
        QVERIFY2(m_answers->messages().isEmpty(), qPrintable(m_answers->lastMessageText()));
    } else {
        QCOMPARE(m_answers->messages().size(), 1);
        QCOMPARE(m_answers->messages().first().type, 2);
        QCOMPARE(m_answers->messages().first().text, error);
    }
    QCOMPARE(qApp->property("SyncIntervall").toInt(), 25);

    closeWindow();
    // Offered once only; the data stay as they were.
    QCOMPARE(storedOption(dataDir(), QStringLiteral("RESTOREMODE")), QString());
    QCOMPARE(storedOption(dataDir(), kMarker), QStringLiteral("current"));
    QVERIFY(!QFileInfo::exists(dataDir() + QStringLiteral("_old")));
    if (restoreFolderThere)
        QCOMPARE(storedOption(restoreDir(), kMarker), QStringLiteral("restored"));
}

void TestStartup::restoreSwapFailureKeepsData()
{
    // A folder on another file system can't be renamed into the data folder's place.
    QTemporaryDir otherFileSystem(QStringLiteral("/dev/shm/zerire-startup-XXXXXX"));
    if (!otherFileSystem.isValid()
        || QStorageInfo(otherFileSystem.path()).rootPath()
            == QStorageInfo(m_base->path()).rootPath())
        QSKIP("/dev/shm is not a file system of its own here");
    const QString restore = otherFileSystem.path() + QStringLiteral("/data_bk");
    makeDataFolder(dataDir(),
                   { { kMarker, QStringLiteral("current") },
                     { QStringLiteral("SyncIntervall"), QStringLiteral("25") },
                     { QStringLiteral("RESTOREMODE"), restore } });
    makeDataFolder(restore,
                   { { kMarker, QStringLiteral("restored") },
                     { QStringLiteral("SyncIntervall"), QStringLiteral("15") } });
    m_answers->pushQuestion(true);

    QVERIFY(startWindow(dataDir()));

    QCOMPARE(m_answers->messages().size(), 1);
    QCOMPARE(m_answers->messages().first().type, 2);
    QCOMPARE(m_answers->messages().first().text,
             QStringLiteral("Es gab ein Problem beim umbenennen des Ordners %1 in %2, bitte "
                            "prüfe manuell, was zu tun ist")
                 .arg(restore, dataDir()));
    // The previous data are back in place and the start went on with them.
    QCOMPARE(qApp->property("datadir").toString(), dataDir() + QLatin1Char('/'));
    QCOMPARE(qApp->property("SyncIntervall").toInt(), 25);
    QCOMPARE(MessageLog::currentPath(), QDir(dataDir()).filePath(dailyLogName()));

    closeWindow();
    QVERIFY(!QFileInfo::exists(dataDir() + QStringLiteral("_old")));
    QCOMPARE(storedOption(dataDir(), kMarker), QStringLiteral("current"));
    QCOMPARE(storedOption(dataDir(), QStringLiteral("RESTOREMODE")), QString());
    QCOMPARE(storedOption(restore, kMarker), QStringLiteral("restored"));
}

// --- shutdown --------------------------------------------------------------------------

void TestStartup::closeEndsWorkersAndSavesLayout()
{
    const int threadsBefore = threadsNamed("QThread");
    QVERIFY(startWindow(dataDir()));
    QTRY_COMPARE(threadsNamed("QThread"), threadsBefore + 2);
    QTRY_VERIFY(hasConnection(QStringLiteral("ebayDB_"))
                && hasConnection(QStringLiteral("listingThreadDB_")));

    // A layout unlike the first start's.
    const QRect geometry(60, 50, 900, 640);
    m_window->setGeometry(geometry);
    QTRY_COMPARE(m_window->geometry(), geometry);
    child<QSplitter>("main_splitter")->setSizes({ 500, 300 });
    child<QSplitter>("cat_article_splitter")->setSizes({ 200, 600 });
    child<QToolBar>("mainToolBar")->hide();
    const QList<int> mainSizes = child<QSplitter>("main_splitter")->sizes();
    const QList<int> folderSizes = child<QSplitter>("cat_article_splitter")->sizes();

    QElapsedTimer closing;
    closing.start();
    QVERIFY(m_window->close());
    QVERIFY2(closing.elapsed() < 5000, qPrintable(QString::number(closing.elapsed())));
    QCOMPARE(qApp->property("AppDown").toInt(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QThread"), threadsBefore, 3000);
    QVERIFY(!hasConnection(QStringLiteral("ebayDB_")));
    QVERIFY(!hasConnection(QStringLiteral("listingThreadDB_")));

    const auto settings = Settings::mainWindow();
    for (const char *key : { "MainWindow/geometry", "MainWindow/windowState",
                             "main_splitter/geometry", "cat_article_splitter/geometry" })
        QVERIFY2(!settings->value(QLatin1String(key)).toByteArray().isEmpty(), key);
    m_window.reset();
    MessageLog::close();

    QVERIFY(startWindow(dataDir()));
    QTRY_COMPARE(m_window->geometry(), geometry);
    QCOMPARE(child<QSplitter>("main_splitter")->sizes(), mainSizes);
    QCOMPARE(child<QSplitter>("cat_article_splitter")->sizes(), folderSizes);
    QVERIFY(child<QToolBar>("mainToolBar")->isHidden());
}

void TestStartup::quitActionClosesLikeTheWindow()
{
    const int threadsBefore = threadsNamed("QThread");
    QVERIFY(startWindow(dataDir()));
    QTRY_COMPARE(threadsNamed("QThread"), threadsBefore + 2);
    auto *quit = child<QAction>("actionBeenden");
    QVERIFY(quit);

    // Only the action may end the application's loop here; a stuck close ends it with 99.
    qApp->setQuitOnLastWindowClosed(false);
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    QTimer::singleShot(0, quit, &QAction::trigger);
    const int result = QCoreApplication::exec();
    guard.stop();
    qApp->setQuitOnLastWindowClosed(true);
    QCoreApplication::removePostedEvents(qApp, QEvent::Quit);

    QCOMPARE(result, 0);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(qApp->property("AppDown").toInt(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(threadsNamed("QThread"), threadsBefore, 3000);
    QVERIFY(!Settings::mainWindow()->value(QStringLiteral("MainWindow/geometry")).isNull());
}

APP_TEST_MAIN(TestStartup)
#include "test_startup.moc"
