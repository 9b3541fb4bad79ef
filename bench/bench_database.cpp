// Measures the database layer on SQLite: 20,000 articles inserted one statement at a time
// (as the importers and workers write them), then the article list's columns of 100,000
// articles read in id order. The same statements run through the sqlite3 shell give the
// reference. Usage: bench_database [sqlite3 binary]
#include "core/database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

namespace {

const QString kListColumns = QStringLiteral(
    "ShippingService_1_Cost, CurrentPrice, Account, Site, SKU, HasVariation, "
    "HasVariationMinPrice, Planned, Planned_Interval, ItemID, DoCheck, DoCheckResult, id, Title, "
    "StartPrice, BuyItNowPrice, Folder, FolderOld, SoldCount, Currency, ImageThumb, WatchCount, "
    "ListingDuration, StartDate, ListingType, BidCount, QuestionCount, Quantity, eBayPlus, "
    "BestOfferEnabled");

constexpr int kInserted = 20000;
constexpr int kListed = 100000;

QMap<QString, QVariant> article(int i)
{
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"),
               QStringLiteral("Armbanduhr Modell %1, Edelstahl, neu & OVP").arg(i));
    row.insert(QStringLiteral("SubTitle"), QStringLiteral("Versand am selben Tag"));
    row.insert(QStringLiteral("Description"),
               QStringLiteral("<p>Beschreibung %1: ").arg(i) + QString(1500, QLatin1Char('x'))
                   + QStringLiteral("</p>"));
    row.insert(QStringLiteral("Folder"), -10 - (i % 3));
    row.insert(QStringLiteral("Site"), 77);
    row.insert(QStringLiteral("Account"), 1 + i % 2);
    row.insert(QStringLiteral("SKU"), QStringLiteral("SKU-%1").arg(i));
    row.insert(QStringLiteral("StartPrice"), QString::number(9.99 + i % 100, 'f', 2));
    row.insert(QStringLiteral("BuyItNowPrice"), QStringLiteral("0"));
    row.insert(QStringLiteral("Quantity"), QString::number(1 + i % 5));
    row.insert(QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem"));
    row.insert(QStringLiteral("ListingDuration"), QStringLiteral("GTC"));
    row.insert(QStringLiteral("ShippingService_1"), QStringLiteral("DE_DHLPaket"));
    row.insert(QStringLiteral("ShippingService_1_Cost"), QStringLiteral("4.99"));
    row.insert(QStringLiteral("Currency"), QStringLiteral("EUR"));
    row.insert(QStringLiteral("ImageThumb"),
               QStringLiteral("thumb_20261206120000_bild%1.jpg").arg(i));
    row.insert(QStringLiteral("StartDate"), QStringLiteral("2026-12-06 12:00:00"));
    row.insert(QStringLiteral("Country"), QStringLiteral("DE"));
    row.insert(QStringLiteral("PostalCode"), QStringLiteral("10115"));
    row.insert(QStringLiteral("Location"), QStringLiteral("Berlin"));
    return row;
}

QString literal(const QVariant &value)
{
    return QLatin1Char('\'') + Database::escapeString(value.toString()) + QLatin1Char('\'');
}

double runShell(const QString &shell, const QString &file, const QString &script, QString *error)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(script);
    QElapsedTimer timer;
    timer.start();
    process.start(shell, { file });
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        *error = QString::fromLocal8Bit(process.readAllStandardError()) + process.errorString();
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

void print(const char *what, int rows, double seconds)
{
    std::printf("%-46s %8d rows %9.3f s %12.0f rows/s\n", what, rows, seconds, rows / seconds);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.*.debug=false"));
    const QString shell = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sqlite3");
    QTemporaryDir dir;
    const QString dataDir = dir.path() + QStringLiteral("/data/");

    // Ours
    Database db(dataDir);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kInserted; ++i) {
        if (db.insertSqlClean(article(i), QStringLiteral("articles")) <= 0) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastErrorText));
            return 1;
        }
    }
    const double ourInsert = timer.nsecsElapsed() / 1e9;

    const QStringList columns = article(0).keys();
    const QString copy
        = QStringLiteral("INSERT INTO articles (%1) SELECT %1 FROM articles WHERE id <= %2")
              .arg(columns.join(QLatin1String(", ")))
              .arg(kInserted);
    while (db.selectOne(QStringLiteral("SELECT COUNT(*) FROM articles")).value().toInt() < kListed)
        db.executeSQL(copy);

    const QString listQuery
        = QStringLiteral("SELECT %1 FROM articles ORDER BY id ASC").arg(kListColumns);
    timer.restart();
    const SqlRows rows = db.select(listQuery).value();
    const double ourSelect = timer.nsecsElapsed() / 1e9;
    if (rows.size() != kListed) {
        std::fprintf(stderr, "expected %d rows, got %d\n", kListed, int(rows.size()));
        return 1;
    }

    // The sqlite3 shell on an identical database with the same statements
    const QString reference = dir.path() + QStringLiteral("/reference/");
    {
        Database schemaOnly(reference);
        Q_UNUSED(schemaOnly)
    }
    const QString file = reference + Database::getDatabaseName();
    const QString insertScript = dir.path() + QStringLiteral("/insert.sql");
    {
        QFile out(insertScript);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        QTextStream stream(&out);
        stream.setCodec("UTF-8");
        stream << "PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\n";
        for (int i = 0; i < kInserted; ++i) {
            const auto row = article(i);
            QStringList values;
            for (const QString &column : columns)
                values << literal(row.value(column));
            stream << "INSERT INTO articles (" << columns.join(QLatin1String(", ")) << ") VALUES ("
                   << values.join(QLatin1String(", ")) << ");\n";
        }
        stream << "PRAGMA wal_checkpoint(TRUNCATE);\n";
    }
    QString error;
    const double shellInsert = runShell(shell, file, insertScript, &error);
    if (shellInsert < 0) {
        std::fprintf(stderr, "sqlite3 shell failed: %s\n", qPrintable(error));
        return 1;
    }
    const QString growScript = dir.path() + QStringLiteral("/grow.sql");
    {
        QFile out(growScript);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        QTextStream stream(&out);
        for (int n = kInserted; n < kListed; n += kInserted)
            stream << copy << ";\n";
    }
    runShell(shell, file, growScript, &error);
    const QString selectScript = dir.path() + QStringLiteral("/select.sql");
    {
        QFile out(selectScript);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        QTextStream(&out) << listQuery << ";\n";
    }
    const double shellSelect = runShell(shell, file, selectScript, &error);

    std::printf("SQLite, WAL, synchronous=NORMAL, one statement per transaction\n");
    print("insertSqlClean, one statement at a time", kInserted, ourInsert);
    print("sqlite3 shell, same INSERT statements", kInserted, shellInsert);
    print("select list columns ORDER BY id (ours)", kListed, ourSelect);
    print("select list columns ORDER BY id (sqlite3)", kListed, shellSelect);
    std::printf("ours / sqlite3 shell time: insert %.2f, select %.2f\n", ourInsert / shellInsert,
                ourSelect / shellSelect);
    return 0;
}
