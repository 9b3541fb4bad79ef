#pragma once

#include <QStringList>

namespace QtCSV {

// A table of rows of text, as the CSV writer takes it and the reader can fill it.
class AbstractData
{
public:
    virtual ~AbstractData() = default;

    virtual void addEmptyRow() = 0;
    virtual void addRow(const QStringList &values) = 0;
    virtual void clear() = 0;
    virtual bool isEmpty() const = 0;
    virtual int rowCount() const = 0;
    // The row's values; empty for an index outside the table.
    virtual QStringList rowValues(const int &row) const = 0;
};

} // namespace QtCSV
