#include "editor/variationcopy.h"

#include "core/database.h"

#include <QSqlRecord>
#include <QStringList>

namespace {

// INSERT ... SELECT of the rows of `table` matching `condition`, every column but `id`,
// with `article_id` set to `toArticle`.
bool copyRows(Database *db, const QString &table, int toArticle, const QString &condition)
{
    const QSqlRecord record = db->connection().record(table);
    QStringList columns, values;
    for (int i = 0; i < record.count(); ++i) {
        const QString name = record.fieldName(i);
        if (name.compare(QLatin1String("id"), Qt::CaseInsensitive) == 0)
            continue;
        columns << QLatin1Char('`') + name + QLatin1Char('`');
        values << (name.compare(QLatin1String("article_id"), Qt::CaseInsensitive) == 0
                       ? QString::number(toArticle)
                       : QLatin1Char('`') + name + QLatin1Char('`'));
    }
    if (columns.isEmpty())
        return false;
    return db->executeSQL(QStringLiteral("INSERT INTO `%1` (%2) SELECT %3 FROM `%1` WHERE %4")
                              .arg(table, columns.join(QStringLiteral(", ")),
                                   values.join(QStringLiteral(", ")), condition));
}

} // namespace

bool VariationCopy::copy(Database *db, int fromArticle, int toArticle)
{
    const QString from = QString::number(fromArticle);
    return copyRows(db, QStringLiteral("articles_variations"), toArticle,
                    QStringLiteral("`article_id` = '%1' ORDER BY `id`").arg(from))
        && copyRows(db, QStringLiteral("articles_images"), toArticle,
                    QStringLiteral("`article_id` = '%1' AND `variant_name` <> '' ORDER BY `id`")
                        .arg(from));
}
