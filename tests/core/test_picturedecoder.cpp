// Pictures from outside are decoded in a process of the program's own: whatever a picture does
// to its decoder (a text chunk that inflates to gigabytes, a FIFO that never ends, a decoder
// that crashes or never answers) ends that process, not this one; the picture is refused with
// a reason, and the next picture is decoded at once.
#include "core/imagelimits.h"
#include "tests/support/blackpng.h"
#include "tests/support/helddecodes.h"
#include "tests/support/memorylimit.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <QSqlDatabase>
#include <QtEndian>

#include <malloc.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

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

// The running (not ended) decoder processes of this test, by their process ids.
QStringList decoderProcesses()
{
    QStringList found;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) != self || fields.value(0) == "Z"
            || !QFile::symLinkTarget("/proc/" + pid + "/exe").endsWith("-picturedecoder"))
            continue;
        found << pid;
    }
    return found;
}

// The address-space limit of each running decoder process of this test, read from /proc.
QStringList decoderAddressLimits()
{
    QStringList limits;
    for (const QString &pid : decoderProcesses()) {
        QFile file("/proc/" + pid + "/limits");
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &row : file.readAll().split('\n'))
            if (row.startsWith("Max address space"))
                limits << QString::fromLatin1(row.mid(26).simplified().split(' ').value(0));
    }
    return limits;
}

// The sum of the address-space limits of the running decoders, and of the address space
// they hold; -1 when one of them has no limit.
struct DecoderMemory
{
    qint64 limits = 0;
    qint64 held = 0;
    qint64 largest = 0; // the largest limit of one of them
};
DecoderMemory decoderMemory()
{
    DecoderMemory memory;
    for (const QString &pid : decoderProcesses()) {
        QFile limits("/proc/" + pid + "/limits");
        if (limits.open(QIODevice::ReadOnly))
            for (const QByteArray &row : limits.readAll().split('\n'))
                if (row.startsWith("Max address space")) {
                    bool number = false;
                    const qint64 limit = row.mid(26).simplified().split(' ').value(0).toLongLong(&number);
                    memory.limits = number && memory.limits >= 0 ? memory.limits + limit : -1;
                    memory.largest = qMax(memory.largest, limit);
                }
        QFile status("/proc/" + pid + "/status");
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &row : status.readAll().split('\n'))
                if (row.startsWith("VmSize:"))
                    memory.held += row.mid(7).simplified().split(' ').value(0).toLongLong() * 1024;
    }
    return memory;
}

// The descriptors a process holds: their numbers, and what each one is.
QStringList descriptorsOf(const QString &pid)
{
    QStringList held;
    const QString folder = "/proc/" + pid + "/fd";
    for (const QString &fd : QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t size = ::readlink(QFile::encodeName(folder + "/" + fd).constData(), target,
                                        sizeof target);
        held << fd + "=" + QString::fromLocal8Bit(target, int(qMax<ssize_t>(0, size)));
    }
    held.sort();
    return held;
}

// A TIFF of `width` x `height` RGBA pixels of 8 bits, all zero, in one strip deflated: a
// small file for a picture of width x height x 4 bytes.
QByteArray zeroTiff(quint32 width, quint32 height)
{
    const QByteArray strip = TestSupport::zlibZeros(quint64(width) * height * 4);
    QByteArray tiff("II*\0", 4);
    const auto put16 = [&tiff](quint16 value) {
        char bytes[2];
        qToLittleEndian(value, bytes);
        tiff.append(bytes, 2);
    };
    const auto put32 = [&tiff](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        tiff.append(bytes, 4);
    };
    // The directory at 8: 10 entries, then the four bit depths, then the strip.
    const quint32 depths = 8 + 2 + 10 * 12 + 4;
    const quint32 data = depths + 8;
    put32(8);
    put16(10);
    const auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        put16(tag);
        put16(type);
        put32(count);
        put32(value); // a SHORT stands in the low bytes, as the byte order says
    };
    entry(256, 4, 1, width);
    entry(257, 4, 1, height);
    entry(258, 3, 4, depths); // 8 bits a sample
    entry(259, 3, 1, 8); // deflate
    entry(262, 3, 1, 2); // RGB
    entry(273, 4, 1, data);
    entry(277, 3, 1, 4); // samples a pixel
    entry(278, 4, 1, height); // rows a strip
    entry(279, 4, 1, quint32(strip.size()));
    entry(338, 3, 1, 2); // the fourth sample is alpha
    put32(0);
    for (int i = 0; i < 4; ++i)
        put16(8);
    return tiff + strip;
}

// A picture of `size` written by Qt in `format`.
QByteArray written(const QSize &size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
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
    void inheritsNothing();
    void ownAheadOfThumbnails();
    void waitBoundedFromAsking();
    void notThePicturesFault_data();
    void notThePicturesFault();
    void everyShape_data();
    void everyShape();
    void longNameRefused();
    void sharedMemoryCeiling_data();
    void sharedMemoryCeiling();
    void copiesChecked();
    void bytesHandedOver();

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
    QTest::newRow("PNG of 100 x 100 whose stream goes on with 256 MB of zeros")
        << "tail"
        << "Die Bilddaten des PNG-Bildes gehen über seine Pixel hinaus; es wird nicht gelesen.";
    QTest::newRow("FIFO") << "fifo" << "„%1“ ist keine gewöhnliche Datei.";
    QTest::newRow("link to a photo") << "link" << "„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt.";
    QTest::newRow("decoder that aborts") << "abort" << kCrashed;
    QTest::newRow("decoder that dies of one picture") << "dies" << kCrashed;
    QTest::newRow("decoder that ends itself after a picture that spent its memory")
        << "spent" << kMemory;
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
        path = write("bomb.png", TestSupport::textBombPng(150, 7900 * 1000));
    } else if (shape == "tail") {
        path = write("tail.png", TestSupport::tailPng(100, 100, 256));
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
        else if (shape == "dies")
            ImageLimits::setDecoderProgram(FAKE_PICTURE_DECODER, { "abort", m_photo });
        else if (shape == "spent")
            ImageLimits::setDecoderProgram(FAKE_PICTURE_DECODER, { "spent", m_photo });
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
    if (shape == "bomb") {
        // It was read within the decoders' 1 GB of address space, which they share.
        const auto limited = [] {
            const QStringList limits = decoderAddressLimits();
            qint64 sum = 0;
            for (const QString &limit : limits)
                sum += limit.toLongLong();
            return !limits.isEmpty() && !limits.contains("unlimited") && sum <= (qint64(1) << 30);
        };
        QTRY_VERIFY2(limited(), qPrintable(decoderAddressLimits().join(", ")));
    }
    if (shape == "dies" || shape == "bomb" || shape == "spent") {
        // The same decoder program takes the next picture: the process that died is replaced,
        // and one that ends by itself after a picture that spent its memory hands the next
        // picture to a fresh one.
        const ImageLimits::Decoded after
            = ImageLimits::decodeWithin(ImageLimits::pictureFile(m_small, QSize(16, 16)));
        QVERIFY2(after.refusal.isEmpty(), qPrintable(after.refusal));
        QVERIFY(!after.image.isNull());
        QCOMPARE(after.image.size().boundedTo(QSize(16, 16)), after.image.size());
    }

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
    // The file is opened once: what was checked is what is read (an open and its close;
    // inotify folds only repeats that follow each other).
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(
        inotify_add_watch(watch, QFile::encodeName(m_photo).constData(), IN_OPEN | IN_CLOSE_NOWRITE)
        >= 0);
    const ImageLimits::Decoded decoded = ImageLimits::decodeWithin(picture);
    char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    ::close(watch);
    QCOMPARE(got, ssize_t(2 * sizeof(inotify_event)));
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
// is gone are dropped, not decoded. Queued decodes hold every decoder process but the one kept
// for decodes asked for first, which takes that one at once; when one of the held ones is let
// go, it takes the queued decodes one after the other, in the queue's order.
void TestPictureDecoder::firstGoesAhead()
{
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const int decoders = ImageLimits::decoderCount() - 1;
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
        QTRY_COMPARE(order, QStringList({ "first" }));
        gone.reset();
        held.letGo(1);
        QTRY_COMPARE(order.size(), 5);
    }
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    QCOMPARE(order.mid(0, 5), QStringList({ "first", "busy", "queued", "queued", "queued" }));
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

// A decoder holds nothing of the program: no descriptor beyond its standard three (a
// database connection's socket without close-on-exec, as the MariaDB client leaves it,
// included), none of its environment, not its working folder.
void TestPictureDecoder::inheritsNothing()
{
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const TestSupport::MySqlServer server = TestSupport::MySqlServer::fromEnvironment();
    if (server.configured())
        QVERIFY(TestSupport::adminConnection(server, "decoder-descriptors").isOpen());
    else if (TestSupport::mysqlRequired())
        QFAIL("no MariaDB server");
    qputenv("ZERIRE_TEST_SECRET", "geheim");
    // Every decoder process starts afresh, now.
    ImageLimits::setDecoderProgram(QString());
    QList<ImageLimits::Picture> pictures;
    for (int i = 0; i < ImageLimits::decoderCount(); ++i)
        pictures << ImageLimits::pictureFile(m_small, QSize(16, 16));
    for (const ImageLimits::Decoded &decoded : ImageLimits::decodeAllWithin(pictures))
        QVERIFY2(!decoded.image.isNull(), qPrintable(decoded.refusal + decoded.error));

    const QStringList decoders = decoderProcesses();
    QVERIFY(!decoders.isEmpty());
    for (const QString &pid : decoders) {
        // Beyond its standard three only what its own event loop made (an eventfd).
        const auto ownOnly = [&pid] {
            for (const QString &fd : descriptorsOf(pid))
                if (fd.section('=', 0, 0).toInt() > 2 && !fd.section('=', 1).startsWith("anon_inode:"))
                    return false;
            return true;
        };
        QTRY_VERIFY2(ownOnly(), qPrintable(descriptorsOf(pid).join(", ")));
        for (const QString &fd : descriptorsOf(pid))
            QVERIFY2(!fd.contains("socket:"), qPrintable(fd));
        QFile environment("/proc/" + pid + "/environ");
        QVERIFY(environment.open(QIODevice::ReadOnly));
        const QByteArray variables = environment.readAll();
        QVERIFY2(!variables.contains("ZERIRE_TEST_SECRET"), variables.constData());
        QVERIFY2(!variables.contains("ZERIRE_TEST_MYSQL"), variables.constData());
        QCOMPARE(QFile::symLinkTarget("/proc/" + pid + "/cwd"), QString("/"));
    }
    qunsetenv("ZERIRE_TEST_SECRET");
    QSqlDatabase::removeDatabase("decoder-descriptors");
    ::close(pair[0]);
    ::close(pair[1]);
}

// A thousand thumbnails of a list wait behind slow ones (held): the seller's own picture (an
// import's check) is decoded at once, by the decoder kept for it; the queue keeps the newest
// thumbnails up to its ceiling and tells the dropped ones as not read; a list withdraws the
// rest.
void TestPictureDecoder::ownAheadOfThumbnails()
{
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const int slow = ImageLimits::decoderCount() - 1;
    constexpr int kThumbnails = 1000;
    QObject list;
    int notRead = 0;
    int decoded = 0;
    {
        TestSupport::HeldDecodes held(-1, slow);
        for (int i = 0; i < kThumbnails; ++i)
            ImageLimits::decodeLater(&list, ImageLimits::pictureFile(m_small, QSize(16, 16)),
                                     [&](const ImageLimits::Decoded &result) {
                                         if (result.retry && result.refusal.isEmpty())
                                             ++notRead;
                                         else if (!result.image.isNull())
                                             ++decoded;
                                     });
        QVERIFY(held.entered(slow));
        QElapsedTimer timer;
        timer.start();
        const ImageLimits::Decoded checked
            = ImageLimits::decodeWithin(ImageLimits::pictureFile(m_photo, QSize(160, 160)));
        const qint64 took = timer.elapsed();
        QVERIFY2(checked.refusal.isEmpty(), qPrintable(checked.refusal));
        QCOMPARE(checked.image.size(), QSize(160, 120));
        // Held thumbnails hold for 10 s.
        QVERIFY2(took < 5000 + m_photoTime,
                 qPrintable(QStringLiteral("%1 ms (usually %2 ms)").arg(took).arg(m_photoTime)));
        QTRY_COMPARE(notRead, kThumbnails - slow - ImageLimits::kMaxQueuedThumbnails);
        QCOMPARE(decoded, 0);
        ImageLimits::withdraw(&list);
        QTRY_COMPARE(notRead, kThumbnails - slow);
        held.letGo(slow);
    }
    QTRY_COMPARE(decoded, slow);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// A decode's time runs from the moment it is asked: one that waits behind decodes holding
// every decoder is given up at its deadline, not after theirs.
void TestPictureDecoder::waitBoundedFromAsking()
{
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const int decoders = ImageLimits::decoderCount();
    QObject context;
    int done = 0;
    TestSupport::HeldDecodes held(-1, decoders);
    for (int i = 0; i < decoders; ++i)
        ImageLimits::decodeLater(
            &context, ImageLimits::pictureFile(m_small, QSize(16, 16)),
            [&done](const ImageLimits::Decoded &) { ++done; }, ImageLimits::Order::First);
    QVERIFY(held.entered(decoders));
    ImageLimits::setDecodeTimeout(500);
    QElapsedTimer timer;
    timer.start();
    const ImageLimits::Decoded waited
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(m_small, QSize(16, 16)));
    const qint64 took = timer.elapsed();
    ImageLimits::setDecodeTimeout(60000);
    QVERIFY(waited.timedOut);
    QVERIFY(waited.retry);
    QVERIFY(waited.image.isNull());
    QVERIFY2(took >= 450 && took < 5000, qPrintable(QString::number(took)));
    held.letGo(decoders);
    QTRY_COMPARE(done, decoders);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// A decoder ended from outside (by the kernel short of memory) leaves the picture to be asked
// for again; one that ends without reading its picture is given one fresh process, then the
// picture is refused: the wait ends.
void TestPictureDecoder::notThePicturesFault_data()
{
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<bool>("retry");
    QTest::addColumn<QString>("said");
    QTest::newRow("killed from outside")
        << "killed" << true
        << "Der Bilddecoder wurde von außen beendet; das Bild wird später erneut gelesen.";
    QTest::newRow("ends without reading")
        << "quits" << false << "Der Bilddecoder endete beim Lesen des Bildes; es wird nicht genommen.";
    QTest::newRow("ends as soon as it starts")
        << "ends" << false << "Der Bilddecoder endete beim Lesen des Bildes; es wird nicht genommen.";
}

void TestPictureDecoder::notThePicturesFault()
{
    QFETCH(QString, decoder);
    QFETCH(bool, retry);
    QFETCH(QString, said);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const QString pids = m_dir.filePath("gelesen.txt");
    QFile::remove(pids);
    if (decoder == "killed")
        ImageLimits::setDecoderProgram("/bin/sh", { "-c", "head -c 8 >/dev/null; kill -KILL $$" });
    else if (decoder == "ends")
        ImageLimits::setDecoderProgram("/bin/sh", { "-c", "echo $$ >>\"$0\"", pids });
    else
        ImageLimits::setDecoderProgram(FAKE_PICTURE_DECODER, { "quits", pids });
    QElapsedTimer timer;
    timer.start();
    const ImageLimits::Decoded decoded
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(m_small, QSize(16, 16)));
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(decoded.refusal, said);
    QCOMPARE(decoded.retry, retry);
    QCOMPARE(decoded.timedOut, false);
    const auto started = [&pids] {
        QFile file(pids);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    };
    // The picture went to a fresh process once.
    if (decoder == "quits")
        QCOMPARE(started(), 2);
    if (decoder == "ends") {
        // The two for the picture and the one started for the next picture, which ended
        // as well: nothing more is started until a picture comes.
        QTRY_COMPARE(started(), 3);
        QTest::qWait(300);
        QCOMPARE(started(), 3);
    }
    ImageLimits::setDecoderProgram(QString());
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// Pictures of every shape decode, each side of what is handed back at least one pixel; a TIFF
// of 4 x 12,000,000 pixels (192 MB decoded) is decoded within the decoders' memory.
void TestPictureDecoder::everyShape_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<bool>("fill");
    QTest::addColumn<QSize>("handed");
    const QSize list(160, 160);
    QTest::newRow("PNG 3000 x 10") << written(QSize(3000, 10), "png") << list << false << QSize(160, 1);
    QTest::newRow("PNG 10 x 3000") << written(QSize(10, 3000), "png") << list << false << QSize(1, 160);
    QTest::newRow("JPEG 2000 x 13") << written(QSize(2000, 13), "jpeg") << list << false << QSize(160, 1);
    QTest::newRow("JPEG 1000 x 6") << written(QSize(1000, 6), "jpeg") << list << false << QSize(160, 1);
    QTest::newRow("PNG 3000 x 10 filling the thumbnail box")
        << written(QSize(3000, 10), "png") << QSize(150, 100) << true << QSize(150, 1);
    QTest::newRow("PNG 2 x 1 filling the thumbnail box")
        << written(QSize(2, 1), "png") << QSize(150, 100) << true << QSize(150, 75);
    QTest::newRow("TIFF 4 x 12,000,000") << zeroTiff(4, 12000000) << list << false << QSize(1, 160);
}

void TestPictureDecoder::everyShape()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, box);
    QFETCH(bool, fill);
    QFETCH(QSize, handed);
    const QString path = write(QString("form-%1.bild").arg(QTest::currentDataTag()).replace(' ', '_'), bytes);
    QVERIFY(!path.isEmpty());
    const ImageLimits::Decoded decoded
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(path, box, fill));
    QVERIFY2(decoded.refusal.isEmpty() && decoded.error.isEmpty(),
             qPrintable(decoded.refusal + decoded.error));
    QCOMPARE(decoded.image.size(), handed);
    QVERIFY(decoded.size.width() >= handed.width() || fill);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// A refusal naming a path of more than a thousand characters comes back with the name
// shortened in its middle, not as a reply the program can't take.
void TestPictureDecoder::longNameRefused()
{
    const QString folder = m_dir.filePath(QString("ordner-").repeated(160));
    const QString path = folder + "/fehlendes-bild.jpg";
    QVERIFY(path.size() > 1100);
    const ImageLimits::Decoded decoded
        = ImageLimits::decodeWithin(ImageLimits::pictureFile(path, QSize(16, 16)));
    QVERIFY(decoded.image.isNull());
    QVERIFY(!decoded.refusal.isEmpty());
    QVERIFY2(!decoded.refusal.contains("unverständliche"), qPrintable(decoded.refusal));
    QVERIFY2(decoded.refusal.size() <= 1000, qPrintable(QString::number(decoded.refusal.size())));
    QVERIFY2(decoded.refusal.contains(path.left(200)), qPrintable(decoded.refusal));
    QVERIFY2(decoded.refusal.contains(path.right(200)), qPrintable(decoded.refusal));
    QVERIFY(decoded.refusal.contains(QChar(0x2026)));
}

// Pictures that each take more memory than any picture needs: the decoders together never
// hold, nor may hold, more than 1 GB, whether they decode such pictures side by side or one of
// them is given the whole budget while the others stood idle.
void TestPictureDecoder::sharedMemoryCeiling_data()
{
    QTest::addColumn<int>("bombs");
    QTest::addColumn<bool>("own"); // the seller's own, else a list's thumbnail
    QTest::newRow("four at once") << 4 << true;
    QTest::newRow("one while the other decoders stand idle") << 1 << true;
    // A thumbnail is refused within its decoder's share, never given the whole budget.
    QTest::newRow("a list's thumbnail") << 1 << false;
}

void TestPictureDecoder::sharedMemoryCeiling()
{
    QFETCH(int, bombs);
    QFETCH(bool, own);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    if (bombs == 1) {
        QList<ImageLimits::Picture> pictures;
        for (int i = 0; i < ImageLimits::decoderCount(); ++i)
            pictures << ImageLimits::pictureFile(m_small, QSize(16, 16));
        ImageLimits::decodeAllWithin(pictures);
        QTRY_COMPARE(decoderProcesses().size(), ImageLimits::decoderCount());
    }
    QObject context;
    QList<ImageLimits::Decoded> given;
    for (int i = 0; i < bombs; ++i)
        ImageLimits::decodeLater(
            &context,
            ImageLimits::pictureFile(write(QString("bombe%1.png").arg(i), TestSupport::textBombPng(150, 7900 * 1000)),
                                     QSize(160, 160)),
            [&given](const ImageLimits::Decoded &decoded) { given << decoded; },
            own ? ImageLimits::Order::First : ImageLimits::Order::Queued);
    qint64 limits = 0;
    qint64 held = 0;
    qint64 largest = 0;
    int samples = 0;
    QElapsedTimer timer;
    timer.start();
    while (given.size() < bombs && timer.elapsed() < 60000) {
        const DecoderMemory memory = decoderMemory();
        if (memory.limits < 0)
            QSKIP("The decoders run without a limit of their address space (sanitizer build).");
        limits = qMax(limits, memory.limits);
        held = qMax(held, memory.held);
        largest = qMax(largest, memory.largest);
        ++samples;
        QTest::qWait(5);
    }
    QCOMPARE(given.size(), bombs);
    for (const ImageLimits::Decoded &decoded : qAsConst(given)) {
        QVERIFY(decoded.image.isNull());
        QVERIFY2(decoded.refusal == kMemory || decoded.refusal == kCrashed, qPrintable(decoded.refusal));
    }
    qInfo("%d samples: limits at most %lld MB, held at most %lld MB", samples, limits >> 20, held >> 20);
    QVERIFY(samples > 1);
    QVERIFY2(limits <= (qint64(1) << 30), qPrintable(QString::number(limits >> 20) + " MB"));
    QVERIFY2(held <= (qint64(1) << 30), qPrintable(QString::number(held >> 20) + " MB"));
    if (!own)
        QVERIFY2(largest <= (qint64(1) << 30) / ImageLimits::decoderCount(),
                 qPrintable(QString::number(largest >> 20) + " MB"));
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// The decoder's copy of a picture's pixels that can't be allocated leaves no picture (the
// picture is refused as too large for memory), not pixels written into nothing.
void TestPictureDecoder::copiesChecked()
{
    // 576 MB, never written: far more than any free memory this process holds at hand.
    const QImage large(12000, 12000, QImage::Format_ARGB32);
    QVERIFY(!large.isNull());
    QImage copied;
    {
        // Free memory goes back first: the copy can't be had from what this process holds.
        ::malloc_trim(0);
        TestSupport::AddressSpaceLimit cap(16 * 1024 * 1024);
        if (!cap.active())
            QSKIP("No limit of the address space here.");
        copied = PictureRequest::pixelsOnly(large);
    }
    QVERIFY(copied.isNull());
    QImage small(40, 30, QImage::Format_ARGB32);
    small.fill(Qt::darkRed);
    const QImage bare = PictureRequest::pixelsOnly(small);
    QCOMPARE(bare.size(), QSize(40, 30));
    QCOMPARE(bare.pixel(5, 5), QColor(Qt::darkRed).rgb());
}

// The bytes of a large upload go to the decoder a slice at a time: the program holds no copy
// of them on their way (they were held twice).
void TestPictureDecoder::bytesHandedOver()
{
    QFile file(m_small);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray upload = file.readAll();
    upload.append(QByteArray(160 * 1024 * 1024 - upload.size(), '\x01'));
    TestSupport::PeakMemory memory;
    if (!memory.start())
        QSKIP("The peak memory can't be measured here.");
    const ImageLimits::Decoded checked
        = ImageLimits::decodeWithin(ImageLimits::pictureBytes(upload, QSize(16, 16)));
    const qint64 growth = memory.growth();
    QVERIFY2(checked.refusal.isEmpty(), qPrintable(checked.refusal));
    QCOMPARE(checked.image.size(), QSize(16, 12));
    QVERIFY2(growth < 40 * 1024 * 1024, qPrintable(QString::number(growth >> 20) + " MB"));
}

APP_TEST_GUILESS_MAIN(TestPictureDecoder)
#include "test_picturedecoder.moc"
