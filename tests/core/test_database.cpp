#include "core/database.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>

using TestSupport::Backend;
using TestSupport::TableSnapshot;

namespace {

int insertArticle(Database &db, const QString &title, int folder = -10)
{
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), title);
    row.insert(QStringLiteral("Folder"), folder);
    row.insert(QStringLiteral("Description"), QStringLiteral("<p>%1</p>").arg(title));
    return db.insertSqlClean(row, QStringLiteral("articles"));
}

QString articleValue(Database &db, int id, const QString &column)
{
    const SqlRows rows
        = db.select(QStringLiteral("SELECT %1 FROM articles WHERE id=%2").arg(column).arg(id));
    return rows.isEmpty() ? QStringLiteral("<no row>") : rows.first().value(column).toString();
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
    void nullAndFlagValuesAreBoundAsText();
    void failuresReportTheDriversError();
    void repeatedInsertsSurviveASchemaChange();
    void insertIntoTableWithoutAutomaticKey();
    void optionsKeepEmptyValues();
    void selectReturnsRowsAsMaps();
    void dateOrderWorksInBothDialects();
    void duplicateRowCopiesPicturesAndVariations();
    void duplicateRowOfMissingArticle();
    void selectNewsTails();
    void mysqlAddRemoveInfo();
    void foldersOfTheDataFolder();
    void sharedPictureFolder();
};

void TestDatabase::hostileTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("single quote") << QStringLiteral("Rock'n'Roll");
    QTest::newRow("double quotes") << QStringLiteral("Zoll \"24\"");
    QTest::newRow("lone backslash") << QStringLiteral("C:\\Bilder\\neu");
    QTest::newRow("backslash at the end") << QStringLiteral("Pfad\\");
    QTest::newRow("backslash before quote") << QStringLiteral("a\\'b\\''");
    QTest::newRow("backslash n is no line break") << QStringLiteral("zwei\\nZeilen");
    QTest::newRow("umlauts") << QStringLiteral("Größe: Übergröße, Äpfel, ß");
    QTest::newRow("emoji") << QStringLiteral("Top 👍🏽 Zustand 🚀");
    QTest::newRow("injection") << QStringLiteral("x'); DROP TABLE articles; --");
    QTest::newRow("percent and underscore") << QStringLiteral("100% _neu_");
    QTest::newRow("line breaks") << QStringLiteral("Zeile 1\r\nZeile 2\nZeile 3");
    QTest::newRow("looks like datetime(") << QStringLiteral("datetime(StartDate) bleibt stehen");
    QString longText;
    while (longText.size() < 300000)
        longText += QStringLiteral("<p>Lange Beschreibung mit Ümläuten, 'Zitaten' und \\ – ");
    QTest::newRow("long description") << longText;
}

void TestDatabase::hostileTextsRoundTrip()
{
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int other = insertArticle(db, QStringLiteral("Nachbar"));
    const int id = insertArticle(db, QStringLiteral("Ziel"));
    QVERIFY(other > 0 && id > other);

    // Bound insert
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), text);
    row.insert(QStringLiteral("Description"), text);
    const int inserted = db.insertSqlClean(row, QStringLiteral("articles"));
    QVERIFY2(inserted > 0, qPrintable(db.lastErrorText));
    QCOMPARE(articleValue(db, inserted, QStringLiteral("Title")), text);
    QCOMPARE(articleValue(db, inserted, QStringLiteral("Description")), text);

    // Bound update touches only its row and column.
    const TableSnapshot before = TableSnapshot::take(db, QStringLiteral("articles"));
    QMap<QString, QVariant> update;
    update.insert(QStringLiteral("Notes"), text);
    QVERIFY(db.updateSqlClean(update, QStringLiteral("articles"), QStringLiteral("id=%1").arg(id)));
    auto changes = TableSnapshot::diff(before, TableSnapshot::take(db, QStringLiteral("articles")));
    QCOMPARE(changes.size(), text.isEmpty() ? 0 : 1);
    QCOMPARE(changes.first().key, QString::number(id));
    QCOMPARE(changes.first().column, QStringLiteral("Notes"));
    QCOMPARE(changes.first().after.toString(), text);

    // Statement text with escapeString, as most of the program writes single columns.
    const TableSnapshot before2 = TableSnapshot::take(db, QStringLiteral("articles"));
    QVERIFY2(db.executeSQL(QStringLiteral("UPDATE articles SET SubTitle='%1' WHERE id=%2")
                               .arg(Database::escapeString(text))
                               .arg(id)),
             qPrintable(db.lastErrorText));
    changes = TableSnapshot::diff(before2, TableSnapshot::take(db, QStringLiteral("articles")));
    QVERIFY2(changes.size() == 1, qPrintable(TableSnapshot::describe(changes)));
    QCOMPARE(changes.first().column, QStringLiteral("SubTitle"));
    QCOMPARE(articleValue(db, id, QStringLiteral("SubTitle")), text);
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE SubTitle='%1'")
                                .arg(Database::escapeString(text))),
             1);
    QCOMPARE(articleValue(db, other, QStringLiteral("Title")), QStringLiteral("Nachbar"));

    // Options
    db.setOption(QStringLiteral("Test'Option\\"), text);
    QCOMPARE(db.getOption(QStringLiteral("Test'Option\\"), QStringLiteral("default")), text);
    db.setOption(QStringLiteral("Test'Option\\"), text + QStringLiteral("2"));
    QCOMPARE(db.getOption(QStringLiteral("Test'Option\\"), QString()), text + QStringLiteral("2"));
    QCOMPARE(db.selectCount(
                 QStringLiteral("SELECT optionname FROM options WHERE optionname LIKE 'Test%'")),
             1);
}

void TestDatabase::nullAndFlagValuesAreBoundAsText()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), QVariant());
    row.insert(QStringLiteral("SubTitle"), QString());
    row.insert(QStringLiteral("BestOfferEnabled"), true);
    row.insert(QStringLiteral("eBayPlus"), false);
    row.insert(QStringLiteral("StartPrice"), 12.5);
    row.insert(QStringLiteral("Quantity"), QStringLiteral("7"));
    const int id = db.insertSqlClean(row, QStringLiteral("articles"));
    QVERIFY2(id > 0, qPrintable(db.lastErrorText));
    const SqlRows rows = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id));
    const auto &a = rows.first();
    QVERIFY(!a.value(QStringLiteral("Title")).isNull());
    QCOMPARE(a.value(QStringLiteral("Title")).toString(), QString());
    QCOMPARE(a.value(QStringLiteral("SubTitle")).toString(), QString());
    QCOMPARE(a.value(QStringLiteral("BestOfferEnabled")).toInt(), 1);
    QCOMPARE(a.value(QStringLiteral("eBayPlus")).toInt(), 0);
    QCOMPARE(a.value(QStringLiteral("StartPrice")).toDouble(), 12.5);
    QCOMPARE(db.selectCount(QStringLiteral(
                 "SELECT id FROM articles WHERE Quantity > 6 AND BestOfferEnabled = 1")),
             1);
}

void TestDatabase::failuresReportTheDriversError()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();

    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("NoSuchColumn"), 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SQL Insert Error: ")));
    QCOMPARE(db.insertSqlClean(row, QStringLiteral("articles")), 0);
    QVERIFY(!db.lastErrorText.isEmpty());

    // A column name is never a way into the statement.
    row.clear();
    row.insert(QStringLiteral("Title`) VALUES ('x'); --"), 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SQL Insert Error: ")));
    QCOMPARE(db.insertSqlClean(row, QStringLiteral("articles")), 0);
    QVERIFY(!db.lastErrorText.isEmpty());

    QVERIFY(insertArticle(db, QStringLiteral("ok")) > 0);
    QVERIFY(db.lastErrorText.isEmpty());

    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(QStringLiteral("^SQL Error: .* from query: UPDATE nosuchtable")));
    QVERIFY(!db.executeSQL(QStringLiteral("UPDATE nosuchtable SET a=1")));
    const QString executeError = db.lastErrorText;
    QVERIFY(!executeError.isEmpty());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
    QVERIFY(db.select(QStringLiteral("SELECT nonsense FROM articles")).isEmpty());
    QVERIFY(!db.lastErrorText.isEmpty());
    QVERIFY(!db.select(QStringLiteral("SELECT id FROM articles")).isEmpty());
    QVERIFY(db.lastErrorText.isEmpty());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT nonsense FROM articles")), QString());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT nonsense FROM articles")), 0);

    // An update that matches no row has still run.
    QMap<QString, QVariant> update;
    update.insert(QStringLiteral("Title"), QStringLiteral("x"));
    QVERIFY(db.updateSqlClean(update, QStringLiteral("articles"), QStringLiteral("id=999999")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^SQL Insert Error: ")));
    QVERIFY(
        !db.updateSqlClean(update, QStringLiteral("articles"), QStringLiteral("nosuchcolumn=1")));
    QVERIFY(!db.lastErrorText.isEmpty());
}

void TestDatabase::repeatedInsertsSurviveASchemaChange()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int first = insertArticle(db, QStringLiteral("eins"));
    QVERIFY(
        db.executeSQL(QStringLiteral("ALTER TABLE articles ADD COLUMN Spaeter INTEGER DEFAULT 5")));
    const int second = insertArticle(db, QStringLiteral("zwei"));
    QVERIFY2(second > first, qPrintable(db.lastErrorText));
    QCOMPARE(articleValue(db, second, QStringLiteral("Title")), QStringLiteral("zwei"));
    QCOMPARE(articleValue(db, second, QStringLiteral("Spaeter")), QStringLiteral("5"));
    // The same statement with other values writes other values.
    QCOMPARE(articleValue(db, first, QStringLiteral("Description")), QStringLiteral("<p>eins</p>"));
}

void TestDatabase::insertIntoTableWithoutAutomaticKey()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("optionname"), QStringLiteral("direct"));
    row.insert(QStringLiteral("optionvalue"), QStringLiteral("1"));
    db.insertSqlClean(row, QStringLiteral("options"));
    // No id to report is no failure.
    QVERIFY2(db.lastErrorText.isEmpty(), qPrintable(db.lastErrorText));
    QCOMPARE(db.getOption(QStringLiteral("direct"), QString()), QStringLiteral("1"));
}

void TestDatabase::optionsKeepEmptyValues()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QCOMPARE(db.getOption(QStringLiteral("SyncIntervall"), QStringLiteral("60")),
             QStringLiteral("60"));
    db.setOption(QStringLiteral("SyncIntervall"), QStringLiteral("15"));
    QCOMPARE(db.getOption(QStringLiteral("SyncIntervall"), QStringLiteral("60")),
             QStringLiteral("15"));
    db.setOption(QStringLiteral("backuppath"), QString());
    QCOMPARE(db.getOption(QStringLiteral("backuppath"), QStringLiteral("/default")), QString());
    QCOMPARE(db.selectCount(
                 QStringLiteral("SELECT optionname FROM options WHERE optionname='backuppath'")),
             1);
    // Options survive a new start.
    t.reopen();
    QCOMPARE(t.db()->getOption(QStringLiteral("SyncIntervall"), QStringLiteral("60")),
             QStringLiteral("15"));
}

void TestDatabase::selectReturnsRowsAsMaps()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QMap<QString, QVariant> account;
    account.insert(QStringLiteral("accountname"), QStringLiteral("shop_a"));
    account.insert(QStringLiteral("token"), QStringLiteral("tok"));
    const int accountId = db.insertSqlClean(account, QStringLiteral("accounts"));
    for (int i = 0; i < 3; ++i) {
        QMap<QString, QVariant> row;
        row.insert(QStringLiteral("Title"), QStringLiteral("A%1").arg(i));
        row.insert(QStringLiteral("Account"), accountId);
        QVERIFY(db.insertSqlClean(row, QStringLiteral("articles")) > 0);
    }
    const SqlRows rows = db.select(QStringLiteral(
        "SELECT a.token, a.accountname, articles.* FROM articles LEFT JOIN accounts a "
        "ON articles.Account = a.id ORDER BY articles.id DESC"));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.first().value(QStringLiteral("Title")).toString(), QStringLiteral("A2"));
    QCOMPARE(rows.first().value(QStringLiteral("token")).toString(), QStringLiteral("tok"));
    QCOMPARE(rows.first().value(QStringLiteral("accountname")).toString(),
             QStringLiteral("shop_a"));
    QVERIFY(rows.first().contains(QStringLiteral("ShippingServiceInt_5_Loc")));
    // Account columns first, then the article's: a name both have holds the article's value.
    const SqlRows joined = db.select(QStringLiteral(
        "SELECT a.*, articles.* FROM articles JOIN accounts a ON articles.Account = a.id "
        "ORDER BY articles.id"));
    QCOMPARE(joined.size(), 3);
    QVERIFY(joined.first().value(QStringLiteral("id")).toInt() != accountId
            || joined.last().value(QStringLiteral("id")).toInt() != accountId);
    QCOMPARE(joined.last().value(QStringLiteral("id")).toString(),
             db.selectOne(QStringLiteral("SELECT MAX(id) FROM articles")));
    QCOMPARE(joined.last().value(QStringLiteral("accountname")).toString(),
             QStringLiteral("shop_a"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT COUNT(*) AS n FROM articles")),
             QStringLiteral("3"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT Title FROM articles WHERE id < 0")), QString());
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE Title LIKE 'A%'")), 3);

    // The catalogue queries of the CSV import and the MySQL upload come back as rows too.
    const SqlRows catalogue = db.select(db.isMySQL ? QStringLiteral("SHOW COLUMNS FROM articles")
                                                   : QStringLiteral("PRAGMA table_info(articles)"));
    QStringList names;
    for (const auto &column : catalogue)
        names << column.value(db.isMySQL ? QStringLiteral("Field") : QStringLiteral("name"))
                     .toString();
    QVERIFY(names.contains(QStringLiteral("ShippingService_1_Cost")));

    QSqlDatabase connection = db.connection();
    QCOMPARE(db.selectFromDb(QStringLiteral("SELECT Title FROM articles ORDER BY id"), connection)
                 .size(),
             3);
}

void TestDatabase::dateOrderWorksInBothDialects()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QStringList dates
        = { QStringLiteral("2026-03-01 10:00:00"), QStringLiteral("2025-12-31 23:59:59"),
            QStringLiteral("2026-11-05 08:30:00"), QStringLiteral("0000-00-00 00:00:00") };
    for (int i = 0; i < dates.size(); ++i) {
        QMap<QString, QVariant> row;
        row.insert(QStringLiteral("Title"), QStringLiteral("d%1").arg(i));
        row.insert(QStringLiteral("StartDate"), dates.at(i));
        QVERIFY(db.insertSqlClean(row, QStringLiteral("articles")) > 0);
    }
    // The sort orders of the article list as stored in the option "lastOrder".
    const SqlRows rows = db.select(QStringLiteral(
        "SELECT Title, StartDate FROM articles WHERE StartDate <> '0000-00-00 00:00:00' "
        "ORDER BY datetime(StartDate) DESC"));
    QVERIFY2(rows.size() == 3, qPrintable(db.lastErrorText));
    QCOMPARE(rows.at(0).value(QStringLiteral("Title")).toString(), QStringLiteral("d2"));
    QCOMPARE(rows.at(1).value(QStringLiteral("Title")).toString(), QStringLiteral("d0"));
    QCOMPARE(rows.at(2).value(QStringLiteral("Title")).toString(), QStringLiteral("d1"));
    QCOMPARE(db.selectCount(
                 QStringLiteral("SELECT Title FROM articles ORDER BY DateTime(StartDate) ASC")),
             4);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT Title FROM articles WHERE StartDate <> '' "
                                         "ORDER BY datetime(StartDate) DESC LIMIT 1")),
             QStringLiteral("d2"));
    // Text in quotes is never rewritten.
    QCOMPARE(db.selectOne(QStringLiteral("SELECT 'datetime(x)' AS t")),
             QStringLiteral("datetime(x)"));
}

void TestDatabase::duplicateRowCopiesPicturesAndVariations()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int source = insertArticle(db, QStringLiteral("Original's \\ Titel"), 4);
    const int unrelated = insertArticle(db, QStringLiteral("Anderer"));
    QVERIFY(db.executeSQL(QStringLiteral("UPDATE articles SET ItemID='1100', StartPrice=9.99, "
                                         "ItemSpecifics='<NameValueList/>' WHERE id=%1")
                              .arg(source)));
    for (int i = 0; i < 2; ++i) {
        QMap<QString, QVariant> image;
        image.insert(QStringLiteral("article_id"), source);
        image.insert(QStringLiteral("image"), QStringLiteral("bild_%1.jpg").arg(i));
        image.insert(QStringLiteral("sort"), i);
        QVERIFY(db.insertSqlClean(image, QStringLiteral("articles_images")) > 0);
    }
    QMap<QString, QVariant> other;
    other.insert(QStringLiteral("article_id"), unrelated);
    other.insert(QStringLiteral("image"), QStringLiteral("fremd.jpg"));
    QVERIFY(db.insertSqlClean(other, QStringLiteral("articles_images")) > 0);
    QMap<QString, QVariant> variation;
    variation.insert(QStringLiteral("article_id"), source);
    variation.insert(
        QStringLiteral("VariantXml"),
        QStringLiteral("<NameValueList><Name>Farbe</Name><Value>Rot</Value></NameValueList>"));
    variation.insert(QStringLiteral("SKU"), QStringLiteral("R-1"));
    variation.insert(QStringLiteral("StartPrice"), 5.5);
    variation.insert(QStringLiteral("Quantity"), 3);
    QVERIFY(db.insertSqlClean(variation, QStringLiteral("articles_variations")) > 0);

    const TableSnapshot articlesBefore = TableSnapshot::take(db, QStringLiteral("articles"));
    const TableSnapshot imagesBefore = TableSnapshot::take(db, QStringLiteral("articles_images"));

    const int copy = db.DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"),
                                     QString::number(source), QString(), QString());
    QVERIFY2(copy > unrelated, qPrintable(db.lastErrorText));

    // Only rows were added; the source and everything else stays as it was.
    for (const auto &change :
         TableSnapshot::diff(articlesBefore, TableSnapshot::take(db, QStringLiteral("articles"))))
        QVERIFY2(change.column == QLatin1String("<added>") && change.key == QString::number(copy),
                 qPrintable(change.key + QLatin1Char(' ') + change.column));
    for (const auto &change : TableSnapshot::diff(
             imagesBefore, TableSnapshot::take(db, QStringLiteral("articles_images"))))
        QCOMPARE(change.column, QStringLiteral("<added>"));

    const SqlRows original
        = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(source));
    const SqlRows duplicate
        = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(copy));
    QCOMPARE(duplicate.size(), 1);
    for (auto it = original.first().cbegin(); it != original.first().cend(); ++it) {
        if (it.key() == QLatin1String("id"))
            continue;
        QVERIFY2(duplicate.first().value(it.key()).toString() == it.value().toString(),
                 qPrintable(it.key()));
    }

    const SqlRows images = db.select(QStringLiteral("SELECT image, sort FROM articles_images "
                                                    "WHERE article_id=%1 ORDER BY sort")
                                         .arg(copy));
    QCOMPARE(images.size(), 2);
    QCOMPARE(images.at(0).value(QStringLiteral("image")).toString(), QStringLiteral("bild_0.jpg"));
    QCOMPARE(images.at(1).value(QStringLiteral("image")).toString(), QStringLiteral("bild_1.jpg"));
    QCOMPARE(db.selectCount(
                 QStringLiteral("SELECT id FROM articles_images WHERE article_id=%1").arg(source)),
             2);
    const SqlRows variations = db.select(
        QStringLiteral("SELECT * FROM articles_variations WHERE article_id=%1").arg(copy));
    QCOMPARE(variations.size(), 1);
    QCOMPARE(variations.first().value(QStringLiteral("SKU")).toString(), QStringLiteral("R-1"));
    QCOMPARE(variations.first().value(QStringLiteral("Quantity")).toInt(), 3);
    QCOMPARE(
        db.selectCount(
            QStringLiteral("SELECT id FROM articles_variations WHERE article_id=%1").arg(source)),
        1);

    // With a column to change.
    const int renamed
        = db.DuplicateRow(QStringLiteral("folders"), QStringLiteral("id"),
                          QString::number(db.insertSqlClean(
                              { { QStringLiteral("foldername"), QStringLiteral("Alt") } },
                              QStringLiteral("folders"))),
                          QStringLiteral("foldername"), QStringLiteral("Neu's"));
    QVERIFY(renamed > 0);
    QCOMPARE(
        db.selectOne(QStringLiteral("SELECT foldername FROM folders WHERE id=%1").arg(renamed)),
        QStringLiteral("Neu's"));
}

void TestDatabase::duplicateRowOfMissingArticle()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    insertArticle(db, QStringLiteral("einziger"));
    QCOMPARE(db.DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"),
                             QStringLiteral("4711"), QString(), QString()),
             0);
    QCOMPARE(db.DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"),
                             QStringLiteral("x' OR '1'='1"), QString(), QString()),
             0);
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles")), 1);
}

void TestDatabase::selectNewsTails()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QStringList dates
        = { QStringLiteral("2026-12-06 09:00:00"), QStringLiteral("2026-12-06 11:30:00"),
            QStringLiteral("2026-12-06 10:15:00") };
    QList<int> ids;
    for (int i = 0; i < dates.size(); ++i) {
        QMap<QString, QVariant> row;
        row.insert(QStringLiteral("indate"), dates.at(i));
        row.insert(QStringLiteral("itemid"), QStringLiteral("11000%1").arg(i));
        row.insert(QStringLiteral("title"), QStringLiteral("Uhr|||%1").arg(i));
        row.insert(QStringLiteral("textinfo"), QStringLiteral("hat einen neuen Verkauf"));
        row.insert(QStringLiteral("infotype"), QStringLiteral("sellcount"));
        row.insert(QStringLiteral("databaseid"), 40 + i);
        ids << db.insertSqlClean(row, QStringLiteral("itemshistory"));
    }
    const QList<NewsItem> one = db.selectNews(QStringLiteral("id=%1").arg(ids.at(1)));
    QCOMPARE(one.size(), 1);
    const NewsItem &item = one.first();
    QCOMPARE(item.id, ids.at(1));
    QCOMPARE(item.indate, QDateTime(QDate(2026, 12, 6), QTime(11, 30)));
    QCOMPARE(item.itemid, QStringLiteral("110001"));
    QCOMPARE(item.title, QStringLiteral("Uhr|||1"));
    QCOMPARE(item.infotype, QStringLiteral("sellcount"));
    QCOMPARE(item.databaseid, 41);
    QCOMPARE(item.price, 0.0);
    QCOMPARE(item.pricetype, 0);

    const QList<NewsItem> newest
        = db.selectNews(QStringLiteral("ORDER BY datetime(indate) DESC LIMIT 2"));
    QCOMPARE(newest.size(), 2);
    QCOMPARE(newest.at(0).id, ids.at(1));
    QCOMPARE(newest.at(1).id, ids.at(2));
    QVERIFY(db.selectNews(QStringLiteral("id=-1")).isEmpty());
}

void TestDatabase::mysqlAddRemoveInfo()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    db.mysqlAddRemoveInfo(-9, QStringLiteral("17"));
    if (t.backend() == Backend::SQLite) {
        QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM itemshistory")), 0);
        return;
    }
    QList<NewsItem> entries = db.selectNews(QStringLiteral("infotype='removeitem'"));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().title, QStringLiteral("Gelöscht"));
    QCOMPARE(entries.first().textinfo,
             QStringLiteral("Anzeige wurde zur Neueinlesung gelöscht (-9,17)"));
    QCOMPARE(entries.first().itemid, QStringLiteral("0"));
    QVERIFY(entries.first().indate.isValid());
    QVERIFY(qAbs(entries.first().indate.secsTo(QDateTime::currentDateTime())) < 60);
    // This workstation synchronises: nothing to queue.
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM clienttoserver")), 0);

    qApp->setProperty("mysqlsyncworkstation", false);
    db.mysqlAddRemoveInfo(-7, QStringLiteral("18"));
    entries = db.selectNews(QStringLiteral("ORDER BY id DESC"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT newsid FROM clienttoserver")),
             QString::number(entries.first().id));
}

void TestDatabase::foldersOfTheDataFolder()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QString data = db.getCurrentDataDir();
    QCOMPARE(data, t.dataDir());
    QCOMPARE(qApp->property("datadir").toString(), data);
    QVERIFY(QFile::exists(data + Database::getDatabaseName()) || db.isMySQL);
    const QList<QPair<QString, QString>> folders = {
        { db.getCacheDir(), QStringLiteral("cache/") },
        { db.getCurrentLogDir(), QStringLiteral("logs/") },
        { db.getImageTempPath(), QStringLiteral("tmpimages/") },
        { db.getCurrentAdImageDir(), QStringLiteral("adimages/") },
        { db.getCurrentAdImageDirThumbs(), QStringLiteral("adimages_thumb/") },
    };
    for (const auto &folder : folders) {
        QCOMPARE(folder.first, data + folder.second);
        QVERIFY(QDir(folder.first).exists());
    }
    // Removed while running: made again on the next call.
    QVERIFY(QDir(data + QStringLiteral("cache")).removeRecursively());
    QVERIFY(QDir(db.getCacheDir()).exists());

    // A further connection on another thread finds the same folder.
    QString fromThread;
    QThread *thread = QThread::create([&fromThread] {
        Database further(true, QStringLiteral("ImageCleaner"));
        fromThread = further.getCurrentAdImageDirThumbs();
    });
    thread->start();
    QVERIFY(thread->wait(10000));
    delete thread;
    QCOMPARE(fromThread, data + QStringLiteral("adimages_thumb/"));
}

void TestDatabase::sharedPictureFolder()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QTemporaryDir shared;
    qApp->setProperty("mysqlimagepath", shared.path());
    QCOMPARE(db.getCurrentAdImageDir(), shared.path() + QStringLiteral("/adimages/"));
    QVERIFY(QDir(shared.path() + QStringLiteral("/adimages")).exists());
    // Thumbnails stay local.
    QCOMPARE(db.getCurrentAdImageDirThumbs(), t.dataDir() + QStringLiteral("adimages_thumb/"));
    qApp->setProperty("mysqlimagepath", shared.path() + QStringLiteral("/gibt-es-nicht"));
    QCOMPARE(db.getCurrentAdImageDir(), t.dataDir() + QStringLiteral("adimages/"));
    qApp->setProperty("mysqlimagepath", QString());
    QCOMPARE(db.getCurrentAdImageDir(), t.dataDir() + QStringLiteral("adimages/"));
}

APP_TEST_MAIN(TestDatabase)
#include "test_database.moc"
