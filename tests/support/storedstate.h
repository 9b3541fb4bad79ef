#pragma once

#include "tests/support/tablesnapshot.h"

#include <QMap>
#include <QString>
#include <QStringList>

class Database;

namespace TestSupport {

// Everything a data folder keeps for the seller at one moment: every table of the program's
// database row by row, and the files of the picture folders with their sizes. A test compares
// two of them to tell whether a command left the store as it was, or which cells it changed.
class StoredState
{
public:
    // Reads through `db`; `dataDir` is the data folder (its adimages/ and adimages_thumb/).
    static StoredState take(Database &db, const QString &dataDir);

    // Every changed cell as "table.column" ("table.<added>", "table.<removed>" for whole
    // rows; "files.<added>", "files.<removed>", "files.size" for the picture folders), each
    // named once, sorted.
    static QStringList changedCells(const StoredState &before, const StoredState &after);
    // Every changed row as "table:key" ("files:<name>" for a picture file), sorted.
    static QStringList changedRows(const StoredState &before, const StoredState &after);
    // The changes one per line ("table: row …"), for failure messages; at most `lines`.
    static QString describe(const StoredState &before, const StoredState &after, int lines = 12);

    // Empty when every table could be read; else which could not.
    QString error() const { return m_error; }

private:
    QMap<QString, TableSnapshot> m_tables;
    QMap<QString, qint64> m_files;
    QString m_error;
};

} // namespace TestSupport
