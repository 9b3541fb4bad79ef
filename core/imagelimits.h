#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QStringList>
#include <QString>
#include <QtGlobal>
#include <functional>

#include "core/picturerequest.h"

class QImageReader;
class QObject;

// What a picture may be before it is decoded, and where it is decoded. Only pictures of the
// formats the marketplace takes count, recognised by their content whatever the file's name:
// JPEG, PNG, GIF, BMP and TIFF. An SVG drawing, an icon or any other container is refused by
// its format before anything of it is decoded (an icon's directory may name 16 x 16 pixels and
// hold a picture of gigabytes). Every other picture is measured by its own header first: a PNG
// of a few kilobytes may unpack to gigabytes, so one of more pixels than the budget is refused
// before it is read. A JPEG's cost grows with its scans as well as its pixels: one of more
// scans than a real photo has is refused too.
namespace ImageLimits {

// 50 megapixels: far more than a camera or the marketplace's largest picture has (the
// marketplace takes up to some 15 megapixels); 200 MB as a decoded picture.
constexpr qint64 kMaxPixels = 50 * 1000 * 1000;

// Scans of one JPEG. Each scan is a pass over every block of the picture: a baseline photo
// has one (three for one without interleaving), a progressive one from a camera, an editor
// or an optimiser about ten and rarely twenty. A hundred leaves ample room and bounds the
// decoding of a picture within the pixel budget to a hundred passes over it.
constexpr int kMaxJpegScans = 100;

// How much of a JPEG is read to count its scans. A photo within the pixel budget is a few
// megabytes and at most some 40 MB; one that goes on past this without its end is refused.
constexpr qint64 kMaxExaminedBytes = 64 * 1024 * 1024;

// Empty when the picture `reader` stands before may be read (its format and size are read
// from its header, its JPEG markers counted; nothing is decoded); else why not, in German,
// naming the limit. A reader that can't tell the format or size refuses with its own error
// text. The reader's device is left where it stood.
QString refusal(QImageReader &reader, qint64 maxPixels = kMaxPixels);

// The format a picture's first bytes say it is, of the formats the marketplace takes: "jpeg",
// "png", "gif", "bmp" or "tiff"; empty for any other content.
QByteArray formatOf(const QByteArray &head);

// True when a JPEG ends with its end-of-image marker after its last scan: one whose data was
// cut off still decodes (the rest comes out grey).
bool isWholeJpeg(const QByteArray &bytes);

// A picture decoded by the picture decoder process: the picture at the sizes asked for, or
// why there is none.
struct Decoded
{
    QImage image; // at the first size asked for
    QList<QImage> images; // at each size asked for
    QString refusal; // German: refused by the check above, by the decoder, or given up
    QString error; // the reader's error when the picture could not be decoded
    QByteArray format; // the format it came in, as read from its content
    QSize size; // the picture's own size
    int angle = 0; // the clockwise turn its orientation tag asks for
    bool timedOut = false;
    // Not decoded this time through no fault of the picture: given up at its deadline,
    // dropped from a full queue, withdrawn, or its decoder ended from outside. Nothing is said
    // about the picture; it is asked for again when it is wanted again.
    bool retry = false;
};

// What a decode is asked to do: the file or the bytes, and the sizes handed back.
using Picture = PictureRequest::Request;

// A picture file the decoder opens itself, handed back fitted into `box` (`fill`: a smaller
// one enlarged to fill it).
Picture pictureFile(const QString &path, const QSize &box, bool fill = false);
// The same for bytes already at hand (a download).
Picture pictureBytes(const QByteArray &bytes, const QSize &box, bool fill = false);

// How long one decode may take from the moment it is asked, waiting for a decoder included,
// before it is given up (its process ended when it runs): 20 s. A picture within the limits
// above decodes in well under a second on any machine the program runs on.
int decodeTimeout();
void setDecodeTimeout(int milliseconds);

// `Queued`: a list's thumbnail, behind the seller's own pictures; the oldest of many is
// dropped. `First`: a picture of the seller's own action (an editor's slot, a save, a check),
// ahead of every thumbnail, in the order asked; one decoder is always kept for these.
enum class Order { Queued, First };

// List thumbnails waiting for a decoder at most; the oldest is dropped (`Decoded::retry`)
// when one more is asked for.
constexpr int kMaxQueuedThumbnails = 200;

// Decodes `picture` in a decoder process and hands the result to `done` on the thread of
// `context`; the caller never waits. Decodes still queued when `context` goes are dropped,
// and nothing is called once it is gone.
void decodeLater(QObject *context, const Picture &picture,
                 std::function<void(const Decoded &)> done, Order order = Order::Queued);

// Puts the queued decodes of `context` ahead of the thumbnails, as the seller's own.
void hurry(QObject *context);

// Drops the queued thumbnails of `context` that no decoder has begun (a list's rows scrolled
// away): each is handed back as not read (`Decoded::retry`).
void withdraw(QObject *context);

// Decodes `picture` and waits for it, at most the decode time-out from now. On a worker
// thread this thread waits; on the window's thread its events go on meanwhile (an import's
// dialog keeps answering), so use it there only where the caller is built for that.
Decoded decodeWithin(const Picture &picture, Order order = Order::First);
// Several at once, decoded side by side; the results in the order of `pictures`.
QList<Decoded> decodeAllWithin(const QList<Picture> &pictures, Order order = Order::First);

// Decodes that were asked for and whose result has not yet been delivered or dropped.
int pendingDecodes();

// How many decoder processes decode side by side: 2 to 4, after the processor count.
int decoderCount();

// For tests: called on a thread of its own once a decode has its decoder process and its
// time runs, before the picture goes to it (a test holds a decode there).
void setDecodeHook(std::function<void()> hook);
// For tests: the program started as decoder (empty: the decoder installed beside the
// program).
void setDecoderProgram(const QString &program, const QStringList &arguments = {});

} // namespace ImageLimits
