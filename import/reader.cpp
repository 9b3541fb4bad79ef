#include "import/reader.h"

#include "core/untrustedfile.h"
#include "import/abstractdata.h"
#include "import/csvfilecheck.h"

#include <QDebug>
#include <QFile>
#include <QTextCodec>
#include <QTextDecoder>

#include <cstring>
#include <limits>
#include <memory>

namespace {

const QString LF = QStringLiteral("\n");
constexpr qint64 kCodecProbeBytes = 64 * 1024;
constexpr qint64 kReadBlock = 256 * 1024;
constexpr qint64 kInspectBlock = 1024 * 1024;

bool startsWithWideMark(const QByteArray &head)
{
    return head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")
        || head.startsWith(QByteArray("\x00\x00\xFE\xFF", 4));
}

// Checks bytes for UTF-8 as they come, block after block, without decoding them: overlong
// forms, surrogates and code points past U+10FFFF are no UTF-8 either.
class Utf8Check
{
public:
    void take(const QByteArray &block)
    {
        if (m_invalid)
            return;
        const auto *at = reinterpret_cast<const unsigned char *>(block.constData());
        const unsigned char *end = at + block.size();
        while (at < end) {
            if (m_need == 0) {
                // Plain ASCII, eight bytes at a time.
                while (end - at >= 8) {
                    quint64 word;
                    std::memcpy(&word, at, 8);
                    if (word & 0x8080808080808080ULL)
                        break;
                    at += 8;
                }
                if (at == end)
                    break;
                const unsigned char byte = *at++;
                if (byte < 0x80)
                    continue;
                if (!lead(byte)) {
                    m_invalid = true;
                    return;
                }
                continue;
            }
            const unsigned char byte = *at++;
            if (byte < m_low || byte > m_high) {
                m_invalid = true;
                return;
            }
            --m_need;
            m_low = 0x80;
            m_high = 0xBF;
        }
    }
    // A file with a UTF-16 or UTF-32 mark is no concern of this check.
    void markedWide() { m_wide = true; }
    // Every byte so far belongs to a character (the last one may still be incomplete).
    bool validSoFar() const { return m_wide || !m_invalid; }
    // Every byte belongs to a whole character.
    bool valid() const { return m_wide || (!m_invalid && m_need == 0); }

private:
    bool lead(unsigned char byte)
    {
        m_low = 0x80;
        m_high = 0xBF;
        if (byte >= 0xC2 && byte <= 0xDF) {
            m_need = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            m_need = 2;
            if (byte == 0xE0)
                m_low = 0xA0; // else overlong
            else if (byte == 0xED)
                m_high = 0x9F; // else a surrogate
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            m_need = 3;
            if (byte == 0xF0)
                m_low = 0x90; // else overlong
            else if (byte == 0xF4)
                m_high = 0x8F; // else past U+10FFFF
        } else {
            return false;
        }
        return true;
    }

    int m_need = 0; // continuation bytes still to come
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    bool m_invalid = false;
    bool m_wide = false;
};

// The lines of a file as QTextStream::readLine gives them on a text-mode device: decoded
// with the codec (or the one a byte-order mark at the start names), without carriage
// returns, split at LF. Decodes a block at a time, splits with a fast search and reuses
// the line's memory from one line to the next.
class LineSource
{
public:
    LineSource(QIODevice &device, QTextCodec *codec, const std::atomic<bool> *cancel)
        : m_device(device)
        , m_codec(codec)
        , m_cancel(cancel)
    { }

    // False at the end, and when a line is longer than the record limit (tooLong()) or the
    // reading was cancelled inside a line.
    bool next(QString &line)
    {
        for (;;) {
            // Only what came since the last search can hold the line's end: a long line is
            // searched once, not once per block.
            const int newline = m_buffer.indexOf(QLatin1Char('\n'), qMax(m_pos, m_searched));
            if (newline >= 0) {
                if (m_lineLimit < 0 && newline - m_pos > QtCSV::Reader::kMaxRecordChars) {
                    m_tooLong = true;
                    return false;
                }
                m_cut = false;
                line.setUnicode(m_buffer.constData() + m_pos, newline - m_pos);
                m_consumed += newline + 1 - m_pos;
                m_pos = newline + 1;
                m_searched = m_pos;
                return true;
            }
            m_searched = m_buffer.size();
            // A start of a file read for a look ends even inside a line that never ends.
            if (m_atEnd || (m_lineLimit >= 0 && m_buffer.size() - m_pos >= m_lineLimit)) {
                if (m_pos >= m_buffer.size())
                    return false;
                m_cut = !m_atEnd;
                line.setUnicode(m_buffer.constData() + m_pos, m_buffer.size() - m_pos);
                m_consumed += m_buffer.size() - m_pos;
                m_pos = m_buffer.size();
                m_searched = m_pos;
                return true;
            }
            if (m_lineLimit < 0 && m_buffer.size() - m_pos > QtCSV::Reader::kMaxRecordChars) {
                m_tooLong = true;
                return false;
            }
            if (m_cancel && m_cancel->load(std::memory_order_relaxed))
                return false;
            fill();
        }
    }

    // The characters of the lines handed out so far, line ends included.
    qint64 consumed() const { return m_consumed; }
    // A line longer than this is handed out in parts (< 0: never).
    void setLineLimit(int characters) { m_lineLimit = characters; }
    // The line that ended the reading is longer than the record limit.
    bool tooLong() const { return m_tooLong; }
    // The line handed out last was only a part: it went on past the line limit.
    bool cut() const { return m_cut; }

private:
    void fill()
    {
        m_buffer.remove(0, m_pos);
        m_searched -= m_pos;
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
    const std::atomic<bool> *m_cancel;
    std::unique_ptr<QTextDecoder> m_decoder;
    QString m_buffer;
    int m_pos = 0;
    int m_searched = 0; // the buffer before this holds no line end after m_pos
    qint64 m_consumed = 0;
    int m_lineLimit = -1;
    bool m_atEnd = false;
    bool m_tooLong = false;
    bool m_cut = false;
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
    // Reads the file, or its start up to the line reaching `maxChars` characters (< 0: all);
    // false once `cancel` is set.
    static bool read(const QString &filePath, QtCSV::Reader::AbstractProcessor &processor,
                     const QString &separator, const QString &textDelimiter, QTextCodec *codec,
                     QtCSV::Reader::Details *details, qint64 maxChars = -1,
                     const std::atomic<bool> *cancel = nullptr);
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
                         QtCSV::Reader::Details *details, qint64 maxChars,
                         const std::atomic<bool> *cancel)
{
    if (!checkParams(filePath, separator))
        return false;
    // Opened once and read from what was opened: a pipe at the name would hold the reader
    // until someone writes to it. The seller may have picked a link to the file.
    QFile file;
    QString openError;
    if (!UntrustedFile::openForReading(file, filePath, &openError,
                                       UntrustedFile::Links::Followed)) {
        qDebug() << "read"
                 << "Error - can't open file:" << filePath << openError;
        return false;
    }
    LineSource lines(file, codec ? codec : QTextCodec::codecForName("UTF-8"), cancel);
    if (maxChars >= 0)
        lines.setLineLimit(int(qMin<qint64>(maxChars, std::numeric_limits<int>::max())));

    const Dialect dialect(separator, textDelimiter);
    QStringList pending;
    ElementInfo info;
    QString line;
    int lineNumber = 0;
    int recordLine = 0; // where the pending row began
    int openLine = 0; // where the element still open began
    int rows = 0; // handed over
    qint64 pendingChars = 0; // of the pending row
    bool cut = false;
    const auto refuseLong = [details, &filePath](int line) {
        qDebug() << "read"
                 << "Error - a record longer than the limit, line" << line << "of" << filePath;
        if (details)
            details->longRecordLine = line;
        return false;
    };
    while (lines.next(line)) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return false;
        if (maxChars >= 0 && lines.consumed() - line.size() - 1 >= maxChars) {
            cut = true;
            break;
        }
        ++lineNumber;
        if (lineNumber == 1 && details)
            details->firstLineCut = lines.cut();
        info.openedOnLine = false;
        QStringList elements = splitElements(line, dialect, info);
        if (!info.elementClosed) {
            if (info.openedOnLine)
                openLine = lineNumber;
            if (elements.isEmpty())
                continue;
            if (pending.isEmpty()) {
                recordLine = lineNumber;
                pendingChars = 0;
            } else {
                pending.last().append(elements.takeFirst());
            }
            pending.append(elements);
            // A value that runs on over lines makes one record of them: bounded as one line.
            pendingChars += line.size() + 1;
            if (maxChars < 0 && pendingChars > QtCSV::Reader::kMaxRecordChars)
                return refuseLong(recordLine);
            continue;
        }
        ++rows;
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
    if (lines.tooLong())
        return refuseLong(pending.isEmpty() ? lineNumber + 1 : recordLine);
    if (cancel && cancel->load(std::memory_order_relaxed))
        return false;
    if (file.error() != QFileDevice::NoError) {
        qDebug() << "read"
                 << "Error - can't open file:" << filePath;
        return false;
    }
    if (details)
        details->cut = cut;
    // A file that ends inside an open element still delivers its last row, and so does a
    // start of a file cut inside one.
    if (!info.elementClosed && !pending.isEmpty()) {
        if (details && !cut) {
            details->unclosedLine = openLine;
            details->unclosedRow = rows + 1;
        }
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
                             QTextCodec *codec, Details *details, const std::atomic<bool> *cancel)
{
    if (details)
        *details = Details();
    return ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec, details, -1,
                               cancel);
}

bool Reader::readStart(const QString &filePath, AbstractProcessor &processor,
                       const QString &separator, const QString &textDelimiter, QTextCodec *codec,
                       qint64 maxChars, Details *details)
{
    if (details)
        *details = Details();
    return ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec, details,
                               qMax<qint64>(0, maxChars));
}

bool Reader::inspect(const QString &filePath, FileFacts *facts, const std::atomic<bool> *cancel)
{
    *facts = FileFacts();
    QFile file;
    if (!UntrustedFile::openForReading(file, filePath, nullptr, UntrustedFile::Links::Followed))
        return false;
    Utf8Check utf8;
    qint64 lines = 0;
    char last = '\n';
    bool first = true;
    QByteArray block;
    while (!(block = file.read(kInspectBlock)).isEmpty()) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return false;
        // UTF-16 and UTF-32 (either byte order) announce themselves by their mark; the
        // reading honours it.
        if (first && startsWithWideMark(block))
            utf8.markedWide();
        first = false;
        const char *end = block.constData() + block.size();
        for (const char *at = block.constData();
             (at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))); ++at)
            ++lines;
        utf8.take(block);
        last = block.back();
    }
    if (file.error() != QFileDevice::NoError)
        return false;
    facts->lines
        = int(qMin<qint64>(last == '\n' ? lines : lines + 1, std::numeric_limits<int>::max()));
    facts->windows1252 = !utf8.valid();
    return true;
}

QTextCodec *Reader::codecFor(const QString &filePath, bool *fallback)
{
    FileFacts facts;
    const bool windows1252 = inspect(filePath, &facts) && facts.windows1252;
    if (fallback)
        *fallback = windows1252;
    return QTextCodec::codecForName(windows1252 ? "Windows-1252" : "UTF-8");
}

QTextCodec *Reader::codecForStart(const QString &filePath, bool *fallback)
{
    if (fallback)
        *fallback = false;
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QFile file;
    if (!UntrustedFile::openForReading(file, filePath, nullptr, UntrustedFile::Links::Followed))
        return utf8;
    const QByteArray head = file.read(kCodecProbeBytes);
    if (startsWithWideMark(head))
        return utf8;
    Utf8Check check;
    check.take(head);
    // A character cut off at the end of the probe is no fault, at the end of the file it is.
    if (file.atEnd() ? check.valid() : check.validSoFar())
        return utf8;
    if (fallback)
        *fallback = true;
    return QTextCodec::codecForName("Windows-1252");
}

} // namespace QtCSV
