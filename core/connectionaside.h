#pragma once

#include "core/database.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// A command of the window whose statements may keep a shared server busy for seconds (one
// statement over tens of thousands of rows): they run on a thread of their own with a
// connection of their own, while the window's thread goes on handling its events, so the
// window never waits on the server. The command's transaction lies wholly on that connection.
namespace ConnectionAside {

// What became of the last statement of a connection, kept to be told once that connection is
// gone.
struct Failure
{
    Database::Outcome outcome = Database::Outcome::Done;
    bool lockConflict = false;
    bool transient = false;
    QString error;
    static Failure of(const Database &db);
};

// Handed to the work: `stop` turns true once the window asks it to stop (Abbrechen, or the
// program closing); the work stops after its statement in hand, leaving nothing of it.
// `done` is how far it got, for the window's progress.
struct Control
{
    std::atomic<bool> stop { false };
    std::atomic<int> done { 0 };
    // Before the commit: asks the window once more (`answer` runs on its thread at once, the
    // work waiting), so that an "Abbrechen" the window took before this is never committed.
    // False when the work is to stop.
    bool goOn() { return ask ? ask() : !stop.load(); }
    std::function<bool()> ask;
};

// Runs `work` on a new thread with a new connection named `name`, and returns once it has
// returned. Meanwhile the calling thread handles its events, and `answer` runs there about
// every 40 ms with the progress the work reported: when it returns false, `stop` is set.
// `work` runs even when the connection could not be opened; its first statement then fails.
void run(const QString &name, const std::function<void(Database &db, Control &control)> &work,
         const std::function<bool(int done)> &answer);

// `ids` as comma-separated lists for "IN (...)", each short enough for one statement to
// `db`'s server (its max_allowed_packet, with room to spare): one list for any number of
// articles a seller keeps, unless the server takes unusually small statements. Only numbers
// go in. Empty for no ids, or when the server could not be asked (db.lastErrorText says why).
QStringList idLists(Database &db, const QList<int> &ids);

} // namespace ConnectionAside
