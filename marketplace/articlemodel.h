#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

class Database;

// One variation of a multi-variation listing, as read from the marketplace.
struct ArticleVariation
{
    QString VariantXml; // "<NameValueList><Name>..</Name><Value>..</Value></NameValueList>"...
    QString SKU;
    double StartPrice = 0;
    int Quantity = 0; // listed, sold ones included
    int QuantitySold = 0;
    QString EAN;
    QString ISBN;
    QString UPC;
};

// One listing as read from the marketplace: the state the synchronisation compares, and
// for a listing read in full everything that makes it a complete article. A plain record
// owned by whoever holds the pointer.
class ArticleModel
{
public:
    ArticleModel() = default;
    ~ArticleModel() = default;

    // With `id` 0: inserts the record as a new article with its picture and variation
    // rows, all or none of them (in one transaction, a savepoint inside one of the caller's).
    // The new id; 0 when a row failed or the transaction could not be begun, and for any
    // other `id`, and then nothing is written. The sold ones of each variation are kept
    // where articles_variations has a QuantitySold column.
    int saveToDatabase(Database *db, int id);

    bool IsNew = false; // read in full: its item number was not known yet
    QString ItemID;
    // Item.UUID the listing was made with; empty when it carries none. Not an article column.
    QString UUID;
    int Account = 0;
    int Folder = -9; // -9 running, -7 sold out, -8 ended with quantity left
    double CurrentPrice = 0;
    int Quantity = 0; // listed quantity as the marketplace reports it, sold ones included
    int SoldCount = 0;
    int WatchCount = 0;
    int BidCount = 0;
    int QuestionCount = 0; // 1 when buyers' questions wait for an answer
    QString Title;
    QStringList PictureURLs; // picture addresses or local file names, in order
    QMap<QString, QString> VariantPictureURLs; // variation value -> address or file name

    // Every further article column the listing fills (Site, Currency, ListingType,
    // StartPrice, Description, ItemSpecifics, shipping, payment, returns, ...), by column
    // name. Empty for a listing not read in full.
    QMap<QString, QVariant> columns;
    QList<ArticleVariation> variations;
};

Q_DECLARE_METATYPE(ArticleModel *)
