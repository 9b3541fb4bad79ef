// Deleting articles (by the folder shown) and emptying the trash.
#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/variationrows.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"
#include "workers/scheduledstartservice.h"

#include <QScrollBar>

namespace {

QString now()
{
    return Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

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
    if (!Statics::showQuestionDialog(this, header, question))
        return;

    setEnabled(false);
    QTreeWidget *list = ui->itemlist;
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    const int firstIndex = selected.isEmpty() ? 0 : list->indexOfTopLevelItem(selected.first());
    const QList<int> ids = selectedArticleIds();
    const int scrolled = list->verticalScrollBar()->value();
    list->setAutoScroll(false);

    CommandProgress progress(this, tr("Löschen..."), ids.size());
    ScheduledStartService service(db);
    QSet<int> removed;
    QStringList removedIds;
    QMap<int, int> folderCountDelta;
    int failedWithdrawals = 0;

    for (int k = 0; k < ids.size(); ++k) {
        const QString id = QString::number(ids.at(k));
        const QString where = QStringLiteral(" WHERE id=") + id;
        int target = 0; // the folder the article goes to; 0: it leaves every folder
        bool done = false;
        switch (folder) {
        case Scheduled: {
            const SqlRows rows
                = db->select(QStringLiteral("SELECT Planned_Interval, FolderOld FROM articles")
                             + where);
            if (rows.isEmpty())
                break;
            const QString jobId = rows.first().value(QStringLiteral("Planned_Interval")).toString();
            // Without a job id the service holds no start for the article (never uploaded,
            // or the upload failed): there is nothing to withdraw.
            if (!jobId.isEmpty() && !service.withdraw(jobId)) {
                ++failedWithdrawals;
                break;
            }
            done = db->executeSQL(QStringLiteral("UPDATE articles SET Planned = '', "
                                                 "Planned_Interval = '', Folder=FolderOld")
                                  + where);
            target = rows.first().value(QStringLiteral("FolderOld")).toInt();
            break;
        }
        case Outbox: {
            target = db->selectOne(QStringLiteral("SELECT FolderOld FROM articles") + where).toInt();
            // Queued from the outbox itself: it has no other folder to go back to.
            if (target == Outbox)
                target = Drafts;
            done = db->executeSQL(QStringLiteral("UPDATE articles SET Planned = '', "
                                                 "DoCheckResult='', DoCheck=0, Folder=")
                                  + QString::number(target) + where);
            break;
        }
        case Active:
            // With its pictures, variations and option values, or not at all.
            done = VariationRows::removeArticle(db, ids.at(k));
            break;
        case Trash:
            done = db->executeSQL(QStringLiteral("UPDATE articles SET trash=1, TrashMoved='")
                                  + now() + QLatin1Char('\'') + where);
            break;
        default:
            // FolderOld first: MySQL assigns from left to right, with the new Folder.
            done = db->executeSQL(QStringLiteral("UPDATE articles SET FolderOld=Folder, Folder=-5")
                                  + where);
            target = Trash;
            break;
        }
        if (done) {
            removed << ids.at(k);
            removedIds << id;
            --folderCountDelta[folder];
            if (target != 0)
                ++folderCountDelta[target];
        }
        // Deleted or not, it is not pasted any more.
        copiedArticleIds.removeOne(id);
        cutArticleIds.removeOne(id);
        if (!progress.step(k + 1))
            break;
    }

    removeListRows(removed);
    list->verticalScrollBar()->setValue(scrolled);
    Statics::SelectNextAfterRemove(list, firstIndex);
    progress.finish(tr("Fertig"));
    list->setAutoScroll(true);

    if (db->isMySQL) {
        for (const QString &id : qAsConst(removedIds))
            db->mysqlAddRemoveInfo(folder, id);
    }
    for (auto it = folderCountDelta.cbegin(); it != folderCountDelta.cend(); ++it)
        folderModel->ChangeFolderCount(it.key(), it.value(), false);
    updateButtons();
    setEnabled(true);
    list->setFocus(Qt::OtherFocusReason);

    if (failedWithdrawals > 0)
        Statics::showMessage(this, tr("Einige Startzeitplanungen konnten nicht gelöscht werden"),
                             1);
}

void MainWindow::on_actionPapierkorb_leeren_triggered()
{
    if (!Statics::showQuestionDialog(this, tr("Papierkorb leeren"),
                                     tr("Sollen alle Artikel aus dem Papierkorb gelöscht werden?")))
        return;

    const SqlRows rows = db->select(QStringLiteral("SELECT id FROM articles WHERE Folder = -5"));
    setEnabled(false);
    CommandProgress progress(this, tr("Löschen..."), rows.size());
    bool complete = true;
    for (int i = 0; i < rows.size(); ++i) {
        db->executeSQL(QStringLiteral("UPDATE articles SET trash=1, TrashMoved='") + now()
                       + QStringLiteral("' WHERE id = ")
                       + rows.at(i).value(QStringLiteral("id")).toString());
        if (!progress.step(i + 1)) {
            complete = i + 1 == rows.size();
            break;
        }
    }
    // Stopped by closing: what is left in the trash is still counted.
    const int left = complete ? 0
                              : db->selectOne(QStringLiteral("SELECT COUNT(*) FROM articles "
                                                             "WHERE Folder = -5 AND Trash=0"))
                                    .toInt();
    folderModel->ChangeFolderCount(SpecialFolderId::Trash, left, true);
    progress.finish(tr("Fertig"));
    setEnabled(true);
    if (currentFolder == SpecialFolderId::Trash)
        reloadData();
}
