#include "views/articlelistitem.h"

#include "core/sqltext.h"
#include "core/untrustedfile.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace {

// The columns of the list's column set (and the two rows may carry besides).
enum Column : int {
    ShippingCost,
    CurrentPrice,
    Account,
    Site,
    Sku,
    HasVariation,
    VariationMinPrice,
    Planned,
    PlannedInterval,
    ItemId,
    DoCheck,
    DoCheckResult,
    Id,
    Title,
    StartPrice,
    Folder,
    FolderOld,
    SoldCount,
    Currency,
    ImageThumb,
    WatchCount,
    ListingDuration,
    StartDate,
    ListingType,
    BidCount,
    QuestionCount,
    Quantity,
    EBayPlus,
    BestOfferEnabled,
    Marker,
    LastError,
    ColumnCount
};

const char *const kColumnNames[ColumnCount] = {
    "ShippingService_1_Cost",
    "CurrentPrice",
    "Account",
    "Site",
    "SKU",
    "HasVariation",
    "HasVariationMinPrice",
    "Planned",
    "Planned_Interval",
    "ItemID",
    "DoCheck",
    "DoCheckResult",
    "id",
    "Title",
    "StartPrice",
    "Folder",
    "FolderOld",
    "SoldCount",
    "Currency",
    "ImageThumb",
    "WatchCount",
    "ListingDuration",
    "StartDate",
    "ListingType",
    "BidCount",
    "QuestionCount",
    "Quantity",
    "eBayPlus",
    "BestOfferEnabled",
    "Marker",
    "LastError",
};

const QString kDateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kShownDateFormat = QStringLiteral("dd.MM.yy HH:mm");
const QString kNoDate = QStringLiteral("0000-00-00 00:00:00");

// A price as the list shows it: the default locale's number format, two decimals.
QString localPrice(double value, const QString &symbol)
{
    return QStringLiteral("%L1").arg(value, 0, 'f', 2) + QLatin1Char(' ') + symbol;
}

// The date of a "yyyy-MM-dd HH:mm:ss" text as "dd.MM.yy HH:mm"; empty when it doesn't parse.
QString shownDate(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toString(kShownDateFormat) : QString();
}

} // namespace

ArticleListRow ArticleListRow::fromMap(const QMap<QString, QVariant> &row,
                                       const QString &thumbFolder)
{
    ArticleListRow result;
    result.m_thumbFolder = thumbFolder;
    for (int column = 0; column < ColumnCount; ++column)
        result.set(column, row.value(QLatin1String(kColumnNames[column])));
    return result;
}

void ArticleListRow::set(int column, const QVariant &value)
{
    switch (column) {
    case ShippingCost:
        m_shippingCost = value.toDouble();
        break;
    case CurrentPrice:
        m_currentPrice = value.toDouble();
        break;
    case Account:
        m_account = value.toInt();
        break;
    case Site:
        m_site = value.toInt();
        break;
    case Sku:
        m_sku = value.toString();
        break;
    case HasVariation:
        m_hasVariation = value.toInt();
        break;
    case VariationMinPrice:
        m_variationMinPrice = value.toDouble();
        break;
    case Planned:
        m_planned = value.toString();
        break;
    case PlannedInterval:
        m_plannedInterval = value.toString();
        break;
    case ItemId:
        m_itemId = value.toString();
        break;
    case DoCheck:
        m_doCheck = value.toInt();
        break;
    case DoCheckResult:
        m_doCheckResult = value.toString();
        break;
    case Id:
        m_id = value.toInt();
        break;
    case Title:
        m_title = value.toString();
        break;
    case StartPrice:
        m_startPrice = value.toDouble();
        break;
    case Folder:
        m_folder = value.toInt();
        break;
    case FolderOld:
        m_folderOld = value.toString();
        break;
    case SoldCount:
        m_soldCount = value.toInt();
        break;
    case Currency:
        m_currency = value.toString();
        break;
    case ImageThumb:
        m_thumb = value.toString();
        break;
    case WatchCount:
        m_watchCount = value.toString();
        break;
    case ListingDuration:
        m_listingDuration = value.toString();
        break;
    case StartDate:
        m_startDate = value.toString();
        break;
    case ListingType:
        m_listingType = value.toString();
        break;
    case BidCount:
        m_bidCount = value.toInt();
        break;
    case QuestionCount:
        m_questionCount = value.toInt();
        break;
    case Quantity:
        m_quantity = value.toInt();
        break;
    case EBayPlus:
        m_eBayPlus = value.toInt();
        break;
    case BestOfferEnabled:
        m_bestOffer = value.toInt();
        break;
    case Marker:
        m_marker = value.toInt();
        break;
    case LastError:
        m_lastError = value.toString();
        break;
    default:
        break;
    }
}

QString ArticleListRow::symbol() const
{
    QString symbol = m_currency;
    symbol.replace(QLatin1String("EUR"), QStringLiteral("\u20ac"))
        .replace(QLatin1String("USD"), QLatin1String("$"));
    return symbol.isEmpty() ? QStringLiteral("\u20ac") : symbol;
}

QString ArticleListRow::endText() const
{
    if (m_listingDuration == QLatin1String("GTC"))
        return QCoreApplication::translate("MainWindow", "BaW");
    if (m_startDate.isEmpty() || m_startDate == kNoDate
        || !m_listingDuration.contains(QLatin1Char('_')))
        return QStringLiteral("-");
    const int days = m_listingDuration.split(QLatin1Char('_')).value(1).toInt();
    // An invalid date would still move by the days into some nonsense date.
    const QDateTime start = QDateTime::fromString(m_startDate, kDateFormat);
    return start.isValid() ? shownDate(start.addDays(days)) : QString();
}

bool ArticleListRow::take(int role, const QVariant &value)
{
    using namespace ItemListRole;
    int *number = nullptr;
    QString *text = nullptr;
    switch (role) {
    case WatchCountRole:
        if (value.userType() != QMetaType::Int && value.userType() != QMetaType::QString)
            return false;
        m_watchCount = value;
        return true;
    case SoldCountRole:
        number = &m_soldCount;
        break;
    case QuantityRole:
        number = &m_quantity;
        break;
    case QuestionCountRole:
        number = &m_questionCount;
        break;
    case BidCountRole:
        number = &m_bidCount;
        break;
    case DoCheckRole:
        number = &m_doCheck;
        break;
    case PlannedIntervalRole:
        text = &m_plannedInterval;
        break;
    case DoCheckResultRole:
        text = &m_doCheckResult;
        break;
    default:
        return false;
    }
    if (number && value.userType() == QMetaType::Int) {
        *number = value.toInt();
        return true;
    }
    if (text && value.userType() == QMetaType::QString) {
        *text = value.toString();
        return true;
    }
    return false;
}

bool ArticleListRow::isArticleRole(int role)
{
    using namespace ItemListRole;
    return (role >= MarkerRole && role <= ShippingCostRole)
        || (role >= ArticleIdRole && role <= DoCheckResultRole);
}

QVariant ArticleListRow::value(int role) const
{
    using namespace ItemListRole;
    switch (role) {
    case MarkerRole:
        return m_marker;
    case LastErrorRole:
        return m_lastError;
    case ImageThumbRole:
        // A name that leads out of the thumbnail folder (a row of another workstation or a
        // restored backup may hold "../…") shows no picture.
        return UntrustedFile::insideFolder(m_thumbFolder, m_thumb) ? m_thumbFolder + m_thumb
                                                                   : QString();
    case FolderRole:
        return m_folder;
    case SoldCountRole:
        return m_soldCount;
    case ExtraTextRole:
        return QString();
    case TitleRole:
        return m_sku.isEmpty() ? m_title : m_sku + QLatin1String(": ") + m_title;
    case DescTagRole:
        return QStringLiteral("desc");
    case PriceTextRole:
        return localPrice(m_currentPrice > 0.0 ? m_currentPrice : m_startPrice, symbol());
    case WatchCountRole:
        return m_watchCount;
    case EndTextRole:
        return endText();
    case BidCountRole:
        return m_bidCount;
    case ListingTypeRole:
        return m_listingType;
    case QuestionCountRole:
        return m_questionCount;
    case QuantityRole:
        return m_quantity;
    case EBayPlusRole:
        return m_eBayPlus;
    case BestOfferEnabledRole:
        return m_bestOffer;
    case ItemIdRole:
        return m_itemId;
    case FolderOldRole:
        return m_folderOld;
    case PlannedRole:
        return m_planned.isEmpty() ? QString()
                                   : shownDate(QDateTime::fromString(m_planned, kDateFormat));
    case PlannedIntervalRole:
        return m_plannedInterval;
    case ListingDurationRole:
        return m_listingDuration;
    case HasVariationRole:
        return m_hasVariation;
    // Independent of the locale: always a decimal point, never grouped.
    case VariationMinPriceRole:
        return QString::number(m_variationMinPrice, 'f', 2) + QLatin1Char(' ') + symbol();
    case SiteRole:
        return m_site;
    case AccountRole:
        return m_account;
    case ShippingCostRole:
        return m_shippingCost > 0.0 ? localPrice(m_shippingCost, symbol()) : QString();
    case ArticleIdRole:
        return m_id;
    case DoCheckRole:
        return m_doCheck;
    case DoCheckResultRole:
        return m_doCheckResult;
    default:
        return QVariant();
    }
}

ArticleListReader::ArticleListReader(const QSqlRecord &record, const QString &thumbFolder)
    : m_thumbFolder(thumbFolder)
{
    for (int column = 0; column < ColumnCount; ++column) {
        const int field = record.indexOf(QLatin1String(kColumnNames[column]));
        if (field >= 0)
            m_fields.append({ column, field });
    }
}

ArticleListRow ArticleListReader::read(const QSqlQuery &query)
{
    ArticleListRow row;
    row.m_thumbFolder = m_thumbFolder;
    for (const auto &field : qAsConst(m_fields))
        row.set(field.first, query.value(field.second));
    for (QString *text : { &row.m_listingType, &row.m_listingDuration, &row.m_currency }) {
        auto shared = m_shared.constFind(*text);
        if (shared == m_shared.cend())
            shared = m_shared.insert(*text, *text);
        *text = shared.value();
    }
    return row;
}

ArticleListItem::ArticleListItem(const ArticleListRow &row)
    : m_row(row)
{ }

void ArticleListItem::setRow(const ArticleListRow &row)
{
    m_row = row;
    m_written.clear();
    changed({});
}

void ArticleListItem::changed(const QVector<int> &roles)
{
    // In the article list the row is found through the list's index, not by Qt's search.
    auto *list = qobject_cast<ItemListWidget *>(treeWidget());
    if (!list || !list->rowChanged(this, roles))
        emitDataChanged();
}

QVariant ArticleListItem::data(int column, int role) const
{
    if (column != 0 || !ArticleListRow::isArticleRole(role))
        return QTreeWidgetItem::data(column, role);
    for (const auto &written : m_written) {
        if (written.first == role)
            return written.second;
    }
    return m_row.value(role);
}

void ArticleListItem::setData(int column, int role, const QVariant &value)
{
    if (column != 0 || !ArticleListRow::isArticleRole(role)) {
        QTreeWidgetItem::setData(column, role, value);
        return;
    }
    // The counts and states the activity list writes fit into the row: a round of thousands
    // of changed rows keeps nothing beside them.
    if (m_row.take(role, value)) {
        for (int i = 0; i < m_written.size(); ++i) {
            if (m_written.at(i).first == role) {
                m_written.remove(i);
                break;
            }
        }
        if (m_written.isEmpty())
            m_written = {};
        changed({ role });
        return;
    }
    for (auto &written : m_written) {
        if (written.first == role) {
            written.second = value;
            changed({ role });
            return;
        }
    }
    m_written.append({ role, value });
    changed({ role });
}

void ArticleListItem::sortByTitle(QList<QTreeWidgetItem *> &items, const QStringList &titles,
                                  bool descending)
{
    struct Keyed
    {
        QCollatorSortKey key;
        const QString *title;
        QTreeWidgetItem *item;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(std::size_t(items.size()));
    for (int k = 0; k < items.size(); ++k)
        keyed.push_back({ SqlText::sortKey(titles.at(k)), &titles.at(k), items.at(k) });
    std::stable_sort(keyed.begin(), keyed.end(), [descending](const Keyed &a, const Keyed &b) {
        int order = int(b.title->isNull()) - int(a.title->isNull());
        if (order == 0)
            order = a.key.compare(b.key);
        if (order == 0)
            order = a.title->compare(*b.title);
        return descending ? order > 0 : order < 0;
    });
    for (std::size_t k = 0; k < keyed.size(); ++k)
        items[int(k)] = keyed[k].item;
}
