#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/folderedit.h"
#include "views/foldermodel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

using TestSupport::answerFolderEdit;
using TestSupport::Backend;
using TestSupport::MainWindowFixture;
using TestSupport::shape;
using TestSupport::TestDatabase;

namespace {
// Below "Artikelvorlagen": Elektro (1 article, stored open) with Kabel (3 articles and one
// deleted for good) and Akkus; "Neu\r\nes\tFach"; Werkzeug (stored closed) with Spaten (2).
struct Folders
{
    int werkzeug = 0, spaten = 0, elektro = 0, kabel = 0;
};

int addFolder(Database *db, const QString &name, int parent, int expand)
{
    return db->insertSqlClean({ { QStringLiteral("foldername"), name },
                                { QStringLiteral("folderparentid"), parent },
                                { QStringLiteral("expand"), expand },
                                { QStringLiteral("cat_ebay"), QString() } },
                              QStringLiteral("folders"));
}

// Also records every later UPDATE of table folders, even one that writes the stored value.
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

    const int articles[][3] = { { -9, 2, 0 },      { -7, 1, 1 },      { -2, 1, 0 },
                                { -5, 1, 0 },      { -10, 1, 0 },     { f.elektro, 1, 0 },
                                { f.kabel, 3, 0 }, { f.kabel, 1, 1 }, { f.spaten, 2, 0 } };
    for (const auto &a : articles) {
        for (int i = 0; i < a[1]; ++i)
            TestSupport::insertArticle(
                db, { { QStringLiteral("Folder"), a[0] }, { QStringLiteral("Trash"), a[2] } });
    }

    const bool watched
        = db->executeSQL(QStringLiteral("CREATE TABLE folder_writes (folder INTEGER)"))
        && db->executeSQL(
            QStringLiteral("CREATE TRIGGER folders_written AFTER UPDATE ON folders FOR EACH "
                           "ROW BEGIN INSERT INTO folder_writes (folder) VALUES (NEW.id); END"));
    if (!watched)
        QTest::qFail("The folder writes could not be watched", __FILE__, __LINE__);
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

int countIn(Database *db, const QString &condition)
{
    return db->selectOne(QStringLiteral("SELECT count(*) FROM ") + condition).value().toInt();
}

// The stored name and parent of folder `id`.
QString storedFolder(Database *db, int id)
{
    return db->selectOne(QStringLiteral("SELECT foldername FROM folders WHERE id=%1").arg(id))
               .value()
        + QLatin1Char('@')
        + db->selectOne(QStringLiteral("SELECT folderparentid FROM folders WHERE id=%1").arg(id))
              .value();
}

} // namespace

class TestFoldertree : public QObject
{
    Q_OBJECT

private:
    // Opens the context menu over `index` as a right click does; false when none opened.
    bool openContextMenu(MainWindowFixture &window, const QModelIndex &index)
    {
        QTreeView *tree = window.treeView();
        tree->setCurrentIndex(index);
        tree->scrollTo(index);
        auto shown = std::make_shared<int>(-1);
        QTimer::singleShot(0, [shown] {
            QWidget *popup = QApplication::activePopupWidget();
            *shown = popup ? 1 : 0;
            if (popup)
                popup->close();
        });
        window.window()->on_treeView_customContextMenuRequested(tree->visualRect(index).center());
        return QTest::qWaitFor([shown] { return *shown >= 0; }) && *shown == 1;
    }
    QAction *action(MainWindowFixture &window, const char *name)
    {
        return window.window()->findChild<QAction *>(QLatin1String(name));
    }
    // Chooses a command from the context menu over `index`, with answerFolderEdit's answer.
    std::shared_ptr<QString> choose(MainWindowFixture &window, int id, const char *name,
                                    const QString &folderName = QString(), bool confirm = true)
    {
        auto run = std::make_shared<QString>();
        [&] {
            QVERIFY(openContextMenu(window, findFolder(window.treeView()->model(), id)));
            QVERIFY(action(window, name)->isEnabled());
            if (!folderName.isNull())
                run = answerFolderEdit(folderName, confirm);
            action(window, name)->trigger();
        }();
        return run;
    }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void showsTheTreeAndStoresOpenState()
    {
        APP_TEST_DATABASE(data);
        const Folders f = seed(data);
        MainWindowFixture window(data);
        QTreeView *tree = window.treeView();
        const QAbstractItemModel *model = tree->model();

        const QModelIndex top = model->index(0, 0);
        // Counts leave out articles deleted for good; user folders by name at every level,
        // without line breaks and tabs.
        QCOMPARE(shape(model, QModelIndex()),
                 QStringLiteral(
                     "Zerire3 [Aktive Angebote (2), Verkauft, Nicht verkauft, Geplante Angebote, "
                     "Artikelausgang (1), Papierkorb (1), Artikelvorlagen (1) [Elektro "
                     "(1) [Akkus, Kabel (3)], NeuesFach, Werkzeug [Spaten (2)]]]"));
        QList<int> fixedIds;
        for (int row = 0; row < model->rowCount(top); ++row) {
            fixedIds << idOf(model->index(row, 0, top));
            QVERIFY(tree->isExpanded(model->index(row, 0, top)));
        }
        QCOMPARE(fixedIds, QList<int>({ -9, -7, -8, -3, -2, -5, -10 }));
        const auto weight = [&](int id) {
            return qvariant_cast<QFont>(findFolder(model, id).data(Qt::FontRole)).weight();
        };
        QCOMPARE(weight(-2), int(QFont::Bold));
        QCOMPARE(weight(-9), int(QFont::Normal));

        QCOMPARE(idOf(tree->currentIndex()), -9);

        // The stored open state comes back, and building the tree stored nothing; what the
        // user opens or closes is stored.
        QVERIFY(tree->isExpanded(findFolder(model, f.elektro)));
        QVERIFY(!tree->isExpanded(findFolder(model, f.werkzeug)));
        QCOMPARE(countIn(data.db(), QStringLiteral("folder_writes")), 0);
        tree->expand(findFolder(model, f.werkzeug));
        tree->collapse(findFolder(model, f.elektro));
        QCOMPARE(countIn(data.db(), QStringLiteral("folder_writes")), 2);
        QCOMPARE(
            data.db()
                ->selectOne(QStringLiteral("SELECT group_concat(id) FROM folders WHERE expand=1"))
                .value(),
            QString::number(f.werkzeug));
    }

    void folderEditTexts()
    {
        const auto texts = [](const FolderEdit &dialog) {
            return dialog.findChild<QLabel *>(QStringLiteral("headerLabel"))->text() + '|'
                + dialog.findChild<QLabel *>(QStringLiteral("textLabel"))->text();
        };
        FolderEdit rename(nullptr, QStringLiteral("Kabel"));
        QCOMPARE(texts(rename),
                 QStringLiteral("Ordner umbenennen|Geben Sie eine Bezeichnung für den Ordner ein"));
        FolderEdit dialog(nullptr, QString());
        QCOMPARE(texts(dialog),
                 QStringLiteral("Neuen Ordner anlegen|Geben Sie eine Bezeichnung "
                                "für den neuen Ordner ein"));
        // OK only with a name; the name comes back as typed, blanks included.
        QPushButton *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        QTest::keyClicks(dialog.findChild<QLineEdit *>(), QStringLiteral(" x"));
        QVERIFY(ok->isEnabled());
        QCOMPARE(dialog.GetFolderName(), QStringLiteral(" x"));
        dialog.findChild<QLineEdit *>()->clear();
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

        // Below a closed user folder: stored, shown in its sorted place below it (as the
        // next start shows it), and the folder opens.
        QCOMPARE(*choose(window, f.werkzeug, "actionNeuer_Ordner", QStringLiteral("Schrauben")),
                 QString());
        const QModelIndex werkzeug = findFolder(model, f.werkzeug);
        QCOMPARE(shape(model, werkzeug), QStringLiteral("Schrauben, Spaten (2)"));
        QCOMPARE(storedFolder(db, idOf(model->index(0, 0, werkzeug))),
                 QStringLiteral("Schrauben@%1").arg(f.werkzeug));
        QVERIFY(tree->isExpanded(werkzeug));

        // Directly below "Artikelvorlagen", a name that needs quoting.
        const QString hostile = QStringLiteral("O'Brien \\ Grüße 😀");
        choose(window, -10, "actionNeuer_Ordner", hostile);
        const QModelIndex drafts = findFolder(model, -10);
        const QModelIndex added = model->index(2, 0, drafts);
        QCOMPARE(added.data().toString(), hostile);
        QCOMPARE(storedFolder(db, idOf(added)), hostile + QStringLiteral("@-10"));

        // Cancelling changes nothing; renaming starts from the old name.
        const QString before = shape(model, QModelIndex());
        const int folderRows = countIn(db, QStringLiteral("folders"));
        QCOMPARE(*choose(window, f.kabel, "actionNeuer_Ordner", QStringLiteral("X"), false),
                 QString());
        QCOMPARE(*choose(window, f.kabel, "actionUmbenennen", QStringLiteral("X"), false),
                 QStringLiteral("Kabel"));
        QCOMPARE(shape(model, QModelIndex()), before);
        QCOMPARE(countIn(db, QStringLiteral("folders")), folderRows);
        QCOMPARE(countIn(db, QStringLiteral("folders WHERE foldername='Kabel'")), 1);

        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        const QString renamed = QStringLiteral("Kabel & Stecker's");
        choose(window, f.kabel, "actionUmbenennen", renamed);
        QCOMPARE(findFolder(model, f.kabel).data().toString(), renamed + QStringLiteral(" (3)"));
        QCOMPARE(storedFolder(db, f.kabel), renamed + QStringLiteral("@%1").arg(f.elektro));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), findFolder(model, f.kabel));

        QTRY_COMPARE(window.window()->findChildren<FolderEdit *>().size(), 0);
    }

    void contextMenuAndDelete()
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

        QStringList states;
        for (int id : { -5, -10, f.kabel, -9 }) {
            QVERIFY(openContextMenu(window, findFolder(model, id)));
            QString state;
            for (bool visible : { false, true }) {
                for (const char *name : { "actionNeuer_Ordner", "actionUmbenennen",
                                          "actionL_schen_2", "actionPapierkorb_leeren" }) {
                    QAction *a = action(window, name);
                    state += (visible ? a->isVisible() : a->isEnabled()) ? '1' : '0';
                }
                state += visible ? "" : " ";
            }
            states << state;
        }
        // Enabled, then visible: new folder, rename, delete, empty the trash.
        QCOMPARE(states, QStringList({ "0001 1111", "1000 1110", "1110 1110", "0000 1110" }));

        // A folder without subfolders gets the short question; no keeps everything.
        const QString before = shape(model, QModelIndex());
        answers.pushQuestion(false);
        choose(window, f.spaten, "actionL_schen_2");
        QCOMPARE(answers.questions().size(), 1);
        QCOMPARE(answers.questions().at(0).header, QStringLiteral("Löschen bestätigen"));
        QCOMPARE(answers.questions().at(0).text,
                 QStringLiteral("Soll der ausgewählte Ordner wirklich gelöscht werden? Enthaltene "
                                "Artikel werden in den Ordner \"Artikelvorlagen\" verschoben."));
        QCOMPARE(shape(model, QModelIndex()), before);
        QCOMPARE(countIn(db, QStringLiteral("folders")), 6);

        // A branch whose subfolder is shown: the longer question, the whole branch gone, its
        // articles (also those deleted for good) in "Artikelvorlagen", which is shown instead.
        QVERIFY(window.showFolder(f.kabel));
        answers.pushQuestion(true);
        choose(window, f.elektro, "actionL_schen_2");
        QCOMPARE(answers.questions().size(), 2);
        QCOMPARE(answers.questions().at(1).text,
                 QStringLiteral("Soll der ausgewählte Ordner samt Unterordnern wirklich gelöscht "
                                "werden? Enthaltene Artikel werden in den Ordner "
                                "\"Artikelvorlagen\" verschoben."));
        QCOMPARE(countIn(db, QStringLiteral("folders")), 3);
        QCOMPARE(countIn(db, QStringLiteral("articles WHERE Folder=-10")), 6);
        QCOMPARE(shape(model, findFolder(model, -10)),
                 QStringLiteral("NeuesFach, Werkzeug [Spaten (2)]"));
        QCOMPARE(findFolder(model, -10).data().toString(), QStringLiteral("Artikelvorlagen (5)"));
        QCOMPARE(idOf(tree->currentIndex()), -10);
        QCOMPARE(answers.messages().size(), 0);
    }

    // A folder of thousands of articles (on a shared database more than one statement moves):
    // deleted, every article is in "Artikelvorlagen" and the folder is gone; one article the
    // database won't move, in the last group, keeps the folder and every article where they
    // were, told once.
    void deletesLargeFolderWhole_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("stored") << false;
        QTest::newRow("last article refused") << true;
    }
    void deletesLargeFolderWhole()
    {
        QFETCH(bool, refused);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const int folder = addFolder(db, QStringLiteral("Lager"), -10, 0);
        QVERIFY(TestSupport::insertArticle(db, { { QStringLiteral("Folder"), folder } }) > 0);
        // 4,096 articles: two statements' worth and some.
        for (int i = 0; i < 12; ++i)
            QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO articles (Folder, Title, Trash) "
                                                  "SELECT Folder, Title, Trash FROM articles "
                                                  "WHERE Folder=%1")
                                       .arg(folder)));
        const int articles = countIn(db, QStringLiteral("articles WHERE Folder=%1").arg(folder));
        QCOMPARE(articles, 4096);
        if (refused) {
            QVERIFY(db->executeSQL(QStringLiteral("UPDATE articles SET Title='letzter' WHERE id=%1")
                                       .arg(db->selectOne("SELECT MAX(id) FROM articles").value())));
            QVERIFY(TestSupport::refuseRows(db, QStringLiteral("articles"),
                                            QStringLiteral("UPDATE"), QStringLiteral("nein"),
                                            QStringLiteral("NEW.Title = 'letzter'")));
        }
        MainWindowFixture window(data);
        QAbstractItemModel *model = window.treeView()->model();
        const int drafts = findFolder(model, -10).data(FolderModel::CountRole).toInt();
        DialogAnswers answers;

        answers.pushQuestion(true);
        choose(window, folder, "actionL_schen_2");

        QCOMPARE(countIn(db, QStringLiteral("folders WHERE id=%1").arg(folder)), refused ? 1 : 0);
        QCOMPARE(countIn(db, QStringLiteral("articles WHERE Folder=%1").arg(folder)),
                 refused ? articles : 0);
        QCOMPARE(findFolder(model, folder).isValid(), refused);
        QTRY_COMPARE(findFolder(model, -10).data(FolderModel::CountRole).toInt(),
                     drafts + (refused ? 0 : articles));
        QVERIFY(window.window()->isEnabled());
        QTRY_COMPARE(answers.messages().size(), refused ? 1 : 0);
        if (refused)
            QVERIFY2(answers.lastMessageText().contains(QStringLiteral("nein")),
                     qPrintable(answers.lastMessageText()));
    }

    // Two workstations on one shared database, B synchronising and listing: A's folder counts
    // follow what B wrote when A opens a folder, and at A's regular refresh of the counts.
    void countsFollowAnotherWorkstation()
    {
        QFETCH_GLOBAL(Backend, backend);
        if (backend == Backend::SQLite)
            QSKIP("Only a shared database has other workstations");
        APP_TEST_DATABASE(data);
        Database *b = data.db();
        for (int i = 0; i < 5; ++i)
            TestSupport::insertArticle(
                b, { { QStringLiteral("Folder"), -2 }, { QStringLiteral("FolderOld"), -10 } });
        TestSupport::writeMySqlSetup(data.dataDir(), TestSupport::MySqlServer::fromEnvironment(),
                                     data.mysqlDatabaseName(), true, false);
        MainWindowFixture a(data);
        const QAbstractItemModel *model = a.treeView()->model();
        const auto shown = [model](int id) {
            return findFolder(model, id).data().toString();
        };
        QCOMPARE(shown(-2), QStringLiteral("Artikelausgang (5)"));

        // B lists them: the listings in "Aktive Angebote", the copies back in the drafts.
        QVERIFY(b->executeSQL(QStringLiteral("INSERT INTO articles (Title, Folder, Trash) SELECT "
                                             "Title, -10, 0 FROM articles WHERE Folder=-2")));
        QVERIFY(b->executeSQL(QStringLiteral("UPDATE articles SET Folder=-9 WHERE Folder=-2")));
        QVERIFY(a.showFolder(-7));
        QTRY_COMPARE(shown(-2), QStringLiteral("Artikelausgang"));
        QCOMPARE(shown(-9), QStringLiteral("Aktive Angebote (5)"));
        QCOMPARE(shown(-10), QStringLiteral("Artikelvorlagen (5)"));
        QCOMPARE(qvariant_cast<QFont>(findFolder(model, -2).data(Qt::FontRole)).weight(),
                 int(QFont::Normal));

        // B's next round finds two of them sold; A clicks nothing.
        QVERIFY(b->executeSQL(QStringLiteral("UPDATE articles SET Folder=-7 WHERE Folder=-9 AND "
                                             "id IN (1, 2)")));
        auto *refresh = a.window()->findChild<QTimer *>(QStringLiteral("folderCountRefresh"));
        QVERIFY(refresh && refresh->isActive());
        QVERIFY(QMetaObject::invokeMethod(refresh, "timeout"));
        QTRY_COMPARE(shown(-9), QStringLiteral("Aktive Angebote (3)"));
        QCOMPARE(shown(-7), QStringLiteral("Verkauft (2)"));
    }

    // Any store starts, and the tree shows every folder and every article: folders nested far
    // deeper than the tree's levels (below its last level), very many side by side, and
    // folders whose parent is gone or that are caught in a cycle (below "Artikelvorlagen").
    // Each folder holds one article.
    void startsWithAnyStore_data()
    {
        QTest::addColumn<QString>("layout"); // chain or flat: `count` folders; else `folders`
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("folders"); // id:parent:name
        QTest::addColumn<QString>("shown"); // below "Artikelvorlagen"; empty: not compared
        QTest::addColumn<int>("deepest"); // level of the deepest folder shown
        QTest::addColumn<int>("seconds"); // the start takes less; 0: no limit
        QTest::newRow("17,000 levels") << "chain" << 17000 << QStringList() << QString() << 64 << 0;
        QTest::newRow("65 levels") << "chain" << 65 << QStringList() << QString() << 64 << 0;
        QTest::newRow("64 levels") << "chain" << 64 << QStringList() << QString() << 64 << 0;
        // Read before from one statement per folder and a scan of the counts per folder.
        QTest::newRow("100,000 side by side")
            << "flat" << 100000 << QStringList() << QString() << 1 << 20;
        QTest::newRow("parent gone")
            << "list" << 0 << QStringList { "1:-10:Keller", "2:999:Kiste", "3:2:Deckel" }
            << "Keller (1), Kiste (1) [Deckel (1)]" << 2 << 0;
        QTest::newRow("cycle, with a folder in it")
            << "list" << 0 << QStringList { "1:2:Keller", "2:1:Garten", "3:1:Spaten" }
            << "Garten (1) [Keller (1) [Spaten (1)]]" << 3 << 0;
    }
    void startsWithAnyStore()
    {
        QFETCH(QString, layout);
        QFETCH(int, count);
        QFETCH(QStringList, folders);
        QFETCH(QString, shown);
        QFETCH(int, deepest);
        QFETCH(int, seconds);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        if (layout != QLatin1String("list")) {
            for (int id = 1; id <= count; ++id) {
                const int parent = layout == QLatin1String("chain") && id > 1 ? id - 1 : -10;
                folders << QStringLiteral("%1:%2:Ordner %1").arg(id).arg(parent);
            }
        }
        QVERIFY(db->executeSQL("BEGIN"));
        constexpr int kBatch = 500;
        for (int first = 0; first < folders.size(); first += kBatch) {
            QStringList rows;
            QStringList articles;
            for (const QString &folder : folders.mid(first, kBatch)) {
                const QStringList parts = folder.split(':');
                rows << QStringLiteral("(%1, %2, '%3', 1)").arg(parts[0], parts[1], parts[2]);
                articles << QStringLiteral("('Artikel %1', %1, 0)").arg(parts[0]);
            }
            QVERIFY(db->executeSQL("INSERT INTO folders (id, folderparentid, foldername, expand) "
                                   "VALUES "
                                   + rows.join(',')));
            QVERIFY(db->executeSQL("INSERT INTO articles (Title, Folder, Trash) VALUES "
                                   + articles.join(',')));
        }
        QVERIFY(db->executeSQL("COMMIT"));

        QElapsedTimer timer;
        timer.start();
        MainWindowFixture window(data);
        const qint64 elapsed = timer.elapsed();
        if (seconds > 0)
            QVERIFY2(elapsed < seconds * 1000, qPrintable(QString::number(elapsed)));
        const QAbstractItemModel *model = window.treeView()->model();
        const QModelIndex drafts = findFolder(model, -10);
        if (!shown.isEmpty())
            QCOMPARE(TestSupport::shape(model, drafts), shown);

        // Every folder once, every article counted once; no level deeper than the deepest.
        QSet<int> ids;
        int articles = 0;
        int levels = 0;
        QList<QPair<QModelIndex, int>> pending { { drafts, 0 } };
        while (!pending.isEmpty()) {
            const auto [parent, level] = pending.takeLast();
            levels = qMax(levels, level);
            for (int row = 0; row < model->rowCount(parent); ++row) {
                const QModelIndex index = model->index(row, 0, parent);
                ids.insert(idOf(index));
                articles += index.data(FolderModel::CountRole).toInt();
                pending.append({ index, level + 1 });
            }
        }
        QCOMPARE(ids.size(), folders.size());
        QCOMPARE(articles, folders.size());
        QCOMPARE(levels, deepest);
    }

    // Clicking folders while the options can't be read (as during an outage) writes
    // no sort order: no change is reported as failed, and the seller's stored order stays.
    void unreadableSortOrderIsNotWritten()
    {
        APP_TEST_DATABASE(data);
        seed(data);
        Database *db = data.db();
        QVERIFY(db->setOption(QStringLiteral("lastOrder"), QStringLiteral("Title DESC")));
        DialogAnswers answers;
        MainWindowFixture window(data);
        QCOMPARE(window.itemList()->topLevelItemCount(), 2);

        QVERIFY(db->executeSQL(QStringLiteral("ALTER TABLE options RENAME TO options_away")));
        {
            TestSupport::MessageCapture log({ QStringLiteral("app.db") });
            QVERIFY(window.showFolder(-10));
            QVERIFY(window.showFolder(-9));
            // A failed change would be told from the event loop.
            QCoreApplication::processEvents();
        }
        QCOMPARE(window.itemList()->topLevelItemCount(), 2);
        QCOMPARE(answers.messages().size(), 0);
        QVERIFY(db->executeSQL(QStringLiteral("ALTER TABLE options_away RENAME TO options")));
        QCOMPARE(db->getOption(QStringLiteral("lastOrder"), QString()).value(),
                 QStringLiteral("Title DESC"));
    }
};

APP_TEST_MAIN(TestFoldertree)
#include "test_foldertree.moc"
