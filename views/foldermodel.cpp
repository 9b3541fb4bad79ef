#include "views/foldermodel.h"

#include "views/foldernode.h"

#include <QDataStream>
#include <QFont>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTreeView>

namespace {
const int kOutboxId = -2;
const int kDraftsId = -10;
const QChar kNoIcon(0x00A7); // "§": a leading empty column would be trimmed away
const QString kUserFolderIcon = QStringLiteral(":/buttons/images/folder.png");
const QString kInfoIcon = QStringLiteral(":/smallimages/images/Open-folder-info.png");

FolderNode *findBelow(FolderNode *node, int id)
{
    for (FolderNode *child : qAsConst(node->children)) {
        if (child->id == id)
            return child;
        if (FolderNode *found = findBelow(child, id))
            return found;
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
             QStringLiteral("application/x-itemlist") };
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

bool FolderModel::dropMimeData(const QMimeData *, Qt::DropAction, int, int, const QModelIndex &)
{
    // Moving articles and folders by drop needs the article list and the main window, which
    // carry it out together with the database; until then every drop is refused. Overriding
    // also keeps the base class from decoding a folder payload as a generic item list.
    return false;
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

void FolderModel::addFolder(const QString &name, int id, const QModelIndex &parent)
{
    if (!parent.isValid())
        return;
    Q_ASSERT(checkIndex(parent));
    auto *node = new FolderNode(id, name, kUserFolderIcon, QString());
    node->userFolder = true;
    insertNode(nodeFromIndex(parent), node);
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
    if (!m_treeView || m_treeView->model() != this)
        return;
    for (int id : qAsConst(m_expandIds)) {
        const QModelIndex index = indexOfNode(findFolderWithId(id));
        if (index.isValid())
            m_treeView->expand(index);
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
    FolderNode *node = findFolderWithId(folder);
    if (!node)
        return;
    const int count = qMax(0, setcount ? changevalue : node->count + changevalue);
    if (count == node->count)
        return;
    node->count = count;
    const QModelIndex index = indexOfNode(node);
    emit dataChanged(index, index, { Qt::DisplayRole, Qt::FontRole });
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

        if (top->expanded && !m_expandIds.contains(top->id))
            m_expandIds.append(top->id);
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
