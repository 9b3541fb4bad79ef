// The summary columns an article keeps of its variations.
#include "core/database.h"
#include "core/variationrows.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QFile>

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
    QTest::addColumn<bool>("lastNotRead"); // the last variation's page of the file is damaged
    QTest::newRow("the lowest in the middle")
        << QStringList { "19.99", "5", "12.5" } << "1|5.00" << false;
    QTest::newRow("the lowest last") << QStringList { "30", "20", "10" } << "1|10.00" << false;
    QTest::newRow("all above a million")
        << QStringList { "2000000.5", "1500000", "1750000" } << "1|1500000.00" << false;
    QTest::newRow("one") << QStringList { "1234567.89" } << "1|1234567.89" << false;
    QTest::newRow("a free one") << QStringList { "4", "0" } << "1|0.00" << false;
    // Without variations the price stays as it was; the article is no variation article.
    QTest::newRow("none") << QStringList {} << "0|7.00" << false;
    // A row that could not be read stores no price of the rows before it.
    QTest::newRow("the last not read") << QStringList { "9", "8", "1" } << "1|7.00" << true;
}

void TestVariationRows::summary()
{
    QFETCH(QStringList, prices);
    QFETCH(QString, summary);
    QFETCH(bool, lastNotRead);
    APP_TEST_DATABASE(t);
    if (lastNotRead && t.db()->isMySQL)
        QSKIP("The server's files are not the program's");
    Database *db = t.db();
    const int article = db->insertSqlClean(
        { { "Title", "Hemd" }, { "HasVariation", 1 }, { "HasVariationMinPrice", 7.0 } },
        "articles");
    QVERIFY(article > 0);
    for (const QString &price : qAsConst(prices))
        QVERIFY(db->insertSqlClean({ { "article_id", article },
                                     { "StartPrice", price.toDouble() },
                                     { "SKU", QString(2500, price == prices.last() ? 'L' : 'x') } },
                                   "articles_variations")
                > 0);

    if (lastNotRead) {
        // The last variation's page damaged in place, read by a connection that has no page
        // of the file in its cache.
        const int pageSize = db->selectOne("PRAGMA page_size").value().toInt();
        QVERIFY(pageSize > 0 && db->checkpoint());
        QFile file(db->sqliteFile());
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 page = file.readAll().indexOf(QByteArray(2500, 'L')) / pageSize;
        QVERIFY(page > 0);
        QVERIFY(file.seek(page * pageSize) && file.write("\xff", 1) == 1 && file.flush());
        Database other(true, QStringLiteral("summaryOther"));
        QVERIFY(!VariationRows::writeSummary(&other, article));
    } else {
        QVERIFY(VariationRows::writeSummary(db, article));
    }
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
