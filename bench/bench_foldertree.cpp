// Measures the start of the main window on a data folder whose user folders are nested
// N levels deep (chain) or lie N side by side (flat), each holding one article. A child
// process starts the real window on that folder and reports the time from its start until the
// window is shown with its tree, the folders the tree shows and its peak memory; the parent
// reports how the child ended (a crash shows as a signal).
// Usage (needs a display): xvfb-run -a bench_foldertree chain|flat N
#include "benchcheck.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>

namespace {

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Every index below the invisible root, without recursion.
int shownFolders(const QAbstractItemModel *model)
{
    int count = 0;
    QList<QModelIndex> pending { QModelIndex() };
    while (!pending.isEmpty()) {
        const QModelIndex parent = pending.takeLast();
        for (int row = 0; row < model->rowCount(parent); ++row) {
            ++count;
            pending.append(model->index(row, 0, parent));
        }
    }
    return count;
}

int runWindow(const QElapsedTimer &sinceStart)
{
    MainWindow window;
    window.show();
    QCoreApplication::processEvents();
    const double shown = sinceStart.nsecsElapsed() / 1e9;
    const auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeView"));
    std::printf("main() until the window is shown            %8.3f s\n", shown);
    std::printf("peak memory (VmHWM)                         %8.1f MB\n", peakKilobytes() / 1024.0);
    std::printf("nodes in the folder tree (with fixed ones)  %8d\n", shownFolders(tree->model()));
    std::fflush(stdout);
    window.close();
    return 0;
}

bool prepare(bool chain, int count)
{
    Database db(QString(), nullptr);
    mustWrite(db.executeSQL(QStringLiteral("BEGIN TRANSACTION")), db);
    constexpr int kBatch = 500;
    for (int first = 1; first <= count; first += kBatch) {
        QStringList folders;
        QStringList articles;
        for (int id = first; id < first + kBatch && id <= count; ++id) {
            const int parent = chain && id > 1 ? id - 1 : -10;
            folders << QStringLiteral("(%1, 'Ordner %1', %2, 1, '')").arg(id).arg(parent);
            articles << QStringLiteral("('Artikel %1', %1, 0)").arg(id);
        }
        if (!db.executeSQL(QStringLiteral("INSERT INTO folders (id, foldername, folderparentid, "
                                          "expand, cat_ebay) VALUES ")
                           + folders.join(QLatin1Char(',')))
            || !db.executeSQL(QStringLiteral("INSERT INTO articles (Title, Folder, Trash) VALUES ")
                              + articles.join(QLatin1Char(',')))) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastErrorText));
            return false;
        }
    }
    mustWrite(db.executeSQL(QStringLiteral("COMMIT")), db);
    db.checkpoint();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (argc > 1 && qstrcmp(argv[1], "--window") == 0) {
        QApplication app(argc, argv);
        return runWindow(sinceStart);
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_foldertree chain|flat N\n");
        return 2;
    }
    const bool chain = qstrcmp(argv[1], "chain") == 0;
    const int count = QByteArray(argv[2]).toInt();

    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (dir.path() + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    if (!prepare(chain, count))
        return 1;
    std::printf("%d folders %s, one article each\n", count, chain ? "nested" : "side by side");

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--window") });
    if (!child.waitForFinished(1800000)) {
        std::printf("the window process did not end within 30 minutes\n");
        return 1;
    }
    std::fputs(child.readAllStandardOutput().constData(), stdout);
    if (child.exitStatus() == QProcess::CrashExit)
        std::printf("the window process crashed\n");
    else
        std::printf("the window process ended with %d\n", child.exitCode());
    return 0;
}
