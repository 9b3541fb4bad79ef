// The main window's start-up and shutdown: data folder, options, pending restore, layout, and
// closing, which must let both background workers finish their loops.

#include "core/database.h"
#include "core/mymessageoutput.h"
#include "core/schema.h"
#include "core/settings.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/sqlitereadcut.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QSplitter>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <memory>

using TestSupport::Backend;

namespace {

// One value read from a data folder's SQLite file past the program's Database, which would
// upgrade the schema and publish the folder.
QString sqlValue(const QString &dataDir, const QString &sql)
{
    const QString name = QStringLiteral("startup_raw");
    QString value;
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        raw.setDatabaseName(QDir(dataDir).filePath(Database::getDatabaseName()));
        raw.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(raw);
        if (raw.open() && query.exec(sql) && query.next())
            value = query.value(0).toString();
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

QString dailyLogName()
{
    return QStringLiteral("logs/ZirevPavlet_")
        + QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".log");
}

// The workers' database connections, which they drop when their loops end.
int workerConnections()
{
    const QStringList names = QSqlDatabase::connectionNames();
    return names.filter(QRegularExpression(QStringLiteral("^(ebayDB|listingThreadDB)_"))).size();
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

private:
    std::unique_ptr<QTemporaryDir> m_base;
    std::unique_ptr<DialogAnswers> m_answers;
    std::unique_ptr<MainWindow> m_window;

    QString dataDir() const { return m_base->path() + QStringLiteral("/data"); }
    // The messages shown, each as its type and text.
    QStringList shownMessages() const
    {
        QStringList shown;
        for (const DialogAnswers::Message &m : m_answers->messages())
            shown << QString::number(m.type) + QLatin1Char(' ') + m.text;
        return shown;
    }
    template<typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    // Builds and shows the window with "datapath" set to `dataPath`.
    bool startWindow(const QString &dataPath)
    {
        if (!Database(QString(), nullptr).setOption(QStringLiteral("datapath"), dataPath))
            return false;
        TestSupport::resetApplicationState();
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window.get());
    }
    void closeWindow()
    {
        if (m_window)
            m_window->close();
        m_window.reset();
        MessageLog::close();
    }

private slots:
    void init()
    {
        g_warnings.clear();
        g_previousHandler = qInstallMessageHandler(recordWarnings);
        m_base = std::make_unique<QTemporaryDir>();
        QVERIFY(m_base->isValid());
        m_answers = std::make_unique<DialogAnswers>();
        Settings::mainWindow()->clear();
    }
    // Every start: no wiring warnings until the window's own log takes over.
    void cleanup()
    {
        closeWindow();
        qInstallMessageHandler(g_previousHandler);
        m_answers.reset();
        m_base.reset();
        const QStringList wiring = g_warnings.filter(QRegularExpression(QStringLiteral(
            "connectSlotsByName|^QObject::connect: |^QObject::connect\\(.*No such")));
        QVERIFY2(wiring.isEmpty(), qPrintable(wiring.join(QLatin1Char('\n'))));
    }

    void dataPath_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing") << false;
        QTest::newRow("existing") << true;
    }
    void dataPath()
    {
        QFETCH(bool, exists);
        if (exists)
            QVERIFY(QDir().mkpath(dataDir()));
        QVERIFY(startWindow(dataDir()));

        const QString used = exists ? dataDir() + QLatin1Char('/') : Database::defaultDataDir();
        QCOMPARE(qApp->property("datadir").toString(), used);
        QVERIFY(QFileInfo::exists(used + Database::getDatabaseName()));
        QCOMPARE(MessageLog::currentPath(), used + dailyLogName());
        QVERIFY(QFileInfo::exists(used + dailyLogName()));
        QCOMPARE(shownMessages(),
                 exists
                     ? QStringList()
                     : QStringList { QStringLiteral("2 Der hinterlegte Datenpfad \"%1\" ist nicht "
                                                    "vorhanden, nutze das Standardverzeichnis "
                                                    "und setze die Einstellung zurück")
                                         .arg(dataDir()) });
        QCOMPARE(QFileInfo::exists(dataDir()), exists);
        closeWindow();
        QCOMPARE(storedOption(Database::defaultDataDir(), QStringLiteral("datapath")),
                 exists ? dataDir() : QString());
    }

    void syncInterval_data()
    {
        QTest::addColumn<QString>("stored"); // null: no option
        QTest::addColumn<bool>("notRead"); // the read of the option fails
        QTest::addColumn<int>("expected");
        QTest::newRow("no option") << QString() << false << 60;
        QTest::newRow("not a number") << QStringLiteral("abc") << false << 0;
        QTest::newRow("15 minutes") << QStringLiteral("15") << false << 15;
        // Switched off or not, it is not known: no rounds for this run, and the seller is told.
        QTest::newRow("not read") << QStringLiteral("0") << true << 0;
        QTest::newRow("no option, not read") << QString() << true << 0;
    }
    void syncInterval()
    {
        QFETCH(QString, stored);
        QFETCH(bool, notRead);
        {
            Database folder(dataDir(), nullptr);
            if (!stored.isNull())
                QVERIFY(folder.setOption(QStringLiteral("SyncIntervall"), stored));
        }
        TestSupport::SqliteReadCut cut;
        if (notRead)
            cut.cutAfter("optionname = 'SyncIntervall'", 0);
        QVERIFY(startWindow(dataDir()));
        QCOMPARE(cut.cuts(), notRead ? 1 : 0);
        QCOMPARE(qApp->property("SyncIntervall").type(), QVariant::Int);
        QTEST(qApp->property("SyncIntervall").toInt(), "expected");
        const QStringList told = shownMessages().filter("automatische Synchronisation");
        QCOMPARE(told.size(), notRead ? 1 : 0);
        if (notRead)
            QVERIFY2(told.first().startsWith("1 ")
                         && told.first().contains("bis zum nächsten Start ausgeschaltet"),
                     qPrintable(told.first()));
    }

    void titleAndAboutText_data() { TestSupport::addBackendRows(); }
    void titleAndAboutText()
    {
        QFETCH(Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        TestSupport::TestDatabase data(backend);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        QCOMPARE(fixture.window()->windowTitle(),
                 backend == Backend::MySQL ? QStringLiteral("Zerire 3.1.8 MySQL")
                                           : QStringLiteral("Zerire 3.1.8"));
        QCOMPARE(fixture.window()->findChild<QAction *>(QStringLiteral("action_ber_1"))->text(),
                 QStringLiteral("Über Zerire3"));
    }

    void pendingRestore_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("restore"); // where the unpacked restore is
        QTest::addColumn<bool>("oldNameTaken");
        QTest::addColumn<QString>("message"); // type, text; {restore}, {data}, {old}: folders
        QTest::newRow("declined") << false << "next to it" << false << QString();
        // Only this workstation's own pending restore counts, never one in the database.
        QTest::newRow("pending in the database only")
            << false << "in the database" << false << QString();
        QTest::newRow("restore folder gone")
            << true << "gone" << false
            << QStringLiteral("2 Die Wiederherstellung scheint nicht mehr vorhanden zu sein, der "
                              "Programmstart wird regulär fortgesetzt, wiederhole ggf. die "
                              "Rücksicherung");
        // A folder on another file system can't be renamed into the data folder's place.
        QTest::newRow("rename into place fails")
            << true << "other file system" << false
            << QStringLiteral("2 Die Wiederherstellung ist fehlgeschlagen: Der Ordner {restore} "
                              "konnte nicht in {data} umbenannt werden. Die bisherigen Daten "
                              "werden wieder verwendet.");
        const QString done = QStringLiteral(
            "0 Die Wiederherstellung war erfolgreich. Die bisherigen Daten wurden nach {old} "
            "verschoben");
        QTest::newRow("accepted") << true << "next to it" << false << done;
        QTest::newRow("accepted, previous data kept once before")
            << true << "next to it" << true << done;
    }
    void pendingRestore()
    {
        QFETCH(bool, answer);
        QFETCH(QString, restore);
        QFETCH(bool, oldNameTaken);
        QFETCH(QString, message);
        const bool restored = message.startsWith(QLatin1Char('0'));
        QTemporaryDir otherFileSystem(QStringLiteral("/dev/shm/zerire-startup-XXXXXX"));
        QString restoreDir = dataDir() + QStringLiteral("_bk");
        if (restore == QLatin1String("other file system")) {
            if (!otherFileSystem.isValid()
                || QStorageInfo(otherFileSystem.path()).rootPath()
                    == QStorageInfo(m_base->path()).rootPath())
                QSKIP("/dev/shm is not a file system of its own here");
            restoreDir = otherFileSystem.path() + QStringLiteral("/data_bk");
        }
        const QString taken = dataDir() + QStringLiteral("_old");
        const QString oldDir = oldNameTaken ? taken + QStringLiteral("_old") : taken;
        if (oldNameTaken)
            QVERIFY(QDir().mkpath(taken));
        {
            Database current(dataDir(), nullptr);
            QVERIFY(current.setOption(QStringLiteral("SyncIntervall"), QStringLiteral("25")));
            if (restore == QLatin1String("in the database"))
                QVERIFY(current.setOption(QStringLiteral("RESTOREMODE"), restoreDir));
            else
                MainWindow::setPendingRestore(restoreDir);
        }
        if (restore != QLatin1String("gone")) {
            // The backup comes from an older program: its database lacks the last steps.
            Database backup(restoreDir, nullptr);
            QVERIFY(backup.setOption(QStringLiteral("SyncIntervall"), QStringLiteral("15")));
            QVERIFY(backup.executeSQL(QStringLiteral("DROP INDEX idx_articles_folder")));
            QVERIFY(backup.setOption(Schema::versionOption(), QStringLiteral("2")));
            QVERIFY(QDir().mkpath(restoreDir + QStringLiteral("/adimages")));
        }
        const bool pendingHere = restore != QLatin1String("in the database");
        if (pendingHere)
            m_answers->pushQuestion(answer);

        QVERIFY(startWindow(dataDir()));

        QCOMPARE(m_answers->questions().size(), pendingHere ? 1 : 0);
        if (pendingHere)
            QCOMPARE(m_answers->questions().first().text,
                     QStringLiteral("Eine zuvor gewählte Sicherung wird nun wiederhergestellt, "
                                    "fortfahren?"));
        message.replace(QStringLiteral("{restore}"), restoreDir)
            .replace(QStringLiteral("{data}"), dataDir())
            .replace(QStringLiteral("{old}"), oldDir);
        QCOMPARE(shownMessages(), message.isEmpty() ? QStringList() : QStringList { message });
        QCOMPARE(qApp->property("datadir").toString(), dataDir() + QLatin1Char('/'));
        QCOMPARE(qApp->property("SyncIntervall").toInt(), restored ? 15 : 25);
        QCOMPARE(MessageLog::currentPath(), QDir(dataDir()).filePath(dailyLogName()));

        closeWindow();
        // Offered once only.
        QCOMPARE(MainWindow::pendingRestore(), QString());
        const QString sync = QStringLiteral("SyncIntervall");
        if (!restored) {
            QVERIFY(!QFileInfo::exists(taken));
            QCOMPARE(storedOption(restoreDir, sync),
                     restore == "gone" ? QString() : QStringLiteral("15"));
            return;
        }
        QVERIFY(!QFileInfo::exists(restoreDir));
        QVERIFY(QFileInfo(dataDir() + QStringLiteral("/adimages")).isDir());
        QCOMPARE(storedOption(oldDir, sync), QStringLiteral("25"));
        // The restored database got the schema's last steps.
        QCOMPARE(sqlValue(dataDir(),
                          QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND "
                                         "name = 'idx_articles_folder'")),
                 QStringLiteral("idx_articles_folder"));
    }

    void pendingRestoreAskedFirst_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("accepted") << true;
        QTest::newRow("declined") << false;
    }
    // The seller restores a backup because the database is damaged: at the next start the
    // restore is asked about first, and the damage is told only when the data stay.
    void pendingRestoreAskedFirst()
    {
        QFETCH(bool, answer);
        const QString restoreDir = dataDir() + QStringLiteral("_bk");
        {
            Database current(dataDir(), nullptr);
            Database backup(restoreDir, nullptr);
            QVERIFY(backup.setOption(QStringLiteral("SyncIntervall"), QStringLiteral("15")));
        }
        QFile damaged(QDir(dataDir()).filePath(Database::getDatabaseName()));
        QVERIFY(damaged.open(QIODevice::ReadWrite) && damaged.write(QByteArray(100, 'Z')) == 100);
        damaged.close();
        MainWindow::setPendingRestore(restoreDir);
        m_answers->pushQuestion(answer);

        QVERIFY(startWindow(dataDir()));

        const QStringList shown = m_answers->shownTexts();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(0),
                 QStringLiteral("Eine zuvor gewählte Sicherung wird nun wiederhergestellt, "
                                "fortfahren?"));
        QVERIFY2(shown.at(1).startsWith(answer ? QStringLiteral("Die Wiederherstellung war "
                                                                "erfolgreich")
                                               : QStringLiteral("Die Datenbank \"%1\" ist "
                                                                "beschädigt")
                                                     .arg(damaged.fileName())),
                 qPrintable(shown.at(1)));
        if (answer)
            QCOMPARE(qApp->property("SyncIntervall").toInt(), 15);
    }

    void closingEndsWorkersAndKeepsLayout_data()
    {
        QTest::addColumn<bool>("quitAction");
        QTest::newRow("window closed") << false;
        QTest::newRow("quit action") << true;
    }
    void closingEndsWorkersAndKeepsLayout()
    {
        QFETCH(bool, quitAction);
        QVERIFY(startWindow(dataDir()));
        QTRY_COMPARE(workerConnections(), 2);

        // First start: without a window manager the window stands exactly where it was put;
        // the inner splitter keeps the 307:716 asked for within the article area.
        QTRY_COMPARE(m_window->geometry(), QRect(20, 20, 1024, 700));
        QCOMPARE(child<QSplitter>("main_splitter")->sizes(), (QList<int> { 819, 204 }));
        const QList<int> inner = child<QSplitter>("cat_article_splitter")->sizes();
        const int innerTotal = inner.at(0) + inner.at(1);
        QVERIFY2(qAbs(inner.at(0) - innerTotal * 307 / 1023) <= 1 && innerTotal > 800,
                 qPrintable(QString::number(inner.at(0))));

        const QRect geometry(60, 50, 900, 640);
        m_window->setGeometry(geometry);
        QTRY_COMPARE(m_window->geometry(), geometry);
        child<QSplitter>("main_splitter")->setSizes({ 500, 300 });
        child<QSplitter>("cat_article_splitter")->setSizes({ 200, 600 });
        child<QToolBar>("mainToolBar")->hide();
        const QList<int> mainSizes = child<QSplitter>("main_splitter")->sizes();
        const QList<int> folderSizes = child<QSplitter>("cat_article_splitter")->sizes();

        if (quitAction) {
            // Only the action may end the loop here; a stuck close ends it with 99.
            qApp->setQuitOnLastWindowClosed(false);
            QObject guard;
            QTimer::singleShot(30000, &guard, [] { QCoreApplication::exit(99); });
            QTimer::singleShot(0, child<QAction>("actionBeenden"), &QAction::trigger);
            const int result = QCoreApplication::exec();
            qApp->setQuitOnLastWindowClosed(true);
            QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
            QCOMPARE(result, 0);
            QVERIFY(!m_window->isVisible());
        } else {
            QVERIFY(m_window->close());
        }
        // Closing returned only after both workers left their loops.
        QCOMPARE(workerConnections(), 0);
        QCOMPARE(qApp->property("AppDown").toInt(), 1);
        m_window.reset();
        MessageLog::close();

        QVERIFY(startWindow(dataDir()));
        QTRY_COMPARE(m_window->geometry(), geometry);
        QCOMPARE(child<QSplitter>("main_splitter")->sizes(), mainSizes);
        QCOMPARE(child<QSplitter>("cat_article_splitter")->sizes(), folderSizes);
        QVERIFY(child<QToolBar>("mainToolBar")->isHidden());
    }
};

APP_TEST_MAIN(TestStartup)
#include "test_startup.moc"
