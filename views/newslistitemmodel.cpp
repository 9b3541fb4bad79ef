#include "views/newslistitemmodel.h"

#include <utility>

#include "core/newsitem.h"

NewsListItemModel::NewsListItemModel(QObject *parent)
    : QAbstractItemModel(parent)
{ }

NewsListItemModel::~NewsListItemModel()
{
    qDeleteAll(m_items);
}

QModelIndex NewsListItemModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex NewsListItemModel::parent(const QModelIndex &index) const
{
    Q_UNUSED(index)
    return QModelIndex();
}

int NewsListItemModel::rowCount(const QModelIndex &parent) const
{
    // A flat list: entries have no children.
    return parent.isValid() ? 0 : m_items.size();
}

int NewsListItemModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return 1;
}

QVariant NewsListItemModel::data(const QModelIndex &index, int role) const
{
    Q_ASSERT(checkIndex(index));
    if (!index.isValid() || role != Qt::ToolTipRole)
        return QVariant();
    return m_items.at(index.row())->title;
}

Qt::ItemFlags NewsListItemModel::flags(const QModelIndex &index) const
{
    Q_ASSERT(checkIndex(index));
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void NewsListItemModel::InsertNewItem(NewsItem *item)
{
    if (!item)
        return;
    beginInsertRows(QModelIndex(), 0, 0);
    m_items.prepend(item);
    endInsertRows();
}

void NewsListItemModel::ClearAll()
{
    if (m_items.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, m_items.size() - 1);
    const QList<NewsItem *> removed = std::exchange(m_items, {});
    endRemoveRows();
    qDeleteAll(removed);
}

NewsItem *NewsListItemModel::GetItem(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_items.size())
        return nullptr;
    return m_items.at(index.row());
}
