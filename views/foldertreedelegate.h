#pragma once

#include <QStyledItemDelegate>

// Paints a folder of the folder tree as its name followed by its article count, as the model
// shows it, but when the row is too narrow only the name is cut short (with an ellipsis):
// the count stays whole. The whole name is in the row's tooltip (FolderModel).
class FolderTreeDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text painted for `index` in the row `option` describes.
    QString shownText(const QStyleOptionViewItem &option, const QModelIndex &index) const;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
