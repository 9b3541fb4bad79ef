#pragma once

#include <QString>

// The text of a tray message as the desktop shows it. Where the tray hands its messages to the
// desktop's notification service (a StatusNotifier host is running) and that service reads the
// body as markup, a title or a marketplace message could format the notice or make the service
// load a picture: there the body is escaped, so it shows as typed. Qt's own balloon, and a
// service without markup, show the text as it is.
namespace TrayNotice {

// `text` as the body of a tray message, cut to a few thousand characters.
QString body(const QString &text);

// Makes the next body() ask the session bus again (a test's desktop changes).
void askAgain();

// Whether tray messages go to a notification service that reads markup, asked of the session
// bus now (body() asks once, until askAgain()).
bool askSessionBus();

} // namespace TrayNotice
