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

// A declaration outside an internal subset: the document type declaration's name and
// external identifier, whose literals may hold '[' and '>'. A '[' outside them opens the
// internal subset, which is refused.
void XmlAttributeScan::declaration(ushort c)
{
    if (m_quote != 0) {
        if (c == m_quote)
            m_quote = 0;
        return;
    }
    if (c == '"' || c == '\'') {
        m_quote = c;
    } else if (c == '[') {
        m_elementLine = m_line;
        m_internalSubset = true;
        m_exceeded = true;
    } else if (c == '>') {
        m_state = State::Text;
    }
}
