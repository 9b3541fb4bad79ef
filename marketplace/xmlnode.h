#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

// A read-only element tree of an XML document, addressed by local names (namespaces are
// ignored, as the marketplace's replies all live in one). Copies share the tree; a node
// keeps the whole document alive.
class XmlNode
{
public:
    // What a document may hold at most. Real replies stay far below: the deepest nests
    // some ten elements, the largest element (a description) holds a few hundred KB.
    struct Limits
    {
        int maxDepth = 256;
        // Attributes of one element.
        int maxAttributes = 256;
        // Characters of one element's own text.
        qint64 maxElementChars = qint64(64) * 1024 * 1024;
        // Bytes of the whole document.
        qint64 maxDocumentBytes = qint64(256) * 1024 * 1024;
        // Memory the element tree may take, as a multiple of the document's size (at least
        // 1 MB). Elements and attributes cost far more in the tree than in the text: a
        // document of nothing but "<a/>" would take some 25 times its size. Real replies
        // take 4 to 10.
        int maxTreeFactor = 12;
    };

    enum class Failure {
        None,
        NotXml, // not well-formed, or no element
        TooDeep, // nested deeper than Limits::maxDepth
        TooLarge, // the document, one element, its attributes or the tree over its limit
        Declarations, // declares a document type with an internal subset
    };

    XmlNode() = default;

    // The document's root element; a null node when the text is not XML or goes beyond
    // `limits`. `error` then says why: the reader's message for text that is not XML, a
    // German sentence for a document over a limit (shown to the seller as it is).
    static XmlNode parse(const QByteArray &xml, QString *error = nullptr,
                         Failure *failure = nullptr);
    static XmlNode parse(const QByteArray &xml, const Limits &limits, QString *error = nullptr,
                         Failure *failure = nullptr);

    // The document as text, decoded as parse() reads it: UTF-8, unless its first bytes show
    // UTF-16 or UTF-32 or its XML declaration names another encoding. What a caller reads again
    // with a reader of its own, from text, is what parse() checked.
    static QString decode(const QByteArray &xml);

    bool isNull() const { return !m_doc; }
    QString name() const;
    // The element's own text (character data and CDATA), without that of its children.
    QString text() const;
    QString attribute(const QString &name) const;
    QVector<XmlNode> children() const;
    // The first child and the next sibling, for going through the children without a list;
    // null nodes at the end.
    XmlNode firstChild() const;
    XmlNode nextSibling() const;

    // The first child named `name`; a null node when there is none.
    XmlNode child(const QString &name) const;
    // The first element along `path` ("A/B/C", child by child).
    XmlNode at(const QString &path) const;
    // Every element along `path`: each step fans out to all children of that name.
    QVector<XmlNode> all(const QString &path) const;
    // The text of at(path); empty when missing.
    QString value(const QString &path) const;
    bool has(const QString &path) const { return !at(path).isNull(); }

private:
    // The whole tree in a few flat arrays, shared by every node of it: a parse makes no
    // allocation per element, and the tree goes in one piece.
    struct Document;
    XmlNode(std::shared_ptr<const Document> document, int index)
        : m_doc(std::move(document))
        , m_index(index)
    { }
    XmlNode childById(int nameId) const;

    std::shared_ptr<const Document> m_doc;
    int m_index = 0;
};
