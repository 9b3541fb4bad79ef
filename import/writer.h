#pragma once

#include <QString>
#include <QStringList>

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
};

} // namespace QtCSV
