#pragma once

#include <QString>

class QUrl;
class QWidget;

// Opens what lies outside the program: a web page in the desktop's browser, a folder in its
// file manager. When the desktop can start neither (no opener, or the opener reports that it
// found no browser or file manager), the seller is told so, with the address or folder to open
// by hand.
namespace DesktopOpen {

// False (after the message over `parent`) when nothing could be started. When the desktop's
// opener started but then reports failure, the message follows once it has.
bool webPage(QWidget *parent, const QUrl &url);
bool folder(QWidget *parent, const QString &path);

// Tests: the program run as the desktop's opener instead of "xdg-open" from the search path;
// a null string restores that. An empty one leaves the choice to Qt (and its URL handlers).
void setOpenerForTesting(const QString &program);

} // namespace DesktopOpen
