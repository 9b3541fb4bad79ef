#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/pausewatch.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QAbstractItemModelTester>
#include <QDataStream>
#include <QHash>
#include <QMimeData>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

using TestSupport::MainWindowFixture;
using TestSupport::shape;
using TestSupport::TableSnapshot;
using TestSupport::TestDatabase;

namespace {
// Writes more than the category when pasted into an UPDATE unquoted.
const QString kQuotedCategory = QStringLiteral("Kat', Title='x");
// Seeded for the running listing; its copy keeps the title, takes the folder's category
// and starts afresh in the rest.
const QStringList kListingColumns
    = QStringLiteral("Title,ItemID,WatchCount,BidCount,QuestionCount,HighBidder,SoldCount,"
                     "HasError,LastError,Planned,Planned_Interval,StartDate,EndDate,"
                     "PrimaryCategory")
          .split(QLatin1Char(','));

// Below "Artikelvorlagen": Elektro (category 12345) with Kabel; Werkzeug with Spaten;
// Zubehör (category kQuotedCategory). Articles by name: "aktiv" running (-9), d1 and d2 in
// "Artikelvorlagen", w1 in Werkzeug, s1 and s2 in Spaten, o1 in the outbox, p1 scheduled.
struct Seed
{
    QHash<QString, int> ids;
    // Folder or article id by name; a name that is a number is that id.
    int operator[](const QString &name) const
    {
        return ids.contains(name) ? ids.value(name) : name.toInt();
    }
    // `text` with every name replaced by its id.
    QString resolve(QString text) const
    {
        for (auto it = ids.cbegin(); it != ids.cend(); ++it)
            text.replace(it.key(), QString::number(it.value()));
        return text;
    }
};

Seed seed(Database *db)
{
    Seed s;
    auto folder = [&](const char *name, const QString &parent, const QString &category) {
        s.ids[QString::fromUtf8(name)]
            = db->insertSqlClean({ { QStringLiteral("foldername"), QString::fromUtf8(name) },
                                   { QStringLiteral("folderparentid"), s[parent] },
                                   { QStringLiteral("expand"), 1 },
                                   { QStringLiteral("cat_ebay"), category } },
                                 QStringLiteral("folders"));
    };
    folder("Elektro", QStringLiteral("-10"), QStringLiteral("12345"));
    folder("Kabel", QStringLiteral("Elektro"), QString());
    folder("Werkzeug", QStringLiteral("-10"), QString());
    folder("Spaten", QStringLiteral("Werkzeug"), QString());
    folder("Zubehör", QStringLiteral("-10"), kQuotedCategory);

    const char *articles[][2]
        = { { "d1", "-10" },    { "d2", "-10" }, { "w1", "Werkzeug" }, { "s1", "Spaten" },
            { "s2", "Spaten" }, { "o1", "-2" },  { "p1", "-3" } };
    for (const auto &a : articles) {
        s.ids[QLatin1String(a[0])] = TestSupport::insertArticle(
            db,
            { { QStringLiteral("Folder"), s[QLatin1String(a[1])] },
              { QStringLiteral("PrimaryCategory"), QStringLiteral("999") } });
    }
    ArticleRow listing;
    const QStringList values = QStringLiteral("Aktiv|110|3|2|1|bieter|1|1|Fehler|"
                                              "2020-01-01 10:00:00|3|2020-01-01 10:00:00|"
                                              "2020-01-08 10:00:00|555")
                                   .split(QLatin1Char('|'));
    for (int i = 0; i < values.size(); ++i)
        listing.insert(kListingColumns.at(i), values.at(i));
    s.ids[QStringLiteral("aktiv")] = TestSupport::insertArticle(db, listing);
    return s;
}

FolderModel *folderModel(const MainWindowFixture &window)
{
    return qobject_cast<FolderModel *>(window.treeView()->model());
}

QModelIndex at(const FolderModel *model, int id)
{
    return model->indexOfNode(model->findFolderWithId(id));
}

int countOf(const FolderModel *model, int id)
{
    return model->findFolderWithId(id)->count;
}

QList<int> listedIds(const QTreeWidget *list)
{
    QList<int> ids;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        ids << list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt();
    return ids;
}

// The payload the list builds for all rows of the shown folder, the last row current.
std::unique_ptr<QMimeData> dragAll(QTreeWidget *list)
{
    list->setCurrentItem(list->topLevelItem(list->topLevelItemCount() - 1));
    list->selectAll();
    return std::unique_ptr<QMimeData>(
        ItemListWidget::articleMimeData(list->currentItem(), list->selectedItems()));
}

std::unique_ptr<QMimeData> payloadOf(const QString &text)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setData(ItemListWidget::ArticleMimeType, text.toUtf8());
    return mime;
}

bool drop(FolderModel *model, const QMimeData *mime, int target)
{
    return model->dropMimeData(mime, Qt::MoveAction, -1, -1, at(model, target));
}

std::unique_ptr<QAbstractItemModelTester> attachTester(QAbstractItemModel *model)
{
    return std::make_unique<QAbstractItemModelTester>(
        model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

// `count` drafts in "Artikelvorlagen", written in one transaction; their payload as the list
// builds it.
QString addDrafts(Database *db, int count)
{
    QStringList payload;
    if (!db->executeSQL(QStringLiteral("BEGIN")))
        return QString();
    for (int i = 0; i < count; ++i)
        payload << QStringLiteral("%1|-10").arg(
            TestSupport::insertArticle(db, { { QStringLiteral("Folder"), -10 } }));
    if (!db->executeSQL(QStringLiteral("COMMIT")))
        return QString();
    return payload.join(',');
}

// Runs `when` once `ready` holds, looked at whenever the window handles its events.
void onceReady(QObject *context, const std::function<bool()> &ready,
               const std::function<void()> &when)
{
    QTimer::singleShot(0, context, [context, ready, when] {
        if (ready())
            when();
        else
            onceReady(context, ready, when);
    });
}

// The window's "Abbrechen" of a long folder command, as the seller clicks it.
bool clickAbbrechen(QWidget *window)
{
    auto *dialog = window->findChild<QProgressDialog *>(QStringLiteral("longFolderCommand"));
    if (!dialog)
        return false;
    dialog->cancel();
    return true;
}

// What a drop or a folder delete may change: articles, folders, and the entries for the other
// workstations.
QList<TableSnapshot> storeOf(Database *db)
{
    QList<TableSnapshot> tables;
    for (const char *table : { "articles", "folders", "itemshistory", "clienttoserver" })
        tables << TableSnapshot::take(*db, QLatin1String(table));
    return tables;
}

QString storeChanges(const QList<TableSnapshot> &before, const QList<TableSnapshot> &after)
{
    QString text;
    for (int i = 0; i < before.size(); ++i)
        text += TableSnapshot::describe(TableSnapshot::diff(before.at(i), after.at(i)));
    return text;
}
} // namespace

class TestDragdrop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void articlePayload_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<QString>("payload"); // null: no drag starts
        QTest::newRow("drafts") << -10 << "d1|-10,d2|-10";
        QTest::newRow("active listing") << -9 << "aktiv|-9";
        QTest::newRow("outbox") << -2 << QString();
        QTest::newRow("scheduled") << -3 << QString();
    }
    void articlePayload()
    {
        QFETCH(int, folder);
        QFETCH(QString, payload);
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        MainWindowFixture window(data);
        QVERIFY(window.showFolder(folder));
        QVERIFY(window.itemList()->topLevelItemCount() > 0);

        const std::unique_ptr<QMimeData> mime = dragAll(window.itemList());
        QCOMPARE(bool(mime), !payload.isNull());
        if (mime) {
            QCOMPARE(QString::fromUtf8(mime->data(ItemListWidget::ArticleMimeType)),
                     s.resolve(payload));
        }
        QVERIFY(!ItemListWidget::articleMimeData(nullptr, window.itemList()->selectedItems()));
    }

    void movesArticles_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("category");
        QTest::newRow("into a user folder") << "-10"
                                            << "Werkzeug"
                                            << "999";
        QTest::newRow("into Artikelvorlagen") << "Werkzeug"
                                              << "-10"
                                              << "999";
        QTest::newRow("folder category") << "-10"
                                         << "Elektro"
                                         << "12345";
        QTest::newRow("category with a quote") << "-10"
                                               << "Zubehör" << kQuotedCategory;
    }
    void movesArticles()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(QString, category);
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        const auto tester = attachTester(model);
        QTreeWidget *list = window.itemList();
        QVERIFY(window.showFolder(s[source]));
        const QList<int> moved = listedIds(list);
        const int sourceCount = countOf(model, s[source]);
        const int targetCount = countOf(model, s[target]);

        QSignalSpy removed(list->model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy relaidOut(list->model(), &QAbstractItemModel::layoutChanged);
        QVERIFY(drop(model, dragAll(list).get(), s[target]));
        // Only the rows of the moved articles leave the list.
        QCOMPARE(list->topLevelItemCount(), 0);
        QCOMPARE(removed.size(), moved.size());
        QCOMPARE(relaidOut.size(), 0);
        for (int id : moved) {
            QCOMPARE(
                TestSupport::values(data.db(), id, QStringLiteral("Folder,PrimaryCategory,Title")),
                QStringLiteral("%1|%2|Artikel").arg(s[target]).arg(category));
        }
        QCOMPARE(countOf(model, s[source]), sourceCount - moved.size());
        QCOMPARE(countOf(model, s[target]), targetCount + moved.size());
    }

    // More articles than one statement reads or moves: the groups after the first are read
    // and moved as well, and an article another workstation put into the trash in a later
    // group keeps every article of the drop where it was.
    void movesManyArticles_data()
    {
        QTest::addColumn<int>("articles");
        QTest::addColumn<int>("trashedElsewhere"); // its position in the drop; -1: none
        const int group = FolderModel::kDropGroup;
        QTest::newRow("one past a group") << group + 1 << -1;
        QTest::newRow("two groups, the last trashed") << 2 * group << 2 * group - 1;
        QTest::newRow("one past a group, that one trashed") << group + 1 << group;
        QTest::newRow("one past a group, the first trashed") << group + 1 << 0;
    }
    void movesManyArticles()
    {
        QFETCH(int, articles);
        QFETCH(int, trashedElsewhere);
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        QStringList payload;
        QList<int> ids;
        for (int i = 0; i < articles; ++i) {
            ids << TestSupport::insertArticle(data.db(), { { QStringLiteral("Folder"), -10 } });
            payload << QStringLiteral("%1|-10").arg(ids.last());
        }
        DialogAnswers answers;
        MainWindowFixture window(data);
        // Another workstation synchronises: the removals are queued for it.
        qApp->setProperty("mysqlsyncworkstation", false);
        auto unsync = qScopeGuard([] { qApp->setProperty("mysqlsyncworkstation", QVariant()); });
        FolderModel *model = folderModel(window);
        const auto tester = attachTester(model);
        QVERIFY(window.showFolder(-10));
        QTRY_COMPARE(window.itemList()->topLevelItemCount(), articles + 2);
        const int werkzeug = s[QStringLiteral("Werkzeug")];
        const int draftCount = countOf(model, -10);
        const int werkzeugCount = countOf(model, werkzeug);
        if (trashedElsewhere >= 0) {
            QVERIFY(data.db()->executeSQL(
                QStringLiteral("UPDATE articles SET Folder=-5, Trash=1 WHERE id=%1")
                    .arg(ids.at(trashedElsewhere))));
        }
        const TableSnapshot before = TableSnapshot::take(*data.db(), QStringLiteral("articles"));

        QVERIFY(drop(model, payloadOf(payload.join(',')).get(), werkzeug));
        const bool moved = trashedElsewhere < 0;
        QCOMPARE(data.db()
                     ->selectCount(
                         QStringLiteral("SELECT id FROM articles WHERE Folder=%1").arg(werkzeug))
                     .value(),
                 1 + (moved ? articles : 0));
        if (!moved) {
            const auto changes = TableSnapshot::diff(
                before, TableSnapshot::take(*data.db(), QStringLiteral("articles")));
            QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
            QTRY_COMPARE(answers.messages().size(), 1);
            QVERIFY2(answers.lastMessageText().contains(QStringLiteral("gelöscht")),
                     qPrintable(answers.lastMessageText()));
        }
        // On a shared database the other workstations are told of every moved article, with
        // the move: entries written by groups, each queued for them once.
        const bool shared = data.backend() == TestSupport::Backend::MySQL;
        const QString entries = QStringLiteral(
            "SELECT h.id FROM itemshistory h WHERE h.infotype='removeitem' AND h.textinfo LIKE "
            "'%(-10,%'");
        QCOMPARE(data.db()->selectCount(entries).value(), shared && moved ? articles : 0);
        QCOMPARE(data.db()->selectCount(QStringLiteral("SELECT c.id FROM clienttoserver c JOIN "
                                                       "itemshistory h ON h.id=c.newsid"))
                     .value(),
                 shared && moved ? articles : 0);
        if (shared && moved) {
            QCOMPARE(data.db()->selectCount(entries + QStringLiteral(" AND h.textinfo = CONCAT("
                                                                     "'Anzeige wurde zur "
                                                                     "Neueinlesung gelöscht (-10,',")
                                            + QString::number(ids.last()) + QStringLiteral(", ')')"))
                         .value(),
                     1);
        }
        // Told a change of another workstation, the window shows what is stored.
        QTRY_COMPARE(window.itemList()->topLevelItemCount(), moved ? 2 : articles + 1);
        QTRY_COMPARE(countOf(model, -10), draftCount - (moved ? articles : 1));
        QCOMPARE(countOf(model, werkzeug), werkzeugCount + (moved ? articles : 0));
    }

    void copiesActiveListing()
    {
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        const auto tester = attachTester(model);
        QVERIFY(window.showFolder(-9));
        const TableSnapshot before = TableSnapshot::take(*data.db(), QStringLiteral("articles"));
        const int activeCount = countOf(model, -9);
        const int elektro = s[QStringLiteral("Elektro")];

        QVERIFY(drop(model, dragAll(window.itemList()).get(), elektro));
        // The listing stays as it was and where it was; its copy starts afresh.
        const auto changes = TableSnapshot::diff(
            before, TableSnapshot::take(*data.db(), QStringLiteral("articles")));
        QVERIFY2(changes.size() == 1 && changes.at(0).column == QLatin1String("<added>"),
                 qPrintable(TableSnapshot::describe(changes)));
        QCOMPARE(listedIds(window.itemList()), QList<int>({ s[QStringLiteral("aktiv")] }));
        QCOMPARE(TestSupport::values(data.db(), changes.at(0).key.toInt(),
                                     QStringLiteral("Folder,") + kListingColumns.join(',')),
                 QStringLiteral("%1|Aktiv||0|0|0||0|0||||||12345").arg(elektro));
        QCOMPARE(countOf(model, -9), activeCount);
        QCOMPARE(countOf(model, elektro), 1);
    }

    // The copy is written unlisted by the copying statement itself; when the database refuses
    // it, nothing of it stays: no row that the next synchronisation could take for the
    // listing, no pictures, no variations.
    void failedCopyLeavesNothing()
    {
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        DialogAnswers answers; // the seller is told of the refused write
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        QVERIFY(window.showFolder(-9));
        const int elektro = s[QStringLiteral("Elektro")];
        QVERIFY(TestSupport::refuseRows(data.db(), QStringLiteral("articles"),
                                        QStringLiteral("INSERT"), QStringLiteral("refused"),
                                        QStringLiteral("NEW.ItemID = ''")));
        // The listing's pictures, variation and option value are copied with it, or not.
        const int listing = s[QStringLiteral("aktiv")];
        const int variation = data.db()->insertSqlClean(
            { { "article_id", listing }, { "SKU", "V" } }, "articles_variations");
        QVERIFY(
            data.db()->insertSqlClean(
                { { "article_id", listing }, { "image", "v.jpg" }, { "variant_id", variation } },
                "articles_images")
            > 0);
        QVERIFY(
            data.db()->insertSqlClean(
                { { "article_id", listing }, { "optionname", "Farbe" }, { "optionvalue", "rot" } },
                "articles_variations_op_val")
            > 0);
        const auto rowCounts = [&data] {
            QList<int> numbers;
            for (const char *table :
                 { "articles_images", "articles_variations", "articles_variations_op_val" })
                numbers << data.db()
                               ->selectCount(QStringLiteral("SELECT id FROM ")
                                             + QLatin1String(table))
                               .value();
            return numbers;
        };
        const QList<int> rowsBefore = rowCounts();
        const TableSnapshot before = TableSnapshot::take(*data.db(), QStringLiteral("articles"));
        const int activeCount = countOf(model, -9);
        const int elektroCount = countOf(model, elektro);

        QVERIFY(drop(model, dragAll(window.itemList()).get(), elektro));
        const auto changes = TableSnapshot::diff(
            before, TableSnapshot::take(*data.db(), QStringLiteral("articles")));
        QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
        QCOMPARE(rowCounts(), rowsBefore);
        QCOMPARE(data.db()
                     ->selectCount(QStringLiteral("SELECT id FROM articles WHERE ItemID='110'"))
                     .value(),
                 1);
        QCOMPARE(countOf(model, elektro), elektroCount);
        QCOMPARE(countOf(model, -9), activeCount);
        QTRY_COMPARE(answers.messages().size(), 1);
        QVERIFY2(answers.lastMessageText().contains(QStringLiteral("refused")),
                 qPrintable(answers.lastMessageText()));
    }

    void refusesTargets_data()
    {
        QTest::addColumn<int>("target");
        for (int id : { -9, -7, -8, -3, -2, -5 })
            QTest::addRow("%d", id) << id;
    }
    void refusesTargets()
    {
        QFETCH(int, target);
        APP_TEST_DATABASE(data);
        seed(data.db());
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        QVERIFY(window.showFolder(-10));
        const TableSnapshot before = TableSnapshot::take(*data.db(), QStringLiteral("articles"));
        const QString tree = shape(model, QModelIndex());

        QVERIFY(!drop(model, dragAll(window.itemList()).get(), target));
        const auto changes = TableSnapshot::diff(
            before, TableSnapshot::take(*data.db(), QStringLiteral("articles")));
        QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
        QCOMPARE(shape(model, QModelIndex()), tree);
        QCOMPARE(window.itemList()->topLevelItemCount(), 2);
    }

    void skipsEntries_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::addColumn<QString>("moved"); // the one article that moves, if any
        QTest::newRow("already there") << "w1|Werkzeug"
                                       << "";
        QTest::newRow("SQL for an id") << "1;DROP TABLE articles|-10"
                                       << "";
        QTest::newRow("not numbers") << "abc|x"
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("no separator") << "d1"
                                      << "";
        QTest::newRow("unknown article") << "99999|-5"
                                         << "";
        QTest::newRow("good entry among bad ones") << "abc|x,d1|-10,|"
                                                   << "d1";
    }
    void skipsEntries()
    {
        QFETCH(QString, payload);
        QFETCH(QString, moved);
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        const int werkzeug = s[QStringLiteral("Werkzeug")];
        QVERIFY(window.showFolder(werkzeug));
        const TableSnapshot before = TableSnapshot::take(*data.db(), QStringLiteral("articles"));
        const int count = countOf(model, werkzeug);

        QVERIFY(drop(model, payloadOf(s.resolve(payload)).get(), werkzeug));
        const auto changes = TableSnapshot::diff(
            before, TableSnapshot::take(*data.db(), QStringLiteral("articles")));
        QCOMPARE(TableSnapshot::describe(changes),
                 moved.isEmpty()
                     ? QString()
                     : QStringLiteral("row %1, Folder: -10 -> %2").arg(s[moved]).arg(werkzeug));
        QCOMPARE(countOf(model, werkzeug), count + (moved.isEmpty() ? 0 : 1));
        QCOMPARE(listedIds(window.itemList()), QList<int>({ s[QStringLiteral("w1")] }));
    }

    void movesFolders_data()
    {
        QTest::addColumn<QString>("dragged");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("after"); // the folders below "Artikelvorlagen"; empty: refused
        QTest::newRow("onto Artikelvorlagen")
            << "Spaten"
            << "-10"
            << "Elektro [Kabel], Werkzeug (1), Zubehör, Spaten (2)";
        QTest::newRow("onto a user folder")
            << "Werkzeug"
            << "Kabel"
            << "Elektro [Kabel [Werkzeug (1) [Spaten (2)]]], Zubehör";
        QTest::newRow("onto itself") << "Werkzeug"
                                     << "Werkzeug"
                                     << "";
        QTest::newRow("onto its parent") << "Spaten"
                                         << "Werkzeug"
                                         << "";
        QTest::newRow("onto its subfolder") << "Werkzeug"
                                            << "Spaten"
                                            << "";
        QTest::newRow("onto a fixed folder") << "Werkzeug"
                                             << "-9"
                                             << "";
        QTest::newRow("unknown folder") << "4711"
                                        << "-10"
                                        << "";
        QTest::newRow("a fixed folder") << "-9"
                                        << "Werkzeug"
                                        << "";
    }
    void movesFolders()
    {
        QFETCH(QString, dragged);
        QFETCH(QString, target);
        QFETCH(QString, after);
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        const auto tester = attachTester(model);
        const QString initial = shape(model, at(model, -10));
        QCOMPARE(initial, QStringLiteral("Elektro [Kabel], Werkzeug (1) [Spaten (2)], Zubehör"));
        const TableSnapshot before = TableSnapshot::take(*data.db(), QStringLiteral("folders"));
        const QPersistentModelIndex draggedIndex = at(model, s[dragged]);

        QByteArray ids;
        QDataStream(&ids, QIODevice::WriteOnly) << qint32(s[dragged]);
        QMimeData mime;
        mime.setData(FolderModel::FolderMimeType, ids);
        QCOMPARE(drop(model, &mime, s[target]), !after.isEmpty());

        QCOMPARE(shape(model, at(model, -10)), after.isEmpty() ? initial : after);
        const auto changes = TableSnapshot::diff(
            before, TableSnapshot::take(*data.db(), QStringLiteral("folders")));
        if (after.isEmpty()) {
            QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
        } else {
            QCOMPARE(changes.size(), 1);
            QCOMPARE(changes.at(0).key, QString::number(s[dragged]));
            QCOMPARE(changes.at(0).column, QStringLiteral("folderparentid"));
            QCOMPARE(changes.at(0).after.toInt(), s[target]);
            // The views keep their index of the moved folder.
            QCOMPARE(QModelIndex(draggedIndex), at(model, s[dragged]));
            QCOMPARE(draggedIndex.parent(), at(model, s[target]));
        }
    }
    // On a shared server a drop of many drafts and the delete of their folder send a few
    // statements, whatever the number of articles (not one set per group), and the window
    // answers while the server works.
    void sharedServerFewStatements()
    {
        constexpr int kDrafts = 6 * FolderModel::kDropGroup;
        APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "the statements of a shared server only");
        const Seed s = seed(data.db());
        const QString payload = addDrafts(data.db(), kDrafts);
        QVERIFY(!payload.isEmpty());
        DialogAnswers answers;
        MainWindowFixture window(data);
        // Another workstation synchronises: the removals are queued for it.
        qApp->setProperty("mysqlsyncworkstation", false);
        auto unsync = qScopeGuard([] { qApp->setProperty("mysqlsyncworkstation", QVariant()); });
        FolderModel *model = folderModel(window);
        const int werkzeug = s[QStringLiteral("Werkzeug")];
        QVERIFY(window.showFolder(-10));
        const int draftCount = countOf(model, -10);

        TestSupport::PauseWatch pauses;
        // The statements over the articles and over the entries for the other workstations:
        // by groups there would be a dozen of each.
        int sent = proxy.statementsSeen("articles");
        int notes = proxy.statementsSeen("itemshistory");
        pauses.start();
        QVERIFY(drop(model, payloadOf(payload).get(), werkzeug));
        const qint64 dropPause = pauses.stop();
        const int dropStatements = proxy.statementsSeen("articles") - sent;
        const int noteStatements = proxy.statementsSeen("itemshistory") - notes;
        QCOMPARE(data.db()
                     ->selectCount(
                         QStringLiteral("SELECT id FROM articles WHERE Folder=%1").arg(werkzeug))
                     .value(),
                 kDrafts + 1);
        QCOMPARE(data.db()
                     ->selectCount(QStringLiteral("SELECT c.id FROM clienttoserver c JOIN "
                                                  "itemshistory h ON h.id=c.newsid AND "
                                                  "h.infotype='removeitem' AND h.itemid='0'"))
                     .value(),
                 kDrafts);
        QCOMPARE(answers.messages().size(), 0);
        QTRY_COMPARE(countOf(model, werkzeug), kDrafts + 1);
        QTRY_COMPARE(countOf(model, -10), draftCount - kDrafts);

        window.treeView()->setCurrentIndex(at(model, werkzeug));
        answers.pushQuestion(true);
        sent = proxy.statementsSeen("articles");
        pauses.start();
        QVERIFY(QMetaObject::invokeMethod(window.window(), "on_actionL_schen_2_triggered"));
        const qint64 deletePause = pauses.stop();
        const int deleteStatements = proxy.statementsSeen("articles") - sent;
        QCOMPARE(data.db()
                     ->selectCount(QStringLiteral("SELECT id FROM articles WHERE Folder=-10"))
                     .value(),
                 draftCount + 3); // w1, s1 and s2 of Werkzeug and Spaten come back too
        QVERIFY(!model->findFolderWithId(werkzeug));
        QCOMPARE(
            data.db()
                ->selectCount(QStringLiteral("SELECT id FROM folders WHERE id=%1").arg(werkzeug))
                .value(),
            0);

        std::fprintf(stderr,
                     "%d drafts on a shared server: drop %d + %d statements, longest pause %lld "
                     "ms; folder delete %d statements, longest pause %lld ms\n",
                     kDrafts, dropStatements, noteStatements, static_cast<long long>(dropPause),
                     deleteStatements, static_cast<long long>(deletePause));
        QVERIFY2(dropStatements <= 4, qPrintable(QString::number(dropStatements)));
        QVERIFY2(noteStatements <= 3, qPrintable(QString::number(noteStatements)));
        QVERIFY2(deleteStatements <= 3, qPrintable(QString::number(deleteStatements)));
        QVERIFY2(dropPause < 500, qPrintable(QStringLiteral("%1 ms").arg(dropPause)));
        QVERIFY2(deletePause < 500, qPrintable(QStringLiteral("%1 ms").arg(deletePause)));
    }

    // "Abbrechen" while a long drop or folder delete is under way (on a shared server while
    // its main statement runs), or a write refused half-way: nothing of it is kept, the seller
    // reads why, and the window shows the store as it is.
    void stoppedHalfWayKeepsNothing_data()
    {
        QTest::addColumn<QString>("command"); // "drop", "copy" (running listings) or "delete"
        QTest::addColumn<bool>("refused"); // the database refuses the last article's move
        QTest::newRow("Abbrechen a drop") << "drop" << false;
        QTest::newRow("a drop refused") << "drop" << true;
        QTest::newRow("Abbrechen a copy") << "copy" << false;
        QTest::newRow("Abbrechen a folder delete") << "delete" << false;
    }
    void stoppedHalfWayKeepsNothing()
    {
        QFETCH(QString, command);
        QFETCH(bool, refused);
        constexpr int kDrafts = 2 * FolderModel::kDropGroup + 1;
        const TestSupport::Backend backend = *static_cast<TestSupport::Backend *>(
            QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
        APP_REQUIRE_BACKEND(backend);
        const bool shared = backend == TestSupport::Backend::MySQL;
        if (command == QLatin1String("delete") && !shared)
            QSKIP("the local file deletes a folder in a moment, without progress");
        std::unique_ptr<TestSupport::MySqlProxy> proxy;
        if (shared)
            proxy = std::make_unique<TestSupport::MySqlProxy>(
                TestSupport::MySqlServer::fromEnvironment());
        const auto store = shared ? std::make_unique<TestDatabase>(proxy->server())
                                  : std::make_unique<TestDatabase>(backend);
        TestDatabase &data = *store;
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const Seed s = seed(data.db());
        const int werkzeug = s[QStringLiteral("Werkzeug")];
        // The drafts lie in Werkzeug for the delete, and are dropped from "Artikelvorlagen".
        const QString payload = addDrafts(data.db(), kDrafts);
        QVERIFY(!payload.isEmpty());
        if (command == QLatin1String("delete"))
            QVERIFY(data.db()->executeSQL(
                QStringLiteral("UPDATE articles SET Folder=%1 WHERE Folder=-10").arg(werkzeug)));
        // Running listings are copied group by group on the window's connection.
        const bool copies = command == QLatin1String("copy");
        if (copies)
            QVERIFY(data.db()->executeSQL(QStringLiteral(
                "UPDATE articles SET Folder=-9, ItemID=110000+id WHERE Folder=-10")));
        const int last
            = data.db()->selectOne(QStringLiteral("SELECT max(id) FROM articles"))->toInt();
        if (refused)
            QVERIFY(TestSupport::refuseRows(
                data.db(), QStringLiteral("articles"), QStringLiteral("UPDATE"),
                QStringLiteral("refused"),
                QStringLiteral("NEW.id = %1 AND NEW.Folder <> OLD.Folder").arg(last)));
        DialogAnswers answers;
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        const int shown = command == QLatin1String("drop") ? -10 : copies ? -9 : werkzeug;
        // d1 and d2 beside them, and "aktiv", or w1 besides.
        const int rows = kDrafts + (shown == -10 ? 2 : 3);
        QVERIFY(window.showFolder(shown));
        QTRY_COMPARE(window.itemList()->topLevelItemCount(), rows);
        const QString tree = shape(model, QModelIndex());
        const QList<TableSnapshot> before = storeOf(data.db());

        // Abbrechen once the window answers with the command under way; on a shared server
        // while the server has the main statement in hand, held there until then.
        const QByteArray main = command == QLatin1String("drop") ? "UPDATE articles SET Folder="
                                                                 : "UPDATE articles SET Folder=-10";
        bool clicked = false;
        if (!refused) {
            if (shared && !copies)
                proxy->holdAnswerTo(main);
            onceReady(
                window.window(),
                [&] {
                    return window.window()->findChild<QProgressDialog *>(
                               QStringLiteral("longFolderCommand"))
                        && (!shared || copies || proxy->statementsSeen(main) > 0);
                },
                [&] {
                    clicked = clickAbbrechen(window.window());
                    if (shared && !copies)
                        proxy->release();
                });
        }
        if (command != QLatin1String("delete")) {
            QVERIFY(drop(
                model, payloadOf(copies ? QString(payload).replace("|-10", "|-9") : payload).get(),
                werkzeug));
        } else {
            window.treeView()->setCurrentIndex(at(model, werkzeug));
            answers.pushQuestion(true);
            QVERIFY(QMetaObject::invokeMethod(window.window(), "on_actionL_schen_2_triggered"));
        }
        QCOMPARE(clicked, !refused);

        QCOMPARE(storeChanges(before, storeOf(data.db())), QString());
        QTRY_COMPARE(answers.messages().size(), 1);
        const QString told = answers.lastMessageText();
        if (refused)
            QVERIFY2(told.contains(QStringLiteral("refused")), qPrintable(told));
        else
            QVERIFY2(told.contains(QStringLiteral("abgebrochen"))
                         && told.contains(QStringLiteral("nichts")),
                     qPrintable(told));
        QVERIFY(window.window()->isEnabled());
        QVERIFY(
            !window.window()->findChild<QProgressDialog *>(QStringLiteral("longFolderCommand")));
        QTRY_COMPARE(window.itemList()->topLevelItemCount(), rows);
        QTRY_COMPARE(shape(model, QModelIndex()), tree);
    }
    // Thousands of running listings dropped onto a folder: copied whole, each with its own
    // picture and variation rows (the variation pictures tied to the copy's variations), the
    // listings untouched, and the window answering all along, not once at the end.
    void copiesManyListingsAnswering()
    {
        constexpr int kListings = 3000;
        APP_TEST_DATABASE(data);
        const Seed s = seed(data.db());
        Database *db = data.db();
        QVERIFY(db->executeSQL(QStringLiteral("DELETE FROM articles WHERE Folder=-9")));
        {
            QVERIFY(db->executeSQL(QStringLiteral("BEGIN")));
            for (int i = 0; i < kListings; ++i) {
                QVERIFY(TestSupport::insertArticle(
                            db, { { QStringLiteral("Folder"), -9 },
                                  { QStringLiteral("ItemID"), QString::number(120000 + i) },
                                  { QStringLiteral("Title"), QStringLiteral("Angebot %1").arg(i) },
                                  { QStringLiteral("Description"), QString(2000, QLatin1Char('x')) } })
                        > 0);
            }
            QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, "
                                                  "sort) SELECT id, 'a.jpg', 0 FROM articles "
                                                  "WHERE Folder=-9")));
            QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO articles_variations (article_id, "
                                                  "SKU) SELECT id, ItemID FROM articles WHERE "
                                                  "Folder=-9 AND id % 10 = 0")));
            QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, "
                                                  "sort, variant_id) SELECT article_id, SKU, 1, id "
                                                  "FROM articles_variations")));
            QVERIFY(db->executeSQL(QStringLiteral("COMMIT")));
        }
        const TableSnapshot before = TableSnapshot::take(*db, QStringLiteral("articles"));
        MainWindowFixture window(data);
        FolderModel *model = folderModel(window);
        QVERIFY(window.showFolder(-9));
        QTRY_COMPARE(window.itemList()->topLevelItemCount(), kListings);
        const int werkzeug = s[QStringLiteral("Werkzeug")];
        const std::unique_ptr<QMimeData> mime = dragAll(window.itemList());

        TestSupport::PauseWatch pauses;
        pauses.start();
        QVERIFY(drop(model, mime.get(), werkzeug));
        const qint64 longest = pauses.stop();

        const auto count = [db](const QString &sql) { return db->selectCount(sql).value(); };
        const QString copies = QStringLiteral("SELECT id FROM articles WHERE Folder=%1 AND "
                                              "Title LIKE 'Angebot %' AND ItemID='' AND "
                                              "LastError=''")
                                   .arg(werkzeug);
        QCOMPARE(count(copies), kListings);
        QCOMPARE(count(QStringLiteral("SELECT i.id FROM articles_images i JOIN articles a ON "
                                      "a.id=i.article_id WHERE a.Folder=%1")
                           .arg(werkzeug)),
                 kListings + kListings / 10);
        // Each copied variation picture names a variation of its own article's copy.
        QCOMPARE(count(QStringLiteral("SELECT i.id FROM articles_images i JOIN articles a ON "
                                      "a.id=i.article_id JOIN articles_variations v ON "
                                      "v.id=i.variant_id AND v.article_id=a.id AND v.SKU=i.image "
                                      "WHERE a.Folder=%1")
                           .arg(werkzeug)),
                 kListings / 10);
        const auto changes
            = TableSnapshot::diff(before, TableSnapshot::take(*db, QStringLiteral("articles")));
        for (const auto &change : changes)
            QVERIFY2(change.column == QLatin1String("<added>"),
                     qPrintable(TableSnapshot::describe(changes)));
        QCOMPARE(countOf(model, werkzeug), 1 + kListings);
        QVERIFY(window.window()->isEnabled());
        QVERIFY2(longest < 500, qPrintable(QStringLiteral("%1 ms").arg(longest)));
        std::fprintf(stderr, "longest pause of the window while %d listings were copied: %lld ms\n",
                     kListings, static_cast<long long>(longest));
    }
};

APP_TEST_MAIN(TestDragdrop)
#include "test_dragdrop.moc"
