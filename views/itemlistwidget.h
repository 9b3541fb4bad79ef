#pragma once

#include <QTreeWidget>

// The article list of the main window: one top-level item per article, all values in item
// data roles of column 0 (see ItemListRole). The list has one column whose header shows the
// current sort order.
class ItemListWidget : public QTreeWidget
{
    Q_OBJECT

public:
    explicit ItemListWidget(QWidget *parent = nullptr);

    // Shows `text` followed by the sort mark in the header.
    void setMenuSortText(const QString &text);
};
