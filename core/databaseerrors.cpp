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

QString describe(const QString &driverText)
{
    const Cause cause = causeOf(driverText);
    if (cause == Cause::ConnectionLost)
        return lostConnection(driverText);
    const QString text = sentence(cause);
    if (text.isEmpty() || driverText.trimmed().isEmpty())
        return text.isEmpty() ? driverText : text;
    return text + QStringLiteral(" (") + driverText.trimmed() + QLatin1Char(')');
}

QString lostConnection(const QString &driverText)
{
    return tr("Die Verbindung zur Datenbank ist unterbrochen: %1").arg(driverText);
}

} // namespace DatabaseErrors
