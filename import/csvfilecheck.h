#pragma once

#include <QString>

namespace QtCSV {

// The path check shared by the reader and the writer: false for a relative path, a folder
// or (when `mustExist`) a missing file. A suffix other than "csv" is only logged.
bool CheckFile(const QString &filePath, bool mustExist);

} // namespace QtCSV
