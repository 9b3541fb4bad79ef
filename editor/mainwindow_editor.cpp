// The commands that open the article editor: a new article, an opened one, duplicates.
#include "mainwindow/mainwindow.h"

#include "core/articlecopies.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "editor/addarticle.h"
#include "mainwindow/commandprogress.h"
#include "mainwindow/setupaccount.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"

#include "ui_mainwindow.h"

#include <QSqlQuery>
#include <QSystemTrayIcon>

namespace {

constexpr int kTrayNoticeMs = 3000;

// A new article can be filed in Drafts or a user folder; elsewhere it goes to Drafts.
bool takesNewArticles(int folder)
{
    return folder == SpecialFolderId::Drafts || folder >= 1;
}

} // namespace

int MainWindow::runEditor(int articleId, int folder, bool duplicate, int *savedId)
{
    setEnabled(false);
    auto *editor = new AddArticle(this, articleId, folder, duplicate);
    // The copy is stored with the source's variations or not at all.
    if (duplicate)
        editor->copyVariationsFrom(articleId);
    editor->setWindowModality(Qt::WindowModal);
    // An editor that found nothing to open has told the user so; it is not shown.
    const int result = editor->isReady() ? editor->exec() : QDialog::Rejected;
    if (savedId)
        *savedId = editor->getLoadId();
    // A save whose outcome is not known has one road to the seller: told here, once, and
    // the window shows what is stored. The callers then have nothing to add or count.
    const QString unknown = editor->outcomeUnknown() ? editor->unknownCommand() : QString();
    editor->deleteLater();
    setEnabled(true);
    ui->itemlist->setFocus(Qt::OtherFocusReason);
    if (!unknown.isEmpty()) {
        tellOutcomeUnknown(unknown);
        return QDialog::Rejected;
    }
    return result;
}

void MainWindow::appendListRow(int id)
{
    const QMap<QString, QVariant> row = readListRow(id);
    if (row.isEmpty())
        return;
    auto *item = new QTreeWidgetItem;
    UpdateListItem(row, item);
    ui->itemlist->addTopLevelItem(item);
    updateBar();
}

void MainWindow::on_actionNeuer_Artikel_triggered()
{
    if (ui->AccountFilterBox->count() < 2) {
        // An account is connected through eBay's sign-in, which needs the developer keys; the
        // predecessor's export brings its accounts along without them.
        const QStringList missing = SetupAccount::missingConfiguration(false, true);
        Statics::showMessage(
            this,
            missing.isEmpty()
                ? tr("Für einen neuen Artikel wird ein eBay-Konto gebraucht: Bitte legen Sie "
                     "zuerst unter „Extras › Einstellungen“ ein Konto an, oder importieren Sie "
                     "die Daten von Rovive 2 („Datei › Rovive 2 Daten importieren…“) mit ihren "
                     "Konten.")
                : tr("Für einen neuen Artikel wird ein eBay-Konto gebraucht. Ein Konto lässt "
                     "sich erst anlegen, wenn die Entwicklerschlüssel von eBay eingetragen sind "
                     "(es fehlt: %1; siehe README, „Marketplace keys and addresses“). Ohne sie "
                     "bringt der Import der Daten von Rovive 2 („Datei › Rovive 2 Daten "
                     "importieren…“) Konten und Artikel mit.")
                      .arg(missing.join(QStringLiteral(", "))),
            0);
        return;
    }
    int id = 0;
    if (runEditor(0, currentFolder, false, &id) != QDialog::Accepted)
        return;
    if (!takesNewArticles(currentFolder)) {
        folderModel->ChangeFolderCount(SpecialFolderId::Drafts, 1, false);
        return;
    }
    folderModel->ChangeFolderCount(currentFolder, 1, false);
    appendListRow(id);
}

void MainWindow::on_itemlist_itemDoubleClicked(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const int id = item->data(0, ItemListRole::ArticleIdRole).toInt();
    // The list may change while the editor runs: the row is looked up again afterwards.
    if (runEditor(id, currentFolder, false, nullptr) != QDialog::Accepted)
        return;
    const QMap<QString, QVariant> row = readListRow(id);
    QTreeWidgetItem *listed = IsItemWithIdHere(id);
    if (!row.isEmpty() && listed)
        UpdateListItem(row, listed);
}

void MainWindow::on_actionDuplizieren_triggered()
{
    const QList<QTreeWidgetItem *> selected = ui->itemlist->selectedItems();
    if (selected.size() == 1) {
        const int source = selected.first()->data(0, ItemListRole::ArticleIdRole).toInt();
        const int target
            = takesNewArticles(currentFolder) ? currentFolder : SpecialFolderId::Drafts;
        int id = 0;
        // The editor saves the copy with its variations in one transaction; one whose outcome
        // is not known it leaves to runEditor, which tells it and shows what is stored.
        if (runEditor(source, target, true, &id) != QDialog::Accepted)
            return;
        folderModel->ChangeFolderCount(target, 1, false);
        if (target != currentFolder) {
            if (trayIcon)
                trayIcon->showMessage(tr("Zerire3"),
                                      tr("Der neue Artikel wurde im Bereich Vorlagen hinterlegt"),
                                      QSystemTrayIcon::Information, kTrayNoticeMs);
            return;
        }
        appendListRow(id);
        return;
    }

    QStringList ids;
    for (QTreeWidgetItem *item : selected)
        ids << item->data(0, ItemListRole::ArticleIdRole).toString();
    const bool here = takesNewArticles(currentFolder);
    if (here) {
        // Inside drafts and user folders the rows are pasted as copies; the seller's own
        // copy and cut lists are kept.
        if (ids.isEmpty())
            return;
        const QStringList copied = copiedArticleIds;
        const QStringList cut = cutArticleIds;
        copiedArticleIds = ids;
        on_actionEinf_gen_triggered();
        copiedArticleIds = copied;
        cutArticleIds = cut;
        updateButtons();
        return;
    }
    // The copies are new, unlisted templates, written so by the copying statement itself:
    // whatever becomes of a copy, it is never a second row of a listing. All of them are
    // made in one transaction, or none; a lock another workstation holds on any of them ends
    // it after one wait.
    const int target = SpecialFolderId::Drafts;
    QList<int> sources;
    for (const QString &id : qAsConst(ids))
        sources << id.toInt();
    ArticleCopies copies(*db, Database::freshCopy(target));
    bool written = false;
    // Copied by groups, each with its pictures and variations; the window paints between them.
    setEnabled(false);
    CommandProgress progress(this, tr("Kopieren..."), sources.size());
    CommandProgress::leaveCheckpoints(db);
    {
        Transaction command(db);
        written = command.isOpen();
        int handled = 0;
        for (const QList<int> &group : CommandProgress::groups(sources)) {
            if (!written)
                break;
            // As stored now, and on a shared database held unchanged until the copies are
            // made. One whose article is gone meanwhile is left out.
            QSqlQuery query;
            if (!db->selectQuery(QStringLiteral("SELECT id FROM articles WHERE id IN (")
                                     + CommandProgress::joined(group) + QLatin1Char(')')
                                     + (db->isMySQL ? QStringLiteral(" LOCK IN SHARE MODE")
                                                    : QString()),
                                 query)) {
                written = false;
                break;
            }
            QList<int> found;
            while (query.next())
                found << query.value(0).toInt();
            written = db->rowsComplete(query);
            query.finish();
            written = written && copies.copy(found);
            handled += group.size();
            // Stopped by closing, none is kept either.
            if (written && !progress.step(handled))
                written = false;
        }
        written = written && command.commit();
    }
    const int made = copies.made().size();
    progress.finish(written ? tr("Fertig") : tr("Nichts kopiert"));
    if (written)
        CommandProgress::checkpointAside(this, db);
    setEnabled(true);
    if (CommandProgress::closing())
        return;
    if (!written) {
        // Nothing of it is kept (or, Unknown, it may be): told once, with the reason, and the
        // window shows what is stored.
        folderModel->tellFailure(tr("die Kopie"), true);
        return;
    }
    folderModel->ChangeFolderCount(target, made, false);
    if (trayIcon)
        trayIcon->showMessage(tr("Zerire3"),
                              tr("Die ausgewählten Artikel wurden in die Vorlagen kopiert"),
                              QSystemTrayIcon::Information, kTrayNoticeMs);
}
