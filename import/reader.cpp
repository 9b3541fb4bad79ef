#include "import/reader.h"

#include "import/abstractdata.h"
#include "import/csvfilecheck.h"

#include <QDebug>
#include <QFile>
#include <QTextCodec>
#include <QTextStream>

namespace {

const QString LF = QStringLiteral("\n");

// Carried from one line to the next: false while a delimited element goes on below.
struct ElementInfo
{
    bool elementClosed = true;
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
                     const QString &separator, const QString &textDelimiter, QTextCodec *codec);
    static QStringList splitElements(const QString &line, const QString &separator,
                                     const QString &textDelimiter, ElementInfo &info);
    // Where the delimited element starting at `start` closes (its closing delimiter,
    // followed by the separator); -1 when it does not close on this line.
    static int findMiddleElementPositioin(const QString &text, int start, const QString &separator,
                                          const QString &textDelimiter);
    // True when the text ends with a closing delimiter (an odd run of delimiters).
    static bool isElementLast(const QString &text, int start, const QString &separator,
                              const QString &textDelimiter);
    static QStringList removeTextDelimiters(const QStringList &elements,
                                            const QString &textDelimiter);
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
                         const QString &separator, const QString &textDelimiter, QTextCodec *codec)
{
    if (!checkParams(filePath, separator))
        return false;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "read"
                 << "Error - can't open file:" << filePath;
        return false;
    }
    QTextStream stream(&file);
    stream.setCodec(codec ? codec : QTextCodec::codecForName("UTF-8"));

    QStringList pending;
    ElementInfo info;
    QString line;
    while (stream.readLineInto(&line)) {
        QStringList elements = splitElements(line, separator, textDelimiter, info);
        if (!info.elementClosed) {
            if (elements.isEmpty())
                continue;
            if (!pending.isEmpty())
                pending.last().append(elements.takeFirst());
            pending.append(elements);
            continue;
        }
        if (pending.isEmpty()) {
            if (!processor.process(elements))
                return false;
            continue;
        }
        if (!elements.isEmpty()) {
            pending.last().append(elements.takeFirst());
            pending.append(elements);
        }
        if (!processor.process(pending))
            return false;
        pending.clear();
    }
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        qDebug() << "read"
                 << "Error - can't open file:" << filePath;
        return false;
    }
    // A file that ends inside an open element still delivers its last row.
    if (!info.elementClosed && !pending.isEmpty())
        return processor.process(pending);
    return true;
}

QStringList ReaderPrivate::splitElements(const QString &line, const QString &separator,
                                         const QString &textDelimiter, ElementInfo &info)
{
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
            const int middle = findMiddleElementPositioin(line, pos, separator, textDelimiter);
            if (middle < 0) {
                unclosedRest = true;
                break;
            }
            result.append(LF + line.mid(pos, middle - pos));
            pos = middle + textDelimiter.size() + separator.size();
            info.elementClosed = true;
            continue;
        }
        if (line.indexOf(textDelimiter, pos) != pos) {
            const int next = line.indexOf(separator, pos);
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
        const int middle = findMiddleElementPositioin(line, pos, separator, textDelimiter);
        if (middle <= 0) {
            if (isElementLast(line, pos, separator, textDelimiter)) {
                result.append(line.mid(pos, line.size() - textDelimiter.size() - pos));
            } else {
                result.append(line.mid(pos));
                info.elementClosed = false;
            }
            break;
        }
        result.append(line.mid(pos, middle - pos));
        pos = middle + textDelimiter.size() + separator.size();
    }
    if (unclosedRest) {
        if (isElementLast(line, pos, separator, textDelimiter)) {
            result.append(LF + line.mid(pos, line.size() - textDelimiter.size() - pos));
            info.elementClosed = true;
        } else {
            result.append(LF + line);
        }
    }
    return removeTextDelimiters(result, textDelimiter);
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
                                              const QString &separator,
                                              const QString &textDelimiter)
{
    if (text.isEmpty() || separator.isEmpty() || textDelimiter.isEmpty() || start < 0)
        return -1;
    const QString closing = textDelimiter + separator;
    int from = start;
    while (from < text.size()) {
        const int hit = text.indexOf(closing, from);
        if (hit < 0)
            return -1;
        if (delimiterRun(text, hit, start, textDelimiter) % 2 == 1)
            return hit;
        from = hit + closing.size();
    }
    return -1;
}

bool ReaderPrivate::isElementLast(const QString &text, int start, const QString &separator,
                                  const QString &textDelimiter)
{
    if (text.isEmpty() || start < 0 || separator.isEmpty() || textDelimiter.isEmpty()
        || !text.endsWith(textDelimiter))
        return false;
    return delimiterRun(text, text.size() - 1, start, textDelimiter) % 2 == 1;
}

QStringList ReaderPrivate::removeTextDelimiters(const QStringList &elements,
                                                const QString &textDelimiter)
{
    if (elements.isEmpty() || textDelimiter.isEmpty())
        return elements;
    const QString doubled = textDelimiter + textDelimiter;
    QStringList result;
    result.reserve(elements.size());
    for (QString element : elements) {
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
        element.replace(doubled, textDelimiter);
        result.append(element);
    }
    return result;
}

} // namespace

namespace QtCSV {

QList<QStringList> Reader::readToList(const QString &filePath, const QString &separator,
                                      const QString &textDelimiter, QTextCodec *codec)
{
    ReadToListProcessor processor;
    if (!ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec))
        return {};
    return processor.data;
}

bool Reader::readToData(const QString &filePath, AbstractData &data, const QString &separator,
                        const QString &textDelimiter, QTextCodec *codec)
{
    ReadToListProcessor processor;
    if (!ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec))
        return false;
    for (const QStringList &row : qAsConst(processor.data))
        data.addRow(row);
    return true;
}

bool Reader::readToProcessor(const QString &filePath, AbstractProcessor &processor,
                             const QString &separator, const QString &textDelimiter,
                             QTextCodec *codec)
{
    return ReaderPrivate::read(filePath, processor, separator, textDelimiter, codec);
}

} // namespace QtCSV
