// Pictures are measured by their header before they are decoded: a few hundred kilobytes of
// PNG that would unpack to hundreds of megabytes, and SVG drawings, are refused by the
// thumbnail maker and the import's picture check at once and in little memory.
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
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

namespace {

QByteArray jpeg(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
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
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("budget"); // pixels
    QTest::addColumn<QString>("refusal"); // empty: a picture within the budget
    const qint64 standard = ImageLimits::kMaxPixels;
    QTest::newRow("JPEG 640 x 480") << jpeg(640, 480) << "foto.jpg" << standard << QString();
    QTest::newRow("PNG of 8000 x 8000 pixels in 200 KB")
        << TestSupport::blackPng(8000, 8000) << "riesig.png" << standard
        << "Das Bild hat 8000 × 8000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("PNG of 22000 x 3000 pixels, named .jpg")
        << TestSupport::blackPng(22000, 3000) << "breit.jpg" << standard
        << "Das Bild hat 22000 × 3000 Pixel, mehr als die erlaubten 50 Megapixel.";
    QTest::newRow("PNG header of 60000 x 60000 pixels")
        << TestSupport::blackPng(60000, 60000, 1) << "gigapixel.png" << standard
        << "Das Bild hat 60000 × 60000 Pixel, mehr als die erlaubten 50 Megapixel.";
    const QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' width='100000' "
                           "height='100000'><rect width='100%' height='100%'/></svg>";
    QTest::newRow("SVG of 100000 x 100000")
        << svg << "zeichnung.png" << standard << QStringLiteral("svg");
    QTest::newRow("JPEG at the budget")
        << jpeg(1000, 1000) << "genau.jpg" << qint64(1000000) << QString();
    QTest::newRow("JPEG one row over the budget")
        << jpeg(1000, 1001) << "drueber.jpg" << qint64(1000000)
        << "Das Bild hat 1000 × 1001 Pixel, mehr als die erlaubten 1 Megapixel.";
}

// Each picture shape, through the header check, the import's picture check and the thumbnail
// maker: the refused ones cost no decoding (time and peak memory under a cap on the address
// space; decoding the big PNG would take 256 MB, the drawing gigabytes).
void TestImageLimits::pictureShapes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(qint64, budget);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }
    // Without Qt's SVG plugin a drawing is no picture at all.
    const bool drawing = refusal == QLatin1String("svg");
    if (drawing)
        refusal = QImageReader::supportedImageFormats().contains("svg")
            ? QStringLiteral("SVG-Grafiken sind keine Bilder, die der Marktplatz annimmt.")
            : QString();
    const bool standard = budget == ImageLimits::kMaxPixels;

    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    QString said;
    bool picture = false;
    QString thumb;
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
    std::fprintf(stderr, "%s: %lld ms, %lld KB\n", QTest::currentDataTag(),
                 static_cast<long long>(took),
                 static_cast<long long>(measured ? memory.growth() >> 10 : -1));

    if (drawing && refusal.isEmpty())
        QVERIFY(!said.isEmpty());
    else
        QCOMPARE(said, refusal);
    if (standard) {
        QCOMPARE(picture, said.isEmpty());
        QCOMPARE(thumb.isEmpty(), !said.isEmpty());
    }
    if (!said.isEmpty()) {
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        if (measured)
            QVERIFY2(memory.growth() < 32 * 1024 * 1024,
                     qPrintable(QString::number(memory.growth() >> 20) + " MB"));
    }
}

APP_TEST_GUILESS_MAIN(TestImageLimits)
#include "test_imagelimits.moc"
