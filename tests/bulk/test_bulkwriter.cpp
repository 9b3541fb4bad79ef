// The write loop under every bulk edit: which ids reach a statement, and how failures count.
#include "bulk/bulkwriter.h"
#include "core/database.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

class TestBulkWriter : public QObject
{
    Q_OBJECT

private slots:
    void articleIds_data();
    void articleIds();
    void writesEachArticleOnce();
};

void TestBulkWriter::articleIds_data()
{
    QTest::addColumn<QString>("idList");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("plain") << "12,7,30" << QStringList { "12", "7", "30" };
    QTest::newRow("empty list") << "" << QStringList();
    QTest::newRow("empty parts") << "4,,5," << QStringList { "4", "5" };
    QTest::newRow("not a number never reaches SQL")
        << "3,1 OR 1=1,4;DELETE FROM articles,0x10" << QStringList { "3" };
    QTest::newRow("zero and negative") << "0,-2,9" << QStringList { "9" };
}

void TestBulkWriter::articleIds()
{
    QFETCH(QString, idList);
    QFETCH(QStringList, ids);
    QCOMPARE(BulkWriter::articleIds(idList), ids);
}

// Articles with an empty record get no statement; a missing article is no failure; a
// refused statement is counted with its text and the loop goes on.
void TestBulkWriter::writesEachArticleOnce()
{
    TestSupport::TestDatabase t(TestSupport::Backend::SQLite);
    QVERIFY2(t.error().isEmpty(), qPrintable(t.error()));
    Database *db = t.db();
    QVERIFY(db->executeSQL("INSERT INTO articles (id, Title) VALUES (1, 'a'), (2, 'b'), (3, 'c')"));
    QVERIFY(db->executeSQL("CREATE TRIGGER refuse BEFORE UPDATE ON articles WHEN OLD.id = 3 "
                           "BEGIN SELECT RAISE(ABORT, 'nein'); END"));
    QList<int> progress;
    const auto result = BulkWriter::write(
        *db, { "1", "2", "3", "99" },
        [](const QString &id) {
            return id == "2" ? QMap<QString, QVariant>()
                             : QMap<QString, QVariant> { { "Title", "neu " + id } };
        },
        [&progress](int done) { progress << done; });
    QCOMPARE(progress, (QList<int> { 0, 1, 2, 3, 4 }));
    QCOMPARE(result.total, 4);
    QCOMPARE(result.written, 2); // 1 and the missing 99
    QCOMPARE(result.failed, 1);
    QVERIFY2(result.error.contains("nein"), qPrintable(result.error));
    QCOMPARE(db->selectOne("SELECT group_concat(Title, '|') FROM articles ORDER BY id"),
             QString("neu 1|b|c"));
}

APP_TEST_GUILESS_MAIN(TestBulkWriter)
#include "test_bulkwriter.moc"
