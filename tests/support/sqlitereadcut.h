#pragma once

#include <QByteArray>
#include <QSqlDatabase>

namespace TestSupport {

// Cuts a read of a local file short half-way through its rows, as an I/O error or a damaged
// page does: the `occurrence`-th statement from now on whose text contains `text`
// (case-sensitive) yields its first `rows` rows, and its next step fails ("interrupted")
// instead of giving the next row or the end. A reader that takes the rows it got for all of
// them is what this finds (Database::rowsComplete()). With `rows` 0 the statement fails at
// once, as a read refused by its text. Once: after the cut nothing more is cut until
// cutAfter() is called again. With `rows` above 0, a statement of `rows` rows or fewer is not
// cut and does not count.
//
// It holds for the connections opened while it lives, whatever thread opens them, and for
// those given to alsoOn() (its hooks stay on them afterwards and do nothing unless a cut is
// armed). It may stand beside a SqliteReadRefusal. One at a time.
//
//     TestSupport::SqliteReadCut cut;
//     cut.alsoOn(QSqlDatabase::database());
//     cut.cutAfter("FROM articles", 1);
//     ... the command reads ...
//     QCOMPARE(cut.cuts(), 1);
class SqliteReadCut
{
public:
    // Cutting nothing until cutAfter().
    SqliteReadCut();
    ~SqliteReadCut();
    SqliteReadCut(const SqliteReadCut &) = delete;
    SqliteReadCut &operator=(const SqliteReadCut &) = delete;

    // Also an open connection of this thread (a SQLite one; others are left alone).
    void alsoOn(const QSqlDatabase &connection);
    void cutAfter(const QByteArray &text, int rows, int occurrence = 1);
    // Reads cut so far.
    int cuts() const;
};

} // namespace TestSupport
