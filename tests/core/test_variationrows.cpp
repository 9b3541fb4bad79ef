// The summary columns an article keeps of its variations.
#include "core/database.h"
#include "core/variationrows.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

class TestVariationRows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void summary_data();
    void summary();
};

void TestVariationRows::summary_data()
{
    QTest::addColumn<QStringList>("prices"); // of the article's variations, in id order
    QTest::addColumn<QString>("summary"); // HasVariation|HasVariationMinPrice afterwards
    QTest::newRow("the lowest in the middle") << QStringList { "19.99", "5", "12.5" } << "1|5.00";
    QTest::newRow("the lowest last") << QStringList { "30", "20", "10" } << "1|10.00";
    QTest::newRow("all above a million")
        << QStringList { "2000000.5", "1500000", "1750000" } << "1|1500000.00";
    QTest::newRow("one") << QStringList { "1234567.89" } << "1|1234567.89";
    QTest::newRow("a free one") << QStringList { "4", "0" } << "1|0.00";
    // Without variations the price stays as it was; the article is no variation article.
    QTest::newRow("none") << QStringList {} << "0|7.00";
}

void TestVariationRows::summary()
{
    QFETCH(QStringList, prices);
    QFETCH(QString, summary);
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int article = db->insertSqlClean(
        { { "Title", "Hemd" }, { "HasVariation", 1 }, { "HasVariationMinPrice", 7.0 } },
        "articles");
    QVERIFY(article > 0);
    for (const QString &price : qAsConst(prices))
        QVERIFY(
            db->insertSqlClean({ { "article_id", article }, { "StartPrice", price.toDouble() } },
                               "articles_variations")
            > 0);

    QVERIFY(VariationRows::writeSummary(db, article));
    const ArticleRow row
        = db->select("SELECT HasVariation, HasVariationMinPrice FROM articles WHERE id="
                     + QString::number(article))
              .value()
              .value(0);
    QCOMPARE(QString("%1|%2")
                 .arg(row.value("HasVariation").toInt())
                 .arg(row.value("HasVariationMinPrice").toDouble(), 0, 'f', 2),
             summary);
}

APP_TEST_GUILESS_MAIN(TestVariationRows)
#include "test_variationrows.moc"
