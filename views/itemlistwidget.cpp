#include "views/itemlistwidget.h"

#include "core/specialfolderid.h"
#include "views/itemlistroles.h"

#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>

const QString ItemListWidget::ArticleMimeType = QStringLiteral("application/x-itemlist");

ItemListWidget::ItemListWidget(QWidget *parent)
    : QTreeWidget(parent)
{ }

void ItemListWidget::setMenuSortText(const QString &text)
{
    // U+2304 DOWN ARROWHEAD: the header opens the sort menu.
    headerItem()->setText(0, text + QStringLiteral(" \u2304"));
}

void ItemListWidget::setEmptyText(const QString &text)
{
    if (m_emptyText == text)
        return;
    m_emptyText = text;
    viewport()->update();
}

void ItemListWidget::paintEvent(QPaintEvent *event)
{
    QTreeWidget::paintEvent(event);
    if (m_emptyText.isEmpty() || topLevelItemCount() > 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_emptyText);
}

QMimeData *ItemListWidget::articleMimeData(const QTreeWidgetItem *current,
                                           const QList<QTreeWidgetItem *> &selected)
{
    if (!current)
        return nullptr;
    // Articles waiting to be listed belong to their queue until it has run.
    const int folder = current->data(0, ItemListRole::FolderRole).toInt();
    if (folder == SpecialFolderId::Outbox || folder == SpecialFolderId::Scheduled)
        return nullptr;

    QStringList entries;
    for (const QTreeWidgetItem *item : selected) {
        entries << QString::number(item->data(0, ItemListRole::ArticleIdRole).toInt())
                + QLatin1Char('|')
                + QString::number(item->data(0, ItemListRole::FolderRole).toInt());
    }
    auto *mime = new QMimeData;
    mime->setData(ArticleMimeType, entries.join(QLatin1Char(',')).toUtf8());
    return mime;
}

void ItemListWidget::startDrag(Qt::DropActions)
{
    QMimeData *mime = articleMimeData(currentItem(), selectedItems());
    if (!mime)
        return;

    const QPixmap pixmap(QStringLiteral(":/buttons/images/Unit.png"));
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(pixmap);
    drag->setHotSpot(QPoint(pixmap.width() / 2, pixmap.height() / 2));
    const QPixmap hand = QCursor(Qt::OpenHandCursor).pixmap();
    drag->setDragCursor(hand, Qt::CopyAction);
    drag->setDragCursor(hand, Qt::MoveAction);
    // The folder tree's model carries out the drop; nothing is left to do here.
    drag->exec(Qt::CopyAction | Qt::MoveAction);
}
