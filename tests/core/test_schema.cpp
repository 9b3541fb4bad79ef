#include "core/database.h"
#include "core/schema.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

using TestSupport::Backend;
using TestSupport::TableSnapshot;

namespace {

// The indexes of `table`, each as "name(column,column)".
QStringList indexesOf(Database &db, const QString &table)
{
    QMap<QString, QStringList> columns;
    if (db.isMySQL) {
        for (const auto &row : db.select("SHOW INDEX FROM `" + table + '`').value())
            columns[row.value("Key_name").toString()] << row.value("Column_name").toString();
    } else {
        for (const auto &index : db.select("PRAGMA index_list(`" + table + "`)").value()) {
            const QString name = index.value("name").toString();
            for (const auto &row : db.select("PRAGMA index_info(`" + name + "`)").value())
                columns[name] << row.value("name").toString();
        }
    }
    QStringList out;
    for (auto it = columns.cbegin(); it != columns.cend(); ++it)
        out << it.key() + '(' + it.value().join(',') + ')';
    return out;
}

QStringList columnsOf(Database &db, const QString &table)
{
    const QSqlRecord record = db.connection().record(table);
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    return names;
}

// Per row the values of `columns` ("a,b"), joined by "|".
QStringList rowsAsText(const SqlRows &rows, const QString &columns)
{
    QStringList out;
    for (const auto &row : rows) {
        QStringList values;
        for (const QString &column : columns.split(','))
            values << row.value(column).toString();
        out << values.join('|');
    }
    return out;
}

// "table.column" of every column of the schema the database lacks; names are compared
// with their case, as the CSV mapping and the MySQL upload use them.
QStringList missingColumns(Database &db)
{
    QStringList missing;
    for (const Schema::Table &table : Schema::tables()) {
        const QStringList present = columnsOf(db, table.name);
        for (const Schema::Column &column : table.columns) {
            if (!present.contains(column.name, Qt::CaseSensitive))
                missing << table.name + '.' + column.name;
        }
    }
    return missing;
}

// Tables and their columns, for comparing the whole catalogue before and after.
QStringList catalogue(Database &db)
{
    QStringList out;
    QStringList tables = db.connection().tables(QSql::Tables);
    tables.sort();
    for (const QString &table : qAsConst(tables))
        out << table + ':' + columnsOf(db, table).join(',');
    return out;
}

} // namespace

class TestSchema : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void columnTypesAndDefaults();
    void restartsChangeNothing();
    void upgradeFromAnOlderSchemaKeepsEveryRow();
    void upgradeCreatesMissingIndexes();
    void upgradeReplacesTheAccountIndex();
    void accountStatementsUseTheirIndex_data();
    void accountStatementsUseTheirIndex();

private:
    // Puts the database back to version 5, with the index on the account alone, and lets
    // the next start upgrade it.
    void reopenAsVersion5(TestSupport::TestDatabase &t);
};

// Counters and prices arrive quoted, as the workers and the bulk dialogs write them, and
// must still compare and sort as numbers; item numbers are texts. A row with few columns
// gets the defaults the workers' queries compare with.
void TestSchema::columnTypesAndDefaults()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QVERIFY(db.executeSQL("INSERT INTO articles (Title, SoldCount, Quantity, StartPrice, Folder, "
                          "ItemID) VALUES ('a', '3', '10', '9.5', '-9', '110'), "
                          "('b', '12', '2', '10', '-9', '0110')"));
    QCOMPARE(
        db.selectOne("SELECT group_concat(Title) FROM articles WHERE SoldCount < Quantity").value(),
        QStringLiteral("a"));
    QCOMPARE(db.selectOne("SELECT Title FROM articles ORDER BY StartPrice DESC").value(),
             QStringLiteral("b"));
    QCOMPARE(
        db.selectOne("SELECT group_concat(ItemID) FROM articles WHERE ItemID = '0110'").value(),
        QStringLiteral("0110"));

    const int id = db.insertSqlClean({ { "Title", "Nur ein Titel" } }, "articles");
    QVERIFY2(id > 0, qPrintable(db.lastErrorText));
    QCOMPARE(db.selectCount("SELECT id FROM articles WHERE Planned_Interval='' AND ItemID = '' "
                            "AND DoCheck=0 AND Trash=0 AND SoldCount=0 AND Site=77")
                 .value(),
             1);
    QVERIFY(db.insertSqlClean({ { "accountname", "verkäufer_1" } }, "accounts") > 0);
    QCOMPARE(rowsAsText(db.select("SELECT * FROM accounts").value(), "active,sandbox"),
             QStringList { "1|0" });
}

// A new database has every column at the current version; a new start changes neither
// the tables nor the options; a database of a newer program is left as it is.
void TestSchema::restartsChangeNothing()
{
    APP_TEST_DATABASE(t);
    QCOMPARE(missingColumns(*t.db()), QStringList());
    QCOMPARE(t.db()->getOption(Schema::versionOption(), QString()).value(),
             QString::number(Schema::currentVersion()));
    const QStringList before = catalogue(*t.db());
    const auto optionsBefore = TableSnapshot::take(*t.db(), "options", "optionname");
    t.reopen();
    t.reopen();
    QCOMPARE(catalogue(*t.db()), before);
    const auto changes
        = TableSnapshot::diff(optionsBefore, TableSnapshot::take(*t.db(), "options", "optionname"));
    QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));

    const QString newer = QString::number(Schema::currentVersion() + 5);
    t.db()->setOption(Schema::versionOption(), newer);
    QVERIFY(t.db()->executeSQL("ALTER TABLE folders ADD COLUMN spaeter INTEGER"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("newer than this program"));
    t.reopen();
    QCOMPARE(t.db()->getOption(Schema::versionOption(), QString()).value(), newer);
    QVERIFY(columnsOf(*t.db(), "folders").contains("spaeter"));
}

// A database as an early version of the program left it: three tables with fewer columns,
// some rows, schema version 1.
void TestSchema::upgradeFromAnOlderSchemaKeepsEveryRow()
{
    APP_TEST_DATABASE(t);
    const bool mysql = t.backend() == Backend::MySQL;
    t.closeMain();
    {
        QSqlDatabase raw = t.rawConnection(QStringLiteral("old_schema"));
        QVERIFY2(raw.isOpen(), qPrintable(raw.lastError().text()));
        QSqlQuery q(raw);
        for (const QString &table : raw.tables(QSql::Tables)) {
            if (!table.startsWith(QLatin1String("sqlite_")))
                QVERIFY2(q.exec("DROP TABLE `" + table + '`'), qPrintable(q.lastError().text()));
        }
        const QString key = mysql ? "INT NOT NULL AUTO_INCREMENT PRIMARY KEY"
                                  : "INTEGER PRIMARY KEY AUTOINCREMENT";
        for (const QString &statement :
             { "CREATE TABLE articles (id " + key
                   + ", Title TEXT, Folder INTEGER, Description TEXT)",
               "CREATE TABLE accounts (id " + key + ", accountname VARCHAR(150), token TEXT)",
               QStringLiteral("CREATE TABLE options (optionname VARCHAR(255), optionvalue TEXT)"),
               QStringLiteral("INSERT INTO options VALUES ('SchemaVersion', '1'), "
                              "('lastOrder', 'id DESC')"),
               QStringLiteral(
                   "INSERT INTO accounts (accountname, token) VALUES ('händler', 'T0K')"),
               QStringLiteral("INSERT INTO articles (Title, Folder, Description) VALUES "
                              "('A1', -11, '<p>1</p>'), ('A2', -12, '<p>2</p>')") })
            QVERIFY2(q.exec(statement), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old_schema"));

    t.reopen();
    Database &db = *t.db();
    QCOMPARE(db.getOption(Schema::versionOption(), QString()).value(),
             QString::number(Schema::currentVersion()));
    QCOMPARE(db.getOption("lastOrder", QString()).value(), QStringLiteral("id DESC"));
    QCOMPARE(missingColumns(db), QStringList());

    // The old rows keep their values; new columns arrive with their defaults.
    QCOMPARE(rowsAsText(db.select("SELECT * FROM articles ORDER BY id").value(),
                        "Title,Folder,Description,DoCheck,ItemID"),
             QStringList({ "A1|-11|<p>1</p>|0|", "A2|-12|<p>2</p>|0|" }));
    QCOMPARE(rowsAsText(db.select("SELECT * FROM accounts").value(), "accountname,token,active"),
             QStringList { "händler|T0K|1" });
    QVERIFY2(db.insertSqlClean({ { "Title", "neu" }, { "SoldCount", 2 } }, "articles") > 2,
             qPrintable(db.lastErrorText));
}

// A database of a version before the indexes on item number, folder and account: the
// upgrade makes them.
void TestSchema::upgradeCreatesMissingIndexes()
{
    APP_TEST_DATABASE(t);
    const bool mysql = t.backend() == Backend::MySQL;
    const QStringList wanted { "idx_articles_account_itemid", "idx_articles_folder",
                               "idx_articles_itemid" };
    for (const QString &index : wanted)
        QVERIFY2(t.db()->executeSQL(mysql ? "DROP INDEX `" + index + "` ON articles"
                                          : "DROP INDEX `" + index + '`'),
                 qPrintable(t.db()->lastErrorText));
    t.db()->setOption(Schema::versionOption(), "2");

    t.reopen();
    QStringList present;
    for (const auto &row :
         t.db()->select(mysql ? "SHOW INDEX FROM articles" : "PRAGMA index_list(articles)").value())
        present << row.value(mysql ? "Key_name" : "name").toString();
    for (const QString &index : wanted)
        QVERIFY2(present.contains(index), qPrintable(index));
}

void TestSchema::reopenAsVersion5(TestSupport::TestDatabase &t)
{
    const bool mysql = t.backend() == Backend::MySQL;
    Database &db = *t.db();
    QVERIFY2(db.executeSQL(mysql ? "DROP INDEX `idx_articles_account_itemid` ON articles"
                                 : "DROP INDEX `idx_articles_account_itemid`"),
             qPrintable(db.lastErrorText));
    QVERIFY2(db.executeSQL("CREATE INDEX `idx_articles_account` ON `articles` (`Account`)"),
             qPrintable(db.lastErrorText));
    db.setOption(Schema::versionOption(), "5");
    t.reopen();
}

// A database that the index on the account alone has already reached loses it for the one on
// account and item number; the rows stay.
void TestSchema::upgradeReplacesTheAccountIndex()
{
    APP_TEST_DATABASE(t);
    const QStringList fresh = indexesOf(*t.db(), "articles");
    QVERIFY(t.db()->insertSqlClean({ { "ItemID", "110" }, { "Account", 2 } }, "articles") > 0);
    reopenAsVersion5(t);
    if (QTest::currentTestFailed())
        return;

    const QStringList indexes = indexesOf(*t.db(), "articles");
    QVERIFY2(indexes.contains("idx_articles_account_itemid(Account,ItemID)"),
             qPrintable(indexes.join(' ')));
    QVERIFY2(!indexes.join(' ').contains("idx_articles_account("), qPrintable(indexes.join(' ')));
    QCOMPARE(t.db()->getOption(Schema::versionOption(), QString()).value(),
             QString::number(Schema::currentVersion()));
    QCOMPARE(t.db()->selectOne("SELECT id FROM articles WHERE ItemID='110' AND Account=2").value(),
             QStringLiteral("1"));
    // An upgraded database has the indexes of a new one.
    QCOMPARE(indexes, fresh);
}

// The statements that pick an account's articles, as the synchronisation, the listing worker
// and the article list run them, and the index each must search with: none scans the table
// or searches all rows of the account for one listing.
void TestSchema::accountStatementsUseTheirIndex_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("index");
    const QString stamp = QStringLiteral("2026-03-10 14:30:00");
    const QString unseen = " AND RefreshHash NOT LIKE '" + stamp
        + "' AND Trash=0 AND (StartDate IS NULL OR StartDate < '" + stamp + "') AND Account=1";
    QTest::newRow("synchronisation: a listing by item number")
        << "SELECT ListingType, CurrentPrice, Title, BidCount, Quantity, QuestionCount, "
           "WatchCount, SoldCount, id, Folder, Trash, Currency FROM articles WHERE ItemID = ? "
           "AND Account = ?"
        << "idx_articles_account_itemid";
    QTest::newRow("synchronisation: the account's item numbers")
        << "SELECT ItemID FROM articles WHERE ItemID <> '' AND Account = 1"
        << "idx_articles_account_itemid";
    QTest::newRow("synchronisation: unseen and unsold")
        << "UPDATE articles SET Folder=-8 WHERE SoldCount<Quantity AND Folder=-9" + unseen
        << "idx_articles_folder";
    QTest::newRow("synchronisation: unseen and sold out")
        << "UPDATE articles SET Folder=-7 WHERE SoldCount=Quantity AND (Folder=-9 OR Folder=-8)"
            + unseen
        << "idx_articles_account_itemid";
    QTest::newRow("article list of one account")
        << "SELECT id, Title FROM articles WHERE Folder=-9 AND Trash=0 AND Account=1 ORDER BY id"
        << "idx_articles_folder";
    QTest::newRow("listing worker: queued articles with their account")
        << "SELECT accounts.token, articles.* FROM accounts, articles WHERE "
           "articles.Account=accounts.id AND articles.DoCheck=2 AND articles.Folder = -2 LIMIT 2"
        << "idx_articles_docheck";
}

void TestSchema::accountStatementsUseTheirIndex()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend == Backend::MySQL)
        QSKIP("The query plans checked here are SQLite's; MySQL plans by its statistics.");
    QFETCH(QString, sql);
    QFETCH(QString, index);
    APP_TEST_DATABASE(t);
    reopenAsVersion5(t);
    if (QTest::currentTestFailed())
        return;

    // A statement that binds its values gets an item number and an account.
    QSqlQuery plan(t.db()->connection());
    QVERIFY2(plan.prepare("EXPLAIN QUERY PLAN " + sql), qPrintable(plan.lastError().text()));
    for (int i = 0; i < sql.count('?'); ++i)
        plan.addBindValue(i == 0 ? QVariant("110000000001") : QVariant(1));
    QVERIFY2(plan.exec(), qPrintable(plan.lastError().text()));
    QStringList steps;
    while (plan.next())
        steps << plan.value("detail").toString();
    const QString shown = steps.join(" / ");
    bool searched = false;
    for (const QString &step : qAsConst(steps)) {
        if (!step.contains(QLatin1String(" articles")))
            continue;
        QVERIFY2(!step.startsWith(QLatin1String("SCAN")), qPrintable(shown));
        searched = searched || step.contains("INDEX " + index + ' ');
    }
    QVERIFY2(searched, qPrintable(shown));
}

APP_TEST_MAIN(TestSchema)
#include "test_schema.moc"
