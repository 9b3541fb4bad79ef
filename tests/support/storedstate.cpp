#include "tests/support/storedstate.h"

#include "core/database.h"
#include "core/schema.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace TestSupport {

namespace {

// The column a table's rows are told apart by: its key, or the column that is unique.
QString keyOf(const Schema::Table &table)
{
    for (const Schema::Column &column : table.columns) {
        if (column.type == Schema::Type::Key)
            return column.name;
    }
    if (!table.uniqueKey.isEmpty())
        return table.uniqueKey;
    return table.columns.isEmpty() ? QString() : table.columns.first().name;
}

const QStringList kPictureFolders { QStringLiteral("adimages"), QStringLiteral("adimages_thumb") };

} // namespace

StoredState StoredState::take(Database &db, const QString &dataDir)
{
    StoredState state;
    for (const Schema::Table &table : Schema::tables()) {
        if (!db.select(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table.name)).ok()) {
            state.m_error += table.name + QLatin1Char(' ');
            continue;
        }
        state.m_tables.insert(table.name, TableSnapshot::take(db, table.name, keyOf(table)));
    }
    for (const QString &folder : kPictureFolders) {
        const QString root = QDir(dataDir).filePath(folder);
        QDirIterator files(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            files.next();
            state.m_files.insert(folder + QLatin1Char('/') + QDir(root).relativeFilePath(files.filePath()),
                                 files.fileInfo().size());
        }
    }
    return state;
}

QStringList StoredState::changedCells(const StoredState &before, const StoredState &after)
{
    QSet<QString> cells;
    for (auto it = after.m_tables.cbegin(); it != after.m_tables.cend(); ++it) {
        for (const TableSnapshot::Change &change :
             TableSnapshot::diff(before.m_tables.value(it.key()), it.value()))
            cells.insert(it.key() + QLatin1Char('.') + change.column);
    }
    for (auto it = before.m_files.cbegin(); it != before.m_files.cend(); ++it) {
        if (!after.m_files.contains(it.key()))
            cells.insert(QStringLiteral("files.<removed>"));
        else if (after.m_files.value(it.key()) != it.value())
            cells.insert(QStringLiteral("files.size"));
    }
    for (auto it = after.m_files.cbegin(); it != after.m_files.cend(); ++it) {
        if (!before.m_files.contains(it.key()))
            cells.insert(QStringLiteral("files.<added>"));
    }
    QStringList sorted = cells.values();
    sorted.sort();
    return sorted;
}

QStringList StoredState::changedRows(const StoredState &before, const StoredState &after)
{
    QSet<QString> rows;
    for (auto it = after.m_tables.cbegin(); it != after.m_tables.cend(); ++it) {
        for (const TableSnapshot::Change &change :
             TableSnapshot::diff(before.m_tables.value(it.key()), it.value()))
            rows.insert(it.key() + QLatin1Char(':') + change.key);
    }
    QSet<QString> names;
    for (auto it = before.m_files.cbegin(); it != before.m_files.cend(); ++it)
        names.insert(it.key());
    for (auto it = after.m_files.cbegin(); it != after.m_files.cend(); ++it)
        names.insert(it.key());
    for (const QString &name : names) {
        if (before.m_files.value(name, -1) != after.m_files.value(name, -1))
            rows.insert(QStringLiteral("files:") + name);
    }
    QStringList sorted = rows.values();
    sorted.sort();
    return sorted;
}

QString StoredState::describe(const StoredState &before, const StoredState &after, int lines)
{
    QStringList out;
    for (auto it = after.m_tables.cbegin(); it != after.m_tables.cend(); ++it) {
        const auto changes = TableSnapshot::diff(before.m_tables.value(it.key()), it.value());
        if (changes.isEmpty())
            continue;
        for (const QString &line : TableSnapshot::describe(changes).split(QLatin1Char('\n')))
            out << it.key() + QStringLiteral(": ") + line;
    }
    QSet<QString> names;
    for (auto it = before.m_files.cbegin(); it != before.m_files.cend(); ++it)
        names.insert(it.key());
    for (auto it = after.m_files.cbegin(); it != after.m_files.cend(); ++it)
        names.insert(it.key());
    for (const QString &name : names) {
        const qint64 was = before.m_files.value(name, -1);
        const qint64 is = after.m_files.value(name, -1);
        if (was != is)
            out << QStringLiteral("file %1: %2 -> %3 bytes").arg(name).arg(was).arg(is);
    }
    const int total = out.size();
    if (total > lines) {
        out = out.mid(0, lines);
        out << QStringLiteral("… %1 more").arg(total - lines);
    }
    return out.join(QLatin1Char('\n'));
}

} // namespace TestSupport
