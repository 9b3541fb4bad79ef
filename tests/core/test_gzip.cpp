#include "core/gzip.h"
#include "tests/support/testmain.h"

#include <QRandomGenerator>

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray flipped(QByteArray data, int at)
{
    at = at < 0 ? data.size() + at : at;
    data[at] = static_cast<char>(data.at(at) ^ 0x55);
    return data;
}

} // namespace

class TestGzip : public QObject
{
    Q_OBJECT
private slots:
    void inflate_data();
    void inflate();
};

void TestGzip::inflate_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("maxOutput");
    QTest::addColumn<QByteArray>("expected"); // empty on failure
    QTest::addColumn<bool>("ok");
    const auto inflates = [](const QByteArray &name, const QByteArray &input,
                             const QByteArray &expected, int limit = Gzip::DefaultMaxOutput) {
        QTest::newRow(name.constData()) << input << limit << expected << true;
    };
    const auto fails
        = [](const QByteArray &name, const QByteArray &input, int limit = Gzip::DefaultMaxOutput) {
              QTest::newRow(name.constData()) << input << limit << QByteArray() << false;
          };
    const QByteArray random = randomBytes(100000, 7);
    const QByteArray text = QByteArray("<Item><Title>Größe 42</Title></Item>\n").repeated(3000);
    const QList<QPair<const char *, Gzip::Format>> formats
        = { { "gzip", Gzip::Format::Gzip },
            { "zlib", Gzip::Format::Zlib },
            { "raw", Gzip::Format::RawDeflate } };
    for (const auto &format : formats) {
        const QByteArray name(format.first);
        inflates(name + " one byte", Gzip::compress("x", format.second), "x");
        inflates(name + " text", Gzip::compress(text, format.second), text);
        inflates(name + " random", Gzip::compress(random, format.second), random);
        fails(name + " truncated", Gzip::compress(random, format.second).chopped(2000));
    }
    fails("gzip one byte short", Gzip::compress(random).chopped(1));
    fails("zlib without checksum", Gzip::compress(random, Gzip::Format::Zlib).chopped(4));
    const QByteArray packed = Gzip::compress(text);
    fails("flipped byte", flipped(packed, packed.size() / 2));
    fails("wrong checksum", flipped(packed, -6));
    fails("plain text", "<html>kein gzip</html>");
    fails("trailing garbage", Gzip::compress("Inhalt") + "Müll");
    inflates("concatenated members", Gzip::compress(text.left(5000)) + Gzip::compress(random),
             text.left(5000) + random);
    inflates("zero padding", Gzip::compress("Inhalt") + QByteArray(16, '\0'), "Inhalt");
    inflates("empty", QByteArray(), QByteArray());
    const QByteArray zeros(4 * 1024 * 1024, '\0');
    inflates("at the limit", Gzip::compress(zeros), zeros, zeros.size());
    fails("over the limit", Gzip::compress(zeros), zeros.size() - 1);
}

void TestGzip::inflate()
{
    QFETCH(QByteArray, input);
    QFETCH(int, maxOutput);
    QFETCH(QByteArray, expected);
    QFETCH(bool, ok);
    bool reportedOk = !ok;
    const QByteArray result = Gzip::inflate(input, &reportedOk, maxOutput);
    QCOMPARE(reportedOk, ok);
    QCOMPARE(result.size(), expected.size());
    QVERIFY(result == expected);
}

APP_TEST_GUILESS_MAIN(TestGzip)
#include "test_gzip.moc"
