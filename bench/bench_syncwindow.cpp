// Measures one synchronisation round with the real main window open on "Aktive Angebote":
// N known listings whose sales and watchers changed plus 500 new ones with 3 pictures each,
// served by a local fake marketplace, read by the window's own synchronisation worker (the
// same data as bench_sync). For each N (default 10,000, 50,000 and 100,000) it runs bench_sync
// for the same N in a child process (the round without the window) and the window in another,
// and prints: the round's time with the window (the fake server's own time taken out),
// bench_sync's round time, their ratio, the processor time of the window's thread, the longest
// gap of a 10 ms timer in the window's thread, the longest time without a paint of the article
// list and of the activity list while the round ran, and the window's resident memory before
// the round, after it and after a second round in which every known listing changed again
// (and after each further round asked for).
// Then the time per listing at the largest N against that at the smallest.
// Options:
//   --busy K            K processes spinning at normal priority beside the whole run (the
//                       workers run at a lower priority and must still finish);
//   --positions-known   a third child per N: the window's round after every row of the article
//                       list was looked up once through the list's own model beforehand, so
//                       that no change of a row pays for finding it; prints the window thread's
//                       processor time against that reference;
//   --rounds R          R rounds in all (at least 2, the default), each changing every known
//                       listing again: the memory each round after the first added.
// Goals at 50,000: the round with the window within 1.3 times the round without it; the time
// per listing within 1.3 times that at 10,000; no event-loop gap over 100 ms; at most 200 MB
// resident after the round. At 100,000: the window thread's processor time within 1.3 times
// the reference, no gap over 100 ms, at most 220 MB after the round and nothing added by the
// second round.
// Usage (needs a display):
//   xvfb-run -a bench_syncwindow [--busy K] [--positions-known] [--rounds R] [N ...]
#include "bench/benchlistings.h"
#include "bench/residentmemory.h"
#include "bench/syncround.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/fakehttpserver.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using Bench::reply;
using Bench::residentKilobytes;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using namespace Bench::SyncRound;

namespace {

// Runs the event loop (without spinning: the workers get the processor) until `done` or
// `timeoutMs` passed.
void waitUntil(const std::function<bool()> &done, qint64 timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || waited.elapsed() >= timeoutMs)
            loop.quit();
    });
    poll.start(20);
    if (!done())
        loop.exec();
}

// The longest time between two paints of a widget while the round runs.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *widget) { widget->installEventFilter(this); }
    void start(qint64 now)
    {
        m_last = now;
        m_running = true;
    }
    void stop(qint64 now)
    {
        note(now);
        m_running = false;
    }
    qint64 longestNs() const { return m_longest; }
    int paints() const { return m_paints; }
    QElapsedTimer *clock = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_running && clock) {
            note(clock->nsecsElapsed());
            ++m_paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void note(qint64 now)
    {
        m_longest = qMax(m_longest, now - m_last);
        m_last = now;
    }
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_paints = 0;
    bool m_running = false;
};

// Reaches the list's own lookup of an item's model index, which remembers the row it found.
struct ListPeek : QTreeWidget
{
    static QModelIndex indexOf(const QTreeWidget *list, const QTreeWidgetItem *item)
    {
        using Lookup = QModelIndex (QTreeWidget::*)(const QTreeWidgetItem *, int) const;
        return (list->*static_cast<Lookup>(&ListPeek::indexFromItem))(item, 0);
    }
};

// The child: the real window with its workers on a prepared data folder, two rounds.
int runWindow(int known, bool positionsKnown, int rounds)
{
    QLoggingCategory::setFilterRules(QStringLiteral("app.*.debug=false\napp.*.info=false"));
    {
        Database db(QString(), nullptr);
        fillDatabase(db, known);
        db.checkpoint();
    }

    FakeHttpServer server;
    server.pointConfigHere();
    std::atomic<qint64> serverNs { 0 };
    std::atomic<int> shownRound { 0 };
    serve(server, known, serverNs, &shownRound);
    const int total = known + kNew;

    MainWindow window;
    window.resize(1024, 700);
    window.show();
    auto *list = window.findChild<QTreeWidget *>(QStringLiteral("itemlist"));
    auto *news = window.findChild<QAbstractItemView *>(QStringLiteral("newslist"));
    if (!list || !news)
        return 1;
    waitUntil([&] { return list->topLevelItemCount() >= known; }, 600000);
    // Settle: the first paints and the delayed start-up work are done.
    waitUntil([] { return false; }, 1500);
    // The heap in use, without what the allocator keeps free.
    const auto heapInUse = [] {
        return double(mallinfo2().uordblks) / (1024 * 1024);
    };
    server.clearRequests();
    const double heapBefore = heapInUse();
    if (positionsKnown) {
        QElapsedTimer primed;
        primed.start();
        for (int row = list->topLevelItemCount() - 1; row >= 0; --row)
            ListPeek::indexOf(list, list->topLevelItem(row));
        std::printf("primed %.3f\n", primed.nsecsElapsed() / 1e9);
    }
    const long rssBefore = residentKilobytes();

    QElapsedTimer clock;
    clock.start();
    PaintWatch listPaints(list->viewport());
    PaintWatch newsPaints(news->viewport());
    listPaints.clock = &clock;
    newsPaints.clock = &clock;

    // The 10 ms timer: its longest gap while the round runs, and the round's start and end as
    // the window sees them.
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    qint64 roundStart = -1;
    qint64 roundEnd = -1;
    // The processor time of the window's thread while the round runs: the window's share.
    qint64 cpuStart = 0;
    qint64 cpuEnd = 0;
    const auto threadCpuNs = [] {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        // The fake marketplace shares the window's process: what it records of each request
        // is the benchmark's, not the window's, and would count into the window's memory.
        if (++ticks % 25 == 0)
            server.clearRequests();
        const bool syncing = qApp->property("inSync").toBool();
        if (roundStart < 0 && syncing) {
            roundStart = now;
            cpuStart = threadCpuNs();
            serverNs = 0;
            listPaints.start(now);
            newsPaints.start(now);
        } else if (roundStart >= 0 && roundEnd < 0) {
            longestGap = qMax(longestGap, now - lastTick);
            if (!syncing) {
                roundEnd = now;
                cpuEnd = threadCpuNs();
                listPaints.stop(now);
                newsPaints.stop(now);
            }
        }
        lastTick = now;
    });
    ticker.start();
    emit window.startSyncNow();

    waitUntil([&] { return roundEnd >= 0; }, 3600000);
    const qint64 serverDuring = serverNs.load();
    if (roundEnd < 0)
        return 2;
    // The window takes in what is still on its way.
    const qint64 caughtUpFrom = clock.nsecsElapsed();
    waitUntil([&] { return list->topLevelItemCount() >= total; }, 3600000);
    const double caughtUp = (clock.nsecsElapsed() - caughtUpFrom) / 1e9;
    waitUntil([] { return false; }, 500);
    const long rssAfter = residentKilobytes();
    const double heapAfter = heapInUse();

    const double round = (roundEnd - roundStart - serverDuring) / 1e9;
    std::printf("window-round %.3f\n", round);
    std::printf("server %.3f\n", serverDuring / 1e9);
    std::printf("window-cpu %.3f\n", (cpuEnd - cpuStart) / 1e9);
    std::printf("gap %.1f\n", longestGap / 1e6);
    std::printf("list-paint %.1f %d\n", listPaints.longestNs() / 1e6, listPaints.paints());
    std::printf("news-paint %.1f %d\n", newsPaints.longestNs() / 1e6, newsPaints.paints());
    std::printf("caught-up %.3f\n", caughtUp);

    // Further rounds in which every known listing changes again: what each leaves behind.
    QVector<long> rssAfterRound { rssAfter };
    QVector<double> heapAfterRound { heapAfter };
    double second = 0;
    qint64 secondGap = 0;
    for (int later = 1; later < rounds; ++later) {
        roundStart = -1;
        roundEnd = -1;
        longestGap = 0;
        shownRound = later;
        const qint64 from = clock.nsecsElapsed();
        emit window.startSyncNow();
        waitUntil([&] { return roundEnd >= 0; }, 3600000);
        if (roundEnd < 0)
            return 2;
        if (later == 1) {
            second = (clock.nsecsElapsed() - from) / 1e9;
            secondGap = longestGap;
        }
        waitUntil([] { return false; }, 2000);
        rssAfterRound << residentKilobytes();
        heapAfterRound << heapInUse();
    }

    int articles = 0;
    int changed = 0;
    {
        Database probe(true, QStringLiteral("bench"));
        articles = probe.selectOne(QStringLiteral("SELECT count(*) FROM articles")).value().toInt();
        // In round r (from 0) a listing shows 2 + r sold and 7 + r watchers.
        changed = probe
                      .selectOne(QStringLiteral("SELECT count(*) FROM articles WHERE "
                                                "SoldCount=%1 AND WatchCount=%2 AND "
                                                "CurrentPrice>24.4")
                                     .arg(2 + rounds - 1)
                                     .arg(7 + rounds - 1))
                      .value()
                      .toInt();
    }
    if (articles != total || changed != total) {
        std::fprintf(stderr, "round incomplete: %d articles, %d changed\n", articles, changed);
        return 3;
    }
    std::printf("second-round %.3f %.1f\n", second, secondGap / 1e6);
    std::printf("rss %.1f", rssBefore / 1024.0);
    for (long rss : qAsConst(rssAfterRound))
        std::printf(" %.1f", rss / 1024.0);
    std::printf("\nheap %.1f", heapBefore);
    for (double heap : qAsConst(heapAfterRound))
        std::printf(" %.1f", heap);
    std::printf("\n");
    std::printf("rows %d\n", list->topLevelItemCount());
    std::fflush(stdout);
    window.close();
    return 0;
}

// The figures a child printed, by their first word.
QHash<QString, QStringList> readFigures(const QByteArray &output)
{
    QHash<QString, QStringList> figures;
    for (const QByteArray &line : output.split('\n')) {
        const QStringList words
            = QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() > 1)
            figures.insert(words.first(), words.mid(1));
    }
    return figures;
}

// bench_sync's round without the window, and its ratio to the shell's replay.
bool runBenchSync(int known, double *round, double *shellRatio)
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath())
                                .dir()
                                .filePath(QStringLiteral("bench_sync"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, { QString::number(known) });
    if (!child.waitForFinished(3600000) || child.exitCode() != 0)
        return false;
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    const auto number = [&output](const QString &pattern) {
        const QRegularExpressionMatch match = QRegularExpression(pattern).match(output);
        return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
    };
    *round = number(QStringLiteral("round time without the fake server: ([0-9.]+) s"));
    *shellRatio = number(QStringLiteral("round / shell replay: ([0-9.]+)"));
    return *round > 0;
}

struct Result
{
    int known = 0;
    double withWindow = 0;
    double without = 0;
};

// Runs the window's child for `known` listings; its figures, empty when it failed.
QHash<QString, QStringList> runWindowChild(int known, bool positionsKnown, int rounds,
                                           double *seconds)
{
    // Everything the window writes goes below one temporary folder.
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.path() + QStringLiteral("/cache"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    QStringList arguments { QStringLiteral("--window"), QString::number(known) };
    if (positionsKnown)
        arguments << QStringLiteral("--positions-known");
    arguments << QStringLiteral("--rounds") << QString::number(rounds);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(7200000) || child.exitCode() != 0) {
        std::fprintf(stderr, "the window process failed for %d (exit %d)\n", known,
                     child.exitCode());
        return {};
    }
    *seconds = timer.nsecsElapsed() / 1e9;
    return readFigures(child.readAllStandardOutput());
}

// Processes that spin at normal priority until they are killed (or this process ends).
QVector<pid_t> startBusyProcesses(int count)
{
    QVector<pid_t> busy;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            volatile unsigned long spins = 0;
            for (;;)
                spins = spins + 1;
        }
        if (pid > 0)
            busy << pid;
    }
    return busy;
}

void stopBusyProcesses(const QVector<pid_t> &busy)
{
    for (pid_t pid : busy)
        kill(pid, SIGKILL);
    for (pid_t pid : busy)
        waitpid(pid, nullptr, 0);
}

double figure(const QHash<QString, QStringList> &figures, const char *name, int at = 0)
{
    return figures.value(QLatin1String(name)).value(at).toDouble();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 2 && qstrcmp(argv[1], "--window") == 0) {
        QApplication app(argc, argv);
        bool positionsKnown = false;
        int rounds = 2;
        for (int i = 3; i < argc; ++i) {
            if (qstrcmp(argv[i], "--positions-known") == 0)
                positionsKnown = true;
            else if (qstrcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
                rounds = qMax(2, QByteArray(argv[++i]).toInt());
        }
        return runWindow(QByteArray(argv[2]).toInt(), positionsKnown, rounds);
    }

    QCoreApplication app(argc, argv);
    QList<int> sizes;
    int busyCount = 0;
    bool positionsKnown = false;
    int rounds = 2;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--busy") == 0 && i + 1 < argc)
            busyCount = QByteArray(argv[++i]).toInt();
        else if (qstrcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = qMax(2, QByteArray(argv[++i]).toInt());
        else if (qstrcmp(argv[i], "--positions-known") == 0)
            positionsKnown = true;
        else if (QByteArray(argv[i]).toInt() > 0)
            sizes << QByteArray(argv[i]).toInt();
    }
    if (sizes.isEmpty())
        sizes = { 10000, 50000, 100000 };

    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    if (loadAverage.open(QIODevice::ReadOnly))
        std::printf("load average at start: %s", loadAverage.readLine().constData());
    // The workers run below normal priority: beside busy processes they get a smaller share
    // of the processor, but they get one.
    const QVector<pid_t> busy = startBusyProcesses(busyCount);
    if (busyCount > 0)
        std::printf("%d busy processes at normal priority beside the run\n", busy.size());

    QList<Result> results;
    for (int known : sizes) {
        Result result;
        result.known = known;
        double shellRatio = -1;
        if (!runBenchSync(known, &result.without, &shellRatio)) {
            std::fprintf(stderr, "bench_sync failed for %d\n", known);
            stopBusyProcesses(busy);
            return 1;
        }
        double seconds = 0;
        const auto figures = runWindowChild(known, false, rounds, &seconds);
        if (figures.isEmpty()) {
            stopBusyProcesses(busy);
            return 1;
        }
        result.withWindow = figure(figures, "window-round");
        results << result;

        std::printf("--- %d known listings + %d new, window open on \"Aktive Angebote\"\n", known,
                    kNew);
        std::printf("%-52s %9.2f s\n", "round with the window (server's time taken out)",
                    result.withWindow);
        std::printf("%-52s %9.2f s\n", "round without it (bench_sync, same run)", result.without);
        std::printf("%-52s %9.2f   (goal at 50,000: at most 1.3)\n", "ratio with / without",
                    result.withWindow / result.without);
        std::printf("%-52s %9.2f   (kept goal: at most 2)\n", "bench_sync round / shell replay",
                    shellRatio);
        std::printf("%-52s %9.2f s\n", "processor time of the window's thread in the round",
                    figure(figures, "window-cpu"));
        std::printf("%-52s %9.1f ms (goal: at most 100)\n", "longest gap of a 10 ms timer",
                    figure(figures, "gap"));
        std::printf("%-52s %9.1f ms (%s paints)\n", "longest time without a paint: article list",
                    figure(figures, "list-paint"),
                    qPrintable(figures.value(QStringLiteral("list-paint")).value(1)));
        std::printf("%-52s %9.1f ms (%s paints)\n", "longest time without a paint: activity list",
                    figure(figures, "news-paint"),
                    qPrintable(figures.value(QStringLiteral("news-paint")).value(1)));
        std::printf("%-52s %9.1f MB\n", "window's resident memory before the round",
                    figure(figures, "rss", 0));
        std::printf("%-52s %9.1f MB (goal: at most 200; 220 at 100,000)\n",
                    "window's resident memory after it", figure(figures, "rss", 1));
        std::printf("%-52s %9.2f s\n", "window done with the round's entries after its end",
                    figure(figures, "caught-up"));
        std::printf("%-52s %9.2f s (longest gap %.1f ms)\n",
                    "second round, every known listing changed again",
                    figure(figures, "second-round", 0), figure(figures, "second-round", 1));
        std::printf("%-52s %9.1f MB (goal: nothing)\n", "resident memory the second round added",
                    figure(figures, "rss", 2) - figure(figures, "rss", 1));
        for (int round = 3; round <= rounds; ++round) {
            const QByteArray label
                = "resident memory round " + QByteArray::number(round) + " added";
            std::printf("%-52s %9.1f MB (heap in use after it %.1f MB)\n", label.constData(),
                        figure(figures, "rss", round) - figure(figures, "rss", round - 1),
                        figure(figures, "heap", round));
        }
        std::printf("%-52s %5.1f / %5.1f / %5.1f MB\n",
                    "heap in use before / after the round / after the 2nd",
                    figure(figures, "heap", 0), figure(figures, "heap", 1),
                    figure(figures, "heap", 2));
        std::printf("%-52s %9.1f s\n", "window process, start to exit", seconds);
        std::fflush(stdout);

        if (positionsKnown) {
            const auto reference = runWindowChild(known, true, 2, &seconds);
            if (reference.isEmpty()) {
                stopBusyProcesses(busy);
                return 1;
            }
            std::printf("%-52s %9.2f s (looking them up took %.2f s)\n",
                        "window thread, same round, every row's position known",
                        figure(reference, "window-cpu"), figure(reference, "primed"));
            std::printf("%-52s %9.2f   (goal: at most 1.3)\n",
                        "window thread's processor time / that",
                        figure(figures, "window-cpu") / figure(reference, "window-cpu"));
            std::fflush(stdout);
        }
    }
    stopBusyProcesses(busy);

    if (results.size() > 1) {
        const Result &small = results.first();
        const Result &large = results.last();
        const double perSmall = small.withWindow / (small.known + kNew);
        const double perLarge = large.withWindow / (large.known + kNew);
        std::printf("--- growth\n");
        std::printf("time per listing with the window at %d: %.1f us, at %d: %.1f us\n",
                    small.known, perSmall * 1e6, large.known, perLarge * 1e6);
        std::printf("%-52s %9.2f   (goal: at most 1.3)\n", "per-listing time, largest / smallest N",
                    perLarge / perSmall);
    }
    return 0;
}
