// A drop whose reads of the local file are cut short after some rows: a read cut short is a
// failed read, never all the rows there are.
#include "core/database.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/sqlitereadcut.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistwidget.h"

#include <QMimeData>
#include <QTreeView>
#include <QTreeWidget>

#include <memory>

using TestSupport::MainWindowFixture;
using TestSupport::TableSnapshot;

namespace {

FolderModel *folderModel(const MainWindowFixture &window)
{
    return qobject_cast<FolderModel *>(window.treeView()->model());
}

int countOf(const FolderModel *model, int id)
{
    return model->findFolderWithId(id)->count;
}

} // namespace

class TestDropReads : public QObject
{
    Q_OBJECT
private slots:
    void drop_data();
    void drop();
};

void TestDropReads::drop_data()
{
    QTest::addColumn<int>("articles"); // dropped from "Artikelvorlagen" onto a folder
    QTest::addColumn<int>("occurrence"); // which group's read is cut after its first row
    QTest::newRow("one group") << 3 << 1;
    QTest::newRow("the second group") << FolderModel::kDropGroup + 2 << 2;
}

// The drop reads the articles it moves group by group; a group read cut after its first row
// would leave the rest behind as if they were gone. Nothing moves, the seller is told, and
// the window shows what is stored.
void TestDropReads::drop()
{
    QFETCH(int, articles);
    QFETCH(int, occurrence);
    TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database *db = data.db();
    const int folder = db->insertSqlClean(
        { { "foldername", "Werkzeug" }, { "folderparentid", -10 }, { "expand", 1 } }, "folders");
    QVERIFY(folder > 0);
    QStringList payload;
    for (int i = 0; i < articles; ++i)
        payload << QStringLiteral("%1|-10").arg(
            TestSupport::insertArticle(db, { { "Folder", -10 } }));
    // Before the window: its connections get the hook as they open.
    TestSupport::SqliteReadCut cut;
    DialogAnswers answers;
    MainWindowFixture window(data);
    FolderModel *model = folderModel(window);
    QVERIFY(window.showFolder(-10));
    QTRY_COMPARE(window.itemList()->topLevelItemCount(), articles);
    const int draftCount = countOf(model, -10);
    const int folderCount = countOf(model, folder);
    const TableSnapshot before = TableSnapshot::take(*db, QStringLiteral("articles"));

    cut.cutAfter("SELECT id, Folder, Trash, Title FROM articles WHERE id IN", 1, occurrence);
    auto mime = std::make_unique<QMimeData>();
    mime->setData(ItemListWidget::ArticleMimeType, payload.join(',').toUtf8());
    QVERIFY(model->dropMimeData(mime.get(), Qt::MoveAction, -1, -1,
                                model->indexOfNode(model->findFolderWithId(folder))));

    QCOMPARE(cut.cuts(), 1);
    const auto changes
        = TableSnapshot::diff(before, TableSnapshot::take(*db, QStringLiteral("articles")));
    QVERIFY2(changes.isEmpty(), qPrintable(TableSnapshot::describe(changes)));
    QTRY_COMPARE(answers.messages().size(), 1);
    QVERIFY2(answers.lastMessageText().startsWith("Die Änderung konnte nicht gespeichert werden"),
             qPrintable(answers.lastMessageText()));
    QTRY_COMPARE(window.itemList()->topLevelItemCount(), articles);
    QCOMPARE(countOf(model, -10), draftCount);
    QCOMPARE(countOf(model, folder), folderCount);
}

APP_TEST_MAIN(TestDropReads)
#include "test_dropreads.moc"
