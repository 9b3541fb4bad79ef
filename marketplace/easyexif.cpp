#include "marketplace/easyexif.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace easyexif {

namespace {

// Second byte of a JPEG marker (the first is always 0xFF).
constexpr unsigned char markerTem = 0x01;
constexpr unsigned char markerRst0 = 0xD0;
constexpr unsigned char markerRst7 = 0xD7;
constexpr unsigned char markerSoi = 0xD8;
constexpr unsigned char markerEoi = 0xD9;
constexpr unsigned char markerSos = 0xDA;
constexpr unsigned char markerApp1 = 0xE1;

// An APP1 segment holds EXIF data when its payload starts with these six bytes; the TIFF
// structure follows directly and all its offsets count from its own first byte.
constexpr unsigned char exifSignature[] = { 'E', 'x', 'i', 'f', 0, 0 };

constexpr std::uint16_t tiffMagic = 42;
constexpr std::size_t tiffHeaderSize = 8;
constexpr std::size_t ifdEntrySize = 12;
constexpr std::uint16_t tagOrientation = 0x0112;
constexpr std::uint16_t typeShort = 3;

// Big-endian 16-bit value, as in JPEG segment lengths.
std::uint16_t bigEndian16(const unsigned char *p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// The TIFF structure inside the EXIF segment. Reads fail instead of leaving the segment,
// even where the JPEG buffer would continue behind it.
class TiffView
{
public:
    TiffView(const unsigned char *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }

    std::size_t size() const { return m_size; }
    void setLittleEndian(bool littleEndian) { m_littleEndian = littleEndian; }

    bool contains(std::size_t offset, std::size_t count) const
    {
        // Written so that no sum can wrap around.
        return offset <= m_size && count <= m_size - offset;
    }

    bool read16(std::size_t offset, std::uint16_t &value) const
    {
        if (!contains(offset, 2))
            return false;
        const unsigned char *p = m_data + offset;
        value = m_littleEndian ? static_cast<std::uint16_t>(p[0] | (p[1] << 8))
                               : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
        return true;
    }

    bool read32(std::size_t offset, std::uint32_t &value) const
    {
        if (!contains(offset, 4))
            return false;
        const unsigned char *p = m_data + offset;
        const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
        value = m_littleEndian ? (b0 | (b1 << 8) | (b2 << 16) | (b3 << 24))
                               : ((b0 << 24) | (b1 << 16) | (b2 << 8) | b3);
        return true;
    }

    bool byteAt(std::size_t offset, unsigned char &value) const
    {
        if (!contains(offset, 1))
            return false;
        value = m_data[offset];
        return true;
    }

private:
    const unsigned char *m_data;
    std::size_t m_size;
    bool m_littleEndian = false;
};

// Reads the header and the first image directory. Only the orientation is taken; the
// directory's link to the next one (the thumbnail) is never followed.
int parseTiff(TiffView tiff, unsigned short &orientation)
{
    unsigned char order0 = 0, order1 = 0;
    if (!tiff.byteAt(0, order0) || !tiff.byteAt(1, order1) || order0 != order1)
        return EXIFInfo::ParseCorrupt;
    if (order0 == 'I')
        tiff.setLittleEndian(true);
    else if (order0 == 'M')
        tiff.setLittleEndian(false);
    else
        return EXIFInfo::ParseCorrupt;

    std::uint16_t magic = 0;
    std::uint32_t ifdOffset = 0;
    if (!tiff.read16(2, magic) || magic != tiffMagic || !tiff.read32(4, ifdOffset))
        return EXIFInfo::ParseCorrupt;
    // A directory inside the header cannot be meant seriously.
    if (ifdOffset < tiffHeaderSize)
        return EXIFInfo::ParseCorrupt;

    std::uint16_t entryCount = 0;
    if (!tiff.read16(ifdOffset, entryCount))
        return EXIFInfo::ParseCorrupt;
    // read16() succeeded, so ifdOffset + 2 <= size.
    const std::size_t firstEntry = std::size_t(ifdOffset) + 2;
    if (entryCount > (tiff.size() - firstEntry) / ifdEntrySize)
        return EXIFInfo::ParseCorrupt;

    for (std::size_t i = 0; i < entryCount; ++i) {
        const std::size_t entry = firstEntry + i * ifdEntrySize;
        std::uint16_t tag = 0, type = 0, value = 0;
        std::uint32_t count = 0;
        if (!tiff.read16(entry, tag) || !tiff.read16(entry + 2, type)
            || !tiff.read32(entry + 4, count) || !tiff.read16(entry + 8, value))
            return EXIFInfo::ParseCorrupt;
        if (tag != tagOrientation)
            continue;
        // The first orientation entry decides; one that is no single SHORT in 1..8 counts
        // as missing rather than letting the editor turn a picture by a guess.
        if (type == typeShort && count == 1 && value >= 1 && value <= 8)
            orientation = value;
        break;
    }
    return EXIFInfo::ParseSuccess;
}

} // namespace

void EXIFInfo::clear()
{
    Orientation = 0;
}

int EXIFInfo::parseFrom(unsigned char const *data, unsigned int length)
{
    clear();
    const std::size_t size = length;
    if (!data || size < 2 || data[0] != 0xFF || data[1] != markerSoi)
        return ParseNotJpeg;

    std::size_t pos = 2;
    for (;;) {
        // Running out of bytes before the image data means the file was cut off.
        if (pos >= size || data[pos] != 0xFF)
            return ParseCorrupt;
        while (pos < size && data[pos] == 0xFF)
            ++pos; // fill bytes before a marker
        if (pos >= size)
            return ParseCorrupt;
        const unsigned char marker = data[pos++];

        if (marker == 0x00)
            return ParseCorrupt; // a stuffed byte belongs to entropy-coded data only
        if (marker == markerSos || marker == markerEoi)
            return ParseNoExif; // EXIF must come before the image data
        if (marker == markerTem || marker == markerSoi
            || (marker >= markerRst0 && marker <= markerRst7))
            continue; // markers without a length field

        if (size - pos < 2)
            return ParseCorrupt;
        // The length counts its own two bytes but not the marker.
        const std::size_t segmentLength = bigEndian16(data + pos);
        if (segmentLength < 2 || segmentLength > size - pos)
            return ParseCorrupt;
        const unsigned char *payload = data + pos + 2;
        const std::size_t payloadSize = segmentLength - 2;

        if (marker == markerApp1 && payloadSize >= sizeof(exifSignature)
            && std::memcmp(payload, exifSignature, sizeof(exifSignature)) == 0) {
            const TiffView tiff(payload + sizeof(exifSignature),
                                payloadSize - sizeof(exifSignature));
            unsigned short orientation = 0;
            const int result = parseTiff(tiff, orientation);
            if (result == ParseSuccess)
                Orientation = orientation;
            return result;
        }
        // Other APP1 blocks (XMP) and all other segments are skipped.
        pos += segmentLength;
    }
}

} // namespace easyexif
