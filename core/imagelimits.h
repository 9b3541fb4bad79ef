#pragma once

#include <QImage>
#include <QString>
#include <QtGlobal>
#include <functional>

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

// A picture decoded off the window thread: the picture, or why there is none.
struct Decoded
{
    QImage image;
    QString refusal; // German: refused by the check above, or given up after its time
    QString error; // the reader's error when the picture could not be decoded
    QByteArray format; // the format it came in, as read from its content
    bool timedOut = false;
};
using DecodeJob = std::function<Decoded()>;

// How long a decode may take before it is given up: 20 s. A picture within the limits above
// decodes in well under a second on any machine the program runs on.
int decodeTimeout();
void setDecodeTimeout(int milliseconds);

// Runs `job` on the picture threads and hands its result to `done` on the thread of
// `context`. A job still running when the decode time-out passes is given up: `done` gets a
// result with `timedOut` set and the refusal saying so, and what the job yields later is
// dropped. Nothing is called once `context` is gone. The caller never waits.
void decodeLater(QObject *context, DecodeJob job, std::function<void(const Decoded &)> done);

// Runs `job` on the picture threads and waits for it, at most the decode time-out (then a
// result with `timedOut` set; what the job yields later is dropped). For workers and other
// threads that may wait; the window's thread uses decodeLater.
Decoded decodeWithin(DecodeJob job);

// Decodes that were started and whose result has not yet been delivered or dropped.
int pendingDecodes();

// Called on the picture thread before each job, for tests that hold a decode.
void setDecodeHook(std::function<void()> hook);

} // namespace ImageLimits
