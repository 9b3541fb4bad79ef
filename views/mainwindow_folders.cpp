// PLACEHOLDER: to be written
#include "mainwindow/mainwindow.h"

#include "core/database.h"

void MainWindow::CreateFolderTree() { }
void MainWindow::loadFolders(Database *, QStringList &, int, int, const QList<QMap<QString, QVariant>> &) { }
int MainWindow::GetFolderCount(int, const QList<QMap<QString, QVariant>> &) { return 0; }
void MainWindow::on_treeView_clicked(const QModelIndex &) { }
void MainWindow::on_treeView_expanded(const QModelIndex &) { }
void MainWindow::on_treeView_collapsed(const QModelIndex &) { }
void MainWindow::on_treeView_customContextMenuRequested(const QPoint &) { }
void MainWindow::on_actionNeuer_Ordner_triggered() { }
void MainWindow::on_actionUmbenennen_triggered() { }
void MainWindow::on_actionL_schen_2_triggered() { }
