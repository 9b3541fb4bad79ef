#pragma once

#include <QAbstractItemDelegate>

class QWidget;

// Paints one entry of the activity list (NewsListItemModel): icon, title, text and time, on a
// background that depends on the selection and on the entry's infotype.
class NewsListDelegate : public QAbstractItemDelegate
{
    Q_OBJECT
public:
    // `parent` is the view the delegate is made for; its font sets the sizes.
    explicit NewsListDelegate(QWidget *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QWidget *m_view;
    int lineHeight; // height of the bounding rectangle of "A" in the view's font
};
