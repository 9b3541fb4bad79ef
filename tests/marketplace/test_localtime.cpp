// Marketplace times (UTC) as the program keeps them, in local time: across the changes to and
// from summer time, in a zone whose offset has half hours, and when the zone changes between
// two rounds.

#include "marketplace/itemmapping.h"
#include "tests/support/testmain.h"

#include <QDateTime>
#include <QtTest>

#include <time.h>

namespace {

void useTimeZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
}

} // namespace

class TestLocalTime : public QObject
{
    Q_OBJECT

private:
    QByteArray m_zoneBefore;
    bool m_hadZone = false;

private slots:
    void initTestCase()
    {
        m_hadZone = qEnvironmentVariableIsSet("TZ");
        m_zoneBefore = qgetenv("TZ");
    }
    void cleanupTestCase()
    {
        if (m_hadZone)
            useTimeZone(m_zoneBefore);
        else
            qunsetenv("TZ");
        tzset();
    }

    void localText_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("marketplace");
        QTest::addColumn<QString>("local");
        const QByteArray berlin("Europe/Berlin");
        const QByteArray stJohns("America/St_Johns");
        QTest::newRow("winter") << berlin << "2026-01-01T09:00:00.000Z"
                                << "2026-01-01 10:00:00";
        QTest::newRow("summer") << berlin << "2026-07-01T09:00:00.000Z"
                                << "2026-07-01 11:00:00";
        QTest::newRow("last moment of winter time") << berlin << "2026-03-29T00:59:59.999Z"
                                                    << "2026-03-29 01:59:59";
        QTest::newRow("first moment of summer time") << berlin << "2026-03-29T01:00:00.000Z"
                                                     << "2026-03-29 03:00:00";
        QTest::newRow("last moment of summer time") << berlin << "2026-10-25T00:59:59.000Z"
                                                    << "2026-10-25 02:59:59";
        QTest::newRow("winter time again") << berlin << "2026-10-25T01:00:00.000Z"
                                           << "2026-10-25 02:00:00";
        QTest::newRow("with an offset of its own") << berlin << "2026-01-01T10:00:00+01:00"
                                                   << "2026-01-01 10:00:00";
        QTest::newRow("without a time zone: local time") << berlin << "2026-07-01T11:00:00"
                                                         << "2026-07-01 11:00:00";
        QTest::newRow("before 1970") << berlin << "1969-12-31T23:30:00Z"
                                     << "1970-01-01 00:30:00";
        QTest::newRow("half hours, winter") << stJohns << "2026-03-08T05:29:59.000Z"
                                            << "2026-03-08 01:59:59";
        QTest::newRow("half hours, summer changes at half past")
            << stJohns << "2026-03-08T05:30:00.000Z"
            << "2026-03-08 03:00:00";
        QTest::newRow("UTC") << QByteArray("Etc/UTC") << "2026-07-01T09:00:00.000Z"
                             << "2026-07-01 09:00:00";
    }
    void localText()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, marketplace);
        QFETCH(QString, local);
        useTimeZone(zone);
        ItemMapping::forgetLocalOffsets();
        const QDateTime time = QDateTime::fromString(marketplace, Qt::ISODateWithMs);
        QVERIFY(time.isValid());
        // The same as converting each date on its own, the first time and when kept.
        const QString converted
            = time.toUTC().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(converted, local);
        QCOMPARE(ItemMapping::localTimeText(time), local);
        QCOMPARE(ItemMapping::localTimeText(time.addSecs(1).addSecs(-1)), local);
    }

    // A round after the time zone changed reads with the new one.
    void zoneChangedBetweenRounds()
    {
        const QDateTime time
            = QDateTime::fromString(QStringLiteral("2026-07-01T09:00:00Z"), Qt::ISODate);
        useTimeZone("Europe/Berlin");
        ItemMapping::forgetLocalOffsets();
        QCOMPARE(ItemMapping::localTimeText(time), QStringLiteral("2026-07-01 11:00:00"));
        useTimeZone("America/St_Johns");
        ItemMapping::forgetLocalOffsets();
        QCOMPARE(ItemMapping::localTimeText(time), QStringLiteral("2026-07-01 06:30:00"));
    }
};

APP_TEST_GUILESS_MAIN(TestLocalTime)
#include "test_localtime.moc"
