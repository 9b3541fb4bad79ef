#pragma once

#include <QHash>
#include <QStringList>

#include <functional>

class Database;

// On a shared database, the entries that tell the other workstations that articles left a
// folder, so that they drop their rows (what Database::mysqlAddRemoveInfo() writes for one),
// written for many articles with a few statements per thousand. Inside the caller's
// transaction: stored with the change they tell of, or not at all. On the local file there is
// no one to tell: nothing is written.
namespace RemovalNotes {
// `left`: article id -> the folder it left. `between` runs after each statement's group of
// entries; when it returns false the writing stops. False when a statement failed (the
// connection's lastErrorText says why, and the open transaction fails) or `between` stopped it.
bool write(Database &db, const QHash<int, int> &left, const std::function<bool()> &between = {});
// The same entries for the articles that `idLists` name ("1,2,3" each, only numbers) and that
// are not in `target`, each with the folder it is in now: written before they move, with the
// same few statements whatever their number (one more per list). False when a statement
// failed (the connection's lastErrorText says why, and the open transaction fails).
bool writeBeforeMove(Database &db, const QStringList &idLists, int target);
} // namespace RemovalNotes
