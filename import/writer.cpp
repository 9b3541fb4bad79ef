#include "import/writer.h"

#include "core/replacementfile.h"
#include "import/abstractdata.h"
#include "import/contentiterator.h"
#include "import/csvfilecheck.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextStream>

namespace {

class WriterPrivate
{
public:
    static bool appendToFile(const QString &filePath, QtCSV::ContentIterator &content,
                             QTextCodec *codec);
    static bool overwriteFile(const QString &filePath, QtCSV::ContentIterator &content,
                              QTextCodec *codec);
    static bool writeContent(QIODevice &file, QtCSV::ContentIterator &content, QTextCodec *codec);
};

bool WriterPrivate::writeContent(QIODevice &file, QtCSV::ContentIterator &content,
                                 QTextCodec *codec)
{
    QTextStream stream(&file);
    stream.setCodec(codec ? codec : QTextCodec::codecForName("UTF-8"));
    stream.setGenerateByteOrderMark(false);
    while (content.hasNext() && stream.status() == QTextStream::Ok)
        stream << content.getNext();
    stream.flush();
    const auto *fileDevice = qobject_cast<QFileDevice *>(&file);
    return stream.status() == QTextStream::Ok
        && (!fileDevice || fileDevice->error() == QFileDevice::NoError);
}

bool WriterPrivate::appendToFile(const QString &filePath, QtCSV::ContentIterator &content,
                                 QTextCodec *codec)
{
    if (filePath.isEmpty() || content.isEmpty()) {
        qDebug() << "appendToFile"
                 << "Error - invalid arguments";
        return false;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::Append | QIODevice::Text)) {
        qDebug() << "appendToFile"
                 << "Error - can't open file:" << file.fileName();
        return false;
    }
    const bool written = writeContent(file, content, codec);
    file.close();
    if (!written)
        qDebug() << "appendToFile"
                 << "Error - can't write file:" << file.fileName();
    return written;
}

// The content goes into a new file of its own in the target's folder (created exclusively,
// so no other file is ever written through), which takes the target's place only when it
// is complete; on any failure it is removed and the target stays as it was. A link, a pipe
// or a folder at the target is not replaced.
bool WriterPrivate::overwriteFile(const QString &filePath, QtCSV::ContentIterator &content,
                                  QTextCodec *codec)
{
    if (filePath.isEmpty() || content.isEmpty()) {
        qDebug() << "overwriteFile"
                 << "Error - invalid arguments";
        return false;
    }
    ReplacementFile file(filePath);
    if (!file.open()) {
        qDebug() << "overwriteFile"
                 << "Error - failed to create temp file for" << filePath << file.error();
        return false;
    }
    if (!writeContent(file.file(), content, codec)) {
        file.discard();
        qDebug() << "overwriteFile"
                 << "Error - failed to write temp file for" << filePath;
        return false;
    }
    if (!file.commit(false)) {
        qDebug() << "overwriteFile"
                 << "Error - failed to replace file" << filePath << file.error();
        return false;
    }
    return true;
}

} // namespace

namespace QtCSV {

bool Writer::write(const QString &filePath, const AbstractData &data, const QString &separator,
                   const QString &textDelimiter, const WriteMode &mode, const QStringList &header,
                   const QStringList &footer, QTextCodec *codec)
{
    if (filePath.isEmpty()) {
        qDebug() << "write"
                 << "Error - empty path to file";
        return false;
    }
    // A header alone is a valid file (an export of nothing); only nothing at all is not.
    if (data.isEmpty() && header.isEmpty() && footer.isEmpty()) {
        qDebug() << "write"
                 << "Error - empty data";
        return false;
    }
    if (!CheckFile(filePath, false)) {
        qDebug() << "write"
                 << "Error - wrong file path/name:" << filePath;
        return false;
    }
    ContentIterator content(data, separator, textDelimiter, header, footer, 1000);
    if (mode == Append)
        return WriterPrivate::appendToFile(filePath, content, codec);
    return WriterPrivate::overwriteFile(filePath, content, codec);
}

bool Writer::writeTo(QIODevice &device, const AbstractData &data, const QString &separator,
                     const QString &textDelimiter, const QStringList &header, QTextCodec *codec)
{
    if (!device.isWritable())
        return false;
    ContentIterator content(data, separator, textDelimiter, header, {}, 1000);
    if (content.isEmpty())
        return true;
    return WriterPrivate::writeContent(device, content, codec);
}

} // namespace QtCSV
