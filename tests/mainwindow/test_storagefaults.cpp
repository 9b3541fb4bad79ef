// What the seller sees when the database can't be used as usual: a damaged file, a read-only
// file or data folder, a full disk at start; failed writes of commands; and the database
// file after a normal quit.

#include "core/database.h"
#include "core/mymessageoutput.h"
#include "core/schema.h"
#include "core/settings.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mounts.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

using TestSupport::answerFolderEdit;
using TestSupport::Mounts;

QByteArray contents(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool isRoot()
{
    return Mounts::isRoot();
}

} // namespace

class TestStorageFaults : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_base;
    std::unique_ptr<DialogAnswers> m_answers;
    std::unique_ptr<MainWindow> m_window;

    QString dataDir() const { return m_base->path() + QStringLiteral("/data/"); }
    QString dataFile() const { return dataDir() + Database::getDatabaseName(); }
    QTreeView *tree() const { return m_window->findChild<QTreeView *>(QStringLiteral("treeView")); }
    // The user's folders as the tree shows them.
    QString drafts() const
    {
        return TestSupport::shape(tree()->model(), TestSupport::folderIndexOf(tree()->model(), -10));
    }

    // A data folder with two folders holding one subfolder each, and enough articles for
    // the file to have many pages.
    void prepareData()
    {
        Database data(dataDir(), nullptr);
        for (const auto &[name, child] : { std::pair { "Werkzeug", "Spaten" },
                                           std::pair { "Garten", "Beet" } }) {
            const int id = data.insertSqlClean(
                { { "foldername", name }, { "folderparentid", -10 }, { "expand", 1 } }, "folders");
            QVERIFY(id > 0);
            QVERIFY(data.insertSqlClean({ { "foldername", child }, { "folderparentid", id } },
                                        "folders")
                    > 0);
        }
        for (int i = 0; i < 200; ++i)
            QVERIFY(data.insertSqlClean({ { "Title", QStringLiteral("Artikel %1").arg(i) },
                                          { "Folder", -10 },
                                          { "Description", QString(1500, QLatin1Char('x')) } },
                                        "articles")
                    > 0);
        QVERIFY(data.setOption(QStringLiteral("lastOrder"), QStringLiteral("id ASC")));
    }
    bool startWindow()
    {
        m_window = TestSupport::startMainWindow(dataDir());
        return m_window != nullptr;
    }
    // The window on the prepared data, its database file read-only; the start's message taken.
    void startOnReadOnlyFile(Mounts &mounts)
    {
        if (!isRoot())
            QSKIP("Needs root to make the file read-only for its owner");
        prepareData();
        if (!mounts.bindReadOnly(dataFile()))
            QSKIP("This machine lets root mount no file system of its own");
        QVERIFY(startWindow());
        QCOMPARE(m_answers->messages().size(), 1);
        m_answers->clear();
    }
    void closeWindow()
    {
        if (m_window)
            m_window->close();
        m_window.reset();
        MessageLog::close();
    }
    void newFolderInDrafts(const QString &name)
    {
        tree()->setCurrentIndex(TestSupport::folderIndexOf(tree()->model(), -10));
        answerFolderEdit(name);
        m_window->findChild<QAction *>(QStringLiteral("actionNeuer_Ordner"))->trigger();
    }

private slots:
    void init()
    {
        m_base = std::make_unique<QTemporaryDir>();
        QVERIFY(m_base->isValid());
        QVERIFY(QDir().mkpath(dataDir()));
        m_answers = std::make_unique<DialogAnswers>();
        Settings::mainWindow()->clear();
    }
    void cleanup()
    {
        closeWindow();
        m_answers.reset();
        m_base.reset();
    }

    void startWithAFaultyDatabase_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message"); // its beginning; {file}, {folder} stand for the paths
        QTest::newRow("page overwritten by random bytes")
            << "damaged" << "Die Datenbank \"{file}\" ist beschädigt: ";
        QTest::newRow("header overwritten") << "header"
                                            << "Die Datenbank \"{file}\" ist beschädigt: ";
        QTest::newRow("read-only file")
            << "read-only file"
            << "Die Datenbank \"{file}\" ist schreibgeschützt. Sie wird nur gelesen, Änderungen "
               "werden nicht gespeichert.";
        QTest::newRow("read-only data folder")
            << "read-only folder"
            << "In den Datenordner \"{folder}\" kann nicht geschrieben werden. Die Datenbank wird "
               "nur gelesen, Änderungen werden nicht gespeichert.";
        QTest::newRow("full file system")
            << "full" << "Auf dem Datenträger des Datenordners \"{folder}\" ist kein Platz mehr "
                         "frei.";
    }
    // One message naming the file or folder; the window shows what can be read and nothing is
    // written into the file.
    void startWithAFaultyDatabase()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        Mounts mounts;
        const bool damaged = fault == QLatin1String("damaged") || fault == QLatin1String("header");
        if (!damaged) {
            if (!isRoot())
                QSKIP("Needs root to mount a small file system of its own");
            if (!mounts.tmpfs(dataDir(), QStringLiteral("16m")))
                QSKIP("This machine lets root mount no file system of its own");
        }
        prepareData();
        if (fault == QLatin1String("damaged")) {
            QFile file(dataFile());
            QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > 10 * 4096);
            QByteArray noise(4096, '\0');
            QRandomGenerator random(7);
            for (char &byte : noise)
                byte = char(random.bounded(256));
            QVERIFY(file.seek(4 * 4096) && file.write(noise) == noise.size());
        } else if (fault == QLatin1String("header")) {
            // The first 100 bytes: SQLite no longer takes the file for a database at all.
            QFile file(dataFile());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.write(QByteArray(100, '\x5a')) == 100);
        } else if (fault == QLatin1String("read-only file")) {
            QVERIFY(mounts.bindReadOnly(dataFile()));
        } else if (fault == QLatin1String("read-only folder")) {
            QVERIFY(mounts.remountReadOnly(dataDir()));
        } else {
            QFile filler(dataDir() + QStringLiteral("filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(64 * 1024, 'f');
            while (filler.write(block) == block.size() && filler.flush()) { }
        }
        const QByteArray before = contents(dataFile());

        QVERIFY(startWindow());
        QTest::qWait(600); // the list is filled, the workers run their first pass

        message.replace(QStringLiteral("{file}"), QDir::toNativeSeparators(dataFile()))
            .replace(QStringLiteral("{folder}"), QDir::toNativeSeparators(dataDir()));
        QCOMPARE(m_answers->messages().size(), 1);
        QCOMPARE(m_answers->messages().first().type, 2);
        QVERIFY2(m_answers->lastMessageText().startsWith(message),
                 qPrintable(m_answers->lastMessageText()));
        if (damaged)
            QVERIFY(m_answers->lastMessageText().contains("Stelle eine Sicherung wieder her"));
        else
            QCOMPARE(drafts(), QStringLiteral("Garten [Beet], Werkzeug [Spaten]"));
        // The day's log lies in the data folder or, where that can't be written, nowhere.
        QVERIFY2(MessageLog::currentPath().isEmpty()
                     || MessageLog::currentPath().startsWith(dataDir()),
                 qPrintable(MessageLog::currentPath()));
        closeWindow();
        QVERIFY(contents(dataFile()) == before);
    }

    // A command's write fails: one notice with the database's reason, also for several
    // statements in a row, and the tree stays as stored.
    void failedWritesOfCommands()
    {
        Mounts mounts;
        startOnReadOnlyFile(mounts);
        if (QTest::currentTestFailed() || !m_window)
            return;
        const QString stored = drafts();

        newFolderInDrafts(QStringLiteral("Neu"));
        QTRY_COMPARE(m_answers->messages().size(), 1);
        QVERIFY2(m_answers->lastMessageText().startsWith(
                     "Die Änderung konnte nicht gespeichert werden. Die Datenbank meldet:\n")
                     && m_answers->lastMessageText().contains("readonly"),
                 qPrintable(m_answers->lastMessageText()));
        QCOMPARE(drafts(), stored);

        const QAbstractItemModel *model = tree()->model();
        const QModelIndex drafts = TestSupport::folderIndexOf(model, -10);
        tree()->collapse(model->index(0, 0, drafts));
        tree()->collapse(model->index(1, 0, drafts));
        tree()->expand(model->index(0, 0, drafts));
        QTRY_COMPARE(m_answers->messages().size(), 2);
        QVERIFY2(m_answers->lastMessageText().endsWith("(3 Schreibvorgänge sind fehlgeschlagen.)"),
                 qPrintable(m_answers->lastMessageText()));
        QTest::qWait(100);
        QCOMPARE(m_answers->messages().size(), 2);
    }

    // A worker's failed write goes to the status panel (and the log), not into a dialog.
    void failedWriteOfAWorker()
    {
        Mounts mounts;
        startOnReadOnlyFile(mounts);
        if (QTest::currentTestFailed() || !m_window)
            return;

        bool written = true;
        std::unique_ptr<QThread> worker(QThread::create([&written] {
            Database db(true, QStringLiteral("storageWorker"));
            written = db.executeSQL(QStringLiteral("UPDATE articles SET WatchCount = 3"));
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QVERIFY(!written);
        const auto *label = m_window->findChild<QLabel *>(QStringLiteral("SyncLabel"));
        QTRY_VERIFY2(label->text().contains("Speichern fehlgeschlagen: Die Datenbank ist "
                                            "schreibgeschützt")
                         && label->text().contains("attempt to write a readonly"),
                     qPrintable(label->text()));
        QVERIFY(m_window->findChild<QWidget *>(QStringLiteral("SyncWidget"))->isVisible());
        QCOMPARE(m_answers->messages().size(), 0);
    }

    // A copy of the database file alone, made after the window closed, holds every table and
    // the last change.
    void quitLeavesACompleteFile()
    {
        QVERIFY(startWindow());
        newFolderInDrafts(QStringLiteral("Zuletzt angelegt"));
        QTRY_VERIFY(drafts().contains("Zuletzt angelegt"));
        closeWindow();

        const QString copy = m_base->path() + QStringLiteral("/copy.sqlite");
        QVERIFY(QFile::copy(dataFile(), copy));
        {
            QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "quitcopy");
            check.setDatabaseName(copy);
            QVERIFY(check.open());
            const QStringList tables = check.tables();
            for (const Schema::Table &table : Schema::tables())
                QVERIFY2(tables.contains(table.name), qPrintable(table.name));
            QSqlQuery q(check);
            QVERIFY(q.exec("SELECT COUNT(*) FROM folders WHERE foldername = 'Zuletzt angelegt'"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 1);
        }
        QSqlDatabase::removeDatabase("quitcopy");
    }
};

APP_TEST_MAIN(TestStorageFaults)
#include "test_storagefaults.moc"
