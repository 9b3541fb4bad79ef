#include "views/itemlistwidget.h"

ItemListWidget::ItemListWidget(QWidget *parent) : QTreeWidget(parent) { }

void ItemListWidget::setMenuSortText(const QString &text)
{
    // U+2304 DOWN ARROWHEAD: the header opens the sort menu.
    headerItem()->setText(0, text + QStringLiteral(" \u2304"));
}
