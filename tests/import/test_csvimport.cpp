#include "core/database.h"
#include "core/settings.h"
#include "core/statics.h"
#include "import/csvimport.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

using TestSupport::TableSnapshot;
using TestSupport::values;

namespace {

constexpr int kTarget = 5;
const QString kColumns = QStringLiteral("Title,SKU,StartPrice,Account,Folder,ItemID");

QList<QComboBox *> mappingBoxes(const CsvImport &dialog)
{
    QList<QComboBox *> boxes;
    for (QComboBox *box : dialog.findChildren<QComboBox *>()) {
        if (box->property("column").isValid())
            boxes << box;
    }
    std::sort(boxes.begin(), boxes.end(), [](QComboBox *a, QComboBox *b) {
        return a->property("column").toInt() < b->property("column").toInt();
    });
    return boxes;
}

void choose(QComboBox *box, const QString &data)
{
    box->setCurrentIndex(box->findData(data));
}

} // namespace

class TestCsvImport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_files;

    QString writeCsv(const QByteArray &bytes)
    {
        const QString path = m_files.filePath(QStringLiteral("import.csv"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }

    // The dialog on `csv` with the mode, update column, account item and mapping set.
    std::unique_ptr<CsvImport> prepare(DialogAnswers &answers, const QString &csv, int mode,
                                       const QString &updateField, int account,
                                       const QStringList &mapping)
    {
        Settings::app()->clear();
        auto dialog = std::make_unique<CsvImport>(kTarget);
        answers.pushQuestion(false); // no automatic assignment
        dialog->onOpenFile(csv);
        dialog->findChild<QComboBox *>("ImportModus")->setCurrentIndex(mode);
        choose(dialog->findChild<QComboBox *>("UpdateField"), updateField);
        dialog->findChild<QComboBox *>("AccountImport")->setCurrentIndex(account);
        const auto boxes = mappingBoxes(*dialog);
        for (int c = 0; c < mapping.size() && c < boxes.size(); ++c)
            choose(boxes.at(c), mapping.at(c));
        return dialog;
    }

    static void run(CsvImport &dialog)
    {
        dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void modes_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("mapping");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<int>("result");
        const QStringList all { "id", "ItemID", "Title", "SKU", "StartPrice", "Account" };
        // Articles 1 "A_1" and 2 "AB1" exist; the chosen account is 1, the file's is 5.
        QTest::newRow("insert: account chosen, comma price, id and ItemID dropped")
            << QByteArray("id;ItemID;Title;SKU;StartPrice;Account\n99;123;Lampe;L1;12,50;5\n") << 0
            << all << QStringList { "row 3, <added>: NULL -> NULL" }
            << QStringList { "Lampe|L1|12.5|1|5|" } << 1;
        QTest::newRow("update only: matched by =, id never written")
            << QByteArray("id;ItemID;Title;SKU;StartPrice;Account\n2;9;Neu;A_1;3,5;7\n"
                          "1;9;Keiner;A%;1;7\n;;Leer;;1;7\n")
            << 1 << all
            << QStringList { "row 1, Account: 1 -> 7", "row 1, StartPrice: 1 -> 3.5",
                             "row 1, Title: Artikel -> Neu" }
            << QStringList {} << 1;
        QTest::newRow("update or insert: a wildcard key matches nothing and is added")
            << QByteArray("Title;SKU\nNeu;A%\nAuch;AB1\n") << 2 << QStringList { "Title", "SKU" }
            << QStringList { "row 2, Title: Artikel -> Auch", "row 3, <added>: NULL -> NULL" }
            << QStringList { "Neu|A%|0|1|5|" } << 1;
        QTest::newRow("empty rows and short rows are skipped, the rest imported")
            << QByteArray("Title;SKU\nX;1\n\nY\n;\nZ;3\n") << 0 << QStringList { "Title", "SKU" }
            << QStringList { "row 3, <added>: NULL -> NULL", "row 4, <added>: NULL -> NULL" }
            << QStringList { "X|1|0|1|5|", "Z|3|0|1|5|" } << 1;
        QTest::newRow("update column not mapped: stops before any write")
            << QByteArray("Title\nNeu\n") << 1 << QStringList { "Title" } << QStringList {}
            << QStringList {} << 0;
    }
    void modes()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, mode);
        QFETCH(QStringList, mapping);
        QFETCH(QStringList, changes);
        QFETCH(QStringList, added);
        QFETCH(int, result);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        db->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts");
        TestSupport::insertArticle(db, { { "SKU", "A_1" } });
        TestSupport::insertArticle(db, { { "SKU", "AB1" } });
        const TableSnapshot before = TableSnapshot::take(*db, "articles");

        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), mode, "SKU", mode == 1 ? 0 : 1, mapping);
        QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
        run(*dialog);

        const auto diff = TableSnapshot::diff(before, TableSnapshot::take(*db, "articles"));
        QStringList described = TableSnapshot::describe(diff).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(described, changes);
        QStringList addedValues;
        for (const auto &change : diff) {
            if (change.column == QLatin1String("<added>"))
                addedValues << values(db, change.key.toInt(), kColumns);
        }
        QCOMPARE(addedValues, added);
        QCOMPARE(dialog->result(), result);
        if (result == QDialog::Accepted) {
            QCOMPARE(counts.size(), 1);
            QCOMPARE(counts.first(), (QVariantList { kTarget, added.size(), false }));
        }
    }

    // Rows are named by their line in the file (the header is line 1; a record broken
    // over lines counts them all).
    void skippedRowsAreNamed()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("Title;SKU\n\"X\nx\";1\n\nY\nZ;3\n"), 0, "SKU",
                              0, { "Title", "Account" });
        run(*dialog);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY2(answers.lastMessageText().contains("2 leere oder unvollständige Zeilen wurden "
                                                    "übersprungen (Zeile 4, 5)"),
                 qPrintable(answers.lastMessageText()));
    }

    // Cancel stops the run at the next row; what was written stays, seen by any connection.
    void cancelKeepsWhatWasWritten()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        QByteArray csv = "Title;Account\n";
        for (int i = 0; i < 10; ++i)
            csv += "T" + QByteArray::number(i) + ";1\n";
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Account" });
        QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
        QTimer::singleShot(0, dialog.get(), [&dialog] {
            dialog->findChild<QDialogButtonBox *>("buttonBox")
                ->button(QDialogButtonBox::Cancel)
                ->click();
        });
        run(*dialog);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        const int written = data.db()->selectCount("SELECT id FROM articles");
        QVERIFY2(written > 0 && written < 10, qPrintable(QString::number(written)));
        QCOMPARE(counts.value(0), (QVariantList { kTarget, written, false }));
    }

    void unreadableFileIsReported()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        const QString csv = writeCsv("Title;Account\nX;1\n");
        auto dialog = prepare(answers, csv, 0, "SKU", 0, { "Title", "Account" });
        QFile::remove(csv);
        run(*dialog);
        QCOMPARE(answers.lastMessageText(), QString("Die Datei konnte nicht gelesen werden"));
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles"), 0);
    }

    // Pictures: a full path is copied under a stamped name, a name in the picture folder is
    // recorded as it is, names leaving the folder, missing files and blank cells record
    // nothing; the first picture becomes the thumbnail. An update without pictures keeps them.
    void pictures()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QString pictureDir = db->getCurrentAdImageDir();
        QImage image(300, 200, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(m_files.filePath("outside.png")));
        QVERIFY(image.save(pictureDir + "inside.png"));
        const QByteArray csv = "Title;SKU;Account;B1;B2;B3;B4;B5\n"
                               "Lampe;L1;1;"
            + m_files.filePath("outside.png").toUtf8() + ";inside.png;../outside.png;;fehlt.png\n";

        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0,
                              { "Title", "SKU", "Account", "Zerire3_image_1", "Zerire3_image_2",
                                "Zerire3_image_3", "Zerire3_image_4", "Zerire3_image_5" });
        run(*dialog);
        const SqlRows images = db->select(
            "SELECT image, sort FROM articles_images WHERE article_id=1 ORDER BY sort");
        QCOMPARE(images.size(), 2);
        const QString copied = images.at(0).value("image").toString();
        QVERIFY2(QRegularExpression("^\\d{14}_1_0\\.png$").match(copied).hasMatch(),
                 qPrintable(copied));
        QVERIFY(QFileInfo::exists(pictureDir + copied));
        QCOMPARE(images.at(1).value("image").toString(), QString("inside.png"));
        QCOMPARE(images.at(1).value("sort").toInt(), 1);
        QCOMPARE(values(db, 1, "ImageThumb"), "thumb_" + copied);
        QVERIFY(QFileInfo::exists(db->getCurrentAdImageDirThumbs() + "thumb_" + copied));

        const TableSnapshot picturesBefore = TableSnapshot::take(*db, "articles_images");
        auto update = prepare(answers, writeCsv("SKU;Title;B1\nL1;Neu;  \n"), 1, "SKU", 0,
                              { "SKU", "Title", "Zerire3_image_1" });
        run(*update);
        QCOMPARE(values(db, 1, "Title"), QString("Neu"));
        const auto diff
            = TableSnapshot::diff(picturesBefore, TableSnapshot::take(*db, "articles_images"));
        QVERIFY2(diff.isEmpty(), qPrintable(TableSnapshot::describe(diff)));
    }

    // A picture address is downloaded under the MD5 of the address and its suffix without
    // the query, then recorded under a stamped name; a failed download records nothing.
    void downloadedPicture()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        QImage image(30, 20, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray png;
        QBuffer buffer(&png);
        image.save(&buffer, "PNG");
        TestSupport::FakeHttpServer server;
        server.setReply("/bilder/foto.JPG", TestSupport::FakeReply::ok(png, "image/jpeg"));
        const QString address = server.url("/bilder/foto.JPG?size=big").toString();
        const QString missing = server.url("/bilder/weg.jpg").toString();

        DialogAnswers answers;
        auto dialog
            = prepare(answers,
                      writeCsv("Title;Account;B1;B2\nLampe;1;" + missing.toUtf8() + ";"
                               + address.toUtf8() + "\n"),
                      0, "SKU", 0, { "Title", "Account", "Zerire3_image_1", "Zerire3_image_2" });
        run(*dialog);
        const QString pictureDir = db->getCurrentAdImageDir();
        QVERIFY(QFileInfo::exists(pictureDir + Statics::hashString(address) + ".JPG"));
        const SqlRows images = db->select("SELECT image, sort FROM articles_images");
        QCOMPARE(images.size(), 1);
        const QString name = images.first().value("image").toString();
        QVERIFY2(name.endsWith("_1_1.JPG"), qPrintable(name));
        QCOMPARE(QImage(pictureDir + name), image);
        QCOMPARE(values(db, 1, "ImageThumb"), "thumb_" + name);
    }

    void settingsAreRestoredByFileName()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        const QString csv = writeCsv("Titel;Nummer\nX;1\n");
        auto first = prepare(answers, csv, 2, "SKU", 1, { "Title", "SKU" });
        first->findChild<QComboBox *>("Separator")->setCurrentText(";");
        run(*first);

        CsvImport second(kTarget);
        answers.pushQuestion(true); // load the stored settings
        second.onOpenFile(csv);
        QCOMPARE(second.findChild<QComboBox *>("ImportModus")->currentIndex(), 2);
        QCOMPARE(second.findChild<QComboBox *>("UpdateField")->currentData().toString(),
                 QString("SKU"));
        const auto boxes = mappingBoxes(second);
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes.at(0)->currentData().toString(), QString("Title"));
        QCOMPARE(boxes.at(1)->currentData().toString(), QString("SKU"));
    }

    void preview_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<bool>("header");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("firstCell");
        QByteArray fifty = "a,b\n";
        for (int i = 0; i < 50; ++i)
            fifty += QByteArray::number(i) + ",x\n";
        QTest::newRow("comma first: guessed, 20 rows shown")
            << fifty << true << "," << QStringList { "a", "b" } << 20 << "0";
        QTest::newRow("semicolon first, line break shown as blank")
            << QByteArray("a;b,c\n\"x\ny\";z\n") << true << ";" << QStringList { "a", "b,c" } << 1
            << "x y";
        QTest::newRow("tab first, long cell cut")
            << QByteArray("a\tb\n" + QByteArray(300, 'w') + "\tz\n") << true << "{TAB}"
            << QStringList { "a", "b" } << 1 << QString(255, 'w');
        QTest::newRow("no separator keeps the default, no header")
            << QByteArray("abc\n") << false << ";" << QStringList { "0" } << 1 << "abc";
    }
    void preview()
    {
        QFETCH(QByteArray, csv);
        QFETCH(bool, header);
        QFETCH(QString, separator);
        QFETCH(QStringList, titles);
        QFETCH(int, rows);
        QFETCH(QString, firstCell);
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        Settings::app()->clear();
        CsvImport dialog(kTarget);
        dialog.findChild<QCheckBox *>("FirstHeaders")->setChecked(header);
        answers.pushQuestion(true); // same-named fields: none here
        dialog.onOpenFile(writeCsv(csv));
        QCOMPARE(dialog.findChild<QComboBox *>("Separator")->currentText(), separator);
        const auto *preview = dialog.findChild<QTreeWidget *>("Preview");
        QStringList shown;
        for (int c = 0; c < preview->columnCount(); ++c)
            shown << preview->headerItem()->text(c);
        QCOMPARE(shown, titles);
        QCOMPARE(preview->topLevelItemCount(), rows);
        QCOMPARE(preview->topLevelItem(0)->text(0), firstCell);
        QCOMPARE(mappingBoxes(dialog).size(), titles.size());
    }
};

APP_TEST_MAIN(TestCsvImport)
#include "test_csvimport.moc"
