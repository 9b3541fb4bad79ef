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
    QCOMPARE(db.selectOne("SELECT group_concat(Title) FROM articles WHERE SoldCount < Quantity"),
             QStringLiteral("a"));
    QCOMPARE(db.selectOne("SELECT Title FROM articles ORDER BY StartPrice DESC"),
             QStringLiteral("b"));
    QCOMPARE(db.selectOne("SELECT group_concat(ItemID) FROM articles WHERE ItemID = '0110'"),
             QStringLiteral("0110"));

    const int id = db.insertSqlClean({ { "Title", "Nur ein Titel" } }, "articles");
    QVERIFY2(id > 0, qPrintable(db.lastErrorText));
    QCOMPARE(db.selectCount("SELECT id FROM articles WHERE Planned_Interval='' AND ItemID = '' "
                            "AND DoCheck=0 AND Trash=0 AND SoldCount=0 AND Site=77"),
             1);
    QVERIFY(db.insertSqlClean({ { "accountname", "verkäufer_1" } }, "accounts") > 0);
    QCOMPARE(rowsAsText(db.select("SELECT * FROM accounts"), "active,sandbox"),
             QStringList { "1|0" });
}

// A new database has every column at the current version; a new start changes neither
// the tables nor the options; a database of a newer program is left as it is.
void TestSchema::restartsChangeNothing()
{
    APP_TEST_DATABASE(t);
    QCOMPARE(missingColumns(*t.db()), QStringList());
    QCOMPARE(t.db()->getOption(Schema::versionOption(), QString()),
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
    QCOMPARE(t.db()->getOption(Schema::versionOption(), QString()), newer);
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
    QCOMPARE(db.getOption(Schema::versionOption(), QString()),
             QString::number(Schema::currentVersion()));
    QCOMPARE(db.getOption("lastOrder", QString()), QStringLiteral("id DESC"));
    QCOMPARE(missingColumns(db), QStringList());

    // The old rows keep their values; new columns arrive with their defaults.
    QCOMPARE(rowsAsText(db.select("SELECT * FROM articles ORDER BY id"),
                        "Title,Folder,Description,DoCheck,ItemID"),
             QStringList({ "A1|-11|<p>1</p>|0|", "A2|-12|<p>2</p>|0|" }));
    QCOMPARE(rowsAsText(db.select("SELECT * FROM accounts"), "accountname,token,active"),
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
    const QStringList wanted { "idx_articles_account", "idx_articles_folder", "idx_articles_itemid" };
    for (const QString &index : wanted)
        QVERIFY2(t.db()->executeSQL(mysql ? "DROP INDEX `" + index + "` ON articles"
                                          : "DROP INDEX `" + index + '`'),
                 qPrintable(t.db()->lastErrorText));
    t.db()->setOption(Schema::versionOption(), "2");

    t.reopen();
    QStringList present;
    for (const auto &row : t.db()->select(mysql ? "SHOW INDEX FROM articles"
                                                : "PRAGMA index_list(articles)"))
        present << row.value(mysql ? "Key_name" : "name").toString();
    for (const QString &index : wanted)
        QVERIFY2(present.contains(index), qPrintable(index));
}

APP_TEST_MAIN(TestSchema)
#include "test_schema.moc"
