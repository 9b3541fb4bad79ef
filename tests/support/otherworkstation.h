#pragma once

#include "tests/support/testdatabase.h"

#include <QString>

namespace TestSupport {

// Another workstation in the middle of a command of its own: on a connection of its own it
// holds, in an open transaction, the rows a statement reads `FOR UPDATE` (MariaDB), or the
// write lock of the whole file (SQLite: BEGIN IMMEDIATE). Lets go (rolls back) when it goes.
class OtherWorkstation
{
public:
    // `rows`: a SELECT of the rows to hold, without FOR UPDATE (ignored on SQLite).
    OtherWorkstation(TestDatabase &data, const QString &rows);
    ~OtherWorkstation();
    OtherWorkstation(const OtherWorkstation &) = delete;
    OtherWorkstation &operator=(const OtherWorkstation &) = delete;

    // Empty while it holds; else why it could not.
    QString error() const { return m_error; }
    // Ends its transaction; holds nothing from then on.
    void letGo();

private:
    QString m_name;
    QString m_error;
    bool m_holding = false;
};

} // namespace TestSupport
