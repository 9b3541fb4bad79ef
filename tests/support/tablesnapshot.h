#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

class Database;

namespace TestSupport {

// The rows of one table at one moment, keyed by a column, so that a test can check that
// an operation changed exactly the cells it should and nothing else.
class TableSnapshot
{
public:
    struct Change
    {
        QString key; // value of the key column
        QString column; // "<added>" or "<removed>" for whole rows
        QVariant before;
        QVariant after;
    };

    static TableSnapshot take(Database &db, const QString &table,
                              const QString &keyColumn = QStringLiteral("id"));

    int rowCount() const { return m_rows.size(); }
    QMap<QString, QVariant> row(const QString &key) const { return m_rows.value(key); }

    // Every (row, column) cell that differs, compared as text, in key order.
    static QList<Change> diff(const TableSnapshot &before, const TableSnapshot &after);
    // The changes one per line, for failure messages.
    static QString describe(const QList<Change> &changes);

private:
    QMap<QString, QMap<QString, QVariant>> m_rows;
};

} // namespace TestSupport
