#include "views/foldermodel.h"

#include "core/articlecopies.h"
#include "core/connectionaside.h"
#include "core/database.h"
#include "core/foldertree.h"
#include "core/logging.h"
#include "core/removalnotes.h"
#include "core/specialfolderid.h"
#include "core/sqltext.h"
#include "core/transaction.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QDataStream>
#include <QEvent>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTextDocument>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <exception>

namespace {
const int kOutboxId = -2;
const int kDraftsId = -10;
const QChar kNoIcon(0x00A7); // "§": a leading empty column would be trimmed away
const QString kUserFolderIcon = QStringLiteral(":/buttons/images/folder.png");
const QString kInfoIcon = QStringLiteral(":/smallimages/images/Open-folder-info.png");

// Depth first, children in order, with a stack of its own.
FolderNode *findBelow(FolderNode *node, int id)
{
    QVector<FolderNode *> pending;
    for (auto it = node->children.crbegin(); it != node->children.crend(); ++it)
        pending.append(*it);
    while (!pending.isEmpty()) {
        FolderNode *next = pending.takeLast();
        if (next->id == id)
            return next;
        for (auto it = next->children.crbegin(); it != next->children.crend(); ++it)
            pending.append(*it);
    }
    return nullptr;
}

// A detached copy of `source` and its subfolders: id, name, icon, category, user-folder
// flag and count. The count goes along because the folder keeps its articles.
FolderNode *copyBranch(const FolderNode *source)
{
    auto *copy = new FolderNode(source->id, source->name, source->icon, source->info);
    copy->userFolder = source->userFolder;
    copy->count = source->count;
    for (const FolderNode *child : source->children)
        copy->appendChild(copyBranch(child));
    return copy;
}

// A name or title as a message quotes it.
QString shortened(const QString &text)
{
    constexpr int kLength = 80;
    return text.size() > kLength ? text.left(kLength - 1) + QStringLiteral("…") : text;
}
} // namespace

const QString FolderModel::FolderMimeType = QStringLiteral("FolderModel/Data");

FolderModel::FolderModel(const QString &data, Database *db, QTreeWidget *itemList, QObject *parent,
                         QTreeView *treeView)
    : QAbstractItemModel(parent)
    , m_root(new FolderNode(0, QStringLiteral("ZirevRovive"), QString(), QString()))
    , m_db(db)
    , m_itemList(itemList)
    , m_treeView(treeView)
{
    setupModelData(data.split(QLatin1Char('\n'), Qt::KeepEmptyParts), m_root);
}

FolderModel::~FolderModel()
{
    delete m_root;
}

QModelIndex FolderModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    const FolderNode *parentNode = parent.isValid() ? nodeFromIndex(parent) : m_root;
    FolderNode *child = parentNode->child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex FolderModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    Q_ASSERT(checkIndex(index, CheckIndexOption::DoNotUseParent));
    FolderNode *parentNode = nodeFromIndex(index)->parentItem();
    if (!parentNode || parentNode == m_root)
        return QModelIndex();
    return createIndex(parentNode->row(), 0, parentNode);
}

int FolderModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    const FolderNode *node = parent.isValid() ? nodeFromIndex(parent) : m_root;
    return node->childCount();
}

int FolderModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant FolderModel::data(const QModelIndex &index, int role) const
{
    Q_ASSERT(checkIndex(index));
    if (!index.isValid())
        return QVariant();
    const FolderNode *node = nodeFromIndex(index);

    switch (role) {
    case Qt::DisplayRole:
        if (node->count < 1)
            return node->name;
        return node->name + QStringLiteral(" (") + QString::number(node->count) + QLatin1Char(')');
    case Qt::DecorationRole:
        if (node->icon.isEmpty())
            return QVariant();
        return QIcon(node->info.isEmpty() ? node->icon : kInfoIcon);
    case Qt::FontRole: {
        if (index.column() != 0)
            return QVariant();
        QFont font;
        if (node->id == kOutboxId && node->count >= 1)
            font.setWeight(QFont::Bold);
        return font;
    }
    case Qt::UserRole:
        return QString::number(node->id);
    case Qt::ToolTipRole:
        // The whole name, also where the tree cuts it; never read as markup.
        return Qt::convertFromPlainText(node->name, Qt::WhiteSpaceNoWrap);
    case NameRole:
        return node->name;
    case CountRole:
        return node->count;
    default:
        return QVariant();
    }
}

QVariant FolderModel::headerData(int, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_root->name;
    return QVariant();
}

QStringList FolderModel::mimeTypes() const
{
    return { FolderMimeType, QStringLiteral("application/x-qabstractitemmodeldatalist"),
             ItemListWidget::ArticleMimeType };
}

QMimeData *FolderModel::mimeData(const QModelIndexList &indexes) const
{
    QByteArray ids;
    QDataStream stream(&ids, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::BigEndian);
    for (const QModelIndex &index : indexes) {
        if (!index.isValid() || index.model() != this)
            continue;
        if (const FolderNode *node = nodeFromIndex(index))
            stream << qint32(node->id);
    }
    auto *mime = new QMimeData;
    mime->setData(FolderMimeType, ids);
    return mime;
}

// A drop onto a folder: dragged articles move there (running listings are copied), a
// dragged user folder moves below it with its subfolders and their articles. Row and column
// do not matter, so a drop between two folders goes to their parent.
bool FolderModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int, int,
                               const QModelIndex &parent)
{
    if (!data || action == Qt::IgnoreAction || !parent.isValid() || !m_db)
        return false;
    Q_ASSERT(checkIndex(parent));
    FolderNode *target = nodeFromIndex(parent);
    const bool acceptsDrops = target->userFolder || target->id == kDraftsId;

    if (data->hasFormat(ItemListWidget::ArticleMimeType)) {
        if (!acceptsDrops)
            return false;
        dropArticles(data->data(ItemListWidget::ArticleMimeType), target->id);
    }
    if (!data->hasFormat(FolderMimeType))
        return true;

    if (!acceptsDrops)
        return false;
    QDataStream stream(data->data(FolderMimeType));
    stream.setByteOrder(QDataStream::BigEndian);
    qint32 draggedId = 0;
    stream >> draggedId;
    if (stream.status() != QDataStream::Ok)
        return true;
    return moveFolder(draggedId, target);
}

Qt::DropActions FolderModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::ItemFlags FolderModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Q_ASSERT(checkIndex(index));
    const FolderNode *node = nodeFromIndex(index);
    if (node->id == kDraftsId)
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
    if (node->userFolder)
        return Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled
            | Qt::ItemIsEnabled;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

FolderNode *FolderModel::findFolderWithId(int id) const
{
    return findBelow(m_root, id);
}

QModelIndex FolderModel::indexOfNode(FolderNode *node) const
{
    if (!node || node == m_root || !isInTree(node))
        return QModelIndex();
    return createIndex(node->row(), 0, node);
}

void FolderModel::reload(const QString &data)
{
    beginResetModel();
    qDeleteAll(m_root->children);
    m_root->children.clear();
    m_expandSet.clear();
    setupModelData(data.split(QLatin1Char('\n'), Qt::KeepEmptyParts), m_root);
    endResetModel();
}

void FolderModel::addFolder(const QString &name, int id, const QModelIndex &parent)
{
    if (!parent.isValid())
        return;
    Q_ASSERT(checkIndex(parent));
    auto *node = new FolderNode(id, name, kUserFolderIcon, QString());
    node->userFolder = true;
    // Where the tree built from the database will have it: siblings by name in German order.
    FolderNode *parentNode = nodeFromIndex(parent);
    int row = 0;
    while (row < parentNode->childCount()
           && SqlText::compare(parentNode->child(row)->name, name) <= 0)
        ++row;
    beginInsertRows(parent, row, row);
    node->parent = parentNode;
    parentNode->children.insert(row, node);
    endInsertRows();
}

void FolderModel::addChildFolder(FolderNode *parent, FolderNode *child)
{
    insertNode(parent, child);
}

void FolderModel::addChilds(FolderNode *target, FolderNode *source)
{
    // Copies are made before any is inserted, so a target inside `source` is not copied
    // into itself.
    QList<FolderNode *> copies;
    for (const FolderNode *child : qAsConst(source->children))
        copies.append(copyBranch(child));
    for (FolderNode *copy : qAsConst(copies))
        insertNode(target, copy);
}

bool FolderModel::isParentOfTarget(int id, FolderNode *node) const
{
    return node && findBelow(node, id);
}

bool FolderModel::killRow(const QModelIndex &index)
{
    if (!index.isValid() || !index.parent().isValid())
        return false;
    Q_ASSERT(checkIndex(index));
    FolderNode *node = nodeFromIndex(index);
    FolderNode *parentNode = node->parentItem();
    const int row = index.row();
    beginRemoveRows(index.parent(), row, row);
    parentNode->deleteChild(node);
    endRemoveRows();
    delete node;
    return true;
}

void FolderModel::updateNodes()
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

void FolderModel::setupExpandStates()
{
    if (!m_treeView || m_treeView->model() != this || m_expandSet.isEmpty())
        return;
    // One walk through the tree, however many folders are open.
    QVector<FolderNode *> pending { m_root };
    while (!pending.isEmpty()) {
        const FolderNode *node = pending.takeLast();
        for (int row = 0; row < node->childCount(); ++row) {
            FolderNode *child = node->children.at(row);
            if (child->childCount() == 0)
                continue;
            if (m_expandSet.contains(child->id))
                m_treeView->expand(createIndex(row, 0, child));
            pending.append(child);
        }
    }
}

void FolderModel::selectFolderWithId(int id)
{
    if (!m_treeView || m_treeView->model() != this)
        return;
    const QModelIndex index = indexOfNode(findFolderWithId(id));
    if (!index.isValid())
        return;
    m_treeView->selectionModel()->clearSelection();
    m_treeView->setCurrentIndex(index);
}

void FolderModel::ChangeFolderCount(int folder, int changevalue, bool setcount)
{
    if (changevalue == 0 && !setcount)
        return;
    // Scheduled before the change is shown, so the view paints the counts read afterwards.
    if (m_followsDatabase)
        scheduleRecount();
    FolderNode *node = findFolderWithId(folder);
    if (!node)
        return;
    setCount(node, qMax(0, setcount ? changevalue : node->count + changevalue));
}

void FolderModel::refreshCounts()
{
    if (m_followsDatabase)
        scheduleRecount();
}

void FolderModel::followDatabaseCounts()
{
    m_followsDatabase = true;
    if (m_treeView)
        m_treeView->installEventFilter(this);
}

bool FolderModel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_treeView && event->type() == QEvent::EnabledChange && m_recountDeferred
        && m_treeView->isEnabled()) {
        m_recountDeferred = false;
        scheduleRecount();
    }
    return QAbstractItemModel::eventFilter(watched, event);
}

void FolderModel::setCount(FolderNode *node, int count)
{
    if (count == node->count)
        return;
    node->count = count;
    const QModelIndex index = indexOfNode(node);
    emit dataChanged(index, index, { Qt::DisplayRole, Qt::FontRole, CountRole });
}

void FolderModel::scheduleRecount()
{
    if (m_recountScheduled)
        return;
    m_recountScheduled = true;
    // Behind every event already waiting: changes that arrive together cost one query.
    QMetaObject::invokeMethod(this, &FolderModel::recount, Qt::QueuedConnection);
}

void FolderModel::recount()
{
    m_recountScheduled = false;
    if (!m_db)
        return;
    // A disabled tree means a command of the window is under way, which may have written
    // rows whose differences it shows only at its end: read now, they would count twice.
    if (m_treeView && !m_treeView->isEnabled()) {
        m_recountDeferred = true;
        return;
    }
    QSqlQuery query;
    // A failed read (a lost connection) leaves the counts as they are rather than at 0.
    if (!m_db->selectQuery(QStringLiteral("SELECT Folder,count(id) AS M FROM articles WHERE "
                                          "Trash=0 GROUP BY Folder"),
                           query))
        return;
    QHash<int, int> counts;
    while (query.next())
        counts.insert(query.value(0).toInt(), query.value(1).toInt());
    if (!m_db->rowsComplete(query))
        return;

    // The top node shows no count, whatever lies in folder 0.
    QList<FolderNode *> pending { m_root };
    while (!pending.isEmpty()) {
        FolderNode *node = pending.takeLast();
        for (FolderNode *child : qAsConst(node->children)) {
            setCount(child, child->id == SpecialFolderId::Root ? 0 : counts.value(child->id));
            pending.append(child);
        }
    }
}

// The indentation-stack method: a line deeper than the current level goes below the last
// folder added at that level (or, when there is none yet, below the current parent); a
// shallower line returns to the nearest level not deeper than itself.
void FolderModel::setupModelData(const QStringList &lines, FolderNode *parent)
{
    QList<FolderNode *> parents { parent };
    QList<int> indentations { 0 };

    for (const QString &line : lines) {
        int position = 0;
        while (position < line.length() && line.at(position) == QLatin1Char(' '))
            ++position;
        const QString text = line.mid(position).trimmed();
        if (text.isEmpty())
            continue;

        QStringList columns = text.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
        QString icon = columns.takeFirst();
        if (icon == kNoIcon)
            icon.clear();

        if (position > indentations.last()) {
            FolderNode *top = parents.last();
            if (top->childCount() > 0) {
                parents.append(top->child(top->childCount() - 1));
                indentations.append(position);
            }
        } else {
            while (parents.size() > 1 && position < indentations.last()) {
                parents.removeLast();
                indentations.removeLast();
            }
        }

        if (columns.size() < 3)
            continue;
        FolderNode *top = parents.last();
        auto *node = new FolderNode(columns.at(1).toInt(), columns.at(0), icon, QString(), top);
        node->count = columns.at(2).toInt();
        if (columns.size() > 3)
            node->userFolder = columns.at(3) == QLatin1String("template");
        if (columns.size() > 4)
            node->expanded = columns.at(4) == QLatin1String("1");
        if (columns.size() > 5)
            node->info = columns.at(5);
        top->appendChild(node);

        if (top->expanded)
            m_expandSet.insert(top->id);
    }
}

FolderNode *FolderModel::nodeFromIndex(const QModelIndex &index) const
{
    return static_cast<FolderNode *>(index.internalPointer());
}

bool FolderModel::isInTree(const FolderNode *node) const
{
    while (node && node != m_root)
        node = node->parentItem();
    return node == m_root;
}

// Appends with notification when `parent` belongs to the model's tree; a detached branch
// is simply extended.
void FolderModel::insertNode(FolderNode *parent, FolderNode *child)
{
    if (!isInTree(parent)) {
        parent->appendChild(child);
        return;
    }
    const int row = parent->childCount();
    beginInsertRows(indexOfNode(parent), row, row);
    parent->appendChild(child);
    endInsertRows();
}

// The payload comes from the drag and drop system and may come from another program: only
// entries whose article id and source folder read as numbers are carried out. The whole drop
// is one transaction: every article moves (or is copied), or none does.
void FolderModel::dropArticles(const QByteArray &payload, int target)
{
    const int end = payload.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? payload : payload.left(end));
    QList<QPair<int, int>> entries; // article id, the folder it was dragged from
    for (const QString &entry : text.split(QLatin1Char(','), Qt::KeepEmptyParts)) {
        const int bar = entry.indexOf(QLatin1Char('|'));
        bool idOk = false;
        bool folderOk = false;
        const int id = entry.left(bar).toInt(&idOk);
        const int source = entry.mid(bar + 1).toInt(&folderOk);
        if (bar >= 0 && idOk && folderOk && source != target)
            entries.append({ id, source });
    }
    if (entries.isEmpty())
        return;
    bool moves = false;
    for (const auto &entry : qAsConst(entries))
        moves = moves || entry.second != SpecialFolderId::Active;
    const QString what = moves ? tr("das Verschieben") : tr("die Kopie");

    // Running listings are copied one by one; every other article moves. An article dropped
    // twice counts once.
    QList<int> copies;
    QList<int> moving;
    QSet<int> seen;
    for (const auto &entry : qAsConst(entries)) {
        if (seen.contains(entry.first))
            continue;
        seen.insert(entry.first);
        (entry.second == SpecialFolderId::Active ? copies : moving).append(entry.first);
    }
    QHash<int, int> dragFrom; // article id -> the folder it was dragged from
    for (const auto &entry : qAsConst(entries))
        dragFrom.insert(entry.first, entry.second);

    // On a shared server a few statements over many drafts take it seconds: they run beside
    // the window, which answers all along.
    if (m_db->isMySQL && copies.isEmpty() && moving.size() > kDropGroup) {
        moveAside(moving, dragFrom, target);
        return;
    }

    // Every article moves (or is copied), or none does: the first statement that fails ends
    // the drop, with nothing written.
    Transaction command(m_db);
    if (!command.isOpen()) {
        tellFailure(what, true);
        return;
    }
    // The folder as stored, read where it is written: another workstation may have deleted it
    // since the tree was read, and on a shared database it can't do so until this ends. Only
    // its own row is locked (a command that deletes or moves one of its parents locks it too).
    QString category;
    if (target != kDraftsId) {
        QSqlQuery query;
        if (!m_db->selectQuery(QStringLiteral("SELECT id, cat_ebay FROM folders WHERE id=")
                                   + QString::number(target)
                                   + (m_db->isMySQL ? QStringLiteral(" FOR UPDATE") : QString()),
                               query)) {
            tellFailure(what, true);
            return;
        }
        if (!query.next()) {
            // A row that could not be read is not a folder that is gone.
            if (!m_db->rowsComplete(query))
                tellFailure(what, true);
            else
                tellChangedElsewhere(goneText(target));
            return;
        }
        category = query.value(1).toString();
    }
    const QString targetText = QString::number(target);
    // A running listing stays where it is; its copy starts afresh in the folder, written so
    // by the copying statement itself: whatever becomes of the copy, it is never a second
    // row of the listing. Planned_Interval is empty as in every other copy; 0 reads as a job.
    QMap<QString, QVariant> fresh = Database::freshCopy(target);
    QString categorySet;
    if (!category.isEmpty()) {
        fresh.insert(QStringLiteral("PrimaryCategory"), category);
        categorySet = QStringLiteral(", PrimaryCategory='") + Database::escapeString(category)
            + QLatin1Char('\'');
    }

    // A drop of many articles shows its progress, the window answering between its groups.
    const int total = copies.size() + moving.size();
    const bool shown = m_progress && total > kDropGroup;
    if (shown)
        m_progress(moves ? tr("Artikel werden verschoben …") : tr("Artikel werden kopiert …"), 0,
                   total);
    auto ended = qScopeGuard([&] {
        if (shown)
            m_progress(QString(), -1, total);
    });
    int done = 0;
    // False once the seller stopped it or the program is closing: the drop then keeps nothing.
    const auto step = [&](int articles) {
        done += articles;
        if (!shown || m_progress(QString(), done, total))
            return true;
        tellStopped(moves);
        return false;
    };

    // The running listings are copied by groups, each copy with its pictures and variations,
    // the listings held unchanged on a shared database until the drop ends: a lock another
    // workstation holds on any of them ends the drop after one wait.
    ArticleCopies copier(*m_db, fresh);
    for (int first = 0; first < copies.size(); first += kCopyGroup) {
        const QList<int> group = copies.mid(first, kCopyGroup);
        QStringList ids;
        for (int id : group)
            ids << QString::number(id);
        QSqlQuery query;
        if (!m_db->selectQuery(QStringLiteral("SELECT id FROM articles WHERE id IN (")
                                   + ids.join(QLatin1Char(',')) + QLatin1Char(')')
                                   + (m_db->isMySQL ? QStringLiteral(" LOCK IN SHARE MODE")
                                                    : QString()),
                               query)) {
            tellFailure(what, true);
            return;
        }
        // A listing that is gone is not copied.
        QList<int> found;
        while (query.next())
            found << query.value(0).toInt();
        if (!m_db->rowsComplete(query)) {
            tellFailure(what, true);
            return;
        }
        query.finish();
        if (!copier.copy(found)) {
            tellFailure(what, true);
            return;
        }
        if (!step(group.size()))
            return;
    }
    const int copied = copier.made().size();

    // The articles to move, group by group, as stored now and read inside the command (on a
    // shared database locked until it ends, each row by its key): one that another
    // workstation put into the trash meanwhile stays there, and nothing moves.
    QHash<int, int> moved; // article id -> its folder before
    for (int first = 0; first < moving.size(); first += kDropGroup) {
        QStringList ids;
        for (int id : moving.mid(first, kDropGroup))
            ids << QString::number(id);
        QSqlQuery query;
        if (!m_db->selectQuery(QStringLiteral("SELECT id, Folder, Trash, Title FROM articles "
                                              "WHERE id IN (")
                                   + ids.join(QLatin1Char(',')) + QLatin1Char(')')
                                   + (m_db->isMySQL ? QStringLiteral(" FOR UPDATE") : QString()),
                               query)) {
            tellFailure(what, true);
            return;
        }
        while (query.next()) {
            const int id = query.value(0).toInt();
            const int oldFolder = query.value(1).toInt();
            const QString title = shortened(query.value(3).toString());
            if (query.value(2).toInt() != 0) {
                tellChangedElsewhere(changedText(true, title));
                return;
            }
            if (oldFolder == SpecialFolderId::Trash
                && dragFrom.value(id) != SpecialFolderId::Trash) {
                tellChangedElsewhere(changedText(false, title));
                return;
            }
            if (oldFolder != target)
                moved.insert(id, oldFolder);
        }
        // A read cut short would leave articles behind as if they were gone.
        if (!m_db->rowsComplete(query)) {
            tellFailure(what, true);
            return;
        }
        query.finish();
        if (!step(ids.size() / 2))
            return;
    }
    QList<int> movedIds = moved.keys();
    std::sort(movedIds.begin(), movedIds.end());
    for (int first = 0; first < movedIds.size(); first += kDropGroup) {
        QStringList ids;
        for (int id : movedIds.mid(first, kDropGroup))
            ids << QString::number(id);
        // Values, not increments: sent again after a lost answer, it changes nothing more.
        if (!m_db->executeSQL(QStringLiteral("UPDATE articles SET Folder=") + targetText
                                  + categorySet + QStringLiteral(" WHERE id IN (")
                                  + ids.join(QLatin1Char(',')) + QLatin1Char(')'),
                              Database::Repeat::Safe)) {
            tellFailure(what, true);
            return;
        }
        if (!step(ids.size() - ids.size() / 2))
            return;
    }
    // The other workstations drop the moved rows from their lists: told with the move, or not
    // at all.
    if (!RemovalNotes::write(*m_db, moved, [&] { return step(0); })) {
        tellFailure(what, true);
        return;
    }
    if (!command.commit()) {
        tellFailure(what, true);
        return;
    }
    showDrop(moved, target, copied);
}

// The counts once per folder, the rows out of the list in one pass.
void FolderModel::showDrop(const QHash<int, int> &moved, int target, int copied)
{
    QHash<int, int> left; // folder -> articles that left it
    for (auto it = moved.cbegin(); it != moved.cend(); ++it)
        ++left[it.value()];
    for (auto it = left.cbegin(); it != left.cend(); ++it)
        ChangeFolderCount(it.key(), -it.value());
    ChangeFolderCount(target, copied + moved.size());
    takeListRows(moved);
}

namespace {
// What the statements of a drop beside the window found and did.
struct AsideMove
{
    bool stored = false;
    bool stopped = false;
    bool targetGone = false;
    // Set when an article went into the trash meanwhile: what the seller is told.
    QString changed;
    ConnectionAside::Failure failure;
    QHash<int, int> moved; // article id -> its folder before
};
} // namespace

// The drafts `moving` move to `target` with a few statements over all of them, on a
// connection beside the window, in one transaction: the same checks and the same entries for
// the other workstations as a drop on the window's connection, and all or nothing.
void FolderModel::moveAside(const QList<int> &moving, const QHash<int, int> &dragFrom, int target)
{
    const QString what = tr("das Verschieben");
    const int total = moving.size();
    const bool shown = bool(m_progress);
    if (shown)
        m_progress(tr("Artikel werden verschoben …"), 0, total);
    AsideMove result;
    ConnectionAside::run(
        QStringLiteral("folderDrop"),
        [&](Database &db, ConnectionAside::Control &control) {
            const auto failed = [&] {
                result.failure = ConnectionAside::Failure::of(db);
            };
            const auto stopped = [&] {
                result.stopped = control.stop.load();
                return result.stopped;
            };
            Transaction command(db);
            if (!command.isOpen())
                return failed();
            // The folder as stored, locked until the drop ends (see dropArticles()).
            QString categorySet;
            if (target != kDraftsId) {
                const Read<SqlRows> folder
                    = db.select(QStringLiteral("SELECT cat_ebay FROM folders WHERE id=")
                                + QString::number(target) + QStringLiteral(" FOR UPDATE"));
                if (!folder.ok())
                    return failed();
                if (folder->isEmpty()) {
                    result.targetGone = true;
                    return;
                }
                const QString category
                    = folder->first().value(QStringLiteral("cat_ebay")).toString();
                if (!category.isEmpty())
                    categorySet = QStringLiteral(", PrimaryCategory='")
                        + Database::escapeString(category) + QLatin1Char('\'');
            }
            const QStringList lists = ConnectionAside::idLists(db, moving);
            if (lists.isEmpty())
                return failed();
            // Every article as stored, each locked by its key until the drop ends.
            QHash<int, int> moved;
            for (const QString &ids : lists) {
                QSqlQuery query;
                if (!db.selectQuery(QStringLiteral("SELECT id, Folder, Trash FROM articles WHERE "
                                                   "id IN (")
                                        + ids + QStringLiteral(") FOR UPDATE"),
                                    query))
                    return failed();
                while (query.next()) {
                    const int id = query.value(0).toInt();
                    const int oldFolder = query.value(1).toInt();
                    const bool deleted = query.value(2).toInt() != 0;
                    if (deleted
                        || (oldFolder == SpecialFolderId::Trash
                            && dragFrom.value(id) != SpecialFolderId::Trash)) {
                        query.finish();
                        const Read<QString> title
                            = db.selectOne(QStringLiteral("SELECT Title FROM articles WHERE id=")
                                           + QString::number(id));
                        if (!title.ok())
                            return failed();
                        result.changed = changedText(deleted, shortened(*title));
                        return;
                    }
                    if (oldFolder != target)
                        moved.insert(id, oldFolder);
                }
                if (!db.rowsComplete(query))
                    return failed();
            }
            control.done = total / 3;
            if (stopped())
                return;
            QList<int> movedIds = moved.keys();
            std::sort(movedIds.begin(), movedIds.end());
            const QStringList movedLists = ConnectionAside::idLists(db, movedIds);
            if (movedLists.isEmpty() != movedIds.isEmpty())
                return failed();
            // The other workstations drop the moved rows from their lists: told with the
            // move, or not at all; written while the rows still name the folder they leave.
            if (!RemovalNotes::writeBeforeMove(db, movedLists, target))
                return failed();
            control.done = 2 * total / 3;
            if (stopped())
                return;
            for (const QString &ids : movedLists) {
                // Values, not increments: sent again after a lost answer, it changes nothing
                // more.
                if (!db.executeSQL(QStringLiteral("UPDATE articles SET Folder=")
                                       + QString::number(target) + categorySet
                                       + QStringLiteral(" WHERE id IN (") + ids + QLatin1Char(')'),
                                   Database::Repeat::Safe))
                    return failed();
            }
            control.done = total;
            if (!control.goOn()) {
                result.stopped = true;
                return;
            }
            if (!command.commit())
                return failed();
            result.stored = true;
            result.moved = std::move(moved);
        },
        [&](int done) { return !shown || m_progress(QString(), done, total); });
    if (shown)
        m_progress(QString(), -1, total);

    if (result.stored) {
        showDrop(result.moved, target, 0);
    } else if (result.stopped) {
        tellStopped(true);
    } else if (result.targetGone) {
        tellChangedElsewhere(goneText(target));
    } else if (!result.changed.isEmpty()) {
        tellChangedElsewhere(result.changed);
    } else {
        tellFailure(what, true, result.failure);
    }
}

QString FolderModel::changedText(bool deleted, const QString &title)
{
    return deleted ? tr("Der Artikel „%1“ wurde inzwischen an einem anderen Arbeitsplatz "
                        "gelöscht. Es wurde nichts verschoben.")
                         .arg(title)
                   : tr("Der Artikel „%1“ wurde inzwischen an einem anderen Arbeitsplatz in den "
                        "Papierkorb gelegt. Es wurde nichts verschoben.")
                         .arg(title);
}

void FolderModel::tellStopped(bool moves)
{
    emit stopped(moves ? tr("Das Verschieben wurde abgebrochen: es wurde nichts verschoben.")
                       : tr("Das Kopieren wurde abgebrochen: es wurde nichts kopiert."));
}

// The articles left the shown folder: their rows go (the other workstations were told with the
// move).
void FolderModel::takeListRows(const QHash<int, int> &oldFolders)
{
    if (!m_itemList || oldFolders.isEmpty())
        return;
    QList<QTreeWidgetItem *> taken;
    QTreeWidget *list = m_itemList;
    const int scrolled = list->verticalScrollBar()->value();
    list->setUpdatesEnabled(false);
    if (oldFolders.size() < kRowsTakenOneByOne) {
        for (int i = list->topLevelItemCount() - 1; i >= 0; --i) {
            if (oldFolders.contains(
                    list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt()))
                taken << list->takeTopLevelItem(i);
        }
    } else {
        // Taking thousands of rows out one by one costs a pass over the list and over the
        // selection for each; taking all and putting the rest back costs one.
        const QList<QTreeWidgetItem *> rows = list->invisibleRootItem()->takeChildren();
        QList<QTreeWidgetItem *> kept;
        kept.reserve(rows.size());
        for (QTreeWidgetItem *row : rows) {
            if (oldFolders.contains(row->data(0, ItemListRole::ArticleIdRole).toInt()))
                taken << row;
            else
                kept << row;
        }
        list->addTopLevelItems(kept);
    }
    list->setUpdatesEnabled(true);
    list->verticalScrollBar()->setValue(scrolled);
    qDeleteAll(taken);
}

// Moves the user folder `draggedId` with its subfolders below `target`, where it comes last.
// Refused onto itself, its own parent or one of its subfolders, and for anything but a
// user folder of this tree; and, as the folders are stored, when either folder is gone, when
// the target lies below the dragged folder or when the branch would lie too deep.
bool FolderModel::moveFolder(int draggedId, FolderNode *target)
{
    if (draggedId == target->id)
        return false;
    FolderNode *dragged = findFolderWithId(draggedId);
    if (!dragged || !dragged->userFolder || dragged->parentItem() == target
        || isParentOfTarget(target->id, dragged))
        return false;
    const int targetId = target->id;
    const QString draggedName = dragged->name;
    const QString targetName = target->name;
    const QString what = tr("das Verschieben des Ordners");
    {
        Transaction command(m_db);
        if (!command.isOpen()) {
            tellFailure(what);
            return false;
        }
        // The dragged folder first: while it is locked nothing comes into its branch (a new or
        // a moved folder locks its parents), so the height read below stays true.
        QHash<int, int> dragged;
        if (!FolderTree::lockFolders(m_db, { draggedId }, &dragged)) {
            tellFailure(what);
            return false;
        }
        // The target and its parents as stored, locked until the move is written: the tree in
        // memory may be older than what another workstation did.
        const FolderTree::Chain into = FolderTree::lockChain(m_db, targetId);
        if (!into.ok) {
            tellFailure(what);
            return false;
        }
        if (!dragged.contains(draggedId) || into.level < 0) {
            command.rollback();
            tellChangedElsewhere(goneText(dragged.contains(draggedId) ? targetId : draggedId));
            return false;
        }
        if (into.ids.contains(draggedId)) {
            command.rollback();
            tellChangedElsewhere(tr("Der Ordner „%1“ kann nicht in „%2“ verschoben werden: „%2“ "
                                    "wurde inzwischen an einem anderen Arbeitsplatz in „%1“ "
                                    "verschoben.")
                                     .arg(draggedName, targetName));
            return false;
        }
        // Read after the locks: the dragged branch as it is.
        FolderTree stored;
        if (!stored.read(m_db)) {
            tellFailure(what);
            return false;
        }
        if (into.level + stored.height(draggedId) > FolderTree::kMaxDepth) {
            command.rollback();
            emit refused(tr("Der Ordner „%1“ kann nicht in „%2“ verschoben werden: Ordner "
                            "können höchstens %3 Ebenen tief ineinander liegen.")
                             .arg(draggedName, targetName)
                             .arg(FolderTree::kMaxDepth));
            return false;
        }
        // One value written: sent again after a lost answer, it changes nothing more.
        if (!m_db->executeSQL(QStringLiteral("UPDATE folders SET folderparentid=")
                                  + QString::number(targetId) + QStringLiteral(" WHERE id=")
                                  + QString::number(draggedId),
                              Database::Repeat::Safe)) {
            tellFailure(what);
            return false;
        }
        if (!command.commit()) {
            tellFailure(what);
            return false;
        }
    }

    // The node itself moves, so the folders keep their counts, and the views their
    // indexes and open state. Looked up again: the tree may have been read again meanwhile.
    dragged = findFolderWithId(draggedId);
    target = findFolderWithId(targetId);
    if (!dragged || !target || isParentOfTarget(targetId, dragged))
        return true;
    FolderNode *oldParent = dragged->parentItem();
    const int row = dragged->row();
    const int targetRow = target->childCount();
    beginMoveRows(indexOfNode(oldParent), row, row, indexOfNode(target), targetRow);
    oldParent->deleteChild(dragged);
    target->appendChild(dragged);
    endMoveRows();
    return true;
}

void FolderModel::setProgress(Progress progress)
{
    m_progress = std::move(progress);
}

void FolderModel::tellChangedElsewhere(const QString &message)
{
    emit changedElsewhere(message);
}

void FolderModel::tellFailure(const QString &command, bool articles)
{
    if (m_db)
        tellFailure(command, articles, ConnectionAside::Failure::of(*m_db));
}

void FolderModel::tellFailure(const QString &command, bool articles,
                              const ConnectionAside::Failure &failure)
{
    if (!m_db || failure.outcome == Database::Outcome::Done)
        return;
    if (failure.outcome == Database::Outcome::Unknown)
        emit outcomeUnknown(command);
    else if (failure.lockConflict)
        emit conflict(conflictText(m_db, articles));
    else
        emit notStored(command,
                       failure.transient ? failure.error
                                         : tr("Die Datenbank meldet:\n%1").arg(failure.error));
}

void FolderModel::tellIfConflict(bool found, bool articles)
{
    if (!m_db)
        return;
    if (found
        || (m_db->lastOutcome() == Database::Outcome::NotWritten
            && m_db->lastFailureLockConflict()))
        emit conflict(conflictText(m_db, articles));
}

QString FolderModel::conflictText(const Database *db, bool articles)
{
    if (!db->isMySQL)
        return tr("Die Datenbank wird gerade von einem anderen Vorgang geändert. Bitte gleich "
                  "noch einmal versuchen.");
    return articles ? tr("Ein anderer Arbeitsplatz ändert gerade die Ordner oder Artikel. Bitte "
                         "gleich noch einmal versuchen.")
                    : tr("Ein anderer Arbeitsplatz ändert gerade die Ordner. Bitte gleich noch "
                         "einmal versuchen.");
}

QString FolderModel::goneText(int id) const
{
    const FolderNode *node = findFolderWithId(id);
    return tr("Der Ordner „%1“ wurde inzwischen an einem anderen Arbeitsplatz gelöscht.")
        .arg(node ? shortened(node->name) : QString::number(id));
}
