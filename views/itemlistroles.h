#pragma once

#include <Qt>

// The item data roles of an article list row (column 0). The row painter, the drag source,
// the activity list and the article commands all read a row through these.
namespace ItemListRole {
enum : int {
    MarkerRole = Qt::UserRole,
    LastErrorRole,
    ImageThumbRole,
    FolderRole,
    SoldCountRole,
    ExtraTextRole,
    TitleRole,
    DescTagRole,
    PriceTextRole,
    WatchCountRole,
    EndTextRole,
    BidCountRole,
    ListingTypeRole,
    QuestionCountRole,
    QuantityRole,
    EBayPlusRole,
    BestOfferEnabledRole,
    ItemIdRole,
    FolderOldRole,
    PlannedRole,
    PlannedIntervalRole,
    ListingDurationRole,
    HasVariationRole,
    VariationMinPriceRole,
    SiteRole,
    AccountRole,
    ShippingCostRole,
    ArticleIdRole = Qt::UserRole + 100,
    DoCheckRole,
    DoCheckResultRole,
};
static_assert(ShippingCostRole == Qt::UserRole + 26, "roles 256..282 are contiguous");
} // namespace ItemListRole
