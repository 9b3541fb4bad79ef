#pragma once

#include <QList>
#include <QString>

// One folder of the folder tree: a fixed folder of the article lifecycle or a user folder,
// with the number of articles shown behind its name. A node owns its children.
class FolderNode
{
public:
    // Sets the fields; the node starts with count 0, both flags false and no children. It
    // does not add itself to `parent`'s children (see appendChild).
    FolderNode(int id, const QString &name, const QString &icon, const QString &info,
               FolderNode *parent = nullptr);
    ~FolderNode();

    FolderNode(const FolderNode &) = delete;
    FolderNode &operator=(const FolderNode &) = delete;

    // The child at `row`, or null when there is none.
    FolderNode *child(int row) const;
    int childCount() const;
    FolderNode *parentItem() const;
    // Makes this node the parent of `c` and appends it; the node then owns `c`.
    void appendChild(FolderNode *c);
    // Index of this node among its parent's children; 0 without a parent.
    int row() const;
    // Takes the first occurrence of `c` out of the children; `c` is not destroyed and the
    // caller owns it from then on.
    void deleteChild(FolderNode *c);

    QString icon; // resource path of the icon; may be empty
    QString name;
    int id;
    int count = 0;
    QString info; // the folder's marketplace category; non-empty shows the info icon
    bool expanded = false;
    bool userFolder = false;
    QList<FolderNode *> children; // owned
    FolderNode *parent; // not owned; null for the invisible root
};
