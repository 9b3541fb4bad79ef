// Reads of the database that stop half-way through their rows are failed reads.
#include "core/database.h"
#include "tests/support/sqlitereadcut.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <functional>

class TestCutReads : public QObject
{
    Q_OBJECT
private slots:
    void reads_data();
    void reads();
    void occurrence();
};

namespace {

// What a read of `sql` yielded: whether it counted as complete, and how many rows it gave.
struct Outcome
{
    bool ok = false;
    int rows = 0;
};
using Reader = std::function<Outcome(Database *, const QString &sql)>;

} // namespace

Q_DECLARE_METATYPE(Reader)

void TestCutReads::reads_data()
{
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<int>("cutAfter"); // rows given before the cut, -1: not cut
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("rows"); // given when ok
    QTest::addColumn<int>("cuts");

    const Reader select = [](Database *db, const QString &sql) {
        const Read<SqlRows> rows = db->select(sql);
        return Outcome { rows.ok(), rows.ok() ? rows->size() : 0 };
    };
    const Reader count = [](Database *db, const QString &sql) {
        const Read<int> rows = db->selectCount(sql);
        return Outcome { rows.ok(), rows.orIfFailed(0) };
    };
    const Reader stepped = [](Database *db, const QString &sql) {
        QSqlQuery query;
        Outcome outcome;
        if (!db->selectQuery(sql, query))
            return outcome;
        while (query.next())
            ++outcome.rows;
        outcome.ok = db->rowsComplete(query);
        return outcome;
    };
    const Reader bound = [](Database *db, const QString &sql) {
        Database::BoundRows rows;
        const bool ok = db->execBound(sql + " AND id > ?", { 0 }, rows);
        return Outcome { ok, ok ? rows.count() : 0 };
    };
    const Reader first = [](Database *db, const QString &sql) {
        const Read<QString> value = db->selectOne(sql);
        return Outcome { value.ok(), value.ok() && !value->isEmpty() ? 1 : 0 };
    };

    QTest::newRow("rows, whole") << select << -1 << true << 5 << 0;
    QTest::newRow("rows, cut after the first") << select << 1 << false << 0 << 1;
    QTest::newRow("rows, cut before the last") << select << 4 << false << 0 << 1;
    QTest::newRow("count, cut") << count << 2 << false << 0 << 1;
    QTest::newRow("stepped, whole") << stepped << -1 << true << 5 << 0;
    QTest::newRow("stepped, cut") << stepped << 1 << false << 0 << 1;
    QTest::newRow("bound, cut") << bound << 3 << false << 0 << 1;
    QTest::newRow("bound, whole") << bound << -1 << true << 5 << 0;
    QTest::newRow("rows, cut before the first") << select << 0 << false << 0 << 1;
    QTest::newRow("first row, cut before it") << first << 0 << false << 0 << 1;
    // A read of its first row alone never asks for the row that is cut.
    QTest::newRow("first row") << first << 1 << true << 1 << 0;
    // Five rows: a cut after the fifth finds no further row to take.
    QTest::newRow("fewer rows than the cut") << select << 5 << true << 5 << 0;
}

void TestCutReads::reads()
{
    QFETCH(Reader, reader);
    QFETCH(int, cutAfter);
    QFETCH(bool, ok);
    QFETCH(int, rows);
    QFETCH(int, cuts);
    TestSupport::TestDatabase t(TestSupport::Backend::SQLite);
    QVERIFY2(t.error().isEmpty(), qPrintable(t.error()));
    Database *db = t.db();
    for (int i = 0; i < 5; ++i)
        QVERIFY(db->insertSqlClean({ { "Title", QString("Artikel %1").arg(i) } }, "articles") > 0);

    TestSupport::SqliteReadCut cut;
    cut.alsoOn(db->connection());
    if (cutAfter >= 0)
        cut.cutAfter("FROM articles WHERE Title LIKE", cutAfter);
    // Another read before it is not cut.
    QCOMPARE(db->selectCount("SELECT id FROM articles").orIfFailed(-1), 5);

    if (!ok)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("interrupted"));
    const Outcome outcome
        = reader(db, "SELECT id, Title FROM articles WHERE Title LIKE 'Artikel%'");
    QCOMPARE(outcome.ok, ok);
    if (ok)
        QCOMPARE(outcome.rows, rows);
    QCOMPARE(cut.cuts(), cuts);
    if (!ok)
        QVERIFY(!db->lastErrorText.isEmpty());
    // The connection reads on after the cut.
    QCOMPARE(db->selectCount("SELECT id FROM articles").orIfFailed(-1), 5);
}

void TestCutReads::occurrence()
{
    TestSupport::TestDatabase t(TestSupport::Backend::SQLite);
    QVERIFY2(t.error().isEmpty(), qPrintable(t.error()));
    Database *db = t.db();
    for (int i = 0; i < 3; ++i)
        QVERIFY(db->insertSqlClean({ { "Title", QString("Artikel %1").arg(i) } }, "articles") > 0);
    TestSupport::SqliteReadCut cut;
    cut.alsoOn(db->connection());
    cut.cutAfter("FROM articles", 2, 2);
    const QString sql = "SELECT id FROM articles";
    // The first such read passes whole; a read of two rows is not cut and does not count.
    QCOMPARE(db->selectCount(sql).orIfFailed(-1), 3);
    QCOMPARE(db->selectCount(sql + " WHERE id < 3").orIfFailed(-1), 2);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("interrupted"));
    QVERIFY(!db->selectCount(sql).ok());
    // Once cut, the next one reads whole; a connection opened afterwards gets the hooks too.
    QCOMPARE(db->selectCount(sql).orIfFailed(-1), 3);
    cut.cutAfter("FROM articles", 1);
    Database other(true, QStringLiteral("cutOther"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("interrupted"));
    QVERIFY(!other.selectCount(sql).ok());
    QCOMPARE(cut.cuts(), 2);
}

APP_TEST_GUILESS_MAIN(TestCutReads)
#include "test_cutreads.moc"
