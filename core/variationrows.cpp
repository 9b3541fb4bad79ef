#include "core/variationrows.h"

#include "core/database.h"
#include "core/numberreader.h"
#include "core/transaction.h"

#include <QCoreApplication>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
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

// The option rows and value pictures of the article that no remaining variation uses. A
// read that fails deletes nothing: the rows it did not read would count as unused.
bool removeUnusedValues(Database *db, const QString &article)
{
    static const QRegularExpression block(
        QStringLiteral("<NameValueList>\\s*<Name>(.*?)</Name>\\s*<Value>(.*?)</Value>"),
        QRegularExpression::DotMatchesEverythingOption);
    const Read<SqlRows> variations = db->select(
        QStringLiteral("SELECT VariantXml FROM articles_variations WHERE article_id=") + article);
    if (!variations.ok())
        return false;
    QSet<QPair<QString, QString>> options;
    QSet<QString> values;
    for (const auto &row : *variations) {
        auto it = block.globalMatch(row.value(QStringLiteral("VariantXml")).toString());
        while (it.hasNext()) {
            const auto match = it.next();
            options.insert({ match.captured(1), match.captured(2) });
            values.insert(match.captured(2));
        }
    }

    const Read<SqlRows> optionRows = db->select(
        QStringLiteral("SELECT id, optionname, optionvalue FROM articles_variations_op_val "
                       "WHERE article_id=")
        + article);
    if (!optionRows.ok())
        return false;
    QStringList unusedOptions;
    for (const auto &row : *optionRows) {
        if (!options.contains({ row.value(QStringLiteral("optionname")).toString(),
                                row.value(QStringLiteral("optionvalue")).toString() }))
            unusedOptions << row.value(QStringLiteral("id")).toString();
    }

    // Pictures of a variation that is gone went with it; those of a value stay while the
    // value is in use.
    const Read<SqlRows> pictures
        = db->select(QStringLiteral("SELECT id, variant_name FROM articles_images WHERE "
                                    "article_id=")
                     + article
                     + QStringLiteral(" AND variant_name <> '' AND (variant_id IS NULL OR "
                                      "variant_id = 0)"));
    if (!pictures.ok())
        return false;
    QStringList unusedPictures;
    for (const auto &row : *pictures) {
        if (!values.contains(row.value(QStringLiteral("variant_name")).toString()))
            unusedPictures << row.value(QStringLiteral("id")).toString();
    }
    return deleteIds(db, QStringLiteral("articles_variations_op_val"), unusedOptions)
        && deleteIds(db, QStringLiteral("articles_images"), unusedPictures);
}

} // namespace

VariationRows::Written VariationRows::write(Database *db, int summaryOf,
                                            const std::function<bool()> &statements)
{
    for (int attempt = 1;; ++attempt) {
        {
            Transaction transaction(db);
            if (transaction.isOpen() && statements()
                && (summaryOf < 1 || writeSummary(db, summaryOf)) && transaction.commit())
                return Written::Stored;
        }
        // Refused, or undone with a connection lost before the commit: nothing is written.
        // After a lost answer to the first commit, a second run that fails leaves open
        // whether the first was kept.
        if (attempt > 1)
            return Written::Unknown;
        if (db->lastOutcome() != Database::Outcome::Unknown)
            return Written::NotStored;
    }
}

bool VariationRows::writeSummary(Database *db, int articleId)
{
    const QString article = QString::number(articleId);
    QSqlQuery query;
    if (!db->selectQuery(
            QStringLiteral("SELECT StartPrice FROM articles_variations WHERE article_id=")
                + article,
            query))
        return false;
    // Read from the rows themselves: a price stored with a decimal comma counts as a number.
    bool any = false;
    double lowest = 0;
    while (query.next()) {
        double price = 0;
        NumberReader::readStored(query.value(0).toString(), &price);
        lowest = any ? qMin(lowest, price) : price;
        any = true;
    }
    // A row that could not be read would leave a lowest price of the rows before it.
    if (!db->rowsComplete(query))
        return false;
    query.finish();
    if (!any)
        return db->executeSQL(QStringLiteral("UPDATE articles SET HasVariation = 0 WHERE id=")
                              + article);
    return db->executeSQL(
        QStringLiteral(
            "UPDATE articles SET HasVariation = 1, HasVariationMinPrice='%1' WHERE id=%2")
            .arg(QString::number(lowest, 'f', 2), article));
}

QString VariationRows::unknownText(const QString &what)
{
    return QCoreApplication::translate("VariationRows",
                                       "Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung "
                                       "zur Datenbank brach ab. Die Liste zeigt jetzt, was "
                                       "gespeichert ist.")
        .arg(what);
}

VariationRows::Written VariationRows::removeVariations(Database *db, int articleId,
                                                       const QList<int> &variationIds)
{
    const QString article = QString::number(articleId);
    QStringList ids;
    for (int id : variationIds)
        ids << QString::number(id);
    return write(db, articleId, [&] {
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
