// Measures what a stored title of 1 and of 16 million characters costs the main window's
// status panel, as the listing shows it ("Beende <title>..."): the time from updateStatusBar
// until the panel is painted, the time to show its tooltip, and how far the resident memory
// rose over both (its peak above the start). Goal: each as for a normal title.
// Usage (needs a display): xvfb-run -a bench_statuspanel
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/peakmemory.h"
#include "tests/support/temphome.h"
#include "tests/support/testdatabase.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <cstdio>

int main(int argc, char *argv[])
{
    TestSupport::TempHome home;
    QApplication app(argc, argv);
    TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
    data.closeMain();
    TestSupport::MainWindowFixture fixture(data);
    MainWindow *window = fixture.window();
    if (!window)
        return 1;
    auto *label = window->findChild<QLabel *>(QStringLiteral("SyncLabel"));
    const QString words = QStringLiteral("Wanduhr aus Eiche mit Pendel, ");
    for (const int chars : { 40, 1 << 20, 1 << 24 }) {
        const QString title = words.repeated(chars / words.size() + 1).left(chars);
        const QString status = QStringLiteral("Beende %1 %2...").arg(chars).arg(title);
        TestSupport::PeakMemory peak;
        const bool measured = peak.start();
        QElapsedTimer timer;
        timer.start();
        window->updateStatusBar(status, 10, 2);
        label->repaint();
        const double shownMs = timer.nsecsElapsed() / 1e6;
        timer.restart();
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), label->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(label, &help);
        const bool tipShown = QToolTip::isVisible();
        const double tipMs = timer.nsecsElapsed() / 1e6;
        QToolTip::hideText();
        std::printf("title of %8d characters: panel %9.1f ms, tooltip %9.1f ms%s, peak +%s MB\n",
                    chars, shownMs, tipMs, tipShown ? "" : " (not shown)",
                    measured ? qPrintable(QString::number(peak.growth() / 1e6, 'f', 1)) : "?");
        std::fflush(stdout);
    }
    return 0;
}
