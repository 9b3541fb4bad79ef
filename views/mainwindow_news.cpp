// PLACEHOLDER: to be written
#include "mainwindow/mainwindow.h"

#include "core/database.h"

void MainWindow::addNewsItem(NewsItem, QString) { }
void MainWindow::on_newslist_clicked(const QModelIndex &) { }
void MainWindow::on_newslist_doubleClicked(const QModelIndex &) { }
void MainWindow::on_newslist_customContextMenuRequested(const QPoint &) { }
void MainWindow::on_actionListe_leeren_triggered() { }
void MainWindow::initNewsList() { }
void MainWindow::applyNewsToList(const NewsItem &) { }
