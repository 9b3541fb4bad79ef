#include "core/sqltext.h"
#include "tests/support/testmain.h"
#include "views/articlelistitem.h"
#include "views/itemlistdelegate.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QPaintEvent>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <algorithm>
#include <malloc.h>

using ItemListRole::ArticleIdRole;

namespace {

// The first row from the top that carries the article id: what the index must answer.
QTreeWidgetItem *scanFor(const QTreeWidget &list, int id)
{
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        if (list.topLevelItem(i)->data(0, ArticleIdRole).toInt() == id)
            return list.topLevelItem(i);
    }
    return nullptr;
}

// The bytes this process has allocated and not freed, large blocks included.
size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

QTreeWidgetItem *plainRow(int id)
{
    auto *item = new QTreeWidgetItem;
    item->setData(0, ArticleIdRole, id);
    return item;
}

QTreeWidgetItem *compactRow(int id)
{
    return new ArticleListItem(ArticleListRow::fromMap({ { "id", id } }, QString()));
}

// A row that counts how often its article id is read.
class CountingRow : public QTreeWidgetItem
{
public:
    CountingRow(int id, int *reads)
        : m_reads(reads)
    {
        setData(0, ArticleIdRole, id);
    }
    QVariant data(int column, int role) const override
    {
        if (role == ArticleIdRole)
            ++*m_reads;
        return QTreeWidgetItem::data(column, role);
    }

private:
    int *m_reads;
};

// A compact row that counts how often its article id is read.
class CountingCompactRow : public ArticleListItem
{
public:
    CountingCompactRow(int id, int *reads)
        : ArticleListItem(ArticleListRow::fromMap({ { "id", id } }, QString()))
        , m_reads(reads)
    { }
    QVariant data(int column, int role) const override
    {
        if (role == ArticleIdRole)
            ++*m_reads;
        return ArticleListItem::data(column, role);
    }

private:
    int *m_reads;
};

// How the rows moved before rows are changed.
enum class Moves {
    None,
    InsertedAtTop,
    TakenAtTop,
    DeletedInTheMiddle,
    ManyDeletedInTheMiddle,
    InsertedInTheMiddle,
    PutBackReversed,
    Cleared
};

// The region of every paint of a widget.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QWidget *widget) { widget->installEventFilter(this); }
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent *>(event)->region();
            ++paints;
        }
        return false;
    }
};

} // namespace

Q_DECLARE_METATYPE(QAbstractItemView::ScrollMode)
Q_DECLARE_METATYPE(Moves)

class TestItemListWidget : public QObject
{
    Q_OBJECT
private slots:
    // The list puts a SQLite list in title order itself; it must give the order the
    // database's ORDER BY Title COLLATE GERMAN gives the same rows read by id: German letters
    // and case, texts the German order takes as equal told apart by their code points, equal
    // titles in the order of their ids, a missing title first, each in both directions. The
    // rows carry an SKU that sorts against their titles, which the list shows before the title.
    void titleOrderAsTheDatabaseSorts_data()
    {
        QTest::addColumn<QStringList>("titles"); // "<null>" for a missing title
        QTest::newRow("German letters")
            << QStringList { "Zimt", "Öl", "Ol", "Äpfel", "Apfel", "Ast", "Straße", "Strasse" };
        QTest::newRow("case and sharp s")
            << QStringList { "strasse", "Strasse", "STRASSE", "straße", "apfel", "Apfel" };
        // "Ä" written as one letter and as "A" with a combining diaeresis: equal to the
        // German order.
        QTest::newRow("one letter written two ways")
            << QStringList { QString::fromUtf8("A\u0308pfel"), QString::fromUtf8("\u00C4pfel"),
                             QString::fromUtf8("A\u0308pfel") };
        // More than a sort puts in order by insertion.
        QStringList equal;
        for (int k = 0; k < 40; ++k)
            equal << QStringList { "Lampe", "Kabel", "Adapter" }.at(k * 7 % 3);
        QTest::newRow("equal titles") << equal;
        QTest::newRow("missing titles")
            << QStringList { "Vase", "<null>", "", "Becher", "<null>", "" };
    }
    void titleOrderAsTheDatabaseSorts()
    {
        QFETCH(QStringList, titles);
        const QString name = QStringLiteral("titleorder");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(QStringLiteral(":memory:"));
            QVERIFY(db.open());
            QVERIFY(SqlText::registerSqlite(db));
            QSqlQuery query(db);
            QVERIFY(query.exec("CREATE TABLE articles (id INTEGER PRIMARY KEY, Title TEXT)"));
            for (int k = 0; k < titles.size(); ++k) {
                QVERIFY(query.prepare("INSERT INTO articles (id, Title) VALUES (?, ?)"));
                query.addBindValue(k + 1);
                query.addBindValue(titles[k] == "<null>" ? QVariant(QVariant::String)
                                                         : QVariant(titles[k]));
                QVERIFY(query.exec());
            }
            for (const bool descending : { false, true }) {
                QList<int> expected;
                QVERIFY(query.exec(QStringLiteral("SELECT id FROM articles ORDER BY Title "
                                                  "COLLATE GERMAN ")
                                   + (descending ? "DESC" : "ASC")));
                while (query.next())
                    expected << query.value(0).toInt();

                QList<QTreeWidgetItem *> items;
                QStringList read;
                QVERIFY(query.exec("SELECT id, Title FROM articles ORDER BY id"));
                while (query.next()) {
                    const int id = query.value(0).toInt();
                    items << new ArticleListItem(
                        ArticleListRow::fromMap({ { "id", id },
                                                  { "Title", query.value(1) },
                                                  { "SKU", QString(QChar('Z' - id)) } },
                                                QString()));
                    read << query.value(1).toString();
                }
                ArticleListItem::sortByTitle(items, read, descending);
                QList<int> sorted;
                for (QTreeWidgetItem *item : qAsConst(items))
                    sorted << item->data(0, ArticleIdRole).toInt();
                qDeleteAll(items);
                QCOMPARE(sorted, expected);
            }
        }
        QSqlDatabase::removeDatabase(name);
    }

    // Every way the window changes the list's rows, in a long random mix; after each change
    // the index answers as a walk from the top would (a row that went never comes back, a
    // row whose id changed is found under the new one, the topmost of two rows wins).
    void lookupFollowsEveryChange_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : { 1u, 7u, 42u, 2024u })
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }
    void lookupFollowsEveryChange()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        ItemListWidget list;
        const auto anyId = [&random] {
            return int(random.bounded(12));
        };
        const auto anyRow = [&] {
            return int(random.bounded(list.topLevelItemCount()));
        };
        for (int step = 0; step < 600; ++step) {
            const int rows = list.topLevelItemCount();
            const int change = int(random.bounded(9));
            QString what;
            if (change == 0 || rows == 0) {
                what = QStringLiteral("insert");
                QTreeWidgetItem *row = random.bounded(2) ? plainRow(anyId()) : compactRow(anyId());
                list.insertTopLevelItem(int(random.bounded(rows + 1)), row);
            } else if (change == 1) {
                what = QStringLiteral("add several");
                QList<QTreeWidgetItem *> added;
                for (int i = int(random.bounded(5)); i >= 0; --i)
                    added << compactRow(anyId());
                list.addTopLevelItems(added);
            } else if (change == 2) {
                what = QStringLiteral("delete");
                delete list.topLevelItem(anyRow());
            } else if (change == 3) {
                what = QStringLiteral("take");
                delete list.takeTopLevelItem(anyRow());
            } else if (change == 4) {
                what = QStringLiteral("write id");
                list.topLevelItem(anyRow())->setData(0, ArticleIdRole, anyId());
            } else if (change == 5) {
                what = QStringLiteral("read again");
                QTreeWidgetItem *row = list.topLevelItem(anyRow());
                if (auto *compact = dynamic_cast<ArticleListItem *>(row))
                    compact->setRow(ArticleListRow::fromMap({ { "id", anyId() } }, QString()));
            } else if (change == 6) {
                what = QStringLiteral("take all, put some back");
                const QList<QTreeWidgetItem *> taken = list.invisibleRootItem()->takeChildren();
                QList<QTreeWidgetItem *> kept;
                for (QTreeWidgetItem *row : taken) {
                    if (random.bounded(3) == 0)
                        delete row;
                    else
                        kept << row;
                }
                list.addTopLevelItems(kept);
            } else if (change == 7 && random.bounded(10) == 0) {
                what = QStringLiteral("clear");
                list.clear();
            } else if (change == 8 && random.bounded(10) == 0) {
                what = QStringLiteral("fill");
                QList<QTreeWidgetItem *> added;
                for (int i = 0; i < 300; ++i)
                    added << compactRow(anyId());
                list.addTopLevelItems(added);
            } else {
                what = QStringLiteral("a row's other data");
                list.topLevelItem(anyRow())->setData(0, ItemListRole::WatchCountRole, step);
            }
            for (int id = 0; id < 12; ++id) {
                if (list.itemWithArticleId(id) != scanFor(list, id))
                    QFAIL(qPrintable(QStringLiteral("step %1 (%2): id %3 found wrongly")
                                         .arg(step)
                                         .arg(what)
                                         .arg(id)));
            }
        }
    }

    // A changed row is painted again where it is shown, scrolled or not; a change to a row
    // out of sight paints nothing.
    void changedRowsArePaintedWhereShown_data()
    {
        QTest::addColumn<QAbstractItemView::ScrollMode>("mode");
        QTest::newRow("per item") << QAbstractItemView::ScrollPerItem;
        QTest::newRow("per pixel") << QAbstractItemView::ScrollPerPixel;
    }
    void changedRowsArePaintedWhereShown()
    {
        QFETCH(QAbstractItemView::ScrollMode, mode);
        ItemListWidget list;
        list.setItemDelegate(new ItemListDelegate(&list));
        list.setUniformRowHeights(true);
        list.setVerticalScrollMode(mode);
        QList<QTreeWidgetItem *> rows;
        for (int id = 0; id < 100; ++id)
            rows << compactRow(id);
        list.addTopLevelItems(rows);
        list.resize(600, 400);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.scrollToItem(rows.at(50), QAbstractItemView::PositionAtTop);
        QCoreApplication::processEvents();

        PaintRecorder recorder(list.viewport());
        for (int row : { 10, 49, 99 })
            rows.at(row)->setData(0, ItemListRole::TitleRole, QStringLiteral("Neu"));
        QCoreApplication::processEvents();
        QCOMPARE(recorder.paints, 0);

        for (int row : { 50, 51 }) {
            rows.at(row)->setData(0, ItemListRole::TitleRole, QStringLiteral("Neu"));
            QTRY_VERIFY(recorder.painted.contains(list.visualItemRect(rows.at(row))));
        }
    }

    // A changed row tells the list's model its own row, with the role that changed, once per
    // change, however the rows moved before; finding the row neither searches the list nor
    // reads the rows' ids again (allowed: reading them once where every row moved).
    void changedRowNamesItsOwnRow_data()
    {
        QTest::addColumn<Moves>("moves");
        QTest::addColumn<int>("idReadsAllowed");
        constexpr int all = 600;
        QTest::newRow("after a fill") << Moves::None << 0;
        QTest::newRow("rows inserted at the top one by one") << Moves::InsertedAtTop << 0;
        QTest::newRow("rows taken at the top one by one") << Moves::TakenAtTop << 0;
        QTest::newRow("a few deleted in the middle") << Moves::DeletedInTheMiddle << 0;
        QTest::newRow("many deleted in the middle") << Moves::ManyDeletedInTheMiddle << all;
        QTest::newRow("a few inserted in the middle") << Moves::InsertedInTheMiddle << 0;
        QTest::newRow("all taken, put back reversed") << Moves::PutBackReversed << 0;
        QTest::newRow("cleared and filled again") << Moves::Cleared << 0;
    }
    void changedRowNamesItsOwnRow()
    {
        QFETCH(Moves, moves);
        QFETCH(int, idReadsAllowed);
        ItemListWidget list;
        int reads = 0;
        int nextId = 1;
        const auto rows = [&](int count) {
            QList<QTreeWidgetItem *> made;
            for (int i = 0; i < count; ++i)
                made << new CountingCompactRow(nextId++, &reads);
            return made;
        };
        list.addTopLevelItems(rows(600));
        // The index is made once after the fill.
        QVERIFY(list.itemWithArticleId(1));

        switch (moves) {
        case Moves::None:
            break;
        case Moves::InsertedAtTop:
            for (QTreeWidgetItem *row : rows(40))
                list.insertTopLevelItem(0, row);
            break;
        case Moves::TakenAtTop:
            for (int i = 0; i < 40; ++i)
                delete list.takeTopLevelItem(0);
            break;
        case Moves::DeletedInTheMiddle:
            for (int i = 0; i < 5; ++i)
                delete list.topLevelItem(300);
            break;
        case Moves::ManyDeletedInTheMiddle:
            for (int i = 0; i < 40; ++i)
                delete list.topLevelItem(100);
            break;
        case Moves::InsertedInTheMiddle:
            for (QTreeWidgetItem *row : rows(5))
                list.insertTopLevelItem(300, row);
            break;
        case Moves::PutBackReversed: {
            QList<QTreeWidgetItem *> taken = list.invisibleRootItem()->takeChildren();
            std::reverse(taken.begin(), taken.end());
            for (int from = 0; from < taken.size(); from += 100)
                list.addTopLevelItems(taken.mid(from, 100));
            break;
        }
        case Moves::Cleared:
            list.clear();
            list.addTopLevelItems(rows(600));
            QVERIFY(list.itemWithArticleId(nextId - 1));
            break;
        }

        QSignalSpy changed(list.model(), &QAbstractItemModel::dataChanged);
        reads = 0;
        const int count = list.topLevelItemCount();
        QList<int> changedRows;
        for (int at = 0; at < count; at += 7)
            changedRows << at;
        changedRows << count - 1;
        for (const int at : qAsConst(changedRows)) {
            QTreeWidgetItem *row = list.topLevelItem(at);
            changed.clear();
            row->setData(0, ItemListRole::WatchCountRole, at);
            QCOMPARE(changed.size(), 1);
            const auto topLeft = changed.first().at(0).value<QModelIndex>();
            QCOMPARE(topLeft.row(), at);
            QCOMPARE(changed.first().at(1).value<QModelIndex>().row(), at);
            QCOMPARE(changed.first().at(2).value<QVector<int>>(),
                     QVector<int> { ItemListRole::WatchCountRole });
            QCOMPARE(topLeft.model(), list.model());
            QCOMPARE(row->data(0, ItemListRole::WatchCountRole).toInt(), at);
        }
        QVERIFY2(reads <= idReadsAllowed, qPrintable(QString::number(reads)));

        // Read again from the database: every role may have changed.
        auto *last = dynamic_cast<ArticleListItem *>(list.topLevelItem(count - 1));
        QVERIFY(last);
        changed.clear();
        last->setRow(ArticleListRow::fromMap({ { "id", 99999 } }, QString()));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).value<QModelIndex>().row(), count - 1);
        QVERIFY(changed.first().at(2).value<QVector<int>>().isEmpty());
        QCOMPARE(list.itemWithArticleId(99999), last);
    }

    // A value written to a row's role reads back as written, type and all, also when the row
    // keeps it in place of what it read; the later of two writes wins, and reading the row
    // again replaces both.
    void writtenValueReadsBackAsWritten_data()
    {
        using namespace ItemListRole;
        QTest::addColumn<int>("role");
        QTest::addColumn<QVariant>("first");
        QTest::addColumn<QVariant>("second");
        const auto row
            = [](const char *name, int role, const QVariant &first, const QVariant &second) {
                  QTest::newRow(name) << role << first << second;
              };
        row("sold count", SoldCountRole, 3, 4);
        row("sold count, text then number", SoldCountRole, "3", 4);
        row("sold count, number then text", SoldCountRole, 4, "viele");
        row("quantity, fraction then number", QuantityRole, 2.5, 3);
        row("watchers, number then text", WatchCountRole, 7, "8");
        row("watchers, text then number", WatchCountRole, "8", 9);
        row("watchers, fraction", WatchCountRole, 1.5, 2);
        row("questions", QuestionCountRole, 1, 0);
        row("bids", BidCountRole, 2, 5);
        row("check state", DoCheckRole, 0, 1);
        row("check result", DoCheckResultRole, "geprüft", "Fehler 17");
        row("check result, number then text", DoCheckResultRole, 5, "Fehler");
        row("planned interval", PlannedIntervalRole, "----", "");
        row("price text, kept apart", PriceTextRole, "12,50 €", "13,00 €");
        row("title, kept apart", TitleRole, "Neu", "Neuer");
    }
    void writtenValueReadsBackAsWritten()
    {
        QFETCH(int, role);
        QFETCH(QVariant, first);
        QFETCH(QVariant, second);
        const QVariantMap read { { "id", 1 },
                                 { "Title", "Lampe" },
                                 { "SoldCount", 1 },
                                 { "Quantity", 5 },
                                 { "WatchCount", "2" },
                                 { "QuestionCount", 3 },
                                 { "BidCount", 4 },
                                 { "DoCheck", 1 },
                                 { "DoCheckResult", "" },
                                 { "Planned_Interval", "1" } };
        ItemListWidget list;
        auto *item = new ArticleListItem(ArticleListRow::fromMap(read, QString()));
        list.addTopLevelItem(item);
        for (const QVariant &written : { first, second }) {
            item->setData(0, role, written);
            const QVariant shown = item->data(0, role);
            QCOMPARE(shown.userType(), written.userType());
            QCOMPARE(shown, written);
        }
        const ArticleListRow again = ArticleListRow::fromMap(read, QString());
        item->setRow(again);
        QCOMPARE(item->data(0, role), again.value(role));
        QCOMPARE(item->data(0, role).userType(), again.value(role).userType());
    }

    // Chosen again after the list was read anew: exactly the rows of the given articles, in
    // one change of the selection, the topmost current and handed back; a row between two
    // chosen ones stays unchosen. None of them listed, the selection is left as it is.
    void selectArticlesChoosesThoseAlone_data()
    {
        QTest::addColumn<QList<int>>("ids"); // articles to choose; the list holds 1 to 10
        QTest::addColumn<QList<int>>("chosen"); // the articles chosen afterwards
        QTest::addColumn<int>("first"); // the article handed back; 0 none
        QTest::newRow("one block") << QList<int> { 3, 4, 5 } << QList<int> { 3, 4, 5 } << 3;
        QTest::newRow("one row left out between")
            << QList<int> { 2, 4, 6 } << QList<int> { 2, 4, 6 } << 2;
        QTest::newRow("unsorted, with an article no longer listed")
            << QList<int> { 9, 11, 1, 8 } << QList<int> { 1, 8, 9 } << 1;
        QTest::newRow("first and last") << QList<int> { 10, 1 } << QList<int> { 1, 10 } << 1;
        QTest::newRow("none listed") << QList<int> { 12 } << QList<int> { 7 } << 0;
    }
    void selectArticlesChoosesThoseAlone()
    {
        QFETCH(QList<int>, ids);
        QFETCH(QList<int>, chosen);
        QFETCH(int, first);
        ItemListWidget list;
        list.setColumnCount(3);
        list.setSelectionMode(QAbstractItemView::ExtendedSelection);
        for (int id = 1; id <= 10; ++id)
            list.addTopLevelItem(plainRow(id));
        list.topLevelItem(6)->setSelected(true); // chosen before, not among them
        QSignalSpy changes(list.selectionModel(), &QItemSelectionModel::selectionChanged);

        QTreeWidgetItem *handed = list.selectArticles(ids);

        QList<int> selected;
        for (int row = 0; row < list.topLevelItemCount(); ++row) {
            if (list.topLevelItem(row)->isSelected())
                selected << list.topLevelItem(row)->data(0, ArticleIdRole).toInt();
        }
        QCOMPARE(selected, chosen);
        QCOMPARE(handed, first ? list.itemWithArticleId(first) : nullptr);
        QCOMPARE(changes.count(), first ? 1 : 0);
        if (first)
            QCOMPARE(list.currentItem(), handed);
    }

    // The lookup reads no row but the one it finds, however long the list.
    void lookupCostDoesNotGrowWithTheList()
    {
        ItemListWidget list;
        int reads = 0;
        QList<QTreeWidgetItem *> rows;
        for (int id = 1; id <= 20000; ++id)
            rows << new CountingRow(id, &reads);
        list.addTopLevelItems(rows);
        // The first lookup after the fill makes the index.
        QCOMPARE(list.itemWithArticleId(1), rows.first());
        reads = 0;
        for (int id = 1; id <= 20000; id += 97)
            QCOMPARE(list.itemWithArticleId(id), rows.at(id - 1));
        QCOMPARE(list.itemWithArticleId(20001), nullptr);
        QCOMPARE(reads, 0);
    }

    // The index over a long list takes a few bytes a row, not two allocations a row: it is
    // made during a round, and what it takes stays with the window for good.
    void indexTakesLittleMemoryPerRow()
    {
        ItemListWidget list;
        constexpr int rows = 100000;
        QList<QTreeWidgetItem *> items;
        for (int id = 1; id <= rows; ++id)
            items << plainRow(id);
        list.addTopLevelItems(items);
        const size_t before = heapInUse();
        QCOMPARE(list.itemWithArticleId(rows / 2), items.at(rows / 2 - 1));
        const double perRow = double(heapInUse() - before) / rows;
        QVERIFY2(perRow < 48, qPrintable(QStringLiteral("%1 bytes a row").arg(perRow)));
        // Rows added one by one after the fill fit into what the index took for them (what
        // is counted here is mostly the list's own array of rows).
        QList<QTreeWidgetItem *> added;
        for (int id = rows + 1; id <= rows + rows / 10; ++id)
            added << plainRow(id);
        const size_t filled = heapInUse();
        for (QTreeWidgetItem *item : qAsConst(added))
            list.insertTopLevelItem(0, item);
        QCOMPARE(list.itemWithArticleId(rows + 7), list.topLevelItem(rows / 10 - 7));
        const double addedPerRow = double(heapInUse() - filled) / (rows / 10);
        QVERIFY2(addedPerRow < 150, qPrintable(QStringLiteral("%1 bytes a row").arg(addedPerRow)));
    }
};

APP_TEST_MAIN(TestItemListWidget)
#include "test_itemlistwidget.moc"
