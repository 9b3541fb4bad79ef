// Measures one synchronisation round for one account: 50,000 known listings (or the number
// given as the first argument) whose price, sales and watchers all changed, and 500 new ones
// with 3 pictures each, all served by a local fake marketplace. Prints the round's time (the
// fake server's own time, which includes writing the pages, taken out), the time the sqlite3
// shell takes for the same statements (every statement the round ran on its connection, as
// text with its values, replayed in one transaction on a copy of the database as it was
// before the round), and the peak memory before and after the round.
// It also runs the least the round's statements for the known listings can cost (prepared
// once, straight through SQLite) and prints the round's processor time against it.
// Goals: the round within 2 times the shell's replay, its processor time within 3 times the
// minimal workload's, at most 150 MB.
// With --new N the round reads N new listings instead of 500; with --new 0 the ratio to the
// minimal workload is that of the known listings alone.
// Usage: bench_sync [--new N] [known listings] [sqlite3 binary]
#include "bench/benchlistings.h"
#include "bench/syncround.h"
#include "core/database.h"
#include "tests/support/fakehttpserver.h"
#include "workers/ebay.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlDriver>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <time.h>

using Bench::peakKilobytes;
using Bench::reply;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::RecordedRequest;

using namespace Bench::SyncRound;

namespace {

int kKnown = 50000;
int kNewListings = kNew;

qint64 clockNs(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 monotonicNs()
{
    return clockNs(CLOCK_MONOTONIC);
}

// Processor time (user and system) of the children that have ended.
qint64 childrenCpuNs()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (qint64(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000
        + (qint64(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
}

// Writes every statement a connection runs, with its bound values, into a script; the time
// this takes is added up, so that it can be taken out of the round's time.
struct StatementLog
{
    FILE *out = nullptr;
    qint64 ns = 0;
    int statements = 0;
};

int logStatement(unsigned type, void *context, void *statement, void *text)
{
    const qint64 start = monotonicNs();
    auto *log = static_cast<StatementLog *>(context);
    const char *sql = static_cast<const char *>(text);
    // Triggers' comments, the transactions (the replay runs in one) and the connection's
    // settings are left out.
    static const char *const skipped[]
        = { "--", "BEGIN", "COMMIT", "ROLLBACK", "SAVEPOINT", "RELEASE", "PRAGMA", "START" };
    bool skip = type != SQLITE_TRACE_STMT;
    for (const char *prefix : skipped)
        skip = skip || strncasecmp(sql, prefix, std::strlen(prefix)) == 0;
    if (!skip) {
        char *expanded = sqlite3_expanded_sql(static_cast<sqlite3_stmt *>(statement));
        std::fputs(expanded ? expanded : sql, log->out);
        std::fputs(";\n", log->out);
        sqlite3_free(expanded);
        ++log->statements;
    }
    log->ns += monotonicNs() - start;
    return 0;
}

// The sqlite3 shell runs `script` in one transaction on a copy of `pristine`; the wall time,
// and the shell's processor time in *cpu.
double shellReplay(const QString &shell, const QString &pristine, const QString &dir,
                   const QString &script, double *cpu)
{
    const QString copy = dir + QStringLiteral("/replay.sqlite");
    QFile::remove(copy);
    if (!QFile::copy(pristine, copy))
        return -1;
    const QString wrapped = dir + QStringLiteral("/replay-all.sql");
    {
        QFile out(wrapped);
        QFile in(script);
        if (!out.open(QIODevice::WriteOnly) || !in.open(QIODevice::ReadOnly))
            return -1;
        out.write("PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\nBEGIN IMMEDIATE;\n");
        while (!in.atEnd())
            out.write(in.read(1 << 20));
        out.write("COMMIT;\n");
    }
    QProcess process;
    process.setStandardInputFile(wrapped);
    process.setStandardOutputFile(QProcess::nullDevice());
    const qint64 cpuBefore = childrenCpuNs();
    QElapsedTimer timer;
    timer.start();
    process.start(shell, { copy });
    if (!process.waitForFinished(1800000) || process.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3 shell failed: %s\n",
                     process.readAllStandardError().constData());
        return -1;
    }
    const double wall = timer.nsecsElapsed() / 1e9;
    *cpu = (childrenCpuNs() - cpuBefore) / 1e9;
    return wall;
}

// The least the round's statements for the known listings can cost: per known listing one
// SELECT by item number and account, one UPDATE and two activity INSERTs, each prepared
// once, 200 listings per transaction, straight through SQLite on a copy of `pristine`.
// Returns the processor time of this thread in seconds; negative on failure.
double minimalWorkload(const QString &pristine, const QString &dir, int known)
{
    const QString copy = dir + QStringLiteral("/minimal.sqlite");
    QFile::remove(copy);
    if (!QFile::copy(pristine, copy))
        return -1;
    sqlite3 *handle = nullptr;
    if (sqlite3_open(QFile::encodeName(copy).constData(), &handle) != SQLITE_OK)
        return -1;
    sqlite3_exec(handle, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
    const char *const texts[] = {
        "SELECT ListingType, CurrentPrice, Title, BidCount, Quantity, QuestionCount, WatchCount, "
        "SoldCount, id, Folder, Trash, Currency FROM articles WHERE ItemID = ? AND Account = ?",
        "UPDATE articles SET CurrentPrice=?, QuestionCount=?, BidCount=?, SoldCount=?, "
        "WatchCount=?, RefreshHash=? WHERE id=?",
        "INSERT INTO itemshistory (indate, itemid, title, databaseid, textinfo, infotype) "
        "VALUES (?, ?, ?, ?, ?, ?)",
    };
    sqlite3_stmt *statements[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (sqlite3_prepare_v2(handle, texts[i], -1, &statements[i], nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "minimal workload: %s\n", sqlite3_errmsg(handle));
            return -1;
        }
    }
    sqlite3_stmt *select = statements[0];
    sqlite3_stmt *update = statements[1];
    sqlite3_stmt *insert = statements[2];
    const qint64 start = clockNs(CLOCK_THREAD_CPUTIME_ID);
    const QByteArray stamp("2026-12-07 10:00:00");
    for (int n = 0; n < known; ++n) {
        if (n % 200 == 0)
            sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr);
        const QByteArray item = itemId(n).toLatin1();
        sqlite3_bind_text(select, 1, item.constData(), item.size(), SQLITE_STATIC);
        sqlite3_bind_int(select, 2, 1);
        int id = 0;
        QByteArray title;
        while (sqlite3_step(select) == SQLITE_ROW) {
            id = sqlite3_column_int(select, 8);
            title = reinterpret_cast<const char *>(sqlite3_column_text(select, 2));
        }
        sqlite3_reset(select);
        sqlite3_bind_text(update, 1, "24.50", -1, SQLITE_STATIC);
        sqlite3_bind_int(update, 2, 0);
        sqlite3_bind_int(update, 3, 0);
        sqlite3_bind_int(update, 4, 2);
        sqlite3_bind_int(update, 5, 7);
        sqlite3_bind_text(update, 6, stamp.constData(), stamp.size(), SQLITE_STATIC);
        sqlite3_bind_int(update, 7, id);
        sqlite3_step(update);
        sqlite3_reset(update);
        for (const char *type : { "sellcount", "watcher" }) {
            const QByteArray entryTitle = title + "|||7";
            sqlite3_bind_text(insert, 1, stamp.constData(), stamp.size(), SQLITE_STATIC);
            sqlite3_bind_text(insert, 2, item.constData(), item.size(), SQLITE_STATIC);
            sqlite3_bind_text(insert, 3, entryTitle.constData(), entryTitle.size(),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 4, id);
            sqlite3_bind_text(insert, 5, "hat einen neuen Verkauf", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 6, type, -1, SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        if (n % 200 == 199 || n == known - 1)
            sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr);
    }
    const double cpu = (clockNs(CLOCK_THREAD_CPUTIME_ID) - start) / 1e9;
    for (sqlite3_stmt *statement : statements)
        sqlite3_finalize(statement);
    sqlite3_close(handle);
    return cpu;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const int newOption = arguments.indexOf(QStringLiteral("--new"));
    if (newOption >= 0 && newOption + 1 < arguments.size()) {
        kNewListings = qMax(0, arguments.at(newOption + 1).toInt());
        arguments.erase(arguments.begin() + newOption, arguments.begin() + newOption + 2);
    }
    if (!arguments.isEmpty() && arguments.first().toInt() > 0)
        kKnown = arguments.first().toInt();
    const QString shell = arguments.size() > 1 ? arguments.at(1) : QStringLiteral("sqlite3");
    QLoggingCategory::setFilterRules(QStringLiteral("app.*.debug=false"));
    QTemporaryDir dir;
    auto db = std::make_unique<Database>(dir.path() + QStringLiteral("/data/"));
    fillDatabase(*db, kKnown);
    // The database as it was before the round, for the shell's replay.
    const QString pristine = dir.path() + QStringLiteral("/before.sqlite");
    if (!db->checkpoint()
        || !QFile::copy(db->getCurrentDataDir() + Database::getDatabaseName(), pristine)) {
        std::fprintf(stderr, "can't copy the database\n");
        return 1;
    }

    FakeHttpServer server;
    server.pointConfigHere();
    std::atomic<qint64> serverNs { 0 };
    serve(server, kKnown, serverNs, nullptr, kNewListings);
    const int total = kKnown + kNewListings;
    const int pageCount = (total + kPerPage - 1) / kPerPage;
    std::atomic<int> pictureRequests { 0 };

    Ebay ebay;
    ebay.db = new Database(true, QStringLiteral("ebayDB"), &ebay);
    StatementLog statements;
    const QString script = dir.path() + QStringLiteral("/round.sql");
    statements.out = std::fopen(QFile::encodeName(script).constData(), "w");
    auto *handle = *static_cast<sqlite3 *const *>(ebay.db->connection().driver()->handle().data());
    if (!statements.out || !handle
        || sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, logStatement, &statements) != SQLITE_OK) {
        std::fprintf(stderr, "can't record the round's statements\n");
        return 1;
    }
    int newsItems = 0;
    QObject::connect(&ebay, &Ebay::sendaddNewsItem, [&](const NewsItem &) { ++newsItems; });
    const long before = peakKilobytes();
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuStart = clockNs(CLOCK_THREAD_CPUTIME_ID);
    ebay.runRound();
    const qint64 roundCpuNs = clockNs(CLOCK_THREAD_CPUTIME_ID) - cpuStart - statements.ns;
    const qint64 roundNs = timer.nsecsElapsed() - serverNs.load() - statements.ns;
    sqlite3_trace_v2(handle, 0, nullptr, nullptr);
    std::fclose(statements.out);
    for (const RecordedRequest &request : server.requests())
        pictureRequests += request.path.startsWith(QLatin1String("/pics/")) ? 1 : 0;

    const int articles
        = db->selectOne(QStringLiteral("SELECT count(*) FROM articles")).value().toInt();
    const int changed = db->selectOne(QStringLiteral("SELECT count(*) FROM articles WHERE "
                                                     "SoldCount=2 AND WatchCount=7 AND "
                                                     "CurrentPrice>24.4"))
                            .value()
                            .toInt();
    if (articles != total || changed != total || pictureRequests != kNewListings * kPictures) {
        std::fprintf(stderr, "round incomplete: %d articles, %d changed, %d pictures\n", articles,
                     changed, pictureRequests.load());
        return 1;
    }
    const long peak = peakKilobytes();

    db.reset();
    double replayCpuS = 0;
    const double replayS = shellReplay(shell, pristine, dir.path(), script, &replayCpuS);
    if (replayS < 0)
        return 1;
    const double minimalCpuS = minimalWorkload(pristine, dir.path(), kKnown);
    if (minimalCpuS < 0)
        return 1;

    std::printf("one round: %d known listings changed, %d new with %d pictures each\n", kKnown,
                kNewListings, kPictures);
    std::printf("%d pages, %d item reads, %d picture downloads, %d activity entries\n", pageCount,
                kNewListings, pictureRequests.load(), newsItems);
    std::printf("round time without the fake server: %.2f s (server's own time %.3f s, "
                "recording the statements %.3f s)\n",
                roundNs / 1e9, serverNs.load() / 1e9, statements.ns / 1e9);
    std::printf("shell replay in one transaction: %.2f s (%d statements)\n", replayS,
                statements.statements);
    std::printf("round / shell replay: %.2f; per listing %.1f us\n", roundNs / 1e9 / replayS,
                roundNs / 1e3 / total);
    // Less dependent on what else the machine does: the processor time of the round's thread
    // against that of the shell.
    std::printf("processor time: round's thread %.2f s, shell %.2f s, ratio %.2f\n",
                roundCpuNs / 1e9, replayCpuS, roundCpuNs / 1e9 / replayCpuS);
    std::printf("minimal prepared workload for the known listings: %.2f s processor time, "
                "%.1f us per known listing\n",
                minimalCpuS, minimalCpuS * 1e6 / kKnown);
    std::printf("round's processor time per known listing / minimal workload's: %.2f (goal: at "
                "most 3; %s)\n",
                roundCpuNs / 1e9 / minimalCpuS,
                kNewListings > 0 ? "the round's time includes the new listings"
                                 : "a round of known listings only");
    std::printf("peak memory before the round: %.1f MB, after it: %.1f MB\n", before / 1024.0,
                peak / 1024.0);
    return 0;
}
