// PLACEHOLDER: to be written
#include "mainwindow/mainwindow.h"

#include "core/database.h"

void MainWindow::updateStatusBar(QString, int, int) { }
void MainWindow::updateBar() { }
void MainWindow::setNextSync(QString) { }
void MainWindow::setAppToSyncState(bool) { }
void MainWindow::updateButtons() { }
void MainWindow::sendNotification(const QString &) { }
