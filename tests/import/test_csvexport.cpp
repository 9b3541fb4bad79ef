#include "core/backgroundworker.h"
#include "core/database.h"
#include "core/settings.h"
#include "import/articleexport.h"
#include "import/csvimport.h"
#include "import/reader.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QTreeWidget>

using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

constexpr int kDrafts = -10;
// Columns an import never carries over: its own id, the marketplace's item number, the
// thumbnail (made anew) and the program's own check state.
const QStringList kNotCarried
    = { "id",     "ItemID",      "ImageThumb",    "DoCheckResult", "DoCheck",  "IsVerified",
        "IsEdit", "RefreshHash", "ParentArticle", "HasError",      "LastError" };

QList<QStringList> readCsv(const QString &path)
{
    return QtCSV::Reader::readToList(path, ";", "\"", QTextCodec::codecForName("UTF-8"));
}

} // namespace

class TestCsvExport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_files;
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_fixture;

    Database *db() const { return m_data->db(); }

    void openWindow()
    {
        m_fixture.reset();
        m_data.reset();
        QFETCH_GLOBAL(TestSupport::Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        m_data = std::make_unique<TestDatabase>(backend);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
    }
    void showDrafts()
    {
        m_fixture = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(m_fixture->showFolder(kDrafts));
    }
    int addPictures(int article, int count, const QString &variant = QString())
    {
        QImage image(40, 30, QImage::Format_RGB32);
        for (int i = 0; i < count; ++i) {
            image.fill(QColor(i * 20, 100, 200));
            const QString name = QStringLiteral("p%1_%2_%3.png").arg(article).arg(i).arg(variant);
            image.save(db()->getCurrentAdImageDir() + name);
            if (!(db()->insertSqlClean({ { "article_id", article },
                                         { "image", name },
                                         { "sort", i },
                                         { "variant_name", variant } },
                                       "articles_images")
                  > 0))
                return -1;
        }
        return count;
    }
    // Exports and waits for the message the export ends with (none when `told` is false:
    // the seller declined before it started).
    void exportTo(DialogAnswers &answers, const QString &file, bool selectAll, bool told = true)
    {
        if (selectAll)
            m_fixture->itemList()->selectAll();
        else
            m_fixture->itemList()->clearSelection();
        answers.pushFileName(file);
        const int shown = answers.messages().size();
        m_fixture->window()->findChild<QAction *>("actionExportieren")->trigger();
        if (told)
            QTRY_VERIFY_WITH_TIMEOUT(answers.messages().size() > shown, 120000);
    }
    static QString firstLine(const QString &text) { return text.section('\n', 0, 0); }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup()
    {
        m_fixture.reset();
        m_data.reset();
    }

    void lineBreaksAndHeader_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("written");
        QTest::newRow("csv: CR LF becomes two LF") << "x.csv" << true << "a\n\nb" << 2 << "x.csv";
        QTest::newRow("TXT: CR LF becomes <br> twice")
            << "x.TXT" << true << "a<br><br>b" << 2 << "x.TXT";
        QTest::newRow("no extension: a csv file") << "y" << true << "a\n\nb" << 2 << "y.csv";
        QTest::newRow("trailing dot: a csv file") << "z." << true << "a\n\nb" << 2 << "z.csv";
        QTest::newRow("nothing selected: the picture header alone")
            << "x.csv" << false << "" << 1 << "x.csv";
    }
    void lineBreaksAndHeader()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, selected);
        QFETCH(QString, description);
        QFETCH(int, rows);
        QFETCH(QString, written);
        openWindow();
        const int id = TestSupport::insertArticle(
            db(), { { "Folder", kDrafts }, { "Description", "a\r\nb" } });
        addPictures(id, 13);
        addPictures(id, 1, "Farbe");
        showDrafts();

        DialogAnswers answers;
        QTemporaryDir files;
        exportTo(answers, files.filePath(fileName), selected);
        QCOMPARE(answers.lastMessageText(),
                 QString("Es wurden %1 Artikel erfolgreich exportiert\nDie Datei „%2“ wurde neu "
                         "angelegt.")
                     .arg(rows - 1)
                     .arg(files.filePath(written)));
        const QString file = files.filePath(written);
        QCOMPARE(Settings::app()->value("MainWindow/exportpath").toString(), file);
        QCOMPARE(QFileInfo::exists(files.filePath(fileName)), fileName == written);

        const auto read = readCsv(file);
        QCOMPARE(read.size(), rows);
        QCOMPARE(read.first().mid(read.first().size() - 12, 1), QStringList { "Zerire3_image_1" });
        QCOMPARE(read.first().last(), QString("Zerire3_image_12"));
        if (rows == 1)
            return;
        QCOMPARE(read.at(1).size(), read.first().size());
        QCOMPARE(read.at(1).at(read.first().indexOf("Description")), description);
        QCOMPARE(read.at(1).last(), db()->getCurrentAdImageDir() + "p1_11_.png");
    }

    // The name gets ".csv" after the dialog asked about replacing the name as typed: an
    // existing "name.csv" is replaced only when the seller says so.
    void existingCsvIsReplacedOnlyWhenConfirmed()
    {
        openWindow();
        TestSupport::insertArticle(db(), { { "Folder", kDrafts }, { "Title", "Lampe" } });
        showDrafts();
        QTemporaryDir files;
        const QString typed = files.filePath("bestand");
        QFile old(typed + ".csv");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("alt");
        old.close();

        DialogAnswers answers;
        answers.pushQuestion(false);
        exportTo(answers, typed, true, false);
        QCOMPARE(answers.questions().size(), 1);
        QVERIFY2(answers.questions().first().text.contains("bestand.csv"),
                 qPrintable(answers.questions().first().text));
        QCOMPARE(answers.messages().size(), 0);
        QFile kept(typed + ".csv");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("alt"));
        kept.close();

        answers.pushQuestion(true);
        exportTo(answers, typed, true);
        QCOMPARE(answers.lastMessageText(),
                 QString("Es wurden 1 Artikel erfolgreich exportiert\nDie bisherige Datei „%1“ "
                         "wurde ersetzt.")
                     .arg(typed + ".csv"));
        QCOMPARE(readCsv(typed + ".csv").size(), 2);
        QVERIFY(!QFileInfo::exists(typed));
    }

    // An export into the data folder is as private as the database beside it; elsewhere
    // the file gets the seller's usual mode.
    void exportIntoDataFolderIsPrivate()
    {
        openWindow();
        TestSupport::insertArticle(db(), { { "Folder", kDrafts } });
        showDrafts();
        const mode_t previous = umask(0022);
        DialogAnswers answers;
        const QString inside = db()->getCurrentDataDir() + "export.csv";
        const QString outside = m_files.filePath("export.csv");
        exportTo(answers, inside, true);
        exportTo(answers, outside, true);
        umask(previous);
        QCOMPARE(QFileInfo(inside).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(QFileInfo(outside).permissions() & QFile::ReadOther);
    }

    // A write that fails half-way is reported and leaves the former file as it was.
    void writerFailureIsReported()
    {
        openWindow();
        TestSupport::insertArticle(
            db(), { { "Folder", kDrafts }, { "Description", QString(5000, 'x') } });
        showDrafts();
        QTemporaryDir files;
        const QString file = files.filePath("old.csv");
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old\n");
        }
        DialogAnswers answers;
        {
            TestSupport::FileSizeLimit limit(1024);
            exportTo(answers, file, true);
        }
        QVERIFY2(
            answers.lastMessageText().startsWith("Die Datei konnte nicht geschrieben werden: "),
            qPrintable(answers.lastMessageText()));
        QFile old(file);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old\n"));
        // Nothing of the attempt is left beside it.
        QCOMPARE(QDir(files.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList { "old.csv" });
    }

    // Exported articles imported again come back with every column and their pictures.
    void exportImportRoundTrip()
    {
        openWindow();
        QVERIFY(db()->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts")
                > 0);
        const int first = TestSupport::insertArticle(
            db(),
            { { "Folder", kDrafts },
              { "Title", QStringLiteral("Größe \"42\"; neu \U0001F600") },
              { "Description", "<p class=\"x\">Zeile 1\nZeile 2</p>\\" },
              { "SKU", "A-1" },
              { "StartPrice", 12.5 },
              { "Quantity", 3 },
              { "PaymentMethods", "PayPal|MoneyXferAccepted" } });
        const int second = TestSupport::insertArticle(
            db(), { { "Folder", kDrafts }, { "Title", "Zweiter" }, { "SKU", "" } });
        // The program keeps 0 for an article of no account, and exports it so.
        const int third = TestSupport::insertArticle(
            db(), { { "Folder", kDrafts }, { "Title", "Ohne Konto" }, { "Account", 0 } });
        addPictures(first, 13);
        addPictures(second, 2, "Farbe");
        showDrafts();

        DialogAnswers answers;
        const QString file = m_files.filePath("roundtrip.csv");
        exportTo(answers, file, true);
        m_fixture.reset();
        TestSupport::resetApplicationState();

        Settings::app()->clear();
        CsvImport dialog(kDrafts);
        answers.pushQuestion(true); // assign same-named columns
        dialog.onOpenFile(file);
        QSignalSpy ended(&dialog, &CsvImport::runEnded);
        dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(ended.count() > 0);
        QVERIFY2(dialog.result() == int(QDialog::Accepted), qPrintable(answers.lastMessageText()));

        QVERIFY2(answers.lastMessageText().startsWith("Es wurden 3 Artikel angelegt"),
                 qPrintable(answers.lastMessageText()));
        for (const int original : { first, second, third }) {
            const auto before
                = db()->select(QString("SELECT * FROM articles WHERE id=%1").arg(original))
                      .value()
                      .value(0);
            const int copy
                = db()->selectOne(QString("SELECT id FROM articles WHERE Title='%1' AND id<>%2")
                                      .arg(Database::escapeString(before.value("Title").toString()))
                                      .arg(original))
                      .value()
                      .toInt();
            QVERIFY(copy > 0);
            const auto after = db()->select(QString("SELECT * FROM articles WHERE id=%1").arg(copy))
                                   .value()
                                   .value(0);
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                if (!kNotCarried.contains(it.key()))
                    QCOMPARE(after.value(it.key()).toString(), it.value().toString());
            }
            const QString pictures("SELECT image FROM articles_images WHERE article_id=%1 AND "
                                   "(variant_name IS NULL OR variant_name='') ORDER BY sort");
            const auto originalPictures = db()->select(pictures.arg(original)).value().mid(0, 12);
            const auto copiedPictures = db()->select(pictures.arg(copy)).value();
            QCOMPARE(copiedPictures.size(), originalPictures.size());
            for (int i = 0; i < copiedPictures.size(); ++i) {
                QCOMPARE(QImage(db()->getCurrentAdImageDir()
                                + copiedPictures.at(i).value("image").toString()),
                         QImage(db()->getCurrentAdImageDir()
                                + originalPictures.at(i).value("image").toString()));
            }
        }
    }

    // A name that is a link (to a file of the seller's or to nothing), a pipe or a folder is
    // refused before anything is written: the file behind the link keeps its bytes and mode,
    // nothing appears outside the chosen folder, nothing is left in it, and a pipe holds
    // nobody up (the export would otherwise never end).
    void targetThatIsNoPlainFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("link to the seller's file") << "link"
                                                   << "Verknüpfung";
        QTest::newRow("dangling link") << "dangling"
                                       << "Verknüpfung";
        QTest::newRow("pipe") << "fifo"
                              << "keine gewöhnliche Datei";
        QTest::newRow("folder") << "folder"
                                << "Ordner";
    }
    void targetThatIsNoPlainFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        openWindow();
        TestSupport::insertArticle(db(), { { "Folder", kDrafts } });
        showDrafts();
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("shared") && QDir(root.path()).mkpath("own"));
        const QString secret = root.filePath("own/secret.csv");
        {
            QFile file(secret);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("geheim");
        }
        QVERIFY(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
        const QString chosen = root.filePath("shared/export.csv");
        const QByteArray name = QFile::encodeName(chosen);
        if (kind == "link")
            QVERIFY(::symlink(QFile::encodeName(secret).constData(), name.constData()) == 0);
        else if (kind == "dangling")
            QVERIFY(::symlink(QFile::encodeName(root.filePath("own/new.csv")).constData(),
                              name.constData())
                    == 0);
        else if (kind == "fifo")
            QVERIFY(::mkfifo(name.constData(), 0600) == 0);
        else
            QVERIFY(QDir().mkdir(chosen));

        DialogAnswers answers;
        exportTo(answers, chosen, true);
        const QString text = answers.lastMessageText();
        QVERIFY2(text.startsWith(QString("Die Datei „%1“ kann nicht erstellt werden: ").arg(chosen))
                     && text.contains(reason),
                 qPrintable(text));
        QFile kept(secret);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("geheim"));
        QCOMPARE(kept.permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(
            QDir(root.filePath("own"))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList { "secret.csv" });
        QCOMPARE(
            QDir(root.filePath("shared"))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList { "export.csv" });
        QCOMPARE(QFileInfo(chosen).isSymLink(), kind == "link" || kind == "dangling");
        QVERIFY(!Settings::app()->contains("MainWindow/exportpath")
                || Settings::app()->value("MainWindow/exportpath").toString() != chosen);
    }

    // The export runs beside the window: while it waits for the worker the window serves its
    // events and shows it with Abbrechen, a second export is refused; Abbrechen before it
    // started, or after part of the file was written, leaves no file (and the former file as
    // it was) and says so.
    void cancelledExportLeavesNoFile_data()
    {
        QTest::addColumn<bool>("whileWriting");
        QTest::newRow("before it started") << false;
        QTest::newRow("after a part was written") << true;
    }
    void cancelledExportLeavesNoFile()
    {
        QFETCH(bool, whileWriting);
        openWindow();
        for (int i = 0; i < 3; ++i)
            TestSupport::insertArticle(db(), { { "Folder", kDrafts } });
        showDrafts();
        QTemporaryDir files;
        const QString file = files.filePath("alt.csv");
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("alt\n");
        }
        QSemaphore held;
        QSemaphore go;
        const auto hold = [&] {
            held.release();
            // Bounded, so that a job run on the window's thread fails instead of hanging.
            go.tryAcquire(1, 20000);
        };
        if (whileWriting)
            ArticleExport::setAfterChunkForTesting(hold);
        else
            BackgroundWorker::setBeforeJobForTesting([&](const QString &name) {
                if (name == "Export")
                    hold();
            });
        DialogAnswers answers;
        m_fixture->itemList()->selectAll();
        answers.pushFileName(file);
        auto *action = m_fixture->window()->findChild<QAction *>("actionExportieren");
        action->trigger();
        QVERIFY(held.tryAcquire(1, 20000));
        // The window is free while the job is held.
        bool served = false;
        QTimer::singleShot(0, m_fixture->window(), [&served] { served = true; });
        QTRY_VERIFY(served);
        auto *panel = m_fixture->window()->findChild<QWidget *>("JobPanel");
        QVERIFY(panel && panel->isVisible());
        answers.pushFileName(files.filePath("zweiter.csv"));
        action->trigger();
        QCOMPARE(answers.lastMessageText(),
                 QString("Es läuft bereits ein Export. Bitte warten, bis er abgeschlossen ist."));
        QTest::mouseClick(panel->findChild<QPushButton *>("JobCancelButton"), Qt::LeftButton);
        go.release();
        QTRY_COMPARE(answers.lastMessageText(),
                     QString("Der Export wurde abgebrochen; es wurde keine Datei geschrieben."));
        ArticleExport::setAfterChunkForTesting({});
        BackgroundWorker::setBeforeJobForTesting({});
        QTRY_VERIFY(!panel->isVisible());
        QCOMPARE(QDir(files.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList { "alt.csv" });
        QFile old(file);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("alt\n"));
    }

    // A read that fails is no empty one: no file, and the reason told.
    void failedReadWritesNoFile()
    {
        openWindow();
        TestSupport::insertArticle(db(), { { "Folder", kDrafts } });
        showDrafts();
        QVERIFY(db()->executeSQL("ALTER TABLE articles_images RENAME TO articles_images_away"));
        QTemporaryDir files;
        DialogAnswers answers;
        exportTo(answers, files.filePath("x.csv"), true);
        QVERIFY(db()->executeSQL("ALTER TABLE articles_images_away RENAME TO articles_images"));
        QVERIFY2(
            answers.lastMessageText().startsWith(
                "Die Artikel konnten nicht gelesen werden, es wurde keine Datei geschrieben: "),
            qPrintable(answers.lastMessageText()));
        QCOMPARE(QDir(files.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList());
    }

    // 20,000 articles with pictures: the window's longest pause from the command until the
    // export has told its end stays short (the export on the window's thread held it for
    // seconds), and every article is in the file in the list's order.
    void longestPauseAtRealisticSize()
    {
        openWindow();
        constexpr int kArticles = 20000;
        const QString description = QString(2000, 'd');
        for (int from = 0; from < kArticles; from += 1000) {
            QStringList values;
            for (int i = from; i < from + 1000; ++i)
                values
                    << QString("('T%1', %2, 0, 1, 77, '%3')").arg(i).arg(kDrafts).arg(description);
            QVERIFY(db()->executeSQL("INSERT INTO articles (Title, Folder, Trash, Account, Site, "
                                     "Description) VALUES "
                                     + values.join(',')));
        }
        const int firstId = db()->selectOne("SELECT MIN(id) FROM articles").value().toInt();
        for (int from = 0; from < kArticles; from += 1000) {
            QStringList values;
            for (int i = from; i < from + 1000; ++i)
                for (int p = 0; p < 3; ++p)
                    values << QString("(%1, 'b%1_%2.jpg', %2, '')").arg(firstId + i).arg(p);
            QVERIFY(db()->executeSQL(
                "INSERT INTO articles_images (article_id, image, sort, variant_name) VALUES "
                + values.join(',')));
        }
        showDrafts();
        QCOMPARE(m_fixture->itemList()->topLevelItemCount(), kArticles);
        QTemporaryDir files;
        DialogAnswers answers;
        QElapsedTimer sinceTick;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setInterval(5);
        connect(&ticker, &QTimer::timeout, this,
                [&] { longest = qMax(longest, sinceTick.restart()); });
        sinceTick.start();
        ticker.start();
        exportTo(answers, files.filePath("gross.csv"), true);
        ticker.stop();
        longest = qMax(longest, sinceTick.elapsed());
        qInfo("Longest pause of the window during the export of %d articles: %lld ms", kArticles,
              longest);
        QVERIFY2(firstLine(answers.lastMessageText())
                     == QString("Es wurden %1 Artikel erfolgreich exportiert").arg(kArticles),
                 qPrintable(answers.lastMessageText()));
        QVERIFY2(longest < 2000, qPrintable(QString::number(longest)));
        const auto read = readCsv(files.filePath("gross.csv"));
        QCOMPARE(read.size(), kArticles + 1);
        const int title = read.first().indexOf("Title");
        QList<QTreeWidgetItem *> order = m_fixture->itemList()->selectedItems();
        for (int row : { 1, kArticles / 2, kArticles }) {
            const int id = order.at(row - 1)->data(0, Qt::UserRole + 100).toInt();
            QCOMPARE(read.at(row).at(title), QString("T%1").arg(id - firstId));
            QCOMPARE(read.at(row).at(read.first().size() - 10),
                     db()->getCurrentAdImageDir() + QString("b%1_2.jpg").arg(id));
        }
    }
};

APP_TEST_MAIN(TestCsvExport)
#include "test_csvexport.moc"
