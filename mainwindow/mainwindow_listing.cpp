// Article commands that hand work to the marketplace: the outbox, scheduled starts, a
// synchronisation run, the listing's page, ending listings and the fee check.
#include "mainwindow/mainwindow.h"

#include "core/backgroundworker.h"
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
#include <QHash>
#include <QLocale>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QUrl>
#include <memory>
#include <utility>

namespace {
constexpr int kTrayMessageMs = 3000;
// Listings named in a notice; the rest are counted.
constexpr int kNamedListings = 10;
// Listing pages opened in the browser without asking first.
constexpr int kPagesWithoutAsking = 10;
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
    idTexts.reserve(ids.size());
    for (int id : ids)
        idTexts << QString::number(id);
    // One read per group of articles. An article not found (deleted meanwhile) counts as
    // not verified, as its empty value always did.
    int verifiedCount = 0;
    for (const QList<int> &group : CommandProgress::groups(ids)) {
        const Read<SqlRows> rows
            = db->select(QStringLiteral("SELECT id, IsVerified FROM articles WHERE id IN (")
                         + CommandProgress::joined(group) + QLatin1Char(')'));
        // Not read is not "unverified": the dialog is not opened on a guess.
        if (!rows.ok()) {
            tellNotStored(tr("die Planung"));
            return;
        }
        for (const ArticleRow &row : *rows) {
            if (row.value(QStringLiteral("IsVerified")).toString() == QLatin1String("1"))
                ++verifiedCount;
        }
    }
    const int unverified = ids.size() - verifiedCount;
    const int folder = currentFolder;

    auto *dialog = new Planning(this, idTexts.join(QLatin1Char(',')), QString::number(folder),
                                unverified == 0, unverified);
    connect(dialog, &Planning::ChangeFolderCount, folderModel, &FolderModel::ChangeFolderCount,
            Qt::QueuedConnection);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    const bool unknown = dialog->outcomeUnknown();
    const bool oldJobsKept = dialog->oldJobsKept();
    const QString failure = dialog->failure();
    dialog->deleteLater();
    if (unknown) {
        // Articles planned before keep their job at the start service, stored or not: the
        // service starts them at the old time until they are planned again.
        tellOutcomeUnknown(
            tr("die Planung"),
            oldJobsKept ? tr("Bereits geplante Artikel startet die Startzeitplanung weiter zum "
                             "bisherigen Termin, auch wenn die Liste den neuen zeigt: bitte plane "
                             "sie noch einmal.")
                        : QString());
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
    for (const QList<int> &group : CommandProgress::groups(ids)) {
        const Read<SqlRows> rows = readListRows(group);
        // Not read: the window reads what is stored again later (see readListRows()).
        if (!rows.ok())
            break;
        for (const ArticleRow &stored : *rows) {
            const int id = stored.value(QStringLiteral("id")).toInt();
            if (folder != SpecialFolderId::Scheduled) {
                if (stored.value(QStringLiteral("Folder")).toInt() == SpecialFolderId::Scheduled)
                    moved << id;
            } else if (QTreeWidgetItem *row = IsItemWithIdHere(id)) {
                UpdateListItem(stored, row);
            }
        }
    }
    removeListRows(moved);
    emit startCheckNow();
}

void MainWindow::on_actionSynchronisieren_triggered()
{
    updateButtons();
    ui->actionSynchronisieren->setEnabled(false);
    emit startSyncNow();
}

void MainWindow::on_actionArtikel_online_aufrufen_triggered()
{
    const QList<int> ids = selectedArticleIds();
    // Read by groups: one statement per group, not per article.
    QHash<int, QString> addresses;
    for (const QList<int> &group : CommandProgress::groups(ids)) {
        const Read<SqlRows> rows = db->select(
            QStringLiteral("SELECT i.ItemID, a.sandbox, i.id FROM articles i, accounts a WHERE "
                           "i.Account=a.id AND i.id IN (")
            + CommandProgress::joined(group) + QLatin1Char(')'));
        // Not read is not "no listing": the seller learns why nothing opens.
        if (!rows.ok()) {
            Statics::showMessage(
                this, tr("Die Angebote konnten nicht aufgerufen werden: %1").arg(rows.error()), 2);
            return;
        }
        for (const ArticleRow &row : *rows) {
            const QString itemId = row.value(QStringLiteral("ItemID")).toString().trimmed();
            if (itemId.isEmpty())
                continue;
            const bool sandbox = row.value(QStringLiteral("sandbox")).toInt() == 1;
            const QString address = Config::address(
                sandbox ? Config::Key::ItemSandboxHost : Config::Key::ItemHost,
                QStringLiteral("/itm/") + QString::fromLatin1(QUrl::toPercentEncoding(itemId)));
            if (!address.isEmpty())
                addresses.insert(row.value(QStringLiteral("id")).toInt(), address);
        }
    }
    // In the order of the list.
    QStringList pages;
    for (int id : ids) {
        const auto address = addresses.constFind(id);
        if (address != addresses.cend())
            pages << *address;
    }
    // Many pages at once would swamp the browser: the seller says first whether he wants them.
    if (pages.size() > kPagesWithoutAsking
        && !Statics::showQuestionDialog(this, tr("Artikel online aufrufen"),
                                        tr("%1 Seiten im Browser öffnen?")
                                            .arg(QLocale(QLocale::German).toString(pages.size()))))
        return;
    for (const QString &page : qAsConst(pages))
        QDesktopServices::openUrl(QUrl(page));
}

void MainWindow::on_actionAuwahl_beenden_triggered()
{
    if (currentFolder == SpecialFolderId::Active)
        endListings();
    else
        askForFees();
}

namespace {

// What "Angebot beenden" did, handed from the background worker to the window.
struct EndedListings
{
    struct Outcome
    {
        int id;
        QString itemId;
        QString title;
        bool success; // ended at the marketplace
        QString failure; // the marketplace's reason
    };
    int chosen = 0;
    // The running listings could not be read: none was asked.
    bool readFailed = false;
    QString readError;
    QList<Outcome> outcomes; // in the order asked
    QSet<int> notRunning; // shown as running, but not stored so
    // "Abbrechen" (or closing) came before every listing was asked.
    bool stopped = false;
    bool written = false;
    bool unknown = false; // the answer to the commit was lost
    QString writeError; // why nothing was stored
    // Why listings the marketplace ended could not be moved: they are stored as failures.
    QString moveError;
    QSet<int> endedIds;
    QMap<int, QString> marks; // the failure shown in the row
    QVector<NewsItem> records; // the activity entries as written, oldest first
};

} // namespace

struct MainWindow::EndReport : EndedListings
{
};

namespace {

// Activity entries written by one statement.
constexpr int kEntriesPerInsert = 100;

QString failureReason(const Database &db)
{
    return db.lastFailureTransient()
        ? db.lastErrorText
        : MainWindow::tr("Die Datenbank meldet:\n%1").arg(db.lastErrorText);
}

// On the background worker: the listings of `ids` still running as stored, asked to end one
// after the other until "Abbrechen".
void askMarketplace(Database &db, BackgroundJob::Control &control, EndedListings &report,
                    const QList<int> &ids, const QString &reason, const QSet<QString> &endedBefore)
{
    // Only a listing still running as stored: one whose end is stored already (by an earlier
    // command whose answer was lost, or at another workstation) is not ended again.
    QHash<int, ArticleRow> running;
    for (const QList<int> &group : CommandProgress::groups(ids)) {
        const Read<SqlRows> rows = db.select(
            QStringLiteral("SELECT i.id, i.ItemID, i.Site, i.Title, a.token, a.sandbox FROM "
                           "articles i, accounts a WHERE i.Account=a.id AND i.Trash=0 AND "
                           "i.Folder=-9 AND i.id IN (")
            + CommandProgress::joined(group) + QLatin1Char(')'));
        if (!rows.ok()) {
            // The database can't tell which listings still run: none is ended.
            report.readFailed = true;
            report.readError = failureReason(db);
            return;
        }
        for (const ArticleRow &row : *rows)
            running.insert(row.value(QStringLiteral("id")).toInt(), row);
    }
    for (int k = 0; k < ids.size(); ++k) {
        // Stopped before the next call: what was ended is stored below.
        if (control.cancelled()) {
            report.stopped = true;
            return;
        }
        const auto found = running.constFind(ids.at(k));
        if (found == running.cend()) {
            report.notRunning << ids.at(k);
            continue;
        }
        const ArticleRow &article = *found;
        const QString title = article.value(QStringLiteral("Title")).toString();
        const QString itemId = article.value(QStringLiteral("ItemID")).toString();
        if (!itemId.isEmpty() && endedBefore.contains(itemId)) {
            // Ended by an earlier command whose move could not be stored.
            report.outcomes.append({ ids.at(k), itemId, title, true, QString() });
        } else {
            Api_Ebay api(article.value(QStringLiteral("token")).toString(), nullptr,
                         article.value(QStringLiteral("sandbox")).toInt());
            const bool success
                = api.endItem(reason, itemId, article.value(QStringLiteral("Site")).toString());
            report.outcomes.append(
                { ids.at(k), itemId, title, success, success ? QString() : api.getLastFail() });
        }
        control.progress(k + 1, ids.size());
    }
}

// On the background worker: what the marketplace answered, stored in one transaction by
// groups: the moves of the ended listings, the failures, and every activity entry. All of it,
// or none.
void storeOutcomes(Database &db, EndedListings &report)
{
    using Outcome = EndedListings::Outcome;
    if (report.outcomes.isEmpty()) {
        report.written = true;
        return;
    }
    const QString stamp = Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QSet<int> moved;
    QMap<int, QString> marks;
    bool written = false;
    {
        Transaction command(db);
        written = command.isOpen();
        QList<int> ended;
        for (const Outcome &outcome : qAsConst(report.outcomes)) {
            if (outcome.success)
                ended << outcome.id;
        }
        for (const QList<int> &group : CommandProgress::groups(ended)) {
            if (!written)
                break;
            // A lost connection ends the command; a refused move leaves the rows in the
            // active folder, where they must not look like running listings. The next
            // synchronisation moves them.
            bool done = false;
            {
                const Database::FailureTolerated refusedMove(db);
                done = db.executeSQL(
                    QStringLiteral("UPDATE articles SET Folder=-8, DoCheckResult='' WHERE id IN (")
                    + CommandProgress::joined(group) + QLatin1Char(')'));
            }
            if (done) {
                for (int id : group)
                    moved << id;
            } else if (db.lastOutcome() == Database::Outcome::Refused) {
                report.moveError = db.lastErrorText;
            } else {
                written = false;
            }
        }
        // Every listing not moved shows why, in one statement per group.
        QList<int> failed;
        for (const Outcome &outcome : qAsConst(report.outcomes)) {
            if (moved.contains(outcome.id))
                continue;
            const QString text = outcome.success
                ? MainWindow::tr("wurde bei eBay beendet, die Änderung konnte aber nicht "
                                 "gespeichert werden. Die Datenbank meldet: %1")
                      .arg(report.moveError)
                : outcome.failure;
            marks.insert(outcome.id, QStringLiteral("(f)") + text);
            failed << outcome.id;
        }
        for (const QList<int> &group : CommandProgress::groups(failed)) {
            if (!written)
                break;
            QString cases;
            for (int id : group)
                cases += QStringLiteral(" WHEN %1 THEN '%2'")
                             .arg(QString::number(id), Database::escapeString(marks.value(id)));
            written = db.executeSQL(QStringLiteral("UPDATE articles SET DoCheckResult=CASE id")
                                    + cases + QStringLiteral(" END WHERE id IN (")
                                    + CommandProgress::joined(group) + QLatin1Char(')'));
        }
        // The activity entries, several rows to a statement.
        for (int first = 0; written && first < report.outcomes.size(); first += kEntriesPerInsert) {
            const int last = qMin(first + kEntriesPerInsert, report.outcomes.size());
            QStringList rows;
            QVector<QVariant> values;
            for (int k = first; k < last; ++k) {
                const Outcome &outcome = report.outcomes.at(k);
                const bool ended = moved.contains(outcome.id);
                rows << QStringLiteral("(?,?,?,?,?,?)");
                values << stamp << outcome.title << QString() << outcome.id
                       << (ended ? MainWindow::tr("wurde erfolgreich beendet")
                                 : marks.value(outcome.id).mid(3))
                       << (ended ? QStringLiteral("end_success") : QStringLiteral("end_fail"));
            }
            Database::BoundRows inserted;
            written
                = db.execBound(QStringLiteral("INSERT INTO itemshistory (indate, title, itemid, "
                                              "databaseid, textinfo, infotype) VALUES ")
                                   + rows.join(QLatin1Char(',')),
                               values, inserted);
        }
        // Their ids, as the activity list knows its entries by them.
        QHash<int, int> entryIds;
        QList<int> all;
        for (const Outcome &outcome : qAsConst(report.outcomes))
            all << outcome.id;
        for (const QList<int> &group : CommandProgress::groups(all)) {
            if (!written)
                break;
            const Read<SqlRows> rows
                = db.select(QStringLiteral("SELECT id, databaseid FROM itemshistory WHERE "
                                           "infotype IN ('end_success','end_fail') AND indate='")
                            + stamp + QStringLiteral("' AND databaseid IN (")
                            + CommandProgress::joined(group) + QLatin1Char(')'));
            written = rows.ok();
            if (!written)
                break;
            for (const ArticleRow &row : *rows) {
                const int article = row.value(QStringLiteral("databaseid")).toInt();
                entryIds[article]
                    = qMax(entryIds.value(article), row.value(QStringLiteral("id")).toInt());
            }
        }
        // Only a lost answer to the commit leaves open whether it was stored: a statement
        // lost before it took the transaction with it.
        if (written) {
            written = command.commit();
            report.unknown = !written && db.lastOutcome() == Database::Outcome::Unknown;
        }
        if (!written)
            report.writeError = failureReason(db);
        if (written) {
            for (const Outcome &outcome : qAsConst(report.outcomes)) {
                const bool ended = moved.contains(outcome.id);
                NewsItem entry;
                entry.id = entryIds.value(outcome.id);
                // As the activity list would read it back.
                entry.indate = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                entry.title = outcome.title;
                entry.textinfo = ended ? MainWindow::tr("wurde erfolgreich beendet")
                                       : marks.value(outcome.id).mid(3);
                entry.infotype = ended ? QStringLiteral("end_success") : QStringLiteral("end_fail");
                entry.databaseid = outcome.id;
                report.records << entry;
            }
        }
    }
    report.written = written;
    if (written) {
        report.endedIds = moved;
        report.marks = marks;
    }
}

} // namespace

void MainWindow::endListings()
{
    // One at a time: the one under way shows its progress below the status panel.
    if (m_endJob) {
        Statics::showMessage(this,
                             tr("Es werden gerade Angebote beendet. Bitte warten Sie, bis das "
                                "abgeschlossen ist."),
                             1);
        return;
    }
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

    // The marketplace is asked on the background worker, one listing after the other; what
    // it answered is then stored in one transaction: every outcome with its activity entry,
    // or none. The window goes on meanwhile.
    auto report = std::make_shared<EndReport>();
    report->chosen = ids.size();
    const QSet<QString> endedBefore = m_endedAtMarketplace;
    BackgroundJob *job = BackgroundWorker::instance()->post(
        tr("Angebot beenden"),
        [report, ids, reason, endedBefore](Database &db, BackgroundJob::Control &control) {
            askMarketplace(db, control, *report, ids, reason, endedBefore);
            if (!report->readFailed)
                storeOutcomes(db, *report);
        });
    m_endJob = job;
    connect(job, &BackgroundJob::finished, this, [this, report] { endListingsFinished(*report); });
    showJob(job, tr("Angebote werden beendet …"));
}

void MainWindow::endListingsFinished(const EndReport &report)
{
    // What the marketplace ended and is not stored yet is ended without asking it again.
    for (const EndReport::Outcome &outcome : report.outcomes) {
        if (!outcome.success || outcome.itemId.isEmpty())
            continue;
        if (report.endedIds.contains(outcome.id))
            m_endedAtMarketplace.remove(outcome.itemId);
        else
            m_endedAtMarketplace.insert(outcome.itemId);
    }
    // Closing ended it: nobody is to be told any more.
    if (CommandProgress::closing())
        return;
    const QString command = tr("das Beenden");
    const QString shownNow = tr("Die Anzeige zeigt jetzt, was gespeichert ist.");
    if (report.readFailed) {
        updateStatusBar(tr("Nicht gespeichert"), report.chosen, report.chosen);
        tellAndShowStored(tr("Die Änderung konnte nicht gespeichert werden: %1 hat nichts "
                             "geändert. %2")
                              .arg(command, report.readError)
                          + QStringLiteral("\n\n") + shownNow);
        return;
    }
    updateStatusBar(report.written ? tr("Fertig") : tr("Nicht gespeichert"), report.chosen,
                    report.chosen);
    if (report.written) {
        // The replies were awaited with the window going on: rows may have come or gone, so
        // a row is looked up by its article.
        for (auto it = report.marks.cbegin(); it != report.marks.cend(); ++it) {
            if (QTreeWidgetItem *row = IsItemWithIdHere(it.key()))
                row->setData(0, ItemListRole::DoCheckResultRole, it.value());
        }
        // The activity list takes every entry in one step; what a worker sent before goes
        // first.
        if (!queuedNews.isEmpty())
            takeNews(std::exchange(queuedNews, {}), false);
        takeNews(report.records, false);
        removeListRows(report.endedIds);
        folderModel->ChangeFolderCount(SpecialFolderId::Active, -report.endedIds.size(), false);
        folderModel->ChangeFolderCount(SpecialFolderId::Unsold, report.endedIds.size(), false);
        if (!report.notRunning.isEmpty()) {
            // Ended (or moved) elsewhere meanwhile: shown where they are stored.
            removeListRows(report.notRunning);
            folderModel->refreshCounts();
        }
        if (!report.moveError.isEmpty()) {
            // Ended at the marketplace, but not moved: their rows say so, and so does this.
            tellAndShowStored(tr("Die Änderung konnte nicht gespeichert werden. %1")
                                  .arg(tr("Die Datenbank meldet:\n%1").arg(report.moveError))
                              + QStringLiteral("\n\n") + shownNow);
        } else if (report.stopped) {
            Statics::showMessage(this,
                                 tr("Das Beenden wurde abgebrochen: %1 von %2 Angeboten wurden "
                                    "beendet.")
                                     .arg(report.endedIds.size())
                                     .arg(report.chosen),
                                 1);
        }
        return;
    }
    // Ended at the marketplace but not stored here (or not known to be): the seller reads
    // which, and the window shows what is stored. The next synchronisation, or the command
    // given again without asking the marketplace, moves them.
    QStringList ended;
    int endedCount = 0;
    for (const EndReport::Outcome &outcome : report.outcomes) {
        if (!outcome.success)
            continue;
        if (++endedCount <= kNamedListings)
            ended << QStringLiteral("„%1“").arg(outcome.title);
    }
    if (endedCount > ended.size())
        ended << tr("und %1 weitere").arg(endedCount - ended.size());
    const QString done = ended.isEmpty()
        ? QString()
        : tr("Bei eBay beendet: %1. Wird „Auswahl beenden“ noch einmal gegeben, speichert es das "
             "nur noch, ohne die Angebote erneut zu beenden.")
              .arg(ended.join(QStringLiteral(", ")));
    QString text;
    if (report.unknown)
        text = tr("Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung zur Datenbank "
                  "brach ab.")
                   .arg(command);
    else if (done.isEmpty())
        text = tr("Die Änderung konnte nicht gespeichert werden: %1 hat nichts geändert. %2")
                   .arg(command, report.writeError);
    else
        text = tr("Die Änderung konnte nicht gespeichert werden. %1").arg(report.writeError);
    if (!done.isEmpty())
        text = done + QStringLiteral("\n\n") + text;
    tellAndShowStored(text + QStringLiteral("\n\n") + shownNow);
}

void MainWindow::askForFees()
{
    const QList<int> ids = selectedArticleIds();
    int leftOut = 0;
    QList<int> marked;
    bool written = false;
    setEnabled(false);
    CommandProgress progress(this, tr("Zur Gebührenberechnung vormerken..."), ids.size());
    CommandProgress::leaveCheckpoints(db);
    {
        // One transaction. An article queued for listing keeps its order: the check would
        // replace it, and the listing would never happen. Stopped by closing, none is marked.
        Transaction command(db);
        written = command.isOpen();
        int handled = 0;
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
            if (!here.isEmpty())
                written = db->executeSQL(
                    QStringLiteral("UPDATE articles SET DoCheck=1 WHERE COALESCE(DoCheck,0)<>2 "
                                   "AND id IN (")
                    + CommandProgress::joined(here) + QLatin1Char(')'));
            marked += here;
            handled += group.size();
            if (!progress.step(handled)) {
                written = false;
                break;
            }
        }
        written = written && command.commit();
    }
    progress.finish(written ? tr("Fertig") : tr("Nichts vorgemerkt"));
    if (written)
        CommandProgress::checkpointAside(this, db);
    setEnabled(true);
    if (CommandProgress::closing())
        return;
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
