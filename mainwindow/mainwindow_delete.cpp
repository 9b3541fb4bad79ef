// Deleting articles (by the folder shown) and emptying the trash.
#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/removalnotes.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"
#include "workers/scheduledstartservice.h"

#include <QHash>
#include <QScrollBar>
#include <QSet>

#include <algorithm>

namespace {

QString now()
{
    return Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

void MainWindow::dropPasteIds(const QList<int> &ids)
{
    QSet<QString> gone;
    gone.reserve(ids.size());
    for (int id : ids)
        gone.insert(QString::number(id));
    const auto isGone = [&gone](const QString &id) {
        return gone.contains(id);
    };
    copiedArticleIds.erase(std::remove_if(copiedArticleIds.begin(), copiedArticleIds.end(), isGone),
                           copiedArticleIds.end());
    cutArticleIds.erase(std::remove_if(cutArticleIds.begin(), cutArticleIds.end(), isGone),
                        cutArticleIds.end());
}

void MainWindow::on_actionL_schen_triggered()
{
    using namespace SpecialFolderId;
    const int folder = currentFolder;
    QString header;
    QString question;
    switch (folder) {
    case Scheduled:
        header = tr("Planung löschen bestätigen");
        question = tr("Soll die Planung für die ausgewählten Artikel gelöscht und diese an den "
                      "Ursprungsort zurückgeschoben werden?");
        break;
    case Active:
        header = tr("Aktive Artikel löschen");
        question = tr("Wenn aktive Artikel gelöscht werden, kommen diese beim nächsten "
                      "synchronisieren wieder, sofern sie noch auf der Plattform vorhanden sind. "
                      "Löschen heißt nicht beenden! Weiter?");
        break;
    case Outbox:
        header = tr("Listen abbrechen");
        question = tr("Sollen die ausgewählten Artikel zurück in die ursprünglichen Ordner "
                      "geschoben werden?");
        break;
    case Trash:
        header = tr("Aus Papierkorb löschen");
        question = tr("Sollen die ausgewählten Artikel wirklich endgültig gelöscht werden?");
        break;
    default:
        header = tr("Löschen bestätigen");
        question = tr("Sollen die ausgewählten Artikel wirklich gelöscht werden?");
        break;
    }
    // The articles the seller chose: the list may be read again while the question is open.
    QList<int> ids = selectedArticleIds();
    if (!Statics::showQuestionDialog(this, header, question))
        return;

    setEnabled(false);
    QTreeWidget *list = ui->itemlist;
    QTreeWidgetItem *first = ids.isEmpty() ? nullptr : IsItemWithIdHere(ids.first());
    const int firstIndex = first ? list->indexOfTopLevelItem(first) : 0;
    const int scrolled = list->verticalScrollBar()->value();
    list->setAutoScroll(false);
    // Deleted or not, they are not pasted any more. One pass over each list: removing the
    // ids one by one would cost a pass over the list for each selected article.
    dropPasteIds(ids);

    CommandProgress progress(this, tr("Löschen..."), ids.size());
    int failedWithdrawals = 0;
    // Why a job id could not be read: the articles not yet withdrawn stay planned.
    QString unread;
    if (folder == Scheduled) {
        // The service's starts are withdrawn first; an article whose start may still come
        // stays planned. Without a job id the service holds no start for the article (never
        // uploaded, or the upload failed): there is nothing to withdraw.
        ScheduledStartService service(db);
        QList<int> withdrawn;
        for (int k = 0; k < ids.size(); ++k) {
            const Read<QString> jobId
                = db->selectOne(QStringLiteral("SELECT Planned_Interval FROM articles WHERE id=")
                                + QString::number(ids.at(k)));
            // A failed read is no "no job": the start may still come. The database does not
            // answer: the rest is not asked about either, the withdrawn ones are stored.
            if (!jobId.ok()) {
                unread = jobId.error();
                break;
            }
            if (!jobId->isEmpty() && !service.withdraw(*jobId))
                ++failedWithdrawals;
            else
                withdrawn << ids.at(k);
            if (!progress.step(k + 1))
                break;
        }
        ids = withdrawn;
    }

    // One transaction: every article is deleted (moved, cancelled, unplanned) or none is.
    // Where an article goes is computed from its row as read inside it, and written as a
    // value: an article that is no longer in the folder shown (deleted already, by a command
    // whose answer was lost, or at another workstation) is left alone.
    QSet<int> removed;
    QMap<int, int> folderCountDelta;
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
            // A failed read fails the command: nothing of it is written.
            const Read<SqlRows> rows = db->select(
                QStringLiteral("SELECT id, FolderOld FROM articles WHERE id IN (") + in
                + QStringLiteral(") AND Trash=0 AND Folder=") + QString::number(folder));
            written = rows.ok();
            if (!written)
                break;
            QMap<int, QList<int>> byTarget; // 0: the article leaves every folder
            for (const ArticleRow &row : *rows) {
                const int id = row.value(QStringLiteral("id")).toInt();
                int target = Trash;
                if (folder == Scheduled) {
                    target = row.value(QStringLiteral("FolderOld")).toInt();
                } else if (folder == Outbox) {
                    target = row.value(QStringLiteral("FolderOld")).toInt();
                    // Queued from the outbox itself: it has no other folder to go back to.
                    if (target == Outbox || target == 0)
                        target = Drafts;
                } else if (folder == Active || folder == Trash) {
                    target = 0;
                }
                byTarget[target] << id;
            }
            for (auto it = byTarget.cbegin(); written && it != byTarget.cend(); ++it) {
                const QString where
                    = QStringLiteral(" WHERE id IN (") + CommandProgress::joined(it.value()) + ')';
                switch (folder) {
                case Scheduled:
                    written = db->executeSQL(QStringLiteral("UPDATE articles SET Planned = '', "
                                                            "Planned_Interval = '', Folder=")
                                             + QString::number(it.key()) + where);
                    break;
                case Outbox:
                    written = db->executeSQL(QStringLiteral("UPDATE articles SET Planned = '', "
                                                            "DoCheckResult='', DoCheck=0, Folder=")
                                             + QString::number(it.key()) + where);
                    break;
                case Active: {
                    // With its pictures, variations and option values.
                    const QString of = QStringLiteral(" WHERE article_id IN (")
                        + CommandProgress::joined(it.value()) + ')';
                    written = db->executeSQL(QStringLiteral("DELETE FROM articles") + where)
                        && db->executeSQL(QStringLiteral("DELETE FROM articles_images") + of)
                        && db->executeSQL(QStringLiteral("DELETE FROM articles_variations") + of)
                        && db->executeSQL(QStringLiteral("DELETE FROM articles_variations_op_val")
                                          + of);
                    break;
                }
                case Trash:
                    written = db->executeSQL(QStringLiteral("UPDATE articles SET trash=1, "
                                                            "TrashMoved='")
                                             + now() + QLatin1Char('\'') + where);
                    break;
                default:
                    written = db->executeSQL(QStringLiteral("UPDATE articles SET FolderOld=")
                                             + QString::number(folder)
                                             + QStringLiteral(", Folder=-5") + where);
                    break;
                }
                // The other workstations drop the rows: part of the command, stored with it,
                // a few statements per thousand articles.
                if (written) {
                    QHash<int, int> left;
                    left.reserve(it.value().size());
                    for (int id : it.value())
                        left.insert(id, folder);
                    written = RemovalNotes::write(*db, left);
                }
                if (written) {
                    for (int id : it.value())
                        removed << id;
                    folderCountDelta[folder] -= it.value().size();
                    if (it.key() != 0)
                        folderCountDelta[it.key()] += it.value().size();
                }
            }
            handled += group.size();
            if (!progress.step(handled))
                break;
        }
        written = written && command.commit();
    }

    if (written) {
        CommandProgress::checkpointAside(this, db);
        removeListRows(removed);
        list->verticalScrollBar()->setValue(scrolled);
        Statics::SelectNextAfterRemove(list, firstIndex);
        for (auto it = folderCountDelta.cbegin(); it != folderCountDelta.cend(); ++it)
            folderModel->ChangeFolderCount(it.key(), it.value(), false);
    }
    progress.finish(!written               ? tr("Nichts gelöscht")
                        : unread.isEmpty() ? tr("Fertig")
                                           : tr("Nicht alle gelöscht"));
    list->setAutoScroll(true);
    updateButtons();
    setEnabled(true);
    list->setFocus(Qt::OtherFocusReason);

    // A read or a write of it failed, or its outcome is not known: told once.
    if (!written)
        tellNotStored(tr("das Löschen"));
    if (failedWithdrawals > 0 || !unread.isEmpty())
        Statics::showMessage(
            this,
            unread.isEmpty()
                ? tr("Einige Startzeitplanungen konnten nicht gelöscht werden")
                : tr("Einige Startzeitplanungen konnten nicht gelöscht werden: die Datenbank "
                     "konnte nicht gelesen werden. %1")
                      .arg(unread),
            1);
}

void MainWindow::on_actionPapierkorb_leeren_triggered()
{
    if (!Statics::showQuestionDialog(this, tr("Papierkorb leeren"),
                                     tr("Sollen alle Artikel aus dem Papierkorb gelöscht werden?")))
        return;

    setEnabled(false);
    bool written = false;
    int left = 0;
    CommandProgress::leaveCheckpoints(db);
    {
        // Every article of the trash goes, or none does.
        Transaction command(db);
        written = command.isOpen();
        QList<int> ids;
        if (written) {
            // A failed read is no empty trash: the command fails and is told.
            const Read<SqlRows> rows
                = db->select(QStringLiteral("SELECT id FROM articles WHERE Folder = -5"));
            written = rows.ok();
            if (written) {
                ids.reserve(rows->size());
                for (const ArticleRow &row : *rows)
                    ids << row.value(QStringLiteral("id")).toInt();
            }
        }
        CommandProgress progress(this, tr("Löschen..."), ids.size());
        int handled = 0;
        for (const QList<int> &group : CommandProgress::groups(ids)) {
            if (!written)
                break;
            written = db->executeSQL(QStringLiteral("UPDATE articles SET trash=1, TrashMoved='")
                                     + now() + QStringLiteral("' WHERE Folder = -5 AND id IN (")
                                     + CommandProgress::joined(group) + QLatin1Char(')'));
            handled += group.size();
            // Stopped by closing: what is left in the trash is still counted.
            if (!progress.step(handled)) {
                left = ids.size() - handled;
                break;
            }
        }
        written = written && command.commit();
        progress.finish(written ? tr("Fertig") : tr("Nichts gelöscht"));
    }
    if (written) {
        CommandProgress::checkpointAside(this, db);
        folderModel->ChangeFolderCount(SpecialFolderId::Trash, left, true);
    }
    setEnabled(true);
    if (!written) {
        tellNotStored(tr("das Leeren des Papierkorbs"));
        return;
    }
    if (currentFolder == SpecialFolderId::Trash)
        reloadData();
}
