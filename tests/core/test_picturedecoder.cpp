// Pictures from outside are decoded in a process of the program's own: whatever a picture does
// to its decoder (a text chunk that inflates to gigabytes, a FIFO that never ends, a decoder
// that crashes or never answers) ends that process, not this one; the picture is refused with
// a reason, and the next picture is decoded at once.
#include "core/imagelimits.h"
#include "tests/support/blackpng.h"
#include "tests/support/helddecodes.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <zlib.h>

namespace {

// A 64 x 64 PNG with `chunks` compressed text chunks before its pixels, each inflating to
// `inflated` bytes: 150 of 7.9 MB are 1.2 MB on disk and gigabytes in a reader that keeps
// every text.
QByteArray textBombPng(int chunks, int inflated)
{
    const QByteArray png = TestSupport::blackPng(64, 64);
    const QByteArray text(inflated, 'a');
    uLongf size = compressBound(uLong(text.size()));
    QByteArray packed(int(size), '\0');
    compress2(reinterpret_cast<Bytef *>(packed.data()), &size,
              reinterpret_cast<const Bytef *>(text.constData()), uLong(text.size()), 9);
    packed.resize(int(size));
    const QByteArray body = QByteArray("zTXtComment\0\0", 13) + packed;
    const quint32 length = quint32(body.size() - 4);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()));
    QByteArray chunk;
    for (quint32 value : { length })
        for (int i = 3; i >= 0; --i)
            chunk += char((value >> (8 * i)) & 0xFF);
    chunk += body;
    for (int i = 3; i >= 0; --i)
        chunk += char((crc >> (8 * i)) & 0xFF);
    // After the signature (8 bytes) and the header chunk (25).
    return png.left(33) + chunk.repeated(chunks) + png.mid(33);
}

// A photo of `size`, JPEG, with something to code in every block.
QByteArray photo(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), gradient);
    for (int x = 0; x < size.width(); x += 37)
        painter.fillRect(x, 0, 5, size.height(), QColor(x % 255, 80, 160));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return bytes;
}

const QString kCrashed = QStringLiteral(
    "Das Lesen des Bildes brach ab: die Datei ist beschädigt oder braucht mehr Speicher oder "
    "Rechenzeit, als ein Bild je braucht.");

const QString kMemory = QStringLiteral(
    "Das Bild braucht zum Lesen mehr Speicher, als ein Bild je braucht; es wird nicht genommen.");

} // namespace

class TestPictureDecoder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void survives_data();
    void survives();
    void sizesAskedFor();
    void firstGoesAhead();
    void repliesNotAsked_data();
    void repliesNotAsked();
    void givenUpFreesItsProcess();

private:
    QString write(const QString &name, const QByteArray &bytes);
    // Decodes the photo as the slots do, the time it took in `took`.
    ImageLimits::Decoded decodePhoto(qint64 *took);

    QTemporaryDir m_dir;
    QString m_photo;
    QString m_small; // decodes in no time
    qint64 m_photoTime = 0;
};

QString TestPictureDecoder::write(const QString &name, const QByteArray &bytes)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return file.fileName();
}

ImageLimits::Decoded TestPictureDecoder::decodePhoto(qint64 *took)
{
    QElapsedTimer timer;
    timer.start();
    const ImageLimits::Decoded decoded
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(m_photo, QSize(160, 160)));
    *took = timer.elapsed();
    return decoded;
}

void TestPictureDecoder::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_photo = write("foto.jpg", photo(QSize(4000, 3000)));
    QVERIFY(!m_photo.isEmpty());
    m_small = write("klein.jpg", photo(QSize(64, 48)));
    QVERIFY(!m_small.isEmpty());
    // Once to start the decoders, once for its time.
    qint64 took = 0;
    QVERIFY(!decodePhoto(&took).image.isNull());
    const ImageLimits::Decoded decoded = decodePhoto(&m_photoTime);
    QCOMPARE(decoded.image.size(), QSize(160, 120));
    // A decode that waited for a decoder given up would wait this long.
    ImageLimits::setDecodeTimeout(60000);
}

void TestPictureDecoder::cleanup()
{
    ImageLimits::setDecoderProgram(QString());
    ImageLimits::setDecodeTimeout(60000);
}

void TestPictureDecoder::survives_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("refusal"); // %1: the file
    QTest::newRow("text chunks inflating to gigabytes") << "bomb" << kMemory;
    QTest::newRow("FIFO") << "fifo" << "„%1“ ist keine gewöhnliche Datei.";
    QTest::newRow("link to a photo") << "link" << "„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt.";
    QTest::newRow("decoder that aborts") << "abort" << kCrashed;
    QTest::newRow("decoder that never answers")
        << "hang" << "Das Bild zu lesen dauerte länger als 1 s; es wird übergangen.";
    QTest::newRow("decoder answering nonsense")
        << "nonsense"
        << "Der Bilddecoder gab eine unverständliche Antwort; das Bild wird nicht genommen.";
    QTest::newRow("decoder missing")
        << "missing"
        << "Der Bilddecoder des Programms ließ sich nicht starten; das Bild wird nicht gelesen.";
}

// The picture is refused and named, this process goes on, and the photo after it decodes in
// its usual time, not after a decoder's time-out.
void TestPictureDecoder::survives()
{
    QFETCH(QString, shape);
    QFETCH(QString, refusal);
    QString path = m_dir.filePath(shape + ".png");
    QFile::remove(path);
    if (shape == "bomb") {
        path = write("bomb.png", textBombPng(150, 7900 * 1000));
    } else if (shape == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (shape == "link") {
        QVERIFY(QFile::link(m_photo, path));
    } else {
        path = m_photo;
        if (shape == "abort")
            ImageLimits::setDecoderProgram("/bin/sh", { "-c", "head -c 8 >/dev/null; kill -ABRT $$" });
        else if (shape == "hang")
            ImageLimits::setDecoderProgram("/bin/sh", { "-c", "exec sleep 600" });
        else if (shape == "nonsense")
            ImageLimits::setDecoderProgram(
                "/bin/sh", { "-c", "head -c 8 >/dev/null; printf 'ZZZZZZZZZZZZ'; exec sleep 600" });
        else
            ImageLimits::setDecoderProgram(m_dir.filePath("kein-decoder"));
        if (shape == "hang")
            ImageLimits::setDecodeTimeout(300);
    }
    QVERIFY(!path.isEmpty());

    const ImageLimits::Decoded decoded
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(path, QSize(160, 160)));
    QVERIFY(decoded.image.isNull());
    const QString said = decoded.refusal.isEmpty() ? decoded.error : decoded.refusal;
    // A decoder out of memory says so, or dies of it.
    if (refusal == kMemory && said == kCrashed)
        refusal = kCrashed;
    QCOMPARE(said, refusal.contains("%1") ? refusal.arg(path) : refusal);
    QCOMPARE(decoded.timedOut, shape == "hang");

    ImageLimits::setDecoderProgram(QString());
    ImageLimits::setDecodeTimeout(60000);
    qint64 took = 0;
    const ImageLimits::Decoded next = decodePhoto(&took);
    QCOMPARE(next.image.size(), QSize(160, 120));
    QVERIFY2(next.refusal.isEmpty(), qPrintable(next.refusal));
    // Far below the decoder's time-out: the photo did not wait for a decoder that hangs.
    QVERIFY2(took < 20000, qPrintable(QStringLiteral("%1 ms (usually %2 ms)").arg(took).arg(m_photoTime)));
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// The decoder hands back each size asked for and nothing larger; the picture's own size, its
// format and its turn come along.
void TestPictureDecoder::sizesAskedFor()
{
    ImageLimits::Picture picture = ImageLimits::pictureFile(m_photo, QSize(400, 400));
    picture.boxes << ImageLimits::Picture::Box { QSize(150, 100), true };
    const ImageLimits::Decoded decoded = ImageLimits::decodeWithin(picture);
    QCOMPARE(decoded.images.size(), 2);
    QCOMPARE(decoded.images.at(0).size(), QSize(400, 300));
    QCOMPARE(decoded.images.at(1).size(), QSize(133, 100));
    QCOMPARE(decoded.size, QSize(4000, 3000));
    QCOMPARE(decoded.format, QByteArray("jpeg"));

    // A small picture fills a box that asks for it and is left as it is by one that doesn't;
    // bytes at hand decode as a file does.
    const QByteArray small = photo(QSize(30, 20));
    ImageLimits::Picture bytes = ImageLimits::pictureBytes(small, QSize(160, 160));
    bytes.boxes << ImageLimits::Picture::Box { QSize(150, 100), true };
    const ImageLimits::Decoded fitted = ImageLimits::decodeWithin(bytes);
    QCOMPARE(fitted.images.size(), 2);
    QCOMPARE(fitted.images.at(0).size(), QSize(30, 20));
    QCOMPARE(fitted.images.at(1).size(), QSize(150, 100));
}

// A decode asked for first goes ahead of every queued one; the queued ones of a caller that
// is gone are dropped, not decoded. Every decoder process holds a decode until one of them is
// let go: that one then takes the queued decodes one after the other, in the queue's order.
void TestPictureDecoder::firstGoesAhead()
{
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const int decoders = ImageLimits::decoderCount();
    QStringList order;
    auto gone = std::make_unique<QObject>();
    QObject context;
    const auto later = [&](QObject *caller, const QString &name,
                           ImageLimits::Order asked = ImageLimits::Order::Queued) {
        ImageLimits::decodeLater(
            caller, ImageLimits::pictureFile(m_small, QSize(16, 16)),
            [&order, name](const ImageLimits::Decoded &) { order << name; }, asked);
    };
    {
        TestSupport::HeldDecodes held(-1, decoders);
        for (int i = 0; i < decoders; ++i)
            later(&context, "busy");
        QVERIFY(held.entered(decoders));
        for (int i = 0; i < 3; ++i)
            later(gone.get(), "gone");
        for (int i = 0; i < 3; ++i)
            later(&context, "queued");
        later(&context, "first", ImageLimits::Order::First);
        gone.reset();
        held.letGo(1);
        QTRY_COMPARE(order.size(), 5);
    }
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    QCOMPARE(order.mid(0, 5), QStringList({ "busy", "first", "queued", "queued", "queued" }));
    QCOMPARE(order.count("busy"), decoders);
    QCOMPARE(order.count("gone"), 0);
}

// The decoder's reply is taken only as the size asked for: a well-formed reply with a picture
// larger than its box, with more pictures than boxes, or announcing more than a reply may
// hold refuses the picture, whatever a decoder that was taken over makes of it.
void TestPictureDecoder::repliesNotAsked_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("taken");
    QTest::newRow("as asked") << "asked" << true;
    QTest::newRow("a picture larger than its box") << "larger" << false;
    QTest::newRow("more pictures than boxes") << "more" << false;
    QTest::newRow("a reply longer than a reply may be") << "long" << false;
}

void TestPictureDecoder::repliesNotAsked()
{
    QFETCH(QString, mode);
    QFETCH(bool, taken);
    ImageLimits::setDecoderProgram(FAKE_PICTURE_DECODER, { mode });
    ImageLimits::Picture picture = ImageLimits::pictureFile(m_small, QSize(160, 120));
    picture.boxes << ImageLimits::Picture::Box { QSize(150, 100), true };
    const ImageLimits::Decoded decoded = ImageLimits::decodeWithin(picture);
    if (taken) {
        QVERIFY2(decoded.refusal.isEmpty(), qPrintable(decoded.refusal));
        QCOMPARE(decoded.images.size(), 2);
        QCOMPARE(decoded.images.at(0).size(), QSize(160, 120));
        QCOMPARE(decoded.images.at(1).size(), QSize(150, 100));
    } else {
        QCOMPARE(decoded.refusal, QStringLiteral("Der Bilddecoder gab eine unverständliche "
                                                 "Antwort; das Bild wird nicht genommen."));
        QVERIFY(decoded.image.isNull());
        QVERIFY(decoded.images.isEmpty());
    }
    QCOMPARE(decoded.timedOut, false);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// A decode given up after its wall-clock limit ends its decoder process, also when every
// decoder process hangs at once; the next picture is decoded at once by a fresh one.
void TestPictureDecoder::givenUpFreesItsProcess()
{
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const QString pids = m_dir.filePath("haengend.txt");
    QFile::remove(pids);
    ImageLimits::setDecoderProgram(FAKE_PICTURE_DECODER, { "hang", "haengt", pids });
    ImageLimits::setDecodeTimeout(5000);
    QObject context;
    QList<ImageLimits::Decoded> given;
    for (int i = 0; i < ImageLimits::decoderCount(); ++i)
        ImageLimits::decodeLater(
            &context, ImageLimits::pictureFile(m_dir.filePath(QString("haengt%1.jpg").arg(i)),
                                               QSize(16, 16)),
            [&given](const ImageLimits::Decoded &decoded) { given << decoded; });
    QTRY_VERIFY_WITH_TIMEOUT(given.size() == ImageLimits::decoderCount(), 30000);
    for (const ImageLimits::Decoded &decoded : qAsConst(given)) {
        QVERIFY(decoded.timedOut);
        QCOMPARE(decoded.refusal,
                 QStringLiteral("Das Bild zu lesen dauerte länger als 5 s; es wird übergangen."));
    }
    // Those that got their picture are ended, not left to hang.
    QFile file(pids);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> hung = file.readAll().split('\n');
    QVERIFY(hung.size() > 1);
    for (const QByteArray &pid : hung)
        if (!pid.isEmpty())
            QTRY_VERIFY2(!QFile::exists("/proc/" + QString::fromLatin1(pid)),
                         qPrintable("process " + pid + " still there"));

    ImageLimits::setDecodeTimeout(60000);
    QElapsedTimer timer;
    timer.start();
    const ImageLimits::Decoded next
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(m_small, QSize(16, 16)));
    QVERIFY2(next.refusal.isEmpty(), qPrintable(next.refusal));
    QCOMPARE(next.image.size(), QSize(16, 16));
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

APP_TEST_GUILESS_MAIN(TestPictureDecoder)
#include "test_picturedecoder.moc"
