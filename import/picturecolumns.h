#pragma once

#include <QString>

// The column names by which picture columns of a CSV file are known, followed by 1 to 12:
// written by the export, recognised by the import.
inline const QString kPictureColumnPrefix = QStringLiteral("Zerire3_image_");
