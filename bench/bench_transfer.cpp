// Measures the upload of local data into the shared MariaDB through the settings dialog:
// a local database of 50,000 articles, 150,000 picture rows, 50,000 variation rows and
// 20,000 activity entries is transferred by clicking the MySQL page's upload button, with
// the dialog shown. Reports rows per second, the peak memory, how often and how regularly
// the dialog processed events (its progress label), and, for reference, the mariadb
// command-line client running the same INSERT statements one at a time from a file.
// Run under scripts/with-mariadb.sh. Usage: bench_transfer [mariadb binary]
#include "core/database.h"
#include "mainwindow/mysqltransfer.h"
#include "mainwindow/setup.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/temphome.h"
#include "tests/support/testdatabase.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int kArticles = 50000;
constexpr int kPicturesPerArticle = 3;
constexpr int kActivity = 20000;

long peakKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void fillLocal(Database &db)
{
    db.executeSQL(QStringLiteral("BEGIN"));
    const QString description = QStringLiteral("<p>Schöne Armbanduhr aus Edelstahl, "
                                               "Größe verstellbar – Versand am selben Tag.</p>")
                                    .repeated(20);
    for (int i = 1; i <= kArticles; ++i) {
        const int id = db.insertSqlClean(
            { { QStringLiteral("Title"), QStringLiteral("Armbanduhr Modell %1, neu & OVP").arg(i) },
              { QStringLiteral("Description"), description },
              { QStringLiteral("Folder"), -9 - (i % 2) },
              { QStringLiteral("Account"), 1 },
              { QStringLiteral("SKU"), QStringLiteral("SKU-%1").arg(i) },
              { QStringLiteral("StartPrice"), 9.99 + i % 100 },
              { QStringLiteral("Quantity"), 1 + i % 5 },
              { QStringLiteral("Currency"), QStringLiteral("EUR") } },
            QStringLiteral("articles"));
        for (int p = 1; p <= kPicturesPerArticle; ++p)
            db.insertSqlClean(
                { { QStringLiteral("article_id"), id },
                  { QStringLiteral("image"), QStringLiteral("%1_%2.jpg").arg(id).arg(p) },
                  { QStringLiteral("sort"), p } },
                QStringLiteral("articles_images"));
        db.insertSqlClean({ { QStringLiteral("article_id"), id },
                            { QStringLiteral("VariantXml"),
                              QStringLiteral("<Variation><SKU>V-%1</SKU><Farbe>Grün</Farbe>"
                                             "</Variation>")
                                  .arg(i) },
                            { QStringLiteral("SKU"), QStringLiteral("V-%1").arg(i) },
                            { QStringLiteral("StartPrice"), 19.5 },
                            { QStringLiteral("Quantity"), 2 } },
                          QStringLiteral("articles_variations"));
    }
    for (int i = 1; i <= kActivity; ++i)
        db.insertSqlClean({ { QStringLiteral("indate"), QStringLiteral("2026-03-01 10:00:00") },
                            { QStringLiteral("title"), QStringLiteral("Armbanduhr|||%1").arg(i) },
                            { QStringLiteral("textinfo"), QStringLiteral("Neues Gebot") },
                            { QStringLiteral("infotype"), QStringLiteral("bid") } },
                          QStringLiteral("itemshistory"));
    db.executeSQL(QStringLiteral("COMMIT"));
}

QString literal(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.type()) {
    case QVariant::Int:
    case QVariant::LongLong:
    case QVariant::Double:
        return value.toString();
    default: {
        QString text = value.toString();
        text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        text.replace(QLatin1Char('\''), QLatin1String("\\'"));
        return QLatin1Char('\'') + text + QLatin1Char('\'');
    }
    }
}

// The statements the transfer sends, as one file for the command-line client: each table
// emptied, then one INSERT per row.
qint64 writeStatements(const QString &localFile, Database &shared, const QString &path)
{
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    QSqlDatabase local
        = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dump"));
    local.setDatabaseName(localFile);
    local.open();
    qint64 rows = 0;
    QStringList tables;
    QSqlQuery list(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"), local);
    while (list.next())
        tables << list.value(0).toString();
    out.write("SET NAMES utf8mb4;\n");
    for (const QString &table : qAsConst(tables)) {
        if (table.startsWith(QLatin1String("sqlite_")))
            continue;
        QSet<QString> target;
        for (const auto &row :
             shared.select(QStringLiteral("SHOW COLUMNS FROM `%1`").arg(table)).value())
            target.insert(row.value(QStringLiteral("Field")).toString());
        out.write(QStringLiteral("DELETE FROM `%1`;\n").arg(table).toUtf8());
        QSqlQuery query(local);
        query.setForwardOnly(true);
        query.exec(QStringLiteral("SELECT * FROM \"%1\"").arg(table));
        const auto columns = MySqlTransfer::commonColumns(query.record(), target);
        QStringList names;
        for (const auto &column : qAsConst(columns))
            names << QLatin1Char('`') + column.first + QLatin1Char('`');
        const QString head = QStringLiteral("INSERT INTO `%1` (%2) VALUES (")
                                 .arg(table, names.join(QLatin1Char(',')));
        while (query.next()) {
            QStringList values;
            for (const auto &column : qAsConst(columns))
                values << literal(query.value(column.second));
            out.write((head + values.join(QLatin1Char(',')) + QStringLiteral(");\n")).toUtf8());
            ++rows;
        }
    }
    local.close();
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    TestSupport::TempHome home;
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    const QString client = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("mariadb");
    const TestSupport::MySqlServer server = TestSupport::MySqlServer::fromEnvironment();
    if (!server.configured()) {
        std::fprintf(stderr, "run under scripts/with-mariadb.sh\n");
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    TestSupport::TestDatabase local(TestSupport::Backend::SQLite);
    fillLocal(*local.db());
    const QString localFile = local.dataDir() + Database::getDatabaseName();
    local.closeMain();
    std::printf("local database filled in %.1f s (%.0f MB)\n", clock.elapsed() / 1000.0,
                QFileInfo(localFile).size() / 1048576.0);

    TestSupport::TestDatabase shared(TestSupport::Backend::MySQL);
    if (!shared.error().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(shared.error()));
        return 1;
    }
    QFile::copy(localFile, shared.dataDir() + Database::getDatabaseName());

    DialogAnswers answers;
    answers.pushQuestion(true);
    Setup dialog(nullptr);
    dialog.show();
    QApplication::processEvents();
    auto *button = dialog.findChild<QPushButton *>(QStringLiteral("MySQLUploadLocalData"));

    // Every pass of the event loop during the transfer: the longest pause and how often the
    // label changed.
    QElapsedTimer sinceLast;
    qint64 longestPause = 0;
    int labelChanges = 0;
    QString lastLabel = button->text();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &dialog, [&] {
        longestPause = qMax(longestPause, sinceLast.restart());
        if (button->text() != lastLabel) {
            lastLabel = button->text();
            ++labelChanges;
        }
    });
    const long peakBefore = peakKilobytes();
    watch.start(0);
    sinceLast.start();
    clock.restart();
    button->click();
    const qint64 transferMs = clock.elapsed();
    watch.stop();
    const long peakAfter = peakKilobytes();

    qint64 arrived = 0;
    for (const char *table :
         { "articles", "articles_images", "articles_variations", "itemshistory" })
        arrived
            += shared.db()
                   ->selectOne(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)))
                   .value()
                   .toLongLong();
    std::printf("transfer: %lld rows of the four tables arrived, %.1f s, %.0f rows/s\n", arrived,
                transferMs / 1000.0, arrived * 1000.0 / transferMs);
    std::printf("  message: %s\n", qPrintable(answers.lastMessageText()));
    std::printf("  peak memory: %.1f MB before the transfer, %.1f MB after\n", peakBefore / 1024.0,
                peakAfter / 1024.0);
    std::printf("  dialog: label changed %d times, longest time without event processing %lld ms\n",
                labelChanges, longestPause);

    const QString statements = shared.dataDir() + QStringLiteral("statements.sql");
    const qint64 rows = writeStatements(localFile, *shared.db(), statements);
    QProcess process;
    process.setStandardInputFile(statements);
    clock.restart();
    process.start(client,
                  { QStringLiteral("--no-defaults"), QStringLiteral("-h"), server.host,
                    QStringLiteral("-P"), QString::number(server.port), QStringLiteral("-u"),
                    server.user, QStringLiteral("-p") + server.password,
                    shared.mysqlDatabaseName() });
    process.waitForFinished(-1);
    const qint64 clientMs = clock.elapsed();
    if (process.exitCode() != 0)
        std::fprintf(stderr, "client failed: %s\n", process.readAllStandardError().constData());
    std::printf("mariadb client: %lld INSERT statements, %.1f s, %.0f rows/s\n", rows,
                clientMs / 1000.0, rows * 1000.0 / clientMs);
    std::printf("transfer time / client time: %.2f\n", double(transferMs) / clientMs);
    return 0;
}
