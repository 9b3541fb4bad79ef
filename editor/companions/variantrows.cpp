#include "editor/companions/variantrows.h"

#include <QMap>
#include <QSet>
#include <QSqlQuery>
#include <QVariant>

#include "core/database.h"

QStringList VariantRows::combinations(const QList<VariantOption> &options)
{
    QStringList result;
    if (options.isEmpty())
        return result;
    result.append(QString());
    for (const VariantOption &option : options) {
        const QString head = QStringLiteral("<NameValueList><Name>") + option.first
            + QStringLiteral("</Name><Value>");
        QStringList longer;
        longer.reserve(result.size() * option.second.size());
        for (const QString &prefix : qAsConst(result)) {
            for (const QString &value : option.second)
                longer.append(prefix + head + value + QStringLiteral("</Value></NameValueList>"));
        }
        result = longer;
    }
    return result;
}

bool VariantRows::write(Database *db, const QString &articleId, const QString &sku,
                        const QList<VariantOption> &options, int quantity, double price,
                        int *written)
{
    if (written)
        *written = 0;
    const QString article = QString::number(articleId.toLongLong());
    QSqlQuery existing;
    if (!db->selectQuery(
            QStringLiteral("SELECT VariantXml, SKU FROM articles_variations WHERE article_id=")
                + article,
            existing))
        return false;
    QSet<QString> known;
    int number = 0;
    const QString stem = sku + QLatin1Char('-');
    while (existing.next()) {
        known.insert(existing.value(0).toString());
        const QString rowSku = existing.value(1).toString();
        bool isNumber = false;
        const int suffix = rowSku.startsWith(stem) ? rowSku.mid(stem.size()).toInt(&isNumber) : 0;
        if (isNumber)
            number = qMax(number, suffix);
    }
    // A row not read would be written a second time, or its number given twice.
    if (!db->rowsComplete(existing))
        return false;
    existing.finish();

    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("article_id"), article);
    row.insert(QStringLiteral("Quantity"), quantity);
    row.insert(QStringLiteral("StartPrice"), price);
    for (const QString &xml : combinations(options)) {
        if (known.contains(xml))
            continue;
        known.insert(xml);
        row.insert(QStringLiteral("VariantXml"), xml);
        row.insert(QStringLiteral("SKU"), stem + QString::number(++number));
        if (db->insertSqlClean(row, QStringLiteral("articles_variations")) < 1)
            return false;
        if (written)
            ++*written;
    }
    return true;
}
