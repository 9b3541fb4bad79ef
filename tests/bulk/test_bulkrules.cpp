// The rules under the bulk edits: which ids reach a statement, how failures count, and how
// price and quantity entries are read.
#include "bulk/bulkwriter.h"
#include "bulk/pricechange.h"
#include "core/database.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

class TestBulkRules : public QObject
{
    Q_OBJECT

private slots:
    void articleIds_data();
    void articleIds();
    void writesEachArticleOnce();
    void priceEntries_data();
    void priceEntries();
};

void TestBulkRules::articleIds_data()
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

void TestBulkRules::articleIds()
{
    QFETCH(QString, idList);
    QFETCH(QStringList, ids);
    QCOMPARE(BulkWriter::articleIds(idList), ids);
}

// Articles with an empty record get no statement; a missing article is no failure; a
// refused statement is counted with its text and the loop goes on.
void TestBulkRules::writesEachArticleOnce()
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

void TestBulkRules::priceEntries_data()
{
    using F = PriceChange::Field;
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("read"); // kind and number, or the refusal
    const auto row = [](const char *name, const QString &entry, F field, const QString &read) {
        QTest::newRow(name) << entry << int(field) << read;
    };
    row("set", "15", F::Price, "set 15");
    row("percent up", "+10%", F::Price, "up 10");
    row("percent down", "-10%", F::Price, "down 10");
    row("add, German comma", "+2,5", F::Price, "add 2.5");
    row("thousands point", "1.234,50", F::Price, "set 1234.5");
    row("English thousands comma", "1,234.50", F::Price, "set 1234.5");
    row("currency and German marks", "+1.234,50 €", F::Price, "add 1234.5");
    row("ambiguous point groups thousands", "1.234", F::Price, "set 1234");
    row("quantity with thousands point", "1.000", F::Whole, "set 1000");
    row("marks in an impossible order", "1,2.3,4", F::Price, "NotANumber");
    row("plus first: adding a negative", "+-3", F::Price, "add -3");
    row("blanks around", " 7,90 ", F::Price, "set 7.9");
    row("percent without sign", "10%", F::Price, "PercentWithoutSign");
    row("empty", "", F::Price, "NotANumber");
    row("statement text", "5 WHERE 1=1", F::Price, "NotANumber");
    row("quote", "5'", F::Price, "NotANumber");
    row("exponent", "1e5", F::Price, "NotANumber");
    row("vat", "7,5", F::Vat, "set 7.5");
    row("vat with percent", "19%", F::Vat, "SignInVat");
    row("vat with sign", "+1", F::Vat, "SignInVat");
    row("quantity", "3", F::Whole, "set 3");
    row("quantity down", "-5", F::Whole, "sub 5");
    row("quantity up", "+2", F::Whole, "add 2");
    row("quantity with decimals", "2,5", F::Whole, "NotANumber");
    row("quantity percent", "+5%", F::Whole, "NotANumber");
    row("quantity text", "zwei", F::Whole, "NotANumber");
}

void TestBulkRules::priceEntries()
{
    QFETCH(QString, entry);
    QFETCH(int, field);
    QFETCH(QString, read);
    PriceChange change;
    const auto error = PriceChange::parse(entry, PriceChange::Field(field), &change);
    static const char *const errors[] = { "", "PercentWithoutSign", "SignInVat", "NotANumber" };
    static const char *const kinds[] = { "set", "add", "sub", "up", "down" };
    const QString got = error == PriceChange::Error::None
        ? QString::fromLatin1(kinds[int(change.kind)]) + ' ' + change.number
        : QString::fromLatin1(errors[int(error)]);
    QCOMPARE(got, read);
}

APP_TEST_GUILESS_MAIN(TestBulkRules)
#include "test_bulkrules.moc"
