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
        // The same, with the file's line (from 1) in which the row began; a row broken
        // over several lines inside a delimited element is named by its first line.
        virtual bool processRow(const QStringList &elements, int firstLine)
        {
            Q_UNUSED(firstLine)
            return process(elements);
        }
    };

    // What a read saw besides the rows.
    struct Details
    {
        // The line in which a delimited element began that the file never closed (the rest
        // of the file then became that element); 0 when every element was closed.
        int unclosedLine = 0;
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
                                QTextCodec *codec, Details *details = nullptr);

    // The codec to read a file with: UTF-8 (with or without byte-order mark; a UTF-16 or
    // UTF-32 mark is honoured by the reading itself), unless the first 64 KB are not valid
    // UTF-8: then Windows-1252, the spreadsheets' choice on Windows, and *fallback is set.
    // UTF-8 also when the file cannot be read.
    static QTextCodec *codecFor(const QString &filePath, bool *fallback = nullptr);
};

} // namespace QtCSV
