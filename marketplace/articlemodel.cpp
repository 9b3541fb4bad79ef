#include "marketplace/articlemodel.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/transaction.h"

#include <QSqlDatabase>
#include <QSqlError>

// The article, its pictures and its variations are written in one transaction (inside a
// transaction of the caller's, a page of the synchronisation, a savepoint): all of them or
// nothing.
int ArticleModel::saveToDatabase(Database *db, int id)
{
    if (!db || id != 0)
        return 0;

    QMap<QString, QVariant> article = columns;
    article.insert(QStringLiteral("ItemID"), ItemID);
    article.insert(QStringLiteral("Account"), Account);
    article.insert(QStringLiteral("Folder"), Folder);
    article.insert(QStringLiteral("CurrentPrice"), CurrentPrice);
    article.insert(QStringLiteral("Quantity"), Quantity);
    article.insert(QStringLiteral("SoldCount"), SoldCount);
    article.insert(QStringLiteral("WatchCount"), WatchCount);
    article.insert(QStringLiteral("BidCount"), BidCount);
    article.insert(QStringLiteral("QuestionCount"), QuestionCount);
    article.insert(QStringLiteral("Title"), Title);

    // Not begun, nothing is written.
    Transaction transaction(db);
    if (!transaction.isOpen())
        return 0;
    const auto fail = [&] {
        transaction.rollback();
        return 0;
    };

    const int articleId = db->insertSqlClean(article, QStringLiteral("articles"));
    if (articleId <= 0)
        return fail();
    const QString articleKey = QString::number(articleId);

    for (int i = 0; i < PictureURLs.size(); ++i) {
        QMap<QString, QVariant> picture;
        picture.insert(QStringLiteral("article_id"), articleKey);
        picture.insert(QStringLiteral("image"), PictureURLs.at(i));
        picture.insert(QStringLiteral("sort"), i);
        picture.insert(QStringLiteral("variant_name"), QString());
        if (db->insertSqlClean(picture, QStringLiteral("articles_images")) <= 0)
            return fail();
    }
    int sort = 0;
    for (auto it = VariantPictureURLs.cbegin(); it != VariantPictureURLs.cend(); ++it) {
        QMap<QString, QVariant> picture;
        picture.insert(QStringLiteral("article_id"), articleKey);
        picture.insert(QStringLiteral("image"), it.value());
        picture.insert(QStringLiteral("sort"), sort++);
        picture.insert(QStringLiteral("variant_name"), it.key());
        if (db->insertSqlClean(picture, QStringLiteral("articles_images")) <= 0)
            return fail();
    }

    for (const ArticleVariation &variation : qAsConst(variations)) {
        QMap<QString, QVariant> row;
        row.insert(QStringLiteral("article_id"), articleKey);
        row.insert(QStringLiteral("VariantXml"), variation.VariantXml);
        row.insert(QStringLiteral("SKU"), variation.SKU);
        row.insert(QStringLiteral("StartPrice"), variation.StartPrice);
        row.insert(QStringLiteral("Quantity"), variation.Quantity);
        row.insert(QStringLiteral("EAN"), variation.EAN);
        row.insert(QStringLiteral("ISBN"), variation.ISBN);
        row.insert(QStringLiteral("UPC"), variation.UPC);
        row.insert(QStringLiteral("QuantitySold"), variation.QuantitySold);
        if (db->insertSqlClean(row, QStringLiteral("articles_variations")) <= 0)
            return fail();
    }

    if (!transaction.commit()) {
        qCWarning(lcDb).noquote() << "Saving the article failed:" << db->lastErrorText;
        return 0;
    }
    return articleId;
}
