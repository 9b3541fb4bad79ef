#pragma once

#include "import/abstractdata.h"

#include <QList>
#include <QStringList>
#include <memory>

namespace QtCSV {

// Rows of strings. Row indexes outside the table: rowValues() gives an empty row,
// removeRow() does nothing, insertRow() puts the row at the front (index <= 0) or at the
// end (index >= rowCount()); replaceRow() needs a valid index.
class StringData : public AbstractData
{
public:
    StringData();
    StringData(const StringData &other);
    StringData &operator=(const StringData &other);
    ~StringData() override;

    void addEmptyRow() override;
    void addRow(const QStringList &values) override;
    // A row of one element.
    void addRow(const QString &value);
    void clear() override;
    bool isEmpty() const override;
    int rowCount() const override;
    QStringList rowValues(const int &row) const override;

    void insertRow(const int &row, const QStringList &values);
    void insertRow(const int &row, const QString &value);
    void removeRow(const int &row);
    void replaceRow(const int &row, const QStringList &values);
    void replaceRow(const int &row, const QString &value);
    void reserve(const int &size);

    bool operator==(const StringData &other) const;
    bool operator!=(const StringData &other) const { return !(*this == other); }
    StringData &operator<<(const QStringList &values);
    StringData &operator<<(const QString &value);

private:
    std::unique_ptr<QList<QStringList>> m_rows;
};

} // namespace QtCSV
