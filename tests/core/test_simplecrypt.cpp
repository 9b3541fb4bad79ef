#include "core/simplecrypt.h"
#include "tests/support/testmain.h"

#include <QSet>

namespace {
const unsigned long long kKey = 0x5e17a0c4d29b3f68ULL;

QByteArray decoded(const QString &scrambled)
{
    return QByteArray::fromBase64(scrambled.toLatin1());
}

QString encoded(const QByteArray &data)
{
    return QString::fromLatin1(data.toBase64());
}
} // namespace

class TestSimpleCrypt : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void resultIsBase64();
    void compressionShortensRepetitiveText();
    void twoResultsDiffer();
    void everyChangedByteIsDetected_data();
    void everyChangedByteIsDetected();
    void truncatedInputGivesEmpty();
    void damagedInputGivesEmpty_data();
    void damagedInputGivesEmpty();
    void wrongKeyGivesEmpty();
    void emptyStaysEmpty();
};

void TestSimpleCrypt::roundTrip_data()
{
    QTest::addColumn<QString>("plain");
    QTest::newRow("ascii") << "geheim123!";
    QTest::newRow("single character") << "x";
    QTest::newRow("umlauts") << QStringLiteral("Größe Übermaß äöüß ÄÖÜ");
    QTest::newRow("emoji") << QStringLiteral("pw 🔑🐧 ende");
    QTest::newRow("quotes and backslash") << "a'b\"c\\d;e";
    QTest::newRow("line breaks") << "zeile1\nzeile2\r\n";
    QTest::newRow("repetitive") << QString(5000, QLatin1Char('a'));
    QString mixed;
    for (int i = 0; i < 2000; ++i)
        mixed += QChar(0x20 + (i * 7919) % 0x3000);
    QTest::newRow("long mixed") << mixed;
}

void TestSimpleCrypt::roundTrip()
{
    QFETCH(QString, plain);
    SimpleCrypt crypt(kKey);
    const QString scrambled = crypt.encryptToString(plain);
    QVERIFY(!scrambled.isEmpty());
    // A separate instance with the same key reads it (as the next program start would).
    QCOMPARE(SimpleCrypt(kKey).decryptToString(scrambled), plain);
}

void TestSimpleCrypt::resultIsBase64()
{
    const QString scrambled = SimpleCrypt(kKey).encryptToString(QStringLiteral("Passwort äöü"));
    const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]+={0,2}$"));
    QVERIFY2(base64.match(scrambled).hasMatch(), qPrintable(scrambled));
    QCOMPARE(scrambled.size() % 4, 0);
}

void TestSimpleCrypt::compressionShortensRepetitiveText()
{
    SimpleCrypt crypt(kKey);
    const QString repetitive(4000, QLatin1Char('z'));
    const QByteArray data = decoded(crypt.encryptToString(repetitive));
    QVERIFY2(data.size() < 200, QByteArray::number(data.size()));

    // Short text doesn't shrink under compression and stays near its own size.
    const QString shortText = QStringLiteral("kurz");
    QVERIFY(decoded(crypt.encryptToString(shortText)).size() < 20);
}

void TestSimpleCrypt::twoResultsDiffer()
{
    SimpleCrypt crypt(kKey);
    const QString plain = QStringLiteral("dasselbe Passwort");
    QSet<QString> results;
    for (int i = 0; i < 32; ++i) {
        const QString scrambled = crypt.encryptToString(plain);
        QCOMPARE(crypt.decryptToString(scrambled), plain);
        results.insert(scrambled);
    }
    // The random byte has 256 values; 32 draws give far more than half distinct results.
    QVERIFY2(results.size() >= 16, QByteArray::number(results.size()));

    // The random byte changes the whole result, not just one position.
    const QList<QString> list = results.values();
    const QByteArray first = decoded(list.at(0));
    const QByteArray second = decoded(list.at(1));
    QCOMPARE(first.size(), second.size());
    int differing = 0;
    for (int i = 0; i < first.size(); ++i)
        differing += first.at(i) != second.at(i);
    QVERIFY2(differing > first.size() / 2, QByteArray::number(differing));
}

void TestSimpleCrypt::everyChangedByteIsDetected_data()
{
    QTest::addColumn<QString>("plain");
    QTest::newRow("short") << "pw";
    QTest::newRow("umlauts") << QStringLiteral("Kennwort mit Ümlaut");
    QTest::newRow("compressed") << QString(300, QLatin1Char('q'));
}

void TestSimpleCrypt::everyChangedByteIsDetected()
{
    QFETCH(QString, plain);
    SimpleCrypt crypt(kKey);
    const QByteArray data = decoded(crypt.encryptToString(plain));
    QVERIFY(!data.isEmpty());
    for (int i = 0; i < data.size(); ++i) {
        for (const quint8 change : { 0x01, 0x80, 0xff, 0x5a }) {
            QByteArray damaged = data;
            damaged[i] = char(quint8(damaged.at(i)) ^ change);
            QVERIFY2(crypt.decryptToString(encoded(damaged)).isEmpty(),
                     qPrintable(QStringLiteral("byte %1 of %2 changed by %3")
                                    .arg(i)
                                    .arg(data.size())
                                    .arg(int(change))));
        }
    }
}

void TestSimpleCrypt::truncatedInputGivesEmpty()
{
    SimpleCrypt crypt(kKey);
    const QString plain = QStringLiteral("abgeschnitten");
    const QString scrambled = crypt.encryptToString(plain);
    // Shortened text (often no longer valid Base64); the padding alone may go.
    QString unpadded = scrambled;
    while (unpadded.endsWith(QLatin1Char('=')))
        unpadded.chop(1);
    QCOMPARE(crypt.decryptToString(unpadded), plain);
    for (int length = 0; length < unpadded.size(); ++length)
        QVERIFY2(crypt.decryptToString(unpadded.left(length)).isEmpty(),
                 qPrintable(QString::number(length)));
    // ... and a shortened value encoded properly again.
    const QByteArray data = decoded(scrambled);
    for (int length = 0; length < data.size(); ++length)
        QVERIFY2(crypt.decryptToString(encoded(data.left(length))).isEmpty(),
                 qPrintable(QString::number(length)));
    // A value with bytes appended is damaged as well.
    QVERIFY(crypt.decryptToString(encoded(data + QByteArray(1, 'x'))).isEmpty());
}

void TestSimpleCrypt::damagedInputGivesEmpty_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("plain text") << "geheim";
    QTest::newRow("not base64") << "!!!$$$%%%";
    QTest::newRow("umlauts") << QStringLiteral("ÄÖÜäöü");
    QTest::newRow("spaces") << "    ";
    QTest::newRow("valid base64 of garbage") << encoded("this is no scrambled value at all");
    QTest::newRow("version byte and garbage") << encoded("\x01 this is not scrambled either");
    QTest::newRow("zero bytes") << encoded(QByteArray(40, '\0'));
    QTest::newRow("single byte") << encoded(QByteArray(1, '\1'));
    QTest::newRow("padding only") << "====";
}

void TestSimpleCrypt::damagedInputGivesEmpty()
{
    QFETCH(QString, input);
    QCOMPARE(SimpleCrypt(kKey).decryptToString(input), QString());
}

void TestSimpleCrypt::wrongKeyGivesEmpty()
{
    // Many results (every random byte comes up), so that a wrong key that only happens to
    // yield plausible bytes for some of them is caught too.
    SimpleCrypt crypt(kKey);
    const QStringList plains = { QStringLiteral("MySQL-Passwort"), QString(200, QLatin1Char('w')) };
    for (const QString &plain : plains) {
        for (int i = 0; i < 300; ++i) {
            const QString scrambled = crypt.encryptToString(plain);
            for (const unsigned long long key :
                 { kKey ^ 1ULL, kKey ^ (1ULL << 63), kKey + 0x100ULL, 0ULL, ~kKey }) {
                QVERIFY2(SimpleCrypt(key).decryptToString(scrambled).isEmpty(),
                         qPrintable(QString::number(key, 16)));
            }
        }
    }
}

void TestSimpleCrypt::emptyStaysEmpty()
{
    SimpleCrypt crypt(kKey);
    QCOMPARE(crypt.encryptToString(QString()), QString());
    QCOMPARE(crypt.encryptToString(QStringLiteral("")), QString());
    QCOMPARE(crypt.decryptToString(QString()), QString());
}

APP_TEST_GUILESS_MAIN(TestSimpleCrypt)
#include "test_simplecrypt.moc"
