#pragma once

namespace TestSupport {

// Makes SQLite refuse a commit, as a full disk or a file taken away refuses it: the commit
// hook turns the chosen COMMIT into a ROLLBACK, which the connection reports as a failed
// commit, and nothing of its transaction is kept. It holds for the connections opened while
// it lives, whatever thread opens them (the background worker opens its connection anew for
// each fresh database). A server's commit is refused with the MySqlProxy instead.
class SqliteCommitRefusal
{
public:
    SqliteCommitRefusal();
    ~SqliteCommitRefusal();
    SqliteCommitRefusal(const SqliteCommitRefusal &) = delete;
    SqliteCommitRefusal &operator=(const SqliteCommitRefusal &) = delete;

    // The next commit of a connection used on the calling thread is refused, once (a
    // statement outside a transaction commits as well).
    void refuseNextOnThisThread();
    // How many commits were refused so far.
    int refusals() const;
};

} // namespace TestSupport
