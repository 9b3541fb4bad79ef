#pragma once

#include "import/reader.h"

#include <functional>

// Hands each row the reader delivers to a function; the function's false stops the reading.
class RowFunction : public QtCSV::Reader::AbstractProcessor
{
public:
    explicit RowFunction(std::function<bool(const QStringList &)> handle)
        : m_handle(std::move(handle))
    { }
    bool process(const QStringList &elements) override { return m_handle(elements); }

private:
    std::function<bool(const QStringList &)> m_handle;
};
