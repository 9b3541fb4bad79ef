#include "core/updateoffer.h"
#include "tests/support/testmain.h"

class TestUpdateOffer : public QObject
{
    Q_OBJECT

private slots:
    void isNewer_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("newer");
        QTest::newRow("newer patch") << "3.1.9" << true;
        QTest::newRow("newer minor, fewer parts") << "3.2" << true;
        QTest::newRow("newer, numbers not text") << "3.1.10" << true;
        QTest::newRow("with blanks around") << " 4.0.0\n" << true;
        QTest::newRow("same") << "3.1.8" << false;
        QTest::newRow("same with a trailing zero") << "3.1.8.0" << false;
        QTest::newRow("older") << "3.1.7" << false;
        QTest::newRow("older major") << "2.9.9" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("error page") << "<html>503 Service Unavailable</html>" << false;
        QTest::newRow("number with garbage after it") << "9.0.0-beta" << false;
        QTest::newRow("text before it") << "v9.0" << false;
        QTest::newRow("negative") << "-9.0" << false;
        QTest::newRow("too many parts") << "9.0.0.0.1" << false;
        QTest::newRow("huge number") << "99999999999999999999" << false;
    }
    void isNewer()
    {
        QFETCH(QString, offered);
        QFETCH(bool, newer);
        QCOMPARE(UpdateOffer::isNewer(QStringLiteral("3.1.8"), offered), newer);
        // An installed version that doesn't parse never sees an update either.
        QVERIFY(!UpdateOffer::isNewer(QStringLiteral("unbekannt"), offered));
    }

    void downloadAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("opened"); // empty: nothing is opened
        QTest::newRow("https") << "https://server.example/zerire3.deb"
                               << "https://server.example/zerire3.deb";
        QTest::newRow("http, upper-case scheme") << "HTTP://server.example/a.deb"
                                                 << "http://server.example/a.deb";
        QTest::newRow("local file") << "file:///tmp/setup.sh"
                                    << "";
        QTest::newRow("script") << "javascript:alert(1)"
                                << "";
        QTest::newRow("ftp") << "ftp://server.example/a.deb"
                             << "";
        QTest::newRow("no host") << "https:///a.deb"
                                 << "";
        QTest::newRow("relative") << "/a.deb"
                                  << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void downloadAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, opened);
        QCOMPARE(UpdateOffer::downloadAddress(text).toString(), opened);
    }
};

APP_TEST_GUILESS_MAIN(TestUpdateOffer)
#include "test_updateoffer.moc"
