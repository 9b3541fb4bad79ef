#include "views/paintedtext.h"

QString PaintedText::prefix(const QString &text, int maxChars)
{
    if (maxChars < 0 || text.size() <= maxChars)
        return text;
    int cut = maxChars;
    if (cut > 0 && text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
}
