#include "views/itemlistwidget.h"

#include <QCursor>
#include <QDrag>
#include <QItemSelection>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <algorithm>
#include <vector>

#include "core/specialfolderid.h"
#include "views/itemlistroles.h"

const QString ItemListWidget::ArticleMimeType = QStringLiteral("application/x-itemlist");

namespace {
// Rows added at once from which the index is made anew when next needed.
constexpr int kIndexLater = 256;
// How many rows above and below its last known position a row is looked for before the
// positions of all rows are taken anew.
constexpr int kNearby = 32;
} // namespace

ItemListWidget::ItemListWidget(QWidget *parent)
    : QTreeWidget(parent)
{
    // Every way of changing the rows goes through the list's model.
    const QAbstractItemModel *rows = model();
    connect(rows, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    indexRows(first, last);
            });
    connect(rows, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (!parent.isValid())
                    unindexRows(first, last);
            });
    connect(rows, &QAbstractItemModel::modelAboutToBeReset, this, [this] { dropIndex(); });
    connect(rows, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight,
                   const QVector<int> &roles) {
                if (m_indexed && !topLeft.parent().isValid()
                    && (roles.isEmpty() || roles.contains(ItemListRole::ArticleIdRole)))
                    reindexRows(topLeft.row(), bottomRight.row());
            });
}

ItemListWidget::~ItemListWidget()
{
    // The rows go after this object's members, with the model.
    disconnect(model(), nullptr, this, nullptr);
}

void ItemListWidget::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                 const QVector<int> &roles)
{
    const int rowHeight = uniformRowHeights() && itemDelegate()
        ? itemDelegate()->sizeHint(viewOptions(), topLeft).height()
        : 0;
    if (rowHeight <= 0 || topLeft.parent().isValid()) {
        QTreeWidget::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    // The shown rows follow from the scroll position alone. While the rows are being laid
    // out anew this may be off, but then the whole list is painted anyway.
    const bool perItem = verticalScrollMode() == ScrollPerItem;
    const int scrolled = verticalScrollBar()->value();
    const int firstShown = perItem ? scrolled : scrolled / rowHeight;
    const int lastShown = firstShown + viewport()->height() / rowHeight + 1;
    const int first = qMax(topLeft.row(), firstShown);
    const int last = qMin(bottomRight.row(), lastShown);
    if (first > last)
        return;
    const int top = perItem ? (first - firstShown) * rowHeight : first * rowHeight - scrolled;
    viewport()->update(QRect(0, top, viewport()->width(), (last - first + 1) * rowHeight));
}

QTreeWidgetItem *ItemListWidget::itemWithArticleId(int id)
{
    if (!m_indexed)
        rebuildIndex();
    QTreeWidgetItem *found = nullptr;
    int foundRow = -1;
    int rows = 0;
    m_index.forEachWithId(id,
                          [this, &found, &foundRow, &rows](const ArticleRowIndex::Entry &entry) {
                              // The same article in several rows: the topmost is meant.
                              if (++rows == 1) {
                                  found = entry.item;
                                  return;
                              }
                              if (rows == 2)
                                  foundRow = indexOfTopLevelItem(found);
                              const int row = indexOfTopLevelItem(entry.item);
                              if (row >= 0 && (foundRow < 0 || row < foundRow)) {
                                  found = entry.item;
                                  foundRow = row;
                              }
                          });
    return found;
}

QTreeWidgetItem *ItemListWidget::selectArticles(const QList<int> &ids)
{
    std::vector<int> rows;
    rows.reserve(std::size_t(ids.size()));
    for (int id : ids) {
        const int row = rowOf(itemWithArticleId(id));
        if (row >= 0)
            rows.push_back(row);
    }
    if (rows.empty())
        return nullptr;
    std::sort(rows.begin(), rows.end());
    // Neighbouring rows make one range: a selection of one block is one range, however long.
    QAbstractItemModel *list = model();
    const int lastColumn = qMax(0, columnCount() - 1);
    QItemSelection selection;
    std::size_t first = 0;
    for (std::size_t k = 1; k <= rows.size(); ++k) {
        if (k < rows.size() && rows[k] <= rows[k - 1] + 1)
            continue;
        selection.append(
            QItemSelectionRange(list->index(rows[first], 0), list->index(rows[k - 1], lastColumn)));
        first = k;
    }
    QItemSelectionModel *chosen = selectionModel();
    chosen->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    chosen->setCurrentIndex(list->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
    return topLevelItem(rows.front());
}

bool ItemListWidget::rowChanged(QTreeWidgetItem *item, const QVector<int> &roles)
{
    if (!item || item->treeWidget() != this || item->parent())
        return false;
    const int row = rowOf(item);
    if (row < 0)
        return false;
    QAbstractItemModel *rows = model();
    emit rows->dataChanged(rows->index(row, 0), rows->index(row, qMax(0, columnCount() - 1)),
                           roles);
    return true;
}

int ItemListWidget::rowOf(QTreeWidgetItem *item)
{
    if (!m_indexed)
        rebuildIndex();
    ArticleRowIndex::Entry *indexed = m_index.find(item);
    if (!indexed)
        return -1;
    const int rows = topLevelItemCount();
    const auto isAt = [this, item, rows](int row) {
        return row >= 0 && row < rows && topLevelItem(row) == item;
    };
    const int known = indexed->key + m_shift;
    if (isAt(known))
        return known;
    // Rows added or taken a little above it moved it by as many.
    for (int distance = 1; distance <= kNearby; ++distance) {
        for (const int row : { known - distance, known + distance }) {
            if (isAt(row)) {
                indexed->key = row - m_shift;
                return row;
            }
        }
    }
    rebuildIndex();
    indexed = m_index.find(item);
    return indexed && isAt(indexed->key + m_shift) ? indexed->key + m_shift : -1;
}

void ItemListWidget::indexItem(QTreeWidgetItem *item, int id, int row)
{
    m_index.insert(item, id, row - m_shift);
}

void ItemListWidget::unindexItem(QTreeWidgetItem *item)
{
    m_index.remove(item);
}

void ItemListWidget::indexRows(int first, int last)
{
    if (!m_indexed)
        return;
    // A fill is indexed when a row is first looked for, so filling the list costs nothing
    // more; a few rows added are indexed at once.
    if (last - first >= kIndexLater) {
        dropIndex();
        return;
    }
    // Rows added at the top move every other row down by as many.
    if (first == 0)
        m_shift += last - first + 1;
    for (int row = first; row <= last; ++row) {
        if (QTreeWidgetItem *item = topLevelItem(row)) {
            unindexItem(item);
            indexItem(item, item->data(0, ItemListRole::ArticleIdRole).toInt(), row);
        }
    }
}

void ItemListWidget::unindexRows(int first, int last)
{
    if (!m_indexed)
        return;
    for (int row = first; row <= last; ++row) {
        if (QTreeWidgetItem *item = topLevelItem(row))
            unindexItem(item);
    }
    if (first == 0)
        m_shift -= last - first + 1;
}

void ItemListWidget::reindexRows(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        QTreeWidgetItem *item = topLevelItem(row);
        if (!item)
            continue;
        const int id = item->data(0, ItemListRole::ArticleIdRole).toInt();
        const ArticleRowIndex::Entry *indexed = m_index.find(item);
        if (indexed && indexed->id == id)
            continue;
        unindexItem(item);
        indexItem(item, id, row);
    }
}

void ItemListWidget::dropIndex()
{
    m_index.clear();
    m_shift = 0;
    m_indexed = false;
}

void ItemListWidget::rebuildIndex()
{
    dropIndex();
    const int rows = topLevelItemCount();
    // Room for the rows a round or a command adds after a fill, without growing the index.
    m_index.reserve(rows + rows / 8);
    for (int row = 0; row < rows; ++row) {
        QTreeWidgetItem *item = topLevelItem(row);
        indexItem(item, item->data(0, ItemListRole::ArticleIdRole).toInt(), row);
    }
    m_indexed = true;
}

const QString &ItemListWidget::sharedThumbFolder(const QString &folder)
{
    if (m_thumbFolder != folder)
        m_thumbFolder = folder;
    return m_thumbFolder;
}

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
