#include "tests/support/sqlitecommitrefusal.h"

#include <QMutex>

#include <sqlite3.h>

#include <thread>

namespace TestSupport {

namespace {

// What every connection that got the hook asks; it outlives them.
struct Refusal
{
    QMutex mutex;
    bool armed = false;
    std::thread::id thread;
    int refusals = 0;
};

Refusal &refusal()
{
    static Refusal state;
    return state;
}

int onCommit(void *)
{
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    if (!state.armed || state.thread != std::this_thread::get_id())
        return 0;
    state.armed = false;
    ++state.refusals;
    return 1; // SQLite rolls the transaction back and fails the COMMIT
}

int install(sqlite3 *db, const char **, const struct sqlite3_api_routines *)
{
    sqlite3_commit_hook(db, onCommit, nullptr);
    return SQLITE_OK;
}

void (*entryPoint())()
{
    // SQLite takes every extension's entry point as a function without arguments.
    return reinterpret_cast<void (*)()>(install);
}

} // namespace

SqliteCommitRefusal::SqliteCommitRefusal()
{
    {
        Refusal &state = refusal();
        QMutexLocker locker(&state.mutex);
        state.armed = false;
        state.refusals = 0;
    }
    sqlite3_auto_extension(entryPoint());
}

SqliteCommitRefusal::~SqliteCommitRefusal()
{
    sqlite3_cancel_auto_extension(entryPoint());
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    state.armed = false;
}

void SqliteCommitRefusal::refuseNextOnThisThread()
{
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    state.armed = true;
    state.thread = std::this_thread::get_id();
}

int SqliteCommitRefusal::refusals() const
{
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    return state.refusals;
}

} // namespace TestSupport
