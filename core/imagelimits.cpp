#include "core/imagelimits.h"

#include <QCoreApplication>
#include <QImageReader>

namespace ImageLimits {

QString refusal(QImageReader &reader, qint64 maxPixels)
{
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("ImageLimits", text);
    };
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return tr("Die Datei ist kein Bild, das sich lesen lässt: %1").arg(reader.errorString());
    if (format.startsWith("svg"))
        return tr("SVG-Grafiken sind keine Bilder, die der Marktplatz annimmt.");
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return tr("Die Größe des Bildes lässt sich nicht lesen.");
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels > maxPixels)
        return tr("Das Bild hat %1 × %2 Pixel, mehr als die erlaubten %3 Megapixel.")
            .arg(size.width())
            .arg(size.height())
            .arg(maxPixels / 1000000);
    return QString();
}

} // namespace ImageLimits
