#include "import/csvfilecheck.h"

#include <QDebug>
#include <QFileInfo>

namespace QtCSV {

bool CheckFile(const QString &filePath, bool mustExist)
{
    const QFileInfo info(filePath);
    if (info.isRelative() || info.isDir() || (mustExist && !info.exists()))
        return false;
    if (info.suffix() != QLatin1String("csv"))
        qDebug() << "CheckFile"
                 << "Warning - file suffix is not .csv";
    return true;
}

} // namespace QtCSV
