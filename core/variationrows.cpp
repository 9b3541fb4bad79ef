#include "core/variationrows.h"

#include "core/database.h"
#include "core/transaction.h"

#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <functional>

namespace {

// Runs `work` inside a transaction; rolled back when it or the commit fails, keeping the
// first error text.
bool inTransaction(Database *db, const std::function<bool()> &work)
{
    Transaction transaction(db);
    return transaction.isOpen() && work() && transaction.commit();
}

// Deletes the rows of `table` whose id is in `ids`.
bool deleteIds(Database *db, const QString &table, const QStringList &ids)
{
    return ids.isEmpty()
        || db->executeSQL(QStringLiteral("DELETE FROM ") + table + QStringLiteral(" WHERE id IN (")
                          + ids.join(QLatin1Char(',')) + QLatin1Char(')'));
}

// The option rows and value pictures of the article that no remaining variation uses.
bool removeUnusedValues(Database *db, const QString &article)
{
    static const QRegularExpression block(
        QStringLiteral("<NameValueList>\\s*<Name>(.*?)</Name>\\s*<Value>(.*?)</Value>"),
        QRegularExpression::DotMatchesEverythingOption);
    QSet<QPair<QString, QString>> options;
    QSet<QString> values;
    for (const auto &row :
         db->select(QStringLiteral("SELECT VariantXml FROM articles_variations WHERE article_id=")
                    + article)) {
        auto it = block.globalMatch(row.value(QStringLiteral("VariantXml")).toString());
        while (it.hasNext()) {
            const auto match = it.next();
            options.insert({ match.captured(1), match.captured(2) });
            values.insert(match.captured(2));
        }
    }
    if (!db->lastErrorText.isEmpty())
        return false;

    QStringList unusedOptions;
    for (const auto &row : db->select(
             QStringLiteral("SELECT id, optionname, optionvalue FROM articles_variations_op_val "
                            "WHERE article_id=")
             + article)) {
        if (!options.contains({ row.value(QStringLiteral("optionname")).toString(),
                                row.value(QStringLiteral("optionvalue")).toString() }))
            unusedOptions << row.value(QStringLiteral("id")).toString();
    }
    if (!db->lastErrorText.isEmpty())
        return false;

    // Pictures of a variation that is gone went with it; those of a value stay while the
    // value is in use.
    QStringList unusedPictures;
    for (const auto &row :
         db->select(QStringLiteral("SELECT id, variant_name FROM articles_images WHERE "
                                   "article_id=")
                    + article
                    + QStringLiteral(" AND variant_name <> '' AND (variant_id IS NULL OR "
                                     "variant_id = 0)"))) {
        if (!values.contains(row.value(QStringLiteral("variant_name")).toString()))
            unusedPictures << row.value(QStringLiteral("id")).toString();
    }
    if (!db->lastErrorText.isEmpty())
        return false;
    return deleteIds(db, QStringLiteral("articles_variations_op_val"), unusedOptions)
        && deleteIds(db, QStringLiteral("articles_images"), unusedPictures);
}

} // namespace

bool VariationRows::removeVariations(Database *db, int articleId, const QList<int> &variationIds)
{
    const QString article = QString::number(articleId);
    QStringList ids;
    for (int id : variationIds)
        ids << QString::number(id);
    return inTransaction(db, [&] {
        if (!ids.isEmpty()) {
            const QString list = QLatin1Char('(') + ids.join(QLatin1Char(',')) + QLatin1Char(')');
            if (!db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=")
                                + article + QStringLiteral(" AND variant_id IN ") + list)
                || !db->executeSQL(
                    QStringLiteral("DELETE FROM articles_variations WHERE article_id=") + article
                    + QStringLiteral(" AND id IN ") + list))
                return false;
        }
        return removeUnusedValues(db, article);
    });
}

bool VariationRows::removeArticle(Database *db, int articleId)
{
    const QString article = QString::number(articleId);
    return inTransaction(db, [&] {
        return db->executeSQL(QStringLiteral("DELETE FROM articles WHERE id=") + article)
            && db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=")
                              + article)
            && db->executeSQL(QStringLiteral("DELETE FROM articles_variations WHERE article_id=")
                              + article)
            && db->executeSQL(
                QStringLiteral("DELETE FROM articles_variations_op_val WHERE article_id=")
                + article);
    });
}
