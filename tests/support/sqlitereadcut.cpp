#include "tests/support/sqlitereadcut.h"

#include <QMutex>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

#include <atomic>

namespace TestSupport {

namespace {

// What every connection that got the hooks asks; it outlives them.
struct Cut
{
    QMutex mutex;
    QByteArray text;
    int rows = 0;
    int occurrence = 0; // matching statements still to let pass, plus one; 0: not armed
    sqlite3_stmt *statement = nullptr; // the statement being counted
    int rowsGiven = 0;
    sqlite3 *interruptNow = nullptr; // the connection whose step ends at its next check
    int cuts = 0;
};

// Whether anything is armed or pending: the hooks of every other statement and check return
// without the lock.
std::atomic<bool> busy { false };

Cut &cut()
{
    static Cut state;
    return state;
}

bool matches(const Cut &state, sqlite3_stmt *statement)
{
    const char *sql = sqlite3_sql(statement);
    return sql && !state.text.isEmpty() && QByteArray(sql).contains(state.text);
}

// SQLite calls it as a statement starts running and as it yields a row (in the step that
// yields it, before it returns).
int trace(unsigned type, void *, void *p, void *)
{
    auto *statement = static_cast<sqlite3_stmt *>(p);
    Cut &state = cut();
    if (!busy.load())
        return 0;
    QMutexLocker locker(&state.mutex);
    if (state.occurrence <= 0)
        return 0;
    if (type == SQLITE_TRACE_STMT) {
        if (!matches(state, statement)) {
            if (state.statement == statement)
                state.statement = nullptr;
            return 0;
        }
        state.statement = statement;
        state.rowsGiven = 0;
        // Cut before its first row: the step that begins it ends at its next check.
        if (state.rows == 0 && --state.occurrence == 0) {
            state.statement = nullptr;
            state.interruptNow = sqlite3_db_handle(statement);
        }
        return 0;
    }
    if (type != SQLITE_TRACE_ROW || statement != state.statement)
        return 0;
    if (++state.rowsGiven <= state.rows)
        return 0;
    // The row after the last one given: an earlier matching statement passes whole.
    state.statement = nullptr;
    if (--state.occurrence > 0)
        return 0;
    // The progress handler, asked as this step returns its row, ends the step instead.
    state.interruptNow = sqlite3_db_handle(statement);
    return 0;
}

int progress(void *db)
{
    Cut &state = cut();
    if (!busy.load())
        return 0;
    QMutexLocker locker(&state.mutex);
    if (!state.interruptNow || state.interruptNow != db)
        return 0;
    state.interruptNow = nullptr;
    busy = false;
    ++state.cuts;
    return 1;
}

int install(sqlite3 *db, const char **, const struct sqlite3_api_routines *)
{
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT | SQLITE_TRACE_ROW, trace, nullptr);
    // Asked at every check of a running statement; it answers from the state alone.
    sqlite3_progress_handler(db, 1, progress, db);
    return SQLITE_OK;
}

void (*entryPoint())()
{
    // SQLite takes every extension's entry point as a function without arguments.
    return reinterpret_cast<void (*)()>(install);
}

} // namespace

SqliteReadCut::SqliteReadCut()
{
    {
        Cut &state = cut();
        QMutexLocker locker(&state.mutex);
        state.occurrence = 0;
        state.statement = nullptr;
        state.interruptNow = nullptr;
        busy = false;
        state.cuts = 0;
    }
    sqlite3_auto_extension(entryPoint());
}

SqliteReadCut::~SqliteReadCut()
{
    sqlite3_cancel_auto_extension(entryPoint());
    Cut &state = cut();
    QMutexLocker locker(&state.mutex);
    state.occurrence = 0;
    state.statement = nullptr;
    state.interruptNow = nullptr;
    busy = false;
}

void SqliteReadCut::alsoOn(const QSqlDatabase &connection)
{
    if (connection.driverName() != QLatin1String("QSQLITE"))
        return;
    const QVariant handle = connection.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        if (sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData()))
            install(db, nullptr, nullptr);
    }
}

void SqliteReadCut::cutAfter(const QByteArray &text, int rows, int occurrence)
{
    Q_ASSERT(rows >= 0 && occurrence >= 1);
    Cut &state = cut();
    QMutexLocker locker(&state.mutex);
    state.text = text;
    state.rows = rows;
    state.occurrence = occurrence;
    state.statement = nullptr;
    state.interruptNow = nullptr;
    busy = true;
}

int SqliteReadCut::cuts() const
{
    Cut &state = cut();
    QMutexLocker locker(&state.mutex);
    return state.cuts;
}

} // namespace TestSupport
