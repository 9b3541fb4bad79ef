#pragma once

#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QMap>
#include <QSharedData>
#include <QSharedDataPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// The column names of a query result, in ascending order, shared by all its rows.
struct SqlColumns : QSharedData
{
    QVector<QString> names;
    // The position of `name`, or -1.
    int indexOf(const QString &name) const;
};

// One row of a query result, read by column name like the QMap<QString, QVariant> it can be
// turned into: the same lookups, the same ascending order of columns. Its values are kept in
// one vector, the names once for the whole result.
class SqlRow
{
public:
    class const_iterator
    {
    public:
        const_iterator() = default;
        const_iterator(const SqlRow *row, int index)
            : m_row(row)
            , m_index(index)
        { }
        const QString &key() const { return m_row->d->columns->names.at(m_index); }
        const QVariant &value() const { return m_row->d->values.at(m_index); }
        const QVariant &operator*() const { return value(); }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }
        bool operator==(const const_iterator &other) const { return m_index == other.m_index; }
        bool operator!=(const const_iterator &other) const { return m_index != other.m_index; }

    private:
        const SqlRow *m_row = nullptr;
        int m_index = 0;
    };
    using ConstIterator = const_iterator;

    SqlRow();
    // Rows of one result share `columns`; `values` are in the order of its names.
    SqlRow(const QExplicitlySharedDataPointer<SqlColumns> &columns, QVector<QVariant> values);
    SqlRow(const QMap<QString, QVariant> &map);
    // The row as a map, made on first use and kept with the row until it changes.
    operator const QMap<QString, QVariant> &() const { return toMap(); }
    const QMap<QString, QVariant> &toMap() const;

    QVariant value(const QString &column, const QVariant &defaultValue = QVariant()) const;
    const QVariant operator[](const QString &column) const { return value(column); }
    // A column that is not there is added with a null value.
    QVariant &operator[](const QString &column);
    bool contains(const QString &column) const;
    void insert(const QString &column, const QVariant &value);
    int remove(const QString &column);

    bool isEmpty() const { return size() == 0; }
    int size() const { return d->values.size(); }
    QStringList keys() const;

    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    bool operator==(const SqlRow &other) const;
    bool operator!=(const SqlRow &other) const { return !(*this == other); }
    bool operator==(const QMap<QString, QVariant> &other) const { return toMap() == other; }
    bool operator!=(const QMap<QString, QVariant> &other) const { return toMap() != other; }

private:
    struct Data : QSharedData
    {
        QExplicitlySharedDataPointer<SqlColumns> columns;
        QVector<QVariant> values;
        mutable QMap<QString, QVariant> map;
        mutable bool mapped = false;
    };
    // Non-const access to the row's data: the map made of it no longer holds.
    Data *changing();
    // The position of a column that is not there yet; the names are copied first when
    // other rows share them.
    int addColumn(const QString &column);

    QSharedDataPointer<Data> d;
};
Q_DECLARE_TYPEINFO(SqlRow, Q_MOVABLE_TYPE);

// The rows of a query result; also taken and given as a list of maps, as before.
class SqlRows : public QList<SqlRow>
{
public:
    SqlRows() = default;
    SqlRows(const QList<SqlRow> &rows)
        : QList<SqlRow>(rows)
    { }
    SqlRows(std::initializer_list<SqlRow> rows)
        : QList<SqlRow>(rows)
    { }
    SqlRows(const QList<QMap<QString, QVariant>> &maps);
    operator QList<QMap<QString, QVariant>>() const;
};
