#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <memory>

namespace TestSupport {

class FakeHttpServer;

// A site's category tree as the marketplace's GetCategories serves it: the top level when
// no parent is asked for, else the parent followed by its children. Every answer is made
// once, when the tree is served, and then sent as it is.
class FakeCategoryTree
{
public:
    struct Category
    {
        QString id;
        QString parentId; // empty for the top level
        QString name;
        bool leaf = false;
    };

    // Adds a category below `parentId` (empty: top level); its level follows from the parent.
    void add(const QString &id, const QString &parentId, const QString &name, bool leaf);
    int size() const { return m_categories.size(); }

    // Answers GetCategories on `server` from now on.
    void serve(FakeHttpServer &server) const;

private:
    QList<Category> m_categories;
    QHash<QString, int> m_levels;
};

} // namespace TestSupport
