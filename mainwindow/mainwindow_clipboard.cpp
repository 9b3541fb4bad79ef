// Cut, copy and paste of articles. The clipboard is two lists of article ids; pasting
// duplicates each article (with its pictures and variations) into the folder shown.
#include "mainwindow/mainwindow.h"

#include "core/database.h"
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
    const QMap<QString, QVariant> reset {
        { QStringLiteral("Folder"), folder },
        { QStringLiteral("WatchCount"), 0 },
        { QStringLiteral("BidCount"), 0 },
        { QStringLiteral("QuestionCount"), 0 },
        { QStringLiteral("HighBidder"), QString() },
        { QStringLiteral("ItemID"), QString() },
        { QStringLiteral("SoldCount"), 0 },
        { QStringLiteral("HasError"), 0 },
        { QStringLiteral("LastError"), QString() },
        { QStringLiteral("Planned"), QString() },
        { QStringLiteral("Planned_Interval"), QString() },
        { QStringLiteral("EndDate"), QString() },
        { QStringLiteral("StartDate"), QString() },
    };
    const QString text = tr("Füge Datensätze aus Zwischenablage ein...");
    CommandProgress progress(this, text, source.size());
    QList<QTreeWidgetItem *> added;
    QSet<int> cutFromShown;
    int made = 0;
    int handled = 0;
    while (handled < source.size()) {
        const QString &id = source.at(handled++);
        const int sourceFolder = copyMode
            ? 0
            : db->selectOne(QStringLiteral("SELECT Folder FROM articles WHERE id=") + id).toInt();
        const int newId
            = db->DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"), id, reset);
        if (newId > 0) {
            ++made;
            const QMap<QString, QVariant> row = readListRow(newId);
            if (!row.isEmpty()) {
                auto *item = new QTreeWidgetItem(0);
                UpdateListItem(row, item);
                added << item;
            }
            if (!copyMode) {
                folderModel->ChangeFolderCount(sourceFolder, -1, false);
                VariationRows::removeArticle(db, id.toInt());
                if (sourceFolder == folder)
                    cutFromShown << id.toInt();
            }
        }
        if (!progress.step(handled))
            break;
    }
    progress.finish(text);
    folderModel->ChangeFolderCount(folder, made, false);
    removeListRows(cutFromShown);
    // Stopped by closing: the articles not yet moved stay cut.
    if (!copyMode)
        cutArticleIds = source.mid(handled);

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
