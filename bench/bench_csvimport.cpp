// Measures the CSV import: 50,000 rows of realistic width imported as new articles into
// SQLite through the import dialog's run, against the sqlite3 shell's ".import" of the same
// file into the program's `articles` table (a copy of the database before the run), and
// into a plain table of the file's columns. Prints rows per second, the time of the CSV
// reader alone and the peak memory.
// Then the dialog's preview on a file of 100 MB (800,000 lines): how long a change of the
// separator, a keystroke in the text delimiter and the header box keep the window busy,
// against reading the whole file once, as each change did before (goal: within 50 ms).
// Usage: bench_csvimport [sqlite3 binary] [rows] [runs] [preview megabytes]
// Or: bench_csvimport --firstpass [megabytes]: the longest pause of the window's event loop
// while an import reads a file of that size (200 MB) before its first row.
// Or: bench_csvimport --shapes [megabytes of the endless line]: files of hostile shapes (a
// header of many columns, one endless line): how long opening the file keeps the window
// busy, how high the resident memory rises, and how long closing the dialog waits.
#include "core/database.h"
#include "import/csvimport.h"
#include "import/reader.h"
#include "import/rowfunction.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/peakmemory.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {

const QStringList kColumns = { "Title",       "SubTitle",          "Description",
                               "SKU",         "StartPrice",        "Quantity",
                               "ListingType", "ListingDuration",   "Currency",
                               "Country",     "Location",          "PostalCode",
                               "Account",     "ShippingService_1", "ShippingService_1_Cost",
                               "ConditionID" };

QStringList article(int i)
{
    return { QStringLiteral("Armbanduhr Modell %1, Edelstahl, neu & OVP \"Sport\"").arg(i),
             QStringLiteral("Versand am selben Tag; mit Rechnung"),
             QStringLiteral("<p>Beschreibung %1:</p>\n<ul><li>").arg(i) + QString(1500, 'x')
                 + QStringLiteral("</li></ul>"),
             QStringLiteral("SKU-%1").arg(i),
             QStringLiteral("%1,99").arg(9 + i % 100),
             QString::number(1 + i % 5),
             QStringLiteral("FixedPriceItem"),
             QStringLiteral("GTC"),
             QStringLiteral("EUR"),
             QStringLiteral("DE"),
             QStringLiteral("Berlin"),
             QStringLiteral("10115"),
             QStringLiteral("1"),
             QStringLiteral("DE_DHLPaket"),
             QStringLiteral("4.99"),
             QStringLiteral("1000") };
}

QString quoted(QString value)
{
    return QLatin1Char('"') + value.replace(QLatin1String("\""), QLatin1String("\"\""))
        + QLatin1Char('"');
}

bool writeCsv(const QString &path, int rows)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << kColumns.join(QLatin1Char(';')) << '\n';
    for (int i = 0; i < rows; ++i) {
        QStringList fields;
        for (const QString &value : article(i))
            fields << quoted(value);
        out << fields.join(QLatin1Char(';')) << '\n';
    }
    return true;
}

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// OK, and the wait until the run has ended: its passes run on the background worker.
void runToEnd(CsvImport &dialog)
{
    QEventLoop loop;
    QObject::connect(&dialog, &CsvImport::runEnded, &loop, &QEventLoop::quit);
    dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
        ->button(QDialogButtonBox::Ok)
        ->click();
    loop.exec();
}

double importRun(const QString &csv, int rows)
{
    DialogAnswers answers;
    CsvImport dialog(-10);
    answers.pushQuestion(true); // assign the same-named columns
    dialog.onOpenFile(csv);
    QElapsedTimer timer;
    timer.start();
    runToEnd(dialog);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!answers.lastMessageText().contains(QString::number(rows))) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(answers.lastMessageText()));
        return -1;
    }
    return seconds;
}

// The reader alone: the file split into rows that are then dropped.
double readOnly(const QString &csv, int *rows)
{
    *rows = 0;
    RowFunction count([rows](const QStringList &, int) {
        ++*rows;
        return true;
    });
    QElapsedTimer timer;
    timer.start();
    QtCSV::Reader::readToProcessor(csv, count, QStringLiteral(";"), QStringLiteral("\""),
                                   QtCSV::Reader::codecFor(csv));
    return timer.nsecsElapsed() / 1e9;
}

// The sqlite3 shell's ".import" of the file through a view whose trigger inserts each row,
// into `database`: with `create`, a new table of the file's columns only; otherwise the
// program's own `articles` (its columns, defaults and indexes), each row into the folder
// the import uses.
double shellImport(const QString &shell, const QString &dir, const QString &csv,
                   const QString &database, bool create)
{
    const QString script = dir + QStringLiteral("/import.sql");
    {
        QFile out(script);
        if (!out.open(QIODevice::WriteOnly))
            return -1;
        QTextStream stream(&out);
        stream << "PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\n";
        if (create) {
            stream << "CREATE TABLE articles (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                   << kColumns.join(QLatin1String(" TEXT, ")) << " TEXT);\n";
        }
        stream << "CREATE VIEW import_columns AS SELECT " << kColumns.join(QLatin1String(", "))
               << " FROM articles;\n"
               << "CREATE TRIGGER import_row INSTEAD OF INSERT ON import_columns BEGIN "
               << "INSERT INTO articles (" << kColumns.join(QLatin1String(", "))
               << (create ? "" : ", Folder") << ") VALUES (NEW."
               << kColumns.join(QLatin1String(", NEW.")) << (create ? "" : ", -10") << "); END;\n"
               << ".mode csv\n.separator ;\n.import --skip 1 " << csv << " import_columns\n";
    }
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(script);
    QElapsedTimer timer;
    timer.start();
    process.start(shell, { database });
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3 shell failed: %s\n",
                     qPrintable(QString::fromLocal8Bit(process.readAllStandardError())));
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

// A file of about `megabytes` MB in lines of about 130 bytes, as a shop's article list.
bool writeBigCsv(const QString &path, int megabytes, int *lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk = "Title;SKU;StartPrice;Quantity;ListingType;ListingDuration;Currency;"
                       "Country;Location;PostalCode;ShippingService_1;ShippingService_1_Cost;"
                       "ConditionID\n";
    *lines = 1;
    const qint64 size = qint64(megabytes) * 1024 * 1024;
    while (file.size() + chunk.size() < size) {
        chunk += "\"Armbanduhr Modell " + QByteArray::number(*lines) + ", Edelstahl\";SKU-"
            + QByteArray::number(*lines) + ";" + QByteArray::number(9 + *lines % 100) + ",99;"
            + QByteArray::number(1 + *lines % 5)
            + ";FixedPriceItem;GTC;EUR;DE;Berlin;10115;DE_DHLPaket;4,99;1000\n";
        ++*lines;
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    return file.error() == QFileDevice::NoError;
}

// The whole file read by the CSV reader once: what the preview cost at every change before.
double wholeRead(const QString &csv, const QString &separator, const QString &delimiter)
{
    RowFunction drop([](const QStringList &, int) { return true; });
    QElapsedTimer timer;
    timer.start();
    QtCSV::Reader::readToProcessor(csv, drop, separator, delimiter, QtCSV::Reader::codecFor(csv));
    return timer.nsecsElapsed() / 1e6;
}

void previewBenchmark(const QString &dir, int megabytes, int runs)
{
    const QString csv = dir + QStringLiteral("/big.csv");
    int lines = 0;
    if (!writeBigCsv(csv, megabytes, &lines)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(csv));
        return;
    }
    // The dialog offers the columns of this database's articles.
    Database db(dir + QStringLiteral("/preview/data/"));
    DialogAnswers answers;
    CsvImport dialog(-10);
    answers.pushQuestion(true); // assign the same-named columns
    QElapsedTimer timer;
    timer.start();
    dialog.onOpenFile(csv);
    const double open = timer.nsecsElapsed() / 1e6;
    auto *separator = dialog.findChild<QComboBox *>(QStringLiteral("Separator"));
    auto *delimiter = dialog.findChild<QLineEdit *>(QStringLiteral("TextClose"));
    auto *header = dialog.findChild<QCheckBox *>(QStringLiteral("FirstHeaders"));

    if (separator->currentText() != QLatin1String(";")) {
        std::fprintf(stderr, "separator guessed wrong: %s\n", qPrintable(separator->currentText()));
        return;
    }
    // Each change is timed from the call to its return: the window is busy that long.
    const auto timed = [](const std::function<void()> &change) {
        QElapsedTimer clock;
        clock.start();
        change();
        return clock.nsecsElapsed() / 1e6;
    };
    double separatorBest = 1e9, delimiterBest = 1e9, headerBest = 1e9, worst = 0;
    for (int run = 0; run < runs; ++run) {
        for (const QString &text : { QStringLiteral("{TAB}"), QStringLiteral(";") }) {
            const double ms = timed([&] { separator->setCurrentText(text); });
            separatorBest = qMin(separatorBest, ms);
            worst = qMax(worst, ms);
        }
        for (const QString &text : { QStringLiteral("\"'"), QStringLiteral("\"") }) {
            const double ms = timed([&] { delimiter->setText(text); });
            delimiterBest = qMin(delimiterBest, ms);
            worst = qMax(worst, ms);
        }
        for (bool on : { false, true }) {
            const double ms = timed([&] { header->setChecked(on); });
            headerBest = qMin(headerBest, ms);
            worst = qMax(worst, ms);
        }
        // Let the looks in the background run as they would between two keystrokes.
        QCoreApplication::processEvents();
    }
    double reference = 1e9;
    for (int run = 0; run < runs; ++run)
        reference = qMin(reference, wholeRead(csv, QStringLiteral(";"), QStringLiteral("\"")));

    std::printf("\nPreview of a CSV of %d lines, %.0f MB; best of %d runs\n", lines,
                QFileInfo(csv).size() / 1048576.0, runs);
    std::printf("%-44s %9.1f ms\n", "file chosen (with the separator guess)", open);
    std::printf("%-44s %9.1f ms\n", "separator changed", separatorBest);
    std::printf("%-44s %9.1f ms\n", "keystroke in the text delimiter", delimiterBest);
    std::printf("%-44s %9.1f ms\n", "header box toggled", headerBest);
    std::printf("%-44s %9.1f ms\n", "slowest change of all runs", worst);
    std::printf("%-44s %9.1f ms\n", "reference: the whole file read once", reference);
    std::printf("separator change / whole-file read: %.4f\n", separatorBest / reference);
    std::printf("slowest change / whole-file read: %.4f (goal: a change within 50 ms: %s)\n",
                worst / reference, worst <= 50 ? "met" : "missed");
}

// The dialog on `csv`: milliseconds until onOpenFile returns, the peak resident memory it
// added (MB), and the milliseconds closing the dialog then waits.
void openAndClose(const QString &dir, const QString &csv, const char *shape, int lookMs = 0)
{
    Database db(dir + QStringLiteral("/shapes/data/"));
    DialogAnswers answers;
    for (int i = 0; i < 4; ++i)
        answers.pushQuestion(true);
    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    auto dialog = std::make_unique<CsvImport>(-10);
    dialog->show();
    QElapsedTimer timer;
    timer.start();
    dialog->onOpenFile(csv);
    // Until the window has laid out and painted what the file made of it.
    QCoreApplication::processEvents();
    dialog->grab();
    const double open = timer.nsecsElapsed() / 1e6;
    const QString refusal = answers.messages().isEmpty() ? QString() : answers.lastMessageText();
    // Closed at once, or after the look at the whole file has run for `lookMs`.
    QThread::msleep(lookMs);
    timer.restart();
    dialog.reset();
    const double close = timer.nsecsElapsed() / 1e6;
    std::printf("%-34s open %9.1f ms  peak +%6.0f MB  close %7.1f ms  %s\n", shape, open,
                measured ? memory.growth() / 1048576.0 : -1.0, close, qPrintable(refusal.left(90)));
}

void shapesBenchmark(const QString &dir, int endlessMegabytes)
{
    std::printf("CSV file shapes (column limit %d, record limit %d characters)\n",
                CsvImport::kMaxColumns, QtCSV::Reader::kMaxRecordChars);
    for (int columns : { 1000, 1001, 5000, 20000, 40000, 131072 }) {
        const QString csv = dir + QStringLiteral("/columns%1.csv").arg(columns);
        QFile file(csv);
        if (!file.open(QIODevice::WriteOnly))
            return;
        QByteArray header;
        for (int c = 0; c < columns; ++c)
            header += (c ? ";" : "") + QByteArray("Spalte") + QByteArray::number(c);
        file.write(header + "\n" + header + "\n");
        file.close();
        openAndClose(dir, csv,
                     qPrintable(QStringLiteral("%1 columns, %2 KB")
                                    .arg(columns)
                                    .arg(QFileInfo(csv).size() / 1024)));
    }
    if (endlessMegabytes <= 0)
        return;
    const QString csv = dir + QStringLiteral("/endless.csv");
    QFile file(csv);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write("Title;Account\n");
    QByteArray chunk;
    for (int i = 0; i < (1 << 19); ++i)
        chunk += "a;";
    for (int m = 0; m < endlessMegabytes; ++m)
        file.write(chunk);
    file.close();
    openAndClose(dir, csv, qPrintable(QStringLiteral("one line of %1 MB").arg(endlessMegabytes)));
    openAndClose(
        dir, csv,
        qPrintable(QStringLiteral("one line of %1 MB, closed after 2 s").arg(endlessMegabytes)),
        2000);
    // The run itself: refused before anything is written.
    Database db(dir + QStringLiteral("/shapes/data/"));
    DialogAnswers answers;
    for (int i = 0; i < 4; ++i)
        answers.pushQuestion(true);
    CsvImport dialog(-10);
    dialog.onOpenFile(csv);
    dialog.findChild<QComboBox *>(QStringLiteral("AccountImport"))->setCurrentIndex(0);
    const auto boxes = dialog.findChildren<QComboBox *>();
    for (QComboBox *box : boxes) {
        if (box->property("column").toInt() == 1 && box->property("column").isValid())
            box->setCurrentIndex(box->findData(QStringLiteral("Account")));
    }
    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    QElapsedTimer timer;
    timer.start();
    runToEnd(dialog);
    std::printf("%-34s run  %9.1f ms  peak +%6.0f MB  %s\n", "  the import run on it",
                timer.nsecsElapsed() / 1e6, measured ? memory.growth() / 1048576.0 : -1.0,
                qPrintable(answers.lastMessageText().left(90)));
    QFile::remove(csv);
}

// The run's first pass on a file of `megabytes` of articles, in the update mode on an
// empty store, so that the run after the first pass writes nothing: the longest time the window's
// event loop waits during the whole run, and the run's time.
void firstPassBenchmark(const QString &dir, int megabytes)
{
    const QString csv = dir + QStringLiteral("/firstpass.csv");
    // The articles of the main benchmark, about 1.7 KB each.
    if (!writeCsv(csv, int((qint64(megabytes) << 20) / 1700)))
        return;
    Database db(dir + QStringLiteral("/firstpass/data/"));
    DialogAnswers answers;
    for (int i = 0; i < 4; ++i)
        answers.pushQuestion(true);
    CsvImport dialog(-10);
    dialog.show();
    dialog.onOpenFile(csv);
    dialog.findChild<QComboBox *>(QStringLiteral("ImportModus"))->setCurrentIndex(1);
    auto *key = dialog.findChild<QComboBox *>(QStringLiteral("UpdateField"));
    key->setCurrentIndex(key->findData(QStringLiteral("SKU")));
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = qMax(longest, sinceTick.elapsed());
        sinceTick.restart();
    });
    QElapsedTimer timer;
    // The click once the loop runs, so that the ticks see the whole run.
    QTimer::singleShot(0, &dialog, [&] {
        sinceTick.start();
        tick.start();
        timer.start();
        dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Ok)
            ->click();
    });
    QObject::connect(&dialog, &CsvImport::runEnded, &dialog, [&] {
        longest = qMax(longest, sinceTick.elapsed());
        tick.stop();
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    std::printf("first pass on %.0f MB: run %.1f ms, longest event-loop pause %lld ms (%s)\n",
                QFileInfo(csv).size() / 1048576.0, timer.nsecsElapsed() / 1e6, longest,
                qPrintable(answers.lastMessageText().left(60)));
    QFile::remove(csv);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    if (argc > 1 && qstrcmp(argv[1], "--firstpass") == 0) {
        QTemporaryDir dir;
        firstPassBenchmark(dir.path(), argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 200);
        return 0;
    }
    if (argc > 1 && qstrcmp(argv[1], "--shapes") == 0) {
        QTemporaryDir dir;
        shapesBenchmark(dir.path(), argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 0);
        return 0;
    }
    const QString shell = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sqlite3");
    const int rows = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 50000;
    const int runs = argc > 3 ? qMax(1, QString::fromLocal8Bit(argv[3]).toInt()) : 3;
    const int previewMegabytes = argc > 4 ? QString::fromLocal8Bit(argv[4]).toInt() : 100;

    QTemporaryDir dir;
    const QString csv = dir.path() + QStringLiteral("/articles.csv");
    if (!writeCsv(csv, rows))
        return 1;
    const double fileMegabytes = QFileInfo(csv).size() / 1048576.0;

    // Each side runs `runs` times, every time into a fresh database; the best time of each
    // counts, so that a busy machine disturbs the ratio as little as it can.
    double ours = 1e9, reference = 1e9, plain = 1e9, reading = 1e9;
    double before = 0, peak = 0;
    int imported = 0, readRows = 0;
    for (int run = 0; run < runs; ++run) {
        const QString folder = dir.path() + QStringLiteral("/run%1").arg(run);
        // The same database for the shell, as it is before the import.
        const QString sameSchema = folder + QStringLiteral("/same-schema.db");
        double seconds = 0;
        {
            Database db(folder + QStringLiteral("/data/"));
            db.insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } }, "accounts");
            if (!db.checkpoint()
                || !QFile::copy(db.getCurrentDataDir() + Database::getDatabaseName(), sameSchema))
                return 1;
            if (run == 0)
                before = peakMegabytes();
            seconds = importRun(csv, rows);
            if (run == 0)
                peak = peakMegabytes();
            if (seconds < 0)
                return 1;
            imported
                = db.selectOne(QStringLiteral("SELECT COUNT(*) FROM articles")).value().toInt();
        }
        const double intoArticles = shellImport(shell, folder, csv, sameSchema, false);
        const double intoPlain
            = shellImport(shell, folder, csv, folder + QStringLiteral("/plain.db"), true);
        if (intoArticles < 0 || intoPlain < 0)
            return 1;
        ours = qMin(ours, seconds);
        reference = qMin(reference, intoArticles);
        plain = qMin(plain, intoPlain);
        reading = qMin(reading, readOnly(csv, &readRows));
        QDir(folder).removeRecursively();
    }

    std::printf("CSV of %d rows, %d columns, %.1f MB; SQLite, WAL, synchronous=NORMAL; "
                "best of %d runs\n",
                rows, int(kColumns.size()), fileMegabytes, runs);
    std::printf("%-44s %8d rows %9.3f s %10.0f rows/s\n", "CsvImport, insert mode", imported, ours,
                imported / ours);
    std::printf("%-44s %8d rows %9.3f s %10.0f rows/s\n", "sqlite3 shell .import into articles",
                rows, reference, rows / reference);
    std::printf("%-44s %8d rows %9.3f s %10.0f rows/s\n",
                "sqlite3 shell .import into a plain table", rows, plain, rows / plain);
    std::printf("%-44s %8d rows %9.3f s %10.0f rows/s\n", "the CSV reader alone", readRows, reading,
                readRows / reading);
    std::printf("ours / sqlite3 shell time into articles: %.2f\n", ours / reference);
    std::printf("ours / sqlite3 shell time into a plain table: %.2f\n", ours / plain);
    std::printf("peak resident memory: %.0f MB before the first run, %.0f MB after it\n", before,
                peak);
    if (previewMegabytes > 0)
        previewBenchmark(dir.path(), previewMegabytes, runs);
    return 0;
}
