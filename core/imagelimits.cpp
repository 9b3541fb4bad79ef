#include "core/imagelimits.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QIODevice>
#include <QImageReader>

#include <cstring>

#include <zlib.h>

namespace ImageLimits {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ImageLimits", text);
}

// The bytes of the picture a reader stands before, read in blocks from where the device
// stands; the device is put back there when this ends. A sequential device is only peeked
// at, as far as it has the bytes at hand.
class PictureBytes
{
public:
    explicit PictureBytes(QIODevice *device)
        : m_device(device)
    {
        if (!m_device)
            return;
        if (!m_device->isOpen() && !m_device->open(QIODevice::ReadOnly))
            m_device = nullptr;
        else if (m_device->isSequential())
            m_block = m_device->peek(kSequentialPeek);
        else
            m_start = m_device->pos();
    }
    ~PictureBytes()
    {
        if (m_device && !m_device->isSequential())
            m_device->seek(m_start);
    }
    PictureBytes(const PictureBytes &) = delete;
    PictureBytes &operator=(const PictureBytes &) = delete;

    // The byte at `offset`, -1 past the end (or past what may be examined).
    int at(qint64 offset)
    {
        if (!load(offset))
            return -1;
        return uchar(m_block.at(int(offset - m_blockAt)));
    }
    // Where the next 0xFF is at or after `offset`; -1 when there is none.
    qint64 nextFF(qint64 offset)
    {
        while (load(offset)) {
            const int from = int(offset - m_blockAt);
            const void *found
                = std::memchr(m_block.constData() + from, 0xFF, size_t(m_block.size() - from));
            if (found)
                return m_blockAt + (static_cast<const char *>(found) - m_block.constData());
            offset = m_blockAt + m_block.size();
        }
        return -1;
    }
    // True when the end was not reached because no more may be examined.
    bool capped() const { return m_capped; }

private:
    static constexpr int kBlock = 64 * 1024;
    static constexpr int kSequentialPeek = 1024 * 1024;

    bool load(qint64 offset)
    {
        if (!m_device || offset < 0)
            return false;
        if (offset >= m_blockAt && offset < m_blockAt + m_block.size())
            return true;
        if (m_device->isSequential()) {
            // What was not at hand may go on past it.
            m_capped = m_block.size() >= kSequentialPeek;
            return false;
        }
        if (m_examined >= kMaxExaminedBytes) {
            m_capped = true;
            return false;
        }
        if (!m_device->seek(m_start + offset))
            return false;
        m_block = m_device->read(kBlock);
        m_blockAt = offset;
        m_examined += m_block.size();
        return !m_block.isEmpty();
    }

    QIODevice *m_device;
    qint64 m_start = 0;
    QByteArray m_block;
    qint64 m_blockAt = 0;
    qint64 m_examined = 0;
    bool m_capped = false;
};

// What the markers of a JPEG say: the frame's size (from the first start-of-frame) and how
// many scans follow; `tooManyScans` once there are more than the ceiling (counting stops
// there), `capped` when the end was not reached within what may be examined.
struct JpegMarkers
{
    QSize size;
    int scans = 0;
    bool tooManyScans = false;
    bool capped = false;
};

// Walks the markers as a decoder does: segments are skipped by their length, the coded data
// after a start of scan is searched for the next marker (0xFF 0x00 is a coded 0xFF, 0xFF
// 0xD0-D7 a restart inside it), and the walk ends at the end of the picture, at the end of the
// data, at a broken segment or at the ceiling.
JpegMarkers jpegMarkers(PictureBytes &bytes)
{
    JpegMarkers found;
    qint64 at = 2; // past the start of the picture, FF D8
    for (;;) {
        at = bytes.nextFF(at);
        if (at < 0)
            break;
        int marker = bytes.at(++at);
        while (marker == 0xFF) // fill bytes
            marker = bytes.at(++at);
        if (marker < 0 || marker == 0xD9)
            break;
        ++at;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no segment follows
        const int high = bytes.at(at);
        const int low = bytes.at(at + 1);
        if (high < 0 || low < 0)
            break;
        const int length = (high << 8) | low;
        if (length < 2)
            break;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
            && marker != 0xCC;
        if (frame && !found.size.isValid()) {
            int field[4];
            for (int i = 0; i < 4; ++i)
                field[i] = bytes.at(at + 3 + i);
            if (field[0] >= 0 && field[1] >= 0 && field[2] >= 0 && field[3] >= 0)
                found.size = QSize((field[2] << 8) | field[3], (field[0] << 8) | field[1]);
        }
        if (marker == 0xDA && ++found.scans > kMaxJpegScans) {
            found.tooManyScans = true;
            break;
        }
        at += length;
    }
    found.capped = bytes.capped();
    return found;
}

// The formats the marketplace takes, told by their first bytes.
enum class Kind { None, Jpeg, Png, Gif, Bmp, Tiff };

Kind kindOf(PictureBytes &bytes)
{
    uchar head[8];
    for (int i = 0; i < 8; ++i)
        head[i] = uchar(qMax(0, bytes.at(i)));
    if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return Kind::Jpeg;
    if (std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0)
        return Kind::Png;
    if (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)
        return Kind::Gif;
    if (head[0] == 'B' && head[1] == 'M')
        return Kind::Bmp;
    if (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0)
        return Kind::Tiff;
    return Kind::None;
}

// Qt's names of the format a content kind is.
bool sameFormat(Kind kind, const QByteArray &format)
{
    switch (kind) {
    case Kind::Jpeg:
        return format == "jpeg" || format == "jpg";
    case Kind::Png:
        return format == "png";
    case Kind::Gif:
        return format == "gif";
    case Kind::Bmp:
        return format == "bmp" || format == "dib";
    case Kind::Tiff:
        return format == "tiff" || format == "tif";
    case Kind::None:
        break;
    }
    return false;
}

quint32 bigEndian32(PictureBytes &bytes, qint64 at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | quint32(qMax(0, bytes.at(at + i)));
    return value;
}

quint32 littleEndian(PictureBytes &bytes, qint64 at, int count)
{
    quint32 value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | quint32(qMax(0, bytes.at(at + i)));
    return value;
}

// Width and height as the picture's own header gives them (as 64-bit numbers: a header may
// name more than an int holds); the size Qt's reader gives for the formats whose header
// says no more than the reader does.
struct Dimensions
{
    qint64 width = -1;
    qint64 height = -1;
};

// Width and height as the picture's own header gives them, for the formats whose header
// tells them; -1 for the others.
Dimensions headerSize(Kind kind, PictureBytes &bytes)
{
    switch (kind) {
    case Kind::Png: // IHDR is the first chunk
        return { bigEndian32(bytes, 16), bigEndian32(bytes, 20) };
    case Kind::Gif: // the logical screen every frame is drawn into
        return { littleEndian(bytes, 6, 2), littleEndian(bytes, 8, 2) };
    case Kind::Bmp: {
        if (littleEndian(bytes, 14, 4) == 12) // the old OS/2 header of 16-bit sizes
            return { littleEndian(bytes, 18, 2), littleEndian(bytes, 20, 2) };
        // The height is negative for rows stored top-down.
        const qint32 height = qint32(littleEndian(bytes, 22, 4));
        return { qint32(littleEndian(bytes, 18, 4)), height < 0 ? -qint64(height) : height };
    }
    case Kind::Jpeg: // from its markers
    case Kind::Tiff: // the first page's directory, which is the page decoded: as the reader says
    case Kind::None:
        break;
    }
    return {};
}

// The bytes of a PNG's rows once inflated: each row its filter byte and its pixels, for an
// interlaced one the rows of each of its seven passes. -1 for a header that is not one.
qint64 pngRowBytes(qint64 width, qint64 height, int depth, int colour, bool interlaced)
{
    int channels = 0;
    switch (colour) {
    case 0: channels = 1; break; // grey
    case 2: channels = 3; break; // RGB
    case 3: channels = 1; break; // palette
    case 4: channels = 2; break; // grey and alpha
    case 6: channels = 4; break; // RGBA
    default: return -1;
    }
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16)
        return -1;
    const qint64 bits = qint64(channels) * depth;
    const auto rows = [bits](qint64 w, qint64 h) {
        return w > 0 && h > 0 ? h * (1 + (w * bits + 7) / 8) : 0;
    };
    if (!interlaced)
        return rows(width, height);
    // Adam7: each pass takes every n-th pixel of every m-th row, from an offset.
    static const int pass[7][4] = { { 0, 0, 8, 8 }, { 4, 0, 8, 8 }, { 0, 4, 4, 8 }, { 2, 0, 4, 4 },
                                    { 0, 2, 2, 4 }, { 1, 0, 2, 2 }, { 0, 1, 1, 2 } };
    qint64 total = 0;
    for (const auto &p : pass)
        total += rows((width - p[0] + p[2] - 1) / p[2], (height - p[1] + p[3] - 1) / p[3]);
    return total;
}

// Why a PNG's compressed rows are refused: their stream goes on past the rows the header
// declares (a few kilobytes of it may inflate to gigabytes, which a reader inflates to its
// end after the last row). The stream is inflated here only as far as the rows go, so the
// check costs what the picture's pixels cost. Empty when the rows end where they should (or
// earlier: a picture cut off is the reader's business).
QString pngStreamRefusal(QIODevice *device)
{
    if (!device || device->isSequential())
        return QString();
    const qint64 start = device->pos();
    struct Restore
    {
        QIODevice *device;
        qint64 at;
        ~Restore() { device->seek(at); }
    } restore { device, start };
    const auto number = [](const QByteArray &bytes, int at) {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | quint8(bytes.at(at + i));
        return value;
    };
    if (!device->seek(start + 8))
        return QString();
    const QByteArray header = device->read(8 + 13);
    if (header.size() < 21 || header.mid(4, 4) != "IHDR")
        return QString();
    const qint64 expected = pngRowBytes(number(header, 8), number(header, 12), uchar(header.at(16)),
                                        uchar(header.at(17)), header.at(20) != 0);
    if (expected < 0)
        return QString();
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return QString();
    struct End
    {
        z_stream *stream;
        ~End() { inflateEnd(stream); }
    } end { &stream };
    // Inflated into a scratch block and counted; one byte past the rows is enough to know.
    QByteArray scratch(64 * 1024, Qt::Uninitialized);
    qint64 inflated = 0;
    qint64 at = start + 8 + 8 + 13 + 4;
    for (;;) {
        if (!device->seek(at))
            return QString();
        const QByteArray chunk = device->read(8);
        if (chunk.size() < 8)
            return QString();
        const qint64 length = number(chunk, 0);
        const QByteArray type = chunk.mid(4, 4);
        if (type == "IEND")
            return QString();
        if (type != "IDAT") {
            at += 12 + length;
            continue;
        }
        qint64 left = length;
        while (left > 0) {
            QByteArray block = device->read(qMin<qint64>(left, 1024 * 1024));
            if (block.isEmpty())
                return QString();
            left -= block.size();
            stream.next_in = reinterpret_cast<Bytef *>(block.data());
            stream.avail_in = uInt(block.size());
            while (stream.avail_in > 0) {
                stream.next_out = reinterpret_cast<Bytef *>(scratch.data());
                stream.avail_out = uInt(scratch.size());
                const int result = inflate(&stream, Z_NO_FLUSH);
                inflated += scratch.size() - qint64(stream.avail_out);
                if (inflated > expected)
                    return tr("Die Bilddaten des PNG-Bildes gehen über seine Pixel hinaus; es "
                              "wird nicht gelesen.");
                if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR))
                    return QString();
                if (result == Z_BUF_ERROR)
                    break;
            }
        }
        at += 12 + length;
    }
}

QString formatName(const QByteArray &format)
{
    return format.isEmpty() ? tr("unbekannt") : QString::fromLatin1(format).toUpper();
}

} // namespace

QString refusal(QImageReader &reader, qint64 maxPixels)
{
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return tr("Die Datei ist kein Bild, das sich lesen lässt: %1").arg(reader.errorString());
    if (format.startsWith("svg"))
        return tr("SVG-Grafiken sind keine Bilder, die der Marktplatz annimmt.");

    // The bytes are read first, and the device put back before the reader reads a header
    // of its own.
    Dimensions size;
    Kind kind = Kind::None;
    {
        PictureBytes bytes(reader.device());
        kind = kindOf(bytes);
        if (!sameFormat(kind, format))
            return tr("Bilder im Format %1 nimmt der Marktplatz nicht an; er nimmt JPEG, PNG, "
                      "GIF, BMP und TIFF.")
                .arg(formatName(format));
        if (kind == Kind::Jpeg) {
            const JpegMarkers markers = jpegMarkers(bytes);
            if (markers.tooManyScans)
                return tr("Das JPEG-Bild besteht aus mehr als %1 Teilbildern (Scans); so viele "
                          "hat kein echtes Foto, und es zu lesen dauerte Minuten.")
                    .arg(kMaxJpegScans);
            if (markers.capped)
                return tr("Die JPEG-Datei ist größer als %1 MB, ohne dass ihr Bild endet.")
                    .arg(kMaxExaminedBytes / (1024 * 1024));
            size = { markers.size.width(), markers.size.height() };
        } else {
            size = headerSize(kind, bytes);
        }
    }
    if (kind == Kind::Gif || kind == Kind::Tiff) {
        // A GIF's frames may reach past its screen; the larger counts.
        const QSize read = reader.size();
        size = { qMax(size.width, qint64(read.width())), qMax(size.height, qint64(read.height())) };
    }
    if (size.width <= 0 || size.height <= 0)
        return tr("Die Größe des Bildes lässt sich nicht lesen.");
    const qint64 pixels = size.width * size.height;
    if (pixels > maxPixels)
        return tr("Das Bild hat %1 × %2 Pixel, mehr als die erlaubten %3 Megapixel.")
            .arg(size.width)
            .arg(size.height)
            .arg(maxPixels / 1000000);
    if (kind == Kind::Png)
        return pngStreamRefusal(reader.device());
    return QString();
}

QByteArray formatOf(const QByteArray &head)
{
    QBuffer buffer;
    buffer.setData(head);
    PictureBytes bytes(&buffer);
    switch (kindOf(bytes)) {
    case Kind::Jpeg:
        return QByteArrayLiteral("jpeg");
    case Kind::Png:
        return QByteArrayLiteral("png");
    case Kind::Gif:
        return QByteArrayLiteral("gif");
    case Kind::Bmp:
        return QByteArrayLiteral("bmp");
    case Kind::Tiff:
        return QByteArrayLiteral("tiff");
    case Kind::None:
        break;
    }
    return QByteArray();
}

bool isWholeJpeg(const QByteArray &bytes)
{
    // Entropy-coded data holds no marker bytes, so the last end-of-image must come after the
    // last start-of-scan.
    const int endOfImage = bytes.lastIndexOf(QByteArray("\xFF\xD9", 2));
    return endOfImage >= 0 && endOfImage > bytes.lastIndexOf(QByteArray("\xFF\xDA", 2));
}

} // namespace ImageLimits
