#include "editor/itemspecifics.h"

namespace ItemSpecifics {

namespace {

const QString kCdataOpen = QStringLiteral("<![CDATA[");
const QString kCdataClose = QStringLiteral("]]>");

// Reads the text of an element from `pos` (just after its start tag) to `endTag`, taking
// CDATA sections literally. `pos` ends after the end tag, or at the end of the text.
QString elementText(const QString &text, int &pos, const QString &endTag)
{
    QString out;
    while (pos < text.size()) {
        if (text.midRef(pos, kCdataOpen.size()) == kCdataOpen) {
            const int start = pos + kCdataOpen.size();
            int end = text.indexOf(kCdataClose, start);
            if (end < 0)
                end = text.size();
            out += text.midRef(start, end - start);
            pos = end + kCdataClose.size();
        } else if (text.midRef(pos, endTag.size()) == endTag) {
            pos += endTag.size();
            return out;
        } else {
            out += text.at(pos++);
        }
    }
    return out;
}

} // namespace

QString cdata(const QString &text)
{
    return kCdataOpen + QString(text).replace(kCdataClose, QStringLiteral("]]]]><![CDATA[>"))
        + kCdataClose;
}

QString write(const QList<Block> &blocks)
{
    QString out;
    for (const Block &block : blocks) {
        out += QStringLiteral("<NameValueList>\n\t<Name>") + cdata(block.name)
            + QStringLiteral("</Name>\n");
        for (const QString &value : block.values)
            out += QStringLiteral("\t<Value>") + cdata(value) + QStringLiteral("</Value>\n");
        out += QStringLiteral("</NameValueList>\n");
    }
    return out;
}

QList<Block> read(const QString &text)
{
    static const QString open = QStringLiteral("<NameValueList>");
    static const QString close = QStringLiteral("</NameValueList>");
    static const QString name = QStringLiteral("<Name>");
    static const QString value = QStringLiteral("<Value>");
    QList<Block> blocks;
    int current = -1;
    int pos = 0;
    while (pos < text.size()) {
        if (text.midRef(pos, kCdataOpen.size()) == kCdataOpen) {
            // A section outside the elements is skipped whole.
            const int end = text.indexOf(kCdataClose, pos);
            pos = end < 0 ? text.size() : end + kCdataClose.size();
        } else if (text.midRef(pos, open.size()) == open) {
            blocks.append(Block());
            current = blocks.size() - 1;
            pos += open.size();
        } else if (text.midRef(pos, close.size()) == close) {
            current = -1;
            pos += close.size();
        } else if (text.midRef(pos, name.size()) == name) {
            pos += name.size();
            if (current < 0) {
                blocks.append(Block());
                current = blocks.size() - 1;
            }
            blocks[current].name = elementText(text, pos, QStringLiteral("</Name>"));
        } else if (text.midRef(pos, value.size()) == value) {
            pos += value.size();
            if (current < 0) {
                blocks.append(Block());
                current = blocks.size() - 1;
            }
            blocks[current].values.append(elementText(text, pos, QStringLiteral("</Value>")));
        } else {
            ++pos;
        }
    }
    return blocks;
}

} // namespace ItemSpecifics
