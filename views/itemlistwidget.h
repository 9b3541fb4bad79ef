#pragma once

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

    // Shows `text` followed by the sort mark in the header.
    void setMenuSortText(const QString &text);
    // A text shown in the list while it holds no row, such as why it could not be read;
    // empty shows nothing.
    void setEmptyText(const QString &text);
    QString emptyText() const { return m_emptyText; }

    // The drag payload for the `selected` rows, or null when no drag may start: without a
    // `current` row, or when it is queued in the outbox or scheduled. The caller owns it.
    static QMimeData *articleMimeData(const QTreeWidgetItem *current,
                                      const QList<QTreeWidgetItem *> &selected);

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_emptyText;
};
