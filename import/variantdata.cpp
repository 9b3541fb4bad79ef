#include "import/variantdata.h"

namespace QtCSV {

namespace {

bool convertible(const QList<QVariant> &values)
{
    for (const QVariant &value : values) {
        if (!value.canConvert<QString>())
            return false;
    }
    return true;
}

QList<QVariant> toVariants(const QStringList &values)
{
    QList<QVariant> row;
    row.reserve(values.size());
    for (const QString &value : values)
        row.append(value);
    return row;
}

} // namespace

VariantData::VariantData()
    : m_rows(std::make_unique<QList<QList<QVariant>>>())
{ }

VariantData::VariantData(const VariantData &other)
    : AbstractData()
    , m_rows(std::make_unique<QList<QList<QVariant>>>(*other.m_rows))
{ }

VariantData &VariantData::operator=(const VariantData &other)
{
    if (this != &other)
        *m_rows = *other.m_rows;
    return *this;
}

VariantData::~VariantData() = default;

void VariantData::addEmptyRow()
{
    m_rows->append(QList<QVariant>());
}

void VariantData::addRow(const QStringList &values)
{
    m_rows->append(toVariants(values));
}

bool VariantData::addRow(const QVariant &value)
{
    return addRow(QList<QVariant> { value });
}

bool VariantData::addRow(const QList<QVariant> &values)
{
    if (!convertible(values))
        return false;
    m_rows->append(values);
    return true;
}

void VariantData::clear()
{
    m_rows->clear();
}

bool VariantData::isEmpty() const
{
    return m_rows->isEmpty();
}

int VariantData::rowCount() const
{
    return m_rows->size();
}

QStringList VariantData::rowValues(const int &row) const
{
    if (row < 0 || row >= m_rows->size())
        return {};
    QStringList values;
    for (const QVariant &value : m_rows->at(row))
        values.append(value.toString());
    return values;
}

bool VariantData::insertRow(const int &row, const QList<QVariant> &values)
{
    if (!convertible(values))
        return false;
    m_rows->insert(qBound(0, row, m_rows->size()), values);
    return true;
}

bool VariantData::insertRow(const int &row, const QVariant &value)
{
    return insertRow(row, QList<QVariant> { value });
}

void VariantData::insertRow(const int &row, const QStringList &values)
{
    insertRow(row, toVariants(values));
}

void VariantData::removeRow(const int &row)
{
    if (row >= 0 && row < m_rows->size())
        m_rows->removeAt(row);
}

bool VariantData::replaceRow(const int &row, const QList<QVariant> &values)
{
    if (!convertible(values))
        return false;
    m_rows->replace(row, values);
    return true;
}

bool VariantData::replaceRow(const int &row, const QVariant &value)
{
    return replaceRow(row, QList<QVariant> { value });
}

void VariantData::replaceRow(const int &row, const QStringList &values)
{
    replaceRow(row, toVariants(values));
}

void VariantData::reserve(const int &size)
{
    m_rows->reserve(size);
}

bool VariantData::operator==(const VariantData &other) const
{
    return *m_rows == *other.m_rows;
}

bool VariantData::operator<<(const QList<QVariant> &values)
{
    return addRow(values);
}

VariantData &VariantData::operator<<(const QStringList &values)
{
    addRow(values);
    return *this;
}

bool VariantData::operator<<(const QVariant &value)
{
    return addRow(value);
}

} // namespace QtCSV
