#pragma once

#include <QString>

// The seller's words for a failed statement. SQLite and MySQL/MariaDB explain a failure in
// English (and Qt adds its own words); for the causes a seller can act on there is a German
// sentence, with the driver's text after it for whoever looks into it.
namespace DatabaseErrors {

enum class Cause {
    Other, // the database refused the statement itself, or an unknown failure
    ReadOnly, // the file, its folder or the server takes no changes
    DiskFull, // no space left for the database
    Damaged, // the file is damaged or no database at all
    Locked, // another program or workstation holds a lock
    ConnectionLost, // the server can't be reached
};

// What `driverText` (the driver's error text) says went wrong.
Cause causeOf(const QString &driverText);

// The German sentence for `cause`; empty for Cause::Other.
QString sentence(Cause cause);

// The text the seller reads: the sentence followed by the driver's text, whole and on one
// line, in brackets ("… frei. (Meldung der Datenbank: database or disk is full)"), or the
// driver's text alone when no sentence fits (the caller's own sentence leads then). A lock is
// told by its sentence alone.
QString describe(const QString &driverText);

// The words for a lost connection, wherever it is noticed: "Die Verbindung zur Datenbank ist
// unterbrochen: " and what happened in German, with the driver's text in brackets.
QString lostConnection(const QString &driverText);

// Why a connection to the database server could not be opened, in German (a server that
// can't be reached, refuses, or knows no such host, user or database), with the driver's
// text in brackets.
QString connectFailure(const QString &driverText);

// " (Meldung der Datenbank: …)" for `driverText` (on one line), empty for an empty text.
QString detail(const QString &driverText);

} // namespace DatabaseErrors
