#pragma once

#include <QHash>

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
} // namespace RemovalNotes
