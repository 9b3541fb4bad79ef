#pragma once

// What the tests of the main window's article commands share: the real window on a fresh
// data folder (the fake servers behind it), articles put into folders and selected,
// folder counts.

#include "core/database.h"
#include "mainwindow/jobpanel.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/fakehttpserver.h"
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
#include <memory>

class CommandsWindow
{
public:
    // A window on `backend`; on MySQL another workstation synchronises (removals are queued).
    // `seed` writes what the window reads when it is built.
    explicit CommandsWindow(TestSupport::Backend backend,
                            const std::function<void(Database *)> &seed = {})
    {
        server.pointConfigHere();
        m_data = std::make_unique<TestSupport::TestDatabase>(backend);
        if (!m_data->error().isEmpty())
            return;
        if (backend == TestSupport::Backend::MySQL) {
            TestSupport::writeMySqlSetup(m_data->dataDir(),
                                         TestSupport::MySqlServer::fromEnvironment(),
                                         m_data->mysqlDatabaseName(), true, false);
            m_data->reopen();
        }
        if (seed)
            seed(m_data->db());
        m_window = std::make_unique<TestSupport::MainWindowFixture>(*m_data);
    }
    bool ready() const { return m_window && m_window->window(); }
    Database *db() const { return m_data->db(); }
    MainWindow *window() const { return m_window->window(); }
    TestSupport::MainWindowFixture &fixture() const { return *m_window; }
    TestSupport::TestDatabase &data() const { return *m_data; }

    // Inserted behind the window's back, and counted in its folder.
    int article(int folder, QMap<QString, QVariant> columns = {})
    {
        columns.insert(QStringLiteral("Folder"), folder);
        if (auto *model = qobject_cast<FolderModel *>(m_window->treeView()->model()))
            model->ChangeFolderCount(folder, 1, false);
        return TestSupport::insertArticle(db(), columns);
    }
    QString values(int id, const QString &columns) const
    {
        return TestSupport::values(db(), id, columns);
    }
    FolderModel *folders() const
    {
        return qobject_cast<FolderModel *>(m_window->treeView()->model());
    }
    int count(int folder) const
    {
        auto *model = folders();
        const FolderNode *node = model ? model->findFolderWithId(folder) : nullptr;
        return node ? node->count : -1;
    }
    QTreeWidgetItem *row(int id) const
    {
        QTreeWidget *list = m_window->itemList();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt() == id)
                return list->topLevelItem(i);
        }
        return nullptr;
    }
    // Shows `folder` with the rows of `ids` selected; false when one is not listed.
    bool select(int folder, const QList<int> &ids)
    {
        if (!m_window->showFolder(folder))
            return false;
        m_window->itemList()->clearSelection();
        for (int id : ids) {
            if (!row(id))
                return false;
            row(id)->setSelected(true);
        }
        return true;
    }
    void trigger(const char *action) const
    {
        window()->findChild<QAction *>(QLatin1String(action))->trigger();
    }

    TestSupport::FakeHttpServer server;

private:
    std::unique_ptr<TestSupport::TestDatabase> m_data;
    std::unique_ptr<TestSupport::MainWindowFixture> m_window;
};

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

// Whether every job the window shows below its status panel has ended and the window has
// taken its outcome ("Angebot beenden", the export, the clean-up).
inline bool windowJobsEnded(QWidget *window)
{
    const auto *panel = window->findChild<JobPanel *>(QStringLiteral("JobPanel"));
    return !panel || panel->jobs().isEmpty();
}

// The backend row of the running test function.
inline TestSupport::Backend currentBackend()
{
    return *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
}
