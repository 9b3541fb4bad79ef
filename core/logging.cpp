#include "core/logging.h"

Q_LOGGING_CATEGORY(lcDb, "app.db")
Q_LOGGING_CATEGORY(lcNet, "app.net")
Q_LOGGING_CATEGORY(lcWorker, "app.worker")
Q_LOGGING_CATEGORY(lcApp, "app")

const char *Logging::bodiesVariable()
{
    return "ZERIRE_DEBUG_LOG_BODIES";
}

bool Logging::bodiesLogged()
{
    const QByteArray value = qgetenv(bodiesVariable()).trimmed();
    return !value.isEmpty() && value != "0";
}

namespace {

// `sql` with the text of every quoted value replaced by "***"; `touchesAccounts` tells
// whether a name outside the values is "accounts".
QString maskValues(const QString &sql, bool *touchesAccounts)
{
    QString masked;
    masked.reserve(sql.size());
    *touchesAccounts = false;
    QChar quote;
    QString word;
    auto endWord = [&]() {
        if (word.compare(QLatin1String("accounts"), Qt::CaseInsensitive) == 0)
            *touchesAccounts = true;
        word.clear();
    };
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        if (quote == QLatin1Char('\'') || quote == QLatin1Char('"')) {
            if (c != quote)
                continue;
            // A doubled quote stands for one inside the value.
            if (i + 1 < sql.size() && sql.at(i + 1) == quote) {
                ++i;
                continue;
            }
            masked += QLatin1String("***");
            masked += c;
            quote = QChar();
            continue;
        }
        if (quote == QLatin1Char('`')) {
            // A quoted name: kept, and looked at like any other name.
            masked += c;
            if (c == quote) {
                endWord();
                quote = QChar();
            } else {
                word += c;
            }
            continue;
        }
        masked += c;
        if (c.isLetterOrNumber() || c == QLatin1Char('_')) {
            word += c;
            continue;
        }
        endWord();
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`'))
            quote = c;
    }
    if (quote == QLatin1Char('\'') || quote == QLatin1Char('"'))
        masked += QLatin1String("***");
    endWord();
    return masked;
}

} // namespace

QString Logging::sqlFailure(const QString &prefix, const QString &error, const QString &sql)
{
    bool touchesAccounts = false;
    const QString masked = maskValues(sql, &touchesAccounts);
    if (!touchesAccounts)
        return prefix + error + QStringLiteral(" from query: ") + sql;
    // The server may quote the offending value in its message ("Duplicate entry '...'").
    bool ignored = false;
    return prefix + maskValues(error, &ignored) + QStringLiteral(" from query: ") + masked;
}
