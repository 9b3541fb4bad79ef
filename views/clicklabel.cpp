#include "views/clicklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>
#include <QVariant>

namespace {
// Only web addresses: a banner text from outside must not run scripts or open local files.
bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}
} // namespace

ClickLabel::ClickLabel(QWidget *parent)
    : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;

    const QVariant link = property("link");
    if (link.isNull())
        return;

    const QUrl url(link.toString().trimmed(), QUrl::TolerantMode);
    if (isWebAddress(url))
        QDesktopServices::openUrl(url);
}
