#include "marketplace/easyexif.h"
#include "tests/support/testmain.h"

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

#include <QDataStream>

using easyexif::EXIFInfo;
using Order = QDataStream::ByteOrder;

Q_DECLARE_METATYPE(QDataStream::ByteOrder)

namespace {

// One directory entry. A SHORT (type 3) fills the first two bytes of the value field with
// the low half of `value` and the two after them with the high half; other types all four.
struct Tag
{
    quint16 tag, type;
    quint32 count, value;
};

Tag orientation(quint32 value)
{
    return { 0x0112, 3, 1, value };
}

// What a camera writes beside the orientation: LONG, ASCII and SHORT entries.
const QVector<Tag> kOtherTags
    = { { 0x0100, 4, 1, 4000 }, { 0x010F, 2, 4, 0x43616D00 }, { 0x0128, 3, 1, 2 } };

QByteArray number(Order order, quint32 value, int size)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(order);
    if (size == 2)
        out << quint16(value);
    else
        out << value;
    return bytes;
}

// The TIFF header, `gap` unused bytes, the first directory and, when given, a second one
// (the thumbnail's) linked from it.
QByteArray tiff(Order order, const QVector<Tag> &ifd0, const QVector<Tag> &ifd1 = {}, int gap = 0)
{
    const auto directory = [order](const QVector<Tag> &tags, quint32 next) {
        QByteArray bytes = number(order, quint32(tags.size()), 2);
        for (const Tag &t : tags) {
            bytes += number(order, t.tag, 2) + number(order, t.type, 2) + number(order, t.count, 4);
            bytes += t.type == 3
                ? number(order, t.value & 0xFFFF, 2) + number(order, t.value >> 16, 2)
                : number(order, t.value, 4);
        }
        return bytes + number(order, next, 4);
    };
    const QByteArray header = QByteArray(order == QDataStream::LittleEndian ? "II" : "MM")
        + number(order, 42, 2) + number(order, quint32(8 + gap), 4) + QByteArray(gap, '\xEE');
    if (ifd1.isEmpty())
        return header + directory(ifd0, 0);
    return header + directory(ifd0, quint32(header.size() + 6 + 12 * ifd0.size()))
        + directory(ifd1, 0);
}

// Marker, big-endian length (counting itself), payload.
QByteArray segment(quint8 marker, const QByteArray &payload)
{
    const int length = payload.size() + 2;
    return QByteArray("\xFF") + char(marker) + char(length >> 8) + char(length & 0xFF) + payload;
}

const QByteArray kSignature("Exif\0\0", 6);
const QByteArray kSoi("\xFF\xD8", 2);
const QByteArray kEoi("\xFF\xD9", 2);
const QByteArray kJfif = segment(0xE0, QByteArray("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
const char kXmpPayload[] = "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>";
const QByteArray kXmp = segment(0xE1, QByteArray(kXmpPayload, sizeof(kXmpPayload) - 1));
const QByteArray kQuantTable = segment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\x01'));
// Start of scan and entropy-coded bytes with a stuffed 0xFF and a restart marker.
const QByteArray kScan = segment(0xDA, QByteArray("\x01\x01\0\0\x3F\0", 6))
    + QByteArray("\x12\xFF\0\x34\xFF\xD0\x56", 7);

QByteArray exif(const QByteArray &tiffBytes)
{
    return segment(0xE1, kSignature + tiffBytes);
}

QByteArray jpeg(const QByteArray &segments)
{
    return kSoi + segments + kScan + kEoi;
}

QByteArray exifJpeg(Order order, const QVector<Tag> &tags)
{
    return jpeg(kJfif + exif(tiff(order, tags)));
}

// Result and orientation of parsing an exact-size heap copy: a read one byte past the end then
// hits AddressSanitizer's red zone, where QByteArray's terminating zero would hide it.
QPair<int, int> parse(EXIFInfo &info, const QByteArray &bytes)
{
    const auto size = std::size_t(bytes.size());
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    std::copy(bytes.cbegin(), bytes.cend(), copy.get());
    const int result = info.parseFrom(copy.get(), static_cast<unsigned int>(size));
    return { result, info.Orientation };
}

const std::pair<const char *, Order> kOrders[]
    = { { "II", QDataStream::LittleEndian }, { "MM", QDataStream::BigEndian } };

} // namespace

class TestEasyExif : public QObject
{
    Q_OBJECT
private slots:
    void parsing_data();
    void parsing();
    void cutOrDamaged_data();
    void cutOrDamaged();
};

void TestEasyExif::parsing_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("orientation");
    const int notJpeg = EXIFInfo::ParseNotJpeg;
    const int noExif = EXIFInfo::ParseNoExif;
    const int corrupt = EXIFInfo::ParseCorrupt;

    // Fill bytes, markers without a length, APP0, XMP in APP1, a comment, a quantisation table.
    const QByteArray others = QByteArray(2, '\xFF') + kJfif + QByteArray("\xFF\x01\xFF\xD3", 4)
        + kXmp + segment(0xFE, "Kommentar") + kQuantTable;
    for (const auto &[name, order] : kOrders) {
        const auto row = [name = name](const QString &what) -> QTestData & {
            return QTest::newRow(qPrintable(name + (' ' + what)));
        };
        for (quint32 value : { 1, 8 })
            row(QString("value %1").arg(value))
                << exifJpeg(order, { orientation(value) }) << 0 << int(value);
        row("padding after the value ignored")
            << exifJpeg(order, { orientation(0xABCD0008) }) << 0 << 8;
        row("directory after a gap")
            << jpeg(exif(tiff(order, { orientation(6) }, {}, 10))) << 0 << 6;
        row("after other segments")
            << jpeg(others + exif(tiff(order, { orientation(8) }))) << 0 << 8;
        row("tag absent") << exifJpeg(order, kOtherTags) << 0 << 0;
        row("only in the thumbnail's directory")
            << jpeg(exif(tiff(order, kOtherTags, { orientation(6) }))) << 0 << 0;
        row("value 9") << exifJpeg(order, { orientation(9) }) << 0 << 0;
        row("stored as LONG") << exifJpeg(order, { { 0x0112, 4, 1, 6 } }) << 0 << 0;
        row("count 2") << exifJpeg(order, { { 0x0112, 3, 2, 6 } }) << 0 << 0;

        const QByteArray valid = tiff(order, kOtherTags + QVector<Tag> { orientation(6) });
        const auto patched = [&, order = order](int offset, quint32 value, int size) {
            QByteArray bytes = valid;
            bytes.replace(offset, size, number(order, value, size));
            return jpeg(kJfif + exif(bytes));
        };
        const auto size = quint32(valid.size());
        row("magic 43") << patched(2, 43, 2) << corrupt << 0;
        row("directory offset leaves one byte") << patched(4, size - 1, 4) << corrupt << 0;
        row("directory offset 0xFFFFFFFF") << patched(4, 0xFFFFFFFF, 4) << corrupt << 0;
        row("directory offset inside the header") << patched(4, 4, 4) << corrupt << 0;
        row("one entry more than there is") << patched(8, 5, 2) << corrupt << 0;
        // The segment length ends the TIFF data though the buffer goes on: a reader bounded
        // only by the buffer would still find the orientation.
        const auto cutSegment = [&](int tiffBytes) {
            QByteArray bytes = exif(valid);
            const int length = 2 + kSignature.size() + tiffBytes;
            bytes[2] = char(length >> 8);
            bytes[3] = char(length & 0xFF);
            return jpeg(kJfif + bytes);
        };
        row("directory outside the segment") << cutSegment(8) << corrupt << 0;
        row("entries outside the segment") << cutSegment(8 + 2 + 12 * 3) << corrupt << 0;
    }

    const QByteArray good = tiff(QDataStream::LittleEndian, { orientation(6) });
    QTest::newRow("EXIF without start marker") << exif(good) + kScan << notJpeg << 0;
    QTest::newRow("end right after start") << kSoi + kEoi << noExif << 0;
    QTest::newRow("EXIF in APP2") << jpeg(segment(0xE2, kSignature + good)) << noExif << 0;
    QTest::newRow("signature without its second zero")
        << jpeg(segment(0xE1, QByteArray("Exif\0X", 6) + good)) << noExif << 0;
    QTest::newRow("EXIF after the image data")
        << kSoi + kJfif + kScan + exif(good) + kEoi << noExif << 0;
    QTest::newRow("garbage instead of a marker")
        << kSoi + QByteArray("\x12\x34\0\x02", 4) + kScan << corrupt << 0;
    QTest::newRow("stuffed zero as marker")
        << kSoi + QByteArray("\xFF\0\0\x02", 4) + kScan << corrupt << 0;
    QTest::newRow("segment length 1")
        << jpeg(QByteArray("\xFF\xE1\0\x01", 4) + kSignature + good) << corrupt << 0;
    QTest::newRow("TIFF shorter than its header") << jpeg(exif(good.left(7))) << corrupt << 0;
    for (const char *mark : { "IM", "XX" }) {
        QTest::addRow("byte order mark %s", mark) << jpeg(exif(mark + good.mid(2))) << corrupt << 0;
    }
}

// Each parse first forgets what the one before found.
void TestEasyExif::parsing()
{
    QFETCH(QByteArray, data);
    EXIFInfo info;
    QCOMPARE(parse(info, exifJpeg(QDataStream::BigEndian, { orientation(8) })).second, 8);
    const QPair<int, int> parsed = parse(info, data);
    QTEST(parsed.first, "result");
    QTEST(parsed.second, "orientation");
}

void TestEasyExif::cutOrDamaged_data()
{
    QTest::addColumn<Order>("order");
    for (const auto &[name, order] : kOrders)
        QTest::newRow(name) << order;
}

// Under AddressSanitizer this also shows that no cut or damaged length or offset leads
// outside the buffer.
void TestEasyExif::cutOrDamaged()
{
    QFETCH(Order, order);
    const QByteArray head = kSoi + kJfif + kQuantTable
        + exif(tiff(order, kOtherTags + QVector<Tag> { orientation(6) }));
    const QByteArray full = head + kQuantTable + kScan + kEoi;
    EXIFInfo info;

    // Cut after every byte: until the EXIF segment is complete the file is broken (only the
    // first two bytes decide "not a JPEG"); from then on the rest is never needed.
    for (int cut = 0; cut <= full.size(); ++cut) {
        const int expected = cut < 2 ? EXIFInfo::ParseNotJpeg
            : cut < head.size()      ? EXIFInfo::ParseCorrupt
                                     : EXIFInfo::ParseSuccess;
        const QPair<int, int> parsed = parse(info, full.left(cut));
        QVERIFY2(
            parsed == qMakePair(expected, expected == 0 ? 6 : 0),
            qPrintable(QString("cut at %1: %2, %3").arg(cut).arg(parsed.first).arg(parsed.second)));
    }

    // Each byte up to there overwritten with values that matter to the walk (zero, small,
    // fill byte, high bit): always a known result, and an error leaves no orientation.
    const std::set<int> known = { EXIFInfo::ParseSuccess, EXIFInfo::ParseNotJpeg,
                                  EXIFInfo::ParseNoExif, EXIFInfo::ParseCorrupt };
    std::set<int> seen;
    for (int pos = 0; pos < head.size(); ++pos) {
        for (char value : { '\x00', '\x01', '\x7F', '\x80', '\xFF' }) {
            QByteArray damaged = full;
            damaged[pos] = value;
            const QPair<int, int> parsed = parse(info, damaged);
            QVERIFY2(known.count(parsed.first) == 1 && parsed.second <= 8
                         && (parsed.first == EXIFInfo::ParseSuccess || parsed.second == 0),
                     qPrintable(QString("byte %1 = %2").arg(pos).arg(int(value))));
            seen.insert(parsed.first);
        }
    }
    // Every outcome must have come up, or the damage missed whole parts of the walk.
    QVERIFY(seen == known);
}

APP_TEST_GUILESS_MAIN(TestEasyExif)
#include "test_easyexif.moc"
