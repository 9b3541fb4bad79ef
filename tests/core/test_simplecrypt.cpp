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
    void foreignInputGivesEmpty();
};

void TestSimpleCrypt::roundTripAndDamage_data()
{
    QTest::addColumn<QString>("plain");
    QTest::newRow("umlauts and emoji") << QStringLiteral("Größe äöüß 🔑🐧");
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
        QByteArray damaged = data;
        damaged[i] = char(damaged.at(i) ^ 0x41);
        QVERIFY2(crypt.decryptToString(encoded(damaged)).isEmpty(), qPrintable(QString::number(i)));
        QVERIFY2(crypt.decryptToString(encoded(data.left(i))).isEmpty(),
                 qPrintable(QString::number(i)));
    }
    QVERIFY(crypt.decryptToString(encoded(data + 'x')).isEmpty());
    for (const unsigned long long key : { kKey ^ 1ULL, kKey ^ (1ULL << 63) })
        QVERIFY2(SimpleCrypt(key).decryptToString(scrambled).isEmpty(),
                 qPrintable(QString::number(key, 16)));
}

void TestSimpleCrypt::foreignInputGivesEmpty()
{
    for (const QString &input :
         { QString(), QStringLiteral("!!!$$$%%%"), encoded("this is no scrambled value at all"),
           encoded("\x01 this is not scrambled either"), encoded(QByteArray(40, '\0')) })
        QVERIFY2(SimpleCrypt(kKey).decryptToString(input).isEmpty(), qPrintable(input));
    // And nothing scrambles to nothing.
    QCOMPARE(SimpleCrypt(kKey).encryptToString(QString()), QString());
}

APP_TEST_GUILESS_MAIN(TestSimpleCrypt)
#include "test_simplecrypt.moc"
