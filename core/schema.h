#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class Database;

// The tables of the program's database and the numbered steps that bring an older
// database up to date. The same column names and meanings in SQLite and MySQL.
namespace Schema {

enum class Type {
    Key, // integer primary key, assigned by the database
    Integer,
    Real,
    VarChar, // with a length
    Text, // up to 16 MB in MySQL
    LongText // descriptions and marketplace replies
};

struct Column
{
    QString name;
    Type type = Type::Text;
    int length = 0; // VarChar only
    QString defaultValue; // SQL literal, e.g. "0" or "''"; empty for none
    bool notNull = false;
};

struct Index
{
    QString name;
    QStringList columns;
};

struct Table
{
    QString name;
    QVector<Column> columns;
    QVector<Index> indexes;
    QString uniqueKey; // a column that is unique without being the key
};

// How a server spells things the two dialects differ in.
struct Dialect
{
    bool mysql = false;
    // MySQL/MariaDB only: how a TEXT column takes a default. MariaDB takes a literal,
    // MySQL 8.0.13 and later an expression in parentheses, older MySQL none at all.
    enum class TextDefault { Literal, Expression, None } textDefault = TextDefault::Literal;
};

const QVector<Table> &tables();
const Table *table(const QString &name);

QString columnDefinition(const Column &column, const Dialect &dialect);
QString createTableStatement(const Table &table, const Dialect &dialect);

// The version a database reaches after every upgrade step has run.
int currentVersion();
// The option that records the version a database has reached.
QString versionOption();

// Brings the database of `db` up to date, step by step; each finished step is recorded.
// Rows are never dropped. False when a step failed (the database keeps the version of
// the last finished step).
bool upgrade(Database &db);

} // namespace Schema
