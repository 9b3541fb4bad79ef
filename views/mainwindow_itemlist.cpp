// PLACEHOLDER: to be written
#include "mainwindow/mainwindow.h"

#include "core/database.h"

void MainWindow::UpdateListItem(const QMap<QString, QVariant> &, QTreeWidgetItem *) { }
QTreeWidgetItem *MainWindow::IsItemWithIdHere(int) const { return nullptr; }
void MainWindow::reloadData() { }
void MainWindow::on_SearchBy_textChanged(const QString &) { }
void MainWindow::on_SearchBy_returnPressed() { }
void MainWindow::on_SearchBy_inputRejected() { }
void MainWindow::on_InDesc_toggled(bool) { }
void MainWindow::on_AccountFilterBox_currentIndexChanged(int) { }
void MainWindow::showHeaderContextMenu(int) { }
void MainWindow::on_itemlist_customContextMenuRequested(const QPoint &) { }
void MainWindow::on_itemlist_itemSelectionChanged() { }
void MainWindow::on_actionAlles_markieren_triggered() { }
void MainWindow::on_actionNach_Titel_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Titel_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Startpreis_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Startpreis_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Beobachter_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Beobachter_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Startzeit_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Startzeit_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Ende_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Ende_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Menge_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Menge_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Verk_ufen_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_Verk_ufen_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_interner_Id_aufsteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_interner_Id_absteigend_sortieren_triggered() { }
void MainWindow::on_actionNach_interner_Referenz_aufsteigend_triggered() { }
void MainWindow::on_actionNach_interner_Referenz_absteigend_triggered() { }
void MainWindow::initItemList() { }
void MainWindow::reloadAccountBox() { }
void MainWindow::sortBy(const QString &) { }
QString MainWindow::sortLabel(const QString &) const { return QString(); }
