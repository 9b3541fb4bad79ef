#pragma once

#include <QString>

// What a view paints of a text. A row shows a line or a few of a text, whatever its length,
// but laying out (eliding, wrapping) costs as much as the text is long: a title of megabytes
// would take seconds to paint. Views paint a prefix that holds more than the box can show;
// the stored value stays whole.
namespace PaintedText {

// The first `maxChars` characters of `text` (never splitting a surrogate pair), followed by
// "…" when anything was cut, so that an elided view still shows that the text goes on.
// `text` itself when it is not longer.
QString prefix(const QString &text, int maxChars);

// The most characters a box `width` pixels wide and `lines` lines high can show: no
// character is narrower than a pixel.
inline int charsFor(int width, int lines = 1)
{
    return qMax(64, width) * qMax(1, lines);
}

} // namespace PaintedText
