// Article commands that hand work to the marketplace: the outbox, scheduled starts, a
// synchronisation run, the listing's page, ending listings and the fee check.
#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
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
// Listings named in a notice; the rest are counted.
constexpr int kNamedListings = 10;
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
    const QList<int> ids = selectedArticleIds();
    CommandProgress progress(this, status, ids.size());

    // One transaction: every article is queued or none is. The folder an article comes back
    // to is the one read inside it, written as a value: queued again after a lost answer, an
    // article already in the outbox keeps the folder it came from.
    QSet<int> queued;
    bool written = false;
    CommandProgress::leaveCheckpoints(db);
    {
        Transaction command(db);
        written = command.isOpen();
        int handled = 0;
        for (const QList<int> &group : CommandProgress::groups(ids)) {
            if (!written)
                break;
            const QString in = CommandProgress::joined(group);
            if (folder == Outbox) {
                // Queued again: folder and origin stay.
                written = db->executeSQL(
                    QStringLiteral("UPDATE articles SET DoCheck=2 WHERE Folder=-2 AND id IN (") + in
                    + QLatin1Char(')'));
            } else {
                // A failed read fails the command: nothing of it is written.
                const Read<SqlRows> rows
                    = db->select(QStringLiteral("SELECT id FROM articles WHERE "
                                                "Trash=0 AND Folder=")
                                 + QString::number(folder) + QStringLiteral(" AND id IN (") + in
                                 + QLatin1Char(')'));
                written = rows.ok();
                if (!written)
                    break;
                QList<int> here;
                for (const ArticleRow &row : *rows)
                    here << row.value(QStringLiteral("id")).toInt();
                if (written && !here.isEmpty())
                    written = db->executeSQL(
                        QStringLiteral("UPDATE articles SET FolderOld=") + QString::number(folder)
                        + QStringLiteral(", Folder=-2, DoCheck=2, DoCheckResult='")
                        + Database::escapeString(status) + QStringLiteral("' WHERE id IN (")
                        + CommandProgress::joined(here) + QLatin1Char(')'));
                if (written) {
                    for (int id : qAsConst(here))
                        queued << id;
                }
            }
            handled += group.size();
            if (!progress.step(handled))
                break;
        }
        written = written && command.commit();
    }
    progress.finish(written ? status : tr("Nicht in den Ausgang gelegt"));
    if (written)
        CommandProgress::checkpointAside(this, db);

    if (written && folder == Outbox) {
        // The rows show the queued state at once.
        for (int id : ids) {
            if (QTreeWidgetItem *row = IsItemWithIdHere(id)) {
                row->setData(0, ItemListRole::DoCheckRole, 2);
                row->setData(0, ItemListRole::DoCheckResultRole, status);
            }
        }
    } else if (written) {
        removeListRows(queued);
        folderModel->ChangeFolderCount(folder, -queued.size(), false);
        folderModel->ChangeFolderCount(Outbox, queued.size(), false);
        if (trayIcon)
            trayIcon->showMessage(tr("Zerire3"),
                                  tr("Die ausgewählten Artikel wurden in den Ausgang gelegt und "
                                     "werden aktuell bearbeitet"),
                                  QSystemTrayIcon::Information, kTrayMessageMs);
    }
    setEnabled(true);
    if (!written)
        tellNotStored(tr("das Einstellen in den Ausgang"));
    emit startCheckNow();
}

void MainWindow::on_actionPlanen_triggered()
{
    const QList<int> ids = selectedArticleIds();
    QStringList idTexts;
    int unverified = 0;
    for (int id : ids) {
        idTexts << QString::number(id);
        const Read<QString> verified = db->selectOne(
            QStringLiteral("SELECT IsVerified FROM articles WHERE id=") + idTexts.last());
        // Not read is not "unverified": the dialog is not opened on a guess.
        if (!verified.ok()) {
            tellNotStored(tr("die Planung"));
            return;
        }
        if (*verified != QLatin1String("1"))
            ++unverified;
    }
    const int folder = currentFolder;

    auto *dialog = new Planning(this, idTexts.join(QLatin1Char(',')), QString::number(folder),
                                unverified == 0, unverified);
    connect(dialog, &Planning::ChangeFolderCount, folderModel, &FolderModel::ChangeFolderCount,
            Qt::QueuedConnection);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    const bool unknown = dialog->outcomeUnknown();
    const QString failure = dialog->failure();
    dialog->deleteLater();
    if (unknown) {
        tellOutcomeUnknown(tr("die Planung"));
        return;
    }
    if (!failure.isEmpty()) {
        // Told like the failed write of any other command, and the window shows what is stored.
        m_writeFailure = failure;
        m_writeFailures = 1;
        showWriteFailure();
        return;
    }
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
        const Read<SqlRows> rows = db->select(
            QStringLiteral("SELECT i.ItemID, a.sandbox FROM articles i, accounts a WHERE "
                           "i.Account=a.id AND i.id=")
            + QString::number(id));
        // Not read is not "no listing": the seller learns why nothing opens.
        if (!rows.ok()) {
            Statics::showMessage(
                this, tr("Die Angebote konnten nicht aufgerufen werden: %1").arg(rows.error()), 2);
            return;
        }
        if (rows->isEmpty())
            continue;
        const QString itemId = rows->first().value(QStringLiteral("ItemID")).toString().trimmed();
        if (itemId.isEmpty())
            continue;
        const bool sandbox = rows->first().value(QStringLiteral("sandbox")).toInt() == 1;
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
    // The listings the seller chose: the list may be read again while the dialog is open,
    // which would leave them chosen only where their rows were already shown again.
    const QList<int> ids = selectedArticleIds();
    auto *dialog = new EndItem(this);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    const QString reason = dialog->getReason();
    dialog->deleteLater();
    if (result != QDialog::Accepted)
        return;

    setEnabled(false);
    // The marketplace is asked first, one listing after the other; what it answered is then
    // stored in one transaction: every outcome with its activity entry, or none.
    struct Outcome
    {
        int id;
        QString itemId;
        QString title;
        bool success;
        QString failure; // the marketplace's reason
    };
    QList<Outcome> outcomes;
    QSet<int> notRunning; // shown as running, but not stored so
    bool readFailed = false;
    for (int i = 0; i < ids.size() && !CommandProgress::closing(); ++i) {
        const QString id = QString::number(ids.at(i));
        // Only a listing still running as stored: one whose end is stored already (by an
        // earlier command whose answer was lost, or at another workstation) is not ended
        // again.
        const Read<SqlRows> rows = db->select(
            QStringLiteral("SELECT i.id, i.ItemID, i.Site, i.Title, a.token, a.sandbox FROM "
                           "articles i, accounts a WHERE i.Account=a.id AND i.Trash=0 AND "
                           "i.Folder=-9 AND i.id=")
            + id);
        if (!rows.ok()) {
            // The database can't tell which listings still run: none is ended.
            readFailed = true;
            break;
        }
        if (rows->isEmpty()) {
            notRunning << ids.at(i);
            continue;
        }
        const ArticleRow &article = rows->first();
        const QString title = article.value(QStringLiteral("Title")).toString();
        const QString itemId = article.value(QStringLiteral("ItemID")).toString();
        updateStatusBar(tr("Beende %1...").arg(title), ids.size(), i);

        if (!itemId.isEmpty() && m_endedAtMarketplace.contains(itemId)) {
            // Ended by an earlier command whose move could not be stored.
            outcomes.append({ ids.at(i), itemId, title, true, QString() });
            continue;
        }
        Api_Ebay api(article.value(QStringLiteral("token")).toString(), nullptr,
                     article.value(QStringLiteral("sandbox")).toInt());
        const bool success
            = api.endItem(reason, itemId, article.value(QStringLiteral("Site")).toString());
        if (success && !itemId.isEmpty())
            m_endedAtMarketplace.insert(itemId);
        outcomes.append(
            { ids.at(i), itemId, title, success, success ? QString() : api.getLastFail() });
    }

    QSet<int> endedIds;
    QMap<int, QString> marks; // the failure shown in the row
    // The activity entries as written: shown once the command is stored.
    QList<NewsItem> records;
    bool written = false;
    if (!readFailed) {
        Transaction command(db);
        written = command.isOpen();
        for (const Outcome &outcome : qAsConst(outcomes)) {
            if (!written)
                break;
            const QString id = QString::number(outcome.id);
            const QString stamp
                = Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            QMap<QString, QVariant> record {
                { QStringLiteral("indate"), stamp },
                { QStringLiteral("title"), outcome.title },
                { QStringLiteral("itemid"), QString() },
                { QStringLiteral("databaseid"), outcome.id },
            };
            bool ended = false;
            if (outcome.success) {
                // A lost connection ends the command; a refused move leaves the row in the
                // active folder, where it must not look like a running listing. The next
                // synchronisation moves it.
                const Database::FailureTolerated refusedMove(*db);
                ended = db->executeSQL(
                    QStringLiteral("UPDATE articles SET Folder=-8, DoCheckResult='' WHERE id=")
                    + id);
                written = ended || db->lastOutcome() == Database::Outcome::Refused;
            }
            if (ended) {
                record.insert(QStringLiteral("textinfo"), tr("wurde erfolgreich beendet"));
                record.insert(QStringLiteral("infotype"), QStringLiteral("end_success"));
                endedIds << outcome.id;
            } else if (written) {
                const QString text = outcome.success
                    ? tr("wurde bei eBay beendet, die Änderung konnte aber nicht "
                         "gespeichert werden. Die Datenbank meldet: %1")
                          .arg(db->lastErrorText)
                    : outcome.failure;
                written = db->executeSQL(QStringLiteral("UPDATE articles SET DoCheckResult='")
                                         + Database::escapeString(QStringLiteral("(f)") + text)
                                         + QStringLiteral("' WHERE id=") + id);
                marks.insert(outcome.id, QStringLiteral("(f)") + text);
                record.insert(QStringLiteral("textinfo"), text);
                record.insert(QStringLiteral("infotype"), QStringLiteral("end_fail"));
            }
            const int recordId
                = written ? db->insertSqlClean(record, QStringLiteral("itemshistory")) : 0;
            written = recordId > 0;
            NewsItem entry;
            entry.id = recordId;
            // As the activity list would read it back.
            entry.indate = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            entry.title = outcome.title;
            entry.textinfo = record.value(QStringLiteral("textinfo")).toString();
            entry.infotype = record.value(QStringLiteral("infotype")).toString();
            entry.databaseid = outcome.id;
            records << entry;
        }
        written = written && command.commit();
    }

    updateStatusBar(written ? tr("Fertig") : tr("Nicht gespeichert"), ids.size(), ids.size());
    if (written) {
        for (const Outcome &outcome : qAsConst(outcomes)) {
            if (endedIds.contains(outcome.id))
                m_endedAtMarketplace.remove(outcome.itemId);
        }
        // The replies were awaited with the event loop running: rows may have come or gone,
        // so a row is looked up by its article again.
        for (auto it = marks.cbegin(); it != marks.cend(); ++it) {
            if (QTreeWidgetItem *row = IsItemWithIdHere(it.key()))
                row->setData(0, ItemListRole::DoCheckResultRole, it.value());
        }
        for (const NewsItem &entry : qAsConst(records))
            addNewsItem(entry);
        removeListRows(endedIds);
        folderModel->ChangeFolderCount(SpecialFolderId::Active, -endedIds.size(), false);
        folderModel->ChangeFolderCount(SpecialFolderId::Unsold, endedIds.size(), false);
        if (!notRunning.isEmpty()) {
            // Ended (or moved) elsewhere meanwhile: shown where they are stored.
            removeListRows(notRunning);
            folderModel->refreshCounts();
        }
    }
    setEnabled(true);
    if (written)
        return;
    // Ended at the marketplace but not stored here (or not known to be): the seller reads
    // which, and the window shows what is stored. The next synchronisation, or the command
    // given again without asking the marketplace, moves them.
    QStringList ended;
    int endedCount = 0;
    for (const Outcome &outcome : qAsConst(outcomes)) {
        if (!outcome.success)
            continue;
        if (++endedCount <= kNamedListings)
            ended << QStringLiteral("„%1“").arg(outcome.title);
    }
    if (endedCount > ended.size())
        ended << tr("und %1 weitere").arg(endedCount - ended.size());
    tellNotStored(tr("das Beenden"),
                  ended.isEmpty()
                      ? QString()
                      : tr("Bei eBay beendet: %1. Wird „Auswahl beenden“ noch einmal gegeben, "
                           "speichert es das nur noch, ohne die Angebote erneut zu beenden.")
                            .arg(ended.join(QStringLiteral(", "))));
}

void MainWindow::askForFees()
{
    const QList<int> ids = selectedArticleIds();
    int leftOut = 0;
    QList<int> marked;
    bool written = false;
    {
        // One transaction. An article queued for listing keeps its order: the check would
        // replace it, and the listing would never happen.
        Transaction command(db);
        written = command.isOpen();
        for (const QList<int> &group : CommandProgress::groups(ids)) {
            if (!written)
                break;
            const QString in = CommandProgress::joined(group);
            // A failed read fails the command: nothing of it is written.
            const Read<SqlRows> rows
                = db->select(QStringLiteral("SELECT id, DoCheck FROM articles WHERE id IN (") + in
                             + QLatin1Char(')'));
            written = rows.ok();
            if (!written)
                break;
            QList<int> here;
            for (const ArticleRow &row : *rows) {
                if (row.value(QStringLiteral("DoCheck")).toInt() == 2)
                    ++leftOut;
                else
                    here << row.value(QStringLiteral("id")).toInt();
            }
            if (written && !here.isEmpty())
                written = db->executeSQL(
                    QStringLiteral("UPDATE articles SET DoCheck=1 WHERE COALESCE(DoCheck,0)<>2 "
                                   "AND id IN (")
                    + CommandProgress::joined(here) + QLatin1Char(')'));
            marked += here;
        }
        written = written && command.commit();
    }
    if (written) {
        for (int id : qAsConst(marked)) {
            if (QTreeWidgetItem *row = IsItemWithIdHere(id))
                row->setData(0, ItemListRole::DoCheckRole, 1);
        }
    } else {
        tellNotStored(tr("die Vormerkung zur Gebührenberechnung"));
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
