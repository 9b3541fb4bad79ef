#include "marketplace/xmlnode.h"

#include "core/statics.h"
#include "core/xmlattributescan.h"

#include <QCoreApplication>
#include <QHash>
#include <QTextCodec>
#include <QTextDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("XmlNode", text);
}

// What the tree is charged besides the characters of names, texts and values and the places
// in the lists of children: what a tree of one shared node per element took (measured on
// 64-bit Linux, allocator overhead included) for an element, a list of children, an
// attribute (its map entry and value string), an element's own text string, and a distinct
// name. The flat tree takes less; the charges stay, and with them the documents refused.
constexpr qint64 kElementBytes = 96;
constexpr qint64 kListBytes = 32;
constexpr qint64 kAttributeBytes = 96;
constexpr qint64 kTextBytes = 48;
constexpr qint64 kNameBytes = 64;
constexpr qint64 kMinTreeBytes = 1024 * 1024;

constexpr int kUtf8Mib = 106;
// Where the XML declaration must have ended (it holds a version, an encoding name and a
// standalone flag).
constexpr int kDeclarationBytes = 4096;

// The codec QXmlStreamReader reads a document given as bytes with: the one its first four
// bytes show (UTF-32 or UTF-16, with a byte order mark or a '<' of that width; else UTF-8),
// or the one its XML declaration names, which replaces it. Null for a name no codec has (the
// reader refuses such a document).
QTextCodec *readerCodec(const QByteArray &xml)
{
    int mib = kUtf8Mib;
    if (xml.size() >= 4) {
        const auto at = [&xml](int i) {
            return uchar(xml.at(i));
        };
        if ((at(0) == 0 && at(1) == 0 && at(2) == 0xfe && at(3) == 0xff)
            || (at(0) == 0xff && at(1) == 0xfe && at(2) == 0 && at(3) == 0))
            mib = 1017; // UTF-32 with a byte order mark
        else if (at(0) == 0x3c && at(1) == 0 && at(2) == 0 && at(3) == 0)
            mib = 1019; // UTF-32LE
        else if (at(0) == 0 && at(1) == 0 && at(2) == 0 && at(3) == 0x3c)
            mib = 1018; // UTF-32BE
        else if ((at(0) == 0xfe && at(1) == 0xff) || (at(0) == 0xff && at(1) == 0xfe))
            mib = 1015; // UTF-16 with a byte order mark
        else if (at(0) == 0x3c && at(1) == 0)
            mib = 1014; // UTF-16LE
        else if (at(0) == 0 && at(1) == 0x3c)
            mib = 1013; // UTF-16BE
    }
    QTextCodec *codec = QTextCodec::codecForMib(mib);
    // The declaration, read as the reader reads it, from the document's beginning.
    QXmlStreamReader head(xml.left(kDeclarationBytes));
    if (head.readNext() == QXmlStreamReader::StartDocument && !head.documentEncoding().isEmpty())
        codec = QTextCodec::codecForName(head.documentEncoding().toLatin1());
    return codec;
}

// The text of `xml` in `codec`, as a reader's decoder gives it (a byte order mark dropped);
// read as UTF-8 without one.
QString decoded(const QByteArray &xml, const QTextCodec *codec)
{
    if (!codec)
        return QString::fromUtf8(xml);
    const std::unique_ptr<QTextDecoder> decoder(codec->makeDecoder());
    return decoder->toUnicode(xml);
}

// One element: its name, its own text and its attributes as places in the document's
// arrays, and its place among its siblings.
struct Element
{
    int name = 0;
    int firstChild = -1;
    int nextSibling = -1;
    int text = 0; // in Document::chars
    int textSize = -1; // -1: no text at all (a null string)
    int attributes = 0; // in Document::attributes
    int attributeCount = 0;
};

struct Attribute
{
    int name = 0;
    int value = 0; // in Document::chars
    int valueSize = 0;
};

} // namespace

struct XmlNode::Document
{
    std::vector<Element> elements; // in document order: the root first
    std::vector<Attribute> attributes;
    // The texts of the elements and the values of the attributes, one after the other.
    QString chars;
    // Every distinct element and attribute name once, found through `table` (open
    // addressing: a name's number + 1, 0 for a free slot).
    QVector<QString> names;
    std::vector<int> table;

    // The number of `name`; -1 when the document has no such name.
    int nameId(QStringView name) const
    {
        if (table.empty())
            return -1;
        const size_t mask = table.size() - 1;
        for (size_t i = qHash(name) & mask;; i = (i + 1) & mask) {
            const int slot = table[i];
            if (slot == 0)
                return -1;
            if (QStringView(names.at(slot - 1)) == name)
                return slot - 1;
        }
    }

    // The number of `name`, taken up when it is new; `cost` grows by what a new name takes.
    int addName(QStringView name, qint64 *cost)
    {
        const int known = nameId(name);
        if (known >= 0)
            return known;
        *cost += kNameBytes + 2 * qint64(name.size());
        names.append(name.toString());
        if (table.size() < 2 * size_t(names.size())) {
            // A power of two, at most half full.
            size_t size = std::max<size_t>(64, table.size());
            while (size < 4 * size_t(names.size()))
                size *= 2;
            table.assign(size, 0);
            for (int id = 0; id < names.size(); ++id)
                place(id);
        } else {
            place(names.size() - 1);
        }
        return names.size() - 1;
    }

    QString textOf(int text, int size) const
    {
        return size < 0 ? QString() : QString(chars.constData() + text, size);
    }

private:
    void place(int id)
    {
        const size_t mask = table.size() - 1;
        size_t i = qHash(QStringView(names.at(id))) & mask;
        while (table[i] != 0)
            i = (i + 1) & mask;
        table[i] = id + 1;
    }
};

QString XmlNode::decode(const QByteArray &xml)
{
    return decoded(xml, readerCodec(xml));
}

XmlNode XmlNode::parse(const QByteArray &xml, QString *error, Failure *failure)
{
    return parse(xml, Limits(), error, failure);
}

XmlNode XmlNode::parse(const QByteArray &xml, const Limits &limits, QString *error,
                       Failure *failure)
{
    auto fail = [&](Failure why, const QString &reason) {
        if (error)
            *error = reason;
        if (failure)
            *failure = why;
        return XmlNode();
    };
    if (failure)
        *failure = Failure::None;
    const auto internalSubsetRefusal = [] {
        return tr("Das Dokument bringt eine eigene DTD mit (<!DOCTYPE … [ … ]>); so ein Dokument "
                  "wird nicht gelesen, Antworten von eBay enthalten keine.");
    };
    if (xml.size() > limits.maxDocumentBytes)
        return fail(
            Failure::TooLarge,
            tr("Das Dokument ist größer als %1.").arg(Statics::sizeText(limits.maxDocumentBytes)));

    // Before the reader: it would take minutes over an element of very many attributes. The
    // scan reads what the reader reads: the bytes of a document in UTF-8 (as good as every
    // reply), whose bytes below 0x80 are its characters below 0x80; any other encoding is
    // decoded first, and the reader is given that text, so that both see the same characters
    // (in UTF-16 a name character such as U+0122 holds the byte of '"'). Each attribute has an
    // '=' of its own, so a document with no more of them than an element may have attributes
    // needs no scan (a page of listings has a few dozen), unless it declares a document type
    // of its own, whose attribute lists give defaults without one: a document with an internal
    // subset is refused.
    const QTextCodec *codec = readerCodec(xml);
    const bool asBytes = !codec || codec->mibEnum() == kUtf8Mib;
    QString text;
    if (!asBytes)
        text = decoded(xml, codec);
    const auto needsScan = [&]() {
        if (asBytes)
            return std::count(xml.cbegin(), xml.cend(), '=') > limits.maxAttributes
                || xml.contains("<!DOCTYPE");
        return text.count(QLatin1Char('=')) > limits.maxAttributes
            || text.contains(QLatin1String("<!DOCTYPE"));
    };
    XmlAttributeScan attributeScan(limits.maxAttributes);
    if (needsScan() && !(asBytes ? attributeScan.feed(xml) : attributeScan.feed(text))) {
        if (attributeScan.internalSubset())
            return fail(Failure::Declarations, internalSubsetRefusal());
        return fail(Failure::TooLarge,
                    tr("Das Element \"%1\" hat mehr als %2 Attribute.")
                        .arg(attributeScan.element())
                        .arg(limits.maxAttributes));
    }

    // The tree is given up as soon as it would take more than its share: what it took until
    // then is released with it.
    const qint64 maxTree = std::max(kMinTreeBytes, qint64(limits.maxTreeFactor) * xml.size());
    qint64 tree = 0;
    const auto treeTooLarge = [&]() {
        return fail(Failure::TooLarge,
                    tr("Das Dokument enthält zu viele Elemente: Sie bräuchten mehr als %1 "
                       "Arbeitsspeicher.")
                        .arg(Statics::sizeText(maxTree)));
    };

    auto doc = std::make_shared<Document>();
    // Texts and values take no more characters than the document has bytes (but for texts
    // that children split); room not used is given back at the end. A large document's
    // arrays grow as they need.
    doc->chars.reserve(int(std::min<qint64>(xml.size(), 8 * 1024 * 1024)));
    doc->elements.reserve(size_t(std::min<qint64>(xml.size() / 32 + 16, 256 * 1024)));

    // An open element. Its text grows in place in `chars` while nothing else came after it;
    // text after a child (or the child's own) is gathered in `split` and moved to the end of
    // `chars` when the element closes.
    struct Open
    {
        int element;
        int lastChild;
        bool isSplit;
        QString split;
    };
    std::vector<Open> open;
    // Given text, the reader keeps to it and ignores the encoding the declaration names.
    QXmlStreamReader reader;
    if (asBytes) {
        reader.addData(xml);
    } else {
        reader.addData(text);
        text = QString();
    }
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (int(open.size()) >= limits.maxDepth)
                return fail(Failure::TooDeep,
                            tr("Die Elemente sind tiefer als %1 Ebenen verschachtelt.")
                                .arg(limits.maxDepth));
            const QXmlStreamAttributes attributes = reader.attributes();
            tree += kElementBytes + attributes.size() * kAttributeBytes;
            Element element;
            element.name = doc->addName(reader.name(), &tree);
            element.attributes = int(doc->attributes.size());
            element.attributeCount = attributes.size();
            for (const QXmlStreamAttribute &attribute : attributes) {
                const QStringRef value = attribute.value();
                tree += 2 * qint64(value.size());
                doc->attributes.push_back(
                    { doc->addName(attribute.name(), &tree), doc->chars.size(), value.size() });
                doc->chars += value;
            }
            if (!open.empty())
                tree += qint64(sizeof(XmlNode)) + (open.back().lastChild < 0 ? kListBytes : 0);
            if (tree > maxTree)
                return treeTooLarge();
            const int index = int(doc->elements.size());
            doc->elements.push_back(element);
            if (!open.empty()) {
                Open &parent = open.back();
                if (parent.lastChild < 0)
                    doc->elements[size_t(parent.element)].firstChild = index;
                else
                    doc->elements[size_t(parent.lastChild)].nextSibling = index;
                parent.lastChild = index;
            } else if (index > 0) {
                // A second root: the reader says what is wrong with it next.
                break;
            }
            open.push_back({ index, -1, false, QString() });
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.empty()) {
                Open &closed = open.back();
                if (closed.isSplit) {
                    Element &element = doc->elements[size_t(closed.element)];
                    element.text = doc->chars.size();
                    element.textSize = closed.split.size();
                    doc->chars += closed.split;
                }
                open.pop_back();
            }
            break;
        case QXmlStreamReader::Characters:
            if (!open.empty()) {
                Open &top = open.back();
                Element &element = doc->elements[size_t(top.element)];
                const QStringRef piece = reader.text();
                const qint64 had = top.isSplit ? top.split.size() : std::max(element.textSize, 0);
                if (had + qint64(piece.size()) > limits.maxElementChars)
                    return fail(Failure::TooLarge,
                                tr("Das Element \"%1\" ist größer als %2.")
                                    .arg(doc->names.at(element.name),
                                         Statics::sizeText(limits.maxElementChars)));
                tree += (had == 0 ? kTextBytes : 0) + 2 * qint64(piece.size());
                if (tree > maxTree)
                    return treeTooLarge();
                if (top.isSplit) {
                    top.split += piece;
                } else if (element.textSize < 0) {
                    element.text = doc->chars.size();
                    element.textSize = piece.size();
                    doc->chars += piece;
                } else if (element.text + element.textSize == doc->chars.size()) {
                    element.textSize += piece.size();
                    doc->chars += piece;
                } else {
                    top.isSplit = true;
                    top.split = doc->textOf(element.text, element.textSize) + piece;
                }
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError() || doc->elements.empty())
        return fail(Failure::NotXml,
                    reader.hasError() ? reader.errorString() : QStringLiteral("no element"));
    doc->chars.squeeze();
    return XmlNode(std::move(doc), 0);
}

QString XmlNode::name() const
{
    return m_doc ? m_doc->names.at(m_doc->elements[size_t(m_index)].name) : QString();
}

QString XmlNode::text() const
{
    if (!m_doc)
        return QString();
    const Element &element = m_doc->elements[size_t(m_index)];
    return m_doc->textOf(element.text, element.textSize);
}

QString XmlNode::attribute(const QString &name) const
{
    if (!m_doc)
        return QString();
    const int id = m_doc->nameId(name);
    const Element &element = m_doc->elements[size_t(m_index)];
    // Of two attributes with the same local name the last one counts.
    for (int i = element.attributeCount - 1; id >= 0 && i >= 0; --i) {
        const Attribute &attribute = m_doc->attributes[size_t(element.attributes + i)];
        if (attribute.name == id)
            return m_doc->textOf(attribute.value, attribute.valueSize);
    }
    return QString();
}

QVector<XmlNode> XmlNode::children() const
{
    QVector<XmlNode> nodes;
    for (XmlNode node = firstChild(); !node.isNull(); node = node.nextSibling())
        nodes.append(node);
    return nodes;
}

XmlNode XmlNode::firstChild() const
{
    if (!m_doc)
        return XmlNode();
    const int first = m_doc->elements[size_t(m_index)].firstChild;
    return first < 0 ? XmlNode() : XmlNode(m_doc, first);
}

XmlNode XmlNode::nextSibling() const
{
    if (!m_doc)
        return XmlNode();
    const int next = m_doc->elements[size_t(m_index)].nextSibling;
    return next < 0 ? XmlNode() : XmlNode(m_doc, next);
}

XmlNode XmlNode::childById(int nameId) const
{
    const std::vector<Element> &elements = m_doc->elements;
    for (int i = elements[size_t(m_index)].firstChild; i >= 0;
         i = elements[size_t(i)].nextSibling) {
        if (elements[size_t(i)].name == nameId)
            return XmlNode(m_doc, i);
    }
    return XmlNode();
}

XmlNode XmlNode::child(const QString &name) const
{
    if (!m_doc)
        return XmlNode();
    const int id = m_doc->nameId(name);
    return id < 0 ? XmlNode() : childById(id);
}

XmlNode XmlNode::at(const QString &path) const
{
    // Step by step without copying the steps: reading one listing asks for dozens of paths.
    if (!m_doc)
        return XmlNode();
    const std::vector<Element> &elements = m_doc->elements;
    int node = m_index;
    for (int from = 0; from <= path.size();) {
        int end = path.indexOf(QLatin1Char('/'), from);
        if (end < 0)
            end = path.size();
        if (end > from) {
            const int id = m_doc->nameId(QStringView(path).mid(from, end - from));
            if (id < 0)
                return XmlNode();
            int found = elements[size_t(node)].firstChild;
            while (found >= 0 && elements[size_t(found)].name != id)
                found = elements[size_t(found)].nextSibling;
            if (found < 0)
                return XmlNode();
            node = found;
        }
        from = end + 1;
    }
    return XmlNode(m_doc, node);
}

QVector<XmlNode> XmlNode::all(const QString &path) const
{
    QVector<XmlNode> nodes;
    if (!m_doc)
        return nodes;
    const std::vector<Element> &elements = m_doc->elements;
    std::vector<int> current { m_index };
    std::vector<int> next;
    for (const QStringRef &step : path.splitRef(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const int id = m_doc->nameId(QStringView(step));
        if (id < 0)
            return nodes;
        next.clear();
        for (const int node : current) {
            for (int i = elements[size_t(node)].firstChild; i >= 0;
                 i = elements[size_t(i)].nextSibling) {
                if (elements[size_t(i)].name == id)
                    next.push_back(i);
            }
        }
        current.swap(next);
    }
    nodes.reserve(int(current.size()));
    for (const int node : current)
        nodes.append(XmlNode(m_doc, node));
    return nodes;
}

QString XmlNode::value(const QString &path) const
{
    return at(path).text();
}
