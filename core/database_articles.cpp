// Article-level helpers of the database layer: copying an article with its pictures and
// variations, and activity entries.
#include "core/database.h"

#include "core/clock.h"
#include "core/database_p.h"
#include "core/logging.h"
#include "core/transaction.h"

#include <QHash>
#include <QSqlQuery>

#include <optional>

using namespace DatabaseInternal;

// Look-ups after a lost answer: an Unknown outcome met while it lives is told (WriteFailures)
// only when it ends and the outcome is still Unknown; found out, it is not told at all.
class Database::Resolving
{
public:
    explicit Resolving(Database &db)
        : m_db(db)
        , m_pendingBefore(db.m_unknownPending)
    {
        if (m_db.m_resolving++ == 0)
            m_db.m_unknownPending = false;
    }
    ~Resolving()
    {
        if (--m_db.m_resolving > 0)
            return;
        const bool metUnknown = m_db.m_unknownPending;
        const bool unknown = m_db.m_lastOutcome == Outcome::Unknown;
        m_db.m_unknownPending = m_pendingBefore || (metUnknown && unknown);
        if (metUnknown && unknown)
            emit WriteFailures::instance()->failed(m_db.m_connectionName, m_db.lastErrorText,
                                                   m_db.lastErrorText, true);
    }
    Resolving(const Resolving &) = delete;
    Resolving &operator=(const Resolving &) = delete;

private:
    Database &m_db;
    const bool m_pendingBefore;
};

int Database::DuplicateRow(QString table, QString idColumn, QString idValue, QString changeColumn,
                           QString changeValue)
{
    QMap<QString, QVariant> changes;
    if (!changeColumn.isEmpty())
        changes.insert(changeColumn, changeValue);
    return DuplicateRow(table, idColumn, idValue, changes);
}

QMap<QString, QVariant> Database::freshCopy(int folder)
{
    return {
        { QStringLiteral("Folder"), folder },
        { QStringLiteral("WatchCount"), 0 },
        { QStringLiteral("BidCount"), 0 },
        { QStringLiteral("QuestionCount"), 0 },
        { QStringLiteral("HighBidder"), QString() },
        { QStringLiteral("ItemID"), QString() },
        { QStringLiteral("SoldCount"), 0 },
        { QStringLiteral("HasError"), 0 },
        { QStringLiteral("LastError"), QString() },
        { QStringLiteral("Planned"), QString() },
        { QStringLiteral("Planned_Interval"), QString() },
        { QStringLiteral("EndDate"), QString() },
        { QStringLiteral("StartDate"), QString() },
    };
}

int Database::DuplicateRow(const QString &table, const QString &idColumn, const QString &idValue,
                           const QMap<QString, QVariant> &changes)
{
    const Resolving resolving(*this);
    bool names = isIdentifier(table) && isIdentifier(idColumn);
    for (auto it = changes.cbegin(); names && it != changes.cend(); ++it)
        names = isIdentifier(it.key());
    if (!names) {
        lastErrorText = QStringLiteral("Invalid table or column name");
        qCWarning(lcDb).noquote() << "DuplicateRow:" << lastErrorText << table << idColumn
                                  << changes.keys();
        return 0;
    }
    const auto literal = [](const QVariant &value) {
        switch (value.type()) {
        case QVariant::Int:
        case QVariant::LongLong:
        case QVariant::UInt:
        case QVariant::ULongLong:
        case QVariant::Double:
            return value.toString();
        default:
            return QLatin1Char('\'') + escapeString(value.toString()) + QLatin1Char('\'');
        }
    };
    // Column names compare without case, as both databases take them.
    QHash<QString, QString> replaced;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        replaced.insert(it.key().toLower(), literal(it.value()));

    // Copies the rows of `source` matched by `condition`, every column but `skip`, with the
    // columns of `values` set to theirs; the statement, the same for every copy of a kind, is
    // prepared once and run with `binds`. The number of rows copied, -1 on failure; *newId gets
    // the id of the last one.
    const auto copyRows = [this](const QString &source, const QString &skip,
                                 const QHash<QString, QString> &values, const QString &condition,
                                 const QMap<QString, QVariant> &binds, int *newId) -> int {
        QStringList columns;
        QStringList selected;
        for (const QString &name : columnsOf(source)) {
            if (name.compare(skip, Qt::CaseInsensitive) == 0)
                continue;
            const QString quoted = QLatin1Char('`') + name + QLatin1Char('`');
            columns << quoted;
            selected << values.value(name.toLower(), quoted);
        }
        if (columns.isEmpty())
            return -1;
        const QString sql = QLatin1String("INSERT INTO `") + source + QLatin1String("` (")
            + columns.join(QLatin1String(", ")) + QLatin1String(") SELECT ")
            + selected.join(QLatin1String(", ")) + QLatin1String(" FROM `") + source
            + QLatin1String("` WHERE ") + condition;
        QSqlQuery query;
        if (!run(query, m_db, sql, &binds, "SQL Error: "))
            return -1;
        const int copied = query.numRowsAffected();
        if (newId)
            *newId = copied > 0 ? query.lastInsertId().toInt() : 0;
        return copied;
    };

    // The copy of an article with its pictures and variations lands whole or not at all.
    const bool withChildren = table.compare(QLatin1String("articles"), Qt::CaseInsensitive) == 0
        && idColumn.compare(QLatin1String("id"), Qt::CaseInsensitive) == 0;
    // Inside a transaction of the caller's, the caller's commit decides.
    const bool outermost = !inTransaction();
    std::optional<Transaction> transaction;
    if (withChildren) {
        transaction.emplace(*this);
        if (!transaction->isOpen())
            return 0;
    }

    int newId = 0;
    const QMap<QString, QVariant> source { { QStringLiteral("source"), idValue } };
    const int copied
        = copyRows(table, idColumn, replaced,
                   QLatin1Char('`') + idColumn + QLatin1String("` = :source"), source, &newId);
    if (!withChildren)
        return copied > 0 ? qMax(newId, 0) : 0;

    bool ok = copied > 0 && newId > 0;
    if (ok) {
        const QString newArticle = QString::number(newId);
        const QHash<QString, QString> ofCopy { { QStringLiteral("article_id"),
                                                 QStringLiteral(":copy") } };
        const QMap<QString, QVariant> both { { QStringLiteral("source"), idValue },
                                             { QStringLiteral("copy"), newArticle } };
        const QString condition = QStringLiteral("`article_id` = :source ORDER BY `id`");
        ok = copyRows(QStringLiteral("articles_images"), QStringLiteral("id"), ofCopy, condition,
                      both, nullptr)
            >= 0;
        const int variations = ok ? copyRows(QStringLiteral("articles_variations"),
                                             QStringLiteral("id"), ofCopy, condition, both, nullptr)
                                  : -1;
        ok = variations >= 0;
        // The copied variation pictures belong to the copied variations, in the same order.
        if (ok && variations > 0) {
            QStringList before;
            QStringList after;
            QSqlQuery ids;
            ok = run(ids, m_db,
                     QStringLiteral("SELECT id, article_id FROM articles_variations WHERE "
                                    "article_id IN (:source, :copy) ORDER BY id"),
                     &both, "SQL Error: ");
            while (ok && ids.next())
                (ids.value(1).toString() == newArticle ? after : before) << ids.value(0).toString();
            ids.finish();
            QString cases;
            for (int i = 0; i < before.size() && i < after.size(); ++i)
                cases += QStringLiteral(" WHEN %1 THEN %2").arg(before.at(i), after.at(i));
            if (ok && !cases.isEmpty())
                ok = executeSQL(QStringLiteral("UPDATE articles_images SET variant_id = CASE "
                                               "variant_id%1 END WHERE article_id = %2 AND "
                                               "variant_id IN (%3)")
                                    .arg(cases, newArticle,
                                         before.mid(0, after.size()).join(QLatin1Char(','))));
        }
    }
    if (!ok)
        return 0;
    if (transaction->commit())
        return newId;
    if (!outermost || m_lastOutcome != Outcome::Unknown)
        return 0;
    // The answer to the commit was lost: the copy's id tells whether it was kept.
    const QString error = lastErrorText;
    const int stored = articleStored(newId);
    if (stored == 1)
        return newId;
    lastErrorText = error;
    m_lastOutcome = stored < 0 ? Outcome::Unknown : Outcome::NotWritten;
    return 0;
}

int Database::articleStored(int id)
{
    QSqlQuery check;
    if (!run(check, m_db,
             QStringLiteral("SELECT COUNT(*) FROM articles WHERE id = ") + QString::number(id),
             nullptr, "SQL Error: ")
        || !check.next())
        return -1;
    // Found out: nothing is left to tell about it.
    m_unknownPending = false;
    return check.value(0).toInt() == 1 ? 1 : 0;
}

int Database::insertOnce(const QMap<QString, QVariant> &row, const QString &table)
{
    const Resolving resolving(*this);
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        const int id = insertSqlClean(row, table);
        if (id > 0 || m_lastOutcome != Outcome::Unknown || attempt == kAttempts)
            return id;
        // Whether it was stored, its values tell (bound as the insert bound them).
        const QString error = lastErrorText;
        QStringList conditions;
        for (auto it = row.cbegin(); it != row.cend(); ++it)
            conditions << QLatin1Char('`') + it.key() + QLatin1String("` = :") + it.key();
        QSqlQuery found;
        if (!run(found, m_db,
                 QLatin1String("SELECT id FROM ") + table + QLatin1String(" WHERE ")
                     + conditions.join(QLatin1String(" AND ")) + QLatin1String(" ORDER BY id DESC"),
                 &row, "SQL Error: ")) {
            lastErrorText = error;
            m_lastOutcome = Outcome::Unknown;
            return 0;
        }
        if (found.next())
            return found.value(0).toInt();
        qCInfo(lcDb).noquote() << "A row of" << table << "whose answer was lost was not stored;"
                               << "it is written again";
    }
}

NewsItem Database::addOutcomeNews(const QString &title, const QString &text, bool ok)
{
    ArticleRow entry;
    entry.insert(QStringLiteral("indate"),
                 Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    entry.insert(QStringLiteral("title"), title);
    entry.insert(QStringLiteral("itemid"), QStringLiteral("0"));
    entry.insert(QStringLiteral("databaseid"), 0);
    entry.insert(QStringLiteral("textinfo"), text);
    entry.insert(QStringLiteral("infotype"),
                 ok ? QStringLiteral("success") : QStringLiteral("error"));
    const int id = insertOnce(entry, QStringLiteral("itemshistory"));
    if (id <= 0)
        return NewsItem();
    const Read<QList<NewsItem>> rows = selectNews(QStringLiteral("id=") + QString::number(id));
    if (rows.ok() && !rows->isEmpty())
        return rows->first();
    // Stored, but not read back: the entry as it was written.
    NewsItem item;
    item.id = id;
    item.indate = QDateTime::fromString(entry.value(QStringLiteral("indate")).toString(),
                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    item.itemid = QStringLiteral("0");
    item.title = title;
    item.textinfo = text;
    item.infotype = entry.value(QStringLiteral("infotype")).toString();
    return item;
}

Read<QList<NewsItem>> Database::selectNews(const QString &condition)
{
    QString sql = QStringLiteral("SELECT * FROM itemshistory");
    if (condition.startsWith(QLatin1String("ORDER ")))
        sql += QLatin1Char(' ') + condition;
    else if (!condition.isEmpty())
        sql += QLatin1String(" WHERE ") + condition;

    const Read<SqlRows> rows = select(sql);
    if (!rows.ok())
        return Read<QList<NewsItem>>::failed(rows.error());
    QList<NewsItem> items;
    for (const auto &row : *rows) {
        NewsItem item;
        item.id = row.value(QStringLiteral("id")).toInt();
        item.indate = QDateTime::fromString(row.value(QStringLiteral("indate")).toString(),
                                            QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        item.itemid = row.value(QStringLiteral("itemid")).toString();
        item.title = row.value(QStringLiteral("title")).toString();
        item.price = row.value(QStringLiteral("price")).toDouble();
        item.pricetype = row.value(QStringLiteral("pricetype")).toInt();
        item.textinfo = row.value(QStringLiteral("textinfo")).toString();
        item.infotype = row.value(QStringLiteral("infotype")).toString();
        item.databaseid = row.value(QStringLiteral("databaseid")).toInt();
        items.append(item);
    }
    return items;
}

bool Database::mysqlAddRemoveInfo(int folder, const QString &articleId)
{
    if (!isMySQL)
        return true;
    QMap<QString, QVariant> entry;
    entry.insert(QStringLiteral("price"), 0);
    entry.insert(QStringLiteral("pricetype"), 0);
    entry.insert(QStringLiteral("indate"),
                 Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    entry.insert(QStringLiteral("title"), QStringLiteral("Gelöscht"));
    entry.insert(QStringLiteral("textinfo"),
                 QStringLiteral("Anzeige wurde zur Neueinlesung gelöscht (%1,%2)")
                     .arg(folder)
                     .arg(articleId));
    entry.insert(QStringLiteral("infotype"), QStringLiteral("removeitem"));
    entry.insert(QStringLiteral("itemid"), QStringLiteral("0"));
    const int newsId = insertOnce(entry, QStringLiteral("itemshistory"));
    if (newsId <= 0)
        return false;
    const QVariant sync = appProperty("mysqlsyncworkstation");
    return !(sync.isValid() && !sync.toBool())
        || insertOnce({ { QStringLiteral("newsid"), newsId } }, QStringLiteral("clienttoserver"))
        > 0;
}
