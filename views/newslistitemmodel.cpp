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
    InsertNewItems({ item });
}

void NewsListItemModel::InsertNewItems(const QList<NewsItem *> &items)
{
    QList<NewsItem *> taken;
    taken.reserve(qMin(items.size(), MaxEntries));
    // Newest first; what would be cut at once is never inserted.
    for (auto it = items.crbegin(); it != items.crend(); ++it) {
        if (!*it)
            continue;
        if (taken.size() < MaxEntries)
            taken.append(*it);
        else
            delete *it;
    }
    if (taken.isEmpty())
        return;
    beginInsertRows(QModelIndex(), 0, taken.size() - 1);
    taken.reserve(taken.size() + m_items.size());
    taken.append(m_items);
    m_items.swap(taken);
    endInsertRows();
    trim();
}

void NewsListItemModel::RemoveProgressOf(int databaseid)
{
    if (databaseid == 0)
        return;
    for (int row = m_items.size() - 1; row >= 0; --row) {
        NewsItem *item = m_items.at(row);
        if (item->databaseid != databaseid || item->infotype != QLatin1String("progress"))
            continue;
        beginRemoveRows(QModelIndex(), row, row);
        m_items.removeAt(row);
        endRemoveRows();
        delete item;
    }
}

void NewsListItemModel::trim()
{
    if (m_items.size() <= MaxEntries)
        return;
    beginRemoveRows(QModelIndex(), MaxEntries, m_items.size() - 1);
    const QList<NewsItem *> removed = m_items.mid(MaxEntries);
    m_items.erase(m_items.begin() + MaxEntries, m_items.end());
    endRemoveRows();
    qDeleteAll(removed);
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
