#include "editor/variationcopy.h"

#include "core/database.h"

#include <QCoreApplication>
#include <QSqlQuery>
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
    if (columns.isEmpty()) {
        // The table's columns could not be read: nothing is copied, and the save fails.
        db->lastErrorText
            = QCoreApplication::translate(
                  "VariationCopy", "Die Spalten der Tabelle %1 konnten nicht gelesen werden.")
                  .arg(table);
        return false;
    }
    return db->executeSQL(QStringLiteral("INSERT INTO `%1` (%2) SELECT %3 FROM `%1` WHERE %4")
                              .arg(table, columns.join(QStringLiteral(", ")),
                                   values.join(QStringLiteral(", ")), condition));
}

} // namespace

bool VariationCopy::copy(Database *db, int fromArticle, int toArticle)
{
    const QString from = QString::number(fromArticle);
    const QString to = QString::number(toArticle);
    if (!copyRows(db, QStringLiteral("articles_variations"), toArticle,
                  QStringLiteral("`article_id` = '%1' ORDER BY `id`").arg(from))
        || !copyRows(db, QStringLiteral("articles_images"), toArticle,
                     QStringLiteral("`article_id` = '%1' AND (`variant_name` <> '' OR "
                                    "`variant_id` > 0) ORDER BY `id`")
                         .arg(from)))
        return false;
    // A picture of one variation belongs to the copy of that variation: the copies were
    // made in the order of the originals.
    QSqlQuery ids;
    if (!db->selectQuery(QStringLiteral("SELECT id, article_id FROM articles_variations WHERE "
                                        "article_id IN (%1, %2) ORDER BY id")
                             .arg(from, to),
                         ids))
        return false;
    QStringList before, after;
    while (ids.next())
        (ids.value(1).toString() == to ? after : before) << ids.value(0).toString();
    // Ids missing from either list would tie a picture to the wrong copy.
    if (!db->rowsComplete(ids))
        return false;
    ids.finish();
    QString cases;
    for (int i = 0; i < before.size() && i < after.size(); ++i)
        cases += QStringLiteral(" WHEN %1 THEN %2").arg(before.at(i), after.at(i));
    return cases.isEmpty()
        || db->executeSQL(
            QStringLiteral("UPDATE articles_images SET variant_id = CASE variant_id%1 "
                           "END WHERE article_id = %2 AND variant_id IN (%3)")
                .arg(cases, to, before.mid(0, after.size()).join(QLatin1Char(','))));
}
