#include "views/foldernode.h"

FolderNode::FolderNode(int id, const QString &name, const QString &icon, const QString &info,
                       FolderNode *parent)
    : icon(icon)
    , name(name)
    , id(id)
    , info(info)
    , parent(parent)
{ }

FolderNode::~FolderNode()
{
    qDeleteAll(children);
}

FolderNode *FolderNode::child(int row) const
{
    if (row < 0 || row >= children.size())
        return nullptr;
    return children.at(row);
}

int FolderNode::childCount() const
{
    return children.size();
}

FolderNode *FolderNode::parentItem() const
{
    return parent;
}

void FolderNode::appendChild(FolderNode *c)
{
    c->parent = this;
    children.append(c);
}

int FolderNode::row() const
{
    if (!parent)
        return 0;
    return parent->children.indexOf(const_cast<FolderNode *>(this));
}

void FolderNode::deleteChild(FolderNode *c)
{
    children.removeOne(c);
}
