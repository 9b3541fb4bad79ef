// Backup and restore through the main window: a backup taken while a worker writes holds
// every committed row; the restore command unpacks beside the data folder and the next start
// swaps it in; a broken archive changes nothing; a backup on a shared database says that the
// server's data are not in it. The import of a Rovive 2 export ends with a notice that is
// seen without a system tray too, and stops between two articles on Abbrechen or close.

#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/settings.h"
#include "import/foldercompressor.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mounts.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAbstractItemView>
#include <QAction>
#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <QtTest>

#include <atomic>

#include <sys/stat.h>

using TestSupport::Backend;

namespace {

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

// Inserts activity rows on a connection of its own until told to stop; `committed` is the
// highest id whose insert has returned.
class Writer : public QThread
{
public:
    std::atomic<int> committed { 0 };
    std::atomic<bool> stop { false };

protected:
    void run() override
    {
        Database db(true, QStringLiteral("writer"));
        while (!stop) {
            ArticleRow row;
            row.insert(QStringLiteral("title"), QStringLiteral("Zeile"));
            row.insert(QStringLiteral("textinfo"), QString(2000, QLatin1Char('x')));
            const int id = db.insertSqlClean(row, QStringLiteral("itemshistory"));
            if (id > 0)
                committed = id;
        }
        db.close();
    }
};

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_backups;
    std::unique_ptr<DialogAnswers> m_answers;
    mode_t m_umask = 0;

    static mode_t currentUmask()
    {
        const mode_t mask = umask(0);
        umask(mask);
        return mask;
    }

    // Folders the restore makes beside a data folder, removed after each test.
    static void removeSiblings(const QString &dataDir)
    {
        const QString base = QDir::cleanPath(dataDir);
        for (const char *suffix : { "_bk", "_bk_bk", "_old" })
            QDir(base + QLatin1String(suffix)).removeRecursively();
    }

    // The restore command with `archive` chosen; returns once it has told its end (it
    // unpacks on the background worker).
    void restoreFrom(MainWindow *window, const QString &archive)
    {
        m_answers->pushFileName(archive);
        const int shown = m_answers->shownTexts().size();
        window->findChild<QAction *>(QStringLiteral("actionDaten_wiederherstellen"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_answers->shownTexts().size() > shown, 60000);
    }

private slots:
    void init()
    {
        m_backups = std::make_unique<QTemporaryDir>();
        m_answers = std::make_unique<DialogAnswers>();
        MainWindow::setPendingRestore(QString());
        m_umask = currentUmask();
    }
    void cleanup()
    {
        m_answers.reset();
        m_backups.reset();
        // A test that changes the umask gives it back, also when it fails.
        QCOMPARE(currentUmask(), m_umask);
    }

    void backupWhileWriting()
    {
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        Writer writer;
        writer.start();
        QTRY_VERIFY(writer.committed > 200);
        const int before = writer.committed;

        QString source = data.dataDir();
        source.chop(1);
        const QString archive = m_backups->filePath(QStringLiteral("w.backup"));
        FolderCompressor packer(source, archive);
        QSignalSpy results(&packer, &FolderCompressor::runFinished);
        packer.work();
        writer.stop = true;
        QVERIFY(writer.wait(10000));
        QCOMPARE(results.value(0).value(0).toBool(), true);

        const QString restored = m_backups->filePath(QStringLiteral("restored"));
        QVERIFY(packer.decompressFolder(archive, restored));
        QVERIFY(!QFileInfo::exists(restored + QStringLiteral("/") + Database::getDatabaseName()
                                   + QStringLiteral("-wal")));
        int count = 0;
        QString integrity;
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "restored");
            raw.setDatabaseName(restored + QLatin1Char('/') + Database::getDatabaseName());
            QVERIFY(raw.open());
            QSqlQuery query(raw);
            QVERIFY(query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next());
            integrity = query.value(0).toString();
            QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM itemshistory WHERE id <= %1 "
                                              "AND title = 'Zeile'")
                                   .arg(before))
                    && query.next());
            count = query.value(0).toInt();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("restored"));
        QCOMPARE(integrity, QStringLiteral("ok"));
        QCOMPARE(count, before);
    }

    void backupCommand()
    {
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        QVERIFY(
            data.db()->setOption(QStringLiteral("backuppath"),
                                 QDir::toNativeSeparators(m_backups->path()).replace('/', '\\')));
        writeFile(data.dataDir() + QStringLiteral("adimages/Bild ä.jpg"), "jpeg");
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        auto *news = fixture.window()->findChild<QAbstractItemView *>(QStringLiteral("newslist"));
        const int shownBefore = news->model()->rowCount();

        const QString dated = m_backups->path() + QLatin1Char('/')
            + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/');
        const QStringList names = { "Zerire3.backup", "Zerire3_1.backup" };
        for (int i = 0; i < names.size(); ++i) {
            fixture.window()->findChild<QAction *>(QStringLiteral("actionDaten_sichern"))->trigger();
            QTRY_COMPARE(news->model()->rowCount(), shownBefore + i + 1);
            QVERIFY(QFileInfo(dated + names.at(i)).isFile());
        }
        QCOMPARE(m_answers->messages().size(), 2);
        QCOMPARE(m_answers->messages().first().text,
                 QStringLiteral("Das Backup wird im Hintergrund erstellt, Du erhälst eine "
                                "Nachricht, sobald der Vorgang abgeschlossen wurde."));
        Database check(true, QStringLiteral("check"));
        const SqlRows rows = check
                                 .select(QStringLiteral("SELECT title, itemid, textinfo, infotype "
                                                        "FROM itemshistory ORDER BY id DESC"))
                                 .value();
        QCOMPARE(rows.value(0).value(QStringLiteral("title")).toString(),
                 QStringLiteral("Backup wurde erstellt"));
        QCOMPARE(rows.value(0).value(QStringLiteral("textinfo")).toString(),
                 QStringLiteral("Das Backup wurde hier erstellt: ") + dated + names.at(1));
        QCOMPARE(rows.value(0).value(QStringLiteral("infotype")).toString(),
                 QStringLiteral("success"));
        QCOMPARE(rows.value(0).value(QStringLiteral("itemid")).toString(), QStringLiteral("0"));
        check.close();

        FolderCompressor reader { QString(), QString() };
        QVERIFY(reader.decompressFolder(dated + names.at(0), m_backups->filePath("unpacked")));
        QCOMPARE(fileContent(m_backups->filePath("unpacked/adimages/Bild ä.jpg")),
                 QByteArray("jpeg"));
    }

    // On a shared database the archive holds only this workstation's files: the seller reads
    // so when the backup starts and in its outcome, and the local file's tables are all it
    // holds of the database. On the local file nothing is said about a server.
    void backupSaysWhatASharedDatabaseLeavesOut_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<bool>("shared");
        QTest::newRow("local file") << Backend::SQLite << false;
        QTest::newRow("shared database") << Backend::MySQL << true;
    }
    void backupSaysWhatASharedDatabaseLeavesOut()
    {
        QFETCH(Backend, backend);
        QFETCH(bool, shared);
        APP_REQUIRE_BACKEND(backend);
        TestSupport::TestDatabase data(backend);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        QVERIFY(data.db()->setOption(QStringLiteral("backuppath"), m_backups->path()));
        // Made on the server only: the archive can't hold it.
        QVERIFY(data.db()->executeSQL(
            QStringLiteral("INSERT INTO folders (foldername) VALUES ('Nur auf dem Server')")));
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        auto *news = fixture.window()->findChild<QAbstractItemView *>(QStringLiteral("newslist"));
        const int shownBefore = news->model()->rowCount();
        fixture.window()->findChild<QAction *>(QStringLiteral("actionDaten_sichern"))->trigger();
        QTRY_COMPARE(news->model()->rowCount(), shownBefore + 1);

        const QString notice = FolderCompressor::sharedDatabaseNotice();
        QVERIFY(notice.contains(QStringLiteral("nicht in diesem Backup")));
        QCOMPARE(m_answers->messages().size(), 1);
        QCOMPARE(m_answers->messages().first().text.contains(notice), shared);
        Database check(true, QStringLiteral("check"));
        const SqlRows rows = check
                                 .select(QStringLiteral("SELECT title, textinfo, infotype FROM "
                                                        "itemshistory ORDER BY id DESC"))
                                 .value();
        check.close();
        QCOMPARE(rows.value(0).value(QStringLiteral("infotype")).toString(),
                 QStringLiteral("success"));
        QCOMPARE(rows.value(0).value(QStringLiteral("textinfo")).toString().contains(notice),
                 shared);
        QCOMPARE(rows.value(0).value(QStringLiteral("title")).toString(),
                 shared ? QStringLiteral("Backup der lokalen Dateien wurde erstellt")
                        : QStringLiteral("Backup wurde erstellt"));

        // What the archive holds of the database is the local file, without the server's folder.
        const QString dated = m_backups->path() + QLatin1Char('/')
            + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/');
        FolderCompressor reader { QString(), QString() };
        QVERIFY(reader.decompressFolder(dated + QStringLiteral("Zerire3.backup"),
                                        m_backups->filePath("unpacked")));
        const QString file = m_backups->filePath("unpacked/") + Database::getDatabaseName();
        // A workstation that always reached its server never made a local file.
        QVERIFY(QFileInfo(file).isFile() || shared);
        if (QFileInfo(file).isFile()) {
            QSqlDatabase unpacked
                = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("unpacked"));
            unpacked.setDatabaseName(file);
            QVERIFY(unpacked.open());
            QSqlQuery query(unpacked);
            QVERIFY(query.exec(QStringLiteral(
                "SELECT COUNT(*) FROM folders WHERE foldername='Nur auf dem Server'")));
            QVERIFY(query.next());
            QCOMPARE(query.value(0).toInt(), shared ? 0 : 1);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("unpacked"));
    }

    void restoreAndNextStart_data()
    {
        QTest::addColumn<bool>("brokenArchive");
        QTest::newRow("whole archive") << false;
        QTest::newRow("broken archive") << true;
    }
    void restoreAndNextStart()
    {
        QFETCH(bool, brokenArchive);
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const QString dataDir = QDir::cleanPath(data.dataDir());
        removeSiblings(dataDir);
        QVERIFY(data.db()->setOption(QStringLiteral("SyncIntervall"), QStringLiteral("15")));
        writeFile(dataDir + QStringLiteral("/adimages/alt.jpg"), "backed up");
        data.db()->checkpoint();

        // The archive of the data as they are now.
        const QString archive = m_backups->filePath(QStringLiteral("Zerire3.backup"));
        FolderCompressor packer { QString(), QString() };
        QVERIFY(packer.compressFolder(dataDir, archive));
        if (brokenArchive)
            QVERIFY(QFile(archive).resize(QFileInfo(archive).size() - 5));
        // Later changes the restore takes back.
        QVERIFY(data.db()->setOption(QStringLiteral("SyncIntervall"), QStringLiteral("25")));
        QFile::remove(dataDir + QStringLiteral("/adimages/alt.jpg"));
        data.closeMain();

        {
            TestSupport::MainWindowFixture fixture(data);
            restoreFrom(fixture.window(), archive);
            QCOMPARE(m_answers->lastMessageText(),
                     brokenArchive ? QStringLiteral("Die Wiederherstellung ist fehlgeschlagen")
                                   : QStringLiteral("Die Daten wurden temporär wieder "
                                                    "hergestellt, bitte starte das Programm neu"));
            QCOMPARE(MainWindow::pendingRestore(),
                     brokenArchive ? QString() : dataDir + QStringLiteral("_bk"));
            QCOMPARE(QFileInfo::exists(dataDir + QStringLiteral("_bk")), !brokenArchive);
        }
        m_answers->clear();
        if (!brokenArchive)
            m_answers->pushQuestion(true);
        {
            TestSupport::MainWindowFixture fixture(data);
            QCOMPARE(m_answers->questions().size(), brokenArchive ? 0 : 1);
            QCOMPARE(qApp->property("SyncIntervall").toInt(), brokenArchive ? 25 : 15);
        }
        QCOMPARE(fileContent(dataDir + QStringLiteral("/adimages/alt.jpg")),
                 brokenArchive ? QByteArray() : QByteArray("backed up"));
        QCOMPARE(QFileInfo::exists(dataDir + QStringLiteral("_old")), !brokenArchive);
        QCOMPARE(MainWindow::pendingRestore(), QString());
        removeSiblings(dataDir);
    }

    void backupOutcomeStaysUntilClosed_data()
    {
        QTest::addColumn<bool>("diskFull"); // the backups go to a file system of 1 MB
        QTest::newRow("written") << false;
        QTest::newRow("disk full") << true;
    }
    // The outcome of a backup, its archive's path or why it failed, stays readable beneath
    // the status panel whatever the panel shows next, until the seller closes it, and the
    // activity entry holds it whole. The folders made for the archive are the seller's alone
    // whatever the umask.
    void backupOutcomeStaysUntilClosed()
    {
        QFETCH(bool, diskFull);
        TestSupport::Mounts mounts;
        if (diskFull) {
            if (!TestSupport::Mounts::isRoot())
                QSKIP("A small file system needs root");
            QVERIFY(mounts.tmpfs(m_backups->path(), QStringLiteral("1m")));
        }
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const QString backups = m_backups->path() + QStringLiteral("/Sicherungen");
        QVERIFY(data.db()->setOption(QStringLiteral("backuppath"), backups));
        // Pictures do not pack: 2 MB do not fit on the small file system.
        QVector<quint32> noise(512 * 1024);
        QRandomGenerator(4711).fillRange(noise.data(), noise.size());
        const QByteArray picture(reinterpret_cast<const char *>(noise.constData()),
                                 noise.size() * int(sizeof(quint32)));
        writeFile(data.dataDir() + QStringLiteral("adimages/bild.jpg"), picture);
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        MainWindow *window = fixture.window();
        auto *news = window->findChild<QAbstractItemView *>(QStringLiteral("newslist"));
        const int shownBefore = news->model()->rowCount();

        const mode_t umaskBefore = umask(0);
        {
            const auto restoreUmask = qScopeGuard([umaskBefore] { umask(umaskBefore); });
            window->findChild<QAction *>(QStringLiteral("actionDaten_sichern"))->trigger();
            QTRY_COMPARE(news->model()->rowCount(), shownBefore + 1);
        }

        const QString dated = backups + QLatin1Char('/')
            + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        const QString expected = diskFull
            ? QStringLiteral("Backup fehlgeschlagen: Das Backup konnte nicht erstellt werden: "
                             "Auf dem Datenträger von \"%1\" ist kein Platz mehr frei.")
                  .arg(dated)
            : QStringLiteral("Backup wurde erstellt: Das Backup wurde hier erstellt: %1")
                  .arg(dated + QStringLiteral("/Zerire3.backup"));
        auto *outcome = window->findChild<QWidget *>(QStringLiteral("OutcomePanel"));
        QVERIFY(outcome);
        auto *label = outcome->findChild<QLabel *>(QStringLiteral("OutcomeLabel"));
        const auto shown = [label] {
            return label->text().remove(QChar(0x200B));
        };
        QTRY_VERIFY(outcome->isVisible());
        QVERIFY2(shown().endsWith(QStringLiteral(" Uhr - ") + expected), qPrintable(shown()));
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(QFileInfo::exists(dated + QStringLiteral("/Zerire3.backup")), !diskFull);

        // A finished progress hides the status panel, the next one fills it: the outcome
        // stays.
        window->updateStatusBar(QStringLiteral("Synchronisieren..."), 10, 10);
        window->updateStatusBar(QStringLiteral("Synchronisieren..."), 10, 3);
        QVERIFY(outcome->isVisible());
        QVERIFY(shown().endsWith(expected));

        Database check(true, QStringLiteral("check"));
        const SqlRows rows = check
                                 .select(QStringLiteral(
                                     "SELECT title, textinfo FROM itemshistory ORDER BY id DESC"))
                                 .value();
        check.close();
        QCOMPARE(rows.value(0).value(QStringLiteral("title")).toString() + QStringLiteral(": ")
                     + rows.value(0).value(QStringLiteral("textinfo")).toString(),
                 expected);

        for (const QString &folder : { backups, dated })
            QCOMPARE(QFileInfo(folder).permissions() & ~QFileDevice::Permissions(0x0700),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        QTest::mouseClick(outcome->findChild<QToolButton *>(QStringLiteral("OutcomeCloseButton")),
                          Qt::LeftButton);
        QVERIFY(!outcome->isVisible());
    }

    // An archive that would unpack to far more than it could hold is refused before anything
    // is written, with the reason; nothing waits to be swapped in.
    void restoreSaysWhyItRefused()
    {
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const QString dataDir = QDir::cleanPath(data.dataDir());
        removeSiblings(dataDir);
        data.closeMain();
        QByteArray archive;
        {
            QDataStream stream(&archive, QIODevice::WriteOnly);
            const QByteArray thousandfold = qCompress(QByteArray(1024 * 1024, 'x'));
            for (int i = 0; i < 70; ++i)
                stream << QStringLiteral("/bild%1.jpg").arg(i) << thousandfold;
        }
        const QString path = m_backups->filePath(QStringLiteral("Zerire3.backup"));
        writeFile(path, archive);

        TestSupport::MainWindowFixture fixture(data);
        restoreFrom(fixture.window(), path);
        QVERIFY2(m_answers->lastMessageText().startsWith(
                     QStringLiteral("Die Wiederherstellung ist fehlgeschlagen: Die Sicherung "
                                    "würde entpackt 70 MB belegen")),
                 qPrintable(m_answers->lastMessageText()));
        QCOMPARE(MainWindow::pendingRestore(), QString());
        QVERIFY(!QFileInfo::exists(dataDir + QStringLiteral("_bk")));
    }

    // Without a tray the end of an import is shown in the status panel and kept in the
    // activity list, for a finished and for a refused import alike.
    void predecessorImportWithoutTray_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("notice");
        QTest::newRow("finished")
            << QByteArray("<export><Items><Item><Title>Stuhl</Title></Item></Items></export>")
            << "Import abgeschlossen: Die Daten wurden importiert, bitte das Programm neu starten";
        QTest::newRow("refused") << QByteArray("<export><Items><Item><Title>Stuhl")
                                 << "Import abgebrochen: Die Datei ";
    }
    void predecessorImportWithoutTray()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, notice);
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("This desktop has a system tray");
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        MainWindow *window = fixture.window();
        auto *news = window->findChild<QAbstractItemView *>(QStringLiteral("newslist"));
        auto *panel = window->findChild<QWidget *>(QStringLiteral("SyncWidget"));
        auto *label = window->findChild<QLabel *>(QStringLiteral("SyncLabel"));
        auto *bar = window->findChild<QProgressBar *>(QStringLiteral("SyncProgressBar"));
        const int shownBefore = news->model()->rowCount();

        const QString path = m_backups->filePath(QStringLiteral("export.xml"));
        writeFile(path, xml);
        m_answers->pushFileName(path);
        window->findChild<QAction *>(QStringLiteral("actionRovive_2_Daten_importieren"))
            ->trigger();
        QTRY_COMPARE(news->model()->rowCount(), shownBefore + 1);
        QTRY_VERIFY(label->text().contains(notice));
        QVERIFY2(label->text().contains(QStringLiteral(" Uhr - ") + notice),
                 qPrintable(label->text()));
        QVERIFY(panel->isVisible());
        QVERIFY(!bar->isVisible());

        // The next progress brings the bar back.
        window->updateStatusBar(QStringLiteral("Synchronisieren..."), 10, 2);
        QVERIFY(panel->isVisible());
        QVERIFY(bar->isVisible());
    }

    // "Abbrechen" or closing the window while the predecessor import stores an article: the
    // article in hand is stored whole with its picture and the import ends before the next
    // one, telling how far it got; nothing of it runs on afterwards. Closing asks first:
    // "Nein" keeps the window and the import.
    void closingDuringThePredecessorImport_data()
    {
        QTest::addColumn<Backend>("backend");
        QTest::addColumn<bool>("closing"); // else "Abbrechen"
        QTest::newRow("local file, closed") << Backend::SQLite << true;
        QTest::newRow("shared database, closed") << Backend::MySQL << true;
        QTest::newRow("local file, Abbrechen") << Backend::SQLite << false;
        QTest::newRow("shared database, Abbrechen") << Backend::MySQL << false;
    }
    void closingDuringThePredecessorImport()
    {
        QFETCH(Backend, backend);
        QFETCH(bool, closing);
        APP_REQUIRE_BACKEND(backend);
        TestSupport::TestDatabase data(backend);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        QByteArray picture;
        {
            QImage image(40, 30, QImage::Format_RGB32);
            image.fill(Qt::blue);
            QBuffer buffer(&picture);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "JPG");
        }
        // The second article's picture is answered only once the window was closed.
        TestSupport::FakeHttpServer server;
        QSemaphore asked;
        QSemaphore answer;
        server.setReply(QStringLiteral("/1.jpg"),
                        TestSupport::FakeReply::ok(picture, "image/jpeg"));
        server.setHandler(QStringLiteral("/2.jpg"), [&](const TestSupport::RecordedRequest &) {
            asked.release();
            answer.acquire();
            return TestSupport::FakeReply::ok(picture, "image/jpeg");
        });
        server.setReply(QStringLiteral("/3.jpg"),
                        TestSupport::FakeReply::ok(picture, "image/jpeg"));
        // A test that fails early leaves no request waiting.
        const auto goOn = qScopeGuard([&answer] { answer.release(10); });
        QString xml = QStringLiteral("<export><ItemsTotal>3</ItemsTotal><Items>");
        for (int n = 1; n <= 3; ++n)
            xml += QStringLiteral(
                       "<Item><Title><![CDATA[Artikel %1]]></Title><image0><![CDATA[%2]]>"
                       "</image0></Item>")
                       .arg(n)
                       .arg(server.url(QStringLiteral("/%1.jpg").arg(n)).toString());
        xml += QStringLiteral("</Items></export>");
        const QString path = m_backups->filePath(QStringLiteral("export.xml"));
        writeFile(path, xml.toUtf8());
        data.closeMain();
        {
            TestSupport::MainWindowFixture fixture(data);
            MainWindow *window = fixture.window();
            m_answers->pushFileName(path);
            window->findChild<QAction *>(QStringLiteral("actionRovive_2_Daten_importieren"))
                ->trigger();
            QVERIFY(asked.tryAcquire(1, 30000));

            if (closing) {
                m_answers->pushQuestion(false);
                QVERIFY(!window->close());
                QVERIFY(window->isVisible());
                QCOMPARE(m_answers->questions().size(), 1);
                QVERIFY2(m_answers->questions().first().text.startsWith(
                             QStringLiteral("Der Import der Rovive-2-Daten läuft noch.")),
                         qPrintable(m_answers->questions().first().text));
                m_answers->pushQuestion(true);
                QVERIFY(window->close());
            } else {
                auto *cancel = window->findChild<QPushButton *>(QStringLiteral("JobCancelButton"));
                QVERIFY(cancel && cancel->isVisible());
                cancel->click();
            }
            const int questions = m_answers->questions().size();
            QCOMPARE(questions, closing ? 2 : 0);
            answer.release();
            QTRY_COMPARE_WITH_TIMEOUT(BackgroundWorker::instance()->pending(), 0, 30000);
            // Ended: not asked again.
            fixture.close();
            QCOMPARE(m_answers->questions().size(), questions);
        }
        // The third article's picture was never fetched.
        QCOMPARE(server.requestCount(), 2);
        Database check(true, QStringLiteral("check"));
        const SqlRows articles
            = check
                  .select(QStringLiteral(
                      "SELECT a.Title, a.ImageThumb, (SELECT COUNT(*) FROM articles_images p "
                      "WHERE p.article_id=a.id) AS pictures FROM articles a ORDER BY a.id"))
                  .value();
        QStringList stored;
        for (const ArticleRow &row : articles)
            stored << row.value("Title").toString() + QLatin1Char(':')
                    + row.value("pictures").toString()
                    + (row.value("ImageThumb").toString().isEmpty() ? "" : "+thumb");
        QCOMPARE(stored, (QStringList { "Artikel 1:1+thumb", "Artikel 2:1+thumb" }));
        const SqlRows told
            = check.select(QStringLiteral("SELECT title, textinfo FROM itemshistory ORDER BY id"))
                  .value();
        check.close();
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first().value("title").toString(), QStringLiteral("Import abgebrochen"));
        QVERIFY2(told.first()
                     .value("textinfo")
                     .toString()
                     .startsWith(QStringLiteral(
                         "Der Import wurde abgebrochen: 2 Artikel wurden importiert, "
                         "jeder vollständig mit seinen Bildern; 1 von 3 Artikeln der "
                         "Datei wurde nicht mehr gelesen.")),
                 qPrintable(told.first().value("textinfo").toString()));
        TestSupport::clearDatabaseProperties();
    }

    // An archive chosen for a restore that is a pipe is refused at once with the reason; the
    // window was never held and nothing waits to be swapped in.
    void restoreRefusesAPipe()
    {
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const QString dataDir = QDir::cleanPath(data.dataDir());
        removeSiblings(dataDir);
        data.closeMain();
        const QString pipe = m_backups->filePath(QStringLiteral("Zerire3.backup"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        TestSupport::MainWindowFixture fixture(data);
        restoreFrom(fixture.window(), pipe);
        QVERIFY2(
            m_answers->lastMessageText().startsWith(
                QStringLiteral("Die Wiederherstellung ist fehlgeschlagen: Die Sicherung \"%1\" "
                               "kann nicht gelesen werden: ")
                    .arg(pipe)),
            qPrintable(m_answers->lastMessageText()));
        QCOMPARE(MainWindow::pendingRestore(), QString());
        QVERIFY(!QFileInfo::exists(dataDir + QStringLiteral("_bk")));
    }

    // A link in place of the unpacked folder is not swapped in for the data folder: the start
    // goes on with the data as they were.
    void pendingRestoreThatIsALink()
    {
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const QString dataDir = QDir::cleanPath(data.dataDir());
        removeSiblings(dataDir);
        QVERIFY(data.db()->setOption(QStringLiteral("SyncIntervall"), QStringLiteral("25")));
        data.closeMain();
        QVERIFY(QDir().mkpath(m_backups->filePath(QStringLiteral("elsewhere"))));
        const QString link = dataDir + QStringLiteral("_bk");
        QVERIFY(QFile::link(m_backups->filePath(QStringLiteral("elsewhere")), link));
        MainWindow::setPendingRestore(link);
        m_answers->pushQuestion(true);
        {
            TestSupport::MainWindowFixture fixture(data);
            QCOMPARE(qApp->property("SyncIntervall").toInt(), 25);
        }
        QVERIFY(m_answers->shownTexts().contains(
            QStringLiteral("Die Wiederherstellung scheint nicht mehr vorhanden zu sein, der "
                           "Programmstart wird regulär fortgesetzt, wiederhole ggf. die "
                           "Rücksicherung")));
        QVERIFY(QFileInfo(dataDir).isDir() && !QFileInfo(dataDir).isSymLink());
        QVERIFY(!QFileInfo::exists(dataDir + QStringLiteral("_old")));
        QCOMPARE(MainWindow::pendingRestore(), QString());
        QFile::remove(link);
    }

    // Not knowing the backup folder the seller chose, no backup is made elsewhere: the
    // failed read is told, nothing is packed.
    void backupFolderUnreadMakesNoBackup()
    {
        TestSupport::TestDatabase data(Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const QString documents
            = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            + QStringLiteral("/Zerire3_Backups");
        QDir(documents).removeRecursively();
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        Database other(true, QStringLiteral("other"));
        QVERIFY(other.executeSQL(QStringLiteral("ALTER TABLE options RENAME TO options_away")));
        fixture.window()->findChild<QAction *>(QStringLiteral("actionDaten_sichern"))->trigger();
        QVERIFY(other.executeSQL(QStringLiteral("ALTER TABLE options_away RENAME TO options")));
        other.close();
        QVERIFY2(m_answers->lastMessageText().startsWith(QStringLiteral(
                     "Der Ordner für die Datensicherung konnte nicht gelesen werden, "
                     "es wurde keine Sicherung erstellt: ")),
                 qPrintable(m_answers->lastMessageText()));
        QVERIFY(!QFileInfo::exists(documents));
    }
};

APP_TEST_MAIN(TestBackup)
#include "test_backup.moc"
