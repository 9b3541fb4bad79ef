#include "tests/support/urlcapture.h"

#include <QDesktopServices>

namespace {
const char *const schemes[] = { "http", "https", "file" };
}

UrlCapture::UrlCapture(QObject *parent)
    : QObject(parent)
{
    for (const char *scheme : schemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
}

UrlCapture::~UrlCapture()
{
    for (const char *scheme : schemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void UrlCapture::openUrl(const QUrl &url)
{
    m_urls.append(url);
}
