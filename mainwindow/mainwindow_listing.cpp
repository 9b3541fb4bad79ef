// Article commands that hand work to the marketplace: the outbox, scheduled starts, a
// synchronisation run, the listing's page, ending listings and the fee check.
#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "mainwindow/commandprogress.h"
#include "marketplace/api_ebay.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"
#include "workers/enditem.h"
#include "workers/listingthread.h"
#include "workers/planning.h"

#include <QDesktopServices>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QUrl>

namespace {
constexpr int kTrayMessageMs = 3000;
} // namespace

QList<int> MainWindow::selectedArticleIds() const
{
    QList<int> ids;
    const QList<QTreeWidgetItem *> selected = ui->itemlist->selectedItems();
    ids.reserve(selected.size());
    for (const QTreeWidgetItem *item : selected)
        ids << item->data(0, ItemListRole::ArticleIdRole).toInt();
    return ids;
}

void MainWindow::removeListRows(const QSet<int> &ids)
{
    if (ids.isEmpty())
        return;
    QTreeWidget *list = ui->itemlist;
    const int scrolled = list->verticalScrollBar()->value();
    list->setUpdatesEnabled(false);
    if (ids.size() < 64) {
        for (int i = list->topLevelItemCount() - 1; i >= 0; --i) {
            if (ids.contains(list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt()))
                delete list->takeTopLevelItem(i);
        }
    } else {
        // Taking thousands of rows out one by one costs a pass over the list and over the
        // selection for each; taking all and putting the rest back costs one.
        const QList<QTreeWidgetItem *> rows = list->invisibleRootItem()->takeChildren();
        QList<QTreeWidgetItem *> kept;
        kept.reserve(rows.size());
        for (QTreeWidgetItem *row : rows) {
            if (ids.contains(row->data(0, ItemListRole::ArticleIdRole).toInt()))
                delete row;
            else
                kept << row;
        }
        list->addTopLevelItems(kept);
    }
    list->setUpdatesEnabled(true);
    list->verticalScrollBar()->setValue(scrolled);
    updateBar();
}

void MainWindow::on_actionIn_Ausgang_legen_triggered()
{
    using namespace SpecialFolderId;
    const QString status = ListingThread::queuedText();
    const int folder = currentFolder;
    setEnabled(false);

    if (folder == Outbox) {
        // Queued again: folder and origin stay, the rows show the queued state at once.
        const QList<QTreeWidgetItem *> selected = ui->itemlist->selectedItems();
        QList<int> ids;
        for (QTreeWidgetItem *row : selected) {
            row->setData(0, ItemListRole::DoCheckRole, 2);
            row->setData(0, ItemListRole::DoCheckResultRole, status);
            ids << row->data(0, ItemListRole::ArticleIdRole).toInt();
        }
        CommandProgress progress(this, status, ids.size());
        for (int i = 0; i < ids.size(); ++i) {
            db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=2 WHERE id=")
                           + QString::number(ids.at(i)));
            if (!progress.step(i + 1))
                break;
        }
        progress.finish(status);
        setEnabled(true);
        emit startCheckNow();
        return;
    }

    const QList<int> ids = selectedArticleIds();
    // FolderOld first: MySQL assigns from left to right, with the new Folder.
    const QString sql = QStringLiteral("UPDATE articles SET FolderOld=Folder, Folder=-2, "
                                       "DoCheck=2, DoCheckResult='")
        + Database::escapeString(status) + QStringLiteral("' WHERE id=");
    CommandProgress progress(this, status, ids.size());
    QSet<int> queued;
    for (int i = 0; i < ids.size(); ++i) {
        if (db->executeSQL(sql + QString::number(ids.at(i))))
            queued << ids.at(i);
        if (!progress.step(i + 1))
            break;
    }
    removeListRows(queued);
    folderModel->ChangeFolderCount(folder, -queued.size(), false);
    folderModel->ChangeFolderCount(Outbox, queued.size(), false);
    progress.finish(status);

    trayIcon->showMessage(tr("Zerire3"),
                          tr("Die ausgewählten Artikel wurden in den Ausgang gelegt und werden "
                             "aktuell bearbeitet"),
                          QSystemTrayIcon::Information, kTrayMessageMs);
    setEnabled(true);
    emit startCheckNow();
}

void MainWindow::on_actionPlanen_triggered()
{
    const QList<int> ids = selectedArticleIds();
    QStringList idTexts;
    int unverified = 0;
    for (int id : ids) {
        idTexts << QString::number(id);
        if (db->selectOne(QStringLiteral("SELECT IsVerified FROM articles WHERE id=")
                          + idTexts.last())
            != QLatin1String("1"))
            ++unverified;
    }
    const int folder = currentFolder;

    auto *dialog = new Planning(this, idTexts.join(QLatin1Char(',')), QString::number(folder),
                                unverified == 0, unverified);
    connect(dialog, &Planning::ChangeFolderCount, folderModel, &FolderModel::ChangeFolderCount,
            Qt::QueuedConnection);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    dialog->deleteLater();
    if (result != QDialog::Accepted)
        return;

    // The dialog keeps an article whose old start could not be withdrawn, and spaces the
    // starts by the chosen gap: the stored rows tell what it did.
    QSet<int> moved;
    for (int id : ids) {
        const QMap<QString, QVariant> stored = readListRow(id);
        if (stored.isEmpty())
            continue;
        if (folder != SpecialFolderId::Scheduled) {
            if (stored.value(QStringLiteral("Folder")).toInt() == SpecialFolderId::Scheduled)
                moved << id;
        } else if (QTreeWidgetItem *row = IsItemWithIdHere(id)) {
            UpdateListItem(stored, row);
        }
    }
    removeListRows(moved);
    emit startCheckNow();
}

void MainWindow::on_actionSynchronisieren_triggered()
{
    updateButtons();
    ui->actionSynchronisieren->setEnabled(false);
    QCoreApplication::processEvents();
    emit startSyncNow();
}

void MainWindow::on_actionArtikel_online_aufrufen_triggered()
{
    for (int id : selectedArticleIds()) {
        const SqlRows rows = db->select(
            QStringLiteral("SELECT i.ItemID, a.sandbox FROM articles i, accounts a WHERE "
                           "i.Account=a.id AND i.id=")
            + QString::number(id));
        if (rows.isEmpty())
            continue;
        const QString itemId = rows.first().value(QStringLiteral("ItemID")).toString().trimmed();
        if (itemId.isEmpty())
            continue;
        const bool sandbox = rows.first().value(QStringLiteral("sandbox")).toInt() == 1;
        const QString address = Config::address(
            sandbox ? Config::Key::ItemSandboxHost : Config::Key::ItemHost,
            QStringLiteral("/itm/") + QString::fromLatin1(QUrl::toPercentEncoding(itemId)));
        if (!address.isEmpty())
            QDesktopServices::openUrl(QUrl(address));
    }
}

void MainWindow::on_actionAuwahl_beenden_triggered()
{
    if (currentFolder == SpecialFolderId::Active)
        endListings();
    else
        askForFees();
}

void MainWindow::endListings()
{
    auto *dialog = new EndItem(this);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    const QString reason = dialog->getReason();
    dialog->deleteLater();
    if (result != QDialog::Accepted)
        return;

    const QList<int> ids = selectedArticleIds();
    setEnabled(false);
    QSet<int> ended;
    for (int i = 0; i < ids.size() && !CommandProgress::closing(); ++i) {
        const QString id = QString::number(ids.at(i));
        const SqlRows rows = db->select(
            QStringLiteral("SELECT i.id, i.ItemID, i.Site, i.Title, a.token, a.sandbox FROM "
                           "articles i, accounts a WHERE i.Account=a.id AND i.id=")
            + id);
        if (rows.isEmpty())
            continue;
        const ArticleRow &article = rows.first();
        const QString title = article.value(QStringLiteral("Title")).toString();
        updateStatusBar(tr("Beende %1...").arg(title), ids.size(), i);

        Api_Ebay api(article.value(QStringLiteral("token")).toString(), nullptr,
                     article.value(QStringLiteral("sandbox")).toInt());
        const bool success = api.endItem(reason, article.value(QStringLiteral("ItemID")).toString(),
                                         article.value(QStringLiteral("Site")).toString());
        // The reply was awaited with the event loop running: rows may have come or gone,
        // so the row is looked up by its article again.
        QMap<QString, QVariant> record {
            { QStringLiteral("indate"),
              Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) },
            { QStringLiteral("title"), title },
            { QStringLiteral("itemid"), QString() },
            { QStringLiteral("databaseid"), ids.at(i) },
        };
        if (success
            && db->executeSQL(
                QStringLiteral("UPDATE articles SET Folder=-8, DoCheckResult='' WHERE id=") + id)) {
            ended << ids.at(i);
            record.insert(QStringLiteral("textinfo"), tr("wurde erfolgreich beendet"));
            record.insert(QStringLiteral("infotype"), QStringLiteral("end_success"));
        } else if (success) {
            // Ended at the marketplace, still in the active folder here: the row must not
            // look like a running listing. The next synchronisation moves it.
            const QString text = tr("wurde bei eBay beendet, die Änderung konnte aber nicht "
                                    "gespeichert werden. Die Datenbank meldet: %1")
                                     .arg(db->lastErrorText);
            db->executeSQL(QStringLiteral("UPDATE articles SET DoCheckResult='")
                           + Database::escapeString(QStringLiteral("(f)") + text)
                           + QStringLiteral("' WHERE id=") + id);
            if (QTreeWidgetItem *row = IsItemWithIdHere(ids.at(i)))
                row->setData(0, ItemListRole::DoCheckResultRole, QStringLiteral("(f)") + text);
            record.insert(QStringLiteral("textinfo"), text);
            record.insert(QStringLiteral("infotype"), QStringLiteral("end_fail"));
        } else {
            const QString failure = QStringLiteral("(f)") + api.getLastFail();
            db->executeSQL(QStringLiteral("UPDATE articles SET DoCheckResult='")
                           + Database::escapeString(failure) + QStringLiteral("' WHERE id=") + id);
            if (QTreeWidgetItem *row = IsItemWithIdHere(ids.at(i)))
                row->setData(0, ItemListRole::DoCheckResultRole, failure);
            record.insert(QStringLiteral("textinfo"), api.getLastFail());
            record.insert(QStringLiteral("infotype"), QStringLiteral("end_fail"));
        }
        const int recordId = db->insertSqlClean(record, QStringLiteral("itemshistory"));
        if (recordId > 0) {
            const QList<NewsItem> news
                = db->selectNews(QStringLiteral("id=") + QString::number(recordId));
            if (!news.isEmpty())
                addNewsItem(news.first());
        }
    }

    updateStatusBar(tr("Löschen..."), ids.size(), ids.size());
    removeListRows(ended);
    folderModel->ChangeFolderCount(SpecialFolderId::Active, -ended.size(), false);
    folderModel->ChangeFolderCount(SpecialFolderId::Unsold, ended.size(), false);
    setEnabled(true);
}

void MainWindow::askForFees()
{
    int leftOut = 0;
    for (QTreeWidgetItem *row : ui->itemlist->selectedItems()) {
        const QString id = row->data(0, ItemListRole::ArticleIdRole).toString();
        // An article queued for listing keeps its order: the check would replace it, and
        // the listing would never happen.
        if (db->selectOne(QStringLiteral("SELECT DoCheck FROM articles WHERE id=") + id)
            == QLatin1String("2")) {
            ++leftOut;
            continue;
        }
        if (db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=1 WHERE id=") + id
                           + QStringLiteral(" AND COALESCE(DoCheck,0)<>2")))
            row->setData(0, ItemListRole::DoCheckRole, 1);
    }
    if (leftOut > 0)
        Statics::showMessage(this,
                             leftOut == 1
                                 ? tr("1 Artikel wartet im Ausgang auf das Einstellen und wurde "
                                      "nicht zur Gebührenberechnung vorgemerkt.")
                                 : tr("%1 Artikel warten im Ausgang auf das Einstellen und "
                                      "wurden nicht zur Gebührenberechnung vorgemerkt.")
                                       .arg(leftOut),
                             0);
    emit startCheckNow();
}
