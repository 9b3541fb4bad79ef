#pragma once

#include <QByteArray>

// Unpacking of HTTP bodies sent with "Content-Encoding: gzip" or "deflate". Once a request
// sets "Accept-Encoding" itself, Qt hands the body over packed, so the program unpacks it.
class Gzip
{
public:
    enum class Format {
        Gzip, // RFC 1952 (header 1f 8b)
        Zlib, // RFC 1950, what "deflate" should mean
        RawDeflate, // RFC 1951 without wrapper, what some servers send as "deflate"
    };

    // Largest unpacked result inflate() accepts by default (a bomb guard).
    static constexpr int DefaultMaxOutput = 256 * 1024 * 1024;

    // Unpacks gzip (several concatenated members too), zlib-wrapped or raw deflate data;
    // the format is recognised from the first bytes. Zero bytes after the end are ignored.
    // Truncated, corrupt or trailing foreign data, or a result over `maxOutput` bytes, gives
    // an empty result and *ok = false. Empty input gives an empty result and *ok = true.
    static QByteArray inflate(const QByteArray &data, bool *ok = nullptr,
                              int maxOutput = DefaultMaxOutput);

    // Packs `data` in the given format (for tests and the fake server).
    static QByteArray compress(const QByteArray &data, Format format = Format::Gzip);
};
