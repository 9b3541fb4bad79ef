#include "core/database.h"
#include "core/schema.h"
#include "core/transaction.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <optional>

using TestSupport::Backend;
using TestSupport::TableSnapshot;

namespace {

QString articleValue(Database &db, int id, const QString &column)
{
    return db.select(QStringLiteral("SELECT %1 FROM articles WHERE id=%2").arg(column).arg(id))
        .value()
        .value(0)
        .value(column, QStringLiteral("<no row>"))
        .toString();
}

// Inserts a row given as "column=value;...", bound as texts; the new id.
int insert(Database &db, const QString &table, const QString &fields)
{
    QMap<QString, QVariant> row;
    for (const QString &pair : fields.split(';'))
        row.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return db.insertSqlClean(row, table);
}

QStringList columnOf(const SqlRows &rows, const QString &name)
{
    QStringList values;
    for (const auto &row : rows)
        values << row.value(name).toString();
    return values;
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void hostileTextsRoundTrip_data();
    void hostileTextsRoundTrip();
    void boundInserts();
    void positionalValuesKeepWhatIsStored_data();
    void positionalValuesKeepWhatIsStored();
    void rowsReadWholeAsTheDriverReadsThem_data();
    void rowsReadWholeAsTheDriverReadsThem();
    void failuresReportTheDriversError();
    void optionsKeepEmptyValuesAndSurviveARestart();
    void optionWriteRefused_data();
    void optionWriteRefused();
    void selectReturnsRowsAsMaps();
    void dateOrderWorksInBothDialects();
    void duplicateRowCopiesPicturesAndVariations();
    void duplicateRowSetsColumnsInTheCopy();
    void rowsReadLikeMapsAndChangeAlone();
    void selectNewsAndRemoveInfo();
    void foldersOfTheDataFolder();
};

void TestDatabase::hostileTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("quotes, backslashes, datetime(")
        << QStringLiteral("a\\'b' \"24\" datetime(StartDate) C:\\neu\\");
    QTest::newRow("umlauts and emoji") << QStringLiteral("Größe: Äpfel 👍🏽");
    QTest::newRow("injection") << QStringLiteral("x'); DROP TABLE articles; --");
    QTest::newRow("long description")
        << QStringLiteral("<p>Lange Beschreibung mit 'Zitaten' und \\ – ").repeated(6000);
}

// Bound values, escapeString in a statement and options, each touching only its own cell.
void TestDatabase::hostileTextsRoundTrip()
{
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int id = db.insertSqlClean({ { "Title", "Ziel" } }, "articles");

    const int inserted
        = db.insertSqlClean({ { "Title", text }, { "Description", text } }, "articles");
    QVERIFY2(inserted > 0, qPrintable(db.lastErrorText));
    QCOMPARE(articleValue(db, inserted, "Description"), text);

    const TableSnapshot before = TableSnapshot::take(db, "articles");
    QVERIFY(db.updateSqlClean({ { "Notes", text } }, "articles", QStringLiteral("id=%1").arg(id)));
    const QString literal = QLatin1Char('\'') + Database::escapeString(text) + QLatin1Char('\'');
    QVERIFY(db.executeSQL(
        QStringLiteral("UPDATE articles SET SubTitle=%1 WHERE id=%2").arg(literal).arg(id)));
    // Exactly these two cells changed, to the text.
    const auto changes = TableSnapshot::diff(before, TableSnapshot::take(db, "articles"));
    QStringList changed;
    for (const auto &change : changes)
        changed << change.key + ':' + change.column + (change.after.toString() == text ? "" : "!");
    QCOMPARE(
        changed,
        QStringList({ QStringLiteral("%1:Notes").arg(id), QStringLiteral("%1:SubTitle").arg(id) }));
    QCOMPARE(db.selectCount("SELECT id FROM articles WHERE SubTitle=" + literal).value(), 1);

    const QString option = QStringLiteral("Test'Option\\");
    QVERIFY(db.setOption(option, text));
    QVERIFY(db.setOption(option, text + "2"));
    QCOMPARE(db.getOption(option, QString()).value(), text + "2");
    QCOMPARE(db.selectCount("SELECT optionname FROM options WHERE optionname LIKE 'Test%'").value(),
             1);
}

// Null is bound as empty text, a flag as 1 or 0; the prepared statement of a connection
// still writes after the table has changed.
void TestDatabase::boundInserts()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QMap<QString, QVariant> values = { { "Title", QVariant() },
                                             { "BestOfferEnabled", true },
                                             { "eBayPlus", false },
                                             { "StartPrice", 12.5 },
                                             { "Quantity", "7" } };
    const int id = db.insertSqlClean(values, "articles");
    QVERIFY2(id > 0, qPrintable(db.lastErrorText));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE id=%1 AND Title='' AND "
                                           "BestOfferEnabled=1 AND eBayPlus=0 AND Quantity > 6 "
                                           "AND StartPrice=12.5")
                                .arg(id))
                 .value(),
             1);
    QVERIFY(db.executeSQL("ALTER TABLE articles ADD COLUMN Spaeter INTEGER DEFAULT 5"));
    const int second = db.insertSqlClean(values, "articles");
    QVERIFY2(second > id, qPrintable(db.lastErrorText));
    QCOMPARE(articleValue(db, second, "Quantity") + articleValue(db, second, "Spaeter"),
             QStringLiteral("75"));
}

// execBound binds whole numbers as numbers, everything else as insertSqlClean binds it (as
// text): a column of numbers or of text stores what the value's text would.
void TestDatabase::positionalValuesKeepWhatIsStored_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("bound"); // as SQLite sees the bound value
    QTest::addColumn<QString>("stored"); // Quantity|CurrentPrice|Title; Quantity empty: not set
    QTest::newRow("int") << QVariant(7) << "integer"
                         << "7|7|7";
    QTest::newRow("negative folder") << QVariant(-9) << "integer"
                                     << "-9|-9|-9";
    QTest::newRow("64 bits") << QVariant(qlonglong(110000000000LL)) << "integer"
                             << "|1.1e+11|110000000000";
    QTest::newRow("digits as text") << QVariant(QStringLiteral("7")) << "text"
                                    << "7|7|7";
    QTest::newRow("price text") << QVariant(QStringLiteral("24.50")) << "text"
                                << "|24.5|24.50";
    QTest::newRow("double") << QVariant(24.5) << "text"
                            << "|24.5|24.5";
    QTest::newRow("flag") << QVariant(true) << "text"
                          << "1|1|1";
    QTest::newRow("null") << QVariant() << "text"
                          << "||";
}

void TestDatabase::positionalValuesKeepWhatIsStored()
{
    QFETCH(QVariant, value);
    QFETCH(QString, bound);
    QFETCH(QString, stored);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const bool sqlite = t.backend() == Backend::SQLite;
    const bool setsQuantity = !stored.startsWith('|');
    const QString sql = setsQuantity
        ? "UPDATE articles SET Quantity=?, CurrentPrice=?, Title=? WHERE id=?"
        : "UPDATE articles SET CurrentPrice=?, Title=? WHERE id=?";
    // Through the driver, and with the rows read whole.
    for (const bool whole : { false, true }) {
        const int id = insert(db, "articles", "Quantity=3");
        QSqlQuery query;
        Database::BoundRows rows;
        if (sqlite) {
            QVERIFY2(whole ? db.execBound("SELECT typeof(?)", { value }, rows)
                           : db.execBound("SELECT typeof(?)", { value }, query) && query.next(),
                     qPrintable(db.lastErrorText));
            QCOMPARE(whole ? rows.value(0, 0).toString() : query.value(0).toString(), bound);
            query.finish();
        }
        const QVector<QVariant> values = setsQuantity
            ? QVector<QVariant> { value, value, value, id }
            : QVector<QVariant> { value, value, id };
        QVERIFY2(whole ? db.execBound(sql, values, rows, Database::Repeat::Safe)
                       : db.execBound(sql, values, query, Database::Repeat::Safe),
                 qPrintable(db.lastErrorText));
        QCOMPARE(articleValue(db, id, "Quantity") + '|'
                     + (value.isNull() ? QString() : articleValue(db, id, "CurrentPrice")) + '|'
                     + articleValue(db, id, "Title"),
                 setsQuantity ? stored : "3" + stored);
        if (sqlite)
            QCOMPARE(db.selectOne(QStringLiteral("SELECT typeof(Quantity) || ',' || "
                                                 "typeof(CurrentPrice) || ',' || typeof(Title) "
                                                 "FROM articles WHERE id=%1")
                                      .arg(id))
                         .value(),
                     value.isNull() ? QStringLiteral("integer,text,text")
                                    : QStringLiteral("integer,real,text"));
    }
}

// A statement run for its rows read whole yields what the same statement run through the
// driver yields: the same rows and values of the same kinds, the same new id, or the same
// failure, told the same way.
void TestDatabase::rowsReadWholeAsTheDriverReadsThem_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<int>("rows"); // -1: fails
    const QString columns = QStringLiteral(
        "SELECT id, Title, CurrentPrice, Quantity, Notes, ItemID, NULL AS Nichts FROM articles ");
    QTest::newRow("rows of every kind")
        << columns + "WHERE Quantity > ? ORDER BY id" << QVariantList { 0 } << 3;
    QTest::newRow("by text and number")
        << columns + "WHERE ItemID = ? AND Quantity = ?" << QVariantList { "110000000001", 5 } << 1;
    QTest::newRow("none") << columns + "WHERE ItemID = ?" << QVariantList { "x' OR ''='" } << 0;
    QTest::newRow("insert")
        << "INSERT INTO itemshistory (indate, itemid, title, databaseid, infotype) VALUES (?, ?, "
           "?, ?, ?)"
        << QVariantList { "2026-03-10 14:30:00", "4711", "Größe 👍🏽|||3", 7, "watcher" }
        << 0;
    QTest::newRow("update") << "UPDATE articles SET Quantity=?, Title=? WHERE id=?"
                            << QVariantList { 9, "Ä'\\", 2 } << 0;
    QTest::newRow("refused by a trigger")
        << "INSERT INTO itemshistory (itemid, infotype) VALUES (?, ?)"
        << QVariantList { "501", "watcher" } << -1;
    QTest::newRow("values missing")
        << "UPDATE articles SET Quantity=? WHERE id=?" << QVariantList { 1 } << -1;
    QTest::newRow("unknown column")
        << "SELECT Nichtda FROM articles WHERE id=?" << QVariantList { 1 } << -1;
}

void TestDatabase::rowsReadWholeAsTheDriverReadsThem()
{
    QFETCH(QString, sql);
    QFETCH(QVariantList, values);
    QFETCH(int, rows);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    insert(db, "articles", "ItemID=110000000000;Title=Uhr;Quantity=3;CurrentPrice=24.5");
    insert(db, "articles", "ItemID=110000000001;Title=Größe 👍🏽 'x';Quantity=5;Notes=");
    insert(db, "articles", "ItemID=110000000002;Quantity=1;CurrentPrice=0.1");
    QVERIFY2(db.executeSQL(
                 t.backend() == Backend::MySQL
                     ? "CREATE TRIGGER refuse BEFORE INSERT ON itemshistory FOR EACH ROW BEGIN IF "
                       "NEW.itemid = '501' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = "
                       "'Datenträger voll'; END IF; END"
                     : "CREATE TRIGGER refuse BEFORE INSERT ON itemshistory WHEN NEW.itemid = "
                       "'501' BEGIN SELECT RAISE(ABORT, 'Datenträger voll'); END"),
             qPrintable(db.lastErrorText));
    const QVector<QVariant> bound = values.toVector();
    // Each value with its kind, row after row; or the failure as the seller and the log get it.
    const auto outcome = [&](bool ok, const QVariantList &cells, qint64 id) {
        QStringList out;
        if (!ok) {
            return QStringList { "failed", db.lastErrorText,
                                 QString::number(int(db.lastOutcome())) };
        }
        for (const QVariant &cell : cells)
            out << QString::fromLatin1(cell.typeName()) + ':'
                    + (cell.isNull() ? QStringLiteral("NULL") : cell.toString());
        // MySQL does not take back the id of a row undone.
        return out << (id > 0 ? "new id" : "no id");
    };

    // The same statement twice, from the same start: first in a transaction then undone.
    auto first = std::make_unique<Transaction>(db);
    QVERIFY(first->isOpen());
    QSqlQuery query;
    const quint64 failuresBefore = db.failedStatements();
    bool ok = db.execBound(sql, bound, query);
    QVariantList cells;
    int count = 0;
    while (ok && query.next()) {
        ++count;
        for (int i = 0; i < query.record().count(); ++i)
            cells << query.value(i);
    }
    const QStringList driver = outcome(ok, cells, ok ? query.lastInsertId().toLongLong() : 0);
    query.finish();
    QCOMPARE(ok ? count : -1, rows);
    const quint64 driverFailures = db.failedStatements() - failuresBefore;
    first.reset();

    Database::BoundRows whole;
    ok = db.execBound(sql, bound, whole);
    QCOMPARE(ok ? whole.count() : -1, rows);
    QCOMPARE(outcome(ok, whole.values.toList(), whole.insertId), driver);
    if (ok && sql.startsWith("INSERT"))
        QCOMPARE(QString::number(whole.insertId),
                 db.selectOne("SELECT max(id) FROM itemshistory").value());
    QCOMPARE(db.failedStatements() - failuresBefore - driverFailures, driverFailures);
    if (ok && rows > 0)
        QCOMPARE(whole.value(rows - 1, 0), cells.at((rows - 1) * whole.columns));
}

// A column name is never a way into the statement; the error text is set by a failure and
// cleared by the next success.
void TestDatabase::failuresReportTheDriversError()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    for (const char *column : { "NoSuchColumn", "Title`) VALUES ('x'); --" }) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SQL Insert Error: "));
        QCOMPARE(db.insertSqlClean({ { column, 1 } }, "articles"), 0);
        QVERIFY(!db.lastErrorText.isEmpty());
    }
    QVERIFY(db.insertSqlClean({ { "Title", "ok" } }, "articles") > 0);
    QVERIFY(db.lastErrorText.isEmpty());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SQL Error: "));
    QVERIFY(!db.executeSQL("UPDATE nosuchtable SET a=1"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SQL Error: "));
    // A failed read is no empty one: it says why.
    const Read<SqlRows> failed = db.select("SELECT nonsense FROM articles");
    QVERIFY(!failed.ok());
    QVERIFY(!failed.error().isEmpty());
    QVERIFY(!db.lastErrorText.isEmpty());
    QCOMPARE(failed.error(), db.lastErrorText);
    QVERIFY(!db.select("SELECT id FROM articles").value().isEmpty());
    QVERIFY(db.lastErrorText.isEmpty());
    // An update that matches no row has still run.
    QVERIFY(db.updateSqlClean({ { "Title", "x" } }, "articles", "id=999999"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^SQL Insert Error: "));
    QVERIFY(!db.updateSqlClean({ { "Title", "x" } }, "articles", "nosuchcolumn=1"));
}

void TestDatabase::optionsKeepEmptyValuesAndSurviveARestart()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QCOMPARE(db.getOption("SyncIntervall", "60").value(), QStringLiteral("60"));
    QVERIFY(db.setOption("SyncIntervall", "15"));
    QVERIFY(db.setOption("backuppath", QString()));
    QCOMPARE(db.getOption("backuppath", "/default").value(), QString());
    // A table without an automatic key reports no id (SQLite its row number), which is no
    // failure: the error text tells.
    static_cast<void>(
        db.insertSqlClean({ { "optionname", "direct" }, { "optionvalue", "1" } }, "options"));
    QVERIFY2(db.lastErrorText.isEmpty(), qPrintable(db.lastErrorText));
    t.reopen();
    QCOMPARE(t.db()->getOption("SyncIntervall", "60").value(), QStringLiteral("15"));
    QCOMPARE(t.db()->getOption("direct", QString()).value(), QStringLiteral("1"));
}

// In a join the later table's value wins for a shared name: "articles.*" last gives the
// article's id, the one every update goes to.
void TestDatabase::optionWriteRefused_data()
{
    QTest::addColumn<QString>("before"); // the stored value; null: none
    QTest::addColumn<QString>("refused"); // the statement refused on the options table
    QTest::addColumn<bool>("inTransaction");
    QTest::addColumn<bool>("stored");
    QTest::newRow("first value, insert refused") << QString() << "INSERT" << false << false;
    QTest::newRow("first value, insert refused in a transaction")
        << QString() << "INSERT" << true << false;
    QTest::newRow("changed value, update refused") << "5"
                                                   << "UPDATE" << false << false;
    QTest::newRow("first value, update refused") << QString() << "UPDATE" << false << true;
    QTest::newRow("changed value, insert refused") << "5"
                                                   << "INSERT" << true << true;
}

// A value that is not stored is not reported as stored, nor is the transaction it is part of
// kept.
void TestDatabase::optionWriteRefused()
{
    QFETCH(QString, before);
    QFETCH(QString, refused);
    QFETCH(bool, inTransaction);
    QFETCH(bool, stored);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    if (!before.isNull())
        QVERIFY(db.setOption("SyncIntervall", before));
    QVERIFY(db.setOption("NotiNewSale", "1"));
    QVERIFY(TestSupport::refuseRows(&db, "options", refused, "Platte voll"));

    bool ok = false;
    {
        std::optional<Transaction> transaction;
        if (inTransaction)
            transaction.emplace(db);
        // Written with another option: in a transaction both are kept, or neither.
        ok = db.setOption("SyncIntervall", "15");
        if (inTransaction) {
            ok = db.setOption("NotiNewSale", "0") && ok;
            ok = transaction->commit() && ok;
        }
    }
    QCOMPARE(ok, stored);
    if (!stored)
        QVERIFY2(db.lastErrorText.contains("Platte voll"), qPrintable(db.lastErrorText));
    QCOMPARE(db.getOption("SyncIntervall", "-").value(),
             stored                ? QString("15")
                 : before.isNull() ? QString("-")
                                   : before);
    QCOMPARE(db.getOption("NotiNewSale", "-").value(),
             QString(inTransaction && stored ? "0" : "1"));
}

void TestDatabase::selectReturnsRowsAsMaps()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int account
        = db.insertSqlClean({ { "accountname", "shop_a" }, { "token", "tok" } }, "accounts");
    for (const char *title : { "A0", "A1", "A2" })
        QVERIFY(db.insertSqlClean({ { "Title", title }, { "Account", account } }, "articles") > 0);
    const SqlRows rows = db.select("SELECT a.*, articles.* FROM articles JOIN accounts a "
                                   "ON articles.Account = a.id ORDER BY articles.id DESC")
                             .value();
    QCOMPARE(columnOf(rows, "Title"), QStringList({ "A2", "A1", "A0" }));
    QCOMPARE(columnOf(rows, "id"),
             columnOf(db.select("SELECT id FROM articles ORDER BY id DESC").value(), "id"));
    QCOMPARE(rows.first().value("token").toString(), QStringLiteral("tok"));
}

// The sort orders of the article list use datetime(), which MySQL lacks.
void TestDatabase::dateOrderWorksInBothDialects()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QStringList dates = { "2026-03-01 10:00:00", "2025-12-31 23:59:59", "2026-11-05 08:30:00",
                                "0000-00-00 00:00:00" };
    for (int i = 0; i < dates.size(); ++i)
        QVERIFY(db.insertSqlClean(
                    { { "Title", QStringLiteral("d%1").arg(i) }, { "StartDate", dates.at(i) } },
                    "articles")
                > 0);
    const SqlRows rows = db.select("SELECT Title FROM articles WHERE StartDate <> "
                                   "'0000-00-00 00:00:00' ORDER BY DateTime(StartDate) DESC")
                             .value();
    QCOMPARE(columnOf(rows, "Title"), QStringList({ "d2", "d0", "d1" }));
    // Text in quotes is never rewritten.
    QCOMPARE(db.selectOne("SELECT 'datetime(x)' AS t").value(), QStringLiteral("datetime(x)"));
}

void TestDatabase::duplicateRowCopiesPicturesAndVariations()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int source
        = insert(db, "articles", "Title=Original's \\ Titel;Folder=4;ItemID=1100;StartPrice=9.99");
    const int unrelated = insert(db, "articles", "Title=Anderer");
    for (const char *image : { "bild_0.jpg", "bild_1.jpg" })
        insert(db, "articles_images",
               QStringLiteral("article_id=%1;image=%2").arg(source).arg(image));
    insert(db, "articles_images", QStringLiteral("article_id=%1;image=fremd.jpg").arg(unrelated));
    insert(db, "articles_variations", QStringLiteral("article_id=%1;SKU=R-1").arg(source));
    const int second
        = insert(db, "articles_variations", QStringLiteral("article_id=%1;SKU=R-2").arg(source));
    insert(db, "articles_images",
           QStringLiteral("article_id=%1;image=var.jpg;variant_id=%2").arg(source).arg(second));
    const TableSnapshot before = TableSnapshot::take(db, "articles");

    const int copy = db.DuplicateRow("articles", "id", QString::number(source), "", "");
    QVERIFY2(copy > unrelated, qPrintable(db.lastErrorText));

    // Only the copy was added, equal to its source but for the id.
    const TableSnapshot after = TableSnapshot::take(db, "articles");
    const auto changes = TableSnapshot::diff(before, after);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.first().key + changes.first().column, QString::number(copy) + "<added>");
    auto duplicate = after.row(QString::number(copy));
    duplicate.insert("id", after.row(QString::number(source)).value("id"));
    QCOMPARE(duplicate, after.row(QString::number(source)));
    const auto children = [&db](const char *table, const char *column, int article) {
        return columnOf(
            db.select(QStringLiteral("SELECT %1 FROM %2 WHERE article_id=%3 ORDER BY id")
                          .arg(QLatin1String(column), QLatin1String(table))
                          .arg(article))
                .value(),
            column);
    };
    for (int article : { source, copy }) {
        QCOMPARE(children("articles_images", "image", article),
                 QStringList({ "bild_0.jpg", "bild_1.jpg", "var.jpg" }));
        QCOMPARE(children("articles_variations", "SKU", article), (QStringList { "R-1", "R-2" }));
        // A variation's picture belongs to that article's own variation.
        QCOMPARE(db.selectOne(QStringLiteral("SELECT v.SKU FROM articles_images i JOIN "
                                             "articles_variations v ON v.id = i.variant_id "
                                             "WHERE i.article_id=%1 AND i.image='var.jpg' AND "
                                             "v.article_id=%1")
                                  .arg(article))
                     .value(),
                 QStringLiteral("R-2"));
    }

    // Missing (or injected) ids copy nothing; a column to change gets the new value.
    for (const char *missing : { "4711", "x' OR '1'='1" })
        QCOMPARE(db.DuplicateRow("articles", "id", missing, "", ""), 0);
    QCOMPARE(db.selectCount("SELECT id FROM articles").value(), 3);
    const int folder = db.insertSqlClean({ { "foldername", "Alt" } }, "folders");
    const int renamed
        = db.DuplicateRow("folders", "id", QString::number(folder), "foldername", "Neu's");
    QVERIFY(renamed > folder);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT foldername FROM folders WHERE id=%1").arg(renamed))
                 .value(),
             QStringLiteral("Neu's"));
}

// The columns to change are written by the copying statement; a column an upgrade adds is
// copied too, though the columns were read before it.
void TestDatabase::duplicateRowSetsColumnsInTheCopy()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int source = insert(db, "articles", "Title=Uhr;Folder=-9;ItemID=1100;WatchCount=4");
    QVERIFY(db.DuplicateRow("articles", "id", QString::number(source), "", "") > source);

    QVERIFY(db.executeSQL("ALTER TABLE articles ADD COLUMN Extra TEXT"));
    QVERIFY(db.executeSQL("UPDATE articles SET Extra='mit' WHERE id=" + QString::number(source)));
    QVERIFY(db.setOption(Schema::versionOption(), "5"));
    QVERIFY(Schema::upgrade(db));

    const int copy = db.DuplicateRow("articles", "id", QString::number(source),
                                     { { "Folder", 12 },
                                       { "ItemID", QString() },
                                       { "WatchCount", 0 },
                                       { "Title", "O'Neil \\" } });
    QVERIFY2(copy > source + 1, qPrintable(db.lastErrorText));
    QCOMPARE(TestSupport::values(&db, copy, "Folder,ItemID,WatchCount,Title,Extra"),
             QStringLiteral("12||0|O'Neil \\|mit"));
    if (t.backend() == Backend::SQLite)
        QCOMPARE(db.selectOne("SELECT typeof(WatchCount) FROM articles WHERE id="
                              + QString::number(copy))
                     .value(),
                 QStringLiteral("integer"));
}

// Rows of a result read by column name in the order of their names, as maps; changing one row
// changes neither the others nor what it was turned into before.
void TestDatabase::rowsReadLikeMapsAndChangeAlone()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const SqlRows rows
        = db.select("SELECT 2 AS b, 'x' AS c, 1 AS a UNION ALL SELECT 4, 'y', 3").value();
    QCOMPARE(rows.size(), 2);
    SqlRow row = rows.first();
    QCOMPARE(row.keys(), QStringList({ "a", "b", "c" }));
    QCOMPARE(row.value("b").toInt() + row["a"].toInt(), 3);
    QCOMPARE(row.value("z", "nichts").toString(), QStringLiteral("nichts"));
    QVERIFY(!row.contains("z") && row.contains("c"));
    QStringList pairs;
    for (auto it = row.cbegin(); it != row.cend(); ++it)
        pairs << it.key() + '=' + it.value().toString();
    QCOMPARE(pairs, QStringList({ "a=1", "b=2", "c=x" }));

    const QMap<QString, QVariant> map = row;
    QCOMPARE(map, (QMap<QString, QVariant> { { "a", 1 }, { "b", 2 }, { "c", "x" } }));
    row.insert("aa", "neu");
    row["b"] = 20;
    QCOMPARE(row.remove("c"), 1);
    QCOMPARE(row.keys(), QStringList({ "a", "aa", "b" }));
    QCOMPARE(row.toMap().value("b").toInt(), 20);
    QCOMPARE(map.value("b").toInt(), 2);
    QCOMPARE(rows.first().keys(), QStringList({ "a", "b", "c" }));
    QCOMPARE(rows.first().value("b").toInt(), 2);
    QCOMPARE(rows.last().value("c").toString(), QStringLiteral("y"));

    // Taken and given as lists of maps as before.
    const QList<QMap<QString, QVariant>> maps = rows;
    QCOMPARE(maps.last().value("a").toInt(), 3);
    QCOMPARE(SqlRows(maps).first().value("c").toString(), QStringLiteral("x"));
}

void TestDatabase::selectNewsAndRemoveInfo()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    for (const char *time : { "09:00", "11:30", "10:15" })
        insert(db, "itemshistory",
               QStringLiteral("indate=2026-12-06 %1:00;itemid=110001;title=Uhr|||1;databaseid=41")
                   .arg(time));
    const QList<NewsItem> newest = db.selectNews("ORDER BY datetime(indate) DESC LIMIT 2").value();
    QCOMPARE(newest.size(), 2);
    QCOMPARE(newest.first().indate, QDateTime(QDate(2026, 12, 6), QTime(11, 30)));
    QCOMPARE(newest.first().title + newest.first().itemid
                 + QString::number(newest.first().databaseid),
             QStringLiteral("Uhr|||111000141"));
    QCOMPARE(newest.last().indate.time(), QTime(10, 15));

    // On MySQL only: a removal is recorded, and queued for the synchronising workstation
    // only when this one does not synchronise.
    QVERIFY(db.mysqlAddRemoveInfo(-9, "17"));
    qApp->setProperty("mysqlsyncworkstation", false);
    QVERIFY(db.mysqlAddRemoveInfo(-7, "18"));
    const QList<NewsItem> removals = db.selectNews("infotype='removeitem' ORDER BY id").value();
    QCOMPARE(removals.size(), t.backend() == Backend::MySQL ? 2 : 0);
    if (!removals.isEmpty())
        QCOMPARE(db.selectOne("SELECT group_concat(newsid) FROM clienttoserver").value(),
                 QString::number(removals.last().id));
}

// Folders of the data folder are made again when removed while running; the pictures (not
// the thumbnails) go to the shared picture folder when it exists.
void TestDatabase::foldersOfTheDataFolder()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QString data = t.dataDir();
    QCOMPARE(db.getCurrentDataDir(), data);
    QVERIFY(QDir(data + "cache").removeRecursively());
    QCOMPARE(db.getCacheDir(), data + "cache/");
    QVERIFY(QDir(data + "cache").exists());

    QTemporaryDir shared;
    qApp->setProperty("mysqlimagepath", shared.path());
    QCOMPARE(db.getCurrentAdImageDir(), shared.path() + "/adimages/");
    QVERIFY(QDir(shared.path() + "/adimages").exists());
    QCOMPARE(db.getCurrentAdImageDirThumbs(), data + "adimages_thumb/");
    qApp->setProperty("mysqlimagepath", shared.path() + "/gibt-es-nicht");
    QCOMPARE(db.getCurrentAdImageDir(), data + "adimages/");
}

APP_TEST_MAIN(TestDatabase)
#include "test_database.moc"
