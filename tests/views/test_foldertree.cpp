#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/folderedit.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDialogButtonBox>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <functional>
#include <memory>

using TestSupport::Backend;
using TestSupport::insertArticle;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {
const QString kFolderIcon = QStringLiteral(":/buttons/images/folder.png");
const QString kShortQuestion = QStringLiteral(
    "Soll der ausgewählte Ordner wirklich gelöscht werden? Enthaltene Artikel werden in den "
    "Ordner \"Artikelvorlagen\" verschoben.");
const QString kLongQuestion = QStringLiteral(
    "Soll der ausgewählte Ordner samt Unterordnern wirklich gelöscht werden? Enthaltene Artikel "
    "werden in den Ordner \"Artikelvorlagen\" verschoben.");

// The user folders every test starts with, below "Artikelvorlagen":
//   Elektro (1 article, stored open) with Kabel (3 articles and one deleted for good) and
//   Akkus; "Neu\r\nes\tFach" (no articles); Werkzeug (stored closed) with Spaten (2).
struct Folders
{
    int werkzeug = 0;
    int spaten = 0;
    int elektro = 0;
    int kabel = 0;
};

int addFolder(Database *db, const QString &name, int parent, int expand)
{
    return db->insertSqlClean({ { QStringLiteral("foldername"), name },
                                { QStringLiteral("folderparentid"), parent },
                                { QStringLiteral("expand"), expand },
                                { QStringLiteral("cat_ebay"), QString() } },
                              QStringLiteral("folders"));
}

void addArticles(Database *db, int folder, int count, int trash = 0)
{
    for (int i = 0; i < count; ++i)
        insertArticle(db,
                      { { QStringLiteral("Folder"), folder }, { QStringLiteral("Trash"), trash } });
}

// Fills the database and records every later UPDATE of table folders (even one that writes
// the value already stored) in table folder_writes.
Folders seed(TestDatabase &data)
{
    Database *db = data.db();
    Folders f;
    f.werkzeug = addFolder(db, QStringLiteral("Werkzeug"), -10, 0);
    f.spaten = addFolder(db, QStringLiteral("Spaten"), f.werkzeug, 0);
    f.elektro = addFolder(db, QStringLiteral("Elektro"), -10, 1);
    f.kabel = addFolder(db, QStringLiteral("Kabel"), f.elektro, 0);
    addFolder(db, QStringLiteral("Akkus"), f.elektro, 0);
    addFolder(db, QStringLiteral("Neu\r\nes\tFach"), -10, 0);

    addArticles(db, -9, 2);
    addArticles(db, -7, 1, 1);
    addArticles(db, -2, 1);
    addArticles(db, -5, 1);
    addArticles(db, -10, 1);
    addArticles(db, f.elektro, 1);
    addArticles(db, f.kabel, 3);
    addArticles(db, f.kabel, 1, 1);
    addArticles(db, f.spaten, 2);

    db->executeSQL(QStringLiteral("CREATE TABLE folder_writes (folder INTEGER)"));
    db->executeSQL(data.backend() == Backend::MySQL
                       ? QStringLiteral("CREATE TRIGGER folders_written AFTER UPDATE ON folders "
                                        "FOR EACH ROW INSERT INTO folder_writes (folder) "
                                        "VALUES (NEW.id)")
                       : QStringLiteral("CREATE TRIGGER folders_written AFTER UPDATE ON folders "
                                        "BEGIN INSERT INTO folder_writes (folder) VALUES "
                                        "(NEW.id); END"));
    return f;
}

QModelIndex findFolder(const QAbstractItemModel *model, int id,
                       const QModelIndex &parent = QModelIndex())
{
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        if (index.data(Qt::UserRole).toString() == QString::number(id))
            return index;
        const QModelIndex below = findFolder(model, id, index);
        if (below.isValid())
            return below;
    }
    return QModelIndex();
}

int idOf(const QModelIndex &index)
{
    return index.data(Qt::UserRole).toString().toInt();
}

// The shown texts of the folders below `parent`, with their subfolders in brackets.
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

QImage iconImage(const QVariant &icon)
{
    return qvariant_cast<QIcon>(icon).pixmap(16, 16).toImage();
}

QList<int> writtenFolders(Database *db)
{
    QList<int> ids;
    for (const auto &row : db->select(QStringLiteral("SELECT folder FROM folder_writes")))
        ids << row.value(QStringLiteral("folder")).toInt();
    return ids;
}

int expandOf(Database *db, int id)
{
    return db
        ->selectOne(QStringLiteral("SELECT expand FROM folders WHERE id=") + QString::number(id))
        .toInt();
}

int countIn(Database *db, const QString &condition)
{
    return db->selectOne(QStringLiteral("SELECT count(*) FROM ") + condition).toInt();
}

// What the FolderEdit dialog of a command showed, and how it was answered.
struct EditRun
{
    bool shown = false;
    bool windowModal = false;
    QString header;
    QString text;
    QString initialName;
    bool okEnabledAtStart = false;
};

// Answers the next FolderEdit: types `name` and confirms, or cancels when `confirm` is
// false. Queue it right before the command.
std::shared_ptr<EditRun> answerFolderEdit(const QString &name, bool confirm)
{
    auto run = std::make_shared<EditRun>();
    QTimer::singleShot(0, [run, name, confirm] {
        FolderEdit *dialog = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && qobject_cast<FolderEdit *>(widget))
                dialog = qobject_cast<FolderEdit *>(widget);
        }
        if (!dialog)
            return;
        run->shown = true;
        run->windowModal = QApplication::activeModalWidget() == dialog
            && dialog->windowModality() == Qt::WindowModal;
        run->header = dialog->findChild<QLabel *>(QStringLiteral("headerLabel"))->text();
        run->text = dialog->findChild<QLabel *>(QStringLiteral("textLabel"))->text();
        auto *line = dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit"));
        QPushButton *ok = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                              ->button(QDialogButtonBox::Ok);
        run->initialName = line->text();
        run->okEnabledAtStart = ok->isEnabled();
        line->setText(name);
        if (confirm && ok->isEnabled())
            ok->click();
        else
            dialog->reject();
    });
    return run;
}
} // namespace

class TestFoldertree : public QObject
{
    Q_OBJECT

private:
    // One window for every row of the menu test on a backend; the menu changes nothing.
    struct MenuWindow
    {
        explicit MenuWindow(Backend backend)
            : data(backend)
            , folders(data.error().isEmpty() ? seed(data) : Folders())
            , window(data)
        { }
        TestDatabase data;
        Folders folders;
        MainWindowFixture window;
    };
    std::unique_ptr<MenuWindow> m_menu;

    // Opens the context menu over `index` as a right click does (the click makes the folder
    // current), closes it again and returns whether it was shown.
    bool openContextMenu(MainWindowFixture &window, const QModelIndex &index)
    {
        QTreeView *tree = window.treeView();
        tree->setCurrentIndex(index);
        tree->scrollTo(index);
        return openContextMenuAt(window, tree->visualRect(index).center());
    }
    bool openContextMenuAt(MainWindowFixture &window, const QPoint &pos)
    {
        auto shown = std::make_shared<bool>(false);
        auto fired = std::make_shared<bool>(false);
        QTimer::singleShot(0, [shown, fired] {
            *fired = true;
            if (QWidget *popup = QApplication::activePopupWidget()) {
                *shown = true;
                popup->close();
            }
        });
        window.window()->on_treeView_customContextMenuRequested(pos);
        [&] {
            QTRY_VERIFY(*fired);
        }();
        return *shown;
    }
    QAction *action(MainWindowFixture &window, const char *name)
    {
        return window.window()->findChild<QAction *>(QLatin1String(name));
    }
    // Chooses a command from the context menu over `index`; `answer` queues the answers to
    // the command's dialogs once the menu is closed.
    void choose(MainWindowFixture &window, const QModelIndex &index, const char *name,
                const std::function<void()> &answer = {})
    {
        QVERIFY(openContextMenu(window, index));
        QAction *command = action(window, name);
        QVERIFY(command && command->isEnabled());
        if (answer)
            answer();
        command->trigger();
    }
    // Chooses a command that opens FolderEdit, answered as answerFolderEdit() does.
    std::shared_ptr<EditRun> chooseWithName(MainWindowFixture &window, const QModelIndex &index,
                                            const char *name, const QString &folderName,
                                            bool confirm)
    {
        std::shared_ptr<EditRun> run;
        choose(window, index, name, [&] { run = answerFolderEdit(folderName, confirm); });
        if (!run)
            run = std::make_shared<EditRun>();
        return run;
    }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init()
    {
        // Only one main window at a time: they share the application's properties.
        if (qstrcmp(QTest::currentTestFunction(), "contextMenu") != 0)
            m_menu.reset();
    }
    void cleanupTestCase() { m_menu.reset(); }

    void showsTheTreeAtStart()
    {
        APP_TEST_DATABASE(data);
        const Folders f = seed(data);
        MainWindowFixture window(data);
        QTreeView *tree = window.treeView();
        const QAbstractItemModel *model = tree->model();
        QVERIFY(model);

        QCOMPARE(model->rowCount(), 1);
        const QModelIndex top = model->index(0, 0);
        QCOMPARE(idOf(top), 0);
        QCOMPARE(top.data().toString(), QStringLiteral("Zerire3"));
        QCOMPARE(iconImage(top.data(Qt::DecorationRole)),
                 iconImage(QIcon(QStringLiteral(":/buttons/images/q3_64x64px.png"))));

        // Fixed folders in order; counts leave out articles deleted for good.
        const QList<QPair<int, QString>> fixed {
            { -9, QStringLiteral("Aktive Angebote (2)|ebaybag.png") },
            { -7, QStringLiteral("Verkauft|price-tag.png") },
            { -8, QStringLiteral("Nicht verkauft|Important Archive-Flat-62.png") },
            { -3, QStringLiteral("Geplante Angebote|Calendar-Flat-33.png") },
            { -2, QStringLiteral("Artikelausgang (1)|TimeTracking-Flat-150.png") },
            { -5, QStringLiteral("Papierkorb (1)|trash.png") },
            { -10, QStringLiteral("Artikelvorlagen (1)|folder.png") },
        };
        QCOMPARE(model->rowCount(top), fixed.size());
        for (int row = 0; row < fixed.size(); ++row) {
            const QModelIndex index = model->index(row, 0, top);
            const QStringList expected = fixed.at(row).second.split(QLatin1Char('|'));
            QCOMPARE(idOf(index), fixed.at(row).first);
            QCOMPARE(index.data().toString(), expected.at(0));
            QCOMPARE(iconImage(index.data(Qt::DecorationRole)),
                     iconImage(QIcon(QStringLiteral(":/buttons/images/") + expected.at(1))));
            QVERIFY2(tree->isExpanded(index), qPrintable(expected.at(0)));
        }
        QVERIFY(tree->isExpanded(top));
        const auto weight = [&](int id) {
            return qvariant_cast<QFont>(findFolder(model, id).data(Qt::FontRole)).weight();
        };
        QCOMPARE(weight(-2), int(QFont::Bold));
        QCOMPARE(weight(-9), int(QFont::Normal));

        // User folders by name at every level, line breaks and tabs left out of the name.
        const QModelIndex drafts = findFolder(model, -10);
        QCOMPARE(
            shape(model, drafts),
            QStringLiteral("Elektro (1) [Akkus, Kabel (3)], NeuesFach, Werkzeug [Spaten (2)]"));
        QCOMPARE(iconImage(findFolder(model, f.kabel).data(Qt::DecorationRole)),
                 iconImage(QIcon(kFolderIcon)));
        QVERIFY(findFolder(model, f.kabel).flags() & Qt::ItemIsDragEnabled);

        // The folder stored open is open again, the closed one stays closed, and building
        // the tree stored nothing.
        QVERIFY(tree->isExpanded(findFolder(model, f.elektro)));
        QVERIFY(!tree->isExpanded(findFolder(model, f.werkzeug)));
        QCOMPARE(writtenFolders(data.db()), QList<int>());

        QCOMPARE(idOf(tree->currentIndex()), -9);
    }

    void storesOpenStateOfUserFolders()
    {
        APP_TEST_DATABASE(data);
        const Folders f = seed(data);
        MainWindowFixture window(data);
        QTreeView *tree = window.treeView();
        const QAbstractItemModel *model = tree->model();

        tree->expand(findFolder(model, f.werkzeug));
        QCOMPARE(expandOf(data.db(), f.werkzeug), 1);
        tree->collapse(findFolder(model, f.elektro));
        QCOMPARE(expandOf(data.db(), f.elektro), 0);
        tree->expand(findFolder(model, f.elektro));
        QCOMPARE(expandOf(data.db(), f.elektro), 1);

        // Fixed folders and the top node have no row to write.
        for (int id : { -9, -10, 0 }) {
            tree->collapse(findFolder(model, id));
            tree->expand(findFolder(model, id));
        }
        QCOMPARE(writtenFolders(data.db()), QList<int>({ f.werkzeug, f.elektro, f.elektro }));
        QCOMPARE(expandOf(data.db(), f.kabel), 0);
    }

    void contextMenu_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("newFolder");
        QTest::addColumn<bool>("rename");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<bool>("emptyTrash");
        QTest::newRow("Papierkorb") << "-5" << false << false << false << true;
        QTest::newRow("Artikelvorlagen") << "-10" << true << false << false << false;
        QTest::newRow("user folder") << "kabel" << true << true << true << false;
        QTest::newRow("fixed folder") << "-9" << false << false << false << false;
        QTest::newRow("top node") << "0" << false << false << false << false;
    }
    void contextMenu()
    {
        QFETCH(QString, folder);
        QFETCH(bool, newFolder);
        QFETCH(bool, rename);
        QFETCH(bool, remove);
        QFETCH(bool, emptyTrash);
        const Backend backend
            = *static_cast<Backend *>(QTest::qGlobalData("backend", ::qMetaTypeId<Backend>()));
        APP_REQUIRE_BACKEND(backend);
        if (!m_menu || m_menu->data.backend() != backend) {
            m_menu.reset();
            m_menu = std::make_unique<MenuWindow>(backend);
        }
        QVERIFY2(m_menu->data.error().isEmpty(), qPrintable(m_menu->data.error()));
        MainWindowFixture &window = m_menu->window;
        const QAbstractItemModel *model = window.treeView()->model();
        const int id = folder == QLatin1String("kabel") ? m_menu->folders.kabel : folder.toInt();

        QVERIFY(openContextMenu(window, findFolder(model, id)));
        QCOMPARE(action(window, "actionNeuer_Ordner")->isEnabled(), newFolder);
        QCOMPARE(action(window, "actionUmbenennen")->isEnabled(), rename);
        QCOMPARE(action(window, "actionL_schen_2")->isEnabled(), remove);
        QCOMPARE(action(window, "actionPapierkorb_leeren")->isEnabled(), emptyTrash);
        QCOMPARE(action(window, "actionPapierkorb_leeren")->isVisible(), emptyTrash);
        for (const char *name : { "actionNeuer_Ordner", "actionUmbenennen", "actionL_schen_2" })
            QVERIFY2(action(window, name)->isVisible(), name);

        // Below the last folder there is no menu, and the commands keep their state.
        QTreeView *tree = window.treeView();
        const QPoint empty(5, tree->viewport()->height() - 2);
        QVERIFY(!tree->indexAt(empty).isValid());
        QVERIFY(!openContextMenuAt(window, empty));
        QCOMPARE(action(window, "actionL_schen_2")->isEnabled(), remove);
    }

    void folderEditTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("text");
        QTest::newRow("new") << QString() << "Neuen Ordner anlegen"
                             << "Geben Sie eine Bezeichnung für den neuen Ordner ein";
        QTest::newRow("rename") << "Kabel"
                                << "Ordner umbenennen"
                                << "Geben Sie eine Bezeichnung für den Ordner ein";
    }
    void folderEditTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, header);
        QFETCH(QString, text);
        FolderEdit dialog(nullptr, name);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("headerLabel"))->text(), header);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("textLabel"))->text(), text);
        auto *line = dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit"));
        QPushButton *ok = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                              ->button(QDialogButtonBox::Ok);
        QCOMPARE(line->text(), name);
        QCOMPARE(ok->isEnabled(), !name.isEmpty());

        // OK only with a name; the name comes back as typed, blanks included.
        line->clear();
        QVERIFY(!ok->isEnabled());
        QTest::keyClicks(line, QStringLiteral(" x"));
        QVERIFY(ok->isEnabled());
        QCOMPARE(dialog.GetFolderName(), QStringLiteral(" x"));
        QTest::keyClick(line, Qt::Key_Backspace);
        QTest::keyClick(line, Qt::Key_Backspace);
        QVERIFY(!ok->isEnabled());
    }

    void newAndRenameFolders()
    {
        APP_TEST_DATABASE(data);
        const Folders f = seed(data);
        MainWindowFixture window(data);
        QTreeView *tree = window.treeView();
        QAbstractItemModel *model = tree->model();
        QAbstractItemModelTester tester(model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        Database *db = data.db();

        // Below a closed user folder: stored, shown last below it, and the folder opens.
        auto run = chooseWithName(window, findFolder(model, f.werkzeug), "actionNeuer_Ordner",
                                  QStringLiteral("Schrauben"), true);
        QVERIFY(run->shown);
        QVERIFY(run->windowModal);
        QCOMPARE(run->header, QStringLiteral("Neuen Ordner anlegen"));
        QCOMPARE(run->initialName, QString());
        QVERIFY(!run->okEnabledAtStart);
        const SqlRows added = db->select(
            QStringLiteral("SELECT id, folderparentid FROM folders WHERE foldername='Schrauben'"));
        QCOMPARE(added.size(), 1);
        QCOMPARE(added.at(0).value(QStringLiteral("folderparentid")).toInt(), f.werkzeug);
        const int schrauben = added.at(0).value(QStringLiteral("id")).toInt();
        const QModelIndex werkzeug = findFolder(model, f.werkzeug);
        QCOMPARE(shape(model, werkzeug), QStringLiteral("Spaten (2), Schrauben"));
        QCOMPARE(findFolder(model, schrauben).parent(), werkzeug);
        QVERIFY(tree->isExpanded(werkzeug));
        QCOMPARE(expandOf(db, f.werkzeug), 1);

        // Directly below "Artikelvorlagen", a name that needs quoting.
        const QString hostile = QStringLiteral("O'Brien \\ Grüße 😀");
        run = chooseWithName(window, findFolder(model, -10), "actionNeuer_Ordner", hostile, true);
        QVERIFY(run->shown);
        const QModelIndex drafts = findFolder(model, -10);
        const QModelIndex last = model->index(model->rowCount(drafts) - 1, 0, drafts);
        QCOMPARE(last.data().toString(), hostile);
        QCOMPARE(
            db->selectOne(
                QStringLiteral("SELECT foldername FROM folders WHERE folderparentid=-10 AND id=")
                + QString::number(idOf(last))),
            hostile);

        // Cancelling changes nothing.
        const QString before = shape(model, QModelIndex());
        const int folderRows = countIn(db, QStringLiteral("folders"));
        run = chooseWithName(window, findFolder(model, f.kabel), "actionNeuer_Ordner",
                             QStringLiteral("Verworfen"), false);
        QVERIFY(run->shown);
        run = chooseWithName(window, findFolder(model, f.kabel), "actionUmbenennen",
                             QStringLiteral("Verworfen"), false);
        QVERIFY(run->shown);
        QCOMPARE(shape(model, QModelIndex()), before);
        QCOMPARE(countIn(db, QStringLiteral("folders")), folderRows);
        QCOMPARE(countIn(db, QStringLiteral("folders WHERE foldername='Kabel'")), 1);

        // Renaming shows the old name and keeps the count; the tree is told.
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        run = chooseWithName(window, findFolder(model, f.kabel), "actionUmbenennen",
                             QStringLiteral("Kabel & Stecker's"), true);
        QCOMPARE(run->header, QStringLiteral("Ordner umbenennen"));
        QCOMPARE(run->text, QStringLiteral("Geben Sie eine Bezeichnung für den Ordner ein"));
        QCOMPARE(run->initialName, QStringLiteral("Kabel"));
        QVERIFY(run->okEnabledAtStart);
        QCOMPARE(findFolder(model, f.kabel).data().toString(),
                 QStringLiteral("Kabel & Stecker's (3)"));
        QCOMPARE(db->selectOne(QStringLiteral("SELECT foldername FROM folders WHERE id=")
                               + QString::number(f.kabel)),
                 QStringLiteral("Kabel & Stecker's"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), findFolder(model, f.kabel));

        // Every dialog is released again.
        QTRY_COMPARE(window.window()->findChildren<FolderEdit *>().size(), 0);
    }

    void deleteFolders()
    {
        APP_TEST_DATABASE(data);
        const Folders f = seed(data);
        MainWindowFixture window(data);
        QTreeView *tree = window.treeView();
        QAbstractItemModel *model = tree->model();
        QAbstractItemModelTester tester(model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        Database *db = data.db();
        DialogAnswers answers;
        const auto articlesIn = [db](int folder) {
            return countIn(db, QStringLiteral("articles WHERE Folder=") + QString::number(folder));
        };

        // Saying no keeps everything.
        const QString before = shape(model, QModelIndex());
        answers.pushQuestion(false);
        choose(window, findFolder(model, f.spaten), "actionL_schen_2");
        QCOMPARE(answers.questions().size(), 1);
        QCOMPARE(answers.questions().at(0).header, QStringLiteral("Löschen bestätigen"));
        QCOMPARE(answers.questions().at(0).text, kShortQuestion);
        QCOMPARE(shape(model, QModelIndex()), before);
        QCOMPARE(countIn(db, QStringLiteral("folders")), 6);
        QCOMPARE(articlesIn(f.spaten), 2);

        // A folder without subfolders; the list shows another folder, which the tree marks
        // again afterwards.
        answers.pushQuestion(true);
        choose(window, findFolder(model, f.spaten), "actionL_schen_2");
        QCOMPARE(answers.questions().size(), 2);
        QCOMPARE(answers.questions().at(1).text, kShortQuestion);
        QVERIFY(!findFolder(model, f.spaten).isValid());
        QCOMPARE(countIn(db, QStringLiteral("folders")), 5);
        QCOMPARE(articlesIn(f.spaten), 0);
        QCOMPARE(articlesIn(-10), 3);
        QCOMPARE(findFolder(model, -10).data().toString(), QStringLiteral("Artikelvorlagen (3)"));
        QCOMPARE(idOf(tree->currentIndex()), -9);

        // A branch whose subfolder is shown: the longer question, every folder of the branch
        // gone, its articles (also those deleted for good) in "Artikelvorlagen", which is
        // shown instead.
        QVERIFY(window.showFolder(f.kabel));
        answers.pushQuestion(true);
        choose(window, findFolder(model, f.elektro), "actionL_schen_2");
        QCOMPARE(answers.questions().size(), 3);
        QCOMPARE(answers.questions().at(2).text, kLongQuestion);
        QCOMPARE(countIn(db, QStringLiteral("folders")), 2); // Werkzeug and NeuesFach
        QCOMPARE(articlesIn(f.elektro) + articlesIn(f.kabel), 0);
        QCOMPARE(articlesIn(-10), 8);
        QCOMPARE(countIn(db, QStringLiteral("articles WHERE Folder=-10 AND Trash=0")), 7);
        QCOMPARE(shape(model, findFolder(model, -10)), QStringLiteral("NeuesFach, Werkzeug"));
        QCOMPARE(findFolder(model, -10).data().toString(), QStringLiteral("Artikelvorlagen (7)"));
        QCOMPARE(idOf(tree->currentIndex()), -10);
        QCOMPARE(answers.messages().size(), 0);
    }
};

APP_TEST_MAIN(TestFoldertree)
#include "test_foldertree.moc"
