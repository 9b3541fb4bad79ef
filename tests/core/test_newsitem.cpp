#include "core/newsitem.h"
#include "tests/support/testmain.h"

class TestNewsItem : public QObject
{
    Q_OBJECT
private slots:
    void cleanTextInfo_data();
    void cleanTextInfo();
    void imageUrl();
};

void TestNewsItem::cleanTextInfo_data()
{
    QTest::addColumn<QString>("textinfo");
    QTest::addColumn<QString>("clean");
    QTest::newRow("plain") << "wird gerade bearbeitet..."
                           << "wird gerade bearbeitet...";
    QTest::newRow("crlf is one break") << "a\r\nb"
                                       << "a, b";
    QTest::newRow("lone cr and lf") << "a\rb\nc"
                                    << "a, b, c";
}

void TestNewsItem::cleanTextInfo()
{
    QFETCH(QString, textinfo);
    QFETCH(QString, clean);
    NewsItem item;
    item.textinfo = textinfo;
    QCOMPARE(item.GetCleanTextInfo(), clean);
}

// An icon that exists for a known type, none for others (the type is compared exactly).
void TestNewsItem::imageUrl()
{
    NewsItem item;
    item.infotype = QStringLiteral("sellcount");
    QCOMPARE(item.GetImageUrl(), QStringLiteral(":/buttons/images/price-tag.png"));
    QVERIFY(QFile::exists(item.GetImageUrl()));
    for (const char *none : { "newmessage", "Sellcount" }) {
        item.infotype = QLatin1String(none);
        QVERIFY2(item.GetImageUrl().isEmpty(), none);
    }
}

APP_TEST_GUILESS_MAIN(TestNewsItem)
#include "test_newsitem.moc"
