// Pictures are measured by their header before they are decoded: a PNG of a few hundred KB
// that unpacks to hundreds of MB, and SVG drawings, are refused at once in little memory.
#include "core/imagelimits.h"
#include "core/statics.h"
#include "import/pictureimport.h"
#include "tests/support/blackpng.h"
#include "tests/support/memorylimit.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

namespace {

// Bits into the coded data of a JPEG scan: a 0xFF byte is followed by a zero byte, and the
// last byte is filled up with one bits.
class ScanBits
{
public:
    void put(quint32 value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            m_byte = (m_byte << 1) | ((value >> i) & 1);
            if (++m_bits == 8)
                flushByte();
        }
    }
    QByteArray finish()
    {
        while (m_bits != 0)
            put(1, 1);
        return m_data;
    }

private:
    void flushByte()
    {
        m_data += char(m_byte);
        if (m_byte == 0xFF)
            m_data += '\0';
        m_byte = 0;
        m_bits = 0;
    }
    QByteArray m_data;
    quint32 m_byte = 0;
    int m_bits = 0;
};

QByteArray segment(quint8 marker, const QByteArray &body)
{
    const int length = body.size() + 2;
    return QByteArray("\xFF", 1) + char(marker) + char(length >> 8) + char(length & 0xFF) + body;
}

// A grey progressive JPEG of `width` x `height` pixels and `scans` scans: the DC scan (one bit
// for each 8 x 8 block), then the same AC scan again and again, each coding every block as
// part of a few end-of-band runs. It takes a few bytes a scan, and a decoder a pass over every
// block for each (the repeated scans only draw a warning from it): 1,000 scans of 7000 x 7000
// pixels are 189 KB.
QByteArray manyScansJpeg(int width, int height, int scans)
{
    const auto word = [](int value) {
        return QByteArray(1, char(value >> 8)) + char(value & 0xFF);
    };
    const qint64 blocks = qint64((width + 7) / 8) * ((height + 7) / 8);
    QByteArray bytes("\xFF\xD8", 2);
    bytes += segment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\1'));
    bytes += segment(0xC2,
                     QByteArray("\x08", 1) + word(height) + word(width)
                         + QByteArray("\x01\x01\x11\x00", 4));
    // DC: the one difference 0, coded "0". AC: the end-of-band runs EOB0-EOB14, coded by
    // their number in four bits.
    QByteArray dc(17, '\0');
    dc[1] = 1;
    bytes += segment(0xC4, dc + QByteArray(1, '\0'));
    QByteArray ac(17, '\0');
    ac[0] = 0x10;
    ac[4] = 15;
    for (int r = 0; r < 15; ++r)
        ac += char(r << 4);
    bytes += segment(0xC4, ac);

    ScanBits dcBits;
    for (qint64 i = 0; i < blocks; ++i)
        dcBits.put(0, 1);
    bytes += segment(0xDA, QByteArray("\x01\x01\x00\x00\x00\x00", 6)) + dcBits.finish();
    ScanBits acBits;
    for (qint64 left = blocks; left > 0;) {
        const int run = int(qMin<qint64>(left, 32767));
        int r = 0;
        while ((2 << r) <= run)
            ++r;
        acBits.put(quint32(r), 4);
        acBits.put(quint32(run - (1 << r)), r);
        left -= run;
    }
    const QByteArray acScan
        = segment(0xDA, QByteArray("\x01\x01\x00\x01\x3F\x00", 6)) + acBits.finish();
    for (int i = 1; i < scans; ++i)
        bytes += acScan;
    return bytes + QByteArray("\xFF\xD9", 2);
}

// An icon file whose one entry says `width` x `height` and holds `picture`.
QByteArray icon(int width, int height, const QByteArray &picture)
{
    const auto little = [](quint32 value, int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += char((value >> (8 * i)) & 0xFF);
        return bytes;
    };
    return little(0, 2) + little(1, 2) + little(1, 2) // reserved, icon, one entry
        + char(width & 0xFF) + char(height & 0xFF) + little(0, 2) + little(1, 2) + little(32, 2)
        + little(quint32(picture.size()), 4) + little(22, 4) + picture;
}

// The headers of a GIF and a BMP of `width` x `height` with no pixels behind them.
QByteArray gifHeader(int width, int height)
{
    return QByteArray("GIF89a") + char(width & 0xFF) + char(width >> 8) + char(height & 0xFF)
        + char(height >> 8) + QByteArray("\x00\x00\x00", 3) + QByteArray("\x2C", 1)
        + QByteArray(4, '\0') + char(width & 0xFF) + char(width >> 8) + char(height & 0xFF)
        + char(height >> 8) + QByteArray("\x00\x02\x02\x4C\x01\x00\x3B", 7);
}

QByteArray bmpHeader(qint32 width, qint32 height)
{
    const auto little = [](quint32 value) {
        QByteArray bytes;
        for (int i = 0; i < 4; ++i)
            bytes += char((value >> (8 * i)) & 0xFF);
        return bytes;
    };
    return QByteArray("BM") + little(54) + little(0) + little(54) + little(40)
        + little(quint32(width)) + little(quint32(height)) + QByteArray("\x01\x00\x18\x00", 4)
        + little(0) + little(0) + little(2835) + little(2835) + little(0) + little(0);
}

} // namespace

class TestImageLimits : public QObject
{
    Q_OBJECT
private slots:
    void pictureShapes_data();
    void pictureShapes();
};

void TestImageLimits::pictureShapes_data()
{
    using TestSupport::blackPng;
    QTest::addColumn<QByteArray>("bytes"); // in a file named .jpg: the content decides
    QTest::addColumn<qint64>("budget"); // pixels
    QTest::addColumn<QString>("refusal"); // empty: a picture within the budget
    const qint64 standard = ImageLimits::kMaxPixels;
    QTest::newRow("PNG of 640 x 480") << blackPng(640, 480) << standard << QString();
    QTest::newRow("PNG of 8000 x 8000 pixels in 200 KB")
        << blackPng(8000, 8000) << standard
        << "Das Bild hat 8000 × 8000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("PNG header of 60000 x 60000 pixels")
        << blackPng(60000, 60000, 1) << standard
        << "Das Bild hat 60000 × 60000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("SVG of 100000 x 100000")
        << QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='100000' height='100000'>"
                      "<rect width='100%' height='100%'/></svg>")
        << standard << QStringLiteral("svg");
    QTest::newRow("progressive JPEG of 100 scans")
        << manyScansJpeg(640, 480, ImageLimits::kMaxJpegScans) << standard << QString();
    const QString scans = QStringLiteral("Das JPEG-Bild besteht aus mehr als 100 Teilbildern "
                                         "(Scans); so viele hat kein echtes Foto, und es zu "
                                         "lesen dauerte Minuten.");
    QTest::newRow("progressive JPEG of 101 scans")
        << manyScansJpeg(640, 480, ImageLimits::kMaxJpegScans + 1) << standard << scans;
    QTest::newRow("progressive JPEG of 1,000 scans of 7000 x 7000 in 189 KB")
        << manyScansJpeg(7000, 7000, 1000) << standard << scans;
    // Segments are skipped by their length: what they hold is no marker.
    QTest::newRow("JPEG with a comment full of scan markers") << QByteArray("\xFF\xD8", 2)
            + segment(0xFE, QByteArray("\xFF\xDA", 2).repeated(200))
            + manyScansJpeg(640, 480, 2).mid(2) << standard << QString();
    QTest::newRow("JPEG frame of 8000 x 8000 pixels")
        << manyScansJpeg(8000, 8000, 2) << standard
        << "Das Bild hat 8000 × 8000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("JPEG frame of 1000 x 1001 pixels")
        << manyScansJpeg(1000, 1001, 1) << qint64(1000000)
        << "Das Bild hat 1000 × 1001 Pixel, mehr als die erlaubten 1 Megapixel.";
    const QByteArray oneScan = manyScansJpeg(640, 480, 1);
    QTest::newRow("JPEG going on past 64 MB without its end")
        << oneScan.left(oneScan.size() - 2) + QByteArray(65 * 1024 * 1024, '\0') << qint64(1000000)
        << "Die JPEG-Datei ist größer als 64 MB, ohne dass ihr Bild endet.";
    const QString icons = QStringLiteral("Bilder im Format ICO nimmt der Marktplatz nicht an; er "
                                         "nimmt JPEG, PNG, GIF, BMP und TIFF.");
    QTest::newRow("icon saying 16 x 16 holding a PNG of 22000 x 22000")
        << icon(16, 16, blackPng(22000, 22000, 1)) << standard << icons;
    QTest::newRow("icon of 16 x 16") << icon(16, 16, blackPng(16, 16)) << standard << icons;
    QTest::newRow("GIF screen of 8000 x 8000 in 30 bytes")
        << gifHeader(8000, 8000) << standard
        << "Das Bild hat 8000 × 8000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("BMP of 1000 x 1001 stored top-down")
        << bmpHeader(1000, -1001) << qint64(1000000)
        << "Das Bild hat 1000 × 1001 Pixel, mehr als die erlaubten 1 Megapixel.";
    QTest::newRow("at the budget") << blackPng(1000, 1000) << qint64(1000000) << QString();
    QTest::newRow("one row over the budget")
        << blackPng(1000, 1001) << qint64(1000000)
        << "Das Bild hat 1000 × 1001 Pixel, mehr als die erlaubten 1 Megapixel.";
}

// Through the header check, the import's picture check and the thumbnail maker: a refused
// picture costs no decoding (the big PNG would take 256 MB, the drawing gigabytes).
void TestImageLimits::pictureShapes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, budget);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    const QString path = dir.filePath("bild.jpg");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    if (refusal == QLatin1String("svg") && QImageReader::supportedImageFormats().contains("svg"))
        refusal = QStringLiteral("SVG-Grafiken sind keine Bilder, die der Marktplatz annimmt.");
    const bool standard = budget == ImageLimits::kMaxPixels;

    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    QString said, thumb;
    bool picture = false;
    QElapsedTimer timer;
    {
        TestSupport::AddressSpaceLimit cap(qint64(1) << 30);
        QVERIFY(cap.active());
        timer.start();
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        said = ImageLimits::refusal(reader, budget);
        if (standard) {
            picture = PictureImport::isPicture(path);
            thumb = Statics::CreateThumb(path, dir.path() + QLatin1Char('/'));
        }
    }
    const qint64 took = timer.elapsed();

    if (refusal == QLatin1String("svg")) // without Qt's SVG plugin no picture at all
        QVERIFY(!said.isEmpty());
    else
        QCOMPARE(said, refusal);
    if (standard) {
        QCOMPARE(picture, said.isEmpty());
        QCOMPARE(thumb.isEmpty(), !said.isEmpty());
    }
    if (!said.isEmpty()) {
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QVERIFY2(!measured || memory.growth() < 32 * 1024 * 1024,
                 qPrintable(QString::number(memory.growth() >> 20) + " MB"));
    }
}

APP_TEST_GUILESS_MAIN(TestImageLimits)
#include "test_imagelimits.moc"
