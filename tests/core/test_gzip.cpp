#include "core/gzip.h"
#include "tests/support/testmain.h"

#include <QRandomGenerator>

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
    QByteArray random(100000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    const QByteArray text = QByteArray("<Item><Title>Größe 42</Title></Item>\n").repeated(3000);
    const QList<QPair<const char *, Gzip::Format>> formats
        = { { "gzip", Gzip::Format::Gzip },
            { "zlib", Gzip::Format::Zlib },
            { "raw", Gzip::Format::RawDeflate } };
    for (const auto &format : formats) {
        const QByteArray name(format.first);
        inflates(name + " text", Gzip::compress(text, format.second), text);
        fails(name + " truncated", Gzip::compress(random, format.second).chopped(2000));
    }
    QByteArray wrongChecksum = Gzip::compress(text);
    wrongChecksum[wrongChecksum.size() - 6]
        = static_cast<char>(wrongChecksum.at(wrongChecksum.size() - 6) ^ 0x55);
    fails("wrong checksum", wrongChecksum);
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
