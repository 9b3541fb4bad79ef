#include "tests/support/urlcapture.h"

#include "core/desktopopen.h"

#include <QDesktopServices>

namespace {
const char *const schemes[] = { "http", "https", "file" };
}

UrlCapture::UrlCapture(QObject *parent)
    : QObject(parent)
{
    // Through Qt, whose URL handlers this sets, also where the desktop's opener is installed.
    DesktopOpen::setOpenerForTesting(QStringLiteral(""));
    for (const char *scheme : schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
}

UrlCapture::~UrlCapture()
{
    for (const char *scheme : schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    DesktopOpen::setOpenerForTesting(QString());
}

void UrlCapture::openUrl(const QUrl &url)
{
    m_urls.append(url);
}
