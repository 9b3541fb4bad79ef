// Cut, copy and paste of articles. The clipboard is two lists of article ids; pasting
// duplicates each article (with its pictures and variations) into the folder shown.
#include "mainwindow/mainwindow.h"

#include "core/database.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/variationrows.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"

#include <QApplication>
#include <QClipboard>
#include <QItemSelection>
#include <QLabel>

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

    const int folder = currentFolder;
    QTreeWidget *list = ui->itemlist;
    list->clearSelection();
    setEnabled(false);

    // The copy is a new, unlisted article in the folder shown, written so by the copying
    // statement itself.
    const QMap<QString, QVariant> reset = Database::freshCopy(folder);
    const QString text = tr("Füge Datensätze aus Zwischenablage ein...");
    CommandProgress progress(this, text, source.size());
    // One transaction for the whole paste: a lost connection leaves every article where it
    // was. Inside it each article is copied (and, when cut, removed) as a part of its own,
    // so an article the database refuses stays behind alone.
    struct Pasted
    {
        QString source;
        int copy;
        int sourceFolder;
    };
    QList<Pasted> pasted;
    QStringList keptCut; // not moved: they stay cut
    int handled = 0;
    bool written = false;
    CommandProgress::leaveCheckpoints(db);
    {
        Transaction command(db);
        written = command.isOpen();
        while (written && handled < source.size()) {
            const QString &id = source.at(handled++);
            const Read<QString> stored
                = db->selectOne(QStringLiteral("SELECT Folder FROM articles WHERE id=") + id);
            // Not read is not "deleted meanwhile": the paste fails as a whole.
            if (!stored.ok()) {
                written = false;
                break;
            }
            const QString &folderText = *stored;
            int newId = 0;
            if (!folderText.isEmpty()) {
                Transaction article(db);
                newId = article.isOpen()
                    ? db->DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"), id, reset)
                    : 0;
                // Moving is copying and removing the source at once: neither stays alone.
                if (newId > 0 && !copyMode && !VariationRows::removeArticle(db, id.toInt()))
                    newId = 0;
                if (newId > 0 && !article.commit())
                    newId = 0;
            }
            // Not moved, but there: it stays cut (an article deleted meanwhile goes).
            if (!copyMode && newId <= 0 && !folderText.isEmpty())
                keptCut << id;
            if (newId > 0)
                pasted.append({ id, newId, folderText.toInt() });
            if (!progress.step(handled))
                break;
        }
        // A failure of the connection or of a read (rather than a refused article) ends it
        // all.
        written = written && command.commit();
    }
    if (!written) {
        progress.finish(tr("Nichts eingefügt"));
        // Nothing was moved that is known to be: every cut article stays cut.
        setEnabled(true);
        updateButtons();
        tellNotStored(tr("das Einfügen"));
        return;
    }

    CommandProgress::checkpointAside(this, db);
    QList<QTreeWidgetItem *> added;
    QSet<int> cutFromShown;
    int shown = 0;
    for (const Pasted &done : qAsConst(pasted)) {
        // The copies' rows are read with the window still answering.
        progress.step(++shown);
        const QMap<QString, QVariant> row = readListRow(done.copy);
        if (!row.isEmpty()) {
            auto *item = new QTreeWidgetItem(0);
            UpdateListItem(row, item);
            added << item;
        }
        if (!copyMode) {
            folderModel->ChangeFolderCount(done.sourceFolder, -1, false);
            if (done.sourceFolder == folder)
                cutFromShown << done.source.toInt();
        }
    }
    progress.finish(text);
    folderModel->ChangeFolderCount(folder, pasted.size(), false);
    removeListRows(cutFromShown);
    // Stopped by closing: the articles not yet moved stay cut, and so do those whose move
    // failed.
    if (!copyMode)
        cutArticleIds = keptCut + source.mid(handled);

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
