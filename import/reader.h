#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

class QTextCodec;

namespace QtCSV {

class AbstractData;

// Reads delimited text files. Separator and text delimiter are always given by the caller;
// a null codec reads UTF-8. Failures give false (or an empty list) and a debug line.
class Reader
{
public:
    // The longest record (a line, or the lines a quoted value runs over) a file may hold, in
    // characters: far beyond any row of a seller's spreadsheet, and what a reading holds at
    // once. A longer one ends the reading with false, naming its line.
    static constexpr int kMaxRecordChars = 1024 * 1024;

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
        // The row (from 1, as a spreadsheet counts them) holding that element.
        int unclosedRow = 0;
        // True when a read of the start of the file stopped before the file's end.
        bool cut = false;
        // True when such a read handed over only the start of the file's first line.
        bool firstLineCut = false;
        // The line in which a record longer than kMaxRecordChars began (the reading ended
        // there, false); 0 when there was none.
        int longRecordLine = 0;
    };

    // What one pass over the bytes of a file tells.
    struct FileFacts
    {
        int lines = 0; // a last line without a line end counts
        // Some byte is not UTF-8 (and no byte-order mark names another Unicode form): the
        // file is read as Windows-1252.
        bool windows1252 = false;
    };

    // Every row of the file; empty when it cannot be read.
    static QList<QStringList> readToList(const QString &filePath, const QString &separator,
                                         const QString &textDelimiter, QTextCodec *codec);
    // Adds the rows to `data` only when the whole file was read.
    static bool readToData(const QString &filePath, AbstractData &data, const QString &separator,
                           const QString &textDelimiter, QTextCodec *codec);
    // Hands each row over as it is read, so that a file of any size needs little memory.
    // False once `cancel` is set: at the next line, or at the next block inside a long one.
    static bool readToProcessor(const QString &filePath, AbstractProcessor &processor,
                                const QString &separator, const QString &textDelimiter,
                                QTextCodec *codec, Details *details = nullptr,
                                const std::atomic<bool> *cancel = nullptr);
    // The same for the start of a file only: stops after the line that reaches `maxChars`
    // characters of text. A row still open there is handed over as read so far.
    static bool readStart(const QString &filePath, AbstractProcessor &processor,
                          const QString &separator, const QString &textDelimiter, QTextCodec *codec,
                          qint64 maxChars, Details *details = nullptr);

    // Counts the lines of a file and checks every byte for UTF-8, in one pass that decodes
    // nothing. False when the file cannot be read, or when `cancel` was set meanwhile.
    static bool inspect(const QString &filePath, FileFacts *facts,
                        const std::atomic<bool> *cancel = nullptr);
    // The codec to read a file with: UTF-8 (with or without byte-order mark; a UTF-16 or
    // UTF-32 mark is honoured by the reading itself), unless some byte of the file is not
    // UTF-8: then Windows-1252, the spreadsheets' choice on Windows, and *fallback is set.
    // UTF-8 also when the file cannot be read. Reads the whole file.
    static QTextCodec *codecFor(const QString &filePath, bool *fallback = nullptr);
    // The same decided from the first 64 KB only: quick, but a byte further on may still
    // turn the file to Windows-1252.
    static QTextCodec *codecForStart(const QString &filePath, bool *fallback = nullptr);
};

} // namespace QtCSV
