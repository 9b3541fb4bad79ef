#include "core/newsitem.h"
#include "tests/support/testmain.h"

class TestNewsItem : public QObject
{
    Q_OBJECT
private slots:
    void cleanTextInfo_data();
    void cleanTextInfo();
    void imageUrl_data();
    void imageUrl();
    void copyFromCopiesEveryField();
    void travelsThroughQueuedSignals();
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
    QTest::newRow("mixed") << "a\r\n\r\nb\n"
                           << "a, , b, ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestNewsItem::cleanTextInfo()
{
    QFETCH(QString, textinfo);
    QFETCH(QString, clean);
    NewsItem item;
    item.textinfo = textinfo;
    QCOMPARE(item.GetCleanTextInfo(), clean);
}

void TestNewsItem::imageUrl_data()
{
    QTest::addColumn<QString>("infotype");
    QTest::addColumn<QString>("url");
    QTest::newRow("newarticle") << "newarticle"
                                << ":/buttons/images/add.png";
    QTest::newRow("sellcount") << "sellcount"
                               << ":/buttons/images/price-tag.png";
    for (const char *type :
         { "planning_add_fail", "error", "end_fail", "articlecheck_fail", "articleadd_fail" })
        QTest::newRow(type) << type << ":/buttons/images/error.png";
    QTest::newRow("watcherneg") << "watcherneg"
                                << ":/buttons/images/binoculars.png";
    QTest::newRow("bidneg") << "bidneg"
                            << ":/buttons/images/mace.png";
    QTest::newRow("message") << "message"
                             << ":/buttons/images/chat.png";
    QTest::newRow("articlecheck_success") << "articlecheck_success"
                                          << ":/buttons/images/notes.png";
    QTest::newRow("articleadd_success") << "articleadd_success"
                                        << ":/buttons/images/ebaybag.png";
    QTest::newRow("success") << "success"
                             << ":/buttons/images/checked.png";
    QTest::newRow("progress") << "progress"
                              << ":/buttons/images/TimeTracking-Flat-150.png";
    QTest::newRow("update") << "update"
                            << ":/buttons/images/info.png";
    QTest::newRow("planning_add_success") << "planning_add_success"
                                          << ":/buttons/images/Calendar-Flat-33.png";
    QTest::newRow("newmessage has none") << "newmessage"
                                         << "";
    QTest::newRow("removeitem has none") << "removeitem"
                                         << "";
    QTest::newRow("case matters") << "Error"
                                  << "";
}

void TestNewsItem::imageUrl()
{
    QFETCH(QString, infotype);
    QFETCH(QString, url);
    NewsItem item;
    item.infotype = infotype;
    QCOMPARE(item.GetImageUrl(), url);
    // Every icon the activity list can ask for is compiled in.
    if (!url.isEmpty())
        QVERIFY2(QFile::exists(url), qPrintable(url));
}

void TestNewsItem::copyFromCopiesEveryField()
{
    NewsItem source;
    source.id = 7;
    source.indate = QDateTime(QDate(2026, 12, 6), QTime(10, 11, 12));
    source.itemid = QStringLiteral("110012345678");
    source.title = QStringLiteral("Uhr|||3");
    source.price = 12.5;
    source.pricetype = 2;
    source.textinfo = QStringLiteral("(−7,42)");
    source.infotype = QStringLiteral("sellcount");
    source.databaseid = 42;

    NewsItem copy;
    copy.CopyFrom(source);
    QCOMPARE(copy.id, 7);
    QCOMPARE(copy.indate, source.indate);
    QCOMPARE(copy.itemid, source.itemid);
    QCOMPARE(copy.title, source.title);
    QCOMPARE(copy.price, 12.5);
    QCOMPARE(copy.pricetype, 2);
    QCOMPARE(copy.textinfo, source.textinfo);
    QCOMPARE(copy.infotype, source.infotype);
    QCOMPARE(copy.databaseid, 42);
}

class NewsSender : public QObject
{
    Q_OBJECT
signals:
    void sendaddNewsItem(NewsItem item);
};

void TestNewsItem::travelsThroughQueuedSignals()
{
    qRegisterMetaType<NewsItem>("NewsItem");
    NewsSender sender;
    NewsItem received;
    QObject context;
    connect(
        &sender, &NewsSender::sendaddNewsItem, &context,
        [&received](const NewsItem &item) { received = item; }, Qt::QueuedConnection);
    NewsItem item;
    item.id = 3;
    item.infotype = QStringLiteral("newarticle");
    emit sender.sendaddNewsItem(item);
    QCOMPARE(received.id, 0);
    QTRY_COMPARE(received.id, 3);
    QCOMPARE(received.infotype, QStringLiteral("newarticle"));
}

APP_TEST_GUILESS_MAIN(TestNewsItem)
#include "test_newsitem.moc"
