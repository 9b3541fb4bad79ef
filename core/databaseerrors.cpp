#include "core/databaseerrors.h"

#include <QCoreApplication>
#include <QLatin1String>

namespace {

struct Sign
{
    DatabaseErrors::Cause cause;
    const char *text;
};

// Parts of SQLite's and MySQL/MariaDB's own messages (never translated), first match wins.
const Sign kSigns[] = {
    // SQLITE_READONLY; MySQL 1290 (server started read-only), 1036, 1792.
    { DatabaseErrors::Cause::ReadOnly, "readonly database" },
    { DatabaseErrors::Cause::ReadOnly, "--read-only option" },
    { DatabaseErrors::Cause::ReadOnly, "is read only" },
    { DatabaseErrors::Cause::ReadOnly, "read only transaction" },
    // SQLITE_FULL; MySQL 1021, 1114 and the system's ENOSPC (errno 28).
    { DatabaseErrors::Cause::DiskFull, "database or disk is full" },
    { DatabaseErrors::Cause::DiskFull, "disk full" },
    { DatabaseErrors::Cause::DiskFull, "no space left on device" },
    { DatabaseErrors::Cause::DiskFull, "errcode: 28" },
    { DatabaseErrors::Cause::DiskFull, "errno: 28" },
    { DatabaseErrors::Cause::DiskFull, "' is full" },
    // SQLITE_NOTADB, SQLITE_CORRUPT; MySQL's crashed tables.
    { DatabaseErrors::Cause::Damaged, "is not a database" },
    { DatabaseErrors::Cause::Damaged, "disk image is malformed" },
    { DatabaseErrors::Cause::Damaged, "marked as crashed" },
    { DatabaseErrors::Cause::Damaged, "incorrect key file" },
    // SQLITE_BUSY, SQLITE_LOCKED (after the layer's own wait); MySQL 1205, 1213.
    { DatabaseErrors::Cause::Locked, "database is locked" },
    { DatabaseErrors::Cause::Locked, "database table is locked" },
    { DatabaseErrors::Cause::Locked, "lock wait timeout exceeded" },
    { DatabaseErrors::Cause::Locked, "deadlock found" },
    // MySQL 2002, 2003, 2006, 2013, 1053, 1927.
    { DatabaseErrors::Cause::ConnectionLost, "lost connection to" },
    { DatabaseErrors::Cause::ConnectionLost, "server has gone away" },
    { DatabaseErrors::Cause::ConnectionLost, "can't connect to" },
    { DatabaseErrors::Cause::ConnectionLost, "server shutdown in progress" },
    { DatabaseErrors::Cause::ConnectionLost, "connection was killed" },
};

QString tr(const char *text)
{
    return QCoreApplication::translate("DatabaseErrors", text);
}

struct Rendering
{
    const char *sign; // a part of the driver's text, in lower case
    const char *german;
};

// What a lost connection's text says, in the seller's words; first match wins.
const Rendering kLost[] = {
    { "server has gone away",
      QT_TRANSLATE_NOOP("DatabaseErrors", "der Server hat die Verbindung beendet") },
    { "connection was killed",
      QT_TRANSLATE_NOOP("DatabaseErrors", "der Server hat die Verbindung beendet") },
    { "server shutdown in progress",
      QT_TRANSLATE_NOOP("DatabaseErrors", "der Server wird gerade beendet") },
    { "can't connect to", QT_TRANSLATE_NOOP("DatabaseErrors", "der Server ist nicht erreichbar") },
    { "lost connection to",
      QT_TRANSLATE_NOOP("DatabaseErrors", "die Verbindung zum Server brach ab") },
};

// Why a connection could not be opened; first match wins.
const Rendering kConnect[] = {
    { "access denied",
      QT_TRANSLATE_NOOP("DatabaseErrors",
                        "Der Datenbankserver hat den Benutzernamen oder das Passwort abgelehnt.") },
    { "unknown database",
      QT_TRANSLATE_NOOP("DatabaseErrors",
                        "Die angegebene Datenbank gibt es auf dem Server nicht.") },
    { "server host",
      QT_TRANSLATE_NOOP("DatabaseErrors", "Einen Server dieses Namens gibt es nicht.") },
    { "connection refused",
      QT_TRANSLATE_NOOP("DatabaseErrors",
                        "Der Datenbankserver nimmt keine Verbindung an: läuft er, und stimmt "
                        "der Port?") },
    { "timed out", QT_TRANSLATE_NOOP("DatabaseErrors", "Der Datenbankserver antwortet nicht.") },
    { "(110", QT_TRANSLATE_NOOP("DatabaseErrors", "Der Datenbankserver antwortet nicht.") },
    { "too many connections",
      QT_TRANSLATE_NOOP("DatabaseErrors",
                        "Der Datenbankserver nimmt keine weiteren Verbindungen an.") },
    { "can't connect to",
      QT_TRANSLATE_NOOP("DatabaseErrors", "Der Datenbankserver ist nicht erreichbar.") },
};

template <size_t N>
const char *renderingOf(const Rendering (&renderings)[N], const QString &driverText)
{
    for (const Rendering &rendering : renderings) {
        if (driverText.contains(QLatin1String(rendering.sign), Qt::CaseInsensitive))
            return rendering.german;
    }
    return nullptr;
}

} // namespace

namespace DatabaseErrors {

Cause causeOf(const QString &driverText)
{
    for (const Sign &sign : kSigns) {
        if (driverText.contains(QLatin1String(sign.text), Qt::CaseInsensitive))
            return sign.cause;
    }
    return Cause::Other;
}

QString sentence(Cause cause)
{
    switch (cause) {
    case Cause::ReadOnly:
        return tr("Die Datenbank ist schreibgeschützt, Änderungen können nicht gespeichert "
                  "werden.");
    case Cause::DiskFull:
        return tr("Auf dem Datenträger der Datenbank ist kein Platz mehr frei.");
    case Cause::Damaged:
        return tr("Die Datenbankdatei ist beschädigt oder keine Datenbank.");
    case Cause::Locked:
        return tr("Die Datenbank ist gerade von einem anderen Programm oder Arbeitsplatz "
                  "gesperrt.");
    case Cause::ConnectionLost:
        return tr("Die Verbindung zur Datenbank ist unterbrochen.");
    case Cause::Other:
        break;
    }
    return QString();
}

QString detail(const QString &driverText)
{
    // One line, so that a view showing the first line shows the bracket closed.
    const QString text = driverText.simplified();
    if (text.isEmpty())
        return QString();
    return QStringLiteral(" (") + tr("Meldung der Datenbank: %1").arg(text) + QLatin1Char(')');
}

QString describe(const QString &driverText)
{
    const Cause cause = causeOf(driverText);
    if (cause == Cause::ConnectionLost)
        return lostConnection(driverText);
    const QString text = sentence(cause);
    if (text.isEmpty())
        return driverText;
    // A lock says all there is to say in German: the server's words ("Lock wait timeout
    // exceeded; try restarting transaction", "database is locked") tell the seller nothing
    // more, and the log keeps them.
    if (cause == Cause::Locked)
        return text;
    return text + detail(driverText);
}

QString lostConnection(const QString &driverText)
{
    const char *german = renderingOf(kLost, driverText);
    return tr("Die Verbindung zur Datenbank ist unterbrochen: %1")
               .arg(german ? tr(german) : tr("sie brach ab"))
        + detail(driverText);
}

QString connectFailure(const QString &driverText)
{
    const char *german = renderingOf(kConnect, driverText);
    return (german ? tr(german)
                   : tr("Die Verbindung zur Datenbank konnte nicht hergestellt werden."))
        + detail(driverText);
}

} // namespace DatabaseErrors
