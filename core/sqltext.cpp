#include "core/sqltext.h"

#include "core/logging.h"

#include <QByteArray>
#include <QCollator>
#include <QLocale>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <sqlite3.h>

namespace {

QCollator germanCollator()
{
    QCollator collator(QLocale(QLocale::German, QLocale::Germany));
    collator.setCaseSensitivity(Qt::CaseSensitive);
    return collator;
}

int germanCollation(void *, int lengthA, const void *a, int lengthB, const void *b)
{
    return SqlText::compare(QString::fromUtf8(static_cast<const char *>(a), lengthA),
                            QString::fromUtf8(static_cast<const char *>(b), lengthB));
}

void casefoldFunction(sqlite3_context *context, int, sqlite3_value **values)
{
    sqlite3_value *value = values[0];
    if (sqlite3_value_type(value) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
    const int bytes = sqlite3_value_bytes(value);
    if (!text) {
        sqlite3_result_null(context);
        return;
    }
    bool ascii = true;
    for (int i = 0; i < bytes && ascii; ++i)
        ascii = static_cast<unsigned char>(text[i]) < 0x80;
    // Most titles, SKUs and references are plain ASCII: folded without decoding.
    const QByteArray folded = ascii ? QByteArray(text, bytes).toLower()
                                    : SqlText::fold(QString::fromUtf8(text, bytes)).toUtf8();
    sqlite3_result_text(context, folded.constData(), folded.size(), SQLITE_TRANSIENT);
}

} // namespace

namespace SqlText {

bool registerSqlite(const QSqlDatabase &connection)
{
    const QVariant handle = connection.driver() ? connection.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        qCWarning(lcDb).noquote() << "No SQLite handle for" << connection.connectionName()
                                  << "- searching and sorting text as SQLite does";
        return false;
    }
    sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData());
    if (!db)
        return false;
    const int function
        = sqlite3_create_function_v2(db, "casefold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                     casefoldFunction, nullptr, nullptr, nullptr);
    // Sorted as the program sorts in memory, with the collator of the connection's thread.
    const int collation
        = sqlite3_create_collation_v2(db, "GERMAN", SQLITE_UTF8, nullptr, germanCollation, nullptr);
    if (function != SQLITE_OK || collation != SQLITE_OK) {
        qCWarning(lcDb).noquote() << "Can't register the text functions on"
                                  << connection.connectionName() << ":" << sqlite3_errmsg(db);
        return false;
    }
    return true;
}

QString fold(const QString &text)
{
    QString folded = text.toCaseFolded();
    // Simple case folding keeps ß (and folds ẞ to it); full folding makes it "ss". It keeps
    // İ as well, which full folding makes "i" with a combining dot: a search for "istanbul"
    // finds it only as a plain "i".
    folded.replace(QChar(0x00DF), QLatin1String("ss"));
    folded.replace(QChar(0x0130), QLatin1Char('i'));
    return folded;
}

int compare(const QString &a, const QString &b)
{
    static thread_local const QCollator collator = germanCollator();
    const int order = collator.compare(a, b);
    return order != 0 ? order : a.compare(b);
}

QCollatorSortKey sortKey(const QString &text)
{
    static thread_local const QCollator collator = germanCollator();
    return collator.sortKey(text);
}

QString likeCondition(const QString &column, const QString &pattern, bool mysql)
{
    if (mysql) {
        // The collation takes "ß" as "ss" when comparing whole texts, but LIKE goes letter by
        // letter: where the pattern has either, both sides have every ß written as "ss".
        QString sharp = pattern;
        sharp.replace(QChar(0x00DF), QLatin1String("ss"))
            .replace(QChar(0x1E9E), QLatin1String("ss"));
        if (!sharp.contains(QLatin1String("ss"), Qt::CaseInsensitive))
            return column + QStringLiteral(" LIKE '") + pattern + QLatin1Char('\'');
        return QStringLiteral("REPLACE(REPLACE(") + column
            + QStringLiteral(", '\u00DF', 'ss'), '\u1E9E', 'ss') LIKE '") + sharp
            + QLatin1Char('\'');
    }
    return QStringLiteral("casefold(") + column + QStringLiteral(") LIKE '") + fold(pattern)
        + QLatin1Char('\'');
}

QString orderTerm(const QString &column, bool mysql)
{
    return mysql ? column : column + QStringLiteral(" COLLATE GERMAN");
}

} // namespace SqlText
