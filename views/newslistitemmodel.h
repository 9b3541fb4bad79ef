#pragma once

#include <QAbstractItemModel>
#include <QList>

class NewsItem;

// The rows of the activity list: a flat list of one column, newest entry first. The model owns
// the entries it holds. It carries only the tool tip; NewsListDelegate draws everything else.
class NewsListItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit NewsListItemModel(QObject *parent = nullptr);
    ~NewsListItemModel() override;

    QModelIndex index(int row, int column,
                      const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Inserts `item` as row 0 and takes it over; a null item is ignored.
    void InsertNewItem(NewsItem *item);
    // Removes and deletes all entries.
    void ClearAll();
    // The entry of a valid index's row; null for an invalid index or one of another model.
    NewsItem *GetItem(const QModelIndex &index) const;

private:
    QList<NewsItem *> m_items; // newest first, owned
};
