#include "import/rovive2import.h"

#include "core/clock.h"
#include "core/descriptionlimit.h"
#include "core/foldertree.h"
#include "core/logging.h"
#include "core/numberreader.h"
#include "core/schema.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/xmlattributescan.h"
#include "import/pictureimport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTextCodec>
#include <QTextDecoder>
#include <QXmlStreamReader>

#include <atomic>
#include <functional>
#include <memory>

namespace {

struct Mapping
{
    const char *tag;
    const char *column;
};

// The item's plain fields, taken as they are (number columns are read as numbers at the
// end); the ones with rules of their own are handled in articleRow().
const Mapping kFields[] = {
    { "BuyItNowPrice", "BuyItNowPrice" },
    { "Country", "Country" },
    { "Currency", "Currency" },
    { "Description", "Description" },
    { "ListingType", "ListingType" },
    { "Location", "Location" },
    { "LotSize", "LotSize" },
    { "PayPalEmailAddress", "PayPalEmailAddress" },
    { "GalleryType", "GalleryType" },
    { "PhotoDisplay", "PhotoDisplay" },
    { "PostalCode", "PostalCode" },
    { "PrimaryCategory", "PrimaryCategory" },
    { "Quantity", "Quantity" },
    { "ReservePrice", "ReservePrice" },
    { "SecondaryCategory", "SecondaryCategory" },
    { "SiteID", "Site" },
    { "StartPrice", "StartPrice" },
    { "StoreCategory1ID", "StoreCategoryID" },
    { "StoreCategory2ID", "StoreCategory2ID" },
    { "SubTitle", "SubTitle" },
    { "Title", "Title" },
    { "paymentdesc", "PaymentInstructions" },
    { "BestOffer", "BestOfferEnabled" },
    { "MinimumBestOfferPrice", "MinimumBestOfferPrice" },
    { "ApplicationData", "ApplicationData" },
    { "Condition", "ConditionID" },
    { "PrimaryCategoryDesc", "PrimaryCategoryText" },
    { "SecondaryCategoryDesc", "SecondaryCategoryText" },
};

const char *const kPaymentFlags[] = {
    "MOCC",      "AmEx",           "CCAccepted",        "PersonalCheck",
    "COD",       "VisaMC",         "PaisaPayAccepted",  "PayPal",
    "Discover",  "CashOnPickup",   "MoneyXferAccepted", "OtherOnlinePayments",
    "Escrow",    "PrePayDelivery", "CODPrePayDelivery", "PostalTransfer",
    "LoanCheck", "CashInPerson",
};

constexpr int kMaxPictures = 21;

// ---- Reading the export as Rovive 2 wrote it ----

constexpr qint64 kPieceBytes = 64 * 1024;
// Longer than every token the repair looks at: "<![CDATA[" and references like "&#x1F600;".
constexpr int kLookahead = 16;
constexpr int kMaxReferenceLength = 12;

bool isXmlChar(uint c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
        || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QString tooLongReason()
{
    return Rovive2Import::tr("ein Element ist länger als %1 MB, so große Einträge enthält "
                             "keine Exportdatei")
        .arg(Rovive2Import::kMaxElementChars / (1024 * 1024));
}

struct Reference
{
    int length = 0;      // 0: the "&" begins no reference
    bool allowed = true; // false for a character reference to a character XML forbids
};

// The entity or character reference that begins at `at` ("&amp;", "&#228;", "&#xE4;").
Reference referenceAt(const QString &text, int at)
{
    const QStringRef rest = text.midRef(at, kMaxReferenceLength);
    for (const char *entity : { "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" })
        if (rest.startsWith(QLatin1String(entity)))
            return { int(qstrlen(entity)), true };
    if (!rest.startsWith(QLatin1String("&#")))
        return {};
    const bool hex = rest.startsWith(QLatin1String("&#x"));
    const int digits = hex ? 3 : 2;
    const auto isDigit = [hex](QChar c) {
        const char latin = c.toLatin1();
        return (latin >= '0' && latin <= '9')
            || (hex && ((latin >= 'a' && latin <= 'f') || (latin >= 'A' && latin <= 'F')));
    };
    int end = digits;
    while (end < rest.size() && isDigit(rest.at(end)))
        ++end;
    if (end == digits || end >= rest.size() || rest.at(end) != QLatin1Char(';'))
        return {};
    bool ok = false;
    const uint code = rest.mid(digits, end - digits).toUInt(&ok, hex ? 16 : 10);
    if (!ok)
        return {};
    return { end + 1, isXmlChar(code) };
}

// The codec of an export, from the first bytes of the file: a byte order mark, UTF-16
// without one, or the declaration's encoding; UTF-8 when none is named. Null when the named
// encoding is unknown (`declared` then holds the name).
QTextCodec *exportCodec(const QByteArray &head, QString *declared)
{
    if (QTextCodec *marked = QTextCodec::codecForUtfText(head, nullptr))
        return marked;
    if (head.startsWith(QByteArray("<\0?\0", 4)))
        return QTextCodec::codecForName("UTF-16LE");
    if (head.startsWith(QByteArray("\0<\0?", 4)))
        return QTextCodec::codecForName("UTF-16BE");
    static const QRegularExpression declaration(QStringLiteral(
        R"(^<\?xml\s[^>]*?\bencoding\s*=\s*["']([^"']*)["'])"));
    const QRegularExpressionMatch match
        = declaration.match(QString::fromLatin1(head.left(1024)));
    if (!match.hasMatch())
        return QTextCodec::codecForMib(106);
    *declared = match.captured(1);
    return QTextCodec::codecForName(declared->toLatin1());
}

// The export file as text, piece by piece.
//
// Rovive 2 wrote what it put between its tags without escaping it: a category "Haus &
// Garten" stands there with a bare "&", and control characters pasted into a description
// end up in its CDATA section. Either stops an XML reader, so both are mended on the way:
// a "&" that begins no entity or character reference becomes "&amp;", and characters that
// XML does not allow are dropped. Line numbers stay as they are in the file.
//
// What cannot be mended ends the text with a failure naming its line: bytes that are no
// text in the file's encoding, and character data longer than any export holds.
class ExportText
{
public:
    explicit ExportText(const QString &path)
        : m_file(path)
    { }

    bool open() { return m_file.open(QIODevice::ReadOnly); }
    bool atEnd() const { return m_end; }
    bool failed() const { return !m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    int failureLine() const { return m_failureLine; }
    int strayAmpersands() const { return m_stray; }
    int droppedCharacters() const { return m_dropped; }

    // The next piece of mended text; empty at the end, after a failure, or when the piece
    // read so far is too short to be mended yet.
    QString read()
    {
        if (m_end)
            return QString();
        const QByteArray bytes = m_file.read(kPieceBytes);
        if (bytes.isEmpty() && !m_file.atEnd()) {
            fail(m_file.errorString(), m_decodedLines);
            return QString();
        }
        if (!m_decoder) {
            QString declared;
            QTextCodec *codec = exportCodec(bytes, &declared);
            if (!codec) {
                fail(Rovive2Import::tr("die Zeichenkodierung %1 ist unbekannt").arg(declared), 1);
                return QString();
            }
            m_decoder.reset(codec->makeDecoder());
        }
        const QString text = m_decoder->toUnicode(bytes);
        if (m_decoder->hasFailure()) {
            const int at = qMax(0, text.indexOf(QChar(QChar::ReplacementCharacter)));
            fail(Rovive2Import::tr("die Datei enthält Bytes, die in ihrer Zeichenkodierung "
                                   "keine Zeichen sind"),
                 m_decodedLines + text.leftRef(at).count(QLatin1Char('\n')));
            return QString();
        }
        m_decodedLines += text.count(QLatin1Char('\n'));
        m_end = m_file.atEnd();
        return mend(text, m_end);
    }

private:
    enum class Mode { Markup, CData, Comment, Instruction };

    void fail(const QString &reason, int line)
    {
        m_failure = reason;
        m_failureLine = line;
        m_end = true;
    }

    // Mends `text` up to a few characters before its end (unless it is the last piece):
    // they are kept for the next piece, which may finish a token they begin.
    QString mend(const QString &text, bool last)
    {
        const QString in = m_carry + text;
        const int end = last ? in.size() : qMax(0, in.size() - kLookahead);
        QString out;
        out.reserve(in.size());
        int i = 0;
        while (i < end) {
            const QChar c = in.at(i);
            if (m_mode != Mode::Markup) {
                const QLatin1String close(m_mode == Mode::CData     ? "]]>"
                                              : m_mode == Mode::Comment ? "-->"
                                                                        : "?>");
                if (c == QLatin1Char(close.at(0)) && in.midRef(i).startsWith(close)) {
                    out += close;
                    i += close.size();
                    m_mode = Mode::Markup;
                    continue;
                }
            } else if (c == QLatin1Char('<')) {
                const QStringRef rest = in.midRef(i);
                if (rest.startsWith(QLatin1String("<![CDATA["))) {
                    m_mode = Mode::CData;
                    out += QLatin1String("<![CDATA[");
                    i += 9;
                    continue;
                }
                // A tag, comment or declaration ends the character data before it.
                m_run = 0;
                m_runLine = m_line;
                if (rest.startsWith(QLatin1String("<!--")))
                    m_mode = Mode::Comment;
                else if (rest.startsWith(QLatin1String("<?")))
                    m_mode = Mode::Instruction;
            } else if (c == QLatin1Char('&')) {
                const Reference reference = referenceAt(in, i);
                if (reference.length == 0) {
                    out += QLatin1String("&amp;");
                    ++m_stray;
                    ++i;
                } else {
                    if (reference.allowed)
                        out += in.midRef(i, reference.length);
                    else
                        ++m_dropped;
                    i += reference.length;
                }
                m_run += 1;
                continue;
            }

            if (c == QLatin1Char('\n'))
                ++m_line;
            if (++m_run > Rovive2Import::kMaxElementChars) {
                fail(tooLongReason(), m_runLine);
                return QString();
            }
            if (c.isHighSurrogate() && i + 1 < in.size() && in.at(i + 1).isLowSurrogate()) {
                out += c;
                out += in.at(i + 1);
                i += 2;
                continue;
            }
            if (!c.isSurrogate() && isXmlChar(c.unicode()))
                out += c;
            else
                ++m_dropped;
            ++i;
        }
        m_carry = in.mid(i);
        return out;
    }

    QFile m_file;
    std::unique_ptr<QTextDecoder> m_decoder;
    QString m_carry;
    Mode m_mode = Mode::Markup;
    QString m_failure;
    int m_failureLine = 0;
    int m_decodedLines = 1; // the line at the start of the next piece to decode
    int m_line = 1;         // the line of the next character to mend
    qint64 m_run = 0;       // characters since the last tag
    int m_runLine = 1;
    int m_stray = 0;
    int m_dropped = 0;
    bool m_end = false;
};

// The id of the first row `sql` yields; 0 when it yields none.
Read<int> firstId(Database *db, const QString &sql)
{
    const Read<SqlRows> rows = db->select(sql);
    if (!rows.ok())
        return Read<int>::failed(rows.error());
    return rows->isEmpty() ? 0 : rows->first().value(QStringLiteral("id")).toInt();
}

// The first account whose name equals `name` ignoring letter case ("SAMMLERSTUBE" is the
// account "Sammlerstube"); 0 if none. Compared here rather than with LIKE, so that "_" and
// "%" in a name stand only for themselves, on SQLite and MySQL alike.
Read<int> accountId(Database *db, const QString &name)
{
    const Read<SqlRows> rows
        = db->select(QStringLiteral("SELECT id, accountname FROM accounts ORDER BY id"));
    if (!rows.ok())
        return Read<int>::failed(rows.error());
    for (const auto &row : *rows)
        if (QString::compare(row.value(QStringLiteral("accountname")).toString(), name,
                             Qt::CaseInsensitive)
            == 0)
            return row.value(QStringLiteral("id")).toInt();
    return 0;
}

Read<int> folderByExternalId(Database *db, const QString &externalId)
{
    return firstId(db,
                   QStringLiteral("SELECT id FROM folders WHERE externalid='")
                       + Database::escapeString(externalId) + QStringLiteral("' ORDER BY id"));
}

// After a commit whose answer was lost: the newest row of `table` that holds `row`'s values
// (bound as the insert bound them), 0 when there is none.
Read<int> storedRow(Database &db, const ArticleRow &row, const QString &table)
{
    QStringList conditions;
    for (auto it = row.cbegin(); it != row.cend(); ++it)
        conditions << QLatin1Char('`') + it.key() + QLatin1String("` = :") + it.key();
    QSqlQuery query;
    if (!db.runPrepared(QLatin1String("SELECT id FROM ") + table + QLatin1String(" WHERE ")
                            + conditions.join(QLatin1String(" AND "))
                            + QLatin1String(" ORDER BY id DESC"),
                        row, query))
        return Read<int>::failed(db.lastErrorText);
    const int id = query.next() ? query.value(0).toInt() : 0;
    const bool complete = id > 0 || db.rowsComplete(query);
    query.finish();
    if (!complete)
        return Read<int>::failed(db.lastErrorText);
    return id;
}

// Counts of pieces and days: never negative.
bool isCount(const QString &column)
{
    return column == QLatin1String("Quantity") || column == QLatin1String("LotSize")
        || column == QLatin1String("DispatchTimeMax");
}

// Calls `take` with each number column of `row` whose value is text, with the column's type.
template<typename Take> void forEachNumberText(const ArticleRow &row, Take take)
{
    const Schema::Table *table = Schema::table(QStringLiteral("articles"));
    if (!table)
        return;
    for (const Schema::Column &column : table->columns) {
        if ((column.type != Schema::Type::Integer && column.type != Schema::Type::Real)
            || !row.contains(column.name))
            continue;
        const QVariant value = row.value(column.name);
        if (value.type() == QVariant::Int)
            continue;
        take(column, value.toString().trimmed());
    }
}

// Number columns take numbers only: an empty value leaves the column at its default, a
// value that is no number, or not one the column takes, too, and is reported.
void keepNumbersOnly(ArticleRow &row, const QString &title,
                     QList<Rovive2Import::RejectedValue> *rejected,
                     const Rovive2Import::NumberColumns *columns)
{
    forEachNumberText(row, [&](const Schema::Column &column, const QString &text) {
        NumberReader::Options options = NumberReader::Exponent;
        if (column.type == Schema::Type::Real)
            options |= NumberReader::Price;
        else
            options |= NumberReader::Whole;
        if (isCount(column.name))
            options |= NumberReader::NotNegative;
        // Rovive 2 wrote numbers with either mark; read as every import reads them.
        const NumberReader::Marks marks
            = columns ? columns->value(column.name).marks() : NumberReader::Marks::Unknown;
        NumberReader::Refusal why = NumberReader::Refusal::None;
        const QString number = NumberReader::plain(text, options, marks, &why);
        if (!number.isEmpty()) {
            row.insert(column.name, number);
            return;
        }
        row.remove(column.name);
        if (!text.isEmpty() && rejected)
            *rejected << Rovive2Import::RejectedValue { title, column.name, text, why };
    });
}

// A digest of all fields of an item, independent of their order in the file.
QString itemDigest(const Rovive2Import::Fields &item)
{
    QStringList tags = item.keys();
    tags.sort();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString &tag : qAsConst(tags)) {
        hash.addData(tag.toUtf8());
        hash.addData("\x1f", 1);
        hash.addData(item.value(tag).toUtf8());
        hash.addData("\x1e", 1);
    }
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

Rovive2Import::Rovive2Import(QString path)
    : m_path(std::move(path))
{ }

QString Rovive2Import::itemKey(const Fields &item, int occurrence)
{
    return itemDigest(item) + QLatin1Char(':') + QString::number(occurrence);
}

bool Rovive2Import::stopping()
{
    if (!m_stopped && m_cancelCheck && m_cancelCheck())
        m_stopped = true;
    return m_stopped;
}

bool Rovive2Import::stoppedByLock(const Database &db, quint64 failedBefore)
{
    if (db.failedStatements() == failedBefore || !db.lastFailureLockConflict())
        return false;
    if (m_lockError.isEmpty()) {
        m_lockError = db.lastErrorText;
        qCWarning(lcApp).noquote() << "Rovive import of" << m_path
                                   << "stopped, the database is held by another connection:"
                                   << m_lockError;
    }
    m_stopped = true;
    return true;
}

void Rovive2Import::removeDownloads(Database &db, const QStringList &downloads)
{
    for (const QString &file : downloads) {
        if (!QFileInfo::exists(file))
            continue;
        // A row may name the file itself (a picture taken by its plain name): then it stays,
        // as it does when that can't be read.
        const Read<int> named = firstId(
            &db,
            QStringLiteral("SELECT id FROM articles_images WHERE image IN ('%1', '%2')")
                .arg(Database::escapeString(QFileInfo(file).fileName()),
                     Database::escapeString(file)));
        if (named.ok() && *named == 0)
            QFile::remove(file);
    }
}

Read<int> Rovive2Import::importedArticle(Database &db, const QString &key)
{
    // Only while its article is there: one the seller deleted since is imported again.
    return firstId(&db,
                   QStringLiteral("SELECT a.id FROM imported_items i, articles a WHERE "
                                  "i.itemkey='")
                       + Database::escapeString(key)
                       + QStringLiteral("' AND a.id=i.article_id ORDER BY a.id"));
}

void Rovive2Import::learnNumbers(const Fields &item, NumberColumns *columns)
{
    // Nothing is looked up without a connection: the row is always there.
    const ArticleRow row = articleRow(item, nullptr, nullptr, nullptr, false).value();
    forEachNumberText(row, [columns](const Schema::Column &column, const QString &text) {
        (*columns)[column.name].add(text);
    });
}

Read<ArticleRow> Rovive2Import::articleRow(const Fields &item, Database *db,
                                           QList<RejectedValue> *rejected,
                                           const NumberColumns *columns)
{
    return articleRow(item, db, rejected, columns, true);
}

Read<ArticleRow> Rovive2Import::articleRow(const Fields &item, Database *db,
                                           QList<RejectedValue> *rejected,
                                           const NumberColumns *columns, bool readNumbers)
{
    ArticleRow row;
    const auto value = [&item](const char *tag) {
        return item.value(QLatin1String(tag));
    };

    QString specifics = value("AttrXML");
    specifics.remove(QStringLiteral("<ItemSpecifics>")).remove(QStringLiteral("</ItemSpecifics>"));
    row.insert(QStringLiteral("ItemSpecifics"), specifics);
    for (const Mapping &field : kFields) {
        const QString text = value(field.tag);
        row.insert(QLatin1String(field.column), text);
    }
    // A shipping service with its cost and the cost of each further item.
    const auto shipping = [&row, &item](const QString &tag, const QString &column) {
        row.insert(column, item.value(tag));
        row.insert(column + QStringLiteral("_Cost"), item.value(tag + QStringLiteral("kosten")));
        row.insert(column + QStringLiteral("_Cost_Add"),
                   item.value(tag + QStringLiteral("kostenWeitere")));
    };
    for (int n = 1; n <= 3; ++n) {
        shipping(QStringLiteral("ship%1").arg(n), QStringLiteral("ShippingService_%1").arg(n));
        const QString abroad = QStringLiteral("shipausland%1").arg(n);
        shipping(abroad, QStringLiteral("ShippingServiceInt_%1").arg(n));
        row.insert(QStringLiteral("ShippingServiceInt_%1_Loc").arg(n),
                   item.value(abroad + QStringLiteral("locs")));
    }

    // Duration: days, or "0" for an unlimited listing.
    const QString duration = value("ListingDuration").trimmed();
    bool days = false;
    duration.toInt(&days);
    if (duration == QLatin1String("0"))
        row.insert(QStringLiteral("ListingDuration"), QStringLiteral("GTC"));
    else if (days || duration.isEmpty())
        row.insert(QStringLiteral("ListingDuration"),
                   duration.isEmpty() ? QString() : QStringLiteral("Days_") + duration);
    else if (rejected)
        *rejected << RejectedValue { value("Title"), QStringLiteral("ListingDuration"), duration };

    // Folder, and the marketplace item id only for articles that are listed or on their way.
    const QString folder = value("folder");
    int folderId = SpecialFolderId::Drafts;
    if (!folder.isEmpty() && db) {
        // A failed look-up is no folder that is missing: nothing of the item is written.
        const Read<int> found = folderByExternalId(db, folder);
        if (!found.ok())
            return Read<ArticleRow>::failed(found.error());
        if (*found != 0)
            folderId = *found;
    }
    if (folder == QLatin1String("WAITFORLIST")) {
        folderId = SpecialFolderId::Outbox;
        row.insert(QStringLiteral("FolderOld"), int(SpecialFolderId::Drafts));
    } else if (folder == QLatin1String("ActiveList")) {
        folderId = SpecialFolderId::Active;
    }
    row.insert(QStringLiteral("Folder"), folderId);
    const bool keepsItemId = folderId <= 0 && folderId != SpecialFolderId::Drafts;
    row.insert(QStringLiteral("ItemID"), keepsItemId ? value("ItemID") : QString());

    const QString user = value("username");
    if (!user.isEmpty() && db) {
        const Read<int> account = accountId(db, user);
        if (!account.ok())
            return Read<ArticleRow>::failed(account.error());
        if (*account > 0)
            row.insert(QStringLiteral("Account"), *account);
    }

    QStringList payments;
    for (const char *flag : kPaymentFlags)
        if (value(flag) == QLatin1String("1"))
            payments << QLatin1String(flag);
    row.insert(QStringLiteral("PaymentMethods"), payments.join(QLatin1Char('|')));

    const QString dispatch = value("DispatchTimeMax");
    row.insert(QStringLiteral("DispatchTimeMax"), dispatch.isEmpty() ? QVariant(0) : dispatch);
    const QString vat = value("VATPercent");
    row.insert(QStringLiteral("VAT_VATPercent"), vat == QLatin1String("-1") ? QVariant(0) : vat);

    if (value("R14") == QLatin1String("1"))
        row.insert(QStringLiteral("RP_ReturnsAcceptedOption"), QStringLiteral("ReturnsAccepted"));
    row.insert(QStringLiteral("RP_ShippingCostPaidByOption"),
               value("R14CostBy") == QLatin1String("Buyer") ? QStringLiteral("Buyer")
                                                            : QStringLiteral("Seller"));
    static const QHash<QString, QString> returnsWithin = {
        { QStringLiteral("14"), QStringLiteral("Days_14") },
        { QStringLiteral("30"), QStringLiteral("Days_30") },
        { QStringLiteral("31"), QStringLiteral("Months_1") },
        { QStringLiteral("60"), QStringLiteral("Days_60") },
    };
    const QString within = returnsWithin.value(value("R14Option"));
    if (!within.isEmpty())
        row.insert(QStringLiteral("RP_ReturnsWithinOption"), within);

    QString identifier = value("ExternalProductID");
    for (const char *kind : { "EAN", "ISBN", "UPC" }) {
        const QString marker = QLatin1String(kind) + QLatin1Char(':');
        if (identifier.contains(marker)) {
            identifier.remove(marker);
            row.insert(QLatin1String(kind), identifier);
        }
    }
    if (identifier.contains(QLatin1String("Nicht zutreffend")))
        for (const char *kind : { "EAN", "ISBN", "UPC" })
            row.insert(QLatin1String(kind), QStringLiteral("Nicht zutreffend"));

    if (readNumbers)
        keepNumbersOnly(row, value("Title"), rejected, columns);
    return row;
}

// A streaming XML reader over the mended export, fed as it reads. It walks nested elements
// without recursion and refuses elements nested deeper than any export nests them.
class Rovive2Import::Reader
{
public:
    explicit Reader(const QString &path)
        : m_text(path)
    { }

    bool open() { return m_text.open(); }
    const ExportText &text() const { return m_text; }
    QStringRef name() const { return m_xml.name(); }
    bool hasError() const { return m_xml.hasError(); }
    // Ends the reading with `reason` as its error.
    void refuse(const QString &reason) { m_xml.raiseError(reason); }
    int errorLine() const { return m_errorLine > 0 ? m_errorLine : int(m_xml.lineNumber()); }

    QString errorText() const
    {
        if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
            return tr("die Datei endet, bevor der Export vollständig ist");
        return m_xml.errorString();
    }

    // The next token; Invalid after an error.
    QXmlStreamReader::TokenType next()
    {
        // The reader parses a token whose end it has not seen again from its start each
        // time it gets more text; doubling what it gets keeps a long token from being
        // parsed over and over.
        qint64 wanted = kPieceBytes;
        for (;;) {
            const QXmlStreamReader::TokenType type = m_xml.readNext();
            if (type == QXmlStreamReader::Invalid
                && m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError
                && !m_text.atEnd()) {
                QString more;
                while (more.size() < wanted && !m_text.atEnd())
                    more += m_text.read();
                if (m_text.failed()) {
                    m_errorLine = m_text.failureLine();
                    m_xml.raiseError(m_text.failure());
                    return QXmlStreamReader::Invalid;
                }
                // The reader would take minutes over an element of very many attributes.
                if (!m_attributes.feed(more)) {
                    m_errorLine = m_attributes.line();
                    m_xml.raiseError(m_attributes.internalSubset()
                                         ? tr("die Datei bringt eine eigene DTD mit "
                                              "(<!DOCTYPE … [ … ]>), so etwas enthält keine "
                                              "Exportdatei")
                                         : tr("ein Element hat mehr als %1 Attribute, so viele "
                                              "hat keine Exportdatei")
                                               .arg(m_attributes.maxAttributes()));
                    return QXmlStreamReader::Invalid;
                }
                m_xml.addData(more);
                wanted *= 2;
                continue;
            }
            if (type == QXmlStreamReader::StartElement && ++m_depth > kMaxDepth) {
                m_xml.raiseError(tr("die Elemente sind tiefer als %1 Ebenen ineinander "
                                    "verschachtelt, so tief ist keine Exportdatei")
                                     .arg(kMaxDepth));
                return QXmlStreamReader::Invalid;
            }
            if (type == QXmlStreamReader::EndElement)
                --m_depth;
            return type;
        }
    }

    // Moves to the next child of the current element: true on its start tag, false on the
    // current element's end tag or an error.
    bool nextChild()
    {
        for (;;) {
            switch (next()) {
            case QXmlStreamReader::StartElement:
                return true;
            case QXmlStreamReader::EndElement:
            case QXmlStreamReader::EndDocument:
            case QXmlStreamReader::Invalid:
                return false;
            default:
                break;
            }
        }
    }

    // The text of the current element, with that of the elements inside it (CDATA,
    // entities and nested markup all read as text); the reader ends on its end tag.
    QString elementText()
    {
        QString text;
        for (int depth = 1; depth > 0;) {
            switch (next()) {
            case QXmlStreamReader::StartElement:
                ++depth;
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::Characters:
            case QXmlStreamReader::EntityReference:
                text += m_xml.text();
                if (text.size() > kMaxElementChars) {
                    m_xml.raiseError(tooLongReason());
                    return QString();
                }
                break;
            case QXmlStreamReader::Invalid:
                return QString();
            default:
                break;
            }
        }
        return text;
    }

    // The child elements of the current element as tag -> text.
    Fields fields()
    {
        Fields fields;
        while (nextChild()) {
            const QString tag = name().toString();
            const QString text = elementText();
            if (!fields.contains(tag))
                fields.insert(tag, text);
        }
        return fields;
    }

    // Calls `take` with the fields of every complete child element `tag` of the current
    // element; other children are passed over. Stops at the first error.
    void forEachChild(QLatin1String tag, const std::function<void(const Fields &)> &take)
    {
        while (nextChild()) {
            if (name() != tag) {
                elementText();
                continue;
            }
            const Fields child = fields();
            if (hasError())
                return;
            take(child);
        }
    }

private:
    ExportText m_text;
    QXmlStreamReader m_xml;
    XmlAttributeScan m_attributes;
    int m_depth = 0;
    int m_errorLine = 0;
};

void Rovive2Import::work()
{
    auto db = std::make_unique<Database>(true, QStringLiteral("ImportRovive2"));
    work(*db);
    db->close();
}

void Rovive2Import::work(Database &connection)
{
    Database *const db = &connection;
    m_stopped = false;
    m_lockError.clear();
    m_occurrences.clear();
    m_itemsKnown = 0;
    m_itemsInFile = 0;
    m_itemsTotal = 0;
    m_itemCounter = 0;
    m_failedPictures = 0;
    m_failedPictureNames.clear();
    m_folders = m_accounts = m_articles = Tally();
    m_storeError.clear();
    m_rejected.clear();
    m_tooLong.clear();
    m_numberColumns.clear();
    m_categoryLevels.clear();
    m_storedLevels.clear();
    QString title = tr("Import abgebrochen");
    QString text;
    bool ok = false;
    // The levels of the folders stored already: a category can be filed below one. Without
    // them the depth of the categories can't be checked: nothing is imported.
    FolderTree stored;
    const bool treeRead = stored.read(db);
    const Read<SqlRows> external = treeRead
        ? db->select(QStringLiteral("SELECT id, externalid FROM folders ORDER BY id"))
        : Read<SqlRows>::failed(db->lastErrorText);
    if (!external.ok()) {
        qCWarning(lcApp).noquote() << "Rovive import of" << m_path
                                   << "refused, the folders could not be read:" << external.error();
        text = tr("Die Ordner konnten nicht aus der Datenbank gelesen werden, es wurde nichts "
                  "importiert: %1")
                   .arg(external.error());
    } else {
        for (const ArticleRow &row : *external) {
            const QString id = row.value(QStringLiteral("externalid")).toString();
            if (!id.isEmpty() && !m_storedLevels.contains(id))
                m_storedLevels.insert(id,
                                      stored.shownLevel(row.value(QStringLiteral("id")).toInt()));
        }
    }

    if (external.ok()) {
        // The whole file is read before anything is written: an export that ends half-way,
        // or holds what no mending makes readable, is refused as a whole and never
        // imported in part (a second try would then duplicate what the first one wrote).
        Reader check(m_path);
        if (!check.open()) {
            text = tr("Die Datei %1 konnte nicht gelesen werden").arg(m_path);
        } else if (!readExport(check, nullptr)) {
            qCWarning(lcApp).noquote() << "Rovive import of" << m_path << "refused, line"
                                       << check.errorLine() << ":" << check.errorText();
            text = tr("Die Datei %1 ist ab Zeile %2 keine gültige Exportdatei (%3). Es wurde "
                      "nichts importiert.")
                       .arg(m_path)
                       .arg(check.errorLine())
                       .arg(check.errorText());
        } else if (m_stopped) {
            text = tr("Der Import wurde abgebrochen, bevor etwas gespeichert wurde. Es wurde "
                      "nichts importiert.");
        } else {
            ok = true;
            if (check.text().strayAmpersands() > 0 || check.text().droppedCharacters() > 0)
                qCInfo(lcApp).noquote()
                    << "Rovive import of" << m_path << ": read" << check.text().strayAmpersands()
                    << "bare \"&\" as text, dropped" << check.text().droppedCharacters()
                    << "characters that XML does not allow";
        }
    }
    if (ok) {
        Reader reader(m_path);
        if (reader.open() && readExport(reader, db)) {
            ok = outcome(&title, &text);
        } else {
            // Only a file changed while it was imported gets here.
            ok = false;
            qCWarning(lcApp).noquote() << "Rovive import of" << m_path << "stopped, line"
                                       << reader.errorLine() << ":" << reader.errorText();
            text = tr("Die Datei %1 wurde während des Imports verändert und ist ab Zeile %2 "
                      "nicht mehr lesbar (%3). Was bis dahin gelesen wurde, ist importiert.")
                       .arg(m_path)
                       .arg(reader.errorLine())
                       .arg(reader.errorText());
        }
    }
    // The notification comes last, so that where it is shown in the status panel the end
    // of the progress does not replace it.
    emit getStatus(tr("Importiere abgeschlossen"), 100, 100);
    report(*db, title, text, ok);
    emit finished();
}

namespace {

// "3 von 5 Artikeln", "1 von 1 Ordner": how many of a kind were not stored, of how many.
QString lostOf(int lost, int all, const QString &one, const QString &several)
{
    return Rovive2Import::tr("%1 von %2 %3").arg(lost).arg(all).arg(all == 1 ? one : several);
}

// The name under which the editor shows an article column, for the columns that take
// numbers.
QString fieldName(const QString &column)
{
    static const QHash<QString, QString> names = {
        { QStringLiteral("StartPrice"), Rovive2Import::tr("Preis") },
        { QStringLiteral("BuyItNowPrice"), Rovive2Import::tr("Sofort-Kaufen-Preis") },
        { QStringLiteral("ReservePrice"), Rovive2Import::tr("Mindestpreis") },
        { QStringLiteral("MinimumBestOfferPrice"),
          Rovive2Import::tr("Preisvorschläge ablehnen unter") },
        { QStringLiteral("BestOfferEnabled"), Rovive2Import::tr("Preisvorschläge") },
        { QStringLiteral("Quantity"), Rovive2Import::tr("Stückzahl") },
        { QStringLiteral("LotSize"), Rovive2Import::tr("Posten pro Artikel") },
        { QStringLiteral("VAT_VATPercent"), Rovive2Import::tr("MwSt") },
        { QStringLiteral("ListingDuration"), Rovive2Import::tr("Laufzeit") },
        { QStringLiteral("DispatchTimeMax"), Rovive2Import::tr("Bearbeitungszeit") },
        { QStringLiteral("ConditionID"), Rovive2Import::tr("Zustand") },
        { QStringLiteral("Site"), Rovive2Import::tr("Plattform") },
    };
    const auto known = names.constFind(column);
    if (known != names.constEnd())
        return known.value();
    // ShippingService_2_Cost, ShippingServiceInt_1_Cost_Add, ...
    static const QRegularExpression shipping(
        QStringLiteral("^ShippingService(Int)?_(\\d+)_Cost(_Add)?$"));
    const QRegularExpressionMatch match = shipping.match(column);
    if (!match.hasMatch())
        return column;
    const QString where
        = match.captured(1).isEmpty() ? Rovive2Import::tr("Inland") : Rovive2Import::tr("Ausland");
    return match.captured(3).isEmpty()
        ? Rovive2Import::tr("Versandkosten %1 %2").arg(where, match.captured(2))
        : Rovive2Import::tr("Versandkosten %1 %2 (weitere Artikel)").arg(where, match.captured(2));
}

QString shortened(const QString &text, int length)
{
    return text.size() > length ? text.left(length) + QStringLiteral("…") : text;
}

} // namespace

void Rovive2Import::count(Tally &tally, int id, const Database &db)
{
    if (id > 0) {
        ++tally.stored;
        return;
    }
    if (db.lastOutcome() == Database::Outcome::Unknown) {
        ++tally.unknown;
        return;
    }
    ++tally.lost;
    if (m_storeError.isEmpty())
        m_storeError = db.lastErrorText;
}

bool Rovive2Import::outcome(QString *title, QString *text) const
{
    QStringList lost;
    QStringList unknown;
    const auto tell = [](QStringList &parts, int count, const Tally &tally, const QString &one,
                         const QString &several) {
        if (count > 0)
            parts << lostOf(count, tally.all(), one, several);
    };
    tell(lost, m_articles.lost, m_articles, tr("Artikel"), tr("Artikeln"));
    tell(lost, m_folders.lost, m_folders, tr("Ordner"), tr("Ordnern"));
    tell(lost, m_accounts.lost, m_accounts, tr("Konto"), tr("Konten"));
    tell(unknown, m_articles.unknown, m_articles, tr("Artikel"), tr("Artikeln"));
    tell(unknown, m_folders.unknown, m_folders, tr("Ordner"), tr("Ordnern"));
    tell(unknown, m_accounts.unknown, m_accounts, tr("Konto"), tr("Konten"));
    const auto joined = [](const QStringList &parts) {
        return parts.size() == 1
            ? parts.first()
            : QStringList(parts.mid(0, parts.size() - 1)).join(QStringLiteral(", ")) + tr(" und ")
                + parts.last();
    };
    const int stored = m_articles.stored + m_folders.stored + m_accounts.stored;

    // The first sentence as the seller knows it, without a full stop when it stands alone.
    QString lead;
    QStringList more;
    if (lost.isEmpty() && unknown.isEmpty() && m_tooLong.isEmpty()) {
        *title = tr("Import abgeschlossen");
        lead = tr("Die Daten wurden importiert, bitte das Programm neu starten");
    } else {
        const int lostTotal = m_articles.lost + m_folders.lost + m_accounts.lost;
        const int unknownTotal = m_articles.unknown + m_folders.unknown + m_accounts.unknown;
        const QString why = m_storeError.isEmpty()
            ? QString()
            : QLatin1Char(' ') + tr("(Fehler der Datenbank: %1)").arg(m_storeError);
        if (lostTotal > 0)
            more << (lostTotal == 1 ? tr("%1 konnte nicht gespeichert werden%2.")
                                    : tr("%1 konnten nicht gespeichert werden%2."))
                        .arg(joined(lost), why);
        if (unknownTotal > 0)
            more << (unknownTotal == 1
                         ? tr("Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung zur "
                              "Datenbank brach ab, bevor sie antwortete.")
                         : tr("Ob %1 gespeichert wurden, ist nicht bekannt: die Verbindung zur "
                              "Datenbank brach ab, bevor sie antwortete."))
                        .arg(joined(unknown));
        if (stored == 0 && unknownTotal == 0) {
            *title = tr("Import fehlgeschlagen");
            lead = tr("Es wurde nichts importiert");
        } else {
            *title = tr("Import unvollständig");
            lead = tr("Die Daten wurden nur zum Teil importiert, bitte das Programm neu starten");
        }
    }
    if (m_stopped) {
        // Cancelled, closed or held by another connection: every article named as imported
        // is stored whole, the rest of the file was not imported; a second run adds only
        // what is missing.
        *title = tr("Import abgebrochen");
        const bool locked = !m_lockError.isEmpty();
        lead = locked ? tr("Die Datenbank ist gerade von einem anderen Programm oder "
                           "Arbeitsplatz gesperrt, deshalb wurde der Import abgebrochen: ")
                      : tr("Der Import wurde abgebrochen: ");
        lead += m_articles.stored == 1
            ? tr("1 Artikel wurde importiert, vollständig mit seinen Bildern")
            : tr("%1 Artikel wurden importiert, jeder vollständig mit seinen Bildern")
                  .arg(m_articles.stored);
        if (m_itemsKnown > 0)
            lead += (m_itemsKnown == 1 ? tr(", 1 war schon vorhanden")
                                       : tr(", %1 waren schon vorhanden").arg(m_itemsKnown));
        if (locked) {
            // The item in hand at the lock was read, but is no more stored than the rest.
            const int left = qMax(0, m_itemsInFile - m_articles.all() - m_itemsKnown
                                         - int(m_tooLong.size()));
            lead += (left == 1
                         ? tr("; 1 von %2 Artikeln der Datei wurde nicht importiert")
                         : tr("; %1 von %2 Artikeln der Datei wurden nicht importiert").arg(left))
                        .arg(m_itemsInFile)
                + tr(". Wird dieselbe Datei später noch einmal importiert, kommt nur hinzu, "
                     "was noch fehlt");
        } else {
            const int notRead = qMax(0, m_itemsInFile - m_itemCounter);
            lead += (notRead == 1 ? tr("; 1 von %2 Artikeln der Datei wurde nicht mehr gelesen")
                                  : tr("; %1 von %2 Artikeln der Datei wurden nicht mehr gelesen")
                                        .arg(notRead))
                        .arg(m_itemsInFile)
                + tr(". Wird dieselbe Datei noch einmal importiert, kommt nur hinzu, was noch "
                     "fehlt");
        }
    }
    if (m_failedPictures > 0)
        more << failedPicturesText();
    if (!m_tooLong.isEmpty()) {
        QStringList named;
        for (const QString &name : m_tooLong.mid(0, 3))
            named << tr("„%1“").arg(shortened(name, 40));
        QString titles = named.join(QStringLiteral(", "));
        if (m_tooLong.size() > 3)
            titles += tr(" und %1 weitere").arg(m_tooLong.size() - 3);
        more << (m_tooLong.size() == 1
                     ? tr("1 Artikel wurde nicht importiert, weil seine Beschreibung länger ist, "
                          "als eBay erlaubt (höchstens %1 Zeichen): %2.")
                     : tr("%3 Artikel wurden nicht importiert, weil ihre Beschreibung länger ist, "
                          "als eBay erlaubt (höchstens %1 Zeichen): %2."))
                    .arg(QLocale(QLocale::German).toString(DescriptionLimit::kMaxChars), titles)
                    .arg(m_tooLong.size());
    }
    if (!m_rejected.isEmpty())
        more << rejectedText();
    *text = more.isEmpty() ? lead : lead + QStringLiteral(". ") + more.join(QLatin1Char(' '));
    return lost.isEmpty() && unknown.isEmpty() && !m_stopped;
}

QString Rovive2Import::failedPicturesText() const
{
    constexpr int kNamedPictures = 10;
    constexpr int kTitleLength = 40;
    constexpr int kEntryLength = 80;
    // Each article once, with its pictures in the order given.
    QList<QPair<QString, QStringList>> articles;
    int named = 0;
    for (const auto &picture : m_failedPictureNames.mid(0, kNamedPictures)) {
        if (articles.isEmpty() || articles.last().first != picture.first)
            articles.append({ picture.first, {} });
        articles.last().second << shortened(picture.second, kEntryLength);
        ++named;
    }
    QStringList parts;
    for (const auto &article : qAsConst(articles))
        parts << tr("„%1“: %2")
                     .arg(shortened(article.first, kTitleLength),
                          article.second.join(QStringLiteral(", ")));
    const int rest = m_failedPictures - named;
    if (rest > 0)
        parts << (rest == 1 ? tr("und 1 weiteres") : tr("und %1 weitere").arg(rest));
    const QString list = parts.join(QStringLiteral("; "));
    return m_failedPictures == 1
        ? tr("1 Bild konnte nicht übernommen werden: %1.").arg(list)
        : tr("%1 Bilder konnten nicht übernommen werden: %2.").arg(m_failedPictures).arg(list);
}

QString Rovive2Import::rejectedText() const
{
    constexpr int kNamedArticles = 3;
    constexpr int kNamedFields = 5;
    constexpr int kTitleLength = 40;
    constexpr int kValueLength = 40;
    int values = 0;
    bool onlyNoNumbers = true;
    for (const QList<RejectedValue> &article : m_rejected) {
        for (const RejectedValue &value : article)
            onlyNoNumbers = onlyNoNumbers && value.why == NumberReader::Refusal::NoNumber;
    }
    QStringList articles;
    int restValues = 0; // of the articles not named
    int restArticles = 0;
    for (const QList<RejectedValue> &article : m_rejected) {
        values += article.size();
        if (articles.size() >= kNamedArticles) {
            restValues += article.size();
            ++restArticles;
            continue;
        }
        QStringList fields;
        for (const RejectedValue &value : article.mid(0, kNamedFields)) {
            const QString shown = value.text.size() > kValueLength
                ? value.text.left(kValueLength - 1) + QStringLiteral("…")
                : value.text;
            QString field = tr("%1 „%2“").arg(fieldName(value.field), shown);
            // The reason, unless every value is simply no number.
            if (!onlyNoNumbers)
                field += QStringLiteral(" (") + NumberReader::refusalText(value.why)
                    + QLatin1Char(')');
            fields << field;
        }
        QString named = fields.join(QStringLiteral(", "));
        const int restFields = article.size() - fields.size();
        if (restFields > 0)
            named
                += restFields == 1 ? tr(" und 1 weiterer") : tr(" und %1 weitere").arg(restFields);
        articles << tr("„%1“: %2").arg(shortened(article.first().title, kTitleLength), named);
    }
    // Every value counted is named, or counted as one of the rest.
    if (restArticles > 0)
        articles << (restValues == 1 ? tr("und 1 weiterer Wert in einem weiteren Artikel")
                         : restArticles == 1
                         ? tr("und %1 weitere Werte in einem weiteren Artikel").arg(restValues)
                         : tr("und %1 weitere Werte in %2 weiteren Artikeln")
                               .arg(restValues)
                               .arg(restArticles));
    const QString list = articles.join(QStringLiteral("; "));
    if (!onlyNoNumbers)
        return values == 1 ? tr("1 Wert wurde nicht übernommen: %1.").arg(list)
                           : tr("%1 Werte wurden nicht übernommen: %2.").arg(values).arg(list);
    if (values == 1)
        return tr("1 Wert wurde nicht übernommen, weil er keine Zahl ist: %1.").arg(list);
    return tr("%1 Werte wurden nicht übernommen, weil sie keine Zahlen sind: %2.")
        .arg(values)
        .arg(list);
}

void Rovive2Import::report(Database &db, const QString &title, const QString &text, bool ok)
{
    emit sendNotification(Statics::notificationMessage(title, text));
    // Stopped at the lock of the local file, storing the entry would wait for that lock once
    // more; it is shown all the same, as is an entry that could not be stored: for this
    // session, under an id no stored entry has.
    NewsItem entry;
    if (m_lockError.isEmpty() || db.isMySQL)
        entry = db.addOutcomeNews(title, text, ok);
    if (entry.id <= 0) {
        static std::atomic<int> s_unstored { 0 };
        entry = NewsItem();
        entry.id = -(s_unstored.fetch_add(1) + 1);
        entry.indate = Clock::currentDateTime();
        entry.itemid = QStringLiteral("0");
        entry.title = title;
        entry.textinfo = text;
        entry.infotype = ok ? QStringLiteral("success") : QStringLiteral("error");
    }
    emit sendaddNewsItem(entry);
}

bool Rovive2Import::readExport(Reader &reader, Database *db)
{
    // The file's own declaration of its encoding is read by ExportText, which hands the
    // reader text, not bytes.
    for (;;) {
        switch (reader.next()) {
        case QXmlStreamReader::Invalid:
            return false;
        case QXmlStreamReader::EndDocument:
            return true;
        case QXmlStreamReader::StartElement:
            break;
        default:
            continue;
        }
        const QStringRef name = reader.name();
        if (name == QLatin1String("ItemsTotal")) {
            m_itemsTotal = reader.elementText().trimmed().toInt();
        } else if (name == QLatin1String("categories")) {
            createFolders(reader, db);
        } else if (name == QLatin1String("users")) {
            createAccounts(reader, db);
        } else if (name == QLatin1String("Item")) {
            // Between units: what is stored stays, nothing further is read.
            if (stopping())
                return true;
            const Fields item = reader.fields();
            if (reader.hasError())
                continue;
            if (db) {
                importItem(item, *db);
            } else {
                ++m_itemsInFile;
                learnNumbers(item, &m_numberColumns);
            }
        }
    }
}

void Rovive2Import::createFolders(Reader &reader, Database *db)
{
    if (db)
        emit getStatus(tr("Lege Kategorien an..."), 100, 50);
    reader.forEachChild(QLatin1String("category"), [this, db, &reader](const Fields &category) {
        const QString parent = category.value(QStringLiteral("parentid"));
        if (!db) {
            // Where the import will file it: below a folder stored before, else below a
            // category read before, else directly in "Artikelvorlagen".
            const int level = parent.isEmpty()    ? 1
                : m_storedLevels.contains(parent) ? m_storedLevels.value(parent) + 1
                                                  : m_categoryLevels.value(parent, 0) + 1;
            const QString id = category.value(QStringLiteral("id"));
            if (!m_categoryLevels.contains(id))
                m_categoryLevels.insert(id, level);
            if (level > FolderTree::kMaxDepth)
                reader.refuse(tr("die Kategorie „%1“ läge tiefer als %2 Ebenen, so tief können "
                                 "Ordner nicht ineinander liegen")
                                  .arg(category.value(QStringLiteral("text")).left(80))
                                  .arg(FolderTree::kMaxDepth));
            return;
        }
        if (stopping())
            return;
        storeUnit(*db, m_folders, [&]() -> Read<Unit> {
            // A category stored before (by an earlier run of the same export) is not added
            // again; one that could not be looked up is not stored now.
            const QString id = category.value(QStringLiteral("id"));
            if (!id.isEmpty()) {
                const Read<int> known = folderByExternalId(db, id);
                if (!known.ok())
                    return Read<Unit>::failed(known.error());
                if (*known > 0)
                    return Unit();
            }
            // A category whose parent is unknown goes where the user's folders start; one
            // whose parent could not be looked up is not stored.
            const Read<int> parentId
                = parent.isEmpty() ? Read<int>(0) : folderByExternalId(db, parent);
            if (!parentId.ok())
                return Read<Unit>::failed(parentId.error());
            Unit unit { QStringLiteral("folders"), {} };
            unit.row.insert(QStringLiteral("foldername"), category.value(QStringLiteral("text")));
            unit.row.insert(QStringLiteral("externalid"), category.value(QStringLiteral("id")));
            unit.row.insert(QStringLiteral("folderparentid"),
                            *parentId != 0 ? *parentId : int(SpecialFolderId::Drafts));
            return unit;
        });
    });
    if (db && !reader.hasError())
        emit getStatus(tr("Kategorien anlegen abgeschlossen"), 100, 100);
}

void Rovive2Import::createAccounts(Reader &reader, Database *db)
{
    if (db)
        emit getStatus(tr("Lege Konten an..."), 100, 50);
    reader.forEachChild(QLatin1String("user"), [this, db](const Fields &user) {
        if (!db || stopping())
            return;
        storeUnit(*db, m_accounts, [&]() -> Read<Unit> {
            // An account that could not be looked up is not stored: it may be there already.
            const QString name = user.value(QStringLiteral("username"));
            const Read<int> known = accountId(db, name);
            if (!known.ok())
                return Read<Unit>::failed(known.error());
            if (*known > 0)
                return Unit();
            Unit unit { QStringLiteral("accounts"), {} };
            unit.row.insert(QStringLiteral("accountname"), name);
            unit.row.insert(QStringLiteral("token"), user.value(QStringLiteral("usertoken")));
            unit.row.insert(QStringLiteral("tokenexp"),
                            user.value(QStringLiteral("usertokenexpire")));
            unit.row.insert(QStringLiteral("active"), 1);
            return unit;
        });
    });
}

void Rovive2Import::importItem(const Fields &item, Database &db)
{
    if (m_progress)
        m_progress(m_itemCounter, m_itemsInFile);
    ++m_itemCounter;
    const QString itemId = item.value(QStringLiteral("ItemID"));
    const QString title = item.value(QStringLiteral("Title"));
    const QString digest = itemDigest(item);
    const QString key = itemKey(item, m_occurrences.value(digest));
    m_occurrences[digest] += 1;
    QStringList pictures;
    for (int n = 0; n < kMaxPictures; ++n) {
        const QString picture = item.value(QStringLiteral("image%1").arg(n));
        if (!picture.isEmpty())
            pictures << picture;
    }

    // A listing imported before, or an item this export brought before (a run that was
    // cancelled, closed or cut), is not imported again; one that could not be looked up is
    // not imported now.
    bool known = false;
    const auto lookUp = [&]() -> Read<bool> {
        if (!itemId.isEmpty()) {
            const Read<int> stored
                = firstId(&db,
                          QStringLiteral("SELECT id FROM articles WHERE ItemID='")
                              + Database::escapeString(itemId) + QLatin1Char('\''));
            if (!stored.ok())
                return Read<bool>::failed(stored.error());
            if (*stored > 0)
                return true;
        }
        const Read<int> imported = importedArticle(db, key);
        if (!imported.ok())
            return Read<bool>::failed(imported.error());
        return *imported > 0;
    };
    // Asked before the pictures are fetched: a second run downloads nothing it has.
    const quint64 failedBefore = db.failedStatements();
    const Read<bool> before = lookUp();
    if (before.ok() && *before) {
        ++m_itemsKnown;
        return;
    }
    if (!before.ok() && stoppedByLock(db, failedBefore))
        return;
    if (!before.ok()) {
        qCWarning(lcApp).noquote() << "Rovive import, item" << itemId << title
                                   << "not stored, it could not be looked up:" << before.error();
        count(m_articles, 0, db);
        return;
    }
    // The downloads before the unit's transaction: it holds no lock while waiting for the web.
    emit getStatus(tr("Importiere Bilder für %1").arg(title), m_itemsTotal, m_itemCounter);
    // The files the downloads write that were not there before: once the unit is settled its
    // pictures are copies of them, and they go whether it was stored or not.
    QStringList downloads;
    for (const QString &picture : qAsConst(pictures)) {
        const QString file = PictureImport::isWebAddress(picture)
            ? PictureImport::downloadPath(db.getCurrentAdImageDir(), picture)
            : QString();
        if (!file.isEmpty() && !downloads.contains(file) && !QFileInfo::exists(file))
            downloads << file;
    }
    const QStringList fetched = PictureImport::fetch(db.getCurrentAdImageDir(), pictures);
    QStringList failedDownloads; // the addresses, in their order
    for (int i = 0; i < fetched.size(); ++i)
        if (fetched.at(i).isEmpty())
            failedDownloads << pictures.at(i);

    // The pictures are copied and checked before each attempt's transaction as well: the
    // picture decoder works while the database is free, the transaction only gives the
    // files their names and writes their rows. What an attempt that is not kept named is
    // removed before the next prepares its own.
    const QString imageDir = db.getCurrentAdImageDir();
    const QString thumbDir = db.getCurrentAdImageDirThumbs();
    PictureImport::Prepared prepared;
    bool preparedFresh = false;
    QStringList made; // the files named for the rows of the attempt in hand
    const auto prepareAttempt = [&] {
        for (const QString &file : qAsConst(made))
            QFile::remove(file);
        made.clear();
        if (preparedFresh)
            return;
        prepared = PictureImport::prepare(imageDir, thumbDir, fetched);
        preparedFresh = true;
    };

    // Decided by the look-ups of the attempt that is stored.
    QList<RejectedValue> rejected;
    QString tooLong;
    QStringList failed; // the pictures of the unit not taken, as the export names them
    const int unknownBefore = m_articles.unknown;
    const int id = storeUnit(
        db, m_articles,
        [&]() -> Read<Unit> {
            rejected.clear();
            tooLong.clear();
            known = false;
            const Read<bool> stored = lookUp();
            if (!stored.ok())
                return Read<Unit>::failed(stored.error());
            if (*stored) {
                known = true;
                return Unit();
            }
            emit getStatus(tr("Importiere %1").arg(title), m_itemsTotal, m_itemCounter);
            const Read<ArticleRow> row = articleRow(item, &db, &rejected, &m_numberColumns);
            if (!row.ok())
                return Read<Unit>::failed(row.error());
            // An article whose description the marketplace would refuse is not imported, but
            // named.
            tooLong
                = DescriptionLimit::refusal(row->value(QStringLiteral("Description")).toString());
            if (!tooLong.isEmpty())
                return Unit();
            return Unit { QStringLiteral("articles"), *row };
        },
        [&](int articleId) {
            // The record of the item and the pictures belong to the unit: a failed row of
            // either undoes the article too.
            if (db.insertSqlClean({ { QStringLiteral("itemkey"), key },
                                    { QStringLiteral("article_id"), articleId } },
                                  QStringLiteral("imported_items"))
                <= 0)
                return false;
            // Their rows are written as a part of the unit that fails on its own: any
            // statement of it that failed undoes the whole unit.
            const quint64 failedBefore = db.failedStatements();
            QStringList notTaken;
            preparedFresh = false; // its files are given their names now
            PictureImport::record(&db, articleId, prepared, 0, &notTaken, &made);
            if (db.failedStatements() != failedBefore)
                return false;
            // Named as the export names them: a failed download by its address.
            failed.clear();
            int download = 0;
            for (const QString &entry : qAsConst(notTaken)) {
                const int at = fetched.indexOf(entry);
                failed << (entry.isEmpty() ? failedDownloads.value(download++)
                               : at >= 0   ? pictures.value(at)
                                           : entry);
            }
            return true;
        },
        prepareAttempt);
    // Files named for rows that were not kept go; those of a unit that may be stored (its
    // commit's answer was lost and could not be looked up) stay for the rows that may name
    // them.
    if (id <= 0 && m_articles.unknown == unknownBefore)
        for (const QString &file : qAsConst(made))
            QFile::remove(file);
    removeDownloads(db, downloads);
    if (known) {
        ++m_itemsKnown;
        return;
    }
    if (!tooLong.isEmpty()) {
        qCWarning(lcApp).noquote() << "Rovive import, item" << itemId << title << ":" << tooLong;
        m_tooLong << title;
        return;
    }
    if (id <= 0) {
        qCWarning(lcApp).noquote()
            << "Rovive import, item" << itemId << title << "not stored:" << db.lastErrorText;
        return;
    }
    for (const RejectedValue &value : qAsConst(rejected))
        qCWarning(lcApp).noquote() << "Rovive import, item" << itemId << title << ":" << value.field
                                   << value.text << "is no number, left at the column's default";
    if (!rejected.isEmpty())
        m_rejected << rejected;
    m_failedPictures += failed.size();
    for (const QString &picture : qAsConst(failed))
        m_failedPictureNames.append({ title, picture });
}

int Rovive2Import::storeUnit(Database &db, Tally &tally, const std::function<Read<Unit>()> &plan,
                             const std::function<bool(int id)> &complete,
                             const std::function<void()> &beforeAttempt)
{
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        if (beforeAttempt)
            beforeAttempt();
        // A unit that meets another connection's lock is not counted: it ends the run.
        const quint64 failedBefore = db.failedStatements();
        Transaction unit(db);
        if (!unit.isOpen()) {
            if (!stoppedByLock(db, failedBefore))
                count(tally, 0, db);
            return 0;
        }
        const Read<Unit> planned = plan();
        if (planned.ok() && planned->table.isEmpty())
            return 0;
        int id = planned.ok() ? db.insertSqlClean(planned->row, planned->table) : 0;
        if (id > 0 && complete && !complete(id))
            id = 0;
        if (id > 0 && unit.commit()) {
            count(tally, id, db);
            return id;
        }
        if (stoppedByLock(db, failedBefore))
            return 0;
        if (id > 0 && db.lastOutcome() == Database::Outcome::Unknown) {
            // The answer to the commit was lost: the row's values tell whether it is stored.
            const QString error = db.lastErrorText;
            const Read<int> found = storedRow(db, planned->row, planned->table);
            if (found.ok() && *found > 0) {
                db.unknownOutcomeTold();
                count(tally, *found, db);
                return *found;
            }
            if (!found.ok()) {
                ++tally.unknown;
                return 0;
            }
            if (attempt == kAttempts) {
                ++tally.lost;
                if (m_storeError.isEmpty())
                    m_storeError = error;
                return 0;
            }
            qCInfo(lcApp).noquote() << "Rovive import: a row of" << planned->table
                                    << "whose commit was not answered was not stored:" << error;
            continue;
        }
        // The server undid it with the connection it lost: written again on the next.
        if (db.isMySQL && db.lastOutcome() == Database::Outcome::NotWritten
            && db.lastFailureTransient() && attempt < kAttempts)
            continue;
        count(tally, 0, db);
        return 0;
    }
}

void Rovive2Import::CopyImages(int articleId, QStringList &images, Database *db,
                               const QString &title)
{
    QStringList failed;
    m_failedPictures += PictureImport::store(db, articleId, images, {}, &failed);
    for (const QString &picture : qAsConst(failed))
        m_failedPictureNames.append({ title, picture });
}
