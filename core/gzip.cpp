#include "core/gzip.h"

#include <algorithm>

#include <zlib.h>

namespace {

constexpr int kChunk = 64 * 1024;

bool isGzipMagic(const char *data, qsizetype size)
{
    return size >= 2 && static_cast<unsigned char>(data[0]) == 0x1f
        && static_cast<unsigned char>(data[1]) == 0x8b;
}

bool isZlibHeader(const QByteArray &data)
{
    if (data.size() < 2)
        return false;
    const auto cmf = static_cast<unsigned char>(data.at(0));
    const auto flg = static_cast<unsigned char>(data.at(1));
    return (cmf & 0x0f) == Z_DEFLATED && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0;
}

int windowBits(Gzip::Format format)
{
    switch (format) {
    case Gzip::Format::Gzip:
        return MAX_WBITS + 16;
    case Gzip::Format::Zlib:
        return MAX_WBITS;
    case Gzip::Format::RawDeflate:
        return -MAX_WBITS;
    }
    return MAX_WBITS;
}

// Inflates `data` as one stream of `format` (gzip: one or more members). False on any
// error, truncation, foreign trailing data or an output above `maxOutput`.
bool inflateAs(const QByteArray &data, Gzip::Format format, int maxOutput, QByteArray *out)
{
    z_stream zs {};
    if (inflateInit2(&zs, windowBits(format)) != Z_OK)
        return false;

    const char *input = data.constData();
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input));
    zs.avail_in = static_cast<uInt>(data.size());

    QByteArray result;
    QByteArray chunk(kChunk, Qt::Uninitialized);
    bool ok = false;
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef *>(chunk.data());
        zs.avail_out = static_cast<uInt>(chunk.size());
        const int rc = ::inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END)
            break; // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR, Z_BUF_ERROR (truncated input)
        const int produced = chunk.size() - static_cast<int>(zs.avail_out);
        if (produced > maxOutput - result.size())
            break;
        result.append(chunk.constData(), produced);
        if (rc != Z_STREAM_END)
            continue;

        // End of one stream. A gzip member may follow; zero padding is ignored.
        const qsizetype consumed = reinterpret_cast<const char *>(zs.next_in) - input;
        const char *rest = input + consumed;
        const qsizetype restSize = data.size() - consumed;
        if (format == Gzip::Format::Gzip && isGzipMagic(rest, restSize)) {
            if (inflateReset(&zs) != Z_OK)
                break;
            continue;
        }
        ok = std::all_of(rest, rest + restSize, [](char c) { return c == '\0'; });
        break;
    }
    inflateEnd(&zs);
    if (ok)
        *out = result;
    return ok;
}

} // namespace

QByteArray Gzip::inflate(const QByteArray &data, bool *ok, int maxOutput)
{
    if (ok)
        *ok = true;
    if (data.isEmpty())
        return QByteArray();

    QByteArray result;
    bool done = false;
    if (isGzipMagic(data.constData(), data.size())) {
        done = inflateAs(data, Format::Gzip, maxOutput, &result);
    } else {
        // A valid zlib header may occur by chance at the start of raw deflate data too.
        if (isZlibHeader(data))
            done = inflateAs(data, Format::Zlib, maxOutput, &result);
        if (!done)
            done = inflateAs(data, Format::RawDeflate, maxOutput, &result);
    }
    if (ok)
        *ok = done;
    return done ? result : QByteArray();
}

QByteArray Gzip::compress(const QByteArray &data, Format format)
{
    z_stream zs {};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits(format), 8,
                     Z_DEFAULT_STRATEGY)
        != Z_OK)
        return QByteArray();

    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = static_cast<uInt>(data.size());
    QByteArray result(static_cast<int>(deflateBound(&zs, zs.avail_in)), Qt::Uninitialized);
    zs.next_out = reinterpret_cast<Bytef *>(result.data());
    zs.avail_out = static_cast<uInt>(result.size());
    const int rc = deflate(&zs, Z_FINISH);
    const int size = static_cast<int>(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return QByteArray();
    result.truncate(size);
    return result;
}
