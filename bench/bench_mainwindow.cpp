// Measures the main window on a large data folder: 100,000 articles, 50,000 of them in
// "Aktive Angebote". A child process starts the real window on that folder and reports the
// time from its start until the active folder's list is filled, reloadData alone, the
// resident memory after filling and the list query through the database layer; the sqlite3
// shell runs the same SELECT for reference. The list sorted by title in German order is timed
// against the same SELECT in SQLite's own order by code point. Before that, the opening of the
// main database with its damage check is timed on its own.
// Usage (needs a display): xvfb-run -a bench_mainwindow [sqlite3 binary]
#include "bench/residentmemory.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

namespace {

using Bench::residentKilobytes;

constexpr int kArticles = 100000;
constexpr int kActive = 50000;

const QString kListQuery = QStringLiteral(
    "SELECT ShippingService_1_Cost, CurrentPrice, Account, Site, SKU, HasVariation, "
    "HasVariationMinPrice, Planned, Planned_Interval, ItemID, DoCheck, DoCheckResult, id, Title, "
    "StartPrice, BuyItNowPrice, Folder, FolderOld, SoldCount, Currency, ImageThumb, WatchCount, "
    "ListingDuration, StartDate, ListingType, BidCount, QuestionCount, Quantity, eBayPlus, "
    "BestOfferEnabled FROM articles WHERE Folder=-9 AND Trash=0 ORDER BY id ASC");

const char *const kThings[] = { "Armbanduhr",    "Lederjacke",   "Kaffeemaschine",
                                "Stehlampe",     "Wanderschuhe", "Bluetooth-Lautsprecher",
                                "Porzellanvase", "Fahrradhelm",  "Schreibtischstuhl",
                                "Kinderbuch" };
const char *const kDetails[]
    = { "Edelstahl, neu & OVP", "Größe M, kaum getragen",         "mit Zubehör, geprüft",
        "Vintage 70er Jahre",   "Restposten, Originalverpackung", "gebraucht, sehr gut" };
const char *const kDurations[] = { "GTC", "Days_7", "Days_10", "Days_30" };

QMap<QString, QVariant> article(int i)
{
    const bool active = i % 2 == 0;
    static const int otherFolders[] = { -10, -7, -8, -3, -2, -5 };
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"),
               QStringLiteral("%1 %2 Nr. %3")
                   .arg(QString::fromUtf8(kThings[i % 10]), QString::fromUtf8(kDetails[i % 6]))
                   .arg(i));
    row.insert(QStringLiteral("SubTitle"), QStringLiteral("Versand am selben Tag"));
    row.insert(QStringLiteral("Description"),
               QStringLiteral("<p>Artikelbeschreibung %1</p>").arg(i)
                   + QString(800, QLatin1Char('x')));
    row.insert(QStringLiteral("Folder"), active ? -9 : otherFolders[(i / 2) % 6]);
    row.insert(QStringLiteral("Trash"), 0);
    row.insert(QStringLiteral("Site"), 77);
    row.insert(QStringLiteral("Account"), 1 + i % 2);
    row.insert(QStringLiteral("SKU"), i % 3 ? QStringLiteral("A-%1").arg(i) : QString());
    row.insert(QStringLiteral("StartPrice"), 4.99 + (i % 500) * 0.5);
    row.insert(QStringLiteral("CurrentPrice"), i % 7 == 0 ? 12.5 + i % 40 : 0.0);
    row.insert(QStringLiteral("Quantity"), 1 + i % 5);
    row.insert(QStringLiteral("SoldCount"), i % 4);
    row.insert(QStringLiteral("WatchCount"), i % 9);
    row.insert(QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem"));
    row.insert(QStringLiteral("ListingDuration"), QString::fromLatin1(kDurations[i % 4]));
    row.insert(QStringLiteral("ShippingService_1_Cost"), 4.99);
    row.insert(QStringLiteral("Currency"), QStringLiteral("EUR"));
    row.insert(QStringLiteral("ImageThumb"),
               QStringLiteral("thumb_20261206120000_bild%1.jpg").arg(i));
    row.insert(QStringLiteral("StartDate"),
               QStringLiteral("2026-11-%1 12:00:00").arg(1 + i % 28, 2, 10, QLatin1Char('0')));
    row.insert(QStringLiteral("ItemID"), active ? QString::number(110000000000LL + i) : QString());
    return row;
}

// The child: the real window on the prepared folder.
int runWindow(const QElapsedTimer &sinceStart)
{
    MainWindow window;
    window.show();
    auto *list = window.findChild<QTreeWidget *>(QStringLiteral("itemlist"));
    QElapsedTimer guard;
    guard.start();
    while (list->topLevelItemCount() < kActive && guard.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double filled = sinceStart.nsecsElapsed() / 1e9;
    const long rss = residentKilobytes();

    double reloadBest = 1e9, reloadSum = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        window.reloadData();
        const double seconds = timer.nsecsElapsed() / 1e9;
        reloadBest = qMin(reloadBest, seconds);
        reloadSum += seconds;
    }
    double selectBest = 1e9;
    int selected = 0;
    // The list sorted by title: in German order, and by code point as SQLite has it.
    double germanBest = 1e9, codePointBest = 1e9;
    {
        Database probe(true, QStringLiteral("bench"));
        for (int run = 0; run < 3; ++run) {
            QElapsedTimer timer;
            timer.start();
            selected = probe.select(kListQuery).value().size();
            selectBest = qMin(selectBest, timer.nsecsElapsed() / 1e9);
            timer.restart();
            probe
                .select(QString(kListQuery)
                            .replace(QStringLiteral("ORDER BY id ASC"),
                                     QStringLiteral("ORDER BY Title ASC")))
                .value();
            codePointBest = qMin(codePointBest, timer.nsecsElapsed() / 1e9);
            timer.restart();
            probe
                .select(QString(kListQuery)
                            .replace(QStringLiteral("ORDER BY id ASC"),
                                     QStringLiteral("ORDER BY Title COLLATE "
                                                    "GERMAN ASC")))
                .value();
            germanBest = qMin(germanBest, timer.nsecsElapsed() / 1e9);
        }
    }
    // The window's fill sorted by title.
    double titleBest = 1e9;
    window.findChild<QAction *>(QStringLiteral("actionNach_Titel_aufsteigend_sortieren"))
        ->trigger();
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        window.reloadData();
        titleBest = qMin(titleBest, timer.nsecsElapsed() / 1e9);
    }
    std::printf("rows listed                                  %8d\n", list->topLevelItemCount());
    std::printf("main() until the active list is filled        %8.3f s\n", filled);
    std::printf("resident memory after filling                 %8.1f MB\n", rss / 1024.0);
    std::printf("reloadData alone (best / mean of 3)          %8.3f s / %.3f s\n", reloadBest,
                reloadSum / 3);
    std::printf("its SELECT through Database::select (best)   %8.3f s (%d rows)\n", selectBest,
                selected);
    std::printf("the SELECT by title, code point order (best)  %8.3f s\n", codePointBest);
    std::printf("the SELECT by title, German order (best)      %8.3f s\n", germanBest);
    std::printf("German / code point order                     %8.2f\n",
                germanBest / codePointBest);
    std::printf("reloadData sorted by title (best of 3)        %8.3f s\n", titleBest);
    std::fflush(stdout);
    window.close();
    return 0;
}

double runShell(const QString &shell, const QString &file, const QString &sql)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(shell, { file, sql });
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

bool prepare(QString *file)
{
    Database db(QString(), nullptr);
    db.executeSQL(QStringLiteral("BEGIN TRANSACTION"));
    for (int i = 0; i < kArticles; ++i) {
        if (db.insertSqlClean(article(i), QStringLiteral("articles")) <= 0) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastErrorText));
            return false;
        }
    }
    db.executeSQL(QStringLiteral("COMMIT"));
    db.checkpoint();
    *file = db.getCurrentDataDir() + Database::getDatabaseName();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (argc > 1 && qstrcmp(argv[1], "--window") == 0) {
        QApplication app(argc, argv);
        return runWindow(sinceStart);
    }

    // Everything the program writes goes below one temporary folder.
    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (dir.path() + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    const QString shell = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sqlite3");

    QElapsedTimer timer;
    timer.start();
    QString file;
    if (!prepare(&file))
        return 1;
    std::printf("prepared %d articles (%d active) in %.1f s\n", kArticles, kActive,
                timer.nsecsElapsed() / 1e9);

    // Opening the main database at start checks the file for damage first.
    double openBest = 1e9, checkBest = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer open;
        open.start();
        {
            Database db(QString(), nullptr);
            openBest = qMin(openBest, open.nsecsElapsed() / 1e9);
            open.restart();
            db.select(QStringLiteral("PRAGMA quick_check(1)")).value();
            checkBest = qMin(checkBest, open.nsecsElapsed() / 1e9);
        }
    }
    std::printf("%-46s %8.3f s\n", "opening the main database (best of 3)", openBest);
    std::printf("%-46s %8.3f s\n", "  of which its damage check (best of 3)", checkBest);
    std::printf("%-46s %8.1f MB\n", "database file", QFileInfo(file).size() / 1048576.0);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    timer.restart();
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--window") });
    if (!child.waitForFinished(900000) || child.exitCode() != 0) {
        std::fprintf(stderr, "the window process failed\n");
        return 1;
    }
    const QByteArray report = child.readAllStandardOutput();
    std::fputs(report.constData(), stdout);
    std::printf("window process, start to exit (incl. closing) %8.3f s\n",
                timer.nsecsElapsed() / 1e9);
    // The best reloadData time, from the child's line "reloadData alone (best / mean of 3)".
    double reloadBest = -1;
    for (const QByteArray &line : report.split('\n')) {
        if (line.startsWith("reloadData alone"))
            reloadBest = line.mid(line.indexOf(')') + 1).trimmed().split(' ').value(0).toDouble();
    }

    double best = 1e9;
    for (int run = 0; run < 3; ++run)
        best = qMin(best, runShell(shell, file, kListQuery));
    std::printf("the same SELECT in the sqlite3 shell (best)  %8.3f s\n", best);
    if (reloadBest > 0 && best > 0)
        std::printf("reloadData / shell SELECT (goal: at most 3)  %8.2f\n", reloadBest / best);
    return 0;
}
