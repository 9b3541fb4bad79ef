#pragma once

#include "import/abstractdata.h"

#include <QList>
#include <QVariant>
#include <memory>

namespace QtCSV {

// Rows of variants, written as their text (QVariant::toString). The variant forms refuse
// (false, table unchanged) a row holding a value that has no text form. Row indexes
// outside the table behave as in StringData.
class VariantData : public AbstractData
{
public:
    VariantData();
    VariantData(const VariantData &other);
    VariantData &operator=(const VariantData &other);
    ~VariantData() override;

    void addEmptyRow() override;
    void addRow(const QStringList &values) override;
    bool addRow(const QVariant &value);
    bool addRow(const QList<QVariant> &values);
    void clear() override;
    bool isEmpty() const override;
    int rowCount() const override;
    QStringList rowValues(const int &row) const override;

    bool insertRow(const int &row, const QList<QVariant> &values);
    bool insertRow(const int &row, const QVariant &value);
    void insertRow(const int &row, const QStringList &values);
    void removeRow(const int &row);
    bool replaceRow(const int &row, const QList<QVariant> &values);
    bool replaceRow(const int &row, const QVariant &value);
    void replaceRow(const int &row, const QStringList &values);
    void reserve(const int &size);

    bool operator==(const VariantData &other) const;
    bool operator!=(const VariantData &other) const { return !(*this == other); }
    bool operator<<(const QList<QVariant> &values);
    VariantData &operator<<(const QStringList &values);
    bool operator<<(const QVariant &value);

private:
    std::unique_ptr<QList<QList<QVariant>>> m_rows;
};

} // namespace QtCSV
