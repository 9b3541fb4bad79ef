#pragma once

#include <QByteArray>

namespace TestSupport {

// Holds the connection of a local file that writes one chosen row (inserts, changes or
// deletes it) until let go: a command running beside the window is caught half-way through
// its writes, inside its transaction, so that what the window does meanwhile ("Abbrechen",
// closing) comes at a known point and not at a guessed time. Once: the first write of that
// row is held, later ones pass. It holds for the connections opened while it lives, whatever
// thread opens them (the background worker's opens its connection anew for each store). One
// at a time; when it goes, a held writer goes on.
//
//     TestSupport::SqliteWriteHold hold("articles", 120);
//     ... the command starts on its thread ...
//     QVERIFY(hold.reached());
//     ... "Abbrechen" ...
//     hold.letGo();
class SqliteWriteHold
{
public:
    SqliteWriteHold(const QByteArray &table, qint64 rowId);
    // Holds instead the first commit made on another thread than the one making the hold,
    // before it is written: the writer has sent its commit and waits for it.
    struct AtCommit
    {
    };
    explicit SqliteWriteHold(AtCommit);
    ~SqliteWriteHold();
    SqliteWriteHold(const SqliteWriteHold &) = delete;
    SqliteWriteHold &operator=(const SqliteWriteHold &) = delete;

    // Waits until the write is held, `ms` at most.
    bool reached(int ms = 10000);
    // Lets the held writer go on; nothing more is held.
    void letGo();
};

} // namespace TestSupport
