#pragma once

class Database;

// One transaction of a Database connection, the one way the program writes several
// statements as one: begun when made, committed by commit(), undone when it goes without
// having been committed (also on an early return). Made while another of the same connection
// is open, it is a savepoint of that one: its commit keeps its part for the outer one to
// commit, its rollback undoes only its part.
//
// It fails as a whole: once any statement inside it failed, a read as well as a write,
// commit() undoes everything and returns false with that first failure as the connection's
// lastErrorText (see Database::FailureTolerated for the rare statement whose failure is
// harmless). A savepoint in which a statement failed is undone by its commit(), which returns
// false, and the transaction around it fails too unless its caller undoes the savepoint with
// rollback() and goes on.
//
// When the connection is lost inside it, the server undoes it: every further statement of it
// fails until it ends, so nothing of it is written in parts. When the answer to the commit
// itself is lost, the commit fails with the connection's lastOutcome() Unknown: the server
// may have committed; look up what it wrote before writing it again.
class Transaction
{
public:
    explicit Transaction(Database &db);
    explicit Transaction(Database *db)
        : Transaction(*db)
    { }
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // False when it could not be begun: then nothing is written through it.
    bool isOpen() const { return m_open; }
    // True when everything written in it is kept (for a savepoint: part of the outer one).
    // False when nothing is, or when the connection's lastOutcome() is Unknown.
    [[nodiscard]] bool commit();
    // Undoes what was written in it.
    void rollback();

private:
    Database &m_db;
    bool m_open = false;
};
