// PLACEHOLDER: to be written
#include "mainwindow/mainwindow.h"

#include "core/database.h"

void MainWindow::doRestore() { }
