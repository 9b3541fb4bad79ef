#include "core/database.h"
#include "mainwindow/mysqlsetup.h"
#include "mainwindow/mysqltransfer.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QFile>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>

using TestSupport::Backend;
using TestSupport::TableSnapshot;
using TestSupport::TestDatabase;

namespace {

// Fills a local database with a bit of everything the program stores.
void fillLocal(Database *db, const QString &refusedTitle)
{
    const QString umlauts = QStringLiteral("Größe: Übermaß & \"Spaß\" 'n' \\ Ölkännchen 😀");
    const QString longText = QString(QStringLiteral("<p>Beschreibung ä😀</p>")).repeated(5000);
    for (int i = 1; i <= 3; ++i) {
        QMap<QString, QVariant> article { { "Title", umlauts + QString::number(i) },
                                          { "Description", longText },
                                          { "StartPrice", 12.5 * i },
                                          { "Folder", -9 },
                                          { "account", 1 } };
        const int id = db->insertSqlClean(article, "articles");
        QVERIFY(id > 0);
        QVERIFY(
            db->insertSqlClean({ { "article_id", id }, { "image", "bild_ü.jpg" }, { "sort", 1 } },
                               "articles_images")
            > 0);
        QVERIFY(db->insertSqlClean({ { "article_id", id },
                                     { "VariantXml", "<v>Größe 😀</v>" },
                                     { "StartPrice", 9.99 } },
                                   "articles_variations")
                > 0);
    }
    if (!refusedTitle.isEmpty())
        QVERIFY(db->insertSqlClean({ { "SubTitle", refusedTitle }, { "Folder", -10 } }, "articles")
                > 0);
    db->setOption("Kennwort", umlauts);
    QVERIFY(db->insertSqlClean({ { "indate", "2026-03-01 10:00:00" },
                                 { "title", umlauts },
                                 { "textinfo", longText },
                                 { "infotype", "sellcount" } },
                               "itemshistory")
            > 0);
}

const QStringList kTables
    = { "articles", "articles_images", "articles_variations", "options", "itemshistory" };

QString keyOf(const QString &table)
{
    return table == QLatin1String("options") ? QStringLiteral("optionname") : QStringLiteral("id");
}

} // namespace

class TestMySqlTransfer : public QObject
{
    Q_OBJECT
private slots:
    void setupFile_data();
    void setupFile();
    void scrambledDifferentlyEachSave();
    void transfer_data();
    void transfer();
};

void TestMySqlTransfer::setupFile_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("storedPassword"); // empty: as saved
    QTest::addColumn<QString>("expectedPassword");
    QTest::newRow("saved") << "gëheim'\"😀" << QString() << "gëheim'\"😀";
    QTest::newRow("damaged") << "geheim"
                             << "AwLr5kxUa2dhbXNjaGFkZW4=" << QString();
    QTest::newRow("plain text") << "geheim"
                                << "geheim" << QString();
}

void TestMySqlTransfer::setupFile()
{
    QFETCH(QString, password);
    QFETCH(QString, storedPassword);
    QFETCH(QString, expectedPassword);
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    MySqlSetup saved { "db.example", 3307, "zerire", password, "laden", true, true, "/srv/bilder" };
    QVERIFY(saved.save(folder));
    if (storedPassword.isEmpty())
        QVERIFY(!QSettings(folder + "mysql.setup", QSettings::IniFormat)
                     .value("password")
                     .toString()
                     .contains(password));
    else
        QSettings(folder + "mysql.setup", QSettings::IniFormat)
            .setValue("password", storedPassword);

    const QSettings raw(folder + "mysql.setup", QSettings::IniFormat);
    QCOMPARE(raw.allKeys().size(), 8);

    const MySqlSetup read = MySqlSetup::load(folder);
    QCOMPARE(QStringList({ read.hostname, QString::number(read.port), read.username, read.password,
                           read.database, QString::number(read.active),
                           QString::number(read.syncWorkstation), read.imagePath }),
             QStringList({ "db.example", "3307", "zerire", expectedPassword, "laden", "1", "1",
                           "/srv/bilder" }));
}

void TestMySqlTransfer::scrambledDifferentlyEachSave()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    MySqlSetup setup;
    setup.password = "geheim";
    QStringList stored;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(setup.save(folder));
        stored
            << QSettings(folder + "mysql.setup", QSettings::IniFormat).value("password").toString();
        QCOMPARE(MySqlSetup::load(folder).password, QString("geheim"));
    }
    QVERIFY(stored[0] != stored[1] && stored[1] != stored[2] && stored[0] != stored[2]);
}

void TestMySqlTransfer::transfer_data()
{
    QTest::addColumn<QString>("refusedTitle");
    QTest::addColumn<int>("skipped");
    QTest::newRow("every row") << QString() << 0;
    // MySQL's column can't hold the emoji: that row stays out, counted and logged.
    QTest::newRow("refused row") << QStringLiteral("Kaffee ☕ 😀") << 1;
}

void TestMySqlTransfer::transfer()
{
    QFETCH(QString, refusedTitle);
    QFETCH(int, skipped);
    APP_REQUIRE_BACKEND(Backend::MySQL);

    TestDatabase local(Backend::SQLite);
    QVERIFY(local.error().isEmpty());
    fillLocal(local.db(), refusedTitle);
    QList<TableSnapshot> expected;
    for (const QString &table : kTables)
        expected << TableSnapshot::take(*local.db(), table, keyOf(table));
    const QString localFile = local.dataDir() + Database::getDatabaseName();
    local.closeMain();

    TestDatabase shared(Backend::MySQL);
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    // Rows the transfer must replace.
    QVERIFY(shared.db()->insertSqlClean({ { "Title", "alt" } }, "articles") > 0);
    if (!refusedTitle.isEmpty())
        QVERIFY(shared.db()->executeSQL(
            "ALTER TABLE articles MODIFY SubTitle TEXT CHARACTER SET latin1"));

    const QString logFile = shared.dataDir() + "mysql_transfer.log";
    int reports = 0;
    MySqlTransfer transfer(shared.db(), localFile, logFile);
    const MySqlTransfer::Result result
        = transfer.run([&reports](const MySqlTransfer::Progress &) { ++reports; });

    QCOMPARE(int(result.outcome), int(MySqlTransfer::Outcome::Completed));
    QCOMPARE(result.skippedRows, skipped);
    QVERIFY(reports >= kTables.size());
    for (int i = 0; i < kTables.size(); ++i) {
        const TableSnapshot arrived
            = TableSnapshot::take(*shared.db(), kTables[i], keyOf(kTables[i]));
        auto changes = TableSnapshot::diff(expected[i], arrived);
        if (kTables[i] == "articles" && skipped) {
            QCOMPARE(changes.size(), 1);
            QCOMPARE(changes.first().column, QString("<removed>"));
            QCOMPARE(expected[i].row(changes.first().key).value("SubTitle").toString(),
                     refusedTitle);
        } else {
            QVERIFY2(changes.isEmpty(),
                     qPrintable(kTables[i] + ": " + TableSnapshot::describe(changes)));
        }
    }

    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QVERIFY(lines.contains("DELETE FROM `articles`"));
    QVERIFY(!lines.contains("DELETE FROM `sqlite_sequence`"));
    QCOMPARE(lines.last(), QString("Completed"));
    QCOMPARE(lines.filter("Incorrect string").size(), skipped);
}

APP_TEST_GUILESS_MAIN(TestMySqlTransfer)
#include "test_mysqltransfer.moc"
