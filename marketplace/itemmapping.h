#pragma once

#include "core/database.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class ArticleModel;
class QDateTime;
class QXmlStreamWriter;
class XmlNode;

// How an article row becomes the <Item> of a listing request, and how an <Item> of a
// marketplace reply becomes an article. The two are mirror images: an article saved from
// a read listing gives back the same item elements when it is revised.
namespace ItemMapping {

enum class Purpose {
    Add, // VerifyAddItem, AddItem, their fixed-price variants, the scheduled start
    Revise, // ReviseItem / ReviseFixedPriceItem: carries ItemID
    Relist // RelistItem / RelistFixedPriceItem: carries ItemID
};

struct Listing
{
    // The article row joined with its account's columns ("accountname", "smallbiz",
    // "apiresult", "accid", "sandbox", "token").
    ArticleRow row;
    // Picture addresses of the article's own pictures in their order (local files already
    // uploaded).
    QStringList pictureUrls;
    // The article's rows of articles_variations, in id order; empty for a plain article.
    // A row may carry "QuantitySold" (sold ones of that variation in the listing being
    // revised or relisted); without it none count as sold.
    QList<ArticleRow> variations;
    // Variation value -> picture address, for the option named by VariantImageOption.
    QMap<QString, QString> variationPictureUrls;
    // Item.UUID of an addition or relisting (32 hexadecimal digits); empty: none.
    QString uuid;
};

// True when the article is listed with variations (and so with the fixed-price calls).
bool hasVariations(const Listing &listing);

// Writes the <Item> element for the purpose. The description of an article that
// descriptionRefusal() refuses is never written whole: refuse such an article first.
void writeItem(QXmlStreamWriter &xml, const Listing &listing, Purpose purpose);

// The description as it is sent: the row's Description with its placeholders ($frei_01$ to
// $frei_05$, $notes$) filled with the free texts and notes, as text. Filling stops as soon as
// the text passes the marketplace's limit (DescriptionLimit): then `fits` becomes false and the
// text is the part built, never much longer than the limit.
QString sentDescription(const ArticleRow &row, bool *fits);
// Empty when the description as it is sent fits the marketplace's limit; else why not, in
// German.
QString descriptionRefusal(const ArticleRow &row);

// Fills the record from an <Item> of GetItem (or GetSellerList): the members and every
// article column the item carries, its variations and its pictures.
void readItem(const XmlNode &item, ArticleModel &record);
// What readItem() fills but for the columns and the variations: the state of a listing whose
// article is known already (its number, title, quantities, folder, watchers, bids, current
// price) and its picture addresses. Goes through the item's children once.
void readState(const XmlNode &item, ArticleModel &record);

// A marketplace time as the program keeps it: local time, "yyyy-MM-dd HH:mm:ss". Local time's
// offset is looked up once per quarter of an hour of UTC time and kept (a round reads
// thousands of dates, and offsets change only at whole quarter hours); a time without a time
// zone is taken as local time.
QString localTimeText(const QDateTime &time);
// Forgets the offsets kept, in every thread: a round calls it at its start, so that it sees
// a time zone changed meanwhile.
void forgetLocalOffsets();

// The marketplace's site name for a numeric site id (77 -> "Germany"); empty when unknown.
QString siteName(int siteId);
// The numeric id of a site name ("Germany" -> 77); -1 when unknown.
int siteId(const QString &siteName);
// The currency of a site (77 -> "EUR"); empty when unknown.
QString siteCurrency(int siteId);

// The text without the characters XML 1.0 does not allow (control characters other than
// tab, line feed and carriage return, unpaired surrogates, U+FFFE and U+FFFF).
QString xmlSafe(const QString &text);

} // namespace ItemMapping
