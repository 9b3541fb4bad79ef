// The main window's bulk-edit commands: each reads the selected articles, checks that the
// selection suits the dialog, runs the dialog and refreshes the rows where it changes
// what the list shows. A dialog whose outcome is not known reports it back; the window then
// tells the seller and shows what is stored.
#include "mainwindow/mainwindow.h"

#include "bulk/bulk_account.h"
#include "bulk/bulk_formatandduration.h"
#include "bulk/bulk_location.h"
#include "bulk/bulk_payment.h"
#include "bulk/bulk_priceandquantity.h"
#include "bulk/bulk_profiles.h"
#include "bulk/bulk_shipping.h"
#include "bulk/bulk_shipping_world.h"
#include "bulk/bulkwriter.h"
#include "bulk/searchandreplace.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"
#include "workers/listingthread.h"

#include <QPointer>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTreeWidgetItem>

MainWindow::BulkSelection MainWindow::bulkSelection() const
{
    BulkSelection selection;
    const QList<QTreeWidgetItem *> items = ui->itemlist->selectedItems();
    for (const QTreeWidgetItem *item : items) {
        const int site = item->data(0, ItemListRole::SiteRole).toInt();
        const int account = item->data(0, ItemListRole::AccountRole).toInt();
        if (selection.ids.isEmpty()) {
            selection.site = site;
            selection.account = account;
        }
        selection.sitesDiffer = selection.sitesDiffer || site != selection.site;
        selection.accountsDiffer = selection.accountsDiffer || account != selection.account;
        selection.ids << item->data(0, ItemListRole::ArticleIdRole).toString();
    }
    return selection;
}

int MainWindow::runBulkDialog(BulkEditDialog *dialog)
{
    // A dialog that found while it was built that it cannot work has said why already.
    if (!dialog->canOpen()) {
        delete dialog;
        return 0;
    }
    dialog->setWindowModality(Qt::WindowModal);
    QPointer<BulkEditDialog> guard(dialog);
    const int result = dialog->exec();
    if (!guard)
        return 0;
    const bool unknown = dialog->outcomeUnknown();
    const QString command = dialog->commandName();
    dialog->deleteLater();
    if (unknown) {
        tellOutcomeUnknown(command);
        return 0;
    }
    return result;
}

void MainWindow::refreshListRows(const QStringList &ids)
{
    // Read in steps, with the window's events let through between them: thousands of
    // selected rows do not hold the window. The ids are found again in every step.
    constexpr int kRowsPerStep = 200;
    const QStringList articleIds = BulkWriter::articleIds(ids.join(QLatin1Char(',')));
    const BulkWriter::Progress pace = BulkEditDialog::pacedProgress(nullptr);
    for (int at = 0; at < articleIds.size(); at += kRowsPerStep) {
        pace(at);
        const Read<SqlRows> rows = db->select(
            QStringLiteral("SELECT ") + listColumns + QStringLiteral(" FROM articles WHERE ")
            + BulkWriter::idCondition(articleIds.mid(at, kRowsPerStep)));
        if (!rows.ok()) {
            // The rows would show what the command changed no more: the window reads what is
            // stored, again later while it can't (the list then says why).
            m_storedReads = 0;
            showStored();
            return;
        }
        for (const auto &row : *rows) {
            // The list may have changed while the dialog ran: find the row again by its id.
            if (QTreeWidgetItem *item = IsItemWithIdHere(row.value(QStringLiteral("id")).toInt()))
                UpdateListItem(row, item);
        }
    }
}

void MainWindow::on_actionFormat_und_Laufzeit_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    if (runBulkDialog(
            new Bulk_FormatAndDuration(this, selection.ids.join(QLatin1Char(',')), currentFolder))
        == 1)
        refreshListRows(selection.ids);
}

void MainWindow::on_actionRahmenbedingungen_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    // Policies belong to one account on one site: the stored values decide.
    QStringList ids;
    int site = 0;
    int account = 0;
    for (const QString &id : selection.ids) {
        const Read<SqlRows> rows
            = db->select(QStringLiteral("SELECT Site, Account FROM articles WHERE id = ")
                         + QString::number(id.toInt()));
        if (!rows.ok()) {
            // Which account and site the articles have is not known: the dialog is not opened.
            Statics::showMessage(this,
                                 tr("Die ausgewählten Artikel konnten nicht aus der Datenbank "
                                    "gelesen werden, die Rahmenbedingungen können daher nicht "
                                    "geändert werden: %1")
                                     .arg(rows.error()),
                                 2);
            return;
        }
        if (rows->isEmpty())
            continue; // deleted meanwhile
        const int rowSite = rows->first().value(QStringLiteral("Site")).toInt();
        const int rowAccount = rows->first().value(QStringLiteral("Account")).toInt();
        if (ids.isEmpty()) {
            site = rowSite;
            account = rowAccount;
        } else if (rowSite != site) {
            Statics::showMessage(this,
                                 tr("Rahmenbedingungen können nur bezogen auf ein Land geändert "
                                    "werden. Wähle mehrere Länder ggf. nacheinander"),
                                 0);
            return;
        } else if (rowAccount != account) {
            Statics::showMessage(this,
                                 tr("Rahmenbedingungen können nur bezogen auf ein Konto geändert "
                                    "werden. Wähle mehrere Konten ggf. nacheinander"),
                                 0);
            return;
        }
        ids << id;
    }
    if (ids.isEmpty())
        return;
    runBulkDialog(new Bulk_Profiles(this, account, site, ids.join(QLatin1Char(','))));
}

void MainWindow::on_actionArtikelstandort_und_Bearbeitungszeit_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    runBulkDialog(new Bulk_Location(this, selection.ids.join(QLatin1Char(','))));
}

void MainWindow::on_actionZahlungsmethoden_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    if (selection.sitesDiffer) {
        Statics::showMessage(this,
                             tr("Beim gebündelten Bearbeiten von Zahlungsmethoden müssen alle "
                                "ausgewählten Artikel auf der gleichen Plattform sein."),
                             0);
        return;
    }
    runBulkDialog(new Bulk_Payment(this, selection.site, selection.ids.join(QLatin1Char(','))));
}

void MainWindow::on_actionKonto_PayPal_und_Shopkategorien_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    runBulkDialog(new Bulk_Account(this, selection.ids.join(QLatin1Char(',')), currentFolder,
                                   selection.account, selection.accountsDiffer));
}

void MainWindow::on_actionPreise_und_Mengen_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    if (runBulkDialog(new Bulk_PriceAndQuantity(this, selection.ids.join(QLatin1Char(',')))) == 0)
        return;
    // The changed rows, read again; the list is not sorted anew.
    refreshListRows(selection.ids);
}

void MainWindow::on_actionSuchen_und_ersetzen_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    QPointer<SearchAndReplace> dialog = new SearchAndReplace(selection.ids, this);
    dialog->setWindowModality(Qt::WindowModal);
    // Edited running listings go to the outbox, as "In Ausgang legen" puts them there: the
    // listing worker then sends the revisions. The dialog queues them in the transaction of
    // the replacement: both are stored or neither.
    if (currentFolder == SpecialFolderId::Active) {
        QStringList shown;
        for (const QString &id : selection.ids) {
            if (IsItemWithIdHere(id.toInt()))
                shown << id;
        }
        dialog->queueRunningListings(shown, ListingThread::queuedText());
    }
    const int result = dialog->exec();
    const QList<int> queued = dialog ? dialog->queued() : QList<int>();
    const bool queue = dialog && dialog->moveToOutbox;
    const bool unknown = dialog && dialog->outcomeUnknown();
    if (dialog)
        dialog->deleteLater();
    if (unknown) {
        tellOutcomeUnknown(tr("das Ersetzen"));
        return;
    }
    if (result != 1 || !queue)
        return;
    if (queued.isEmpty()) {
        refreshListRows(selection.ids);
        return;
    }
    const QSet<int> moved(queued.cbegin(), queued.cend());
    removeListRows(moved);
    folderModel->ChangeFolderCount(SpecialFolderId::Active, -moved.size(), false);
    folderModel->ChangeFolderCount(SpecialFolderId::Outbox, moved.size(), false);
    if (trayIcon)
        trayIcon->showMessage(tr("Artikelupdate"),
                              tr("Die geänderten Artikel wurden zur Aktualisierung in den "
                                 "Ausgang verschoben"),
                              QSystemTrayIcon::Information, 10000);
    updateButtons();
    emit startCheckNow();
}

void MainWindow::on_actionInlandsversand_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    if (selection.sitesDiffer) {
        Statics::showMessage(this,
                             tr("Beim gebündelten Bearbeiten von Inlandsversandmethoden müssen "
                                "alle ausgewählten Artikel auf der gleichen Plattform sein."),
                             0);
        return;
    }
    runBulkDialog(new Bulk_Shipping(this, selection.site, selection.ids.join(QLatin1Char(',')),
                                    selection.accountsDiffer, selection.account));
}

void MainWindow::on_actionAuslandsversand_triggered()
{
    const BulkSelection selection = bulkSelection();
    if (selection.ids.isEmpty())
        return;
    if (selection.sitesDiffer) {
        Statics::showMessage(this,
                             tr("Beim gebündelten Bearbeiten von Auslandsversandmethoden müssen "
                                "alle ausgewählten Artikel auf der gleichen Plattform sein."),
                             0);
        return;
    }
    runBulkDialog(new Bulk_Shipping_World(this, selection.site,
                                          selection.ids.join(QLatin1Char(',')),
                                          selection.accountsDiffer, selection.account));
}
