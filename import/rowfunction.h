#pragma once

#include "import/reader.h"

#include <functional>

// Hands each row the reader delivers, with the file line it began in, to a function; the
// function's false stops the reading.
class RowFunction : public QtCSV::Reader::AbstractProcessor
{
public:
    explicit RowFunction(std::function<bool(const QStringList &, int)> handle)
        : m_handle(std::move(handle))
    { }
    bool process(const QStringList &elements) override { return m_handle(elements, 0); }
    bool processRow(const QStringList &elements, int firstLine) override
    {
        return m_handle(elements, firstLine);
    }

private:
    std::function<bool(const QStringList &, int)> m_handle;
};
