#pragma once

#include <QString>
#include <QtGlobal>

class QDateTime;

// The program's message handler: one line per message in the day's log file,
// "yyyy.MM.dd hh:mm:ss [Tag] message". Safe when several threads log at once.
void MyMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);

namespace MessageLog {
// Opens `path` for appending (readable and writable by its owner only) and installs
// MyMessageOutput. False (and output stays on the console) when the file can't be opened.
bool open(const QString &path);
// Closes the file and restores Qt's default handler.
void close();
// The file being written, empty when none.
QString currentPath();
// One log line without the line break.
QString formatLine(QtMsgType type, const QDateTime &time, const QString &message);
} // namespace MessageLog
