#include "core/updateoffer.h"

#include <QRegularExpression>
#include <QVersionNumber>

namespace {

// "3.1.8" and the like, trailing zeros dropped ("3.1.8.0" is the same version); QVersionNumber
// alone would read "3.1.8-beta" or "3x" as a version.
QVersionNumber parseVersion(const QString &text)
{
    static const QRegularExpression kVersion(QStringLiteral("^\\d{1,9}(\\.\\d{1,9}){0,3}$"));
    const QString trimmed = text.trimmed();
    if (!kVersion.match(trimmed).hasMatch())
        return QVersionNumber();
    return QVersionNumber::fromString(trimmed).normalized();
}

} // namespace

bool UpdateOffer::isNewer(const QString &current, const QString &offered)
{
    const QVersionNumber have = parseVersion(current);
    const QVersionNumber offer = parseVersion(offered);
    return !have.isNull() && !offer.isNull() && QVersionNumber::compare(offer, have) > 0;
}

QUrl UpdateOffer::downloadAddress(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QUrl();
    return url;
}
