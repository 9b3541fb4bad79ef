#include "core/sqlrow.h"

#include <algorithm>

int SqlColumns::indexOf(const QString &name) const
{
    const auto at = std::lower_bound(names.cbegin(), names.cend(), name);
    return at != names.cend() && *at == name ? int(at - names.cbegin()) : -1;
}

namespace {

const QExplicitlySharedDataPointer<SqlColumns> &noColumns()
{
    static const QExplicitlySharedDataPointer<SqlColumns> none(new SqlColumns);
    return none;
}

} // namespace

SqlRow::SqlRow()
    : d(new Data)
{
    d->columns = noColumns();
}

SqlRow::SqlRow(const QExplicitlySharedDataPointer<SqlColumns> &columns, QVector<QVariant> values)
    : d(new Data)
{
    d->columns = columns;
    d->values = std::move(values);
}

SqlRow::SqlRow(const QMap<QString, QVariant> &map)
    : d(new Data)
{
    d->columns = new SqlColumns;
    d->columns->names.reserve(map.size());
    d->values.reserve(map.size());
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        d->columns->names.append(it.key());
        d->values.append(it.value());
    }
}

const QMap<QString, QVariant> &SqlRow::toMap() const
{
    if (!d->mapped) {
        QMap<QString, QVariant> map;
        for (int i = 0; i < size(); ++i)
            map.insert(map.cend(), d->columns->names.at(i), d->values.at(i));
        d->map = map;
        d->mapped = true;
    }
    return d->map;
}

SqlRow::Data *SqlRow::changing()
{
    Data *data = d.data();
    data->mapped = false;
    data->map.clear();
    return data;
}

QVariant SqlRow::value(const QString &column, const QVariant &defaultValue) const
{
    const int i = d->columns->indexOf(column);
    return i < 0 ? defaultValue : d->values.at(i);
}

bool SqlRow::contains(const QString &column) const
{
    return d->columns->indexOf(column) >= 0;
}

int SqlRow::addColumn(const QString &column)
{
    Data *data = changing();
    const QVector<QString> &names = data->columns->names;
    const int at = int(std::lower_bound(names.cbegin(), names.cend(), column) - names.cbegin());
    QExplicitlySharedDataPointer<SqlColumns> copy(new SqlColumns(*data->columns));
    copy->names.insert(at, column);
    data->columns = copy;
    data->values.insert(at, QVariant());
    return at;
}

QVariant &SqlRow::operator[](const QString &column)
{
    int i = d->columns->indexOf(column);
    if (i < 0)
        i = addColumn(column);
    return changing()->values[i];
}

void SqlRow::insert(const QString &column, const QVariant &value)
{
    (*this)[column] = value;
}

int SqlRow::remove(const QString &column)
{
    const int i = d->columns->indexOf(column);
    if (i < 0)
        return 0;
    Data *data = changing();
    QExplicitlySharedDataPointer<SqlColumns> copy(new SqlColumns(*data->columns));
    copy->names.remove(i);
    data->columns = copy;
    data->values.remove(i);
    return 1;
}

QStringList SqlRow::keys() const
{
    return QStringList(d->columns->names.cbegin(), d->columns->names.cend());
}

bool SqlRow::operator==(const SqlRow &other) const
{
    return d->values == other.d->values
        && (d->columns == other.d->columns || d->columns->names == other.d->columns->names);
}

SqlRows::SqlRows(const QList<QMap<QString, QVariant>> &maps)
{
    reserve(maps.size());
    for (const auto &map : maps)
        append(SqlRow(map));
}

SqlRows::operator QList<QMap<QString, QVariant>>() const
{
    QList<QMap<QString, QVariant>> maps;
    maps.reserve(size());
    for (const SqlRow &row : *this)
        maps.append(row.toMap());
    return maps;
}
