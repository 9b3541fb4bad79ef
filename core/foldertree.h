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

    // Reads every folder (siblings by name in German order), locking none. False when the read
    // failed; the tree is then empty.
    bool read(Database *db);

    // What a folder command locks, inside its transaction, before it decides: only the rows it
    // depends on, each by its key, read as stored now (on a shared database with FOR UPDATE,
    // until the transaction ends; SQLite's transactions hold the whole file anyway). Another
    // workstation's command that would change what the decision rests on locks one of the
    // same rows: one of the two waits for the other, or gives up as a lock conflict (see
    // Database::lastFailureLockConflict()). A whole-tree read after such locks sees every change
    // committed before them.
    //
    // `id` and its parents as stored, up to "Artikelvorlagen": what its level rests on. A new
    // folder below `id`, or a folder moved into it, takes these.
    struct Chain
    {
        bool ok = false; // false: a read failed (the database layer tells why)
        // The level the tree shows `id` at (see shownLevel()): 0 for "Artikelvorlagen", -1
        // when there is no folder `id`. Parents past kMaxDepth are not walked (nor locked):
        // `id` is shown at the deepest level then.
        int level = -1;
        QList<int> ids; // `id` first, then its parents as walked
    };
    static Chain lockChain(Database *db, int id);
    // `id` and every folder of its branch as the tree shows them, read after `id` was locked:
    // what a command that deletes the branch takes. No folder comes into the branch while `id`
    // is locked (a new folder or a moved one locks its parents); one moved out of it meanwhile
    // makes `changed` true, with nothing more locked.
    struct Branch
    {
        bool ok = false;
        bool changed = false;
        QList<int> ids; // empty when there is no folder `id`
    };
    static Branch lockBranch(Database *db, int id);
    // Locks the folders `ids`; the parent each has as stored now, by id (a folder that is gone
    // has none). False when a read failed.
    static bool lockFolders(Database *db, const QList<int> &ids, QHash<int, int> *parents);
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
