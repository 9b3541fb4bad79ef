#include "core/foldertree.h"

#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/sqltext.h"

#include <QSet>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace {

// Folders locked by one statement: a branch of any size goes in parts.
constexpr int kIdsPerStatement = 500;

} // namespace

bool FolderTree::read(Database *db)
{
    const QString sql = QStringLiteral("SELECT id, folderparentid, foldername, expand, cat_ebay "
                                       "FROM folders ORDER BY ")
        + SqlText::orderTerm(QStringLiteral("foldername"), db->isMySQL) + QStringLiteral(", id");
    QSqlQuery query;
    if (!db->selectQuery(sql, query)) {
        arrange({});
        return false;
    }
    QVector<Folder> folders;
    while (query.next()) {
        Folder folder;
        folder.id = query.value(0).toInt();
        folder.parent = query.value(1).toInt();
        folder.name = query.value(2).toString();
        folder.expand = query.value(3).toInt();
        folder.category = query.value(4).toString();
        folders.append(folder);
    }
    // A tree cut short would show folders as gone.
    if (!db->rowsComplete(query)) {
        arrange({});
        return false;
    }
    arrange(std::move(folders));
    return true;
}

bool FolderTree::lockFolders(Database *db, const QList<int> &ids, QHash<int, int> *parents)
{
    for (int at = 0; at < ids.size(); at += kIdsPerStatement) {
        QStringList part;
        for (int id : ids.mid(at, kIdsPerStatement))
            part << QString::number(id);
        QSqlQuery query;
        if (!db->selectQuery(QStringLiteral("SELECT id, folderparentid FROM folders WHERE id IN (")
                                 + part.join(QLatin1Char(',')) + QLatin1Char(')')
                                 + (db->isMySQL ? QStringLiteral(" FOR UPDATE") : QString()),
                             query))
            return false;
        while (query.next())
            parents->insert(query.value(0).toInt(), query.value(1).toInt());
        // A folder left out would count as gone.
        if (!db->rowsComplete(query))
            return false;
    }
    return true;
}

FolderTree::Chain FolderTree::lockChain(Database *db, int id)
{
    Chain chain;
    QSet<int> walked;
    int at = id;
    for (;;) {
        if (at == SpecialFolderId::Drafts) {
            chain.level = chain.ids.size();
            break;
        }
        if (walked.contains(at) || chain.ids.size() == kMaxDepth) {
            // A cycle of parents, or deeper than the tree shows: where the tree puts `id` then
            // takes the whole tree. What its level rests on is locked (up to the deepest level).
            FolderTree stored;
            if (!stored.read(db))
                return Chain();
            chain.level = stored.shownLevel(id);
            break;
        }
        QHash<int, int> parents;
        if (!lockFolders(db, { at }, &parents))
            return Chain();
        if (!parents.contains(at)) {
            // No such folder; a parent gone: the tree shows the folder below it right below
            // "Artikelvorlagen".
            chain.level = chain.ids.isEmpty() ? -1 : chain.ids.size();
            break;
        }
        walked.insert(at);
        chain.ids.append(at);
        at = parents.value(at);
    }
    chain.ok = true;
    return chain;
}

FolderTree::Branch FolderTree::lockBranch(Database *db, int id)
{
    QHash<int, int> parents;
    if (!lockFolders(db, { id }, &parents))
        return Branch();
    Branch branch;
    branch.ok = true;
    if (!parents.contains(id))
        return branch;
    // Read after the lock: every folder put into the branch before it is there.
    FolderTree stored;
    if (!stored.read(db))
        return Branch();
    const QList<int> ids = stored.branch(id);
    const QList<int> below = ids.mid(1);
    QHash<int, int> now;
    if (!lockFolders(db, below, &now))
        return Branch();
    for (int folder : below) {
        const auto found = now.constFind(folder);
        if (found == now.constEnd() || found.value() != stored.find(folder)->parent) {
            branch.changed = true;
            return branch;
        }
    }
    branch.ids = ids;
    return branch;
}

void FolderTree::setFolders(QVector<Folder> folders)
{
    arrange(std::move(folders));
}

// Each folder goes below its parent as stored. The folders that reach no parent that way
// (the parent is gone, or the chain of parents runs round in a cycle) are each made the top
// of a branch below "Artikelvorlagen": for a cycle the first of its folders by name. Then the
// tree is walked from "Artikelvorlagen" with a stack of its own, however deep it is.
void FolderTree::arrange(QVector<Folder> folders)
{
    const int count = folders.size();
    QHash<int, int> given; // id -> position in `folders`
    given.reserve(count);
    for (int i = 0; i < count; ++i)
        given.insert(folders.at(i).id, i);

    // Children by position, siblings in the order given; the tops below "Artikelvorlagen".
    QVector<QVector<int>> children(count);
    QVector<int> tops;
    QVector<char> misplaced(count, 0);
    for (int i = 0; i < count; ++i) {
        const int parent = folders.at(i).parent;
        const auto found = given.constFind(parent);
        if (parent == SpecialFolderId::Drafts) {
            tops.append(i);
        } else if (found != given.constEnd() && found.value() != i) {
            children[found.value()].append(i);
        } else {
            tops.append(i);
            misplaced[i] = 1;
        }
    }

    // What hangs below the tops; the rest lies in or below a cycle.
    QVector<char> reached(count, 0);
    QVector<int> pending = tops;
    const auto reach = [&] {
        while (!pending.isEmpty()) {
            const int i = pending.takeLast();
            reached[i] = 1;
            for (int child : qAsConst(children.at(i))) {
                if (!reached.at(child))
                    pending.append(child);
            }
        }
    };
    reach();
    for (int start = 0; start < count; ++start) {
        if (reached.at(start))
            continue;
        // Up the parents until one comes round again: that one lies on the cycle.
        int on = start;
        QSet<int> walked;
        while (!walked.contains(on)) {
            walked.insert(on);
            on = given.value(folders.at(on).parent);
        }
        int first = on;
        for (int i = given.value(folders.at(on).parent); i != on;
             i = given.value(folders.at(i).parent))
            first = qMin(first, i);
        tops.append(first);
        misplaced[first] = 1;
        pending.append(first);
        reach();
    }
    std::sort(tops.begin(), tops.end());

    // Depth first, siblings in order.
    m_folders.clear();
    m_folders.reserve(count);
    m_index.clear();
    m_index.reserve(count);
    QVector<int> position(count, -1);
    QVector<int> parentPosition;
    parentPosition.reserve(count);
    struct Step
    {
        int folder;
        int depth;
        int parentAt;
    };
    QVector<Step> stack;
    for (auto it = tops.crbegin(); it != tops.crend(); ++it)
        stack.append({ *it, 1, -1 });
    while (!stack.isEmpty()) {
        const Step step = stack.takeLast();
        if (position.at(step.folder) >= 0)
            continue; // a cycle's top, met again below its own branch
        position[step.folder] = m_folders.size();
        Folder folder = folders.at(step.folder);
        folder.depth = step.depth;
        folder.misplaced = misplaced.at(step.folder);
        m_index.insert(folder.id, m_folders.size());
        m_folders.append(folder);
        parentPosition.append(step.parentAt);
        const QVector<int> &below = children.at(step.folder);
        for (auto it = below.crbegin(); it != below.crend(); ++it)
            stack.append({ *it, step.depth + 1, position.at(step.folder) });
    }

    // Heights and branch ends from the last folder back: each folder's branch follows it.
    m_height = QVector<int>(m_folders.size(), 1);
    m_branchEnd = QVector<int>(m_folders.size(), 0);
    for (int i = m_folders.size() - 1; i >= 0; --i) {
        m_branchEnd[i] = qMax(m_branchEnd.at(i), i + 1);
        const int parent = parentPosition.at(i);
        if (parent >= 0) {
            m_height[parent] = qMax(m_height.at(parent), m_height.at(i) + 1);
            m_branchEnd[parent] = qMax(m_branchEnd.at(parent), m_branchEnd.at(i));
        }
    }
}

const FolderTree::Folder *FolderTree::find(int id) const
{
    const auto found = m_index.constFind(id);
    return found == m_index.constEnd() ? nullptr : &m_folders.at(found.value());
}

int FolderTree::shownLevel(int id) const
{
    if (id == SpecialFolderId::Drafts)
        return 0;
    const Folder *folder = find(id);
    return folder ? qMin(folder->depth, kMaxDepth) : -1;
}

int FolderTree::height(int id) const
{
    const auto found = m_index.constFind(id);
    return found == m_index.constEnd() ? 0 : m_height.at(found.value());
}

bool FolderTree::isWithin(int id, int ancestor) const
{
    // Every folder at most once: a stored cycle ends the walk too.
    for (int steps = 0; steps <= m_folders.size(); ++steps) {
        if (id == ancestor)
            return true;
        const Folder *folder = find(id);
        if (!folder)
            return false;
        id = folder->parent;
    }
    return false;
}

QList<int> FolderTree::branch(int id) const
{
    QList<int> ids;
    const auto found = m_index.constFind(id);
    if (found == m_index.constEnd())
        return ids;
    for (int i = found.value(); i < m_branchEnd.at(found.value()); ++i)
        ids.append(m_folders.at(i).id);
    return ids;
}

QList<int> FolderTree::misplaced() const
{
    QList<int> ids;
    for (const Folder &folder : m_folders) {
        if (folder.misplaced)
            ids.append(folder.id);
    }
    return ids;
}
