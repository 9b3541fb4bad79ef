// "Exportieren" of many articles through the real main window: the time until the export has
// told its end, and the longest pause of the window's thread meanwhile (a 5 ms timer that
// notes the longest gap between its ticks). Reference in the same run: the same rows read by
// plain stepping of "SELECT * FROM articles" and of the picture rows on one connection.
//
//   xvfb-run -a bench_export [sqlite|mysql] [articles = 50000]
//
// mysql needs the server of scripts/with-mariadb.sh.
#include "core/config.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/temphome.h"
#include "tests/support/testdatabase.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

constexpr int kDrafts = -10;

bool fill(Database &db, int articles)
{
    const QString description = QString(3000, QLatin1Char('d'));
    for (int from = 0; from < articles; from += 500) {
        QStringList values;
        for (int i = from; i < qMin(articles, from + 500); ++i)
            values << QStringLiteral("('Artikel %1', %2, 0, 1, 77, 'SKU-%1', '%3')")
                          .arg(i)
                          .arg(kDrafts)
                          .arg(description);
        if (!db.executeSQL(QStringLiteral("INSERT INTO articles (Title, Folder, Trash, Account, "
                                          "Site, SKU, Description) VALUES ")
                           + values.join(QLatin1Char(','))))
            return false;
    }
    // A failed read only shifts the ids the picture rows name: benchmark data either way.
    const int first = db.selectOne(QStringLiteral("SELECT MIN(id) FROM articles"))
                          .orIfFailed(QString())
                          .toInt();
    for (int from = 0; from < articles; from += 500) {
        QStringList values;
        for (int i = from; i < qMin(articles, from + 500); ++i)
            for (int p = 0; p < 4; ++p)
                values << QStringLiteral("(%1, 'bild_%1_%2.jpg', %2, '')").arg(first + i).arg(p);
        if (!db.executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, sort, "
                                          "variant_name) VALUES ")
                           + values.join(QLatin1Char(','))))
            return false;
    }
    return true;
}

// Milliseconds to step through every row of the articles and their pictures.
qint64 reference(Database &db)
{
    QElapsedTimer timer;
    timer.start();
    qint64 cells = 0;
    for (const char *sql : { "SELECT * FROM articles", "SELECT * FROM articles_images" }) {
        QSqlQuery query;
        if (!db.selectQuery(QString::fromLatin1(sql), query))
            return -1;
        const int columns = query.record().count();
        while (query.next()) {
            for (int c = 0; c < columns; ++c)
                cells += query.value(c).toString().size();
        }
    }
    std::printf("reference read %lld characters\n", cells);
    return timer.elapsed();
}

} // namespace

int main(int argc, char *argv[])
{
    TestSupport::TempHome home;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
    for (Config::Key key : Config::allKeys()) {
        if (Config::isAddress(key))
            qputenv(Config::environmentVariable(key).toLatin1(), "http://127.0.0.1:9");
    }
    QApplication app(argc, argv);
    const bool mysql = argc > 1 && qstrcmp(argv[1], "mysql") == 0;
    const int articles = argc > 2 ? QString::fromLatin1(argv[2]).toInt() : 50000;

    TestSupport::TestDatabase data(mysql ? TestSupport::Backend::MySQL
                                         : TestSupport::Backend::SQLite);
    if (!data.error().isEmpty() || !fill(*data.db(), articles)) {
        std::fprintf(stderr, "no database: %s\n", qPrintable(data.error()));
        return 1;
    }
    const qint64 referenceMs = reference(*data.db());
    data.closeMain();

    TestSupport::MainWindowFixture fixture(data);
    if (!fixture.showFolder(kDrafts))
        return 1;
    fixture.itemList()->selectAll();
    std::printf("%s, %d articles listed, %d selected\n", mysql ? "MariaDB" : "SQLite",
                fixture.itemList()->topLevelItemCount(),
                int(fixture.itemList()->selectedItems().size()));

    QTemporaryDir files;
    DialogAnswers answers;
    answers.pushFileName(files.filePath(QStringLiteral("export.csv")));
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longest = qMax(longest, sinceTick.restart()); });
    QElapsedTimer total;
    total.start();
    sinceTick.start();
    ticker.start();
    fixture.window()->findChild<QAction *>(QStringLiteral("actionExportieren"))->trigger();
    while (answers.shownTexts().isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 totalMs = total.elapsed();
    ticker.stop();
    longest = qMax(longest, sinceTick.elapsed());
    std::printf("message: %s\n", qPrintable(answers.shownTexts().first().section('\n', 0, 0)));
    std::printf("export: %lld ms until told, longest pause of the window %lld ms\n", totalMs,
                longest);
    std::printf("reference (plain read of the same rows): %lld ms, export / reference %.2f\n",
                referenceMs, referenceMs > 0 ? double(totalMs) / double(referenceMs) : 0.0);
    return 0;
}
