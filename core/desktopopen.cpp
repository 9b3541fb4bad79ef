#include "core/desktopopen.h"

#include "core/logging.h"
#include "core/statics.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DesktopOpen", text);
}

} // namespace

namespace DesktopOpen {

bool webPage(QWidget *parent, const QUrl &url)
{
    if (QDesktopServices::openUrl(url))
        return true;
    qCWarning(lcApp).noquote() << "No web browser could be started";
    Statics::showMessage(parent,
                         tr("Es konnte kein Webbrowser gestartet werden. Die Seite lässt sich "
                            "von Hand in einem Browser öffnen, ihre Adresse lautet:\n%1")
                             .arg(url.toString()),
                         1);
    return false;
}

bool folder(QWidget *parent, const QString &path)
{
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return true;
    qCWarning(lcApp).noquote() << "No file manager could be started for" << path;
    Statics::showMessage(parent,
                         tr("Es konnte kein Dateimanager gestartet werden. Der Ordner liegt "
                            "hier:\n%1")
                             .arg(QDir::toNativeSeparators(path)),
                         1);
    return false;
}

} // namespace DesktopOpen
