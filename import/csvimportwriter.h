#pragma once

#include "core/numberreader.h"
#include "core/readresult.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

class Database;
class Transaction;

// Writes the rows of one CSV import into `articles`. The columns are checked and the
// statements built once per run; each row's values are bound by position. A value of a
// number column is read as a number (decimal comma or point, "1.234,50" as well) and left
// out of the row when it is none, or not one the column takes: prices and costs are never
// negative, above NumberReader::maxPrice or with more than two decimals, counts never
// negative. A number whose single mark could group thousands or begin decimals ("1,234")
// is read by what the rest of its column shows (learn()), else left out as ambiguous; a
// whole number with a point group ("1.234") also by what the whole file shows.
//
// A row with a value it can't take as meant (a number column's value that is refused, an
// Account naming no account of the store) is not written at all: the article would differ
// from what the seller meant. Such rows are named with their values (refusedRows()).
//
// On SQLite the rows go in batches, one transaction each, opened only while rows are being
// written: what a batch created or updated counts once its commit has succeeded, and a
// failed commit counts none of its rows. Without a batch (MySQL) each statement stands on
// its own; a new article carries a mark of the run and its line until finish(), by which an
// insert whose answer was lost is looked up before it is written again.
class CsvImportWriter
{
public:
    enum Mode { InsertAll = 0, UpdateOnly = 1, UpdateOrInsert = 2 };

    struct MappedColumn
    {
        int column; // in the file row
        QString field; // column of `articles`
    };
    struct Settings
    {
        int mode = InsertAll;
        QList<MappedColumn> mapping; // in file column order; a field mapped twice: the later wins
        QString keyField; // update modes: the column that finds the articles
        int folder = -10; // of new articles
        QString account; // the account of new articles; empty: the file's, if mapped
    };
    // A value of a number column that is not taken, with the file line of its row.
    struct BadNumber
    {
        int line;
        QString column;
        QString text;
        NumberReader::Refusal why = NumberReader::Refusal::NoNumber;
    };

    // A value of the Account column that names no account of the store, with the file line
    // of its row.
    struct BadAccount
    {
        int line;
        QString text;
    };

    CsvImportWriter(Database &db, const Settings &settings);
    ~CsvImportWriter();

    // The update modes need the key column among the mapped ones.
    bool hasKey() const { return m_keyIndex >= 0; }
    // The file gives the account and the store's accounts could not be read (lastError()).
    bool accountsUnread() const { return m_accountsUnread; }

    // Looks at the number columns of a file row before any row is written: what each
    // column shows of the file's decimal mark decides its ambiguous numbers.
    void learn(const QStringList &row);
    // Takes the next file row, which begins in file line `line`; it is read from where it
    // lies, so it must stay until the row is written.
    void setRow(const QStringList &row, int line);
    // Update modes: the articles whose key column equals the row's key; none when the key
    // is blank. A failed read when they could not be looked up (the rows before it in the
    // batch are kept): the row must not be written.
    Read<QList<int>> matchingIds();
    // Reads the row's values for an insert (or an update): false when one of them is not
    // taken, and the row must not be written; its values are then among badNumbers() or
    // badAccounts(). A false on a failed look-up of the accounts leaves lastError() set.
    bool acceptRow(bool insert);
    // Writes the row as a new article: its id, 0 on failure.
    int insert();
    // Writes the row into the articles `ids` (found by matchingIds): false on failure.
    bool update(const QList<int> &ids);

    // Opens a batch, unless one is open, with the row of file line `line` as its first.
    void begin(int line);
    // Commits the open batch; false when that failed (its rows are then not kept). True
    // when no batch was open.
    bool commit();
    bool inBatch() const { return m_batch != nullptr; }
    // Takes the run's marks off the articles it created (a mark left behind is logged: it
    // marks nothing any other run or the synchronisation looks for).
    void finish();
    int batchRows() const { return m_batchRows; }
    // The first line of the batch written last (the one a failed commit lost).
    int batchLine() const { return m_batchLine; }

    // What is stored for good: articles created and updated.
    int created() const { return m_created; }
    int updated() const { return m_updated; }
    QList<BadNumber> badNumbers() const { return m_badNumbers; }
    QList<BadAccount> badAccounts() const { return m_badAccounts; }
    // Rows not written for a value not taken.
    int refusedRows() const { return m_refusedRows; }
    // The store has no account at all.
    bool noAccounts() const { return m_accountIds.isEmpty(); }
    // The database's text of the last failure.
    QString lastError() const { return m_lastError; }

private:
    enum class Kind { Text, Real, Whole, Count };
    struct Target
    {
        QString field;
        int column = -1; // in the file row; -1: `constant`
        QString constant;
        Kind kind = Kind::Text;
    };

    QString keyValue() const;
    QString markOf(int line) const;
    // Puts the current row's values for `targets` into m_values; `kept` tells per target
    // whether it is written ('1') or left out ('0').
    void bindRow(const QVector<Target> &targets, QByteArray &kept);
    // The number as stored (decimal point, whole numbers without one); false when the
    // text is not one a column of that kind takes, `why` telling the reason.
    static bool readNumber(const QString &text, Kind kind, NumberReader::Marks marks,
                           NumberReader::Options fileOptions, QString *number,
                           NumberReader::Refusal *why);
    // The statement for the targets kept, built once.
    const QString &statement(const QVector<Target> &targets, bool insert, const QByteArray &kept);
    void count(int created, int updated);

    Database &m_db;
    bool m_batches;
    QVector<Target> m_insert;
    QVector<Target> m_update;
    int m_keyIndex = -1; // file column of the key
    QString m_keyField;
    QString m_selectIds;
    QHash<QByteArray, QString> m_statements; // by kind ('i', 'u') and targets kept
    QHash<int, NumberReader::ColumnMarks> m_marks; // by file column, of the number columns
    NumberReader::FileMarks m_fileMarks; // of all number columns together
    QSet<qint64> m_accountIds; // the accounts of the store, read when the run starts
    int m_accountTarget = -1; // the file column of Account, when the file gives it
    bool m_accountsUnread = false; // the accounts could not be read: no row is taken

    const QStringList *m_row = nullptr; // the current row
    int m_line = 0;
    QVector<QVariant> m_values;
    QByteArray m_kept; // of the targets bound last
    // The current row is bound (acceptRow) for an insert ('i') or an update ('u'); 0: not.
    char m_bound = 0;

    std::unique_ptr<Transaction> m_batch;
    QString m_mark; // of this run, on MySQL
    int m_batchRows = 0;
    int m_batchLine = 0;
    int m_batchCreated = 0;
    int m_batchUpdated = 0;
    int m_created = 0;
    int m_updated = 0;
    QList<BadNumber> m_badNumbers;
    QList<BadAccount> m_badAccounts;
    int m_refusedRows = 0;
    QString m_lastError;
};
