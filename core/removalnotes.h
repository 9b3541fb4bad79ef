#pragma once

#include <QHash>

class Database;

// On a shared database, the entries that tell the other workstations that articles left a
// folder, so that they drop their rows (what Database::mysqlAddRemoveInfo() writes for one),
// written for many articles with a few statements per thousand. Inside the caller's
// transaction: stored with the change they tell of, or not at all. On the local file there is
// no one to tell: nothing is written.
namespace RemovalNotes {
// `left`: article id -> the folder it left. False when a statement failed (the connection's
// lastErrorText says why, and the open transaction fails).
bool write(Database &db, const QHash<int, int> &left);
} // namespace RemovalNotes
