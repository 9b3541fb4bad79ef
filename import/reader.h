#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QTextCodec;

namespace QtCSV {

class AbstractData;

// Reads delimited text files. Separator and text delimiter are always given by the caller;
// a null codec reads UTF-8. Failures give false (or an empty list) and a debug line.
class Reader
{
public:
    // Receives each row as soon as it is complete; false stops the reading.
    class AbstractProcessor
    {
    public:
        virtual ~AbstractProcessor() = default;
        virtual bool process(const QStringList &elements) = 0;
    };

    // Every row of the file; empty when it cannot be read.
    static QList<QStringList> readToList(const QString &filePath, const QString &separator,
                                         const QString &textDelimiter, QTextCodec *codec);
    // Adds the rows to `data` only when the whole file was read.
    static bool readToData(const QString &filePath, AbstractData &data, const QString &separator,
                           const QString &textDelimiter, QTextCodec *codec);
    // Hands each row over as it is read, so that a file of any size needs little memory.
    static bool readToProcessor(const QString &filePath, AbstractProcessor &processor,
                                const QString &separator, const QString &textDelimiter,
                                QTextCodec *codec);
};

} // namespace QtCSV
