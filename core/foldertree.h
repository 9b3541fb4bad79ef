#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QVector>

class Database;

// The user's folders as stored in table `folders`, read with one statement, and the place the
// folder tree gives each of them. Below "Artikelvorlagen" folders nest at most kMaxDepth
// levels: deeper nesting is refused where it would be made (a new folder, a folder moved, the
// predecessor import). A store that holds it anyway is still shown whole: the folders below
// the last level at that level. So is a folder whose parent is gone or that is caught in a
// cycle of parents: directly below "Artikelvorlagen", where "Datenbank aufräumen" puts it.
class FolderTree
{
public:
    // No seller's filing comes near it; the tree and the folder text stay small.
    static constexpr int kMaxDepth = 64;

    struct Folder
    {
        int id = 0;
        int parent = 0; // folderparentid as stored
        QString name;
        int expand = 0;
        QString category;
        // Below "Artikelvorlagen" as the tree shows it: 1 directly below it. Not capped.
        int depth = 0;
        // The parent is gone, or the folder is the one the tree takes out of a cycle: shown
        // directly below "Artikelvorlagen".
        bool misplaced = false;
    };

    // Reads every folder (siblings by name in German order). With `lock`, inside a transaction
    // of a shared database, the rows are locked until it ends: no other workstation changes
    // them meanwhile (SQLite's transactions hold the whole database anyway). False when the
    // read failed; the tree is then empty.
    bool read(Database *db, bool lock = false);
    // Takes `folders` (siblings in the order given) instead of reading them.
    void setFolders(QVector<Folder> folders);

    // Every folder, each after its parent and before its next sibling, as the tree shows them.
    const QVector<Folder> &folders() const { return m_folders; }
    // Null when there is no folder `id`.
    const Folder *find(int id) const;
    // The level the tree shows `id` at: its depth, at most kMaxDepth; 0 for
    // "Artikelvorlagen" and -1 for no folder.
    int shownLevel(int id) const;
    // The levels of `id`'s branch, the folder itself counted: 1 without subfolders; 0 for no
    // folder.
    int height(int id) const;
    // True when `ancestor` is `id` or one of its parents as stored.
    bool isWithin(int id, int ancestor) const;
    // `id` and every folder below it, as shown.
    QList<int> branch(int id) const;
    // The misplaced folders.
    QList<int> misplaced() const;

private:
    void arrange(QVector<Folder> folders);

    QVector<Folder> m_folders; // in tree order
    QHash<int, int> m_index; // id -> position in m_folders
    QVector<int> m_height; // by position
    QVector<int> m_branchEnd; // by position: one past the last folder of its branch
};
