#include "core/gzip.h"
#include "tests/support/testmain.h"

#include <QRandomGenerator>

Q_DECLARE_METATYPE(Gzip::Format)

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray text(int lines)
{
    QByteArray result;
    for (int i = 0; i < lines; ++i)
        result += "<Item><ItemID>1100" + QByteArray::number(i) + "</ItemID><Title>Größe "
            + QByteArray::number(i * 7) + "</Title></Item>\n";
    return result;
}

} // namespace

class TestGzip : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void concatenatedMembers();
    void zeroPaddingIsIgnored();
    void truncatedInputFails_data();
    void truncatedInputFails();
    void corruptInputFails_data();
    void corruptInputFails();
    void outputIsBounded();
    void emptyInputIsEmpty();
};

void TestGzip::roundTrip_data()
{
    QTest::addColumn<Gzip::Format>("format");
    QTest::addColumn<QByteArray>("data");
    const QList<QPair<const char *, Gzip::Format>> formats = {
        { "gzip", Gzip::Format::Gzip },
        { "zlib", Gzip::Format::Zlib },
        { "raw", Gzip::Format::RawDeflate },
    };
    for (const auto &format : formats) {
        const QByteArray name(format.first);
        QTest::newRow(name + " one byte") << format.second << QByteArray("x");
        QTest::newRow(name + " text") << format.second << text(5000);
        QTest::newRow(name + " random 300 KB") << format.second << randomBytes(300 * 1024, 7);
        QTest::newRow(name + " 3 MB zeros") << format.second << QByteArray(3 * 1024 * 1024, '\0');
    }
}

void TestGzip::roundTrip()
{
    QFETCH(Gzip::Format, format);
    QFETCH(QByteArray, data);
    const QByteArray packed = Gzip::compress(data, format);
    QVERIFY(!packed.isEmpty());
    bool ok = false;
    const QByteArray unpacked = Gzip::inflate(packed, &ok);
    QVERIFY(ok);
    QCOMPARE(unpacked.size(), data.size());
    QVERIFY(unpacked == data);
}

void TestGzip::concatenatedMembers()
{
    const QByteArray first = text(100);
    const QByteArray second = randomBytes(70000, 3);
    const QByteArray third("Ende");
    bool ok = false;
    const QByteArray unpacked = Gzip::inflate(
        Gzip::compress(first) + Gzip::compress(second) + Gzip::compress(third), &ok);
    QVERIFY(ok);
    QVERIFY(unpacked == first + second + third);
}

void TestGzip::zeroPaddingIsIgnored()
{
    bool ok = false;
    QCOMPARE(Gzip::inflate(Gzip::compress("Inhalt") + QByteArray(16, '\0'), &ok),
             QByteArray("Inhalt"));
    QVERIFY(ok);
}

void TestGzip::truncatedInputFails_data()
{
    QTest::addColumn<Gzip::Format>("format");
    QTest::addColumn<int>("keep"); // bytes kept; negative: bytes cut from the end
    QTest::newRow("gzip header only") << Gzip::Format::Gzip << 10;
    QTest::newRow("gzip half") << Gzip::Format::Gzip << -2000;
    QTest::newRow("gzip without trailer") << Gzip::Format::Gzip << -8;
    QTest::newRow("gzip one byte short") << Gzip::Format::Gzip << -1;
    QTest::newRow("zlib half") << Gzip::Format::Zlib << -2000;
    QTest::newRow("zlib without checksum") << Gzip::Format::Zlib << -4;
    QTest::newRow("raw half") << Gzip::Format::RawDeflate << -2000;
}

void TestGzip::truncatedInputFails()
{
    QFETCH(Gzip::Format, format);
    QFETCH(int, keep);
    const QByteArray packed = Gzip::compress(randomBytes(5000, 11), format);
    const QByteArray cut = keep >= 0 ? packed.left(keep) : packed.left(packed.size() + keep);
    bool ok = true;
    QCOMPARE(Gzip::inflate(cut, &ok), QByteArray());
    QVERIFY(!ok);
    QCOMPARE(Gzip::inflate(cut), QByteArray()); // without ok pointer
}

void TestGzip::corruptInputFails_data()
{
    QTest::addColumn<QByteArray>("data");
    QByteArray flipped = Gzip::compress(text(200));
    flipped[flipped.size() / 2] = static_cast<char>(flipped.at(flipped.size() / 2) ^ 0x55);
    QTest::newRow("flipped byte") << flipped;
    QByteArray badCrc = Gzip::compress(text(20));
    badCrc[badCrc.size() - 6] = static_cast<char>(badCrc.at(badCrc.size() - 6) ^ 0x01);
    QTest::newRow("wrong checksum") << badCrc;
    QTest::newRow("plain text") << QByteArray("<html>kein gzip</html>");
    QTest::newRow("magic only") << QByteArray("\x1f\x8b");
    QTest::newRow("trailing garbage") << Gzip::compress("Inhalt") + QByteArray("Müll");
    QTest::newRow("random") << randomBytes(4096, 99);
}

void TestGzip::corruptInputFails()
{
    QFETCH(QByteArray, data);
    bool ok = true;
    QCOMPARE(Gzip::inflate(data, &ok), QByteArray());
    QVERIFY(!ok);
}

void TestGzip::outputIsBounded()
{
    const QByteArray bomb = Gzip::compress(QByteArray(4 * 1024 * 1024, 'a'));
    QVERIFY(bomb.size() < 10000);
    bool ok = true;
    QCOMPARE(Gzip::inflate(bomb, &ok, 1024 * 1024), QByteArray());
    QVERIFY(!ok);
    QCOMPARE(Gzip::inflate(bomb, &ok, 4 * 1024 * 1024).size(), 4 * 1024 * 1024);
    QVERIFY(ok);
}

void TestGzip::emptyInputIsEmpty()
{
    bool ok = false;
    QCOMPARE(Gzip::inflate(QByteArray(), &ok), QByteArray());
    QVERIFY(ok);
    QCOMPARE(Gzip::inflate(Gzip::compress(QByteArray()), &ok), QByteArray());
    QVERIFY(ok);
}

APP_TEST_GUILESS_MAIN(TestGzip)
#include "test_gzip.moc"
