#pragma once

#include <QString>

class QUrl;
class QWidget;

// Opens what lies outside the program: a web page in the desktop's browser, a folder in its
// file manager. When the desktop can start neither (no browser or file manager set up), the
// seller is told so, with the address or folder to open by hand.
namespace DesktopOpen {

// False (after the message over `parent`) when no browser could be started.
bool webPage(QWidget *parent, const QUrl &url);
// False (after the message over `parent`) when no file manager could be started.
bool folder(QWidget *parent, const QString &path);

} // namespace DesktopOpen
