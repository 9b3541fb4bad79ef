#include "core/articlecopies.h"

#include "core/database.h"
#include "core/database_p.h"

#include <QRandomGenerator>
#include <QSqlQuery>
#include <QStringList>

namespace {

QString quoted(const QString &name)
{
    return QLatin1Char('`') + name + QLatin1Char('`');
}

QString literal(const QVariant &value)
{
    switch (value.type()) {
    case QVariant::Int:
    case QVariant::LongLong:
    case QVariant::UInt:
    case QVariant::ULongLong:
    case QVariant::Double:
        return value.toString();
    default:
        return QLatin1Char('\'') + Database::escapeString(value.toString()) + QLatin1Char('\'');
    }
}

QString joined(const QList<int> &ids)
{
    QStringList texts;
    texts.reserve(ids.size());
    for (int id : ids)
        texts << QString::number(id);
    return texts.join(QLatin1Char(','));
}

// "CASE `column` WHEN 1 THEN 7 WHEN 2 THEN 8 END" for the pairs of `map`.
QString caseOf(const QString &column, const QHash<int, int> &map, const QList<int> &keys)
{
    QString text = QStringLiteral("CASE ") + quoted(column);
    for (int key : keys)
        text += QStringLiteral(" WHEN %1 THEN %2").arg(key).arg(map.value(key));
    return text + QStringLiteral(" END");
}

} // namespace

ArticleCopies::ArticleCopies(Database &db, const QMap<QString, QVariant> &changes)
    : m_db(db)
{
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        m_changes.insert(it.key().toLower(), it.value());
    // Unlike any error text the program writes, and unlike the mark of any
    // other command under way.
    m_mark = QStringLiteral("~copy%1~")
                 .arg(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 12, 16,
                      QLatin1Char('0'));
}

bool ArticleCopies::copy(const QList<int> &ids)
{
    for (int first = 0; first < ids.size(); first += kChunk) {
        if (!copyChunk(ids.mid(first, kChunk)))
            return false;
    }
    return true;
}

bool ArticleCopies::copyChunk(const QList<int> &ids)
{
    if (ids.isEmpty())
        return true;
    const QStringList columns = m_db.columnsOf(QStringLiteral("articles"));
    if (columns.isEmpty())
        return false;
    QStringList names;
    QStringList values;
    for (const QString &name : columns) {
        const QString lower = name.toLower();
        if (lower == QLatin1String("id") || !DatabaseInternal::isIdentifier(name))
            continue;
        names << quoted(name);
        if (lower == QLatin1String("lasterror"))
            values << (m_db.isMySQL ? QStringLiteral("CONCAT('%1', `id`)").arg(m_mark)
                                    : QStringLiteral("('%1' || `id`)").arg(m_mark));
        else if (m_changes.contains(lower))
            values << literal(m_changes.value(lower));
        else
            values << quoted(name);
    }
    // Every id given from now on is above it, whoever takes it.
    const Read<QString> last = m_db.selectOne(QStringLiteral("SELECT MAX(`id`) FROM `articles`"));
    if (!last.ok())
        return false;
    const QString before = QString::number(last->toLongLong());
    const QString group = joined(ids);
    // In the order of the sources: the copies get their ids in that order.
    if (!m_db.executeSQL(QStringLiteral("INSERT INTO `articles` (") + names.join(QLatin1Char(','))
                         + QStringLiteral(") SELECT ") + values.join(QLatin1Char(','))
                         + QStringLiteral(" FROM `articles` WHERE `id` IN (") + group
                         + QStringLiteral(") ORDER BY `id`")))
        return false;

    QStringList marks;
    marks.reserve(ids.size());
    for (int id : ids)
        marks << QLatin1Char('\'') + m_mark + QString::number(id) + QLatin1Char('\'');
    QSqlQuery query;
    if (!m_db.selectQuery(QStringLiteral("SELECT `id`, `LastError` FROM `articles` WHERE `id` > ")
                              + before + QStringLiteral(" AND `LastError` IN (")
                              + marks.join(QLatin1Char(',')) + QStringLiteral(") ORDER BY `id`"),
                          query))
        return false;
    QList<int> sources;
    QList<int> copies;
    QHash<int, int> copyOf;
    while (query.next()) {
        const int copy = query.value(0).toInt();
        const int source = query.value(1).toString().mid(m_mark.size()).toInt();
        sources << source;
        copies << copy;
        copyOf.insert(source, copy);
    }
    // A copy not found would be kept with the mark and without its pictures.
    if (!m_db.rowsComplete(query))
        return false;
    query.finish();
    if (copies.isEmpty())
        return true;

    const QString toCopy = caseOf(QStringLiteral("article_id"), copyOf, sources);
    if (!copyChildren(QStringLiteral("articles_images"), sources, toCopy)
        || !copyChildren(QStringLiteral("articles_variations"), sources, toCopy)
        || !relinkVariationPictures(sources, copies))
        return false;

    const QVariant error = m_changes.value(QStringLiteral("lasterror"), QString());
    if (!m_db.executeSQL(QStringLiteral("UPDATE `articles` SET `LastError`=") + literal(error)
                         + QStringLiteral(" WHERE `id` IN (") + joined(copies)
                         + QLatin1Char(')')))
        return false;
    for (int i = 0; i < sources.size(); ++i)
        m_copies.insert(sources.at(i), copies.at(i));
    m_made += copies;
    return true;
}

bool ArticleCopies::copyChildren(const QString &table, const QList<int> &sources,
                                 const QString &cases)
{
    const QStringList columns = m_db.columnsOf(table);
    if (columns.isEmpty())
        return false;
    QStringList names;
    QStringList values;
    for (const QString &name : columns) {
        if (name.compare(QLatin1String("id"), Qt::CaseInsensitive) == 0
            || !DatabaseInternal::isIdentifier(name))
            continue;
        names << quoted(name);
        values << (name.compare(QLatin1String("article_id"), Qt::CaseInsensitive) == 0
                       ? cases
                       : quoted(name));
    }
    // Article by article, each in the order of its rows: a copied row's id rises with its
    // source's. The order of the article index, so the statement reads only the group's rows.
    return m_db.executeSQL(QStringLiteral("INSERT INTO ") + quoted(table) + QStringLiteral(" (")
                           + names.join(QLatin1Char(',')) + QStringLiteral(") SELECT ")
                           + values.join(QLatin1Char(',')) + QStringLiteral(" FROM ")
                           + quoted(table) + QStringLiteral(" WHERE `article_id` IN (")
                           + joined(sources) + QStringLiteral(") ORDER BY `article_id`, `id`"));
}

bool ArticleCopies::relinkVariationPictures(const QList<int> &sources, const QList<int> &copies)
{
    QSqlQuery query;
    if (!m_db.selectQuery(QStringLiteral("SELECT `id`, `article_id` FROM `articles_variations` "
                                         "WHERE `article_id` IN (")
                              + joined(sources + copies)
                              + QStringLiteral(") ORDER BY `article_id`, `id`"),
                          query))
        return false;
    QHash<int, QList<int>> variations; // article -> its variations, in the order made
    while (query.next())
        variations[query.value(1).toInt()] << query.value(0).toInt();
    // A row not read would leave a picture with a variation of the source.
    if (!m_db.rowsComplete(query))
        return false;
    query.finish();
    // Each article's copied variations were made in the order of its own: the n-th of the copy
    // is the copy of the n-th of the source.
    QHash<int, int> copyOf;
    QList<int> before;
    for (int i = 0; i < sources.size(); ++i) {
        const QList<int> original = variations.value(sources.at(i));
        const QList<int> copied = variations.value(copies.at(i));
        for (int k = 0; k < original.size() && k < copied.size(); ++k) {
            before << original.at(k);
            copyOf.insert(original.at(k), copied.at(k));
        }
    }
    if (before.isEmpty())
        return true;
    return m_db.executeSQL(QStringLiteral("UPDATE `articles_images` SET `variant_id` = ")
                           + caseOf(QStringLiteral("variant_id"), copyOf, before)
                           + QStringLiteral(" WHERE `article_id` IN (") + joined(copies)
                           + QStringLiteral(") AND `variant_id` IN (") + joined(before)
                           + QLatin1Char(')'));
}
