// The rules under the bulk edits: which ids reach a statement, how failures count, how
// price and quantity entries are read and what they make of each article's value.
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
    void writesWholeOrNothing_data();
    void writesWholeOrNothing();
    void priceEntries_data();
    void priceEntries();
    void priceResults_data();
    void priceResults();
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

void TestBulkRules::writesWholeOrNothing_data()
{
    QTest::addColumn<QString>("refuse"); // trigger condition; empty: none
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("titles");
    QTest::addColumn<QList<int>>("progress");
    // "Abbrechen": the stop asked for at its n-th question (0: never).
    QTest::addColumn<int>("stopAt");
    // Articles with an empty record get no statement; a missing article is no failure.
    QTest::newRow("stored whole") << "" << 4 << 0 << "neu 1|b|neu 3|neu 4"
                                  << QList<int> { 0, 2, 4, 5 } << 0;
    // A refused statement is counted with its text and the others are still tried, so the
    // seller reads how many; nothing of the command is kept.
    QTest::newRow("one refused keeps nothing")
        << "OLD.id = 3" << 3 << 1 << "a|b|c|d" << QList<int> { 0, 2, 4 } << 0;
    QTest::newRow("two refused keep nothing")
        << "OLD.id IN (1, 4)" << 2 << 2 << "a|b|c|d" << QList<int> { 0, 2, 4 } << 0;
    // Stopped between two steps, or after the last one before the commit: nothing is kept.
    QTest::newRow("stopped between steps")
        << "" << 2 << 0 << "a|b|c|d" << QList<int> { 0 } << 2;
    QTest::newRow("stopped before the commit")
        << "" << 4 << 0 << "a|b|c|d" << QList<int> { 0, 2, 4 } << 4;
}

void TestBulkRules::writesWholeOrNothing()
{
    QFETCH(QString, refuse);
    QFETCH(int, written);
    QFETCH(int, failed);
    QFETCH(QString, titles);
    QFETCH(QList<int>, progress);
    QFETCH(int, stopAt);
    TestSupport::TestDatabase t(TestSupport::Backend::SQLite);
    QVERIFY2(t.error().isEmpty(), qPrintable(t.error()));
    Database *db = t.db();
    QVERIFY(db->executeSQL(
        "INSERT INTO articles (id, Title) VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')"));
    if (!refuse.isEmpty())
        QVERIFY(db->executeSQL("CREATE TRIGGER refuse BEFORE UPDATE ON articles WHEN " + refuse
                               + " BEGIN SELECT RAISE(ABORT, 'nein'); END"));
    QList<int> steps;
    const QStringList ids { "1", "2", "3", "99", "4" };
    int records = 0;
    int asked = 0;
    const auto result = BulkWriter::run(
        *db, ids, 2,
        [&](const QStringList &step, BulkWriter::Result &run) {
            for (const QString &id : step) {
                ++records;
                if (id == "2")
                    continue;
                if (db->updateSqlClean({ { "Title", "neu " + id } }, "articles", "id=" + id))
                    ++run.written;
                else if (!BulkWriter::failed(*db, run))
                    return false;
            }
            return true;
        },
        [&steps](int done) { steps << done; }, BulkWriter::Check(),
        [&asked, stopAt] { return ++asked == stopAt; });
    QCOMPARE(result.cancelled, stopAt > 0);
    if (stopAt > 0) {
        QVERIFY(!result.stored() && !result.unknown());
        QCOMPARE(titles, db->selectOne("SELECT group_concat(Title, '|') FROM (SELECT Title FROM "
                                       "articles ORDER BY id)")
                             .value());
        QCOMPARE(steps, progress);
        QVERIFY(!db->inTransaction());
        return;
    }
    QCOMPARE(records, 5);
    QCOMPARE(result.total, 5);
    QCOMPARE(result.written, written); // the missing 99 counts: its statement ran
    QCOMPARE(result.failed, failed);
    QCOMPARE(result.stored(), failed == 0);
    if (failed > 0) {
        QCOMPARE(int(result.outcome), int(Database::Outcome::Refused));
        QVERIFY2(result.error.contains("nein"), qPrintable(result.error));
    }
    QCOMPARE(db->selectOne("SELECT group_concat(Title, '|') FROM (SELECT Title FROM articles "
                           "ORDER BY id)")
                 .value(),
             titles);
    QCOMPARE(steps, progress);
    // The connection is free for the next command.
    QVERIFY(!db->inTransaction());
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
    row("plus first: adding a negative", "+-3", F::Price, "MisplacedSign");
    row("blanks around", " 7,90 ", F::Price, "set 7.9");
    row("percent without sign", "10%", F::Price, "PercentWithoutSign");
    row("empty", "", F::Price, "NotANumber");
    row("statement text", "5 WHERE 1=1", F::Price, "NotANumber");
    row("quote", "5'", F::Price, "NotANumber");
    row("exponent", "1e5", F::Price, "NotANumber");
    row("price at the maximum", "999.999,99", F::Price, "set 999999.99");
    row("price above the maximum", "1.000.000", F::Price, "TooLarge");
    row("amount above the maximum", "+9999999999999", F::Price, "TooLarge");
    row("quantity above the maximum", "1000000000", F::Whole, "TooLarge");
    row("vat", "7,5", F::Vat, "set 7.5");
    row("vat with percent", "19%", F::Vat, "SignInVat");
    row("vat with sign", "+1", F::Vat, "SignInVat");
    row("quantity", "3", F::Whole, "set 3");
    row("quantity down", "-5", F::Whole, "sub 5");
    row("quantity up", "+2", F::Whole, "add 2");
    row("quantity with decimals", "2,5", F::Whole, "NotANumber");
    row("quantity percent", "+5%", F::Whole, "NotANumber");
    row("quantity text", "zwei", F::Whole, "NotANumber");
    // A price is read as the editor's price box reads it: cents at most, signs only first.
    row("realistic price", "12345,67", F::Price, "set 12345.67");
    row("three decimals", "12,345", F::Price, "TooManyDecimals");
    row("a tenth of a cent", "0,001", F::Price, "TooManyDecimals");
    row("zeros after the cents", "12,500", F::Price, "set 12.5");
    row("amount with three decimals", "+0,005", F::Price, "TooManyDecimals");
    row("amount at the maximum", "-999.999,99", F::Price, "sub 999999.99");
    row("plus first", "+5", F::Price, "add 5");
    row("minus first", "-5", F::Price, "sub 5");
    row("plus inside", "5+5", F::Price, "MisplacedSign");
    row("minus inside", "10-2", F::Price, "MisplacedSign");
    row("sign last", "5-", F::Price, "MisplacedSign");
    row("percent inside", "+5%0", F::Price, "MisplacedSign");
    row("percent with three decimals", "+2,125%", F::Price, "up 2.125");
    row("quantity plus inside", "5+5", F::Whole, "MisplacedSign");
    row("vat with sign inside", "1-9", F::Vat, "SignInVat");
}

void TestBulkRules::priceEntries()
{
    QFETCH(QString, entry);
    QFETCH(int, field);
    QFETCH(QString, read);
    PriceChange change;
    const auto error = PriceChange::parse(entry, PriceChange::Field(field), &change);
    static const char *const errors[]
        = { "",         "PercentWithoutSign", "SignInVat",    "NotANumber",
            "TooLarge", "TooManyDecimals",    "MisplacedSign" };
    static const char *const kinds[] = { "set", "add", "sub", "up", "down" };
    const QString got = error == PriceChange::Error::None
        ? QString::fromLatin1(kinds[int(change.kind)]) + ' ' + change.number
        : QString::fromLatin1(errors[int(error)]);
    QCOMPARE(got, read);
}

void TestBulkRules::priceResults_data()
{
    using F = PriceChange::Field;
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("field");
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("value"); // written, or the refusal
    const auto row
        = [](const char *name, const QString &entry, F field, double stored, const QString &value) {
              QTest::newRow(name) << entry << int(field) << stored << value;
          };
    row("percent up", "+10%", F::Price, 10, "11.00");
    row("percent up of what was raised", "+10%", F::Price, 11, "12.10");
    row("percent up, cents as written", "+10%", F::Price, 19.99, "21.99");
    row("percent up, half a cent up", "+10%", F::Price, 10.05, "11.06");
    row("percent with decimals", "+2,5%", F::Price, 20, "20.50");
    row("percent down", "-10%", F::Price, 20, "18.00");
    row("add", "+2,5", F::Price, 20, "22.50");
    row("subtract", "-0,01", F::Price, 0.01, "0.00");
    row("set keeps the number", "15", F::Price, 20, "15");
    row("set ignores the stored value", "15", F::Price, -3, "15");
    row("subtract below zero", "-25", F::Price, 20, "Negative");
    row("percent down below zero", "-150%", F::Price, 20, "Negative");
    row("adding a negative below zero", "+-3", F::Price, 2, "refused");
    row("realistic add", "+0,01", F::Price, 12345.67, "12345.68");
    row("realistic percent down", "-5%", F::Price, 12345.67, "11728.39");
    row("realistic subtract", "-12345,66", F::Price, 12345.67, "0.01");
    row("add above the maximum", "+0,01", F::Price, 999999.99, "TooLarge");
    row("percent above the maximum", "+100%", F::Price, 500000, "TooLarge");
    row("stored beyond any price", "+1", F::Price, 1e300, "TooLarge");
    row("vat", "19", F::Vat, 7, "19");
    row("quantity set", "3", F::Whole, 5, "3");
    row("quantity up", "+2", F::Whole, 3, "5");
    row("quantity down to zero", "-3", F::Whole, 3, "0");
    row("quantity below zero", "-5", F::Whole, 3, "Negative");
    row("quantity above the maximum", "+1", F::Whole, 999999999, "TooLarge");
}

// Each article's new value is computed from its own stored value and written as a value.
void TestBulkRules::priceResults()
{
    QFETCH(QString, entry);
    QFETCH(int, field);
    QFETCH(double, stored);
    QFETCH(QString, value);
    PriceChange change;
    const PriceChange::Error read = PriceChange::parse(entry, PriceChange::Field(field), &change);
    // "refused": the entry itself is not taken, so no article's value is changed by it.
    if (value == "refused") {
        QVERIFY(read != PriceChange::Error::None);
        return;
    }
    QCOMPARE(read, PriceChange::Error::None);
    QString made;
    static const char *const refusals[] = { "", "Negative", "TooLarge" };
    const PriceChange::Value result = change.apply(stored, &made);
    QCOMPARE(result == PriceChange::Value::Ok ? made : QString::fromLatin1(refusals[int(result)]),
             value);
}

APP_TEST_GUILESS_MAIN(TestBulkRules)
#include "test_bulkrules.moc"
