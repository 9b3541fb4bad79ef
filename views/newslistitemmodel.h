#pragma once

#include <QAbstractItemModel>
#include <QList>

class NewsItem;

// The rows of the activity list: a flat list of one column, newest entry first. The model owns
// the entries it holds. It carries only the tool tip; NewsListDelegate draws everything else.
// It holds the newest MaxEntries entries: older ones leave memory (the database keeps them),
// so a long session or a round with many changes doesn't grow the window.
class NewsListItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    static constexpr int MaxEntries = 1000;

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
    // Inserts `items`, oldest first, in one step: the last ends as row 0. Takes them over;
    // null items are ignored.
    void InsertNewItems(const QList<NewsItem *> &items);
    // Removes and deletes the "progress" entries of the article with this id (not 0).
    void RemoveProgressOf(int databaseid);
    // Removes and deletes all entries.
    void ClearAll();
    // The entry of a valid index's row; null for an invalid index or one of another model.
    NewsItem *GetItem(const QModelIndex &index) const;

private:
    // Lets the oldest entries go beyond MaxEntries.
    void trim();

    QList<NewsItem *> m_items; // newest first, owned
};
