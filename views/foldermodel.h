#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class Database;
class FolderNode;
namespace ConnectionAside {
struct Failure;
}
class QTreeView;
class QTreeWidget;

// The item model behind the folder tree (`treeView` of the main form): the visible top node
// "Zerire3" with the fixed folders and the user's folders below it, each with its article
// count. Built once from the folder tree text, then changed in place.
//
// Folder tree text: lines separated by "\n". The number of leading spaces of a line is its
// depth; the rest, trimmed, holds tab-separated columns: icon path ("§" for none), name,
// id, count, and optionally "template" for a user folder, "1" for an open folder and the
// folder's category text. Lines with fewer than four columns create no node.
class FolderModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    // The payload type of dragged folders: each folder id as a big-endian 32-bit integer.
    static const QString FolderMimeType;

    // The folder's name and its count apart (Qt::DisplayRole joins them), for painting the
    // name cut short and the count whole. Qt::UserRole holds the id as text.
    enum Role { NameRole = Qt::UserRole + 1, CountRole };

    // None of the pointers is owned. `itemList` is the article list and `treeView` the view
    // that shows this model (used to expand and select folders); both may be null.
    FolderModel(const QString &data, Database *db, QTreeWidget *itemList, QObject *parent = nullptr,
                QTreeView *treeView = nullptr);
    ~FolderModel() override;

    QModelIndex index(int row, int column,
                      const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // A drop onto the folder of `parent` (user folders and "Artikelvorlagen" only): dragged
    // articles move there, running listings are copied there; a dragged user folder moves
    // below it. False when the folder takes no drops or the folder move is refused. Checked
    // against the database inside the drop's transaction: nothing is written when the target
    // or the dragged folder is gone, an article has gone into the trash, the move makes a
    // cycle of the folders as stored (changedElsewhere) or nests too deep (refused).
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Builds the tree again from `data` (the folder tree text), keeping the counts' link to
    // the database; the views lose their open folders and selection (see setupExpandStates).
    void reload(const QString &data);

    // Depth-first below the invisible root, children in order; null when absent. Id 0 is
    // the visible top node.
    FolderNode *findFolderWithId(int id) const;
    // The index of `node`; invalid for null, for the invisible root and for nodes outside
    // this model's tree.
    QModelIndex indexOfNode(FolderNode *node) const;

    // Appends a new user folder (folder icon, no category) to the folder of `parent`. An
    // invalid `parent` adds nothing.
    void addFolder(const QString &name, int id, const QModelIndex &parent);
    // Appends `child` (and its subfolders) to `parent`; the tree then owns `child`.
    void addChildFolder(FolderNode *parent, FolderNode *child);
    // Appends to `target` a copy of every subfolder of `source`, with their subfolders.
    void addChilds(FolderNode *target, FolderNode *source);
    // True when a folder with `id` lies anywhere below `node` (the node itself not counted).
    bool isParentOfTarget(int id, FolderNode *node) const;
    // Removes the folder of `index` with its subfolders and destroys them. False for an
    // invalid index and for the top node.
    bool killRow(const QModelIndex &index);
    // Tells the views to lay the tree out again.
    void updateNodes();
    // Opens, in the tree view, every folder that was open when the tree was saved and that
    // has subfolders.
    void setupExpandStates();
    // Makes the folder with `id` the tree view's only selected and current folder; unknown
    // ids are ignored. The article list is not reloaded.
    void selectFolderWithId(int id);

    // From now on the counts follow the database given at construction. A change is shown
    // at once, as given, and once the events waiting then are handled every count is read
    // from the database again (changes arriving together cost one read); while the tree view
    // is disabled (a command of the window runs) the read waits until it is enabled again.
    // So a worker's snapshot of the counts, taken before a command's change or ahead of the
    // difference on its way, can't leave a wrong count. Without it the counts are plain
    // numbers.
    void followDatabaseCounts();

    // Tells the window that a folder command found the folders or articles changed by
    // another workstation and wrote nothing (see changedElsewhere).
    void tellChangedElsewhere(const QString &message);
    // After a drop or a folder move wrote nothing because one of its statements failed (a read
    // as well as a write, or the commit): tells the seller once that `command` ("das
    // Verschieben") changed nothing, and why; as a lock another workstation holds (conflict()),
    // as not known (outcomeUnknown()) or as what did not work (notStored()).
    void tellFailure(const QString &command, bool articles = false);
    // The same for a statement that failed on another connection.
    void tellFailure(const QString &command, bool articles,
                     const ConnectionAside::Failure &failure);
    // After a command of the folders failed: when it gave up waiting for a lock another
    // workstation (or, on the local file, another part of the program) holds, or with `found`
    // when it found a folder changed by one while it locked, the seller is told to try again in
    // a moment (see conflict()), and only that. Any other failure is left to the notices of the
    // database layer.
    // `articles`: the command files articles, which may be what was held.
    void tellIfConflict(bool found = false, bool articles = false);
    // What tellIfConflict() tells on `db`; `articles`: the command files articles too.
    static QString conflictText(const Database *db, bool articles);
    // The seller's words for a folder that is gone: `id`'s name as this tree shows it.
    QString goneText(int id) const;

    // Articles a drop reads or moves with one statement: a statement of a few kilobytes.
    static constexpr int kDropGroup = 500;
    // Running listings a drop copies with one set of statements (a copy carries every column).
    static constexpr int kCopyGroup = 200;

    // How the window shows a drop of more than kDropGroup articles: called with `done` 0 and
    // the drop's `text` before its first group (the window then takes no other command), with
    // the articles done after each group (or, while a shared server works beside the window,
    // every few dozen milliseconds), and with -1 once the drop has ended, stored or not.
    // False when the drop is to stop (the seller stopped it, or the program is closing):
    // nothing of it is kept then, and stopped() tells the seller so.
    using Progress = std::function<bool(const QString &text, int done, int total)>;
    void setProgress(Progress progress);

signals:
    // A drop was sent to the database but its answer was lost: whether it was stored is not
    // known. `command` names it for the seller ("das Verschieben").
    void outcomeUnknown(const QString &command);
    // A command wrote nothing because the database no longer holds what this tree shows:
    // `message` tells the seller what changed; the tree is to be read again.
    void changedElsewhere(const QString &message);
    // A command wrote nothing because one of its statements failed: `command` changed nothing,
    // `reason` tells why as the seller reads it. Sent while the drop is under way.
    void notStored(const QString &command, const QString &reason);
    // A command wrote nothing because another workstation held what it needed longer than the
    // database waits: `message` tells the seller to try again; the tree is to be read again.
    // Sent while the command is under way: a receiver that shows a notice queues it.
    void conflict(const QString &message);
    // The seller stopped a drop under way (see Progress): nothing of it was kept; `message`
    // says so. Sent while the drop is under way: a receiver that shows a notice queues it.
    void stopped(const QString &message);
    // A command wrote nothing because it would break a rule of the folders (their depth);
    // `message` tells the seller why.
    void refused(const QString &message);

public slots:
    // Adds `changevalue` to the count of `folder`, or sets it to `changevalue` when
    // `setcount` is true; the count never goes below 0. Unknown folders are ignored.
    // When the counts follow the database, see followDatabaseCounts().
    void ChangeFolderCount(int folder, int changevalue, bool setcount = false);
    // When the counts follow the database: reads every count again (once the events waiting
    // are handled), for changes made by another workstation of a shared database. Otherwise
    // nothing.
    void refreshCounts();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupModelData(const QStringList &lines, FolderNode *parent);
    FolderNode *nodeFromIndex(const QModelIndex &index) const;
    bool isInTree(const FolderNode *node) const;
    void insertNode(FolderNode *parent, FolderNode *child);
    void dropArticles(const QByteArray &payload, int target);
    void moveAside(const QList<int> &moving, const QHash<int, int> &dragFrom, int target);
    void showDrop(const QHash<int, int> &moved, int target, int copied);
    void tellStopped(bool moves);
    // An article of a drop found deleted or in the trash: what the seller reads.
    static QString changedText(bool deleted, const QString &title);
    // Takes the rows of the articles `oldFolders` names (article id -> the folder it left) out
    // of the article list.
    void takeListRows(const QHash<int, int> &oldFolders);
    // Fewer rows leave the list one by one, more by taking all out and putting the rest back.
    static constexpr int kRowsTakenOneByOne = 64;
    bool moveFolder(int draggedId, FolderNode *target);
    void setCount(FolderNode *node, int count);
    void scheduleRecount();
    // Reads every folder's count from the database (the top node shows none).
    void recount();

    // Ids of the folders to open again: saved as open and given subfolders while building.
    QSet<int> m_expandSet;
    FolderNode *m_root;
    Database *m_db;
    QTreeWidget *m_itemList;
    QTreeView *m_treeView;
    Progress m_progress;
    bool m_followsDatabase = false;
    bool m_recountScheduled = false;
    bool m_recountDeferred = false;
};
