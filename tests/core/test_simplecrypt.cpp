#include "core/simplecrypt.h"
#include "tests/support/testmain.h"

#include <QSet>

namespace {
const unsigned long long kKey = 0x5e17a0c4d29b3f68ULL;

QString encoded(const QByteArray &data)
{
    return QString::fromLatin1(data.toBase64());
}
} // namespace

class TestSimpleCrypt : public QObject
{
    Q_OBJECT
private slots:
    void roundTripAndDamage_data();
    void roundTripAndDamage();
    void foreignInputGivesEmpty_data();
    void foreignInputGivesEmpty();
};

void TestSimpleCrypt::roundTripAndDamage_data()
{
    QTest::addColumn<QString>("plain");
    QTest::newRow("ascii") << "geheim123!";
    QTest::newRow("umlauts") << QStringLiteral("Größe Übermaß äöüß ÄÖÜ");
    QTest::newRow("emoji") << QStringLiteral("pw 🔑🐧 ende");
    QTest::newRow("quotes, backslash, breaks") << "a'b\"c\\d;e\nf\r\n";
    QTest::newRow("compressed") << QString(3000, QLatin1Char('a'));
}

void TestSimpleCrypt::roundTripAndDamage()
{
    QFETCH(QString, plain);
    SimpleCrypt crypt(kKey);
    QSet<QString> results;
    for (int i = 0; i < 16; ++i) {
        const QString scrambled = crypt.encryptToString(plain);
        // A separate instance with the same key reads it (as the next program start would).
        QCOMPARE(SimpleCrypt(kKey).decryptToString(scrambled), plain);
        results.insert(scrambled);
    }
    // A random byte makes two results for one text differ (256 values: 16 draws give
    // far more than 8 distinct ones).
    QVERIFY2(results.size() >= 8, QByteArray::number(results.size()));

    const QString scrambled = *results.cbegin();
    const QByteArray data = QByteArray::fromBase64(scrambled.toLatin1());
    for (int i = 0; i < data.size(); ++i) {
        for (const quint8 change : { 0x01, 0x80, 0xff }) {
            QByteArray damaged = data;
            damaged[i] = char(quint8(damaged.at(i)) ^ change);
            QVERIFY2(crypt.decryptToString(encoded(damaged)).isEmpty(),
                     qPrintable(QStringLiteral("byte %1 ^ %2").arg(i).arg(change)));
        }
        QVERIFY2(crypt.decryptToString(encoded(data.left(i))).isEmpty(),
                 qPrintable(QString::number(i)));
    }
    QVERIFY(crypt.decryptToString(encoded(data + 'x')).isEmpty());
    for (const unsigned long long key : { kKey ^ 1ULL, kKey ^ (1ULL << 63), 0ULL, ~kKey })
        QVERIFY2(SimpleCrypt(key).decryptToString(scrambled).isEmpty(),
                 qPrintable(QString::number(key, 16)));
}

void TestSimpleCrypt::foreignInputGivesEmpty_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain text") << "geheim";
    QTest::newRow("not base64") << "!!!$$$%%%";
    QTest::newRow("umlauts") << QStringLiteral("ÄÖÜäöü");
    QTest::newRow("base64 of garbage") << encoded("this is no scrambled value at all");
    QTest::newRow("version byte and garbage") << encoded("\x01 this is not scrambled either");
    QTest::newRow("zero bytes") << encoded(QByteArray(40, '\0'));
    QTest::newRow("padding only") << "====";
}

void TestSimpleCrypt::foreignInputGivesEmpty()
{
    QFETCH(QString, input);
    QCOMPARE(SimpleCrypt(kKey).decryptToString(input), QString());
    if (input.isEmpty()) // and nothing scrambles to nothing
        QCOMPARE(SimpleCrypt(kKey).encryptToString(input), QString());
}

APP_TEST_GUILESS_MAIN(TestSimpleCrypt)
#include "test_simplecrypt.moc"
