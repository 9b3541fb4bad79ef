// The main window at 1024 x 768 with long folder names: each name is cut short, never its
// count, and read whole in the tooltip; in "Papierkorb" the toolbar shows every button.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldertreedelegate.h"

#include <QAction>
#include <QStyle>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

using TestSupport::insertArticle;

class TestFolderTreeDelegate : public QObject
{
    Q_OBJECT

private slots:
    void at1024x768();
};

void TestFolderTreeDelegate::at1024x768()
{
    TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database *db = data.db();
    const QList<QPair<QString, int>> folders {
        { "Eisenbahn-Sammlung Märklin H0 aus dem Nachlass von Großvater Heinrich", 3 },
        { "Winterkleidung für Kinder, Größen 98 bis 140, Sommer 2024 bis Herbst 2025", 12 },
        { "<b>Fett</b> &amp; Co. mit einem Namen, der nicht in die Spalte passt", 1 },
        { "Kurz", 2 },
    };
    for (const auto &folder : folders) {
        const int id = db->insertSqlClean(
            { { "foldername", folder.first }, { "folderparentid", -10 } }, "folders");
        for (int i = 0; i < folder.second; ++i)
            insertArticle(db, { { "Folder", id } });
    }
    for (int i = 0; i < 4; ++i)
        insertArticle(db, { { "Folder", -5 } });

    TestSupport::MainWindowFixture fixture(data);
    MainWindow *window = fixture.window();
    window->setGeometry(0, 0, 1024, 768);
    QTRY_COMPARE(window->width(), 1024);
    QTreeView *tree = fixture.treeView();
    auto *delegate = qobject_cast<FolderTreeDelegate *>(tree->itemDelegate());
    QVERIFY(delegate);

    const QAbstractItemModel *model = tree->model();
    const QModelIndex drafts = TestSupport::folderIndexOf(model, -10);
    QCOMPARE(model->rowCount(drafts), folders.size());
    for (int row = 0; row < model->rowCount(drafts); ++row) {
        const QModelIndex index = model->index(row, 0, drafts);
        const QString name = index.data(FolderModel::NameRole).toString();
        const QString count
            = QStringLiteral(" (%1)").arg(index.data(FolderModel::CountRole).toInt());

        // The row as the tree paints it.
        QStyleOptionViewItem option;
        option.initFrom(tree);
        option.widget = tree;
        option.rect = tree->visualRect(index);
        option.font = tree->font();
        const int icon = tree->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, tree);
        option.decorationSize = tree->iconSize().isValid() ? tree->iconSize() : QSize(icon, icon);
        option.features |= QStyleOptionViewItem::HasDisplay;
        QVERIFY(option.rect.right() <= tree->viewport()->width());
        const QString shown = delegate->shownText(option, index);
        QVERIFY2(shown.endsWith(count), qPrintable(shown));
        // Beside the icon, within the row.
        const QFontMetrics metrics(option.font);
        const int room = option.rect.width() - option.decorationSize.width();
        QVERIFY2(metrics.horizontalAdvance(shown) < room, qPrintable(shown));
        if (name == QLatin1String("Kurz")) {
            QCOMPARE(shown, name + count);
        } else {
            QVERIFY2(shown.startsWith(name.left(6)) && shown.contains(QChar(0x2026)),
                     qPrintable(shown));
        }

        // The whole name, markup shown as typed.
        QTextDocument tip;
        tip.setHtml(index.data(Qt::ToolTipRole).toString());
        QCOMPARE(tip.toPlainText(), name);
    }

    // The trash gives the buttons their longest texts, and the time of the next
    // synchronisation stands beside "Synchronisieren": none goes behind the "»" button.
    QVERIFY(fixture.showFolder(-5));
    window->setNextSync(QStringLiteral("23:58"));
    QCOMPARE(window->findChild<QAction *>(QStringLiteral("actionSynchronisieren"))->text(),
             QStringLiteral("Synchronisieren (23:58)"));
    auto *toolBar = window->findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QCOMPARE(toolBar->width(), 1024);
    // The new texts laid out.
    for (int round = 0; round < 3; ++round)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    auto *more = toolBar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
    QVERIFY(more);
    QVERIFY(!more->isVisible());
    for (QAction *action : toolBar->actions()) {
        if (action->isSeparator())
            continue;
        QWidget *button = toolBar->widgetForAction(action);
        QVERIFY2(button && button->isVisible()
                     && button->geometry().right() < toolBar->contentsRect().right(),
                 qPrintable(action->text()));
    }
    QCOMPARE(window->findChild<QAction *>(QStringLiteral("actionL_schen"))->text(),
             QStringLiteral("Endgültig löschen"));
    fixture.close();
}

APP_TEST_MAIN(TestFolderTreeDelegate)
#include "test_foldertreedelegate.moc"
