#include "core/schema.h"

#include "core/database.h"
#include "core/logging.h"

#include <QSqlDatabase>
#include <QSqlRecord>

#include <iterator>

namespace Schema {

namespace {

Column key(const QString &name)
{
    return { name, Type::Key, 0, QString(), true };
}
Column integer(const QString &name, int defaultValue = 0, bool notNull = false)
{
    return { name, Type::Integer, 0, QString::number(defaultValue), notNull };
}
Column real(const QString &name)
{
    return { name, Type::Real, 0, QStringLiteral("0"), false };
}
Column varchar(const QString &name, int length, bool notNull = false)
{
    return { name, Type::VarChar, length, QStringLiteral("''"), notNull };
}
Column text(const QString &name)
{
    return { name, Type::Text, 0, QStringLiteral("''"), false };
}
Column longText(const QString &name)
{
    return { name, Type::LongText, 0, QString(), false };
}

QVector<Column> articleColumns()
{
    QVector<Column> c = {
        // Identity, filing and life cycle
        key(QStringLiteral("id")),
        integer(QStringLiteral("Folder")),
        integer(QStringLiteral("FolderOld")),
        integer(QStringLiteral("Trash")),
        varchar(QStringLiteral("TrashMoved"), 20),
        integer(QStringLiteral("Account")),
        integer(QStringLiteral("Site"), 77),
        text(QStringLiteral("TemplateName")),
        integer(QStringLiteral("IsEdit")),
        integer(QStringLiteral("ParentArticle")),
        // Processing state
        integer(QStringLiteral("DoCheck")),
        varchar(QStringLiteral("DoCheckResult"), 255),
        integer(QStringLiteral("IsVerified")),
        varchar(QStringLiteral("Planned"), 20),
        varchar(QStringLiteral("Planned_Interval"), 100),
        integer(QStringLiteral("HasError")),
        text(QStringLiteral("LastError")),
        integer(QStringLiteral("Marker")),
        varchar(QStringLiteral("RefreshHash"), 20),
        // Marketplace listing state and counters
        varchar(QStringLiteral("ItemID"), 50),
        varchar(QStringLiteral("StartDate"), 20),
        varchar(QStringLiteral("EndDate"), 20),
        real(QStringLiteral("CurrentPrice")),
        integer(QStringLiteral("Quantity")),
        integer(QStringLiteral("SoldCount")),
        integer(QStringLiteral("BidCount")),
        integer(QStringLiteral("WatchCount")),
        integer(QStringLiteral("QuestionCount")),
        text(QStringLiteral("HighBidder")),
        varchar(QStringLiteral("Currency"), 10),
        text(QStringLiteral("ImageThumb")),
        // Title, categories, specifics, identifiers
        text(QStringLiteral("Title")),
        text(QStringLiteral("SubTitle")),
        text(QStringLiteral("SKU")),
        text(QStringLiteral("ApplicationData")),
        longText(QStringLiteral("Description")),
        longText(QStringLiteral("ItemSpecifics")),
        text(QStringLiteral("PrimaryCategory")),
        text(QStringLiteral("PrimaryCategoryText")),
        text(QStringLiteral("SecondaryCategory")),
        text(QStringLiteral("SecondaryCategoryText")),
        integer(QStringLiteral("ConditionID")),
        text(QStringLiteral("ConditionDescription")),
        text(QStringLiteral("EAN")),
        text(QStringLiteral("ISBN")),
        text(QStringLiteral("UPC")),
        text(QStringLiteral("StoreCategoryID")),
        text(QStringLiteral("StoreCategory2ID")),
        text(QStringLiteral("GalleryType")),
        text(QStringLiteral("PhotoDisplay")),
        text(QStringLiteral("VariantImageOption")),
        integer(QStringLiteral("HasVariation")),
        real(QStringLiteral("HasVariationMinPrice")),
        // Format, duration, prices and quantities
        text(QStringLiteral("ListingType")),
        text(QStringLiteral("ListingDuration")),
        real(QStringLiteral("StartPrice")),
        real(QStringLiteral("BuyItNowPrice")),
        real(QStringLiteral("ReservePrice")),
        integer(QStringLiteral("PrivateListing")),
        integer(QStringLiteral("eBayPlus")),
        integer(QStringLiteral("BestOfferEnabled")),
        real(QStringLiteral("BestOfferAutoAcceptPrice")),
        real(QStringLiteral("MinimumBestOfferPrice")),
        integer(QStringLiteral("LotSize")),
        real(QStringLiteral("VAT_VATPercent")),
        // Payment and returns
        text(QStringLiteral("PaymentMethods")),
        text(QStringLiteral("PayPalEmailAddress")),
        text(QStringLiteral("PaymentInstructions")),
        varchar(QStringLiteral("SellerPaymentProfile"), 100),
        varchar(QStringLiteral("SellerReturnProfile"), 100),
        varchar(QStringLiteral("SellerShippingProfile"), 100),
        text(QStringLiteral("RP_ReturnsAcceptedOption")),
        text(QStringLiteral("RP_ReturnsWithinOption")),
        text(QStringLiteral("RP_ShippingCostPaidByOption")),
        text(QStringLiteral("RP_InternationalReturnsAcceptedOption")),
        text(QStringLiteral("RP_InternationalReturnsWithinOption")),
        text(QStringLiteral("RP_InternationalShippingCostPaidByOption")),
        // Location and domestic shipping
        text(QStringLiteral("Country")),
        text(QStringLiteral("PostalCode")),
        text(QStringLiteral("Location")),
        integer(QStringLiteral("DispatchTimeMax")),
    };
    for (int i = 1; i <= 4; ++i) {
        const QString service = QStringLiteral("ShippingService_%1").arg(i);
        c << text(service) << real(service + QStringLiteral("_Cost"))
          << real(service + QStringLiteral("_Cost_Add"));
    }
    c << integer(QStringLiteral("ShippingService_1_IsFree"))
      << integer(QStringLiteral("PickUpAccepted")) << real(QStringLiteral("PickUpAcceptedCost"))
      << integer(QStringLiteral("PromotionalShippingDiscount"))
      << text(QStringLiteral("ShippingDiscountProfileID"));
    // International shipping
    for (int i = 1; i <= 5; ++i) {
        const QString service = QStringLiteral("ShippingServiceInt_%1").arg(i);
        c << text(service) << real(service + QStringLiteral("_Cost"))
          << real(service + QStringLiteral("_Cost_Add")) << text(service + QStringLiteral("_Loc"));
    }
    c << integer(QStringLiteral("IPromotionalShippingDiscount"))
      << text(QStringLiteral("IShippingDiscountProfileID"));
    // Free fields of the description template
    for (int i = 1; i <= 5; ++i)
        c << text(QStringLiteral("Free_%1").arg(i, 2, 10, QLatin1Char('0')));
    c << text(QStringLiteral("Notes"));
    return c;
}

QVector<Table> buildTables()
{
    QVector<Table> t;
    t.append({ QStringLiteral("accounts"),
               { key(QStringLiteral("id")), integer(QStringLiteral("active"), 1),
                 varchar(QStringLiteral("accountname"), 150), text(QStringLiteral("token")),
                 longText(QStringLiteral("apiresult")), varchar(QStringLiteral("tokenexp"), 20),
                 integer(QStringLiteral("sandbox")), integer(QStringLiteral("acceptprotect")),
                 integer(QStringLiteral("smallbiz")) },
               {},
               {} });
    t.append(
        { QStringLiteral("folders"),
          { key(QStringLiteral("id")), varchar(QStringLiteral("foldername"), 255),
            integer(QStringLiteral("folderparentid")), integer(QStringLiteral("expand")),
            varchar(QStringLiteral("cat_ebay"), 50), varchar(QStringLiteral("externalid"), 100) },
          {},
          {} });
    t.append({ QStringLiteral("options"),
               { varchar(QStringLiteral("optionname"), 255, true),
                 longText(QStringLiteral("optionvalue")) },
               {},
               QStringLiteral("optionname") });
    t.append({ QStringLiteral("itemshistory"),
               { key(QStringLiteral("id")), varchar(QStringLiteral("indate"), 20),
                 varchar(QStringLiteral("itemid"), 50), varchar(QStringLiteral("title"), 255),
                 integer(QStringLiteral("price"), 0, true),
                 integer(QStringLiteral("pricetype"), 0, true),
                 integer(QStringLiteral("databaseid"), 0, true), text(QStringLiteral("textinfo")),
                 varchar(QStringLiteral("infotype"), 50, true) },
               { { QStringLiteral("idx_itemshistory_indate"), { QStringLiteral("indate") } } },
               {} });
    t.append({ QStringLiteral("articles"),
               articleColumns(),
               { { QStringLiteral("idx_articles_folder"),
                   { QStringLiteral("Folder"), QStringLiteral("Trash") } },
                 { QStringLiteral("idx_articles_itemid"), { QStringLiteral("ItemID") } },
                 { QStringLiteral("idx_articles_docheck"), { QStringLiteral("DoCheck") } },
                 // An account's listing by item number: the synchronisation looks up every
                 // listing it reads this way.
                 { QStringLiteral("idx_articles_account_itemid"),
                   { QStringLiteral("Account"), QStringLiteral("ItemID") } } },
               {} });
    t.append(
        { QStringLiteral("articles_images"),
          { key(QStringLiteral("id")), integer(QStringLiteral("article_id")),
            text(QStringLiteral("image")), integer(QStringLiteral("sort")),
            text(QStringLiteral("variant_name")), integer(QStringLiteral("variant_id")) },
          { { QStringLiteral("idx_articles_images_article"), { QStringLiteral("article_id") } } },
          {} });
    t.append({ QStringLiteral("articles_variations"),
               { key(QStringLiteral("id")), integer(QStringLiteral("article_id")),
                 longText(QStringLiteral("VariantXml")), text(QStringLiteral("SKU")),
                 real(QStringLiteral("StartPrice")), integer(QStringLiteral("Quantity")),
                 integer(QStringLiteral("QuantitySold")), text(QStringLiteral("EAN")),
                 text(QStringLiteral("ISBN")), text(QStringLiteral("UPC")),
                 text(QStringLiteral("ProductReferenceID")) },
               { { QStringLiteral("idx_articles_variations_article"),
                   { QStringLiteral("article_id") } } },
               {} });
    t.append({ QStringLiteral("articles_variations_op_val"),
               { key(QStringLiteral("id")), integer(QStringLiteral("article_id")),
                 text(QStringLiteral("optionname")), text(QStringLiteral("optionvalue")) },
               {},
               {} });
    t.append({ QStringLiteral("clienttoserver"),
               { key(QStringLiteral("id")), integer(QStringLiteral("newsid")) },
               {},
               {} });
    t.append({ QStringLiteral("shopcats"),
               { key(QStringLiteral("id")), integer(QStringLiteral("account")),
                 integer(QStringLiteral("site")), varchar(QStringLiteral("catid"), 50),
                 text(QStringLiteral("name")), varchar(QStringLiteral("parentid"), 50),
                 integer(QStringLiteral("level")), integer(QStringLiteral("sort")) },
               { { QStringLiteral("idx_shopcats_account_site"),
                   { QStringLiteral("account"), QStringLiteral("site") } } },
               {} });
    t.append({ QStringLiteral("textshortcuts"),
               { key(QStringLiteral("id")), text(QStringLiteral("shortcut")),
                 longText(QStringLiteral("content")) },
               {},
               {} });
    // The items of a predecessor's export that were imported, each by the key of its content
    // and its place among equal items of the file, with the article made of it: importing the
    // same file again adds only what is not there yet.
    t.append({ QStringLiteral("imported_items"),
               { key(QStringLiteral("id")), varchar(QStringLiteral("itemkey"), 64, true),
                 integer(QStringLiteral("article_id")) },
               { { QStringLiteral("idx_imported_items_itemkey"), { QStringLiteral("itemkey") } } },
               {} });
    t.append({ QStringLiteral("chat_private"),
               { key(QStringLiteral("id")), varchar(QStringLiteral("indate"), 20),
                 varchar(QStringLiteral("itemid"), 50), longText(QStringLiteral("content")) },
               {},
               {} });
    return t;
}

QString typeName(const Column &column, const Dialect &dialect)
{
    switch (column.type) {
    case Type::Key:
        return dialect.mysql ? QStringLiteral("INT NOT NULL AUTO_INCREMENT PRIMARY KEY")
                             : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    case Type::Integer:
        return dialect.mysql ? QStringLiteral("INT") : QStringLiteral("INTEGER");
    case Type::Real:
        return dialect.mysql ? QStringLiteral("DOUBLE") : QStringLiteral("REAL");
    case Type::VarChar:
        return QStringLiteral("VARCHAR(%1)").arg(column.length);
    case Type::Text:
        return dialect.mysql ? QStringLiteral("MEDIUMTEXT") : QStringLiteral("TEXT");
    case Type::LongText:
        return dialect.mysql ? QStringLiteral("LONGTEXT") : QStringLiteral("TEXT");
    }
    return QString();
}

bool isTextType(Type type)
{
    return type == Type::Text || type == Type::LongText;
}

} // namespace

const QVector<Table> &tables()
{
    static const QVector<Table> all = buildTables();
    return all;
}

const Table *table(const QString &name)
{
    for (const Table &t : tables()) {
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    }
    return nullptr;
}

QString columnDefinition(const Column &column, const Dialect &dialect)
{
    QString sql = QLatin1Char('`') + column.name + QLatin1String("` ") + typeName(column, dialect);
    if (column.type == Type::Key)
        return sql;
    if (column.notNull)
        sql += QLatin1String(" NOT NULL");
    if (!column.defaultValue.isEmpty()) {
        if (!dialect.mysql || !isTextType(column.type)
            || dialect.textDefault == Dialect::TextDefault::Literal)
            sql += QLatin1String(" DEFAULT ") + column.defaultValue;
        else if (dialect.textDefault == Dialect::TextDefault::Expression)
            sql += QLatin1String(" DEFAULT (") + column.defaultValue + QLatin1Char(')');
    }
    return sql;
}

QString createTableStatement(const Table &table, const Dialect &dialect)
{
    QStringList parts;
    for (const Column &column : table.columns)
        parts << columnDefinition(column, dialect);
    if (!table.uniqueKey.isEmpty())
        parts << QStringLiteral("PRIMARY KEY (`%1`)").arg(table.uniqueKey);
    QString sql = QLatin1String("CREATE TABLE IF NOT EXISTS `") + table.name + QLatin1String("` (")
        + parts.join(QLatin1String(", ")) + QLatin1Char(')');
    if (dialect.mysql)
        sql += QLatin1String(" ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci");
    return sql;
}

QString versionOption()
{
    return QStringLiteral("SchemaVersion");
}

namespace {

// The server's dialect; a failed read when its version could not be read (tables made without
// it could get defaults the server does not take).
Read<Dialect> dialectOf(Database &db)
{
    Dialect dialect;
    dialect.mysql = db.isMySQL;
    if (!dialect.mysql)
        return dialect;
    const Read<QString> read = db.selectOne(QStringLiteral("SELECT VERSION()"));
    if (!read.ok())
        return Read<Dialect>::failed(read.error());
    const QString &version = *read;
    if (version.contains(QLatin1String("MariaDB"), Qt::CaseInsensitive)) {
        dialect.textDefault = Dialect::TextDefault::Literal;
    } else {
        const QStringList parts = version.split(QLatin1Char('.'));
        const int major = parts.value(0).toInt();
        const int minor = parts.value(1).toInt();
        const int patch = parts.value(2).section(QLatin1Char('-'), 0, 0).toInt();
        const bool expressions = major > 8 || (major == 8 && (minor > 0 || patch >= 13));
        dialect.textDefault
            = expressions ? Dialect::TextDefault::Expression : Dialect::TextDefault::None;
    }
    return dialect;
}

QStringList existingTables(Database &db)
{
    return db.connection().tables(QSql::Tables);
}

bool containsName(const QStringList &names, const QString &name)
{
    return names.contains(name, Qt::CaseInsensitive);
}

// Step 1: every table the program uses.
bool createTables(Database &db, const Dialect &dialect)
{
    const QStringList existing = existingTables(db);
    for (const Table &t : tables()) {
        if (containsName(existing, t.name))
            continue;
        if (!db.executeSQL(createTableStatement(t, dialect)))
            return false;
        qCDebug(lcDb).noquote() << "Created table" << t.name;
    }
    return true;
}

// Step 2: tables and columns missing from a database made by an earlier version of the
// program. Later versions that add tables or columns run this again.
bool addMissingColumns(Database &db, const Dialect &dialect)
{
    if (!createTables(db, dialect))
        return false;
    for (const Table &t : tables()) {
        const QSqlRecord record = db.connection().record(t.name);
        QStringList present;
        for (int i = 0; i < record.count(); ++i)
            present << record.fieldName(i);
        for (const Column &column : t.columns) {
            if (containsName(present, column.name))
                continue;
            if (column.type == Type::Key) {
                qCWarning(lcDb).noquote() << "Table" << t.name << "has no key column" << column.name
                                          << "and it can't be added afterwards";
                continue;
            }
            const QString sql = QLatin1String("ALTER TABLE `") + t.name
                + QLatin1String("` ADD COLUMN ") + columnDefinition(column, dialect);
            if (!db.executeSQL(sql))
                return false;
            qCDebug(lcDb).noquote() << "Added column" << t.name + QLatin1Char('.') + column.name;
        }
    }
    return true;
}

Read<QStringList> existingIndexes(Database &db, const QString &tableName)
{
    QStringList names;
    const Read<SqlRows> rows = db.select(
        db.isMySQL ? QLatin1String("SHOW INDEX FROM `") + tableName + QLatin1Char('`')
                   : QLatin1String("PRAGMA index_list(`") + tableName + QLatin1String("`)"));
    if (!rows.ok())
        return Read<QStringList>::failed(rows.error());
    for (const auto &row : *rows)
        names << row.value(db.isMySQL ? QStringLiteral("Key_name") : QStringLiteral("name"))
                     .toString();
    return names;
}

// Step 3: indexes for the lookups the lists and the workers make all the time.
bool createIndexes(Database &db, const Dialect &)
{
    for (const Table &t : tables()) {
        if (t.indexes.isEmpty())
            continue;
        // Not read, the step fails: the indexes are looked at again at the next start.
        const Read<QStringList> existing = existingIndexes(db, t.name);
        if (!existing.ok())
            return false;
        for (const Index &index : t.indexes) {
            if (containsName(*existing, index.name))
                continue;
            const QString sql = QLatin1String("CREATE INDEX `") + index.name
                + QLatin1String("` ON `") + t.name + QLatin1String("` (`")
                + index.columns.join(QLatin1String("`, `")) + QLatin1String("`)");
            if (!db.executeSQL(sql))
                return false;
        }
    }
    return true;
}

// Step 6: the index on the account alone made SQLite look up a listing by item number
// among all rows of its account; one on the account and the item number replaces it.
bool replaceAccountIndex(Database &db, const Dialect &dialect)
{
    const QString old = QStringLiteral("idx_articles_account");
    const Read<QStringList> existing = existingIndexes(db, QStringLiteral("articles"));
    if (!existing.ok())
        return false;
    if (containsName(*existing, old)) {
        const QString sql = db.isMySQL
            ? QLatin1String("DROP INDEX `") + old + QLatin1String("` ON `articles`")
            : QLatin1String("DROP INDEX `") + old + QLatin1Char('`');
        if (!db.executeSQL(sql))
            return false;
    }
    return createIndexes(db, dialect);
}

// Tables added later, with their indexes.
bool addTableWithIndexes(Database &db, const Dialect &dialect)
{
    return createTables(db, dialect) && createIndexes(db, dialect);
}

struct Step
{
    int version;
    const char *what;
    bool (*run)(Database &, const Dialect &);
};

const Step kSteps[] = {
    { 1, "create tables", createTables },
    { 2, "add missing tables and columns", addMissingColumns },
    { 3, "create indexes", createIndexes },
    { 4, "add sold quantities of variations", addMissingColumns },
    // The account filter and the synchronisation read the articles of one account.
    { 5, "create the index on the account", createIndexes },
    { 6, "replace the index on the account by one on the account and item number",
      replaceAccountIndex },
    // The predecessor import records what it imported.
    { 7, "add the record of imported predecessor items", addTableWithIndexes },
};

} // namespace

int currentVersion()
{
    return kSteps[std::size(kSteps) - 1].version;
}

bool upgrade(Database &db)
{
    const bool hasOptions = containsName(existingTables(db), QStringLiteral("options"));
    // A version that could not be read is no version 0: nothing is changed now.
    const Read<QString> stored = hasOptions ? db.getOption(versionOption(), QStringLiteral("0"))
                                            : Read<QString>(QStringLiteral("0"));
    if (!stored.ok()) {
        qCWarning(lcDb).noquote() << "The schema version could not be read:" << stored.error();
        return false;
    }
    const int from = stored->toInt();
    if (from > currentVersion()) {
        qCWarning(lcDb).noquote() << "The database has schema version" << from
                                  << "which is newer than this program's" << currentVersion();
        return true;
    }
    if (from == currentVersion())
        return true;

    const Read<Dialect> dialect = dialectOf(db);
    if (!dialect.ok()) {
        qCWarning(lcDb).noquote() << "The server's version could not be read:" << dialect.error();
        return false;
    }
    for (const Step &step : kSteps) {
        if (step.version <= from)
            continue;
        qCDebug(lcDb).noquote() << "Database upgrade step" << step.version << step.what;
        // A step whose version is not stored is run again at the next start: each one only
        // adds what is missing.
        if (!step.run(db, *dialect)
            || !db.setOption(versionOption(), QString::number(step.version))) {
            db.forgetColumns();
            qCWarning(lcDb).noquote()
                << "Database upgrade step" << step.version << "failed:" << db.lastErrorText;
            return false;
        }
    }
    // Column lists read before the upgrade are out of date.
    db.forgetColumns();
    return true;
}

} // namespace Schema
