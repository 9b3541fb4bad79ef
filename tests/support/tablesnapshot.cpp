#include "tests/support/tablesnapshot.h"

#include "core/database.h"

#include <QSet>

namespace TestSupport {

TableSnapshot TableSnapshot::take(Database &db, const QString &table, const QString &keyColumn)
{
    TableSnapshot snapshot;
    const SqlRows rows = db.select(QStringLiteral("SELECT * FROM %1").arg(table)).value();
    for (const auto &row : rows)
        snapshot.m_rows.insert(row.value(keyColumn).toString(), row);
    return snapshot;
}

QList<TableSnapshot::Change> TableSnapshot::diff(const TableSnapshot &before,
                                                 const TableSnapshot &after)
{
    QList<Change> changes;
    QStringList keys = before.m_rows.keys();
    for (const QString &key : after.m_rows.keys()) {
        if (!before.m_rows.contains(key))
            keys << key;
    }
    std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) {
        bool okA = false;
        bool okB = false;
        const qlonglong na = a.toLongLong(&okA);
        const qlonglong nb = b.toLongLong(&okB);
        return okA && okB ? na < nb : a < b;
    });

    for (const QString &key : keys) {
        if (!after.m_rows.contains(key)) {
            changes.append({ key, QStringLiteral("<removed>"), QVariant(), QVariant() });
            continue;
        }
        if (!before.m_rows.contains(key)) {
            changes.append({ key, QStringLiteral("<added>"), QVariant(), QVariant() });
            continue;
        }
        const auto &oldRow = before.m_rows[key];
        const auto &newRow = after.m_rows[key];
        QStringList columns = oldRow.keys();
        for (const QString &column : newRow.keys()) {
            if (!oldRow.contains(column))
                columns << column;
        }
        for (const QString &column : qAsConst(columns)) {
            const QVariant a = oldRow.value(column);
            const QVariant b = newRow.value(column);
            if (a.isNull() != b.isNull() || a.toString() != b.toString())
                changes.append({ key, column, a, b });
        }
    }
    return changes;
}

QString TableSnapshot::describe(const QList<Change> &changes)
{
    QStringList lines;
    for (const Change &c : changes) {
        lines << QStringLiteral("row %1, %2: %3 -> %4")
                     .arg(c.key, c.column,
                          c.before.isNull() ? QStringLiteral("NULL") : c.before.toString().left(60),
                          c.after.isNull() ? QStringLiteral("NULL") : c.after.toString().left(60));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace TestSupport
