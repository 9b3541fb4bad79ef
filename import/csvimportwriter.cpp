#include "import/csvimportwriter.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/numberreader.h"
#include "core/schema.h"
#include "core/statics.h"
#include "core/transaction.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>

namespace {

// Category ids are kept as text, but they are numbers all the same.
const QStringList kIdTextColumns
    = { QStringLiteral("PrimaryCategory"), QStringLiteral("SecondaryCategory"),
        QStringLiteral("StoreCategoryID"), QStringLiteral("StoreCategory2ID") };
// Counts of pieces and days: never negative.
const QStringList kCountColumns
    = { QStringLiteral("Quantity"),       QStringLiteral("LotSize"),
        QStringLiteral("SoldCount"),      QStringLiteral("BidCount"),
        QStringLiteral("WatchCount"),     QStringLiteral("QuestionCount"),
        QStringLiteral("DispatchTimeMax") };
// Never taken from the file: the marketplace's item number (it may still be the key) and
// the article id (new articles get their own, updated ones keep theirs).
const QStringList kNeverWritten = { QStringLiteral("ItemID"), QStringLiteral("id") };
// The column that carries a new article's mark during the run (see markOf()): unused by
// articles that were never listed, never taken from the file.
const QString kMarkColumn = QStringLiteral("RefreshHash");
constexpr int kMarkTarget = -2;
// Times an insert whose answer was lost is written again when it was not stored.
constexpr int kInsertAttempts = 3;

bool isPlainName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return plain.match(name).hasMatch();
}

QString quotedName(const QString &name)
{
    return QLatin1Char('`') + name + QLatin1Char('`');
}

QString placeholders(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += i == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
    return text;
}

} // namespace

CsvImportWriter::CsvImportWriter(Database &db, const Settings &settings)
    : m_db(db)
    , m_batches(!db.isMySQL)
{
    const Schema::Table *articles = Schema::table(QStringLiteral("articles"));
    const auto kindOf = [articles](const QString &field) {
        if (kIdTextColumns.contains(field))
            return Kind::Whole;
        if (kCountColumns.contains(field))
            return Kind::Count;
        for (const Schema::Column &column : articles->columns) {
            if (column.name == field) {
                if (column.type == Schema::Type::Integer)
                    return Kind::Whole;
                if (column.type == Schema::Type::Real)
                    return Kind::Real;
                break;
            }
        }
        return Kind::Text;
    };

    // Each field once, from the last file column mapped to it.
    QVector<Target> fields;
    for (const MappedColumn &mapped : settings.mapping) {
        if (!isPlainName(mapped.field)) {
            qCWarning(lcApp).noquote() << "CSV import: column" << mapped.field << "left out";
            continue;
        }
        if (m_keyIndex < 0 && mapped.field == settings.keyField && settings.mode != InsertAll)
            m_keyIndex = mapped.column;
        if (kNeverWritten.contains(mapped.field))
            continue;
        // The account is checked as the number of an account of the store (acceptRow).
        const Kind kind
            = mapped.field == QLatin1String("Account") ? Kind::Text : kindOf(mapped.field);
        Target target { mapped.field, mapped.column, QString(), kind };
        auto same = std::find_if(fields.begin(), fields.end(),
                                 [&mapped](const Target &t) { return t.field == mapped.field; });
        if (same != fields.end())
            *same = target;
        else
            fields.append(target);
    }
    m_update = fields;
    // New articles go to the target folder, and to the chosen account when there is one.
    for (const Target &field : qAsConst(fields)) {
        if (field.field != QLatin1String("Folder")
            && !(field.field == QLatin1String("Account") && !settings.account.isEmpty()))
            m_insert.append(field);
    }
    m_insert.append({ QStringLiteral("Folder"), -1, QString::number(settings.folder), Kind::Text });
    if (!settings.account.isEmpty())
        m_insert.append({ QStringLiteral("Account"), -1, settings.account, Kind::Text });
    if (db.isMySQL) {
        m_mark = QStringLiteral("i%1-").arg(QRandomGenerator::global()->generate(), 8, 16,
                                            QLatin1Char('0'));
        m_insert.append({ kMarkColumn, kMarkTarget, QString(), Kind::Text });
    }
    if (m_keyIndex >= 0) {
        m_keyField = settings.keyField;
        m_selectIds = QStringLiteral("SELECT id FROM articles WHERE ") + quotedName(m_keyField)
            + QStringLiteral(" = ?");
    }
    m_values.reserve(qMax(m_insert.size(), m_update.size() + 1));

    // The accounts a row may name.
    for (const Target &field : qAsConst(fields)) {
        if (field.field == QLatin1String("Account"))
            m_accountTarget = field.column;
    }
    if (m_accountTarget >= 0) {
        QSqlQuery query;
        if (m_db.execBound(QStringLiteral("SELECT id FROM accounts"), {}, query)) {
            while (query.next())
                m_accountIds.insert(query.value(0).toLongLong());
            query.finish();
        } else {
            m_accountsUnread = true;
            m_lastError = m_db.lastErrorText;
        }
    }
}

CsvImportWriter::~CsvImportWriter() = default;

QString CsvImportWriter::markOf(int line) const
{
    return m_mark + QString::number(line);
}

void CsvImportWriter::finish()
{
    if (m_mark.isEmpty())
        return;
    QSqlQuery query;
    m_db.execBound(QStringLiteral("UPDATE articles SET ") + kMarkColumn
                       + QStringLiteral(" = '' WHERE ") + kMarkColumn + QStringLiteral(" LIKE ?"),
                   { m_mark + QLatin1Char('%') }, query, Database::Repeat::Safe);
}

void CsvImportWriter::setRow(const QStringList &row, int line)
{
    m_row = &row;
    m_line = line;
    m_bound = 0;
}

bool CsvImportWriter::acceptRow(bool insert)
{
    const QVector<Target> &targets = insert ? m_insert : m_update;
    const int badBefore = m_badNumbers.size();
    bindRow(targets, m_kept);
    m_bound = insert ? 'i' : 'u';
    bool taken = m_badNumbers.size() == badBefore;
    for (int i = 0; i < targets.size(); ++i) {
        const Target &target = targets.at(i);
        if (target.field != QLatin1String("Account") || target.column < 0)
            continue;
        if (m_accountsUnread)
            return false;
        const QString text = m_row->at(target.column);
        bool number = false;
        const qint64 id = text.trimmed().toLongLong(&number);
        // 0 is what the program itself stores (and exports) for an article of no account:
        // its own file imports again. Any other number must name an account of the store.
        const bool noAccount = number && id == 0 && text.trimmed() == QLatin1String("0");
        if (!noAccount && (!number || !m_accountIds.contains(id))) {
            m_badAccounts.append({ m_line, text });
            taken = false;
        } else {
            // Values are bound for the targets kept only.
            m_values[int(m_kept.left(i).count('1'))] = QString::number(id);
        }
    }
    if (!taken)
        ++m_refusedRows;
    return taken;
}

QString CsvImportWriter::keyValue() const
{
    return m_keyIndex >= 0 && m_keyIndex < m_row->size() ? m_row->at(m_keyIndex) : QString();
}

QList<int> CsvImportWriter::matchingIds()
{
    QList<int> ids;
    const QString key = keyValue();
    if (m_selectIds.isEmpty() || key.trimmed().isEmpty())
        return ids;
    QSqlQuery query;
    if (!m_db.execBound(m_selectIds, { key }, query)) {
        m_lastError = m_db.lastErrorText;
        return ids;
    }
    while (query.next())
        ids << query.value(0).toInt();
    // A statement left open would keep this connection's view of the file from moving on.
    query.finish();
    return ids;
}

void CsvImportWriter::bindRow(const QVector<Target> &targets, QByteArray &kept)
{
    m_values.clear();
    kept.fill('1', targets.size());
    for (int i = 0; i < targets.size(); ++i) {
        const Target &target = targets.at(i);
        if (target.column == kMarkTarget) {
            m_values.append(markOf(m_line));
            continue;
        }
        if (target.column < 0) {
            m_values.append(target.constant);
            continue;
        }
        const QString &text = m_row->at(target.column);
        if (target.kind == Kind::Text) {
            m_values.append(text);
            continue;
        }
        QString number;
        NumberReader::Refusal why = NumberReader::Refusal::None;
        const auto marks = m_marks.constFind(target.column);
        if (readNumber(text, target.kind,
                       marks == m_marks.cend() ? NumberReader::Marks::Unknown : marks->marks(),
                       m_fileMarks.options(), &number, &why)) {
            m_values.append(number);
            continue;
        }
        // Left out: the column keeps its default (new article) or its value (update).
        if (!text.trimmed().isEmpty())
            m_badNumbers.append({ m_line, target.field, text, why });
        kept[i] = '0';
    }
}

void CsvImportWriter::learn(const QStringList &row)
{
    // Every file column the run takes is among the update's targets.
    for (const Target &target : qAsConst(m_update)) {
        if (target.kind != Kind::Text && target.column >= 0 && target.column < row.size()) {
            m_marks[target.column].add(row.at(target.column));
            m_fileMarks.add(row.at(target.column));
        }
    }
}

bool CsvImportWriter::readNumber(const QString &text, Kind kind, NumberReader::Marks marks,
                                 NumberReader::Options fileOptions, QString *number,
                                 NumberReader::Refusal *why)
{
    const bool whole = kind != Kind::Real;
    NumberReader::Options options = NumberReader::Exponent | fileOptions;
    if (kind == Kind::Real)
        options |= NumberReader::Price;
    else
        options |= NumberReader::Whole;
    if (kind == Kind::Count)
        options |= NumberReader::NotNegative;
    double value = 0;
    if (!NumberReader::read(text, &value, options, marks, why))
        return false;
    // A whole number is read whole and within what a double holds exactly: as the
    // database's integers hold it.
    *number = whole ? QString::number(qint64(value))
                    : QString::number(value, 'g', QLocale::FloatingPointShortest);
    return true;
}

const QString &CsvImportWriter::statement(const QVector<Target> &targets, bool insert,
                                          const QByteArray &kept)
{
    QByteArray key = kept;
    key.prepend(insert ? 'i' : 'u');
    auto known = m_statements.find(key);
    if (known != m_statements.end())
        return known.value();
    QStringList names;
    for (int i = 0; i < targets.size(); ++i) {
        if (kept.at(i) == '1')
            names << quotedName(targets.at(i).field);
    }
    QString sql;
    if (insert) {
        sql = QStringLiteral("INSERT INTO articles (") + names.join(QStringLiteral(", "))
            + QStringLiteral(") VALUES (") + placeholders(names.size()) + QLatin1Char(')');
    } else if (!names.isEmpty()) {
        sql = QStringLiteral("UPDATE articles SET ") + names.join(QStringLiteral(" = ?, "))
            + QStringLiteral(" = ? WHERE ") + quotedName(m_keyField) + QStringLiteral(" = ?");
    }
    return m_statements.insert(key, sql).value();
}

int CsvImportWriter::insert()
{
    if (m_bound != 'i' && !acceptRow(true))
        return 0;
    const QString &sql = statement(m_insert, true, m_kept);
    for (int attempt = 1;; ++attempt) {
        QSqlQuery query;
        bool stored;
        {
            // A row the database refuses is left out alone, the rows before it in the batch
            // stay: the caller asks the seller whether to go on.
            const Database::FailureTolerated rowAlone(m_db);
            stored = m_db.execBound(sql, m_values, query);
        }
        if (stored) {
            const int id = query.lastInsertId().toInt();
            if (id > 0)
                count(1, 0);
            return id;
        }
        m_lastError = m_db.lastErrorText;
        if (m_db.lastOutcome() != Database::Outcome::Unknown || m_mark.isEmpty())
            return 0;
        // The answer was lost: the row's mark tells whether the server stored it.
        const QString unknown
            = QCoreApplication::translate("CsvImportWriter",
                                          "Ob die Zeile gespeichert wurde, ist nicht bekannt: %1")
                  .arg(m_lastError);
        QSqlQuery found;
        if (!m_db.execBound(QStringLiteral("SELECT id FROM articles WHERE ") + kMarkColumn
                                + QStringLiteral(" = ?"),
                            { markOf(m_line) }, found)) {
            m_lastError = unknown;
            return 0;
        }
        const int id = found.next() ? found.value(0).toInt() : 0;
        found.finish();
        if (id > 0) {
            qCInfo(lcDb).noquote()
                << "CSV import: the row of line" << m_line << "was stored, its answer lost";
            count(1, 0);
            return id;
        }
        if (attempt == kInsertAttempts) {
            m_lastError = unknown;
            return 0;
        }
    }
}

bool CsvImportWriter::update(const QList<int> &ids)
{
    if (m_bound != 'u' && !acceptRow(false))
        return false;
    const QString &sql = statement(m_update, false, m_kept);
    // Nothing to write but pictures, perhaps.
    if (!sql.isEmpty()) {
        m_values.append(keyValue());
        QSqlQuery query;
        // Setting the same values twice changes nothing: sent again after a lost answer. A
        // refused row is left out alone (see insert()).
        const Database::FailureTolerated rowAlone(m_db);
        if (!m_db.execBound(sql, m_values, query, Database::Repeat::Safe)) {
            m_lastError = m_db.lastErrorText;
            return false;
        }
    }
    count(0, ids.size());
    return true;
}

void CsvImportWriter::count(int created, int updated)
{
    if (m_batch) {
        m_batchCreated += created;
        m_batchUpdated += updated;
        ++m_batchRows;
    } else {
        m_created += created;
        m_updated += updated;
    }
}

void CsvImportWriter::begin(int line)
{
    if (!m_batches || m_batch)
        return;
    // The write lock is taken at the start, so that nothing read in the batch goes stale
    // before its first write.
    m_batch = std::make_unique<Transaction>(m_db);
    if (!m_batch->isOpen())
        m_batch.reset();
    m_batchLine = line;
    m_batchRows = 0;
    m_batchCreated = 0;
    m_batchUpdated = 0;
}

bool CsvImportWriter::commit()
{
    if (!m_batch)
        return true;
    const std::unique_ptr<Transaction> batch = std::move(m_batch);
    m_batchRows = 0;
    if (batch->commit()) {
        m_created += m_batchCreated;
        m_updated += m_batchUpdated;
        return true;
    }
    m_lastError = m_db.lastErrorText;
    qCWarning(lcDb).noquote() << "CSV import: the rows from line" << m_batchLine
                              << "on are not kept:" << m_lastError;
    return false;
}
