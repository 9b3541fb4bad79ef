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

// The columns other parts of the program read and write, table by table.
const QMap<QString, QStringList> &expectedColumns()
{
    static const QMap<QString, QStringList> columns = [] {
        QMap<QString, QStringList> c;
        c.insert(QStringLiteral("accounts"),
                 { "id", "active", "accountname", "token", "apiresult", "tokenexp", "sandbox",
                   "acceptprotect", "smallbiz" });
        c.insert(QStringLiteral("folders"),
                 { "id", "foldername", "folderparentid", "expand", "cat_ebay", "externalid" });
        c.insert(QStringLiteral("options"), { "optionname", "optionvalue" });
        c.insert(QStringLiteral("itemshistory"),
                 { "id", "indate", "itemid", "title", "price", "pricetype", "databaseid",
                   "textinfo", "infotype" });
        c.insert(QStringLiteral("articles_images"),
                 { "id", "article_id", "image", "sort", "variant_name", "variant_id" });
        c.insert(QStringLiteral("articles_variations"),
                 { "id", "article_id", "VariantXml", "SKU", "StartPrice", "Quantity",
                   "QuantitySold", "EAN", "ISBN", "UPC", "ProductReferenceID" });
        c.insert(QStringLiteral("clienttoserver"), { "newsid" });
        c.insert(QStringLiteral("shopcats"), { "account", "site", "catid" });
        c.insert(QStringLiteral("textshortcuts"), { "id" });
        c.insert(QStringLiteral("articles_variations_op_val"), { "id" });
        c.insert(QStringLiteral("chat_private"), { "id" });

        QStringList a = {
            "id",
            "Folder",
            "FolderOld",
            "Trash",
            "TrashMoved",
            "Account",
            "Site",
            "TemplateName",
            "IsEdit",
            "ParentArticle",
            "DoCheck",
            "DoCheckResult",
            "IsVerified",
            "Planned",
            "Planned_Interval",
            "HasError",
            "LastError",
            "Marker",
            "RefreshHash",
            "ItemID",
            "StartDate",
            "EndDate",
            "CurrentPrice",
            "Quantity",
            "SoldCount",
            "BidCount",
            "WatchCount",
            "QuestionCount",
            "HighBidder",
            "Currency",
            "ImageThumb",
            "Title",
            "SubTitle",
            "SKU",
            "ApplicationData",
            "Description",
            "ItemSpecifics",
            "PrimaryCategory",
            "PrimaryCategoryText",
            "SecondaryCategory",
            "SecondaryCategoryText",
            "ConditionID",
            "ConditionDescription",
            "EAN",
            "ISBN",
            "UPC",
            "StoreCategoryID",
            "StoreCategory2ID",
            "GalleryType",
            "PhotoDisplay",
            "VariantImageOption",
            "HasVariation",
            "HasVariationMinPrice",
            "ListingType",
            "ListingDuration",
            "StartPrice",
            "BuyItNowPrice",
            "ReservePrice",
            "PrivateListing",
            "eBayPlus",
            "BestOfferEnabled",
            "BestOfferAutoAcceptPrice",
            "MinimumBestOfferPrice",
            "LotSize",
            "VAT_VATPercent",
            "PaymentMethods",
            "PayPalEmailAddress",
            "PaymentInstructions",
            "SellerPaymentProfile",
            "SellerReturnProfile",
            "SellerShippingProfile",
            "RP_ReturnsAcceptedOption",
            "RP_ReturnsWithinOption",
            "RP_ShippingCostPaidByOption",
            "RP_InternationalReturnsAcceptedOption",
            "RP_InternationalReturnsWithinOption",
            "RP_InternationalShippingCostPaidByOption",
            "Country",
            "PostalCode",
            "Location",
            "DispatchTimeMax",
            "ShippingService_1_IsFree",
            "PickUpAccepted",
            "PickUpAcceptedCost",
            "PromotionalShippingDiscount",
            "ShippingDiscountProfileID",
            "IPromotionalShippingDiscount",
            "IShippingDiscountProfileID",
            "Notes",
        };
        for (int i = 1; i <= 4; ++i)
            a << QStringLiteral("ShippingService_%1").arg(i)
              << QStringLiteral("ShippingService_%1_Cost").arg(i)
              << QStringLiteral("ShippingService_%1_Cost_Add").arg(i);
        for (int i = 1; i <= 5; ++i)
            a << QStringLiteral("ShippingServiceInt_%1").arg(i)
              << QStringLiteral("ShippingServiceInt_%1_Cost").arg(i)
              << QStringLiteral("ShippingServiceInt_%1_Cost_Add").arg(i)
              << QStringLiteral("ShippingServiceInt_%1_Loc").arg(i)
              << QStringLiteral("Free_0%1").arg(i);
        c.insert(QStringLiteral("articles"), a);
        return c;
    }();
    return columns;
}

QStringList columnsOf(Database &db, const QString &table)
{
    const QSqlRecord record = db.connection().record(table);
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    return names;
}

// Tables and their columns, for comparing the whole catalogue before and after.
QStringList catalogue(Database &db)
{
    QStringList out;
    QStringList tables = db.connection().tables(QSql::Tables);
    tables.sort();
    for (const QString &table : qAsConst(tables))
        out << table + QLatin1Char(':') + columnsOf(db, table).join(QLatin1Char(','));
    return out;
}

} // namespace

class TestSchema : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void everyTableAndColumnExists();
    void columnsBehaveAsNumbersAndTexts();
    void defaultsOfAnInsertWithFewColumns();
    void mysqlTablesTakeFourByteTextAndLongDescriptions();
    void startingTwiceChangesNothing();
    void upgradeFromAnOlderSchemaKeepsEveryRow();
    void newerSchemaIsLeftAlone();
};

void TestSchema::everyTableAndColumnExists()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QStringList tables = db.connection().tables(QSql::Tables);
    const auto &expected = expectedColumns();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVERIFY2(tables.contains(it.key(), Qt::CaseInsensitive), qPrintable(it.key()));
        const QStringList present = columnsOf(db, it.key());
        for (const QString &column : it.value()) {
            // Column names are case-sensitive for the CSV mapping and the MySQL upload.
            QVERIFY2(present.contains(column, Qt::CaseSensitive),
                     qPrintable(it.key() + QLatin1Char('.') + column));
        }
    }
    QCOMPARE(columnsOf(db, QStringLiteral("articles")).size(),
             expected.value(QStringLiteral("articles")).size());
    QCOMPARE(db.getOption(Schema::versionOption(), QString()),
             QString::number(Schema::currentVersion()));
}

void TestSchema::columnsBehaveAsNumbersAndTexts()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    // Counters and prices arrive quoted, as the workers and the bulk dialogs write them;
    // they must still compare and sort as numbers.
    QVERIFY(db.executeSQL(QStringLiteral(
        "INSERT INTO articles (Title, SoldCount, Quantity, StartPrice, Folder, ItemID) "
        "VALUES ('a', '3', '10', '9.5', '-9', '110')")));
    QVERIFY(db.executeSQL(QStringLiteral(
        "INSERT INTO articles (Title, SoldCount, Quantity, StartPrice, Folder, ItemID) "
        "VALUES ('b', '12', '2', '10', '-9', '0110')")));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE SoldCount < Quantity")),
             1);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT Title FROM articles WHERE SoldCount < Quantity")),
             QStringLiteral("a"));
    const SqlRows byPrice
        = db.select(QStringLiteral("SELECT Title FROM articles ORDER BY StartPrice DESC"));
    QCOMPARE(byPrice.size(), 2);
    QCOMPARE(byPrice.at(0).value(QStringLiteral("Title")).toString(), QStringLiteral("b"));
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE Folder = -9")), 2);
    // Item numbers are texts: a leading zero is kept and compared as written.
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE ItemID = '0110'")), 1);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT ItemID FROM articles WHERE Title = 'b'")),
             QStringLiteral("0110"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT StartPrice FROM articles WHERE Title = 'a'"))
                 .toDouble(),
             9.5);
}

void TestSchema::defaultsOfAnInsertWithFewColumns()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), QStringLiteral("Nur ein Titel"));
    row.insert(QStringLiteral("Folder"), -10);
    const int id = db.insertSqlClean(row, QStringLiteral("articles"));
    QVERIFY2(id > 0, qPrintable(db.lastErrorText));

    const SqlRows rows = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id));
    QCOMPARE(rows.size(), 1);
    const auto &a = rows.first();
    for (const char *zero :
         { "DoCheck", "Trash", "IsVerified", "Account", "FolderOld", "SoldCount", "BidCount",
           "WatchCount", "QuestionCount", "HasError", "Marker", "HasVariation" })
        QVERIFY2(a.value(QLatin1String(zero)).toString() == QLatin1String("0"), zero);
    for (const char *empty :
         { "ItemID", "Planned", "Planned_Interval", "DoCheckResult", "StartDate", "EndDate",
           "LastError", "HighBidder", "SKU", "Currency" }) {
        QVERIFY2(!a.value(QLatin1String(empty)).isNull(), empty);
        QVERIFY2(a.value(QLatin1String(empty)).toString().isEmpty(), empty);
    }
    QCOMPARE(a.value(QStringLiteral("Site")).toInt(), 77);
    // The queries of the workers compare with '' and must find such rows.
    QCOMPARE(db.selectCount(QStringLiteral("SELECT id FROM articles WHERE Planned_Interval='' "
                                           "AND ItemID = '' AND DoCheck=0 AND Trash=0")),
             1);

    QMap<QString, QVariant> account;
    account.insert(QStringLiteral("accountname"), QStringLiteral("verkäufer_1"));
    const int accountId = db.insertSqlClean(account, QStringLiteral("accounts"));
    QVERIFY(accountId > 0);
    QCOMPARE(db.selectOne(QStringLiteral("SELECT active FROM accounts WHERE id=%1").arg(accountId)),
             QStringLiteral("1"));
    QCOMPARE(
        db.selectOne(QStringLiteral("SELECT sandbox FROM accounts WHERE id=%1").arg(accountId)),
        QStringLiteral("0"));
}

void TestSchema::mysqlTablesTakeFourByteTextAndLongDescriptions()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::MySQL)
        QSKIP("MySQL only");
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const SqlRows tables = db.select(
        QStringLiteral("SELECT TABLE_NAME, TABLE_COLLATION FROM information_schema.TABLES "
                       "WHERE TABLE_SCHEMA = '%1'")
            .arg(t.mysqlDatabaseName()));
    QCOMPARE(tables.size(), Schema::tables().size());
    for (const auto &table : tables)
        QVERIFY2(table.value(QStringLiteral("TABLE_COLLATION"))
                     .toString()
                     .startsWith(QLatin1String("utf8mb4")),
                 qPrintable(table.value(QStringLiteral("TABLE_NAME")).toString()));
    for (const char *column : { "Description", "ItemSpecifics" }) {
        const QString type = db.selectOne(
            QStringLiteral(
                "SELECT DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA='%1' "
                "AND TABLE_NAME='articles' AND COLUMN_NAME='%2'")
                .arg(t.mysqlDatabaseName(), QLatin1String(column)));
        QCOMPARE(type, QStringLiteral("longtext"));
    }
}

void TestSchema::startingTwiceChangesNothing()
{
    APP_TEST_DATABASE(t);
    const QStringList before = catalogue(*t.db());
    const TableSnapshot optionsBefore
        = TableSnapshot::take(*t.db(), QStringLiteral("options"), QStringLiteral("optionname"));
    t.reopen();
    t.reopen();
    QCOMPARE(catalogue(*t.db()), before);
    const TableSnapshot optionsAfter
        = TableSnapshot::take(*t.db(), QStringLiteral("options"), QStringLiteral("optionname"));
    const auto changes = TableSnapshot::diff(optionsBefore, optionsAfter);
    QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
}

void TestSchema::upgradeFromAnOlderSchemaKeepsEveryRow()
{
    APP_TEST_DATABASE(t);
    const bool mysql = t.backend() == Backend::MySQL;
    t.closeMain();
    {
        // A database as an early version of the program left it: fewer columns, no
        // indexes, some rows, schema version 1.
        QSqlDatabase raw = t.rawConnection(QStringLiteral("old_schema"));
        QSqlQuery q(raw);
        const QString key = mysql ? QStringLiteral("INT NOT NULL AUTO_INCREMENT PRIMARY KEY")
                                  : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
        QVERIFY2(raw.isOpen(), qPrintable(raw.lastError().text()));
        for (const QString &table : raw.tables(QSql::Tables)) {
            if (table.startsWith(QLatin1String("sqlite_")))
                continue;
            QVERIFY2(q.exec(QStringLiteral("DROP TABLE `%1`").arg(table)),
                     qPrintable(q.lastError().text()));
        }
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE articles (id %1, Title TEXT, Folder INTEGER, "
                                      "Description TEXT)")
                           .arg(key)));
        QVERIFY(q.exec(
            QStringLiteral("CREATE TABLE accounts (id %1, accountname VARCHAR(150), token TEXT)")
                .arg(key)));
        QVERIFY(q.exec(
            QStringLiteral("CREATE TABLE options (optionname VARCHAR(255), optionvalue TEXT)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO options VALUES ('SchemaVersion', '1')")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO options VALUES ('lastOrder', 'id DESC')")));
        QVERIFY(q.exec(QStringLiteral(
            "INSERT INTO accounts (accountname, token) VALUES ('händler', 'T0K3N')")));
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(q.exec(QStringLiteral("INSERT INTO articles (Title, Folder, Description) "
                                          "VALUES ('Artikel %1', %2, '<p>Text %1</p>')")
                               .arg(i)
                               .arg(-10 - i)));
        }
        // The first version had no pictures yet.
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old_schema"));

    t.reopen();
    Database &db = *t.db();
    QCOMPARE(db.getOption(Schema::versionOption(), QString()),
             QString::number(Schema::currentVersion()));
    QCOMPARE(db.getOption(QStringLiteral("lastOrder"), QString()), QStringLiteral("id DESC"));
    const QStringList articleColumns = columnsOf(db, QStringLiteral("articles"));
    for (const QString &column : expectedColumns().value(QStringLiteral("articles")))
        QVERIFY2(articleColumns.contains(column), qPrintable(column));
    QVERIFY(
        db.connection().tables().contains(QStringLiteral("articles_images"), Qt::CaseInsensitive));

    const SqlRows rows
        = db.select(QStringLiteral("SELECT id, Title, Folder, Description, DoCheck, ItemID "
                                   "FROM articles ORDER BY id"));
    QCOMPARE(rows.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rows.at(i).value(QStringLiteral("Title")).toString(),
                 QStringLiteral("Artikel %1").arg(i + 1));
        QCOMPARE(rows.at(i).value(QStringLiteral("Folder")).toInt(), -11 - i);
        QCOMPARE(rows.at(i).value(QStringLiteral("Description")).toString(),
                 QStringLiteral("<p>Text %1</p>").arg(i + 1));
        // New columns arrive with their defaults.
        QCOMPARE(rows.at(i).value(QStringLiteral("DoCheck")).toString(), QStringLiteral("0"));
        QCOMPARE(rows.at(i).value(QStringLiteral("ItemID")).toString(), QString());
    }
    QCOMPARE(db.selectOne(QStringLiteral("SELECT token FROM accounts WHERE accountname='händler'")),
             QStringLiteral("T0K3N"));
    QCOMPARE(db.selectOne(QStringLiteral("SELECT active FROM accounts")), QStringLiteral("1"));

    // Writing a full row into the upgraded table works.
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("Title"), QStringLiteral("neu"));
    row.insert(QStringLiteral("SoldCount"), 2);
    QVERIFY2(db.insertSqlClean(row, QStringLiteral("articles")) > 3, qPrintable(db.lastErrorText));
}

void TestSchema::newerSchemaIsLeftAlone()
{
    APP_TEST_DATABASE(t);
    t.db()->setOption(Schema::versionOption(), QString::number(Schema::currentVersion() + 5));
    t.db()->executeSQL(QStringLiteral("INSERT INTO folders (foldername) VALUES ('Kiste')"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("newer than this program")));
    t.reopen();
    QCOMPARE(t.db()->getOption(Schema::versionOption(), QString()),
             QString::number(Schema::currentVersion() + 5));
    QCOMPARE(t.db()->selectOne(QStringLiteral("SELECT foldername FROM folders")),
             QStringLiteral("Kiste"));
}

APP_TEST_MAIN(TestSchema)
#include "test_schema.moc"
