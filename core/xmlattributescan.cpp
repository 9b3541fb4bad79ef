#include "core/xmlattributescan.h"

namespace {

constexpr int kNameChars = 64;

ushort code(char c)
{
    return static_cast<uchar>(c);
}

ushort code(QChar c)
{
    return c.unicode();
}

bool isSpace(ushort c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

template<typename Char> bool XmlAttributeScan::scan(const Char *data, qint64 size)
{
    for (qint64 i = 0; i < size && !m_exceeded; ++i) {
        const ushort c = code(data[i]);
        if (c == '\n')
            ++m_line;
        // Most of a document is text and values: the cheap cases first.
        if (m_state == State::Text) {
            if (c == '<')
                m_state = State::Open;
            continue;
        }
        if (m_state == State::Quoted) {
            if (c == m_quote)
                m_state = State::Tag;
            continue;
        }
        step(c);
    }
    return !m_exceeded;
}

template bool XmlAttributeScan::scan<char>(const char *, qint64);
template bool XmlAttributeScan::scan<QChar>(const QChar *, qint64);

void XmlAttributeScan::step(ushort c)
{
    switch (m_state) {
    case State::Text:
    case State::Quoted:
        break; // handled by scan()
    case State::Open:
        if (c == '!') {
            m_state = State::Bang;
            m_bang.clear();
        } else if (c == '?') {
            m_state = State::Instruction;
            m_run = 0;
        } else if (c == '/') {
            m_state = State::EndTag;
        } else {
            m_state = State::Name;
            m_attributes = 0;
            m_name = QChar(c);
            m_elementLine = m_line;
        }
        break;
    case State::Bang: {
        static const QByteArray comment("--");
        static const QByteArray cdata("[CDATA[");
        m_bang += char(c < 0x80 ? c : '?');
        if (m_bang == comment) {
            m_state = State::Comment;
            m_run = 0;
        } else if (m_bang == cdata) {
            m_state = State::CData;
            m_run = 0;
        } else if (!comment.startsWith(m_bang) && !cdata.startsWith(m_bang)) {
            m_state = State::Declaration;
            m_quote = 0;
            m_depth = 0;
            for (const char b : qAsConst(m_bang))
                declaration(static_cast<uchar>(b));
        }
        break;
    }
    case State::Comment:
        if (c == '>' && m_run >= 2)
            m_state = State::Text;
        else
            m_run = c == '-' ? m_run + 1 : 0;
        break;
    case State::CData:
        if (c == '>' && m_run >= 2)
            m_state = State::Text;
        else
            m_run = c == ']' ? m_run + 1 : 0;
        break;
    case State::Instruction:
        if (c == '>' && m_run == '?')
            m_state = State::Text;
        else
            m_run = c;
        break;
    case State::Declaration:
        declaration(c);
        break;
    case State::EndTag:
        if (c == '>')
            m_state = State::Text;
        break;
    case State::Name:
        if (c == '>') {
            m_state = State::Text;
        } else if (isSpace(c) || c == '/') {
            m_state = State::Tag;
        } else if (m_name.size() < kNameChars) {
            m_name += QChar(c);
        }
        break;
    case State::Tag:
        if (c == '"' || c == '\'') {
            m_state = State::Quoted;
            m_quote = c;
        } else if (c == '=') {
            if (++m_attributes > m_max)
                m_exceeded = true;
        } else if (c == '>') {
            m_state = State::Text;
        }
        break;
    }
}

// A document type declaration: its internal subset in brackets holds markup declarations
// with quoted values of their own. The quoted defaults of attribute lists are counted: the
// reader gives each element all the defaults of its name, so without a bound a short
// declaration would hand thousands of attributes to every element.
void XmlAttributeScan::declaration(ushort c)
{
    static const QByteArray attributeList("!ATTLIST");
    if (m_quote != 0) {
        if (c == m_quote)
            m_quote = 0;
        return;
    }
    if (m_inMarkup) {
        // Reading what the declaration is, then the name of the element it is for.
        if (m_markup.size() < attributeList.size()) {
            m_markup += char(c < 0x80 ? c : '?');
            if (m_markup == attributeList) {
                m_attributeList = true;
                m_listName = true;
                m_name.clear();
            } else if (!attributeList.startsWith(m_markup)) {
                m_inMarkup = false;
            }
        } else if (m_listName && !isSpace(c) && c != '>' && c != '"' && c != '\'') {
            if (m_name.size() < kNameChars)
                m_name += QChar(c);
        } else if (m_listName && isSpace(c) && !m_name.isEmpty()) {
            m_listName = false;
        }
    }
    if (c == '"' || c == '\'') {
        m_quote = c;
        if (m_attributeList && ++m_defaults > m_max) {
            m_elementLine = m_line;
            m_exceeded = true;
        }
    } else if (c == '<' && m_depth > 0) {
        m_inMarkup = true;
        m_attributeList = false;
        m_listName = false;
        m_markup.clear();
    } else if (c == '[') {
        ++m_depth;
    } else if (c == ']') {
        --m_depth;
    } else if (c == '>') {
        m_inMarkup = false;
        m_attributeList = false;
        if (m_depth <= 0)
            m_state = State::Text;
    }
}
