#pragma once

// What the tests of the main window's article commands share: a window on a fresh data
// folder, articles put into folders and selected, folder counts, modal dialogs answered.

#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

namespace ArticleCommands {

inline int folderCount(const TestSupport::MainWindowFixture &window, int folder)
{
    auto *model = qobject_cast<FolderModel *>(window.treeView()->model());
    const FolderNode *node = model ? model->findFolderWithId(folder) : nullptr;
    return node ? node->count : -1;
}

// An article inserted behind the window's back is counted in its folder.
inline void countNewArticle(const TestSupport::MainWindowFixture &window, int folder)
{
    if (auto *model = qobject_cast<FolderModel *>(window.treeView()->model()))
        model->ChangeFolderCount(folder, 1, false);
}

inline QTreeWidgetItem *rowOf(const TestSupport::MainWindowFixture &window, int id)
{
    QTreeWidget *list = window.itemList();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt() == id)
            return list->topLevelItem(i);
    }
    return nullptr;
}

// Shows `folder` and selects the rows of `ids`; false when one of them is not listed.
inline bool showAndSelect(TestSupport::MainWindowFixture &window, int folder,
                          const QList<int> &ids)
{
    if (!window.showFolder(folder))
        return false;
    window.itemList()->clearSelection();
    for (int id : ids) {
        QTreeWidgetItem *row = rowOf(window, id);
        if (!row)
            return false;
        row->setSelected(true);
    }
    return true;
}

inline void trigger(const TestSupport::MainWindowFixture &window, const char *action)
{
    window.window()->findChild<QAction *>(QLatin1String(action))->trigger();
}

// Acts on the modal dialog of type T once it is shown (it may first wait for a server).
template<typename T> void whenShown(QObject *context, const std::function<void(T *)> &act)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [timer, act] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start(20);
}

} // namespace ArticleCommands
