// Cut, copy and paste of articles. The clipboard is two lists of article ids; pasting
// duplicates each article (with its pictures and variations) into the folder shown.
#include "mainwindow/mainwindow.h"

#include "core/articlecopies.h"
#include "core/database.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelection>
#include <QLabel>
#include <QSet>
#include <QSqlQuery>

namespace {

QStringList asTexts(const QList<int> &ids)
{
    QStringList texts;
    for (int id : ids)
        texts << QString::number(id);
    return texts;
}

} // namespace

void MainWindow::on_actionAusschneiden_triggered()
{
    copiedArticleIds.clear();
    cutArticleIds = asTexts(selectedArticleIds());
    updateButtons();
}

void MainWindow::on_actionKopieren_triggered()
{
    // Text marked in a label (an article's details) is copied as text.
    QWidget *focus = QApplication::focusWidget();
    if (focus && qstrcmp(focus->metaObject()->className(), "QLabel") == 0) {
        const QString text = static_cast<QLabel *>(focus)->selectedText();
        if (!text.isEmpty()) {
            QApplication::clipboard()->setText(text, QClipboard::Clipboard);
            return;
        }
    }
    cutArticleIds.clear();
    copiedArticleIds = asTexts(selectedArticleIds());
    updateButtons();
}

void MainWindow::on_actionEinf_gen_triggered()
{
    const bool copyMode = !copiedArticleIds.isEmpty();
    const QStringList source = copyMode ? copiedArticleIds : cutArticleIds;
    if (source.isEmpty())
        return;
    QList<int> ids;
    QSet<int> seen;
    for (const QString &text : source) {
        const int id = text.toInt();
        if (id > 0 && !seen.contains(id)) {
            seen.insert(id);
            ids << id;
        }
    }

    const int folder = currentFolder;
    QTreeWidget *list = ui->itemlist;
    list->clearSelection();
    setEnabled(false);

    // The copy is a new, unlisted article in the folder shown, written so by the copying
    // statement itself.
    ArticleCopies copies(*db, Database::freshCopy(folder));
    const QString text = tr("Füge Datensätze aus Zwischenablage ein...");
    const QString what = tr("das Einfügen");
    CommandProgress progress(this, text, ids.size());
    // One transaction for the whole paste, written by groups: every article is pasted (and,
    // when cut, removed) or none is. The first statement that fails ends it, a lock another
    // workstation holds on any of the articles too: one wait, not one per article.
    QHash<int, int> sourceFolders; // article found -> its folder
    bool written = false;
    CommandProgress::leaveCheckpoints(db);
    {
        Transaction command(db);
        written = command.isOpen();
        int handled = 0;
        const QList<QList<int>> groups = CommandProgress::groups(ids);
        for (const QList<int> &group : groups) {
            if (!written)
                break;
            const QString in = CommandProgress::joined(group);
            // As stored now, locked until the paste ends: another workstation can neither
            // change nor remove what is copied or moved meanwhile.
            QSqlQuery query;
            const QString lock = !db->isMySQL ? QString()
                : copyMode                    ? QStringLiteral(" LOCK IN SHARE MODE")
                                              : QStringLiteral(" FOR UPDATE");
            if (!db->selectQuery(QStringLiteral("SELECT id, Folder FROM articles WHERE Trash=0 AND "
                                                "id IN (")
                                     + in + QLatin1Char(')') + lock,
                                 query)) {
                written = false;
                break;
            }
            // Gone meanwhile: not pasted.
            QList<int> found;
            while (query.next()) {
                found << query.value(0).toInt();
                sourceFolders.insert(found.last(), query.value(1).toInt());
            }
            // Not read is not "deleted meanwhile": the paste fails as a whole.
            if (!db->rowsComplete(query)) {
                written = false;
                break;
            }
            query.finish();
            written = copies.copy(found);
            // Moving is copying and removing the source at once.
            if (written && !copyMode && !found.isEmpty()) {
                const QString of = CommandProgress::joined(found);
                written = db->executeSQL(QStringLiteral("DELETE FROM articles WHERE id IN (") + of
                                         + QLatin1Char(')'))
                    && db->executeSQL(
                        QStringLiteral("DELETE FROM articles_images WHERE article_id IN (") + of
                        + QLatin1Char(')'))
                    && db->executeSQL(
                        QStringLiteral("DELETE FROM articles_variations WHERE article_id IN (")
                        + of + QLatin1Char(')'))
                    && db->executeSQL(QStringLiteral("DELETE FROM articles_variations_op_val "
                                                     "WHERE article_id IN (")
                                      + of + QLatin1Char(')'));
            }
            handled += group.size();
            // Stopped by closing: nothing of it is kept.
            if (written && !progress.step(handled))
                written = false;
        }
        written = written && command.commit();
    }
    if (!written) {
        progress.finish(tr("Nichts eingefügt"));
        // Nothing was moved: every cut article stays cut, and pasting again pastes each once.
        setEnabled(true);
        updateButtons();
        if (!CommandProgress::closing())
            folderModel->tellFailure(what, true);
        return;
    }

    CommandProgress::checkpointAside(this, db);
    // The copies' rows, read by groups with the window still answering.
    QList<QTreeWidgetItem *> added;
    const QList<int> &made = copies.made();
    int shown = 0;
    for (const QList<int> &group : CommandProgress::groups(made)) {
        const Read<SqlRows> rows = readListRows(group);
        for (const ArticleRow &row : rows.orIfFailed(SqlRows())) {
            auto *item = new QTreeWidgetItem(0);
            UpdateListItem(row, item);
            added << item;
        }
        shown += group.size();
        progress.step(shown);
    }
    progress.finish(text);
    folderModel->ChangeFolderCount(folder, made.size(), false);
    if (!copyMode) {
        // The counts once per folder, the moved rows out of the list in one pass.
        QHash<int, int> left;
        QSet<int> cutFromShown;
        for (auto it = sourceFolders.cbegin(); it != sourceFolders.cend(); ++it) {
            ++left[it.value()];
            if (it.value() == folder)
                cutFromShown << it.key();
        }
        for (auto it = left.cbegin(); it != left.cend(); ++it)
            folderModel->ChangeFolderCount(it.key(), -it.value(), false);
        removeListRows(cutFromShown);
        cutArticleIds.clear();
    }

    list->addTopLevelItems(added);
    setEnabled(true);
    if (!added.isEmpty()) {
        const int last = list->topLevelItemCount() - 1;
        QAbstractItemModel *model = list->model();
        list->selectionModel()->select(
            QItemSelection(model->index(last - added.size() + 1, 0), model->index(last, 0)),
            QItemSelectionModel::Select);
        list->scrollToItem(added.last(), QAbstractItemView::PositionAtCenter);
    }
    updateButtons();
    list->setFocus(Qt::OtherFocusReason);
}
