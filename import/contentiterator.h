#pragma once

#include <QString>
#include <QStringList>

namespace QtCSV {

class AbstractData;

// The text of a write, a chunk of rows at a time: the header row counts toward the first
// chunk; the footer row follows the last data rows.
class ContentIterator
{
public:
    ContentIterator(const AbstractData &data, const QString &separator,
                    const QString &textDelimiter, const QStringList &header,
                    const QStringList &footer, int chunkSize = 1000);

    // Nothing at all to write: no data, no header, no footer.
    bool isEmpty() const;
    bool hasNext() const;
    QString getNext();

private:
    QString composeRow(const QStringList &values) const;

    const AbstractData &m_data;
    QString m_separator;
    QString m_textDelimiter;
    QStringList m_header;
    QStringList m_footer;
    int m_chunkSize;
    int m_dataRow = -1;
    bool m_atEnd = false;
};

} // namespace QtCSV
