#include "import/rovive2import.h"

#include "core/logging.h"
#include "core/schema.h"
#include "core/specialfolderid.h"
#include "core/statics.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <functional>
#include <memory>

namespace {

enum class Rule { AsIs, Price };

struct Mapping
{
    const char *tag;
    const char *column;
    Rule rule;
};

// The item's plain fields; the ones with rules of their own are handled in articleRow().
const Mapping kFields[] = {
    { "BuyItNowPrice", "BuyItNowPrice", Rule::Price },
    { "Country", "Country", Rule::AsIs },
    { "Currency", "Currency", Rule::AsIs },
    { "Description", "Description", Rule::AsIs },
    { "ListingType", "ListingType", Rule::AsIs },
    { "Location", "Location", Rule::AsIs },
    { "LotSize", "LotSize", Rule::AsIs },
    { "PayPalEmailAddress", "PayPalEmailAddress", Rule::AsIs },
    { "GalleryType", "GalleryType", Rule::AsIs },
    { "PhotoDisplay", "PhotoDisplay", Rule::AsIs },
    { "PostalCode", "PostalCode", Rule::AsIs },
    { "PrimaryCategory", "PrimaryCategory", Rule::AsIs },
    { "Quantity", "Quantity", Rule::AsIs },
    { "ReservePrice", "ReservePrice", Rule::Price },
    { "SecondaryCategory", "SecondaryCategory", Rule::AsIs },
    { "SiteID", "Site", Rule::AsIs },
    { "StartPrice", "StartPrice", Rule::Price },
    { "StoreCategory1ID", "StoreCategoryID", Rule::AsIs },
    { "StoreCategory2ID", "StoreCategory2ID", Rule::AsIs },
    { "SubTitle", "SubTitle", Rule::AsIs },
    { "Title", "Title", Rule::AsIs },
    { "paymentdesc", "PaymentInstructions", Rule::AsIs },
    { "BestOffer", "BestOfferEnabled", Rule::AsIs },
    { "MinimumBestOfferPrice", "MinimumBestOfferPrice", Rule::Price },
    { "ApplicationData", "ApplicationData", Rule::AsIs },
    { "Condition", "ConditionID", Rule::AsIs },
    { "PrimaryCategoryDesc", "PrimaryCategoryText", Rule::AsIs },
    { "SecondaryCategoryDesc", "SecondaryCategoryText", Rule::AsIs },
};

const char *const kPaymentFlags[] = {
    "MOCC",          "AmEx",           "CCAccepted",       "PersonalCheck",
    "COD",           "VisaMC",         "PaisaPayAccepted", "PayPal",
    "Discover",      "CashOnPickup",   "MoneyXferAccepted", "OtherOnlinePayments",
    "Escrow",        "PrePayDelivery", "CODPrePayDelivery", "PostalTransfer",
    "LoanCheck",     "CashInPerson",
};

constexpr int kMaxPictures = 21;

// Prices are written German style ("1.234,50") or plain ("1234.50"). A text holding both
// marks the other way round ("1,234.50") would silently become 1.2345: kept as it is, so
// that the number check refuses it.
QString price(const QString &text)
{
    const int comma = text.indexOf(QLatin1Char(','));
    if (comma >= 0 && text.lastIndexOf(QLatin1Char('.')) > comma)
        return text;
    return Statics::fixPrice(text);
}

// The child elements of the current element as tag -> text; CDATA sections, entities and
// nested markup all read as text. The reader ends on the element's end tag.
Rovive2Import::Fields readFields(QXmlStreamReader &xml)
{
    Rovive2Import::Fields fields;
    while (xml.readNextStartElement()) {
        const QString tag = xml.name().toString();
        const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (!fields.contains(tag))
            fields.insert(tag, text);
    }
    return fields;
}

// Calls `take` with the fields of every complete child element `name` of the current
// element; other children are skipped. Stops at the first error.
void forEachChild(QXmlStreamReader &xml, QLatin1String name,
                  const std::function<void(const Rovive2Import::Fields &)> &take)
{
    while (xml.readNextStartElement()) {
        if (xml.name() != name) {
            xml.skipCurrentElement();
            continue;
        }
        const Rovive2Import::Fields fields = readFields(xml);
        if (xml.hasError())
            return;
        take(fields);
    }
}

int firstId(Database *db, const QString &sql)
{
    const SqlRows rows = db->select(sql);
    return rows.isEmpty() ? 0 : rows.first().value(QStringLiteral("id")).toInt();
}

// The first account whose name is exactly `name` (no case folding, no wildcards); 0 if none.
int accountId(Database *db, const QString &name)
{
    const SqlRows rows = db->select(QStringLiteral("SELECT id, accountname FROM accounts ORDER BY id"));
    for (const auto &row : rows)
        if (row.value(QStringLiteral("accountname")).toString() == name)
            return row.value(QStringLiteral("id")).toInt();
    return 0;
}

int folderByExternalId(Database *db, const QString &externalId)
{
    return firstId(db,
                   QStringLiteral("SELECT id FROM folders WHERE externalid='")
                       + Database::escapeString(externalId) + QStringLiteral("' ORDER BY id"));
}

// Number columns take numbers only: an empty value leaves the column at its default, a
// value that is no number too, and is reported.
void keepNumbersOnly(ArticleRow &row, QStringList *problems)
{
    const Schema::Table *table = Schema::table(QStringLiteral("articles"));
    if (!table)
        return;
    for (const Schema::Column &column : table->columns) {
        if ((column.type != Schema::Type::Integer && column.type != Schema::Type::Real)
            || !row.contains(column.name))
            continue;
        const QVariant value = row.value(column.name);
        if (value.type() == QVariant::Int)
            continue;
        const QString text = value.toString().trimmed();
        bool ok = false;
        if (column.type == Schema::Type::Integer)
            text.toLongLong(&ok);
        else
            text.toDouble(&ok);
        if (ok) {
            row.insert(column.name, text);
            continue;
        }
        row.remove(column.name);
        if (!text.isEmpty() && problems)
            *problems << QStringLiteral("%1 \"%2\" is not a number").arg(column.name, text);
    }
}

} // namespace

Rovive2Import::Rovive2Import(QString path) : m_path(std::move(path)) { }

ArticleRow Rovive2Import::articleRow(const Fields &item, Database *db, QStringList *problems)
{
    ArticleRow row;
    const auto value = [&item](const char *tag) { return item.value(QLatin1String(tag)); };

    QString specifics = value("AttrXML");
    specifics.remove(QStringLiteral("<ItemSpecifics>")).remove(QStringLiteral("</ItemSpecifics>"));
    row.insert(QStringLiteral("ItemSpecifics"), specifics);
    for (const Mapping &field : kFields) {
        const QString text = value(field.tag);
        row.insert(QLatin1String(field.column), field.rule == Rule::Price ? price(text) : text);
    }
    // A shipping service with its cost and the cost of each further item.
    const auto shipping = [&row, &item](const QString &tag, const QString &column) {
        row.insert(column, item.value(tag));
        row.insert(column + QStringLiteral("_Cost"), price(item.value(tag + QStringLiteral("kosten"))));
        row.insert(column + QStringLiteral("_Cost_Add"),
                   price(item.value(tag + QStringLiteral("kostenWeitere"))));
    };
    for (int n = 1; n <= 3; ++n) {
        shipping(QStringLiteral("ship%1").arg(n), QStringLiteral("ShippingService_%1").arg(n));
        const QString abroad = QStringLiteral("shipausland%1").arg(n);
        shipping(abroad, QStringLiteral("ShippingServiceInt_%1").arg(n));
        row.insert(QStringLiteral("ShippingServiceInt_%1_Loc").arg(n),
                   item.value(abroad + QStringLiteral("locs")));
    }

    // Duration: days, or "0" for an unlimited listing.
    const QString duration = value("ListingDuration").trimmed();
    bool days = false;
    duration.toInt(&days);
    if (duration == QLatin1String("0"))
        row.insert(QStringLiteral("ListingDuration"), QStringLiteral("GTC"));
    else if (days || duration.isEmpty())
        row.insert(QStringLiteral("ListingDuration"),
                   duration.isEmpty() ? QString() : QStringLiteral("Days_") + duration);
    else if (problems)
        *problems << QStringLiteral("ListingDuration \"%1\" is not a number").arg(duration);

    // Folder, and the marketplace item id only for articles that are listed or on their way.
    const QString folder = value("folder");
    int folderId = SpecialFolderId::Drafts;
    if (!folder.isEmpty()) {
        const int found = folderByExternalId(db, folder);
        if (found != 0)
            folderId = found;
    }
    if (folder == QLatin1String("WAITFORLIST")) {
        folderId = SpecialFolderId::Outbox;
        row.insert(QStringLiteral("FolderOld"), int(SpecialFolderId::Drafts));
    } else if (folder == QLatin1String("ActiveList")) {
        folderId = SpecialFolderId::Active;
    }
    row.insert(QStringLiteral("Folder"), folderId);
    const bool keepsItemId = folderId <= 0 && folderId != SpecialFolderId::Drafts;
    row.insert(QStringLiteral("ItemID"), keepsItemId ? value("ItemID") : QString());

    const QString user = value("username");
    const int account = user.isEmpty() ? 0 : accountId(db, user);
    if (account > 0)
        row.insert(QStringLiteral("Account"), account);

    QStringList payments;
    for (const char *flag : kPaymentFlags)
        if (value(flag) == QLatin1String("1"))
            payments << QLatin1String(flag);
    row.insert(QStringLiteral("PaymentMethods"), payments.join(QLatin1Char('|')));

    const QString dispatch = value("DispatchTimeMax");
    row.insert(QStringLiteral("DispatchTimeMax"), dispatch.isEmpty() ? QVariant(0) : dispatch);
    const QString vat = value("VATPercent");
    row.insert(QStringLiteral("VAT_VATPercent"), vat == QLatin1String("-1") ? QVariant(0) : vat);

    if (value("R14") == QLatin1String("1"))
        row.insert(QStringLiteral("RP_ReturnsAcceptedOption"), QStringLiteral("ReturnsAccepted"));
    row.insert(QStringLiteral("RP_ShippingCostPaidByOption"),
               value("R14CostBy") == QLatin1String("Buyer") ? QStringLiteral("Buyer")
                                                            : QStringLiteral("Seller"));
    static const QHash<QString, QString> returnsWithin = {
        { QStringLiteral("14"), QStringLiteral("Days_14") },
        { QStringLiteral("30"), QStringLiteral("Days_30") },
        { QStringLiteral("31"), QStringLiteral("Months_1") },
        { QStringLiteral("60"), QStringLiteral("Days_60") },
    };
    const QString within = returnsWithin.value(value("R14Option"));
    if (!within.isEmpty())
        row.insert(QStringLiteral("RP_ReturnsWithinOption"), within);

    QString identifier = value("ExternalProductID");
    for (const char *kind : { "EAN", "ISBN", "UPC" }) {
        const QString marker = QLatin1String(kind) + QLatin1Char(':');
        if (identifier.contains(marker)) {
            identifier.remove(marker);
            row.insert(QLatin1String(kind), identifier);
        }
    }
    if (identifier.contains(QLatin1String("Nicht zutreffend")))
        for (const char *kind : { "EAN", "ISBN", "UPC" })
            row.insert(QLatin1String(kind), QStringLiteral("Nicht zutreffend"));

    keepNumbersOnly(row, problems);
    return row;
}

void Rovive2Import::work()
{
    auto db = std::make_unique<Database>(true, QStringLiteral("ImportRovive2"));
    m_itemsTotal = 0;
    m_itemCounter = 0;
    m_failedPictures = 0;
    const QString cancelled = tr("Import abgebrochen") + QStringLiteral("§§§");
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit sendNotification(cancelled + tr("Die Datei %1 konnte nicht gelesen werden").arg(m_path));
    } else {
        QXmlStreamReader xml(&file);
        if (readExport(xml, *db)) {
            QString text = tr("Die Daten wurden importiert, bitte das Programm neu starten");
            if (m_failedPictures == 1)
                text += QLatin1Char(' ') + tr("1 Bild konnte nicht übernommen werden.");
            else if (m_failedPictures > 1)
                text += QLatin1Char(' ')
                    + tr("%1 Bilder konnten nicht übernommen werden.").arg(m_failedPictures);
            emit sendNotification(tr("Import abgeschlossen") + QStringLiteral("§§§") + text);
        } else {
            qCWarning(lcApp).noquote() << "Rovive import of" << m_path << "stopped at line"
                                       << xml.lineNumber() << ":" << xml.errorString();
            emit sendNotification(cancelled
                                  + tr("Die Datei %1 ist ab Zeile %2 keine gültige Exportdatei "
                                       "(%3). Was bis dahin gelesen wurde, ist importiert.")
                                        .arg(m_path)
                                        .arg(xml.lineNumber())
                                        .arg(xml.errorString()));
        }
    }
    db->close();
    db.reset();
    emit getStatus(tr("Importiere abgeschlossen"), 100, 100);
    emit finished();
}

bool Rovive2Import::readExport(QXmlStreamReader &xml, Database &db)
{
    // The export's declaration names its encoding (UTF-8 when it names none); the reader
    // decodes by it.
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("ItemsTotal")) {
            m_itemsTotal
                = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().toInt();
        } else if (name == QLatin1String("categories")) {
            createFolders(xml, db);
        } else if (name == QLatin1String("users")) {
            createAccounts(xml, db);
        } else if (name == QLatin1String("Item")) {
            const Fields item = readFields(xml);
            if (!xml.hasError())
                importItem(item, db);
        }
    }
    return !xml.hasError();
}

void Rovive2Import::createFolders(QXmlStreamReader &xml, Database &db)
{
    emit getStatus(tr("Lege Kategorien an..."), 100, 50);
    forEachChild(xml, QLatin1String("category"), [&db](const Fields &category) {
        const QString parent = category.value(QStringLiteral("parentid"));
        // A category whose parent is unknown goes where the user's folders start.
        const int parentId = parent.isEmpty() ? 0 : folderByExternalId(&db, parent);
        ArticleRow row;
        row.insert(QStringLiteral("foldername"), category.value(QStringLiteral("text")));
        row.insert(QStringLiteral("externalid"), category.value(QStringLiteral("id")));
        row.insert(QStringLiteral("folderparentid"),
                   parentId != 0 ? parentId : int(SpecialFolderId::Drafts));
        db.insertSqlClean(row, QStringLiteral("folders"));
    });
    if (!xml.hasError())
        emit getStatus(tr("Kategorien anlegen abgeschlossen"), 100, 100);
}

void Rovive2Import::createAccounts(QXmlStreamReader &xml, Database &db)
{
    emit getStatus(tr("Lege Konten an..."), 100, 50);
    forEachChild(xml, QLatin1String("user"), [&db](const Fields &user) {
        const QString name = user.value(QStringLiteral("username"));
        if (accountId(&db, name) > 0)
            return;
        ArticleRow row;
        row.insert(QStringLiteral("accountname"), name);
        row.insert(QStringLiteral("token"), user.value(QStringLiteral("usertoken")));
        row.insert(QStringLiteral("tokenexp"), user.value(QStringLiteral("usertokenexpire")));
        row.insert(QStringLiteral("active"), 1);
        db.insertSqlClean(row, QStringLiteral("accounts"));
    });
}

void Rovive2Import::importItem(const Fields &item, Database &db)
{
    ++m_itemCounter;
    const QString itemId = item.value(QStringLiteral("ItemID"));
    if (!itemId.isEmpty()
        && firstId(&db,
                   QStringLiteral("SELECT id FROM articles WHERE ItemID='")
                       + Database::escapeString(itemId) + QLatin1Char('\''))
            > 0)
        return;
    const QString title = item.value(QStringLiteral("Title"));
    emit getStatus(tr("Importiere %1").arg(title), m_itemsTotal, m_itemCounter);

    QStringList problems;
    const ArticleRow row = articleRow(item, &db, &problems);
    for (const QString &problem : problems)
        qCWarning(lcApp).noquote() << "Rovive import, item" << itemId << title << ":" << problem
                                   << "- left at the column's default";

    QStringList pictures;
    for (int n = 0; n < kMaxPictures; ++n) {
        const QString picture = item.value(QStringLiteral("image%1").arg(n));
        if (!picture.isEmpty())
            pictures << picture;
    }
    const int id = db.insertSqlClean(row, QStringLiteral("articles"));
    if (id <= 0)
        return;
    emit getStatus(tr("Importiere Bilder für %1").arg(title), m_itemsTotal, m_itemCounter);
    CopyImages(id, pictures, &db);
}

void Rovive2Import::CopyImages(int articleId, QStringList &images, Database *db)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString id = QString::number(articleId);
    const QString folder = db->getCurrentAdImageDir();
    db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=") + id);

    QString first;
    const auto record = [&](const QString &image, int sort) {
        db->executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) "
                                      "VALUES (%1, '%2', '%3')")
                           .arg(id, Database::escapeString(image), QString::number(sort)));
        if (first.isEmpty())
            first = image;
    };

    for (int i = 0; i < images.size(); ++i) {
        QString picture = images.at(i);
        const QString lower = picture.toLower();
        if (lower.contains(QLatin1String("http:")) || lower.contains(QLatin1String("https:"))) {
            const int dot = picture.lastIndexOf(QLatin1Char('.'));
            QString name = Statics::hashString(picture) + QLatin1Char('.')
                + (dot >= 0 ? picture.mid(dot + 1) : picture);
            name = name.left(name.indexOf(QLatin1Char('?')));
            const QString target = folder + name;
            // A name with a folder part is no file of the picture folder; an error status or
            // an empty answer is no picture.
            const bool plainName
                = !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
            if (plainName && Statics::DownloadURL(picture, target, true, QString())
                && QFileInfo(target).size() > 0) {
                picture = target;
            } else {
                qCWarning(lcApp).noquote() << "Download" << picture << "to" << target << "fails";
                if (plainName && QFileInfo(target).size() == 0)
                    QFile::remove(target);
                ++m_failedPictures;
                continue;
            }
        }
        const QFileInfo source(picture);
        if (!source.isFile()) {
            if (QFileInfo(folder + picture).isFile())
                record(picture, i);
            else
                ++m_failedPictures;
            continue;
        }
        const QString name = stamp + QLatin1Char('_') + id + QLatin1Char('_') + QString::number(i)
            + QLatin1Char('.') + source.completeSuffix();
        const QString target = folder + name;
        QFile::remove(target);
        if (!QFile::copy(picture, target)) {
            qCWarning(lcApp).noquote() << "Copy" << picture << "to" << target << "fails";
            ++m_failedPictures;
            continue;
        }
        record(name, i);
    }

    if (!first.isEmpty()) {
        const QString thumb = Statics::CreateThumb(folder + first, db->getCurrentAdImageDirThumbs());
        db->executeSQL(QStringLiteral("UPDATE articles SET ImageThumb='")
                       + Database::escapeString(thumb) + QStringLiteral("' WHERE id=") + id);
    }
}
