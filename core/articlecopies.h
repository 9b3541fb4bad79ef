#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

class Database;

// Copies of many articles, each with its picture and variation rows, made by groups: a few
// statements per group, whatever its size. It writes inside the caller's transaction, which
// must be open: a statement that fails fails that transaction, and the caller's commit decides
// what is kept, so a command copies all of its articles or none.
//
// The copying statement writes each copy as it starts (without the source's item number, so it
// is never a second row of a listing), and tells the copies from every other row by a mark in
// their error text; the mark is cleared before the group is done, so none is ever committed.
class ArticleCopies
{
public:
    // `changes`: the columns every copy starts with (Database::freshCopy()); a copy keeps no
    // error text.
    ArticleCopies(Database &db, const QMap<QString, QVariant> &changes);

    // Copies the articles `ids` (a group small enough for one statement, see
    // CommandProgress::groups()). An article that is gone is left out. False when a statement
    // failed: the connection's lastErrorText says why, and the open transaction fails.
    bool copy(const QList<int> &ids);

    // Source article id -> its copy, for every group copied so far.
    const QHash<int, int> &copies() const { return m_copies; }
    // The copies made so far, in the order they were made.
    const QList<int> &made() const { return m_made; }

private:
    // Articles copied with one set of statements. Their pictures and variations are found by
    // the article index; MariaDB and MySQL look an IN list of up to 200 values up in the index
    // itself, and guess from its statistics above that, which can make them read the whole
    // table: twice this number stays below.
    static constexpr int kChunk = 90;
    bool copyChunk(const QList<int> &ids);
    // "INSERT INTO `table` (...) SELECT ... FROM `table` WHERE `article_id` IN (...)", the
    // article id of each row replaced by that of its article's copy.
    bool copyChildren(const QString &table, const QList<int> &sources, const QString &cases);
    // Ties the copied variation pictures to the copied variations.
    bool relinkVariationPictures(const QList<int> &sources, const QList<int> &copies);

    Database &m_db;
    QMap<QString, QVariant> m_changes;
    QString m_mark;
    QHash<int, int> m_copies;
    QList<int> m_made;
};
