#include "mainwindow/mainwindow.h"

#include "core/closeonexec.h"

#include <QApplication>
#include <QNetworkProxyFactory>

int main(int argc, char *argv[])
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    // The display's connection, made by a library: no child process the program starts
    // holds it (the database connections are marked as they are made).
    CloseOnExec::markSockets();
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/buttons/images/q3_64x64px.png")));

    // The window opens the data folder and the database, starts the day's log and the
    // workers.
    MainWindow window;
    window.show();
    return app.exec();
}
