#pragma once

#include <QString>
#include <QStringList>

class QIODevice;
class QTextCodec;

namespace QtCSV {

class AbstractData;

// Writes rows into a delimited text file: header (when given), data rows, footer (when
// given), every row ending with LF. Failures give false and a debug line.
class Writer
{
public:
    enum WriteMode { Overwrite = 0, Append = 1 };

    // Overwrite writes the whole content beside the target first and replaces the target
    // only when that succeeded, so a failure leaves the old file as it was. A null codec
    // writes UTF-8; no byte-order mark is written.
    static bool write(const QString &filePath, const AbstractData &data, const QString &separator,
                      const QString &textDelimiter, const WriteMode &mode = Overwrite,
                      const QStringList &header = {}, const QStringList &footer = {},
                      QTextCodec *codec = nullptr);

    // Adds the rows of `data` (after `header`, when given) to `device`, open for writing, in
    // the same form: for a file written a part at a time. A null codec writes UTF-8.
    static bool writeTo(QIODevice &device, const AbstractData &data, const QString &separator,
                        const QString &textDelimiter, const QStringList &header = {},
                        QTextCodec *codec = nullptr);
};

} // namespace QtCSV
