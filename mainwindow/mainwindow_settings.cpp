#include "mainwindow/mainwindow.h"

#include "mainwindow/setup.h"

#include <QPointer>

void MainWindow::on_actionEinstellungen_triggered()
{
    QPointer<Setup> dialog = new Setup(this);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->exec();
    if (dialog)
        dialog->deleteLater();
    // Accounts may have been added, renewed or removed.
    reloadAccountBox();
}
