#pragma once

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

namespace TestSupport {

// A true-colour PNG of `width` x `height` black pixels, made without the pixels ever being
// in memory: its rows of zeros deflate to about a thousandth of their size, so a file of a
// few hundred kilobytes stands for a picture of hundreds of megabytes. (Tests linking this
// link ZLIB::ZLIB.) With `rows` given, only that many rows are in it: a header that
// promises more than the file holds.
inline QByteArray blackPng(quint32 width, quint32 height, quint32 rows = 0)
{
    const auto bigEndian = [](quint32 value) {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    const auto chunk = [&bigEndian](const QByteArray &type, const QByteArray &data) {
        const QByteArray body = type + data;
        const uLong crc
            = crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()));
        return bigEndian(quint32(data.size())) + body + bigEndian(quint32(crc));
    };
    // 8 bits per channel, RGB, deflate, no filter, no interlace.
    const QByteArray header
        = bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    QByteArray compressed;
    z_stream stream {};
    deflateInit(&stream, Z_BEST_SPEED);
    // Each row: its filter byte and three zero bytes per pixel.
    const QByteArray row(int(1 + 3 * width), '\0');
    QByteArray out(64 * 1024, '\0');
    const quint32 written = rows > 0 ? rows : height;
    for (quint32 y = 0; y <= written; ++y) {
        const bool last = y == written;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.constData()));
        stream.avail_in = last ? 0 : uInt(row.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out.constData(), out.size() - int(stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed)
        + chunk("IEND", QByteArray());
}

} // namespace TestSupport
