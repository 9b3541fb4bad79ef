#pragma once

// Reads the orientation a camera or phone stored in a JPEG's EXIF block, so the picture
// slots of the article editor can turn a photo upright before it is shown or uploaded.
// Plain C++ without Qt; every read is checked against the buffer and the EXIF segment.

namespace easyexif {

class EXIFInfo
{
public:
    // Results of parseFrom(). The numbers are stable: callers and logs use them.
    enum ParseResult : int {
        ParseSuccess = 0,
        ParseNotJpeg = 1982, // no start-of-image marker FF D8 at the beginning
        ParseNoExif = 1983, // no APP1 "Exif\0\0" block before the image data
        ParseCorrupt = 1985, // truncated segment or broken TIFF structure
    };

    EXIFInfo() = default;

    // Forgets everything a previous parseFrom() found.
    void clear();

    // Parses a complete JPEG file held in memory. Returns ParseSuccess or one of the error
    // codes above; fields are reset first, so after an error they read as absent.
    int parseFrom(unsigned char const *data, unsigned int length);

    // Tag 0x0112 of the first image directory: 1 upright, 3 turned 180 degrees, 6 needs a
    // quarter turn clockwise, 8 a quarter turn counter-clockwise (2, 4, 5, 7 are the
    // mirrored variants). 0 when the tag is missing, not a single SHORT or out of range.
    unsigned short Orientation = 0;
};

} // namespace easyexif
