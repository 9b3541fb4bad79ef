#include "tests/support/sqlitereadrefusal.h"

#include <QMutex>
#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace TestSupport {

namespace {

// What every connection that got the authorizer asks; it outlives them.
struct Refusal
{
    QMutex mutex;
    QByteArray table;
    bool active = false;
    bool once = false;
    int refusals = 0;
};

Refusal &refusal()
{
    static Refusal state;
    return state;
}

int authorize(void *, int action, const char *first, const char *second, const char *, const char *)
{
    // A column read, or a pragma about the table ("table_info(articles)").
    const char *table = action == SQLITE_READ ? first : action == SQLITE_PRAGMA ? second : nullptr;
    if (!table)
        return SQLITE_OK;
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    if (!state.active || qstricmp(table, state.table.constData()) != 0)
        return SQLITE_OK;
    ++state.refusals;
    // The statement fails at its first column refused.
    if (state.once)
        state.active = false;
    return SQLITE_DENY;
}

int install(sqlite3 *db, const char **, const struct sqlite3_api_routines *)
{
    sqlite3_set_authorizer(db, authorize, nullptr);
    return SQLITE_OK;
}

void (*entryPoint())()
{
    // SQLite takes every extension's entry point as a function without arguments.
    return reinterpret_cast<void (*)()>(install);
}

} // namespace

SqliteReadRefusal::SqliteReadRefusal()
{
    {
        Refusal &state = refusal();
        QMutexLocker locker(&state.mutex);
        state.active = false;
        state.refusals = 0;
    }
    sqlite3_auto_extension(entryPoint());
}

SqliteReadRefusal::SqliteReadRefusal(const QString &table, bool once)
    : SqliteReadRefusal()
{
    refuse(table, once);
}

void SqliteReadRefusal::refuse(const QString &table, bool once)
{
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    state.table = table.toUtf8();
    state.active = true;
    state.once = once;
}

SqliteReadRefusal::~SqliteReadRefusal()
{
    sqlite3_cancel_auto_extension(entryPoint());
    setActive(false);
}

void SqliteReadRefusal::alsoOn(const QSqlDatabase &connection)
{
    if (connection.driverName() != QLatin1String("QSQLITE"))
        return;
    const QVariant handle = connection.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        if (sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData()))
            install(db, nullptr, nullptr);
    }
}

void SqliteReadRefusal::setActive(bool active)
{
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    state.active = active;
}

int SqliteReadRefusal::refusals() const
{
    Refusal &state = refusal();
    QMutexLocker locker(&state.mutex);
    return state.refusals;
}

} // namespace TestSupport
