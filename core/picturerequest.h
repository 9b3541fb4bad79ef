#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

class QIODevice;

// What the program asks of its picture decoder process and what it hands back. The decoder
// reads pictures the program did not write itself, so what it hands back is taken as bare
// pixels of a size the request allowed, never as a picture file to decode again.
namespace PictureRequest {

struct Request
{
    // The file the decoder opens itself, or the bytes themselves (a download, a file the
    // caller read); one of them.
    QString path;
    QByteArray bytes;
    // The sizes the picture is handed back at, each fitted into its box with its aspect kept:
    // the first is decoded right at its size, the others scaled from it. Empty: only
    // checked, nothing handed back.
    struct Box
    {
        QSize size;
        bool fill = false; // a smaller picture is enlarged to fill the box
    };
    QList<Box> boxes;
    // A JPEG must end with its end-of-image marker after its last scan (not cut off).
    bool whole = false;
    // The seller chose the file himself (a file dialog, a drop): a symbolic link at its end is
    // followed, as his own Pictures folder may well hold them. A path named by data (a row, a
    // CSV cell, an import) never follows one.
    bool followLink = false;
    // The picture folder `path` lies in, when it lies in one: a path named by data is opened
    // beneath it, no link below the folder followed and no way out of it taken.
    QString folder;
};

struct Reply
{
    bool decoded = false;
    // The picture needs more memory than the decoder had: one with more may take it.
    bool memory = false;
    QString refusal; // German: why the picture is not taken
    QString error; // the reader's own error, when the picture could not be read
    QByteArray format; // as told by the content
    QSize size; // the picture's own size
    int angle = 0; // the clockwise turn its orientation tag asks for (JPEG)
    QList<QImage> images; // one per box, 32-bit pixels and nothing else
};

// The frames on the pipe: a length and a QDataStream payload. False when the device ran dry
// or the frame is broken.
bool writeRequest(QIODevice *device, const Request &request);
// A request's frame in its parts, written one after the other: the picture's bytes are one
// of them as they are, not copied.
QList<QByteArray> requestFrame(const Request &request);
bool writeReply(QIODevice *device, const Reply &reply);
// A request or reply from a complete frame's payload.
bool readRequest(const QByteArray &payload, Request *request);
bool readReply(const QByteArray &payload, const Request &request, Reply *reply);

// The next request on the file descriptor `fd` (the decoder's standard input), waiting for
// it whole. False when the pipe ran dry or the frame is broken or too large.
bool readRequestFrom(int fd, Request *request);

// A frame's payload, when `buffer` begins with a whole frame: it is taken from the buffer.
// `broken` is set when the buffer cannot begin a frame of at most `maxBytes`.
bool takeFrame(QByteArray &buffer, qint64 maxBytes, QByteArray *payload, bool *broken);

// The largest frame of a request (the bytes of a picture file) and of a reply.
constexpr qint64 kMaxRequestBytes = 300 * 1024 * 1024;
constexpr qint64 kMaxReplyBytes = 64 * 1024 * 1024;

// The picture's pixels only: no text, no resolution, no colour profile of the original. Null
// when the copy could not be allocated.
QImage pixelsOnly(const QImage &image);

} // namespace PictureRequest
