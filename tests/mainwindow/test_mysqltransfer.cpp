#include "core/database.h"
#include "mainwindow/mysqlsetup.h"
#include "mainwindow/mysqltransfer.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

using TestSupport::Backend;
using TestSupport::TableSnapshot;
using TestSupport::TestDatabase;

namespace {

const QString kHostile = QStringLiteral("Größe: Übermaß & \"Spaß\" 'n' \\ Ölkännchen 😀");
const QStringList kTables
    = { "articles", "articles_images", "articles_variations", "options", "itemshistory" };

// A bit of everything the program stores; `refused` goes into a column MySQL is made to
// refuse it in. The i-th article costs `price` * i, its variation `variationPrice`.
void fillLocal(Database *db, const QString &refused, int articles = 3, double price = 12.5,
               double variationPrice = 9.99)
{
    const QString longText = QStringLiteral("<p>Beschreibung ä😀</p>").repeated(5000);
    for (int i = 1; i <= articles; ++i) {
        const int id = db->insertSqlClean({ { "Title", kHostile + QString::number(i) },
                                            { "Description", longText },
                                            { "StartPrice", price * i },
                                            { "Folder", -9 } },
                                          "articles");
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", "bild_ü.jpg" } },
                                   "articles_images")
                > 0);
        QVERIFY(db->insertSqlClean({ { "article_id", id },
                                     { "VariantXml", kHostile },
                                     { "StartPrice", variationPrice } },
                                   "articles_variations")
                > 0);
    }
    if (!refused.isEmpty())
        QVERIFY(db->insertSqlClean({ { "SubTitle", refused }, { "Folder", -10 } }, "articles") > 0);
    QVERIFY(db->setOption("Kennwort", kHostile));
    QVERIFY(db->insertSqlClean(
                { { "title", kHostile }, { "textinfo", longText }, { "infotype", "bid" } },
                "itemshistory")
            > 0);
}

TableSnapshot snapshot(Database *db, const QString &table)
{
    return TableSnapshot::take(*db, table, table == "options" ? "optionname" : "id");
}

} // namespace

class TestMySqlTransfer : public QObject
{
    Q_OBJECT
private slots:
    void setupFile_data();
    void setupFile();
    void transfer_data();
    void transfer();
    void interrupted_data();
    void interrupted();
    void notRead_data();
    void notRead();
    void stopKeepsOld_data();
    void stopKeepsOld();
};

void TestMySqlTransfer::setupFile_data()
{
    QTest::addColumn<QString>("stored"); // replaces the saved password; null: as saved
    QTest::addColumn<QString>("expected");
    QTest::newRow("saved") << QString() << "gëheim'\"😀";
    QTest::newRow("damaged") << "AwLr5kxUa2dhbXNjaGFkZW4=" << QString();
    QTest::newRow("plain text") << "gëheim" << QString();
}

void TestMySqlTransfer::setupFile()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    const MySqlSetup saved { "db.example", 3307, "zerire", "gëheim'\"😀",
                             "laden",      true, true,     "/srv/bilder" };
    // A random byte leads each scrambled password: two saves give the same text once in 256,
    // eight saves all the same text practically never.
    QStringList scrambled;
    for (int i = 0; i < 8; ++i) {
        QVERIFY(saved.save(folder));
        scrambled
            << QSettings(folder + "mysql.setup", QSettings::IniFormat).value("password").toString();
    }
    const QString first = scrambled[0];
    QVERIFY(scrambled.removeAll(first) < 8 && !first.contains("heim"));
    if (!stored.isNull())
        QSettings(folder + "mysql.setup", QSettings::IniFormat).setValue("password", stored);

    QCOMPARE(QSettings(folder + "mysql.setup", QSettings::IniFormat).allKeys().size(), 8);
    const MySqlSetup read = MySqlSetup::load(folder);
    QCOMPARE(QStringList({ read.hostname, QString::number(read.port), read.username, read.password,
                           read.database, QString::number(read.active),
                           QString::number(read.syncWorkstation), read.imagePath }),
             QStringList(
                 { "db.example", "3307", "zerire", expected, "laden", "1", "1", "/srv/bilder" }));
}

void TestMySqlTransfer::transfer_data()
{
    QTest::addColumn<QString>("refused");
    QTest::addColumn<int>("articles"); // besides the refused one, in one statement with it
    QTest::addColumn<double>("price");
    QTest::addColumn<double>("variationPrice");
    QTest::newRow("every row") << QString() << 3 << 12.5 << 9.99;
    QTest::newRow("refused row") << QStringLiteral("Kaffee ☕") << 3 << 12.5 << 9.99;
    // Prices as sellers have them: every digit arrives (12345.67, 24691.34, 37037.01).
    QTest::newRow("prices of realistic size") << QString() << 3 << 12345.67 << 98765.43;
    // Sent again one by one: only the refused row is left out, the other one arrives.
    QTest::newRow("refused row in a statement of two")
        << QStringLiteral("Kaffee ☕") << 1 << 12345.67 << 9.99;
    QTest::newRow("refused row alone") << QStringLiteral("Kaffee ☕") << 0 << 12.5 << 9.99;
}

void TestMySqlTransfer::transfer()
{
    QFETCH(QString, refused);
    QFETCH(int, articles);
    QFETCH(double, price);
    QFETCH(double, variationPrice);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestDatabase local(Backend::SQLite);
    QVERIFY(local.error().isEmpty());
    fillLocal(local.db(), refused, articles, price, variationPrice);
    QList<TableSnapshot> expected;
    for (const QString &table : kTables)
        expected << snapshot(local.db(), table);
    local.closeMain();

    TestDatabase shared(Backend::MySQL);
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    QVERIFY(shared.db()->insertSqlClean({ { "Title", "ersetzt" } }, "articles") > 0);
    QVERIFY(
        shared.db()->executeSQL("ALTER TABLE articles MODIFY SubTitle TEXT CHARACTER SET latin1"));
    const QString logFile = shared.dataDir() + "mysql_transfer.log";
    int reports = 0;
    const MySqlTransfer::Result result
        = MySqlTransfer(shared.db(), local.dataDir() + Database::getDatabaseName(), logFile)
              .run([&reports](const MySqlTransfer::Progress &) { ++reports; });

    const int skipped = refused.isEmpty() ? 0 : 1;
    QCOMPARE(int(result.outcome), int(MySqlTransfer::Outcome::Completed));
    QCOMPARE(result.skippedRows, skipped);
    QVERIFY(reports >= kTables.size());
    for (int i = 0; i < kTables.size(); ++i) {
        const auto changes = TableSnapshot::diff(expected[i], snapshot(shared.db(), kTables[i]));
        QCOMPARE(changes.size(), i == 0 ? skipped : 0);
        if (!changes.isEmpty())
            QCOMPARE(expected[i].row(changes.first().key).value("SubTitle").toString(), refused);
    }

    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QVERIFY(lines.contains("DELETE FROM `articles`"));
    QVERIFY(lines.filter("sqlite_").isEmpty());
    QCOMPARE(lines.last(), QString("Completed"));
    QCOMPARE(lines.filter("Incorrect string").size(), skipped);
}

void TestMySqlTransfer::interrupted_data()
{
    // The statement whose answer is lost and its how-manieth (0: the articles table's); none:
    // the server stops answering within the articles table.
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<bool>("written"); // the server's tables hold the new rows
    QTest::newRow("emptying") << QByteArray("DELETE FROM `articles`") << 1 << false;
    QTest::newRow("second batch") << QByteArray("INSERT INTO `articles`") << 2 << false;
    QTest::newRow("commit") << QByteArray("COMMIT") << 1 << true;
    QTest::newRow("server hangs") << QByteArray() << 0 << false;
}

// A transfer that meets a lost answer or a hanging server stops at that table and says so;
// the shared database holds its old rows in every table or all the new ones, never a part.
void TestMySqlTransfer::interrupted()
{
    QFETCH(QByteArray, statement);
    QFETCH(int, occurrence);
    QFETCH(bool, written);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestDatabase local(Backend::SQLite);
    QVERIFY(local.error().isEmpty());
    fillLocal(local.db(), QString(), 40); // the articles take several statements
    QList<TableSnapshot> fresh;
    for (const QString &table : kTables)
        fresh << snapshot(local.db(), table);
    local.closeMain();

    // Short only where the server is to hang: elsewhere a busy machine must not look like one.
    const int timeoutSeconds = statement.isEmpty() ? 3 : 60;
    Database::setDefaultResponseTimeout(timeoutSeconds);
    auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestDatabase shared(proxy.server());
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    QVERIFY(shared.db()->insertSqlClean({ { "Title", "bleibt" } }, "articles") > 0);
    QList<TableSnapshot> old;
    for (const QString &table : kTables)
        old << snapshot(shared.db(), table);

    if (!statement.isEmpty())
        proxy.cutAfter(statement, occurrence);
    bool stalled = false;
    const QString logFile = shared.dataDir() + "mysql_transfer.log";
    MySqlTransfer transfer(shared.db(), local.dataDir() + Database::getDatabaseName(), logFile);
    transfer.setResponseTimeout(timeoutSeconds);
    const MySqlTransfer::Result result = transfer.run([&](const MySqlTransfer::Progress &step) {
        if (statement.isEmpty() && step.table == "articles" && step.row > 0 && !stalled) {
            proxy.stall();
            stalled = true;
        }
    });
    proxy.release();
    QVERIFY(statement.isEmpty() ? stalled : proxy.cuts() == 1);

    QCOMPARE(int(result.outcome), int(MySqlTransfer::Outcome::Stopped));
    QCOMPARE(result.table, QString(statement == "COMMIT" ? "" : "articles"));
    if (statement != "COMMIT")
        QVERIFY2(
            result.error.startsWith("Die Übertragung wurde bei der Tabelle „articles“ abgebrochen")
                && result.error.endsWith("unverändert ihre bisherigen Daten."),
            qPrintable(result.error));
    QCOMPARE(result.error.contains("nicht bekannt"), statement == "COMMIT");
    QCOMPARE(result.copiedRows, 0);
    for (int i = 0; i < kTables.size(); ++i) {
        const auto changes
            = TableSnapshot::diff(written ? fresh[i] : old[i], snapshot(shared.db(), kTables[i]));
        QVERIFY2(changes.isEmpty(),
                 qPrintable(kTables[i] + ":\n" + TableSnapshot::describe(changes)));
    }
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(log.readAll()).split("\r\n", Qt::SkipEmptyParts).last(),
             result.error);
}

void TestMySqlTransfer::notRead_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("local file no database") << "local";
    QTest::newRow("columns of the shared table refused") << "columns";
}

// What can't be read is not taken for "nothing": a local file whose tables can't be listed
// transfers nothing and says so; a shared table whose columns can't be read stops the
// transfer, and every table keeps its rows (copied without its columns, every row would be
// one of defaults; skipped, its old rows would stand beside the other tables' new ones).
void TestMySqlTransfer::notRead()
{
    QFETCH(QString, fault);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestDatabase local(Backend::SQLite);
    QVERIFY(local.error().isEmpty());
    fillLocal(local.db(), QString());
    const QString localFile = local.dataDir() + Database::getDatabaseName();
    local.closeMain();
    if (fault == "local") {
        QFile file(localFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(QByteArray(8192, 'x')) == 8192);
    }
    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestDatabase shared(proxy.server());
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    QVERIFY(shared.db()->insertSqlClean({ { "Title", "bleibt" } }, "articles") > 0);
    const TableSnapshot before = snapshot(shared.db(), "articles");
    QList<TableSnapshot> old;
    for (const QString &table : kTables)
        old << snapshot(shared.db(), table);
    if (fault == "columns")
        proxy.refuse("SHOW COLUMNS FROM `articles`");

    const QString logFile = shared.dataDir() + "mysql_transfer.log";
    const MySqlTransfer::Result result
        = MySqlTransfer(shared.db(), localFile, logFile).run(nullptr);

    const auto changes = TableSnapshot::diff(before, snapshot(shared.db(), "articles"));
    QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
    if (fault == "local") {
        QCOMPARE(int(result.outcome), int(MySqlTransfer::Outcome::LocalNotOpened));
        QVERIFY2(!result.error.isEmpty(), "no reason");
        return;
    }
    QCOMPARE(proxy.refusals(), 1);
    QCOMPARE(int(result.outcome), int(MySqlTransfer::Outcome::Stopped));
    QCOMPARE(result.table, QString("articles"));
    for (int i = 0; i < kTables.size(); ++i) {
        const auto kept = TableSnapshot::diff(old[i], snapshot(shared.db(), kTables[i]));
        QVERIFY2(kept.isEmpty(), qPrintable(kTables[i] + ":\n" + TableSnapshot::describe(kept)));
    }
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QVERIFY(!lines.contains("DELETE FROM `articles`"));
    QVERIFY(lines.last().contains("Refused by the test proxy"));
    QVERIFY(!lines.contains("Completed"));
}

void TestMySqlTransfer::stopKeepsOld_data()
{
    QTest::addColumn<QString>("fault"); // refuse, cut: what the proxy does; drop: the table
    QTest::addColumn<QByteArray>("statement"); // what it does it to; for drop: the table
    QTest::newRow("pictures' insert refused")
        << "refuse" << QByteArray("INSERT INTO `articles_images`");
    QTest::newRow("pictures' emptying refused")
        << "refuse" << QByteArray("DELETE FROM `articles_images`");
    QTest::newRow("connection lost at the pictures")
        << "cut" << QByteArray("INSERT INTO `articles_images`");
    QTest::newRow("variations' columns refused")
        << "refuse" << QByteArray("SHOW COLUMNS FROM `articles_variations`");
    QTest::newRow("a table the server has not got") << "drop" << QByteArray("textshortcuts");
}

// Whatever stops the transfer after its first tables, the shared database keeps every table
// as it was: no article of the new data beside the pictures or variations of the old.
void TestMySqlTransfer::stopKeepsOld()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, statement);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestDatabase local(Backend::SQLite);
    QVERIFY(local.error().isEmpty());
    for (const char *title : { "Neu A", "Neu B" }) {
        const int id = local.db()->insertSqlClean({ { "Title", title } }, "articles");
        QVERIFY(
            local.db()->insertSqlClean(
                { { "article_id", id }, { "image", QString(title).replace(' ', '_') + ".jpg" } },
                "articles_images")
            > 0);
        QVERIFY(local.db()->insertSqlClean({ { "article_id", id }, { "StartPrice", 3.5 } },
                                           "articles_variations")
                > 0);
    }
    local.closeMain();

    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestDatabase shared(proxy.server());
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    for (const char *title : { "Alt X", "Alt Y" }) {
        const int id = shared.db()->insertSqlClean({ { "Title", title } }, "articles");
        QVERIFY(
            shared.db()->insertSqlClean(
                { { "article_id", id }, { "image", QString(title).replace(' ', '_') + ".jpg" } },
                "articles_images")
            > 0);
        QVERIFY(shared.db()->insertSqlClean({ { "article_id", id }, { "StartPrice", 7.0 } },
                                            "articles_variations")
                > 0);
    }
    QVERIFY(shared.db()->setOption("Kennwort", "alt"));
    if (fault == "drop")
        QVERIFY(shared.db()->executeSQL("DROP TABLE `" + QString::fromUtf8(statement) + "`"));
    QList<TableSnapshot> old;
    for (const QString &table : kTables)
        old << snapshot(shared.db(), table);
    if (fault == "refuse")
        proxy.refuse(statement);
    else if (fault == "cut")
        proxy.cutAfter(statement);

    const QString logFile = shared.dataDir() + "mysql_transfer.log";
    const MySqlTransfer::Result result
        = MySqlTransfer(shared.db(), local.dataDir() + Database::getDatabaseName(), logFile)
              .run(nullptr);

    QCOMPARE(proxy.refusals() + proxy.cuts(), fault == "drop" ? 0 : 1);
    for (int i = 0; i < kTables.size(); ++i) {
        const auto changes = TableSnapshot::diff(old[i], snapshot(shared.db(), kTables[i]));
        QVERIFY2(changes.isEmpty(),
                 qPrintable(kTables[i] + ":\n" + TableSnapshot::describe(changes)));
    }
    QCOMPARE(int(result.outcome), int(MySqlTransfer::Outcome::Stopped));
    QVERIFY2(
        result.error.endsWith("Die MySQL Datenbank enthält unverändert ihre bisherigen Daten."),
        qPrintable(result.error));
    QCOMPARE(result.copiedRows, 0);
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QVERIFY(!lines.contains("Completed"));
    QCOMPARE(lines.last(), result.error);
}

APP_TEST_GUILESS_MAIN(TestMySqlTransfer)
#include "test_mysqltransfer.moc"
