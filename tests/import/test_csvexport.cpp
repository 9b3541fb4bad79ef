#include "core/database.h"
#include "core/settings.h"
#include "import/csvimport.h"
#include "import/reader.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <sys/stat.h>

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCodec>
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
            db()->insertSqlClean({ { "article_id", article },
                                   { "image", name },
                                   { "sort", i },
                                   { "variant_name", variant } },
                                 "articles_images");
        }
        return count;
    }
    void exportTo(DialogAnswers &answers, const QString &file, bool selectAll)
    {
        if (selectAll)
            m_fixture->itemList()->selectAll();
        else
            m_fixture->itemList()->clearSelection();
        answers.pushFileName(file);
        m_fixture->window()->findChild<QAction *>("actionExportieren")->trigger();
    }

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
                 QString("Es wurden %1 Artikel erfolgreich exportiert").arg(rows - 1));
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
        exportTo(answers, typed, true);
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
        QCOMPARE(answers.lastMessageText(), QString("Es wurden 1 Artikel erfolgreich exportiert"));
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
        const QString file = m_files.filePath("old.csv");
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
        QCOMPARE(answers.lastMessageText(), QString("Die Datei konnte nicht geschrieben werden"));
        QFile old(file);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old\n"));
    }

    // Exported articles imported again come back with every column and their pictures.
    void exportImportRoundTrip()
    {
        openWindow();
        db()->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts");
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
        addPictures(first, 13);
        addPictures(second, 2, "Farbe");
        showDrafts();

        DialogAnswers answers;
        const QString file = m_files.filePath("roundtrip.csv");
        exportTo(answers, file, true);
        m_fixture.reset();

        Settings::app()->clear();
        CsvImport dialog(kDrafts);
        answers.pushQuestion(true); // assign same-named columns
        dialog.onOpenFile(file);
        dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        for (const int original : { first, second }) {
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
};

APP_TEST_MAIN(TestCsvExport)
#include "test_csvexport.moc"
