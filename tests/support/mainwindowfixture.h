#pragma once

#include <QMap>
#include <QString>
#include <QVariant>
#include <memory>

class Database;
class QAbstractItemModel;
class QModelIndex;
class MainWindow;
class QTreeView;
class QTreeWidget;

namespace TestSupport {

class TestDatabase;

// The real main window on the data folder of a TestDatabase (SQLite file or MariaDB
// database): the default data folder's option "datapath" points there, as if the user had
// chosen it in the settings. The window is built, shown and its first list fill is waited
// for; closing it lets the workers end their loops.
class MainWindowFixture
{
public:
    explicit MainWindowFixture(TestDatabase &data);
    ~MainWindowFixture();
    MainWindowFixture(const MainWindowFixture &) = delete;
    MainWindowFixture &operator=(const MainWindowFixture &) = delete;

    MainWindow *window() const { return m_window.get(); }
    QTreeWidget *itemList() const;
    QTreeView *treeView() const;

    // Clicks the folder with `id` in the tree (the list is filled again); false when the
    // tree has no such folder.
    bool showFolder(int id);
    // Closes the window (as the user does) and destroys it.
    void close();

private:
    std::unique_ptr<MainWindow> m_window;
};

// Prepares the application for another main window in the same process: "AppDown" off.
void resetApplicationState();

// The real main window on the data folder `dataPath` (set as the default folder's option
// "datapath"), built and shown; null when it was never exposed.
std::unique_ptr<MainWindow> startMainWindow(const QString &dataPath);

// The tree's index of the folder with `id`; invalid when the tree has no such folder.
QModelIndex folderIndexOf(const QAbstractItemModel *model, int id);

// The shown texts of the folders below `parent`, with their subfolders in brackets.
QString shape(const QAbstractItemModel *model, const QModelIndex &parent);

// Answers the next folder dialog (FolderEdit): types `name` and confirms, or cancels when
// `confirm` is false. Gives the name the dialog showed at first, or "(no dialog)".
std::shared_ptr<QString> answerFolderEdit(const QString &name, bool confirm = true);

// Inserts one article with sensible defaults overridden by `columns`; returns its id.
int insertArticle(Database *db, const QMap<QString, QVariant> &columns);

} // namespace TestSupport
