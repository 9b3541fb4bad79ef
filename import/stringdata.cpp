#include "import/stringdata.h"

namespace QtCSV {

StringData::StringData()
    : m_rows(std::make_unique<QList<QStringList>>())
{ }

StringData::StringData(const StringData &other)
    : AbstractData()
    , m_rows(std::make_unique<QList<QStringList>>(*other.m_rows))
{ }

StringData &StringData::operator=(const StringData &other)
{
    if (this != &other)
        *m_rows = *other.m_rows;
    return *this;
}

StringData::~StringData() = default;

void StringData::addEmptyRow()
{
    m_rows->append(QStringList());
}

void StringData::addRow(const QStringList &values)
{
    m_rows->append(values);
}

void StringData::addRow(const QString &value)
{
    m_rows->append(QStringList(value));
}

void StringData::clear()
{
    m_rows->clear();
}

bool StringData::isEmpty() const
{
    return m_rows->isEmpty();
}

int StringData::rowCount() const
{
    return m_rows->size();
}

QStringList StringData::rowValues(const int &row) const
{
    if (row < 0 || row >= m_rows->size())
        return {};
    return m_rows->at(row);
}

void StringData::insertRow(const int &row, const QStringList &values)
{
    m_rows->insert(qBound(0, row, m_rows->size()), values);
}

void StringData::insertRow(const int &row, const QString &value)
{
    insertRow(row, QStringList(value));
}

void StringData::removeRow(const int &row)
{
    if (row >= 0 && row < m_rows->size())
        m_rows->removeAt(row);
}

void StringData::replaceRow(const int &row, const QStringList &values)
{
    m_rows->replace(row, values);
}

void StringData::replaceRow(const int &row, const QString &value)
{
    replaceRow(row, QStringList(value));
}

void StringData::reserve(const int &size)
{
    m_rows->reserve(size);
}

bool StringData::operator==(const StringData &other) const
{
    return *m_rows == *other.m_rows;
}

StringData &StringData::operator<<(const QStringList &values)
{
    addRow(values);
    return *this;
}

StringData &StringData::operator<<(const QString &value)
{
    addRow(value);
    return *this;
}

} // namespace QtCSV
