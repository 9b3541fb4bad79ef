#pragma once

#include <QHash>
#include <QList>
#include <QTreeWidget>

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
    void indexItem(QTreeWidgetItem *item, int id);
    void unindexItem(QTreeWidgetItem *item);

    QString m_emptyText;
    // Top-level rows by article id, and the id each row was indexed under (a row is already
    // half destroyed when it says it goes, so its id can't be asked then).
    QMultiHash<int, QTreeWidgetItem *> m_rowsById;
    QHash<QTreeWidgetItem *, int> m_idOfRow;
    // False until the index is made for the rows there are (after a fill, a clear).
    bool m_indexed = false;
};
