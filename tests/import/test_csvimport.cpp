#include "core/database.h"
#include "core/imagelimits.h"
#include "core/settings.h"
#include "core/statics.h"
#include "import/csvimport.h"
#include "import/reader.h"
#include "tests/support/csvmapping.h"
#include "tests/support/databaseoutage.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/helddecodes.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/memorylimit.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mounts.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/peakmemory.h"
#include "tests/support/sqlitecommitrefusal.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <sys/stat.h>

using TestSupport::TableSnapshot;
using TestSupport::values;

using TestSupport::choose;
using TestSupport::mappingBoxes;

namespace {

constexpr int kTarget = 5;
const QString kColumns = QStringLiteral("Title,SKU,StartPrice,Account,Folder,ItemID");

QByteArray jpeg(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 7 % 256, y * 13 % 256, (x * y) % 256));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The texts of the "Importfehler" questions asked.
QStringList importErrors(const DialogAnswers &answers)
{
    QStringList texts;
    for (const auto &question : answers.questions()) {
        if (question.header == QLatin1String("Importfehler"))
            texts << question.text;
    }
    return texts;
}

// The titles of the articles in id order, joined by ",".
QString titles(Database *db)
{
    QStringList list;
    for (const auto &row : db->select("SELECT Title FROM articles ORDER BY id").value())
        list << row.value("Title").toString();
    return list.join(',');
}

} // namespace

class TestCsvImport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_files;
    bool m_noAccounts = false;

    QString writeCsv(const QByteArray &bytes)
    {
        const QString path = m_files.filePath(QStringLiteral("import.csv"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }

    // The dialog on `csv` with the mode, update column, account item and mapping set. The
    // store gets the account 1 the files name, unless it has accounts or m_noAccounts.
    std::unique_ptr<CsvImport> prepare(DialogAnswers &answers, const QString &csv, int mode,
                                       const QString &updateField, int account,
                                       const QStringList &mapping)
    {
        if (!m_noAccounts) {
            Database store(true, QStringLiteral("CsvTestAccounts"));
            if (store.selectCount("SELECT id FROM accounts").value() == 0)
                if (store.insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } },
                                         "accounts")
                    <= 0)
                    QTest::qFail("not stored", __FILE__, __LINE__);
        }
        Settings::app()->clear();
        auto dialog = std::make_unique<CsvImport>(kTarget);
        answers.pushQuestion(false); // no automatic assignment
        dialog->onOpenFile(csv);
        dialog->findChild<QComboBox *>("ImportModus")->setCurrentIndex(mode);
        choose(dialog->findChild<QComboBox *>("UpdateField"), updateField);
        dialog->findChild<QComboBox *>("AccountImport")->setCurrentIndex(account);
        const auto boxes = mappingBoxes(&*dialog);
        for (int c = 0; c < mapping.size() && c < boxes.size(); ++c)
            choose(boxes.at(c), mapping.at(c));
        return dialog;
    }

    // OK, and the wait until the run has ended (its passes run beside the window).
    static void run(CsvImport &dialog)
    {
        QSignalSpy ended(&dialog, &CsvImport::runEnded);
        dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY_WITH_TIMEOUT(ended.count() > 0, 120000);
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
        QTest::newRow("update only: an account the store lacks leaves the article alone")
            << QByteArray("SKU;Account;Title\nA_1;9;Neu\nAB1;3;Auch\n") << 1
            << QStringList { "SKU", "Account", "Title" }
            << QStringList { "row 2, Account: 1 -> 3", "row 2, Title: Artikel -> Auch" }
            << QStringList {} << 1;
        QTest::newRow("update only: a description over the limit leaves its row out")
            << "SKU;Description\nA_1;<p>Neu 12345,67 \xe2\x82\xac</p>\nAB1;"
                + QByteArray(500001, 'x') + "\n"
            << 1 << QStringList { "SKU", "Description" }
            << QStringList { "row 1, Description: NULL -> <p>Neu 12345,67 \u20ac</p>" }
            << QStringList {} << 1;
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
        QVERIFY(db->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts")
                > 0);
        // Accounts 2 to 7, which an update may name.
        for (int i = 2; i <= 7; ++i)
            QVERIFY(db->insertSqlClean(
                        { { "accountname", "Konto " + QString::number(i) }, { "token", "T" } },
                        "accounts")
                    > 0);
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

    // Rows are named as a spreadsheet numbers them (the header is row 1), with the text line
    // where a value over several lines made the two differ; a row short because a quoted
    // value ran on over line ends says so.
    void rowsAreNamed_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QStringList>("mapping");
        QTest::addColumn<QStringList>("named"); // the closing message's lines after the first
        QTest::addColumn<QString>("delimiter"); // the text delimiter chosen
        QTest::newRow("empty and short rows after a value over two lines")
            << QByteArray("Title;SKU\n\"X\nx\";1\n\nY\nZ;3\n") << QStringList { "Title", "Account" }
            << QStringList { "2 leere oder unvollständige Zeilen wurden übersprungen (Zeile 3 "
                             "(Textzeile 4), 4 (Textzeile 5))." }
            << "\"";
        QTest::newRow("one short row, one bad number")
            << QByteArray("Title;StartPrice\n\"Vase\nblau\";VB\nY\n")
            << QStringList { "Title", "StartPrice" }
            << QStringList { "1 leere oder unvollständige Zeile wurde übersprungen (Zeile 3 "
                             "(Textzeile 4)).",
                             "Diese Zeilen wurden nicht importiert, weil ein Wert keine Zahl ist:",
                             "Zeile 2, StartPrice: „VB“",
                             "Bitte die Werte in der Datei berichtigen und diese Zeilen erneut "
                             "importieren." }
            << "\"";
        QTest::newRow("a whole price with a point: not imported, what to do")
            << QByteArray("Title;StartPrice\nStuhl;1.234\nTisch;12\n")
            << QStringList { "Title", "StartPrice" }
            << QStringList { "Diese Zeilen wurden nicht importiert, weil eine Zahl nicht "
                             "übernommen werden kann:",
                             "Zeile 2, StartPrice: „1.234“ (mehrdeutig: Tausendertrennzeichen "
                             "oder Dezimalzeichen)",
                             "Zahlen ohne Nachkommastellen mit einem Punkt oder Komma („1.234“) "
                             "sind mehrdeutig: bitte die Datei mit Dezimalkomma und zwei "
                             "Nachkommastellen speichern („1.234,00“) und diese Zeilen erneut "
                             "importieren." }
            << "\"";
        QTest::newRow("a stray \"\" in a quoted title")
            << QByteArray("Title;SKU;StartPrice\nA;1;2\n\"Monitor 24\"\" Zoll;M1;99\n"
                          "Kabel;K1;\"5\"\nB;2;3\n")
            << QStringList { "Title", "SKU", "StartPrice" }
            << QStringList { "Zeile 3 ist unvollständig und wurde übersprungen: ein Wert in "
                             "Anführungszeichen geht dort über das Zeilenende hinaus und endet "
                             "erst in Textzeile 4. Ein doppeltes Anführungszeichen (\"\") in "
                             "einem Wert beendet ihn nicht, es steht für ein Anführungszeichen "
                             "im Text." }
            << "\"";
        QTest::newRow("a stray '' with ' as the text delimiter")
            << QByteArray("Title;SKU;StartPrice\nA;1;2\n'Monitor 24'' Zoll;M1;99\n"
                          "Kabel;K1;'5'\nB;2;3\n")
            << QStringList { "Title", "SKU", "StartPrice" }
            << QStringList { "Zeile 3 ist unvollständig und wurde übersprungen: ein Wert in "
                             "Anführungszeichen geht dort über das Zeilenende hinaus und endet "
                             "erst in Textzeile 4. Ein doppeltes Anführungszeichen ('') in "
                             "einem Wert beendet ihn nicht, es steht für ein Anführungszeichen "
                             "im Text." }
            << "'";
        QTest::newRow("a \" in a value over two lines with ' as the text delimiter")
            << QByteArray("Title;SKU;StartPrice\nA;1;2\n'Monitor 24\" Zoll\nx';M1\nB;2;3\n")
            << QStringList { "Title", "SKU", "StartPrice" }
            << QStringList { "Zeile 3 ist unvollständig und wurde übersprungen: ein Wert in "
                             "Anführungszeichen geht dort über das Zeilenende hinaus und endet "
                             "erst in Textzeile 4." }
            << "'";
        // The marketplace takes 500,000 characters of description.
        QTest::newRow("a description over the limit, one at it")
            << "Title;Description;StartPrice\nA;" + QByteArray(500001, 'x') + ";12345,67\nB;"
                + QByteArray(500000, 'x') + ";12345,67\n"
            << QStringList { "Title", "Description", "StartPrice" }
            << QStringList { "Zeile 2 wurde nicht importiert: Die Beschreibung ist 500.001 "
                             "Zeichen lang, eBay nimmt höchstens 500.000 Zeichen." }
            << "\"";
        QTest::newRow("a description over the limit in the first column")
            << "Description;Title;StartPrice\n" + QByteArray(500000, 'x') + ";A;12345,67\n"
                + QByteArray(500002, 'x') + ";B;12345,67\n"
            << QStringList { "Description", "Title", "StartPrice" }
            << QStringList { "Zeile 3 wurde nicht importiert: Die Beschreibung ist 500.002 "
                             "Zeichen lang, eBay nimmt höchstens 500.000 Zeichen." }
            << "\"";
    }
    void rowsAreNamed()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QStringList, mapping);
        QFETCH(QStringList, named);
        QFETCH(QString, delimiter);
        APP_TEST_DATABASE(data);
        QVERIFY(
            data.db()->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts")
            > 0);
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 1, mapping);
        if (delimiter != "\"") {
            dialog->findChild<QLineEdit *>("TextClose")->setText(delimiter);
            const auto boxes = mappingBoxes(&*dialog);
            for (int c = 0; c < mapping.size() && c < boxes.size(); ++c)
                choose(boxes.at(c), mapping.at(c));
        }
        run(*dialog);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(answers.lastMessageText().split('\n').mid(1), named);
    }

    // An Account value of the file that names no account of the store refuses its row, named
    // in the closing message with what to do; with no account at all nothing is made.
    void accountColumn_data()
    {
        QTest::addColumn<int>("accounts"); // in the store
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("stored"); // Title:Account:Folder, in id order
        QTest::addColumn<QStringList>("named"); // the closing message's lines after the first
        const QString header
            = "Diese Zeilen wurden nicht importiert, weil es das genannte Konto nicht gibt:";
        const QString other = "Die Spalte Account muss die Nummer eines angelegten Kontos "
                              "enthalten; bitte berichtigen und diese Zeilen erneut importieren.";
        // 0 is the program's own value for an article of no account: taken as that.
        QTest::newRow("no account in the store")
            << 0 << QByteArray("Title;StartPrice;Account\nLampe;12345,67;1\nVase;;0\nTisch;;00\n")
            << "Vase:0:5"
            << QStringList { header, "Zeile 2, Account: „1“", "Zeile 4, Account: „00“",
                             "Es ist noch kein Konto angelegt: bitte zuerst in den Einstellungen "
                             "(Extras, Einstellungen) ein Konto anlegen oder die Konten mit "
                             "„Rovive 2 Daten importieren...“ (Menü Datei) aus Rovive 2 "
                             "übernehmen, und die Datei dann erneut importieren." };
        QTest::newRow("one of two accounts named, one missing, one blank")
            << 2
            << QByteArray("Title;StartPrice;Account\nLampe;12345,67;2\nVase;5;3\nTisch;5;\n"
                          "Stuhl;; 1 \n")
            << "Lampe:2:5,Stuhl:1:5"
            << QStringList { header, "Zeile 3, Account: „3“", "Zeile 4, Account: „“", other };
        QTest::newRow("a name in place of the number")
            << 1 << QByteArray("Title;StartPrice;Account\nLampe;5;Konto 1\nVase;5;1\n")
            << "Vase:1:5" << QStringList { header, "Zeile 2, Account: „Konto 1“", other };
    }
    void accountColumn()
    {
        QFETCH(int, accounts);
        QFETCH(QByteArray, csv);
        QFETCH(QString, stored);
        QFETCH(QStringList, named);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        for (int i = 1; i <= accounts; ++i)
            QVERIFY(db->insertSqlClean(
                        { { "accountname", "Konto " + QString::number(i) }, { "token", "T" } },
                        "accounts")
                    > 0);
        m_noAccounts = true;
        DialogAnswers answers;
        auto dialog
            = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "StartPrice", "Account" });
        m_noAccounts = false;
        QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
        run(*dialog);
        QStringList found;
        for (const auto &row :
             db->select("SELECT Title, Account, Folder FROM articles ORDER BY id").value())
            found << row.value("Title").toString() + ':' + row.value("Account").toString() + ':'
                    + row.value("Folder").toString();
        QCOMPARE(found.join(','), stored);
        QCOMPARE(answers.lastMessageText().split('\n').mid(1), named);
        QCOMPARE(counts.value(0), (QVariantList { kTarget, found.size(), false }));
    }

    // The first pass over the whole file runs beside the window: while it is held, the
    // window serves its events and shows the progress; Abbrechen there ends the run before
    // anything is written and leaves the dialog as it was, ready for another OK.
    void firstPassBesideTheWindow_data()
    {
        QTest::addColumn<QString>("action"); // while the pass is held
        QTest::newRow("held, then let go on to the run") << "";
        QTest::newRow("Abbrechen while it is held") << "Abbrechen";
        QTest::newRow("Esc or the close button while it is held") << "Esc";
    }
    void firstPassBesideTheWindow()
    {
        QFETCH(QString, action);
        const bool cancel = !action.isEmpty();
        APP_TEST_DATABASE(data);
        QByteArray csv = "Title;StartPrice;Account\n";
        for (int i = 1; i <= 300; ++i)
            csv += "T" + QByteArray::number(i) + ";12345,67;1\n";
        DialogAnswers answers;
        auto dialog
            = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "StartPrice", "Account" });
        QSemaphore held;
        QSemaphore go;
        std::atomic<int> lastLine { 0 };
        std::atomic<bool> holding { false };
        CsvImport::setFirstPassHookForTesting([&](int line) {
            lastLine = line;
            if (line != 150)
                return;
            holding = true;
            held.release();
            // Bounded, so that a pass on the window thread fails the test instead of hanging.
            go.tryAcquire(1, 20000);
            holding = false;
        });
        auto *ok = dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok);
        auto *abort
            = dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Cancel);
        auto *bar = dialog->findChild<QProgressBar *>("progressBar");
        bool servedWhileHeld = false;
        bool shownWhileHeld = false;
        QTimer::singleShot(0, dialog.get(), [&] {
            // Runs from the window's events: the pass must be held at this moment.
            servedWhileHeld = held.tryAcquire(1, 20000) && holding;
            shownWhileHeld = !bar->isHidden() && !ok->isEnabled() && abort->isEnabled();
            if (action == "Abbrechen")
                abort->click();
            else if (action == "Esc")
                dialog->reject(); // as Esc and the window's close button do
            go.release();
        });
        run(*dialog);
        CsvImport::setFirstPassHookForTesting({});
        QVERIFY(servedWhileHeld);
        QVERIFY(shownWhileHeld);
        // Abbrechen stops the pass at the row it was held in.
        QCOMPARE(int(lastLine), cancel ? 150 : 301);
        if (!cancel) {
            QCOMPARE(data.db()
                         ->selectCount("SELECT id FROM articles WHERE StartPrice = 12345.67")
                         .value(),
                     300);
            return;
        }
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 0);
        QCOMPARE(answers.messages().size(), 0);
        QVERIFY(ok->isEnabled() && abort->isEnabled() && bar->isHidden());
        QVERIFY(dialog->findChild<QComboBox *>("ImportModus")->isEnabled());
        // Nothing of the cancelled pass is left: Abbrechen now closes the dialog, and OK
        // again imports the file whole.
        QSignalSpy closed(dialog.get(), &QDialog::rejected);
        abort->click();
        QCOMPARE(closed.size(), 1);
        run(*dialog);
        QCOMPARE(
            data.db()->selectCount("SELECT id FROM articles WHERE StartPrice = 12345.67").value(),
            300);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    // The rows are written beside the window: while the run is held at a row, the window
    // serves its events; Abbrechen stops the run at the next row, what was written stays,
    // seen by any connection.
    void cancelKeepsWhatWasWritten()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        QByteArray csv = "Title;Account\n";
        for (int i = 0; i < 10; ++i)
            csv += "T" + QByteArray::number(i) + ";1\n";
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Account" });
        QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
        QSemaphore go;
        std::atomic<bool> holding { false };
        bool servedWhileHeld = false;
        CsvImport *window = dialog.get();
        CsvImport::setRowHookForTesting([&](int line) {
            if (line != 6)
                return;
            holding = true;
            // Abbrechen is clicked on the window while this row waits.
            QMetaObject::invokeMethod(
                window,
                [&] {
                    servedWhileHeld = holding;
                    window->findChild<QDialogButtonBox *>("buttonBox")
                        ->button(QDialogButtonBox::Cancel)
                        ->click();
                    go.release();
                },
                Qt::QueuedConnection);
            // Bounded, so that rows written on the window's thread fail instead of hanging.
            go.tryAcquire(1, 20000);
            holding = false;
        });
        run(*dialog);
        CsvImport::setRowHookForTesting({});
        QVERIFY(servedWhileHeld);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        const int written = data.db()->selectCount("SELECT id FROM articles").value();
        QCOMPARE(written, 5); // text lines 2 to 6: the row in hand is finished
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
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 0);
    }

    // A pipe where the CSV file is named has no writer: opening it by name would hold the
    // window (or the worker) for good. Picked, it is refused at once and nothing is shown;
    // put in place of a previewed file, the run is refused at once and writes nothing.
    void pipeAsFileIsRefused_data()
    {
        QTest::addColumn<bool>("picked"); // else it replaces the file after the preview
        QTest::newRow("picked") << true;
        QTest::newRow("in place of the previewed file") << false;
    }
    void pipeAsFileIsRefused()
    {
        QFETCH(bool, picked);
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        const QString pipe = m_files.filePath(QStringLiteral("pipe.csv"));
        QFile::remove(pipe);
        if (picked)
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        else
            writeFile(pipe, "Title;Account\nX;1\n");
        auto dialog = prepare(answers, pipe, 0, "SKU", 0, { "Title", "Account" });
        auto *preview = dialog->findChild<QTreeWidget *>("Preview");
        if (picked) {
            QCOMPARE(answers.lastMessageText(),
                     QString("Die Datei konnte nicht geöffnet werden: "
                             "Das ist keine gewöhnliche Datei."));
            QCOMPARE(preview->topLevelItemCount(), 0);
            QVERIFY(mappingBoxes(&*dialog).isEmpty());
            return;
        }
        QCOMPARE(preview->topLevelItemCount(), 1);
        QVERIFY(QFile::remove(pipe));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        run(*dialog);
        QCOMPARE(answers.lastMessageText(), QString("Die Datei konnte nicht gelesen werden"));
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 0);
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
        const SqlRows images
            = db->select("SELECT image, sort FROM articles_images WHERE article_id=1 ORDER BY sort")
                  .value();
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
        const SqlRows images = db->select("SELECT image, sort FROM articles_images").value();
        QCOMPARE(images.size(), 1);
        const QString name = images.first().value("image").toString();
        QVERIFY2(name.endsWith("_1_1.JPG"), qPrintable(name));
        QCOMPARE(QImage(pictureDir + name), image);
        QCOMPARE(values(db, 1, "ImageThumb"), "thumb_" + name);
    }

    // A row the database refuses (here a trigger) in the middle of a batch: the question
    // names its line (a record over two lines by its first); Yes ends the run with what is
    // stored, No goes on. When the refusal takes the whole batch with it, the question names
    // the batch's first row and none of its rows is counted.
    void refusedRow_data()
    {
        QTest::addColumn<bool>("wholeBatch");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("stored");
        QTest::newRow("No goes on") << false << false << "T2,T3,T4,T7,T8";
        QTest::newRow("Yes ends with the rows stored so far") << false << true << "T2,T3,T4";
        QTest::newRow("the batch is lost with the row") << true << false << "";
    }
    void refusedRow()
    {
        QFETCH(bool, wholeBatch);
        QFETCH(bool, yes);
        QFETCH(QString, stored);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        QSqlQuery trigger(db->connection());
        if (db->isMySQL) {
            if (wholeBatch)
                QSKIP("A MariaDB trigger refuses the row only; each row is stored on its own");
            QVERIFY(trigger.exec("CREATE TRIGGER refuse BEFORE INSERT ON articles FOR EACH ROW "
                                 "BEGIN IF NEW.Title = 'STOP' THEN SIGNAL SQLSTATE '45000' "
                                 "SET MESSAGE_TEXT = 'refused'; END IF; END"));
        } else {
            QVERIFY(trigger.exec(
                QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON articles WHEN NEW.Title = "
                               "'STOP' BEGIN SELECT RAISE(%1, 'refused'); END")
                    .arg(wholeBatch ? "ROLLBACK" : "ABORT")));
        }
        DialogAnswers answers;
        auto dialog = prepare(answers,
                              writeCsv("Title;Description;Account\nT2;;1\nT3;;1\nT4;;1\n"
                                       "STOP;\"zwei\nZeilen\";1\nT7;;1\nT8;;1\n"),
                              0, "SKU", 0, { "Title", "Description", "Account" });
        answers.pushQuestion(yes);
        QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
        run(*dialog);

        QCOMPARE(importErrors(answers).size(), 1);
        const QString question = importErrors(answers).first();
        QVERIFY2(question.contains("refused"), qPrintable(question));
        const QRegularExpressionMatch line
            = QRegularExpression("aktuell in der Zeile (\\d+) ").match(question);
        QVERIFY2(line.hasMatch(), qPrintable(question));
        if (wholeBatch) {
            // The rows from the named line up to the refused one are lost, the rest kept.
            const int first = line.captured(1).toInt();
            QVERIFY2(first >= 2 && first <= 5, qPrintable(question));
            QStringList kept;
            for (int l = 2; l < first; ++l)
                kept << "T" + QString::number(l);
            stored = (kept + QStringList { "T7", "T8" }).join(',');
        } else {
            QCOMPARE(line.captured(1), QString("5"));
        }
        QCOMPARE(titles(db), stored);
        const int count = stored.isEmpty() ? 0 : stored.split(',').size();
        QCOMPARE(counts.value(0), (QVariantList { kTarget, count, false }));
        QVERIFY2(answers.lastMessageText().startsWith(
                     QString("Es wurden %1 Artikel angelegt").arg(count)),
                 qPrintable(answers.lastMessageText()));
    }

    // The disk fills during the import: a batch whose commit fails counts none of its rows,
    // the question names its first row, and Yes ends the run with what was stored.
    void diskFullDuringImport()
    {
        QFETCH_GLOBAL(TestSupport::Backend, backend);
        if (backend == TestSupport::Backend::MySQL)
            QSKIP("The MariaDB server keeps its files on a file system of its own");
        if (!TestSupport::Mounts::isRoot())
            QSKIP("Needs root to mount a small file system of its own");
        QTemporaryDir base;
        const QString dataDir = base.path() + "/data/";
        QVERIFY(QDir().mkpath(dataDir));
        TestSupport::Mounts mounts;
        if (!mounts.tmpfs(dataDir, "8m"))
            QSKIP("This machine lets root mount no file system of its own");
        int stored = 0;
        {
            Database db(dataDir);
            QVERIFY(db.insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts")
                    > 0);
            QVERIFY(db.checkpoint());
            // Full, then 3 MB freed again: room for some batches, not for all rows.
            QFile filler(dataDir + "filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(64 * 1024, 'f');
            while (filler.write(block) == block.size() && filler.flush()) { }
            QVERIFY(filler.resize(qMax<qint64>(0, filler.size() - 3 * 1024 * 1024)));
            filler.close();

            QByteArray csv = "Title;Description;Account\n";
            for (int i = 0; i < 3000; ++i)
                csv += "T" + QByteArray::number(i) + ";" + QByteArray(1500, 'x') + ";1\n";
            DialogAnswers answers;
            auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0,
                                  { "Title", "Description", "Account" });
            answers.pushQuestion(true);
            QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
            run(*dialog);

            stored = db.selectOne("SELECT COUNT(*) FROM articles").value().toInt();
            QVERIFY2(stored > 0 && stored < 3000, qPrintable(QString::number(stored)));
            QCOMPARE(db.selectOne("SELECT MAX(id) FROM articles").value().toInt(), stored);
            QCOMPARE(importErrors(answers).size(), 1);
            QVERIFY2(importErrors(answers).first().contains(
                         QString("aktuell in der Zeile %1 (").arg(stored + 2)),
                     qPrintable(importErrors(answers).first()));
            QCOMPARE(counts.value(0), (QVariantList { kTarget, stored, false }));
            QVERIFY2(answers.lastMessageText().startsWith(
                         QString("Es wurden %1 Artikel angelegt").arg(stored)),
                     qPrintable(answers.lastMessageText()));
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
        }
        TestSupport::clearDatabaseProperties();
    }

    // While a picture downloads, the import holds no write lock: another connection (as the
    // workers have) writes at that moment without waiting.
    void noWriteLockWhileDownloading()
    {
        APP_TEST_DATABASE(data);
        TestSupport::FakeHttpServer server;
        QAtomicInt written(-1);
        // The reply is held until the other connection has written (on the server's thread,
        // while the import waits for it).
        server.setHandler("/bild.jpg", [&written](const TestSupport::RecordedRequest &) {
            {
                Database other(true, QStringLiteral("Synchronisation"));
                other.setLockTimeout(500);
                written = other.executeSQL("INSERT INTO folders (foldername, folderparentid) "
                                           "VALUES ('Während des Imports', -10)")
                    ? 1
                    : 0;
            }
            return TestSupport::FakeReply::ok(jpeg(40, 30), "image/jpeg");
        });
        DialogAnswers answers;
        auto dialog
            = prepare(answers,
                      writeCsv("Title;Account;B1\nErster;1;\nZweiter;1;"
                               + server.url("/bild.jpg").toString().toUtf8() + "\nDritter;1;\n"),
                      0, "SKU", 0, { "Title", "Account", "Zerire3_image_1" });
        run(*dialog);
        QCOMPARE(int(written), 1);
        QCOMPARE(data.db()
                     ->selectCount("SELECT id FROM folders WHERE foldername = "
                                   "'Während des Imports'")
                     .value(),
                 1);
        QCOMPARE(titles(data.db()), QString("Erster,Zweiter,Dritter"));
        QCOMPARE(
            data.db()->selectCount("SELECT id FROM articles_images WHERE article_id = 2").value(),
            1);
    }

    // An update keyed on a value holding a quote reaches exactly that article.
    void updateKeyWithQuote()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        TestSupport::insertArticle(db, { { "SKU", "O'Neil" } });
        TestSupport::insertArticle(db, { { "SKU", "ONeil" } });
        TestSupport::insertArticle(db, { { "SKU", "O''Neil" } });
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("SKU;Title\nO'Neil;Neu\n"), 1, "SKU", 0,
                              { "SKU", "Title" });
        run(*dialog);
        QCOMPARE(titles(db), QString("Neu,Artikel,Artikel"));
        QCOMPARE(importErrors(answers), QStringList());
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.lastMessageText(),
                 QString("Es wurden 0 Artikel angelegt und es wurde 1 Artikel aktualisiert."));
    }

    // Values of number columns are read as numbers (decimal comma or point); what is no
    // number is left out of the row and named, with line and column, in the closing message.
    void numbers()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        TestSupport::insertArticle(db, { { "SKU", "K1" }, { "StartPrice", 5.0 } });
        DialogAnswers answers;
        auto dialog = prepare(
            answers,
            writeCsv("Title;StartPrice;Quantity;ConditionID;PrimaryCategory;BuyItNowPrice\n"
                     "A;12,50;3;1000;9355;\n"
                     "B;abc;2,5;neu;12x;1.234,50\n"
                     "C;12,3,4;  ;;;1e2\n"),
            0, "SKU", 1,
            { "Title", "StartPrice", "Quantity", "ConditionID", "PrimaryCategory",
              "BuyItNowPrice" });
        run(*dialog);
        const QString columns
            = "Title,StartPrice,Quantity,ConditionID,PrimaryCategory,BuyItNowPrice";
        QCOMPARE(TestSupport::values(db, 2, columns), QString("A|12.5|3|1000|9355|0"));
        // The rows with a value not taken are not imported.
        QCOMPARE(titles(db), QString("Artikel,A"));
        if (!db->isMySQL) {
            QCOMPARE(db->selectOne("SELECT COUNT(*) FROM articles WHERE typeof(StartPrice) <> "
                                   "'real' OR typeof(BuyItNowPrice) <> 'real' OR "
                                   "typeof(Quantity) <> 'integer'")
                         .value(),
                     QString("0"));
        }
        QCOMPARE(answers.lastMessageText(),
                 QString("Es wurde 1 Artikel angelegt und es wurden 0 Artikel aktualisiert.\n"
                         "Diese Zeilen wurden nicht importiert, weil ein Wert keine Zahl ist:\n"
                         "Zeile 3, StartPrice: „abc“\n"
                         "Zeile 3, Quantity: „2,5“\n"
                         "Zeile 3, ConditionID: „neu“\n"
                         "Zeile 3, PrimaryCategory: „12x“\n"
                         "Zeile 4, StartPrice: „12,3,4“\n"
                         "Bitte die Werte in der Datei berichtigen und diese Zeilen erneut "
                         "importieren."));
        QCOMPARE(answers.messages().last().type, 1);

        // An update whose value is no number leaves the article alone.
        auto update = prepare(answers, writeCsv("SKU;StartPrice;Title\nK1;zwölf;Neu\n"), 1, "SKU",
                              0, { "SKU", "StartPrice", "Title" });
        run(*update);
        QCOMPARE(TestSupport::values(db, 1, "Title,StartPrice"), QString("Artikel|5"));
        QVERIFY2(answers.lastMessageText().contains("Zeile 2, StartPrice: „zwölf“\n"),
                 qPrintable(answers.lastMessageText()));
    }

    // Every form a number column meets, for each kind of number column: prices and costs,
    // the VAT rate, counts and category numbers. Read right, or refused and named with the
    // reason when it is a number the column does not take, never another number: its row
    // is then not imported ("-"). Each column holds only this one cell, in a row of its own,
    // so nothing else decides an ambiguous one.
    void numberForms_data()
    {
        QTest::addColumn<QString>("text");
        // StartPrice|ShippingService_1_Cost|VAT_VATPercent|Quantity|PrimaryCategory
        QTest::addColumn<QString>("stored");
        // The columns named: as no number, or "column|reason" for a number not taken.
        QTest::addColumn<QStringList>("named");
        const QStringList counts { "Quantity", "PrimaryCategory" };
        const QStringList all { "StartPrice", "ShippingService_1_Cost", "VAT_VATPercent",
                                "Quantity", "PrimaryCategory" };
        const auto prices = [](const QString &reason) {
            return QStringList { "StartPrice|" + reason, "ShippingService_1_Cost|" + reason,
                                 "VAT_VATPercent|" + reason };
        };
        const QString ambiguous = "mehrdeutig: Tausendertrennzeichen oder Dezimalzeichen";
        QTest::newRow("German marks") << "1.234,50"
                                      << "1234.5|1234.5|1234.5|-|-" << counts;
        QTest::newRow("English marks") << "1,234.50"
                                       << "1234.5|1234.5|1234.5|-|-" << counts;
        QTest::newRow("decimal point") << "1234.50"
                                       << "1234.5|1234.5|1234.5|-|-" << counts;
        QTest::newRow("decimal comma") << "12,5"
                                       << "12.5|12.5|12.5|-|-" << counts;
        QTest::newRow("currency after") << "19,99 €"
                                        << "19.99|19.99|19.99|-|-" << counts;
        QTest::newRow("code before") << "EUR 19,99"
                                     << "19.99|19.99|19.99|-|-" << counts;
        QTest::newRow("code EUR, thousands point") << "EUR 1.000"
                                                   << "1000|1000|1000|1000|1000" << QStringList();
        // One mark before three digits: a thousand as a count, undecided as a price.
        QTest::newRow("ambiguous point") << "1.000"
                                         << "-|-|-|1000|1000" << prices(ambiguous);
        QTest::newRow("ambiguous comma") << "1,000"
                                         << "-|-|-|1000|1000" << prices(ambiguous);
        QTest::newRow("ambiguous comma, 1,234") << "1,234"
                                                << "-|-|-|1234|1234" << prices(ambiguous);
        QTest::newRow("dollar sign: English") << "$2,500"
                                              << "2500|2500|2500|2500|2500" << QStringList();
        QTest::newRow("scientific form") << "1,5E+03"
                                         << "1500|1500|1500|1500|1500" << QStringList();
        QTest::newRow("negative price and count")
            << "-3,00"
            << "-|-|-|-|-3" << prices("negativ") + QStringList { "Quantity|negativ" };
        QTest::newRow("negative whole number")
            << "-5"
            << "-|-|-|-|-5" << prices("negativ") + QStringList { "Quantity|negativ" };
        QTest::newRow("nineteen nines") << "9999999999999999999"
                                        << "-|-|-|-|-" << counts + prices("größer als 999.999,99");
        QTest::newRow("three decimals")
            << "1234,567"
            << "-|-|-|-|-" << counts + prices("mehr als zwei Nachkommastellen");
        QTest::newRow("marks in an impossible order") << "1,2.3,4"
                                                      << "-|-|-|-|-" << all;
        QTest::newRow("several decimal marks") << "12,3,4"
                                               << "-|-|-|-|-" << all;
    }
    void numberForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QFETCH(QStringList, named);
        APP_TEST_DATABASE(data);
        const QStringList columns { "Title",          "Account",
                                    "StartPrice",     "ShippingService_1_Cost",
                                    "VAT_VATPercent", "Quantity",
                                    "PrimaryCategory" };
        // A row per number column, titled by it: the cell in that column, the others empty.
        QByteArray csv = columns.join(';').toUtf8() + '\n';
        for (int c = 2; c < columns.size(); ++c) {
            QStringList row { columns.at(c), "1" };
            for (int i = 2; i < columns.size(); ++i)
                row << (i == c ? text : QString());
            csv += row.join(';').toUtf8() + '\n';
        }
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, columns);
        run(*dialog);
        QStringList found;
        for (int c = 2; c < columns.size(); ++c) {
            const QString id
                = data.db()
                      ->selectOne("SELECT id FROM articles WHERE Title = '" + columns.at(c) + "'")
                      .value();
            found << (id.isEmpty() ? "-"
                                   : TestSupport::values(data.db(), id.toInt(), columns.at(c)));
        }
        QCOMPARE(found.join('|'), stored);
        QStringList lines;
        for (const QString &column : named) {
            const QString reason = column.section('|', 1);
            lines << QString("Zeile %1, %2: „%3“")
                         .arg(columns.indexOf(column.section('|', 0, 0)))
                         .arg(column.section('|', 0, 0), text)
                    + (reason.isEmpty() ? QString() : " (" + reason + ")");
        }
        QStringList shown
            = answers.lastMessageText().split('\n').filter(QRegularExpression("^Zeile "));
        QCOMPARE(shown, lines);
    }

    // A number whose single mark could group thousands or begin decimals is read by what
    // the rest of its column shows, before any row is written; a column that shows both
    // kinds, or nothing, leaves it undecided. Each row holds StartPrice;Quantity.
    void numbersByTheirColumn_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("stored"); // StartPrice|Quantity per row; "-": not imported
        QTest::addColumn<QStringList>("named"); // the lines naming values not taken
        const QString ambiguous = " (mehrdeutig: Tausendertrennzeichen oder Dezimalzeichen)";
        QTest::newRow("an English cell further down")
            << QStringList { "1,234;1,000", "1,234.50;2" }
            << QStringList { "1234|1000", "1234.5|2" } << QStringList();
        QTest::newRow("a German cell: three decimals are no price")
            << QStringList { "3,99;1", "1,234;1", "1.000;1" }
            << QStringList { "3.99|1", "-", "1000|1" }
            << QStringList { "Zeile 3, StartPrice: „1,234“ (mehr als zwei Nachkommastellen)" };
        QTest::newRow("a dollar sign elsewhere in the column")
            << QStringList { "$5;1", "2,500;1" } << QStringList { "5|1", "2500|1" }
            << QStringList();
        QTest::newRow("both decimal marks: undecided")
            << QStringList { "3,99;1", "3.99;1", "1,234;1" }
            << QStringList { "3.99|1", "3.99|1", "-" }
            << QStringList { "Zeile 4, StartPrice: „1,234“" + ambiguous };
        QTest::newRow("whole numbers only: undecided")
            << QStringList { "5;1", "1,000;1" } << QStringList { "5|1", "-" }
            << QStringList { "Zeile 3, StartPrice: „1,000“" + ambiguous };
        QTest::newRow("a count column showing a decimal comma")
            << QStringList { "5;3,0", "5;1,000" } << QStringList { "5|3", "5|1" } << QStringList();
        QTest::newRow("another column's marks do not count")
            << QStringList { "1,234;1.000,0" } << QStringList { "-" }
            << QStringList { "Zeile 2, StartPrice: „1,234“" + ambiguous };
        // A German office suite's file: its other numbers show the decimal comma, so a whole
        // price with a point group is a thousand and more, not a price with decimals.
        QTest::newRow("a German file: whole prices with a point group")
            << QStringList { "1.234;3,0", "12.000;1", "12345,67;2" }
            << QStringList { "1234|3", "12000|1", "12345.67|2" } << QStringList();
        QTest::newRow("a file showing both forms: a point group stays undecided")
            << QStringList { "1.234;3,0", "5;1.0" } << QStringList { "-", "5|1" }
            << QStringList { "Zeile 2, StartPrice: „1.234“" + ambiguous };
        QTest::newRow("a German file: a comma before three digits is no price")
            << QStringList { "12.345;2", "1,234;1", "4,90;1" }
            << QStringList { "12345|2", "-", "4.9|1" }
            << QStringList { "Zeile 3, StartPrice: „1,234“ (mehr als zwei Nachkommastellen)" };
    }
    void numbersByTheirColumn()
    {
        QFETCH(QStringList, rows);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, named);
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        QByteArray csv = "Title;Account;StartPrice;Quantity\n";
        for (int r = 0; r < rows.size(); ++r)
            csv += "T" + QByteArray::number(r) + ";1;" + rows.at(r).toUtf8() + '\n';
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0,
                              { "Title", "Account", "StartPrice", "Quantity" });
        run(*dialog);
        QStringList found;
        for (int r = 0; r < rows.size(); ++r) {
            const QString id = data.db()
                                   ->selectOne("SELECT id FROM articles WHERE Title = 'T"
                                               + QString::number(r) + "'")
                                   .value();
            found << (id.isEmpty()
                          ? "-"
                          : TestSupport::values(data.db(), id.toInt(), "StartPrice,Quantity"));
        }
        QCOMPARE(found, stored);
        QCOMPARE(answers.lastMessageText().split('\n').filter(QRegularExpression("^Zeile ")),
                 named);
    }

    // A header of more columns than a spreadsheet of articles can mean is refused when the
    // file is opened, naming the count and the limit, before a mapping box is made for each
    // column; up to the limit the mapping is built at once, in little memory.
    void manyColumns_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QByteArray>("title"); // of each column
        QTest::addColumn<QString>("count"); // as the refusal names it; empty: taken
        QTest::newRow("at the limit") << CsvImport::kMaxColumns << QByteArray("Spalte") << "";
        QTest::newRow("one over the limit")
            << CsvImport::kMaxColumns + 1 << QByteArray("Spalte") << "1001";
        QTest::newRow("5,000") << 5000 << QByteArray("Spalte") << "5000";
        QTest::newRow("131,072 untitled") << 131072 << QByteArray() << "131072";
        // 256 KB of the first line are read: 37,449 titles and the start of one more.
        QTest::newRow("40,000, longer than the preview reads")
            << 40000 << QByteArray("Spalte") << "mindestens 37450";
    }
    void manyColumns()
    {
        QFETCH(int, columns);
        QFETCH(QByteArray, title);
        QFETCH(QString, count);
        const bool taken = count.isEmpty();
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        QByteArray header;
        for (int c = 0; c < columns; ++c)
            header += (c ? ";" : "") + title;
        const QString csv = writeCsv(header + "\n" + header + "\n");
        Settings::app()->clear();
        CsvImport dialog(kTarget);
        dialog.show();
        answers.pushQuestion(true); // same-named fields
        TestSupport::PeakMemory memory;
        const bool measured = memory.start();
        QElapsedTimer time;
        time.start();
        {
            TestSupport::AddressSpaceLimit cap(qint64(1) << 30);
            QVERIFY(cap.active());
            dialog.onOpenFile(csv);
        }
        const qint64 took = time.elapsed();
        qInfo("%d columns (limit %d): %lld ms, peak +%lld MB", columns, CsvImport::kMaxColumns,
              took, measured ? memory.growth() >> 20 : -1);
        QCOMPARE(mappingBoxes(&dialog).size(), taken ? columns : 0);
        if (taken) {
            QCOMPARE(answers.messages().size(), 0);
        } else {
            QCOMPARE(answers.lastMessageText(),
                     QString("Die Datei hat %1 Spalten; importiert werden können Dateien mit "
                             "höchstens 1000 Spalten.")
                         .arg(count));
            QVERIFY(!dialog.findChild<QDialogButtonBox *>("buttonBox")
                         ->button(QDialogButtonBox::Ok)
                         ->isEnabled());
        }
        // A generous bound, far above the measured time, that a mapping growing with the
        // square of the columns exceeds.
        QVERIFY2(took < 20000, qPrintable(QString::number(took)));
        if (measured)
            QVERIFY2(memory.growth() < qint64(400) << 20,
                     qPrintable(QString::number(memory.growth())));
    }

    // A record longer than the reader takes refuses the file before anything is written,
    // naming its line, in the dialog while it is open and when the import runs.
    void longRecordRefusesTheFile()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        const QByteArray csv = "Title;Account\nA;1\n"
            + QByteArray(QtCSV::Reader::kMaxRecordChars + 10, 'x') + ";1\nB;1\n";
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Account" });
        const QString notice = "Textzeile 3 ist länger als 1 MB; so lange Zeilen hat keine "
                               "Tabelle. Die Datei kann nicht importiert werden.";
        const auto *fileNotice = dialog->findChild<QLabel *>("FileNotice");
        QTRY_COMPARE(fileNotice->text(), notice);
        run(*dialog);
        QCOMPARE(answers.lastMessageText(), notice);
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 0);
        QVERIFY(dialog->findChild<QDialogButtonBox *>("buttonBox")
                    ->button(QDialogButtonBox::Ok)
                    ->isEnabled());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    // A file that is not UTF-8 is read as Windows-1252, and the dialog says so above the
    // preview; a quoted value that never closes is named by its line in the preview and
    // after the run.
    void fileNotices_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("closing"); // the closing message's end
        const QString text = QStringLiteral("Käse 5 € „Zitat…“");
        const QString created = "Es wurde 1 Artikel angelegt und es wurden 0 Artikel aktualisiert.";
        QTest::newRow("UTF-8") << ("Title;Account\n" + text.toUtf8() + ";1\n") << QString() << text
                               << created;
        QTest::newRow("UTF-8 with byte-order mark")
            << ("\xEF\xBB\xBFTitle;Account\n" + text.toUtf8() + ";1\n") << QString() << text
            << created;
        QTest::newRow("Windows-1252")
            << QByteArray("Title;Account\nK\xE4se 5 \x80 \x84Zitat\x85\x93;1\n")
            << "Die Datei ist nicht in UTF-8 gespeichert; sie wird als Windows-1252 gelesen."
            << text << created;
        const QString unclosed = "Ein Wert in Anführungszeichen, der in Zeile 3 beginnt, wird "
                                 "nicht geschlossen; der Rest der Datei gehört zu diesem Wert.";
        QTest::newRow("quote never closed")
            << QByteArray("Title;Account\nErster;1\n\"Zweiter;1\nDritter;1\n") << unclosed
            << "Erster" << unclosed;
        const QString belowTwoLines = QString(unclosed).replace("Zeile 3", "Zeile 3 (Textzeile 4)");
        QTest::newRow("quote never closed, below a value over two lines")
            << QByteArray("Title;Account\n\"Erster\nTeil\";1\n\"Zweiter;1\nDritter;1\n")
            << belowTwoLines << "Erster Teil" << belowTwoLines;
    }
    void fileNotices()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, notice);
        QFETCH(QString, title);
        QFETCH(QString, closing);
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Account" });
        const auto *label = dialog->findChild<QLabel *>("FileNotice");
        // What only the whole file tells is shown once the look in the background is done.
        QTRY_COMPARE(label->text(), notice);
        QCOMPARE(label->isVisibleTo(dialog.get()), !notice.isEmpty());
        QCOMPARE(dialog->findChild<QTreeWidget *>("Preview")->topLevelItem(0)->text(0), title);
        run(*dialog);
        QCOMPARE(TestSupport::values(data.db(), 1, "Title").replace('\n', ' '), title);
        QVERIFY2(answers.lastMessageText().endsWith(closing),
                 qPrintable(answers.lastMessageText()));
    }

    // The encoding is decided from every byte of the file: a byte that is no UTF-8 far
    // below the preview's rows turns the file to Windows-1252 once the look at the whole
    // file is done, the notice appears and the preview shows what the run will store.
    void encodingFromWholeFile_data()
    {
        QTest::addColumn<QByteArray>("firstTitle"); // as the file holds it
        QTest::addColumn<QString>("shownFirst"); // at once
        QTest::addColumn<QString>("shownThen"); // once the whole file was looked at
        QTest::newRow("ASCII above") << QByteArray("Artikel") << "Artikel"
                                     << "Artikel";
        QTest::newRow("UTF-8 above")
            << QStringLiteral("Käse").toUtf8() << "Käse" << QStringLiteral("K\u00C3\u00A4se");
    }
    void encodingFromWholeFile()
    {
        QFETCH(QByteArray, firstTitle);
        QFETCH(QString, shownFirst);
        QFETCH(QString, shownThen);
        APP_TEST_DATABASE(data);
        QByteArray csv = "Title;Account\n" + firstTitle + ";1\n";
        for (int i = 1; i < 1759; ++i)
            csv += "Artikel " + QByteArray::number(i) + ", ein ASCII-Titel wie viele;1\n";
        csv += "Gr\xFCne Tasse f\xFCr K\xE4se;1\n";
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Account" });
        const auto *preview = dialog->findChild<QTreeWidget *>("Preview");
        const auto *notice = dialog->findChild<QLabel *>("FileNotice");
        if (notice->text().isEmpty())
            QCOMPARE(preview->topLevelItem(0)->text(0), shownFirst);
        QTRY_COMPARE(notice->text(),
                     QString("Die Datei ist nicht in UTF-8 gespeichert; sie wird "
                             "als Windows-1252 gelesen."));
        QCOMPARE(preview->topLevelItem(0)->text(0), shownThen);
        QCOMPARE(mappingBoxes(&*dialog).size(), 2);
        QCOMPARE(mappingBoxes(&*dialog).at(0)->currentData().toString(), QString("Title"));
        run(*dialog);
        QCOMPARE(data.db()->selectOne("SELECT Title FROM articles ORDER BY id DESC").value(),
                 QString("Grüne Tasse für Käse"));
        QCOMPARE(data.db()->selectOne("SELECT Title FROM articles ORDER BY id").value(), shownThen);
    }

    // Only pictures are taken: a name leaving the picture folder (even to a picture), a
    // text file, a JPEG cut off, and downloads of either are not recorded and are counted.
    void onlyPicturesAreTaken()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QByteArray whole = jpeg(64, 48);
        const QByteArray cut = whole.left(whole.size() / 2);
        writeFile(m_files.filePath("ganz.jpg"), whole);
        writeFile(m_files.filePath("halb.jpg"), cut);
        QFile hostname("/etc/hostname");
        writeFile(m_files.filePath("hostname"),
                  hostname.open(QIODevice::ReadOnly) ? hostname.readAll() : "rechner\n");
        writeFile(data.dataDir() + "daneben.jpg", whole);
        TestSupport::FakeHttpServer server;
        server.setReply("/text.jpg", TestSupport::FakeReply::ok("kein Bild", "image/jpeg"));
        server.setReply("/halb.jpg", TestSupport::FakeReply::ok(cut, "image/jpeg"));
        const QStringList cells {
            m_files.filePath("ganz.jpg"),       "../daneben.jpg",
            m_files.filePath("hostname"),       m_files.filePath("halb.jpg"),
            server.url("/text.jpg").toString(), server.url("/halb.jpg").toString()
        };
        QStringList mapping { "Title", "Account" };
        for (int i = 1; i <= cells.size(); ++i)
            mapping << "Zerire3_image_" + QString::number(i);
        DialogAnswers answers;
        auto dialog = prepare(
            answers,
            writeCsv("Title;Account;B1;B2;B3;B4;B5;B6\nLampe;1;" + cells.join(';').toUtf8() + "\n"),
            0, "SKU", 0, mapping);
        run(*dialog);
        const SqlRows images = db->select("SELECT image, sort FROM articles_images").value();
        QCOMPARE(images.size(), 1);
        QCOMPARE(images.first().value("sort").toInt(), 0);
        QVERIFY2(answers.lastMessageText().endsWith("5 Bilder konnten nicht übernommen werden."),
                 qPrintable(answers.lastMessageText()));
        // Nothing but the one picture (and no download that was none) stays in the folder.
        QCOMPARE(QDir(db->getCurrentAdImageDir()).entryList(QDir::Files),
                 QStringList { images.first().value("image").toString() });
    }

    // Pictures in a folder others may write into: a FIFO put in a picture's place, or a link
    // to a file of the seller's, is refused at once (the window never waits on a FIFO). What
    // is checked is the copy the import keeps: the original changed after it was read changes
    // nothing.
    void picturesFromOthersFolders()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QByteArray photo = jpeg(64, 48);
        writeFile(m_files.filePath("foto.jpg"), photo);
        writeFile(m_files.filePath("privat.jpg"), photo);
        const QString fifo = m_files.filePath("fifo.jpg");
        const QString link = m_files.filePath("link.jpg");
        QFile::remove(fifo);
        QFile::remove(link);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(m_files.filePath("privat.jpg"), link));
        QStringList mapping { "Title", "Account" };
        for (int i = 1; i <= 3; ++i)
            mapping << "Zerire3_image_" + QString::number(i);
        DialogAnswers answers;
        auto dialog = prepare(answers,
                              writeCsv("Title;Account;B1;B2;B3\nLampe;1;" + fifo.toUtf8() + ";"
                                       + link.toUtf8() + ";"
                                       + m_files.filePath("foto.jpg").toUtf8() + "\n"),
                              0, "SKU", 0, mapping);
        // The photo is checked (held here) after it was read: a text put in its place then is
        // not what is kept.
        TestSupport::HeldDecodes held;
        bool changed = false;
        QTimer probe;
        probe.setInterval(1);
        connect(&probe, &QTimer::timeout, [&] {
            if (changed || held.waiting() == 0)
                return;
            changed = true;
            writeFile(m_files.filePath("foto.jpg"), "kein Bild mehr");
            held.letGo(100);
        });
        probe.start();
        run(*dialog);
        QVERIFY(changed);
        const SqlRows images = db->select("SELECT image, sort FROM articles_images").value();
        QCOMPARE(images.size(), 1);
        QCOMPARE(images.first().value("sort").toInt(), 2);
        QFile kept(db->getCurrentAdImageDir() + images.first().value("image").toString());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), photo);
        QVERIFY2(answers.lastMessageText().endsWith("2 Bilder konnten nicht übernommen werden."),
                 qPrintable(answers.lastMessageText()));
    }

    // One row naming twelve large photos: they are checked in the decoder processes while the
    // window goes on. A decode held proves that the window serves its events meanwhile; the
    // longest pause of its event loop is measured.
    void twelveLargePhotos()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QByteArray photo = jpeg(4000, 3000);
        QStringList cells;
        QStringList mapping { "Title", "Account" };
        for (int i = 1; i <= 12; ++i) {
            cells << m_files.filePath(QString("gross%1.jpg").arg(i));
            writeFile(cells.last(), photo);
            mapping << "Zerire3_image_" + QString::number(i);
        }
        DialogAnswers answers;
        auto dialog = prepare(
            answers, writeCsv("Title;Account;" + QByteArray("B;").repeated(11) + "B\nLampe;1;"
                              + cells.join(';').toUtf8() + "\n"),
            0, "SKU", 0, mapping);
        TestSupport::HeldDecodes held(-1, 1);
        bool servedWhileHeld = false;
        qint64 longest = 0;
        QElapsedTimer sinceTick;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, [&] {
            longest = qMax(longest, sinceTick.restart());
            if (!servedWhileHeld && held.waiting() > 0) {
                servedWhileHeld = true;
                held.letGo();
            }
        });
        QElapsedTimer total;
        total.start();
        sinceTick.start();
        probe.start();
        run(*dialog);
        probe.stop();
        qInfo("12 photos of 4000 x 3000: %lld ms in all, the window's longest pause %lld ms",
              total.elapsed(), longest);
        QVERIFY(servedWhileHeld);
        QCOMPARE(db->selectCount("SELECT id FROM articles_images").value(), 12);
        QCOMPARE(values(db, 1, "ImageThumb").left(6), QString("thumb_"));
        // Far below the seconds a decode of them on the window thread takes.
        QVERIFY2(longest < 3000, qPrintable(QString::number(longest)));
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
        const auto boxes = mappingBoxes(&second);
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
        QCOMPARE(mappingBoxes(&dialog).size(), titles.size());
    }

    // What a row is checked against could not be read: the dialog says why, offers no OK,
    // imports nothing, and reads again with the next file.
    void unreadableLists_data()
    {
        QTest::addColumn<QString>("unread"); // "accounts" (read when the dialog opens), "columns"
        QTest::addColumn<bool>("serverGone"); // else the database refuses the read
        QTest::addColumn<bool>("readWithFile"); // read again, and read, when the file is opened
        QTest::newRow("accounts refused") << "accounts" << false << false;
        QTest::newRow("accounts refused, read with the file") << "accounts" << false << true;
        QTest::newRow("article columns refused") << "columns" << false << false;
        QTest::newRow("accounts, server gone") << "accounts" << true << false;
    }
    void unreadableLists()
    {
        QFETCH(QString, unread);
        QFETCH(bool, serverGone);
        QFETCH(bool, readWithFile);
        APP_TEST_READ_OUTAGE(failing, serverGone);
        QVERIFY(failing.db()->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } },
                                             "accounts")
                > 0);
        TestSupport::MessageCapture log({ QStringLiteral("app.db") });
        Settings::app()->clear();
        const QByteArray accounts = "FROM accounts ORDER BY accountname";
        const QByteArray columns = "SHOW COLUMNS FROM articles";
        if (unread == "accounts")
            QVERIFY(failing.strike(accounts, "accounts"));
        DialogAnswers answers;
        CsvImport dialog(kTarget);
        const auto *notice = dialog.findChild<QLabel *>("FileNotice");
        const QString why = unread == "accounts"
            ? "Die Konten konnten nicht aus der Datenbank gelesen werden, es kann nichts "
              "importiert werden: "
            : "Die Spalten der Artikel konnten nicht aus der Datenbank gelesen werden, es kann "
              "nichts importiert werden: ";
        if (unread == "accounts") {
            QVERIFY2(notice->text().startsWith(why), qPrintable(notice->text()));
            QVERIFY(!notice->isHidden());
        }
        if (unread == "columns")
            QVERIFY(failing.strike(columns, "articles"));
        else if (!readWithFile && !serverGone)
            QVERIFY(failing.strike(accounts, "accounts"));
        answers.pushQuestion(false); // no automatic assignment
        dialog.onOpenFile(writeCsv("Title;Account\nLampe;1\n"));
        QVERIFY(failing.mend());

        auto *ok = dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok);
        QCOMPARE(ok->isEnabled(), readWithFile);
        QCOMPARE(notice->text().startsWith(why), !readWithFile);
        if (!readWithFile) {
            QVERIFY(!notice->isHidden());
            const QString reason = notice->text().mid(why.size());
            QVERIFY2(serverGone ? !reason.isEmpty() : failing.tellsRefusal(reason),
                     qPrintable(notice->text()));
        }
        const auto boxes = mappingBoxes(&dialog);
        QCOMPARE(boxes.size(), 2);
        auto *accountBox = dialog.findChild<QComboBox *>("AccountImport");
        QCOMPARE(accountBox->count(), unread == "accounts" && !readWithFile ? 1 : 2);
        choose(boxes.at(0), "Title");
        accountBox->setCurrentIndex(accountBox->count() - 1);
        // Without OK there is no run: a click on it starts nothing.
        QSignalSpy ended(&dialog, &CsvImport::runEnded);
        ok->click();
        if (readWithFile)
            QTRY_VERIFY_WITH_TIMEOUT(ended.count() > 0, 120000);
        QCoreApplication::processEvents();
        QCOMPARE(ended.count(), readWithFile ? 1 : 0);
        QCOMPARE(titles(failing.db()), readWithFile ? QString("Lampe") : QString());
        // Never the notice of a file that names no account.
        for (const auto &message : answers.messages())
            QVERIFY2(!message.text.contains("Es wurde kein Konto zugewiesen"),
                     qPrintable(message.text));
        QCOMPARE(log.count("A failed read was taken"), 0);
    }

    // The look-up of an update's key that fails is no article that is missing: that row
    // writes nothing (never a second article), the seller is asked with the reason, and the
    // rows after it are taken.
    void failedKeyLookUp()
    {
        APP_TEST_READ_OUTAGE(failing, false);
        Database *db = failing.db();
        for (const char *sku : { "L1", "L2", "L3" })
            QVERIFY(TestSupport::insertArticle(db, { { "SKU", sku }, { "Title", "Alt" } }) > 0);
        TestSupport::MessageCapture log({ QStringLiteral("app.db") });
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("SKU;Title\nL1;Neu\nL2;Neu\nL3;Neu\n"),
                              CsvImport::UpdateOrInsert, "SKU", 1, { "SKU", "Title" });
        // The first key looked up.
        QVERIFY(failing.strike("WHERE `SKU` = ?", "articles"));
        answers.pushQuestion(false); // go on after the row that failed
        run(*dialog);
        QVERIFY(failing.mend());

        QCOMPARE(titles(db), QString("Alt,Neu,Neu"));
        const QStringList errors = importErrors(answers);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains("Zeile 2 (") && failing.tellsRefusal(errors.first()),
                 qPrintable(errors.first()));
        QCOMPARE(log.count("A failed read was taken"), 0);
    }

    // A row's pictures are recorded together with it: when their rows are refused, the row
    // is stored without them (none half), the other rows of its batch keep theirs, and the
    // summary names the pictures not taken.
    void pictureRowsRefusedInABatch()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QString pictureDir = db->getCurrentAdImageDir();
        QImage image(30, 20, QImage::Format_RGB32);
        image.fill(Qt::blue);
        for (const char *name : { "a.png", "b.png", "c.png" })
            QVERIFY(image.save(pictureDir + name));
        QVERIFY(TestSupport::refuseRows(db, "articles_images", "INSERT", "voll",
                                        "NEW.image = 'b.png'"));
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
        DialogAnswers answers;
        auto dialog
            = prepare(answers,
                      writeCsv("Title;Account;B1\nErster;1;a.png\nZweiter;1;b.png\n"
                               "Dritter;1;c.png\n"),
                      CsvImport::InsertAll, "SKU", 0, { "Title", "Account", "Zerire3_image_1" });
        run(*dialog);

        QCOMPARE(titles(db), QString("Erster,Zweiter,Dritter"));
        QStringList recorded;
        for (const auto &row :
             db->select("SELECT a.Title, i.image, a.ImageThumb <> '' AS thumb FROM articles a "
                        "LEFT JOIN articles_images i ON i.article_id = a.id ORDER BY a.id")
                 .value())
            recorded << row.value("Title").toString() + ':' + row.value("image").toString() + ':'
                    + row.value("thumb").toString();
        QCOMPARE(recorded, QStringList({ "Erster:a.png:1", "Zweiter::0", "Dritter:c.png:1" }));
        const QString summary = answers.lastMessageText();
        QVERIFY2(summary.startsWith("Es wurden 3 Artikel angelegt"), qPrintable(summary));
        QVERIFY2(summary.contains("Zeile 3: „b.png“"), qPrintable(summary));
        QVERIFY2(summary.endsWith("1 Bild konnte nicht übernommen werden."), qPrintable(summary));
        QVERIFY(importErrors(answers).isEmpty());
    }

    // Pictures that can't be recorded (a trigger refuses their rows): the article keeps the
    // pictures it had, and the summary counts and names those not taken.
    void refusedPictureRowsKeepTheOldOnes()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QString pictureDir = db->getCurrentAdImageDir();
        QImage image(30, 20, QImage::Format_RGB32);
        image.fill(Qt::green);
        QVERIFY(image.save(pictureDir + "neu.png"));
        const int article = TestSupport::insertArticle(db, { { "SKU", "L1" } });
        QVERIFY(db->insertSqlClean({ { "article_id", article }, { "image", "alt.png" } },
                                   "articles_images")
                > 0);
        QVERIFY(TestSupport::refuseRows(db, "articles_images", "INSERT", "voll"));
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("SKU;Title;B1\nL1;Neu;neu.png\n"), 1, "SKU", 0,
                              { "SKU", "Title", "Zerire3_image_1" });
        run(*dialog);

        QCOMPARE(values(db, article, "Title"), QString("Neu"));
        QCOMPARE(db->selectOne("SELECT image FROM articles_images WHERE article_id="
                               + QString::number(article))
                     .value(),
                 QString("alt.png"));
        const QString summary = answers.lastMessageText();
        QVERIFY2(summary.contains("Zeile 2: „neu.png“"), qPrintable(summary));
        QVERIFY2(summary.endsWith("1 Bild konnte nicht übernommen werden."), qPrintable(summary));
    }

    // The commit of a row's pictures ran and its answer was lost; the pictures written again
    // are refused (the connection comes back to a server that takes no more picture rows).
    // The look-up decides: what the table holds for the article counts as taken, and only
    // that.
    void pictureCommitAnswerLost_data()
    {
        QTest::addColumn<bool>("removedMeanwhile"); // by another workstation, before the look-up
        QTest::addColumn<int>("stored"); // picture rows of the article afterwards
        QTest::addColumn<QString>("closing"); // the summary's end
        QTest::newRow("stored: counted as taken")
            << false << 1 << "Es wurde 1 Artikel angelegt und es wurden 0 Artikel aktualisiert.";
        QTest::newRow("stored, then removed elsewhere: not taken")
            << true << 0 << "1 Bild konnte nicht übernommen werden.";
    }
    void pictureCommitAnswerLost()
    {
        QFETCH(bool, removedMeanwhile);
        QFETCH(int, stored);
        QFETCH(QString, closing);
        APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "The local file answers every statement");
        const QString pictureDir = data.db()->getCurrentAdImageDir();
        writeFile(pictureDir + "lampe.jpg", jpeg(64, 48));
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("Title;Account;B1\nLampe;1;lampe.jpg\n"), 0, "SKU",
                              0, { "Title", "Account", "Zerire3_image_1" });
        const QString database = data.mysqlDatabaseName();
        // While the answer is held: the server refuses further picture rows (and another
        // workstation removes the stored ones).
        std::atomic<bool> arranged { false };
        proxy.cutAfter("COMMIT", 1, [database, removedMeanwhile, &arranged](quint32) {
            {
                QSqlDatabase admin = TestSupport::adminConnection(
                    TestSupport::MySqlServer::fromEnvironment(), "csv_pictures", database);
                QSqlQuery query(admin);
                arranged = query.exec("CREATE TRIGGER full_pictures BEFORE INSERT ON "
                                      "articles_images FOR EACH ROW SIGNAL SQLSTATE '45000' SET "
                                      "MESSAGE_TEXT = 'voll'")
                    && (!removedMeanwhile || query.exec("DELETE FROM articles_images"));
            }
            QSqlDatabase::removeDatabase("csv_pictures");
        });
        run(*dialog);
        QCOMPARE(proxy.cuts(), 1);
        QVERIFY(arranged);
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles_images").value(), stored);
        QVERIFY2(answers.lastMessageText().endsWith(closing),
                 qPrintable(answers.lastMessageText()));
        QCOMPARE(answers.lastMessageText().contains("Zeile 2: „lampe.jpg“"), stored == 0);
    }

    // A row whose answer the connection lost after the server stored it (a proxy cuts the
    // connection, or the server kills it in that moment): the run finds it by its mark
    // instead of writing it again, goes on, and counts what the table holds.
    void lostAnswer_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::addColumn<bool>("slow"); // the insert still runs on the server (a slow trigger)
        QTest::newRow("connection cut after the row's insert") << false << false;
        QTest::newRow("connection killed after the row's insert") << true << false;
        QTest::newRow("connection cut while the row's insert still runs") << false << true;
    }
    void lostAnswer()
    {
        QFETCH(bool, killed);
        QFETCH(bool, slow);
        APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "The local file answers every statement");
        // The server's own KILL, from a connection of the proxy's thread.
        const auto kill = [](quint32 id) {
            {
                QSqlDatabase killer = TestSupport::adminConnection(
                    TestSupport::MySqlServer::fromEnvironment(), "csv_killer");
                if (killer.isOpen())
                    QSqlQuery(killer).exec("KILL CONNECTION " + QString::number(id));
            }
            QSqlDatabase::removeDatabase("csv_killer");
        };
        constexpr int kRows = 120;
        QByteArray csv = "Title;Account\n";
        for (int i = 1; i <= kRows; ++i)
            csv += "T" + QByteArray::number(i) + ";1\n";
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Account" });
        QSignalSpy counts(dialog.get(), &CsvImport::changeFolderCount);
        proxy.cutAfter("INSERT INTO articles", 40,
                       killed ? std::function<void(quint32)>(kill)
                              : std::function<void(quint32)>());
        if (slow) {
            QVERIFY(QSqlQuery(data.rawConnection("csv_slow"))
                        .exec("CREATE TRIGGER slow_row BEFORE INSERT ON articles FOR EACH ROW "
                              "SET @slept = SLEEP(IF(NEW.Title = 'T40', 4, 0))"));
            proxy.cutWhenSent("INSERT INTO articles", 40); // in place of the cut above
        }
        run(*dialog);

        QCOMPARE(proxy.cuts(), 1);
        QCOMPARE(importErrors(answers), QStringList());
        Database *db = data.db();
        // Nothing of the cut connection runs on the server any more.
        QTRY_COMPARE_WITH_TIMEOUT(
            db->selectCount("SELECT ID FROM information_schema.PROCESSLIST WHERE INFO LIKE "
                            "'INSERT INTO articles%' AND DB='"
                            + data.mysqlDatabaseName() + "'")
                .value(),
            0, 10000);
        QCOMPARE(db->selectCount("SELECT id FROM articles").value(), kRows);
        QCOMPARE(db->selectCount("SELECT DISTINCT Title FROM articles").value(), kRows);
        QCOMPARE(counts.value(0), (QVariantList { kTarget, kRows, false }));
        QVERIFY2(answers.lastMessageText().startsWith(
                     QString("Es wurden %1 Artikel angelegt").arg(kRows)),
                 qPrintable(answers.lastMessageText()));
        // The run's marks are gone with it.
        QCOMPARE(db->selectCount("SELECT id FROM articles WHERE RefreshHash <> ''").value(), 0);
    }

    // An attempt that stored nothing (every row refused, or cancelled before the first one)
    // keeps the settings saved by the import that worked; one that stored rows saves its own.
    void failedAttemptKeepsSavedSettings_data()
    {
        QTest::addColumn<QByteArray>("second"); // the file given to the second attempt
        QTest::addColumn<bool>("saved"); // the second attempt's mapping was saved
        QTest::newRow("every row refused") << QByteArray("Titel;Nummer\nX;7\n") << false;
        QTest::newRow("a row stored") << QByteArray("Titel;Nummer\nX;1\n") << true;
    }
    void failedAttemptKeepsSavedSettings()
    {
        QFETCH(QByteArray, second);
        QFETCH(bool, saved);
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        const QString csv = writeCsv("Titel;Nummer\nX;1\n");
        auto first = prepare(answers, csv, 0, "SKU", 0, { "Title", "Account" });
        run(*first);
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 1);
        first.reset();

        // The second attempt maps the number as the account, and the title as the SKU.
        writeCsv(second);
        CsvImport dialog(kTarget);
        answers.pushQuestion(false); // not the stored settings
        answers.pushQuestion(false); // no automatic assignment
        dialog.onOpenFile(csv);
        const auto boxes = mappingBoxes(&dialog);
        choose(boxes.at(0), "SKU");
        choose(boxes.at(1), "Account");
        run(dialog);

        CsvImport third(kTarget);
        answers.pushQuestion(true); // the stored settings
        third.onOpenFile(csv);
        const auto stored = mappingBoxes(&third);
        QCOMPARE(stored.at(0)->currentData().toString(), QString(saved ? "SKU" : "Title"));
        QCOMPARE(stored.at(1)->currentData().toString(), QString("Account"));
    }

    // With no account in the store and none mapped, the refusal names both ways to accounts.
    void noAccountPointsToBothWays()
    {
        APP_TEST_DATABASE(data);
        m_noAccounts = true;
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("Title\nLampe\n"), 0, "SKU", 0, { "Title" });
        m_noAccounts = false;
        run(*dialog);
        QCOMPARE(answers.lastMessageText(),
                 QString("Es wurde kein Konto zugewiesen, außerdem ist auch kein Feld als Konto "
                         "gemappt. Vorlagen müssen ein Konto beinhalten\nEs ist noch kein Konto "
                         "angelegt: bitte zuerst in den Einstellungen (Extras, Einstellungen) ein "
                         "Konto anlegen oder die Konten mit „Rovive 2 Daten importieren...“ (Menü "
                         "Datei) aus Rovive 2 übernehmen, und die Datei dann erneut importieren."));
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 0);
    }

    // The store's accounts can't be read for a file that names accounts: nothing is
    // imported, the reason is told, and the dialog stays ready for another OK.
    void accountsUnreadImportNothing()
    {
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("Title;Account\nLampe;1\n"), 0, "SKU", 0,
                              { "Title", "Account" });
        QVERIFY(data.db()->executeSQL("ALTER TABLE accounts RENAME TO accounts_away"));
        run(*dialog);
        QVERIFY(data.db()->executeSQL("ALTER TABLE accounts_away RENAME TO accounts"));
        QVERIFY2(answers.lastMessageText().startsWith(
                     "Die Konten konnten nicht gelesen werden, es wurde nichts importiert: "),
                 qPrintable(answers.lastMessageText()));
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 0);
        QVERIFY(dialog->findChild<QDialogButtonBox *>("buttonBox")
                    ->button(QDialogButtonBox::Ok)
                    ->isEnabled());
        run(*dialog);
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 1);
    }

    // Abbrechen keeps the rows written before it and says so: the row it stopped at (by its
    // text line too where a value over two lines made them differ), what was stored, and how
    // many rows were not imported.
    void cancelSaysWhatWasKept_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("heldLine"); // Abbrechen while this text line is in hand
        QTest::addColumn<int>("written");
        QTest::addColumn<QStringList>("message");
        QByteArray plain = "Title;Description;Account\n";
        for (int i = 2; i <= 11; ++i)
            plain += "T" + QByteArray::number(i) + ";;1\n";
        QTest::newRow("in the middle")
            << plain << 6 << 5
            << QStringList { "Der Import wurde in Zeile 7 abgebrochen; was bis "
                             "dahin importiert wurde, bleibt gespeichert.",
                             "Es wurden 5 Artikel angelegt und 0 Artikel "
                             "aktualisiert.",
                             "5 Zeilen ab Zeile 7 wurden nicht importiert." };
        QTest::newRow("before the last row")
            << plain << 10 << 9
            << QStringList { "Der Import wurde in Zeile 11 abgebrochen; was bis dahin importiert "
                             "wurde, bleibt gespeichert.",
                             "Es wurden 9 Artikel angelegt und 0 Artikel aktualisiert.",
                             "1 Zeile (Zeile 11) wurde nicht importiert." };
        QByteArray twoLines = "Title;Description;Account\nT2;;1\nT3;\"zwei\nZeilen\";1\n";
        for (int i = 4; i <= 11; ++i)
            twoLines += "T" + QByteArray::number(i) + ";;1\n";
        QTest::newRow("after a value over two lines")
            << twoLines << 7 << 5
            << QStringList { "Der Import wurde in Zeile 7 (Textzeile 8) abgebrochen; was bis "
                             "dahin importiert wurde, bleibt gespeichert.",
                             "Es wurden 5 Artikel angelegt und 0 Artikel aktualisiert.",
                             "5 Zeilen ab Zeile 7 (Textzeile 8) wurden nicht importiert." };
    }
    void cancelSaysWhatWasKept()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, heldLine);
        QFETCH(int, written);
        QFETCH(QStringList, message);
        APP_TEST_DATABASE(data);
        DialogAnswers answers;
        auto dialog
            = prepare(answers, writeCsv(csv), 0, "SKU", 0, { "Title", "Description", "Account" });
        CsvImport *window = dialog.get();
        QSemaphore go;
        CsvImport::setRowHookForTesting([&](int line) {
            if (line != heldLine)
                return;
            QMetaObject::invokeMethod(
                window,
                [&] {
                    window->findChild<QDialogButtonBox *>("buttonBox")
                        ->button(QDialogButtonBox::Cancel)
                        ->click();
                    go.release();
                },
                Qt::QueuedConnection);
            go.tryAcquire(1, 20000);
        });
        run(*dialog);
        CsvImport::setRowHookForTesting({});
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), written);
        QCOMPARE(answers.lastMessageText().split('\n'), message);
    }

    // A refused commit of the rows written so far: at the run's end the seller is asked (the
    // question names the batch's first row), the summary counts nothing of it and the picture
    // files made for its rows go again; before a row with pictures, that row is taken after
    // "Nein" with its pictures, never skipped.
    void refusedCommit_data()
    {
        QTest::addColumn<QString>("picture"); // "", "web" or "file"
        QTest::addColumn<int>("pictureLine"); // the text line whose row names it
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("summary");
        QTest::newRow("the last batch")
            << "" << 3 << ""
            << "Es wurden 0 Artikel angelegt und 0 Artikel aktualisiert.";
        QTest::newRow("the last batch, holding a row with a picture")
            << "file" << 2 << ""
            << "Es wurden 0 Artikel angelegt und 0 Artikel aktualisiert.";
        QTest::newRow("before a row with a web picture, Nein")
            << "web" << 3 << "T3"
            << "Es wurde 1 Artikel angelegt und es wurden 0 Artikel aktualisiert.";
        QTest::newRow("before a row with a picture file, Nein")
            << "file" << 3 << "T3"
            << "Es wurde 1 Artikel angelegt und es wurden 0 Artikel aktualisiert.";
    }
    void refusedCommit()
    {
        QFETCH(QString, picture);
        QFETCH(int, pictureLine);
        QFETCH(QString, stored);
        QFETCH(QString, summary);
        QFETCH_GLOBAL(TestSupport::Backend, backend);
        if (backend == TestSupport::Backend::MySQL)
            QSKIP("On a server each row is stored on its own, with no batch to commit");
        TestSupport::SqliteCommitRefusal refusal;
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        TestSupport::FakeHttpServer server;
        server.setReply("/bild.jpg", TestSupport::FakeReply::ok(jpeg(40, 30), "image/jpeg"));
        writeFile(m_files.filePath("bild.jpg"), jpeg(40, 30));
        const QByteArray cell = picture == "web" ? server.url("/bild.jpg").toString().toUtf8()
            : picture == "file"                  ? m_files.filePath("bild.jpg").toUtf8()
                                                 : QByteArray();
        DialogAnswers answers;
        auto dialog = prepare(answers,
                              writeCsv("Title;Account;B1\nT2;1;" + (pictureLine == 2 ? cell : "")
                                       + "\nT3;1;" + (pictureLine == 3 ? cell : "") + "\n"),
                              0, "SKU", 0, { "Title", "Account", "Zerire3_image_1" });
        // The batch holding T2 is the next one committed (once: the row may be read again
        // after "Nein").
        bool armed = false;
        CsvImport::setRowHookForTesting([&](int line) {
            if (line == 2 && !armed) {
                armed = true;
                refusal.refuseNextOnThisThread();
            }
        });
        answers.pushQuestion(false);
        run(*dialog);
        CsvImport::setRowHookForTesting({});

        QCOMPARE(refusal.refusals(), 1);
        const QStringList errors = importErrors(answers);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains("aktuell in der Zeile 2 ("), qPrintable(errors.first()));
        QCOMPARE(titles(db), stored);
        const int images = picture.isEmpty() || stored.isEmpty() ? 0 : 1;
        QCOMPARE(db->selectCount("SELECT id FROM articles_images").value(), images);
        QCOMPARE(answers.lastMessageText(), summary);
        // No picture file but the one a row names (a download's own copy aside).
        QStringList files = QDir(db->getCurrentAdImageDir()).entryList(QDir::Files | QDir::Hidden);
        files.removeAll(Statics::hashString(server.url("/bild.jpg").toString()) + ".jpg");
        QCOMPARE(files.size(), images);
        QCOMPARE(
            QDir(db->getCurrentAdImageDirThumbs()).entryList(QDir::Files | QDir::Hidden).size(),
            images);
    }

    // An update whose pictures are none of them taken (a missing file, a failed download, a
    // file that is no picture) leaves the article's pictures as they were: rows, thumbnail
    // and files; it is told which were not taken. One taken of two replaces them, with its
    // thumbnail.
    void updateKeepsPicturesWhenNoneIsTaken_data()
    {
        QTest::addColumn<QStringList>("cells"); // "web:" a path of the fake server
        QTest::addColumn<bool>("replaced");
        QTest::newRow("a file that is missing") << QStringList { "fehlt.png" } << false;
        QTest::newRow("a failed download") << QStringList { "web:/weg.jpg" } << false;
        QTest::newRow("a file that is no picture") << QStringList { "text.jpg" } << false;
        QTest::newRow("one of two taken") << QStringList { "text.jpg", "neu.jpg" } << true;
    }
    void updateKeepsPicturesWhenNoneIsTaken()
    {
        QFETCH(QStringList, cells);
        QFETCH(bool, replaced);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QString pictureDir = db->getCurrentAdImageDir();
        const QString thumbDir = db->getCurrentAdImageDirThumbs();
        writeFile(pictureDir + "alt.jpg", jpeg(40, 30));
        writeFile(thumbDir + "thumb_alt.jpg", jpeg(15, 10));
        writeFile(m_files.filePath("text.jpg"), "kein Bild\n");
        writeFile(m_files.filePath("neu.jpg"), jpeg(64, 48));
        const int article = TestSupport::insertArticle(
            db, { { "SKU", "L1" }, { "ImageThumb", "thumb_alt.jpg" } });
        QVERIFY(db->insertSqlClean(
                    { { "article_id", article }, { "image", "alt.jpg" }, { "sort", "0" } },
                    "articles_images")
                > 0);
        TestSupport::FakeHttpServer server;
        QStringList entries;
        for (const QString &cell : cells)
            entries << (cell.startsWith("web:")   ? server.url(cell.mid(4)).toString()
                            : cell == "fehlt.png" ? cell
                                                  : m_files.filePath(cell));
        QStringList mapping { "SKU", "Title" };
        for (int i = 1; i <= entries.size(); ++i)
            mapping << "Zerire3_image_" + QString::number(i);
        DialogAnswers answers;
        auto dialog = prepare(answers,
                              writeCsv("SKU;Title;B1;B2\nL1;Neu;" + entries.join(';').toUtf8()
                                       + (entries.size() == 1 ? ";\n" : "\n")),
                              CsvImport::UpdateOnly, "SKU", 0, mapping);
        run(*dialog);

        QCOMPARE(values(db, article, "Title"), QString("Neu"));
        const SqlRows images = db->select("SELECT image, sort FROM articles_images WHERE "
                                          "article_id = "
                                          + QString::number(article))
                                   .value();
        QCOMPARE(images.size(), 1);
        const QString image = images.first().value("image").toString();
        const QString thumb = values(db, article, "ImageThumb");
        if (replaced) {
            QVERIFY2(image.endsWith(QString("_%1_1.jpg").arg(article)), qPrintable(image));
            QCOMPARE(thumb, "thumb_" + image);
        } else {
            QCOMPARE(image, QString("alt.jpg"));
            QCOMPARE(thumb, QString("thumb_alt.jpg"));
        }
        // The files the rows name, and no other of this import's.
        QStringList files = QDir(pictureDir).entryList(QDir::Files | QDir::Hidden);
        QStringList named { "alt.jpg" };
        if (replaced)
            named << image;
        files.sort();
        named.sort();
        QCOMPARE(files, named);
        QVERIFY(QFileInfo::exists(thumbDir + thumb));
        QCOMPARE(QDir(thumbDir).entryList(QDir::Files | QDir::Hidden).size(), replaced ? 2 : 1);
        const QString closing = answers.lastMessageText();
        QVERIFY2(closing.contains("Zeile 2: „" + entries.first() + "“"), qPrintable(closing));
        QVERIFY2(closing.endsWith("1 Bild konnte nicht übernommen werden."), qPrintable(closing));
    }

    // While a row's picture waits for the decoder, the import holds no write lock: the
    // window's own connection saves meanwhile, within its wait, and the save is stored.
    void windowSavesWhilePictureIsChecked()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        writeFile(m_files.filePath("langsam.jpg"), jpeg(64, 48));
        DialogAnswers answers;
        auto dialog
            = prepare(answers,
                      writeCsv("Title;Account;B1\nErster;1;\nZweiter;1;"
                               + m_files.filePath("langsam.jpg").toUtf8() + "\nDritter;1;\n"),
                      0, "SKU", 0, { "Title", "Account", "Zerire3_image_1" });
        QSignalSpy ended(dialog.get(), &CsvImport::runEnded);
        TestSupport::HeldDecodes held;
        dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY_WITH_TIMEOUT(held.waiting() > 0, 60000);
        db->setLockTimeout(2000); // as long as the window's connection waits for a lock
        const bool saved = db->executeSQL("INSERT INTO folders (foldername, folderparentid) "
                                          "VALUES ('Während des Prüfens', -10)");
        const QString error = db->lastErrorText;
        held.letGo(100);
        QTRY_VERIFY_WITH_TIMEOUT(ended.count() > 0, 120000);
        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(db->selectCount("SELECT id FROM folders WHERE foldername = "
                                 "'Während des Prüfens'")
                     .value(),
                 1);
        QCOMPARE(titles(db), QString("Erster,Zweiter,Dritter"));
        QCOMPARE(db->selectCount("SELECT id FROM articles_images WHERE article_id = 2").value(), 1);
    }

    // The background worker opened its connection anew while the seller was asked about a
    // refused row (the data folder was opened again): after "Nein" the run stops with a
    // word, and no row goes through a connection that is no longer the run's.
    void connectionOpenedAnewStopsTheRun()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        QVERIFY(
            TestSupport::refuseRows(db, "articles", "INSERT", "abgelehnt", "NEW.Title = 'STOP'"));
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv("Title;Account\nT2;1\nT3;1\nSTOP;1\nT5;1\nT6;1\n"),
                              0, "SKU", 0, { "Title", "Account" });
        const QString dataDir = data.dataDir();
        std::unique_ptr<Database> again;
        CsvImport::setRowHookForTesting([&](int line) {
            if (line != 3)
                return;
            // As the settings do when they open the data folder again.
            QMetaObject::invokeMethod(
                dialog.get(), [&] { again = std::make_unique<Database>(dataDir); },
                Qt::BlockingQueuedConnection);
        });
        answers.pushQuestion(false); // go on after the refused row
        run(*dialog);
        CsvImport::setRowHookForTesting({});

        QCOMPARE(importErrors(answers).size(), 1);
        QCOMPARE(answers.lastMessageText(),
                 QString("Die Verbindung zur Datenbank wurde neu geöffnet; der Import wurde "
                         "angehalten."));
        QCOMPARE(titles(db), QString("T2,T3"));
    }

    // An update reaching two articles gets a copy of the row's pictures for each; when the
    // commit of the rows before it is refused, "Nein" goes on with that row, never past it.
    void refusedCommitBeforeAnUpdateOfTwo()
    {
        QFETCH_GLOBAL(TestSupport::Backend, backend);
        if (backend == TestSupport::Backend::MySQL)
            QSKIP("On a server each row is stored on its own, with no batch to commit");
        TestSupport::SqliteCommitRefusal refusal;
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const int first = TestSupport::insertArticle(db, { { "SKU", "L1" }, { "Title", "Alt" } });
        const int second = TestSupport::insertArticle(db, { { "SKU", "L1" }, { "Title", "Alt" } });
        writeFile(m_files.filePath("bild.jpg"), jpeg(40, 30));
        const QByteArray picture = m_files.filePath("bild.jpg").toUtf8();
        DialogAnswers answers;
        auto dialog = prepare(
            answers,
            writeCsv("SKU;Title;B1\nN2;Neu;" + picture + "\nL1;Geändert;" + picture + "\n"),
            CsvImport::UpdateOrInsert, "SKU", 1, { "SKU", "Title", "Zerire3_image_1" });
        // The batch holding the new article is committed before the update's pictures are
        // copied for each of its articles.
        bool armed = false;
        CsvImport::setRowHookForTesting([&](int line) {
            if (line == 3 && !armed) {
                armed = true;
                refusal.refuseNextOnThisThread();
            }
        });
        answers.pushQuestion(false);
        run(*dialog);
        CsvImport::setRowHookForTesting({});

        QCOMPARE(refusal.refusals(), 1);
        QCOMPARE(importErrors(answers).size(), 1);
        QVERIFY2(importErrors(answers).first().contains("aktuell in der Zeile 2 ("),
                 qPrintable(importErrors(answers).first()));
        QCOMPARE(titles(db), QString("Geändert,Geändert"));
        QStringList images;
        for (int id : { first, second }) {
            const SqlRows rows = db->select("SELECT image FROM articles_images WHERE article_id="
                                            + QString::number(id))
                                     .value();
            QCOMPARE(rows.size(), 1);
            images << rows.first().value("image").toString();
            QVERIFY(QFileInfo::exists(db->getCurrentAdImageDir() + images.last()));
            QCOMPARE(values(db, id, "ImageThumb"), "thumb_" + images.last());
        }
        QVERIFY2(images.first() != images.last(), qPrintable(images.join(',')));
        QCOMPARE(QDir(db->getCurrentAdImageDir()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // Rows of two pictures each: the pictures of the rows ahead are checked together, so
    // that every decoder has a picture, not only as many as one row names.
    void decodersBusyAcrossRows()
    {
        APP_TEST_DATABASE(data);
        QByteArray csv = "Title;B1;B2;Account\n";
        for (int row = 0; row < 4; ++row) {
            csv += "T" + QByteArray::number(row);
            for (int p = 0; p < 2; ++p) {
                const QString file = m_files.filePath(QString("r%1_%2.jpg").arg(row).arg(p));
                writeFile(file, jpeg(40 + row, 30 + p));
                csv += ";" + file.toUtf8();
            }
            csv += ";1\n";
        }
        const QStringList mapping { "Title", "Zerire3_image_1", "Zerire3_image_2", "Account" };
        DialogAnswers answers;
        auto dialog = prepare(answers, writeCsv(csv), 0, "SKU", 0, mapping);
        QSignalSpy ended(dialog.get(), &CsvImport::runEnded);
        const int decoders = ImageLimits::decoderCount();
        TestSupport::HeldDecodes held;
        dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        // Held at their start: as many at once as there are decoders, more than one row has
        // (the window goes on meanwhile: it starts the rows after the file's first pass).
        QElapsedTimer waited;
        waited.start();
        while (held.holding() < decoders && waited.elapsed() < 20000)
            QTest::qWait(5);
        const bool allBusy = held.holding() >= decoders;
        held.letGo(100);
        QTRY_VERIFY_WITH_TIMEOUT(ended.count() > 0, 120000);
        QVERIFY2(allBusy, qPrintable(QString("fewer than %1 decodes at once").arg(decoders)));
        QCOMPARE(titles(data.db()), QString("T0,T1,T2,T3"));
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles_images").value(), 8);
    }
};

APP_TEST_MAIN(TestCsvImport)
#include "test_csvimport.moc"
