#pragma once

#include <QString>

class QFile;

// Opens a file the program did not make itself (a picture the seller named, a backup to
// restore, a file inside the data folder to pack) once, by its name, and then only through
// what was opened: a symbolic link at the name is not followed, a pipe or device does not
// hold the open up, and what was opened is checked to be a plain file on its descriptor.
// No look at the name beforehand, no second open by name afterwards.
class RegularFile
{
public:
    // Opens `path` for reading into `file` (which then reads the descriptor, not the name).
    // False, with `error` set to a German reason, when the name is a link, no plain file,
    // missing or not readable; nothing is left open then.
    static bool openForReading(QFile &file, const QString &path, QString *error = nullptr);
};
