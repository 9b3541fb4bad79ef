#include "import/contentiterator.h"

#include "import/abstractdata.h"

namespace {
const QString LF = QStringLiteral("\n");
const QString CR = QStringLiteral("\r");
const QString DOUBLE_QUOTE = QStringLiteral("\"");
} // namespace

namespace QtCSV {

ContentIterator::ContentIterator(const AbstractData &data, const QString &separator,
                                 const QString &textDelimiter, const QStringList &header,
                                 const QStringList &footer, int chunkSize)
    : m_data(data)
    , m_separator(separator)
    , m_textDelimiter(textDelimiter)
    , m_header(header)
    , m_footer(footer)
    , m_chunkSize(chunkSize)
{ }

bool ContentIterator::isEmpty() const
{
    return m_data.isEmpty() && m_header.isEmpty() && m_footer.isEmpty();
}

bool ContentIterator::hasNext() const
{
    return !m_atEnd;
}

QString ContentIterator::getNext()
{
    if (m_atEnd)
        return QString();
    QString text;
    int rows = 0;
    if (m_dataRow < 0) {
        if (!m_header.isEmpty()) {
            text += composeRow(m_header);
            ++rows;
        }
        m_dataRow = 0;
    }
    for (; rows < m_chunkSize && m_dataRow < m_data.rowCount(); ++rows, ++m_dataRow)
        text += composeRow(m_data.rowValues(m_dataRow));
    if (rows < m_chunkSize) {
        if (!m_footer.isEmpty())
            text += composeRow(m_footer);
        m_atEnd = true;
    }
    return text;
}

QString ContentIterator::composeRow(const QStringList &values) const
{
    QStringList elements;
    elements.reserve(values.size());
    for (QString value : values) {
        QString wrap = m_textDelimiter;
        if (!m_textDelimiter.isEmpty()) {
            value.replace(m_textDelimiter, m_textDelimiter + m_textDelimiter);
        } else if (value.contains(m_separator) || value.contains(CR) || value.contains(LF)) {
            wrap = DOUBLE_QUOTE;
        }
        elements.append(wrap + value + wrap);
    }
    return elements.join(m_separator) + LF;
}

} // namespace QtCSV
