#pragma once

#include <QLoggingCategory>
#include <QString>

// Switch on with QT_LOGGING_RULES, e.g. "app.db.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcDb)
Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcWorker)
Q_DECLARE_LOGGING_CATEGORY(lcApp)

// What the day's log may hold. It is read when something went wrong, also by others than
// the seller: no token, no password, no buyer's or seller's personal data.
namespace Logging {
// Whether the bodies of marketplace requests and replies are logged (at debug level, with
// tokens masked): only when the environment variable ZERIRE_DEBUG_LOG_BODIES is set to
// something other than "0", for looking into a problem.
bool bodiesLogged();
// The name of that variable.
const char *bodiesVariable();
// The log line of a failed statement: `prefix`, the error, " from query: " and the
// statement. A statement that touches table `accounts` (tokens, the seller's data) has
// every quoted value of both error and statement replaced by '***'.
QString sqlFailure(const QString &prefix, const QString &error, const QString &sql);
} // namespace Logging
