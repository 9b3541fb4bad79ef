#pragma once

#include <QAbstractItemDelegate>
#include <QDateTime>
#include <QHash>
#include <QSet>

class QWidget;

// Paints one row of the article list as a card: thumbnail, title, the listing worker's status
// or result, the article's last notice, and a bottom row with counters, feature icons, the end
// or planned date, quantity, price and shipping cost. Everything comes from the item roles of
// ItemListRole on column 0; rows are coloured by their marker or an error notice. A painter:
// no editors, no events; thumbnails are read off the window thread and the list repainted
// when one is there. It has no meta-object of its own, so its texts translate in
// the context "QAbstractItemDelegate".
class ItemListDelegate : public QAbstractItemDelegate
{
public:
    // `list` is the article list and becomes the parent. Its font gives the fonts at every
    // paint, and the row height once, here.
    explicit ItemListDelegate(QWidget *list);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QPixmap rowThumbnail(const QString &path, const QSize &size) const;

    QWidget *m_list;
    // The thumbnails being read on a picture thread, by their cache key.
    mutable QSet<QString> m_reading;
    // Thumbnails not read this time (given up, their decoder ended from outside), by their
    // cache key: shown as the placeholder and asked for again from the time given on.
    mutable QHash<QString, QDateTime> m_notRead;
    int m_letterHeight; // height of the bounding rectangle of "A" in the list's font
};
