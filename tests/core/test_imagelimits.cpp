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
