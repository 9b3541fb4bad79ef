#include "views/articlerowindex.h"

#include <QtGlobal>

namespace {
// Table sizes are powers of two, at most three quarters full.
constexpr std::size_t kFewestSlots = 16;

std::size_t slotsFor(std::size_t entries)
{
    std::size_t slots = kFewestSlots;
    while (slots * 3 < entries * 4)
        slots *= 2;
    return slots;
}
} // namespace

unsigned ArticleRowIndex::idSlot(int id) const
{
    // Fibonacci hashing: the high bits of the product spread consecutive ids.
    return (unsigned(id) * 2654435769u) >> (32 - m_bits);
}

unsigned ArticleRowIndex::itemSlot(const QTreeWidgetItem *item) const
{
    return unsigned((quintptr(item) * Q_UINT64_C(0x9E3779B97F4A7C15)) >> (64 - m_bits));
}

void ArticleRowIndex::clear()
{
    std::vector<Entry>().swap(m_entries);
    std::vector<int>().swap(m_byId);
    std::vector<int>().swap(m_byItem);
    m_mask = 0;
    m_bits = 0;
}

void ArticleRowIndex::reserve(int rows)
{
    if (rows <= 0)
        return;
    m_entries.reserve(std::size_t(rows));
    const std::size_t slots = slotsFor(std::size_t(rows));
    if (slots > m_byId.size())
        rehash(slots);
}

void ArticleRowIndex::rehash(std::size_t slots)
{
    m_bits = 0;
    while ((std::size_t(1) << m_bits) < slots)
        ++m_bits;
    m_mask = unsigned(slots - 1);
    std::vector<int>(slots, -1).swap(m_byId);
    std::vector<int>(slots, -1).swap(m_byItem);
    for (int entry = 0; entry < size(); ++entry)
        place(entry);
}

void ArticleRowIndex::place(int entry)
{
    const Entry &row = m_entries[std::size_t(entry)];
    unsigned slot = idSlot(row.id);
    while (m_byId[slot] >= 0)
        slot = (slot + 1) & m_mask;
    m_byId[slot] = entry;
    slot = itemSlot(row.item);
    while (m_byItem[slot] >= 0)
        slot = (slot + 1) & m_mask;
    m_byItem[slot] = entry;
}

void ArticleRowIndex::insert(QTreeWidgetItem *item, int id, int key)
{
    // Grows by half, not double: a list that outgrows its index by a few rows should not
    // take twice the memory for them.
    if (m_entries.size() == m_entries.capacity())
        m_entries.reserve(m_entries.size() + m_entries.size() / 2 + kFewestSlots);
    if (slotsFor(m_entries.size() + 1) > m_byId.size())
        rehash(slotsFor(m_entries.size() + 1));
    m_entries.push_back({ item, id, key });
    place(size() - 1);
}

ArticleRowIndex::Entry *ArticleRowIndex::find(const QTreeWidgetItem *item)
{
    if (m_byItem.empty())
        return nullptr;
    for (unsigned slot = itemSlot(item);; slot = (slot + 1) & m_mask) {
        const int entry = m_byItem[slot];
        if (entry < 0)
            return nullptr;
        if (m_entries[std::size_t(entry)].item == item)
            return &m_entries[std::size_t(entry)];
    }
}

unsigned ArticleRowIndex::slotOf(const std::vector<int> &table, unsigned home, int entry) const
{
    unsigned slot = home;
    while (table[slot] != entry)
        slot = (slot + 1) & m_mask;
    return slot;
}

bool ArticleRowIndex::remove(QTreeWidgetItem *item)
{
    const Entry *found = find(item);
    if (!found)
        return false;
    const int entry = int(found - m_entries.data());
    vacate(m_byItem, slotOf(m_byItem, itemSlot(item), entry), false);
    vacate(m_byId, slotOf(m_byId, idSlot(found->id), entry), true);
    // The last entry takes the place of the one that goes.
    const int last = size() - 1;
    if (entry != last) {
        const Entry &moved = m_entries[std::size_t(last)];
        m_byItem[slotOf(m_byItem, itemSlot(moved.item), last)] = entry;
        m_byId[slotOf(m_byId, idSlot(moved.id), last)] = entry;
        m_entries[std::size_t(entry)] = moved;
    }
    m_entries.pop_back();
    return true;
}

void ArticleRowIndex::vacate(std::vector<int> &table, unsigned slot, bool byId)
{
    unsigned hole = slot;
    table[hole] = -1;
    for (unsigned next = (hole + 1) & m_mask; table[next] >= 0; next = (next + 1) & m_mask) {
        const Entry &row = m_entries[std::size_t(table[next])];
        const unsigned home = byId ? idSlot(row.id) : itemSlot(row.item);
        // An entry whose home lies after the hole, up to where it sits, stays reachable.
        const bool stays
            = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
        if (stays)
            continue;
        table[hole] = table[next];
        table[next] = -1;
        hole = next;
    }
}
