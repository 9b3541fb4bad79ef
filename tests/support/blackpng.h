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

// A zlib stream of `count` zero bytes, made without compressing them one megabyte after the
// other: a megabyte of zeros flushed in full compresses the same every time, so its block is
// repeated, and the checksum (of zeros only) is written by hand. About a thousandth of `count`.
inline QByteArray zlibZeros(quint64 count)
{
    z_stream stream {};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    QByteArray out(256 * 1024, '\0');
    const auto pack = [&stream, &out](const QByteArray &in, int flush) {
        QByteArray packed;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        stream.avail_in = uInt(in.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            deflate(&stream, flush);
            packed.append(out.constData(), out.size() - int(stream.avail_out));
        } while (stream.avail_out == 0);
        return packed;
    };
    const quint64 kMegabyte = 1 << 20;
    QByteArray compressed = pack(QByteArray(int(count % kMegabyte), '\0'), Z_FULL_FLUSH);
    const QByteArray block = pack(QByteArray(int(kMegabyte), '\0'), Z_FULL_FLUSH);
    const int blocks = int(count / kMegabyte);
    compressed.reserve(compressed.size() + block.size() * blocks + 16);
    for (int i = 0; i < blocks; ++i)
        compressed += block;
    QByteArray end = pack(QByteArray(), Z_FINISH);
    deflateEnd(&stream);
    // Adler-32 of n zeros: its first sum stays 1, its second is n.
    const quint32 adler = quint32(((count % 65521) << 16) | 1);
    end.chop(4);
    QByteArray checksum(4, '\0');
    qToBigEndian(adler, checksum.data());
    return compressed + end + checksum;
}

// A black true-colour PNG of `width` x `height` whose one zlib stream goes on past its rows
// with `tailMegabytes` megabytes more of zeros: a file of about a thousandth of that, which a
// reader that inflates its stream to the end inflates whole.
inline QByteArray tailPng(quint32 width, quint32 height, quint32 tailMegabytes)
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
    const quint64 rows = quint64(height) * (1 + 3 * quint64(width));
    const QByteArray compressed = zlibZeros(rows + quint64(tailMegabytes) * (1 << 20));
    const QByteArray header
        = bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed)
        + chunk("IEND", QByteArray());
}

// A 64 x 64 PNG with `chunks` compressed text chunks before its pixels, each inflating to
// `inflated` bytes: 150 of 7.9 MB are 1.2 MB on disk and gigabytes in a reader that keeps
// every text.
inline QByteArray textBombPng(int chunks, int inflated)
{
    const QByteArray png = blackPng(64, 64);
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

} // namespace TestSupport
