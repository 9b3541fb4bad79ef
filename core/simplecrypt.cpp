#include "core/simplecrypt.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <zlib.h>

// Layout of the Base64-decoded value:
//   [0]        format version (plain)
//   [1]        random byte (plain); seeds the key stream together with the key
//   [2]        flags, enciphered
//   [3..n-5]   UTF-8 text (compressed when flagged), enciphered
//   [n-4..n-1] CRC-32 of bytes 0..n-5, big-endian, masked with a value derived from the key
//
// The check covers the stored bytes themselves, so a single changed byte is always found
// (CRC-32 catches every error burst of up to 32 bits); the key-derived mask makes a wrong
// key fail as well. The key stream is a plain XOR, so an intact value with the right key
// gives back exactly the bytes that went in.

namespace {

const quint8 kVersion = 1;
const quint8 kFlagCompressed = 0x01;
const int kHeaderSize = 2; // version, random byte
const int kCheckSize = 4;
const int kMinimumSize = kHeaderSize + 1 + kCheckSize;

// SplitMix64: a small, well-mixing 64-bit generator.
quint64 nextValue(quint64 &state)
{
    state += 0x9e3779b97f4a7c15ULL;
    quint64 z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// XORs `data` from `offset` to `end` with the stream for this key and random byte.
void applyKeyStream(QByteArray &data, int offset, int end, quint64 key, quint8 salt)
{
    quint64 state = key ^ (quint64(salt) + 1) * 0xd6e8feb86659fd93ULL;
    quint64 block = 0;
    for (int i = offset, n = 0; i < end; ++i, ++n) {
        if (n % 8 == 0)
            block = nextValue(state);
        data[i] = char(quint8(data.at(i)) ^ quint8(block >> (8 * (n % 8))));
    }
}

quint32 checkMask(quint64 key)
{
    quint64 state = key ^ 0x5c3a91e4b7d20f68ULL;
    return quint32(nextValue(state));
}

quint32 checksum(const QByteArray &data, int length)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(data.constData()), uInt(length));
    return quint32(crc);
}

} // namespace

SimpleCrypt::SimpleCrypt(unsigned long long key)
    : m_key(key)
{ }

QString SimpleCrypt::encryptToString(const QString &plain)
{
    if (plain.isEmpty())
        return QString();

    QByteArray payload = plain.toUtf8();
    quint8 flags = 0;
    const QByteArray compressed = qCompress(payload, 9);
    if (compressed.size() < payload.size()) {
        payload = compressed;
        flags |= kFlagCompressed;
    }

    const auto salt = quint8(QRandomGenerator::global()->bounded(256));
    QByteArray data;
    data.reserve(kHeaderSize + 1 + payload.size() + kCheckSize);
    data.append(char(kVersion));
    data.append(char(salt));
    data.append(char(flags));
    data.append(payload);
    applyKeyStream(data, kHeaderSize, data.size(), m_key, salt);

    const quint32 check = checksum(data, data.size()) ^ checkMask(m_key);
    char checkBytes[kCheckSize];
    qToBigEndian(check, checkBytes);
    data.append(checkBytes, kCheckSize);

    return QString::fromLatin1(data.toBase64());
}

QString SimpleCrypt::decryptToString(const QString &scrambled)
{
    if (scrambled.isEmpty())
        return QString();

    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        scrambled.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return QString();
    QByteArray data = *decoded;
    if (data.size() < kMinimumSize || quint8(data.at(0)) != kVersion)
        return QString();

    const int checked = data.size() - kCheckSize;
    const quint32 stored = qFromBigEndian<quint32>(data.constData() + checked);
    if ((stored ^ checkMask(m_key)) != checksum(data, checked))
        return QString();

    const auto salt = quint8(data.at(1));
    applyKeyStream(data, kHeaderSize, checked, m_key, salt);
    const auto flags = quint8(data.at(kHeaderSize));
    if (flags & ~kFlagCompressed)
        return QString();

    QByteArray payload = data.mid(kHeaderSize + 1, checked - kHeaderSize - 1);
    if (flags & kFlagCompressed) {
        payload = qUncompress(payload);
        if (payload.isEmpty())
            return QString();
    }
    return QString::fromUtf8(payload);
}
