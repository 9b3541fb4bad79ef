#include "views/foldertreedelegate.h"

#include "views/foldermodel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

QString FolderTreeDelegate::shownText(const QStyleOptionViewItem &option,
                                      const QModelIndex &index) const
{
    QStyleOptionViewItem shown = option;
    initStyleOption(&shown, index);
    return shown.text;
}

void FolderTreeDelegate::initStyleOption(QStyleOptionViewItem *option,
                                         const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant name = index.data(FolderModel::NameRole);
    if (!name.isValid() || option->rect.width() <= 0)
        return;
    // The shown text is the name followed by its count, " (n)".
    const QString suffix = option->text.mid(name.toString().size());

    // The room the style gives the text: the item less icon, check mark and its margins.
    const QWidget *widget = option->widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int room
        = style->subElementRect(QStyle::SE_ItemViewItemText, option, widget).width() - 2 * margin;
    const QFontMetrics metrics(option->font);
    const int nameRoom = room - metrics.horizontalAdvance(suffix);
    if (metrics.horizontalAdvance(option->text) <= room)
        return;
    option->text = metrics.elidedText(name.toString(), Qt::ElideRight, qMax(0, nameRoom)) + suffix;
}
