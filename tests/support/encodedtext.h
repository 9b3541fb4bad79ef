#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

namespace TestSupport {

// The Unicode encodings an XML reader takes a document in: UTF-8, UTF-16 and UTF-32 in either
// byte order, with a byte order mark or without one.
struct Encoding
{
    const char *name = "UTF-8";
    int width = 1; // bytes of a unit: 1 (UTF-8), 2 or 4
    bool bigEndian = false;
    bool mark = false;
};

inline const QVector<Encoding> &xmlEncodings()
{
    static const QVector<Encoding> encodings = {
        { "UTF-8", 1, false, false },          { "UTF-16LE", 2, false, false },
        { "UTF-16BE, marked", 2, true, true }, { "UTF-32LE, marked", 4, false, true },
        { "UTF-32BE", 4, true, false },
    };
    return encodings;
}

inline QByteArray encoded(const QString &text, const Encoding &encoding)
{
    if (encoding.width == 1)
        return text.toUtf8();
    QVector<uint> units;
    if (encoding.mark)
        units << 0xfeff;
    if (encoding.width == 4) {
        units << text.toUcs4();
    } else {
        for (const QChar c : text)
            units << c.unicode();
    }
    QByteArray bytes;
    bytes.reserve(units.size() * encoding.width);
    for (const uint unit : qAsConst(units)) {
        for (int i = 0; i < encoding.width; ++i) {
            const int shift = 8 * (encoding.bigEndian ? encoding.width - 1 - i : i);
            bytes += char((unit >> shift) & 0xff);
        }
    }
    return bytes;
}

} // namespace TestSupport

Q_DECLARE_METATYPE(TestSupport::Encoding)
