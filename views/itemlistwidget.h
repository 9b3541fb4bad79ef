#pragma once

#include <QHash>
#include <QList>
#include <QTreeWidget>
#include <QVector>

#include "views/articlerowindex.h"

class QMimeData;

// The article list of the main window: one top-level item per article, all values in item
// data roles of column 0 (see ItemListRole). The list has one column whose header shows the
// current sort order. Dragging rows onto the folder tree files the articles there.
class ItemListWidget : public QTreeWidget
{
    Q_OBJECT

public:
    // The payload type of dragged articles: entries "article id|folder id" joined by ",".
    static const QString ArticleMimeType;

    explicit ItemListWidget(QWidget *parent = nullptr);
    ~ItemListWidget() override;

    // Shows `text` followed by the sort mark in the header.
    void setMenuSortText(const QString &text);
    // A text shown in the list while it holds no row, such as why it could not be read;
    // empty shows nothing.
    void setEmptyText(const QString &text);
    QString emptyText() const { return m_emptyText; }

    // The first row (from the top) of the article with this id; null when it is not listed.
    // Rows are found through an index by id that follows every change of the list (rows
    // added, taken out or cleared, an id written into a row), so the cost does not grow
    // with the list. After a fill the index is made at the first lookup.
    QTreeWidgetItem *itemWithArticleId(int id);

    // Selects the rows of these articles (the topmost row of each id that is listed) and
    // nothing else, in one change of the selection whatever their number, and makes the
    // topmost of them current without selecting more. Gives that row; null when none of the
    // ids is listed, and then the selection is left as it is.
    QTreeWidgetItem *selectArticles(const QList<int> &ids);

    // Tells the list's model and views that `roles` of the top-level row `item` changed (all
    // roles when empty), through the row's own model index: the row's position is kept with
    // the index by id, so the cost does not grow with the list as Qt's own search for an
    // item's row does. False when `item` is no top-level row of this list.
    bool rowChanged(QTreeWidgetItem *item, const QVector<int> &roles);

    // The folder of the rows' thumbnails as the rows keep it: one copy for all of them, made
    // anew only when `folder` differs from it. A row read on its own would otherwise keep a
    // copy of its own.
    const QString &sharedThumbFolder(const QString &folder);

    // The drag payload for the `selected` rows, or null when no drag may start: without a
    // `current` row, or when it is queued in the outbox or scheduled. The caller owns it.
    static QMimeData *articleMimeData(const QTreeWidgetItem *current,
                                      const QList<QTreeWidgetItem *> &selected);

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void paintEvent(QPaintEvent *event) override;
    // A changed row is painted again when it is visible. The rows are flat and of one
    // height, so a change never moves one; the tree view's own handling would look each
    // changed row up among all rows first, which makes a round of thousands of changes cost
    // the square of the list's length.
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QVector<int> &roles = QVector<int>()) override;

private:
    void indexRows(int first, int last);
    void unindexRows(int first, int last);
    void reindexRows(int first, int last);
    void dropIndex();
    void rebuildIndex();
    void indexItem(QTreeWidgetItem *item, int id, int row);
    void unindexItem(QTreeWidgetItem *item);
    // The row of a top-level item; -1 when it is none.
    int rowOf(QTreeWidgetItem *item);

    QString m_emptyText;
    QString m_thumbFolder;
    // What the index knows of a row: the id it was indexed under (a row is already half
    // destroyed when it says it goes, so its id can't be asked then), and its position as
    // `key` + m_shift. Rows added or taken at the top move every row: they change m_shift
    // only. Rows added or taken further down move the rows below them: such a row is found a
    // few rows from where it was, or the positions are taken anew.
    ArticleRowIndex m_index;
    int m_shift = 0;
    // False until the index is made for the rows there are (after a fill, a clear).
    bool m_indexed = false;
};
