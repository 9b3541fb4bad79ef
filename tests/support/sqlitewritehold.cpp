#include "tests/support/sqlitewritehold.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <sqlite3.h>

namespace TestSupport {

namespace {

// What every connection that got the hook asks; it outlives them.
struct Hold
{
    QMutex mutex;
    QByteArray table;
    qint64 rowId = 0;
    bool armed = false;
    QThread *commitElsewhere = nullptr; // holds a commit not made on this thread instead

    QSemaphore reached;
    QSemaphore goOn;
};

Hold &hold()
{
    static Hold state;
    return state;
}

void holdHere()
{
    Hold &state = hold();
    state.reached.release();
    state.goOn.acquire();
}

// SQLite calls it on the writing connection's thread for every row a statement writes.
void written(void *, int, const char *, const char *table, sqlite3_int64 rowId)
{
    Hold &state = hold();
    {
        QMutexLocker locker(&state.mutex);
        if (!state.armed || state.commitElsewhere || rowId != state.rowId || state.table != table)
            return;
        state.armed = false;
    }
    holdHere();
}

// SQLite calls it on the committing connection's thread before a commit is written; 0 lets
// the commit go on.
int committing(void *)
{
    Hold &state = hold();
    {
        QMutexLocker locker(&state.mutex);
        if (!state.armed || !state.commitElsewhere
            || QThread::currentThread() == state.commitElsewhere)
            return 0;
        state.armed = false;
    }
    holdHere();
    return 0;
}

int install(sqlite3 *db, const char **, const struct sqlite3_api_routines *)
{
    sqlite3_update_hook(db, written, nullptr);
    sqlite3_commit_hook(db, committing, nullptr);
    return SQLITE_OK;
}

void (*entryPoint())()
{
    // SQLite takes every extension's entry point as a function without arguments.
    return reinterpret_cast<void (*)()>(install);
}

} // namespace

SqliteWriteHold::SqliteWriteHold(AtCommit)
    : SqliteWriteHold(QByteArray(), 0)
{
    Hold &state = hold();
    QMutexLocker locker(&state.mutex);
    state.commitElsewhere = QThread::currentThread();
}

SqliteWriteHold::SqliteWriteHold(const QByteArray &table, qint64 rowId)
{
    Hold &state = hold();
    {
        QMutexLocker locker(&state.mutex);
        state.table = table;
        state.rowId = rowId;
        state.commitElsewhere = nullptr;
        state.armed = true;
    }
    // Left over from an earlier hold: nothing.
    state.reached.tryAcquire(state.reached.available());
    state.goOn.tryAcquire(state.goOn.available());
    sqlite3_auto_extension(entryPoint());
}

SqliteWriteHold::~SqliteWriteHold()
{
    letGo();
    sqlite3_cancel_auto_extension(entryPoint());
}

bool SqliteWriteHold::reached(int ms)
{
    return hold().reached.tryAcquire(1, ms);
}

void SqliteWriteHold::letGo()
{
    Hold &state = hold();
    bool wasArmed = false;
    {
        QMutexLocker locker(&state.mutex);
        wasArmed = state.armed;
        state.armed = false;
    }
    // A writer held (or one that got past the check just now) goes on.
    if (!wasArmed)
        state.goOn.release();
}

} // namespace TestSupport
