// Measures how long the main window's thread goes without running its events while the shared
// MariaDB server can't be reached: "Löschen" whose COMMIT answer is lost, then the network (the
// test proxy) stalled for two minutes at the production time-out of 15 s, the seller clicking a
// folder every ten seconds meanwhile. Prints the command's time, the longest pause of the
// window's thread after it, the pauses longer than a second, and how long after the network
// came back the window showed what is stored (the article in the trash).
// Usage (needs a display and the test server):
//   scripts/with-mariadb.sh xvfb-run -a build/bench/bench_outage [outage seconds]
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/temphome.h"
#include "tests/support/testdatabase.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>

namespace {

// Runs the event loop for `ms` milliseconds.
void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    TestSupport::TempHome home;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
    QApplication app(argc, argv);
    const int outageSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 120;
    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
    TestSupport::TestDatabase data(proxy.server());
    if (!data.error().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(data.error()));
        return 1;
    }
    TestSupport::insertArticle(
        data.db(), { { "Title", "Standuhr" }, { "Folder", -10 }, { "StartPrice", 12345.67 } });
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    Database::setDefaultResponseTimeout(15);
    DialogAnswers answers;
    TestSupport::MainWindowFixture window(data);
    if (!window.window() || !window.showFolder(-10) || window.itemList()->topLevelItemCount() != 1)
        return 1;
    window.itemList()->topLevelItem(0)->setSelected(true);

    answers.pushQuestion(true);
    proxy.cutAfter("COMMIT", 1, [&proxy](quint32) { proxy.stall(); });
    QElapsedTimer clock;
    clock.start();
    window.window()->findChild<QAction *>(QStringLiteral("actionL_schen"))->trigger();
    const qint64 commandMs = clock.elapsed();

    // The window's thread runs its events every 10 ms unless something holds it.
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    qint64 paused = 0;
    int longPauses = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const qint64 pause = sinceTick.restart();
        longest = qMax(longest, pause);
        if (pause > 1000) {
            ++longPauses;
            paused += pause;
        }
    });
    sinceTick.start();
    tick.start(10);
    int clicks = 0;
    QTimer click;
    QObject::connect(&click, &QTimer::timeout, &click, [&] {
        ++clicks;
        window.showFolder(clicks % 2 ? -5 : -10);
    });
    click.start(10000);
    runEvents(outageSeconds * 1000 - int(clock.elapsed()));
    click.stop();

    proxy.release();
    QElapsedTimer back;
    back.start();
    const auto trashCount = [&window] {
        auto *model = qobject_cast<FolderModel *>(window.treeView()->model());
        const FolderNode *trash = model ? model->findFolderWithId(-5) : nullptr;
        return trash ? trash->count : -1;
    };
    while (trashCount() != 1 && back.elapsed() < 60000)
        runEvents(10);
    const qint64 shownMs = back.elapsed();
    tick.stop();

    std::printf("outage of %d s at a 15 s time-out, %d folder clicks\n", outageSeconds, clicks);
    std::printf("command (COMMIT answer lost): %lld ms, notices %d\n",
                static_cast<long long>(commandMs), int(answers.messages().size()));
    std::printf("longest pause of the window's thread after it: %lld ms\n",
                static_cast<long long>(longest));
    std::printf("pauses over 1 s: %d, %lld ms together\n", longPauses,
                static_cast<long long>(paused));
    std::printf("stored state shown %lld ms after the network came back%s\n",
                static_cast<long long>(shownMs), trashCount() == 1 ? "" : " (not shown)");
    return 0;
}
