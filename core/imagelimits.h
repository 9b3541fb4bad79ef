#pragma once

#include <QString>
#include <QtGlobal>

class QImageReader;

// What a picture may be before it is decoded. Only pictures of the formats the marketplace
// takes count: an SVG drawing is not a picture here (the marketplace takes none, and
// rendering one may take any amount of memory), and it is refused by its format before
// anything of it is drawn. Every other picture is measured by its header first: a PNG of a
// few kilobytes may unpack to gigabytes, so one of more pixels than the budget is refused
// before it is read.
namespace ImageLimits {

// 50 megapixels: far more than a camera or the marketplace's largest picture has (the
// marketplace takes up to some 15 megapixels); 200 MB as a decoded picture.
constexpr qint64 kMaxPixels = 50 * 1000 * 1000;

// Empty when the picture `reader` stands before may be read (its format and size are read
// from the header, nothing is decoded); else why not, in German, naming the limit. A reader
// that can't tell the format or size refuses with its own error text.
QString refusal(QImageReader &reader, qint64 maxPixels = kMaxPixels);

} // namespace ImageLimits
