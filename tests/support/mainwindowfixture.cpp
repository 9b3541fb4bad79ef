#include "tests/support/mainwindowfixture.h"

#include "core/backgroundworker.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/testdatabase.h"
#include "views/folderedit.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

namespace TestSupport {

namespace {
QModelIndex findFolder(const QAbstractItemModel *model, const QModelIndex &parent, int id)
{
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        if (index.data(Qt::UserRole).toString() == QString::number(id))
            return index;
        const QModelIndex below = findFolder(model, index, id);
        if (below.isValid())
            return below;
    }
    return QModelIndex();
}
} // namespace

void resetApplicationState()
{
    qApp->setProperty("AppDown", 0);
    qApp->setProperty("inSync", false);
}

std::unique_ptr<MainWindow> startMainWindow(const QString &dataPath)
{
    if (!Database(QString(), nullptr).setOption(QStringLiteral("datapath"), dataPath)) {
        qWarning("The data folder for the window could not be stored");
        return nullptr;
    }
    resetApplicationState();
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        window.reset();
    return window;
}

QModelIndex folderIndexOf(const QAbstractItemModel *model, int id)
{
    return findFolder(model, QModelIndex(), id);
}

MainWindowFixture::MainWindowFixture(TestDatabase &data)
{
    resetApplicationState();
    {
        Database defaultFolder(QString(), nullptr);
        QVERIFY(defaultFolder.setOption(QStringLiteral("datapath"), data.dataDir()));
    }
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // The list is filled 400 ms after construction.
    QTest::qWait(500);
}

MainWindowFixture::~MainWindowFixture()
{
    close();
}

QTreeWidget *MainWindowFixture::itemList() const
{
    return m_window ? m_window->findChild<QTreeWidget *>(QStringLiteral("itemlist")) : nullptr;
}

QTreeView *MainWindowFixture::treeView() const
{
    return m_window ? m_window->findChild<QTreeView *>(QStringLiteral("treeView")) : nullptr;
}

bool MainWindowFixture::showFolder(int id)
{
    QTreeView *tree = treeView();
    if (!tree || !tree->model())
        return false;
    const QModelIndex index = findFolder(tree->model(), QModelIndex(), id);
    if (!index.isValid())
        return false;
    tree->setCurrentIndex(index);
    m_window->on_treeView_clicked(index);
    return true;
}

void MainWindowFixture::close()
{
    if (!m_window)
        return;
    // A job that asks before the window closes (an import) may still be finishing after the
    // test saw its outcome: let it end rather than meet a question no test will answer.
    if (!QTest::qWaitFor([] { return BackgroundWorker::askingBeforeClose().isEmpty(); },
                         60000)) {
        qWarning("A job was still running when the window closed; it is ended unasked");
        qApp->setProperty("AppDown", 1);
    }
    m_window->close();
    m_window.reset();
}

QString shape(const QAbstractItemModel *model, const QModelIndex &parent)
{
    QStringList parts;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        QString part = index.data().toString();
        if (model->rowCount(index) > 0)
            part += QStringLiteral(" [") + shape(model, index) + QLatin1Char(']');
        parts << part;
    }
    return parts.join(QStringLiteral(", "));
}

std::shared_ptr<QString> answerFolderEdit(const QString &name, bool confirm)
{
    auto shown = std::make_shared<QString>(QStringLiteral("(no dialog)"));
    QTimer::singleShot(0, [shown, name, confirm] {
        auto *dialog = qobject_cast<FolderEdit *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto *line = dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit"));
        *shown = line->text();
        line->setText(name);
        if (confirm)
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        else
            dialog->reject();
    });
    return shown;
}

int insertArticle(Database *db, const QMap<QString, QVariant> &columns)
{
    QMap<QString, QVariant> row {
        { QStringLiteral("Title"), QStringLiteral("Artikel") },
        { QStringLiteral("Folder"), -9 },
        { QStringLiteral("Trash"), 0 },
        { QStringLiteral("Account"), 1 },
        { QStringLiteral("Site"), 77 },
        { QStringLiteral("StartPrice"), 1.0 },
        { QStringLiteral("Currency"), QStringLiteral("EUR") },
        { QStringLiteral("Quantity"), 1 },
    };
    for (auto it = columns.cbegin(); it != columns.cend(); ++it)
        row.insert(it.key(), it.value());
    return db->insertSqlClean(row, QStringLiteral("articles"));
}

} // namespace TestSupport
