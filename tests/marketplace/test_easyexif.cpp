#include "marketplace/easyexif.h"
#include "tests/support/testmain.h"

#include <algorithm>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include <QBuffer>
#include <QDataStream>
#include <QImage>

using easyexif::EXIFInfo;

namespace {

// One 12-byte directory entry. The value field is written in the file's byte order:
// a SHORT fills its first two bytes (the rest is padding), a LONG all four, raw bytes
// (inline ASCII) stand as given.
struct Entry
{
    enum Kind { Short, Long, Raw };
    quint16 tag = 0;
    quint16 type = 0;
    quint32 count = 0;
    Kind kind = Short;
    quint32 value = 0;
    quint16 padding = 0;
    QByteArray raw;
};

Entry shortEntry(quint16 tag, quint16 value, quint32 count = 1, quint16 padding = 0)
{
    Entry e;
    e.tag = tag;
    e.type = 3;
    e.count = count;
    e.value = value;
    e.padding = padding;
    return e;
}

Entry longEntry(quint16 tag, quint32 value)
{
    Entry e;
    e.tag = tag;
    e.type = 4;
    e.count = 1;
    e.kind = Entry::Long;
    e.value = value;
    return e;
}

Entry asciiEntry(quint16 tag, const QByteArray &fourBytes)
{
    Entry e;
    e.tag = tag;
    e.type = 2;
    e.count = quint32(fourBytes.size());
    e.kind = Entry::Raw;
    e.raw = fourBytes;
    return e;
}

Entry orientationTag(quint16 value)
{
    return shortEntry(0x0112, value);
}

// What a camera writes around the orientation in its first directory.
QVector<Entry> tagsBefore()
{
    return { longEntry(0x0100, 4000), longEntry(0x0101, 3000), asciiEntry(0x010F, "Cam\0") };
}

QVector<Entry> tagsAfter()
{
    return { shortEntry(0x0128, 2), shortEntry(0x0213, 1), longEntry(0x8769, 0x100) };
}

void writeDirectory(QDataStream &out, const QVector<Entry> &entries, quint32 next)
{
    out << quint16(entries.size());
    for (const Entry &e : entries) {
        out << e.tag << e.type << e.count;
        if (e.kind == Entry::Short)
            out << quint16(e.value) << e.padding;
        else if (e.kind == Entry::Long)
            out << e.value;
        else
            out.writeRawData(e.raw.constData(), 4);
    }
    out << next;
}

// TIFF header plus the first directory (after `gap` unused bytes) and optionally a second
// one, the thumbnail's, linked from the first.
QByteArray tiff(QDataStream::ByteOrder order, const QVector<Entry> &ifd0,
                const QVector<Entry> &ifd1 = {}, quint32 gap = 0)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(order);
    out.writeRawData(order == QDataStream::LittleEndian ? "II" : "MM", 2);
    const quint32 ifd0Offset = 8 + gap;
    out << quint16(42) << ifd0Offset;
    for (quint32 i = 0; i < gap; ++i)
        out << quint8(0xEE);
    const quint32 ifd1Offset = ifd1.isEmpty() ? 0 : ifd0Offset + 2 + 12 * ifd0.size() + 4;
    writeDirectory(out, ifd0, ifd1Offset);
    if (!ifd1.isEmpty())
        writeDirectory(out, ifd1, 0);
    return bytes;
}

void put16(QByteArray &bytes, int offset, quint16 value, QDataStream::ByteOrder order)
{
    QByteArray field;
    QDataStream out(&field, QIODevice::WriteOnly);
    out.setByteOrder(order);
    out << value;
    bytes.replace(offset, 2, field);
}

void put32(QByteArray &bytes, int offset, quint32 value, QDataStream::ByteOrder order)
{
    QByteArray field;
    QDataStream out(&field, QIODevice::WriteOnly);
    out.setByteOrder(order);
    out << value;
    bytes.replace(offset, 4, field);
}

// Marker, big-endian length (counting itself), payload.
QByteArray segment(quint8 marker, const QByteArray &payload)
{
    const int length = payload.size() + 2;
    QByteArray bytes;
    bytes += char(0xFF);
    bytes += char(marker);
    bytes += char(length >> 8);
    bytes += char(length & 0xFF);
    return bytes + payload;
}

const QByteArray exifSignature("Exif\0\0", 6);

QByteArray exifSegment(const QByteArray &tiffBytes)
{
    return segment(0xE1, exifSignature + tiffBytes);
}

QByteArray jfifSegment()
{
    return segment(0xE0, QByteArray("JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));
}

QByteArray xmpSegment()
{
    static const char xmp[] = "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>";
    return segment(0xE1, QByteArray(xmp, sizeof(xmp) - 1));
}

QByteArray quantTableSegment()
{
    return segment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\x01'));
}

// Start of scan and some entropy-coded bytes with a stuffed 0xFF and a restart marker.
QByteArray scan()
{
    return segment(0xDA, QByteArray("\x01\x01\x00\x00\x3F\x00", 6))
        + QByteArray("\x12\xFF\x00\x34\xFF\xD0\x56", 7);
}

const QByteArray soi("\xFF\xD8", 2);
const QByteArray eoi("\xFF\xD9", 2);

QByteArray jpeg(const QByteArray &segments)
{
    return soi + segments + scan() + eoi;
}

QByteArray exifJpeg(QDataStream::ByteOrder order, const QVector<Entry> &ifd0)
{
    return jpeg(jfifSegment() + exifSegment(tiff(order, ifd0)));
}

struct Parsed
{
    int result;
    unsigned short orientation;
};

// Parses an exact-size heap copy: a read one byte past the end then hits AddressSanitizer's
// red zone, where QByteArray's terminating zero would hide it.
Parsed parse(EXIFInfo &info, const QByteArray &bytes)
{
    const auto size = std::size_t(bytes.size());
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    std::copy(bytes.cbegin(), bytes.cend(), copy.get());
    const int result = info.parseFrom(copy.get(), static_cast<unsigned int>(size));
    return { result, info.Orientation };
}

Parsed parse(const QByteArray &bytes)
{
    EXIFInfo info;
    return parse(info, bytes);
}

const std::vector<std::pair<const char *, QDataStream::ByteOrder>> byteOrders
    = { { "II", QDataStream::LittleEndian }, { "MM", QDataStream::BigEndian } };

} // namespace

class TestEasyExif : public QObject
{
    Q_OBJECT
private slots:
    void orientation_data();
    void orientation();
    void errors_data();
    void errors();
    void truncated_data();
    void truncated();
    void damagedBytes_data();
    void damagedBytes();
    void previousResultIsForgotten_data();
    void previousResultIsForgotten();
    void qtWrittenJpeg_data();
    void qtWrittenJpeg();
};

void TestEasyExif::orientation_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("orientation");

    for (const auto &[name, order] : byteOrders) {
        const auto row = [name = name](const char *what) -> QTestData & {
            return QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(name, what)));
        };
        for (quint16 value : { 1, 3, 6, 8 })
            row(qPrintable(QStringLiteral("value %1").arg(value)))
                << exifJpeg(order, { orientationTag(value) }) << int(value);
        row("mirrored value 2 kept") << exifJpeg(order, { orientationTag(2) }) << 2;
        row("mirrored value 7 kept") << exifJpeg(order, { orientationTag(7) }) << 7;
        row("between other tags") << exifJpeg(order,
                                              tagsBefore() << orientationTag(6) << tagsAfter())
                                  << 6;
        row("last of several tags") << exifJpeg(order, tagsBefore() << orientationTag(3)) << 3;
        row("padding after value ignored")
            << exifJpeg(order, { shortEntry(0x0112, 8, 1, 0xABCD) }) << 8;
        row("directory not right after header")
            << jpeg(exifSegment(tiff(order, { orientationTag(6) }, {}, 10))) << 6;
        row("without JFIF segment") << jpeg(exifSegment(tiff(order, { orientationTag(3) }))) << 3;
        row("after XMP and other segments")
            << jpeg(jfifSegment() + xmpSegment() + segment(0xFE, "Kommentar") + quantTableSegment()
                    + exifSegment(tiff(order, { orientationTag(8) })))
            << 8;
        row("fill bytes before markers")
            << jpeg(QByteArray(3, '\xFF') + jfifSegment() + QByteArray(2, '\xFF')
                    + exifSegment(tiff(order, { orientationTag(6) })))
            << 6;
        row("markers without length before EXIF") << jpeg(
            QByteArray("\xFF\x01\xFF\xD3", 4) + exifSegment(tiff(order, { orientationTag(6) })))
                                                  << 6;

        row("tag absent") << exifJpeg(order, tagsBefore() << tagsAfter()) << 0;
        row("empty directory") << exifJpeg(order, {}) << 0;
        row("only in thumbnail directory")
            << jpeg(exifSegment(tiff(order, tagsBefore(), { orientationTag(6) }))) << 0;
        row("value 0") << exifJpeg(order, { orientationTag(0) }) << 0;
        row("value 9") << exifJpeg(order, { orientationTag(9) }) << 0;
        row("value 0x0600") << exifJpeg(order, { orientationTag(0x0600) }) << 0;
        row("stored as LONG") << exifJpeg(order, { longEntry(0x0112, 6) }) << 0;
        row("count 2") << exifJpeg(order, { shortEntry(0x0112, 6, 2) }) << 0;
    }
}

void TestEasyExif::orientation()
{
    QFETCH(QByteArray, data);
    QFETCH(int, orientation);
    const Parsed parsed = parse(data);
    QCOMPARE(parsed.result, int(EXIFInfo::ParseSuccess));
    QCOMPARE(int(parsed.orientation), orientation);
}

void TestEasyExif::errors_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");

    const QByteArray good = tiff(QDataStream::LittleEndian, { orientationTag(6) });
    const int notJpeg = EXIFInfo::ParseNotJpeg;
    const int noExif = EXIFInfo::ParseNoExif;
    const int corrupt = EXIFInfo::ParseCorrupt;

    QTest::newRow("empty") << QByteArray() << notJpeg;
    QTest::newRow("one byte") << QByteArray(1, '\xFF') << notJpeg;
    QTest::newRow("PNG signature") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16) << notJpeg;
    QTest::newRow("start marker swapped") << QByteArray("\xD8\xFF\xFF\xE1\x00\x02", 6) << notJpeg;
    QTest::newRow("text") << QByteArray("Exif II*") << notJpeg;
    QTest::newRow("EXIF segment without start marker") << exifSegment(good) + scan() << notJpeg;

    QTest::newRow("JFIF only") << jpeg(jfifSegment()) << noExif;
    QTest::newRow("scan right after start") << jpeg({}) << noExif;
    QTest::newRow("end right after start") << soi + eoi << noExif;
    QTest::newRow("XMP only") << jpeg(jfifSegment() + xmpSegment()) << noExif;
    QTest::newRow("EXIF in APP2") << jpeg(segment(0xE2, exifSignature + good)) << noExif;
    QTest::newRow("signature without second zero")
        << jpeg(segment(0xE1, QByteArray("Exif\0X", 6) + good)) << noExif;
    QTest::newRow("signature cut by segment end")
        << jpeg(segment(0xE1, QByteArray("Exif\0", 5))) << noExif;
    QTest::newRow("EXIF after image data")
        << soi + jfifSegment() + scan() + exifSegment(good) + eoi << noExif;

    QTest::newRow("start marker only") << soi << corrupt;
    QTest::newRow("ends before image data") << soi + jfifSegment() << corrupt;
    QTest::newRow("garbage instead of marker")
        << soi + QByteArray("\x12\x34\x00\x02", 4) << corrupt;
    QTest::newRow("stuffed zero as marker")
        << soi + QByteArray("\xFF\x00\x00\x02", 4) + scan() << corrupt;
    QTest::newRow("fill bytes up to the end") << soi + QByteArray(4, '\xFF') << corrupt;
    QTest::newRow("length field cut") << soi + QByteArray("\xFF\xE0\x00", 3) << corrupt;
    QTest::newRow("segment length 0")
        << soi + QByteArray("\xFF\xE0\x00\x00", 4) + scan() << corrupt;
    QTest::newRow("segment length 1")
        << soi + QByteArray("\xFF\xE0\x00\x01", 4) + scan() << corrupt;
    QByteArray tooLong = exifSegment(good);
    tooLong[2] = '\x01';
    tooLong[3] = '\x00';
    QTest::newRow("segment longer than buffer") << soi + tooLong + eoi << corrupt;
    QTest::newRow("segment length 0xFFFF")
        << soi + QByteArray("\xFF\xE1\xFF\xFF", 4) + exifSignature + good << corrupt;

    QTest::newRow("TIFF shorter than header") << jpeg(exifSegment(good.left(7))) << corrupt;
    QTest::newRow("empty TIFF") << jpeg(exifSegment({})) << corrupt;
    for (const char *mark : { "IM", "MI", "XX", "ii" }) {
        QByteArray bad = good;
        bad.replace(0, 2, mark);
        QTest::newRow(qPrintable(QStringLiteral("byte order mark %1").arg(mark)))
            << jpeg(exifSegment(bad)) << corrupt;
    }

    for (const auto &[name, order] : byteOrders) {
        const auto row = [name = name](const char *what) -> QTestData & {
            return QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(name, what)));
        };
        const auto other = order == QDataStream::LittleEndian ? QDataStream::BigEndian
                                                              : QDataStream::LittleEndian;
        const QVector<Entry> entries = tagsBefore() << orientationTag(6) << tagsAfter();
        const QByteArray valid = tiff(order, entries);
        const auto patched16 = [&](int offset, quint16 value, QDataStream::ByteOrder o) {
            QByteArray bytes = valid;
            put16(bytes, offset, value, o);
            return jpeg(jfifSegment() + exifSegment(bytes));
        };
        const auto patched32 = [&](int offset, quint32 value) {
            QByteArray bytes = valid;
            put32(bytes, offset, value, order);
            return jpeg(jfifSegment() + exifSegment(bytes));
        };
        const auto size = quint32(valid.size());

        row("magic 43") << patched16(2, 43, order) << corrupt;
        row("magic in the other byte order") << patched16(2, 42, other) << corrupt;
        row("directory offset past block") << patched32(4, size + 100) << corrupt;
        row("directory offset at block end") << patched32(4, size) << corrupt;
        row("directory offset leaves one byte") << patched32(4, size - 1) << corrupt;
        row("directory offset 0xFFFFFFFF") << patched32(4, 0xFFFFFFFF) << corrupt;
        row("directory offset 0xFFFFFFFE") << patched32(4, 0xFFFFFFFE) << corrupt;
        row("directory offset inside header") << patched32(4, 4) << corrupt;
        row("entry count 0xFFFF") << patched16(8, 0xFFFF, order) << corrupt;
        row("entry count one too many")
            << patched16(8, quint16(entries.size() + 1), order) << corrupt;

        // The segment length ends the TIFF data even though the buffer goes on: a reader
        // bounded only by the buffer would still find the orientation here.
        const auto cutSegment = [&](int tiffBytesInSegment) {
            QByteArray seg = exifSegment(valid);
            const int length = 2 + exifSignature.size() + tiffBytesInSegment;
            seg[2] = char(length >> 8);
            seg[3] = char(length & 0xFF);
            return jpeg(jfifSegment() + seg);
        };
        row("directory outside segment") << cutSegment(8) << corrupt;
        row("entries outside segment") << cutSegment(8 + 2 + 12 * 3) << corrupt;
    }
}

void TestEasyExif::errors()
{
    QFETCH(QByteArray, data);
    QFETCH(int, result);
    const Parsed parsed = parse(data);
    QCOMPARE(parsed.result, result);
    QCOMPARE(int(parsed.orientation), 0);
}

void TestEasyExif::truncated_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("exif");

    for (const auto &[name, order] : byteOrders) {
        const QByteArray exif = exifSegment(tiff(order, tagsBefore() << orientationTag(6)));
        QTest::newRow(qPrintable(QStringLiteral("%1 after JFIF").arg(name)))
            << soi + jfifSegment() + quantTableSegment() << exif;
        QTest::newRow(qPrintable(QStringLiteral("%1 first").arg(name))) << soi << exif;
    }
}

// Cut after every byte: until the EXIF segment is complete the file is broken (only the
// first two bytes decide "not a JPEG"); from then on the rest is never needed.
void TestEasyExif::truncated()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, exif);
    const QByteArray full = head + exif + quantTableSegment() + scan() + eoi;
    const int exifEnd = head.size() + exif.size();

    for (int cut = 0; cut <= full.size(); ++cut) {
        const Parsed parsed = parse(full.left(cut));
        const int expected = cut < 2 ? EXIFInfo::ParseNotJpeg
            : cut < exifEnd          ? EXIFInfo::ParseCorrupt
                                     : EXIFInfo::ParseSuccess;
        if (parsed.result != expected || parsed.orientation != (expected == 0 ? 6 : 0))
            QFAIL(qPrintable(QStringLiteral("cut at %1 of %2: result %3, orientation %4")
                                 .arg(cut)
                                 .arg(full.size())
                                 .arg(parsed.result)
                                 .arg(parsed.orientation)));
    }
}

void TestEasyExif::damagedBytes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("exifEnd");
    for (const auto &[name, order] : byteOrders) {
        const QByteArray head = soi + jfifSegment();
        const QByteArray exif
            = exifSegment(tiff(order, tagsBefore() << orientationTag(6) << tagsAfter()));
        QTest::newRow(name) << head + exif + scan() + eoi << head.size() + exif.size();
    }
}

// Overwrites each byte up to the end of the EXIF segment with values that matter to the
// walk (zero, small, fill byte, high bit): whatever the outcome, it is one of the known
// results and an error never leaves an orientation behind. Under AddressSanitizer this
// also shows that no damaged length or offset leads outside the buffer.
void TestEasyExif::damagedBytes()
{
    QFETCH(QByteArray, data);
    QFETCH(int, exifEnd);
    const std::set<int> known = { EXIFInfo::ParseSuccess, EXIFInfo::ParseNotJpeg,
                                  EXIFInfo::ParseNoExif, EXIFInfo::ParseCorrupt };
    std::set<int> seen;
    for (int pos = 0; pos < exifEnd; ++pos) {
        for (char value : { '\x00', '\x01', '\x7F', '\x80', '\xFF' }) {
            QByteArray damaged = data;
            damaged[pos] = value;
            const Parsed parsed = parse(damaged);
            const QByteArray where = QByteArray::number(pos) + " = " + QByteArray::number(value);
            QVERIFY2(known.count(parsed.result) == 1, where.constData());
            QVERIFY2(parsed.orientation <= 8, where.constData());
            if (parsed.result != EXIFInfo::ParseSuccess)
                QVERIFY2(parsed.orientation == 0, where.constData());
            seen.insert(parsed.result);
        }
    }
    // Every outcome must have come up, or the damage missed whole parts of the walk.
    QVERIFY(seen == known);
}

void TestEasyExif::previousResultIsForgotten_data()
{
    QTest::addColumn<bool>("callClear");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("orientation");

    const auto le = QDataStream::LittleEndian;
    QTest::newRow("clear()") << true << QByteArray() << 0 << 0;
    QTest::newRow("not a JPEG") << false << QByteArray("GIF89a") << int(EXIFInfo::ParseNotJpeg)
                                << 0;
    QTest::newRow("no EXIF") << false << jpeg(jfifSegment()) << int(EXIFInfo::ParseNoExif) << 0;
    QByteArray badMagic = tiff(le, { orientationTag(6) });
    badMagic[2] = 43;
    QTest::newRow("corrupt") << false << jpeg(exifSegment(badMagic)) << int(EXIFInfo::ParseCorrupt)
                             << 0;
    QTest::newRow("tag absent") << false << exifJpeg(le, tagsBefore()) << 0 << 0;
    QTest::newRow("other orientation") << false << exifJpeg(le, { orientationTag(3) }) << 0 << 3;
}

void TestEasyExif::previousResultIsForgotten()
{
    QFETCH(bool, callClear);
    QFETCH(QByteArray, second);
    QFETCH(int, result);
    QFETCH(int, orientation);

    EXIFInfo info;
    QCOMPARE(int(info.Orientation), 0);
    QCOMPARE(parse(info, exifJpeg(QDataStream::BigEndian, { orientationTag(8) })).orientation, 8);
    if (callClear) {
        info.clear();
        QCOMPARE(int(info.Orientation), orientation);
    } else {
        const Parsed parsed = parse(info, second);
        QCOMPARE(parsed.result, result);
        QCOMPARE(int(parsed.orientation), orientation);
    }
}

void TestEasyExif::qtWrittenJpeg_data()
{
    QTest::addColumn<QByteArray>("exif");
    QTest::addColumn<bool>("afterJfif");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("orientation");

    QTest::newRow("as written") << QByteArray() << false << int(EXIFInfo::ParseNoExif) << 0;
    QTest::newRow("EXIF first") << exifSegment(
        tiff(QDataStream::LittleEndian, tagsBefore() << orientationTag(3)))
                                << false << 0 << 3;
    QTest::newRow("EXIF after JFIF") << exifSegment(
        tiff(QDataStream::BigEndian, tagsBefore() << orientationTag(6) << tagsAfter()))
                                     << true << 0 << 6;
}

// A real picture from Qt's JPEG writer: its quantisation, frame and Huffman segments must
// be walked over to reach the scan.
void TestEasyExif::qtWrittenJpeg()
{
    QFETCH(QByteArray, exif);
    QFETCH(bool, afterJfif);
    QFETCH(int, result);
    QFETCH(int, orientation);

    QImage image(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 5, y * 7, (x * y) & 0xFF));
    QByteArray file;
    QBuffer buffer(&file);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(image.save(&buffer, "JPEG", 90));
    QVERIFY(file.startsWith(soi + "\xFF\xE0"));
    QVERIFY(file.size() > 300);

    int insertAt = 2;
    if (afterJfif)
        insertAt += 2 + ((quint8(file[4]) << 8) | quint8(file[5]));
    file.insert(insertAt, exif);

    const Parsed parsed = parse(file);
    QCOMPARE(parsed.result, result);
    QCOMPARE(int(parsed.orientation), orientation);
}

APP_TEST_GUILESS_MAIN(TestEasyExif)
#include "test_easyexif.moc"
