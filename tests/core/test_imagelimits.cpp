// Pictures are measured by their header before they are decoded: a PNG of a few hundred KB
// that unpacks to hundreds of MB, and SVG drawings, are refused at once in little memory.
#include "core/imagelimits.h"
#include "core/statics.h"
#include "import/pictureimport.h"
#include "tests/support/blackpng.h"
#include "tests/support/memorylimit.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <png.h>

namespace {

// A PNG written by libpng itself: `width` x `height` of the colour type and bit depth given,
// interlaced or not, every sample a different value.
QByteArray libpngPicture(int width, int height, int colour, int depth, bool interlaced)
{
    QByteArray written;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    // Nothing here fails on a picture libpng writes itself (a failure would end the test).
    png_set_write_fn(
        png, &written,
        [](png_structp to, png_bytep data, png_size_t size) {
            static_cast<QByteArray *>(png_get_io_ptr(to))
                ->append(reinterpret_cast<const char *>(data), int(size));
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, colour,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int rowBytes = int(png_get_rowbytes(png, info));
    QVector<QByteArray> rows(height);
    QVector<png_bytep> pointers(height);
    for (int y = 0; y < height; ++y) {
        rows[y] = QByteArray(rowBytes, '\0');
        for (int x = 0; x < rowBytes; ++x)
            rows[y][x] = char((x * 7 + y * 13) & 0xFF);
        pointers[y] = reinterpret_cast<png_bytep>(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return written;
}

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

// A GIF whose logical screen is `screen` and whose one frame is `frame`.
QByteArray gifFrame(const QSize &screen, const QSize &frame)
{
    const auto word = [](int value) { return QByteArray(1, char(value & 0xFF)) + char(value >> 8); };
    return QByteArray("GIF89a") + word(screen.width()) + word(screen.height())
        + QByteArray("\x00\x00\x00\x2C\x00\x00\x00\x00", 8) + word(frame.width())
        + word(frame.height()) + QByteArray("\x00\x02\x02\x4C\x01\x00\x3B", 7);
}

// The segments of a JPEG before its first scan, the Huffman tables moved in front of the
// frame (the standard allows either order; libjpeg writes the frame first), the frame of
// `size` when given.
QByteArray tablesFirst(const QByteArray &jpeg, const QSize &size = QSize())
{
    QByteArray tables;
    QByteArray others;
    int at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg.at(at + 1)) != 0xDA) {
        const int length = (quint8(jpeg.at(at + 2)) << 8) | quint8(jpeg.at(at + 3));
        QByteArray part = jpeg.mid(at, length + 2);
        const quint8 marker = quint8(jpeg.at(at + 1));
        if (marker == 0xC0 || marker == 0xC2) {
            if (size.isValid()) {
                part[5] = char(size.height() >> 8);
                part[6] = char(size.height() & 0xFF);
                part[7] = char(size.width() >> 8);
                part[8] = char(size.width() & 0xFF);
            }
            others += QByteArray("\0\0", 2) + part; // where the tables go
        } else {
            (marker == 0xC4 ? tables : others) += part;
        }
        at += length + 2;
    }
    const int frame = others.indexOf(QByteArray("\0\0", 2));
    return jpeg.left(2) + others.left(frame) + tables + others.mid(frame + 2) + jpeg.mid(at);
}

// A progressive JPEG of `scans` scans whose first scan's coded data holds a restart marker
// (RST7), followed by two bytes that would be a long segment's length: a walk that took the
// marker for a segment would jump over the scans after it.
QByteArray restartInScan(int scans)
{
    const QByteArray jpeg = manyScansJpeg(640, 480, scans);
    const int scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    const int data = scan + 2 + ((quint8(jpeg.at(scan + 2)) << 8) | quint8(jpeg.at(scan + 3)));
    return jpeg.left(data) + QByteArray("\xFF\xD7\x40\x00", 4) + jpeg.mid(data);
}

// A small picture as Qt's writer for `format` writes it (the image-format plugins write TIFF
// and WebP).
QByteArray written(const char *format)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
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
    QTest::newRow("JPEG with its Huffman tables before its frame")
        << tablesFirst(manyScansJpeg(640, 480, 1)) << standard << QString();
    QTest::newRow("JPEG with its Huffman tables before a frame of 22000 x 22000")
        << tablesFirst(manyScansJpeg(640, 480, 1), QSize(22000, 22000)) << standard
        << "Das Bild hat 22000 × 22000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("progressive JPEG of 101 scans with a restart marker in its data")
        << restartInScan(ImageLimits::kMaxJpegScans + 1) << standard << scans;
    // The smallest GIF87a there is: one pixel of a two-colour table.
    QTest::newRow("GIF87a of 1 x 1")
        << QByteArray("GIF87a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00\x2C\x00\x00"
                      "\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B",
                      35)
        << standard << QString();
    // Qt takes the frame's size when the screen is empty.
    QTest::newRow("GIF screen of 0 x 0 with a frame of 8000 x 8000")
        << gifFrame(QSize(0, 0), QSize(8000, 8000)) << standard
        << "Das Bild hat 8000 × 8000 Pixel, mehr als die erlaubten 50 Megapixel.";
    // TIFF is read; what else the image-format plugins read is refused by its format.
    QTest::newRow("TIFF of 64 x 48") << written("tiff") << standard << QString();
    QTest::newRow("WebP of 64 x 48")
        << written("webp") << standard
        << "Bilder im Format WEBP nimmt der Marktplatz nicht an; er nimmt JPEG, PNG, GIF, BMP "
           "und TIFF.";
    QTest::newRow("BMP of 1000 x 1001 stored top-down")
        << bmpHeader(1000, -1001) << qint64(1000000)
        << "Das Bild hat 1000 × 1001 Pixel, mehr als die erlaubten 1 Megapixel.";
    QTest::newRow("at the budget") << blackPng(1000, 1000) << qint64(1000000) << QString();
    // The compressed rows of a PNG are inflated only as far as its header's rows go: the
    // rows of every colour type, depth and interlacing end there, a stream that goes on
    // past them is refused before it is read.
    QTest::newRow("PNG, RGBA of 16 bits, interlaced, 37 x 23")
        << libpngPicture(37, 23, PNG_COLOR_TYPE_RGBA, 16, true) << standard << QString();
    QTest::newRow("PNG, grey of 1 bit, interlaced, 13 x 7")
        << libpngPicture(13, 7, PNG_COLOR_TYPE_GRAY, 1, true) << standard << QString();
    QTest::newRow("PNG, grey of 2 bits, interlaced, 1 x 1 (six of seven passes empty)")
        << libpngPicture(1, 1, PNG_COLOR_TYPE_GRAY, 2, true) << standard << QString();
    QTest::newRow("PNG, grey and alpha of 8 bits, 5 x 3")
        << libpngPicture(5, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false) << standard << QString();
    QTest::newRow("PNG, RGB of 8 bits, interlaced, 301 x 199")
        << libpngPicture(301, 199, PNG_COLOR_TYPE_RGB, 8, true) << standard << QString();
    QTest::newRow("PNG of 100 x 100 whose stream goes on with 64 MB of zeros")
        << TestSupport::tailPng(100, 100, 64) << standard
        << "Die Bilddaten des PNG-Bildes gehen über seine Pixel hinaus; es wird nicht gelesen.";
    QTest::newRow("PNG of 100 x 100 whose stream ends with its rows")
        << TestSupport::tailPng(100, 100, 0) << standard << QString();
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
