#include "marketplace/articlemodel.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/transaction.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace {

void removeArticle(Database *db, int articleId)
{
    const QString id = QString::number(articleId);
    db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=") + id);
    db->executeSQL(QStringLiteral("DELETE FROM articles_variations WHERE article_id=") + id);
    db->executeSQL(QStringLiteral("DELETE FROM articles WHERE id=") + id);
}

} // namespace

// The article, its pictures and its variations are written in one transaction. Where the
// connection can't start one (a transaction of the caller is already open), a failed
// picture or variation row removes what was written instead.
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

    // Inside a transaction of the caller's (a page of the synchronisation) a savepoint.
    Transaction transaction(db);
    const bool inTransaction = transaction.isOpen();
    const auto fail = [&](int articleId) {
        if (inTransaction)
            transaction.rollback();
        else if (articleId > 0)
            removeArticle(db, articleId);
        return 0;
    };

    const int articleId = db->insertSqlClean(article, QStringLiteral("articles"));
    if (articleId <= 0)
        return fail(0);
    const QString articleKey = QString::number(articleId);

    for (int i = 0; i < PictureURLs.size(); ++i) {
        QMap<QString, QVariant> picture;
        picture.insert(QStringLiteral("article_id"), articleKey);
        picture.insert(QStringLiteral("image"), PictureURLs.at(i));
        picture.insert(QStringLiteral("sort"), i);
        picture.insert(QStringLiteral("variant_name"), QString());
        if (db->insertSqlClean(picture, QStringLiteral("articles_images")) <= 0)
            return fail(articleId);
    }
    int sort = 0;
    for (auto it = VariantPictureURLs.cbegin(); it != VariantPictureURLs.cend(); ++it) {
        QMap<QString, QVariant> picture;
        picture.insert(QStringLiteral("article_id"), articleKey);
        picture.insert(QStringLiteral("image"), it.value());
        picture.insert(QStringLiteral("sort"), sort++);
        picture.insert(QStringLiteral("variant_name"), it.key());
        if (db->insertSqlClean(picture, QStringLiteral("articles_images")) <= 0)
            return fail(articleId);
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
            return fail(articleId);
    }

    if (inTransaction && !transaction.commit()) {
        qCWarning(lcDb).noquote() << "Saving the article failed:" << db->lastErrorText;
        return 0;
    }
    return articleId;
}
