#include "import/reader.h"

#include "import/abstractdata.h"
#include "import/csvfilecheck.h"

#include <QDebug>
#include <QFile>
#include <QTextCodec>
#include <QTextDecoder>

#include <memory>

namespace {

const QString LF = QStringLiteral("\n");
constexpr qint64 kCodecProbeBytes = 64 * 1024;
constexpr qint64 kReadBlock = 256 * 1024;

// The lines of a file as QTextStream::readLine gives them on a text-mode device: decoded
// with the codec (or the one a byte-order mark at the start names), without carriage
// returns, split at LF. Decodes a block at a time, splits with a fast search and reuses
// the line's memory from one line to the next.
class LineSource
{
public:
    LineSource(QIODevice &device, QTextCodec *codec)
        : m_device(device)
        , m_codec(codec)
    { }

    bool next(QString &line)
    {
        for (;;) {
            const int newline = m_buffer.indexOf(QLatin1Char('\n'), m_pos);
            if (newline >= 0) {
                line.setUnicode(m_buffer.constData() + m_pos, newline - m_pos);
                m_pos = newline + 1;
                return true;
            }
            if (m_atEnd) {
                if (m_pos >= m_buffer.size())
                    return false;
                line.setUnicode(m_buffer.constData() + m_pos, m_buffer.size() - m_pos);
                m_pos = m_buffer.size();
                return true;
            }
            fill();
        }
    }

private:
    void fill()
    {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
        const QByteArray block = m_device.read(kReadBlock);
        if (block.isEmpty()) {
            m_atEnd = true;
            return;
        }
        // A mark at the start names its own codec, as with QTextStream.
        if (!m_decoder)
            m_decoder.reset(QTextCodec::codecForUtfText(block, m_codec)->makeDecoder());
        QString text = m_decoder->toUnicode(block);
        // Carriage returns are dropped wherever they stand, as a text-mode device drops them.
        if (text.contains(QLatin1Char('\r')))
            text.remove(QLatin1Char('\r'));
        m_buffer.append(text);
    }

    QIODevice &m_device;
    QTextCodec *m_codec;
    std::unique_ptr<QTextDecoder> m_decoder;
    QString m_buffer;
    int m_pos = 0;
    bool m_atEnd = false;
};

// Carried from one line to the next: false while a delimited element goes on below.
struct ElementInfo
{
    bool elementClosed = true;
    // Set by the splitting when a delimited element began on the line just split and
    // stayed open at its end.
    bool openedOnLine = false;
};

// Separator and text delimiter of one read, with the sequences the splitting looks for
// made once instead of once per element.
struct Dialect
{
    Dialect(const QString &separator, const QString &textDelimiter)
        : separator(separator)
        , delimiter(textDelimiter)
        , closing(textDelimiter + separator)
        , doubled(textDelimiter + textDelimiter)
        , singleChars(separator.size() == 1 && textDelimiter.size() == 1)
    { }
    QString separator;
    QString delimiter;
    QString closing; // a delimiter that ends an element, followed by the separator
    QString doubled; // an escaped delimiter
    // One character each (as nearly always): searched for as characters, which is faster.
    bool singleChars;

    int indexOfSeparator(const QString &text, int from) const
    {
        return singleChars ? text.indexOf(separator.at(0), from) : text.indexOf(separator, from);
    }
    // The next delimiter followed by the separator, at or after `from`.
    int indexOfClosing(const QString &text, int from) const
    {
        if (!singleChars)
            return text.indexOf(closing, from);
        const QChar quote = delimiter.at(0);
        const QChar next = separator.at(0);
        for (int hit = text.indexOf(quote, from); hit >= 0; hit = text.indexOf(quote, hit + 1)) {
            if (hit + 1 < text.size() && text.at(hit + 1) == next)
                return hit;
        }
        return -1;
    }
    bool holdsDoubled(const QString &text) const
    {
        if (singleChars && !text.contains(delimiter.at(0)))
            return false;
        return text.contains(doubled);
    }
};

class ReadToListProcessor : public QtCSV::Reader::AbstractProcessor
{
public:
    QList<QStringList> data;
    bool process(const QStringList &elements) override
    {
        data.append(elements);
        return true;
    }
};

class ReaderPrivate
{
public:
    static bool checkParams(const QString &filePath, const QString &separator);
    static bool read(const QString &filePath, QtCSV::Reader::AbstractProcessor &processor,
                     const QString &separator, const QString &textDelimiter, QTextCodec *codec,
                     QtCSV::Reader::Details *details);
    static QStringList splitElements(const QString &line, const Dialect &dialect,
                                     ElementInfo &info);
    // Where the delimited element starting at `start` closes (its closing delimiter,
    // followed by the separator); -1 when it does not close on this line.
    static int findMiddleElementPositioin(const QString &text, int start, const Dialect &dialect);
    // True when the text ends with a closing delimiter (an odd run of delimiters).
    static bool isElementLast(const QString &text, int start, const Dialect &dialect);
    static void removeTextDelimiters(QStringList &elements, const Dialect &dialect);
};

bool ReaderPrivate::checkParams(const QString &filePath, const QString &separator)
{
    if (separator.isEmpty()) {
        qDebug() << "checkParams"
                 << "Error - separator could not be empty";
        return false;
    }
    if (filePath.isEmpty()) {
        qDebug() << "checkParams"
                 << "Error - file path is empty";
        return false;
    }
    if (!QtCSV::CheckFile(filePath, true)) {
        qDebug() << "checkParams"
                 << "Error - wrong file path:" << filePath;
        return false;
    }
    return true;
}

bool ReaderPrivate::read(const QString &filePath, QtCSV::Reader::AbstractProcessor &processor,
                         const QString &separator, const QString &textDelimiter, QTextCodec *codec,
                         QtCSV::Reader::Details *details)
{
    if (!checkParams(filePath, separator))
        return false;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "read"
                 << "Error - can't open file:" << filePath;
        return false;
    }
    LineSource lines(file, codec ? codec : QTextCodec::codecForName("UTF-8"));

    const Dialect dialect(separator, textDelimiter);
    QStringList pending;
    ElementInfo info;
    QString line;
    int lineNumber = 0;
    int recordLine = 0; // where the pending row began
    int openLine = 0; // where the element still open began
    while (lines.next(line)) {
        ++lineNumber;
        info.openedOnLine = false;
        QStringList elements = splitElements(line, dialect, info);
        if (!info.elementClosed) {
            if (info.openedOnLine)
                openLine = lineNumber;
            if (elements.isEmpty())
                continue;
            if (pending.isEmpty())
                recordLine = lineNumber;
            else
                pending.last().append(elements.takeFirst());
            pending.append(elements);
            continue;
        }
        if (pending.isEmpty()) {
            if (!processor.processRow(elements, lineNumber))
                return false;
            continue;
        }
        if (!elements.isEmpty()) {
            pending.last().append(elements.takeFirst());
            pending.append(elements);
        }
        if (!processor.processRow(pending, recordLine))
            return false;
        pending.clear();
    }
    if (file.error() != QFileDevice::NoError) {
        qDebug() << "read"
                 << "Error - can't open file:" << filePath;
        return false;
    }
    // A file that ends inside an open element still delivers its last row.
    if (!info.elementClosed && !pending.isEmpty()) {
        if (details)
            details->unclosedLine = openLine;
        return processor.processRow(pending, recordLine);
    }
    return true;
}

QStringList ReaderPrivate::splitElements(const QString &line, const Dialect &dialect,
                                         ElementInfo &info)
{
    const QString &separator = dialect.separator;
    const QString &textDelimiter = dialect.delimiter;
    if (separator.isEmpty()) {
        info.elementClosed = true;
        return { line };
    }
    if (line.isEmpty())
        return info.elementClosed ? QStringList() : QStringList(LF);
    // Without a text delimiter nothing can be enclosed: the separator alone splits.
    if (textDelimiter.isEmpty()) {
        info.elementClosed = true;
        return line.split(separator);
    }

    QStringList result;
    int pos = 0;
    bool unclosedRest = false;
    while (pos < line.size()) {
        if (!info.elementClosed) {
            const int middle = findMiddleElementPositioin(line, pos, dialect);
            if (middle < 0) {
                unclosedRest = true;
                break;
            }
            result.append(LF + line.midRef(pos, middle - pos));
            pos = middle + textDelimiter.size() + separator.size();
            info.elementClosed = true;
            continue;
        }
        if (line.midRef(pos, textDelimiter.size()) != textDelimiter) {
            const int next = dialect.indexOfSeparator(line, pos);
            if (next < 0) {
                result.append(line.mid(pos));
                break;
            }
            result.append(line.mid(pos, next - pos));
            if (next == line.size() - separator.size())
                result.append(QString());
            pos = next + separator.size();
            continue;
        }
        pos += textDelimiter.size();
        const int middle = findMiddleElementPositioin(line, pos, dialect);
        if (middle <= 0) {
            if (isElementLast(line, pos, dialect)) {
                result.append(line.mid(pos, line.size() - textDelimiter.size() - pos));
            } else {
                result.append(line.mid(pos));
                info.elementClosed = false;
                info.openedOnLine = true;
            }
            break;
        }
        result.append(line.mid(pos, middle - pos));
        pos = middle + textDelimiter.size() + separator.size();
    }
    if (unclosedRest) {
        if (isElementLast(line, pos, dialect)) {
            result.append(LF + line.midRef(pos, line.size() - textDelimiter.size() - pos));
            info.elementClosed = true;
        } else {
            result.append(LF + line);
        }
    }
    removeTextDelimiters(result, dialect);
    return result;
}

// Back-to-back delimiters that end at `end` (inclusive), not reaching below `start`.
int delimiterRun(const QString &text, int end, int start, const QString &textDelimiter)
{
    int count = 0;
    for (int pos = end; pos >= start && text.midRef(pos, textDelimiter.size()) == textDelimiter;
         --pos)
        ++count;
    return count;
}

int ReaderPrivate::findMiddleElementPositioin(const QString &text, int start,
                                              const Dialect &dialect)
{
    if (text.isEmpty() || dialect.separator.isEmpty() || dialect.delimiter.isEmpty() || start < 0)
        return -1;
    int from = start;
    while (from < text.size()) {
        const int hit = dialect.indexOfClosing(text, from);
        if (hit < 0)
            return -1;
        if (delimiterRun(text, hit, start, dialect.delimiter) % 2 == 1)
            return hit;
        from = hit + dialect.closing.size();
    }
    return -1;
}

bool ReaderPrivate::isElementLast(const QString &text, int start, const Dialect &dialect)
{
    if (text.isEmpty() || start < 0 || dialect.separator.isEmpty() || dialect.delimiter.isEmpty()
        || !text.endsWith(dialect.delimiter))
        return false;
    return delimiterRun(text, text.size() - 1, start, dialect.delimiter) % 2 == 1;
}

// Works on the elements in place: they were just made by the splitting and are shared
// with nothing, so nothing is copied unless a delimiter has to go.
void ReaderPrivate::removeTextDelimiters(QStringList &elements, const Dialect &dialect)
{
    const QString &textDelimiter = dialect.delimiter;
    if (elements.isEmpty() || textDelimiter.isEmpty())
        return;
    for (QString &element : elements) {
        // A delimiter left at an end is stripped only when it is not half of an escaped
        // pair: an even run there is text (a value made of quotes must survive).
        if (element.startsWith(textDelimiter)) {
            int run = 0;
            while (element.midRef(run * textDelimiter.size(), textDelimiter.size())
                   == textDelimiter)
                ++run;
            if (run % 2 == 1)
                element.remove(0, textDelimiter.size());
        }
        if (element.endsWith(textDelimiter)
            && delimiterRun(element, element.size() - 1, 0, textDelimiter) % 2 == 1)
            element.chop(textDelimiter.size());
        if (dialect.holdsDoubled(element))
            element.replace(dialect.doubled, textDelimiter);
    }
}

} // namespace

namespace QtCSV {

QList<QStringList> Reader::readToList(const QString &filePath, const QString &separator,
                                      const QString &textDelimiter, QTextCodec *codec)
{
    ReadToListProcessor processor;
    if (!ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec, nullptr))
        return {};
    return processor.data;
}

bool Reader::readToData(const QString &filePath, AbstractData &data, const QString &separator,
                        const QString &textDelimiter, QTextCodec *codec)
{
    ReadToListProcessor processor;
    if (!ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec, nullptr))
        return false;
    for (const QStringList &row : qAsConst(processor.data))
        data.addRow(row);
    return true;
}

bool Reader::readToProcessor(const QString &filePath, AbstractProcessor &processor,
                             const QString &separator, const QString &textDelimiter,
                             QTextCodec *codec, Details *details)
{
    if (details)
        *details = Details();
    return ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec, details);
}

QTextCodec *Reader::codecFor(const QString &filePath, bool *fallback)
{
    if (fallback)
        *fallback = false;
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return utf8;
    const QByteArray head = file.read(kCodecProbeBytes);
    // UTF-16 and UTF-32 (either byte order) announce themselves by their mark.
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")
        || head.startsWith(QByteArray("\x00\x00\xFE\xFF", 4)))
        return utf8;
    // A character cut off at the end of the probe is held in the state, not counted.
    QTextCodec::ConverterState state;
    utf8->toUnicode(head.constData(), head.size(), &state);
    if (state.invalidChars == 0)
        return utf8;
    if (fallback)
        *fallback = true;
    return QTextCodec::codecForName("Windows-1252");
}

} // namespace QtCSV
