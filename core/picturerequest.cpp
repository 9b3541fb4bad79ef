#include "core/picturerequest.h"

#include <QDataStream>
#include <QIODevice>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace PictureRequest {

namespace {

constexpr quint32 kVersion = 3;

bool writeFrame(QIODevice *device, const QByteArray &payload)
{
    const quint64 length = quint64(payload.size());
    char head[8];
    for (int i = 0; i < 8; ++i)
        head[i] = char((length >> (8 * (7 - i))) & 0xFF);
    return device->write(head, 8) == 8 && device->write(payload) == payload.size();
}

// Pixels as the rows of a 32-bit picture, without QImage's own serialisation (which is a
// picture file to decode).
void writeImage(QDataStream &out, const QImage &image)
{
    const QImage pixels = image.format() == QImage::Format_ARGB32
        ? image
        : image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                        : QImage::Format_RGB32);
    out << qint32(pixels.width()) << qint32(pixels.height())
        << quint8(pixels.format() == QImage::Format_ARGB32 ? 1 : 0);
    for (int y = 0; y < pixels.height(); ++y)
        out.writeRawData(reinterpret_cast<const char *>(pixels.constScanLine(y)),
                         pixels.width() * 4);
}

bool readImage(QDataStream &in, const QSize &box, QImage *image)
{
    qint32 width = 0;
    qint32 height = 0;
    quint8 alpha = 0;
    in >> width >> height >> alpha;
    if (in.status() != QDataStream::Ok || width < 0 || height < 0)
        return false;
    // Never more than the box asked for.
    if (width > qMax(1, box.width()) || height > qMax(1, box.height()))
        return false;
    if (width == 0 || height == 0) {
        *image = QImage();
        return true;
    }
    QImage read(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (read.isNull())
        return false;
    for (int y = 0; y < height; ++y)
        if (in.readRawData(reinterpret_cast<char *>(read.scanLine(y)), width * 4) != width * 4)
            return false;
    *image = read;
    return true;
}

} // namespace

QList<QByteArray> requestFrame(const Request &request)
{
    // Laid out as QDataStream lays out a byte array: its length, then its bytes.
    QByteArray head;
    QDataStream out(&head, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << kVersion << request.path;
    if (request.bytes.isNull())
        out << quint32(0xFFFFFFFF);
    else
        out << quint32(request.bytes.size());
    QByteArray tail;
    QDataStream rest(&tail, QIODevice::WriteOnly);
    rest.setVersion(QDataStream::Qt_5_15);
    rest << qint32(request.boxes.size());
    for (const Request::Box &box : request.boxes)
        rest << box.size << box.fill;
    rest << request.whole << request.followLink << request.folder;
    const quint64 length
        = quint64(head.size()) + quint64(request.bytes.size()) + quint64(tail.size());
    QByteArray size(8, '\0');
    for (int i = 0; i < 8; ++i)
        size[i] = char((length >> (8 * (7 - i))) & 0xFF);
    return { size + head, request.bytes, tail };
}

bool writeRequest(QIODevice *device, const Request &request)
{
    for (const QByteArray &part : requestFrame(request))
        if (!part.isEmpty() && device->write(part) != part.size())
            return false;
    return true;
}

namespace {

// A request from a frame's payload. `take`: the picture's bytes are the payload itself, moved
// to its start, not copied (the payload is given up).
bool parseRequest(QByteArray &payload, bool take, Request *request)
{
    qint64 at = 0;
    quint32 length = 0;
    {
        QDataStream in(payload);
        in.setVersion(QDataStream::Qt_5_15);
        quint32 version = 0;
        in >> version >> request->path >> length;
        if (in.status() != QDataStream::Ok || version != kVersion)
            return false;
        at = in.device()->pos();
    }
    const bool null = length == 0xFFFFFFFF;
    if (!null && qint64(length) > payload.size() - at)
        return false;
    const qint64 tailAt = null ? at : at + qint64(length);
    {
        QDataStream in(payload.mid(int(tailAt)));
        in.setVersion(QDataStream::Qt_5_15);
        qint32 boxes = 0;
        in >> boxes;
        if (in.status() != QDataStream::Ok || boxes < 0 || boxes > 8)
            return false;
        for (int i = 0; i < boxes; ++i) {
            Request::Box box;
            in >> box.size >> box.fill;
            if (!box.size.isValid() || box.size.width() > 10000 || box.size.height() > 10000)
                return false;
            request->boxes << box;
        }
        in >> request->whole >> request->followLink >> request->folder;
        if (in.status() != QDataStream::Ok)
            return false;
    }
    if (null) {
        request->bytes = QByteArray();
    } else if (take) {
        request->bytes.swap(payload);
        payload = QByteArray();
        request->bytes.remove(0, int(at));
        request->bytes.truncate(int(length));
    } else {
        request->bytes = payload.mid(int(at), int(length));
    }
    return true;
}

} // namespace

bool readRequest(const QByteArray &payload, Request *request)
{
    QByteArray shared = payload;
    return parseRequest(shared, false, request);
}

bool writeReply(QIODevice *device, const Reply &reply)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << kVersion << reply.decoded << reply.memory << reply.refusal << reply.error << reply.format << reply.size
        << qint32(reply.angle) << qint32(reply.images.size());
    for (const QImage &image : reply.images)
        writeImage(out, image);
    return writeFrame(device, payload);
}

bool readReply(const QByteArray &payload, const Request &request, Reply *reply)
{
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_5_15);
    quint32 version = 0;
    qint32 angle = 0;
    qint32 images = 0;
    in >> version >> reply->decoded >> reply->memory >> reply->refusal >> reply->error >> reply->format
        >> reply->size >> angle >> images;
    if (in.status() != QDataStream::Ok || version != kVersion || images < 0
        || images > request.boxes.size())
        return false;
    // Texts for a log line and a label, not a book.
    if (reply->refusal.size() > 1000 || reply->error.size() > 1000 || reply->format.size() > 16)
        return false;
    reply->angle = (angle == 90 || angle == 180 || angle == 270) ? angle : 0;
    for (int i = 0; i < images; ++i) {
        QImage image;
        if (!readImage(in, request.boxes.at(i).size, &image))
            return false;
        reply->images << image;
    }
    return in.status() == QDataStream::Ok && in.atEnd();
}

bool takeFrame(QByteArray &buffer, qint64 maxBytes, QByteArray *payload, bool *broken)
{
    *broken = false;
    if (buffer.size() < 8)
        return false;
    quint64 length = 0;
    for (int i = 0; i < 8; ++i)
        length = (length << 8) | quint8(buffer.at(i));
    if (length > quint64(maxBytes)) {
        *broken = true;
        return false;
    }
    if (quint64(buffer.size()) - 8 < length)
        return false;
    *payload = buffer.mid(8, int(length));
    buffer.remove(0, 8 + int(length));
    return true;
}

QImage pixelsOnly(const QImage &image)
{
    if (image.isNull())
        return QImage();
    const QImage::Format format
        = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const QImage converted = image.convertToFormat(format);
    // A new picture of the same pixels: convertToFormat and copy keep the original's text.
    QImage bare(converted.size(), format);
    if (converted.isNull() || bare.isNull())
        return QImage();
    for (int y = 0; y < converted.height(); ++y)
        std::memcpy(bare.scanLine(y), converted.constScanLine(y), size_t(converted.width()) * 4);
    return bare;
}

bool readRequestFrom(int fd, Request *request)
{
    const auto readExactly = [fd](char *to, qint64 count) {
        while (count > 0) {
            const ssize_t got = ::read(fd, to, size_t(count));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            to += got;
            count -= got;
        }
        return true;
    };
    char head[8];
    if (!readExactly(head, 8))
        return false;
    quint64 length = 0;
    for (char byte : head)
        length = (length << 8) | quint8(byte);
    if (length > quint64(kMaxRequestBytes))
        return false;
    QByteArray payload(int(length), Qt::Uninitialized);
    return readExactly(payload.data(), qint64(length)) && parseRequest(payload, true, request);
}

} // namespace PictureRequest
