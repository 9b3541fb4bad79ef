#pragma once

#include <QString>

#include <utility>

namespace ReadResultInternal {
// Logs that the value of a read that failed was taken as if it had been read. The tests
// treat that line as a failure: a failed read must never pass for "none".
void failedReadTaken(const QString &error);
} // namespace ReadResultInternal

// What a read of the database yielded: the value, or that it could not be read and why.
// "Nothing stored" and "could not be read" are different answers: a clean-up that takes a
// failed read for an empty one deletes what is in use, a dialog that does so writes defaults
// over the seller's settings, a look-up before an insert inserts a second row.
//
// So the value is taken only by a caller that asked first:
//
//     const Read<SqlRows> rows = db->select(sql);
//     if (!rows.ok())
//         return tell(rows.error());
//     for (const SqlRow &row : *rows) ...
//
// A caller for which a failed read really is harmless says so at the call, with the value it
// stands for: `db->getOption("ShowDesktopNoti", "1").orIfFailed("1")`.
template<typename T> class [[nodiscard]] Read
{
public:
    // A read that succeeded.
    Read(T value)
        : m_value(std::move(value))
        , m_ok(true)
    { }

    // A read that failed: `error` says why, as the seller reads it.
    static Read failed(QString error)
    {
        Read read { T() };
        read.m_ok = false;
        read.m_error = error.isEmpty() ? QStringLiteral("unbekannter Fehler") : std::move(error);
        return read;
    }

    bool ok() const { return m_ok; }
    const QString &error() const { return m_error; }

    // The value read. Asked of a failed read it logs that (a fault of the caller) and gives
    // the empty value.
    // Of a read that is not kept (`for (row : *db->select(…))`) the value is handed over,
    // so that it outlives the statement.
    const T &value() const &
    {
        if (!m_ok)
            ReadResultInternal::failedReadTaken(m_error);
        return m_value;
    }
    T value() &&
    {
        if (!m_ok)
            ReadResultInternal::failedReadTaken(m_error);
        return std::move(m_value);
    }
    const T &operator*() const & { return value(); }
    T operator*() && { return std::move(*this).value(); }
    const T *operator->() const { return &value(); }

    // The value read, or `fallback` when the read failed: for callers to which a failed read
    // does no harm (say why at the call).
    T orIfFailed(T fallback) const & { return m_ok ? m_value : std::move(fallback); }
    T orIfFailed(T fallback) && { return m_ok ? std::move(m_value) : std::move(fallback); }

private:
    T m_value;
    bool m_ok = false;
    QString m_error;
};
