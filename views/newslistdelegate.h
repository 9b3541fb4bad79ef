#pragma once

#include <QAbstractItemDelegate>
#include <QString>

class NewsItem;
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
    // The tool tip of an entry: its whole title and text, which the row may show cut.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // What the tool tip of `item` says, as plain text: the title and, below, the text with its
    // line breaks (a text of many pages is cut).
    static QString toolTipText(const NewsItem &item);

private:
    QWidget *m_view;
    int lineHeight; // height of the bounding rectangle of "A" in the view's font
};
