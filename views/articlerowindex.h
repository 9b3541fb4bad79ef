#pragma once

#include <cstddef>
#include <vector>

class QTreeWidgetItem;

// The rows of the article list by article id and by row, for ItemListWidget: each row with the
// id it was indexed under and a position key. The entries sit in one array and are found
// through two open-addressed tables of entry numbers, so that a list of 100,000 rows takes a
// few large blocks (under 40 bytes a row) rather than two small allocations a row.
class ArticleRowIndex
{
public:
    struct Entry
    {
        QTreeWidgetItem *item = nullptr;
        int id = 0;
        int key = 0;
    };

    // Drops every entry and gives the memory back.
    void clear();
    // Makes room for `rows` entries, so that adding them allocates nothing more.
    void reserve(int rows);
    int size() const { return int(m_entries.size()); }

    // Adds a row that is not in the index yet.
    void insert(QTreeWidgetItem *item, int id, int key);
    // Takes a row out; false when it was not in the index.
    bool remove(QTreeWidgetItem *item);
    // The entry of a row; null when it is not in the index. Valid until the index next changes.
    Entry *find(const QTreeWidgetItem *item);

    // Calls `visit(const Entry &)` for every entry with this id, in no particular order.
    template<typename Visit> void forEachWithId(int id, Visit visit) const
    {
        if (m_byId.empty())
            return;
        for (unsigned slot = idSlot(id);; slot = (slot + 1) & m_mask) {
            const int entry = m_byId[slot];
            if (entry < 0)
                return;
            if (m_entries[std::size_t(entry)].id == id)
                visit(m_entries[std::size_t(entry)]);
        }
    }

private:
    unsigned idSlot(int id) const;
    unsigned itemSlot(const QTreeWidgetItem *item) const;
    // The slot of `table` that holds entry number `entry`, looked for from `home`.
    unsigned slotOf(const std::vector<int> &table, unsigned home, int entry) const;
    void place(int entry);
    // Empties a slot and moves later entries of its run back, so that every entry stays
    // reachable from its home slot without markers of deleted entries.
    void vacate(std::vector<int> &table, unsigned slot, bool byId);
    void rehash(std::size_t slots);

    std::vector<Entry> m_entries;
    std::vector<int> m_byId; // entry numbers, -1 for a free slot
    std::vector<int> m_byItem;
    unsigned m_mask = 0;
    int m_bits = 0;
};
