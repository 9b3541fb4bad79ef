#pragma once

#include <QByteArray>
#include <QString>

// Counts the attributes of every start tag of an XML text, fed piece by piece, before an
// XML reader sees it. Qt's reader compares each attribute of an element with all earlier
// ones: an element of a hundred thousand attributes holds it for minutes. This scan is
// linear and knows just enough XML to count only in tags: not in comments, CDATA sections,
// processing instructions, declarations or quoted values (which may hold '>' and '=').
//
// A document type declaration with an internal subset ("<!DOCTYPE r [ ... ]>") is refused
// as a whole: its attribute lists hand defaults to elements without an '=' in the text, its
// entities expand, and no marketplace reply or export file carries one. Refusing it at its
// '[' keeps the scan from having to read the subset's grammar.
class XmlAttributeScan
{
public:
    // Far more than any element of a marketplace reply or an export carries (a few dozen).
    static constexpr int kMaxAttributes = 256;

    explicit XmlAttributeScan(int maxAttributes = kMaxAttributes)
        : m_max(maxAttributes)
    { }

    // Scans the next piece; false once an element has more attributes than the limit. Bytes
    // are those of UTF-8 text (whose bytes below 0x80 are its characters below 0x80): text in
    // any other encoding is decoded first and fed as text.
    bool feed(const QByteArray &bytes)
    {
        m_utf8 = true;
        return scan(bytes.constData(), bytes.size());
    }
    bool feed(const QString &text) { return scan(text.constData(), text.size()); }

    // True once the document is refused: an element over the limit or an internal subset.
    bool exceeded() const { return m_exceeded; }
    // True when the refusal is for an internal subset of the document type declaration.
    bool internalSubset() const { return m_internalSubset; }
    int maxAttributes() const { return m_max; }
    // The name of the element over the limit (its first 64 characters, or bytes of UTF-8).
    QString element() const { return m_utf8 ? QString::fromUtf8(m_name.toLatin1()) : m_name; }
    // The line, counted from 1, on which that element (or the internal subset) begins.
    int line() const { return m_elementLine; }

private:
    enum class State {
        Text,
        Open, // after '<'
        Bang, // after "<!": a comment, a CDATA section or a declaration
        Comment,
        CData,
        Instruction,
        Declaration,
        Name, // a start tag's name
        Tag, // inside a start tag
        Quoted, // an attribute's value
        EndTag,
    };

    template<typename Char> bool scan(const Char *data, qint64 size);
    void step(ushort c);
    void declaration(ushort c);

    int m_max;
    State m_state = State::Text;
    int m_attributes = 0;
    // Characters after "<!" while it is open what they begin.
    QByteArray m_bang;
    // Dashes or brackets just seen (the end of a comment or CDATA section), the character
    // before ('?' ends an instruction), the quote of a value or a declaration's literal.
    int m_run = 0;
    ushort m_quote = 0;
    QString m_name;
    int m_line = 1;
    int m_elementLine = 1;
    bool m_exceeded = false;
    bool m_internalSubset = false;
    // Fed bytes: the name holds one character per byte.
    bool m_utf8 = false;
};
